// Field access and state tracking over every field of every type: setters, ranges, fixed
// strings, what each mode refuses, get/set all, the whole-object set and the state reset.
#include "fixture.h"

namespace {

using namespace lt;

bool Stated(const FieldDesc &f) { return Valued(f) || f.kind == Kind::Str || f.kind == Kind::List; }
using StrSet = void(H, U, void *, const char *, U, U *);
using StrGet = void(H, U, void *, char *, U, U *);
using ObjSet = void(H, U, void *, const void *, U *);

class Fields : public TypeTest {
protected:
    // Writes a field: a number, or a short text for the fixed string.
    void Write(void *o, const FieldDesc &f) {
        if (f.kind == Kind::Str)
            ty.FOp<StrSet>(f, "set")(h, db, o, "key", 3, &err);
        else
            Set(o, f, Sample(f));
    }
    // get_all / set_all: one argument per covered field.
    template <class A, size_t... I>
    void CallN(const char *op, void *o, const std::vector<A> &a, U *e, std::index_sequence<I...>) {
        Op<void(H, U, void *, decltype((void)I, A())..., U *)>(op)(h, db, o, a[I]..., e);
    }
    template <class A, size_t... N>
    void CallUpTo(const char *op, void *o, const std::vector<A> &a, U *e, std::index_sequence<N...>) {
        ((a.size() == N ? CallN(op, o, a, e, std::make_index_sequence<N>{}) : void()), ...);
    }
    template <class A>
    void CallAll(const char *op, void *o, const std::vector<A> &a, U *e = nullptr) {
        CallUpTo(op, o, a, e ? e : &err, std::make_index_sequence<9>{});
    }
    std::vector<uint8_t> Snap(void *o, U n) { return {Bytes(o), Bytes(o) + n}; }
};

// Setters write their bytes and state byte only; enumeration bounds; fixed strings of 31, NULs, short buffers.
TEST_P(Fields, SettersWriteTheirBytesAndMarkTheirStateByte) {
    Track();
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (!Valued(f) && f.kind != Kind::Str) continue;
        SCOPED_TRACE(f.name);
        void *o = Make();
        for (unsigned j = 0; j < T().nfields; ++j)  // neighbours hold values, so that too wide a write shows
            if (j != i && Valued(T().fields[j])) Set(o, T().fields[j], Sample(T().fields[j]));
        const std::vector<uint8_t> before = Snap(o, T().tracked_size);
        EXPECT_EQ(StateGet(o, f), 0);
        Write(o, f);
        ASSERT_EQ(err, 0u);
        const uint32_t lo = f.offset + (f.kind == Kind::Enum ? 12 : 0), hi = lo + (f.kind == Kind::Str ? 32 : Width(f.kind));
        for (uint32_t b = 0; b < T().tracked_size; ++b)
            if ((b < lo || b >= hi) && b != T().plain_size + f.state_idx) { EXPECT_EQ(Bytes(o)[b], before[b]) << "byte " << b; }
        EXPECT_EQ(std::make_pair(StateGet(o, f), StateByte(o, f)), std::make_pair(uint8_t(2), uint8_t(2)));
        if (f.kind == Kind::Str) {
            auto set = ty.FOp<StrSet>(f, "set");
            auto get = ty.FOp<StrGet>(f, "get");
            const std::string s31(31, 'k'), s32(32, 'x');
            char buf[40];
            set(h, db, o, s31.c_str(), 31, &err);
            get(h, db, o, buf, 32, &err);
            EXPECT_EQ(std::make_pair(Err(), std::string(buf)), std::make_pair(0u, s31));
            set(h, db, o, s32.c_str(), 32, &err);
            EXPECT_EQ(Err(), 22u);
            for (U size : {28u, 31u}) {  // a truncated copy of the unchanged text
                std::memset(buf, '#', sizeof buf);
                get(h, db, o, buf, size, &err);
                EXPECT_EQ(std::make_tuple(Err(), std::string(buf), buf[size]), std::make_tuple(28u, s31.substr(0, size - 1), '#'));
            }
            get(h, db, o, buf, 0, &err);
            EXPECT_EQ(Err(), 22u);
            set(h, db, o, "ab\0cd", 5, &err);  // a NUL ends the text and clears the rest
            EXPECT_EQ(std::string(reinterpret_cast<char *>(Bytes(o, f.offset)), 6), std::string("ab\0\0\0\0", 6));
            get(h, db, o, buf, 8, &err);  // a small buffer is reported even when the text fits
            EXPECT_EQ(std::make_pair(Err(), std::string(buf)), std::make_pair(28u, std::string("ab")));
            set(h, db, o, nullptr, 0, &err);  // no text: empty
            EXPECT_EQ(std::make_pair(Err(), *Bytes(o, f.offset)), std::make_pair(0u, uint8_t(0)));
            continue;
        }
        EXPECT_EQ(Get(o, f), Sample(f));
        StateSet(o, f, 0);
        alignas(8) uint8_t src[16] = {};  // a scalar object, or an enumeration instance
        if (f.kind == Kind::Enum) std::memcpy(src, Bytes(o, f.offset), 16);
        const uint32_t v = Sample(f) - 1;
        std::memcpy(src + (f.kind == Kind::Enum ? 12 : 0), &v, Width(f.kind));
        ty.FOp<ObjSet>(f, "set")(h, db, o, src, &err);
        EXPECT_EQ(std::make_pair(Raw(o, f), StateByte(o, f)), std::make_pair(v, uint8_t(2)));
        if (f.kind != Kind::Enum) continue;
        StateSet(o, f, 0);
        Set(o, f, f.en->bound);
        EXPECT_EQ(std::make_tuple(Err(), Raw(o, f), StateByte(o, f)), std::make_tuple(43u, v, uint8_t(2))) << "marked although refused";
        std::memcpy(src + 12, &f.en->bound, 4);  // the same value as an instance
        ty.FOp<ObjSet>(f, "set")(h, db, o, src, &err);
        EXPECT_EQ(std::make_pair(Err(), Raw(o, f)), std::make_pair(43u, v));
        qelrt_force_instance_variant(1, 1);  // variant 1 admits values past the names
        Set(o, f, f.en->bound);
        qelrt_force_instance_variant(0, 0);
        EXPECT_EQ(std::make_pair(Err(), Raw(o, f)), std::make_pair(0u, f.en->bound));
    }
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

// Plain mode refuses state bytes quietly, tracking refuses untracked objects aloud; the reset; a bad mode is fatal.
TEST_P(Fields, ModesAndTrackingDecideWhatIsRefused) {
    Plain();
    void *o = Make();
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (!Stated(f)) continue;
        SCOPED_TRACE(f.name);
        Plain();
        qelrt_trace_clear();
        if (f.kind != Kind::List) Write(o, f);
        const U e0 = Err();
        StateGet(o, f);
        const U e1 = Err();
        StateSet(o, f, 2);
        EXPECT_EQ(std::make_tuple(e0, e1, Err(), qelrt_trace_count()), std::make_tuple(0u, 22u, 22u, 0u));
        Track();
        if (f.kind != Kind::List) {
            Write(o, f);
            EXPECT_EQ(std::make_pair(Err(), Traced("The object is not state tracked")), std::make_pair(22u, 1u));
        }
        StateGet(o, f);
        EXPECT_EQ(std::make_pair(Err(), Traced("The object is non state tracked")), std::make_pair(22u, 1u));
    }
    void *t = Make();
    auto reset = Op<void(H, U, void *, U)>("set_all_state_tracking_flag");
    reset(h, db, t, 0x102);
    for (unsigned i = 0; i < T().nfields; ++i)
        if (T().fields[i].state_idx != lomari::kNoState) { EXPECT_EQ(StateByte(t, T().fields[i]), 2) << T().fields[i].name; }
    const std::vector<uint8_t> was_t = Snap(t, T().tracked_size), was_o = Snap(o, T().plain_size);
    reset(h, db, nullptr, 0x107);
    reset(h, db, o, 0x107);
    for (U mode : {U(QEL_CHECK_PLAIN), 0u}) {
        qelrt_handle_set_mode(h, mode);
        reset(h, db, t, 0x107);
    }
    EXPECT_EQ(std::make_pair(Snap(t, T().tracked_size), Snap(o, T().plain_size)), std::make_pair(was_t, was_o));
    EXPECT_EQ(StateGet(t, T().fields[0]), 2);  // mode 0: no check record
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(Write(t, T().fields[0]), "Corrupted QEL Handle");
    EXPECT_DEATH(StateGet(t, T().fields[0]), "Corrupted QEL Handle");
    Track();
}

TEST_P(Fields, RefusalsOfEveryAccessor) {
    Track();
    void *o = Make(), *other = Make();
    const U size = T().tracked_size;
    alignas(8) uint8_t src[16] = {};  // a scalar object, or an enumeration instance
    char text[32] = "k";
    uint64_t words[9] = {};
    std::vector<void *> outs;
    std::vector<U> vals;
    std::vector<Refusal> calls;
    auto add = [&](std::string what, void *subject, U n, std::function<void(void *, U *)> run, U on_null, bool variant = true) { calls.push_back({std::move(what), subject, n, std::move(run), on_null, variant}); };
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc *f = &T().fields[i];
        const std::string n = f->name;
        if (Valued(*f) || f->kind == Kind::PairCount) {
            outs.push_back(&words[outs.size()]);
            auto get = ty.FOp<void *(H, U, void *, U *)>(*f, "get");
            add(n + " get", o, size, [&, get](void *s, U *e) { get(h, db, s, e); }, 43);
            add(n + " get_value", o, size, [&, f](void *s, U *e) { ty.Get(h, db, s, *f, e); }, 43);
        }
        if (Valued(*f)) {
            vals.push_back(0);
            auto set = ty.FOp<ObjSet>(*f, "set");
            add(n + " set", o, size, [&, set](void *s, U *e) { set(h, db, s, src, e); }, 43);
            add(n + " set from", src, 16, [&, set](void *s, U *e) { set(h, db, o, s, e); }, 22);
            add(n + " set_value", o, size, [&, f](void *s, U *e) { ty.SetValue(h, db, s, *f, 1, e); }, 43);
        }
        if (f->kind == Kind::Str) {
            auto get = ty.FOp<StrGet>(*f, "get");
            auto set_cr = ty.FOp<U(H, void *, const char *, U)>(*f, "set_cr");
            add(n + " get", o, size, [&, get](void *s, U *e) { get(h, db, s, text, 32, e); }, 43);
            add(n + " get into", text, 32, [&, get](void *s, U *e) { get(h, db, o, static_cast<char *>(s), 32, e); }, 22);
            add(n + " set", o, size, [&, f](void *s, U *e) { ty.StrSet(h, db, s, *f, "k", 1, e); }, 43);
            add(n + " set from", text, 32, [&, f](void *s, U *e) { ty.StrSet(h, db, o, *f, static_cast<char *>(s), 1, e); }, 22);
            add(n + " set_cr", o, size, Chained([&, set_cr](void *s) { set_cr(h, s, "k", 1); }), 43);
        }
        if (Stated(*f)) {
            add(n + " state get", o, size, [&, f](void *s, U *e) { ty.StateGet(h, db, s, *f, e); }, 22, false);
            add(n + " state set", o, size, [&, f](void *s, U *e) { ty.StateSet(h, db, s, *f, 2, e); }, 22);
        }
    }
    add("get_all", o, size, [&](void *s, U *e) { CallAll("get_all", s, outs, e); }, 43);
    add("set_all", o, size, [&](void *s, U *e) { CallAll("set_all", s, vals, e); }, 43);
    add("set", o, size, [&](void *s, U *e) { ty.Set(h, db, s, other, e); }, 22, false);
    add("set from", other, size, [&](void *s, U *e) { ty.Set(h, db, o, s, e); }, 22, false);
    auto init = Op<void(H, U, void *, qel_type_info_t *, U, U, uint8_t, uint8_t *, U *)>("initialize");
    add("initialize", o, size, [&](void *s, U *e) { init(h, db, s, Tinfo(o), 1, 0, 0, nullptr, e); }, 0, false);
    ExpectRefusals(calls);
}

// Results fill their field's width only, pointers land on their field; set_all marks nothing, stops at a refused
// enumeration; validity answers by member index.
TEST_P(Fields, SetAllAndGetAllAtEachFieldsWidth) {
    Track();
    void *o = Make();
    std::vector<uint32_t> vals, bad;
    std::vector<uint64_t> outs;  // each 8 bytes wide
    std::vector<void *> ptrs;
    int first_enum = -1;
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (f.kind == Kind::Enum && first_enum < 0) first_enum = int(i);
        if (Valued(f)) vals.push_back(Sample(f)), bad.push_back(f.kind == Kind::Enum ? f.en->bound : Sample(f));
        if (Valued(f) || f.kind == Kind::PairCount) outs.push_back(~0ull);
    }
    for (auto &x : outs) ptrs.push_back(&x);
    CallAll("set_all", o, vals);
    CallAll("get_all", o, ptrs);
    for (unsigned i = 0, k = 0, v = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (!Valued(f) && f.kind != Kind::PairCount) continue;
        const uint64_t w = f.kind == Kind::PairCount ? 4 : Width(f.kind), want = f.kind == Kind::PairCount ? 0 : vals[v++];
        EXPECT_EQ(outs[k++], want | (~0ull << (8 * w))) << f.name;
        if (f.kind == Kind::PairCount) continue;
        EXPECT_EQ(std::make_pair(StateByte(o, f), ty.FOp<void *(H, U, void *, U *)>(f, "get")(h, db, o, &err)), std::make_pair(uint8_t(0), (void *)Bytes(o, f.offset)));
    }
    ASSERT_EQ(err, 0u);
    ptrs[0] = nullptr;
    std::fill(outs.begin(), outs.end(), ~0ull);
    CallAll("get_all", o, ptrs);
    EXPECT_EQ(outs[0], ~0ull);
    if (outs.size() > 1) { EXPECT_NE(outs[1], ~0ull); }
    auto valid = Op<int(H, void *, U, U)>("is_valid_cr");
    for (U flags : {0u, 1u})
        EXPECT_EQ(std::make_tuple(valid(h, o, 0, flags), valid(h, o, T().member_bound - 1, flags), valid(h, o, T().member_bound, flags)), std::make_tuple(1, 1, 0));
    if (first_enum < 0) return;
    void *fresh = Make();
    CallAll("set_all", fresh, bad);
    EXPECT_EQ(Err(), 43u);
    for (unsigned i = 0; i < T().nfields; ++i)
        if (Valued(T().fields[i])) { EXPECT_EQ(Raw(fresh, T().fields[i]), int(i) < first_enum ? Sample(T().fields[i]) : 0u); }
}

// Another variant: 43; a runtime-placed destination keeps its place; self-sets, clean-ups inert; untracked source: 22.
TEST_P(Fields, WholeObjectSet) {
    Track();
    void *src = Make(), *dst = Make();
    for (unsigned i = 0; i < T().nfields; ++i)
        if (T().fields[i].kind != Kind::List && Stated(T().fields[i])) Write(src, T().fields[i]);
    const std::vector<uint8_t> dst0 = Snap(dst, T().tracked_size);
    for (int c = 0; c < 2; ++c) {
        Bytes(src)[8 + c] = 1;
        ty.Set(h, db, dst, src, &err);
        EXPECT_EQ(std::make_pair(Err(), Snap(dst, T().tracked_size)), std::make_pair(43u, dst0));
        Bytes(src)[8 + c] = 0;
    }
    Flags(dst) |= QEL_OF_STTR_RT;
    uint8_t place[16] = {};
    qelrt_set_sttr_place(place);  // where the destination's state area now is
    ty.Set(h, db, dst, src, &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(Flags(dst), QEL_OF_TRACKED | QEL_OF_STTR_RT) << "keeps its own placement";
    for (uint32_t b = 0; b < T().plain_size; ++b) {
        const bool anchor = IsListOwner(T()) && b >= T().anchor_off && b < T().anchor_off + 24u;
        if (b != 10 && !anchor) { EXPECT_EQ(Bytes(dst)[b], Bytes(src)[b]) << "byte " << b; }
    }
    EXPECT_TRUE(std::equal(place, place + T().state_size, Bytes(src, T().plain_size)));
    Flags(dst) &= ~QEL_OF_STTR_RT;
    qelrt_set_sttr_place(nullptr);
    const auto was = std::make_pair(Snap(src, T().tracked_size), Snap(dst, T().tracked_size));
    ty.Set(h, db, dst, dst, &err);
    auto cleanup = Op<void(H, U, void *, void *)>("post_copyout_cleanup");
    for (auto [d, s] : {std::pair<void *, void *>{nullptr, src}, {dst, nullptr}, {dst, dst}, {dst, ty.Owned() ? dst : src}})
        cleanup(h, db, d, s);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(std::make_pair(Snap(src, T().tracked_size), Snap(dst, T().tracked_size)), was);
    Plain();
    void *plain_src = Make();
    Track();
    ty.Set(h, db, dst, plain_src, &err);
    EXPECT_EQ(std::make_tuple(Err(), Traced("The object is not state tracked"), Flags(dst) & QEL_OF_TRACKED), std::make_tuple(22u, 1u, 0));
}

INSTANTIATE_TEST_SUITE_P(Types, Fields, ::testing::ValuesIn(AllTypes()), ParamName());

}  // namespace
