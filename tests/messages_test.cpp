// Tests of the message objects, run over all nine messages: the frame and
// header of new messages in each handle mode, counting, the chained-error
// constructor and its null message, failures while building, ownership of
// the body through the four accessors, their trace points, and the length.
#include <string>

#include "fixture.h"

namespace {

using lt::MessageDesc;

struct Msg {
    qel_type_info_t *tinfo;
    int8_t variant;
    uint8_t variant_cap;
    uint8_t flags;
    uint8_t msg_byte;
    uint8_t header[16];
    void *body;
};
static_assert(sizeof(Msg) == sizeof(vep_tarnok_headers_message));

using Create = void *(qel_handle_t *, uint32_t);
using CreateCr = void *(qel_handle_t *);
using Destroy = void(qel_handle_t *, uint32_t, void *);
using DestroyCr = void(qel_handle_t *, void *);
using Len = uint32_t(qel_handle_t *, uint32_t, void *);
using LenCr = uint32_t(qel_handle_t *, void *);
using BodyGet = void *(qel_handle_t *, uint32_t, void *, uint32_t *);
using BodySet = void(qel_handle_t *, uint32_t, void *, void *, uint32_t *);

class Messages : public lt::Lomari, public ::testing::WithParamInterface<const MessageDesc *> {
protected:
    const MessageDesc &M() const { return *GetParam(); }
    const char *Body() const { return M().body->name; }
    template <class F>
    F *Fn(const std::string &op) const { return lt::Api<F>(M().full_name, op); }
    template <class F>
    F *Accessor(const char *op) const { return Fn<F>(std::string(Body()) + "_" + op); }

    Msg *New() { return static_cast<Msg *>(Fn<Create>("create")(h, db)); }
    Msg *Shallow() { return static_cast<Msg *>(Fn<Create>("create_shallow")(h, db)); }
    void Free(void *m) { Fn<Destroy>("destroy")(h, db, m); }
    void *NewBody() { return lt::Api<Create>(Body(), "create")(h, db); }
    void FreeBody(void *b) { lt::Api<Destroy>(Body(), "destroy")(h, db, b); }

    // Created and destroyed counts of a type-info record's variant 0.
    static std::pair<uint64_t, uint64_t> Counts(const qel_type_info_t *ti) {
        return {ti->varinfo->variants[0].created, ti->varinfo->variants[0].destroyed};
    }
    // The static records, reached through a throw-away message.
    void Records(qel_type_info_t **msg_ti, qel_type_info_t **body_ti) {
        Msg *m = New();
        *msg_ti = m->tinfo;
        *body_ti = *static_cast<qel_type_info_t **>(m->body);
        Free(m);
    }
    uint32_t Point(uint32_t k) const { return M().trace_base + k; }
};

// ---- construction ---------------------------------------------------------------

TEST_P(Messages, NewMessagesCarryTheHeaderAndTheModeOfTheirHandle) {
    for (uint32_t mode : {0u, QEL_CHECK_PLAIN, QEL_CHECK_TRACK}) {
        qelrt_handle_set_mode(h, mode);
        const bool track = mode == QEL_CHECK_TRACK;
        const uint8_t want[16] = {0xBC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, uint8_t(track ? 1 : 0)};
        for (bool shallow : {false, true}) {
            SCOPED_TRACE(std::to_string(mode) + (shallow ? " shallow" : " with body"));
            Msg *m = shallow ? Shallow() : New();
            ASSERT_NE(m, nullptr);
            EXPECT_EQ(std::memcmp(m->header, want, 16), 0);
            EXPECT_EQ(m->flags, track ? QEL_OF_TRACKED : 0);
            EXPECT_EQ(m->variant, 0);
            EXPECT_EQ(m->variant_cap, 0);
            EXPECT_EQ(m->msg_byte, 0);
            ASSERT_EQ(m->tinfo->magic, QEL_TINFO_MAGIC);
            EXPECT_STREQ(m->tinfo->name, M().name);
            EXPECT_STREQ(m->tinfo->kind, "message");
            if (shallow) {
                EXPECT_EQ(m->body, nullptr);
            } else {
                ASSERT_NE(m->body, nullptr);
                EXPECT_STREQ((*static_cast<qel_type_info_t **>(m->body))->name, Body());
                EXPECT_EQ(static_cast<uint8_t *>(m->body)[10] & QEL_OF_TRACKED, track ? QEL_OF_TRACKED : 0);
            }
            // The mode is fixed at creation.
            qelrt_handle_set_mode(h, track ? QEL_CHECK_PLAIN : QEL_CHECK_TRACK);
            EXPECT_EQ(m->flags, track ? QEL_OF_TRACKED : 0);
            EXPECT_EQ(m->header[7], track ? 1 : 0);
            Free(m);
            qelrt_handle_set_mode(h, mode);
        }
    }
    EXPECT_EQ(qelrt_live_bytes(), 0);
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

TEST_P(Messages, CreateAndDestroyCountTheMessageAndItsBody) {
    qel_type_info_t *mt, *bt;
    Records(&mt, &bt);
    const auto m0 = Counts(mt), b0 = Counts(bt);
    Msg *m = New();
    EXPECT_EQ(Counts(mt), std::make_pair(m0.first + 1, m0.second));
    EXPECT_EQ(Counts(bt).first, b0.first + 1);
    Free(m);
    EXPECT_EQ(Counts(mt), std::make_pair(m0.first + 1, m0.second + 1));
    EXPECT_EQ(Counts(bt), std::make_pair(b0.first + 1, b0.second + 1));
    Msg *s = Shallow();
    EXPECT_EQ(Counts(bt).first, b0.first + 1) << "a shallow message has no body";
    Fn<DestroyCr>("destroy_cr")(h, s);
    EXPECT_EQ(Counts(mt), std::make_pair(m0.first + 2, m0.second + 2));
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Messages, PerHandleTypesMessagesReferToTheHandlesCopy) {
    h->per_handle_types = 1;
    Msg *m = New();
    EXPECT_EQ(m->tinfo->counter_mode, 1u);
    EXPECT_EQ(m->tinfo, h->type_dict_lookup_fn(h->type_dict_ctx, db, m->tinfo->signature));
    Free(m);
}

TEST_P(Messages, BodyTagIsSetBeforeTheBodyIsBuilt) {
    qelrt_calls_log(1);
    Free(New());
    int tag_at = -1, body_at = -1;
    for (uint32_t i = 0; i < qelrt_call_total(); ++i) {
        const qelrt_call_t *c = qelrt_call_at(i);
        if (tag_at < 0 && std::strcmp(c->fn, "vindel_set_callsite_tag") == 0) {
            EXPECT_EQ(c->a[0], M().body_tag);
            tag_at = int(i);
        }
        if (body_at < 0 && std::strcmp(c->fn, "qellib_type_stats_create_object") == 0) body_at = int(i);
    }
    ASSERT_GE(tag_at, 0);
    ASSERT_GE(body_at, 0);
    EXPECT_LT(tag_at, body_at);
    EXPECT_EQ(qelrt_call_count("vindel_set_callsite_tag"), 1u);
}

TEST_P(Messages, CreateCrOnAnErrorHandleReturnsOneNullMessageAndCountsNothing) {
    qel_type_info_t *mt, *bt;
    Records(&mt, &bt);
    const auto m0 = Counts(mt), b0 = Counts(bt);
    qelrt_reset();
    h->err = 22;
    auto *a = static_cast<Msg *>(Fn<CreateCr>("create_cr")(h));
    auto *b = static_cast<Msg *>(Fn<CreateCr>("create_cr")(h));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->tinfo, nullptr);
    EXPECT_EQ(a->body, lt::Api<CreateCr>(Body(), "create_cr")(h)) << "the body type's null object";
    EXPECT_EQ(h->err, 22u);
    EXPECT_EQ(h->chained_error, 0u);
    EXPECT_EQ(qelrt_alloc_count(), 0u);
    EXPECT_EQ(Counts(mt), m0);
    EXPECT_EQ(Counts(bt), b0);
    Free(a);
    Fn<DestroyCr>("destroy_cr")(h, a);
    EXPECT_EQ(qelrt_free_count(), 0u);
    EXPECT_EQ(Counts(mt), m0);
    EXPECT_EQ(a->body, b->body);
}

TEST_P(Messages, FailedMessageAllocation) {
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(New(), nullptr);
    EXPECT_EQ(h->err, 0u);
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(Shallow(), nullptr);
    EXPECT_EQ(h->err, 0u);

    qelrt_fail_alloc_at(1);
    auto *n = static_cast<Msg *>(Fn<CreateCr>("create_cr")(h));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->tinfo, nullptr) << "the null message";
    EXPECT_EQ(h->err, 12u);
    EXPECT_EQ(h->chained_error, 0u);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Messages, FailedBodyReleasesTheMessage) {
    qel_type_info_t *mt, *bt;
    Records(&mt, &bt);
    const auto m0 = Counts(mt);
    qelrt_fail_alloc_at(2);
    EXPECT_EQ(New(), nullptr);
    EXPECT_EQ(qelrt_live_bytes(), 0);
    EXPECT_EQ(Counts(mt), m0);
}

TEST_P(Messages, CorruptedHandleIsFatal) {
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(Shallow(), "Corrupted QEL Handle");
    EXPECT_DEATH(Fn<Create>("create")(h, db), "Corrupted QEL Handle");
}

TEST_P(Messages, DestroyWithoutValidTypeInfoIsFatal) {
    Msg *m = Shallow();
    EXPECT_DEATH(
        {
            m->tinfo = nullptr;
            Free(m);
        },
        "tinfo is null or corrupted");
    h->per_handle_types = 1;
    Msg *c = Shallow();
    EXPECT_DEATH(
        {
            c->tinfo->magic = 0;
            Free(c);
        },
        "tinfo is null or corrupted");
    EXPECT_DEATH(
        {
            c->tinfo->varinfo = nullptr;
            Free(c);
        },
        "varinfo is NULL");
    Free(m);
    Free(c);
}

// ---- body ownership --------------------------------------------------------------

TEST_P(Messages, GetDetachHandsTheBodyOut) {
    Msg *m = New();
    void *body = m->body;
    EXPECT_EQ(Accessor<BodyGet>("get")(h, db, m, &err), body);
    EXPECT_EQ(m->body, body);
    EXPECT_EQ(Accessor<BodyGet>("get_detach")(h, db, m, &err), body);
    EXPECT_EQ(m->body, nullptr);
    EXPECT_EQ(Accessor<BodyGet>("get")(h, db, m, &err), nullptr);
    qel_type_info_t *bt = *static_cast<qel_type_info_t **>(body);
    const auto b0 = Counts(bt);
    Free(m);
    EXPECT_EQ(Counts(bt), b0) << "the detached body outlives the message";
    EXPECT_EQ(*static_cast<qel_type_info_t **>(body), bt);
    FreeBody(body);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(qelrt_live_bytes(), 0);
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

TEST_P(Messages, SetKeepsTheOldBodyFreeAndSetDestroysIt) {
    Msg *m = New();
    void *first = m->body;
    qel_type_info_t *bt = *static_cast<qel_type_info_t **>(first);
    const auto b0 = Counts(bt);

    void *second = NewBody();
    Accessor<BodySet>("set")(h, db, m, second, &err);
    EXPECT_EQ(m->body, second);
    EXPECT_EQ(Counts(bt).second, b0.second);
    EXPECT_EQ(*static_cast<qel_type_info_t **>(first), bt) << "set must not destroy the old body";

    Accessor<BodySet>("free_and_set")(h, db, m, first, &err);
    EXPECT_EQ(m->body, first);
    EXPECT_EQ(Counts(bt).second, b0.second + 1);

    Accessor<BodySet>("free_and_set")(h, db, m, nullptr, &err);
    EXPECT_EQ(m->body, nullptr);
    EXPECT_EQ(Counts(bt).second, b0.second + 2);
    Accessor<BodySet>("free_and_set")(h, db, m, nullptr, &err);
    EXPECT_EQ(err, 0u);
    Free(m);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Messages, ShallowMessageTakesABody) {
    Msg *m = Shallow();
    void *body = NewBody();
    Accessor<BodySet>("free_and_set")(h, db, m, body, &err);
    EXPECT_EQ(m->body, body);
    Free(m);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

// The four accessors with their trace points; each takes the message and
// reports whether it acted.
struct AccessorCase {
    const char *op;
    uint32_t point;
    std::string (*text)(const MessageDesc &);
};

const AccessorCase kAccessors[] = {
    {"get", 12, [](const MessageDesc &m) { return "Error present when getting value for " + std::string(m.body->name); }},
    {"get_detach", 13,
     [](const MessageDesc &m) {
         return "Error present getting detached " + std::string(m.body->name) + " value for " + m.name;
     }},
    {"set", 14, [](const MessageDesc &m) { return "Error present when setting value for " + std::string(m.body->name); }},
    {"free_and_set", 15,
     [](const MessageDesc &m) { return "Error present when freeing and setting value for " + std::string(m.body->name); }},
};

TEST_P(Messages, AccessorsWithAnErrorOrNoMessageTraceAndChangeNothing) {
    Msg *m = New();
    void *body = m->body;
    void *other = NewBody();
    qelrt_calls_log(1);
    for (const AccessorCase &a : kAccessors) {
        SCOPED_TRACE(a.op);
        const bool is_get = std::string(a.op).rfind("get", 0) == 0;
        auto call = [&](void *msg) {
            if (is_get) return Accessor<BodyGet>(a.op)(h, db, msg, &err);
            Accessor<BodySet>(a.op)(h, db, msg, other, &err);
            return static_cast<void *>(nullptr);
        };
        for (uint32_t code : {22u, 0u}) {
            qelrt_trace_clear();
            err = code;
            EXPECT_EQ(call(code ? static_cast<void *>(m) : nullptr), nullptr);
            EXPECT_EQ(err, code);
            EXPECT_EQ(m->body, body);
            ASSERT_EQ(qelrt_trace_count(), 1u);
            const qelrt_trace_t *t = qelrt_trace_at(0);
            EXPECT_EQ(t->text, a.text(M()) + ": " + std::strerror(int(code)));
            EXPECT_EQ(t->table_no, 0);
            EXPECT_EQ(t->index, Point(a.point));
            EXPECT_EQ(t->index, 33 * M().ordinal + a.point);
            EXPECT_EQ(t->level, QEL_TL_DEBUG);
        }
    }
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(qelrt_call_count("qel_clear_last_error"), 0u);
    err = 0;
    FreeBody(other);
    Free(m);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

// ---- length -----------------------------------------------------------------------

TEST_P(Messages, LengthIsTheBodysPlus43) {
    for (uint32_t mode : {QEL_CHECK_PLAIN, QEL_CHECK_TRACK}) {
        qelrt_handle_set_mode(h, mode);
        Msg *m = New();
        const uint32_t body_len = lt::Api<Len>(Body(), "len")(h, db, m->body);
        EXPECT_GT(body_len, 0u);
        EXPECT_EQ(Fn<Len>("len")(h, db, m), body_len + 43);
        EXPECT_EQ(Fn<LenCr>("len_cr")(h, m), body_len + 43);
        h->err = 5;
        EXPECT_EQ(Fn<LenCr>("len_cr")(h, m), 0u);
        h->err = 0;
        Free(m);
    }
}

INSTANTIATE_TEST_SUITE_P(All, Messages, ::testing::ValuesIn(lt::AllMessages()), lt::ParamName());

}  // namespace
