// message_object.cpp -- the message objects, written once over MessageDesc.
//
// Owns construction with and without a body, destruction together with the
// owned body, the marshalled length, and the four body accessors.  A
// message is a small fixed frame: object header, one further byte, the
// 16-byte message header the runtime turns into the wire header, and the
// body reference.  Message frames are private memory: unlike structured
// objects they are written without write-hook announcements.
// Marshalling, dispatch and recording live in their own family.
#include <cstddef>
#include <cstring>

#include "messages/message_object.h"
#include "messages/message_frame.h"

#include "codec/binary.h"
#include "lomari/lomari_types.h"
#include "types/lifecycle.h"

namespace lomari {

namespace {

constexpr uint32_t kMsgSize = sizeof(MsgFrame);

// The trace points of one construction path (create_shallow or create).
struct FramePoints {
    uint32_t varinfo_null, variant_count, corrupted;
};

// Gives a zeroed frame its type-info, counts it, writes the initial message
// header and fixes the handle's mode in the flags and the header.
void init_frame(const MessageDesc &M, H *h, uint32_t db, MsgFrame *m, const FramePoints &p) {
    m->tinfo = object_tinfo(h, db, M.ti);
    count_object(h, db, m->tinfo, 0, true, kTrace0, p.varinfo_null, p.variant_count);
    m->variant = 0;
    m->header.marker = QEL_MSG_MARKER;
    std::memset(m->header.ff, 0xFF, sizeof m->header.ff);
    m->header.state_tracking = 0;
    m->header.header_word = 0;
    m->header.length = 0;
    if (handle_mode(h, kTrace0, p.corrupted) == Mode::Track) {
        m->flags |= QEL_OF_TRACKED;
        m->header.state_tracking = 1;
    }
}

}  // namespace

void *msg_create_shallow(const MessageDesc &M, H *h, uint32_t db) {
    void *m = h->alloc_fn(h->alloc_ctx, db, kMsgSize);
    if (!m) return nullptr;
    std::memset(m, 0, kMsgSize);
    init_frame(M, h, db, frame(m),
               {tpi(M, tp::msg::shallow_varinfo_null), tpi(M, tp::msg::shallow_variant_count),
                tpi(M, tp::msg::shallow_corrupted)});
    return m;
}

// The worker of create and create_cr.  With chained_error set a failure
// yields the null message; the body constructor still runs so that the
// body type sees the same chained state.
void *msg_create(const MessageDesc &M, H *h, uint32_t db) {
    void *m = nullptr;
    if (!(h->chained_error && h->err)) {
        m = h->alloc_fn(h->alloc_ctx, db, kMsgSize);
        if (m) {
            std::memset(m, 0, kMsgSize);
        } else {
            if (!h->chained_error) return nullptr;
            if (!h->err) qel_store_err(h, LOMARI_ERR_NO_MEMORY);
        }
    }

    vindel_set_callsite_tag(M.body_tag);
    void *body = obj_create(*M.body, h, db);
    if (!m) return M.null_obj;
    if (!body) {
        h->free_fn(h->alloc_ctx, db, m);
        return nullptr;
    }
    frame(m)->body = body;
    init_frame(M, h, db, frame(m),
               {tpi(M, tp::msg::create_varinfo_null), tpi(M, tp::msg::create_variant_count),
                tpi(M, tp::msg::create_corrupted)});
    return m;
}

void *msg_create_cr(const MessageDesc &M, H *h) {
    return chained(h, [&] { return msg_create(M, h, h->database_id); });
}

void msg_destroy(const MessageDesc &M, H *h, uint32_t db, void *mp) {
    if (!mp || mp == M.null_obj) return;
    MsgFrame *m = frame(mp);
    if (m->body) {
        obj_destroy(*M.body, h, db, m->body, kFreeStorage);
        m->body = nullptr;
    }
    if (!tinfo_ok(m->tinfo)) fatal(kTrace0, tpi(M, tp::msg::destroy_tinfo_bad));
    count_object(h, db, m->tinfo, m->variant, false, kTrace0, tpi(M, tp::msg::destroy_varinfo_null),
                 tpi(M, tp::msg::destroy_variant_count));
    m->tinfo = nullptr;
    h->free_fn(h->alloc_ctx, db, mp);
}

uint32_t msg_len(const MessageDesc &M, H *h, uint32_t db, void *m) {
    return obj_len(*M.body, h, db, frame(m)->body) + kMsgEnvelopeLen;
}

// Body accessors act only on a message with no error present; otherwise
// they leave a debug point with the current error's text and change
// nothing.  They do not clear the runtime's last error.
void *msg_body_get(const MessageDesc &M, BodyGet op, H *, uint32_t, void *mp, uint32_t *err) {
    if (!mp || *err) {
        trace_s(kTrace0, tpi(M, op == BodyGet::Detach ? tp::msg::body_get_detach : tp::msg::body_get),
                err_text(*err));
        return nullptr;
    }
    MsgFrame *m = frame(mp);
    void *body = m->body;
    if (op == BodyGet::Detach) m->body = nullptr;
    return body;
}

void msg_body_set(const MessageDesc &M, BodySet op, H *h, uint32_t db, void *mp, void *body,
                  uint32_t *err) {
    if (!mp || *err) {
        trace_s(kTrace0, tpi(M, op == BodySet::FreeOld ? tp::msg::body_free_and_set : tp::msg::body_set),
                err_text(*err));
        return;
    }
    MsgFrame *m = frame(mp);
    // Setting the body a message already holds keeps it alive either way.
    if (op == BodySet::FreeOld && m->body && m->body != body) obj_destroy(*M.body, h, db, m->body, kFreeStorage);
    m->body = body;
}

}  // namespace lomari
