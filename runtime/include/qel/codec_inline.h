/*
 * qel/codec_inline.h -- the runtime's fixed-width codecs, as inline code.
 *
 * This header owns the one definition of every binary codec of the
 * runtime: scalars (8, 16, 32 bits, characters), the list element count,
 * the instance header block (variant byte, flags byte, ra-data block) and
 * the variant jump.  The exported entry points (u_int32_marshal and the
 * rest, qel/runtime.h) are these same functions behind the call log; a
 * domain library that encodes many scalars per object includes this
 * header and gets them without a call per scalar.
 *
 * Semantics, identical in both forms: network byte order, fixed widths
 * (1, 2, 4, 1; list count and jump 4; ra-data 9), any buffer alignment.
 * Each checked codec returns the bytes written or read; with less room
 * than its width it writes or reads nothing, sets *err to 90 (when err is
 * not null), stores 90 in the handle with qel_store_err (when h is not
 * null) and returns 0.  A null output pointer of an unmarshal skips the
 * store but still consumes the bytes.
 *
 * The raw forms (qel_wire_put*, qel_wire_get*) do no room check at all:
 * they are for callers that have already made sure the whole encoding
 * fits.
 *
 * Plain C (C99 and later, and C++): every function is static, and all but
 * the short-room report are inline.
 */
#ifndef QEL_CODEC_INLINE_H
#define QEL_CODEC_INLINE_H

#include <stdint.h>
#include <string.h>

#include "qel/runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QEL_CODEC_SHORT 90u

#if defined(__GNUC__)
#define QEL_CI_UNLIKELY(x) __builtin_expect(!!(x), 0)
/* Out of line and cold; unused in a translation unit without complaint. */
#define QEL_CI_COLD static __attribute__((cold, noinline, unused))
#else
#define QEL_CI_UNLIKELY(x) (x)
#define QEL_CI_COLD static inline
#endif

/* ------------------------------------------------------------------ */
/* Raw network-order stores and loads                                  */
/* ------------------------------------------------------------------ */

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define QEL_WIRE_N16(x) __builtin_bswap16(x)
#define QEL_WIRE_N32(x) __builtin_bswap32(x)
#define QEL_WIRE_N64(x) __builtin_bswap64(x)
#elif defined(__GNUC__) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define QEL_WIRE_N16(x) (x)
#define QEL_WIRE_N32(x) (x)
#define QEL_WIRE_N64(x) (x)
#endif

static inline void qel_wire_put8(uint8_t *buf, uint8_t v) { buf[0] = v; }

#ifdef QEL_WIRE_N16
static inline void qel_wire_put16(uint8_t *buf, uint16_t v) {
    v = QEL_WIRE_N16(v);
    memcpy(buf, &v, sizeof v);
}
static inline void qel_wire_put32(uint8_t *buf, uint32_t v) {
    v = QEL_WIRE_N32(v);
    memcpy(buf, &v, sizeof v);
}
static inline void qel_wire_put64(uint8_t *buf, uint64_t v) {
    v = QEL_WIRE_N64(v);
    memcpy(buf, &v, sizeof v);
}
static inline uint16_t qel_wire_get16(const uint8_t *buf) {
    uint16_t v;
    memcpy(&v, buf, sizeof v);
    return (uint16_t)QEL_WIRE_N16(v);
}
static inline uint32_t qel_wire_get32(const uint8_t *buf) {
    uint32_t v;
    memcpy(&v, buf, sizeof v);
    return QEL_WIRE_N32(v);
}
static inline uint64_t qel_wire_get64(const uint8_t *buf) {
    uint64_t v;
    memcpy(&v, buf, sizeof v);
    return QEL_WIRE_N64(v);
}
#else
/* Byte by byte: right on any host whatever its byte order. */
static inline void qel_wire_put16(uint8_t *buf, uint16_t v) {
    buf[0] = (uint8_t)(v >> 8);
    buf[1] = (uint8_t)v;
}
static inline void qel_wire_put32(uint8_t *buf, uint32_t v) {
    buf[0] = (uint8_t)(v >> 24);
    buf[1] = (uint8_t)(v >> 16);
    buf[2] = (uint8_t)(v >> 8);
    buf[3] = (uint8_t)v;
}
static inline void qel_wire_put64(uint8_t *buf, uint64_t v) {
    qel_wire_put32(buf, (uint32_t)(v >> 32));
    qel_wire_put32(buf + 4, (uint32_t)v);
}
static inline uint16_t qel_wire_get16(const uint8_t *buf) {
    return (uint16_t)((uint16_t)buf[0] << 8 | buf[1]);
}
static inline uint32_t qel_wire_get32(const uint8_t *buf) {
    return (uint32_t)buf[0] << 24 | (uint32_t)buf[1] << 16 | (uint32_t)buf[2] << 8 | buf[3];
}
static inline uint64_t qel_wire_get64(const uint8_t *buf) {
    return (uint64_t)qel_wire_get32(buf) << 32 | qel_wire_get32(buf + 4);
}
#endif

static inline uint8_t qel_wire_get8(const uint8_t *buf) { return buf[0]; }

/* ------------------------------------------------------------------ */
/* Checked codecs                                                      */
/* ------------------------------------------------------------------ */

/* The short-room report, kept out of the callers' straight-line code. */
QEL_CI_COLD uint32_t qel_codec_short(qel_handle_t *h, uint32_t *err) {
    if (err)
        *err = QEL_CODEC_SHORT;
    if (h)
        qel_store_err(h, QEL_CODEC_SHORT);
    return 0;
}

static inline uint32_t qel_inline_u_int8_marshal(qel_handle_t *h, uint8_t *buf, uint8_t v,
                                                 uint32_t room, uint32_t *err) {
    if (QEL_CI_UNLIKELY(room < 1))
        return qel_codec_short(h, err);
    qel_wire_put8(buf, v);
    return 1;
}
static inline uint32_t qel_inline_u_int16_marshal(qel_handle_t *h, uint8_t *buf, uint16_t v,
                                                  uint32_t room, uint32_t *err) {
    if (QEL_CI_UNLIKELY(room < 2))
        return qel_codec_short(h, err);
    qel_wire_put16(buf, v);
    return 2;
}
static inline uint32_t qel_inline_u_int32_marshal(qel_handle_t *h, uint8_t *buf, uint32_t v,
                                                  uint32_t room, uint32_t *err) {
    if (QEL_CI_UNLIKELY(room < 4))
        return qel_codec_short(h, err);
    qel_wire_put32(buf, v);
    return 4;
}
static inline uint32_t qel_inline_char_marshal(qel_handle_t *h, uint8_t *buf, char v,
                                               uint32_t room, uint32_t *err) {
    return qel_inline_u_int8_marshal(h, buf, (uint8_t)v, room, err);
}

static inline uint32_t qel_inline_u_int8_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                   uint8_t *v, uint32_t room, uint32_t *err) {
    if (QEL_CI_UNLIKELY(room < 1))
        return qel_codec_short(h, err);
    if (v)
        *v = qel_wire_get8(buf);
    return 1;
}
static inline uint32_t qel_inline_u_int16_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                    uint16_t *v, uint32_t room, uint32_t *err) {
    if (QEL_CI_UNLIKELY(room < 2))
        return qel_codec_short(h, err);
    if (v)
        *v = qel_wire_get16(buf);
    return 2;
}
static inline uint32_t qel_inline_u_int32_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                    uint32_t *v, uint32_t room, uint32_t *err) {
    if (QEL_CI_UNLIKELY(room < 4))
        return qel_codec_short(h, err);
    if (v)
        *v = qel_wire_get32(buf);
    return 4;
}
static inline uint32_t qel_inline_char_unmarshal(qel_handle_t *h, const uint8_t *buf, char *v,
                                                 uint32_t room, uint32_t *err) {
    return qel_inline_u_int8_unmarshal(h, buf, (uint8_t *)v, room, err);
}

/* List element count: 4 bytes. */
static inline uint32_t qel_inline_list_len_marshal(qel_handle_t *h, uint8_t *buf, uint32_t count,
                                                   uint32_t room, uint32_t *err) {
    return qel_inline_u_int32_marshal(h, buf, count, room, err);
}
static inline uint32_t qel_inline_list_len_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                     uint32_t *count, uint32_t room,
                                                     uint32_t *err) {
    return qel_inline_u_int32_unmarshal(h, buf, count, room, err);
}

/* Instance header block: the variant byte and the flags byte. */
static inline uint32_t qel_inline_variant_marshal(qel_handle_t *h, uint8_t *buf, int8_t variant,
                                                  uint32_t room, uint32_t *err) {
    return qel_inline_u_int8_marshal(h, buf, (uint8_t)variant, room, err);
}
static inline uint32_t qel_inline_variant_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                    int8_t *variant, uint32_t room,
                                                    uint32_t *err) {
    return qel_inline_u_int8_unmarshal(h, buf, (uint8_t *)variant, room, err);
}
static inline uint32_t qel_inline_obj_flag_marshal(qel_handle_t *h, uint8_t *buf, uint8_t flags,
                                                   uint32_t room, uint32_t *err) {
    return qel_inline_u_int8_marshal(h, buf, flags, room, err);
}
static inline uint32_t qel_inline_obj_flag_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                     uint8_t *flags, uint32_t room,
                                                     uint32_t *err) {
    return qel_inline_u_int8_unmarshal(h, buf, flags, room, err);
}

/* ra-data block: the 64-bit value, then the byte. */
#define QEL_RA_DATA_LEN 9u
static inline uint32_t qel_inline_ra_data_marshal(qel_handle_t *h, uint8_t *buf, uint64_t value,
                                                  uint8_t byte, uint32_t room, uint32_t *err) {
    if (QEL_CI_UNLIKELY(room < QEL_RA_DATA_LEN))
        return qel_codec_short(h, err);
    qel_wire_put64(buf, value);
    buf[8] = byte;
    return QEL_RA_DATA_LEN;
}
static inline uint32_t qel_inline_ra_data_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                    uint64_t *value, uint8_t *byte,
                                                    uint32_t room, uint32_t *err) {
    if (QEL_CI_UNLIKELY(room < QEL_RA_DATA_LEN))
        return qel_codec_short(h, err);
    if (value)
        *value = qel_wire_get64(buf);
    if (byte)
        *byte = buf[8];
    return QEL_RA_DATA_LEN;
}

/* Variant jump: 4 bytes. */
static inline uint32_t qel_inline_variant_jump_marshal(qel_handle_t *h, uint8_t *buf,
                                                       uint32_t jump, uint32_t room,
                                                       uint32_t *err) {
    return qel_inline_u_int32_marshal(h, buf, jump, room, err);
}
static inline uint32_t qel_inline_variant_jump_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                                         uint32_t *jump, uint32_t room,
                                                         uint32_t *err) {
    return qel_inline_u_int32_unmarshal(h, buf, jump, room, err);
}

#ifdef __cplusplus
}
#endif

#endif /* QEL_CODEC_INLINE_H */
