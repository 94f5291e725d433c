// enums.h -- the enumeration family (types/enums.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

void *enum_create(const EnumDesc &E, H *h, uint32_t db);
void *enum_create_cr(const EnumDesc &E, H *h);
void enum_initialize(const EnumDesc &E, H *h, uint32_t db, void *inst, qel_type_info_t *ti,
                     uint32_t notify, uint32_t skip_stats, uint8_t or_flags, uint8_t *state_base,
                     uint32_t *err);
void enum_destroy(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t free_it);
void *enum_get(const EnumDesc &E, H *h, uint32_t db, void *inst);
uint32_t enum_get_value(const EnumDesc &E, H *h, uint32_t db, const void *inst, uint32_t *err);
void enum_set(const EnumDesc &E, H *h, uint32_t db, void *dst, const void *src, uint32_t *err);
void enum_set_value(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t v, uint32_t *err);
int enum_is_valid_cr(const EnumDesc &E, H *h, int32_t v);

}  // namespace lomari
