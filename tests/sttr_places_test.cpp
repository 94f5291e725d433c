// sttr_places_test.cpp -- the state-area places a handle keeps (qellib_update/get_sttr_offset):
// many, changed, a distance of 0, never placed, the knob's first, per handle.
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

}  // namespace
