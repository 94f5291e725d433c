// lists_test.cpp -- the ordered lists, run over every list owner of the
// schema: reading, insertion at every position, removal, owner lookup,
// position flags, membership checks, registered link writes, the list's
// state byte, moving a whole owner and releasing elements with the owner.
#include <algorithm>
#include <functional>

#include "containers_support.h"

namespace lt {
namespace {

using namespace ctr;

struct ListApi {
    const TypeDesc &t;  // owner
    const TypeDesc &e;  // element
    std::string l;      // "<owner>_<list>"

    explicit ListApi(const TypeDesc &owner)
        : t(owner), e(*owner.fields[owner.list_field].elem),
          l(std::string(owner.name) + "_" + owner.fields[owner.list_field].name) {}
    template <class F> F *Op(const char *op) const { return Api<F>(l, op); }

    void *First(P h, uint32_t db, void *o, uint32_t *err) const { return Op<void *(P, uint32_t, void *, uint32_t *)>("get_first")(h, db, o, err); }
    void *Last(P h, uint32_t db, void *o, uint32_t *err) const { return Op<void *(P, uint32_t, void *, uint32_t *)>("get_last")(h, db, o, err); }
    void *Next(P h, uint32_t db, void *o, void *r, uint32_t *err) const { return Op<void *(P, uint32_t, void *, void *, uint32_t *)>("get_next")(h, db, o, r, err); }
    void *Prev(P h, uint32_t db, void *o, void *r, uint32_t *err) const { return Op<void *(P, uint32_t, void *, void *, uint32_t *)>("get_prev")(h, db, o, r, err); }
    uint32_t Count(P h, uint32_t db, void *o, uint32_t *err) const { return Op<uint32_t(P, uint32_t, void *, uint32_t *)>("get_count")(h, db, o, err); }
    void *GetCr(P h, void *o, uint32_t flag, void *r) const { return Op<void *(P, void *, uint32_t, void *)>("get_cr")(h, o, flag, r); }
    // pos: 0 first, 1 last, 2 before ref, 3 after ref.
    void Insert(P h, uint32_t db, void *o, unsigned pos, void *ref, void *el, uint32_t *err) const {
        static const char *ops[] = {"set_first", "set_last", "set_before", "set_after"};
        if (pos < 2) Op<void(P, uint32_t, void *, void *, uint32_t *)>(ops[pos])(h, db, o, el, err);
        else Op<void(P, uint32_t, void *, void *, void *, uint32_t *)>(ops[pos])(h, db, o, ref, el, err);
    }
    uint32_t AddCr(P h, void *o, void *el, uint32_t flag, void *r) const { return Op<uint32_t(P, void *, void *, uint32_t, void *)>("add_cr")(h, o, el, flag, r); }
    void Remove(P h, uint32_t db, void *o, void *el, uint32_t *err) const { Op<void(P, uint32_t, void *, void *, uint32_t *)>("remove")(h, db, o, el, err); }
    uint32_t RemoveCr(P h, void *o, void *el) const { return Op<uint32_t(P, void *, void *)>("remove_cr")(h, o, el); }
    uint8_t State(P h, uint32_t db, void *o, uint32_t *err) const { return Op<uint8_t(P, uint32_t, void *, uint32_t *)>("state_flag_get")(h, db, o, err); }
    void *Parent(P h, uint32_t db, void *el, uint32_t *err) const {
        return Api<void *(P, uint32_t, void *, uint32_t *)>(std::string(e.name) + "_" + t.fields[t.list_field].name, "get_parent")(h, db, el, err);
    }

    void *const *Anchor(void *o) const { return reinterpret_cast<void *const *>(Bytes(o, t.anchor_off)); }
    void *AnchorWord(void *el) const { return *reinterpret_cast<void *const *>(Bytes(el, e.link_off)); }
};

class Lists : public Lomari, public ::testing::WithParamInterface<const TypeDesc *> {
protected:
    ListApi L{*GetParam()};
    Obj owner{*GetParam()}, elem{L.e};

    void *NewOwner() { return owner.Create(h, db); }
    std::vector<void *> NewElems(int n) {
        std::vector<void *> v;
        for (int i = 0; i < n; ++i) v.push_back(elem.Create(h, db));
        return v;
    }
    void *Append(void *o, void *el) {
        uint32_t e = 0;
        L.Insert(h, db, o, 1, nullptr, el, &e);
        EXPECT_EQ(e, 0u);
        return el;
    }
    // The list as walked both ways; checks that both walks, the count, the
    // anchor words and each element's owner agree.
    std::vector<void *> Walk(void *o) {
        uint32_t e = 0;
        std::vector<void *> fwd, back;
        for (void *p = L.First(h, db, o, &e); p; p = L.Next(h, db, o, p, &e)) fwd.push_back(p);
        for (void *p = L.Last(h, db, o, &e); p; p = L.Prev(h, db, o, p, &e)) back.insert(back.begin(), p);
        EXPECT_EQ(e, 0u);
        EXPECT_EQ(fwd, back);
        EXPECT_EQ(L.Count(h, db, o, &e), fwd.size());
        for (void *p : fwd) {
            EXPECT_EQ(L.AnchorWord(p), L.Anchor(o));
            EXPECT_EQ(L.Parent(h, db, p, &e), o);
        }
        if (fwd.empty()) {
            EXPECT_EQ(L.Anchor(o)[0], L.Anchor(o));
            EXPECT_EQ(L.Anchor(o)[1], L.Anchor(o));
        }
        EXPECT_EQ(L.Anchor(o)[2], o);
        return fwd;
    }
};

TEST_P(Lists, ReadsEmptyAndInsertsAtEveryPosition) {
    void *o = NewOwner();
    auto el = NewElems(7);
    EXPECT_TRUE(Walk(o).empty());
    EXPECT_EQ(L.GetCr(h, o, 1, nullptr), nullptr);
    uint32_t e = 0;
    L.Insert(h, db, o, 0, nullptr, el[0], &e);  // first into empty: both ends
    EXPECT_EQ(L.Last(h, db, o, &e), el[0]);
    EXPECT_EQ(L.Next(h, db, o, el[0], &e), nullptr);
    L.Insert(h, db, o, 1, nullptr, el[1], &e);     // 0 1
    L.Insert(h, db, o, 0, nullptr, el[2], &e);     // 2 0 1
    L.Insert(h, db, o, 2, el[2], el[3], &e);       // before first: 3 2 0 1
    L.Insert(h, db, o, 3, el[1], el[4], &e);       // after last:   3 2 0 1 4
    L.Insert(h, db, o, 2, el[0], el[5], &e);       // middle:       3 2 5 0 1 4
    EXPECT_EQ(L.AddCr(h, o, el[6], 3, el[5]), 0u);  // middle:       3 2 5 6 0 1 4
    EXPECT_EQ(e, 0u);
    EXPECT_EQ(Walk(o), (std::vector<void *>{el[3], el[2], el[5], el[6], el[0], el[1], el[4]}));
    for (uint32_t f = 0; f < 4; ++f)  // the chained reader agrees with the plain ones
        EXPECT_EQ(L.GetCr(h, o, f, el[6]), (std::vector<void *>{el[3], el[4], el[5], el[0]})[f]);
    owner.Destroy(h, db, o);
}

TEST_P(Lists, RemovesFirstMiddleLastAndOnly) {
    for (int victim = 0; victim < 4; ++victim) {  // 0 first, 1 middle, 2 last, 3 only
        SCOPED_TRACE(victim);
        void *o = NewOwner();
        auto el = NewElems(victim == 3 ? 1 : 3);
        for (void *p : el) Append(o, p);
        void *gone = el[victim == 3 ? 0 : victim];
        void *next = L.AnchorWord(gone) ? *reinterpret_cast<void **>(Bytes(gone, L.e.link_off + 8)) : nullptr;
        uint32_t e = 0;
        EXPECT_EQ(L.Parent(h, db, gone, &e), o);
        EXPECT_EQ(victim == 3 ? L.RemoveCr(h, o, gone) : (L.Remove(h, db, o, gone, &e), e), 0u);
        auto rest = el;
        rest.erase(std::find(rest.begin(), rest.end(), gone));
        EXPECT_EQ(Walk(o), rest);
        EXPECT_EQ(L.Parent(h, db, gone, &e), nullptr);
        EXPECT_EQ(L.AnchorWord(gone), nullptr);
        // The removed element keeps its own links and is the caller's again.
        EXPECT_EQ(*reinterpret_cast<void **>(Bytes(gone, L.e.link_off + 8)), next);
        elem.Destroy(h, db, gone);
        owner.Destroy(h, db, o);
    }
}

// A reference or removed element that is not in this owner's list is not
// found (2) and nothing changes; a new element already in a list is refused
// (22); an empty list never wraps its count.
TEST_P(Lists, ElementsOfOtherListsAreRefused) {
    void *a = NewOwner(), *b = NewOwner();
    auto el = NewElems(3);
    Append(a, el[0]);
    Append(b, el[1]);
    struct { const char *what; std::function<void(uint32_t *)> op; uint32_t code; } cases[] = {
        {"remove foreign", [&](uint32_t *e) { L.Remove(h, db, a, el[1], e); }, 2},
        {"remove free", [&](uint32_t *e) { L.Remove(h, db, a, el[2], e); }, 2},
        {"remove from empty", [&](uint32_t *e) { void *c = NewOwner(); L.Remove(h, db, c, el[2], e);
                                                EXPECT_EQ(L.Count(h, db, c, e), 0u); owner.Destroy(h, db, c); }, 2},
        {"before foreign", [&](uint32_t *e) { L.Insert(h, db, a, 2, el[1], el[2], e); }, 2},
        {"next of foreign", [&](uint32_t *e) { EXPECT_EQ(L.Next(h, db, a, el[1], e), nullptr); }, 2},
        {"insert linked", [&](uint32_t *e) { L.Insert(h, db, a, 0, nullptr, el[1], e); }, 22},
        {"insert twice", [&](uint32_t *e) { L.Insert(h, db, a, 1, nullptr, el[0], e); }, 22},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t e = 0;
        c.op(&e);
        EXPECT_EQ(e, c.code);
        EXPECT_EQ(Walk(a), std::vector<void *>{el[0]});
        EXPECT_EQ(Walk(b), std::vector<void *>{el[1]});
        EXPECT_EQ(L.AnchorWord(el[2]), nullptr);
    }
    elem.Destroy(h, db, el[2]);
    owner.Destroy(h, db, a);
    owner.Destroy(h, db, b);
}

TEST_P(Lists, BadPositionFlagsReport22) {
    void *o = NewOwner();
    void *el = elem.Create(h, db);
    EXPECT_EQ(L.GetCr(h, o, 4, nullptr), nullptr);
    EXPECT_EQ(h->err, 22u);
    EXPECT_EQ(Traced("invalid list get flag 4"), 1u);
    h->err = 0;
    EXPECT_EQ(L.AddCr(h, o, el, 7, nullptr), 22u);
    EXPECT_EQ(Traced("invalid list add flag 7"), 1u);
    EXPECT_TRUE(Walk(o).empty());
    elem.Destroy(h, db, el);
    owner.Destroy(h, db, o);
}

TEST_P(Lists, EveryLinkWordIsRegistered) {
    qelrt_handle_use_quarl(h, 1);
    void *o = NewOwner();
    auto el = NewElems(3);
    for (void *p : el) Append(o, p);
    uint32_t e = 0;
    L.Remove(h, db, o, el[1], &e);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(quarl_in_range(h->alloc_ctx, L.Anchor(o) + i, 8), 1);
    for (void *p : el)
        for (uint32_t w = 1; w < 3; ++w) EXPECT_EQ(quarl_in_range(h->alloc_ctx, Bytes(p, L.e.link_off + 8 * w), 8), 1);
    elem.Destroy(h, db, el[1]);
    owner.Destroy(h, db, o);
}

TEST_P(Lists, RefusedLinkRegistrationIsFatal) {
    qelrt_handle_use_quarl(h, 1);
    EXPECT_DEATH({ qelrt_quarl_fail_at(1); NewOwner(); }, "quarl internal error");
    void *o = NewOwner();
    void *el = Append(o, elem.Create(h, db));
    void *more = elem.Create(h, db);
    uint32_t e = 0;
    EXPECT_DEATH({ qelrt_quarl_fail_at(3); L.Insert(h, db, o, 3, el, more, &e); }, "quarl internal error");
    EXPECT_DEATH({ qelrt_quarl_fail_at(2); L.Remove(h, db, o, el, &e); }, "quarl internal error");
    EXPECT_DEATH({ qelrt_quarl_fail_at(1); owner.Destroy(h, db, o); }, "quarl internal error");
    elem.Destroy(h, db, more);
    owner.Destroy(h, db, o);
}

TEST_P(Lists, InsertionMarksTheListStateByte) {
    Track();
    void *o = NewOwner();
    uint32_t e = 0;
    EXPECT_EQ(L.State(h, db, o, &e), 0);
    Append(o, elem.Create(h, db));
    EXPECT_EQ(L.State(h, db, o, &e), 2);
    // An owner made before tracking was turned on still gets the element.
    Plain();
    void *untracked = NewOwner();
    Track();
    L.Insert(h, db, untracked, 0, nullptr, elem.Create(h, db), &e);
    EXPECT_EQ(e, 22u);
    EXPECT_EQ(Traced("The object is not state tracked"), 1u);
    EXPECT_EQ(L.Count(h, db, untracked, &(e = 0)), 1u);
    owner.Destroy(h, db, o);
    owner.Destroy(h, db, untracked);
}

TEST_P(Lists, WholeObjectSetMovesTheList) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track);
        track ? Track() : Plain();
        qelrt_handle_use_quarl(h, 1);
        const int64_t live = qelrt_live_bytes();
        void *src = NewOwner(), *dst = NewOwner();
        auto el = NewElems(3);
        for (void *p : el) Append(src, p);
        uint32_t e = 0;
        owner.Set(h, db, dst, src, &e);
        EXPECT_EQ(e, 0u);
        EXPECT_TRUE(Walk(src).empty());
        EXPECT_EQ(Walk(dst), el);
        for (void *p : el) EXPECT_EQ(quarl_in_range(h->alloc_ctx, Bytes(p, L.e.link_off), 8), 1);
        uint64_t &destroyed = Tinfo(el[0])->varinfo->variants[0].destroyed;
        const uint64_t before = destroyed;
        owner.Destroy(h, db, src);
        owner.Destroy(h, db, dst);
        EXPECT_EQ(destroyed, before + 3);
        EXPECT_EQ(qelrt_live_bytes(), live);
    }
}

// A whole-object set onto an owner that has elements of its own replaces
// them: the old elements are destroyed, nothing leaks.
TEST_P(Lists, WholeObjectSetReplacesTheDestinationsElements) {
    const int64_t live = qelrt_live_bytes();
    void *src = NewOwner(), *dst = NewOwner();
    auto mine = NewElems(2), theirs = NewElems(3);
    for (void *p : mine) Append(dst, p);
    for (void *p : theirs) Append(src, p);
    uint64_t &destroyed = Tinfo(mine[0])->varinfo->variants[0].destroyed;
    const uint64_t before = destroyed;
    uint32_t e = 0;
    owner.Set(h, db, dst, src, &e);
    EXPECT_EQ(e, 0u);
    EXPECT_EQ(destroyed, before + 2);
    EXPECT_EQ(Walk(dst), theirs);
    owner.Destroy(h, db, src);
    owner.Destroy(h, db, dst);
    EXPECT_EQ(qelrt_live_bytes(), live);
}

// An element's whole-object set would copy link words: refused with 22 while
// either side is in a list, and nothing changes.
TEST_P(Lists, ElementSetIsRefusedWhileInAList) {
    void *o = NewOwner();
    auto el = NewElems(2);
    Append(o, el[0]);
    for (auto [dst, src] : {std::pair{el[0], el[1]}, std::pair{el[1], el[0]}}) {
        std::vector<uint8_t> before(Bytes(dst), Bytes(dst) + L.e.plain_size);
        uint32_t e = 0;
        elem.Set(h, db, dst, src, &e);
        EXPECT_EQ(e, 22u);
        EXPECT_EQ(std::memcmp(before.data(), dst, L.e.plain_size), 0);
    }
    EXPECT_EQ(Walk(o), std::vector<void *>{el[0]});
    owner.Destroy(h, db, o);
    elem.Destroy(h, db, el[1]);
}

INSTANTIATE_TEST_SUITE_P(Owners, Lists,
                         ::testing::ValuesIn(Owners(true)),
                         ParamName());

}  // namespace
}  // namespace lt
