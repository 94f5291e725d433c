// fields.h -- field access and state tracking (types/fields.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

void *field_get(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t *err);
uint32_t field_get_value(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t *err);
void field_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, const void *src,
               uint32_t *err);
void field_set_value(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t v,
                     uint32_t *err);
uint8_t field_state_get(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t *err);
void field_state_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint8_t v,
                     uint32_t *err);
void str_get(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, char *buf, uint32_t size,
             uint32_t *err);
void str_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, const char *s,
             uint32_t len, uint32_t *err);
void *obj_get(const TypeDesc &T, H *h, uint32_t db, void *o);
void obj_get_all(const TypeDesc &T, H *h, uint32_t db, void *o, void *const *outs, uint32_t *err);
void obj_set_all(const TypeDesc &T, H *h, uint32_t db, void *o, const uint32_t *vals, uint32_t *err);
void obj_set(const TypeDesc &T, H *h, uint32_t db, void *dst, void *src, uint32_t *err);
void obj_set_all_state(const TypeDesc &T, H *h, uint32_t db, void *o, uint32_t v);
int obj_is_valid_cr(const TypeDesc &T, H *h, void *o, uint32_t member, uint32_t flags);

}  // namespace lomari
