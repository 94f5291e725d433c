// message_codec.cpp -- messages on the wire: the envelope, the domain
// check, bundle bookkeeping, dispatch to handlers and the recorder, written
// once over MessageDesc.
//
// Also the message-level renderings: text (the body's block inside a
// "message@<name>" frame), XML (the body's element inside an element named
// after the message) and the reading of a message from a parsed document.
//
// Envelope: the runtime's 27-byte wire header (written last, once the whole
// length is known), the message type's 16-byte identifier, then the body's
// binary encoding.  Receiving builds a message without body, reads the
// header, steps over the identifier, creates the body and decodes it; the
// message then goes to the recorder (when on) and to a handler.
#include <cstdio>
#include <cstring>

#include "messages/message_codec.h"

#include "codec/binary.h"
#include "codec/render.h"
#include "frame/entry.h"
#include "messages/message_frame.h"
#include "messages/message_object.h"
#include "types/lifecycle.h"

namespace lomari {

namespace {

constexpr uint32_t kHeaderLen = QEL_MSG_WIRE_HEADER_LEN;
constexpr uint32_t kLuidLen = kMsgLuidLen;
constexpr uint32_t kEnvelopeLen = kMsgEnvelopeLen;

inline uint32_t pt(const MessageDesc &M, tp::msg::Point p) { return tpi(M, p); }

// The start of every entry: an error already present is traced at the
// entry's own point (quoting the message name first where the point does)
// and nothing happens; otherwise the runtime's last error is cleared.
bool begin_entry(const MessageDesc &M, tp::msg::Point p, H *h, const uint32_t *err) {
    if (*err) {
        const bool named = p == tp::msg::unmarshal_err || p == tp::msg::unmarshal_only_err;
        named ? trace_ss(kTrace0, pt(M, p), M.name, err_text(*err)) : trace_s(kTrace0, pt(M, p), err_text(*err));
        return false;
    }
    qel_inline_clear_last_error(h);
    return true;
}

constexpr uint32_t kRecordRoom = 65536;
constexpr const char *kRecordTag = "lomari";

}  // namespace

uint32_t msg_marshal(const MessageDesc &M, H *h, uint32_t db, uint8_t *buf, void *m, uint32_t len,
                     uint32_t *err) {
    if (!begin_entry(M, tp::msg::marshal_err, h, err)) return 0;
    MsgFrame *f = frame(m);
    if (!f || !buf) {
        report(h, err, LOMARI_ERR_INVALID);
        return 0;
    }
    if (!qel_domain_lookup_message_ok(h, &h->domain, f->tinfo, err)) {
        trace_sss(kTrace0, pt(M, tp::msg::domainfail), M.name, M.ti->signature, h->domain_name);
        qel_store_epoch_err(h, LOMARI_ERR_DOMAIN, err);
        return 0;
    }
    const uint8_t *luid = M.ti->luid;
    if (h->bundle_active) {
        bundle_message_validate_add(h, db, luid, M.name_text, err);
        if (*err) {
            trace_ss(kTrace0, pt(M, tp::msg::bundle_invalid), M.name, err_text(*err));
            return 0;
        }
    } else if (*err) {
        return 0;
    }
    uint32_t cursor = 0;
    bool header_room = false;
    if (len < kHeaderLen) {
        report(h, err, LOMARI_ERR_SHORT);
    } else {
        std::memset(buf, 0, kHeaderLen);
        cursor = kHeaderLen;
        header_room = true;
    }
    if (!*err) {
        if (len - cursor < kLuidLen) {
            report(h, err, LOMARI_ERR_SHORT);
        } else {
            std::memcpy(buf + cursor, luid, kLuidLen);
            cursor += kLuidLen;
        }
    }
    uint32_t total = cursor;
    if (!*err) total += obj_marshal(*M.body, h, db, buf + cursor, f->body, len - cursor, err, true);
    if (*err) {
        const auto p = qellib_suppress_messages_enabled(h) ? tp::msg::marshal_fail_quiet
                                                           : tp::msg::marshal_fail;
        trace_ss(kTrace0, pt(M, p), M.name, err_text(*err));
        return total;
    }
    if (h->bundle_active) {
        bundle_message_increment_count(h, luid, err);
        if (*err) trace_ss(kTrace0, pt(M, tp::msg::bundle_missing), M.name, err_text(*err));
    }
    if (header_room && !*err) {
        f->header.length = total;
        f->header.header_word = h->header_word;
        _qel_message_header_marshal(h, db, buf, wire_header(f), kHeaderLen, err);
    }
    return total;
}

// Builds a message from an envelope.  The body is decoded from the bytes
// the header's length covers, never from bytes past it: what follows the
// envelope is the caller's (a stream of envelopes can be walked by the
// counts returned).  Departures made for hostile input: an envelope too
// short to hold the identifier, or whose body ends before the length the
// header gives, is refused with LOMARI_ERR_INVALID; the message built so
// far is still handed out, as for any decoding error.
uint32_t msg_unmarshal_only(const MessageDesc &M, H *h, uint32_t db, void **ref, const uint8_t *buf,
                            uint32_t len, uint32_t *err) {
    if (!begin_entry(M, tp::msg::unmarshal_only_err, h, err)) return 0;
    MsgFrame *f = frame(msg_create_shallow(M, h, db));
    if (!f) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return 0;
    }
    // The identifier counts only in an envelope that holds it: a short
    // envelope never reports more bytes than it had.
    uint32_t count = _qel_message_header_unmarshal(h, db, buf, wire_header(f), len, err);
    if (!*err && f->header.length < kEnvelopeLen) report(h, err, LOMARI_ERR_INVALID);
    if (!*err) count += kLuidLen;
    f->body = obj_create_internal(*M.body, h, db);
    if (!f->body) report(h, err, LOMARI_ERR_NO_MEMORY);
    if (!*err) {
        const uint32_t end = f->header.length;
        count += obj_unmarshal(*M.body, h, db, buf + count, f->body, end - count, 0, err);
        if (!*err && count != end) report(h, err, LOMARI_ERR_INVALID);
    }
    if (ref)
        *ref = f;
    else
        msg_destroy(M, h, db, f);
    return count;
}

// Receives a message and hands it on.  Ownership afterwards: with a
// reference given, the caller owns the message through it (a handler may
// look at it but must not destroy it); without one, the handler owns it.
// A message that nobody can own -- no reference and no handler, given or
// the application's -- is released after NO_HANDLER is reported: a
// deliberate departure from handing it out, since nothing could ever
// reach it again.
uint32_t msg_unmarshal(const MessageDesc &M, H *h, uint32_t db, uint64_t ctx, void **ref,
                       const uint8_t *buf, uint32_t len, MsgHandlerFn handler,
                       uint32_t *err) {
    if (!begin_entry(M, tp::msg::unmarshal_err, h, err)) return 0;
    if (ref) *ref = nullptr;
    void *m = nullptr;
    const uint32_t count = msg_unmarshal_only(M, h, db, &m, buf, len, err);
    if (*err) {
        // A message that failed to decode is never handed out: release it.
        msg_destroy(M, h, db, m);
        return count;
    }
    if (ref) *ref = m;
    if (qellib_msg_recorder_get_state(h)) msg_record(M, h, db, m);
    if (handler) {
        handler(h, db, ctx, m, err);
    } else if (M.app_handler) {
        M.app_handler(h, db, ctx, m, err);
    } else {
        report(h, err, LOMARI_ERR_NO_HANDLER);
        trace0(kTrace0, pt(M, tp::msg::default_handler));
        if (!ref) msg_destroy(M, h, db, m);
    }
    return count;
}

// Records a received message: its XML inside a time-stamped "lomari"
// element, written to the recorder's stream with one fwrite.  Recording
// has its own error word; neither the caller's error word nor the
// handle's stored error is changed by it, and dispatch follows whatever
// happens here (only a missing buffer ends the process).
void msg_record(const MessageDesc &M, H *h, uint32_t db, void *m) {
    const uint32_t saved = h->err;
    uint32_t rec = 0;
    char *buf = static_cast<char *>(qellib_malloc(nullptr, db, kRecordRoom));
    if (!buf) fatal(kTrace0, pt(M, tp::msg::record_malloc));
    uint32_t n = start_tag_timestamp(h, db, buf, kRecordTag, kRecordRoom, 0, &rec);
    if (!rec) n += msg_to_xml_worker(M, h, db, buf + n, m, kRecordRoom - n, &rec);
    if (!rec) n += end_tag(h, db, buf + n, kRecordTag, kRecordRoom - n, &rec);
    if (!rec) {
        if (FILE *out = qellib_msg_recorder_get_handle(h))
            std::fwrite(buf, n, 1, out);
        else
            trace0(kTrace0, pt(M, tp::msg::record_no_file));
    } else {
        trace_uu(kTrace0, pt(M, tp::msg::record_not_recorded), rec, n);
    }
    qellib_free(nullptr, db, buf);
    if (rec) trace_u(kTrace0, pt(M, tp::msg::record_err), rec);
    h->err = saved;
}

uint32_t msg_print(const MessageDesc &M, H *h, uint32_t db, char *buf, void *m, uint32_t len,
                   uint32_t *err) {
    if (!begin_entry(M, tp::msg::print_err, h, err)) return 0;
    if (!present(h, err, m) || !present(h, err, buf)) return 0;
    uint32_t n = qel_print_space(h, buf, len, 0, err);
    n += qel_snprintf(h, buf + n, len - n, err, "message@%s: {\n", M.name);
    if (*err) {
        report(h, err, LOMARI_ERR_SHORT);
    } else {
        n += obj_print(*M.body, h, db, buf + n, 2, M.body->name, frame(m)->body, len - n, err);
    }
    n += qel_print_space(h, buf + n, len - n, 0, err);
    n += qel_snprintf(h, buf + n, len - n, err, "}\n");
    return n;
}

uint32_t msg_to_xml_worker(const MessageDesc &M, H *h, uint32_t db, char *buf, void *m, uint32_t len,
                           uint32_t *err) {
    uint32_t n = start_tag(h, db, buf, M.name, len, 0, err);
    if (!*err) n += obj_to_xml(*M.body, h, db, M.body->name, buf + n, frame(m)->body, len - n, 0, err);
    n += end_tag(h, db, buf + n, M.name, len - n, err);
    return n;
}

uint32_t msg_to_xml(const MessageDesc &M, H *h, uint32_t db, char *buf, void *m, uint32_t len,
                    uint32_t *err) {
    if (!begin_entry(M, tp::msg::to_xml_err, h, err)) return 0;
    if (!present(h, err, m) || !present(h, err, buf)) return 0;
    return msg_to_xml_worker(M, h, db, buf, m, len, err);
}

// A message filled from the body element "//<body type>" of a document.
// An absent body element is no error: the message comes back with its
// empty body.  Any other parse error releases the message (nothing leaks)
// and gives null.
void *msg_from_xml(const MessageDesc &M, H *h, uint32_t db, qel_xml_doc_t *doc, uint32_t *err,
                   char *msg_buf, uint32_t msg_len) {
    if (!begin_entry(M, tp::msg::from_xml_err, h, err)) return nullptr;
    void *m = msg_create(M, h, db);
    if (!m) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return nullptr;
    }
    char path[80];
    std::snprintf(path, sizeof path, "//%s", M.body->name);
    obj_from_xml(*M.body, h, db, path, doc, frame(m)->body, err, msg_buf, msg_len);
    if (*err == LOMARI_ERR_NOT_FOUND) *err = 0;
    if (*err) {
        msg_destroy(M, h, db, m);
        return nullptr;
    }
    return m;
}

uint32_t msg_length_cr(uint32_t n, const H *h) { return h->err ? 0xFFFFFFFFu : n; }

int msg_is_valid_cr(const MessageDesc &M, H *h) {
    return qel_domain_lookup_message_ok(h, &h->domain, M.ti, &h->err);
}

}  // namespace lomari
