// nkey.cpp -- NKey seeds for the bus: the user's public key derived from
// a seed file (base32 text: two prefix bytes, the 32-byte Ed25519 seed,
// a CRC-16), which the client library needs beside the file to sign the
// server's challenge.  The seed is wiped from memory after use.
#include "nkey.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace lomari_bus_detail {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr uint8_t kPrefixSeed = 18 << 3;  // 'S'
constexpr uint8_t kPrefixUser = 20 << 3;  // 'U'

uint16_t crc16(const uint8_t *p, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(p[i]) << 8;
        for (int b = 0; b < 8; ++b) crc = crc & 0x8000 ? uint16_t(crc << 1 ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

bool base32_decode(const std::string &text, std::vector<uint8_t> &out) {
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        const char *at = c ? std::strchr(kAlphabet, c) : nullptr;
        if (!at) return false;
        acc = acc << 5 | uint32_t(at - kAlphabet);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(acc >> bits));
        }
    }
    return true;
}

std::string base32_encode(const uint8_t *p, size_t n) {
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < n; ++i) {
        acc = acc << 8 | p[i];
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            out += kAlphabet[(acc >> bits) & 31];
        }
    }
    if (bits > 0) out += kAlphabet[(acc << (5 - bits)) & 31];
    return out;
}

}  // namespace

std::string encode_key(uint8_t prefix, const uint8_t *raw, size_t n) {
    std::vector<uint8_t> b{prefix};
    b.insert(b.end(), raw, raw + n);
    const uint16_t crc = crc16(b.data(), b.size());
    b.push_back(uint8_t(crc));
    b.push_back(uint8_t(crc >> 8));
    std::string s = base32_encode(b.data(), b.size());
    OPENSSL_cleanse(b.data(), b.size());
    return s;
}

std::string encode_user_seed(const uint8_t seed[32]) {
    std::vector<uint8_t> b{uint8_t(kPrefixSeed | kPrefixUser >> 5), uint8_t((kPrefixUser & 31) << 3)};
    b.insert(b.end(), seed, seed + 32);
    const uint16_t crc = crc16(b.data(), b.size());
    b.push_back(uint8_t(crc));
    b.push_back(uint8_t(crc >> 8));
    std::string s = base32_encode(b.data(), b.size());
    OPENSSL_cleanse(b.data(), b.size());
    return s;
}

bool user_public_key(const char *seed_file, std::string &public_key, std::string &why) {
    FILE *f = std::fopen(seed_file, "r");
    if (!f) {
        why = "cannot read the NKey seed file";
        return false;
    }
    // The seed is the first word that starts with "SU"; other lines (a
    // comment, a public key) are skipped.
    std::string seed;
    char line[512];
    while (seed.empty() && std::fgets(line, sizeof line, f)) {
        char *p = line;
        while (*p == ' ' || *p == '\t') ++p;
        if (p[0] == 'S' && p[1] == 'U') {
            size_t n = 0;
            while (p[n] && std::strchr(kAlphabet, p[n])) ++n;
            seed.assign(p, n);
        }
    }
    OPENSSL_cleanse(line, sizeof line);
    std::fclose(f);
    std::vector<uint8_t> raw;
    const bool decoded = !seed.empty() && base32_decode(seed, raw);
    OPENSSL_cleanse(seed.data(), seed.size());
    bool ok = decoded && raw.size() == 36 && crc16(raw.data(), 34) == (raw[34] | raw[35] << 8) &&
              (raw[0] & 0xF8) == kPrefixSeed && uint8_t((raw[0] & 7) << 5 | (raw[1] & 0xF8) >> 3) == kPrefixUser;
    if (!ok) why = "the NKey seed file holds no valid user seed";
    if (ok) {
        EVP_PKEY *key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, raw.data() + 2, 32);
        uint8_t pub[32];
        size_t pub_len = sizeof pub;
        ok = key && EVP_PKEY_get_raw_public_key(key, pub, &pub_len) == 1 && pub_len == 32;
        EVP_PKEY_free(key);
        if (ok)
            public_key = encode_key(kPrefixUser, pub, 32);
        else
            why = "cannot derive the public key of the NKey seed";
    }
    OPENSSL_cleanse(raw.data(), raw.size());
    return ok;
}

}  // namespace lomari_bus_detail
