// Life of every object the library makes -- the 17 structured types, the 4
// enumerations and the 9 messages: new objects per handle mode, counting,
// the chained-error constructor, the fatal destroy paths.  Structured types
// and enumerations: header announcements, the domain's variant, containment
// reports, the embedded flag, the reference queries, the internal
// constructor, LUID and variant adjustment.  Structured types only: nested
// initialize, OID-mapping outcomes, pointer getters and member validity.
#include <functional>
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
std::vector<const Made *> MadeWhere(bool instances_only) {
    std::vector<const Made *> v;
    for (const Made &m : kMade)
        if (!instances_only || m.type || m.en) v.push_back(&m);
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
    void *Create() { return Api<void *(H, U)>(M().name, "create")(h, db); }
    void Destroy(void *o) { Api<void(H, U, void *)>(M().name, "destroy")(h, db, o); }
};

// Structured types also have the sizes the domain fixes, nested
// enumeration fields and an empty list (both ends at the anchor).  With
// per-handle types an object refers to the handle's registered copy, whose
// counters are plain adds of their own.
TEST_P(Objects, NewInEachModeSizedCountedAndReleased) {
    for (uint32_t mode : {0u, QEL_CHECK_PLAIN, QEL_CHECK_TRACK}) {
        qelrt_handle_set_mode(h, mode);
        const bool tr = mode == QEL_CHECK_TRACK;
        void *o = Create();
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(Tinfo(o), M().Ti());
        EXPECT_EQ(std::make_pair(Variant(o), Bytes(o)[9]), std::make_pair(int8_t(0), uint8_t(0)));
        EXPECT_EQ(Flags(o), tr && !M().en ? QEL_OF_TRACKED : 0) << "enumerations never track";
        if (const TypeDesc *t = M().type) {
            const uint32_t *s = kSizes[t->ordinal];
            auto size_int = Api<U(H, U, U, U)>(M().name, "sizeof_internal");
            EXPECT_EQ(Api<U(H)>(M().name, "sizeof")(h), s[tr]) << mode;
            EXPECT_EQ(size_int(h, db, 0, 0), s[0]);
            EXPECT_EQ(size_int(h, db, 1, 0), s[tr]);
            EXPECT_EQ(size_int(h, db, 1, 1), tr ? s[2] : 0);
            EXPECT_EQ(qelrt_live_bytes(), s[tr]);
            for (unsigned i = 0; i < t->nfields; ++i) {
                const FieldDesc &f = t->fields[i];
                if (f.kind != Kind::Enum) continue;
                EXPECT_EQ(Tinfo(Bytes(o, f.offset)), Record(f.en->name, "enum")) << f.name;
                EXPECT_EQ(Flags(Bytes(o, f.offset)), QEL_OF_NESTED) << f.name;
            }
            if (void *anchor = Bytes(o, t->anchor_off); IsListOwner(*t)) {
                EXPECT_EQ(std::make_tuple(Word(o, t->anchor_off), Word(o, t->anchor_off + 8), Word(o, t->anchor_off + 16)),
                          std::make_tuple(anchor, anchor, o));
            }
        }
        const uint64_t made = Counts(o).created, gone = Counts(o).destroyed;
        Destroy(Create());
        EXPECT_EQ(std::make_pair(Counts(o).created, Counts(o).destroyed), std::make_pair(made + 1, gone + 1));
        Destroy(o);
    }
    h->per_handle_types = 1;
    void *o = Create();
    EXPECT_EQ(Tinfo(o), h->type_dict_lookup_fn(h->type_dict_ctx, db, M().Ti()->signature));
    EXPECT_EQ(Tinfo(o)->counter_mode, 1u);
    EXPECT_EQ(Counts(o).created, 1u);
    Destroy(o);
    EXPECT_EQ(qelrt_live_bytes(), 0);
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

TEST_P(Objects, ChainedConstructorAndItsNullObject) {
    auto create_cr = Api<void *(H)>(M().name, "create_cr");
    h->err = 22;  // an error already present: the null object, nothing allocated
    void *null_obj = create_cr(h);
    ASSERT_NE(null_obj, nullptr);
    EXPECT_EQ(create_cr(h), null_obj);
    EXPECT_EQ(Tinfo(null_obj), nullptr);
    EXPECT_EQ(std::make_pair(h->err, h->chained_error), std::make_pair(22u, 0u));
    EXPECT_EQ(qelrt_alloc_count(), 0u);
    qelrt_calls_log(1);
    Destroy(nullptr);
    Destroy(null_obj);
    Api<void(H, void *)>(M().name, "destroy_cr")(h, null_obj);
    EXPECT_EQ(qelrt_free_count(), 0u);
    EXPECT_EQ(qelrt_call_total(), 0u) << "nothing counted";

    h->err = 0;  // a failing allocation stores 12 only in the chained form
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(create_cr(h), null_obj);
    EXPECT_EQ(std::make_pair(h->err, h->chained_error), std::make_pair(12u, 0u));
    h->err = 0;
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

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
    // A variant count short of the object's variant is only a notice.
    qel_variant_info_t *saved = ti->varinfo, vi = *saved;
    vi.n_variants = -1;
    ti->varinfo = &vi;
    Destroy(o);
    ti->varinfo = saved;
    ASSERT_EQ(qelrt_trace_count(), 1u);
    EXPECT_STREQ(qelrt_trace_at(0)->text, "variant 0 requested only 4294967295 variants present");
    EXPECT_EQ(qelrt_trace_at(0)->level, QEL_TL_NOTICE);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

INSTANTIATE_TEST_SUITE_P(All, Objects, ::testing::ValuesIn(MadeWhere(false)), ParamName());

// ---- what structured types share with enumerations ------------------------------------

using Instances = Objects;

TEST_P(Instances, CreateAnnouncesItsHeaderAndCountsInTheHandlesDatabase) {
    h->database_id = 7;
    qelrt_calls_log(1);
    void *o = Api<void *(H)>(M().name, "create_cr")(h);
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
    Api<void(H, void *)>(M().name, "destroy_cr")(h, o);
    EXPECT_EQ(Calls("stats_inc_fn").size(), 2u);
}

TEST_P(Instances, DomainDecidesTheVariantAndItsLookupErrorIsTraced) {
    for (int v : {-2, 3}) {  // a negative variant is kept, a raised one is not
        qelrt_set_domain_variant(v);
        void *o = Create();
        EXPECT_EQ(Variant(o), v < 0 ? v : 0);
        Destroy(o);
    }
    qelrt_set_domain_variant(0);
    qelrt_set_domain_variant_error(5);  // an enumeration is made anyway, a structured instance is not
    void *o = Create();
    EXPECT_EQ(o != nullptr, M().en != nullptr);
    if (o) Destroy(o);
    ASSERT_EQ(qelrt_trace_count(), 1u);
    const std::string text = "error in " + std::string(M().name) + (M().en ? " create " : " create: ") + std::strerror(5);
    EXPECT_EQ(TraceAt(0), TracePoint(text, M().trace_base, QEL_TL_ERROR));
    EXPECT_EQ(qelrt_trace_at(0)->table_no, 1);
    EXPECT_EQ(qelrt_trace_at(0)->module, g_qel_lomari_trace_module_id);
    // Enumeration constructors do not register the module; the others do on first use.
    if (!M().en) { EXPECT_NE(qelrt_trace_at(0)->module, 0); }
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(Instances, ContainmentAndPlatformReports) {
    h->containment_tracking = 1;
    qelrt_calls_log(1);
    Destroy(Create());
    EXPECT_EQ(qelrt_call_count("qeldb_record_containment2"), 1u);
    EXPECT_EQ(qelrt_call_count("qeldb_plat_set_dirty") + qelrt_call_count("qeldb_plat_set_destroy"), 0u)
        << "no platform reports without a database";
    h->per_handle_types = 1;
    db = 3;
    void *o = Create();
    EXPECT_EQ(Api<void *(H, U, void *)>(M().name, "get")(h, db, o), o);
    EXPECT_EQ(qelrt_call_count("qeldb_record_containment2"), 3u) << "create and get record it";
    Destroy(o);
    EXPECT_EQ(qelrt_call_count("qeldb_plat_set_dirty"), 1u);
    EXPECT_EQ(qelrt_call_count("qeldb_plat_set_destroy"), 1u);
}

// The internal constructor and destructor count like the public ones; the
// LUID is the type-info record's; the variant adjustment has nothing to do.
TEST_P(Instances, InternalConstructorLuidAndVariant) {
    for (bool track : {false, true}) {
        track ? Track() : Plain();
        void *o = Api<void *(H, U)>(M().name, "create_internal")(h, db);
        ASSERT_NE(o, nullptr);
        qel_variant_record_t &c = Counts(o);
        EXPECT_EQ(c.created - c.destroyed, 1u);
        uint8_t luid[16];
        auto get_luid = Api<int(H, U, const void *, uint8_t *, U *)>(M().name, "get_luid");
        EXPECT_EQ(get_luid(h, db, o, luid, &err), 0);
        EXPECT_EQ(std::memcmp(luid, Tinfo(o)->luid, sizeof luid), 0);
        EXPECT_EQ(get_luid(h, db, nullptr, luid, &err), -1);
        EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
        for (void *p : {o, static_cast<void *>(nullptr)})
            EXPECT_EQ(Api<int(H, U, void *, U *)>(M().name, "adjust_variant")(h, db, p, &err), 0);
        EXPECT_EQ(Err(), 0u);
        // Index bytes with the high bit keep their value; others keep the upper bits.
        auto cap = Api<U(U)>(M().name, "variant_data_index_cap");
        EXPECT_EQ(cap(0x1280u), 0x1280u);
        EXPECT_EQ(cap(0x127Fu), 0x1200u);
        Api<void(H, U, void *, U)>(M().name, "destroy_internal")(h, db, o, 1);
        EXPECT_EQ(c.created, c.destroyed);
        EXPECT_EQ(qelrt_live_bytes(), 0);
    }
}

// The queries below work on raw zeroed storage; their five trace points
// follow each other in the type's or enumeration's block.
class Queries : public Objects {
protected:
    std::vector<uint8_t> mem = std::vector<uint8_t>(M().type ? M().type->plain_size : 16, 0);
    uint32_t Point(uint32_t k) const { return M().trace_base + (M().en ? 4 : 10) + k; }
};

TEST_P(Queries, EmbeddedFlagGoesOnEnumerationFieldsThenTheInstance) {
    std::vector<size_t> flag_bytes;
    for (unsigned i = 0; M().type && i < M().type->nfields; ++i)
        if (M().type->fields[i].kind == Kind::Enum) flag_bytes.push_back(M().type->fields[i].offset + 10);
    flag_bytes.push_back(10);
    mem[10] = QEL_OF_TRACKED;
    qelrt_calls_log(1);
    auto embed = Api<void(H, U, void *)>(M().name, "set_instance_embedded");
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

// Nothing here holds OIDs or table references: a null object is refused
// with 22, an error already present is only traced.
TEST_P(Queries, ReferenceQueriesRefuseNullAndTraceAnErrorPresent) {
    auto oid = Api<U(H, U, void *, U *)>(M().name, "get_oid_count");
    auto refs = Api<void(H, U, void *, void *, void *, U *)>(M().name, "get_object_references");
    const std::function<void(void *)> queries[] = {[&](void *o) { EXPECT_EQ(oid(h, db, o, &err), 0u); },
                                                   [&](void *o) { refs(h, db, o, nullptr, nullptr, &err); }};
    const char *texts[] = {"Invalid object passed in to get object oid count",
                           "Error already present in call to get object oid count",
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

INSTANTIATE_TEST_SUITE_P(All, Instances, ::testing::ValuesIn(MadeWhere(true)), ParamName());
INSTANTIATE_TEST_SUITE_P(All, Queries, ::testing::ValuesIn(MadeWhere(true)), ParamName());

// ---- what only structured types have --------------------------------------------------

using Lifecycle = TypeTest;

TEST_P(Lifecycle, NestedInitializeNeedsAStateBase) {
    Track();
    qel_type_info_t *ti = Tinfo(Make());
    std::vector<uint8_t> buf(T().tracked_size);
    uint8_t base[16];
    auto init = Op<void(H, U, void *, qel_type_info_t *, U, U, uint8_t, uint8_t *, U *)>("initialize");
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

    // A runtime-placed state area is looked up.  Without notify a list
    // owner's anchor is left alone: zeroed, it hashes as an empty list and
    // its destroy finds nothing to release.
    std::vector<uint8_t> again(T().tracked_size);
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

// What destroy asks of the runtime follows the object's flags: an OID
// mapping is removed first (still referenced: the object stays; failed: its
// code, and it stays); a runtime-placed state area is looked up; a handle
// mapping is removed when the handle keeps them (failed: its code, and the
// object stays); a type-info record of the object's own goes with it.
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
        if (c.flags & QEL_OF_OWN_TINFO) {
            auto *own = static_cast<qel_type_info_t *>(h->alloc_fn(h->alloc_ctx, db, sizeof(qel_type_info_t)));
            *own = *Tinfo(o);
            Tinfo(o) = own;
        }
        qelrt_set_oid_mapping_answer(c.answer, c.error);
        qelrt_set_hd_mapping_answer(c.hd_error);
        qelrt_calls_clear();
        qelrt_calls_log(1);
        Destroy(o);
        qelrt_calls_log(0);
        EXPECT_EQ(qelrt_call_count("qellib_get_sttr_offset") > 0, (c.flags & QEL_OF_STTR_RT) != 0);
        EXPECT_EQ(qelrt_call_count("qel_hd_mapping_destroy"), c.flags & (QEL_OF_HD_MAPPING | QEL_OF_STTR_RT) ? 1u : 0u);
        EXPECT_EQ(qelrt_trace_count(), *c.tail ? 1u : 0u);
        EXPECT_EQ(Traced((T().name + std::string(c.tail)).c_str()), qelrt_trace_count());
        EXPECT_EQ(h->err, c.error + c.hd_error);
        if (c.answer && !c.error && !c.hd_error) continue;
        EXPECT_NE(Tinfo(o), nullptr) << "the object stays";
        Flags(o) = 0;
        Destroy(o);
    }
    h->hd_mapping = nullptr;
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

// The pointer getters land on the field (an enumeration: its embedded
// instance), and the validity query answers by member index.
TEST_P(Lifecycle, PointerGettersAndMemberValidity) {
    void *o = made_.emplace_back(Filler(T().ordinal).Make(h, db, T(), 0));
    for (unsigned i = 0; i < T().nfields; ++i)
        if (const FieldDesc &f = T().fields[i]; Valued(f)) {
            EXPECT_EQ(ty.FOp<void *(H, U, void *, U *)>(f, "get")(h, db, o, &err), Bytes(o, f.offset)) << f.name;
        }
    EXPECT_EQ(err, 0u);
    auto valid = Op<int(H, void *, U, U)>("is_valid_cr");
    for (U flags : {0u, 1u}) {
        EXPECT_EQ(valid(h, o, 0, flags), 1);
        EXPECT_EQ(valid(h, o, T().member_bound - 1, flags), 1);
        EXPECT_EQ(valid(h, o, T().member_bound, flags), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, Lifecycle, ::testing::ValuesIn(AllTypes()), ParamName());

}  // namespace
