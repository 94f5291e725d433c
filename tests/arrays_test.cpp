// The counted arrays, run over every array owner of the schema: growth,
// element values and state bytes across growth, the once-per-process
// reallocation trace, the copying and moving set, range checks, emptying,
// the tracking-mode refusals, whole and per-element state bytes, the block
// layout of element state bytes, and the whole-object set of owners.
#include "fixture.h"

namespace {

using namespace lt;

class Arrays : public TypeTest {
protected:
    const FieldDesc &af = T().fields[T().array_field];
    const TypeDesc &E = *af.elem;
    const Ty el{E};
    template <class F>
    F *A(const char *op) const { return ty.FOp<F>(af, op); }

    void *Get(void *o, U i) { return A<void *(H, U, void *, U, U *)>("get")(h, db, o, i, &err); }
    void SetAt(void *o, U i, void *v) { A<void(H, U, void *, U, void *, U *)>("set")(h, db, o, i, v, &err); }
    uint8_t State(void *o, U i) { return A<uint8_t(H, U, void *, U, U *)>("state_flag_get")(h, db, o, i, &err); }
    void SetState(void *o, U i, uint8_t v) { A<void(H, U, void *, U, uint8_t, U *)>("state_flag_set")(h, db, o, i, v, &err); }
    uint8_t Whole(void *o) { return A<uint8_t(H, U, void *, U *)>("state_flag_whole_get")(h, db, o, &err); }
    uint8_t *Arr(void *o, U *e) {
        uint8_t *r = nullptr;
        A<void(H, U, void *, uint8_t **, U *)>("state_flag_get_arr")(h, db, o, &r, e);
        return r;
    }
    uint8_t *Arr(void *o) { return Arr(o, &err); }
    std::vector<uint8_t> PerBytes(void *o, U n) {
        U e = 0;
        const uint8_t *p = Arr(o, &e);
        return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>{};
    }
    U Count(void *o) {
        U e = 0;
        return Op<U(H, U, void *, U *)>("pair_count_get_value")(h, db, o, &e);
    }
    // A free-standing value whose first field is v.
    void *Value(U v) {
        void *p = el.Create(h, db);
        el.SetValue(h, db, p, E.fields[0], v, &err);
        return p;
    }
    // Moves a value with first field v into slot i.
    void Put(void *o, U i, U v) {
        void *val = Value(v);
        SetAt(o, i, val);
        EXPECT_EQ(err, 0u);
        el.Destroy(h, db, val);
    }
    U At(void *o, U i) {
        void *p = Get(o, i);
        EXPECT_EQ(err, 0u);
        return p ? el.Get(h, db, p, E.fields[0], &err) : ~0u;
    }
};

// Growth from empty gives exactly index + 1 zeroed, nested slots; growth of
// an existing block moves every element with its value, its own state bytes
// and its per-element byte, even when the value set is itself an element of
// the block being moved.
TEST_P(Arrays, GrowthKeepsValuesAndStateBytes) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track);
        track ? Track() : Plain();
        qelrt_trace_clear();
        void *o = Make();
        Put(o, 3, 13);
        EXPECT_EQ(Count(o), 4u);
        for (U i = 0; i < 3; ++i) {
            EXPECT_EQ(At(o, i), 0u);
            EXPECT_TRUE(Flags(Get(o, i)) & QEL_OF_NESTED);
            Put(o, i, 10 + i);
            if (track) SetState(o, i, static_cast<uint8_t>(20 + i));
        }
        EXPECT_EQ(Traced("Reallocating resource"), 0u) << "a first block is no reallocation";
        SetAt(o, 5, Get(o, 1));
        ASSERT_EQ(err, 0u);
        ASSERT_EQ(Count(o), 6u);
        for (U i = 0; i < 6; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(At(o, i), i == 4 ? 0u : i == 5 ? 11u : 10 + i);
            if (!track) continue;
            EXPECT_EQ(State(o, i), i < 3 ? 20 + i : i == 4 ? 0 : 2);
            EXPECT_EQ(el.StateGet(h, db, Get(o, i), E.fields[0], &err), i == 4 ? 0 : 2);  // the element's own byte
        }
        EXPECT_EQ(err, 0u);
    }
}

// The trace is process-wide, so it is watched in a fresh process, which
// releases what it made before it exits: the first growth of an existing
// block of each owner type traces, later ones and other owners of the same
// type don't; another owner type traces its own.
TEST_P(Arrays, ReallocationIsTracedOncePerOwnerType) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto traces_once = [&] {
        for (int k = 0; k < 2; ++k) {
            void *o = Create();
            for (U i = 0; i < 3; ++i) Put(o, i, i);
            Destroy(o);
        }
        bool ok = Traced((std::string("Reallocating resource for ") + T().name).c_str()) == 1 &&
                  qelrt_trace_count() == 1;
        for (const TypeDesc *t : TypesWhere(IsArrayOwner)) {
            if (t == &T()) continue;
            const Ty other{*t};
            const FieldDesc &f = t->fields[t->array_field];
            void *c = other.Create(h, db), *v = Ty{*f.elem}.Create(h, db);
            for (U i = 0; i < 2; ++i) other.FOp<void(H, U, void *, U, void *, U *)>(f, "set")(h, db, c, i, v, &err);
            Ty{*f.elem}.Destroy(h, db, v);
            other.Destroy(h, db, c);
            break;
        }
        return ok && qelrt_trace_count() == 2 && qelrt_trace_at(1)->level == QEL_TL_ERROR;
    };
    EXPECT_EXIT(std::exit(traces_once() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// The chained set copies (move 0) or moves (move 1) the value into its
// slot; either way the slot stays an element of the block and the value
// stays the caller's.
TEST_P(Arrays, ChainedSetCopiesOrMoves) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track);
        track ? Track() : Plain();
        void *o = Create();
        auto set_cr = A<U(H, void *, U, void *, U)>("set_cr");
        for (U move : {0u, 1u}) {
            void *v = Filler(40 + move).Make(h, db, E, 0), *twin = Filler(40 + move).Make(h, db, E, 0);
            EXPECT_EQ(set_cr(h, o, 2 + move, v, move), 0u);
            void *slot = Get(o, 2 + move);
            EXPECT_NE(slot, v);
            EXPECT_TRUE(Flags(slot) & QEL_OF_NESTED);
            if (track) {
                EXPECT_EQ(State(o, 2 + move), 2);
            }
            el.Destroy(h, db, v);
            EXPECT_EQ(el.Compare(slot, twin), 0) << "every field, after the caller's value is gone";
            el.Destroy(h, db, twin);
        }
        Destroy(o);
        EXPECT_EQ(qelrt_live_bytes(), 0);
    }
}

TEST_P(Arrays, StateBytesRangeChecksAndRemoveElementsThenRegrowth) {
    Track();
    void *o = Make();
    EXPECT_EQ(Get(o, 0), nullptr);
    EXPECT_EQ(Err(), 2u);
    EXPECT_EQ(Whole(o), 0);
    Put(o, 2, 1);
    EXPECT_EQ(Whole(o), 2);
    EXPECT_EQ(PerBytes(o, 3), (std::vector<uint8_t>{0, 0, 2}));
    for (U i : {3u, 100u}) {
        EXPECT_EQ(Get(o, i), nullptr);
        EXPECT_EQ(Err(), 2u);
        EXPECT_EQ(State(o, i), 0);
        EXPECT_EQ(Err(), 2u);
    }
    auto set_arr = A<void(H, U, void *, const uint8_t *, U, U *)>("state_flag_set_arr");
    const uint8_t bytes[4] = {7, 8, 9, 10};
    for (U n : {2u, 4u}) {  // a length other than the count changes nothing
        set_arr(h, db, o, bytes, n, &err);
        EXPECT_EQ(Err(), 2u);
        EXPECT_EQ(PerBytes(o, 3), (std::vector<uint8_t>{0, 0, 2}));
    }
    set_arr(h, db, o, bytes, 3, &err);
    EXPECT_EQ(PerBytes(o, 3), (std::vector<uint8_t>{7, 8, 9}));
    A<void(H, U, void *, uint8_t, U *)>("state_flag_whole_set")(h, db, o, 9, &err);
    SetState(o, 0, 4);
    EXPECT_EQ(Whole(o), 9);
    EXPECT_EQ(State(o, 0), 4);
    EXPECT_EQ(err, 0u);
    Plain();  // a plain handle has no state bytes to give
    EXPECT_EQ(Whole(o), 0);
    EXPECT_EQ(Err(), 22u);
    Track();
    A<void(H, U, void *)>("remove_elements")(h, db, o);  // empties, keeps the per-element bytes, regrows
    EXPECT_EQ(Count(o), 0u);
    EXPECT_EQ(Get(o, 0), nullptr);
    EXPECT_EQ(Err(), 2u);
    EXPECT_NE(Arr(o), nullptr);
    Put(o, 1, 6);
    EXPECT_EQ(At(o, 1), 6u);
    made_.clear();
    Destroy(o);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Arrays, TrackingHandleRefusesUntrackedOwnerOrValue) {
    void *plain_owner = Make(), *plain_val = el.Create(h, db);
    Track();
    void *o = Make(), *v = el.Create(h, db);
    struct { void *o, *v; const char *text; } cases[] = {
        {plain_owner, v, "The object is not state tracked"},
        {o, plain_val, "The val object is not state tracked"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        qelrt_trace_clear();
        SetAt(c.o, 0, c.v);
        EXPECT_EQ(Err(), 22u);
        EXPECT_EQ(Traced(c.text), 1u);
        EXPECT_EQ(Count(c.o), 0u);
    }
    for (void *p : {plain_val, v}) el.Destroy(h, db, p);
}

// Tracked element state bytes sit after the elements, count bytes per
// element; a setter on a slot reaches them, and the owner's reset goes
// through the element types to every one of them.
TEST_P(Arrays, ElementStateBytesLiveInTheBlock) {
    Track();
    const FieldDesc &ef = E.fields[E.nfields - 1];
    void *o = Make(), *v = el.Create(h, db);
    el.SetValue(h, db, v, ef, 1, &err);
    SetAt(o, 1, v);  // moves v's state too
    el.Destroy(h, db, v);
    uint8_t *block = Word<uint8_t *>(o, af.offset), *bytes = block + 2 * E.plain_size;
    EXPECT_EQ(Flags(block + E.plain_size), QEL_OF_NESTED | QEL_OF_TRACKED);
    for (int pass = 0; pass < 2; ++pass) {
        for (U j = 0; j < 2u * E.n_state_fields; ++j)
            EXPECT_EQ(bytes[j], j == E.n_state_fields + ef.state_idx ? 2 : 0) << pass << "/" << j;
        std::fill(bytes, bytes + 2 * E.n_state_fields, 0);
        el.SetValue(h, db, block + E.plain_size, ef, 1, &err);  // a setter on the slot itself
        ASSERT_EQ(err, 0u);
    }
    uint8_t *per = Word<uint8_t *>(o, T().plain_size + 8);
    Op<void(H, U, void *, U)>("set_all_state_tracking_flag")(h, db, o, 0x103);
    EXPECT_EQ(Word<uint8_t *>(o, T().plain_size + 8), per) << "pointer kept";
    EXPECT_EQ(StateByte(o, af), 3);
    EXPECT_EQ(per[0] + per[1], 6);
    for (U j = 0; j < 2u * E.n_state_fields; ++j) EXPECT_EQ(bytes[j], 3) << j;
}

// The whole-object set hands the block (and, tracked, the per-element
// bytes) to the destination, releasing the destination's own; destroying
// both releases every element and byte once.
TEST_P(Arrays, WholeObjectSetMovesTheBlock) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track);
        track ? Track() : Plain();
        void *src = Create(), *dst = Create();
        for (U i = 0; i < 3; ++i) Put(src, i, 30 + i);
        for (U i = 0; i < 2; ++i) Put(dst, i, 90 + i);
        void *first = Get(src, 0);
        uint8_t *per = track ? Arr(src) : nullptr;
        const uint64_t gone = StaticCounts(E).destroyed;
        ty.Set(h, db, dst, src, &err);
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(StaticCounts(E).destroyed, gone + 2) << "the destination's own elements";
        EXPECT_EQ(Count(src), 0u);
        EXPECT_EQ(Get(src, 0), nullptr);
        EXPECT_EQ(Err(), 2u);
        EXPECT_EQ(Count(dst), 3u);
        EXPECT_EQ(Get(dst, 0), first);
        EXPECT_EQ(At(dst, 2), 32u);
        if (track) {
            EXPECT_EQ(Arr(dst), per);
            EXPECT_EQ(Arr(src), nullptr);
        }
        Destroy(src);
        Destroy(dst);
        EXPECT_EQ(StaticCounts(E).destroyed, gone + 5);
        EXPECT_EQ(qelrt_live_bytes(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Owners, Arrays, ::testing::ValuesIn(TypesWhere(IsArrayOwner)), ParamName());

}  // namespace
