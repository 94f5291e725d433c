// The message objects beyond what every object shares (lifecycle_test):
// the 16-byte header and the handle mode fixed at creation, the body built
// and counted with the message, the null message's body, failures while
// building, ownership of the body through the four accessors and their
// trace points, and the length.
#include "fixture.h"

namespace {

using namespace lt;

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

class Messages : public Lomari, public ::testing::WithParamInterface<const MessageDesc *> {
protected:
    const MessageDesc &M() const { return *GetParam(); }
    const Ty body{*GetParam()->body};
    template <class F>
    F *Fn(const std::string &op) const { return Api<F>(M().full_name, op); }
    Msg *New() { return static_cast<Msg *>(Fn<void *(H, U)>("create")(h, db)); }
    Msg *Shallow() { return static_cast<Msg *>(Fn<void *(H, U)>("create_shallow")(h, db)); }
    void Free(void *m) { Fn<void(H, U, void *)>("destroy")(h, db, m); }
    // The body accessors: get, get_detach, set, free_and_set.
    void *Get(const char *op, void *m) { return Fn<void *(H, U, void *, U *)>(Op(op))(h, db, m, &err); }
    void Put(const char *op, void *m, void *b) { Fn<void(H, U, void *, void *, U *)>(Op(op))(h, db, m, b, &err); }
    std::string Op(const char *op) const { return std::string(M().body->name) + "_" + op; }
    qel_variant_record_t &BodyCounts() const { return StaticCounts(*M().body); }
    qel_type_info_t *BodyTi() const { return Record(M().body->name, "type"); }
};

TEST_P(Messages, HeaderCarriesTheHandlesModeAndTheBodyFollowsIt) {
    for (uint32_t mode : {0u, QEL_CHECK_PLAIN, QEL_CHECK_TRACK}) {
        qelrt_handle_set_mode(h, mode);
        const bool track = mode == QEL_CHECK_TRACK;
        const uint8_t want[16] = {0xBC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, uint8_t(track)};
        for (bool shallow : {false, true}) {
            SCOPED_TRACE(std::to_string(mode) + (shallow ? " shallow" : " with body"));
            Msg *m = shallow ? Shallow() : New();
            ASSERT_NE(m, nullptr);
            EXPECT_EQ(std::memcmp(m->header, want, 16), 0);
            EXPECT_EQ(m->msg_byte, 0);
            EXPECT_EQ(m->flags, track ? QEL_OF_TRACKED : 0);
            if (shallow) {
                EXPECT_EQ(m->body, nullptr);
            } else {
                ASSERT_NE(m->body, nullptr);
                EXPECT_EQ(Tinfo(m->body), BodyTi());
                EXPECT_EQ(Flags(m->body), track ? QEL_OF_TRACKED : 0);
            }
            Free(m);
        }
    }
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Messages, BodyIsTaggedThenBuiltAndCountedWithTheMessage) {
    const uint64_t made = BodyCounts().created, gone = BodyCounts().destroyed;
    qelrt_calls_log(1);
    Free(New());
    EXPECT_EQ(BodyCounts().created, made + 1);
    EXPECT_EQ(BodyCounts().destroyed, gone + 1);
    Free(Shallow());
    EXPECT_EQ(BodyCounts().created, made + 1) << "a shallow message has no body";
    ASSERT_EQ(qelrt_call_count("vindel_set_callsite_tag"), 1u);
    int tag_at = -1, body_at = -1;
    for (uint32_t i = 0; i < qelrt_call_total(); ++i) {
        const qelrt_call_t *c = qelrt_call_at(i);
        if (std::strcmp(c->fn, "vindel_set_callsite_tag") == 0) {
            EXPECT_EQ(c->a[0], M().body_tag);
            tag_at = int(i);
        }
        if (body_at < 0 && std::strcmp(c->fn, "qellib_type_stats_create_object") == 0) body_at = int(i);
    }
    EXPECT_LT(tag_at, body_at);
}

TEST_P(Messages, NullMessageAndFailuresWhileBuilding) {
    h->err = 22;  // the null message carries the body type's null object
    EXPECT_EQ(static_cast<Msg *>(Fn<void *(H)>("create_cr")(h))->body, body.Op<void *(H)>("create_cr")(h));
    h->err = 0;
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(Shallow(), nullptr);
    EXPECT_EQ(h->err, 0u);
    qel_variant_record_t &counts = Record(M().name, "message")->varinfo->variants[0];
    const uint64_t made = counts.created;
    qelrt_fail_alloc_at(2);  // the body's allocation: the message goes too
    EXPECT_EQ(New(), nullptr);
    EXPECT_EQ(qelrt_live_bytes(), 0);
    EXPECT_EQ(counts.created, made);
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(Shallow(), "Corrupted QEL Handle");
}

// ---- body ownership --------------------------------------------------------------

// get looks, get_detach hands the body out (it outlives the message), set
// replaces it without destroying the old one, free_and_set destroys what it
// replaces (nothing, on an empty message).
TEST_P(Messages, BodyOwnershipThroughGetDetachSetAndFreeAndSet) {
    Msg *m = New();
    void *first = m->body, *second = body.Create(h, db);
    const uint64_t gone = BodyCounts().destroyed;
    EXPECT_EQ(Get("get", m), first);
    Put("set", m, second);
    EXPECT_EQ(m->body, second);
    EXPECT_EQ(BodyCounts().destroyed, gone);
    EXPECT_EQ(Tinfo(first), BodyTi()) << "set must not destroy the old body";
    Put("free_and_set", m, first);
    EXPECT_EQ(m->body, first);
    EXPECT_EQ(BodyCounts().destroyed, gone + 1);
    EXPECT_EQ(Get("get_detach", m), first);
    EXPECT_EQ(m->body, nullptr);
    EXPECT_EQ(Get("get", m), nullptr);
    Free(m);
    EXPECT_EQ(BodyCounts().destroyed, gone + 1) << "the detached body outlives the message";
    EXPECT_EQ(Tinfo(first), BodyTi());
    body.Destroy(h, db, first);
    Msg *s = Shallow();
    Put("free_and_set", s, nullptr);
    Put("free_and_set", s, body.Create(h, db));
    EXPECT_NE(s->body, nullptr);
    Put("free_and_set", s, nullptr);
    EXPECT_EQ(s->body, nullptr);
    EXPECT_EQ(BodyCounts().destroyed, gone + 3);
    Free(s);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(qelrt_live_bytes(), 0);
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

// With an error present, or without a message, each accessor leaves its
// debug point with the error's text and changes nothing.
TEST_P(Messages, AccessorsWithAnErrorOrNoMessageTraceAndChangeNothing) {
    const std::string b = M().body->name;
    const struct { const char *op; uint32_t point; std::string text; } accessors[] = {
        {"get", 12, "Error present when getting value for " + b},
        {"get_detach", 13, "Error present getting detached " + b + " value for " + M().name},
        {"set", 14, "Error present when setting value for " + b},
        {"free_and_set", 15, "Error present when freeing and setting value for " + b},
    };
    Msg *m = New();
    void *held = m->body, *other = body.Create(h, db);
    qelrt_calls_log(1);
    for (const auto &a : accessors) {
        SCOPED_TRACE(a.op);
        for (uint32_t code : {22u, 0u}) {
            qelrt_trace_clear();
            err = code;
            void *target = code ? m : nullptr;
            if (a.point < 14) {
                EXPECT_EQ(Get(a.op, target), nullptr);
            } else {
                Put(a.op, target, other);
            }
            EXPECT_EQ(err, code);
            EXPECT_EQ(m->body, held);
            ASSERT_EQ(qelrt_trace_count(), 1u);
            const qelrt_trace_t *t = qelrt_trace_at(0);
            EXPECT_EQ(t->text, a.text + ": " + std::strerror(int(code)));
            EXPECT_EQ(t->table_no, 0);
            EXPECT_EQ(t->index, 33 * M().ordinal + a.point);
            EXPECT_EQ(t->level, QEL_TL_DEBUG);
        }
    }
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(qelrt_call_count("qel_clear_last_error"), 0u);
    err = 0;
    body.Destroy(h, db, other);
    Free(m);
}

// The wire header and the message identifier around the body: 43 bytes.
TEST_P(Messages, LengthIsTheBodysPlus43) {
    Track();
    Msg *m = New();
    const U body_len = body.Op<U(H, U, void *)>("len")(h, db, m->body);
    EXPECT_EQ(Fn<U(H, U, void *)>("len")(h, db, m), body_len + 43);
    EXPECT_EQ(Fn<U(H, void *)>("len_cr")(h, m), body_len + 43);
    h->err = 5;
    EXPECT_EQ(Fn<U(H, void *)>("len_cr")(h, m), 0u);
    h->err = 0;
    Free(m);
}

INSTANTIATE_TEST_SUITE_P(All, Messages, ::testing::ValuesIn(AllMessages()), ParamName());

}  // namespace
