// thread_test.cpp -- threads on handles of their own (plain, per-handle types) make,
// encode, decode, clone and destroy every type; every count comes out exact.
#include <thread>

#include "fixture.h"

namespace {

using namespace lt;

constexpr int kThreads = 4, kRounds = 8;

// Per type, kRounds objects made, encoded, decoded, cloned, compared and destroyed.
void Work(H h, uint32_t seed) {
    const U db = h->database_id;
    std::vector<uint8_t> buf(1 << 16);
    for (int r = 0; r < kRounds; ++r)
        for (const TypeDesc &t : kTypes) {
            Ty ty{t};
            U err = 0;
            void *o = Filler(seed + r).Make(h, db, t, ty.Owned() ? 3 : 0);
            const U n = ty.Marshal(h, db, buf.data(), o, U(buf.size()), &err);
            void *back = ty.Create(h, db), *copy = nullptr;
            ty.Unmarshal(h, db, buf.data(), back, n, 0, &err);
            ty.Clone(h, db, o, &copy, buf.data(), U(buf.size()), &err);
            EXPECT_EQ((std::tuple{err, ty.Compare(o, back), ty.Compare(o, copy)}), std::tuple(0u, 0, 0)) << t.name;
            for (void *x : {o, back, copy}) ty.Destroy(h, db, x);
        }
}

// Objects one Work makes of type t: three per round, and their elements.
uint64_t Made(const TypeDesc &t) {
    uint64_t n = 3 * kRounds;
    for (const TypeDesc &owner : kTypes)
        if (Ty{owner}.Owned() && Ty{owner}.Owned()->elem == &t) n += 3 * kRounds * (3 + (owner.array_field >= 0));
    return n;
}

TEST(Threads, OwnHandlesCountExactly) {
    qelrt_reset();
    qelrt_trace_capture(0);
    std::vector<uint64_t> created0;
    for (const TypeDesc &t : kTypes) created0.push_back(StaticCounts(t).created);
    std::vector<H> plain(kThreads), own(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        plain[i] = qelrt_handle_new();
        own[i] = qelrt_handle_new();
        own[i]->per_handle_types = 1;
        if (i % 2) qelrt_handle_set_mode(plain[i], QEL_CHECK_TRACK);
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            Work(plain[i], 10 * i);
            Work(own[i], 10 * i + 5);
        });
    for (auto &t : threads) t.join();
    for (const TypeDesc &t : kTypes) {
        const qel_variant_record_t &s = StaticCounts(t);
        EXPECT_EQ(std::pair(s.created - created0[t.ordinal], s.destroyed), std::pair(kThreads * Made(t), s.created)) << t.name;
        for (H h : own) {
            auto *copy = static_cast<qel_type_info_t *>(h->type_dict_lookup_fn(h->type_dict_ctx, h->database_id, Record(t.name, "type")->signature));
            ASSERT_NE(copy, nullptr) << t.name;
            EXPECT_EQ(copy->varinfo->variants[0].created, Made(t)) << t.name;
        }
    }
    for (H x : plain) qelrt_handle_free(x);
    for (H x : own) qelrt_handle_free(x);
    EXPECT_EQ(qelrt_live_bytes(), 0);
    qelrt_reset();
}

}  // namespace
