// clone_test.cpp -- deep copies of every type: refusals, the chained form, failed allocations.
#include <algorithm>

#include "fixture.h"

namespace {

using namespace lt;

class Clone : public CodecTest {
protected:
    void Copy(void *src, void **slot, U room = kBig, const char *op = "clone") {
        ty.Clone(h, db, src, slot, buf.data(), room, &err, op);
    }
};

// Refusals allocate nothing; the chained form copies through the handle's workspace.
TEST_P(Clone, RefusalsAndTheChainedForm) {
    auto clone_cr = Op<void *(H, void *)>("clone_cr");
    void *src = made_.emplace_back(Fill(1, Elems()));
    h->err = 22;
    void *null_obj = Op<void *(H)>("create_cr")(h), *slot = nullptr;
    h->err = 0;
    const uint64_t allocs = qelrt_alloc_count();
    struct { const char *op; void *in; bool no_slot, no_buf; U room, err0, code; } cases[] = {
        {"clone", nullptr, false, false, 0, 0, 90},        {"clone_internal", nullptr, true, false, kBig, 0, 2},
        {"clone_internal", nullptr, false, true, kBig, 0, 2}, {"clone_internal", src, false, false, kBig, 22, 22},
        {"clone_internal", null_obj, false, false, kBig, 0, 22},
    };
    for (const auto &c : cases) {
        slot = c.in;
        err = c.err0;
        ty.Clone(h, db, src, c.no_slot ? nullptr : &slot, c.no_buf ? nullptr : buf.data(), c.room, &err, c.op);
        EXPECT_EQ(std::make_pair(Err(), slot), std::make_pair(c.code, c.in)) << c.op << " " << c.code;
    }
    EXPECT_EQ(Tinfo(null_obj), nullptr);
    h->err = 22;
    EXPECT_EQ(clone_cr(h, src), nullptr);
    EXPECT_EQ(std::make_pair(h->err, qelrt_alloc_count()), std::make_pair(22u, allocs));
    h->err = 0;
    void *copy = clone_cr(h, src);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::make_pair(h->err, ty.Compare(copy, src)), std::make_pair(0u, 0));
    Destroy(copy);
    qelrt_handle_set_workspace(h, 5);
    EXPECT_EQ(clone_cr(h, src), nullptr);
    EXPECT_EQ(h->err, 90u);
}

// A failed copy frees a free-standing destination, never a nested one (others: alloc_sweep_test).
TEST_P(Clone, FailedAllocationLeavesTheNestedDestination) {
    if (!ty.Owned()) GTEST_SKIP() << "no elements";
    void *src = Fill(7, 3);
    for (bool nested : {true, false}) {
        void *dst = Create(), *slot = dst;
        if (nested) Flags(dst) |= QEL_OF_NESTED;
        const uint64_t frees = qelrt_free_count();
        qelrt_fail_alloc_at(1);
        Copy(src, &slot, kBig, "clone_internal");
        qelrt_fail_alloc_at(0);
        EXPECT_EQ(std::make_pair(Err(), slot), std::make_pair(12u, (void *)nullptr));
        if (!nested) continue;
        EXPECT_EQ(std::make_tuple(qelrt_free_count(), Variant(dst)), std::make_tuple(frees, int8_t(0)));
        EXPECT_NE(Op<void *(H, U, void *)>("get")(h, db, dst), nullptr);
        Flags(dst) &= uint8_t(~QEL_OF_NESTED);
        Destroy(dst);
    }
    Destroy(src);
    ExpectNoLeak();
}

INSTANTIATE_TEST_SUITE_P(Types, Clone, ::testing::ValuesIn(AllTypes()), ParamName());

}  // namespace
