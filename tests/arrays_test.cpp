// The counted arrays of every array owner: growth, sets, range checks, emptying, refusals,
// state bytes, counting and containment of elements.
#include "fixture.h"

namespace {

using namespace lt;

using SetFn = void(H, U, void *, U, void *, U *);
using SetCr = U(H, void *, U, void *, U);
using SetArr = void(H, U, void *, const uint8_t *, U, U *);
using Reset = void(H, U, void *, U);

class Arrays : public TypeTest {
protected:
    const FieldDesc &af = T().fields[T().array_field];
    const TypeDesc &E = *af.elem;
    const Ty el{E};
    template <class F>
    F *A(const char *op) const { return ty.FOp<F>(af, op); }

    void *Get(void *o, U i) { return A<void *(H, U, void *, U, U *)>("get")(h, db, o, i, &err); }
    void SetAt(void *o, U i, void *v) { A<SetFn>("set")(h, db, o, i, v, &err); }
    uint8_t State(void *o, U i) { return A<uint8_t(H, U, void *, U, U *)>("state_flag_get")(h, db, o, i, &err); }
    void SetState(void *o, U i, uint8_t v) { A<void(H, U, void *, U, uint8_t, U *)>("state_flag_set")(h, db, o, i, v, &err); }
    uint8_t Whole(void *o) { return A<uint8_t(H, U, void *, U *)>("state_flag_whole_get")(h, db, o, &err); }
    void SetWhole(void *o, uint8_t v) { A<void(H, U, void *, uint8_t, U *)>("state_flag_whole_set")(h, db, o, v, &err); }
    uint8_t *Arr(void *o, U *e = nullptr) {
        uint8_t *r = nullptr;
        A<void(H, U, void *, uint8_t **, U *)>("state_flag_get_arr")(h, db, o, &r, e ? e : &err);
        return r;
    }
    std::vector<uint8_t> PerBytes(void *o, U n) {  // with an error word of its own
        U e = 0;
        const uint8_t *p = Arr(o, &e);
        return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>{};
    }
    U Count(void *o) { U e = 0; return Op<U(H, U, void *, U *)>("pair_count_get_value")(h, db, o, &e); }
    // Moves a free-standing value with first field v into slot i.
    void Put(void *o, U i, U v) {
        void *val = el.Create(h, db);
        el.SetValue(h, db, val, E.fields[0], v, &err);
        SetAt(o, i, val);
        EXPECT_EQ(err, 0u);
        el.Destroy(h, db, val);
    }
    U At(void *o, U i) {
        void *p = Get(o, i);
        return p ? el.Get(h, db, p, E.fields[0], &err) : ~0u;
    }
};

// Growth keeps values and state bytes (even from the block being moved); set_cr copies or moves a value in.
TEST_P(Arrays, GrowthKeepsValuesAndStateBytesChainedSetCopiesOrMoves) {
    Modes([&](bool track) {
        qelrt_trace_clear();
        void *o = Create();
        Put(o, 3, 13);
        EXPECT_EQ(Count(o), 4u);
        for (U i = 0; i < 3; ++i) {
            EXPECT_EQ(std::make_pair(At(o, i), bool(Flags(Get(o, i)) & QEL_OF_NESTED)), std::make_pair(0u, true));
            Put(o, i, 10 + i);
            if (track) SetState(o, i, static_cast<uint8_t>(20 + i));
        }
        EXPECT_EQ(Traced("Reallocating resource"), 0u) << "a first block is no reallocation";
        SetAt(o, 5, Get(o, 1));
        ASSERT_EQ(std::make_pair(err, Count(o)), std::make_pair(0u, 6u));
        for (U i = 0; i < 6; ++i) {
            EXPECT_EQ(At(o, i), i == 4 ? 0u : i == 5 ? 11u : 10 + i) << i;
            if (track) { EXPECT_EQ(std::make_pair(State(o, i), el.StateGet(h, db, Get(o, i), E.fields[0], &err)),
                                   std::make_pair(uint8_t(i < 3 ? 20 + i : i == 4 ? 0 : 2), uint8_t(i == 4 ? 0 : 2))) << i; }
        }
        for (U move : {0u, 1u}) {
            void *v = Filler(40 + move).Make(h, db, E, 0), *twin = Filler(40 + move).Make(h, db, E, 0);
            EXPECT_EQ(A<SetCr>("set_cr")(h, o, 6 + move, v, move), 0u);
            void *slot = Get(o, 6 + move);
            EXPECT_EQ(std::make_pair(slot != v, bool(Flags(slot) & QEL_OF_NESTED)), std::make_pair(true, true));
            if (track) { EXPECT_EQ(State(o, 6 + move), 2); }
            el.Destroy(h, db, v);
            EXPECT_EQ(el.Compare(slot, twin), 0) << "every field, after the caller's value is gone";
            el.Destroy(h, db, twin);
        }
        EXPECT_EQ(err, 0u);
        Destroy(o);
        EXPECT_EQ(qelrt_live_bytes(), 0);
    }, QEL_CHECK_PLAIN);
}

TEST_P(Arrays, StateBytesRangeChecksAndRemoveElementsThenRegrowth) {
    Track();
    void *o = Make();
    auto set_arr = A<SetArr>("state_flag_set_arr");
    auto refused = [&](U i) {  // past the count: no element, no per-element byte to read or write
        const void *got = Get(o, i);
        const U e1 = Err(), s = State(o, i), e2 = Err();
        SetState(o, i, 1);
        EXPECT_EQ(std::make_tuple(got, e1, s, e2, Err()), std::make_tuple((void *)nullptr, 2u, 0u, 2u, 2u)) << i;
    };
    refused(0);
    set_arr(h, db, o, nullptr, 0, &err);  // as many bytes as elements: none
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(Whole(o), 0);
    Put(o, 2, 1);
    EXPECT_EQ(std::make_pair(Whole(o), PerBytes(o, 3)), std::make_pair(uint8_t(2), std::vector<uint8_t>{0, 0, 2}));
    for (U i : {3u, 100u}) refused(i);
    const uint8_t bytes[4] = {7, 8, 9, 10};
    for (U n : {2u, 4u}) {  // a length other than the count changes nothing
        set_arr(h, db, o, bytes, n, &err);
        EXPECT_EQ(std::make_pair(Err(), PerBytes(o, 3)), std::make_pair(2u, std::vector<uint8_t>{0, 0, 2}));
    }
    set_arr(h, db, o, bytes, 3, &err);
    EXPECT_EQ(PerBytes(o, 3), (std::vector<uint8_t>{7, 8, 9}));
    Op<Reset>("set_all_state_tracking_flag")(h, db, o, 0x103);  // every per-element byte too
    EXPECT_EQ(PerBytes(o, 3), std::vector<uint8_t>(3, 3));
    SetWhole(o, 9);
    SetState(o, 0, 4);
    EXPECT_EQ(std::make_pair(Whole(o), State(o, 0)), std::make_pair(uint8_t(9), uint8_t(4)));
    EXPECT_EQ(err, 0u);
    Plain();  // a plain handle has no state bytes to give
    EXPECT_EQ(Whole(o), 0);
    EXPECT_EQ(Err(), 22u);
    Track();
    A<void(H, U, void *)>("remove_elements")(h, db, o);  // empties, keeps the per-element bytes, regrows
    EXPECT_EQ(std::make_pair(Count(o), Get(o, 0)), std::make_pair(0u, (void *)nullptr));
    EXPECT_EQ(Err(), 2u);
    EXPECT_NE(Arr(o), nullptr);
    Op<Reset>("set_all_state_tracking_flag")(h, db, o, 0x101);  // the owner's bytes only
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

// A refused set changes nothing: untracked (22, traced), too large (12), refused lookup (its code); refusals.
TEST_P(Arrays, RefusalsOfEveryOperation) {
    void *plain_owner = Make(), *plain_val = el.Create(h, db);
    Track();
    void *o = Make(), *v = el.Create(h, db), *placed = Make();
    Flags(placed) |= QEL_OF_STTR_RT;  // no place known to the runtime
    const char *untracked = "The object is not state tracked";
    struct { void *o, *v; U idx, lookup_err, code; const char *text; } cases[] = {
        {plain_owner, v, 0, 0, 22, untracked},
        {o, plain_val, 0, 0, 22, "The val object is not state tracked"},
        {placed, v, 0, 0, 22, untracked},
        {o, v, ~0u, 0, 12, ""},
        {o, v, 1u << 28, 0, 12, ""},  // a block past 4 GiB
        {o, v, 2, 5, 5, ""},
    };
    for (auto &c : cases) {
        qelrt_trace_clear();
        qelrt_set_domain_variant_error(c.lookup_err);
        SetAt(c.o, c.idx, c.v);
        qelrt_set_domain_variant_error(0);
        EXPECT_EQ(std::make_tuple(Err(), qelrt_trace_count(), Traced(c.text), Count(c.o), Word(c.o, af.offset)),
                  std::make_tuple(c.code, *c.text ? 1u : 0u, *c.text ? 1u : 0u, 0u, (void *)nullptr)) << c.idx;
    }
    el.Destroy(h, db, plain_val);
    Put(o, 0, 1);
    uint8_t *per = nullptr, bytes[1] = {5};
    const U so = T().tracked_size;
    using WholeGet = void(H, U, void *, U *);
    using GetArr = void(H, U, void *, void *, U *);
    using Set1 = void(H, U, void *, const void *, U, U *);
    using St = void(H, U, void *, U, uint8_t, U *);
    using Get = void *(H, U, void *, U, U *);
    ExpectRefusals({
        {"get", o, so, [&](void *s, U *e) { A<Get>("get")(h, db, s, 0, e); }, 22, true},
        {"set", o, so, [&](void *s, U *e) { A<SetFn>("set")(h, db, s, 0, v, e); }, 22, true},
        {"set of", v, E.tracked_size, [&](void *s, U *e) { A<SetFn>("set")(h, db, o, 0, s, e); }, 22, true},
        {"set_cr", o, so, Chained([&](void *s) { A<SetCr>("set_cr")(h, s, 0, v, 1); }), 22, true},
        {"whole get", o, so, [&](void *s, U *e) { A<WholeGet>("state_flag_whole_get")(h, db, s, e); }, 22, false},
        {"whole set", o, so, [&](void *s, U *e) { A<void(H, U, void *, uint8_t, U *)>("state_flag_whole_set")(h, db, s, 7, e); }, 22, true},
        {"state get", o, so, [&](void *s, U *e) { A<Get>("state_flag_get")(h, db, s, 0, e); }, 22, false},
        {"state set", o, so, [&](void *s, U *e) { A<St>("state_flag_set")(h, db, s, 0, 7, e); }, 22, true},
        {"get_arr", o, so, [&](void *s, U *e) { A<GetArr>("state_flag_get_arr")(h, db, s, &per, e); }, 22, false},
        {"get_arr into", &per, 8, [&](void *s, U *e) { A<GetArr>("state_flag_get_arr")(h, db, o, s, e); }, 22, false},
        {"set_arr", o, so, [&](void *s, U *e) { A<Set1>("state_flag_set_arr")(h, db, s, bytes, 1, e); }, 22, true},
        {"set_arr from", bytes, 1, [&](void *s, U *e) { A<Set1>("state_flag_set_arr")(h, db, o, s, 1, e); }, 22, true},
    });
    el.Destroy(h, db, v);
    qelrt_handle_set_mode(h, 0);
    qelrt_trace_clear();
    Whole(plain_owner);
    EXPECT_EQ(std::make_pair(Err(), Traced("The object is non state tracked")), std::make_pair(22u, 1u));
    SetWhole(plain_owner, 1);
    EXPECT_EQ(std::make_pair(Err(), Traced(untracked)), std::make_pair(22u, 1u));
}

// A block grown while not tracking takes no element once tracking, and has no per-element bytes.
TEST_P(Arrays, BlockGrownWhileNotTracking) {
    Track();
    void *o = Make(), *v = el.Create(h, db);
    Plain();
    Put(o, 1, 5);
    Track();
    const std::vector<uint8_t> elems(ty.Block(o), ty.Block(o) + 2 * E.plain_size);
    for (U idx : {0u, 2u})
        for (U move : {0u, 1u}) {
            qelrt_trace_clear();
            EXPECT_EQ(A<SetCr>("set_cr")(h, o, idx, v, move), 22u);
            EXPECT_EQ(Traced("The object is not state tracked"), 1u);
            h->err = 0;
        }
    el.Destroy(h, db, v);
    const uint8_t bytes[2] = {1, 1};
    A<SetArr>("state_flag_set_arr")(h, db, o, bytes, 2, &err);
    EXPECT_EQ(std::make_pair(Err(), Count(o)), std::make_pair(2u, 2u));
    Op<Reset>("set_all_state_tracking_flag")(h, db, o, 0x103);
    EXPECT_EQ(Whole(o), 3);
    EXPECT_TRUE(std::equal(elems.begin(), elems.end(), ty.Block(o)));
}

// Elements count in their variant's record, and are made even when their counting fails.
TEST_P(Arrays, ElementsAreCountedInTheirVariantsRecordAndMadeWhenCountingFails) {
    h->per_handle_types = 1;  // the counts skewed are the handle's own
    void *v = el.Create(h, db);
    qel_variant_info_t *const vi = Tinfo(v)->varinfo;
    const qel_variant_record_t &r = vi->variants[0];
    const int n = vi->n_variants;
    el.Destroy(h, db, v);
    for (int variant : {0, -2}) {  // 0 with the count short of it, then -2
        void *o = Create();
        qelrt_set_domain_variant(variant);
        void *val = el.Create(h, db);
        const uint64_t made = r.created, gone = r.destroyed;
        vi->n_variants = variant ? n : -1;
        qelrt_trace_clear();
        SetAt(o, 2, val);
        qelrt_set_domain_variant(0);
        EXPECT_EQ(std::make_pair(err, Variant(Get(o, 1))), std::make_pair(0u, int8_t(variant)));
        Destroy(o);
        vi->n_variants = n;
        EXPECT_EQ(std::make_pair(r.created, r.destroyed), std::make_pair(made + 3, gone + 3));
        EXPECT_EQ(Traced("variant 0 requested only 4294967295 variants present"), variant ? 0u : 6u);
        el.Destroy(h, db, val);
    }
    for (int pass = 0; pass < 3; ++pass) {
        pass == 2 ? Track() : Plain();
        qelrt_calls_log(pass == 1);
        void *o = Create(), *val = el.Create(h, db);
        qelrt_set_stats_create_error(5);
        SetAt(o, 2, val);
        qelrt_set_stats_create_error(0);
        EXPECT_EQ(std::make_pair(Err(), Count(o)), std::make_pair(5u, 3u)) << pass;
        for (U i = 0; i < 3; ++i) EXPECT_EQ(Tinfo(Get(o, i)), Tinfo(val)) << pass << i;
        el.Destroy(h, db, val);
        Destroy(o);
    }
}

// A read is reported; growth reports each moved element in its new place, the old one detached.
TEST_P(Arrays, ContainmentReports) {
    h->containment_tracking = h->per_handle_types = 1;
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
    ASSERT_EQ(std::make_pair(contained.size(), detached.size()), std::make_pair(size_t{6}, size_t{1}));
    using P = std::pair<uint64_t, uint64_t>;  // the read, the moved element, the set slot, the read
    EXPECT_EQ((std::vector<P>{{contained[0]->a[2], contained[0]->a[3]}, {contained[1]->a[2], contained[1]->a[3]}, {contained[2]->a[2], contained[2]->a[3]}}),
              (std::vector<P>{{w(was), 0}, {w(was), w(o)}, {w(now), w(o)}}));
    EXPECT_EQ(detached[0]->a[2], w(was));
    el.Destroy(h, db, v);
}

INSTANTIATE_TEST_SUITE_P(Owners, Arrays, ::testing::ValuesIn(TypesWhere(IsArrayOwner)), ParamName());

}  // namespace
