// compare_test.cpp -- order and hash of every structured type (enumerations: binary_test).
#include "fixture.h"

namespace {

using namespace lt;

int Sign(int32_t v) { return (v > 0) - (v < 0); }

class Compare : public TypeTest {
protected:
    int32_t Cmp(const void *a, const void *b) const { return ty.Compare(a, b); }
    std::pair<int32_t, int32_t> Both(const void *a, const void *b) const { return {Cmp(a, b), Cmp(b, a)}; }
    void *Fill(uint32_t seed, U elems) { return made_.emplace_back(Filler(seed).Make(h, db, T(), elems)); }
    static U Top(const FieldDesc &f) { return f.kind == Kind::Enum ? f.en->bound - 1 : ~0u >> (32 - 8 * Width(f.kind)); }
};

// Numbers give -1/1, enumerations their difference; fields decide in declaration order; missing first.
TEST_P(Compare, FieldResultsAndOrder) {
    EXPECT_EQ(std::make_tuple(Cmp(nullptr, Make()), Cmp(Make(), nullptr), Cmp(nullptr, nullptr), ty.Hash(nullptr, 7)), std::make_tuple(-1, 1, 0, 7u));
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &fi = T().fields[i];
        if (!Valued(fi)) continue;
        void *a = Make(), *b = Make();
        Set(a, fi, Top(fi));
        const int32_t want = fi.kind == Kind::Enum ? int32_t(Top(fi)) : 1;
        EXPECT_EQ(Both(a, b), std::make_pair(want, -want)) << fi.name;
        Set(a, fi, 1);
        for (unsigned j = i + 1; j < T().nfields; ++j) {
            const FieldDesc &fj = T().fields[j];
            if (!Valued(fj)) continue;
            Set(b, fj, 1);
            EXPECT_EQ(std::make_pair(Sign(Cmp(a, b)), Sign(Cmp(b, a))), std::make_pair(1, -1)) << fi.name << " before " << fj.name;
            EXPECT_NE(ty.Hash(a, 3), ty.Hash(b, 3)) << fi.name << " / " << fj.name;
            Set(b, fj, 0);
        }
        EXPECT_EQ(Err(), 0u);
    }
}

// All 31 characters of a fixed string count, past a terminator too; the 32nd does not.
TEST_P(Compare, FixedStringsOverThirtyOneBytes) {
    for (unsigned k = 0; k < T().nfields; ++k) {
        if (T().fields[k].kind != Kind::Str) continue;
        void *a = Make(), *b = Make();
        uint8_t *ka = Bytes(a, T().fields[k].offset), *kb = Bytes(b, T().fields[k].offset);
        for (unsigned at : {30u, 6u, 31u}) {  // 6: behind a terminator; 31: the terminator's place
            ka[at] = 'q';
            EXPECT_EQ(std::make_tuple(Cmp(a, b), Sign(Cmp(a, b)), ty.Hash(a, 1) == ty.Hash(b, 1)),
                      std::make_tuple(std::memcmp(ka, kb, 31), at < 31 ? 1 : 0, at == 31)) << at;
            ka[at] = 0;
        }
    }
}

// Length first, then every element; a missing block orders first, a stale one with no count is ignored.
TEST_P(Compare, ListsAndArrays) {
    if (!ty.Owned()) GTEST_SKIP() << "no elements";
    void *a = Fill(3, 3), *b = Fill(3, 2), *c = Fill(3, 3);  // same seed: equal up to the elements
    ASSERT_EQ(Cmp(a, c), 0);
    Ty e{*ty.Owned()->elem};
    const FieldDesc &f0 = e.t.fields[0];
    e.SetValue(h, db, ty.List() ? ty.Elements(b)[0] : ty.Block(b), f0, Top(f0), &err);
    EXPECT_EQ(Both(a, b), std::make_pair(1, -1));
    void *last = ty.List() ? ty.Elements(c).back() : ty.Block(c) + 2 * e.t.plain_size;
    const U was = Raw(last, f0);
    e.SetValue(h, db, last, f0, was + 1, &err);
    EXPECT_NE(Cmp(a, c), 0);
    EXPECT_NE(ty.Hash(a, 4), ty.Hash(c, 4));
    e.SetValue(h, db, last, f0, was, &err);
    EXPECT_EQ(Err(), 0u);
    if (!ty.Array()) return;
    uint8_t *kept = std::exchange(ty.Block(c), nullptr);
    EXPECT_EQ(Both(a, c), std::make_pair(1, -1));
    uint8_t *kept_a = std::exchange(ty.Block(a), nullptr);  // both lacking: equal
    EXPECT_EQ(Cmp(a, c), 0);
    ty.Block(a) = kept_a;
    ty.Block(c) = kept;
    const U na = std::exchange(ty.PairCount(a), 0), nc = std::exchange(ty.PairCount(c), 0);
    e.SetValue(h, db, kept, f0, Raw(ty.Block(a), f0) + 1, &err);
    EXPECT_EQ(Cmp(a, c), 0);
    kept = std::exchange(ty.Block(a), nullptr);
    EXPECT_EQ(Both(a, c), std::make_pair(0, 0));
    ty.Block(a) = kept;
    ty.PairCount(a) = na;
    ty.PairCount(c) = nc;
}

INSTANTIATE_TEST_SUITE_P(Types, Compare, ::testing::ValuesIn(AllTypes()), ParamName());

}  // namespace
