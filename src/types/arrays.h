// arrays.h -- the counted arrays (types/arrays.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

void *array_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, uint32_t *err);
void array_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, void *val,
               uint32_t move, uint32_t *err);
void array_remove_elements(const TypeDesc &Owner, H *h, uint32_t db, void *o);
uint8_t array_whole_state_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t *err);
void array_whole_state_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint8_t v,
                           uint32_t *err);
uint8_t array_state_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx,
                        uint32_t *err);
void array_state_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, uint8_t v,
                     uint32_t *err);
void array_state_get_arr(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint8_t **result,
                         uint32_t *err);
void array_state_set_arr(const TypeDesc &Owner, H *h, uint32_t db, void *o, const uint8_t *bytes,
                         uint32_t len, uint32_t *err);
// Block building for callers inside the library (set, a decoder), without
// entry checks; track is the handle's mode, asked once by the caller.
// array_resize grows o's array to n elements (n above its count), each new
// element initialized, the per-element state bytes grown along; a failed
// allocation or a refused lookup of the element type leaves the owner as it
// was.  array_renew makes every element of o's block (o has one) anew in
// place (destroyed, cleared, initialized), the per-element state bytes
// cleared; a refused lookup leaves the elements as they were.  Both report
// and return false on error.
bool array_resize(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t n, bool track, uint32_t *err);
bool array_renew(const TypeDesc &Owner, H *h, uint32_t db, void *o, bool track, uint32_t *err);
// Lifecycle hook: releases elements, block and per-element state bytes.
void array_release(const TypeDesc &Owner, H *h, uint32_t db, void *o);

}  // namespace lomari
