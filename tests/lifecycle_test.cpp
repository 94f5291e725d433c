// Life of every object the library makes (17 structured types, 4 enumerations, 9 messages):
// creation per mode, counting, announcements, the domain's variant, internal forms, queries,
// destroy paths; nested initialize and validity of structured types; enumeration values.
#include <set>

#include "fixture.h"

namespace {

using namespace lt;

// Any object the library makes, by the prefix of its entry points.
struct Made {
    const char *name;
    const char *record;    // its type-info record's name
    const TypeDesc *type;  // a structured type, or
    const EnumDesc *en;    // an enumeration; neither: a message
    uint32_t trace_base;
    qel_type_info_t *Ti() const { return Record(record, type ? "type" : en ? "enum" : "message"); }
};
const std::vector<Made> kMade = [] {
    std::vector<Made> v;
    for (const auto &t : kTypes) v.push_back({t.name, t.name, &t, nullptr, t.trace_base});
    for (const auto &e : kEnums) v.push_back({e.name, e.name, nullptr, &e, e.trace_base});
    for (const auto &m : kMessages) v.push_back({m.full_name, m.name, nullptr, nullptr, m.trace_base});
    return v;
}();
// 0: every object, 1: structured types and enumerations, 2: enumerations.
std::vector<const Made *> MadeWhere(int which) {
    std::vector<const Made *> v;
    for (const Made &m : kMade)
        if (which == 0 || m.en || (which == 1 && m.type)) v.push_back(&m);
    return v;
}

// plain, tracked and state-area sizes the domain fixes, in schema order
constexpr uint32_t kSizes[17][3] = {
    {72, 75, 3}, {72, 77, 5}, {32, 34, 2}, {48, 51, 3},   {64, 71, 7},  {72, 80, 8},
    {56, 58, 2}, {96, 102, 6}, {72, 74, 2}, {40, 41, 1},  {72, 74, 2},  {24, 26, 2},
    {40, 56, 16}, {32, 35, 3}, {40, 56, 16}, {24, 26, 2}, {40, 56, 16},
};

class Objects : public Lomari, public ::testing::WithParamInterface<const Made *> {
protected:
    const Made &M() const { return *GetParam(); }
    template <class F>
    F *Fn(const char *op) const { return Api<F>(M().name, op); }
    void *Create() { return Fn<void *(H, U)>("create")(h, db); }
    void Destroy(void *o) { Fn<void(H, U, void *)>("destroy")(h, db, o); }
};

// Sizes and nested enumerations (an empty list: lists_test); with per-handle types the handle's copy counts.
TEST_P(Objects, NewInEachModeSizedCountedAndReleased) {
    for (uint32_t mode : {0u, QEL_CHECK_PLAIN, QEL_CHECK_TRACK}) {
        qelrt_handle_set_mode(h, mode);
        const bool tr = mode == QEL_CHECK_TRACK;
        void *o = Create();
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(std::make_tuple(Tinfo(o), Variant(o), Bytes(o)[9], Flags(o)),
                  std::make_tuple(M().Ti(), int8_t(0), uint8_t(0), uint8_t(tr && !M().en ? QEL_OF_TRACKED : 0))) << "enumerations never track";
        if (const TypeDesc *t = M().type) {
            const uint32_t *s = kSizes[t->ordinal];
            auto size_int = Fn<U(H, U, U, U)>("sizeof_internal");
            EXPECT_EQ(std::make_tuple(Fn<U(H)>("sizeof")(h), size_int(h, db, 0, 0), size_int(h, db, 1, 0), size_int(h, db, 1, 1), qelrt_live_bytes()),
                      std::make_tuple(s[tr], s[0], s[tr], tr ? s[2] : 0, int64_t(s[tr]))) << mode;
            for (unsigned i = 0; i < t->nfields; ++i)
                if (void *e = Bytes(o, t->fields[i].offset); t->fields[i].kind == Kind::Enum) {
                    EXPECT_EQ(std::make_pair(Tinfo(e), Flags(e)), std::make_pair(Record(t->fields[i].en->name, "enum"), uint8_t(QEL_OF_NESTED)));
                }
        }
        const uint64_t made = Counts(o).created, gone = Counts(o).destroyed;
        Destroy(Create());
        EXPECT_EQ(std::make_pair(Counts(o).created, Counts(o).destroyed), std::make_pair(made + 1, gone + 1));
        Destroy(o);
    }
    h->per_handle_types = 1;
    void *o = Create();
    EXPECT_EQ(std::make_tuple(Tinfo(o), Tinfo(o)->counter_mode, Counts(o).created),
              std::make_tuple((qel_type_info_t *)h->type_dict_lookup_fn(h->type_dict_ctx, db, M().Ti()->signature), 1u, uint64_t{1}));
    Destroy(o);
    EXPECT_EQ(std::make_pair(qelrt_live_bytes(), qelrt_trace_count()), std::make_pair(int64_t{0}, 0u));
}

// An error present gives the null object, which destroy ignores; a failed allocation gives it with 12.
TEST_P(Objects, ChainedConstructorAndItsNullObject) {
    auto create_cr = Fn<void *(H)>("create_cr");
    h->err = 22;
    void *null_obj = create_cr(h), *again = create_cr(h);
    ASSERT_NE(null_obj, nullptr);
    EXPECT_EQ(std::make_tuple(again, Tinfo(null_obj), h->err, h->chained_error, qelrt_alloc_count()),
              std::make_tuple(null_obj, (qel_type_info_t *)nullptr, 22u, 0u, uint64_t{0}));
    qelrt_calls_log(1);
    Destroy(nullptr);
    Destroy(null_obj);
    Fn<void(H, void *)>("destroy_cr")(h, null_obj);
    EXPECT_EQ(std::make_pair(qelrt_free_count(), qelrt_call_total()), std::make_pair(uint64_t{0}, 0u));
    h->err = 0;
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(create_cr(h), null_obj);
    EXPECT_EQ(std::make_pair(h->err, h->chained_error), std::make_pair(12u, 0u));
}

// A damaged type-info record or handle is fatal; a short variant count only a notice.
TEST_P(Objects, DestroyChecksTheTypeInfo) {
    h->per_handle_types = 1;  // damage the handle's copy, not the shared record
    void *o = Create();
    qel_type_info_t *ti = Tinfo(o);
    EXPECT_DEATH({ ti->magic = 0; Destroy(o); }, "tinfo is null or corrupted");
    EXPECT_DEATH({ Tinfo(o) = nullptr; Destroy(o); }, "tinfo is null or corrupted");
    EXPECT_DEATH({ ti->varinfo = nullptr; Destroy(o); }, "varinfo is NULL");
    if (!M().en) {  // enumerations never read the handle's mode
        qelrt_handle_set_mode(h, 0x1234);
        EXPECT_DEATH(Create(), "Corrupted QEL Handle");
        Plain();
    }
    qel_variant_info_t *saved = ti->varinfo, vi = *saved;
    vi.n_variants = -1;
    ti->varinfo = &vi;
    Destroy(o);
    ti->varinfo = saved;
    ASSERT_EQ(qelrt_trace_count(), 1u);
    EXPECT_EQ(std::make_tuple(std::string(qelrt_trace_at(0)->text), qelrt_trace_at(0)->level, qelrt_live_bytes()),
              std::make_tuple(std::string("variant 0 requested only 4294967295 variants present"), U(QEL_TL_NOTICE), int64_t{0}));
}

INSTANTIATE_TEST_SUITE_P(All, Objects, ::testing::ValuesIn(MadeWhere(0)), ParamName());

// ---- what structured types share with enumerations ------------------------------------

// Raw zeroed storage for the queries, whose five trace points follow each other in the type's block.
class Instances : public Objects {
protected:
    std::vector<uint8_t> mem = std::vector<uint8_t>(M().type ? M().type->plain_size : 16, 0);
    uint32_t Point(uint32_t k) const { return M().trace_base + (M().en ? 4 : 10) + k; }
};

// Creation announces the header and counts in the handle's database; containment and platform reports.
TEST_P(Instances, CreateAnnouncesCountsAndReportsContainment) {
    h->database_id = 7;
    h->containment_tracking = 1;
    qelrt_calls_log(1);
    void *o = Fn<void *(H)>("create_cr")(h);
    std::set<std::pair<void *, U>> announced;
    for (U i = 0; i < qelrt_write_count(); ++i) {
        EXPECT_EQ(qelrt_write_at(i)->dbid, 7u);
        if (qelrt_write_at(i)->owner == o) announced.insert({qelrt_write_at(i)->addr, qelrt_write_at(i)->len});
    }
    for (auto [off, len] : {std::pair{0u, 8u}, {8u, 1u}, {9u, 1u}, {10u, 1u}})
        EXPECT_TRUE(announced.count({Bytes(o, off), len})) << "header byte " << off;
    auto inc = Calls("stats_inc_fn");
    ASSERT_EQ(inc.size(), 1u);
    EXPECT_EQ(std::make_tuple(inc[0]->a[1], inc[0]->a[2], inc[0]->a[3]),
              std::make_tuple(reinterpret_cast<uint64_t>(&Counts(o).created), uint64_t{1}, uint64_t{7}));
    Fn<void(H, void *)>("destroy_cr")(h, o);
    EXPECT_EQ(std::make_tuple(Calls("stats_inc_fn").size(), qelrt_call_count("qeldb_record_containment2"),
                              qelrt_call_count("qeldb_plat_set_dirty") + qelrt_call_count("qeldb_plat_set_destroy")),
              std::make_tuple(size_t{2}, 1u, 0u));
    h->per_handle_types = 1;
    db = 3;
    o = Create();
    EXPECT_EQ(Fn<void *(H, U, void *)>("get")(h, db, o), o);
    EXPECT_EQ(qelrt_call_count("qeldb_record_containment2"), 3u) << "create and get record it";
    Destroy(o);
    EXPECT_EQ(std::make_pair(qelrt_call_count("qeldb_plat_set_dirty"), qelrt_call_count("qeldb_plat_set_destroy")), std::make_pair(1u, 1u));
}

// A negative variant is kept, a raised one not; a refused lookup is traced (enumerations made anyway).
TEST_P(Instances, DomainDecidesTheVariantAndItsLookupErrorIsTraced) {
    for (int v : {-2, 3}) {
        qelrt_set_domain_variant(v);
        void *o = Create();
        EXPECT_EQ(Variant(o), v < 0 ? v : 0);
        Destroy(o);
    }
    qelrt_set_domain_variant(0);
    qelrt_set_domain_variant_error(5);
    void *o = Create();
    EXPECT_EQ(o != nullptr, M().en != nullptr);
    if (o) Destroy(o);
    ASSERT_EQ(qelrt_trace_count(), 1u);
    const std::string text = "error in " + std::string(M().name) + (M().en ? " create " : " create: ") + std::strerror(5);
    EXPECT_EQ(TraceAt(0), TracePoint(text, M().trace_base, QEL_TL_ERROR));
    EXPECT_EQ(std::make_pair(qelrt_trace_at(0)->table_no, qelrt_trace_at(0)->module), std::make_pair(uint16_t{1}, g_qel_lomari_trace_module_id));
    if (!M().en) { EXPECT_NE(qelrt_trace_at(0)->module, 0) << "registered on first use, by all but enumerations"; }
    EXPECT_EQ(std::make_pair(h->err, qelrt_live_bytes()), std::make_pair(0u, int64_t{0}));
}

// Internal constructor and destructor (freeing only when asked), LUID, variant adjustment and cap.
TEST_P(Instances, InternalConstructorDestructorLuidAndVariant) {
    for (bool track : {false, true}) {
        track ? Track() : Plain();
        void *o = Fn<void *(H, U)>("create_internal")(h, db);
        ASSERT_NE(o, nullptr);
        qel_variant_record_t &c = Counts(o);
        EXPECT_EQ(c.created - c.destroyed, 1u);
        uint8_t luid[16];
        auto get_luid = Fn<int(H, U, const void *, uint8_t *, U *)>("get_luid");
        EXPECT_EQ(get_luid(h, db, o, luid, &err), 0);
        EXPECT_EQ(std::memcmp(luid, Tinfo(o)->luid, sizeof luid), 0);
        EXPECT_EQ(get_luid(h, db, nullptr, luid, &err), -1);
        EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
        for (void *p : {o, static_cast<void *>(nullptr)}) EXPECT_EQ(Fn<int(H, U, void *, U *)>("adjust_variant")(h, db, p, &err), 0);
        EXPECT_EQ(Err(), 0u);
        auto cap = Fn<U(U)>("variant_data_index_cap");
        EXPECT_EQ(std::make_pair(cap(0x1280u), cap(0x127Fu)), std::make_pair(0x1280u, 0x1200u));
        auto destroy = Fn<void(H, U, void *, U)>("destroy_internal");
        if (M().en) {
            const uint64_t gone = c.destroyed, frees = qelrt_free_count();
            destroy(h, db, o, 0);
            EXPECT_EQ(std::make_tuple(Tinfo(o) != nullptr, c.destroyed, qelrt_free_count()), std::make_tuple(true, gone, frees));
        }
        destroy(h, db, o, 1);
        EXPECT_EQ(std::make_pair(c.created, qelrt_live_bytes()), std::make_pair(c.destroyed, int64_t{0}));
    }
}

// The embedded flag goes on each enumeration field, then the instance, each write announced.
TEST_P(Instances, EmbeddedFlagGoesOnEnumerationFieldsThenTheInstance) {
    std::vector<size_t> flag_bytes;
    for (unsigned i = 0; M().type && i < M().type->nfields; ++i)
        if (M().type->fields[i].kind == Kind::Enum) flag_bytes.push_back(M().type->fields[i].offset + 10);
    flag_bytes.push_back(10);
    mem[10] = QEL_OF_TRACKED;
    qelrt_calls_log(1);
    auto embed = Fn<void(H, U, void *)>("set_instance_embedded");
    embed(h, db, mem.data());
    std::vector<uint8_t> want(mem.size(), 0);
    for (size_t b : flag_bytes) want[b] = QEL_OF_EMBEDDED;
    want[10] |= QEL_OF_TRACKED;
    EXPECT_EQ(mem, want);
    ASSERT_EQ(qelrt_write_count(), flag_bytes.size());
    for (size_t i = 0; i < flag_bytes.size(); ++i) {
        const qelrt_write_t *w = qelrt_write_at(U(i));
        EXPECT_EQ(std::make_tuple(w->addr, w->len, w->owner), std::make_tuple((void *)(mem.data() + flag_bytes[i]), 1u, (void *)mem.data())) << i;
    }
    embed(h, db, nullptr);
    ASSERT_EQ(qelrt_trace_count(), 1u);
    EXPECT_EQ(TraceAt(0), TracePoint(M().en ? "Invalid object handle passed to set embedded flag"
                                            : "Invalid object pointer passed in to set instance flag",
                                     Point(0), QEL_TL_ERROR));
    EXPECT_EQ(h->err, 0u);
}

// No OIDs or table references: a null object is refused with 22, an error present only traced.
TEST_P(Instances, ReferenceQueriesRefuseNullAndTraceAnErrorPresent) {
    auto oid = Fn<U(H, U, void *, U *)>("get_oid_count");
    auto refs = Fn<void(H, U, void *, void *, void *, U *)>("get_object_references");
    const std::function<void(void *)> queries[] = {[&](void *o) { EXPECT_EQ(oid(h, db, o, &err), 0u); },
                                                   [&](void *o) { refs(h, db, o, nullptr, nullptr, &err); }};
    const char *texts[] = {"Invalid object passed in to get object oid count", "Error already present in call to get object oid count",
                           "Cannot get table references. Invalid object passed on",
                           "Error present in call to get table references from object"};
    for (int q = 0; q < 2; ++q) {
        qelrt_trace_clear();
        err = h->err = 0;
        queries[q](mem.data());
        EXPECT_EQ(err + qelrt_trace_count(), 0u);
        queries[q](nullptr);
        EXPECT_EQ(h->err, 22u);
        queries[q](mem.data());
        ASSERT_EQ(qelrt_trace_count(), 2u);
        for (U k = 0; k < 2; ++k)
            EXPECT_EQ(TraceAt(k), TracePoint(texts[2 * q + k], Point(2 * q + 2 - k), k ? QEL_TL_DEBUG : QEL_TL_ERROR));
    }
}

INSTANTIATE_TEST_SUITE_P(All, Instances, ::testing::ValuesIn(MadeWhere(1)), ParamName());

// ---- what only structured types have --------------------------------------------------

using Lifecycle = TypeTest;

// A nested initialize needs a state base and counts nothing; a runtime-placed area is looked up.
TEST_P(Lifecycle, NestedInitializeNeedsAStateBase) {
    Track();
    qel_type_info_t *ti = Tinfo(Make());
    std::vector<uint8_t> buf(T().tracked_size), fresh(buf), again(buf);
    uint8_t base[16];
    auto init = Op<void(H, U, void *, qel_type_info_t *, U, U, uint8_t, uint8_t *, U *)>("initialize");
    init(h, db, buf.data(), ti, 1, 0, QEL_OF_NESTED, nullptr, &err);
    EXPECT_EQ(Err(), 22u);
    EXPECT_EQ(Traced("sttr_base can not be NULL in NESTED case. Please check the parent object "
                     "and provide the correct state tracking base pointer"), 1u);
    const uint64_t made = ti->varinfo->variants[0].created;
    init(h, db, fresh.data(), ti, 0, 1, QEL_OF_NESTED, base, &err);
    EXPECT_EQ(std::make_tuple(err, Flags(fresh.data()), ti->varinfo->variants[0].created),
              std::make_tuple(0u, uint8_t(QEL_OF_NESTED | QEL_OF_TRACKED), made));
    qelrt_calls_log(1);
    init(h, db, again.data(), ti, 0, 0, QEL_OF_STTR_RT, nullptr, &err);
    qelrt_calls_log(0);
    EXPECT_EQ(err, 0u);
    ASSERT_EQ(Calls("qellib_get_sttr_offset").size(), 1u);
    EXPECT_EQ(Calls("qellib_get_sttr_offset")[0]->a[1], reinterpret_cast<uint64_t>(again.data()));
    EXPECT_EQ(ty.Hash(again.data(), 9), ty.Hash(Make(), 9));
    Op<void(H, U, void *, U)>("destroy_internal")(h, db, again.data(), 0);
    EXPECT_EQ(Tinfo(again.data()), ti);
}

// Destroy follows the flags: OID and handle mappings removed (refused: the object stays), own records freed.
TEST_P(Lifecycle, DestroyFollowsTheFlags) {
    const char *failed = " destroy: Failed to remove oid mapping for object. Error Input/output error";
    struct { uint8_t flags; int answer; uint32_t error, hd_error; const char *tail; } cases[] = {
        {QEL_OF_OID_MAPPING, 1, 0, 0, " destroy: Successfully removed OID mapping"},
        {QEL_OF_OID_MAPPING, 0, 0, 0, " destroy: Object has references and will be cleaned up when all of them are released"},
        {QEL_OF_OID_MAPPING, 1, 5, 0, failed},
        {QEL_OF_HD_MAPPING, 1, 0, 0, ""},
        {QEL_OF_HD_MAPPING, 1, 0, 5, failed},
        {QEL_OF_TRACKED | QEL_OF_STTR_RT, 1, 0, 0, ""},
        {QEL_OF_OWN_TINFO, 1, 0, 0, ""},
    };
    int mappings = 0;  // the handle keeps handle mappings
    h->hd_mapping = &mappings;
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.flags));
        h->err = 0;
        qelrt_trace_clear();
        void *o = Create();
        Flags(o) |= c.flags;
        if (c.flags & QEL_OF_OWN_TINFO) Tinfo(o) = new (h->alloc_fn(h->alloc_ctx, db, sizeof(qel_type_info_t))) qel_type_info_t(*Tinfo(o));
        qelrt_set_oid_mapping_answer(c.answer, c.error);
        qelrt_set_hd_mapping_answer(c.hd_error);
        qelrt_calls_clear();
        qelrt_calls_log(1);
        Destroy(o);
        qelrt_calls_log(0);
        EXPECT_EQ(std::make_tuple(qelrt_call_count("qellib_get_sttr_offset") > 0, qelrt_call_count("qel_hd_mapping_destroy"),
                                  qelrt_trace_count(), h->err),
                  std::make_tuple((c.flags & QEL_OF_STTR_RT) != 0, c.flags & (QEL_OF_HD_MAPPING | QEL_OF_STTR_RT) ? 1u : 0u,
                                  *c.tail ? 1u : 0u, c.error + c.hd_error));
        EXPECT_EQ(Traced((T().name + std::string(c.tail)).c_str()), qelrt_trace_count());
        if (c.answer && !c.error && !c.hd_error) continue;
        EXPECT_NE(Tinfo(o), nullptr) << "the object stays";
        Flags(o) = 0;
        Destroy(o);
    }
    h->hd_mapping = nullptr;
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

INSTANTIATE_TEST_SUITE_P(Types, Lifecycle, ::testing::ValuesIn(AllTypes()), ParamName());

// ---- what only enumerations have -------------------------------------------------------

struct Inst {
    qel_type_info_t *tinfo;
    int8_t variant;
    uint8_t variant_cap;
    uint8_t flags;
    uint32_t value;
};
static_assert(sizeof(Inst) == sizeof(spi4_priority));

class Enums : public Objects {
protected:
    const EnumDesc &E() const { return *M().en; }
    Inst *New() { return static_cast<Inst *>(Create()); }
    void Put(Inst *o, U v) { Fn<void(H, U, void *, U, U *)>("set_value")(h, db, o, v, &err); }
    void Copy(Inst *dst, const Inst *src) { Fn<void(H, U, void *, const void *, U *)>("set")(h, db, dst, src, &err); }
    U Value(const Inst *o) { return Fn<U(H, U, const void *, U *)>("get_value")(h, db, o, &err); }
    static std::vector<uint8_t> Raw(const Inst *o) { return {Bytes((void *)o), Bytes((void *)o) + sizeof *o}; }
};

// Initialize prepares an embedded instance without counting; with no record, the handle's copy.
TEST_P(Enums, InitializePreparesAnEmbeddedInstanceWithoutCounting) {
    auto init = Fn<void(H, U, void *, qel_type_info_t *, U, U, uint8_t, uint8_t *, U *)>("initialize");
    qel_type_info_t *ti = M().Ti();
    const uint64_t made = ti->varinfo->variants[0].created;
    qelrt_calls_log(1);
    for (U notify : {0u, 1u}) {
        qelrt_calls_clear();
        Inst slot{nullptr, 0, 0, QEL_OF_EMBEDDED, 0};
        qelrt_set_domain_variant(-1);
        init(h, db, &slot, ti, notify, 0, QEL_OF_NESTED, nullptr, &err);
        EXPECT_EQ(std::make_tuple(slot.tinfo, slot.variant, slot.flags, slot.value, err, qelrt_write_count() > 0, qelrt_call_count("stats_inc_fn")),
                  std::make_tuple(ti, int8_t(-1), uint8_t(QEL_OF_EMBEDDED | QEL_OF_NESTED), 0u, 0u, notify == 1, 0u)) << notify;
    }
    EXPECT_EQ(ti->varinfo->variants[0].created, made);
    h->per_handle_types = 1;
    Inst slot{};
    init(h, db, &slot, nullptr, 1, 0, 0, nullptr, &err);
    EXPECT_EQ(slot.tinfo, h->type_dict_lookup_fn(h->type_dict_ctx, db, ti->signature));
}

// Values below the bound are stored, the bound only past variant 0; set copies the header too; errors.
TEST_P(Enums, ValuesBelowTheBoundSetCopiesTheWholeInstanceAndValidity) {
    Inst *o = New(), *dst = New(), *fresh = New();
    o->value = 1;
    err = 22;  // an error present makes value operations inert; a null instance is refused with 22
    qelrt_calls_log(1);
    EXPECT_EQ(Value(o), 0u);
    Put(o, 0);
    Copy(o, o);
    EXPECT_EQ(std::make_pair(o->value, err), std::make_pair(1u, 22u));
    EXPECT_EQ(qelrt_trace_count() + qelrt_call_count("qel_clear_last_error") + qelrt_write_count(), 0u);
    err = 0;
    EXPECT_EQ(Value(nullptr), 0u);
    EXPECT_EQ(std::make_pair(Err(), h->err), std::make_pair(22u, 22u));
    Copy(o, nullptr);
    EXPECT_EQ(std::make_pair(Err(), Fn<void *(H, U, void *)>("get")(h, db, nullptr)), std::make_pair(22u, (void *)nullptr));
    h->err = 0;
    qelrt_calls_clear();
    Put(o, E().bound - 1);
    EXPECT_EQ(std::make_tuple(err, qelrt_call_count("qellib_adjust_variant"), qelrt_call_count("qel_clear_last_error")), std::make_tuple(0u, 1u, 1u));
    ASSERT_EQ(qelrt_write_count(), 1u) << "only the value is announced";
    EXPECT_EQ(std::make_pair(qelrt_write_at(0)->addr, qelrt_write_at(0)->len), std::make_pair((void *)&o->value, 4u));
    EXPECT_EQ(Value(o), E().bound - 1);
    o->variant_cap = 5;
    o->flags = QEL_OF_EMBEDDED;
    qelrt_calls_clear();
    Copy(dst, o);
    EXPECT_EQ(std::make_pair(err, Raw(dst)), std::make_pair(0u, Raw(o)));
    ASSERT_EQ(qelrt_write_count(), 1u);
    EXPECT_EQ(std::make_pair(qelrt_write_at(0)->addr, qelrt_write_at(0)->len), std::make_pair((void *)dst, 16u));
    const auto before = Raw(fresh);
    Put(fresh, E().bound);
    EXPECT_EQ(std::make_tuple(Err(), h->err, Raw(fresh)), std::make_tuple(43u, 43u, before));
    o->value = E().bound;  // a source out of range, refused on variant 0
    Copy(fresh, o);
    EXPECT_EQ(std::make_pair(Err(), Raw(fresh)), std::make_pair(43u, before));
    qelrt_force_instance_variant(1, 1);  // a raised variant accepts values past the names
    Put(fresh, E().bound);
    qelrt_force_instance_variant(0, 0);
    EXPECT_EQ(std::make_pair(err, fresh->value), std::make_pair(0u, E().bound));
    auto valid = Fn<int(H, int32_t)>("is_valid_cr");
    h->err = 0;
    EXPECT_EQ(std::make_pair(valid(h, int32_t(E().bound) - 1), valid(h, int32_t(E().bound))), std::make_pair(1, 0));
    EXPECT_EQ(h->err, 0u);
    qelrt_set_domain_variant_error(5);
    valid(h, 0);
    EXPECT_EQ(h->err, 5u);
    for (Inst *x : {o, dst, fresh}) Destroy(x);
}

INSTANTIATE_TEST_SUITE_P(All, Enums, ::testing::ValuesIn(MadeWhere(2)), ParamName());

}  // namespace
