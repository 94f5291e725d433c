/*
 * messages.cpp -- the runtime's message services.
 *
 * Owns: the 27-byte wire header codec (layout in qel/rt_msg.h), the bundle
 * layer (validation and counting, with a refusal knob per step), the
 * message-suppression answer, the recorder's state and stream, the plain
 * memory helpers qellib_malloc/qellib_free with their fail knob, and the
 * object checks of table records (state-tracking flag of an encoding,
 * flags that keep an object out of a record).
 */
#include <cstdlib>

#include "internal.h"
#include "qel/codec_inline.h"
#include "qel/rt_control_msg.h"

using namespace qelrt;

namespace {

constexpr uint32_t kShort = 90;
constexpr uint32_t kInvalid = 22;
constexpr uint32_t kWordOff = 8, kLengthOff = 12, kVersionOff = 16;

struct MsgKnobs {
    std::atomic<int> refuse_step{0};
    std::atomic<uint32_t> refuse_code{0};
    std::atomic<int> suppress{0};
    std::atomic<int> recorder_on{0};
    std::atomic<FILE *> recorder_stream{nullptr};
    std::atomic<uint64_t> malloc_attempts{0};
    std::atomic<uint64_t> malloc_fail_at{0};
    std::atomic<uint32_t> bundle_count{0};
};
MsgKnobs g_msg;

void fail(qel_handle_t *h, uint32_t *err, uint32_t code) {
    if (err) *err = code;
    if (h) qel_store_err(h, code);
}

bool bundle_refuses(int step, qel_handle_t *h, uint32_t *err) {
    uint32_t code = g_msg.refuse_code.load(std::memory_order_relaxed);
    if (!code || g_msg.refuse_step.load(std::memory_order_relaxed) != step) return false;
    fail(h, err, code);
    return true;
}

} // namespace

namespace qelrt {
void msg_knobs_reset() {
    g_msg.refuse_step.store(0);
    g_msg.refuse_code.store(0);
    g_msg.suppress.store(0);
    g_msg.recorder_on.store(0);
    g_msg.recorder_stream.store(nullptr);
    g_msg.malloc_fail_at.store(0);
    g_msg.bundle_count.store(0);
}
} // namespace qelrt

extern "C" {

uint32_t _qel_message_header_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                                     const qel_msg_header_t *hdr, uint32_t len, uint32_t *err) {
    logc("_qel_message_header_marshal", w(h), dbid, w(buf), len);
    if (len < QEL_MSG_WIRE_HEADER_LEN) {
        fail(h, err, kShort);
        return 0;
    }
    std::memset(buf, 0, QEL_MSG_WIRE_HEADER_LEN);
    buf[0] = hdr->marker;
    std::memcpy(buf + 1, hdr->ff, sizeof hdr->ff);
    buf[7] = hdr->state_tracking;
    qel_wire_put32(buf + kWordOff, hdr->header_word);
    qel_wire_put32(buf + kLengthOff, hdr->length);
    buf[kVersionOff] = QEL_MSG_HEADER_VERSION;
    return QEL_MSG_WIRE_HEADER_LEN;
}

uint32_t _qel_message_header_unmarshal(qel_handle_t *h, uint32_t dbid, const uint8_t *buf,
                                       qel_msg_header_t *hdr, uint32_t len, uint32_t *err) {
    logc("_qel_message_header_unmarshal", w(h), dbid, w(buf), len);
    if (!buf || len < QEL_MSG_WIRE_HEADER_LEN) {
        fail(h, err, kShort);
        return 0;
    }
    static const uint8_t ff[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint32_t length = qel_wire_get32(buf + kLengthOff);
    if (buf[0] != QEL_MSG_MARKER || std::memcmp(buf + 1, ff, 6) != 0 ||
        length < QEL_MSG_WIRE_HEADER_LEN) {
        fail(h, err, kInvalid);
        return 0;
    }
    if (length > len) {
        fail(h, err, kShort);
        return 0;
    }
    hdr->marker = buf[0];
    std::memcpy(hdr->ff, buf + 1, 6);
    hdr->state_tracking = buf[7];
    hdr->header_word = qel_wire_get32(buf + kWordOff);
    hdr->length = length;
    return QEL_MSG_WIRE_HEADER_LEN;
}

void bundle_message_validate_add(qel_handle_t *h, uint32_t dbid, const uint8_t *luid,
                                 const char *name, uint32_t *err) {
    logc("bundle_message_validate_add", w(h), dbid, w(luid), w(name));
    bundle_refuses(1, h, err);
}

void bundle_message_increment_count(qel_handle_t *h, const uint8_t *luid, uint32_t *err) {
    logc("bundle_message_increment_count", w(h), w(luid));
    if (!bundle_refuses(2, h, err)) g_msg.bundle_count.fetch_add(1, std::memory_order_relaxed);
}

uint32_t qelrt_bundle_count(void) { return g_msg.bundle_count.load(); }

int qellib_suppress_messages_enabled(qel_handle_t *h) {
    logc("qellib_suppress_messages_enabled", w(h));
    return g_msg.suppress.load(std::memory_order_relaxed);
}

int qellib_msg_recorder_get_state(qel_handle_t *h) {
    logc("qellib_msg_recorder_get_state", w(h));
    return g_msg.recorder_on.load(std::memory_order_relaxed);
}

FILE *qellib_msg_recorder_get_handle(qel_handle_t *h) {
    logc("qellib_msg_recorder_get_handle", w(h));
    return g_msg.recorder_stream.load(std::memory_order_relaxed);
}

void *qellib_malloc(void *ctx, uint32_t dbid, uint32_t size) {
    logc("qellib_malloc", w(ctx), dbid, size);
    uint64_t k = g_msg.malloc_attempts.fetch_add(1, std::memory_order_relaxed) + 1;
    uint64_t at = g_msg.malloc_fail_at.load(std::memory_order_relaxed);
    if (at != 0 && k == at) return nullptr;
    return std::malloc(size ? size : 1);
}

void qellib_free(void *ctx, uint32_t dbid, void *p) {
    logc("qellib_free", w(ctx), dbid, w(p));
    std::free(p);
}

uint8_t qellib_type_header_get_state_tracking_flag(const uint8_t *encoding, uint32_t len) {
    logc("qellib_type_header_get_state_tracking_flag", w(encoding), len);
    constexpr uint8_t kTracked = 0x08;
    return encoding && len >= 2 && (encoding[1] & kTracked) ? 1 : 0;
}

uint32_t qellib_validate_object_flags(const void *obj, int check_nested, int check_embedded) {
    logc("qellib_validate_object_flags", w(obj), (uint64_t)check_nested, (uint64_t)check_embedded);
    constexpr size_t kFlagsOff = 10;
    constexpr uint8_t kEmbedded = 0x02, kNested = 0x04;
    if (!obj) return kInvalid;
    const uint8_t flags = static_cast<const uint8_t *>(obj)[kFlagsOff];
    if ((check_nested && (flags & kNested)) || (check_embedded && (flags & kEmbedded))) return kInvalid;
    return 0;
}

void qelrt_bundle_refuse(int step, uint32_t code) {
    g_msg.refuse_step.store(step);
    g_msg.refuse_code.store(code);
}
void qelrt_set_suppress_messages(int on) { g_msg.suppress.store(on); }
void qelrt_set_recorder(int on, FILE *stream) {
    g_msg.recorder_on.store(on);
    g_msg.recorder_stream.store(stream);
}
void qelrt_fail_qellib_malloc_at(uint64_t n) {
    g_msg.malloc_fail_at.store(n ? g_msg.malloc_attempts.load() + n : 0);
}

} // extern "C"
