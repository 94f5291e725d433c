// message_wire.h -- the message tests' fixture: one message type per test,
// its entry points by name, random messages, and a handler that records.
#pragma once

#include "fixture.h"

namespace lt {

using MsgHandler = void (*)(H, U, uint64_t, void *, U *);

class MessageTest : public Lomari, public ::testing::WithParamInterface<const MessageDesc *> {
protected:
    static constexpr U kBig = 1u << 16;
    void SetUp() override { Lomari::SetUp(); live0 = qelrt_live_bytes(); }
    void TearDown() override { for (void *m : made_) Free(m); Lomari::TearDown(); }
    const MessageDesc &M() const { return *GetParam(); }
    Ty Body() const { return Ty{*M().body}; }
    template <class F>
    F *Fn(const std::string &op) const { return Api<F>(M().full_name, op); }

    // A message with a random body (elems list or array elements), freed with the test.
    void *Make(uint32_t seed, U elems = 3) {
        void *m = Fn<void *(H, U)>("create_shallow")(h, db);
        void *b = Filler(seed).Make(h, db, *M().body, elems);
        Fn<void(H, U, void *, void *, U *)>(std::string(M().body->name) + "_set")(h, db, m, b, &err);
        return made_.emplace_back(m);
    }
    void Free(void *m) { Fn<void(H, U, void *)>("destroy")(h, db, m); }
    void *BodyOf(void *m) { return Word(m, 32); }
    U Marshal(void *m, uint8_t *b, U n) { return Fn<U(H, U, uint8_t *, void *, U, U *)>("marshal")(h, db, b, m, n, &err); }
    std::vector<uint8_t> Encode(void *m) {
        U n = Marshal(m, buf.data(), kBig);
        EXPECT_EQ(err, 0u);
        return {buf.begin(), buf.begin() + n};
    }
    U Unmarshal(const std::vector<uint8_t> &b, void **out, MsgHandler hd = nullptr, uint64_t ctx = 0) {
        return Fn<U(H, U, uint64_t, void **, const uint8_t *, U, MsgHandler, U *)>("unmarshal")(
            h, db, ctx, out, b.data(), U(b.size()), hd, &err);
    }
    bool SameBody(void *a, void *b) { return Body().Op<int32_t(void *, void *)>("compare")(BodyOf(a), BodyOf(b)) == 0; }
    void ExpectNoLeak() { EXPECT_EQ(qelrt_live_bytes(), live0) << M().name; }

    static U Be32(const uint8_t *p) { return U(p[0]) << 24 | U(p[1]) << 16 | U(p[2]) << 8 | p[3]; }

    std::vector<uint8_t> buf = std::vector<uint8_t>(kBig);
    std::vector<void *> made_;
    int64_t live0 = 0;
};

// What a handler saw.
struct Seen { int calls = 0; uint64_t ctx = 0; void *msg = nullptr; };
inline Seen g_seen;
inline void Recorder(H, U, uint64_t ctx, void *m, U *) { g_seen = {g_seen.calls + 1, ctx, m}; }

}  // namespace lt
