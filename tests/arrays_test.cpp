// arrays_test.cpp -- the counted arrays, run over every array owner of the
// schema: growth, element values and state bytes across growth, the
// once-per-process reallocation trace, range checks, emptying, the
// tracking-mode refusals, whole and per-element state bytes, moving a whole
// owner, and releasing everything with the owner.
#include "containers_support.h"

namespace lt {
namespace {

using namespace ctr;

struct ArrayApi {
    const TypeDesc &t, &e;
    std::string a;        // "<owner>_pairs"

    explicit ArrayApi(const TypeDesc &owner)
        : t(owner), e(*owner.fields[owner.array_field].elem),
          a(std::string(owner.name) + "_" + owner.fields[owner.array_field].name) {}
    template <class F> F *Op(const char *op) const { return Api<F>(a, op); }

    void *Get(P h, uint32_t db, void *o, uint32_t i, uint32_t *err) const { return Op<void *(P, uint32_t, void *, uint32_t, uint32_t *)>("get")(h, db, o, i, err); }
    void Set(P h, uint32_t db, void *o, uint32_t i, void *v, uint32_t *err) const { Op<void(P, uint32_t, void *, uint32_t, void *, uint32_t *)>("set")(h, db, o, i, v, err); }
    void RemoveAll(P h, uint32_t db, void *o) const { Op<void(P, uint32_t, void *)>("remove_elements")(h, db, o); }
    uint8_t Whole(P h, uint32_t db, void *o, uint32_t *err) const { return Op<uint8_t(P, uint32_t, void *, uint32_t *)>("state_flag_whole_get")(h, db, o, err); }
    void SetWhole(P h, uint32_t db, void *o, uint8_t v, uint32_t *err) const { Op<void(P, uint32_t, void *, uint8_t, uint32_t *)>("state_flag_whole_set")(h, db, o, v, err); }
    uint8_t State(P h, uint32_t db, void *o, uint32_t i, uint32_t *err) const { return Op<uint8_t(P, uint32_t, void *, uint32_t, uint32_t *)>("state_flag_get")(h, db, o, i, err); }
    void SetState(P h, uint32_t db, void *o, uint32_t i, uint8_t v, uint32_t *err) const { Op<void(P, uint32_t, void *, uint32_t, uint8_t, uint32_t *)>("state_flag_set")(h, db, o, i, v, err); }
    uint8_t *Arr(P h, uint32_t db, void *o, uint32_t *err) const {
        uint8_t *r = nullptr;
        Op<void(P, uint32_t, void *, uint8_t **, uint32_t *)>("state_flag_get_arr")(h, db, o, &r, err);
        return r;
    }
    void SetArr(P h, uint32_t db, void *o, const uint8_t *b, uint32_t n, uint32_t *err) const { Op<void(P, uint32_t, void *, const uint8_t *, uint32_t, uint32_t *)>("state_flag_set_arr")(h, db, o, b, n, err); }
    uint32_t Count(P h, uint32_t db, void *o) const {
        uint32_t err = 0;
        return Api<uint32_t(P, uint32_t, void *, uint32_t *)>(t.name, "pair_count_get_value")(h, db, o, &err);
    }
};

class Arrays : public Lomari, public ::testing::WithParamInterface<const TypeDesc *> {
protected:
    ArrayApi A{*GetParam()};
    Obj owner{*GetParam()}, elem{A.e};

    // A free-standing value whose first field is v.
    void *Value(uint32_t v) {
        void *p = elem.Create(h, db);
        uint32_t e = 0;
        elem.SetTag(h, db, p, v, &e);
        return p;
    }
    // Moves a value with first field v into slot i.
    void Put(void *o, uint32_t i, uint32_t v) {
        void *val = Value(v);
        uint32_t e = 0;
        A.Set(h, db, o, i, val, &e);
        EXPECT_EQ(e, 0u);
        elem.Destroy(h, db, val);
    }
    // Grows two owners of this type and one of another type past their
    // first block; true when exactly one trace per type came out.
    bool TracesOnce(const std::string &text) {
        void *a = owner.Create(h, db);
        void *b = owner.Create(h, db);
        for (uint32_t i = 0; i < 3; ++i) {
            Put(a, i, i);
            Put(b, i, i);
        }
        bool ok = Traced(text.c_str()) == 1 && qelrt_trace_count() == 1;
        owner.Destroy(h, db, a);
        owner.Destroy(h, db, b);
        for (const auto &t : kTypes)
            if (&t != &A.t && t.array_field >= 0) {
                ArrayApi B{t};
                Obj other{t}, val{B.e};
                void *c = other.Create(h, db), *v = val.Create(h, db);
                B.Set(h, db, c, 0, v, &err);
                B.Set(h, db, c, 1, v, &err);
                ok = ok && qelrt_trace_count() == 2 && qelrt_trace_at(1)->level == QEL_TL_ERROR;
                val.Destroy(h, db, v);
                other.Destroy(h, db, c);
                break;
            }
        return ok;
    }
    std::vector<uint8_t> PerBytes(void *o, uint32_t n) {
        uint32_t e = 0;
        const uint8_t *p = A.Arr(h, db, o, &e);
        return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>{};
    }
    uint32_t At(void *o, uint32_t i) {
        uint32_t e = 0;
        void *el = A.Get(h, db, o, i, &e);
        EXPECT_EQ(e, 0u);
        return el ? elem.GetTag(h, db, el, &e) : 0xFFFFFFFFu;
    }
};

TEST_P(Arrays, GrowsFromEmptyToExactlyIndexPlusOne) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track);
        track ? Track() : Plain();
        qelrt_trace_clear();
        void *o = owner.Create(h, db);
        Put(o, 3, 7);
        EXPECT_EQ(A.Count(h, db, o), 4u);
        for (uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(At(o, i), 0u);
            EXPECT_TRUE(Flags(A.Get(h, db, o, i, &err)) & QEL_OF_NESTED);
        }
        EXPECT_EQ(At(o, 3), 7u);
        EXPECT_EQ(Traced("Reallocating resource"), 0u);
        owner.Destroy(h, db, o);
    }
}

// Growth moves every element: values, each element's own state bytes and
// the per-element bytes must all come along, even when the value set is
// itself an element of the block being moved.
TEST_P(Arrays, GrowthKeepsValuesAndStateBytes) {
    Track();
    void *o = owner.Create(h, db);
    for (uint32_t i = 0; i < 4; ++i) {
        Put(o, i, 10 + i);
        A.SetState(h, db, o, i, static_cast<uint8_t>(20 + i), &err);
    }
    A.Set(h, db, o, 5, A.Get(h, db, o, 1, &err), &err);  // a value from the block being moved
    ASSERT_EQ(err, 0u);
    ASSERT_EQ(A.Count(h, db, o), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        void *el = A.Get(h, db, o, i, &err);
        EXPECT_EQ(At(o, i), i == 4 ? 0u : i == 5 ? 11u : 10 + i);
        EXPECT_EQ(A.State(h, db, o, i, &err), i < 4 ? 20 + i : i == 5 ? 2 : 0);
        EXPECT_EQ(elem.TagState(h, db, el, &err), i == 4 ? 0 : 2);  // the element's own byte
    }
    EXPECT_EQ(err, 0u);
    owner.Destroy(h, db, o);
}

// The trace is process-wide, so it is watched in a fresh process: the first
// growth of an existing block of each owner type traces, later ones don't.
TEST_P(Arrays, ReallocationIsTracedOncePerOwnerType) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string text = std::string("Reallocating resource for ") + A.t.name;
    EXPECT_EXIT(std::exit(TracesOnce(text) ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// The chained set copies (move 0) or moves (move 1) the value into its
// slot; either way the slot stays an element of the block and the value
// stays the caller's.
TEST_P(Arrays, ChainedSetCopiesOrMoves) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track);
        track ? Track() : Plain();
        const int64_t live = qelrt_live_bytes();
        void *o = owner.Create(h, db);
        auto set_cr = Api<uint32_t(P, void *, uint32_t, void *, uint32_t)>(A.a, "set_cr");
        for (uint32_t move : {0u, 1u}) {
            void *v = Value(40 + move);
            EXPECT_EQ(set_cr(h, o, 2 + move, v, move), 0u);
            void *slot = A.Get(h, db, o, 2 + move, &err);
            EXPECT_NE(slot, v);
            EXPECT_EQ(At(o, 2 + move), 40 + move);
            EXPECT_TRUE(Flags(slot) & QEL_OF_NESTED);
            if (track) {
                EXPECT_EQ(A.State(h, db, o, 2 + move, &err), 2);
            }
            elem.Destroy(h, db, v);
            EXPECT_EQ(At(o, 2 + move), 40 + move);
        }
        owner.Destroy(h, db, o);
        EXPECT_EQ(qelrt_live_bytes(), live);
    }
}

TEST_P(Arrays, RangeAndLengthChecks) {
    Track();
    void *o = owner.Create(h, db);
    EXPECT_EQ(A.Get(h, db, o, 0, &err), nullptr);
    EXPECT_EQ(err, 2u);
    Put(o, 2, 1);
    for (uint32_t i : {3u, 100u}) {
        err = 0;
        EXPECT_EQ(A.Get(h, db, o, i, &err), nullptr);
        EXPECT_EQ(err, 2u);
        EXPECT_EQ(A.State(h, db, o, i, &(err = 0)), 0);
        EXPECT_EQ(err, 2u);
    }
    const uint8_t bytes[4] = {7, 8, 9, 10};
    for (uint32_t n : {2u, 4u}) {  // a length other than the count changes nothing
        A.SetArr(h, db, o, bytes, n, &(err = 0));
        EXPECT_EQ(err, 2u);
        EXPECT_EQ(PerBytes(o, 3), (std::vector<uint8_t>{0, 0, 2}));
    }
    A.SetArr(h, db, o, bytes, 3, &(err = 0));
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(PerBytes(o, 3), (std::vector<uint8_t>{7, 8, 9}));
    owner.Destroy(h, db, o);
}

TEST_P(Arrays, RemoveElementsEmptiesAndAllowsRegrowth) {
    Track();
    const int64_t live = qelrt_live_bytes();
    void *o = owner.Create(h, db);
    Put(o, 2, 5);
    A.RemoveAll(h, db, o);
    EXPECT_EQ(A.Count(h, db, o), 0u);
    EXPECT_EQ(A.Get(h, db, o, 0, &err), nullptr);
    EXPECT_EQ(err, 2u);
    EXPECT_NE(A.Arr(h, db, o, &(err = 0)), nullptr);  // per-element bytes stay
    Put(o, 1, 6);
    EXPECT_EQ(At(o, 1), 6u);
    owner.Destroy(h, db, o);
    EXPECT_EQ(qelrt_live_bytes(), live);
}

TEST_P(Arrays, TrackingHandleRefusesUntrackedOwnerOrValue) {
    void *plain_owner = owner.Create(h, db), *plain_val = elem.Create(h, db);
    Track();
    void *o = owner.Create(h, db), *v = elem.Create(h, db);
    struct { void *o, *v; const char *text; } cases[] = {
        {plain_owner, v, "The object is not state tracked"},
        {o, plain_val, "The val object is not state tracked"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        qelrt_trace_clear();
        A.Set(h, db, c.o, 0, c.v, &(err = 0));
        EXPECT_EQ(err, 22u);
        EXPECT_EQ(Traced(c.text), 1u);
        EXPECT_EQ(A.Count(h, db, c.o), 0u);
    }
    for (void *p : {plain_val, v}) elem.Destroy(h, db, p);
    for (void *p : {plain_owner, o}) owner.Destroy(h, db, p);
}

TEST_P(Arrays, WholeAndPerElementStateBytes) {
    Track();
    void *o = owner.Create(h, db);
    EXPECT_EQ(A.Whole(h, db, o, &err), 0);
    Put(o, 2, 1);
    EXPECT_EQ(A.Whole(h, db, o, &err), 2);
    EXPECT_EQ(PerBytes(o, 3), (std::vector<uint8_t>{0, 0, 2}));
    A.SetWhole(h, db, o, 9, &err);
    A.SetState(h, db, o, 0, 4, &err);
    EXPECT_EQ(A.Whole(h, db, o, &err), 9);
    EXPECT_EQ(A.State(h, db, o, 0, &err), 4);
    EXPECT_EQ(err, 0u);
    Plain();  // a plain handle has no state bytes to give
    EXPECT_EQ(A.Whole(h, db, o, &err), 0);
    EXPECT_EQ(err, 22u);
    Track();
    owner.Destroy(h, db, o);
}

// The whole-object set hands the block (and, tracked, the per-element
// bytes) to the destination, releasing the destination's own; destroying
// both releases each once.
TEST_P(Arrays, WholeObjectSetMovesTheBlock) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track);
        track ? Track() : Plain();
        const int64_t live = qelrt_live_bytes();
        void *src = owner.Create(h, db), *dst = owner.Create(h, db);
        for (uint32_t i = 0; i < 3; ++i) Put(src, i, 30 + i);
        // The destination's own block is released, not leaked.
        for (uint32_t i = 0; i < 2; ++i) Put(dst, i, 90 + i);
        void *first = A.Get(h, db, src, 0, &err);
        uint8_t *per = track ? A.Arr(h, db, src, &err) : nullptr;
        owner.Set(h, db, dst, src, &err);
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(A.Count(h, db, src), 0u);
        EXPECT_EQ(A.Get(h, db, src, 0, &err), nullptr);
        err = 0;
        EXPECT_EQ(A.Count(h, db, dst), 3u);
        EXPECT_EQ(A.Get(h, db, dst, 0, &err), first);
        EXPECT_EQ(At(dst, 2), 32u);
        if (track) {
            EXPECT_EQ(A.Arr(h, db, dst, &err), per);
            EXPECT_EQ(A.Arr(h, db, src, &err), nullptr);
        }
        owner.Destroy(h, db, src);
        owner.Destroy(h, db, dst);
        EXPECT_EQ(qelrt_live_bytes(), live);
    }
}

INSTANTIATE_TEST_SUITE_P(Owners, Arrays,
                         ::testing::ValuesIn(Owners(false)),
                         ParamName());

// Destroying owners that hold full lists and arrays leaves nothing behind,
// in both modes.
TEST_F(Lomari, DestroyingFullOwnersReleasesEverything) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track);
        track ? Track() : Plain();
        const int64_t live = qelrt_live_bytes();
        for (const auto &t : kTypes) {
            Obj o{t};
            void *inst = o.Create(h, db);
            if (t.array_field >= 0) {
                ArrayApi A{t};
                void *v = Obj{A.e}.Create(h, db);
                for (uint32_t i : {4u, 1u, 9u}) A.Set(h, db, inst, i, v, &err);
                Obj{A.e}.Destroy(h, db, v);
            }
            if (t.list_field >= 0) {
                const TypeDesc &e = *t.fields[t.list_field].elem;
                auto add = Api<uint32_t(P, void *, void *, uint32_t, void *)>(
                    std::string(t.name) + "_" + t.fields[t.list_field].name, "add_cr");
                for (int i = 0; i < 4; ++i) add(h, inst, Obj{e}.Create(h, db), i & 1, nullptr);
            }
            o.Destroy(h, db, inst);
        }
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(h->err, 0u);
        EXPECT_EQ(qelrt_live_bytes(), live);
    }
}

}  // namespace
}  // namespace lt
