// app_handler_test.cpp -- dispatch where the application defines its handlers: messages
// reach its handler unless one is given; record callbacks reach theirs, DM ones fall back.
#include "lomari/lomari_catalogue.h"
#include "message_wire.h"

namespace {

// A handler call: which, the handle, the database, the words and the value.
using Call = std::tuple<std::string, qel_handle_t *, uint32_t, std::vector<void *>, uint32_t>;
std::vector<Call> g_calls;
lt::Seen g_app;

}  // namespace

#define DEFINE_APP_HANDLER(name)                                                                         \
    extern "C" void lomari_##name##_message_handler(qel_handle_t *, uint32_t, uint64_t ctx, name##_message *m, \
                                                     uint32_t *) {                                       \
        g_app = {g_app.calls + 1, ctx, m};                                                               \
    }
LOMARI_FOR_EACH_MESSAGE(DEFINE_APP_HANDLER)

// Handlers that record their call: (a, b) for the record events, (w) for the DM ones.
#define PAIR_HANDLER(t, ev)                                                                                   \
    extern "C" void lomari_##t##_table_record_##ev##_handler(qel_handle_t *h, uint32_t db, void *a, void *b,    \
                                                             uint32_t *) {                                    \
        g_calls.emplace_back(#t " " #ev, h, db, std::vector<void *>{a, b}, 0);                                 \
    }
#define DEFINE_RECORD_HANDLERS(t)                                                                             \
    PAIR_HANDLER(t, create) PAIR_HANDLER(t, modify) PAIR_HANDLER(t, delete)                                   \
    extern "C" uint32_t lomari_##t##_table_record_grouping_handler(qel_handle_t *h, uint32_t db, void *a,       \
                                                                   uint32_t *, void *b, void *c, uint32_t v,   \
                                                                   void *d) {                                  \
        g_calls.emplace_back(#t " grouping", h, db, std::vector<void *>{a, b, c, d}, v);                       \
        return v + 1;                                                                                         \
    }                                                                                                         \
    extern "C" void lomari_##t##_table_record_free_handler(qel_handle_t *h, uint32_t db, void *a, uint32_t v,   \
                                                           uint32_t *, void *d) {                              \
        g_calls.emplace_back(#t " free", h, db, std::vector<void *>{a, d}, v);                                 \
    }
LOMARI_FOR_EACH_TABLE(DEFINE_RECORD_HANDLERS)
#define DM_HANDLER(t, ev)                                                                                     \
    extern "C" void lomari_##t##_table_record_##ev##_handler(qel_handle_t *h, uint32_t db, void *w, uint32_t *) { \
        g_calls.emplace_back(#t " " #ev, h, db, std::vector<void *>{w}, 0);                                    \
    }
DM_HANDLER(tarnok_header_ids, create_dm) DM_HANDLER(tarnok_header_ids, delete_dm)
DM_HANDLER(global_flow_control, create_dm) DM_HANDLER(global_flow_control, delete_dm)

namespace {

using namespace lt;

class AppDispatch : public MessageTest {};

TEST_P(AppDispatch, ApplicationHandlerUnlessOneIsGiven) {
    auto b = Encode(Make(2));
    g_app = g_seen = {};
    void *m = nullptr;
    Unmarshal(b, &m, nullptr, 5);
    EXPECT_EQ(std::tuple(Err(), g_app.calls, g_app.ctx, g_app.msg, Traced("handler called")), std::tuple(0u, 1, uint64_t(5), m, 0u));
    Free(m);
    Unmarshal(b, &m, Recorder, 6);
    EXPECT_EQ(std::pair(g_app.calls, g_seen.calls), std::pair(1, 1));
    Free(m);
}

INSTANTIATE_TEST_SUITE_P(All, AppDispatch, ::testing::ValuesIn(AllMessages()), ParamName());

class RecordHandlers : public Lomari, public ::testing::WithParamInterface<const TableDesc *> {
protected:
    template <class F>
    F *Cb(const std::string &ev) const { return Api<F>(GetParam()->name, "table_record_" + ev + "_cb"); }
    // The handler calls since the last look.
    std::vector<Call> Seen() { return std::exchange(g_calls, {}); }
    Call Want(const std::string &ev, std::vector<void *> words, uint32_t value = 0) {
        return {std::string(GetParam()->name) + " " + ev, h, 9, words, value};
    }
    int w[4];
};

TEST_P(RecordHandlers, EveryEventReachesItsHandlerWithItsArguments) {
    const std::string t = GetParam()->name;
    g_calls.clear();
    for (const char *ev : {"create", "modify", "delete"}) {
        Cb<void(H, U, void *, void *, U *)>(ev)(h, 9, &w[0], &w[1], &err);
        EXPECT_EQ(Seen(), std::vector<Call>{Want(ev, {&w[0], &w[1]})});
    }
    EXPECT_EQ(Cb<U(H, U, void *, U *, void *, void *, U, void *)>("grouping")(h, 9, &w[0], &err, &w[1], &w[2], 41, &w[3]), 42u);
    EXPECT_EQ(Seen(), std::vector<Call>{Want("grouping", {&w[0], &w[1], &w[2], &w[3]}, 41)});
    Cb<void(H, U, void *, U, U *, void *)>("free")(h, 9, &w[0], 6, &err, &w[3]);
    EXPECT_EQ(Seen(), std::vector<Call>{Want("free", {&w[0], &w[3]}, 6)});
    EXPECT_EQ(qelrt_trace_count(), 0u);
    const bool own_dm = t == "tarnok_header_ids" || t == "global_flow_control";
    for (const std::string ev : {"create", "delete"}) {
        qelrt_trace_clear();
        Cb<void(H, U, void *, U *)>(ev + "_dm")(h, 9, &w[2], &err);
        EXPECT_EQ(Seen(), std::vector<Call>{own_dm ? Want(ev + "_dm", {&w[2]}) : Want(ev, {nullptr, &w[2]})});
        EXPECT_EQ(Traced(("default lomari_" + t + "_record " + ev + " DM handler called").c_str()), own_dm ? 0u : 1u);
        EXPECT_EQ(qelrt_trace_count(), own_dm ? 0u : 1u);
    }
    err = LOMARI_ERR_INVALID;
    Cb<void(H, U, void *, void *, U *)>("create")(h, 9, &w[0], &w[1], &err);
    EXPECT_TRUE(Seen().empty());
    err = 0;
}

INSTANTIATE_TEST_SUITE_P(All, RecordHandlers, ::testing::ValuesIn(Each(kTables)), ParamName());

}  // namespace
