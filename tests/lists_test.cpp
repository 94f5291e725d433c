// The ordered lists of every list owner: reading, insertion, removal, membership, position
// flags, link registration, the list's state byte.
#include <algorithm>

#include "fixture.h"

namespace {

using namespace lt;

using FnGet = void *(H, U, void *, U *);
using FnRef = void *(H, U, void *, void *, U *);
using FnPut = void(H, U, void *, void *, U *);
using FnPutRef = void(H, U, void *, void *, void *, U *);

class Lists : public TypeTest {
protected:
    const FieldDesc &lf = T().fields[T().list_field];
    const TypeDesc &E = *lf.elem;
    const Ty el{E};
    template <class F>
    F *L(const char *op) const { return ty.FOp<F>(lf, op); }

    void *Step(void *o, void *r, bool back) { return L<FnRef>(back ? "get_prev" : "get_next")(h, db, o, r, &err); }
    void *GetCr(void *o, U flag, void *r) { return L<void *(H, void *, U, void *)>("get_cr")(h, o, flag, r); }
    // pos: 0 first, 1 last, 2 before ref, 3 after ref.
    void Insert(void *o, unsigned pos, void *ref, void *e) {
        static const char *ops[] = {"set_first", "set_last", "set_before", "set_after"};
        if (pos < 2) L<FnPut>(ops[pos])(h, db, o, e, &err);
        else L<FnPutRef>(ops[pos])(h, db, o, ref, e, &err);
    }
    U AddCr(void *o, void *e, U flag, void *r) { return L<U(H, void *, void *, U, void *)>("add_cr")(h, o, e, flag, r); }
    void Remove(void *o, void *e) { L<FnPut>("remove")(h, db, o, e, &err); }
    void *Parent(void *e) { return el.FOp<FnGet>(lf, "get_parent")(h, db, e, &err); }
    void **Anchor(void *o) { return reinterpret_cast<void **>(Bytes(o, T().anchor_off)); }
    void *AnchorWord(void *e) { return Word(e, E.link_off); }
    std::vector<void *> NewElems(int n) { std::vector<void *> v; while (n--) v.push_back(el.Create(h, db)); return v; }
    void Append(void *o, const std::vector<void *> &els) {
        for (void *e : els) Insert(o, 1, nullptr, e);
        EXPECT_EQ(err, 0u);
    }
    // The list walked both ways (at most 16 steps), checked against count, anchor words and owners.
    std::vector<void *> Walk(void *o) {
        err = 0;
        std::vector<void *> fwd, back;
        for (void *p = L<FnGet>("get_first")(h, db, o, &err); p && fwd.size() < 16; p = Step(o, p, false)) fwd.push_back(p);
        for (void *p = L<FnGet>("get_last")(h, db, o, &err); p && back.size() < 16; p = Step(o, p, true)) back.insert(back.begin(), p);
        EXPECT_EQ(fwd, back);
        EXPECT_EQ(L<U(H, U, void *, U *)>("get_count")(h, db, o, &err), fwd.size());
        for (void *p : fwd) EXPECT_EQ(std::make_pair(AnchorWord(p), Parent(p)), std::make_pair((void *)Anchor(o), o));
        if (fwd.empty()) { EXPECT_EQ(std::make_pair(Anchor(o)[0], Anchor(o)[1]), std::make_pair((void *)Anchor(o), (void *)Anchor(o))); }
        EXPECT_EQ(std::make_pair(Anchor(o)[2], err), std::make_pair(o, 0u));
        return fwd;
    }
};

// Bad position flags report 22, traced, and change nothing.
TEST_P(Lists, ReadsEmptyInsertsAtEveryPositionAndRefusesBadFlags) {
    void *o = Make();
    auto e = NewElems(7);
    EXPECT_TRUE(Walk(o).empty());
    EXPECT_EQ(GetCr(o, 1, nullptr), nullptr);
    EXPECT_EQ(GetCr(o, 4, nullptr), nullptr);
    EXPECT_EQ(std::exchange(h->err, 0), 22u);
    EXPECT_EQ(AddCr(o, e[6], 7, nullptr), 22u);
    EXPECT_EQ(std::make_pair(Traced("invalid list get flag 4"), Traced("invalid list add flag 7")), std::make_pair(1u, 1u));
    EXPECT_TRUE(Walk(o).empty());
    h->err = 0;
    Insert(o, 0, nullptr, e[0]);  // first into empty: both ends
    EXPECT_EQ(Walk(o), std::vector<void *>{e[0]});
    Insert(o, 1, nullptr, e[1]);  // 0 1
    Insert(o, 0, nullptr, e[2]);  // 2 0 1
    Insert(o, 2, e[2], e[3]);     // before first: 3 2 0 1
    Insert(o, 3, e[1], e[4]);     // after last:   3 2 0 1 4
    Insert(o, 2, e[0], e[5]);     // middle:       3 2 5 0 1 4
    EXPECT_EQ(AddCr(o, e[6], 3, e[5]), 0u);  //   3 2 5 6 0 1 4
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(Walk(o), (std::vector<void *>{e[3], e[2], e[5], e[6], e[0], e[1], e[4]}));
    for (uint32_t f = 0; f < 4; ++f)  // the chained reader agrees with the plain ones
        EXPECT_EQ(GetCr(o, f, e[6]), (std::vector<void *>{e[3], e[4], e[5], e[0]})[f]);
}

// A removed element is the caller's again, keeping its own links.
TEST_P(Lists, RemovesFirstMiddleLastAndOnly) {
    for (int victim = 0; victim < 4; ++victim) {  // 0 first, 1 middle, 2 last, 3 only
        SCOPED_TRACE(victim);
        void *o = Make();
        auto e = NewElems(victim == 3 ? 1 : 3);
        Append(o, e);
        void *gone = e[victim == 3 ? 0 : victim], *next = Word(gone, E.link_off + 8);
        EXPECT_EQ(Parent(gone), o);
        if (victim == 3) {
            EXPECT_EQ(L<U(H, void *, void *)>("remove_cr")(h, o, gone), 0u);
        } else {
            Remove(o, gone);
        }
        e.erase(std::find(e.begin(), e.end(), gone));
        EXPECT_EQ(Walk(o), e);
        EXPECT_EQ(std::make_tuple(Parent(gone), AnchorWord(gone), Word(gone, E.link_off + 8)), std::make_tuple((void *)nullptr, (void *)nullptr, next));
        el.Destroy(h, db, gone);
    }
}

// Another list's element is not found (2), a linked one refused (22, also as set); nothing changes.
TEST_P(Lists, ElementsOfOtherListsAreRefused) {
    void *a = Make(), *b = Make(), *c = Make();
    auto e = NewElems(3);
    Append(a, {e[0]});
    Append(b, {e[1]});
    auto bytes = [&] { std::vector<uint8_t> v; for (void *p : e) v.insert(v.end(), Bytes(p), Bytes(p) + E.plain_size); return v; };
    const auto before = bytes();
    struct { const char *what; std::function<void()> op; uint32_t code; } cases[] = {
        {"remove foreign", [&] { Remove(a, e[1]); }, 2},
        {"remove free", [&] { Remove(a, e[2]); }, 2},
        {"remove from empty", [&] {  // even an element whose anchor word names the empty list
             void **anchor = Anchor(c);
             std::memcpy(Bytes(e[2], E.link_off), &anchor, sizeof anchor);
             Remove(c, e[2]);
             std::memset(Bytes(e[2], E.link_off), 0, sizeof anchor);
         }, 2},
        {"before foreign", [&] { Insert(a, 2, e[1], e[2]); }, 2},
        {"next of foreign", [&] { EXPECT_EQ(Step(a, e[1], false), nullptr); }, 2},
        {"insert linked", [&] { Insert(a, 0, nullptr, e[1]); }, 22},
        {"insert twice", [&] { Insert(a, 1, nullptr, e[0]); }, 22},
        {"set into linked", [&] { el.Set(h, db, e[0], e[2], &err); }, 22},
        {"set from linked", [&] { el.Set(h, db, e[2], e[0], &err); }, 22},
    };
    for (auto &k : cases) {
        SCOPED_TRACE(k.what);
        err = 0;
        k.op();
        EXPECT_EQ(err, k.code);
        EXPECT_EQ(Walk(a), std::vector<void *>{e[0]});
        EXPECT_EQ(Walk(b), std::vector<void *>{e[1]});
        EXPECT_TRUE(Walk(c).empty());
        EXPECT_TRUE(bytes() == before);
    }
    el.Destroy(h, db, e[2]);
}

// Insertion marks the list's state byte; an untracked owner takes an element but reports 22.
TEST_P(Lists, RefusalsOfEveryOperation) {
    Plain();
    void *untracked = Make();
    Track();
    void *o = Make();
    auto state = L<uint8_t(H, U, void *, U *)>("state_flag_get");
    EXPECT_EQ(state(h, db, o, &err), 0);
    auto e = NewElems(2);  // e[0] in the list, e[1] free
    Append(o, {e[0]});
    EXPECT_EQ(state(h, db, o, &err), 2);
    const U so = T().tracked_size, se = E.tracked_size;
    ExpectRefusals({
        {"get_first", o, so, [&](void *s, U *r) { L<FnGet>("get_first")(h, db, s, r); }, 22, true},
        {"get_count", o, so, [&](void *s, U *r) { L<U(H, U, void *, U *)>("get_count")(h, db, s, r); }, 22, true},
        {"get_next", o, so, [&](void *s, U *r) { L<FnRef>("get_next")(h, db, s, e[0], r); }, 22, true},
        {"get_next of", e[0], se, [&](void *s, U *r) { L<FnRef>("get_next")(h, db, o, s, r); }, 22, true},
        {"get_cr", o, so, Chained([&](void *s) { GetCr(s, 0, nullptr); }), 22, true},
        {"set_first", o, so, [&](void *s, U *r) { L<FnPut>("set_first")(h, db, s, e[1], r); }, 22, true},
        {"set_first of", e[1], se, [&](void *s, U *r) { L<FnPut>("set_first")(h, db, o, s, r); }, 22, true},
        {"set_after of", e[0], se, [&](void *s, U *r) { L<FnPutRef>("set_after")(h, db, o, s, e[1], r); }, 22, true},
        {"add_cr", o, so, Chained([&](void *s) { AddCr(s, e[1], 0, nullptr); }), 22, true},
        {"remove", o, so, [&](void *s, U *r) { L<FnPut>("remove")(h, db, s, e[0], r); }, 22, true},
        {"remove of", e[0], se, [&](void *s, U *r) { L<FnPut>("remove")(h, db, o, s, r); }, 22, true},
        {"remove_cr", o, so, Chained([&](void *s) { L<U(H, void *, void *)>("remove_cr")(h, s, e[0]); }), 22, true},
        {"get_parent", e[0], se, [&](void *s, U *r) { el.FOp<FnGet>(lf, "get_parent")(h, db, s, r); }, 22, true},
    });
    EXPECT_EQ(Walk(o), std::vector<void *>{e[0]});
    qelrt_trace_clear();
    Insert(untracked, 0, nullptr, e[1]);
    EXPECT_EQ(std::make_pair(Err(), Traced("The object is not state tracked")), std::make_pair(22u, 1u));
    EXPECT_EQ(Walk(untracked), std::vector<void *>{e[1]});
}

// A removal reports the element (detached and dirty links too); a refused link registration is fatal.
TEST_P(Lists, RemovalReportsTheElementAndRefusedLinkRegistrationIsFatal) {
    h->containment_tracking = 1;
    qelrt_handle_use_quarl(h, 1);
    void *o = Make();
    auto e = NewElems(3);
    Append(o, {e[0], e[1]});
    db = 3;
    qelrt_calls_log(1);
    Remove(o, e[0]);  // per-handle types off: no platform reports
    EXPECT_EQ(qelrt_call_count("qeldb_plat_set_detach") + qelrt_call_count("qeldb_plat_set_dirty"), 0u);
    h->per_handle_types = 1;
    Remove(o, e[1]);
    qelrt_calls_log(0);
    EXPECT_EQ(err, 0u);
    auto contained = Calls("qeldb_record_containment2"), detached = Calls("qeldb_plat_set_detach"), dirty = Calls("qeldb_plat_set_dirty");
    const auto w = [](const void *p) { return reinterpret_cast<uint64_t>(p); };
    ASSERT_EQ(std::make_tuple(contained.size(), detached.size(), dirty.size()), std::make_tuple(2u, 1u, 2u));  // dirty: the anchor's first and last
    for (int k = 0; k < 2; ++k) EXPECT_EQ(std::make_pair(contained[k]->a[2], contained[k]->a[3]), std::make_pair(w(e[k]), w(o)));
    EXPECT_EQ(std::make_pair(detached[0]->a[2], detached[0]->a[3]), std::make_pair(w(e[1]), uint64_t{1}));
    for (auto *d : dirty) EXPECT_EQ(d->a[2], w(Anchor(o)));
    h->containment_tracking = h->per_handle_types = 0;
    db = h->database_id;
    Append(o, {e[0]});
    EXPECT_DEATH({ qelrt_quarl_fail_at(1); Create(); }, "quarl internal error");
    EXPECT_DEATH({ qelrt_quarl_fail_at(3); Insert(o, 3, e[0], e[1]); }, "quarl internal error");
    EXPECT_DEATH({ qelrt_quarl_fail_at(2); Remove(o, e[0]); }, "quarl internal error");
    EXPECT_DEATH({ qelrt_quarl_fail_at(1); Destroy(o); }, "quarl internal error");
    for (void *p : {e[1], e[2]}) el.Destroy(h, db, p);
}

INSTANTIATE_TEST_SUITE_P(Owners, Lists, ::testing::ValuesIn(TypesWhere(IsListOwner)), ParamName());

}  // namespace
