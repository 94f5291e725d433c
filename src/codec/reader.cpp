// reader.cpp -- the reader of the binary body encoding: unmarshal, fresh
// or in place.
//
// Owns enum_unmarshal and obj_unmarshal (codec/codec_internal.h tells the
// shape of the encoding, of the two walks and how untrusted input is met).
#include "codec/binary.h"

#include <utility>

#include "codec/codec_internal.h"
#include "types/arrays.h"
#include "types/lifecycle.h"
#include "types/lists.h"

namespace lomari {

using namespace codec;

namespace {

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
    const bool fast = fast_walk();  // the unchecked walk may run
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

    // A field of a kind known at compile time, unchecked.
    template <Kind K>
    [[gnu::always_inline]] void get_known(const FieldDesc &f, void *o, const uint8_t *&p, const uint8_t *end) {
        if constexpr (K == Kind::U8) get<false>(at<uint8_t>(o, f.offset), p, end);
        else if constexpr (K == Kind::U16) get<false>(at<uint16_t>(o, f.offset), p, end);
        else if constexpr (K == Kind::U32) get<false>(at<uint32_t>(o, f.offset), p, end);
        else if constexpr (K == Kind::Str) get_str<false>(at<char>(o, f.offset), p, end);
        else p = get_enum<false>(*f.en, at(o, f.offset), o, p, end);
    }
    // A field of a flat shape at its constant offset, unchecked.
    template <Kind K, uint16_t Off>
    [[gnu::always_inline]] void get_at(const EnumDesc *en, void *o, const uint8_t *&p, const uint8_t *end) {
        if constexpr (K == Kind::U8) get<false>(at<uint8_t>(o, Off), p, end);
        else if constexpr (K == Kind::U16) get<false>(at<uint16_t>(o, Off), p, end);
        else if constexpr (K == Kind::U32) get<false>(at<uint32_t>(o, Off), p, end);
        else if constexpr (K == Kind::Str) get_str<false>(at<char>(o, Off), p, end);
        else p = get_enum<false>(*en, at(o, Off), o, p, end);
    }
    template <int I, Kind... K>
    [[gnu::always_inline]] const uint8_t *get_shaped(const TypeDesc &T, void *o, const uint8_t *p,
                                                     const uint8_t *end, bool wire_state, uint8_t *sb,
                                                     Shape<I, K...>) {
        const FieldDesc *f = T.fields;
        ((get_known<K>(*f, o, p, end), state_byte<false>(wire_state, sb, f->state_idx, p, end), ++f), ...);
        return p;
    }

    // One flat element of a block, unchecked, when its header is the
    // common one: whole, no ra-data block, a variant that is not negative
    // and a jump that holds the element's own part; on a tracking handle
    // the element must be tracked.  Returns null for any other element,
    // having read nothing: the general body walk then takes it.
    template <bool Trk, int I, Kind... K>
    [[gnu::always_inline]] const uint8_t *get_flat(const TypeDesc &E, const FlatPlan<Shape<I, K...>> &fp, void *el,
                                                   const uint8_t *p, const uint8_t *end, uint8_t *esb,
                                                   qel_type_info_t *&ti) {
        using S = Shape<I, K...>;
        if (__builtin_expect(end - p < kMinBody, 0)) return nullptr;
        const int8_t v0 = static_cast<int8_t>(p[0]);
        const uint8_t wire = p[1];
        const uint32_t jump = qel_wire_get32(p + 2);
        ObjHdr *oh = hdr(el);
        const bool wire_state = wire & QEL_OF_TRACKED;
        if (__builtin_expect(v0 < 0 || (wire & QEL_OF_RA_DATA) || jump > uint32_t(end - p) - 2 ||
                                 jump + 2 < own_bound(E, wire_state) || (Trk && !(oh->flags & QEL_OF_TRACKED)),
                             0))
            return nullptr;
        const uint8_t *const body_end = p + 2 + jump;
        uint8_t *sb = Trk && wire_state ? esb : nullptr;
        p += kMinBody;
        // Fields at the shape's constant offsets, state byte J after field J.
        [&]<size_t... J>(std::index_sequence<J...>) {
            ((get_at<K, S::off(J)>(fp.en[J], el, p, body_end), state_byte<false>(wire_state, sb, J, p, body_end)),
             ...);
        }(std::make_index_sequence<sizeof...(K)>{});
        if (__builtin_expect(body_end > p, 0)) {
            trace_uuu(kTrace1, tpi(E, tp::type::jump), uint32_t(p - buf), uint32_t(body_end - jump - buf), jump);
            p = body_end;
        }
        oh->variant = v0 > static_cast<int>(oh->variant_cap) ? static_cast<int8_t>(oh->variant_cap) : v0;
        uint8_t flags = wire & kWireFlags;
        if (Trk) flags |= QEL_OF_TRACKED;
        else flags &= static_cast<uint8_t>(~QEL_OF_TRACKED);
        oh->flags |= flags;
        // Asked of the runtime where the first element's body is done, as
        // the body walk does.
        if (!ti) ti = rt.type_info(h, db, slot_of(E), E.ti);
        oh->tinfo = ti;
        return p;
    }
    template <bool Trk>
    [[gnu::always_inline]] const uint8_t *get_flat(const TypeDesc &, const FlatPlan<NoShape> &, void *,
                                                   const uint8_t *, const uint8_t *, uint8_t *, qel_type_info_t *&) {
        return nullptr;
    }
    template <bool Trk, class S>
    const uint8_t *get_block_run(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p, const uint8_t *end);

    const uint8_t *get_obj(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                           uint8_t *block_sb, bool in_block);
    // One list or array element: a flat one of a known shape inline.
    template <class S>
    [[gnu::always_inline]] const uint8_t *get_elem(const TypeDesc &E, void *el, const uint8_t *p,
                                                   const uint8_t *end, uint8_t *esb, bool in_block) {
        if constexpr (std::is_same_v<S, NoShape>)
            return get_obj(E, el, p, end, esb, in_block);
        else
            return get_body<S>(E, el, p, end, esb, in_block);
    }
    template <class S = NoShape>
    [[gnu::always_inline]] const uint8_t *get_body(const TypeDesc &T, void *o, const uint8_t *p,
                                                   const uint8_t *end, uint8_t *block_sb, bool in_block);
    template <bool C>
    const uint8_t *get_fields(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                              bool wire_state, uint8_t *sb);
    template <bool C>
    const uint8_t *get_list(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end, bool wire_state,
                            uint8_t *sb);
    template <class S>
    const uint8_t *get_list_elems(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p,
                                  const uint8_t *end, S);
    template <bool Trk, class S>
    const uint8_t *get_fresh_elems(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p,
                                   const uint8_t *end, const InitPlan &plan);
    template <class S>
    const uint8_t *get_array_elems(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p,
                                   const uint8_t *end, S);
    bool prepare_block(const TypeDesc &T, void *o, uint32_t count);
    const uint8_t *get_array(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p, const uint8_t *end,
                             bool wire_state, uint8_t *sb);
};

template <bool C>
inline const uint8_t *Reader::get_enum(const EnumDesc &E, void *o, void *owner, const uint8_t *p,
                                const uint8_t *end) {
    int8_t v = 0;  // no room at all fails here, as any short read does
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
    return get_body(T, o, p, end, block_sb, in_block);
}

// One body: header, fields, the step over what a newer writer appended,
// then the variant, flags and type-info reference go into the object.
// S is the shape of a flat type when known: its fields are then read
// inline.
template <class S>
inline const uint8_t *Reader::get_body(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                                       uint8_t *block_sb, bool in_block) {
    int8_t v = 0;
    uint8_t flags = 0;
    uint32_t jump = 0;
    const uint8_t *base;
    if (__builtin_expect(fast && end - p >= kMinBody && !(p[1] & QEL_OF_RA_DATA), 1)) {
        // The whole header is there: variant, flags, jump.
        v = static_cast<int8_t>(p[0]);
        flags = p[1];
        base = p + 2;
        jump = qel_wire_get32(base);
        p += kMinBody;
    } else {
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
        fail(LOMARI_ERR_SHORT);
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
        if (wire_state) sb = in_block ? block_sb : state_area(T, h, o);
        flags |= QEL_OF_TRACKED;
    } else {
        flags &= static_cast<uint8_t>(~QEL_OF_TRACKED);
    }

    if (v >= 0) {
        // The header's 6 bytes are behind; the rest of the body's own part
        // must fit before the end the jump gives.
        const bool fits = fast && uint32_t(body_end - p) + kMinBody >= own_bound(T, wire_state);
        if constexpr (!std::is_same_v<S, NoShape>) {
            p = __builtin_expect(fits, 1) ? get_shaped(T, o, p, body_end, wire_state, sb, S{})
                                          : get_fields<true>(T, o, p, body_end, wire_state, sb);
        } else {
            p = __builtin_expect(fits && elements_last(T), 1)
                    ? get_fields<false>(T, o, p, body_end, wire_state, sb)
                    : get_fields<true>(T, o, p, body_end, wire_state, sb);
        }
        if (failed) return p;
    } else if (in_place) {
        // A body with a negative variant carries no fields, and an object
        // whose variant is negative releases nothing when destroyed: the
        // elements the target held go now, or they would never be freed.
        if (T.list_field >= 0 && anchor_of(T, o)->count) list_destroy_elements(T, h, db, o);
        if (T.array_field >= 0) array_release(T, h, db, o);
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
            p = get_list<C>(T, o, p, end, wire_state, sb);
            if (failed) return p;
            continue;
        case Kind::Array:
            p = get_array(T, o, count, p, end, wire_state, sb);
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
const uint8_t *Reader::get_list(const TypeDesc &T, void *o, const uint8_t *p, const uint8_t *end,
                                bool wire_state, uint8_t *sb) {
    uint32_t count = 0;
    if (!get<C>(&count, p, end)) return p;
    if (count > uint32_t(end - p) / kMinBody) {
        fail(LOMARI_ERR_SHORT);
        return p;
    }
    p = with_shape(list_elem(T).flat_shape, [&](auto s) { return get_list_elems(T, o, count, p, end, s); });
    if (failed) return p;
    // The list's state byte is the last byte of the body when it was sent.
    state_byte<true>(wire_state, sb, list_field(T).state_idx, p, end);
    return p;
}

template <class S>
const uint8_t *Reader::get_list_elems(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p,
                                      const uint8_t *end, S) {
    const TypeDesc &E = list_elem(T);
    Anchor *a = anchor_of(T, o);
    if (in_place && a->count == count) {
        // Same length: the elements stay, their contents are replaced.
        void *el = a->first;
        for (uint32_t k = 0; k < count && el && el != a; ++k, el = next_of(E, el)) {
            p = get_elem<S>(E, el, p, end, nullptr, false);
            if (failed) {
                trace_s(kTrace1, tpi(T, tp::type::list_elem_err), err_text(*err));
                return p;
            }
        }
        return p;
    }
    if (in_place && a->count) list_destroy_elements(T, h, db, o);
    if (!count) return p;
    // The runtime's answers for the element type are asked once for the
    // whole list (and the creations counted in one add where the handle
    // allows it); each element is then made, read and appended.
    InitPlan plan;
    if (!init_plan(E, h, db, E.ti, &plan, err)) {
        failed = true;
        return p;
    }
    init_batch(plan, h);
    p = track ? get_fresh_elems<true, S>(T, o, count, p, end, plan) : get_fresh_elems<false, S>(T, o, count, p, end, plan);
    init_flush(plan);
    return p;
}

// count new elements made after plan, read and appended to o's list: a
// flat element of a known shape on a plain handle with the common header
// through get_flat, any other through the body walk.  On a plain handle
// the elements are made by fresh_create (copies of the first one's
// initialized bytes where nothing observes an initialize) and, when no one
// sees the list's writes, appended by plain stores in this loop.
template <bool Trk, class S>
const uint8_t *Reader::get_fresh_elems(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p,
                                       const uint8_t *end, const InitPlan &plan) {
    const TypeDesc &E = list_elem(T);
    const FlatPlan<S> fp(E);
    qel_type_info_t *ti = nullptr;
    FreshRun fresh;
    const bool unseen = !Trk && !list_writes_seen(h);
    uint16_t link = E.link_off;
    if constexpr (!std::is_same_v<S, NoShape>) link = S::kLinkOff;
    for (uint32_t k = 0; k < count; ++k) {
        void *el = Trk ? obj_create_with(E, plan, h, db) : fresh_create(E, plan, fresh, h, db);
        if (!el || el == E.null_obj) {
            fail(LOMARI_ERR_NO_MEMORY);
            return p;
        }
        const uint8_t *q = fast && !Trk ? get_flat<false>(E, fp, el, p, end, nullptr, ti) : nullptr;
        p = q ? q : get_elem<S>(E, el, p, end, nullptr, false);
        if (__builtin_expect(!failed && unseen, 1)) {
            list_append_unseen(T, link, o, el);
            continue;
        }
        if (failed || !list_append(T, h, db, o, el, Trk, err)) {
            // Not in the list: the half-built element is ours to release.
            obj_destroy(E, h, db, el, kFreeStorage);
            failed = true;
            return p;
        }
    }
    return p;
}

// The elements of o's block, freshly initialized; a failure releases the
// whole block.
// The elements of a flat shape with the handle's mode known: the common
// ones through get_flat, with the element size, field descriptors and the
// type-info reference held in locals; any other through the body walk.
template <bool Trk, class S>
const uint8_t *Reader::get_block_run(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p,
                                     const uint8_t *end) {
    const TypeDesc &E = array_elem(T);
    uint8_t *b = *block_of(T, o);
    const uint32_t size = E.plain_size;
    const FlatPlan<S> fp(E);
    qel_type_info_t *ti = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *el = b + size_t{i} * size;
        uint8_t *esb = Trk ? elem_states(E, b, count, i) : nullptr;
        if (const uint8_t *q = get_flat<Trk>(E, fp, el, p, end, esb, ti)) {
            p = q;
            continue;
        }
        p = get_body<S>(E, el, p, end, esb, true);
        if (failed) {
            array_release(T, h, db, o);
            return p;
        }
    }
    return p;
}

template <class S>
const uint8_t *Reader::get_array_elems(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p,
                                       const uint8_t *end, S) {
    if constexpr (!std::is_same_v<S, NoShape>) {
        if (fast) return track ? get_block_run<true, S>(T, o, count, p, end) : get_block_run<false, S>(T, o, count, p, end);
    }
    const TypeDesc &E = array_elem(T);
    uint8_t *b = *block_of(T, o);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *el = elem_at(E, b, i);
        p = get_elem<S>(E, el, p, end, track ? elem_states(E, b, count, i) : nullptr, true);
        if (failed) {
            array_release(T, h, db, o);
            return p;
        }
    }
    return p;
}

// Gives o's array exactly count elements, freshly initialized: the block
// is made anew in place when an in-place decode finds the same count, else
// the old one is released and a new one built.  False after reporting.
bool Reader::prepare_block(const TypeDesc &T, void *o, uint32_t count) {
    const uint32_t held = *block_of(T, o) ? *count_of(T, o) : 0;
    if (in_place && count && held == count) return array_renew(T, h, db, o, track, err);
    array_release(T, h, db, o);
    return !count || array_resize(T, h, db, o, count, track, err);
}

const uint8_t *Reader::get_array(const TypeDesc &T, void *o, uint32_t count, const uint8_t *p,
                                 const uint8_t *end, bool wire_state, uint8_t *sb) {
    if (count > uint32_t(end - p) / kMinBody) {
        fail(LOMARI_ERR_SHORT);
        return p;
    }
    if (!prepare_block(T, o, count)) {
        failed = true;
        array_release(T, h, db, o);
        return p;
    }
    if (count == 0) return p;

    p = with_shape(array_elem(T).flat_shape, [&](auto s) { return get_array_elems(T, o, count, p, end, s); });
    if (failed) return p;

    // The owner's per-element state bytes match pair_count (made with the
    // block) and are cleared; the sent ones are copied in.
    if (wire_state) {
        uint8_t *osb = track ? state_area(T, h, o) : nullptr;
        uint8_t *per = osb ? per_elem_get(osb) : nullptr;
        state_byte<true>(wire_state, sb, array_field(T).state_idx, p, end);
        uint32_t n = count < uint32_t(end - p) ? count : uint32_t(end - p);
        if (sb && per) std::memcpy(per, p, n);
        p += n;
    }
    return p;
}

}  // namespace

// ---- entry points ----------------------------------------------------------

uint32_t enum_unmarshal(const EnumDesc &E, H *h, uint32_t db, const uint8_t *buf, void *o, uint32_t len,
                        uint32_t in_place, uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (!codec_enter(h, err, len, buf, o)) return 0;
    Reader r(h, db, err, buf, in_place, false);
    const uint8_t *p = r.fast && len >= kEnumLen ? r.get_enum<false>(E, o, o, buf, buf + len)
                                       : r.get_enum<true>(E, o, o, buf, buf + len);
    return r.failed ? 0 : uint32_t(p - buf);
}

uint32_t obj_unmarshal(const TypeDesc &T, H *h, uint32_t db, const uint8_t *buf, void *o, uint32_t len,
                       uint32_t in_place, uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (!codec_enter(h, err, len, buf, o)) return 0;
    Reader r(h, db, err, buf, in_place, handle_mode(h, T) == Mode::Track);
    const uint8_t *p = r.get_obj(T, o, buf, buf + len, nullptr, false);
    return r.failed ? 0 : uint32_t(p - buf);
}

}  // namespace lomari
