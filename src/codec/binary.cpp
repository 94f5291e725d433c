// binary.cpp -- the binary body encoding of every enumeration and
// structured type: measure, marshal (with and without the variant check)
// and unmarshal.
//
// Owns enum_marshal, enum_unmarshal, obj_len, obj_marshal and
// obj_unmarshal.  One writer and one reader walk the field descriptors; the
// scalar bytes always go through the runtime's codecs, which report 90 and
// touch nothing when the room is short.
//
// Body layout: variant byte, flags byte (only 0x08 and 0x20 travel), the
// ra-data block when 0x20 is set, the 4-byte variant jump (bytes from the
// jump to the end of the body), then the fields in declaration order, each
// followed by its state byte when 0x08 is set.  Lists carry their element
// count, arrays their pair_count, then complete element bodies.
//
// This is a measured hot path.  The handle's mode is read once per call
// and handed down; the domain variant and the type-info reference of each
// type are asked of the runtime at most once per call; array elements get
// their state bytes from the block layout rather than from the runtime.
//
// Input is not trusted: a count that the remaining bytes cannot hold is
// refused before anything is allocated, a variant jump past the end is
// refused, the fields of a body never read past the end its jump gives,
// and a failed decode leaves the target destroyable (a half-filled element
// block is released, a half-built list element destroyed).
#include "engine.h"

namespace lomari {

namespace {

constexpr uint32_t kNoMem = 12;
constexpr uint32_t kBadArg = 22;
constexpr uint32_t kEpoch = 43;
constexpr uint32_t kShort = 90;

constexpr uint8_t kWireFlags = QEL_OF_TRACKED | QEL_OF_RA_DATA;
constexpr uint32_t kStrChars = 31;   // characters of a fixed string on the wire
constexpr uint32_t kMinBody = 6;     // variant, flags and jump: the least a body takes
constexpr uint32_t kJumpLen = 4;
constexpr uint32_t kEnumLen = 5;
constexpr uint32_t kOwnerPerElemOff = 8;  // per-element state bytes pointer in an owner's area

// State bytes sent for an object that has none (tracking handle, untracked
// object): zeros, as many as the widest state area needs; the per-element
// pointer read from it is null.
alignas(8) const uint8_t kZeroState[16] = {};

struct ListAnchor {
    void *first;
    void *last;
    void *owner;
    uint32_t count;
};

inline void *next_of(const TypeDesc &E, const void *el) { return at<void *const>(el, E.link_off)[1]; }

// The state area of an object whose bytes are not laid out by a parent
// block: inside the object unless the runtime places it.
inline uint8_t *own_state(const TypeDesc &T, H *h, void *o) {
    uint8_t f = hdr(o)->flags;
    if (!(f & QEL_OF_TRACKED)) return nullptr;
    if (f & (QEL_OF_STTR_RT | QEL_OF_NESTED)) return state_area(T, h, o);
    return at(o, T.plain_size);
}

// Slot of a type or enumeration in the per-call caches.
inline unsigned slot_of(const TypeDesc &T) { return T.ordinal; }
inline unsigned slot_of(const EnumDesc &E) { return 17u + E.ordinal; }
constexpr unsigned kSlots = 21;

// Per-call answers of the runtime: the domain's variant of each type met
// (writer) and the type-info reference objects take (reader).
struct Answers {
    uint32_t have_variant = 0;
    uint32_t have_tinfo = 0;
    int variant[kSlots];
    qel_type_info_t *tinfo[kSlots];

    int domain_variant(H *h, uint32_t *err, unsigned s, const qel_type_info_t *ti) {
        if (!(have_variant & (1u << s))) {
            variant[s] = qel_domain_lookup_variant(h, &h->domain, ti, err);
            have_variant |= 1u << s;
        }
        return variant[s];
    }
    qel_type_info_t *type_info(H *h, uint32_t db, unsigned s, qel_type_info_t *static_ti) {
        if (!h->per_handle_types) return static_ti;
        if (!(have_tinfo & (1u << s))) {
            tinfo[s] = object_tinfo(h, db, static_ti);
            have_tinfo |= 1u << s;
        }
        return tinfo[s];
    }
};

// ============================================================================
// Writer
// ============================================================================

struct Writer {
    H *h;
    uint32_t db;
    uint32_t *err;
    uint8_t *buf;
    uint32_t len;
    bool track;
    bool failed = false;
    Answers rt;

    Writer(H *h_, uint32_t db_, uint32_t *err_, uint8_t *buf_, uint32_t len_, bool track_)
        : h(h_), db(db_), err(err_), buf(buf_), len(len_), track(track_) {}

    uint32_t room(uint32_t cur) const { return len - cur; }

    // Each codec returns what it wrote, 0 when the room was short (it has
    // then reported 90); a short write ends the encoding.
    bool wrote(uint32_t n, uint32_t &cur) {
        if (__builtin_expect(n == 0, 0)) {
            failed = true;
            return false;
        }
        cur += n;
        return true;
    }

    // State byte after a field: written while the buffer has room, else
    // silently left out.
    void state_byte(const uint8_t *sb, uint8_t idx, uint32_t &cur) {
        if (cur < len) buf[cur++] = sb[idx];
    }

    // The variant the writer sends for an object, with the domain's check.
    int8_t sent_variant(int8_t v, bool check, unsigned slot, const qel_type_info_t *ti) {
        if (check) {
            int d = rt.domain_variant(h, err, slot, ti);
            if (v > d) {
                qel_store_epoch_err(h, kEpoch, err);
                v = static_cast<int8_t>(d);
            }
        }
        return v < 0 ? v : 0;
    }

    uint32_t put_enum(const EnumDesc &E, const void *o, uint32_t cur) {
        int8_t v = sent_variant(hdr(o)->variant, true, slot_of(E), E.ti);
        if (!wrote(_qel_instance_variant_marshal(h, buf + cur, v, room(cur), err), cur)) return cur;
        wrote(u_int32_marshal(h, db, buf + cur, at<uint32_t>(o, kEnumValueOff), room(cur), err), cur);
        return cur;
    }

    uint32_t put_obj(const TypeDesc &T, const void *o, uint32_t cur, bool check, const uint8_t *sb);
    uint32_t put_fields(const TypeDesc &T, const void *o, uint32_t cur, const uint8_t *sb);
    uint32_t put_list(const FieldDesc &f, const void *o, uint32_t cur, const uint8_t *sb);
    uint32_t put_array(const FieldDesc &f, const void *o, uint32_t count, uint32_t cur,
                       const uint8_t *sb);
};

// pair_count as it is sent: an owner without a block has no elements.
inline uint32_t sent_count(const TypeDesc &T, const void *o) {
    if (!*at<void *const>(o, T.fields[T.array_field].offset)) return 0;
    return *at<uint32_t>(o, T.fields[T.count_field].offset);
}

uint32_t Writer::put_obj(const TypeDesc &T, const void *o, uint32_t cur, bool check,
                         const uint8_t *sb) {
    if (cur >= len) {
        report(h, err, kShort);
        failed = true;
        return cur;
    }
    int8_t v = sent_variant(hdr(o)->variant, check, slot_of(T), T.ti);
    if (!wrote(_qel_instance_variant_marshal(h, buf + cur, v, room(cur), err), cur)) return cur;

    uint8_t flags = hdr(o)->flags;
    if (track) {
        flags |= QEL_OF_TRACKED;
        if (!sb) sb = kZeroState;
    } else {
        flags &= static_cast<uint8_t>(~QEL_OF_TRACKED);
    }
    flags &= kWireFlags;
    if (!wrote(_qel_instance_obj_flag_marshal(h, buf + cur, flags, room(cur), err), cur)) return cur;
    if (flags & QEL_OF_RA_DATA &&
        !wrote(_qel_instance_ra_data_marshal(h, buf + cur, 0, 0, room(cur), err), cur))
        return cur;

    const uint32_t base = cur;
    if (!wrote(_qel_variant_jump_marshal(h, buf + cur, 0, room(cur), err), cur)) return cur;
    if (v >= 0) cur = put_fields(T, o, cur, sb);
    // The jump went in once, so its 4 bytes are there to be rewritten.
    _qel_variant_jump_marshal(h, buf + base, cur - base, kJumpLen, err);
    return cur;
}

uint32_t Writer::put_fields(const TypeDesc &T, const void *o, uint32_t cur, const uint8_t *sb) {
    uint32_t count = 0;  // pair_count as sent, for the array that follows it
    for (unsigned i = 0; i < T.nfields && !failed; ++i) {
        const FieldDesc &f = T.fields[i];
        switch (f.kind) {
        case Kind::U8:
            if (!wrote(u_int8_marshal(h, db, buf + cur, at<uint8_t>(o, f.offset), room(cur), err), cur))
                return cur;
            break;
        case Kind::U16:
            if (!wrote(u_int16_marshal(h, db, buf + cur, at<uint16_t>(o, f.offset), room(cur), err), cur))
                return cur;
            break;
        case Kind::U32:
            if (!wrote(u_int32_marshal(h, db, buf + cur, at<uint32_t>(o, f.offset), room(cur), err), cur))
                return cur;
            break;
        case Kind::PairCount:
            count = sent_count(T, o);
            if (!wrote(u_int32_marshal(h, db, buf + cur, &count, room(cur), err), cur)) return cur;
            continue;  // no state byte of its own
        case Kind::Str: {
            const char *s = at<char>(o, f.offset);
            for (uint32_t k = 0; k < kStrChars; ++k)
                if (!wrote(char_marshal(h, db, buf + cur, s + k, room(cur), err), cur)) return cur;
            break;
        }
        case Kind::Enum:
            cur = put_enum(*f.en, at(o, f.offset), cur);
            if (failed) return cur;
            break;
        case Kind::List:
            cur = put_list(f, o, cur, sb);
            continue;
        case Kind::Array:
            cur = put_array(f, o, count, cur, sb);
            continue;
        }
        if (sb) state_byte(sb, f.state_idx, cur);
    }
    return cur;
}

uint32_t Writer::put_list(const FieldDesc &f, const void *o, uint32_t cur, const uint8_t *sb) {
    const ListAnchor *a = at<ListAnchor>(o, f.offset);
    if (!wrote(_qel_list_len_marshal(h, buf + cur, a->count, room(cur), err), cur)) return cur;
    const TypeDesc &E = *f.elem;
    for (const void *el = a->first; el && el != a; el = next_of(E, el)) {
        cur = put_obj(E, el, cur, true, track ? own_state(E, h, const_cast<void *>(el)) : nullptr);
        if (failed) return cur;
    }
    if (sb && room(cur) >= 2) buf[cur++] = sb[f.state_idx];
    return cur;
}

uint32_t Writer::put_array(const FieldDesc &f, const void *o, uint32_t count, uint32_t cur,
                           const uint8_t *sb) {
    if (count == 0) return cur;
    const TypeDesc &E = *f.elem;
    const uint8_t *block = *at<uint8_t *const>(o, f.offset);
    const uint32_t esz = E.plain_size, nsf = E.n_state_fields;
    const uint8_t *states = block + count * esz;  // element state bytes follow the elements
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *el = block + i * esz;
        const uint8_t *esb = nullptr;
        if (track && (hdr(el)->flags & QEL_OF_TRACKED)) esb = states + i * nsf;
        cur = put_obj(E, el, cur, true, esb);
        if (failed) return cur;
    }
    if (!sb) return cur;
    state_byte(sb, f.state_idx, cur);
    uint32_t n = count < room(cur) ? count : room(cur);
    const uint8_t *per = *at<uint8_t *const>(sb, kOwnerPerElemOff);
    if (per)
        std::memcpy(buf + cur, per, n);
    else
        std::memset(buf + cur, 0, n);
    return cur + n;
}

// ---- measure -------------------------------------------------------------

uint32_t measure(const TypeDesc &T, const void *o, bool track) {
    if (hdr(o)->variant < 0) return kMinBody;
    uint32_t n = T.enc_fixed + (track ? T.enc_state : 0);
    if (T.list_field >= 0) {
        const FieldDesc &f = T.fields[T.list_field];
        const ListAnchor *a = at<ListAnchor>(o, f.offset);
        for (const void *el = a->first; el && el != a; el = next_of(*f.elem, el))
            n += measure(*f.elem, el, track);
    } else if (T.array_field >= 0) {
        if (uint32_t count = sent_count(T, o)) {
            const FieldDesc &f = T.fields[T.array_field];
            const void *first = *at<void *const>(o, f.offset);
            n += count * (measure(*f.elem, first, track) + (track ? 1 : 0));
        }
    }
    return n;
}

// ============================================================================
// Reader
// ============================================================================

struct Reader {
    H *h;
    uint32_t db;
    uint32_t *err;
    const uint8_t *buf;
    uint32_t in_place;
    bool track;
    bool failed = false;
    Answers rt;

    Reader(H *h_, uint32_t db_, uint32_t *err_, const uint8_t *buf_, uint32_t in_place_, bool track_)
        : h(h_), db(db_), err(err_), buf(buf_), in_place(in_place_), track(track_) {}

    bool read(uint32_t n, uint32_t &cur) {
        if (__builtin_expect(n == 0, 0)) {
            failed = true;
            return false;
        }
        cur += n;
        return true;
    }
    void fail(uint32_t code) {
        report(h, err, code);
        failed = true;
    }

    uint32_t get_enum(const EnumDesc &E, void *o, void *owner, uint32_t cur, uint32_t end);
    uint32_t get_obj(const TypeDesc &T, void *o, uint32_t cur, uint32_t end, uint8_t *block_sb,
                     bool in_block);
    uint32_t get_fields(const TypeDesc &T, void *o, uint32_t cur, uint32_t end, bool wire_state,
                        uint8_t *sb);
    uint32_t get_list(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t cur, uint32_t end,
                      bool wire_state, uint8_t *sb);
    uint32_t get_array(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t count, uint32_t cur,
                       uint32_t end, bool wire_state, uint8_t *sb);
    void release_block(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t live);
};

uint32_t Reader::get_enum(const EnumDesc &E, void *o, void *owner, uint32_t cur, uint32_t end) {
    if (cur >= end) {
        fail(kShort);
        return cur;
    }
    int8_t v;
    if (!read(_qel_instance_variant_unmarshal(h, buf + cur, &v, end - cur, err), cur)) return cur;
    ObjHdr *oh = hdr(o);
    if (v > static_cast<int>(oh->variant_cap)) v = static_cast<int8_t>(oh->variant_cap);
    uint32_t value;
    if (!read(u_int32_unmarshal(h, db, buf + cur, &value, end - cur, static_cast<int>(in_place), err), cur))
        return cur;
    oh->variant = v;
    oh->tinfo = rt.type_info(h, db, slot_of(E), E.ti);
    store(h, db, owner, at<uint32_t>(o, kEnumValueOff), value);
    return cur;
}

uint32_t Reader::get_obj(const TypeDesc &T, void *o, uint32_t cur, uint32_t end, uint8_t *block_sb,
                         bool in_block) {
    if (cur >= end) {
        fail(kShort);
        return cur;
    }
    int8_t v;
    uint8_t flags;
    if (!read(_qel_instance_variant_unmarshal(h, buf + cur, &v, end - cur, err), cur)) return cur;
    if (!read(_qel_instance_obj_flag_unmarshal(h, buf + cur, &flags, end - cur, err), cur)) return cur;
    if (flags & QEL_OF_RA_DATA) {
        uint64_t ra_value;
        uint8_t ra_byte;
        if (!read(_qel_instance_ra_data_unmarshal(h, buf + cur, &ra_value, &ra_byte, end - cur, err), cur))
            return cur;
    }
    ObjHdr *oh = hdr(o);
    if (v > static_cast<int>(oh->variant_cap)) v = static_cast<int8_t>(oh->variant_cap);

    const uint32_t base = cur;
    uint32_t jump;
    if (!read(_qel_variant_jump_unmarshal(h, buf + cur, &jump, end - cur, err), cur)) return cur;
    // The body must lie inside what is left; its fields never read past it.
    if (jump < kJumpLen || jump > end - base) {
        fail(kShort);
        return cur;
    }
    const uint32_t body_end = base + jump;

    const bool wire_state = flags & QEL_OF_TRACKED;
    uint8_t *sb = nullptr;
    if (track) {
        if (!(oh->flags & QEL_OF_TRACKED)) fatal(kTrace1, tpi(T, tp::type::mismatch));
        if (wire_state) sb = in_block ? block_sb : own_state(T, h, o);
        flags |= QEL_OF_TRACKED;
    } else {
        flags &= static_cast<uint8_t>(~QEL_OF_TRACKED);
    }

    if (v >= 0) {
        cur = get_fields(T, o, cur, body_end, wire_state, sb);
        if (failed) return cur;
    }
    // A newer writer may have sent more than this reader knows: step over it.
    if (body_end > cur) {
        trace_uuu(kTrace1, tpi(T, tp::type::jump), cur, base, jump);
        cur = body_end;
    }
    oh->variant = v;
    oh->flags |= flags;
    oh->tinfo = rt.type_info(h, db, slot_of(T), T.ti);
    return cur;
}

uint32_t Reader::get_fields(const TypeDesc &T, void *o, uint32_t cur, uint32_t end, bool wire_state,
                            uint8_t *sb) {
    const int ip = static_cast<int>(in_place);
    uint32_t count = 0;  // pair_count as received, for the array that follows it
    for (unsigned i = 0; i < T.nfields; ++i) {
        const FieldDesc &f = T.fields[i];
        switch (f.kind) {
        case Kind::U8:
            if (!read(u_int8_unmarshal(h, db, buf + cur, at<uint8_t>(o, f.offset), end - cur, ip, err), cur))
                return cur;
            break;
        case Kind::U16:
            if (!read(u_int16_unmarshal(h, db, buf + cur, at<uint16_t>(o, f.offset), end - cur, ip, err), cur))
                return cur;
            break;
        case Kind::U32:
            if (!read(u_int32_unmarshal(h, db, buf + cur, at<uint32_t>(o, f.offset), end - cur, ip, err), cur))
                return cur;
            break;
        case Kind::PairCount:
            // Held back until the array has room for it: the owner's count
            // must always describe its block.
            if (!read(u_int32_unmarshal(h, db, buf + cur, &count, end - cur, ip, err), cur)) return cur;
            continue;
        case Kind::Str: {
            char *s = at<char>(o, f.offset);
            for (uint32_t k = 0; k < kStrChars; ++k)
                if (!read(char_unmarshal(h, db, buf + cur, s + k, end - cur, ip, err), cur)) return cur;
            break;
        }
        case Kind::Enum:
            cur = get_enum(*f.en, at(o, f.offset), o, cur, end);
            if (failed) return cur;
            break;
        case Kind::List:
            cur = get_list(T, f, o, cur, end, wire_state, sb);
            if (failed) return cur;
            continue;
        case Kind::Array:
            cur = get_array(T, f, o, count, cur, end, wire_state, sb);
            if (failed) return cur;
            continue;
        }
        if (wire_state && cur < end) {
            if (sb) sb[f.state_idx] = buf[cur];
            ++cur;
        }
    }
    return cur;
}

uint32_t Reader::get_list(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t cur, uint32_t end,
                          bool wire_state, uint8_t *sb) {
    uint32_t count;
    if (!read(_qel_list_len_unmarshal(h, buf + cur, &count, end - cur, err), cur)) return cur;
    if (count > (end - cur) / kMinBody) {
        fail(kShort);
        return cur;
    }
    const TypeDesc &E = *f.elem;
    ListAnchor *a = at<ListAnchor>(o, f.offset);
    uint8_t *elem_sb = nullptr;

    if (in_place && a->count == count) {
        // Same length: the elements stay, their contents are replaced.
        void *el = a->first;
        for (uint32_t k = 0; k < count && el && el != a; ++k, el = next_of(E, el)) {
            cur = get_obj(E, el, cur, end, elem_sb, false);
            if (failed) {
                trace_s(kTrace1, tpi(T, tp::type::list_elem_err), err_text(*err));
                return cur;
            }
        }
    } else {
        if (in_place && a->count) list_destroy_elements(T, h, db, o);
        for (uint32_t k = 0; k < count; ++k) {
            void *el = obj_create_internal(E, h, db);
            if (!el || el == E.null_obj) {
                fail(kNoMem);
                return cur;
            }
            cur = get_obj(E, el, cur, end, elem_sb, false);
            if (!failed) list_insert(T, 1, h, db, o, nullptr, el, err);
            if (failed || *err) {
                // Not in the list: the half-built element is ours to release.
                obj_destroy(E, h, db, el, 1);
                failed = true;
                return cur;
            }
        }
    }
    // The list's state byte is the last byte of the body when it was sent.
    if (wire_state && cur < end) {
        if (sb) sb[f.state_idx] = buf[cur];
        ++cur;
    }
    return cur;
}

// Destroys the first `live` elements of the owner's block in place, frees
// the block and leaves the owner empty.
void Reader::release_block(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t live) {
    uint8_t **blk = at<uint8_t *>(o, f.offset);
    if (uint8_t *b = *blk) {
        const TypeDesc &E = *f.elem;
        for (uint32_t i = 0; i < live; ++i) obj_destroy(E, h, db, b + i * E.plain_size, 0);
        h->free_fn(h->alloc_ctx, db, b);
        *blk = nullptr;
    }
    *at<uint32_t>(o, T.fields[T.count_field].offset) = 0;
}

uint32_t Reader::get_array(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t count,
                           uint32_t cur, uint32_t end, bool wire_state, uint8_t *sb) {
    if (count > (end - cur) / kMinBody) {
        fail(kShort);
        return cur;
    }
    uint32_t *pc = at<uint32_t>(o, T.fields[T.count_field].offset);
    uint8_t **blk = at<uint8_t *>(o, f.offset);
    const uint32_t held = *blk ? *pc : 0;
    if (count == 0) {
        release_block(T, f, o, held);
        return cur;
    }

    const TypeDesc &E = *f.elem;
    const uint32_t esz = E.plain_size, nsf = track ? E.n_state_fields : 0;
    const uint64_t bytes = uint64_t(count) * (esz + nsf);
    uint8_t *b;
    const bool reused = in_place && held == count;
    if (reused) {
        for (uint32_t i = 0; i < held; ++i) obj_destroy(E, h, db, *blk + i * esz, 0);
        b = *blk;
    } else {
        release_block(T, f, o, held);
        b = bytes <= UINT32_MAX ? static_cast<uint8_t *>(h->alloc_fn(h->alloc_ctx, db, uint32_t(bytes)))
                                : nullptr;
        if (!b) {
            fail(kNoMem);
            return cur;
        }
        *blk = b;
    }
    std::memset(b, 0, bytes);
    *pc = count;

    uint8_t *states = b + size_t(count) * esz;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *el = b + size_t(i) * esz;
        uint8_t *esb = nullptr;
        if (track) {
            esb = states + size_t(i) * nsf;
            qellib_update_sttr_offset(h, el, uint32_t(esb - el));
        }
        obj_initialize(E, h, db, el, E.ti, 1, 0, QEL_OF_NESTED, esb, err);
        if (*err) {
            failed = true;
            release_block(T, f, o, i);
            return cur;
        }
        cur = get_obj(E, el, cur, end, esb, true);
        if (failed) {
            release_block(T, f, o, i + 1);
            return cur;
        }
    }

    // The owner's per-element state bytes always match pair_count: kept
    // when the count stayed, made anew otherwise.
    uint8_t *per = nullptr;
    if (track) {
        if (uint8_t *osb = own_state(T, h, o)) {
            uint8_t **pp = at<uint8_t *>(osb, kOwnerPerElemOff);
            if (!(*pp && reused)) {
                if (*pp) h->free_fn(h->alloc_ctx, db, *pp);
                *pp = static_cast<uint8_t *>(h->alloc_fn(h->alloc_ctx, db, count));
                if (!*pp) {
                    fail(kNoMem);
                    return cur;
                }
            }
            std::memset(*pp, 0, count);
            per = *pp;
        }
    }
    if (wire_state) {
        if (cur < end) {
            if (sb) sb[f.state_idx] = buf[cur];
            ++cur;
        }
        uint32_t n = count < end - cur ? count : end - cur;
        if (sb && per) std::memcpy(per, buf + cur, n);
        cur += n;
    }
    return cur;
}

}  // namespace

// ============================================================================
// Entry points
// ============================================================================

uint32_t enum_marshal(const EnumDesc &E, H *h, uint32_t db, uint8_t *buf, const void *o, uint32_t len,
                      uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (*err) return 0;
    qel_clear_last_error(h);
    if (len < 1) {
        report(h, err, kShort);
        return 0;
    }
    if (!buf || !o) {
        report(h, err, kBadArg);
        return 0;
    }
    Writer w(h, db, err, buf, len, false);
    return w.put_enum(E, o, 0);
}

uint32_t enum_unmarshal(const EnumDesc &E, H *h, uint32_t db, const uint8_t *buf, void *o, uint32_t len,
                        uint32_t in_place, uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (*err) return 0;
    qel_clear_last_error(h);
    if (len < 1) {
        report(h, err, kShort);
        return 0;
    }
    if (!buf || !o) {
        report(h, err, kBadArg);
        return 0;
    }
    Reader r(h, db, err, buf, in_place, false);
    uint32_t n = r.get_enum(E, o, o, 0, len);
    return r.failed ? 0 : n;
}

uint32_t obj_len(const TypeDesc &T, H *h, uint32_t db, const void *o) {
    if (!o) return 0;
    return measure(T, o, handle_mode(h, T) == Mode::Track);
}

uint32_t obj_marshal(const TypeDesc &T, H *h, uint32_t db, uint8_t *buf, const void *o, uint32_t len,
                     uint32_t *err, bool check_variant) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (*err) return 0;
    qel_clear_last_error(h);
    if (len < 1) {
        report(h, err, kShort);
        return 0;
    }
    if (!buf || !o) {
        report(h, err, kBadArg);
        return 0;
    }
    const bool track = handle_mode(h, T) == Mode::Track;
    Writer w(h, db, err, buf, len, track);
    return w.put_obj(T, o, 0, check_variant, track ? own_state(T, h, const_cast<void *>(o)) : nullptr);
}

uint32_t obj_unmarshal(const TypeDesc &T, H *h, uint32_t db, const uint8_t *buf, void *o, uint32_t len,
                       uint32_t in_place, uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (*err) return 0;
    qel_clear_last_error(h);
    if (len < 1) {
        report(h, err, kShort);
        return 0;
    }
    if (!buf || !o) {
        report(h, err, kBadArg);
        return 0;
    }
    Reader r(h, db, err, buf, in_place, handle_mode(h, T) == Mode::Track);
    uint32_t n = r.get_obj(T, o, 0, len, nullptr, false);
    return r.failed ? 0 : n;
}

}  // namespace lomari
