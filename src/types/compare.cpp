// compare.cpp -- total order and seeded hash of every enumeration and
// structured type.
//
// Owns enum_compare, enum_hash, obj_compare and obj_hash.  One walker over
// the field descriptors serves every structured type; list and array
// elements are compared and hashed through their element type's fields,
// never through their headers, links or state bytes.  These are pure
// functions: no handle, no allocation, no error word.
#include "types/compare.h"

#include "types/layout.h"

namespace lomari {

namespace {

inline uint32_t enum_value(const void *e) { return *at<uint32_t>(e, kEnumValueOff); }

// -1 / 0 / 1 of two unsigned numbers.
template <class U>
inline int32_t ucmp(U a, U b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

// Field widths of the fixed string as it is ordered and hashed: 31
// characters, the terminator's place excluded.
inline constexpr uint32_t kStrBytes = 31;

int32_t cmp_fields(const TypeDesc &T, const void *a, const void *b);

int32_t cmp_list(const TypeDesc &T, const void *a, const void *b) {
    const Anchor *la = anchor_of(T, a), *lb = anchor_of(T, b);
    if (int32_t r = ucmp(la->count, lb->count)) return r;
    if (la->count == 0) return 0;
    const TypeDesc &E = list_elem(T);
    const void *ea = la->first, *eb = lb->first;
    // The list is circular through the anchor: reaching it ends the walk.
    while (ea != la && eb != lb && ea && eb) {
        if (int32_t r = cmp_fields(E, ea, eb)) return r;
        ea = next_of(E, ea);
        eb = next_of(E, eb);
    }
    return 0;
}

int32_t cmp_array(const TypeDesc &T, const void *a, const void *b) {
    // pair_count was compared as a field just before; equal here.
    uint32_t n = *count_of(T, a);
    if (n == 0) return 0;
    const uint8_t *ba = *block_of(T, a), *bb = *block_of(T, b);
    if (!ba || !bb) return ba ? 1 : (bb ? -1 : 0);
    const TypeDesc &E = array_elem(T);
    for (uint32_t i = 0; i < n; ++i)
        if (int32_t r = cmp_fields(E, elem_at(E, ba, i), elem_at(E, bb, i))) return r;
    return 0;
}

int32_t cmp_fields(const TypeDesc &T, const void *a, const void *b) {
    for (unsigned i = 0; i < T.nfields; ++i) {
        const FieldDesc &f = T.fields[i];
        int32_t r = 0;
        switch (f.kind) {
        case Kind::U8: r = ucmp(*at<uint8_t>(a, f.offset), *at<uint8_t>(b, f.offset)); break;
        case Kind::U16: r = ucmp(*at<uint16_t>(a, f.offset), *at<uint16_t>(b, f.offset)); break;
        case Kind::U32:
        case Kind::PairCount: r = ucmp(*at<uint32_t>(a, f.offset), *at<uint32_t>(b, f.offset)); break;
        case Kind::Enum:
            r = static_cast<int32_t>(enum_value(at(a, f.offset)) - enum_value(at(b, f.offset)));
            break;
        case Kind::Str: r = std::memcmp(at(a, f.offset), at(b, f.offset), kStrBytes); break;
        case Kind::List: r = cmp_list(T, a, b); break;
        case Kind::Array: r = cmp_array(T, a, b); break;
        }
        if (r) return r;
    }
    return 0;
}

uint32_t hash_fields(const TypeDesc &T, const void *o, uint32_t h);

uint32_t hash_value32(const void *p, uint32_t h) {
    return SuperFastHash(static_cast<const char *>(p), 4, h);
}

uint32_t hash_fields(const TypeDesc &T, const void *o, uint32_t h) {
    for (unsigned i = 0; i < T.nfields; ++i) {
        const FieldDesc &f = T.fields[i];
        switch (f.kind) {
        case Kind::U8: h = u_int8_hash(at<uint8_t>(o, f.offset), h); break;
        case Kind::U16: h = u_int16_hash(at<uint16_t>(o, f.offset), h); break;
        case Kind::U32:
        case Kind::PairCount: h = u_int32_hash(at<uint32_t>(o, f.offset), h); break;
        case Kind::Enum: h = hash_value32(at(o, f.offset + kEnumValueOff), h); break;
        case Kind::Str:
            h = SuperFastHash(at<char>(o, f.offset), static_cast<int>(kStrBytes), h);
            break;
        case Kind::List: {
            const Anchor *l = anchor_of(T, o);
            h = hash_value32(&l->count, h);
            const TypeDesc &E = list_elem(T);
            for (const void *el = l->first; el && el != l; el = next_of(E, el))
                h = hash_fields(E, el, h);
            break;
        }
        case Kind::Array: {
            const uint32_t *count = count_of(T, o);
            h = u_int32_hash(count, h);
            const uint8_t *block = *block_of(T, o);
            if (!block) break;
            const TypeDesc &E = array_elem(T);
            for (uint32_t k = 0; k < *count; ++k) h = hash_fields(E, elem_at(E, block, k), h);
            break;
        }
        }
    }
    return h;
}

}  // namespace

int32_t enum_compare(const void *a, const void *b) {
    if (!a || !b) return a ? 1 : (b ? -1 : 0);
    return static_cast<int32_t>(enum_value(a) - enum_value(b));
}

uint32_t enum_hash(const void *o, uint32_t seed) {
    if (!o) return seed;
    return hash_value32(at(o, kEnumValueOff), seed);
}

int32_t obj_compare(const TypeDesc &T, const void *a, const void *b) {
    if (!a || !b) return a ? 1 : (b ? -1 : 0);
    return cmp_fields(T, a, b);
}

uint32_t obj_hash(const TypeDesc &T, const void *o, uint32_t seed) {
    if (!o) return seed;
    return hash_fields(T, o, seed);
}

}  // namespace lomari
