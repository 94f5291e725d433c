// clone_test.cpp -- deep copies of every type: a copy that outlives its
// source and owns its own elements, the slot and buffer rules, the
// chained-error form through the handle's workspace, and what a failed copy
// leaves behind (nothing, and never a block it does not own).
#include "codec_support.h"

namespace lt::codec {
namespace {

constexpr uint32_t kBig = 1u << 16;

class Clone : public Lomari, public ::testing::WithParamInterface<const TypeDesc *> {
protected:
    const TypeDesc &t = *GetParam();
    Codec c{t};
    Obj ob{t};
    std::vector<uint8_t> buf = std::vector<uint8_t>(kBig);
    int64_t live0 = 0;

    void SetUp() override {
        Lomari::SetUp();
        live0 = qelrt_live_bytes();
    }
    uint32_t Elems() const { return HasElements(t) ? 3 : 0; }
    std::vector<uint8_t> Encode(const void *o) {
        uint32_t e = 0;
        uint32_t n = c.Marshal(h, db, buf.data(), o, kBig, &e);
        EXPECT_EQ(e, 0u);
        return {buf.begin(), buf.begin() + n};
    }
    // What the object owns beside itself: list elements or element block.
    std::vector<void *> Owned(void *o) {
        if (const FieldDesc *f = ListField(t)) return Elements(o, *f);
        if (ArrayField(t)) return {Block(o, t)};
        return {};
    }
};

TEST_P(Clone, CopyOutlivesItsSource) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track ? "tracking" : "plain");
        qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : 0);
        Filler f1(60 + t.ordinal), f2(60 + t.ordinal);
        void *src = f1.Make(h, db, t, Elems());
        void *twin = f2.Make(h, db, t, Elems());
        void *copy = nullptr;
        c.Clone(h, db, src, &copy, buf.data(), kBig, &err);
        ASSERT_EQ(err, 0u);
        ASSERT_NE(copy, nullptr);
        EXPECT_NE(copy, src);
        auto mine = Owned(copy), theirs = Owned(src);
        ASSERT_EQ(mine.size(), theirs.size());
        for (size_t i = 0; i < mine.size(); ++i) EXPECT_NE(mine[i], theirs[i]);
        ob.Destroy(h, db, src);
        EXPECT_EQ(c.Compare(copy, twin), 0);
        EXPECT_EQ(Encode(copy), Encode(twin));  // state bytes came along too
        ob.Destroy(h, db, copy);
        ob.Destroy(h, db, twin);
        EXPECT_EQ(qelrt_live_bytes(), live0);
    }
}

TEST_P(Clone, ZeroLengthBufferCreatesNothing) {
    void *src = Filler(1).Make(h, db, t, Elems());
    void *copy = nullptr;
    uint64_t allocs = qelrt_alloc_count();
    c.Clone(h, db, src, &copy, buf.data(), 0, &err);
    EXPECT_EQ(err, 90u);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(qelrt_alloc_count(), allocs);
    ob.Destroy(h, db, src);
}

TEST_P(Clone, SlotAndBufferAreRequired) {
    void *src = ob.Create(h, db);
    void *copy = nullptr;
    c.CloneInternal(h, db, src, nullptr, buf.data(), kBig, &err);
    EXPECT_EQ(err, 2u);
    err = 0;
    c.CloneInternal(h, db, src, &copy, nullptr, kBig, &err);
    EXPECT_EQ(err, 2u);
    EXPECT_EQ(copy, nullptr);
    // An error already present: nothing done, the slot untouched.
    err = 22;
    copy = src;
    c.CloneInternal(h, db, src, &copy, buf.data(), kBig, &err);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(copy, src);
    ob.Destroy(h, db, src);
}

// clone empties the slot first; clone_internal decodes into what it holds,
// so a list there keeps its own elements and receives the source's after.
TEST_P(Clone, FilledSlot) {
    Filler fill(5);
    void *src = fill.Make(h, db, t, Elems());
    void *mine = fill.Make(h, db, t, HasElements(t) ? 2 : 0);
    void *slot = mine;
    c.Clone(h, db, src, &slot, buf.data(), kBig, &err);
    ASSERT_EQ(err, 0u);
    EXPECT_NE(slot, mine);
    EXPECT_EQ(c.Compare(slot, src), 0);
    ob.Destroy(h, db, slot);

    slot = mine;
    c.CloneInternal(h, db, src, &slot, buf.data(), kBig, &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(slot, mine);
    if (const FieldDesc *f = ListField(t)) {
        EXPECT_EQ(AnchorOf(mine, *f).count, 5u);
    } else {
        EXPECT_EQ(c.Compare(mine, src), 0);
    }
    ob.Destroy(h, db, mine);
    ob.Destroy(h, db, src);
    EXPECT_EQ(qelrt_live_bytes(), live0);
}

TEST_P(Clone, ChainedFormUsesTheWorkspace) {
    void *src = Filler(6).Make(h, db, t, Elems());
    void *copy = c.CloneCr(h, src);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(c.Compare(copy, src), 0);
    ob.Destroy(h, db, copy);

    // An error already held: no object, nothing allocated.
    h->err = 22;
    uint64_t allocs = qelrt_alloc_count();
    EXPECT_EQ(c.CloneCr(h, src), nullptr);
    EXPECT_EQ(qelrt_alloc_count(), allocs);
    EXPECT_EQ(h->err, 22u);

    // A workspace too small for the encoding: no object, 90.
    h->err = 0;
    qelrt_handle_set_workspace(h, 5);
    EXPECT_EQ(c.CloneCr(h, src), nullptr);
    EXPECT_EQ(h->err, 90u);
    ob.Destroy(h, db, src);
    EXPECT_EQ(qelrt_live_bytes(), live0);
}

INSTANTIATE_TEST_SUITE_P(Types, Clone, ::testing::ValuesIn(AllTypes()), ParamName());

// ---- failures while building the copy ---------------------------------------------

class CloneOwner : public Clone {};

// The copy's creation (first allocation) or its elements' storage (second)
// fails: 12, an empty slot, nothing left allocated.
TEST_P(CloneOwner, FailedAllocationLeavesNothing) {
    void *src = Filler(7).Make(h, db, t, 3);
    for (uint64_t n : {1u, 2u}) {
        void *copy = nullptr;
        uint32_t e = 0;
        int64_t live = qelrt_live_bytes();
        qelrt_fail_alloc_at(n);
        c.Clone(h, db, src, &copy, buf.data(), kBig, &e);
        qelrt_fail_alloc_at(0);
        EXPECT_EQ(e, 12u) << "allocation " << n;
        EXPECT_EQ(copy, nullptr);
        EXPECT_EQ(qelrt_live_bytes(), live) << "allocation " << n;
    }
    ob.Destroy(h, db, src);
}

// A destination that is part of something else (flagged nested, as array
// elements are) is decoded into but never freed when the decode fails.
TEST_P(CloneOwner, NestedDestinationIsNeverFreed) {
    void *src = Filler(8).Make(h, db, t, 3);
    void *dst = ob.Create(h, db);
    Flags(dst) |= QEL_OF_NESTED;
    void *slot = dst;
    uint64_t frees = qelrt_free_count();
    qelrt_fail_alloc_at(1);
    c.CloneInternal(h, db, src, &slot, buf.data(), kBig, &err);
    qelrt_fail_alloc_at(0);
    EXPECT_EQ(err, 12u);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(qelrt_free_count(), frees);
    EXPECT_NE(Api<void *(P, uint32_t, void *)>(t.name, "get")(h, db, dst), nullptr);
    EXPECT_EQ(Variant(dst), 0);
    Flags(dst) &= static_cast<uint8_t>(~QEL_OF_NESTED);
    ob.Destroy(h, db, dst);
    ob.Destroy(h, db, src);
    EXPECT_EQ(qelrt_live_bytes(), live0);
}

INSTANTIATE_TEST_SUITE_P(Types, CloneOwner, ::testing::ValuesIn(TypesWith(HasElements)), ParamName());

using CloneUse = Lomari;

// A copy element set into an array goes through the clone into its slot.
TEST_F(CloneUse, CopyingArraySetClonesIntoTheSlot) {
    const TypeDesc &owner = kTypes[12], &pair = *ArrayField(owner)->elem;
    ASSERT_STREQ(owner.name, "cc_ids");
    void *o = Obj{owner}.Create(h, db);
    void *v = Filler(9).Make(h, db, pair, 0);
    auto set_cr = Api<uint32_t(P, void *, uint32_t, void *, uint32_t)>("cc_ids_pairs", "set_cr");
    EXPECT_EQ(set_cr(h, o, 1, v, 0), 0u);
    EXPECT_EQ(Codec{pair}.Compare(Block(o, owner) + pair.plain_size, v), 0);
    EXPECT_TRUE(Flags(Block(o, owner) + pair.plain_size) & QEL_OF_NESTED);
    Obj{pair}.Destroy(h, db, v);
    Obj{owner}.Destroy(h, db, o);
}

// The clone writer does not hold the body's own variant against the
// domain.
TEST_F(CloneUse, IgnoresTheDomainVariantOfTheBody) {
    const TypeDesc &t = kTypes[2];
    void *src = Filler(10).Make(h, db, t, 0);
    qelrt_set_domain_variant(-1);
    std::vector<uint8_t> b(64);
    void *copy = nullptr;
    Codec{t}.Clone(h, db, src, &copy, b.data(), 64, &err);
    qelrt_set_domain_variant(0);
    EXPECT_EQ(err, 0u);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Codec{t}.Compare(copy, src), 0);
    Obj{t}.Destroy(h, db, copy);
    Obj{t}.Destroy(h, db, src);
}

}  // namespace
}  // namespace lt::codec
