// binary.h -- the binary encoding (codec/writer.cpp, codec/reader.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

uint32_t enum_marshal(const EnumDesc &E, H *h, uint32_t db, uint8_t *buf, const void *o,
                      uint32_t len, uint32_t *err);
uint32_t enum_unmarshal(const EnumDesc &E, H *h, uint32_t db, const uint8_t *buf, void *o,
                        uint32_t len, uint32_t in_place, uint32_t *err);
uint32_t obj_len(const TypeDesc &T, H *h, uint32_t db, const void *o);
uint32_t obj_marshal(const TypeDesc &T, H *h, uint32_t db, uint8_t *buf, const void *o,
                     uint32_t len, uint32_t *err, bool check_variant);
uint32_t obj_unmarshal(const TypeDesc &T, H *h, uint32_t db, const uint8_t *buf, void *o,
                       uint32_t len, uint32_t in_place, uint32_t *err);

}  // namespace lomari
