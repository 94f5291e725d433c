// sttr_places_test.cpp -- the state-area places a handle keeps (qellib_update/get_sttr_offset):
// many, changed, a distance of 0, never placed, the knob's first, per handle.
#include "fixture.h"

namespace {

using namespace lt;

// Objects are 16 bytes apart; the addresses between them (+8) are never placed.
class SttrPlaces : public Lomari {
protected:
    static constexpr uint32_t kObjects = 20000;
    std::vector<uint8_t> arena = std::vector<uint8_t>(size_t(kObjects) * 16);
    uint8_t *Obj(uint32_t i, uint32_t plus = 0) { return arena.data() + size_t(i) * 16 + plus; }
    void Put(H hh, uint32_t i, uint32_t distance) { qellib_update_sttr_offset(hh, Obj(i), distance); }
    void *Get(H hh, uint32_t i, uint32_t plus = 0) { return qellib_get_sttr_offset(hh, Obj(i, plus)); }
};

TEST_F(SttrPlaces, PlacesComeBackChangedAndOnlyOnTheirHandle) {
    EXPECT_EQ(Get(h, 0), nullptr) << "nothing placed yet";
    for (uint32_t i = 0; i < kObjects; ++i) Put(h, i, 40 + i % 300);
    for (uint32_t i = 0; i < kObjects; i += 3) Put(h, i, i % 7);  // 0 included
    for (uint32_t i = 0; i < kObjects; ++i) {
        ASSERT_EQ(Get(h, i), Obj(i, i % 3 ? 40 + i % 300 : i % 7)) << i;
        ASSERT_EQ(Get(h, i, 8), nullptr) << i;
    }
    H other = qelrt_handle_new();
    EXPECT_EQ(Get(other, 1), nullptr);
    Put(other, 1, 5);
    EXPECT_EQ(std::make_pair(Get(other, 1), Get(h, 1)), std::make_pair((void *)Obj(1, 5), (void *)Obj(1, 41)));
    qelrt_handle_free(other);
    uint8_t spot[16];  // the knob's place answers for every object while it is set
    qelrt_set_sttr_place(spot);
    EXPECT_EQ(std::make_pair(Get(h, 1), Get(h, 1, 8)), std::make_pair((void *)spot, (void *)spot));
    qelrt_set_sttr_place(nullptr);
    EXPECT_EQ(std::make_pair(Get(h, 1), (void *)qellib_get_sttr_offset(h, nullptr)), std::make_pair((void *)Obj(1, 41), (void *)nullptr));
}

}  // namespace
