/*
 * hash.cpp -- the mixing functions object hashing folds values through.
 *
 * Owns: u_int8_hash, u_int16_hash, u_int32_hash (one multiply-rotate step
 * of the value into the seed, then a finaliser that also folds in the
 * value's width, so equal numbers of different widths hash apart), and
 * SuperFastHash: Paul Hsieh's public-domain hash (16-bit pieces, 3/2/1-byte
 * tails, final avalanche), started from the caller's seed instead of the
 * length so that a chain of calls can fold field after field.
 */
#include <cstring>

#include "internal.h"

using namespace qelrt;

namespace {

inline uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t mix_value(uint32_t seed, uint32_t value, uint32_t width) {
    uint32_t k = value * 0xcc9e2d51u;
    k = rotl32(k, 15);
    k *= 0x1b873593u;
    uint32_t h = seed ^ k;
    h = rotl32(h, 13);
    h = h * 5u + 0xe6546b64u;
    h ^= width;
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}

/* Little-endian 16-bit piece, independent of the host's byte order. */
inline uint32_t get16(const uint8_t *d) { return uint32_t(d[0]) | (uint32_t(d[1]) << 8); }

/* A tail byte enters the hash sign-extended, as in the published code. */
inline uint32_t sbyte(uint8_t b) { return static_cast<uint32_t>(static_cast<int8_t>(b)); }

} // namespace

extern "C" {

uint32_t u_int8_hash(const u_int8 *v, uint32_t seed) {
    logc("u_int8_hash", w(v), seed);
    return v ? mix_value(seed, *v, 1) : seed;
}

uint32_t u_int16_hash(const u_int16 *v, uint32_t seed) {
    logc("u_int16_hash", w(v), seed);
    return v ? mix_value(seed, *v, 2) : seed;
}

uint32_t u_int32_hash(const u_int32 *v, uint32_t seed) {
    logc("u_int32_hash", w(v), seed);
    return v ? mix_value(seed, *v, 4) : seed;
}

uint32_t SuperFastHash(const char *data, int len, uint32_t seed) {
    logc("SuperFastHash", w(data), static_cast<uint64_t>(static_cast<int64_t>(len)), seed);
    if (len <= 0 || data == nullptr)
        return seed;
    const auto *d = reinterpret_cast<const uint8_t *>(data);
    uint32_t hash = seed;
    int rem = len & 3;
    for (int n = len >> 2; n > 0; --n) {
        hash += get16(d);
        uint32_t tmp = (get16(d + 2) << 11) ^ hash;
        hash = (hash << 16) ^ tmp;
        d += 4;
        hash += hash >> 11;
    }
    switch (rem) {
    case 3:
        hash += get16(d);
        hash ^= hash << 16;
        hash ^= sbyte(d[2]) << 18;
        hash += hash >> 11;
        break;
    case 2:
        hash += get16(d);
        hash ^= hash << 11;
        hash += hash >> 17;
        break;
    case 1:
        hash += sbyte(d[0]);
        hash ^= hash << 10;
        hash += hash >> 1;
        break;
    default:
        break;
    }
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash;
}

} // extern "C"
