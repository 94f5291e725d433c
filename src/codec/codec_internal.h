// codec_internal.h -- what the writer (codec/writer.cpp) and the reader
// (codec/reader.cpp) of the binary body encoding share: the wire's fixed
// sizes, the bounds a descriptor gives, the per-call answers of the runtime
// and the entry checks of every codec call.
//
// One writer and one reader walk the field descriptors; the scalar bytes go
// through the runtime's codecs in their inline form (qel/codec_inline.h),
// which report SHORT and touch nothing when the room is short.
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
// behaviour of the codecs (partial writes, SHORT at the first short codec).
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
#pragma once

#include <cassert>
#include <cstdint>
#include <type_traits>

#include "frame/entry.h"
#include "qel/codec_inline.h"
#include "types/layout.h"

namespace lomari::codec {

inline constexpr uint8_t kWireFlags = QEL_OF_TRACKED | QEL_OF_RA_DATA;
inline constexpr uint32_t kStrChars = 31;  // characters of a fixed string on the wire
inline constexpr uint32_t kMinBody = 6;    // variant, flags and jump: the least a body takes
inline constexpr uint32_t kJumpLen = 4;
inline constexpr uint32_t kEnumLen = 5;

// State bytes sent for an object that has none (tracking handle, untracked
// object): zeros, as many as the widest state area needs; the per-element
// pointer read from it is null.
alignas(8) inline constexpr uint8_t kZeroState[kMaxStateSize] = {};
static_assert(kMaxStateSize >= kArrayOwnerStateSize);

// The bytes of a body's own part (everything but list and array elements
// and the per-element state bytes), with or without its state bytes.
inline uint32_t own_bound(const TypeDesc &T, bool states) {
    return T.enc_fixed + (states ? T.enc_state : 0);
}

// True for a type whose fields hold no elements: list and array elements.
inline bool is_flat(const TypeDesc &T) { return T.list_field < 0 && T.array_field < 0; }

// True when nothing of the body follows its elements: the unchecked walk
// of the body's own part may then run before the elements take their room.
inline bool elements_last(const TypeDesc &T) {
    const int last = T.nfields - 1;
    return is_flat(T) || T.list_field == last || T.array_field == last;
}

// pair_count as it is sent: an owner without a block has no elements.
inline uint32_t sent_count(const TypeDesc &T, const void *o) {
    return *block_of(T, o) ? *count_of(T, o) : 0;
}

// The field kinds of a flat type known at compile time: the walks of list
// and array elements are instantiated once per shape of the schema
// (LOMARI_FLAT_SHAPES), so that an element's fields are read and written
// without looking at their kinds, at the offsets the generator gives for
// the shape (kFlatShapeOffsets), with the state byte of field i at i.
// NoShape: the kinds are looked up.
template <int I, Kind... K>
struct Shape {
    static constexpr unsigned kFields = sizeof...(K);
    static constexpr uint16_t off(unsigned i) { return kFlatShapeOffsets[I][i]; }
    static constexpr uint16_t kLinkOff = kFlatShapeOffsets[I][sizeof...(K)];
};
struct NoShape {};

// What a walk of a flat shape needs of the element's descriptor, copied
// into its locals once per list or array: the enumeration descriptor of
// each field (null for the others).  No byte the walk stores into
// elements or output can then alias them.
template <class S>
struct FlatPlan {
    explicit FlatPlan(const TypeDesc &) {}
};
template <int I, Kind... K>
struct FlatPlan<Shape<I, K...>> {
    const EnumDesc *en[sizeof...(K)];
    explicit FlatPlan(const TypeDesc &E) {
        for (unsigned i = 0; i < sizeof...(K); ++i) {
            assert((E.fields[i].offset == Shape<I, K...>::off(i) && E.fields[i].state_idx == i));
            en[i] = E.fields[i].en;
        }
        assert((E.link_off == 0 || E.link_off == Shape<I, K...>::kLinkOff));
    }
};

// Calls f with the shape of a flat type (NoShape for any other).
template <class F>
[[gnu::always_inline]] inline auto with_shape(int8_t shape, F &&f) {
    switch (shape) {
#define LOMARI_SHAPE_CASE(i, ...) \
    case i: return f(Shape<i, __VA_ARGS__>{});
        LOMARI_FLAT_SHAPES(LOMARI_SHAPE_CASE)
#undef LOMARI_SHAPE_CASE
    default: return f(NoShape{});
    }
}

// Slot of a type or enumeration in the per-call caches.
inline unsigned slot_of(const TypeDesc &T) { return T.ordinal; }
inline unsigned slot_of(const EnumDesc &E) { return kTypeCount + E.ordinal; }
inline constexpr unsigned kSlots = kTypeCount + kEnumCount;
static_assert(kSlots <= 32, "one bit per slot");

// Per-call answers of the runtime: the domain's variant of each type met
// (writer) and the type-info reference objects take (reader).
struct Answers {
    uint32_t have_variant = 0;
    uint32_t have_tinfo = 0;
    int variant[kSlots];
    qel_type_info_t *tinfo[kSlots];

    int domain_variant(H *h, uint32_t *err, unsigned s, const qel_type_info_t *ti) {
        if (!(have_variant & (1u << s))) {
            variant[s] = qel_inline_domain_lookup_variant(h, &h->domain, ti, err);
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

// The entry of every codec call: nothing happens with an error present,
// the last error is cleared, an empty buffer reports SHORT and a missing
// buffer or object INVALID.
inline bool codec_enter(H *h, uint32_t *err, uint32_t len, const void *buf, const void *o) {
    if (!begin(h, err)) return false;
    if (len < 1) {
        report(h, err, LOMARI_ERR_SHORT);
        return false;
    }
    return present(h, err, buf) && present(h, err, o);
}

// Whether the unchecked walk may run at all.  Built with
// LOMARI_CHECKED_CODEC the checked walk is the only one; the environment
// variable LOMARI_CODEC_WALK ("checked" or "fast"), read once when the
// library loads, overrides the build's choice, so that one build can run
// the codec both ways.
extern const bool g_fast_walk;  // decided once, at load (codec/walk.cpp)
inline bool fast_walk() { return g_fast_walk; }

// The bytes an object's encoding takes.
uint32_t measure(const TypeDesc &T, const void *o, bool track);

}  // namespace lomari::codec
