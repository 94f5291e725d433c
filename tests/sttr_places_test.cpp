// sttr_places_test.cpp -- the state-area places a handle keeps
// (qellib_update_sttr_offset, qellib_get_sttr_offset): many places, changed,
// a distance of 0, never placed, the knob's place first, one handle's only,
// and lookups while another thread keeps placing (the table grows under them).
#include <atomic>
#include <thread>

#include "fixture.h"

namespace {

using namespace lt;

class SttrPlaces : public Lomari {
protected:
    static constexpr uint32_t kObjects = 20000;
    // Objects are 16 bytes apart; the addresses between them are never placed.
    std::vector<uint8_t> arena = std::vector<uint8_t>(size_t(kObjects) * 16);
    const void *Obj(uint32_t i) const { return arena.data() + size_t(i) * 16; }
    const void *Between(uint32_t i) const { return arena.data() + size_t(i) * 16 + 8; }
    uint8_t *Place(const void *o, uint32_t distance) {
        return const_cast<uint8_t *>(static_cast<const uint8_t *>(o)) + distance;
    }
};

TEST_F(SttrPlaces, PlacesComeBackChangedAndOnlyOnTheirHandle) {
    EXPECT_EQ(qellib_get_sttr_offset(h, Obj(0)), nullptr) << "nothing placed yet";
    for (uint32_t i = 0; i < kObjects; ++i) qellib_update_sttr_offset(h, Obj(i), 40 + i % 300);
    for (uint32_t i = 0; i < kObjects; i += 3) qellib_update_sttr_offset(h, Obj(i), i % 7);  // 0 included
    for (uint32_t i = 0; i < kObjects; ++i) {
        const uint32_t want = i % 3 ? 40 + i % 300 : i % 7;
        ASSERT_EQ(qellib_get_sttr_offset(h, Obj(i)), Place(Obj(i), want)) << i;
        ASSERT_EQ(qellib_get_sttr_offset(h, Between(i)), nullptr) << i;
    }
    H other = qelrt_handle_new();
    EXPECT_EQ(qellib_get_sttr_offset(other, Obj(1)), nullptr);
    qellib_update_sttr_offset(other, Obj(1), 5);
    EXPECT_EQ(qellib_get_sttr_offset(other, Obj(1)), Place(Obj(1), 5));
    EXPECT_EQ(qellib_get_sttr_offset(h, Obj(1)), Place(Obj(1), 41));
    qelrt_handle_free(other);

    // The knob's place answers for every object while it is set.
    uint8_t spot[16];
    qelrt_set_sttr_place(spot);
    EXPECT_EQ(qellib_get_sttr_offset(h, Obj(1)), spot);
    EXPECT_EQ(qellib_get_sttr_offset(h, Between(1)), spot);
    qelrt_set_sttr_place(nullptr);
    EXPECT_EQ(qellib_get_sttr_offset(h, Obj(1)), Place(Obj(1), 41));
    EXPECT_EQ(qellib_get_sttr_offset(h, nullptr), nullptr);
}

// Readers never see a wrong place, nor lose one, while a writer adds many
// more and changes some: the table is replaced several times meanwhile.
TEST_F(SttrPlaces, LookupsWhileAnotherThreadPlaces) {
    constexpr uint32_t kFirst = 500;
    for (uint32_t i = 0; i < kFirst; ++i) qellib_update_sttr_offset(h, Obj(i), 16 + i);
    std::atomic<bool> done{false};
    std::atomic<uint32_t> wrong{0}, rounds{0};
    auto reader = [&] {
        while (!done.load()) {
            for (uint32_t i = 0; i < kFirst; ++i)
                if (qellib_get_sttr_offset(h, Obj(i)) != Place(Obj(i), 16 + i)) wrong.fetch_add(1);
            rounds.fetch_add(1);
        }
    };
    std::thread r1(reader), r2(reader);
    for (uint32_t i = kFirst; i < kObjects; ++i) {
        qellib_update_sttr_offset(h, Obj(i), 1);
        qellib_update_sttr_offset(h, Obj(i), 2);                         // changed
        qellib_update_sttr_offset(h, Obj(i % kFirst), 16 + i % kFirst);  // placed again, unchanged
    }
    while (rounds.load() < 4) std::this_thread::yield();
    done = true;
    r1.join();
    r2.join();
    EXPECT_EQ(wrong.load(), 0u);
    for (uint32_t i = kFirst; i < kObjects; ++i) ASSERT_EQ(qellib_get_sttr_offset(h, Obj(i)), Place(Obj(i), 2)) << i;
}

}  // namespace
