// The enumeration family beyond lifecycle_test: destroy_internal, the
// embedded initialize, value get and set with the range check, validity.
#include "fixture.h"

namespace {

using namespace lt;

struct Inst {
    qel_type_info_t *tinfo;
    int8_t variant;
    uint8_t variant_cap;
    uint8_t flags;
    uint32_t value;
};
static_assert(sizeof(Inst) == sizeof(spi4_priority));

class Enums : public Lomari, public ::testing::WithParamInterface<const EnumDesc *> {
protected:
    const EnumDesc &E() const { return *GetParam(); }
    template <class F>
    F *Fn(const char *op) const { return Api<F>(E().name, op); }
    Inst *New() { return static_cast<Inst *>(Fn<void *(H, U)>("create")(h, db)); }
    void Free(void *o) { Fn<void(H, U, void *)>("destroy")(h, db, o); }
    void Put(Inst *o, U v) { Fn<void(H, U, void *, U, U *)>("set_value")(h, db, o, v, &err); }
    void Copy(Inst *dst, const Inst *src) { Fn<void(H, U, void *, const void *, U *)>("set")(h, db, dst, src, &err); }
    U Value(const Inst *o) { return Fn<U(H, U, const void *, U *)>("get_value")(h, db, o, &err); }
};

TEST_P(Enums, DestroyInternalFreesOnlyWhenAsked) {
    Inst *o = New();
    const uint64_t d = Counts(o).destroyed;
    auto destroy = Fn<void(H, U, void *, U)>("destroy_internal");
    destroy(h, db, o, 0);
    EXPECT_NE(o->tinfo, nullptr);
    EXPECT_EQ(Counts(o).destroyed, d);
    EXPECT_EQ(qelrt_free_count(), 0u);
    destroy(h, db, o, 1);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Enums, InitializePreparesAnEmbeddedInstanceWithoutCounting) {
    auto init = Fn<void(H, U, void *, qel_type_info_t *, U, U, uint8_t, uint8_t *, U *)>("initialize");
    qel_type_info_t *ti = Record(E().name, "enum");
    const uint64_t made = ti->varinfo->variants[0].created;
    qelrt_calls_log(1);
    for (U notify : {0u, 1u}) {
        qelrt_calls_clear();
        Inst slot{};
        slot.flags = QEL_OF_EMBEDDED;
        qelrt_set_domain_variant(-1);
        init(h, db, &slot, ti, notify, 0, QEL_OF_NESTED, nullptr, &err);
        EXPECT_EQ(std::make_tuple(slot.tinfo, slot.variant, slot.flags, slot.value),
                  std::make_tuple(ti, int8_t(-1), uint8_t(QEL_OF_EMBEDDED | QEL_OF_NESTED), 0u));
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(qelrt_write_count() > 0, notify == 1) << "notify " << notify;
        EXPECT_EQ(qelrt_call_count("stats_inc_fn"), 0u);
    }
    EXPECT_EQ(ti->varinfo->variants[0].created, made);
    h->per_handle_types = 1;  // no record given: the handle's copy of its own
    Inst slot{};
    init(h, db, &slot, nullptr, 1, 0, 0, nullptr, &err);
    EXPECT_EQ(slot.tinfo, h->type_dict_lookup_fn(h->type_dict_ctx, db, ti->signature));
}

TEST_P(Enums, ValuesBelowTheBoundAreStoredTheBoundOnlyPastVariantZero) {
    Inst *o = New();
    qelrt_calls_log(1);
    Put(o, E().bound - 1);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(qelrt_call_count("qellib_adjust_variant"), 1u);
    EXPECT_EQ(qelrt_call_count("qel_clear_last_error"), 1u);
    ASSERT_EQ(qelrt_write_count(), 1u) << "only the value is announced";
    EXPECT_EQ(std::make_pair(qelrt_write_at(0)->addr, qelrt_write_at(0)->len), std::make_pair((void *)&o->value, 4u));
    EXPECT_EQ(Value(o), E().bound - 1);

    const Inst before = *o;
    Put(o, E().bound);
    EXPECT_EQ(err, 43u);
    EXPECT_EQ(h->err, 43u);
    EXPECT_EQ(std::memcmp(&before, o, sizeof before), 0);
    err = 0;
    qelrt_force_instance_variant(1, 1);  // a raised variant accepts values past the names
    Put(o, E().bound);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(o->value, E().bound);
    qelrt_force_instance_variant(0, 0);
    Free(o);
}

TEST_P(Enums, SetCopiesTheWholeInstanceHeaderIncluded) {
    Inst *src = New(), *dst = New(), *fresh = New();
    Put(src, E().bound - 1);
    src->variant_cap = 5;
    src->flags = QEL_OF_EMBEDDED;
    qelrt_calls_log(1);
    Copy(dst, src);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(std::memcmp(src, dst, sizeof *src), 0);
    ASSERT_EQ(qelrt_write_count(), 1u);
    EXPECT_EQ(std::make_pair(qelrt_write_at(0)->addr, qelrt_write_at(0)->len), std::make_pair((void *)dst, 16u));
    const Inst before = *fresh;  // a source out of range, refused on variant 0
    src->value = E().bound;
    Copy(fresh, src);
    EXPECT_EQ(err, 43u);
    EXPECT_EQ(std::memcmp(&before, fresh, sizeof before), 0);
    for (Inst *o : {src, dst, fresh}) Free(o);
}

TEST_P(Enums, ErrorPresentMakesValueOperationsInertANullOneIs22) {
    Inst *o = New();
    o->value = 1;
    err = 22;
    qelrt_calls_log(1);
    EXPECT_EQ(Value(o), 0u);
    Put(o, 0);
    Copy(o, o);
    EXPECT_EQ(o->value, 1u);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(qelrt_trace_count() + qelrt_call_count("qel_clear_last_error") + qelrt_write_count(), 0u);
    err = 0;
    EXPECT_EQ(Value(nullptr), 0u);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(h->err, 22u);
    err = 0;
    Copy(o, nullptr);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(Fn<void *(H, U, void *)>("get")(h, db, nullptr), nullptr);
    Free(o);
}

TEST_P(Enums, IsValidComparesAgainstTheBoundAndReportsTheLookupError) {
    auto valid = Fn<int(H, int32_t)>("is_valid_cr");
    EXPECT_EQ(std::make_pair(valid(h, int32_t(E().bound) - 1), valid(h, int32_t(E().bound))), std::make_pair(1, 0));
    EXPECT_EQ(h->err, 0u);
    qelrt_set_domain_variant_error(5);
    valid(h, 0);
    EXPECT_EQ(h->err, 5u);
}

INSTANTIATE_TEST_SUITE_P(All, Enums, ::testing::ValuesIn(AllEnums()), ParamName());

}  // namespace
