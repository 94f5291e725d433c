// pending.cpp -- weak placeholders for engine functions whose family is
// not built yet; a family's real definition replaces its placeholder.
// Reaching one is a build mistake, so it says which and aborts.
#include <cstdio>
#include <cstdlib>
#include "engine.h"

namespace lomari {

__attribute__((weak)) void * enum_create(const EnumDesc &E, H *h, uint32_t db) {
    std::fprintf(stderr, "lomari: enum_create is not built\n");
    std::abort();
}

__attribute__((weak)) void * enum_create_cr(const EnumDesc &E, H *h) {
    std::fprintf(stderr, "lomari: enum_create_cr is not built\n");
    std::abort();
}

__attribute__((weak)) void enum_initialize(const EnumDesc &E, H *h, uint32_t db, void *inst, qel_type_info_t *ti, uint32_t notify, uint32_t skip_stats, uint8_t or_flags, uint8_t *state_base, uint32_t *err) {
    std::fprintf(stderr, "lomari: enum_initialize is not built\n");
    std::abort();
}

__attribute__((weak)) void enum_destroy(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t free_it) {
    std::fprintf(stderr, "lomari: enum_destroy is not built\n");
    std::abort();
}

__attribute__((weak)) void * enum_get(const EnumDesc &E, H *h, uint32_t db, void *inst) {
    std::fprintf(stderr, "lomari: enum_get is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t enum_get_value(const EnumDesc &E, H *h, uint32_t db, const void *inst, uint32_t *err) {
    std::fprintf(stderr, "lomari: enum_get_value is not built\n");
    std::abort();
}

__attribute__((weak)) void enum_set(const EnumDesc &E, H *h, uint32_t db, void *dst, const void *src, uint32_t *err) {
    std::fprintf(stderr, "lomari: enum_set is not built\n");
    std::abort();
}

__attribute__((weak)) void enum_set_value(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t v, uint32_t *err) {
    std::fprintf(stderr, "lomari: enum_set_value is not built\n");
    std::abort();
}

__attribute__((weak)) int enum_is_valid_cr(const EnumDesc &E, H *h, int32_t v) {
    std::fprintf(stderr, "lomari: enum_is_valid_cr is not built\n");
    std::abort();
}

__attribute__((weak)) void set_instance_embedded(const EnumDesc &E, H *h, uint32_t db, void *inst) {
    std::fprintf(stderr, "lomari: set_instance_embedded is not built\n");
    std::abort();
}

__attribute__((weak)) void set_instance_embedded(const TypeDesc &T, H *h, uint32_t db, void *inst) {
    std::fprintf(stderr, "lomari: set_instance_embedded is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t get_oid_count(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err) {
    std::fprintf(stderr, "lomari: get_oid_count is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t get_oid_count(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err) {
    std::fprintf(stderr, "lomari: get_oid_count is not built\n");
    std::abort();
}

__attribute__((weak)) void get_object_references(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err) {
    std::fprintf(stderr, "lomari: get_object_references is not built\n");
    std::abort();
}

__attribute__((weak)) void get_object_references(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err) {
    std::fprintf(stderr, "lomari: get_object_references is not built\n");
    std::abort();
}

__attribute__((weak)) int adjust_variant(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t *err) {
    std::fprintf(stderr, "lomari: adjust_variant is not built\n");
    std::abort();
}

__attribute__((weak)) int adjust_variant(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t *err) {
    std::fprintf(stderr, "lomari: adjust_variant is not built\n");
    std::abort();
}

__attribute__((weak)) void * obj_create(const TypeDesc &T, H *h, uint32_t db) {
    std::fprintf(stderr, "lomari: obj_create is not built\n");
    std::abort();
}

__attribute__((weak)) void * obj_create_cr(const TypeDesc &T, H *h) {
    std::fprintf(stderr, "lomari: obj_create_cr is not built\n");
    std::abort();
}

__attribute__((weak)) void * obj_create_internal(const TypeDesc &T, H *h, uint32_t db) {
    std::fprintf(stderr, "lomari: obj_create_internal is not built\n");
    std::abort();
}

__attribute__((weak)) void obj_initialize(const TypeDesc &T, H *h, uint32_t db, void *inst, qel_type_info_t *ti, uint32_t notify, uint32_t skip_stats, uint8_t or_flags, uint8_t *state_base, uint32_t *err) {
    std::fprintf(stderr, "lomari: obj_initialize is not built\n");
    std::abort();
}

__attribute__((weak)) void obj_destroy(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t free_it) {
    std::fprintf(stderr, "lomari: obj_destroy is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t obj_sizeof(const TypeDesc &T, H *h) {
    std::fprintf(stderr, "lomari: obj_sizeof is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t obj_sizeof_internal(const TypeDesc &T, H *h, uint32_t db, uint32_t with_state, uint32_t state_only) {
    std::fprintf(stderr, "lomari: obj_sizeof_internal is not built\n");
    std::abort();
}

__attribute__((weak)) uint8_t * state_area(const TypeDesc &T, H *h, void *inst) {
    std::fprintf(stderr, "lomari: state_area is not built\n");
    std::abort();
}

__attribute__((weak)) void * field_get(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t *err) {
    std::fprintf(stderr, "lomari: field_get is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t field_get_value(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t *err) {
    std::fprintf(stderr, "lomari: field_get_value is not built\n");
    std::abort();
}

__attribute__((weak)) void field_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, const void *src, uint32_t *err) {
    std::fprintf(stderr, "lomari: field_set is not built\n");
    std::abort();
}

__attribute__((weak)) void field_set_value(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t v, uint32_t *err) {
    std::fprintf(stderr, "lomari: field_set_value is not built\n");
    std::abort();
}

__attribute__((weak)) uint8_t field_state_get(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint32_t *err) {
    std::fprintf(stderr, "lomari: field_state_get is not built\n");
    std::abort();
}

__attribute__((weak)) void field_state_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, uint8_t v, uint32_t *err) {
    std::fprintf(stderr, "lomari: field_state_set is not built\n");
    std::abort();
}

__attribute__((weak)) void str_get(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, char *buf, uint32_t size, uint32_t *err) {
    std::fprintf(stderr, "lomari: str_get is not built\n");
    std::abort();
}

__attribute__((weak)) void str_set(const TypeDesc &T, unsigned fi, H *h, uint32_t db, void *o, const char *s, uint32_t len, uint32_t *err) {
    std::fprintf(stderr, "lomari: str_set is not built\n");
    std::abort();
}

__attribute__((weak)) void * obj_get(const TypeDesc &T, H *h, uint32_t db, void *o) {
    std::fprintf(stderr, "lomari: obj_get is not built\n");
    std::abort();
}

__attribute__((weak)) void obj_get_all(const TypeDesc &T, H *h, uint32_t db, void *o, void *const *outs, uint32_t *err) {
    std::fprintf(stderr, "lomari: obj_get_all is not built\n");
    std::abort();
}

__attribute__((weak)) void obj_set_all(const TypeDesc &T, H *h, uint32_t db, void *o, const uint32_t *vals, uint32_t *err) {
    std::fprintf(stderr, "lomari: obj_set_all is not built\n");
    std::abort();
}

__attribute__((weak)) void obj_set(const TypeDesc &T, H *h, uint32_t db, void *dst, void *src, uint32_t *err) {
    std::fprintf(stderr, "lomari: obj_set is not built\n");
    std::abort();
}

__attribute__((weak)) void obj_set_all_state(const TypeDesc &T, H *h, uint32_t db, void *o, uint32_t v) {
    std::fprintf(stderr, "lomari: obj_set_all_state is not built\n");
    std::abort();
}

__attribute__((weak)) int obj_is_valid_cr(const TypeDesc &T, H *h, void *o, uint32_t member, uint32_t flags) {
    std::fprintf(stderr, "lomari: obj_is_valid_cr is not built\n");
    std::abort();
}

__attribute__((weak)) void * list_get(const TypeDesc &Owner, unsigned pos, H *h, uint32_t db, void *o, void *ref, uint32_t *err) {
    std::fprintf(stderr, "lomari: list_get is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t list_count(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t *err) {
    std::fprintf(stderr, "lomari: list_count is not built\n");
    std::abort();
}

__attribute__((weak)) void * list_get_cr(const TypeDesc &Owner, H *h, void *o, uint32_t flag, void *ref) {
    std::fprintf(stderr, "lomari: list_get_cr is not built\n");
    std::abort();
}

__attribute__((weak)) void list_insert(const TypeDesc &Owner, unsigned pos, H *h, uint32_t db, void *o, void *ref, void *el, uint32_t *err) {
    std::fprintf(stderr, "lomari: list_insert is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t list_add_cr(const TypeDesc &Owner, H *h, void *o, void *el, uint32_t flag, void *ref) {
    std::fprintf(stderr, "lomari: list_add_cr is not built\n");
    std::abort();
}

__attribute__((weak)) void list_remove(const TypeDesc &Owner, H *h, uint32_t db, void *o, void *el, uint32_t *err) {
    std::fprintf(stderr, "lomari: list_remove is not built\n");
    std::abort();
}

__attribute__((weak)) void * list_get_parent(const TypeDesc &Elem, H *h, uint32_t db, void *el, uint32_t *err) {
    std::fprintf(stderr, "lomari: list_get_parent is not built\n");
    std::abort();
}

__attribute__((weak)) void list_init_anchor(const TypeDesc &Owner, H *h, uint32_t db, void *o) {
    std::fprintf(stderr, "lomari: list_init_anchor is not built\n");
    std::abort();
}

__attribute__((weak)) void list_destroy_elements(const TypeDesc &Owner, H *h, uint32_t db, void *o) {
    std::fprintf(stderr, "lomari: list_destroy_elements is not built\n");
    std::abort();
}

__attribute__((weak)) void * array_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, uint32_t *err) {
    std::fprintf(stderr, "lomari: array_get is not built\n");
    std::abort();
}

__attribute__((weak)) void array_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, void *val, uint32_t move, uint32_t *err) {
    std::fprintf(stderr, "lomari: array_set is not built\n");
    std::abort();
}

__attribute__((weak)) void array_remove_elements(const TypeDesc &Owner, H *h, uint32_t db, void *o) {
    std::fprintf(stderr, "lomari: array_remove_elements is not built\n");
    std::abort();
}

__attribute__((weak)) uint8_t array_whole_state_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t *err) {
    std::fprintf(stderr, "lomari: array_whole_state_get is not built\n");
    std::abort();
}

__attribute__((weak)) void array_whole_state_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint8_t v, uint32_t *err) {
    std::fprintf(stderr, "lomari: array_whole_state_set is not built\n");
    std::abort();
}

__attribute__((weak)) uint8_t array_state_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, uint32_t *err) {
    std::fprintf(stderr, "lomari: array_state_get is not built\n");
    std::abort();
}

__attribute__((weak)) void array_state_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, uint8_t v, uint32_t *err) {
    std::fprintf(stderr, "lomari: array_state_set is not built\n");
    std::abort();
}

__attribute__((weak)) void array_state_get_arr(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint8_t **result, uint32_t *err) {
    std::fprintf(stderr, "lomari: array_state_get_arr is not built\n");
    std::abort();
}

__attribute__((weak)) void array_state_set_arr(const TypeDesc &Owner, H *h, uint32_t db, void *o, const uint8_t *bytes, uint32_t len, uint32_t *err) {
    std::fprintf(stderr, "lomari: array_state_set_arr is not built\n");
    std::abort();
}

__attribute__((weak)) void array_release(const TypeDesc &Owner, H *h, uint32_t db, void *o) {
    std::fprintf(stderr, "lomari: array_release is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t enum_marshal(const EnumDesc &E, H *h, uint32_t db, uint8_t *buf, const void *o, uint32_t len, uint32_t *err) {
    std::fprintf(stderr, "lomari: enum_marshal is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t enum_unmarshal(const EnumDesc &E, H *h, uint32_t db, const uint8_t *buf, void *o, uint32_t len, uint32_t in_place, uint32_t *err) {
    std::fprintf(stderr, "lomari: enum_unmarshal is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t obj_len(const TypeDesc &T, H *h, uint32_t db, const void *o) {
    std::fprintf(stderr, "lomari: obj_len is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t obj_marshal(const TypeDesc &T, H *h, uint32_t db, uint8_t *buf, const void *o, uint32_t len, uint32_t *err, bool check_variant) {
    std::fprintf(stderr, "lomari: obj_marshal is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t obj_unmarshal(const TypeDesc &T, H *h, uint32_t db, const uint8_t *buf, void *o, uint32_t len, uint32_t in_place, uint32_t *err) {
    std::fprintf(stderr, "lomari: obj_unmarshal is not built\n");
    std::abort();
}

__attribute__((weak)) void obj_clone_internal(const TypeDesc &T, H *h, uint32_t db, void *src, void **dst, uint8_t *buf, uint32_t buf_len, uint32_t *err) {
    std::fprintf(stderr, "lomari: obj_clone_internal is not built\n");
    std::abort();
}

__attribute__((weak)) void * obj_clone_cr(const TypeDesc &T, H *h, void *src) {
    std::fprintf(stderr, "lomari: obj_clone_cr is not built\n");
    std::abort();
}

__attribute__((weak)) void obj_post_copyout_cleanup(const TypeDesc &T, H *h, uint32_t db, void *dst, void *src) {
    std::fprintf(stderr, "lomari: obj_post_copyout_cleanup is not built\n");
    std::abort();
}

__attribute__((weak)) int32_t enum_compare(const void *a, const void *b) {
    std::fprintf(stderr, "lomari: enum_compare is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t enum_hash(const void *o, uint32_t seed) {
    std::fprintf(stderr, "lomari: enum_hash is not built\n");
    std::abort();
}

__attribute__((weak)) int32_t obj_compare(const TypeDesc &T, const void *a, const void *b) {
    std::fprintf(stderr, "lomari: obj_compare is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t obj_hash(const TypeDesc &T, const void *o, uint32_t seed) {
    std::fprintf(stderr, "lomari: obj_hash is not built\n");
    std::abort();
}

__attribute__((weak)) void * msg_create_shallow(const MessageDesc &M, H *h, uint32_t db) {
    std::fprintf(stderr, "lomari: msg_create_shallow is not built\n");
    std::abort();
}

__attribute__((weak)) void * msg_create(const MessageDesc &M, H *h, uint32_t db) {
    std::fprintf(stderr, "lomari: msg_create is not built\n");
    std::abort();
}

__attribute__((weak)) void * msg_create_cr(const MessageDesc &M, H *h) {
    std::fprintf(stderr, "lomari: msg_create_cr is not built\n");
    std::abort();
}

__attribute__((weak)) void msg_destroy(const MessageDesc &M, H *h, uint32_t db, void *m) {
    std::fprintf(stderr, "lomari: msg_destroy is not built\n");
    std::abort();
}

__attribute__((weak)) uint32_t msg_len(const MessageDesc &M, H *h, uint32_t db, void *m) {
    std::fprintf(stderr, "lomari: msg_len is not built\n");
    std::abort();
}

__attribute__((weak)) void * msg_body_get(const MessageDesc &M, int op, H *h, uint32_t db, void *m, uint32_t *err) {
    std::fprintf(stderr, "lomari: msg_body_get is not built\n");
    std::abort();
}

__attribute__((weak)) void msg_body_set(const MessageDesc &M, int op, H *h, uint32_t db, void *m, void *body, uint32_t *err) {
    std::fprintf(stderr, "lomari: msg_body_set is not built\n");
    std::abort();
}

}  // namespace lomari
