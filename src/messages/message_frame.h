// message_frame.h -- the frame every message object has, as the message
// families see it: object header, one further byte, the 16-byte message
// header the runtime turns into the wire header, and the body reference.
// Only the body's type differs between the nine messages.
#pragma once

#include <cstddef>

#include "frame/frame.h"
#include "lomari/lomari_types.h"
#include "qel/rt_msg.h"

namespace lomari {

struct MsgFrame {
    qel_type_info_t *tinfo;
    int8_t variant;
    uint8_t variant_cap;
    uint8_t flags;
    uint8_t msg_byte;
    lomari_msg_header header;
    void *body;
};
static_assert(sizeof(MsgFrame) == sizeof(::vep_tarnok_headers_message));
static_assert(offsetof(MsgFrame, header) == offsetof(::vep_tarnok_headers_message, header));
static_assert(offsetof(MsgFrame, body) == offsetof(::vep_tarnok_headers_message, vep_tarnok_body));
static_assert(offsetof(MsgFrame, variant) == offsetof(ObjHdr, variant) &&
              offsetof(MsgFrame, flags) == offsetof(ObjHdr, flags));
// The message header is the runtime's in-memory wire header.
static_assert(sizeof(lomari_msg_header) == sizeof(qel_msg_header_t) &&
              offsetof(lomari_msg_header, header_word) == offsetof(qel_msg_header_t, header_word) &&
              offsetof(lomari_msg_header, length) == offsetof(qel_msg_header_t, length));

inline MsgFrame *frame(void *m) { return static_cast<MsgFrame *>(m); }
inline qel_msg_header_t *wire_header(MsgFrame *f) {
    return reinterpret_cast<qel_msg_header_t *>(&f->header);
}

// Wire header and message identifier around the body.
inline constexpr uint32_t kMsgLuidLen = 16;
inline constexpr uint32_t kMsgEnvelopeLen = QEL_MSG_WIRE_HEADER_LEN + kMsgLuidLen;

}  // namespace lomari
