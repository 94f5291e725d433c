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

// Antisymmetric, equal hashing equal, missing first; header and state bytes take no part.
TEST_P(Compare, LawsOverRandomObjectsHeadersAndStateBytesAside) {
    Track();
    std::vector<void *> objs;
    for (uint32_t s = 0; s < 6; ++s) objs.push_back(Fill(100 + s % 3, ty.Owned() ? 3 : 0));  // seeds repeat
    Bytes(objs[3])[9] = 3;
    Flags(objs[3]) |= QEL_OF_EMBEDDED;
    Op<void(H, U, void *, U)>("set_all_state_tracking_flag")(h, db, objs[3], 0x55);
    const uint32_t seeds[] = {0u, 7u, 0x9E3779B9u};
    for (void *a : objs)
        for (void *b : objs) {
            EXPECT_EQ(Sign(Cmp(a, b)), -Sign(Cmp(b, a)));
            for (uint32_t seed : seeds)
                if (Cmp(a, b) == 0) { EXPECT_EQ(ty.Hash(a, seed), ty.Hash(b, seed)); }
        }
    EXPECT_EQ(Cmp(objs[0], objs[3]), 0);
    Flags(objs[3]) &= uint8_t(~QEL_OF_EMBEDDED);
    bool apart = false;
    for (uint32_t seed : seeds) {
        apart |= ty.Hash(objs[0], seed) != ty.Hash(objs[1], seed);
        EXPECT_EQ(ty.Hash(nullptr, seed), seed);
    }
    EXPECT_TRUE(apart);
    EXPECT_EQ(std::make_tuple(Cmp(nullptr, objs[0]), Cmp(objs[0], nullptr), Cmp(nullptr, nullptr)), std::make_tuple(-1, 1, 0));
}

// Numbers give -1/1, enumerations their difference; fields decide in declaration order.
TEST_P(Compare, FieldResultsAndOrder) {
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
    unsigned k = 0;
    while (k < T().nfields && T().fields[k].kind != Kind::Str) ++k;
    if (k == T().nfields) GTEST_SKIP() << "no fixed string";
    void *a = Make(), *b = Make();
    uint8_t *ka = Bytes(a, T().fields[k].offset), *kb = Bytes(b, T().fields[k].offset);
    auto order = [&] { return std::make_pair(Sign(Cmp(a, b)), ty.Hash(a, 1) == ty.Hash(b, 1)); };
    ka[30] = 'z';
    kb[30] = 'a';
    EXPECT_EQ(Cmp(a, b), std::memcmp(ka, kb, 31));
    EXPECT_EQ(order(), std::make_pair(1, false));
    kb[30] = 'z';
    ka[6] = 'q';  // behind a terminator
    EXPECT_EQ(order(), std::make_pair(1, false));
    ka[6] = 0;
    ka[31] = 'x';  // the terminator's place
    EXPECT_EQ(order(), std::make_pair(0, true));
    ka[31] = 0;
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
