// binary.cpp -- the binary body encoding of every enumeration and
// structured type: measure, marshal (with and without the variant check)
// and unmarshal.
//
// Owns enum_marshal, enum_unmarshal, obj_len, obj_marshal and
// obj_unmarshal.  One writer and one reader walk the field descriptors; the
// scalar bytes go through the runtime's codecs in their inline form
// (qel/codec_inline.h), which report 90 and touch nothing when the room is
// short.
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
// Checked and unchecked walks.  Each body's own part (header, fields, the
// list or array count and the state bytes that go with them) has a bound
// the descriptor gives: enc_fixed plus, with state bytes, enc_state.  When
// the room left (writer) or the body the jump announces (reader) holds that
// bound, the body's own part is written or read without room checks or
// error plumbing; otherwise the checked walk runs, byte for byte the
// behaviour of the codecs (partial writes, 90 at the first short codec).
// Both walks are one template, instantiated twice.  List and array
// elements decide for themselves, one by one, so a long list in a large
// buffer runs unchecked throughout while a short buffer still fails at
// exactly the codec that runs out of room.  The unchecked walk of an owner
// needs its list or array to be the last field (true of every owner of the
// schema); an owner laid out otherwise is walked checked.  Elements that
// hold no elements themselves (every element type of the schema) are
// walked inline in their owner's loop, with their type's domain variant
// taken once for the whole list or array.
//
// Input is not trusted: a count that the remaining bytes cannot hold is
// refused before anything is allocated, a variant jump past the end is
// refused, the fields of a body never read past the end its jump gives,
// and a failed decode leaves the target destroyable (a half-filled element
// block is released, a half-built list element destroyed).
#include "engine.h"
#include "qel/codec_inline.h"

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

// The bytes of a body's own part (everything but list and array elements
// and the per-element state bytes), with or without its state bytes.
inline uint32_t own_bound(const TypeDesc &T, bool states) {
    return T.enc_fixed + (states ? T.enc_state : 0);
}

// True when nothing of the body follows its elements: the unchecked walk
// of the body's own part may then run before the elements take their room.
inline bool elements_last(const TypeDesc &T) {
    const int last = T.nfields - 1;
    return (T.list_field < 0 && T.array_field < 0) || T.list_field == last || T.array_field == last;
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

// Cursors are pointers held in locals and handed from call to call: every
// byte stored through the output may alias any member, so the hot loops
// read no member after a store unless they must.
struct Writer {
    H *h;
    uint32_t db;
    uint32_t *err;
    uint8_t *buf;
    uint8_t *end;
    bool track;
    bool failed = false;
    Answers rt;

    Writer(H *h_, uint32_t db_, uint32_t *err_, uint8_t *buf_, uint32_t len_, bool track_)
        : h(h_), db(db_), err(err_), buf(buf_), end(buf_ + len_), track(track_) {}

    uint32_t room(const uint8_t *p) const { return uint32_t(end - p); }

    // Each checked codec returns what it wrote, 0 when the room was short
    // (it has then reported 90); a short write ends the encoding.  The
    // unchecked forms store and advance.
    bool wrote(uint32_t n, uint8_t *&p) {
        if (__builtin_expect(n == 0, 0)) {
            failed = true;
            return false;
        }
        p += n;
        return true;
    }
    template <bool C> bool put8(uint8_t v, uint8_t *&p) {
        if constexpr (C) return wrote(qel_inline_u_int8_marshal(h, p, v, room(p), err), p);
        qel_wire_put8(p, v);
        p += 1;
        return true;
    }
    template <bool C> bool put16(uint16_t v, uint8_t *&p) {
        if constexpr (C) return wrote(qel_inline_u_int16_marshal(h, p, v, room(p), err), p);
        qel_wire_put16(p, v);
        p += 2;
        return true;
    }
    template <bool C> bool put32(uint32_t v, uint8_t *&p) {
        if constexpr (C) return wrote(qel_inline_u_int32_marshal(h, p, v, room(p), err), p);
        qel_wire_put32(p, v);
        p += 4;
        return true;
    }
    template <bool C> bool put_str(const char *s, uint8_t *&p) {
        if constexpr (C) {
            for (uint32_t k = 0; k < kStrChars; ++k)
                if (!wrote(qel_inline_char_marshal(h, p, s[k], room(p), err), p)) return false;
        } else {
            std::memcpy(p, s, kStrChars);
            p += kStrChars;
        }
        return true;
    }

    // State byte after a field: written while the buffer has room, else
    // silently left out.
    template <bool C> void state_byte(const uint8_t *sb, uint8_t idx, uint8_t *&p) {
        if (!C || p < end) *p++ = sb[idx];
    }

    // The domain's variant of a type, the bound of what is sent; kNoCheck
    // when the writer does not check.
    static constexpr int kNoCheck = INT8_MAX;
    int bound_of(bool check, unsigned slot, const qel_type_info_t *ti) {
        return check ? rt.domain_variant(h, err, slot, ti) : kNoCheck;
    }
    // The variant the writer sends for an object: one above the domain's is
    // reported and sent as the domain's.
    int8_t sent_variant(int8_t v, int domain) {
        if (__builtin_expect(v > domain, 0)) {
            qel_store_epoch_err(h, kEpoch, err);
            v = static_cast<int8_t>(domain);
        }
        return v < 0 ? v : 0;
    }

    template <bool C> [[gnu::always_inline]] uint8_t *put_enum(const EnumDesc &E, const void *o, uint8_t *p) {
        int8_t v = sent_variant(hdr(o)->variant, bound_of(true, slot_of(E), E.ti));
        if (!put8<C>(static_cast<uint8_t>(v), p)) return p;
        put32<C>(*at<uint32_t>(o, kEnumValueOff), p);
        return p;
    }

    // A field that holds no elements, without its state byte; false when
    // the encoding ends here.
    template <bool C> [[gnu::always_inline]] bool put_value(const FieldDesc &f, const void *o, uint8_t *&p) {
        switch (f.kind) {
        case Kind::U8: return put8<C>(*at<uint8_t>(o, f.offset), p);
        case Kind::U16: return put16<C>(*at<uint16_t>(o, f.offset), p);
        case Kind::U32: return put32<C>(*at<uint32_t>(o, f.offset), p);
        case Kind::Str: return put_str<C>(at<char>(o, f.offset), p);
        case Kind::Enum:
            p = put_enum<C>(*f.en, at(o, f.offset), p);
            return !C || !failed;
        default: __builtin_unreachable();
        }
    }

    uint8_t *put_obj(const TypeDesc &T, const void *o, uint8_t *p, bool check, const uint8_t *sb);
    template <bool C, bool Flat>
    [[gnu::always_inline]] uint8_t *put_body(const TypeDesc &T, const void *o, uint8_t *p, int domain,
                                             const uint8_t *sb);
    template <bool C> [[gnu::always_inline]] uint8_t *put_flat(const TypeDesc &T, const void *o, uint8_t *p,
                                                              const uint8_t *sb);
    template <bool C> uint8_t *put_fields(const TypeDesc &T, const void *o, uint8_t *p, const uint8_t *sb);
    template <bool C> uint8_t *put_list(const FieldDesc &f, const void *o, uint8_t *p, const uint8_t *sb);
    uint8_t *put_array(const FieldDesc &f, const void *o, uint32_t count, uint8_t *p, const uint8_t *sb);
};

// pair_count as it is sent: an owner without a block has no elements.
inline uint32_t sent_count(const TypeDesc &T, const void *o) {
    if (!*at<void *const>(o, T.fields[T.array_field].offset)) return 0;
    return *at<uint32_t>(o, T.fields[T.count_field].offset);
}

// True for a type whose fields hold no elements: list and array elements.
inline bool is_flat(const TypeDesc &T) { return T.list_field < 0 && T.array_field < 0; }

// One body: unchecked when the room left holds its own part.
uint8_t *Writer::put_obj(const TypeDesc &T, const void *o, uint8_t *p, bool check, const uint8_t *sb) {
    if (p >= end) {  // before the domain is asked, as a body that cannot start
        report(h, err, kShort);
        failed = true;
        return p;
    }
    const uint32_t ra = hdr(o)->flags & QEL_OF_RA_DATA ? QEL_RA_DATA_LEN : 0;
    if (__builtin_expect(room(p) >= own_bound(T, track) + ra && elements_last(T), 1))
        return put_body<false, false>(T, o, p, bound_of(check, slot_of(T), T.ti), sb);
    return put_body<true, false>(T, o, p, bound_of(check, slot_of(T), T.ti), sb);
}

// The header block, the fields, and the jump written last.  Flat says the
// type holds no elements, so that element bodies inline their fields.
template <bool C, bool Flat>
inline uint8_t *Writer::put_body(const TypeDesc &T, const void *o, uint8_t *p, int domain, const uint8_t *sb) {
    if (C && p >= end) {
        report(h, err, kShort);
        failed = true;
        return p;
    }
    const int8_t v = sent_variant(hdr(o)->variant, domain);
    if (!put8<C>(static_cast<uint8_t>(v), p)) return p;

    // Only 0x08 and 0x20 travel; 0x08 says whether state bytes follow.
    uint8_t flags = hdr(o)->flags;
    if (track) {
        flags |= QEL_OF_TRACKED;
        if (!sb) sb = kZeroState;
    } else {
        flags &= static_cast<uint8_t>(~QEL_OF_TRACKED);
    }
    flags &= kWireFlags;
    if (!put8<C>(flags, p)) return p;
    if (__builtin_expect(flags & QEL_OF_RA_DATA, 0)) {
        if constexpr (C) {
            if (!wrote(qel_inline_ra_data_marshal(h, p, 0, 0, room(p), err), p)) return p;
        } else {
            std::memset(p, 0, QEL_RA_DATA_LEN);
            p += QEL_RA_DATA_LEN;
        }
    }

    uint8_t *const jump = p;
    // Unchecked, the jump's bytes are only reserved here: they are always
    // written below.
    if constexpr (C) {
        if (!put32<C>(0, p)) return p;
    } else {
        p += kJumpLen;
    }
    if (v >= 0) p = Flat ? put_flat<C>(T, o, p, sb) : put_fields<C>(T, o, p, sb);
    // The jump's 4 bytes are there, so its value always goes in.
    qel_wire_put32(jump, uint32_t(p - jump));
    return p;
}

template <bool C>
inline uint8_t *Writer::put_flat(const TypeDesc &T, const void *o, uint8_t *p, const uint8_t *sb) {
    for (const FieldDesc *f = T.fields, *const fe = f + T.nfields; f != fe; ++f) {
        if (!put_value<C>(*f, o, p)) return p;
        if (sb) state_byte<C>(sb, f->state_idx, p);
    }
    return p;
}

template <bool C>
uint8_t *Writer::put_fields(const TypeDesc &T, const void *o, uint8_t *p, const uint8_t *sb) {
    uint32_t count = 0;  // pair_count as sent, for the array that follows it
    for (const FieldDesc *f = T.fields, *const fe = f + T.nfields; f != fe; ++f) {
        switch (f->kind) {
        case Kind::PairCount:
            count = sent_count(T, o);
            if (!put32<C>(count, p)) return p;
            continue;  // no state byte of its own
        case Kind::List:
            p = put_list<C>(*f, o, p, sb);
            if (failed) return p;
            continue;
        case Kind::Array:
            p = put_array(*f, o, count, p, sb);
            if (failed) return p;
            continue;
        default:
            if (!put_value<C>(*f, o, p)) return p;
        }
        if (sb) state_byte<C>(sb, f->state_idx, p);
    }
    return p;
}

template <bool C>
uint8_t *Writer::put_list(const FieldDesc &f, const void *o, uint8_t *p, const uint8_t *sb) {
    const ListAnchor *a = at<ListAnchor>(o, f.offset);
    if (!put32<C>(a->count, p)) return p;
    const TypeDesc &E = *f.elem;
    if (is_flat(E)) {
        // Every list of the schema: the room test of an element is one
        // compare against the bound taken here, its body is written inline.
        const uint32_t bound = own_bound(E, track);
        // The domain is asked where the first element starts, unless that
        // element cannot start (it then fails before using it).
        const void *first = a->first;
        const int domain = first && first != a && p < end ? bound_of(true, slot_of(E), E.ti) : kNoCheck;
        for (const void *el = first; el && el != a; el = next_of(E, el)) {
            const uint8_t *esb = track ? own_state(E, h, const_cast<void *>(el)) : nullptr;
            const uint32_t ra = hdr(el)->flags & QEL_OF_RA_DATA ? QEL_RA_DATA_LEN : 0;
            if (__builtin_expect(room(p) >= bound + ra, 1)) {
                p = put_body<false, true>(E, el, p, domain, esb);
            } else {
                p = put_body<true, true>(E, el, p, domain, esb);
                if (failed) return p;
            }
        }
    } else {
        for (const void *el = a->first; el && el != a; el = next_of(E, el)) {
            p = put_obj(E, el, p, true, track ? own_state(E, h, const_cast<void *>(el)) : nullptr);
            if (failed) return p;
        }
    }
    if (sb && room(p) >= 2) *p++ = sb[f.state_idx];
    return p;
}

uint8_t *Writer::put_array(const FieldDesc &f, const void *o, uint32_t count, uint8_t *p,
                           const uint8_t *sb) {
    if (count == 0) return p;
    const TypeDesc &E = *f.elem;
    const uint8_t *block = *at<uint8_t *const>(o, f.offset);
    const uint32_t esz = E.plain_size, nsf = E.n_state_fields;
    const uint8_t *states = block + size_t(count) * esz;  // element state bytes follow the elements
    const bool flat = is_flat(E);
    const uint32_t bound = own_bound(E, track);
    const int domain = flat && p < end ? bound_of(true, slot_of(E), E.ti) : kNoCheck;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *el = block + size_t(i) * esz;
        const uint8_t *esb = nullptr;
        if (track && (hdr(el)->flags & QEL_OF_TRACKED)) esb = states + size_t(i) * nsf;
        const uint32_t ra = hdr(el)->flags & QEL_OF_RA_DATA ? QEL_RA_DATA_LEN : 0;
        if (__builtin_expect(flat && room(p) >= bound + ra, 1)) {
            p = put_body<false, true>(E, el, p, domain, esb);
        } else {
            p = put_obj(E, el, p, true, esb);
            if (failed) return p;
        }
    }
    if (!sb) return p;
    state_byte<true>(sb, f.state_idx, p);
    uint32_t n = count < room(p) ? count : room(p);
    const uint8_t *per = *at<uint8_t *const>(sb, kOwnerPerElemOff);
    if (per)
        std::memcpy(p, per, n);
    else
        std::memset(p, 0, n);
    return p + n;
}

// ---- measure -------------------------------------------------------------

uint32_t measure(const TypeDesc &T, const void *o, bool track) {
    // An object that carries an ra-data block sends it after its flags.
    const uint32_t ra = hdr(o)->flags & QEL_OF_RA_DATA ? QEL_RA_DATA_LEN : 0;
    if (hdr(o)->variant < 0) return kMinBody + ra;
    uint32_t n = own_bound(T, track) + ra;
    if (T.list_field >= 0) {
        const FieldDesc &f = T.fields[T.list_field];
        const ListAnchor *a = at<ListAnchor>(o, f.offset);
        for (const void *el = a->first; el && el != a; el = next_of(*f.elem, el))
            n += measure(*f.elem, el, track);
    } else if (T.array_field >= 0) {
        if (uint32_t count = sent_count(T, o)) {
            // Elements measured one by one: each may carry its own block.
            const FieldDesc &f = T.fields[T.array_field];
            const uint8_t *block = *at<uint8_t *const>(o, f.offset);
            for (uint32_t i = 0; i < count; ++i)
                n += measure(*f.elem, block + i * f.elem->plain_size, track) + (track ? 1 : 0);
        }
    }
    return n;
}

// ============================================================================
// Reader
// ============================================================================

// As the writer: pointer cursors in locals; `end` is always handed down,
// since the end a body's jump gives is narrower than the buffer's.
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

    bool read(uint32_t n, const uint8_t *&p) {
        if (__builtin_expect(n == 0, 0)) {
            failed = true;
            return false;
        }
        p += n;
        return true;
    }
    void fail(uint32_t code) {
        report(h, err, code);
        failed = true;
    }
    template <bool C, class V> bool get(V *out, const uint8_t *&p, const uint8_t *end) {
        if constexpr (C) {
            const uint32_t room = uint32_t(end - p);
            if constexpr (sizeof(V) == 1)
                return read(qel_inline_u_int8_unmarshal(h, p, reinterpret_cast<uint8_t *>(out), room, err), p);
            else if constexpr (sizeof(V) == 2)
                return read(qel_inline_u_int16_unmarshal(h, p, out, room, err), p);
            else
                return read(qel_inline_u_int32_unmarshal(h, p, out, room, err), p);
        } else {
            if constexpr (sizeof(V) == 1)
                *out = static_cast<V>(qel_wire_get8(p));
            else if constexpr (sizeof(V) == 2)
                *out = qel_wire_get16(p);
            else
                *out = qel_wire_get32(p);
            p += sizeof(V);
            return true;
        }
    }
    template <bool C> bool get_str(char *s, const uint8_t *&p, const uint8_t *end) {
        if constexpr (C) {
            for (uint32_t k = 0; k < kStrChars; ++k)
                if (!read(qel_inline_char_unmarshal(h, p, s + k, uint32_t(end - p), err), p)) return false;
        } else {
            std::memcpy(s, p, kStrChars);
            p += kStrChars;
        }
        return true;
    }
    // State byte after a field: copied (storing) or stepped over
    // (skipping), unless the body has ended.
    template <bool C>
    void state_byte(bool wire_state, uint8_t *sb, uint8_t idx, const uint8_t *&p, const uint8_t *end) {
        if (wire_state && (!C || p < end)) {
            if (sb) sb[idx] = *p;
            ++p;
        }
    }

    template <bool C>
    [[gnu::always_inline]] const uint8_t *get_enum(const EnumDesc &E, void *o, void *owner, const uint8_t *p,
                                                   const uint8_t *end);

    // A field that holds no elements, without its state byte; false when
    // the decoding ends here.
    template <bool C>
    [[gnu::always_inline]] bool get_value(const FieldDesc &f, void *o, const uint8_t *&p, const uint8_t *end) {
        switch (f.kind) {
        case Kind::U8: return get<C>(at<uint8_t>(o, f.offset), p, end);
        case Kind::U16: return get<C>(at<uint16_t>(o, f.offset), p, end);
        case Kind::U32: return get<C>(at<uint32_t>(o, f.offset), p, end);
        case Kind::Str: return get_str<C>(at<char>(o, f.offset), p, end);
        case Kind::Enum:
            p = get_enum<C>(*f.en, at(o, f.offset), o, p, end);
            return !C || !failed;
        default: __builtin_unreachable();
        }
    }

    const uint8_t *get_obj(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                           uint8_t *block_sb, bool in_block);
    template <bool Flat>
    [[gnu::always_inline]] const uint8_t *get_body(const TypeDesc &T, void *o, const uint8_t *p,
                                                   const uint8_t *end, uint8_t *block_sb, bool in_block);
    template <bool C>
    [[gnu::always_inline]] const uint8_t *get_flat(const TypeDesc &T, void *o, const uint8_t *p,
                                                   const uint8_t *end, bool wire_state, uint8_t *sb);
    template <bool C>
    const uint8_t *get_fields(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                              bool wire_state, uint8_t *sb);
    template <bool C>
    const uint8_t *get_list(const TypeDesc &T, const FieldDesc &f, void *o, const uint8_t *p,
                            const uint8_t *end, bool wire_state, uint8_t *sb);
    const uint8_t *get_array(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t count,
                             const uint8_t *p, const uint8_t *end, bool wire_state, uint8_t *sb);
    void release_block(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t live);
};

template <bool C>
inline const uint8_t *Reader::get_enum(const EnumDesc &E, void *o, void *owner, const uint8_t *p,
                                const uint8_t *end) {
    if (C && p >= end) {
        fail(kShort);
        return p;
    }
    int8_t v = 0;
    if (!get<C>(&v, p, end)) return p;
    ObjHdr *oh = hdr(o);
    if (v > static_cast<int>(oh->variant_cap)) v = static_cast<int8_t>(oh->variant_cap);
    uint32_t value = 0;
    if (!get<C>(&value, p, end)) return p;
    oh->variant = v;
    oh->tinfo = rt.type_info(h, db, slot_of(E), E.ti);
    store(h, db, owner, at<uint32_t>(o, kEnumValueOff), value);
    return p;
}

const uint8_t *Reader::get_obj(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                               uint8_t *block_sb, bool in_block) {
    return get_body<false>(T, o, p, end, block_sb, in_block);
}

// One body: header, fields, the step over what a newer writer appended,
// then the variant, flags and type-info reference go into the object.
// Flat says the type holds no elements, so that element bodies inline
// their fields.
template <bool Flat>
inline const uint8_t *Reader::get_body(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                                       uint8_t *block_sb, bool in_block) {
    int8_t v = 0;
    uint8_t flags = 0;
    uint32_t jump = 0;
    const uint8_t *base;
    if (__builtin_expect(end - p >= kMinBody && !(p[1] & QEL_OF_RA_DATA), 1)) {
        // The whole header is there: variant, flags, jump.
        v = static_cast<int8_t>(p[0]);
        flags = p[1];
        base = p + 2;
        jump = qel_wire_get32(base);
        p += kMinBody;
    } else {
        if (p >= end) {
            fail(kShort);
            return p;
        }
        if (!get<true>(&v, p, end)) return p;
        if (!get<true>(&flags, p, end)) return p;
        if (flags & QEL_OF_RA_DATA) {
            uint64_t ra_value;
            uint8_t ra_byte;
            if (!read(qel_inline_ra_data_unmarshal(h, p, &ra_value, &ra_byte, uint32_t(end - p), err), p))
                return p;
        }
        base = p;
        if (!get<true>(&jump, p, end)) return p;
    }
    ObjHdr *oh = hdr(o);
    if (v > static_cast<int>(oh->variant_cap)) v = static_cast<int8_t>(oh->variant_cap);

    // The body must lie inside what is left; its fields never read past it.
    if (__builtin_expect(jump < kJumpLen || jump > uint32_t(end - base), 0)) {
        fail(kShort);
        return p;
    }
    const uint8_t *const body_end = base + jump;

    // Only the bits a writer sends are taken over: the others say where an
    // object's storage and type-info live, which no sender decides.
    flags &= kWireFlags;
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
        // The header's 6 bytes are behind; the rest of the body's own part
        // must fit before the end the jump gives.
        const bool fits = uint32_t(body_end - p) + kMinBody >= own_bound(T, wire_state);
        if constexpr (Flat) {
            p = __builtin_expect(fits, 1) ? get_flat<false>(T, o, p, body_end, wire_state, sb)
                                          : get_flat<true>(T, o, p, body_end, wire_state, sb);
        } else {
            p = __builtin_expect(fits && elements_last(T), 1)
                    ? get_fields<false>(T, o, p, body_end, wire_state, sb)
                    : get_fields<true>(T, o, p, body_end, wire_state, sb);
        }
        if (failed) return p;
    }
    // A newer writer may have sent more than this reader knows: step over it.
    if (__builtin_expect(body_end > p, 0)) {
        trace_uuu(kTrace1, tpi(T, tp::type::jump), uint32_t(p - buf), uint32_t(base - buf), jump);
        p = body_end;
    }
    oh->variant = v;
    oh->flags |= flags;
    oh->tinfo = rt.type_info(h, db, slot_of(T), T.ti);
    return p;
}

template <bool C>
inline const uint8_t *Reader::get_flat(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                                       bool wire_state, uint8_t *sb) {
    for (const FieldDesc *f = T.fields, *const fe = f + T.nfields; f != fe; ++f) {
        if (!get_value<C>(*f, o, p, end)) return p;
        state_byte<C>(wire_state, sb, f->state_idx, p, end);
    }
    return p;
}

template <bool C>
const uint8_t *Reader::get_fields(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                                  bool wire_state, uint8_t *sb) {
    uint32_t count = 0;  // pair_count as received, for the array that follows it
    for (const FieldDesc *f = T.fields, *const fe = f + T.nfields; f != fe; ++f) {
        switch (f->kind) {
        case Kind::PairCount:
            // Held back until the array has room for it: the owner's count
            // must always describe its block.
            if (!get<C>(&count, p, end)) return p;
            continue;
        case Kind::List:
            p = get_list<C>(T, *f, o, p, end, wire_state, sb);
            if (failed) return p;
            continue;
        case Kind::Array:
            p = get_array(T, *f, o, count, p, end, wire_state, sb);
            if (failed) return p;
            continue;
        default:
            if (!get_value<C>(*f, o, p, end)) return p;
        }
        state_byte<C>(wire_state, sb, f->state_idx, p, end);
    }
    return p;
}

template <bool C>
const uint8_t *Reader::get_list(const TypeDesc &T, const FieldDesc &f, void *o, const uint8_t *p,
                                const uint8_t *end, bool wire_state, uint8_t *sb) {
    uint32_t count = 0;
    if (!get<C>(&count, p, end)) return p;
    if (count > uint32_t(end - p) / kMinBody) {
        fail(kShort);
        return p;
    }
    const TypeDesc &E = *f.elem;
    ListAnchor *a = at<ListAnchor>(o, f.offset);
    // Every list of the schema holds flat elements, decoded inline.
    const bool flat = is_flat(E);

    if (in_place && a->count == count) {
        // Same length: the elements stay, their contents are replaced.
        void *el = a->first;
        for (uint32_t k = 0; k < count && el && el != a; ++k, el = next_of(E, el)) {
            p = flat ? get_body<true>(E, el, p, end, nullptr, false) : get_obj(E, el, p, end, nullptr, false);
            if (failed) {
                trace_s(kTrace1, tpi(T, tp::type::list_elem_err), err_text(*err));
                return p;
            }
        }
    } else {
        if (in_place && a->count) list_destroy_elements(T, h, db, o);
        for (uint32_t k = 0; k < count; ++k) {
            void *el = obj_create_internal(E, h, db);
            if (!el || el == E.null_obj) {
                fail(kNoMem);
                return p;
            }
            p = flat ? get_body<true>(E, el, p, end, nullptr, false) : get_obj(E, el, p, end, nullptr, false);
            if (!failed) list_insert(T, 1, h, db, o, nullptr, el, err);
            if (failed || *err) {
                // Not in the list: the half-built element is ours to release.
                obj_destroy(E, h, db, el, 1);
                failed = true;
                return p;
            }
        }
    }
    // The list's state byte is the last byte of the body when it was sent.
    state_byte<true>(wire_state, sb, f.state_idx, p, end);
    return p;
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

const uint8_t *Reader::get_array(const TypeDesc &T, const FieldDesc &f, void *o, uint32_t count,
                                 const uint8_t *p, const uint8_t *end, bool wire_state, uint8_t *sb) {
    if (count > uint32_t(end - p) / kMinBody) {
        fail(kShort);
        return p;
    }
    uint32_t *pc = at<uint32_t>(o, T.fields[T.count_field].offset);
    uint8_t **blk = at<uint8_t *>(o, f.offset);
    const uint32_t held = *blk ? *pc : 0;
    if (count == 0) {
        release_block(T, f, o, held);
        return p;
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
            return p;
        }
        *blk = b;
    }
    std::memset(b, 0, bytes);
    *pc = count;

    const bool flat = is_flat(E);
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
            return p;
        }
        p = flat ? get_body<true>(E, el, p, end, esb, true) : get_obj(E, el, p, end, esb, true);
        if (failed) {
            release_block(T, f, o, i + 1);
            return p;
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
                    return p;
                }
            }
            std::memset(*pp, 0, count);
            per = *pp;
        }
    }
    if (wire_state) {
        state_byte<true>(wire_state, sb, f.state_idx, p, end);
        uint32_t n = count < uint32_t(end - p) ? count : uint32_t(end - p);
        if (sb && per) std::memcpy(per, p, n);
        p += n;
    }
    return p;
}

}  // namespace

// ============================================================================
// Entry points
// ============================================================================

// The entry of every codec call: nothing happens with an error present,
// the last error is cleared, an empty buffer reports 90 and a missing
// buffer or object 22.
static bool enter(H *h, uint32_t *err, uint32_t len, const void *buf, const void *o) {
    if (*err) return false;
    qel_clear_last_error(h);
    if (len < 1) {
        report(h, err, kShort);
        return false;
    }
    if (!buf || !o) {
        report(h, err, kBadArg);
        return false;
    }
    return true;
}

uint32_t enum_marshal(const EnumDesc &E, H *h, uint32_t db, uint8_t *buf, const void *o, uint32_t len,
                      uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (!enter(h, err, len, buf, o)) return 0;
    Writer w(h, db, err, buf, len, false);
    uint8_t *p = len >= kEnumLen ? w.put_enum<false>(E, o, buf) : w.put_enum<true>(E, o, buf);
    return uint32_t(p - buf);
}

uint32_t enum_unmarshal(const EnumDesc &E, H *h, uint32_t db, const uint8_t *buf, void *o, uint32_t len,
                        uint32_t in_place, uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (!enter(h, err, len, buf, o)) return 0;
    Reader r(h, db, err, buf, in_place, false);
    const uint8_t *p = len >= kEnumLen ? r.get_enum<false>(E, o, o, buf, buf + len)
                                       : r.get_enum<true>(E, o, o, buf, buf + len);
    return r.failed ? 0 : uint32_t(p - buf);
}

uint32_t obj_len(const TypeDesc &T, H *h, uint32_t db, const void *o) {
    if (!o) return 0;
    return measure(T, o, handle_mode(h, T) == Mode::Track);
}

uint32_t obj_marshal(const TypeDesc &T, H *h, uint32_t db, uint8_t *buf, const void *o, uint32_t len,
                     uint32_t *err, bool check_variant) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (!enter(h, err, len, buf, o)) return 0;
    const bool track = handle_mode(h, T) == Mode::Track;
    Writer w(h, db, err, buf, len, track);
    uint8_t *p = w.put_obj(T, o, buf, check_variant, track ? own_state(T, h, const_cast<void *>(o)) : nullptr);
    return uint32_t(p - buf);
}

uint32_t obj_unmarshal(const TypeDesc &T, H *h, uint32_t db, const uint8_t *buf, void *o, uint32_t len,
                       uint32_t in_place, uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (!enter(h, err, len, buf, o)) return 0;
    Reader r(h, db, err, buf, in_place, handle_mode(h, T) == Mode::Track);
    const uint8_t *p = r.get_obj(T, o, buf, buf + len, nullptr, false);
    return r.failed ? 0 : uint32_t(p - buf);
}

}  // namespace lomari
