// entry_points_test.cpp -- the entry points a program reaches rarely but a
// tool or a generated caller does: the internal constructor and destructor,
// the type's LUID, the variant adjustment, the pointer-returning field
// getters and the member validity query, over every structured type and
// enumeration.
#include "fixture.h"

namespace {

using namespace lt;

// Any catalogue name with the operations every type and enumeration has.
class Internal : public Lomari, public ::testing::WithParamInterface<std::string> {
protected:
    template <class F>
    F *Op(const char *op) { return Api<F>(GetParam(), op); }
};

TEST_P(Internal, CreateDestroyLuidAndVariant) {
    for (bool track : {false, true}) {
        track ? Track() : Plain();
        const int64_t live = qelrt_live_bytes();
        void *o = Op<void *(H, U)>("create_internal")(h, db);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(Counts(o).created - Counts(o).destroyed, 1u);

        uint8_t luid[16];
        EXPECT_EQ(Op<int(H, U, const void *, uint8_t *, U *)>("get_luid")(h, db, o, luid, &err), 0);
        EXPECT_EQ(std::memcmp(luid, Tinfo(o)->luid, sizeof luid), 0);
        EXPECT_EQ(Op<int(H, U, const void *, uint8_t *, U *)>("get_luid")(h, db, nullptr, luid, &err), -1);
        EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));

        for (void *p : {o, static_cast<void *>(nullptr)})
            EXPECT_EQ(Op<int(H, U, void *, U *)>("adjust_variant")(h, db, p, &err), 0);
        EXPECT_EQ(Err(), 0u);
        // Index bytes with the high bit keep their value; others keep the upper bits.
        auto cap = Op<U(U)>("variant_data_index_cap");
        EXPECT_EQ(cap(0x1280u), 0x1280u);
        EXPECT_EQ(cap(0x127Fu), 0x1200u);

        qel_variant_record_t &c = Counts(o);
        Op<void(H, U, void *, U)>("destroy_internal")(h, db, o, 1);
        EXPECT_EQ(c.created, c.destroyed);
        EXPECT_EQ(qelrt_live_bytes(), live);
    }
}

std::vector<std::string> Names() {
    std::vector<std::string> v;
    for (const TypeDesc &t : kTypes) v.push_back(t.name);
    for (const EnumDesc &e : kEnums) v.push_back(e.name);
    return v;
}
INSTANTIATE_TEST_SUITE_P(All, Internal, ::testing::ValuesIn(Names()),
                         [](const ::testing::TestParamInfo<std::string> &i) { return i.param; });

// The pointer getters land on the field (an enumeration: its embedded
// instance), and the validity query answers by member index.
class Getters : public TypeTest {};

TEST_P(Getters, PointToTheFieldAndValidityFollowsTheMembers) {
    void *o = Filler(T().ordinal).Make(h, db, T(), 0);
    made_.push_back(o);
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (!Valued(f)) continue;
        void *p = ty.FOp<void *(H, U, void *, U *)>(f, "get")(h, db, o, &err);
        ASSERT_EQ(Err(), 0u) << f.name;
        EXPECT_EQ(p, Bytes(o, f.offset)) << f.name;
    }
    auto valid = Op<int(H, void *, U, U)>("is_valid_cr");
    for (U flags : {0u, 1u}) {
        EXPECT_EQ(valid(h, o, 0, flags), 1);
        EXPECT_EQ(valid(h, o, T().member_bound - 1, flags), 1);
        EXPECT_EQ(valid(h, o, T().member_bound, flags), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, Getters, ::testing::ValuesIn(AllTypes()), ParamName());

}  // namespace
