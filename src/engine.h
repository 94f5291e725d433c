// engine.h -- the engine functions behind the generated entry points.
//
// Each family is written once, over the descriptors of types/schema.h; the
// generated stamps (stamps_<family>.cpp in the build tree) only pick the
// descriptor and forward.  The descriptor always comes first.  Pointers to
// instances are untyped here: the stamps carry the C types.
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "lomari/lomari_api.h"
#include "types/schema.h"
#include "codec/render.h"

namespace lomari {

using H = qel_handle_t;

// ---- enumerations (types/enums.cpp) ----------------------------------------
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

// ---- runtime queries of every object (types/object_queries.cpp) ------------
void set_instance_embedded(const EnumDesc &E, H *h, uint32_t db, void *inst);
void set_instance_embedded(const TypeDesc &T, H *h, uint32_t db, void *inst);
uint32_t get_oid_count(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err);
uint32_t get_oid_count(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err);
void get_object_references(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err);
void get_object_references(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err);
int adjust_variant(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err);
int adjust_variant(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err);

// ---- structured lifecycle (types/lifecycle.cpp) ------------------------------
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
// Where an instance's state area is (null when it has none in this mode).
uint8_t *state_area(const TypeDesc &T, H *h, void *inst);

// ---- field access (types/fields.cpp) -------------------------------------------
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

// ---- ordered lists (types/lists.cpp) ----------------------------------------------
// Positions: 0 first, 1 last, 2 before ref (get: prev of ref), 3 after ref (get: next of ref).
void *list_get(const TypeDesc &Owner, unsigned pos, H *h, uint32_t db, void *o, void *ref,
               uint32_t *err);
uint32_t list_count(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t *err);
void *list_get_cr(const TypeDesc &Owner, H *h, void *o, uint32_t flag, void *ref);
void list_insert(const TypeDesc &Owner, unsigned pos, H *h, uint32_t db, void *o, void *ref,
                 void *el, uint32_t *err);
uint32_t list_add_cr(const TypeDesc &Owner, H *h, void *o, void *el, uint32_t flag, void *ref);
void list_remove(const TypeDesc &Owner, H *h, uint32_t db, void *o, void *el, uint32_t *err);
void *list_get_parent(const TypeDesc &Elem, H *h, uint32_t db, void *el, uint32_t *err);
// Lifecycle hooks: anchor set-up at initialize, emptying at destroy.
void list_init_anchor(const TypeDesc &Owner, H *h, uint32_t db, void *o);
void list_destroy_elements(const TypeDesc &Owner, H *h, uint32_t db, void *o);

// ---- counted arrays (types/arrays.cpp) ---------------------------------------------
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
// Lifecycle hook: releases elements, block and per-element state bytes.
void array_release(const TypeDesc &Owner, H *h, uint32_t db, void *o);

// ---- binary encoding (codec/binary.cpp) --------------------------------------------
uint32_t enum_marshal(const EnumDesc &E, H *h, uint32_t db, uint8_t *buf, const void *o,
                      uint32_t len, uint32_t *err);
uint32_t enum_unmarshal(const EnumDesc &E, H *h, uint32_t db, const uint8_t *buf, void *o,
                        uint32_t len, uint32_t in_place, uint32_t *err);
uint32_t obj_len(const TypeDesc &T, H *h, uint32_t db, const void *o);
uint32_t obj_marshal(const TypeDesc &T, H *h, uint32_t db, uint8_t *buf, const void *o,
                     uint32_t len, uint32_t *err, bool check_variant);
uint32_t obj_unmarshal(const TypeDesc &T, H *h, uint32_t db, const uint8_t *buf, void *o,
                       uint32_t len, uint32_t in_place, uint32_t *err);

// ---- clone and copy-out (types/clone.cpp) --------------------------------------------
void obj_clone_internal(const TypeDesc &T, H *h, uint32_t db, void *src, void **dst,
                        uint8_t *buf, uint32_t buf_len, uint32_t *err);
void *obj_clone_cr(const TypeDesc &T, H *h, void *src);
void obj_post_copyout_cleanup(const TypeDesc &T, H *h, uint32_t db, void *dst, void *src);

// ---- comparison and hashing (types/compare.cpp) ----------------------------------------
int32_t enum_compare(const void *a, const void *b);
uint32_t enum_hash(const void *o, uint32_t seed);
int32_t obj_compare(const TypeDesc &T, const void *a, const void *b);
uint32_t obj_hash(const TypeDesc &T, const void *o, uint32_t seed);

// ---- message objects (messages/message_object.cpp) ---------------------------------------
void *msg_create_shallow(const MessageDesc &M, H *h, uint32_t db);
void *msg_create(const MessageDesc &M, H *h, uint32_t db);
void *msg_create_cr(const MessageDesc &M, H *h);
void msg_destroy(const MessageDesc &M, H *h, uint32_t db, void *m);
uint32_t msg_len(const MessageDesc &M, H *h, uint32_t db, void *m);
// op 0: get, 1: get_detach
void *msg_body_get(const MessageDesc &M, int op, H *h, uint32_t db, void *m, uint32_t *err);
// op 0: set, 1: free_and_set
void msg_body_set(const MessageDesc &M, int op, H *h, uint32_t db, void *m, void *body,
                  uint32_t *err);

}  // namespace lomari
