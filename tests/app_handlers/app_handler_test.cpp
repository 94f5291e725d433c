// Dispatch in a program that defines the application's message handlers:
// a received message without a handler argument reaches the application's
// handler for its type, and a handler argument takes precedence over it.
#include "lomari/lomari_catalogue.h"
#include "message_wire.h"

namespace {
lt::Seen g_app;
}

#define DEFINE_APP_HANDLER(name)                                                            \
    extern "C" void lomari_##name##_message_handler(qel_handle_t *, uint32_t, uint64_t ctx, \
                                                     name##_message *m, uint32_t *) {       \
        ++g_app.calls;                                                                      \
        g_app.ctx = ctx;                                                                    \
        g_app.msg = m;                                                                      \
    }
LOMARI_FOR_EACH_MESSAGE(DEFINE_APP_HANDLER)

namespace {

using namespace lt;

class AppDispatch : public MessageTest {};

TEST_P(AppDispatch, ApplicationHandlerUnlessOneIsGiven) {
    auto b = Encode(Make(2));
    g_app = {};
    g_seen = {};
    void *m = nullptr;
    Unmarshal(b, &m, nullptr, 5);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(g_app.calls, 1);
    EXPECT_EQ(g_app.ctx, 5u);
    EXPECT_EQ(g_app.msg, m);
    EXPECT_EQ(Traced("handler called"), 0u);
    Free(m);
    Unmarshal(b, &m, Recorder, 6);
    EXPECT_EQ(g_app.calls, 1);
    EXPECT_EQ(g_seen.calls, 1);
    Free(m);
}

INSTANTIATE_TEST_SUITE_P(All, AppDispatch, ::testing::ValuesIn(AllMessages()), ParamName());

}  // namespace
