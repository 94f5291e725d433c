// clone_test.cpp -- deep copies of every type: copies owning their elements
// and outliving the source, slot and buffer rules, the chained form through
// the handle's workspace, and what a failed copy leaves behind.
#include "fixture.h"

namespace {

using namespace lt;

class Clone : public CodecTest {
protected:
    void Copy(void *src, void **slot, U room = kBig, const char *op = "clone") {
        ty.Clone(h, db, src, slot, buf.data(), room, &err, op);
    }
};

// The copy owns its own elements, survives its source and holds what the
// source held, state bytes included.
TEST_P(Clone, CopyOutlivesItsSource) {
    Modes([&](bool) {
        void *src = Fill(60 + T().ordinal, Elems()), *twin = Fill(60 + T().ordinal, Elems());
        void *copy = nullptr;
        Copy(src, &copy);
        ASSERT_EQ(Err(), 0u);
        ASSERT_NE(copy, nullptr);
        EXPECT_NE(copy, src);
        if (ty.List()) {
            auto mine = ty.Elements(copy), theirs = ty.Elements(src);
            ASSERT_EQ(mine.size(), theirs.size());
            for (size_t i = 0; i < mine.size(); ++i) EXPECT_NE(mine[i], theirs[i]);
        }
        if (ty.Array()) { EXPECT_NE(ty.Block(copy), ty.Block(src)); }
        Destroy(src);
        EXPECT_EQ(ty.Compare(copy, twin), 0);
        EXPECT_EQ(Encode(copy), Encode(twin));  // state bytes came along too
        EXPECT_EQ(Err(), 0u);
        Destroy(copy);
        Destroy(twin);
        ExpectNoLeak();
    });
}

// clone empties the slot first; clone_internal decodes into what it holds,
// so a list there keeps its own elements and receives the source's after.
TEST_P(Clone, FilledSlot) {
    Filler fill(5);
    void *src = fill.Make(h, db, T(), Elems()), *mine = fill.Make(h, db, T(), ty.Owned() ? 2 : 0);
    void *slot = mine;
    Copy(src, &slot);
    ASSERT_EQ(Err(), 0u);
    EXPECT_NE(slot, mine);
    EXPECT_EQ(ty.Compare(slot, src), 0);
    Destroy(slot);

    slot = mine;
    Copy(src, &slot, kBig, "clone_internal");
    ASSERT_EQ(Err(), 0u);
    EXPECT_EQ(slot, mine);
    if (ty.List()) {
        EXPECT_EQ(ty.Count(mine), 5u);
    } else {
        EXPECT_EQ(ty.Compare(mine, src), 0);
    }
    Destroy(mine);
    Destroy(src);
    ExpectNoLeak();
}

// Refused: no room (90); no slot or buffer (2); an error present (slot
// untouched).  The chained form copies through the handle's workspace, and
// gives nothing while an error is held or the workspace is too small.
TEST_P(Clone, RefusalsAndTheChainedForm) {
    auto clone_cr = Op<void *(H, void *)>("clone_cr");
    void *src = made_.emplace_back(Fill(1, Elems())), *copy = nullptr;
    uint64_t allocs = qelrt_alloc_count();
    Copy(src, &copy, 0);
    EXPECT_EQ(Err(), 90u);
    ty.Clone(h, db, src, nullptr, buf.data(), kBig, &err, "clone_internal");
    EXPECT_EQ(Err(), 2u);
    ty.Clone(h, db, src, &copy, nullptr, kBig, &err, "clone_internal");
    EXPECT_EQ(Err(), 2u);
    err = 22;
    copy = src;
    Copy(src, &copy, kBig, "clone_internal");
    EXPECT_EQ(Err(), 22u);
    EXPECT_EQ(std::exchange(copy, nullptr), src);
    h->err = 22;
    void *null_obj = copy = Op<void *(H)>("create_cr")(h);  // the shared null object is never written into
    h->err = 0;
    Copy(src, &copy, kBig, "clone_internal");
    EXPECT_EQ(Err(), 22u);
    EXPECT_EQ(std::exchange(copy, nullptr), null_obj);
    EXPECT_EQ(Tinfo(null_obj), nullptr);
    h->err = 22;
    EXPECT_EQ(clone_cr(h, src), nullptr);
    EXPECT_EQ(h->err, 22u);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(qelrt_alloc_count(), allocs);

    h->err = 0;
    copy = clone_cr(h, src);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(ty.Compare(copy, src), 0);
    Destroy(copy);
    qelrt_handle_set_workspace(h, 5);
    EXPECT_EQ(clone_cr(h, src), nullptr);
    EXPECT_EQ(h->err, 90u);
}

// A nested destination is decoded into but never freed when the decode
// fails (other failing allocations: alloc_sweep_test.cpp).
TEST_P(Clone, FailedAllocationLeavesTheNestedDestination) {
    if (!ty.Owned()) GTEST_SKIP() << "no elements";
    void *src = Fill(7, 3);
    for (bool nested : {true, false}) {  // a free-standing destination goes with the failed copy
        void *dst = Create(), *slot = dst;
        if (nested) Flags(dst) |= QEL_OF_NESTED;
        uint64_t frees = qelrt_free_count();
        qelrt_fail_alloc_at(1);
        Copy(src, &slot, kBig, "clone_internal");
        qelrt_fail_alloc_at(0);
        EXPECT_EQ(Err(), 12u);
        EXPECT_EQ(slot, nullptr);
        if (!nested) continue;
        EXPECT_EQ(qelrt_free_count(), frees);
        EXPECT_NE(Op<void *(H, U, void *)>("get")(h, db, dst), nullptr);
        EXPECT_EQ(Variant(dst), 0);
        Flags(dst) &= uint8_t(~QEL_OF_NESTED);
        Destroy(dst);
    }
    Destroy(src);
    ExpectNoLeak();
}

INSTANTIATE_TEST_SUITE_P(Types, Clone, ::testing::ValuesIn(AllTypes()), ParamName());

}  // namespace
