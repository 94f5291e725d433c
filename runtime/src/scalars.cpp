/*
 * scalars.cpp -- scalar objects and the fixed-width codecs.
 *
 * Owns: u_int8/16/32 accessors (a scalar object is the address of its
 * value; setters announce the write through the handle's write hook
 * first), and every codec of the binary encoder: scalars, characters, the
 * list length, the instance header block (variant, flags, ra-data) and the
 * variant jump.  All codecs write network byte order through memcpy, so
 * any buffer alignment is fine.  A codec with less room than its width
 * touches nothing, sets *err to 90, stores 90 in the handle and returns 0.
 *
 * These are the encoder's hot path: the only extra work on success is one
 * relaxed load of the logging flag; the short-room path is out of line.
 */
#include <bit>
#include <cstring>

#include "internal.h"

using namespace qelrt;

#define RT_HOT __attribute__((hot))

namespace {

constexpr uint32_t kShort = 90;
constexpr uint32_t kNotFound = 2;

template <class T> inline T to_net(T v) {
    if constexpr (std::endian::native == std::endian::big || sizeof(T) == 1)
        return v;
    else if constexpr (sizeof(T) == 2)
        return static_cast<T>(__builtin_bswap16(v));
    else if constexpr (sizeof(T) == 4)
        return static_cast<T>(__builtin_bswap32(v));
    else
        return static_cast<T>(__builtin_bswap64(v));
}

template <class T> inline void put(uint8_t *buf, T v) {
    v = to_net(v);
    std::memcpy(buf, &v, sizeof v);
}

template <class T> inline T get(const uint8_t *buf) {
    T v;
    std::memcpy(&v, buf, sizeof v);
    return to_net(v);
}

__attribute__((cold, noinline)) uint32_t short_room(qel_handle_t *h, uint32_t *err) {
    if (err)
        *err = kShort;
    if (h)
        qel_store_err(h, kShort);
    return 0;
}

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

template <class T>
RT_HOT inline uint32_t marshal(const char *fn, qel_handle_t *h, uint8_t *buf,
                               T v, uint32_t room, uint32_t *err) {
    logc(fn, w(h), w(buf), static_cast<uint64_t>(v), room);
    if (RT_UNLIKELY(room < sizeof(T)))
        return short_room(h, err);
    put(buf, v);
    return sizeof(T);
}

template <class T>
RT_HOT inline uint32_t unmarshal(const char *fn, qel_handle_t *h, const uint8_t *buf,
                                 T *out, uint32_t room, uint32_t *err) {
    logc(fn, w(h), w(buf), w(out), room);
    if (RT_UNLIKELY(room < sizeof(T)))
        return short_room(h, err);
    if (out)
        *out = get<T>(buf);
    return sizeof(T);
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

uint32_t u_int8_len(void) { return 1; }
uint32_t u_int16_len(void) { return 2; }
uint32_t u_int32_len(void) { return 4; }
uint32_t char_len(void) { return 1; }

RT_HOT uint32_t u_int8_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                               const u_int8 *v, uint32_t room, uint32_t *err) {
    return marshal<uint8_t>("u_int8_marshal", h, buf, *v, room, err);
}
RT_HOT uint32_t u_int16_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                                const u_int16 *v, uint32_t room, uint32_t *err) {
    return marshal<uint16_t>("u_int16_marshal", h, buf, *v, room, err);
}
RT_HOT uint32_t u_int32_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                                const u_int32 *v, uint32_t room, uint32_t *err) {
    return marshal<uint32_t>("u_int32_marshal", h, buf, *v, room, err);
}
RT_HOT uint32_t char_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                             const char *v, uint32_t room, uint32_t *err) {
    return marshal<uint8_t>("char_marshal", h, buf, static_cast<uint8_t>(*v), room, err);
}

RT_HOT uint32_t u_int8_unmarshal(qel_handle_t *h, uint32_t dbid, const uint8_t *buf,
                                 u_int8 *v, uint32_t room, int in_place,
                                 uint32_t *err) {
    return unmarshal<uint8_t>("u_int8_unmarshal", h, buf, v, room, err);
}
RT_HOT uint32_t u_int16_unmarshal(qel_handle_t *h, uint32_t dbid, const uint8_t *buf,
                                  u_int16 *v, uint32_t room, int in_place,
                                  uint32_t *err) {
    return unmarshal<uint16_t>("u_int16_unmarshal", h, buf, v, room, err);
}
RT_HOT uint32_t u_int32_unmarshal(qel_handle_t *h, uint32_t dbid, const uint8_t *buf,
                                  u_int32 *v, uint32_t room, int in_place,
                                  uint32_t *err) {
    return unmarshal<uint32_t>("u_int32_unmarshal", h, buf, v, room, err);
}
RT_HOT uint32_t char_unmarshal(qel_handle_t *h, uint32_t dbid, const uint8_t *buf,
                               char *v, uint32_t room, int in_place, uint32_t *err) {
    return unmarshal<uint8_t>("char_unmarshal", h, buf, reinterpret_cast<uint8_t *>(v),
                              room, err);
}

/* ---- structural codecs --------------------------------------------------- */

RT_HOT uint32_t _qel_list_len_marshal(qel_handle_t *h, uint8_t *buf, uint32_t count,
                                      uint32_t room, uint32_t *err) {
    return marshal<uint32_t>("_qel_list_len_marshal", h, buf, count, room, err);
}
RT_HOT uint32_t _qel_list_len_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                        uint32_t *count, uint32_t room, uint32_t *err) {
    return unmarshal<uint32_t>("_qel_list_len_unmarshal", h, buf, count, room, err);
}

RT_HOT uint32_t _qel_instance_variant_marshal(qel_handle_t *h, uint8_t *buf,
                                              int8_t variant, uint32_t room,
                                              uint32_t *err) {
    return marshal<uint8_t>("_qel_instance_variant_marshal", h, buf,
                            static_cast<uint8_t>(variant), room, err);
}
RT_HOT uint32_t _qel_instance_variant_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                int8_t *variant, uint32_t room,
                                                uint32_t *err) {
    return unmarshal<uint8_t>("_qel_instance_variant_unmarshal", h, buf,
                              reinterpret_cast<uint8_t *>(variant), room, err);
}

RT_HOT uint32_t _qel_instance_obj_flag_marshal(qel_handle_t *h, uint8_t *buf,
                                               uint8_t flags, uint32_t room,
                                               uint32_t *err) {
    return marshal<uint8_t>("_qel_instance_obj_flag_marshal", h, buf, flags, room, err);
}
RT_HOT uint32_t _qel_instance_obj_flag_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                 uint8_t *flags, uint32_t room,
                                                 uint32_t *err) {
    return unmarshal<uint8_t>("_qel_instance_obj_flag_unmarshal", h, buf, flags, room,
                              err);
}

/* ra-data block: the 64-bit value big-endian, then the byte. */
RT_HOT uint32_t _qel_instance_ra_data_marshal(qel_handle_t *h, uint8_t *buf,
                                              uint64_t value, uint8_t byte,
                                              uint32_t room, uint32_t *err) {
    logc("_qel_instance_ra_data_marshal", w(h), w(buf), value, room);
    if (RT_UNLIKELY(room < 9))
        return short_room(h, err);
    put(buf, value);
    buf[8] = byte;
    return 9;
}
RT_HOT uint32_t _qel_instance_ra_data_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                uint64_t *value, uint8_t *byte,
                                                uint32_t room, uint32_t *err) {
    logc("_qel_instance_ra_data_unmarshal", w(h), w(buf), w(value), room);
    if (RT_UNLIKELY(room < 9))
        return short_room(h, err);
    if (value)
        *value = get<uint64_t>(buf);
    if (byte)
        *byte = buf[8];
    return 9;
}

RT_HOT uint32_t _qel_variant_jump_marshal(qel_handle_t *h, uint8_t *buf, uint32_t jump,
                                          uint32_t room, uint32_t *err) {
    return marshal<uint32_t>("_qel_variant_jump_marshal", h, buf, jump, room, err);
}
RT_HOT uint32_t _qel_variant_jump_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                            uint32_t *jump, uint32_t room,
                                            uint32_t *err) {
    return unmarshal<uint32_t>("_qel_variant_jump_unmarshal", h, buf, jump, room, err);
}

} // extern "C"
