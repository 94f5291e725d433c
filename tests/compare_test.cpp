// compare_test.cpp -- the order and the hash of every type: the laws they
// must keep over random objects, the field order that decides, missing
// objects, and the kinds with rules of their own (enumeration difference,
// fixed string over 31 bytes, list length first, array storage).
#include "codec_support.h"

namespace lt::codec {
namespace {

int Sign(int32_t v) { return (v > 0) - (v < 0); }

class Compare : public Lomari, public ::testing::WithParamInterface<const TypeDesc *> {
protected:
    const TypeDesc &t = *GetParam();
    Codec c{t};
    Obj ob{t};
};

TEST_P(Compare, MissingObjects) {
    Filler fill(1);
    void *a = fill.Make(h, db, t, 2);
    EXPECT_EQ(c.Compare(nullptr, a), -1);
    EXPECT_EQ(c.Compare(a, nullptr), 1);
    EXPECT_EQ(c.Compare(nullptr, nullptr), 0);
    EXPECT_EQ(c.Hash(nullptr, 7), 7u);
    EXPECT_EQ(c.Hash(nullptr, 0xFFFFFFFFu), 0xFFFFFFFFu);
    ob.Destroy(h, db, a);
}

TEST_P(Compare, LawsOverRandomObjects) {
    const uint32_t elems = HasElements(t) ? 3 : 0;
    std::vector<void *> objs;
    for (uint32_t s = 0; s < 6; ++s) {
        Filler fill(100 + s % 3);  // seeds repeat: some objects are equal
        objs.push_back(fill.Make(h, db, t, elems));
    }
    for (void *a : objs) {
        EXPECT_EQ(c.Compare(a, a), 0);
        for (void *b : objs) {
            int32_t ab = c.Compare(a, b), ba = c.Compare(b, a);
            EXPECT_EQ(Sign(ab), -Sign(ba));
            if (ab != 0) continue;
            for (uint32_t seed : {0u, 7u, 0x9E3779B9u}) EXPECT_EQ(c.Hash(a, seed), c.Hash(b, seed));
        }
    }
    // Same filling, same order and hash: objects 0 and 3 were filled alike.
    EXPECT_EQ(c.Compare(objs[0], objs[3]), 0);
    // Different filling: the hash tells them apart for some seed.
    bool apart = false;
    for (uint32_t seed : {0u, 7u, 0x9E3779B9u}) apart |= c.Hash(objs[0], seed) != c.Hash(objs[1], seed);
    EXPECT_TRUE(apart);
    for (void *o : objs) ob.Destroy(h, db, o);
}

// Order and hash come from field values only: header bytes and state bytes
// do not take part.
TEST_P(Compare, HeadersAndStateBytesDoNotCount) {
    Track();
    Filler f1(5), f2(5);
    void *a = f1.Make(h, db, t, 2), *b = f2.Make(h, db, t, 2);
    VariantCap(b) = 3;
    Flags(b) |= QEL_OF_EMBEDDED;
    Api<void(P, uint32_t, void *, uint32_t)>(t.name, "set_all_state_tracking_flag")(h, db, b, 0x55);
    EXPECT_EQ(c.Compare(a, b), 0);
    EXPECT_EQ(c.Hash(a, 11), c.Hash(b, 11));
    Flags(b) &= static_cast<uint8_t>(~QEL_OF_EMBEDDED);
    ob.Destroy(h, db, a);
    ob.Destroy(h, db, b);
}

// Fields decide in declaration order: a later field that differs the other
// way does not overturn an earlier one.
TEST_P(Compare, EarlierFieldDecides) {
    for (unsigned i = 0; i < t.nfields; ++i) {
        const FieldDesc &fi = t.fields[i];
        if (!IsScalar(fi.kind) && fi.kind != Kind::Enum) continue;
        for (unsigned j = i + 1; j < t.nfields; ++j) {
            const FieldDesc &fj = t.fields[j];
            if (!IsScalar(fj.kind) && fj.kind != Kind::Enum) continue;
            void *a = ob.Create(h, db), *b = ob.Create(h, db);
            uint32_t e = 0;
            ob.SetValue(h, db, a, fi, 1, &e);   // a wins on the earlier field
            ob.SetValue(h, db, b, fj, 1, &e);   // b wins on the later one
            EXPECT_EQ(e, 0u);
            EXPECT_GT(c.Compare(a, b), 0) << fi.name << " before " << fj.name;
            EXPECT_LT(c.Compare(b, a), 0) << fi.name << " before " << fj.name;
            EXPECT_NE(c.Hash(a, 3), c.Hash(b, 3)) << fi.name << " / " << fj.name;
            ob.Destroy(h, db, a);
            ob.Destroy(h, db, b);
        }
    }
}

// Unsigned scalars compare as unsigned numbers and give -1/1; enumeration
// fields give the difference of their values.
TEST_P(Compare, FieldKindResults) {
    for (unsigned i = 0; i < t.nfields; ++i) {
        const FieldDesc &f = t.fields[i];
        if (!IsScalar(f.kind) && f.kind != Kind::Enum) continue;
        void *a = ob.Create(h, db), *b = ob.Create(h, db);
        uint32_t e = 0;
        uint32_t top = f.kind == Kind::Enum ? f.en->bound - 1 : (f.kind == Kind::U8 ? 0xFF : f.kind == Kind::U16 ? 0xFFFF : 0xFFFFFFFFu);
        ob.SetValue(h, db, a, f, top, &e);
        ob.SetValue(h, db, b, f, 0, &e);
        ASSERT_EQ(e, 0u);
        int32_t want = f.kind == Kind::Enum ? static_cast<int32_t>(top) : 1;
        EXPECT_EQ(c.Compare(a, b), want) << f.name;
        EXPECT_EQ(c.Compare(b, a), -want) << f.name;
        ob.Destroy(h, db, a);
        ob.Destroy(h, db, b);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, Compare, ::testing::ValuesIn(AllTypes()), ParamName());

// ---- enumerations ---------------------------------------------------------

class CompareEnum : public Lomari, public ::testing::WithParamInterface<const EnumDesc *> {};

TEST_P(CompareEnum, DifferenceOfValues) {
    const EnumDesc &en = *GetParam();
    auto cmp = Api<int32_t(const void *, const void *)>(en.name, "compare");
    auto hash = Api<uint32_t(const void *, uint32_t)>(en.name, "hash");
    alignas(8) uint8_t a[16] = {}, b[16] = {};
    uint32_t va = 3, vb = 1;  // 3 is out of range for some: compare does not care
    std::memcpy(a + 12, &va, 4);
    std::memcpy(b + 12, &vb, 4);
    EXPECT_EQ(cmp(a, b), 2);
    EXPECT_EQ(cmp(b, a), -2);
    EXPECT_EQ(cmp(a, a), 0);
    EXPECT_EQ(cmp(nullptr, a), -1);
    EXPECT_EQ(cmp(a, nullptr), 1);
    EXPECT_EQ(cmp(nullptr, nullptr), 0);
    EXPECT_EQ(hash(nullptr, 7), 7u);
    EXPECT_NE(hash(a, 7), hash(b, 7));
    b[8] = 5;  // header bytes are not hashed
    std::memcpy(b + 12, &va, 4);
    EXPECT_EQ(hash(a, 7), hash(b, 7));
}

INSTANTIATE_TEST_SUITE_P(Enums, CompareEnum, ::testing::ValuesIn(AllEnums()), ParamName());

// ---- fixed strings -----------------------------------------------------------

std::vector<const TypeDesc *> StrTypes() { return TypesWith([](const TypeDesc &t) { return HasKind(t, Kind::Str); }); }

class CompareStr : public Compare {
protected:
    const FieldDesc &key() const {
        for (unsigned i = 0; i < t.nfields; ++i)
            if (t.fields[i].kind == Kind::Str) return t.fields[i];
        return t.fields[0];
    }
};

// All 31 characters count, those after a terminator too; the 32nd byte,
// the terminator's own place, does not.
TEST_P(CompareStr, ThirtyOneBytesUnclamped) {
    void *a = ob.Create(h, db), *b = ob.Create(h, db);
    uint8_t *ka = Bytes(a, key().offset), *kb = Bytes(b, key().offset);
    ka[30] = 'z';
    kb[30] = 'a';
    EXPECT_EQ(c.Compare(a, b), std::memcmp(ka, kb, 31));
    EXPECT_GT(c.Compare(a, b), 0);
    EXPECT_NE(c.Hash(a, 1), c.Hash(b, 1));
    kb[30] = 'z';
    ka[5] = 0;
    kb[5] = 0;
    ka[6] = 'q';  // behind a terminator
    EXPECT_GT(c.Compare(a, b), 0);
    EXPECT_NE(c.Hash(a, 1), c.Hash(b, 1));
    ka[6] = 0;
    ka[31] = 'x';  // terminator place: outside the order and the hash
    EXPECT_EQ(c.Compare(a, b), 0);
    EXPECT_EQ(c.Hash(a, 1), c.Hash(b, 1));
    ka[31] = 0;
    ob.Destroy(h, db, a);
    ob.Destroy(h, db, b);
}

INSTANTIATE_TEST_SUITE_P(Types, CompareStr, ::testing::ValuesIn(StrTypes()), ParamName());

// ---- lists and arrays ---------------------------------------------------------

std::vector<const TypeDesc *> ListOwners() { return TypesWith([](const TypeDesc &t) { return t.list_field >= 0; }); }
std::vector<const TypeDesc *> ArrayOwners() { return TypesWith([](const TypeDesc &t) { return t.array_field >= 0; }); }

class CompareList : public Compare {};

// The longer list is greater whatever its elements hold; with equal
// lengths the first differing element decides.
TEST_P(CompareList, LengthFirstThenElements) {
    const FieldDesc &lf = *ListField(t);
    const TypeDesc &e = *lf.elem;
    Obj eo{e};
    void *a = ob.Create(h, db), *b = ob.Create(h, db);
    uint32_t err = 0;
    auto append = [&](void *o, uint32_t v) {
        void *el = eo.Create(h, db);
        eo.SetValue(h, db, el, e.fields[0], v, &err);
        ListAppend(h, db, t, o, el, &err);
    };
    append(a, 1);
    append(a, 1);
    append(b, 0xFFFFFFFFu);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(c.Compare(a, b), 1);
    EXPECT_EQ(c.Compare(b, a), -1);
    append(b, 0);
    EXPECT_GT(c.Compare(b, a), 0);  // now 2 and 2: first elements decide
    EXPECT_NE(c.Hash(a, 9), c.Hash(b, 9));
    eo.SetValue(h, db, Elements(b, lf)[0], e.fields[0], 1, &err);
    eo.SetValue(h, db, Elements(b, lf)[1], e.fields[0], 1, &err);
    EXPECT_EQ(c.Compare(a, b), 0);
    EXPECT_EQ(c.Hash(a, 9), c.Hash(b, 9));
    eo.SetValue(h, db, Elements(b, lf)[1], e.fields[0], 2, &err);  // last element differs
    EXPECT_LT(c.Compare(a, b), 0);
    ob.Destroy(h, db, a);
    ob.Destroy(h, db, b);
}

INSTANTIATE_TEST_SUITE_P(Types, CompareList, ::testing::ValuesIn(ListOwners()), ParamName());

class CompareArray : public Compare {};

TEST_P(CompareArray, CountThenElementsThenStorage) {
    Filler fill(3);
    void *a = fill.Make(h, db, t, 2);
    Filler again(3);
    void *b = again.Make(h, db, t, 2);
    ASSERT_EQ(c.Compare(a, b), 0);
    const TypeDesc &e = *ArrayField(t)->elem;
    // The last element decides.
    uint8_t *last = Block(b, t) + e.plain_size;
    uint32_t err = 0;
    uint32_t was = Raw(last, e.fields[0]);
    Obj{e}.SetValue(h, db, last, e.fields[0], was + 1, &err);
    EXPECT_NE(c.Compare(a, b), 0);
    EXPECT_NE(c.Hash(a, 4), c.Hash(b, 4));
    Obj{e}.SetValue(h, db, last, e.fields[0], was, &err);

    // Equal counts, one side without storage: that side is the missing one.
    uint8_t *kept = Block(b, t);
    Block(b, t) = nullptr;
    EXPECT_EQ(c.Compare(a, b), 1);
    EXPECT_EQ(c.Compare(b, a), -1);
    Block(b, t) = kept;

    // pair_count 0 on both: a stale block behind one of them is not looked at.
    uint32_t na = PairCount(a, t), nb = PairCount(b, t);
    PairCount(a, t) = 0;
    PairCount(b, t) = 0;
    Obj{e}.SetValue(h, db, Block(b, t), e.fields[0], Raw(Block(a, t), e.fields[0]) + 1, &err);
    uint8_t *ka = Block(a, t);
    Block(a, t) = nullptr;
    EXPECT_EQ(c.Compare(a, b), 0);
    EXPECT_EQ(c.Compare(b, a), 0);
    Block(a, t) = ka;
    EXPECT_EQ(c.Compare(a, b), 0);
    PairCount(a, t) = na;
    PairCount(b, t) = nb;
    ob.Destroy(h, db, a);
    ob.Destroy(h, db, b);
}

// A longer array is greater on pair_count, before any element is looked at.
TEST_P(CompareArray, LongerIsGreater) {
    Filler f1(8), f2(9);
    void *a = f1.Make(h, db, t, 3), *b = f2.Make(h, db, t, 2);
    // Make the scalars before pair_count equal so that the count decides.
    for (unsigned i = 0; i < t.nfields && t.fields[i].kind != Kind::PairCount; ++i) {
        uint32_t err = 0;
        ob.SetValue(h, db, b, t.fields[i], Raw(a, t.fields[i]), &err);
    }
    EXPECT_EQ(c.Compare(a, b), 1);
    EXPECT_EQ(c.Compare(b, a), -1);
    ob.Destroy(h, db, a);
    ob.Destroy(h, db, b);
}

INSTANTIATE_TEST_SUITE_P(Types, CompareArray, ::testing::ValuesIn(ArrayOwners()), ParamName());

}  // namespace
}  // namespace lt::codec
