// lifecycle.h -- create, initialize, destroy and sizes of the structured
// instances (types/lifecycle.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

void *obj_create(const TypeDesc &T, H *h, uint32_t db);           // trace module, then worker
void *obj_create_cr(const TypeDesc &T, H *h);
void *obj_create_internal(const TypeDesc &T, H *h, uint32_t db);  // the worker
void obj_initialize(const TypeDesc &T, H *h, uint32_t db, void *inst, qel_type_info_t *ti,
                    uint32_t notify, uint32_t skip_stats, uint8_t or_flags, uint8_t *state_base,
                    uint32_t *err);
void obj_destroy(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t free_it);
uint32_t obj_sizeof(const TypeDesc &T, H *h);
uint32_t obj_sizeof_internal(const TypeDesc &T, H *h, uint32_t db, uint32_t with_state,
                             uint32_t state_only);

}  // namespace lomari
