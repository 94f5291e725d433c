/*
 * qel/rt_msg.h -- the runtime's message services: the wire header of a
 * message or table record, the bundle layer, message suppression, the
 * message recorder, and the two object checks table records make of their
 * field objects.
 *
 * Wire header (QEL_MSG_WIRE_HEADER_LEN = 27 bytes), written last by the
 * sender and read first by the receiver:
 *
 *   offset  size  content
 *        0     1  marker 0xBC
 *        1     6  six bytes 0xFF
 *        7     1  state-tracking byte: 1 when the sender tracks state
 *        8     4  header word (network order): the sending handle's word
 *       12     4  length (network order): the whole envelope, header included
 *       16     1  header format version (1)
 *       17    10  reserved, zero
 *
 * The in-memory form is the 16-byte header every message object carries
 * (marker, six 0xFF, state byte, header word, length: qel_msg_header_t).
 */
#ifndef QEL_RT_MSG_H
#define QEL_RT_MSG_H

#include <stdint.h>
#include <stdio.h>

#include "qel/runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QEL_MSG_WIRE_HEADER_LEN 27u
#define QEL_MSG_MARKER 0xBCu
#define QEL_MSG_HEADER_VERSION 1u

typedef struct qel_msg_header {
    uint8_t marker;
    uint8_t ff[6];
    uint8_t state_tracking;
    uint32_t header_word;
    uint32_t length;
} qel_msg_header_t;

/* Writes the 27-byte wire header from hdr.  With len below 27 it writes
 * nothing, sets *err to 90 (output too short) and returns 0; otherwise it
 * returns 27. */
QEL_RT_API uint32_t _qel_message_header_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                                                const qel_msg_header_t *hdr, uint32_t len,
                                                uint32_t *err);
/* Reads a wire header into hdr and returns 27.  Refused, with nothing
 * stored in hdr and 0 returned: fewer than 27 bytes, or a length field
 * larger than the bytes given (*err 90); a marker other than 0xBC, other
 * than six 0xFF bytes, or a length field below 27 (*err 22). */
QEL_RT_API uint32_t _qel_message_header_unmarshal(qel_handle_t *h, uint32_t dbid,
                                                  const uint8_t *buf, qel_msg_header_t *hdr,
                                                  uint32_t len, uint32_t *err);

/* Bundles: while h->bundle_active is set, a marshalled message is first
 * validated for the bundle being built, then counted in it.  Each sets
 * *err when the bundle refuses the message (see qelrt_bundle_refuse). */
QEL_RT_API void bundle_message_validate_add(qel_handle_t *h, uint32_t dbid, const uint8_t *luid,
                                            const char *name, uint32_t *err);
QEL_RT_API void bundle_message_increment_count(qel_handle_t *h, const uint8_t *luid,
                                               uint32_t *err);
/* Messages added and counted in the current bundle since the last reset. */
QEL_RT_API uint32_t qelrt_bundle_count(void);

/* Non-zero while marshalling failures are to be traced at debug level. */
QEL_RT_API int qellib_suppress_messages_enabled(qel_handle_t *h);

/* The message recorder: on while get_state answers non-zero; records go
 * to the stream get_handle answers (null: no stream). */
QEL_RT_API int qellib_msg_recorder_get_state(qel_handle_t *h);
QEL_RT_API FILE *qellib_msg_recorder_get_handle(qel_handle_t *h);

/* The state-tracking flag of an object from its binary encoding: bit 0x08
 * of the flags byte that follows the variant byte.  1 when set, 0 when not
 * or when fewer than two bytes are given. */
QEL_RT_API uint8_t qellib_type_header_get_state_tracking_flag(const uint8_t *encoding, uint32_t len);

/* Whether an object may be placed into a record: 0 when it may, 22 when
 * check_nested is set and the object is nested in another (flag 0x04), when
 * check_embedded is set and it is already embedded (flag 0x02), or when the
 * object is null. */
QEL_RT_API uint32_t qellib_validate_object_flags(const void *obj, int check_nested, int check_embedded);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_MSG_H */
