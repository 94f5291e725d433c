// binary_test.cpp -- the binary body encoding of every type and enumeration: exact bytes and
// lengths, round trips, every room, in-place updates, bad input; clones (deep copies through it);
// order and hash of every structured type (enumerations' with their encoding).
#include <algorithm>

#include "fixture.h"

namespace {

using namespace lt;
using Buf = std::vector<uint8_t>;

uint32_t Be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
void PutBe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}

// Plain, tracked, and tracked in 15 bytes (the last state byte left out): each reads back whole.
TEST_F(Lomari, WhichVepEncodesAsWorkedOut) {
    Ty t{kTypes[2]};
    ASSERT_STREQ(t.t.name, "which_vep");
    const Buf forms[] = {{0, 0, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0, 2, 0xCC},
                         {0, 8, 0, 0, 0, 14, 0, 0, 0, 1, 2, 0, 0, 0, 2, 2, 0xCC},
                         {0, 8, 0, 0, 0, 13, 0, 0, 0, 1, 2, 0, 0, 0, 2, 0xCC}};
    for (const Buf &want : forms) {
        if (&want != forms) Track();
        void *o = t.Create(h, db), *d = t.Create(h, db);
        t.SetValue(h, db, o, t.t.fields[0], 1, &err);
        t.SetValue(h, db, o, t.t.fields[1], 2, &err);
        Buf b(32, 0xCC);
        const U n = U(want.size() - 1);
        EXPECT_EQ(t.Len(h, db, o), &want == forms ? 14u : 16u);
        ASSERT_EQ(t.Marshal(h, db, b.data(), o, &want == forms + 2 ? 15 : 32, &err), n);
        EXPECT_EQ(Buf(b.begin(), b.begin() + n + 1), want);
        EXPECT_EQ(t.Unmarshal(h, db, b.data(), d, n, 0, &err), n);
        EXPECT_EQ(t.Compare(o, d), 0);
        if (&want == forms + 2) { EXPECT_EQ(std::make_pair(t.StateGet(h, db, d, t.t.fields[0], &err), t.StateGet(h, db, d, t.t.fields[1], &err)), std::make_pair(uint8_t(2), uint8_t(0))); }
        EXPECT_EQ(std::make_pair(Err(), Traced("offset_jump")), std::make_pair(0u, 0u));
        for (void *x : {o, d}) t.Destroy(h, db, x);
    }
}

// ---- every type -------------------------------------------------------------------

class Binary : public CodecTest {
protected:
    U Decode(const Buf &b, void *o, U in_place = 0, U len = ~0u) {
        return ty.Unmarshal(h, db, b.data(), o, std::min<U>(len, U(b.size())), in_place, &err);
    }
    // What the body of one element takes.
    U ElemLen(bool track) const {
        const TypeDesc &e = *ty.Owned()->elem;
        return e.enc_fixed + (track ? e.enc_state : 0);
    }
};
class BinaryOwner : public Binary {};

// Lengths of 0, 1, 3 elements; a newer writer's variant is capped, its flags beyond 0x28 and extra bytes skipped.
TEST_P(Binary, LengthsAndRoundTripsAsANewerWriterSendsThem) {
    U states = 0;
    for (unsigned i = 0; i < T().nfields; ++i)
        states += T().fields[i].state_idx != lomari::kNoState && T().fields[i].kind != Kind::Array;
    Modes([&](bool track) {
        for (U n : {0u, 1u, 3u}) {
            if (n && !ty.Owned()) break;
            void *o = Fill(n * 31 + T().ordinal, n);
            const U want = T().enc_fixed + (track ? T().enc_state : 0) + (n ? n * (ElemLen(track) + (track && ty.Array())) : 0);
            Ty e{ty.Array() ? *ty.Array()->elem : T()};
            auto per = [&](void *x) { return ty.FOp<uint8_t(H, U, void *, U, U *)>(*ty.Array(), "state_flag_get")(h, db, x, 0, &err); };
            if (track && n && ty.Array()) {  // an element's own state byte and its per-element byte
                e.StateSet(h, db, ty.Block(o), e.t.fields[0], 7, &err);
                ty.FOp<void(H, U, void *, U, uint8_t, U *)>(*ty.Array(), "state_flag_set")(h, db, o, 0, 5, &err);
            }
            Buf b = Encode(o), newer = b;
            EXPECT_EQ(ty.Len(h, db, o), want);
            EXPECT_EQ(std::make_tuple(U(b.size()), b[1], Be32(&b[2])),
                      std::make_tuple(n ? want : T().enc_fixed + (track ? states : 0), uint8_t(track ? 8 : 0), U(b.size() - 2)));
            newer[0] = 100;  // a later variant than this reader knows: capped
            newer[1] |= uint8_t(~(QEL_OF_TRACKED | QEL_OF_RA_DATA));
            newer.insert(newer.end(), {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0x77});  // 0x77: the caller's next thing
            PutBe32(&newer[2], U(b.size()) + 3);
            void *d = Create();
            const uint8_t flags = Flags(d) | (track ? QEL_OF_TRACKED : 0);
            qelrt_trace_clear();
            const uint64_t made = n && ty.List() ? Counts(ty.Elements(o).at(0)).created : 0;
            EXPECT_EQ(Decode(newer, d), b.size() + 5);
            EXPECT_EQ(Err(), 0u);
            if (n && ty.List()) {  // fresh elements after the first: its headers and enumeration headers, each counted
                const std::vector<void *> els = ty.Elements(d);
                const TypeDesc &et = *ty.List()->elem;
                EXPECT_EQ(Counts(els.at(0)).created - made, n);
                for (void *el : els) {
                    EXPECT_EQ(std::memcmp(el, els[0], 11), 0);
                    for (unsigned i = 0; i < et.nfields; ++i)
                        if (et.fields[i].kind == Kind::Enum) { EXPECT_EQ(std::memcmp(static_cast<uint8_t *>(el) + et.fields[i].offset, static_cast<uint8_t *>(els[0]) + et.fields[i].offset, 11), 0); }
                }
            }
            const std::string text = "offset_jump read_len " + std::to_string(b.size()) +
                                     " offset_jump_base 2 _qel_variant_jump " + std::to_string(b.size() + 3);
            EXPECT_EQ(std::make_pair(Traced(text.c_str()), Traced("offset_jump")), std::make_pair(1u, 1u)) << text;
            EXPECT_EQ(Flags(d), flags);
            EXPECT_EQ(ty.Compare(o, d), 0);
            EXPECT_EQ(Encode(d), b);
            PutBe32(&newer[2], U(newer.size()) - 1);  // a jump one past the end
            void *cut = Create();
            EXPECT_EQ(Decode(newer, cut), 0u);
            EXPECT_EQ(Err(), 90u);
            Destroy(cut);
            if (track && n && ty.Array()) {
                EXPECT_EQ(std::make_tuple(e.StateGet(h, db, ty.Block(d), e.t.fields[0], &err), per(d), bool(Flags(ty.Block(d)) & QEL_OF_NESTED)),
                          std::make_tuple(uint8_t(7), uint8_t(5), true));
            }
            for (void *x : {o, d}) Destroy(x);
        }
        ExpectNoLeak();
    });
}

// A negative variant sends the header alone; the domain's variant bounds marshal, not the clone writer.
TEST_P(Binary, VariantsOutsideTheBody) {
    void *o = Make(), *d = Make();
    Variant(o) = -1;
    Buf b = Encode(o);
    EXPECT_EQ(ty.Len(h, db, o), 6u);
    ASSERT_EQ(b, (Buf{0xFF, 0, 0, 0, 0, 4}));
    EXPECT_EQ(Decode(b, d), 6u);
    EXPECT_EQ(Variant(d), -1);
    Variant(o) = Variant(d) = 0;
    qelrt_set_domain_variant(-1);
    EXPECT_EQ(ty.Marshal(h, db, buf.data(), o, kBig, &err), 6u);
    EXPECT_EQ(std::make_pair(Err(), buf[0]), std::make_pair(43u, uint8_t(0xFF)));
    EXPECT_EQ(ty.Marshal(h, db, buf.data(), o, kBig, &err, "marshal_for_clone"), T().enc_fixed);
    EXPECT_EQ(buf[0], 0);
    qelrt_set_domain_variant(0);
}

// A tracking handle sends an untracked object's state bytes as zeros; its reader takes the values.
TEST_P(Binary, ReaderOfTheOtherMode) {
    Plain();
    void *o = Fill(9, Elems());
    Track();
    const Buf b = Encode(o);
    void *d = Create();
    EXPECT_EQ(Decode(b, d), b.size());
    EXPECT_EQ(ty.Compare(o, d), 0);
    EXPECT_EQ(Encode(d), b);
    std::string x(1 << 16, '\0');
    x.resize(Op<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>("to_xml")(h, db, "x", x.data(), o,
                                                                                     U(x.size()), 0, &err));
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(x.find("state=\"1"), std::string::npos) << x;
    for (void *p : {o, d}) Destroy(p);
    ExpectNoLeak();
}

// With ra-data: no room is written past; short rooms give 90 or (tracking) lose trailing state bytes only.
TEST_P(Binary, EveryRoomWithRaData) {
    Modes([&](bool track) {
        void *o = Fill(15, Elems());
        void *first = ty.List() ? ty.Elements(o).at(0) : ty.Array() ? ty.Block(o) : nullptr;
        for (void *x : {o, first}) if (x) Flags(x) |= QEL_OF_RA_DATA;
        const Buf whole = Encode(o);
        EXPECT_EQ(whole[1] & QEL_OF_RA_DATA, QEL_OF_RA_DATA);
        EXPECT_GE(ty.Len(h, db, o), whole.size());
        // At the exact length a tracked list owner leaves out its list's state byte (two bytes of room).
        const U least = U(whole.size()) + (track && ty.List() ? 1 : 0);
        for (U room = 0; room < whole.size() + 2 * T().enc_state + 40; ++room) {
            Buf b(room + 8, 0xCC);
            const U n = ty.Marshal(h, db, b.data(), o, room, &err), e = Err();
            ASSERT_TRUE(std::all_of(b.begin() + room, b.end(), [](uint8_t c) { return c == 0xCC; })) << room;
            if (room >= least) {
                ASSERT_EQ(std::make_tuple(e, n, Buf(b.begin(), b.begin() + n)), std::make_tuple(0u, U(whole.size()), whole)) << room;
            } else if (e || !track) {
                ASSERT_EQ(e, 90u) << room;
            } else {
                ASSERT_GE(n, 6u);
                if (ty.List() && room == whole.size()) { EXPECT_EQ(n, room - 1) << "the list's byte needs two bytes of room"; }
                EXPECT_EQ(Be32(&b[11]), Be32(&whole[11]) - (whole.size() - n)) << room;  // the jump behind the ra-data block
                void *d = Create();
                EXPECT_EQ(Decode(b, d, 0, n), n) << room;
                EXPECT_EQ(ty.Compare(o, d), 0) << room;
                Destroy(d);
            }
        }
        void *d = Create();
        EXPECT_EQ(Decode(whole, d), whole.size());
        EXPECT_EQ(std::make_pair(Err(), ty.Compare(o, d)), std::make_pair(0u, 0));
        for (void *x : {o, first}) if (x) Flags(x) &= ~QEL_OF_RA_DATA;
        for (void *x : {o, d}) Destroy(x);
    });
}

INSTANTIATE_TEST_SUITE_P(Types, Binary, ::testing::ValuesIn(AllTypes()), ParamName());

// ---- lists and arrays ----------------------------------------------------------------

// In place: the same length keeps the elements, allocating nothing; another length replaces them.
TEST_P(BinaryOwner, InPlaceUpdates) {
    Modes([&](bool) {
        void *a = Fill(20, 3), *b = Fill(21, 3), *five = Fill(22, 5), *none = Create(), *d = Create();
        ASSERT_EQ(Decode(Encode(a), d), Encode(a).size());
        auto storage = [&] { return ty.List() ? ty.Elements(d) : std::vector<void *>{ty.Block(d)}; };
        const auto kept = storage();
        const uint64_t allocs = qelrt_alloc_count();
        const Buf eb = Encode(b);
        ASSERT_EQ(Decode(eb, d, 1), eb.size());
        EXPECT_EQ(std::make_tuple(Err(), storage(), qelrt_alloc_count(), ty.Compare(d, b)), std::make_tuple(0u, kept, allocs, 0));
        if (ty.Array()) {
            const Buf ea = Encode(a);
            qelrt_set_domain_variant_error(5);
            Decode(ea, d, 1);
            qelrt_set_domain_variant_error(0);
            EXPECT_EQ(std::make_tuple(Err(), ty.Block(d), ty.Count(d)), std::make_tuple(5u, (uint8_t *)nullptr, 0u));
        }
        for (void *src : {five, none}) {
            const Buf e = Encode(src);
            ASSERT_EQ(Decode(e, d, 1), e.size());
            EXPECT_EQ(std::make_pair(ty.Count(d), ty.Compare(d, src)), std::make_pair(src == five ? 5u : 0u, 0));
        }
        if (ty.Array()) { EXPECT_EQ(ty.Block(d), nullptr); }
        ASSERT_EQ(Decode(Encode(five), d, 1), Encode(five).size());
        Variant(none) = -1;
        ASSERT_EQ(Decode(Encode(none), d, 1), 6u);
        EXPECT_EQ(std::make_pair(Variant(d), ty.Count(d)), std::make_pair(int8_t(-1), 0u));
        Variant(d) = Variant(none) = 0;
        for (void *o : {a, b, five, none, d}) Destroy(o);
        ExpectNoLeak();
    });
}

// A count the bytes cannot hold is refused before allocating; a broken element leaves the owner destroyable.
TEST_P(BinaryOwner, HostileCountsAllocateNothingBadElementLeavesOwnerDestroyable) {
    Modes([&](bool track) {
        void *d = Create();
        Buf b = Encode(d);
        // With no elements the count is the last field, before the list's state byte.
        const U at = U(b.size()) - 4 - (ty.List() && track ? 1 : 0);
        ASSERT_EQ(Be32(&b[at]), 0u);
        for (U count : {0x7fffffffu, 0xffffffffu, 1u}) {
            PutBe32(&b[at], count);
            const uint64_t allocs = qelrt_alloc_count();
            EXPECT_EQ(Decode(b, d), 0u) << count;
            EXPECT_EQ(std::make_tuple(Err(), qelrt_alloc_count(), ty.Count(d)), std::make_tuple(90u, allocs, 0u)) << count;
        }
        void *o = Fill(40, 3);
        b = Encode(o);
        Destroy(o);
        const U elen = ElemLen(track), tail = track ? (ty.List() ? 1 : 4) : 0;  // list byte; array byte and element bytes
        const U third = U(b.size()) - tail - elen;
        ASSERT_EQ(Be32(&b[third + 2]), elen - 2);
        const Buf good = b;
        PutBe32(&b[third + 2], 0);
        EXPECT_EQ(Decode(b, d), 0u);
        EXPECT_EQ(Err(), 90u);
        if (ty.Array()) { EXPECT_EQ(std::make_pair(ty.Count(d), ty.Block(d)), std::make_pair(0u, (uint8_t *)nullptr)); }
        if (ty.List()) {
            Destroy(d);
            d = Create();
            ASSERT_EQ(Decode(good, d), good.size());
            qelrt_trace_clear();
            EXPECT_EQ(Decode(b, d, 1), 0u);
            EXPECT_EQ(Err(), 90u);
            const std::string text = std::string("Error ") + std::strerror(90) + " while unmarshalling list element";
            EXPECT_EQ(std::make_pair(Traced(text.c_str()), ty.Count(d)), std::make_pair(1u, 3u)) << text;
        }
        Destroy(d);
        ExpectNoLeak();
    });
}

INSTANTIATE_TEST_SUITE_P(Types, BinaryOwner,
                         ::testing::ValuesIn(TypesWhere([](const TypeDesc &t) { return IsListOwner(t) || IsArrayOwner(t); })),
                         ParamName());

// ---- clones ---------------------------------------------------------------------------

using Clone = CodecTest;

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
        ty.Clone(h, db, src, &slot, buf.data(), kBig, &err, "clone_internal");
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

// ---- order and hash ---------------------------------------------------------------------

int Sign(int32_t v) { return (v > 0) - (v < 0); }

class Compare : public TypeTest {
protected:
    int32_t Cmp(const void *a, const void *b) const { return ty.Compare(a, b); }
    std::pair<int32_t, int32_t> Both(const void *a, const void *b) const { return {Cmp(a, b), Cmp(b, a)}; }
    void *Fill(uint32_t seed, U elems) { return made_.emplace_back(Filler(seed).Make(h, db, T(), elems)); }
    static U Top(const FieldDesc &f) { return f.kind == Kind::Enum ? f.en->bound - 1 : ~0u >> (32 - 8 * Width(f.kind)); }
};

// Numbers give -1/1, enumerations their difference; fields decide in declaration order; missing first.
TEST_P(Compare, FieldResultsAndOrder) {
    EXPECT_EQ(std::make_tuple(Cmp(nullptr, Make()), Cmp(Make(), nullptr), Cmp(nullptr, nullptr), ty.Hash(nullptr, 7)), std::make_tuple(-1, 1, 0, 7u));
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &fi = T().fields[i];
        if (!Valued(fi)) continue;
        void *a = Make(), *b = Make();
        Set(a, fi, Top(fi));
        const int32_t want = fi.kind == Kind::Enum ? int32_t(Top(fi)) : 1;
        EXPECT_EQ(Both(a, b), std::make_pair(want, -want)) << fi.name;
        Set(a, fi, 1);
        for (unsigned j = i + 1; j < T().nfields; ++j) {
            const FieldDesc &fj = T().fields[j];
            if (!Valued(fj)) continue;
            Set(b, fj, 1);
            EXPECT_EQ(std::make_pair(Sign(Cmp(a, b)), Sign(Cmp(b, a))), std::make_pair(1, -1)) << fi.name << " before " << fj.name;
            EXPECT_NE(ty.Hash(a, 3), ty.Hash(b, 3)) << fi.name << " / " << fj.name;
            Set(b, fj, 0);
        }
        EXPECT_EQ(Err(), 0u);
    }
}

// All 31 characters of a fixed string count, past a terminator too; the 32nd does not.
TEST_P(Compare, FixedStringsOverThirtyOneBytes) {
    for (unsigned k = 0; k < T().nfields; ++k) {
        if (T().fields[k].kind != Kind::Str) continue;
        void *a = Make(), *b = Make();
        uint8_t *ka = Bytes(a, T().fields[k].offset), *kb = Bytes(b, T().fields[k].offset);
        for (unsigned at : {30u, 6u, 31u}) {  // 6: behind a terminator; 31: the terminator's place
            ka[at] = 'q';
            EXPECT_EQ(std::make_tuple(Cmp(a, b), Sign(Cmp(a, b)), ty.Hash(a, 1) == ty.Hash(b, 1)),
                      std::make_tuple(std::memcmp(ka, kb, 31), at < 31 ? 1 : 0, at == 31)) << at;
            ka[at] = 0;
        }
    }
}

// Length first, then every element; a missing block orders first, a stale one with no count is ignored.
TEST_P(Compare, ListsAndArrays) {
    if (!ty.Owned()) GTEST_SKIP() << "no elements";
    void *a = Fill(3, 3), *b = Fill(3, 2), *c = Fill(3, 3);  // same seed: equal up to the elements
    ASSERT_EQ(Cmp(a, c), 0);
    Ty e{*ty.Owned()->elem};
    const FieldDesc &f0 = e.t.fields[0];
    e.SetValue(h, db, ty.List() ? ty.Elements(b)[0] : ty.Block(b), f0, Top(f0), &err);
    EXPECT_EQ(Both(a, b), std::make_pair(1, -1));
    void *last = ty.List() ? ty.Elements(c).back() : ty.Block(c) + 2 * e.t.plain_size;
    const U was = Raw(last, f0);
    e.SetValue(h, db, last, f0, was + 1, &err);
    EXPECT_NE(Cmp(a, c), 0);
    EXPECT_NE(ty.Hash(a, 4), ty.Hash(c, 4));
    e.SetValue(h, db, last, f0, was, &err);
    EXPECT_EQ(Err(), 0u);
    if (!ty.Array()) return;
    uint8_t *kept = std::exchange(ty.Block(c), nullptr);
    EXPECT_EQ(Both(a, c), std::make_pair(1, -1));
    uint8_t *kept_a = std::exchange(ty.Block(a), nullptr);  // both lacking: equal
    EXPECT_EQ(Cmp(a, c), 0);
    ty.Block(a) = kept_a;
    ty.Block(c) = kept;
    const U na = std::exchange(ty.PairCount(a), 0), nc = std::exchange(ty.PairCount(c), 0);
    e.SetValue(h, db, kept, f0, Raw(ty.Block(a), f0) + 1, &err);
    EXPECT_EQ(Cmp(a, c), 0);
    kept = std::exchange(ty.Block(a), nullptr);
    EXPECT_EQ(Both(a, c), std::make_pair(0, 0));
    ty.Block(a) = kept;
    ty.PairCount(a) = na;
    ty.PairCount(c) = nc;
}

INSTANTIATE_TEST_SUITE_P(Types, Compare, ::testing::ValuesIn(AllTypes()), ParamName());

// ---- handle and object mismatches ----------------------------------------------------

using BinaryDeathTest = Lomari;

TEST_F(BinaryDeathTest, HandleMismatch) {
    Ty t{kTypes[2]};
    void *o = t.Create(h, db);
    uint8_t b[64];
    const U n = t.Marshal(h, db, b, o, sizeof b, &err);
    Track();
    EXPECT_DEATH(t.Unmarshal(h, db, b, o, n, 0, &err), "QEL handle and object state tracking mis-match");
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(t.Marshal(h, db, b, o, sizeof b, &err), "Corrupted QEL Handle");
    EXPECT_DEATH(t.Unmarshal(h, db, b, o, sizeof b, 0, &err), "Corrupted QEL Handle");
    Plain();
    t.Destroy(h, db, o);
}

// ---- enumerations -----------------------------------------------------------------

class BinaryEnum : public Lomari, public ::testing::WithParamInterface<const EnumDesc *> {};

// Five bytes, a higher variant capped, under five: 90; order by value difference, hash without header.
TEST_P(BinaryEnum, FiveBytesAndBackCompareAndHash) {
    const char *name = GetParam()->name;
    auto marshal = Api<U(H, U, uint8_t *, const void *, U, U *)>(name, "marshal");
    auto unmarshal = Api<U(H, U, const uint8_t *, void *, U, U, U *)>(name, "unmarshal");
    auto cmp = Api<int32_t(const void *, const void *)>(name, "compare");
    auto hash = Api<U(const void *, U)>(name, "hash");
    void *o = Api<void *(H, U)>(name, "create")(h, db), *d = Api<void *(H, U)>(name, "create")(h, db);
    const uint32_t v = GetParam()->bound, one = 1;
    std::memcpy(Bytes(o, 12), &v, 4);
    Buf b(8, 0xCC);
    EXPECT_EQ(Api<U(H, U, const void *)>(name, "len")(h, db, o), 5u);
    ASSERT_EQ(marshal(h, db, b.data(), o, 8, &err), 5u);
    EXPECT_EQ(b, (Buf{0, 0, 0, 0, uint8_t(v), 0xCC, 0xCC, 0xCC}));
    b[0] = 3;
    qelrt_calls_log(1);
    EXPECT_EQ(unmarshal(h, db, b.data(), d, 5, 0, &err), 5u);
    qelrt_calls_log(0);
    EXPECT_EQ(std::make_tuple(Err(), cmp(o, d), Variant(d)), std::make_tuple(0u, 0, int8_t(0)));
    bool announced = false;
    for (uint32_t i = 0; i < qelrt_write_count(); ++i)
        announced |= qelrt_write_at(i)->addr == Bytes(d, 12) && qelrt_write_at(i)->len == 4;
    EXPECT_TRUE(announced);
    for (U n = 0; n < 5; ++n) {
        EXPECT_EQ(unmarshal(h, db, b.data(), o, n, 0, &err), 0u);
        EXPECT_EQ(Err(), 90u) << n;
        marshal(h, db, b.data(), o, n, &err);
        EXPECT_EQ(Err(), 90u) << n;
    }
    std::memcpy(Bytes(d, 12), &one, 4);
    Bytes(d)[8] = 5;
    EXPECT_EQ(std::make_pair(cmp(o, d), cmp(d, o)), std::make_pair(int32_t(v - 1), 1 - int32_t(v)));
    EXPECT_EQ(std::make_tuple(cmp(nullptr, o), cmp(o, nullptr), cmp(nullptr, nullptr)), std::make_tuple(-1, 1, 0));
    EXPECT_EQ(hash(nullptr, 7), 7u);
    EXPECT_NE(hash(o, 7), hash(d, 7));
    std::memcpy(Bytes(d, 12), &v, 4);
    EXPECT_EQ(hash(o, 7), hash(d, 7));
    Bytes(d)[8] = 0;
    for (void *x : {o, d}) Api<void(H, U, void *)>(name, "destroy")(h, db, x);
}

INSTANTIATE_TEST_SUITE_P(Enums, BinaryEnum, ::testing::ValuesIn(Each(kEnums)), ParamName());

}  // namespace
