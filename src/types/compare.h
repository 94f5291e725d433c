// compare.h -- total order and seeded hash (types/compare.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

int32_t enum_compare(const void *a, const void *b);
uint32_t enum_hash(const void *o, uint32_t seed);
int32_t obj_compare(const TypeDesc &T, const void *a, const void *b);
uint32_t obj_hash(const TypeDesc &T, const void *o, uint32_t seed);

}  // namespace lomari
