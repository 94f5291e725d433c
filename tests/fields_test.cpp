// Field access and state tracking over every field of every type: each
// setter writes its own bytes and marks its own state byte, what each
// handle mode refuses, the enumeration range check, the fixed string,
// get all / set all, the whole-object set and the state reset.
#include "objects_support.h"

namespace {

using namespace lt;

bool Stated(const FieldDesc &f) { return Valued(f) || f.kind == Kind::Str || f.kind == Kind::List; }

using Fields = TypeTest;

TEST_P(Fields, SettersWriteTheirBytesAndMarkTheirStateByte) {
    Track();
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (!Valued(f) && f.kind != Kind::Str) continue;
        SCOPED_TRACE(f.name);
        void *o = Make();
        EXPECT_EQ(StateGet(o, f), 0);
        const std::vector<uint8_t> before(Bytes(o), Bytes(o) + T().tracked_size);
        if (f.kind == Kind::Str || f.kind == Kind::Enum)
            Write(o, f);
        else
            Set(o, f, 0xDEADBEEF);  // narrow fields keep the low bits
        ASSERT_EQ(err, 0u);
        const uint32_t lo = f.offset + (f.kind == Kind::Enum ? 12 : 0);
        const uint32_t hi = f.kind == Kind::Str ? lo + 32 : lo + Width(f.kind);
        for (uint32_t b = 0; b < T().tracked_size; ++b)
            if ((b < lo || b >= hi) && b != T().plain_size + f.state_idx) {
                EXPECT_EQ(Bytes(o)[b], before[b]) << "byte " << b;
            }
        EXPECT_EQ(StateGet(o, f), 2);
        EXPECT_EQ(StateByte(o, f), 2);
        if (f.kind == Kind::Str) continue;
        EXPECT_EQ(Get(o, f), Sample(f));

        StateSet(o, f, 0);
        alignas(8) uint8_t src[16] = {};  // a scalar object, or an enumeration instance
        if (f.kind == Kind::Enum) std::memcpy(src, Bytes(o, f.offset), 16);
        const uint32_t v = Sample(f) - 1;
        std::memcpy(src + (f.kind == Kind::Enum ? 12 : 0), &v, Width(f.kind));
        SetFrom(o, f, src);
        EXPECT_EQ(Raw(o, f), v);
        EXPECT_EQ(StateByte(o, f), 2);
    }
}

TEST_P(Fields, ModesAndTrackingDecideWhatIsRefused) {
    Plain();
    void *o = Make();
    for (unsigned i = 0; i < T().nfields; ++i) {  // 0xDDDD: values yes, state bytes no
        const FieldDesc &f = T().fields[i];
        if (!Stated(f)) continue;
        if (f.kind != Kind::List) Write(o, f);
        EXPECT_EQ(err, 0u) << f.name;
        StateGet(o, f);
        EXPECT_EQ(err, 22u);
        err = 0;
        StateSet(o, f, 2);
        EXPECT_EQ(err, 22u);
        err = 0;
    }
    EXPECT_EQ(qelrt_trace_count(), 0u);

    Track();  // the same untracked instance on a tracking handle
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (!Stated(f)) continue;
        qelrt_trace_clear();
        if (f.kind != Kind::List) {
            Write(o, f);
            EXPECT_EQ(err, 22u) << f.name;
            EXPECT_EQ(Traced("The object is not state tracked"), 1u);
        }
        err = 0;
        StateGet(o, f);
        EXPECT_EQ(err, 22u);
        EXPECT_EQ(Traced("The object is non state tracked"), 1u);
        err = 0;
    }

    void *t = Make();  // a tracked instance read without a check record
    const FieldDesc &f0 = T().fields[0];
    Write(t, f0);
    qelrt_handle_set_mode(h, 0);
    EXPECT_EQ(StateGet(t, f0), 2);
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(Write(t, f0), "Corrupted QEL Handle");
    EXPECT_DEATH(StateGet(t, f0), "Corrupted QEL Handle");
    Track();
}

TEST_P(Fields, ErrorOnEntryOrNegativeVariantChangeNothing) {
    Track();
    void *o = Make();
    qelrt_calls_log(1);
    for (uint32_t pending : {22u, 0u}) {
        qelrt_force_instance_variant(pending == 0, -1);
        for (unsigned i = 0; i < T().nfields; ++i) {
            const FieldDesc &f = T().fields[i];
            if (!Valued(f)) continue;
            err = pending;
            Set(o, f, Sample(f));
            EXPECT_EQ(err, pending ? pending : 43u) << f.name;
            EXPECT_EQ(Raw(o, f), 0u);
            EXPECT_EQ(StateByte(o, f), 0);
        }
        if (pending) {
            EXPECT_EQ(qelrt_call_count("qel_clear_last_error"), 0u);
        }
    }
    qelrt_force_instance_variant(0, 0);
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

TEST_P(Fields, SetAllGetAllAndMemberNumbers) {
    Track();
    void *o = Make();
    std::vector<uint32_t> vals;
    std::vector<uint64_t> outs;  // each 8 bytes wide; a result must fill only its field's width
    std::vector<void *> ptrs;
    for (unsigned i = 0; i < T().nfields; ++i) {
        if (Valued(T().fields[i])) vals.push_back(Sample(T().fields[i]));
        if (Valued(T().fields[i]) || T().fields[i].kind == Kind::PairCount) outs.push_back(~0ull);
    }
    for (auto &x : outs) ptrs.push_back(&x);
    CallAll("set_all", o, vals);
    ASSERT_EQ(err, 0u);
    CallAll("get_all", o, ptrs);
    ASSERT_EQ(err, 0u);
    for (unsigned i = 0, k = 0, v = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (!Valued(f) && f.kind != Kind::PairCount) continue;
        const uint64_t w = f.kind == Kind::Enum || f.kind == Kind::PairCount ? 4 : Width(f.kind);
        const uint64_t want = f.kind == Kind::PairCount ? 0 : vals[v++];
        EXPECT_EQ(outs[k++], want | (~0ull << (8 * w))) << f.name;
        if (f.kind != Kind::PairCount) {
            EXPECT_EQ(StateByte(o, f), 0) << "set all marks nothing";
        }
    }
    uint32_t bound = 0;
    for (unsigned i = 0; i < T().nfields; ++i) bound += T().fields[i].kind != Kind::PairCount;
    bound += T().link_off ? 2 : 0;
    bound += T().list_field >= 0 || T().array_field >= 0;  // list count, or pair_count
    EXPECT_EQ(T().member_bound, bound);
    auto valid = Op<int(Hp, void *, U, U)>("is_valid_cr");
    EXPECT_EQ(valid(h, o, bound - 1, 0), 1);
    EXPECT_EQ(valid(h, o, bound, 1), 0);
}

TEST_P(Fields, WholeObjectSet) {
    Track();
    void *src = Make(), *dst = Make();
    for (unsigned i = 0; i < T().nfields; ++i)
        if (T().fields[i].kind != Kind::List && Stated(T().fields[i])) Write(src, T().fields[i]);
    const std::vector<uint8_t> dst0(Bytes(dst), Bytes(dst) + T().tracked_size);
    for (int c = 0; c < 2; ++c) {  // a later source variant, differing second header bytes
        Bytes(src)[8 + c] = 1;
        Op<void(Hp, U, void *, void *, U *)>("set")(h, db, dst, src, &err);
        EXPECT_EQ(err, 43u);
        EXPECT_TRUE(std::equal(dst0.begin(), dst0.end(), Bytes(dst)));
        Bytes(src)[8 + c] = 0;
        err = 0;
    }
    Flags(dst) |= QEL_OF_STTR_RT;
    uint8_t place[16] = {};
    qelrt_set_sttr_place(place);  // where the destination's state area now is
    Op<void(Hp, U, void *, void *, U *)>("set")(h, db, dst, src, &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(Flags(dst), QEL_OF_TRACKED | QEL_OF_STTR_RT) << "keeps its own placement";
    for (uint32_t b = 0; b < T().plain_size; ++b) {
        const bool anchor = T().list_field >= 0 && b >= T().anchor_off && b < T().anchor_off + 24u;
        if (b != 10 && !anchor) {
            EXPECT_EQ(Bytes(dst)[b], Bytes(src)[b]) << "byte " << b;
        }
    }
    EXPECT_TRUE(std::equal(place, place + T().state_size, Bytes(src, T().plain_size)));
    Flags(dst) &= ~QEL_OF_STTR_RT;
    qelrt_set_sttr_place(nullptr);
}

TEST_P(Fields, ResetOfEveryStateByte) {
    Track();
    void *o = Make();
    auto reset = Op<void(Hp, U, void *, U)>("set_all_state_tracking_flag");
    reset(h, db, o, 0x102);
    for (unsigned i = 0; i < T().nfields; ++i) {
        if (T().fields[i].state_idx != lomari::kNoState) {
            EXPECT_EQ(StateByte(o, T().fields[i]), 2);
        }
    }
    Plain();
    reset(h, db, o, 0x107);  // not on a plain handle
    EXPECT_EQ(StateByte(o, T().fields[0]), 2);
    Track();
}

INSTANTIATE_TEST_SUITE_P(Types, Fields, ::testing::ValuesIn(lt::AllTypes()), ParamName());

// ---- enumeration fields and the fixed string ----------------------------------------------

bool HasEnum(const TypeDesc &t) {
    for (unsigned i = 0; i < t.nfields; ++i)
        if (t.fields[i].kind == Kind::Enum) return true;
    return false;
}
using EnumField = TypeTest;

TEST_P(EnumField, OutOfRangeIsRefusedYetMarked) {
    Track();
    void *o = Make();
    std::vector<uint32_t> vals;
    int first_enum = -1;
    for (unsigned i = 0; i < T().nfields; ++i) {
        const FieldDesc &f = T().fields[i];
        if (f.kind == Kind::Enum && first_enum < 0) first_enum = int(i);
        if (Valued(f)) vals.push_back(f.kind == Kind::Enum ? f.en->bound : Sample(f));
        if (f.kind != Kind::Enum) continue;
        Set(o, f, f.en->bound);
        EXPECT_EQ(err, 43u);
        EXPECT_EQ(Raw(o, f), 0u);
        EXPECT_EQ(StateByte(o, f), 2) << "marked although refused";
        err = 0;
        qelrt_force_instance_variant(1, 1);  // variant 1 admits values past the names
        Set(o, f, f.en->bound);
        qelrt_force_instance_variant(0, 0);
        EXPECT_EQ(Raw(o, f), f.en->bound);
        Set(o, f, 0);
    }
    CallAll("set_all", o, vals);  // stops at the first refused value
    EXPECT_EQ(err, 43u);
    for (unsigned i = 0; i < T().nfields; ++i) {
        if (Valued(T().fields[i])) {
            EXPECT_EQ(Raw(o, T().fields[i]), int(i) < first_enum ? Sample(T().fields[i]) : 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Types, EnumField, ::testing::ValuesIn(TypesWhere(HasEnum)), ParamName());

bool HasStr(const TypeDesc &t) { return t.fields[0].kind == Kind::Str; }
using FixedString = TypeTest;

TEST_P(FixedString, LengthsAndBuffers) {
    Track();
    void *o = Make();
    const FieldDesc &f = T().fields[0];
    auto set = FOp<void(Hp, U, void *, const char *, U, U *)>(f, "set");
    auto get = FOp<void(Hp, U, void *, char *, U, U *)>(f, "get");
    const std::string s31(31, 'k'), s32(32, 'x');
    char buf[40];
    set(h, db, o, s31.c_str(), 31, &err);
    get(h, db, o, buf, 32, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(buf, s31);
    EXPECT_EQ(StateByte(o, f), 2);
    set(h, db, o, s32.c_str(), 32, &err);
    EXPECT_EQ(err, 22u);
    err = 0;
    std::memset(buf, '#', sizeof buf);
    get(h, db, o, buf, 28, &err);
    EXPECT_EQ(err, 28u);
    EXPECT_EQ(buf, s31.substr(0, 27)) << "truncated copy of the unchanged text";
    EXPECT_EQ(buf[28], '#');
    err = 0;
    get(h, db, o, buf, 0, &err);
    EXPECT_EQ(err, 22u);
    err = 0;
    set(h, db, o, "ab\0cd", 5, &err);  // a NUL ends the text and clears the rest
    EXPECT_EQ(std::string(reinterpret_cast<char *>(Bytes(o, f.offset)), 6), std::string("ab\0\0\0\0", 6));
}

INSTANTIATE_TEST_SUITE_P(Types, FixedString, ::testing::ValuesIn(TypesWhere(HasStr)), ParamName());

// ---- owners: the set moves the list or block, the reset reaches the elements ---------------

bool IsOwner(const TypeDesc &t) { return t.list_field >= 0 || t.array_field >= 0; }
using OwnerFields = TypeTest;

TEST_P(OwnerFields, SetMovesWhatTheSourceOwns) {
    const bool list = T().list_field >= 0;
    const FieldDesc &of = T().fields[list ? T().list_field : T().array_field];
    auto el_create = Api<void *(Hp, U)>(of.elem->name, "create");
    for (bool tr : {false, true}) {
        tr ? Track() : Plain();
        const int64_t live = qelrt_live_bytes();
        void *src = Create(), *dst = Create(), *e = el_create(h, db);
        if (list) {
            FOp<void(Hp, U, void *, void *, U *)>(of, "set_last")(h, db, src, e, &err);
        } else {
            Op<void(Hp, U, void *, U, void *, U *)>("pairs_set")(h, db, src, 1, e, &err);
            Api<void(Hp, U, void *)>(of.elem->name, "destroy")(h, db, e);
        }
        void *held = Word(src, of.offset);  // list: first element; array: the block
        Op<void(Hp, U, void *, void *, U *)>("set")(h, db, dst, src, &err);
        ASSERT_EQ(err, 0u);
        EXPECT_EQ(Word(dst, of.offset), held);
        if (list) {
            EXPECT_EQ(Word(e, of.elem->link_off), Bytes(dst, T().anchor_off)) << "re-anchored";
            EXPECT_EQ(Word(src, of.offset), Bytes(src, T().anchor_off)) << "source empty";
        } else {
            EXPECT_EQ(Word(src, of.offset), nullptr);
            EXPECT_EQ(Raw(src, T().fields[T().count_field]), 0u);
        }
        Destroy(src);
        Destroy(dst);
        EXPECT_EQ(qelrt_live_bytes(), live) << "released once, by the destination";
    }
}

bool IsArrayOwner(const TypeDesc &t) { return t.array_field >= 0; }
using ArrayOwnerFields = TypeTest;

TEST_P(ArrayOwnerFields, ElementStateBytesLiveInTheBlock) {
    Track();
    const FieldDesc &af = T().fields[T().array_field];
    const TypeDesc &E = *af.elem;
    const FieldDesc &ef = E.fields[E.nfields - 1];
    auto set_value = Api<void(Hp, U, void *, U, U *)>(E.name, std::string(ef.name) + "_set_value");
    void *o = Make(), *v = Api<void *(Hp, U)>(E.name, "create")(h, db);
    set_value(h, db, v, 1, &err);
    Op<void(Hp, U, void *, U, void *, U *)>("pairs_set")(h, db, o, 1, v, &err);  // moves v's state too
    Api<void(Hp, U, void *)>(E.name, "destroy")(h, db, v);
    uint8_t *block = Word<uint8_t *>(o, af.offset), *bytes = block + 2 * E.plain_size;
    EXPECT_EQ(Flags(block + E.plain_size), QEL_OF_NESTED | QEL_OF_TRACKED);
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t j = 0; j < 2u * E.n_state_fields; ++j)
            EXPECT_EQ(bytes[j], j == E.n_state_fields + ef.state_idx ? 2 : 0) << pass << "/" << j;
        std::fill(bytes, bytes + 2 * E.n_state_fields, 0);
        set_value(h, db, block + E.plain_size, 1, &err);  // a setter on the slot itself
        ASSERT_EQ(err, 0u);
    }

    uint8_t *per = Word<uint8_t *>(o, T().plain_size + 8);
    Op<void(Hp, U, void *, U)>("set_all_state_tracking_flag")(h, db, o, 0x103);
    EXPECT_EQ(Word<uint8_t *>(o, T().plain_size + 8), per) << "pointer kept";
    EXPECT_EQ(StateByte(o, af), 3);
    EXPECT_EQ(per[0] + per[1], 6);
    for (uint32_t j = 0; j < 2u * E.n_state_fields; ++j) EXPECT_EQ(bytes[j], 3) << j;
}

INSTANTIATE_TEST_SUITE_P(Types, OwnerFields, ::testing::ValuesIn(TypesWhere(IsOwner)), ParamName());
INSTANTIATE_TEST_SUITE_P(Types, ArrayOwnerFields, ::testing::ValuesIn(TypesWhere(IsArrayOwner)), ParamName());

}  // namespace
