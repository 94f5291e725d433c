// nkey.h -- the bus library's NKey helpers (nkey.cpp): the public key of
// a user seed file, and seeds encoded for tests that configure a server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lomari_bus_detail {

// The public key ("U...") of the user seed in seed_file; false with a
// reason that never quotes the file's content.
bool user_public_key(const char *seed_file, std::string &public_key, std::string &why);
// A user seed ("SU...") for 32 bytes of key seed.
std::string encode_user_seed(const uint8_t seed[32]);
// A key with its one-byte prefix and checksum, in base32.
std::string encode_key(uint8_t prefix, const uint8_t *raw, size_t n);

}  // namespace lomari_bus_detail
