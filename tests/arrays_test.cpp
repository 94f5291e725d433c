// The counted arrays of every array owner: growth with values and state
// bytes, the once-per-process reallocation trace, the copying and moving set,
// range checks, emptying, refusals, whole and per-element state bytes, and
// the whole-object set of owners.
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
    void Modes(const std::function<void(bool)> &f) {
        for (bool track : {false, true}) {
            SCOPED_TRACE(track);
            track ? Track() : Plain();
            f(track);
        }
    }
    U At(void *o, U i) {
        void *p = Get(o, i);
        EXPECT_EQ(err, 0u);
        return p ? el.Get(h, db, p, E.fields[0], &err) : ~0u;
    }
};

// Growth from empty gives index + 1 zeroed, nested slots; growth of a block
// moves every element with its value and state bytes, even when the value
// set is itself an element of the block being moved.
TEST_P(Arrays, GrowthKeepsValuesAndStateBytes) {
    Modes([&](bool track) {
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
    });
}

// In a fresh process (the trace is process-wide): the first growth of a
// block of each owner type traces, later ones don't; another type traces its own.
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
// slot; the slot stays an element of the block, the value the caller's.
TEST_P(Arrays, ChainedSetCopiesOrMoves) {
    Modes([&](bool track) {
        void *o = Create();
        auto set_cr = A<U(H, void *, U, void *, U)>("set_cr");
        for (U move : {0u, 1u}) {
            void *v = Filler(40 + move).Make(h, db, E, 0), *twin = Filler(40 + move).Make(h, db, E, 0);
            EXPECT_EQ(set_cr(h, o, 2 + move, v, move), 0u);
            void *slot = Get(o, 2 + move);
            EXPECT_NE(slot, v);
            EXPECT_TRUE(Flags(slot) & QEL_OF_NESTED);
            if (track) { EXPECT_EQ(State(o, 2 + move), 2); }
            el.Destroy(h, db, v);
            EXPECT_EQ(el.Compare(slot, twin), 0) << "every field, after the caller's value is gone";
            el.Destroy(h, db, twin);
        }
        Destroy(o);
        EXPECT_EQ(qelrt_live_bytes(), 0);
    });
}

TEST_P(Arrays, StateBytesRangeChecksAndRemoveElementsThenRegrowth) {
    Track();
    void *o = Make();
    auto set_arr = A<void(H, U, void *, const uint8_t *, U, U *)>("state_flag_set_arr");
    EXPECT_EQ(Get(o, 0), nullptr);
    EXPECT_EQ(Err(), 2u);
    EXPECT_EQ(State(o, 0), 0);
    EXPECT_EQ(Err(), 2u);  // no elements, no per-element bytes
    set_arr(h, db, o, nullptr, 0, &err);  // as many bytes as elements: none
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(Whole(o), 0);
    Put(o, 2, 1);
    EXPECT_EQ(Whole(o), 2);
    EXPECT_EQ(PerBytes(o, 3), (std::vector<uint8_t>{0, 0, 2}));
    for (U i : {3u, 100u}) {  // past the count
        EXPECT_EQ(Get(o, i), nullptr);
        EXPECT_EQ(Err(), 2u);
        EXPECT_EQ(State(o, i), 0);
        EXPECT_EQ(Err(), 2u);
        SetState(o, i, 1);
        EXPECT_EQ(Err(), 2u);
    }
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
    Op<void(H, U, void *, U)>("set_all_state_tracking_flag")(h, db, o, 0x101);  // the owner's bytes only
    EXPECT_EQ(Whole(o), 1);
    Put(o, 1, 6);
    EXPECT_EQ(At(o, 1), 6u);
    for (void *p : {o, o, static_cast<void *>(nullptr)}) A<void(H, U, void *)>("remove_elements")(h, db, p);
    EXPECT_EQ(Count(o), 0u);
    made_.clear();  // a refused variant releases nothing, yet the per-element bytes go
    qelrt_force_instance_variant(1, -1);
    Destroy(o);
    qelrt_force_instance_variant(0, 0);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

// A refused set changes nothing: an untracked owner or value on a tracking
// handle, or an unplaceable state area (22, traced); an index too large
// (12); a refused lookup of the element type (its code).
TEST_P(Arrays, RefusedSetsChangeNothing) {
    void *plain_owner = Make(), *plain_val = el.Create(h, db);
    Track();
    void *o = Make(), *v = el.Create(h, db), *placed = Make();
    Flags(placed) |= QEL_OF_STTR_RT;  // no place known to the runtime
    struct { void *o, *v; U idx, lookup_err, code; const char *text; } cases[] = {
        {plain_owner, v, 0, 0, 22, "The object is not state tracked"},
        {o, plain_val, 0, 0, 22, "The val object is not state tracked"},
        {placed, v, 0, 0, 22, "The object is not state tracked"},
        {o, v, ~0u, 0, 12, ""},
        {o, v, 1u << 28, 0, 12, ""},  // a block past 4 GiB
        {o, v, 2, 5, 5, ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.idx);
        qelrt_trace_clear();
        qelrt_set_domain_variant_error(c.lookup_err);
        SetAt(c.o, c.idx, c.v);
        qelrt_set_domain_variant_error(0);
        EXPECT_EQ(Err(), c.code);
        EXPECT_EQ(qelrt_trace_count(), *c.text ? 1u : 0u);
        EXPECT_EQ(Traced(c.text), qelrt_trace_count());
        EXPECT_EQ(Count(c.o), 0u);
        EXPECT_EQ(Word(c.o, af.offset), nullptr);
    }
    for (void *p : {plain_val, v}) el.Destroy(h, db, p);
}

TEST_P(Arrays, RefusalsOfEveryOperation) {
    Track();
    void *o = Make(), *v = el.Create(h, db);
    Put(o, 0, 1);
    uint8_t *per = nullptr, bytes[1] = {5};
    const U so = T().tracked_size;
    using Get = void *(H, U, void *, U, U *);
    using Set = void(H, U, void *, U, void *, U *);
    using Whole = void(H, U, void *, U *);
    using WholeSet = void(H, U, void *, uint8_t, U *);
    using StateSet = void(H, U, void *, U, uint8_t, U *);
    using GetArr = void(H, U, void *, void *, U *);
    using SetArr = void(H, U, void *, const void *, U, U *);
    ExpectRefusals({
        {"get", o, so, [&](void *s, U *e) { A<Get>("get")(h, db, s, 0, e); }, 22, true},
        {"set", o, so, [&](void *s, U *e) { A<Set>("set")(h, db, s, 0, v, e); }, 22, true},
        {"set of", v, E.tracked_size, [&](void *s, U *e) { A<Set>("set")(h, db, o, 0, s, e); }, 22, true},
        {"set_cr", o, so, Chained([&](void *s) { A<U(H, void *, U, void *, U)>("set_cr")(h, s, 0, v, 1); }), 22, true},
        {"whole get", o, so, [&](void *s, U *e) { A<Whole>("state_flag_whole_get")(h, db, s, e); }, 22, false},
        {"whole set", o, so, [&](void *s, U *e) { A<WholeSet>("state_flag_whole_set")(h, db, s, 7, e); }, 22, true},
        {"state get", o, so, [&](void *s, U *e) { A<Get>("state_flag_get")(h, db, s, 0, e); }, 22, false},
        {"state set", o, so, [&](void *s, U *e) { A<StateSet>("state_flag_set")(h, db, s, 0, 7, e); }, 22, true},
        {"get_arr", o, so, [&](void *s, U *e) { A<GetArr>("state_flag_get_arr")(h, db, s, &per, e); }, 22, false},
        {"get_arr into", &per, 8, [&](void *s, U *e) { A<GetArr>("state_flag_get_arr")(h, db, o, s, e); }, 22, false},
        {"set_arr", o, so, [&](void *s, U *e) { A<SetArr>("state_flag_set_arr")(h, db, s, bytes, 1, e); }, 22, true},
        {"set_arr from", bytes, 1, [&](void *s, U *e) { A<SetArr>("state_flag_set_arr")(h, db, o, s, 1, e); }, 22, true},
    });
    el.Destroy(h, db, v);
}

// Without a check record an untracked owner has no state bytes: 22, traced.
TEST_P(Arrays, UntrackedOwnerWithoutACheckRecord) {
    void *o = Make();
    qelrt_handle_set_mode(h, 0);
    Whole(o);
    EXPECT_EQ(Err(), 22u);
    EXPECT_EQ(Traced("The object is non state tracked"), 1u);
    A<void(H, U, void *, uint8_t, U *)>("state_flag_whole_set")(h, db, o, 1, &err);
    EXPECT_EQ(Err(), 22u);
    EXPECT_EQ(Traced("The object is not state tracked"), 1u);
}

// A block grown while not tracking, once tracking: takes no element (22,
// traced), has no per-element bytes, and the reset leaves its elements alone.
TEST_P(Arrays, BlockGrownWhileNotTracking) {
    Track();
    void *o = Make(), *v = el.Create(h, db);
    Plain();
    Put(o, 1, 5);
    Track();
    uint8_t *block = Word<uint8_t *>(o, af.offset);
    const std::vector<uint8_t> elems(block, block + 2 * E.plain_size);
    for (U idx : {0u, 2u})
        for (U move : {0u, 1u}) {
            qelrt_trace_clear();
            EXPECT_EQ(A<U(H, void *, U, void *, U)>("set_cr")(h, o, idx, v, move), 22u);
            EXPECT_EQ(Traced("The object is not state tracked"), 1u);
            h->err = 0;
        }
    el.Destroy(h, db, v);
    EXPECT_EQ(Count(o), 2u);
    const uint8_t bytes[2] = {1, 1};
    A<void(H, U, void *, const uint8_t *, U, U *)>("state_flag_set_arr")(h, db, o, bytes, 2, &err);
    EXPECT_EQ(Err(), 2u);
    Op<void(H, U, void *, U)>("set_all_state_tracking_flag")(h, db, o, 0x103);
    EXPECT_EQ(Whole(o), 3);
    EXPECT_TRUE(std::equal(elems.begin(), elems.end(), block));
}

// Elements whose counting fails are made all the same: the set reports the
// code, the owner holds the grown block (plain, observed writes, tracking).
TEST_P(Arrays, ElementsAreMadeEvenWhenTheirCountingFails) {
    h->per_handle_types = 1;  // the counts skewed are the handle's own
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        pass == 2 ? Track() : Plain();
        qelrt_calls_log(pass == 1);
        void *o = Create(), *v = el.Create(h, db);
        qelrt_set_stats_create_error(5);
        SetAt(o, 2, v);
        qelrt_set_stats_create_error(0);
        EXPECT_EQ(Err(), 5u);
        ASSERT_EQ(Count(o), 3u);
        for (U i = 0; i < 3; ++i) EXPECT_EQ(Tinfo(Get(o, i)), Tinfo(v)) << i;
        EXPECT_EQ(err, 0u);
        el.Destroy(h, db, v);
        Destroy(o);
    }
}

// Each element is counted in its variant's record (a negative one in record
// 0); a variant count short of it is noticed per element.
TEST_P(Arrays, BlocksCountEachElementInItsVariantsRecord) {
    h->per_handle_types = 1;
    void *v = el.Create(h, db);
    qel_variant_info_t *const vi = Tinfo(v)->varinfo;  // the handle's own records of the element type
    const qel_variant_record_t &r = vi->variants[0];
    const int n = vi->n_variants;
    el.Destroy(h, db, v);
    for (int variant : {0, -2}) {  // 0 with the count short of it, then -2
        SCOPED_TRACE(variant);
        void *o = Create();
        qelrt_set_domain_variant(variant);
        void *val = el.Create(h, db);
        const uint64_t made = r.created, gone = r.destroyed;
        vi->n_variants = variant ? n : -1;
        qelrt_trace_clear();
        SetAt(o, 2, val);
        qelrt_set_domain_variant(0);
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(Variant(Get(o, 1)), variant);
        Destroy(o);
        vi->n_variants = n;
        EXPECT_EQ(std::make_pair(r.created, r.destroyed), std::make_pair(made + 3, gone + 3));
        EXPECT_EQ(Traced("variant 0 requested only 4294967295 variants present"), variant ? 0u : 6u);
        el.Destroy(h, db, val);
    }
}

// Containment: a read is reported; growth reports each moved element in its
// new place and, with platform reports, its old place as detached.
TEST_P(Arrays, ContainmentReports) {
    h->containment_tracking = 1;
    h->per_handle_types = 1;
    db = 3;
    void *o = Make(), *v = el.Create(h, db);
    SetAt(o, 0, v);
    qelrt_calls_log(1);
    void *was = Get(o, 0);
    SetAt(o, 1, v);
    void *now = Get(o, 0);
    EXPECT_EQ(err, 0u);
    auto contained = Calls("qeldb_record_containment2"), detached = Calls("qeldb_plat_set_detach");
    const auto w = [](const void *p) { return reinterpret_cast<uint64_t>(p); };
    ASSERT_EQ(contained.size(), 6u);  // the read, the moved element, the set slot, the read
    EXPECT_EQ(std::make_pair(contained[0]->a[2], contained[0]->a[3]), std::make_pair(w(was), uint64_t{0}));
    EXPECT_EQ(std::make_pair(contained[1]->a[2], contained[1]->a[3]), std::make_pair(w(was), w(o)));
    EXPECT_EQ(std::make_pair(contained[2]->a[2], contained[2]->a[3]), std::make_pair(w(now), w(o)));
    ASSERT_EQ(detached.size(), 1u);
    EXPECT_EQ(detached[0]->a[2], w(was));
    el.Destroy(h, db, v);
}

// Element state bytes sit after the elements; a setter on a slot reaches
// them, and the owner's reset reaches every one.
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

// The whole-object set hands the block (and per-element bytes) over,
// releasing the destination's own; each element is released once.
TEST_P(Arrays, WholeObjectSetMovesTheBlock) {
    Modes([&](bool track) {
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
        if (track) { EXPECT_EQ(std::make_pair(Arr(dst), Arr(src)), std::make_pair(per, static_cast<uint8_t *>(nullptr))); }
        Destroy(src);
        Destroy(dst);
        EXPECT_EQ(StaticCounts(E).destroyed, gone + 5);
        EXPECT_EQ(qelrt_live_bytes(), 0);
    });
}

INSTANTIATE_TEST_SUITE_P(Owners, Arrays, ::testing::ValuesIn(TypesWhere(IsArrayOwner)), ParamName());

}  // namespace
