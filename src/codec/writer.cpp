// writer.cpp -- the writer of the binary body encoding: measure, and
// marshal with and without the variant check.
//
// Owns enum_marshal, obj_len and obj_marshal (codec/codec_internal.h tells
// the shape of the encoding and of the two walks).
#include "codec/binary.h"

#include <bit>
#include <climits>
#include <cstddef>
#include <utility>

#include "codec/codec_internal.h"

namespace lomari {

using namespace codec;

namespace {

// The domain's variant of each enumeration field of a flat shape, asked
// of the runtime where the first element needs it and then kept in the
// walk's locals (INT_MIN until asked).
template <class S>
struct EnumDoms {
    int d[1] = {INT_MIN};
};
template <int I, Kind... K>
struct EnumDoms<Shape<I, K...>> {
    int d[sizeof...(K)];
    EnumDoms() {
        for (int &x : d) x = INT_MIN;
    }
};

// The list element after el: its link words at the shape's constant
// offset, or where the descriptor says.
template <class S> inline const void *next_in(const TypeDesc &E, const void *el) {
    if constexpr (std::is_same_v<S, NoShape>)
        return at<Links>(el, E.link_off)->next;
    else
        return at<Links>(el, S::kLinkOff)->next;
}

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
    const bool fast = fast_walk();  // the unchecked walk may run
    Answers rt;

    Writer(H *h_, uint32_t db_, uint32_t *err_, uint8_t *buf_, uint32_t len_, bool track_)
        : h(h_), db(db_), err(err_), buf(buf_), end(buf_ + len_), track(track_) {}

    uint32_t room(const uint8_t *p) const { return uint32_t(end - p); }

    // Each checked codec returns what it wrote, 0 when the room was short
    // (it has then reported SHORT); a short write ends the encoding.  The
    // unchecked forms store and advance.
    bool wrote(uint32_t n, uint8_t *&p) {
        if (__builtin_expect(n == 0, 0)) {
            failed = true;
            return false;
        }
        p += n;
        return true;
    }
    // One scalar of the width of V.
    template <bool C, class V> bool put(V v, uint8_t *&p) {
        if constexpr (C) {
            if constexpr (sizeof(V) == 1) return wrote(qel_inline_u_int8_marshal(h, p, v, room(p), err), p);
            if constexpr (sizeof(V) == 2) return wrote(qel_inline_u_int16_marshal(h, p, v, room(p), err), p);
            if constexpr (sizeof(V) == 4) return wrote(qel_inline_u_int32_marshal(h, p, v, room(p), err), p);
        }
        if constexpr (sizeof(V) == 1) qel_wire_put8(p, v);
        if constexpr (sizeof(V) == 2) qel_wire_put16(p, v);
        if constexpr (sizeof(V) == 4) qel_wire_put32(p, v);
        p += sizeof(V);
        return true;
    }
    template <bool C> bool put8(uint8_t v, uint8_t *&p) { return put<C>(v, p); }
    template <bool C> bool put16(uint16_t v, uint8_t *&p) { return put<C>(v, p); }
    template <bool C> bool put32(uint32_t v, uint8_t *&p) { return put<C>(v, p); }
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
            qel_store_epoch_err(h, LOMARI_ERR_VARIANT, err);
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

    // A field of a kind known at compile time, unchecked.
    template <Kind K> [[gnu::always_inline]] void put_known(const FieldDesc &f, const void *o, uint8_t *&p) {
        if constexpr (K == Kind::U8) put<false>(*at<uint8_t>(o, f.offset), p);
        else if constexpr (K == Kind::U16) put<false>(*at<uint16_t>(o, f.offset), p);
        else if constexpr (K == Kind::U32) put<false>(*at<uint32_t>(o, f.offset), p);
        else if constexpr (K == Kind::Str) put_str<false>(at<char>(o, f.offset), p);
        else p = put_enum<false>(*f.en, at(o, f.offset), p);
    }
    template <int I, Kind... K>
    [[gnu::always_inline]] uint8_t *put_shaped(const TypeDesc &T, const void *o, uint8_t *p, const uint8_t *sb,
                                               Shape<I, K...>) {
        const FieldDesc *f = T.fields;
        ((put_known<K>(*f, o, p), sb ? void(*p++ = sb[f->state_idx]) : void(), ++f), ...);
        return p;
    }

    // The bytes a flat element of shape K... takes on the wire without an
    // ra-data block: fixed, known at compile time.
    template <Kind K> static constexpr uint32_t wire_len() {
        if constexpr (K == Kind::U8) return 1;
        else if constexpr (K == Kind::U16) return 2;
        else if constexpr (K == Kind::U32) return 4;
        else if constexpr (K == Kind::Str) return kStrChars;
        else return kEnumLen;
    }
    // A field's wire bytes as they lie in memory (little-endian host), for
    // composing an element in registers; an enumeration is its sent variant
    // byte, then its value.
    using Wide = uint64_t;
    template <Kind K> static constexpr bool composable() { return K != Kind::Str; }
    template <Kind K, uint16_t Off> static Wide wire_bits(const void *o, uint8_t ev) {
        if constexpr (K == Kind::U8) return *at<uint8_t>(o, Off);
        else if constexpr (K == Kind::U16) return __builtin_bswap16(*at<uint16_t>(o, Off));
        else if constexpr (K == Kind::U32) return __builtin_bswap32(*at<uint32_t>(o, Off));
        else return Wide{ev} | Wide{__builtin_bswap32(*at<uint32_t>(o, Off + kEnumValueOff))} << 8;
    }
    // The variant a flat element's enumeration field sends, its domain's
    // asked once per list or array (slot dom, kUnasked until then): one
    // above the domain's is reported and sent as the domain's.
    static constexpr int kUnasked = INT_MIN;
    // A variant in [0, domain] sends 0: one compare, false while unasked.
    [[gnu::always_inline]] uint8_t enum_sent(const EnumDesc &E, const void *inst, int &dom) {
        if (__builtin_expect(int{static_cast<uint8_t>(hdr(inst)->variant)} <= dom, 1)) return 0;
        return enum_sent_slow(E, inst, dom);
    }
    [[gnu::noinline]] uint8_t enum_sent_slow(const EnumDesc &E, const void *inst, int &dom) {
        if (dom == kUnasked) dom = rt.domain_variant(h, err, slot_of(E), E.ti);
        return static_cast<uint8_t>(sent_variant(hdr(inst)->variant, dom));
    }

    // One flat element of a run that has room for it, unchecked.  Its
    // header bytes are the same for every element whose variant is within
    // the domain's and which carries no ra-data block, so they are a
    // constant here, and so is the element's length; the fields are read
    // at the shape's constant offsets.  Any other element takes the general
    // body walk.
    template <bool Trk, int I, Kind... K>
    [[gnu::always_inline]] uint8_t *put_flat(const TypeDesc &E, const FlatPlan<Shape<I, K...>> &fp, const void *el,
                                             uint8_t *p, int domain, int (&edom)[sizeof...(K)], const uint8_t *sb) {
        using S = Shape<I, K...>;
        constexpr uint32_t N = kMinBody + (wire_len<K>() + ...) + (Trk ? sizeof...(K) : 0);
        // A variant in [0, domain] is one unsigned compare (none when the
        // domain's is negative); variant and flags come in one load.
        const uint32_t common_below = domain >= 0 ? uint32_t(domain) + 1 : 0;
        uint32_t hw;
        std::memcpy(&hw, at(el, offsetof(ObjHdr, variant)), sizeof hw);
        static_assert(offsetof(ObjHdr, flags) == offsetof(ObjHdr, variant) + 2);
        if (__builtin_expect((hw & 0xFF) >= common_below || (hw & (uint32_t{QEL_OF_RA_DATA} << 16)), 0))
            return put_body<false, S, Trk>(E, el, p, domain, sb);
        if (Trk && !sb) sb = kZeroState;
        // The sent variant of each enumeration field, in field order (each
        // may report).
        uint8_t ev[sizeof...(K)] = {};
        [&]<size_t... J>(std::index_sequence<J...>) {
            ((K == Kind::Enum ? void(ev[J] = enum_sent(*fp.en[J], at(el, S::off(J)), edom[J])) : void()), ...);
        }(std::make_index_sequence<sizeof...(K)>{});
        if constexpr (N <= sizeof(Wide) && (composable<K>() && ...) && std::endian::native == std::endian::little) {
            // Short element: composed in a register, one store.
            Wide w = Wide{Trk ? QEL_OF_TRACKED : 0u} << 8 | Wide{__builtin_bswap32(N - 2)} << 16;
            [&]<size_t... J>(std::index_sequence<J...>) {
                unsigned pos = kMinBody;
                ((w |= wire_bits<K, S::off(J)>(el, ev[J]) << (8 * pos), pos += wire_len<K>(),
                  Trk ? void(w |= Wide{sb[J]} << (8 * pos++)) : void()),
                 ...);
            }(std::make_index_sequence<sizeof...(K)>{});
            std::memcpy(p, &w, N);
        } else {
            // The 6 header bytes are a constant: one 8-byte store whose last
            // two bytes the first field overwrites.
            static_assert(N >= sizeof(Wide));
            const Wide head = Wide{Trk ? QEL_OF_TRACKED : 0u} << 8 | Wide{__builtin_bswap32(N - 2)} << 16;
            std::memcpy(p, &head, sizeof head);
            uint8_t *q = p + kMinBody;
            [&]<size_t... J>(std::index_sequence<J...>) {
                ((put_at<K, S::off(J)>(el, ev[J], q), Trk ? void(*q++ = sb[J]) : void()), ...);
            }(std::make_index_sequence<sizeof...(K)>{});
        }
        return p + N;
    }
    // A field of a flat shape at its constant offset, unchecked; an
    // enumeration sends ev, its variant as checked by the caller.
    template <Kind K, uint16_t Off> [[gnu::always_inline]] void put_at(const void *o, uint8_t ev, uint8_t *&q) {
        if constexpr (K == Kind::U8) put<false>(*at<uint8_t>(o, Off), q);
        else if constexpr (K == Kind::U16) put<false>(*at<uint16_t>(o, Off), q);
        else if constexpr (K == Kind::U32) put<false>(*at<uint32_t>(o, Off), q);
        else if constexpr (K == Kind::Str) put_str<false>(at<char>(o, Off), q);
        else {
            *q = ev;
            qel_wire_put32(q + 1, *at<uint32_t>(o, Off + kEnumValueOff));
            q += kEnumLen;
        }
    }
    template <bool Trk, size_t M>
    [[gnu::always_inline]] uint8_t *put_flat(const TypeDesc &E, const FlatPlan<NoShape> &, const void *el,
                                             uint8_t *p, int domain, int (&)[M], const uint8_t *sb) {
        return put_body<false, NoShape, Trk>(E, el, p, domain, sb);
    }

    uint8_t *put_obj(const TypeDesc &T, const void *o, uint8_t *p, bool check, const uint8_t *sb);
    // Trk: the handle's mode when the caller knows it at compile time (0
    // plain, 1 tracking), -1 to read it.
    template <bool C, class S = NoShape, int Trk = -1>
    [[gnu::always_inline]] uint8_t *put_body(const TypeDesc &T, const void *o, uint8_t *p, int domain,
                                             const uint8_t *sb);
    template <bool Trk, class S>
    uint8_t *put_run(const TypeDesc &E, const uint8_t *block, uint32_t count, uint8_t *p, int domain);
    template <bool Trk, class S>
    uint8_t *put_list_run(const TypeDesc &E, const Anchor *a, uint8_t *p, int domain);
    template <class S>
    uint8_t *put_list_elems(const TypeDesc &E, const Anchor *a, uint8_t *p, int domain, S);
    template <class S>
    uint8_t *put_array_elems(const TypeDesc &E, const uint8_t *block, uint32_t count, uint8_t *p, int domain, S);
    template <bool C> uint8_t *put_fields(const TypeDesc &T, const void *o, uint8_t *p, const uint8_t *sb);
    template <bool C> uint8_t *put_list(const TypeDesc &T, const void *o, uint8_t *p, const uint8_t *sb);
    uint8_t *put_array(const TypeDesc &T, const void *o, uint32_t count, uint8_t *p, const uint8_t *sb);
};

// One body: unchecked when the room left holds its own part.
uint8_t *Writer::put_obj(const TypeDesc &T, const void *o, uint8_t *p, bool check, const uint8_t *sb) {
    if (p >= end) {  // before the domain is asked, as a body that cannot start
        report(h, err, LOMARI_ERR_SHORT);
        failed = true;
        return p;
    }
    const uint32_t ra = hdr(o)->flags & QEL_OF_RA_DATA ? QEL_RA_DATA_LEN : 0;
    if (__builtin_expect(fast && room(p) >= own_bound(T, track) + ra && elements_last(T), 1))
        return put_body<false>(T, o, p, bound_of(check, slot_of(T), T.ti), sb);
    return put_body<true>(T, o, p, bound_of(check, slot_of(T), T.ti), sb);
}

// The header block, the fields, and the jump written last.  S is the
// shape of a flat type when known: its fields are then written inline.
template <bool C, class S, int Trk>
inline uint8_t *Writer::put_body(const TypeDesc &T, const void *o, uint8_t *p, int domain, const uint8_t *sb) {
    if (C && p >= end) {
        report(h, err, LOMARI_ERR_SHORT);
        failed = true;
        return p;
    }
    const int8_t v = sent_variant(hdr(o)->variant, domain);
    if (!put8<C>(static_cast<uint8_t>(v), p)) return p;

    // Only 0x08 and 0x20 travel; 0x08 says whether state bytes follow.
    uint8_t flags = hdr(o)->flags;
    if (Trk < 0 ? track : Trk == 1) {
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
    if (v >= 0) {
        if constexpr (C || std::is_same_v<S, NoShape>)
            p = put_fields<C>(T, o, p, sb);
        else
            p = put_shaped(T, o, p, sb, S{});
    }
    // The jump's 4 bytes are there, so its value always goes in.
    qel_wire_put32(jump, uint32_t(p - jump));
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
            p = put_list<C>(T, o, p, sb);
            if (failed) return p;
            continue;
        case Kind::Array:
            p = put_array(T, o, count, p, sb);
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
uint8_t *Writer::put_list(const TypeDesc &T, const void *o, uint8_t *p, const uint8_t *sb) {
    const Anchor *a = anchor_of(T, o);
    if (!put32<C>(a->count, p)) return p;
    const TypeDesc &E = list_elem(T);
    if (is_flat(E)) {
        // Every list of the schema: the room test of an element is one
        // compare against its bound, its body is written inline.
        // The domain is asked where the first element starts, unless that
        // element cannot start (it then fails before using it).
        const void *first = a->first;
        const int domain = first && first != a && p < end ? bound_of(true, slot_of(E), E.ti) : kNoCheck;
        p = with_shape(E.flat_shape, [&](auto s) { return put_list_elems(E, a, p, domain, s); });
        if (failed) return p;
    } else {
        for (const void *el = a->first; el && el != a; el = next_of(E, el)) {
            p = put_obj(E, el, p, true, track ? state_area(E, h, const_cast<void *>(el)) : nullptr);
            if (failed) return p;
        }
    }
    if (sb && room(p) >= 2) *p++ = sb[list_field(T).state_idx];
    return p;
}

// The elements of a flat list with the handle's mode known, unchecked:
// while the room holds any element whatever its header, elements are
// written from their template (put_flat) without a room test; after that
// each element whose own part the room left holds still is, and one that
// does not fit takes the checked walk, which fails at exactly the codec
// that runs out of room.
template <bool Trk, class S>
uint8_t *Writer::put_list_run(const TypeDesc &E, const Anchor *a, uint8_t *p, int domain) {
    const uint8_t *const stop = end;  // members read into locals: every byte stored may alias them
    const uint32_t bound = own_bound(E, Trk);
    const FlatPlan<S> fp(E);
    EnumDoms<S> doms;
    const void *el = a->first;
    // As many elements as the count says and the room holds whatever their
    // headers; the walk still stops at the anchor.
    const uint32_t room_left = uint32_t(stop - p), most = bound + QEL_RA_DATA_LEN;
    uint32_t n = a->count;
    if (uint64_t{n} * most > room_left) n = room_left / most;  // no division when the room holds all
    for (; n && el && el != a; --n) {
        p = put_flat<Trk>(E, fp, el, p, domain, doms.d, Trk ? state_area(E, h, el) : nullptr);
        el = next_in<S>(E, el);
    }
    for (; el && el != a; el = next_in<S>(E, el)) {
        const uint8_t *esb = Trk ? state_area(E, h, el) : nullptr;
        const uint32_t ra = hdr(el)->flags & QEL_OF_RA_DATA ? QEL_RA_DATA_LEN : 0;
        if (__builtin_expect(uint32_t(stop - p) >= bound + ra, 1)) {
            p = put_flat<Trk>(E, fp, el, p, domain, doms.d, esb);
        } else {
            p = put_body<true>(E, el, p, domain, esb);
            if (failed) return p;
        }
    }
    return p;
}

// The elements of a flat list: unchecked (put_list_run) when the walk may
// run, else checked one by one.
template <class S>
uint8_t *Writer::put_list_elems(const TypeDesc &E, const Anchor *a, uint8_t *p, int domain, S) {
    if (fast) return track ? put_list_run<true, S>(E, a, p, domain) : put_list_run<false, S>(E, a, p, domain);
    for (const void *el = a->first; el && el != a; el = next_of(E, el)) {
        p = put_body<true>(E, el, p, domain, track ? state_area(E, h, el) : nullptr);
        if (failed) return p;
    }
    return p;
}

// A block of flat elements with the handle's mode known, unchecked as
// put_list_run; the room test is made once per stretch of elements that
// the room holds whatever their headers.
template <bool Trk, class S>
uint8_t *Writer::put_run(const TypeDesc &E, const uint8_t *block, uint32_t count, uint8_t *p, int domain) {
    const uint8_t *const stop = end;
    const uint32_t bound = own_bound(E, Trk), size = E.plain_size;
    const FlatPlan<S> fp(E);
    EnumDoms<S> doms;
    for (uint32_t i = 0; i < count;) {
        uint32_t safe = uint32_t(stop - p) / (bound + QEL_RA_DATA_LEN);
        if (safe > count - i) safe = count - i;
        for (const uint32_t e = i + safe; i < e; ++i) {
            const uint8_t *el = block + size_t{i} * size;
            const uint8_t *esb =
                Trk && (hdr(el)->flags & QEL_OF_TRACKED) ? elem_states(E, block, count, i) : nullptr;
            p = put_flat<Trk>(E, fp, el, p, domain, doms.d, esb);
        }
        if (i == count) break;
        // Near the end of the room: this element decides for itself.
        const uint8_t *el = block + size_t{i} * size;
        const uint8_t f = hdr(el)->flags;
        const uint8_t *esb = Trk && (f & QEL_OF_TRACKED) ? elem_states(E, block, count, i) : nullptr;
        const uint32_t ra = f & QEL_OF_RA_DATA ? QEL_RA_DATA_LEN : 0;
        if (uint32_t(stop - p) >= bound + ra) {
            p = put_flat<Trk>(E, fp, el, p, domain, doms.d, esb);
        } else {
            p = put_obj(E, el, p, true, esb);
            if (failed) return p;
        }
        ++i;
    }
    return p;
}

// The elements of an element block: flat ones unchecked (put_run) when
// the walk may run, others body by body.
template <class S>
uint8_t *Writer::put_array_elems(const TypeDesc &E, const uint8_t *block, uint32_t count, uint8_t *p, int domain,
                                 S) {
    if (fast && is_flat(E))
        return track ? put_run<true, S>(E, block, count, p, domain) : put_run<false, S>(E, block, count, p, domain);
    const bool trk = track;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *el = elem_at(E, block, i);
        const uint8_t *esb = trk && (hdr(el)->flags & QEL_OF_TRACKED) ? elem_states(E, block, count, i) : nullptr;
        p = put_obj(E, el, p, true, esb);
        if (failed) return p;
    }
    return p;
}

uint8_t *Writer::put_array(const TypeDesc &T, const void *o, uint32_t count, uint8_t *p,
                           const uint8_t *sb) {
    if (count == 0) return p;
    const TypeDesc &E = array_elem(T);
    const uint8_t *block = *block_of(T, o);
    const int domain = is_flat(E) && p < end ? bound_of(true, slot_of(E), E.ti) : kNoCheck;
    p = with_shape(E.flat_shape, [&](auto s) { return put_array_elems(E, block, count, p, domain, s); });
    if (failed || !sb) return p;
    state_byte<true>(sb, array_field(T).state_idx, p);
    uint32_t n = count < room(p) ? count : room(p);
    const uint8_t *per = per_elem_get(sb);
    if (per)
        std::memcpy(p, per, n);
    else
        std::memset(p, 0, n);
    return p + n;
}

}  // namespace

namespace codec {

uint32_t measure(const TypeDesc &T, const void *o, bool track) {
    // An object that carries an ra-data block sends it after its flags.
    const uint32_t ra = hdr(o)->flags & QEL_OF_RA_DATA ? QEL_RA_DATA_LEN : 0;
    if (hdr(o)->variant < 0) return kMinBody + ra;
    uint32_t n = own_bound(T, track) + ra;
    if (T.list_field >= 0) {
        const TypeDesc &E = list_elem(T);
        const Anchor *a = anchor_of(T, o);
        for (const void *el = a->first; el && el != a; el = next_of(E, el)) n += measure(E, el, track);
    } else if (T.array_field >= 0) {
        if (uint32_t count = sent_count(T, o)) {
            // Elements measured one by one: each may carry its own block.
            const TypeDesc &E = array_elem(T);
            const uint8_t *block = *block_of(T, o);
            for (uint32_t i = 0; i < count; ++i) n += measure(E, elem_at(E, block, i), track) + (track ? 1 : 0);
        }
    }
    return n;
}

}  // namespace codec

// ---- entry points ----------------------------------------------------------


uint32_t enum_marshal(const EnumDesc &E, H *h, uint32_t db, uint8_t *buf, const void *o, uint32_t len,
                      uint32_t *err) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (!codec_enter(h, err, len, buf, o)) return 0;
    Writer w(h, db, err, buf, len, false);
    uint8_t *p = w.fast && len >= kEnumLen ? w.put_enum<false>(E, o, buf) : w.put_enum<true>(E, o, buf);
    return uint32_t(p - buf);
}

uint32_t obj_len(const TypeDesc &T, H *h, uint32_t /*db*/, const void *o) {
    if (!o) return 0;
    return measure(T, o, handle_mode(h, T) == Mode::Track);
}

uint32_t obj_marshal(const TypeDesc &T, H *h, uint32_t db, uint8_t *buf, const void *o, uint32_t len,
                     uint32_t *err, bool check_variant) {
    uint32_t local = 0;
    if (!err) err = &local;
    if (!codec_enter(h, err, len, buf, o)) return 0;
    const bool track = handle_mode(h, T) == Mode::Track;
    Writer w(h, db, err, buf, len, track);
    uint8_t *p = w.put_obj(T, o, buf, check_variant, track ? state_area(T, h, const_cast<void *>(o)) : nullptr);
    return uint32_t(p - buf);
}

}  // namespace lomari
