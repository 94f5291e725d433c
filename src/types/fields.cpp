// fields.cpp -- field access and state tracking of the structured instances.
//
// Owns the per-field accessors (get, get value, set, set value, state byte
// get and set) for scalar, enumeration, pair-count and list fields, the
// fixed-string accessors, and the per-type operations: get, get all, set
// all, the whole-object set with its move semantics, the state-byte reset
// and the member-number check.  Fields are addressed by their index in the
// type descriptor; the scalar widths go through the runtime's scalar
// objects of that width.
#include "types/fields.h"

#include "frame/entry.h"
#include "types/arrays.h"
#include "types/clone.h"
#include "types/layout.h"
#include "types/lists.h"

namespace lomari {

namespace {

constexpr uint32_t kStrCap = 32;  // fixed string: 31 characters and a NUL

// ---- scalar objects by width ----------------------------------------------------

inline void *scalar_get(const FieldDesc &f, H *h, uint32_t db, void *o) {
    void *p = at(o, f.offset);
    switch (f.kind) {
    case Kind::U8: return u_int8_get(h, db, p);
    case Kind::U16: return u_int16_get(h, db, p);
    default: return u_int32_get(h, db, p);
    }
}

inline uint32_t scalar_value(const FieldDesc &f, H *h, uint32_t db, const void *so,
                             uint32_t *err) {
    switch (f.kind) {
    case Kind::U8: return u_int8_get_value(h, db, static_cast<const u_int8 *>(so), err);
    case Kind::U16: return u_int16_get_value(h, db, static_cast<const u_int16 *>(so), err);
    default: return u_int32_get_value(h, db, static_cast<const u_int32 *>(so), err);
    }
}

inline void scalar_set_value(const FieldDesc &f, H *h, uint32_t db, void *so, uint32_t v,
                             uint32_t *err) {
    switch (f.kind) {
    case Kind::U8: u_int8_set_value(h, db, static_cast<u_int8 *>(so), v, err); break;
    case Kind::U16: u_int16_set_value(h, db, static_cast<u_int16 *>(so), v, err); break;
    default: u_int32_set_value(h, db, static_cast<u_int32 *>(so), v, err); break;
    }
}

inline void scalar_copy(const FieldDesc &f, H *h, uint32_t db, void *dst, const void *src,
                        uint32_t *err) {
    switch (f.kind) {
    case Kind::U8:
        u_int8_set(h, db, static_cast<u_int8 *>(dst), static_cast<const u_int8 *>(src), err);
        break;
    case Kind::U16:
        u_int16_set(h, db, static_cast<u_int16 *>(dst), static_cast<const u_int16 *>(src), err);
        break;
    default:
        u_int32_set(h, db, static_cast<u_int32 *>(dst), static_cast<const u_int32 *>(src), err);
        break;
    }
}

inline bool is_scalar(Kind k) {
    return k == Kind::U8 || k == Kind::U16 || k == Kind::U32 || k == Kind::PairCount;
}

// ---- prologues --------------------------------------------------------------------

// Reader: the instance variant (enum_arg as the field asks).  Writer: the
// variant adjusted first.
inline bool read_prologue(H *h, void *o, int enum_arg, uint32_t *err) {
    return enter(h, err, o, kVariant, enum_arg);
}
inline bool write_prologue(H *h, void *o, int enum_arg, uint32_t *err) {
    return enter(h, err, o, kAdjust | kVariant, enum_arg);
}

inline int enum_check_arg(const FieldDesc &f) { return f.kind == Kind::Enum ? 1 : 0; }

// Marks a written field in the state area when the handle tracks state.
// An untracked instance on a tracking handle is refused after the write:
// the field has already changed.
void mark_written(const TypeDesc &T, const FieldDesc &f, H *h, uint32_t db, void *o,
                  uint32_t *err) {
    if (handle_mode(h, T) != Mode::Track) return;
    if (!(hdr(o)->flags & QEL_OF_TRACKED)) {
        report(h, err, LOMARI_ERR_INVALID);
        trace0(kTrace1, tpi(T, tp::type::not_tracked));
        return;
    }
    store(h, db, o, state_area(T, h, o) + f.state_idx, kStateWritten);
}

// The mode checks of the state-byte accessors: 0xDDDD refuses, a corrupted
// word aborts, and a null check record lets a tracked instance be read at
// its plain size.
bool state_access_ok(const TypeDesc &T, H *h, const void *o, tp::type::Point untracked,
                     uint32_t *err) {
    const qel_check_record_t *c = h->check_record;
    if (c) {
        if (c->check_state == QEL_CHECK_PLAIN) {
            report(h, err, LOMARI_ERR_INVALID);
            return false;
        }
        if (c->check_state != QEL_CHECK_TRACK) fatal(kTrace1, tpi(T, tp::type::corrupted));
    }
    if (!o || !(hdr(o)->flags & QEL_OF_TRACKED)) {
        trace0(kTrace1, tpi(T, untracked));
        report(h, err, LOMARI_ERR_INVALID);
        return false;
    }
    return true;
}

// Without a check record the runtime places nothing: the bytes are inline.
inline uint8_t *state_byte(const TypeDesc &T, const FieldDesc &f, H *h, void *o) {
    uint8_t *sa = h->check_record ? state_area(T, h, o) : inline_state(T, o);
    return sa + f.state_idx;
}

// The enumeration range check shared by set, set value and set all: a
// value at or past the bound is refused unless the embedded instance's
// variant allows it.
inline bool enum_value_ok(const FieldDesc &f, H *h, void *emb, uint32_t v, uint32_t *err) {
    adjust_variant_of(h, emb, err);
    if (v >= f.en->bound && qel_inline_get_instance_variant(h, emb, 0, 1) < 1) {
        qel_store_epoch_err(h, LOMARI_ERR_VARIANT, err);
        return false;
    }
    return true;
}

// The number a field holds, with the containment reports of get value
// (prologue already done).
uint32_t read_value(const FieldDesc &f, H *h, uint32_t db, void *o, uint32_t *err) {
    if (f.kind == Kind::Enum) {
        void *emb = at(o, f.offset);
        contain(h, db, emb, nullptr);
        contain(h, db, emb, o);
        qel_inline_clear_last_error(h);
        return *at<uint32_t>(emb, kEnumValueOff);
    }
    void *so = scalar_get(f, h, db, o);
    contain(h, db, so, o);
    return so ? scalar_value(f, h, db, so, err) : 0;
}

}  // namespace

// ---- per-field accessors ---------------------------------------------------------
// Numbers, pair counts and enumerations have get and get value; the
// fixed string has accessors of its own, lists and arrays their families'.

void *field_get(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t *err) {
    const FieldDesc &f = T.fields[fi];
    if (!read_prologue(h, o, enum_check_arg(f), err)) return nullptr;
    if (f.kind == Kind::Enum) {
        void *emb = at(o, f.offset);
        contain(h, db, emb, nullptr);
        contain(h, db, emb, o);
        return emb;
    }
    void *so = scalar_get(f, h, db, o);
    contain(h, db, so, o);
    return so;
}

uint32_t field_get_value(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o,
                         uint32_t *err) {
    const FieldDesc &f = T.fields[fi];
    if (!read_prologue(h, o, enum_check_arg(f), err)) return 0;
    return read_value(f, h, db, o, err);
}

void field_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, const void *src,
               uint32_t *err) {
    const FieldDesc &f = T.fields[fi];
    if (!write_prologue(h, o, enum_check_arg(f), err) || !present(h, err, src)) return;
    if (f.kind == Kind::Enum) {
        void *emb = at(o, f.offset);
        if (enum_value_ok(f, h, emb, *at<uint32_t>(src, kEnumValueOff), err)) {
            announce(h, emb, kEnumSize, db, o);
            std::memcpy(emb, src, kEnumSize);
        }
    } else {
        scalar_copy(f, h, db, at(o, f.offset), src, err);
    }
    mark_written(T, f, h, db, o, err);
    contain(h, db, src, o);
}

void field_set_value(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t v,
                     uint32_t *err) {
    const FieldDesc &f = T.fields[fi];
    if (!write_prologue(h, o, enum_check_arg(f), err)) return;
    if (f.kind == Kind::Enum) {
        void *emb = at(o, f.offset);
        if (enum_value_ok(f, h, emb, v, err))
            store(h, db, o, at<uint32_t>(emb, kEnumValueOff), v);
    } else {
        void *so = scalar_get(f, h, db, o);
        contain(h, db, so, o);
        if (!so) {
            report(h, err, LOMARI_ERR_NOT_FOUND);
            return;
        }
        scalar_set_value(f, h, db, so, v, err);
    }
    mark_written(T, f, h, db, o, err);
}

uint8_t field_state_get(const TypeDesc &T, unsigned fi, H *h, uint32_t /*db*/, void *o,
                        uint32_t *err) {
    if (!begin(h, err) || !state_access_ok(T, h, o, tp::type::non_tracked, err)) return 0;
    return *state_byte(T, T.fields[fi], h, o);
}

void field_state_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint8_t v,
                     uint32_t *err) {
    if (!begin(h, err) || !state_access_ok(T, h, o, tp::type::not_tracked, err) ||
        !check(h, err, o, kAdjust | kVariant))
        return;
    store(h, db, o, state_byte(T, T.fields[fi], h, o), v);
}

// ---- fixed string ------------------------------------------------------------------

void str_get(const TypeDesc &T, unsigned fi, H *h, uint32_t /*db*/, void *o, char *buf,
             uint32_t size, uint32_t *err) {
    if (!begin(h, err)) return;
    if (!size || !buf) {
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    if (!check(h, err, o, kVariant)) return;
    const char *s = at<char>(o, T.fields[fi].offset);
    const size_t n = strnlen(s, kStrCap - 1);
    if (size < kStrCap) {
        // Too small: the leading part still goes out, with the code.
        const size_t k = n < size - 1 ? n : size - 1;
        std::memcpy(buf, s, k);
        buf[k] = '\0';
        report(h, err, LOMARI_ERR_NO_SPACE);
        return;
    }
    std::memcpy(buf, s, n);
    buf[n] = '\0';
}

void str_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, const char *s,
             uint32_t len, uint32_t *err) {
    const FieldDesc &f = T.fields[fi];
    if (!write_prologue(h, o, 0, err)) return;
    if (len >= kStrCap || (!s && len)) {
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    char *d = at<char>(o, f.offset);
    announce(h, d, len, db, o);
    // A NUL inside the given length ends the text; the rest is cleared.
    uint32_t i = 0;
    for (; i < len && s[i]; ++i) d[i] = s[i];
    for (; i < len; ++i) d[i] = '\0';
    mark_written(T, f, h, db, o, err);
    if (len < kStrCap - 1) store(h, db, o, d + len, '\0');
}

// ---- per-type operations -------------------------------------------------------------

void *obj_get(const TypeDesc &, H *h, uint32_t db, void *o) {
    contain(h, db, o, nullptr);
    return o;
}

void obj_get_all(const TypeDesc &T, H *h, uint32_t db, void *o, void *const *outs,
                 uint32_t *err) {
    if (!read_prologue(h, o, 0, err)) return;
    unsigned k = 0;
    for (unsigned i = 0; i < T.nfields; ++i) {
        const FieldDesc &f = T.fields[i];
        if (f.kind != Kind::Enum && !is_scalar(f.kind)) continue;
        void *out = outs[k++];
        const uint32_t v = read_value(f, h, db, o, err);
        if (!out) continue;
        // Each result is as wide as its field; enumerations are 32 bits.
        switch (f.kind) {
        case Kind::U8: *static_cast<uint8_t *>(out) = static_cast<uint8_t>(v); break;
        case Kind::U16: *static_cast<uint16_t *>(out) = static_cast<uint16_t>(v); break;
        default: *static_cast<uint32_t *>(out) = v; break;
        }
    }
}

void obj_set_all(const TypeDesc &T, H *h, uint32_t db, void *o, const uint32_t *vals,
                 uint32_t *err) {
    if (!write_prologue(h, o, 0, err)) return;
    unsigned k = 0;
    for (unsigned i = 0; i < T.nfields; ++i) {
        const FieldDesc &f = T.fields[i];
        if (f.kind == Kind::Enum) {
            void *emb = at(o, f.offset);
            const uint32_t v = vals[k++];
            // A refused value ends the whole set; earlier fields stay written.
            if (!enum_value_ok(f, h, emb, v, err)) return;
            store(h, db, o, at<uint32_t>(emb, kEnumValueOff), v);
        } else if (f.kind == Kind::U8 || f.kind == Kind::U16 || f.kind == Kind::U32) {
            scalar_set_value(f, h, db, at(o, f.offset), vals[k++], err);
        }
    }
}

void obj_set(const TypeDesc &T, H *h, uint32_t db, void *dst, void *src, uint32_t *err) {
    if (!begin(h, err)) return;
    if (!dst || !src) {
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    adjust_variant_of(h, dst, err);
    if (dst == src) return;

    ObjHdr *d = hdr(dst);
    const ObjHdr *s = hdr(src);
    if (qel_inline_get_instance_variant(h, dst, 1, 0) < qel_inline_get_instance_variant(h, src, 1, 0) ||
        d->variant_cap != s->variant_cap) {
        qel_store_epoch_err(h, LOMARI_ERR_VARIANT, err);
        return;
    }

    // A list element's copy would carry the source's link words and claim a
    // place in a list it is not in: refused while either side is in a list.
    if (T.list_owner &&
        (links_of(T, dst)->anchor || links_of(T, src)->anchor)) {
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    // The destination's own list elements and element block are replaced by
    // the source's: release them first so that nothing is lost.
    if (T.list_field >= 0) list_destroy_elements(T, h, db, dst);
    if (T.array_field >= 0) array_release(T, h, db, dst);

    announce(h, dst, T.plain_size, db, dst);
    // The destination stays where it is: an array slot stays nested (its
    // state bytes are in its owner's block), a free-standing instance does
    // not become nested by taking an element's header, and, with a check
    // record, the runtime-placed state area stays the destination's own.
    const uint8_t keep = QEL_OF_NESTED | (h->check_record ? QEL_OF_STTR_RT : 0);
    const uint8_t own = d->flags & keep;
    std::memcpy(dst, src, T.plain_size);
    d->flags = static_cast<uint8_t>((d->flags & ~keep) | own);

    // The tracked flag came with the source's header: a tracked destination
    // has a tracked source to copy the state bytes from.
    if (handle_mode(h, T) == Mode::Track) {
        if (!(d->flags & QEL_OF_TRACKED)) {
            report(h, err, LOMARI_ERR_INVALID);
            trace0(kTrace1, tpi(T, tp::type::not_tracked));
        } else {
            uint8_t *to = state_area(T, h, dst);
            announce(h, to, T.state_size, db, dst);
            std::memcpy(to, state_area(T, h, src), T.state_size);
        }
    }

    // The list or element block now belongs to the destination only.  This
    // runs even after a refused state copy: the storage moved either way.
    if (T.list_field >= 0 || T.array_field >= 0) obj_post_copyout_cleanup(T, h, db, dst, src);
}

void obj_set_all_state(const TypeDesc &T, H *h, uint32_t db, void *o, uint32_t v) {
    const qel_check_record_t *c = h->check_record;
    if (!o || !c || c->check_state != QEL_CHECK_TRACK || !(hdr(o)->flags & QEL_OF_TRACKED))
        return;
    const uint8_t b = static_cast<uint8_t>(v);
    uint8_t *sa = state_area(T, h, o);
    if (T.array_field < 0) {
        announce(h, sa, T.state_size, db, o);
        std::memset(sa, b, T.state_size);
        return;
    }

    // Array owner: the owner's own bytes, keeping the per-element pointer,
    // then the per-element bytes, then each element's own bytes.
    announce(h, sa, kArrayOwnerPerElemOff, db, o);
    std::memset(sa, b, kArrayOwnerPerElemOff);
    const uint32_t count = *count_of(T, o);
    uint8_t *per = per_elem_get(sa);
    if (per && count) {
        announce(h, per, count, db, o);
        std::memset(per, b, count);
    }
    uint8_t *block = *block_of(T, o);
    if (!block) return;
    const TypeDesc &E = array_elem(T);
    for (uint32_t i = 0; i < count; ++i) {
        void *el = elem_at(E, block, i);
        if (!(hdr(el)->flags & QEL_OF_TRACKED)) continue;
        uint8_t *eb = elem_states(E, block, count, i);
        announce(h, eb, E.n_state_fields, db, el);
        std::memset(eb, b, E.n_state_fields);
    }
}

// The validity query's flag that skips the instance's own variant check.
inline constexpr uint32_t kValidTypeOnly = 0x01;

int obj_is_valid_cr(const TypeDesc &T, H *h, void *o, uint32_t member, uint32_t flags) {
    (void)qel_inline_domain_lookup_variant(h, &h->domain, T.ti, &h->err);
    if (!(flags & kValidTypeOnly)) (void)qel_inline_get_instance_variant(h, o, 1, 0);
    return member < T.member_bound ? 1 : 0;
}

}  // namespace lomari
