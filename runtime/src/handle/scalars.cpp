/*
 * scalars.cpp -- scalar objects and the fixed-width codecs.
 *
 * Owns: u_int8/16/32 accessors (a scalar object is the address of its
 * value; setters announce the write through the handle's write hook
 * first), and every codec of the binary encoder: scalars, characters, the
 * list length, the instance header block (variant, flags, ra-data) and the
 * variant jump.  The codecs themselves are defined once, inline, in
 * qel/codec_inline.h (network byte order, any alignment; with less room
 * than its width a codec touches nothing, sets *err to 90, stores 90 in
 * the handle and returns 0); each exported entry point here is that inline
 * form behind the call log.
 *
 * On success the only extra work of an exported codec is one relaxed load
 * of the logging flag; the short-room path is out of line.
 */
#include <cstring>

#include "internal.h"
#include "qel/codec_inline.h"

using namespace qelrt;

#define RT_HOT __attribute__((hot))

namespace {

constexpr uint32_t kNotFound = 2;

template <class T>
inline T get_value(const char *fn, qel_handle_t *h, uint32_t dbid, const T *obj,
                   uint32_t *err) {
    logc(fn, w(h), dbid, w(obj));
    if (RT_UNLIKELY(!obj)) {
        if (err)
            *err = kNotFound;
        return 0;
    }
    return *obj;
}

template <class T>
inline void set_value(const char *fn, qel_handle_t *h, uint32_t dbid, T *obj,
                      uint32_t v, uint32_t *err) {
    logc(fn, w(h), dbid, w(obj), v);
    if (RT_UNLIKELY(!obj)) {
        if (err)
            *err = kNotFound;
        return;
    }
    if (h && h->write_hook_fn)
        h->write_hook_fn(h, obj, sizeof(T), dbid, nullptr);
    *obj = static_cast<T>(v);
}

template <class T>
inline void set_from(const char *fn, qel_handle_t *h, uint32_t dbid, T *dst,
                     const T *src, uint32_t *err) {
    logc(fn, w(h), dbid, w(dst), w(src));
    if (RT_UNLIKELY(!dst || !src)) {
        if (err)
            *err = kNotFound;
        return;
    }
    if (h && h->write_hook_fn)
        h->write_hook_fn(h, dst, sizeof(T), dbid, nullptr);
    *dst = *src;
}

} // namespace

extern "C" {

/* ---- scalar objects ---------------------------------------------------- */

u_int8 *u_int8_get(qel_handle_t *h, uint32_t dbid, void *field) {
    logc("u_int8_get", w(h), dbid, w(field));
    return static_cast<u_int8 *>(field);
}
u_int16 *u_int16_get(qel_handle_t *h, uint32_t dbid, void *field) {
    logc("u_int16_get", w(h), dbid, w(field));
    return static_cast<u_int16 *>(field);
}
u_int32 *u_int32_get(qel_handle_t *h, uint32_t dbid, void *field) {
    logc("u_int32_get", w(h), dbid, w(field));
    return static_cast<u_int32 *>(field);
}

uint8_t u_int8_get_value(qel_handle_t *h, uint32_t dbid, const u_int8 *obj,
                         uint32_t *err) {
    return get_value("u_int8_get_value", h, dbid, obj, err);
}
uint16_t u_int16_get_value(qel_handle_t *h, uint32_t dbid, const u_int16 *obj,
                           uint32_t *err) {
    return get_value("u_int16_get_value", h, dbid, obj, err);
}
uint32_t u_int32_get_value(qel_handle_t *h, uint32_t dbid, const u_int32 *obj,
                           uint32_t *err) {
    return get_value("u_int32_get_value", h, dbid, obj, err);
}

void u_int8_set_value(qel_handle_t *h, uint32_t dbid, u_int8 *obj, uint32_t v,
                      uint32_t *err) {
    set_value("u_int8_set_value", h, dbid, obj, v, err);
}
void u_int16_set_value(qel_handle_t *h, uint32_t dbid, u_int16 *obj, uint32_t v,
                       uint32_t *err) {
    set_value("u_int16_set_value", h, dbid, obj, v, err);
}
void u_int32_set_value(qel_handle_t *h, uint32_t dbid, u_int32 *obj, uint32_t v,
                       uint32_t *err) {
    set_value("u_int32_set_value", h, dbid, obj, v, err);
}

void u_int8_set(qel_handle_t *h, uint32_t dbid, u_int8 *dst, const u_int8 *src,
                uint32_t *err) {
    set_from("u_int8_set", h, dbid, dst, src, err);
}
void u_int16_set(qel_handle_t *h, uint32_t dbid, u_int16 *dst, const u_int16 *src,
                 uint32_t *err) {
    set_from("u_int16_set", h, dbid, dst, src, err);
}
void u_int32_set(qel_handle_t *h, uint32_t dbid, u_int32 *dst, const u_int32 *src,
                 uint32_t *err) {
    set_from("u_int32_set", h, dbid, dst, src, err);
}

/* ---- scalar codecs ----------------------------------------------------- */

/* Each exported codec is its inline form (qel/codec_inline.h) behind the
 * call log. */

uint32_t u_int8_len(void) { return 1; }
uint32_t u_int16_len(void) { return 2; }
uint32_t u_int32_len(void) { return 4; }
uint32_t char_len(void) { return 1; }

RT_HOT uint32_t u_int8_marshal(qel_handle_t *h, uint32_t /*dbid*/, uint8_t *buf,
                               const u_int8 *v, uint32_t room, uint32_t *err) {
    logc("u_int8_marshal", w(h), w(buf), *v, room);
    return qel_inline_u_int8_marshal(h, buf, *v, room, err);
}
RT_HOT uint32_t u_int16_marshal(qel_handle_t *h, uint32_t /*dbid*/, uint8_t *buf,
                                const u_int16 *v, uint32_t room, uint32_t *err) {
    logc("u_int16_marshal", w(h), w(buf), *v, room);
    return qel_inline_u_int16_marshal(h, buf, *v, room, err);
}
RT_HOT uint32_t u_int32_marshal(qel_handle_t *h, uint32_t /*dbid*/, uint8_t *buf,
                                const u_int32 *v, uint32_t room, uint32_t *err) {
    logc("u_int32_marshal", w(h), w(buf), *v, room);
    return qel_inline_u_int32_marshal(h, buf, *v, room, err);
}
RT_HOT uint32_t char_marshal(qel_handle_t *h, uint32_t /*dbid*/, uint8_t *buf,
                             const char *v, uint32_t room, uint32_t *err) {
    logc("char_marshal", w(h), w(buf), static_cast<uint8_t>(*v), room);
    return qel_inline_char_marshal(h, buf, *v, room, err);
}

RT_HOT uint32_t u_int8_unmarshal(qel_handle_t *h, uint32_t /*dbid*/, const uint8_t *buf,
                                 u_int8 *v, uint32_t room, int /*in_place*/,
                                 uint32_t *err) {
    logc("u_int8_unmarshal", w(h), w(buf), w(v), room);
    return qel_inline_u_int8_unmarshal(h, buf, v, room, err);
}
RT_HOT uint32_t u_int16_unmarshal(qel_handle_t *h, uint32_t /*dbid*/, const uint8_t *buf,
                                  u_int16 *v, uint32_t room, int /*in_place*/,
                                  uint32_t *err) {
    logc("u_int16_unmarshal", w(h), w(buf), w(v), room);
    return qel_inline_u_int16_unmarshal(h, buf, v, room, err);
}
RT_HOT uint32_t u_int32_unmarshal(qel_handle_t *h, uint32_t /*dbid*/, const uint8_t *buf,
                                  u_int32 *v, uint32_t room, int /*in_place*/,
                                  uint32_t *err) {
    logc("u_int32_unmarshal", w(h), w(buf), w(v), room);
    return qel_inline_u_int32_unmarshal(h, buf, v, room, err);
}
RT_HOT uint32_t char_unmarshal(qel_handle_t *h, uint32_t /*dbid*/, const uint8_t *buf,
                               char *v, uint32_t room, int /*in_place*/, uint32_t *err) {
    logc("char_unmarshal", w(h), w(buf), w(v), room);
    return qel_inline_char_unmarshal(h, buf, v, room, err);
}

/* ---- structural codecs --------------------------------------------------- */

RT_HOT uint32_t _qel_list_len_marshal(qel_handle_t *h, uint8_t *buf, uint32_t count,
                                      uint32_t room, uint32_t *err) {
    logc("_qel_list_len_marshal", w(h), w(buf), count, room);
    return qel_inline_list_len_marshal(h, buf, count, room, err);
}
RT_HOT uint32_t _qel_list_len_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                        uint32_t *count, uint32_t room, uint32_t *err) {
    logc("_qel_list_len_unmarshal", w(h), w(buf), w(count), room);
    return qel_inline_list_len_unmarshal(h, buf, count, room, err);
}

RT_HOT uint32_t _qel_instance_variant_marshal(qel_handle_t *h, uint8_t *buf,
                                              int8_t variant, uint32_t room,
                                              uint32_t *err) {
    logc("_qel_instance_variant_marshal", w(h), w(buf), static_cast<uint8_t>(variant), room);
    return qel_inline_variant_marshal(h, buf, variant, room, err);
}
RT_HOT uint32_t _qel_instance_variant_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                int8_t *variant, uint32_t room,
                                                uint32_t *err) {
    logc("_qel_instance_variant_unmarshal", w(h), w(buf), w(variant), room);
    return qel_inline_variant_unmarshal(h, buf, variant, room, err);
}

RT_HOT uint32_t _qel_instance_obj_flag_marshal(qel_handle_t *h, uint8_t *buf,
                                               uint8_t flags, uint32_t room,
                                               uint32_t *err) {
    logc("_qel_instance_obj_flag_marshal", w(h), w(buf), flags, room);
    return qel_inline_obj_flag_marshal(h, buf, flags, room, err);
}
RT_HOT uint32_t _qel_instance_obj_flag_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                 uint8_t *flags, uint32_t room,
                                                 uint32_t *err) {
    logc("_qel_instance_obj_flag_unmarshal", w(h), w(buf), w(flags), room);
    return qel_inline_obj_flag_unmarshal(h, buf, flags, room, err);
}

/* ra-data block: the 64-bit value big-endian, then the byte. */
RT_HOT uint32_t _qel_instance_ra_data_marshal(qel_handle_t *h, uint8_t *buf,
                                              uint64_t value, uint8_t byte,
                                              uint32_t room, uint32_t *err) {
    logc("_qel_instance_ra_data_marshal", w(h), w(buf), value, room);
    return qel_inline_ra_data_marshal(h, buf, value, byte, room, err);
}
RT_HOT uint32_t _qel_instance_ra_data_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                uint64_t *value, uint8_t *byte,
                                                uint32_t room, uint32_t *err) {
    logc("_qel_instance_ra_data_unmarshal", w(h), w(buf), w(value), room);
    return qel_inline_ra_data_unmarshal(h, buf, value, byte, room, err);
}

RT_HOT uint32_t _qel_variant_jump_marshal(qel_handle_t *h, uint8_t *buf, uint32_t jump,
                                          uint32_t room, uint32_t *err) {
    logc("_qel_variant_jump_marshal", w(h), w(buf), jump, room);
    return qel_inline_variant_jump_marshal(h, buf, jump, room, err);
}
RT_HOT uint32_t _qel_variant_jump_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                            uint32_t *jump, uint32_t room,
                                            uint32_t *err) {
    logc("_qel_variant_jump_unmarshal", w(h), w(buf), w(jump), room);
    return qel_inline_variant_jump_unmarshal(h, buf, jump, room, err);
}

} // extern "C"
