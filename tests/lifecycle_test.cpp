// Life of the structured instances, over every type: sizes per handle mode,
// new objects in plain and tracking mode, the chained-error constructors,
// nested initialization, destroy outcomes and release of what owners own.
#include "objects_support.h"

namespace {

using namespace lt;

// plain, tracked and state-area sizes the domain fixes, in schema order
constexpr uint32_t kSizes[17][3] = {
    {72, 75, 3}, {72, 77, 5}, {32, 34, 2}, {48, 51, 3},   {64, 71, 7},  {72, 80, 8},
    {56, 58, 2}, {96, 102, 6}, {72, 74, 2}, {40, 41, 1},  {72, 74, 2},  {24, 26, 2},
    {40, 56, 16}, {32, 35, 3}, {40, 56, 16}, {24, 26, 2}, {40, 56, 16},
};

uint64_t &Count(void *o, bool created) {
    auto &v = Tinfo(o)->varinfo->variants[0];
    return created ? v.created : v.destroyed;
}

using Lifecycle = TypeTest;

TEST_P(Lifecycle, SizesPerHandleMode) {
    const uint32_t *s = kSizes[T().ordinal];
    auto size_int = Op<U(Hp, U, U, U)>("sizeof_internal");
    for (uint32_t mode : {0u, QEL_CHECK_PLAIN, QEL_CHECK_TRACK}) {
        qelrt_handle_set_mode(h, mode);
        const bool tr = mode == QEL_CHECK_TRACK;
        EXPECT_EQ(Op<U(Hp)>("sizeof")(h), s[tr]) << mode;
        EXPECT_EQ(size_int(h, db, 0, 0), s[0]);
        EXPECT_EQ(size_int(h, db, 1, 0), s[tr]);
        EXPECT_EQ(size_int(h, db, 1, 1), tr ? s[2] : 0);
    }
}

TEST_P(Lifecycle, NewObjectInEachMode) {
    for (bool tr : {false, true}) {
        tr ? Track() : Plain();
        const int64_t live = qelrt_live_bytes();
        void *o = Create();
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(qelrt_live_bytes() - live, kSizes[T().ordinal][tr]);
        EXPECT_STREQ(Tinfo(o)->name, T().name);
        EXPECT_EQ(Variant(o), 0);
        EXPECT_EQ(Bytes(o)[9], 0);
        EXPECT_EQ(Flags(o), tr ? QEL_OF_TRACKED : 0);
        for (unsigned i = 0; i < T().nfields; ++i) {
            const FieldDesc &f = T().fields[i];
            if (f.kind != Kind::Enum) continue;
            EXPECT_STREQ(Tinfo(Bytes(o, f.offset))->name, f.en->name);
            EXPECT_EQ(Flags(Bytes(o, f.offset)), QEL_OF_NESTED) << f.name;
        }
        if (T().list_field >= 0) {  // empty list: both ends at the anchor
            void *anchor = Bytes(o, T().anchor_off);
            EXPECT_EQ(Word(o, T().anchor_off), anchor);
            EXPECT_EQ(Word(o, T().anchor_off + 8), anchor);
            EXPECT_EQ(Word(o, T().anchor_off + 16), o);
        }
        const uint64_t made = Count(o, true), gone = Count(o, false);
        Destroy(Create());
        EXPECT_EQ(Count(o, true), made + 1);
        EXPECT_EQ(Count(o, false), gone + 1);
        Destroy(o);
        EXPECT_EQ(qelrt_live_bytes(), live);
    }
}

TEST_P(Lifecycle, ChainedCreate) {
    auto create_cr = Op<void *(Hp)>("create_cr");
    h->err = 22;
    void *null_obj = create_cr(h);
    ASSERT_NE(null_obj, nullptr);
    EXPECT_EQ(qelrt_alloc_count(), 0u);
    EXPECT_EQ(h->err, 22u);
    for (uint32_t i = 0; i < T().plain_size; ++i) ASSERT_EQ(Bytes(null_obj)[i], 0);
    qelrt_calls_log(1);
    Destroy(null_obj);  // ignored
    EXPECT_EQ(qelrt_call_count("qellib_type_stats_destroy_object"), 0u);

    h->err = 0;
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(create_cr(h), null_obj);
    EXPECT_EQ(h->err, 12u);
    EXPECT_EQ(h->chained_error, 0u);
    h->err = 0;
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(h->err, 0u);
}

TEST_P(Lifecycle, CorruptedHandleAborts) {
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(Create(), "Corrupted QEL Handle");
}

TEST_P(Lifecycle, NestedInitializeNeedsAStateBase) {
    Track();
    qel_type_info_t *ti = Tinfo(Make());
    std::vector<uint8_t> buf(T().tracked_size);
    uint8_t base[16];
    auto init = Op<void(Hp, U, void *, qel_type_info_t *, U, U, uint8_t, uint8_t *, U *)>("initialize");
    init(h, db, buf.data(), ti, 1, 0, QEL_OF_NESTED, nullptr, &err);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(Traced("sttr_base can not be NULL in NESTED case. Please check the parent object "
                     "and provide the correct state tracking base pointer"), 1u);
    err = 0;
    const uint64_t made = ti->varinfo->variants[0].created;
    init(h, db, buf.data(), ti, 0, 1, QEL_OF_NESTED, base, &err);  // no notify, no statistics
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(Flags(buf.data()), QEL_OF_NESTED | QEL_OF_TRACKED);
    EXPECT_EQ(ti->varinfo->variants[0].created, made);
}

TEST_P(Lifecycle, OidMappingOutcomes) {
    struct { int answer; uint32_t error; const char *tail; } cases[] = {
        {1, 0, " destroy: Successfully removed OID mapping"},
        {0, 0, " destroy: Object has references and will be cleaned up when all of them are released"},
        {1, 5, " destroy: Failed to remove oid mapping for object. Error Input/output error"},
    };
    for (const auto &c : cases) {
        h->err = 0;
        const int64_t live = qelrt_live_bytes();
        void *o = Create();
        Flags(o) |= QEL_OF_OID_MAPPING;
        qelrt_set_oid_mapping_answer(c.answer, c.error);
        Destroy(o);
        EXPECT_EQ(Traced((T().name + std::string(c.tail)).c_str()), 1u) << c.tail;
        EXPECT_EQ(h->err, c.error);
        if (c.answer && !c.error) {
            EXPECT_EQ(qelrt_live_bytes(), live);
            continue;
        }
        EXPECT_NE(Tinfo(o), nullptr) << "object stays";
        Flags(o) = 0;
        Destroy(o);
    }
}

TEST_P(Lifecycle, EmbeddedFlagAndIndexCap) {
    void *o = Make();
    auto embed = Op<void(Hp, U, void *)>("set_instance_embedded");
    embed(h, db, o);
    EXPECT_EQ(Flags(o), QEL_OF_EMBEDDED);
    for (unsigned i = 0; i < T().nfields; ++i) {
        if (T().fields[i].kind == Kind::Enum) {
            EXPECT_EQ(Flags(Bytes(o, T().fields[i].offset)), QEL_OF_EMBEDDED | QEL_OF_NESTED);
        }
    }
    embed(h, db, nullptr);
    EXPECT_EQ(Traced("Invalid object pointer passed in to set instance flag"), 1u);

    auto cap = Op<U(U)>("variant_data_index_cap");
    EXPECT_EQ(cap(0x185), 0x185u);
    EXPECT_EQ(cap(0x105), 0x100u);
}

INSTANTIATE_TEST_SUITE_P(Types, Lifecycle, ::testing::ValuesIn(lt::AllTypes()), ParamName());

// Owners release their list elements, element block and per-element state
// bytes: nothing stays allocated, and each element is counted destroyed.
bool IsOwner(const TypeDesc &t) { return t.list_field >= 0 || t.array_field >= 0; }
using OwnerDestroy = TypeTest;

TEST_P(OwnerDestroy, ReleasesWhatItOwns) {
    const bool list = T().list_field >= 0;
    const FieldDesc &of = T().fields[list ? T().list_field : T().array_field];
    const TypeDesc &E = *of.elem;
    auto el_create = Api<void *(Hp, U)>(E.name, "create");
    auto el_destroy = Api<void(Hp, U, void *)>(E.name, "destroy");
    for (bool tr : {false, true}) {
        tr ? Track() : Plain();
        const int64_t live = qelrt_live_bytes();
        void *o = Create();
        qel_type_info_t *eti = nullptr;
        for (uint32_t i = 0; i < 3; ++i) {
            void *e = el_create(h, db);
            eti = Tinfo(e);
            if (list) {
                FOp<void(Hp, U, void *, void *, U *)>(of, "set_last")(h, db, o, e, &err);
            } else {
                Op<void(Hp, U, void *, U, void *, U *)>("pairs_set")(h, db, o, i, e, &err);
                el_destroy(h, db, e);
            }
        }
        ASSERT_EQ(err, 0u);
        const uint64_t gone = eti->varinfo->variants[0].destroyed;
        Destroy(o);
        EXPECT_EQ(qelrt_live_bytes(), live);
        EXPECT_EQ(eti->varinfo->variants[0].destroyed, gone + 3);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, OwnerDestroy, ::testing::ValuesIn(TypesWhere(IsOwner)), ParamName());

}  // namespace
