// sttr_places_test.cpp -- the state-area places a handle keeps (qellib_update/get_sttr_offset):
// many, changed, a distance of 0, never placed, the knob's first, per handle, under a writer thread.
#include <atomic>
#include <thread>

#include "fixture.h"

namespace {

using namespace lt;

TEST_F(Lomari, SttrPlacesComeBackChangedAndOnlyOnTheirHandle) {
    constexpr U kObjects = 20000;  // 16 bytes apart; the addresses between them (+8) are never placed
    std::vector<uint8_t> arena(size_t(kObjects) * 16);
    auto obj = [&](U i, U plus = 0) { return static_cast<void *>(arena.data() + size_t(i) * 16 + plus); };
    auto get = [&](H hh, U i, U plus = 0) -> void * { return qellib_get_sttr_offset(hh, obj(i, plus)); };
    EXPECT_EQ(get(h, 0), nullptr) << "nothing placed yet";
    for (U i = 0; i < kObjects; ++i) qellib_update_sttr_offset(h, obj(i), 40 + i % 300);
    for (U i = 0; i < kObjects; i += 3) qellib_update_sttr_offset(h, obj(i), i % 7);  // changed, 0 included
    for (U i = 0; i < kObjects; ++i) {
        ASSERT_EQ(get(h, i), obj(i, i % 3 ? 40 + i % 300 : i % 7)) << i;
        ASSERT_EQ(get(h, i, 8), nullptr) << i;
    }
    H other = qelrt_handle_new();
    EXPECT_EQ(get(other, 1), nullptr);
    qellib_update_sttr_offset(other, obj(1), 5);
    EXPECT_EQ(std::make_pair(get(other, 1), get(h, 1)), std::make_pair(obj(1, 5), obj(1, 41)));
    qelrt_handle_free(other);
    uint8_t spot[16];  // the knob's place answers for every object while it is set
    qelrt_set_sttr_place(spot);
    EXPECT_EQ(std::make_pair(get(h, 1), get(h, 1, 8)), std::make_pair((void *)spot, (void *)spot));
    qelrt_set_sttr_place(nullptr);
    EXPECT_EQ(std::make_pair(get(h, 1), (void *)qellib_get_sttr_offset(h, nullptr)), std::make_pair(obj(1, 41), (void *)nullptr));
}

// Readers never see a wrong place, nor lose one, while a writer adds and changes places (the table grows).
TEST_F(Lomari, SttrLookupsWhileAnotherThreadPlaces) {
    constexpr U kFirst = 500, kObjects = 20000;
    std::vector<uint8_t> arena(size_t(kObjects) * 16);
    auto obj = [&](U i, U plus) { return static_cast<void *>(arena.data() + size_t(i) * 16 + plus); };
    for (U i = 0; i < kFirst; ++i) qellib_update_sttr_offset(h, obj(i, 0), 16 + i);
    std::atomic<bool> done{false};
    std::atomic<U> wrong{0}, rounds{0};
    auto reader = [&] {
        for (; !done.load(); rounds.fetch_add(1))
            for (U i = 0; i < kFirst; ++i) wrong.fetch_add(qellib_get_sttr_offset(h, obj(i, 0)) != obj(i, 16 + i));
    };
    std::thread r1(reader), r2(reader);
    for (U i = kFirst; i < kObjects; ++i) {
        qellib_update_sttr_offset(h, obj(i, 0), 1);
        qellib_update_sttr_offset(h, obj(i, 0), 2);                         // changed
        qellib_update_sttr_offset(h, obj(i % kFirst, 0), 16 + i % kFirst);  // placed again, unchanged
    }
    while (rounds.load() < 4) std::this_thread::yield();
    done = true;
    r1.join();
    r2.join();
    EXPECT_EQ(wrong.load(), 0u);
    for (U i = kFirst; i < kObjects; ++i) ASSERT_EQ(qellib_get_sttr_offset(h, obj(i, 0)), obj(i, 2)) << i;
}

}  // namespace
