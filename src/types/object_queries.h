// object_queries.h -- the runtime queries every object answers
// (types/object_queries.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

void set_instance_embedded(const EnumDesc &E, H *h, uint32_t db, void *inst);
void set_instance_embedded(const TypeDesc &T, H *h, uint32_t db, void *inst);
uint32_t get_oid_count(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err);
uint32_t get_oid_count(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err);
void get_object_references(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err);
void get_object_references(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err);
int adjust_variant(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err);
int adjust_variant(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err);

}  // namespace lomari
