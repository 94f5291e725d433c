// Tests of the enumeration family, run over all four enumerations: life and
// counting, the embedded initialize, value get/set with the range check,
// validity, the chained-error constructor, the fatal destroy paths and the
// object queries the runtime makes of enumerations.
#include <string>

#include "fixture.h"

namespace {

using lt::EnumDesc;

struct Inst {
    qel_type_info_t *tinfo;
    int8_t variant;
    uint8_t variant_cap;
    uint8_t flags;
    uint32_t value;
};
static_assert(sizeof(Inst) == sizeof(spi4_priority));

using Create = void *(qel_handle_t *, uint32_t);
using CreateCr = void *(qel_handle_t *);
using Destroy = void(qel_handle_t *, uint32_t, void *);
using DestroyCr = void(qel_handle_t *, void *);
using DestroyInternal = void(qel_handle_t *, uint32_t, void *, uint32_t);
using Initialize = void(qel_handle_t *, uint32_t, void *, qel_type_info_t *, uint32_t, uint32_t, uint8_t,
                        uint8_t *, uint32_t *);
using Get = void *(qel_handle_t *, uint32_t, void *);
using GetValue = uint32_t(qel_handle_t *, uint32_t, const void *, uint32_t *);
using Set = void(qel_handle_t *, uint32_t, void *, const void *, uint32_t *);
using SetValue = void(qel_handle_t *, uint32_t, void *, uint32_t, uint32_t *);
using IsValid = int(qel_handle_t *, int32_t);
using Map = uint32_t(uint32_t);
using Embed = void(qel_handle_t *, uint32_t, void *);
using OidCount = uint32_t(qel_handle_t *, uint32_t, void *, uint32_t *);
using Refs = void(qel_handle_t *, uint32_t, void *, void *, void *, uint32_t *);

class Enums : public lt::Lomari, public ::testing::WithParamInterface<const EnumDesc *> {
protected:
    const EnumDesc &E() const { return *GetParam(); }
    template <class F>
    F *Fn(const char *op) const { return lt::Api<F>(E().name, op); }

    Inst *New() { return static_cast<Inst *>(Fn<Create>("create")(h, db)); }
    void Free(Inst *o) { Fn<Destroy>("destroy")(h, db, o); }
    void Put(Inst *o, uint32_t v) { Fn<::SetValue>("set_value")(h, db, o, v, &err); }
    uint32_t Value(const Inst *o) { return Fn<GetValue>("get_value")(h, db, o, &err); }
    static const qel_variant_record_t &Counts(const Inst *o) { return o->tinfo->varinfo->variants[0]; }
    // The null object, as the chained-error constructor hands it out.
    Inst *NullObject() {
        h->err = 5;
        auto *n = static_cast<Inst *>(Fn<CreateCr>("create_cr")(h));
        h->err = 0;
        return n;
    }
    uint32_t Point(uint32_t p) const { return E().trace_base + p; }
};

TEST_P(Enums, CreateWritesHeaderAndCountsDestroyReleases) {
    for (uint32_t mode : {0u, QEL_CHECK_PLAIN, QEL_CHECK_TRACK}) {
        qelrt_handle_set_mode(h, mode);
        Inst *o = New();
        ASSERT_NE(o, nullptr);
        ASSERT_EQ(o->tinfo->magic, QEL_TINFO_MAGIC);
        EXPECT_STREQ(o->tinfo->name, E().name);
        EXPECT_STREQ(o->tinfo->kind, "enum");
        EXPECT_EQ(o->variant, 0);
        EXPECT_EQ(o->variant_cap, 0);
        EXPECT_EQ(o->flags, 0) << "enumerations never have a state area";
        EXPECT_EQ(o->value, 0u);
        const uint64_t c = Counts(o).created, d = Counts(o).destroyed;
        Inst *p = New();
        EXPECT_EQ(Counts(o).created, c + 1);
        qel_type_info_t *ti = p->tinfo;
        Free(p);
        EXPECT_EQ(ti->varinfo->variants[0].destroyed, d + 1);
        Free(o);
    }
    EXPECT_EQ(qelrt_alloc_count(), qelrt_free_count());
    EXPECT_EQ(qelrt_live_bytes(), 0);
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

TEST_P(Enums, CreateCrAnnouncesHeaderWritesAndCountsInTheHandlesDatabase) {
    h->database_id = 7;
    qelrt_calls_log(1);
    auto *o = static_cast<Inst *>(Fn<CreateCr>("create_cr")(h));
    uint32_t header_writes = 0;
    for (uint32_t i = 0; i < qelrt_write_count(); ++i) {
        const qelrt_write_t *w = qelrt_write_at(i);
        const auto *a = static_cast<uint8_t *>(w->addr);
        const auto *base = reinterpret_cast<uint8_t *>(o);
        EXPECT_TRUE(a >= base && a + w->len <= base + 12) << "write outside the header";
        ++header_writes;
    }
    EXPECT_GE(header_writes, 4u);
    const qelrt_call_t *inc = nullptr;
    for (uint32_t i = 0; i < qelrt_call_total(); ++i)
        if (std::strcmp(qelrt_call_at(i)->fn, "stats_inc_fn") == 0) inc = qelrt_call_at(i);
    ASSERT_NE(inc, nullptr);
    EXPECT_EQ(inc->a[1], reinterpret_cast<uint64_t>(&Counts(o).created));
    EXPECT_EQ(inc->a[2], 1u);
    EXPECT_EQ(inc->a[3], 7u);
    Fn<DestroyCr>("destroy_cr")(h, o);
    EXPECT_EQ(qelrt_call_count("stats_inc_fn"), 2u);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Enums, DomainVariantDecidesInstanceVariant) {
    qelrt_set_domain_variant(-2);
    Inst *o = New();
    EXPECT_EQ(o->variant, -2);
    Free(o);
    qelrt_set_domain_variant(3);
    o = New();
    EXPECT_EQ(o->variant, 0);
    Free(o);
}

TEST_P(Enums, LookupErrorIsTracedAndCreationGoesOn) {
    qelrt_set_domain_variant_error(5);
    Inst *o = New();
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(h->err, 0u);
    ASSERT_EQ(qelrt_trace_count(), 1u);
    const qelrt_trace_t *t = qelrt_trace_at(0);
    EXPECT_EQ(t->text, "error in " + std::string(E().name) + " create " + std::strerror(5));
    EXPECT_EQ(t->table_no, 1);
    EXPECT_EQ(t->index, Point(0));
    EXPECT_EQ(t->level, QEL_TL_ERROR);
    EXPECT_EQ(t->module, g_qel_lomari_trace_module_id);
    Free(o);
}

TEST_P(Enums, ContainmentAndPlatformReports) {
    h->containment_tracking = 1;
    qelrt_calls_log(1);
    Free(New());
    EXPECT_EQ(qelrt_call_count("qeldb_record_containment2"), 1u);
    EXPECT_EQ(qelrt_call_count("qeldb_plat_set_dirty"), 0u) << "no database";
    EXPECT_EQ(qelrt_call_count("qeldb_plat_set_destroy"), 0u);

    h->per_handle_types = 1;
    db = 3;
    Inst *o = New();
    EXPECT_EQ(Fn<Get>("get")(h, db, o), o);
    EXPECT_EQ(qelrt_call_count("qeldb_record_containment2"), 3u) << "create and get record it";
    Free(o);
    EXPECT_EQ(qelrt_call_count("qeldb_plat_set_dirty"), 1u);
    EXPECT_EQ(qelrt_call_count("qeldb_plat_set_destroy"), 1u);
}

// ---- chained-error constructor ------------------------------------------------

TEST_P(Enums, CreateCrWithErrorPresentReturnsTheNullObjectAllocatingNothing) {
    h->err = 22;
    auto *a = static_cast<Inst *>(Fn<CreateCr>("create_cr")(h));
    auto *b = static_cast<Inst *>(Fn<CreateCr>("create_cr")(h));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->tinfo, nullptr);
    EXPECT_EQ(qelrt_alloc_count(), 0u);
    EXPECT_EQ(h->err, 22u);
    EXPECT_EQ(h->chained_error, 0u);
    Fn<DestroyCr>("destroy_cr")(h, a);
    Fn<Destroy>("destroy")(h, db, a);
    EXPECT_EQ(qelrt_free_count(), 0u);
}

TEST_P(Enums, FailingAllocationStores12OnlyInChainedForm) {
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(New(), nullptr);
    EXPECT_EQ(h->err, 0u);

    Inst *null_obj = NullObject();
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(Fn<CreateCr>("create_cr")(h), null_obj);
    EXPECT_EQ(h->err, 12u);
    EXPECT_EQ(h->chained_error, 0u);
}

// ---- destroy ----------------------------------------------------------------

TEST_P(Enums, DestroyIgnoresNullNullObjectAndFreeZero) {
    Fn<Destroy>("destroy")(h, db, nullptr);
    Fn<Destroy>("destroy")(h, db, NullObject());
    Inst *o = New();
    const uint64_t d = Counts(o).destroyed;
    Fn<DestroyInternal>("destroy_internal")(h, db, o, 0);
    EXPECT_NE(o->tinfo, nullptr);
    EXPECT_EQ(Counts(o).destroyed, d);
    EXPECT_EQ(qelrt_free_count(), 0u);
    Fn<DestroyInternal>("destroy_internal")(h, db, o, 1);
    EXPECT_EQ(qelrt_free_count(), 1u);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Enums, DestroyWithoutValidTypeInfoIsFatal) {
    h->per_handle_types = 1;  // corrupt the handle's copy, not the shared record
    Inst *o = New();
    ASSERT_NE(o->tinfo->counter_mode, 0u);
    EXPECT_DEATH(
        {
            o->tinfo->magic = 0xDEADBEEF;
            Free(o);
        },
        "tinfo is null or corrupted");
    EXPECT_DEATH(
        {
            o->tinfo = nullptr;
            Free(o);
        },
        "tinfo is null or corrupted");
    EXPECT_DEATH(
        {
            o->tinfo->varinfo = nullptr;
            Free(o);
        },
        "varinfo is NULL");
    Free(o);
}

TEST_P(Enums, ShortVariantCountIsANoticeOnly) {
    h->per_handle_types = 1;
    Inst *o = New();
    qel_variant_info_t vi = *o->tinfo->varinfo;
    vi.n_variants = -1;
    o->tinfo->varinfo = &vi;
    Free(o);
    ASSERT_EQ(qelrt_trace_count(), 1u);
    EXPECT_EQ(qelrt_trace_at(0)->text, std::string("variant 0 requested only 4294967295 variants present"));
    EXPECT_EQ(qelrt_trace_at(0)->index, Point(2));
    EXPECT_EQ(qelrt_trace_at(0)->level, QEL_TL_NOTICE);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

// ---- embedded instances --------------------------------------------------------

TEST_P(Enums, InitializePreparesAnEmbeddedInstanceWithoutCounting) {
    Inst *ref = New();
    const uint64_t c = Counts(ref).created;
    for (uint32_t notify : {0u, 1u}) {
        qelrt_calls_clear();
        qelrt_calls_log(1);
        Inst slot{};
        slot.flags = 0x02;
        qelrt_set_domain_variant(-1);
        Fn<Initialize>("initialize")(h, db, &slot, ref->tinfo, notify, 0, QEL_OF_NESTED, nullptr, &err);
        qelrt_set_domain_variant(0);
        EXPECT_EQ(slot.tinfo, ref->tinfo);
        EXPECT_EQ(slot.variant, -1);
        EXPECT_EQ(slot.flags, 0x02 | QEL_OF_NESTED);
        EXPECT_EQ(slot.value, 0u);
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(qelrt_write_count() > 0, notify == 1) << "notify " << notify;
        EXPECT_EQ(qelrt_call_count("stats_inc_fn"), 0u);
    }
    EXPECT_EQ(Counts(ref).created, c);
    Free(ref);
}

TEST_P(Enums, InitializeTakesTheHandlesCopyWithPerHandleTypes) {
    h->per_handle_types = 1;
    Inst *ref = New();
    Inst slot{};
    Fn<Initialize>("initialize")(h, db, &slot, nullptr, 1, 0, 0, nullptr, &err);
    EXPECT_EQ(slot.tinfo, ref->tinfo);
    EXPECT_EQ(slot.tinfo->counter_mode, 1u);
    Free(ref);
}

// ---- values ---------------------------------------------------------------------

TEST_P(Enums, ValuesBelowTheBoundAreStoredTheBoundIsRefusedOnVariantZero) {
    Inst *o = New();
    Put(o, E().bound - 1);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(Value(o), E().bound - 1);

    const Inst before = *o;
    Put(o, E().bound);
    EXPECT_EQ(err, 43u);
    EXPECT_EQ(h->err, 43u);
    EXPECT_EQ(std::memcmp(&before, o, sizeof before), 0);

    // A raised variant accepts values this domain's names do not cover.
    err = 0;
    qelrt_force_instance_variant(1, 1);
    Put(o, E().bound);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(o->value, E().bound);
    qelrt_force_instance_variant(0, 0);
    Free(o);
}

TEST_P(Enums, SetValueAdjustsVariantAndAnnouncesTheValueOnly) {
    Inst *o = New();
    qelrt_calls_log(1);
    Put(o, 1);
    EXPECT_EQ(qelrt_call_count("qellib_adjust_variant"), 1u);
    EXPECT_EQ(qelrt_call_count("qel_clear_last_error"), 1u);
    ASSERT_EQ(qelrt_write_count(), 1u);
    EXPECT_EQ(qelrt_write_at(0)->addr, &o->value);
    EXPECT_EQ(qelrt_write_at(0)->len, 4u);
    Free(o);
}

TEST_P(Enums, SetCopiesTheWholeInstanceHeaderIncluded) {
    Inst *src = New();
    Inst *dst = New();
    Put(src, E().bound - 1);
    src->variant_cap = 5;
    src->flags = QEL_OF_EMBEDDED;
    qelrt_calls_log(1);
    Fn<Set>("set")(h, db, dst, src, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(std::memcmp(src, dst, sizeof *src), 0);
    ASSERT_EQ(qelrt_write_count(), 1u);
    EXPECT_EQ(qelrt_write_at(0)->addr, dst);
    EXPECT_EQ(qelrt_write_at(0)->len, 16u);

    // A source out of range is refused on a variant-0 destination.
    Inst *fresh = New();
    const Inst before = *fresh;
    src->value = E().bound;
    Fn<Set>("set")(h, db, fresh, src, &err);
    EXPECT_EQ(err, 43u);
    EXPECT_EQ(std::memcmp(&before, fresh, sizeof before), 0);
    src->value = 0;
    Free(src);
    Free(dst);
    Free(fresh);
}

TEST_P(Enums, ErrorPresentMakesValueOperationsInert) {
    Inst *o = New();
    o->value = 1;
    err = 22;
    qelrt_calls_log(1);
    EXPECT_EQ(Value(o), 0u);
    Put(o, 0);
    Fn<Set>("set")(h, db, o, o, &err);
    EXPECT_EQ(o->value, 1u);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(qelrt_trace_count(), 0u);
    EXPECT_EQ(qelrt_call_count("qel_clear_last_error"), 0u);
    EXPECT_EQ(qelrt_write_count(), 0u);
    Free(o);
}

TEST_P(Enums, GetValueOfNullReports22) {
    EXPECT_EQ(Value(nullptr), 0u);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(h->err, 22u);
}

TEST_P(Enums, IsValidComparesSignedAgainstTheBound) {
    auto valid = Fn<IsValid>("is_valid_cr");
    EXPECT_EQ(valid(h, static_cast<int32_t>(E().bound) - 1), 1);
    EXPECT_EQ(valid(h, static_cast<int32_t>(E().bound)), 0);
    EXPECT_EQ(valid(h, INT32_MAX), 0);
    EXPECT_EQ(h->err, 0u);
    qelrt_set_domain_variant_error(5);
    valid(h, 0);
    EXPECT_EQ(h->err, 5u) << "the lookup's error goes to the handle";
}

TEST_P(Enums, MapsAreTheIdentity) {
    for (uint32_t v : {0u, E().bound - 1, E().bound, 0xFFFFFFFFu}) {
        EXPECT_EQ(Fn<Map>("map_to_user_value")(v), v);
        EXPECT_EQ(Fn<Map>("map_to_internal_value")(v), v);
    }
}

// ---- object queries ------------------------------------------------------------

TEST_P(Enums, SetInstanceEmbeddedFlagsAndRefusesNull) {
    Inst *o = New();
    o->flags = QEL_OF_NESTED;
    Fn<Embed>("set_instance_embedded")(h, db, o);
    EXPECT_EQ(o->flags, QEL_OF_NESTED | QEL_OF_EMBEDDED);
    Fn<Embed>("set_instance_embedded")(h, db, nullptr);
    ASSERT_EQ(qelrt_trace_count(), 1u);
    EXPECT_STREQ(qelrt_trace_at(0)->text, "Invalid object handle passed to set embedded flag");
    EXPECT_EQ(qelrt_trace_at(0)->index, Point(4));
    Free(o);
}

TEST_P(Enums, OidCountAndReferencesQueries) {
    Inst *o = New();
    EXPECT_EQ(Fn<OidCount>("get_oid_count")(h, db, o, &err), 0u);
    Fn<Refs>("get_object_references")(h, db, o, nullptr, nullptr, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(qelrt_trace_count(), 0u);

    EXPECT_EQ(Fn<OidCount>("get_oid_count")(h, db, nullptr, &err), 0u);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(qelrt_trace_find("Invalid object passed in to get object oid count"), 1u);
    EXPECT_EQ(Fn<OidCount>("get_oid_count")(h, db, o, &err), 0u);
    EXPECT_EQ(qelrt_trace_find("Error already present in call to get object oid count"), 1u);

    err = 0;
    Fn<Refs>("get_object_references")(h, db, nullptr, nullptr, nullptr, &err);
    EXPECT_EQ(err, 22u);
    EXPECT_EQ(qelrt_trace_find("Cannot get table references. Invalid object passed on"), 1u);
    Fn<Refs>("get_object_references")(h, db, o, nullptr, nullptr, &err);
    EXPECT_EQ(qelrt_trace_find("Error present in call to get table references from object"), 1u);
    Free(o);
}

INSTANTIATE_TEST_SUITE_P(All, Enums, ::testing::ValuesIn(lt::AllEnums()), lt::ParamName());

}  // namespace
