// The six tables and their records.  Tables: opening (create mode,
// open-existing, names, automatic ids, failures and their trace texts, the
// write lock), freeing, record references, insert and delete with
// duplicates, shadows, tenants and primary-key-only states, a randomized
// sequence against an ordered model and every lookup form against a
// reference model.  Records: bytes, text and XML (fields filled at random
// and compared with their types' comparison), keys, callbacks without the
// application's handlers, and field access.  Every case runs over all six
// tables (allocation failure: see alloc_sweep_test.cpp).
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "fixture.h"
#include "qel/rt_control_db.h"
#include "qel/rt_msg.h"

namespace {

using namespace lt;

struct TableCase {
    const char *name;
    std::vector<const char *> parts;  // the record's fields, by type
    const char *field;                // the key field of the key-owning part
    U keypart;                        // the part holding the key
    bool str;                         // a 31-character key, else unsigned 32 bits
    const char *second;               // entry-point prefix of the second index, if any

    U nparts() const { return U(parts.size()); }
    U nindex() const { return second ? 2 : 1; }
    const char *keytype() const { return parts[keypart]; }
};

// In the order of kTables.
const TableCase kCases[] = {
    {"tarnok_header_ids", {"tarnok_rec_fields", "vep_tarnok_body"}, "dbkey", 0, true, nullptr},
    {"im_if_flow_control", {"flow_if_rec_fields", "im_if_fctrl_body"}, "kalvi_id", 1, false, "im_if_flow_control_im_if_fctrl_body_"},
    {"im_vep_flow_control", {"flow_vep_rec_fields", "im_vep_fctrl_body"}, "dbkey", 0, true, nullptr},
    {"non_aps_headers", {"cc_ids"}, "cc_slot", 0, false, nullptr},
    {"global_aps_headers", {"aps_control_data"}, "my_row_id", 0, false, nullptr},
    {"global_flow_control", {"flow_id_pool"}, "my_range_id", 0, false, nullptr},
};

const TypeDesc &TypeNamed(const std::string &n) {
    for (const TypeDesc &t : kTypes)
        if (n == t.name) return t;
    throw std::runtime_error("no type " + n);
}
std::string LuidText(const char *table) { return *Api<const char[33]>("table", std::string(table) + "_luid_text"); }
U Be32(const uint8_t *p) { return U(p[0]) << 24 | U(p[1]) << 16 | U(p[2]) << 8 | p[3]; }

using Tbl = qeldb_table_head_t;
using Rec = qeldb_record_head_t;
struct Root {
    e_avl_node_t *root;
    uint64_t companion;
};
constexpr uint32_t kRecHead = sizeof(Rec), kNode = sizeof(e_avl_node_t), kFrame = 43;
constexpr U kBig = 1u << 16, kKey32 = 305419896;
Tbl *Tb(void *t) { return static_cast<Tbl *>(t); }
Rec *Rc(void *r) { return static_cast<Rec *>(r); }

// A key as records and probes hold it: 31 characters, or 32 bits.
void WriteKey(void *o, bool str, uint32_t key) {
    if (str)  // "key-" and ten digits, padded to the 31 characters a key holds
        std::snprintf(static_cast<char *>(o), 32, "key-%010u-padding-to-31chr", key);
    else
        std::memcpy(o, &key, 4);
}

// One table per test, on a handle as qelrt_handle_new makes it (opening a
// table gives it its key/range store); tables and records made here are
// released at its end, and nothing may outlive it.
class Tables : public Lomari, public ::testing::WithParamInterface<const TableCase *> {
protected:
    void SetUp() override {
        Lomari::SetUp();
        live0 = qelrt_live_bytes();
        key_off = KeyOffset();
    }
    void TearDown() override {
        EXPECT_EQ(err, 0u);
        qelrt_db_reset();
        qelrt_set_tenant_id(0);
        err = 0;
        h->gc_context = 1;  // frees even where the TOC is shared
        for (void *r : std::vector<void *>(recs_)) Destroy(r);
        for (void *t : std::vector<void *>(tables_)) Free(t);
        EXPECT_EQ(err, 0u);
        ReleaseIdRoots(h);
        EXPECT_EQ(qelrt_live_bytes(), live0) << "leaked";
        Lomari::TearDown();
    }
    const TableCase &C() const { return *GetParam(); }
    template <class F>
    F *Op(const std::string &op) const { return Api<F>(C().name, op); }
    Ty Part(U p) const { return Ty{TypeNamed(C().parts[p])}; }
    U Last() const { return C().nparts() - 1; }
    U KeyOffset() const {
        const TypeDesc &t = Part(C().keypart).t;
        for (U i = 0; i < t.nfields; ++i)
            if (std::strcmp(t.fields[i].name, C().field) == 0) return t.fields[i].offset;
        ADD_FAILURE() << "no key field";
        return 0;
    }

    // ---- tables, freed at the end unless freed before
    void *Open(const char *name, U type = 0) { return Held(Op<void *(H, U, const char *, U, U *)>("table_open")(h, db, name, type, &err)); }
    void *OpenId(uint64_t id, U type = 0) { return Held(Op<void *(H, U, uint64_t, U, U *)>("table_open_by_id")(h, db, id, type, &err)); }
    void *OpenAuto(U type = 0) { return Held(Op<void *(H, U, U, U *)>("table_open_auto_id")(h, db, type, &err)); }
    void *Held(void *t) {
        if (t && std::find(tables_.begin(), tables_.end(), t) == tables_.end()) tables_.push_back(t);
        return t;
    }
    void Free(void *t, const char *op = "table_free") {
        Op<void(H, U, void *, U *)>(op)(h, db, t, &err);
        std::erase(tables_, t);
    }
    Root *Roots(void *t) { return reinterpret_cast<Root *>(Tb(t) + 1); }

    // ---- records, destroyed at the end unless destroyed before
    void *Keep(void *r) { return r ? recs_.emplace_back(r) : r; }
    void Destroy(void *r) {
        Op<void(H, U, void *, U *)>("destroy_record")(h, db, r, &err);
        std::erase(recs_, r);
    }
    // With its field objects and key set.
    void *Make(uint32_t key, uint8_t source = 1) {
        void *r = Keep(Op<void *(H, U)>("record_create_cr")(h, 1));
        Rc(r)->source = source;
        WriteKey(Bytes(KeyObj(r), key_off), C().str, key);
        return r;
    }
    void *KeyObj(void *r) { return Word(r, kRecHead + kNode * C().nindex() + 8 * C().keypart); }
    uint32_t KeyOf(void *r) {
        return C().str ? std::stoul(static_cast<char *>(KeyObj(r)) + key_off + 4) : Word<uint32_t>(KeyObj(r), key_off);
    }
    // Insert, delete and request destruction: the error word, cleared.
    U Insert(void *t, void *r, bool pkey = false) { return Call(pkey ? "pkey_insert" : "insert", t, r); }
    U Delete(void *t, void *r, bool pkey = false) { return Call(pkey ? "pkey_delete" : "delete", t, r); }
    U Call(const char *op, void *t, void *r) {
        Op<void(H, U, void *, void *, U *)>(op)(h, db, t, r, &err);
        return Err();
    }

    // The records of index i in order, checking the tree's balance and count.
    std::vector<void *> Walk(void *t, uint32_t i) {
        std::vector<void *> v;
        std::pair<std::vector<void *> *, uint32_t> ctx{&v, kRecHead + kNode * i};
        e_avl_walk(Roots(t)[i].root, [](void *n, void *c, void *, void *, void *) {
            auto *x = static_cast<decltype(ctx) *>(c);
            x->first->push_back(static_cast<uint8_t *>(n) - x->second);
            return 0;
        }, &ctx, nullptr, nullptr, nullptr);
        const e_avl_node_t *root = Roots(t)[i].root;
        EXPECT_LE(root ? root->height : 0, 1.4405 * std::log2(v.size() + 2.0));
        EXPECT_EQ(Roots(t)[i].companion, v.size());
        return v;
    }

    // ---- records as bytes, text and XML
    template <class F>
    F *PartOp(U p, const char *op) const { return Op<F>(std::string(C().parts[p]) + "_" + op); }
    void *New() { return Keep(Op<void *(H, U, U *)>("create_record")(h, db, &err)); }
    void *Get(void *r, U p, const char *op = "get_field") { return PartOp<void *(H, U, void *)>(p, op)(h, db, r); }
    void Set(void *r, U p, void *o, const char *op = "set_field") { PartOp<void(H, U, void *, void *)>(p, op)(h, db, r, o); }
    // A record whose first `parts` fields are filled at random.
    void *Fill(uint32_t seed, U parts = ~0u) {
        void *r = New();
        Filler f(seed);
        for (U p = 0; p < std::min(parts, C().nparts()); ++p) Set(r, p, f.Make(h, db, Part(p).t, 3));
        return r;
    }
    bool Same(void *a, void *b) {
        for (U p = 0; p < C().nparts(); ++p)
            if (Part(p).Compare(Get(a, p), Get(b, p)) != 0) return false;
        return true;
    }
    uint8_t *KeyBytes(void *r) { return Bytes(Get(r, C().keypart), key_off); }
    U Marshal(void *r, uint8_t *b, U n) { return Op<U(H, U, uint8_t *, void *, U, U *)>("table_record_marshal")(h, db, b, r, n, &err); }
    U Len(void *r) { return Op<U(H, U, void *)>("table_record_len")(h, db, r); }
    std::vector<uint8_t> Encode(void *r) {
        std::vector<uint8_t> b(kBig);
        b.resize(Marshal(r, b.data(), kBig));
        EXPECT_EQ(Err(), 0u);
        return b;
    }
    U Unmarshal(void **r, const std::vector<uint8_t> &b, U in_place) {
        U n = Op<U(H, U, void **, const uint8_t *, U, U, U *)>("table_record_unmarshal")(h, db, r, b.data(), U(b.size()),
                                                                                       in_place, &err);
        if (!in_place) Keep(*r);
        return n;
    }
    std::string Xml(void *r) {
        std::string s(kBig, '\0');
        s.resize(Op<U(H, U, char *, void *, U, U *)>("table_record_to_xml")(h, db, s.data(), r, kBig, &err));
        return s;
    }
    void *FromXml(const std::string &text) {
        char msg[256];
        qel_xml_doc_t *d = qel_xml_parse_memory(h, text.data(), U(text.size()), 0, msg, sizeof msg, &err);
        EXPECT_NE(d, nullptr) << msg;
        void *r = Op<void *(H, U, qel_xml_doc_t *, U *, char *, U)>("table_record_from_xml")(h, db, d, &err, msg,
                                                                                          sizeof msg);
        qel_xml_doc_free(d);
        return Keep(r);
    }

    uint32_t key_off = 0;
    std::vector<void *> tables_, recs_;
    int64_t live0 = 0;
};
class Records : public Tables {};

// ---- opening ---------------------------------------------------------------------

TEST_P(Tables, OpenByNameCreatesOnceFindsAfterAndAutomaticIdsFollowTheLargest) {
    EXPECT_EQ(Open("absent", 1), nullptr);  // open-existing of nothing: no table, no error
    EXPECT_EQ(err, 0u);
    void *t = Open("plain");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(Open("plain"), t);
    EXPECT_EQ(Open("plain", 1), t);
    EXPECT_EQ(std::string(Tb(t)->name), "plain/" + LuidText(C().name));
    void *full = Open("db/full-name");
    EXPECT_STREQ(Tb(full)->name, "db/full-name");
    EXPECT_NE(full, t);
    EXPECT_EQ(Tinfo(t), Record(C().name, "table"));
    EXPECT_EQ(qelrt_db_toc_size(h), 2u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 2u);
    EXPECT_EQ(Counts(t).created - Counts(t).destroyed, 2u);
    // A name whose full form does not fit is refused.
    EXPECT_EQ(Open(std::string(190, 'n').c_str()), nullptr);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_TOO_BIG});
    // Close changes nothing; close_cr with how 1 frees.
    Op<void(H, U, void *, U *)>("table_close")(h, db, t, &err);
    EXPECT_EQ(Open("plain", 1), t);
    h->err = 0;
    Op<void(H, void *, U)>("table_close_cr")(h, full, 1);
    std::erase(tables_, full);
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(qelrt_db_toc_size(h), 1u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 1u);
    EXPECT_EQ(Open("db/full-name", 1), nullptr);

    // Automatic ids follow the largest id.
    EXPECT_EQ(OpenAuto(1), nullptr);  // needs create mode
    EXPECT_EQ(err, 0u);
    std::vector<uint64_t> ids;
    for (int i = 0; i < 3; ++i) ids.push_back(Tb(OpenAuto())->table_id);
    void *ten = OpenId(10);
    EXPECT_EQ(OpenId(10), ten);
    ids.push_back(Tb(OpenAuto())->table_id);
    EXPECT_EQ(ids, (std::vector<uint64_t>{0, 1, 2, 11}));
    EXPECT_TRUE(Tb(OpenAuto())->flags & QELDB_TABLE_DYNAMIC);
    EXPECT_EQ(OpenId(99, 1), nullptr);
    EXPECT_EQ(err, 0u);
    // The type's id-keyed root counts the id-keyed tables.
    std::string k = "__qel_TBI__" + LuidText(C().name);
    auto *root = static_cast<uint8_t *>(quarl_get_key(h->alloc_ctx, k.c_str()));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Word<uint32_t>(root, 8), 6u);
    Free(ten);
    EXPECT_EQ(Word<uint32_t>(root, 8), 5u);
    EXPECT_EQ(Word<uint64_t>(root, 16), 13u);
}

TEST_P(Tables, OpenFailuresReturnNullWithTheirTrace) {
    const std::string t = C().name;
    const struct { const char *fail; U open_type; const char *text; U error; } cases[] = {
        {nullptr, 1, "Could not find table TOC in DB lomari_db, while opening table ", 0},  // no table list
        {"toc_open", 0, "Failed to open TOC for table ", 5},
        {"toc_find", 0, "qel database toc find table ", 5},
        {"toc_insert", 0, "Failed to insert static table ", 5},  // last: the handle stays listed
    };
    for (const auto &f : cases) {
        SCOPED_TRACE(f.text);
        qelrt_db_reset();
        qelrt_trace_clear();
        if (f.fail) qelrt_db_fail(f.fail, 5);
        EXPECT_EQ(Op<void *(H, U, const char *, U, U *)>("table_open")(h, db, "failing", f.open_type, &err), nullptr);
        EXPECT_EQ(Err(), f.error);
        EXPECT_EQ(Traced(f.text), 1u);
    }
    qelrt_db_reset();
    Tbl *lost = nullptr;
    for (Tbl *x = qellib_database_table_toc_get(h, db, &err)->first; x; x = x->next) lost = x;
    Free(lost);
    // Open-existing by id without the type's id-keyed root.
    qelrt_trace_clear();
    qeldb_database_toc_open(h, db, &err);
    EXPECT_EQ(OpenId(3, 1), nullptr);
    EXPECT_EQ(Traced(("reader cannot allocate table " + t + " ID root").c_str()), 1u);
    // Open-existing without a TOC: notice with the open type.
    qelrt_db_hide(0, 1);
    EXPECT_EQ(Open("x", 7), nullptr);
    EXPECT_EQ(Traced(("Could not find TOC root for table " + t + " DB lomari_db. Lock type: RD_LOCK, Open type: 7").c_str()), 1u);
    EXPECT_EQ(qelrt_trace_at(qelrt_trace_count() - 1)->table_no, 2);
    EXPECT_EQ(qelrt_trace_at(qelrt_trace_count() - 1)->level, QEL_TL_NOTICE);
    // In a shared database without the write lock, open-existing is allowed
    // and create mode is fatal.
    qelrt_db_reset();
    qelrt_db_set_shared(1);
    qelrt_db_set_write_locked(0);
    EXPECT_EQ(Open("locked", 1), nullptr);
    EXPECT_DEATH((qelrt_trace_echo(1), qelrt_db_hide(1, 0), Open("locked", 1), Open("locked")),
                 "Opening table " + t + " in create mode while not holding a write lock");
}

TEST_P(Tables, FreeInASharedDatabaseIsTheCollectorsJob) {
    void *t = Open("shared");
    qelrt_db_toc_mark_shared(h, 1);
    qelrt_db_set_shared(1);
    Op<void(H, U, void *, U *)>("table_free")(h, db, t, &err);
    EXPECT_EQ(Traced("APPLICATION ERROR! Table"), 1u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 1u);  // still there, out of the TOC
    EXPECT_EQ(qelrt_db_toc_size(h), 0u);
    // With cursors the request leaves the table to the collector ...
    qelrt_db_enable_cursors(t, 1);
    Op<void(H, U, void *, U *)>("request_table_free")(h, db, t, &err);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 1u);
    // ... which frees it with gc_context set, taking it off its list.
    qelrt_db_gc_list_add(t);
    h->gc_context = 1;
    h->gc_validate = 1;
    qelrt_calls_log(1);
    Free(t);
    EXPECT_EQ(Traced("Table being freed is still on the GC list!"), 1u);
    EXPECT_EQ(qelrt_call_count("qelgc_validate_table_delete"), 1u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 0u);
    // Request free in a database that is not shared frees at once.
    qelrt_db_reset();
    h->gc_context = 0;
    void *u = Open("unshared");
    qelrt_db_toc_mark_shared(h, 0);
    Free(u, "request_table_free");
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(Traced("QEl_REQUEST_TABLE_FREE should only be used for SHARED databases"), 1u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 0u);
    // An object-id mapping still referenced keeps the table: error 11.
    void *v = Open("held");
    qelrt_set_oid_mapping_answer(0, 0);
    Op<void(H, U, void *, U *)>("table_free")(h, db, v, &err);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_AGAIN});
    qelrt_set_oid_mapping_answer(1, 0);
}

// ---- records ------------------------------------------------------------------

TEST_P(Tables, RecordReferencesAndFields) {
    auto add_ref = Op<U(H, U, void *, U *)>("record_add_ref");
    qelrt_set_tenant_id(4);
    void *r = Op<void *(H, U, uint8_t, U *)>("create_record_w_src")(h, db, 255, &err);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Rc(r)->ref_word, 1u);
    EXPECT_EQ(Rc(r)->source, 255);
    EXPECT_EQ(Rc(r)->tenant_id, 4);
    for (uint32_t p = 0; p < C().nparts(); ++p) EXPECT_EQ(Word(r, kRecHead + kNode * C().nindex() + 8 * p), nullptr);
    EXPECT_EQ(add_ref(h, db, r, &err), 1u);
    EXPECT_EQ(Rc(r)->ref_word, 2u);
    Destroy(r);
    EXPECT_GT(qelrt_live_bytes(), 0);
    Destroy(r);
    EXPECT_EQ(qelrt_live_bytes(), 0);
    EXPECT_EQ(add_ref(h, db, nullptr, &err), 0u);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});
    Destroy(nullptr);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});

    // With fields: every field object exists; tags run from the table's base.
    qelrt_calls_log(1);
    void *f = Make(1);
    auto tags = Calls("vindel_set_callsite_tag");
    ASSERT_EQ(tags.size(), C().nparts());
    uint32_t base = 0x802E0C00;
    for (const TableCase &c : kCases) {
        if (&c == &C()) break;
        base += c.nparts() + 2;
    }
    for (uint32_t p = 0; p < C().nparts(); ++p) EXPECT_EQ(tags[p]->a[0], base + p);
    void *pk = Op<void *(H, U)>("pkey_create")(h, db);
    EXPECT_EQ(Calls("vindel_set_callsite_tag").back()->a[0], base + C().nparts());
    EXPECT_STREQ(Tinfo(pk)->name, C().keytype());
    Op<void(H, U, void *)>("pkey_destroy")(h, db, pk);
    // Destroying a record still in a table takes it out.
    void *t = Open("refs");
    EXPECT_EQ(Insert(t, f), 0u);
    EXPECT_EQ(Tb(t)->record_count, 1u);
    Destroy(f);
    EXPECT_EQ(Tb(t)->record_count, 0u);
    EXPECT_EQ(Roots(t)[0].root, nullptr);
}

TEST_P(Tables, ReferenceCountNeverWraps) {
    auto add_ref = Op<U(H, U, void *, U *)>("record_add_ref");
    void *r = Make(1);
    Rc(r)->ref_word = QELDB_REF_MASK - 1;
    EXPECT_EQ(add_ref(h, db, r, &err), QELDB_REF_MASK - 1);
    qelrt_bassert_trap(1);
    EXPECT_EQ(add_ref(h, db, r, &err), QELDB_REF_MASK);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_INVALID});
    EXPECT_EQ(Rc(r)->ref_word, QELDB_REF_MASK);
    EXPECT_EQ(qelrt_bassert_count(), 1u);
    qelrt_bassert_trap(0);
    EXPECT_DEATH(add_ref(h, db, r, &err), "__ref_cnt");
    Rc(r)->ref_word = 1;
}

TEST_P(Tables, RequestDestroyNeedsCursors) {
    void *t = Open("cursors");
    void *r = Make(1);
    ASSERT_EQ(Insert(t, r), 0u);
    EXPECT_EQ(Call("request_record_destroy", t, r), uint32_t{LOMARI_ERR_INVALID});
    EXPECT_EQ(Rc(r)->flags & QELDB_REC_PENDING, 0u);
    qelrt_db_enable_cursors(t, 1);
    EXPECT_EQ(Call("request_record_destroy", t, r), 0u);
    EXPECT_EQ(Tb(t)->pending_destroy_count, 1u);
    EXPECT_EQ(h->db_stats->pending_destroy, 1u);
    // The collector deletes it: both pending counts go down.
    h->gc_context = 1;
    EXPECT_EQ(Delete(t, r), 0u);
    EXPECT_EQ(Tb(t)->pending_destroy_count, 0u);
    EXPECT_EQ(h->db_stats->pending_destroy, 0u);
    qelrt_db_fail("request_destroy", 5);
    EXPECT_EQ(Call("request_record_destroy", t, r), 5u);
    EXPECT_EQ(Traced("request destroy record failed"), 1u);
}

// ---- insert and delete -------------------------------------------------------------

TEST_P(Tables, InsertAndDeleteStatesAndCounts) {
    db = 0;  // a database of its own: stores into table memory are reported to it
    void *t = Open("rows");
    const std::string tn = C().name, key = std::string(C().keytype()) + " " + C().field;
    auto counts = [&] { return std::make_tuple(Tb(t)->record_count, Tb(t)->shadow_count); };
    void *a = Make(7), *shadow = Make(7, 255), *twin = Make(7);
    EXPECT_EQ(Insert(t, a), 0u);
    EXPECT_EQ(Insert(t, shadow), 0u);
    EXPECT_EQ(counts(), std::make_tuple(2u, 1u));
    EXPECT_EQ(Rc(a)->flags, QELDB_REC_INSERTED);
    EXPECT_EQ(Rc(a)->table, t);
    EXPECT_EQ(Insert(t, twin), uint32_t{LOMARI_ERR_EXISTS});  // same tenant, key and source
    EXPECT_EQ(Traced((tn + " insert record exists for " + key).c_str()), 1u);
    h->quiet_duplicates = 1;
    EXPECT_EQ(Insert(t, twin), uint32_t{LOMARI_ERR_EXISTS});
    EXPECT_EQ(Traced("insert record exists"), 1u);
    EXPECT_EQ(counts(), std::make_tuple(2u, 1u));
    EXPECT_EQ(Insert(t, a), uint32_t{LOMARI_ERR_EXISTS});  // already in
    EXPECT_EQ(Insert(t, nullptr), uint32_t{LOMARI_ERR_EXISTS});
    // Another tenant's record of the same key coexists; the tenant counter follows.
    qelrt_set_tenant_id(3);
    void *other = Make(7);
    qelrt_calls_log(1);
    EXPECT_EQ(Insert(t, other), 0u);
    EXPECT_EQ(Calls("qeldb_update_tenant_counter").size(), 1u);
    EXPECT_EQ(Walk(t, 0), (std::vector<void *>{a, shadow, other}));
    EXPECT_EQ(Delete(t, other), 0u);
    qelrt_set_tenant_id(0);
    EXPECT_EQ(Calls("qeldb_update_tenant_counter").size(), 2u);
    EXPECT_EQ(Delete(t, shadow), 0u);
    EXPECT_EQ(Calls("qeldb_update_tenant_counter").size(), 2u);  // tenant 0: no counter
    EXPECT_EQ(counts(), std::make_tuple(1u, 0u));
    EXPECT_EQ(Delete(t, shadow), uint32_t{LOMARI_ERR_NOT_FOUND});
    EXPECT_EQ(Traced((tn + " delete, record not found for " + key).c_str()), 1u);

    // Primary-key-only: in the primary index alone, marked, counted.
    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(Delete(t, a, true), 0u);  // the second changes nothing
    EXPECT_EQ(Rc(a)->flags & QELDB_REC_PKEY_ONLY, QELDB_REC_PKEY_ONLY);
    EXPECT_EQ(counts(), std::make_tuple(1u, 0u));
    EXPECT_TRUE(C().nindex() == 1 || Walk(t, 1).empty());
    EXPECT_EQ(Delete(t, a), 0u);
    EXPECT_EQ(Rc(a)->flags, QELDB_REC_INSERTED);
    EXPECT_EQ(Rc(a)->table, nullptr);
    EXPECT_EQ(counts(), std::make_tuple(0u, 0u));
    EXPECT_EQ(Insert(t, a, true), 0u);
    EXPECT_EQ(Rc(a)->flags, QELDB_REC_INSERTED | QELDB_REC_PKEY_ONLY);
    EXPECT_TRUE(C().nindex() == 1 || Walk(t, 1).empty());
    EXPECT_EQ(Walk(t, 0), (std::vector<void *>{a}));
    EXPECT_EQ(Delete(t, a), 0u);
    EXPECT_EQ(counts(), std::make_tuple(0u, 0u));
    EXPECT_EQ(Traced("record count already 0"), 0u);

    // The replication rule; delete_cr with destroy releases the record.
    EXPECT_EQ(Insert(t, twin), 0u);
    qelrt_db_enable_cursors(t, 1);
    EXPECT_EQ(Delete(t, twin), uint32_t{LOMARI_ERR_INVALID});
    EXPECT_EQ(Traced((tn + "_delete() cannot be direclty used when the table is marked for replication").c_str()), 1u);
    qelrt_db_enable_cursors(t, 0);
    h->err = 0;
    EXPECT_EQ(Op<U(H, void *, void *, U)>("delete_cr")(h, t, twin, 1), 0u);
    std::erase(recs_, twin);
    EXPECT_EQ(counts(), std::make_tuple(0u, 0u));
    if (C().nindex() < 2) return;

    // A second index refusing what the first took leaves the record out.
    // Equal bodies have equal kalvi ids, so only a primary index whose key
    // changed under it lets the second index see an equal body: record d
    // has its kalvi id changed in place and a record with d's new body comes.
    auto body = [&](void *r) { return static_cast<im_if_fctrl_body *>(KeyObj(r)); };
    auto make = [&](uint32_t slot, uint32_t kalvi) {
        void *r = Make(kalvi);
        body(r)->slot = slot;
        return r;
    };
    void *second = Open("second");
    void *d = make(3, 20);
    for (void *r : {make(1, 1), make(2, 10), d}) EXPECT_EQ(Insert(second, r), 0u);
    body(d)->kalvi_id = 2;
    void *c = make(3, 2);
    qelrt_trace_clear();
    h->quiet_duplicates = 0;
    EXPECT_EQ(Insert(second, c), uint32_t{LOMARI_ERR_EXISTS});
    EXPECT_EQ(Traced("im_if_flow_control insert record exists for im_if_fctrl_body"), 1u);
    EXPECT_EQ(Tb(second)->record_count, 3u);
    EXPECT_EQ(Roots(second)[0].companion, 3u);
    EXPECT_EQ(Rc(c)->table, nullptr);
    EXPECT_EQ(Rc(c)->flags, 0u);
    body(d)->kalvi_id = 20;  // as the tree holds it
}

// A randomized sequence of inserts and deletes (full and primary-key-only,
// several tenants, both sources) against an ordered model.
TEST_P(Tables, RandomSequenceMatchesOrderedModel) {
    void *t = Open("model");
    using Key = std::tuple<uint16_t, uint32_t, uint8_t>;  // tenant, key, source: the index order
    std::map<Key, void *> model;
    std::set<void *> pkey_only;
    std::vector<void *> pool;
    std::mt19937 rng(1234 + C().nparts());
    for (int i = 0; i < 400; ++i) {
        qelrt_set_tenant_id(static_cast<uint16_t>(rng() % 3));
        pool.push_back(Make(rng() % 150, rng() % 4 ? 1 : 255));
    }
    h->quiet_duplicates = 1;
    for (int step = 0; step < 4000; ++step) {
        void *r = pool[rng() % pool.size()];
        const Key key{Rc(r)->tenant_id, KeyOf(r), Rc(r)->source};
        const bool in = Rc(r)->table != nullptr;
        qelrt_set_tenant_id(Rc(r)->tenant_id);
        const U op = rng() % 4;  // insert (a quarter of them primary-key-only), delete, primary-key delete
        if (op < 2) {
            const bool pk = rng() % 4 == 0, ok = !in && !model.count(key);
            ASSERT_EQ(Insert(t, r, pk), ok ? 0u : uint32_t{LOMARI_ERR_EXISTS});
            if (ok) model[key] = r;
            if (ok && pk) pkey_only.insert(r);
        } else {
            ASSERT_EQ(Delete(t, r, op == 3), in ? 0u : uint32_t{LOMARI_ERR_NOT_FOUND});
            if (op == 2 && in) model.erase(key);
            if (op == 2) pkey_only.erase(r);
            if (op == 3 && in) pkey_only.insert(r);
        }
        if (step % 250 == 0 || step == 3999) {
            std::vector<void *> want, second;
            uint32_t shadows = 0;
            for (auto &[k2, rec] : model) {
                want.push_back(rec);
                shadows += std::get<2>(k2) == 255;
                if (!pkey_only.count(rec)) second.push_back(rec);
            }
            ASSERT_EQ(Walk(t, 0), want);
            if (C().nindex() > 1) {
                ASSERT_EQ(Walk(t, 1), second);  // bodies differ only in kalvi_id
            }
            ASSERT_EQ(Tb(t)->record_count, model.size());
            ASSERT_EQ(Tb(t)->shadow_count, shadows);
        }
    }
    EXPECT_GT(model.size(), 100u);
    qelrt_set_tenant_id(0);
}

// ---- lookups ---------------------------------------------------------------------

// Every lookup form of every index and the primary-key forms, against a
// sorted vector of (tenant, key, source) with the same filters written out
// plainly, over a population of three tenants, sources 1 and 255 and
// records pending destruction.
TEST_P(Tables, LookupsMatchTheReferenceModel) {
    struct Row {
        uint16_t tenant;
        uint32_t key;
        uint8_t src;
        bool pending;
        void *rec;
        auto ord() const { return std::make_tuple(tenant, key, src); }
    };
    void *t = Open("lookups");
    std::mt19937 rng(99);
    std::vector<Row> rows;
    for (int i = 0; i < 300; ++i) {
        const uint16_t tn = rng() % 3;
        const uint32_t k = rng() % 60;
        const uint8_t src = rng() % 3 ? 1 : 255;
        qelrt_set_tenant_id(tn);
        void *r = Make(k, src);
        if (Insert(t, r)) {
            Destroy(r);
            continue;
        }
        const bool pending = rng() % 5 == 0;
        if (pending) Rc(r)->flags |= QELDB_REC_PENDING;
        rows.push_back({tn, k, src, pending, r});
    }
    std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.ord() < b.ord(); });
    h->err = 0;  // the refused duplicates stored theirs
    const long n = static_cast<long>(rows.size());
    uint16_t tn = 0;  // the caller's tenant of the current query

    // ---- the model
    auto pos = [&](uint32_t k, uint8_t s, bool upper) {
        const auto key = std::make_tuple(tn, k, s);
        auto it = upper ? std::upper_bound(rows.begin(), rows.end(), key, [](auto &x, const Row &r) { return x < r.ord(); })
                        : std::lower_bound(rows.begin(), rows.end(), key, [](const Row &r, auto &x) { return r.ord() < x; });
        return static_cast<long>(it - rows.begin());
    };
    auto passes = [](const Row &r, uint8_t S, bool match, bool skip) {
        return !(skip && r.pending) && !(S == 0 && r.src == 255) && (!match || r.src == S);
    };
    auto step = [&](long j, bool fwd, uint8_t S, bool match, bool skip, bool same, uint32_t key) -> void * {
        for (; j >= 0 && j < n; j += fwd ? 1 : -1) {
            if (rows[j].tenant != tn || (same && rows[j].key != key)) return nullptr;
            if (passes(rows[j], S, match, skip)) return rows[j].rec;
        }
        return nullptr;
    };
    auto search = [&](uint32_t k, bool nearest, bool fwd, uint32_t ps, uint32_t fs, bool skip, bool same) -> void * {
        const uint8_t p = ps ? ps : 1;
        const long x = pos(k, p, false);
        if (x < n && rows[x].ord() == std::make_tuple(tn, k, p) && !(skip && rows[x].pending)) return rows[x].rec;
        if (!nearest && !same) return nullptr;
        return step(fwd ? pos(k, p, true) : x - 1, fwd, uint8_t(fs), uint8_t(fs) != 0, skip, same && !nearest, k);
    };
    auto index_of = [&](void *r) {
        return static_cast<long>(std::find_if(rows.begin(), rows.end(), [r](const Row &x) { return x.rec == r; }) - rows.begin());
    };
    auto by_key = [&](uint32_t k, bool fwd, uint32_t ps, uint32_t fs, bool skip) -> void * {
        if (void *m = search(k, false, true, ps, 0, skip, false)) {
            const long x = index_of(m);
            return step(fwd ? x + 1 : x - 1, fwd, uint8_t(fs), uint8_t(fs) != 0, skip, false, k);
        }
        return search(k, true, fwd, ps, fs, skip, false);
    };
    auto end = [&](bool last, uint8_t S, bool match, bool skip) -> void * {
        for (long j = last ? n - 1 : 0; j >= 0 && j < n; j += last ? -1 : 1)
            if ((last ? rows[j].tenant <= tn : rows[j].tenant >= tn) && passes(rows[j], S, match, skip))
                return rows[j].tenant == tn ? rows[j].rec : nullptr;
        return nullptr;
    };

    // ---- keys as the forms take them
    char str[32];
    void *body = Api<void *(H, U)>("im_if_fctrl_body", "create")(h, db);
    void *pkey = Op<void *(H, U)>("pkey_create")(h, db);
    auto raw = [&](uint32_t i, uint32_t k) -> const void * {
        if (i == 1) {
            std::memcpy(static_cast<uint8_t *>(body) + key_off, &k, 4);
            return body;
        }
        WriteKey(str, C().str, k);
        return str;
    };
    auto pk = [&](uint32_t k) {
        WriteKey(static_cast<uint8_t *>(pkey) + key_off, C().str, k);
        return pkey;
    };

    using V = void *;
    uint32_t hits = 0;
    for (uint32_t i = 0; i < C().nindex(); ++i) {
        const std::string ix = i ? C().second : std::string(C().name) + "_" + C().keytype() + "_" + C().field;
        const std::string cr = i ? ix.substr(0, ix.size() - 1) : ix;
        auto S4 = [&](const char *op) { return Api<V(H, U, V, const void *, U *)>(ix, op); };
        auto S5 = [&](const char *op) { return Api<V(H, U, V, const void *, U, U *)>(ix, op); };
        auto S6 = [&](const char *op) { return Api<V(H, U, V, const void *, U, U, U *)>(ix, op); };
        auto R4 = [&](const char *op) { return Api<V(H, U, V, V, U *)>(ix, op); };
        auto R5 = [&](const char *op) { return Api<V(H, U, V, V, U, U *)>(ix, op); };
        auto E3 = [&](const char *op) { return Api<V(H, U, V, U *)>(ix, op); };
        auto E4 = [&](const char *op) { return Api<V(H, U, V, U, U *)>(ix, op); };
        for (int q = 0; q < 400; ++q) {
            tn = rng() % 3;
            qelrt_set_tenant_id(tn);
            const uint32_t k = rng() % 62;
            const uint32_t s = (rng() % 3 == 0) ? 0 : (rng() % 2 ? 1 : 255);
            const uint32_t near = rng() % 2;
            const void *key = raw(i, k);
            SCOPED_TRACE(::testing::Message() << ix << " tenant " << tn << " key " << k << " source " << s);
            void *found = S4("search")(h, db, t, key, &err);
            hits += found != nullptr;
            EXPECT_EQ(found, search(k, 0, 1, 1, 0, 0, 0));
            EXPECT_EQ(S5("search_w_src")(h, db, t, key, s, &err), search(k, 0, 1, s, 0, 0, 0));
            EXPECT_EQ(S4("search_nearest")(h, db, t, key, &err), search(k, 1, 1, 1, 1, 0, 0));
            EXPECT_EQ(S6("search_not_pending_destroy")(h, db, t, key, s, near, &err), search(k, near, 1, s, s, 1, s == 0));
            const uint32_t flags = rng() % 8;
            const uint32_t cs = ((s & 0xFF) || (flags & 4)) ? s : 1;
            EXPECT_EQ((Api<V(H, V, const void *, U, U)>(cr, "search_cr")(h, t, key, s, flags)),
                      search(k, flags & 1, 1, cs, cs, !(flags & 2), (flags & 4) != 0));
            EXPECT_EQ(S4("get_next_by_key")(h, db, t, key, &err), by_key(k, true, 1, 1, false));
            EXPECT_EQ(S4("get_prev_by_key")(h, db, t, key, &err), by_key(k, false, 1, 1, false));
            EXPECT_EQ(S5("get_next_by_key_w_src")(h, db, t, key, s, &err), by_key(k, true, s, s, false));
            EXPECT_EQ(S6("get_next_by_key_not_pending_destroy")(h, db, t, key, s, near * 255, &err),
                      by_key(k, true, s, near * 255, true));
            EXPECT_EQ(S6("get_prev_by_key_not_pending_destroy")(h, db, t, key, s, s, &err), by_key(k, false, s, s, true));
            // From a record of the population.
            const long x = rng() % n;
            void *r = rows[x].rec;
            EXPECT_EQ(R4("get_next")(h, db, t, r, &err), step(x + 1, true, 1, true, false, false, 0));
            EXPECT_EQ(R4("get_prev")(h, db, t, r, &err), step(x - 1, false, 1, true, false, false, 0));
            EXPECT_EQ(R5("get_next_by_src")(h, db, t, r, s, &err), step(x + 1, true, s, true, false, false, 0));
            EXPECT_EQ(R5("get_next_not_pending_destroy")(h, db, t, r, s, &err), step(x + 1, true, s, true, true, false, 0));
            EXPECT_EQ(R5("get_prev_not_pending_destroy")(h, db, t, r, s, &err), step(x - 1, false, s, true, true, false, 0));
            EXPECT_EQ(R4("get_next_ignore_src")(h, db, t, r, &err), x + 1 < n && rows[x + 1].tenant == tn ? rows[x + 1].rec : nullptr);
            EXPECT_EQ(R4("get_sub_next")(h, db, t, r, &err), x + 1 < n && rows[x + 1].key == rows[x].key ? rows[x + 1].rec : nullptr);
            void *shadow = nullptr;
            for (long j = x; j < n && rows[j].key == rows[x].key && !shadow; ++j)
                if (rows[j].src == 255) shadow = rows[j].rec;
            EXPECT_EQ(R4("get_shadow")(h, db, t, r, &err), shadow);
            EXPECT_EQ(E3("get_first")(h, db, t, &err), end(false, 1, true, false));
            EXPECT_EQ(E3("get_last")(h, db, t, &err), end(true, 1, true, false));
            EXPECT_EQ(E3("get_first_ignore_src")(h, db, t, &err), end(false, 1, false, false));
            EXPECT_EQ(E4("get_first_by_src")(h, db, t, s, &err), end(false, s, true, false));
            EXPECT_EQ(E4("get_first_not_pending_destroy")(h, db, t, s, &err), end(false, s, s != 0, true));
            EXPECT_EQ(E4("get_last_not_pending_destroy")(h, db, t, s, &err), end(true, s, true, true));
            const uint32_t op = rng() % 4, gs = s ? s : 1;
            EXPECT_EQ((Api<V(H, V, U, V, U, U)>(cr, "get_cr")(h, t, op, r, s, flags)),
                      op < 2 ? end(op == 1, gs, !(flags & 1), !(flags & 2))
                             : step(op == 3 ? x + 1 : x - 1, op == 3, gs, !(flags & 1), !(flags & 2), false, 0));
            if (i == 0) {  // the primary-key forms
                auto P = [&](const char *op2) { return Api<V(H, U, V, V, U *)>(C().name, op2); };
                EXPECT_EQ((Api<V(H, U, V, V, U, U *)>(C().name, "search")(h, db, t, pk(k), near, &err)), search(k, near, 1, 1, 1, 0, 0));
                EXPECT_EQ((Api<V(H, U, V, V, U, U, U *)>(C().name, "search_w_src")(h, db, t, pk(k), near, s, &err)),
                          search(k, near, 1, s, s, 0, 0));
                EXPECT_EQ(P("get_next_by_key")(h, db, t, pk(k), &err), by_key(k, true, 1, 1, false));
                EXPECT_EQ(P("get_prev_by_key")(h, db, t, pk(k), &err), by_key(k, false, 1, 1, false));
                EXPECT_EQ(P("pkey_get_next")(h, db, t, r, &err), step(x + 1, true, 1, true, false, false, 0));
                EXPECT_EQ(P("pkey_get_shadow")(h, db, t, r, &err), shadow);
                EXPECT_EQ((Api<V(H, U, V, U *)>(C().name, "pkey_get_last"))(h, db, t, &err), end(true, 1, true, false));
                auto rows_where = [&](auto keep) { return U(std::count_if(rows.begin(), rows.end(), keep)); };
                EXPECT_EQ((Api<U(H, U, V)>(C().name, "table_get_count"))(h, db, t),
                          rows_where([&](const Row &w) { return !tn || w.tenant == tn; }));
                EXPECT_EQ((Api<U(H, U, V, uint8_t)>(C().name, "table_get_count_by_src"))(h, db, t, uint8_t(s)),
                          rows_where([&](const Row &w) { return tn ? w.tenant == tn && w.src == s : s == 255 && w.src == 255; }));
            }
            ASSERT_EQ(err, 0u);
        }
        // The whole index in order, through the walk.
        std::vector<void *> walked, want;
        for (const Row &w : rows) want.push_back(w.rec);
        Api<void(V, int (*)(V, V, U *, V, V), V, U *, V, V)>(ix, "walk")(
            t, [](V rec, V ctx, U *, V, V) { static_cast<std::vector<void *> *>(ctx)->push_back(rec); return 0; },
            &walked, &err, nullptr, nullptr);
        EXPECT_EQ(walked, want);
    }
    EXPECT_GT(hits, 60u * C().nindex());
    // Refusals: a null key, an unknown getter operation, an unknown index.
    EXPECT_EQ((Api<V(H, U, V, V, U, U *)>(C().name, "search")(h, db, t, nullptr, 0, &err)), nullptr);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});
    h->err = 0;
    EXPECT_EQ((Api<V(H, V, U, V, U, U)>(std::string(C().name) + "_" + C().keytype() + "_" + C().field, "get_cr")(h, t, 4, nullptr, 1, 0)), nullptr);
    EXPECT_EQ(h->err, uint32_t{LOMARI_ERR_INVALID});
    EXPECT_EQ(Traced("invalid record get flag 4"), 1u);
    h->err = 0;
    Api<void(H, V, U, int (*)(V, V, U *, V, V), V, V)>(C().name, "record_walk_cr")(
        h, t, 2, [](V, V, U *, V, V) { return 0; }, nullptr, nullptr);
    EXPECT_EQ(Traced("unknow key:2"), 1u);
    EXPECT_EQ(h->err, 0u);
    Api<void(H, U, V)>("im_if_fctrl_body", "destroy")(h, db, body);
    Op<void(H, U, V)>("pkey_destroy")(h, db, pkey);
    for (Row &w : rows) Rc(w.rec)->flags &= ~QELDB_REC_PENDING;
    qelrt_set_tenant_id(0);
}

// ---- records as bytes, text and XML ------------------------------------------------

TEST_P(Records, RoundTripInBothModesNewAndInPlace) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track ? "tracking" : "plain");
        qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : 0);
        h->header_word = 0x01020304;
        void *r = Fill(track ? 7 : 3);
        auto b = Encode(r);
        U fields = 0;
        for (U p = 0; p < C().nparts(); ++p) fields += Part(p).Len(h, db, Get(r, p));
        // Tracking, the field lengths are bounds: a fixed string's state bytes are counted per character.
        if (!track) {
            ASSERT_EQ(b.size(), kFrame + fields);
        }
        EXPECT_EQ(Len(r), kFrame + fields);
        EXPECT_EQ(b[0], 0xBC);
        EXPECT_EQ(b[7], track ? 1 : 0);
        EXPECT_EQ(Be32(&b[8]), 0x01020304u);
        EXPECT_EQ(Be32(&b[12]), b.size());
        EXPECT_EQ(std::memcmp(&b[27], *Api<const uint8_t[16]>("table", std::string(C().name) + "_luid"), 16), 0);

        void *fresh = nullptr;
        EXPECT_EQ(Unmarshal(&fresh, b, 0), b.size());
        EXPECT_EQ(Err(), 0u);
        ASSERT_NE(fresh, nullptr);
        EXPECT_TRUE(Same(r, fresh));
        void *other = Keep(Op<void *(H, U)>("record_create_cr")(h, 1));
        EXPECT_EQ(Unmarshal(&other, b, 1), b.size());
        EXPECT_EQ(Err(), 0u);
        EXPECT_TRUE(Same(r, other));
        // Chained forms agree with the plain ones.
        std::vector<uint8_t> c(kBig);
        c.resize(Op<U(H, void *, uint8_t *, U)>("record_marshal_cr")(h, r, c.data(), kBig));
        EXPECT_EQ(c, b);
        EXPECT_EQ(Op<U(H, void *)>("record_len_cr")(h, r), Len(r));
    }
}

TEST_P(Records, MissingLastFieldStopsAfterTheFrameAndTheFieldsBefore) {
    void *r = Fill(5, Last());
    std::vector<uint8_t> b(kBig, 0xAA);
    U want = kFrame + (C().nparts() > 1 ? Part(0).Len(h, db, Get(r, 0)) : 0);
    EXPECT_EQ(Marshal(r, b.data(), kBig), want);
    EXPECT_EQ(Err(), U(LOMARI_ERR_NOT_FOUND));
    EXPECT_EQ(b[0], 0) << "header not written";
    std::string text = std::string("Failed to marshal ") + C().name + " record: Field " + C().parts.back() + " is empty";
    EXPECT_EQ(Traced(text.c_str()), 1u);
    EXPECT_EQ(qelrt_trace_at(qelrt_trace_count() - 1)->level, QEL_TL_ERROR);
}

TEST_P(Records, ShortBuffersAndEveryCutOfTheEncodingAreRefused) {
    void *r = Fill(11);
    for (U n : {0u, 26u, 30u}) {
        std::vector<uint8_t> b(32, 0xAA);
        EXPECT_EQ(Marshal(r, b.data(), n), n < 27 ? 0u : 27u) << n;
        EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
        for (U i = 0; i < 32; ++i) EXPECT_EQ(b[i], n >= 27 && i < 27 ? 0 : 0xAA) << n << " byte " << i;
    }
    auto refused = [&](const std::vector<uint8_t> &b) {  // decoded fresh: nothing handed out
        void *out = nullptr;
        Unmarshal(&out, b, 0);
        EXPECT_EQ(out, nullptr);
        return Err();
    };
    auto good = Encode(r);
    for (U cut = 0; cut < good.size(); ++cut) EXPECT_NE(refused({good.begin(), good.begin() + cut}), 0u) << cut;
    // Header faults: no marker, a length field below the frame, past the input,
    // or longer than the fields it holds.
    const std::vector<std::pair<U, std::function<void(std::vector<uint8_t> &)>>> faults = {
        {LOMARI_ERR_INVALID, [](auto &b) { b[0] = 0xBD; }},
        {LOMARI_ERR_INVALID, [](auto &b) { b[15] = 42, b[14] = b[13] = b[12] = 0; }},
        {LOMARI_ERR_SHORT, [](auto &b) { b[15] += 1; }},
        {LOMARI_ERR_INVALID, [](auto &b) { b[15] += 1, b.push_back(0); }},
    };
    for (auto &[code, f] : faults) {
        auto bad = good;
        f(bad);
        EXPECT_EQ(refused(bad), code);
    }
}

TEST_P(Records, EntryErrorsDomainAndChainedForms) {
    void *r = Fill(2);
    uint8_t b[512];
    const std::string t = C().name;
    err = LOMARI_ERR_INVALID;
    EXPECT_EQ(Marshal(r, b, sizeof b), 0u);
    EXPECT_EQ(Traced("Error present in call to table marshal: Invalid argument"), 1u);
    void *out = nullptr;
    EXPECT_EQ(Unmarshal(&out, {b, b + 50}, 0), 0u);
    EXPECT_EQ(Traced(("Error present in call to " + t + " unmarshal: Invalid argument").c_str()), 1u);
    EXPECT_EQ(Op<U(H, U, void **, const uint8_t *, U, U *)>("table_pkey_unmarshal")(h, db, &out, b, 4, &err), 0u);
    EXPECT_EQ(Traced(("Error present in call to " + t + " pkey unmarshal: Invalid argument").c_str()), 1u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));

    qelrt_domain_refuse(C().name);
    EXPECT_EQ(Marshal(r, b, sizeof b), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_DOMAIN));
    std::string luid = *Api<const char[33]>("table", t + "_luid_text");
    EXPECT_EQ(Traced(("domainfail: Table " + t + " (" + luid + ") is not allowed for the current domain").c_str()), 1u);

    h->err = LOMARI_ERR_SHORT;
    EXPECT_EQ(Op<U(H, void *, uint8_t *, U)>("record_marshal_cr")(h, r, b, sizeof b), 0xFFFFFFFFu);
    EXPECT_EQ(Op<U(H, void *)>("record_len_cr")(h, r), 0u);
    for (const char *op : {"record_print_cr", "record_toxml_cr"})
        EXPECT_EQ(Op<U(H, void *, char *, U)>(op)(h, r, reinterpret_cast<char *>(b), sizeof b), 0xFFFFFFFFu) << op;
    h->err = 0;
}

TEST_P(Records, KeysRoundTripAndPrint) {
    void *r = Fill(9);
    if (C().str)
        std::memcpy(KeyBytes(r), "key-with-all-thirty-one-chars!!", 31);
    else
        std::memcpy(KeyBytes(r), &kKey32, 4);
    const U want = C().str ? 31 : 4;
    EXPECT_EQ(Op<U(H, U, void *)>("table_pkey_len")(h, db, r), want);
    uint8_t b[64];
    auto marshal = Op<U(H, U, uint8_t *, void *, U, U *)>("table_pkey_marshal");
    auto unmarshal = Op<U(H, U, void **, const uint8_t *, U, U *)>("table_pkey_unmarshal");
    EXPECT_EQ(marshal(h, db, b, r, want - 1, &err), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
    ASSERT_EQ(marshal(h, db, b, r, sizeof b, &err), want);
    void *key = nullptr;
    EXPECT_EQ(unmarshal(h, db, &key, b, want, &err), want);
    ASSERT_EQ(Err(), 0u);
    EXPECT_EQ(std::memcmp(Bytes(key, key_off), KeyBytes(r), want), 0);
    Op<void(H, U, void *)>("pkey_destroy")(h, db, key);
    for (U cut = 0; cut < want; ++cut) {
        std::vector<uint8_t> part(b, b + cut);
        EXPECT_EQ(unmarshal(h, db, &key, part.data(), cut, &err), C().str ? cut : 0);
        EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_EQ(unmarshal(h, db, nullptr, b, want, &err), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_BAD_ADDRESS));

    auto print = Op<U(H, U, void *, void *, char *, U, U *)>("pkey_print");
    char text[64] = {};
    int table_stand_in;
    U n = print(h, db, &table_stand_in, r, text, sizeof text, &err);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(std::string(text, n), C().str ? "Arr" : std::string(C().field) + ": 305419896\n");
    EXPECT_EQ(print(h, db, nullptr, r, text, sizeof text, &err), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
    EXPECT_EQ(print(h, db, &table_stand_in, r, text, want - 1, &err), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
}

TEST_P(Records, PrintFramesEveryFieldUnderItsTypeName) {
    void *r = Fill(4);
    std::string s(kBig, '\0');
    s.resize(Op<U(H, U, char *, void *, U, U *)>("table_record_print")(h, db, s.data(), r, kBig, &err));
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(s.rfind(std::string("record@") + C().name + ": {\n", 0), 0u) << s;
    EXPECT_EQ(s.substr(s.size() - 2), "}\n");
    for (U p = 0; p < C().nparts(); ++p) EXPECT_NE(s.find(std::string("  ") + C().parts[p]), std::string::npos);
    Op<U(H, U, char *, void *, U, U *)>("table_record_print")(h, db, s.data(), r, 20, &err);
    EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
}

TEST_P(Records, XmlRoundTripAndAbsentLastElement) {
    for (bool track : {false, true}) {
        qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : 0);
        void *r = Fill(track ? 21 : 12);
        std::string x = Xml(r);
        ASSERT_EQ(Err(), 0u);
        EXPECT_EQ(x.rfind(std::string("<") + C().name + ">", 0), 0u) << x;
        void *back = FromXml(x);
        ASSERT_EQ(Err(), 0u);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(Same(r, back)) << x;
    }
    // Without the last element: that field exists with its initial values.
    void *partial = Fill(13, Last());
    void *back = FromXml(Xml(partial));
    EXPECT_EQ(Err(), 0u);
    ASSERT_NE(back, nullptr);
    void *fresh = Part(Last()).Create(h, db);
    ASSERT_NE(Get(back, Last()), nullptr);
    EXPECT_EQ(Part(Last()).Compare(Get(back, Last()), fresh), 0);
    Part(Last()).Destroy(h, db, fresh);
}

TEST_P(Records, CallbacksWithoutHandlersTraceTheirDefaults) {
    const std::string t = C().name, pre = "default lomari_" + t + "_record ";
    int w;
    auto pair = [&](const char *ev) { Op<void(H, U, void *, void *, U *)>(std::string("table_record_") + ev + "_cb")(h, db, &w, &w, &err); };
    auto dm = [&](const char *ev) { Op<void(H, U, void *, U *)>(std::string("table_record_") + ev + "_cb")(h, db, &w, &err); };
    auto grouping = [&] { return Op<U(H, U, void *, U *, void *, void *, U, void *)>("table_record_grouping_cb")(h, db, &w, &err, &w, &w, 77, &w); };
    auto free_cb = [&] { Op<void(H, U, void *, U, U *, void *)>("table_record_free_cb")(h, db, &w, 5, &err, &w); };
    // With an error present nothing happens.
    err = LOMARI_ERR_INVALID;
    pair("create"), dm("delete_dm"), free_cb();
    EXPECT_EQ(grouping(), 77u);
    EXPECT_EQ(qelrt_trace_count(), 0u);
    err = 0;
    for (const char *ev : {"create", "modify", "delete"}) {
        pair(ev);
        EXPECT_EQ(Traced((pre + ev + " handler called").c_str()), 1u);
    }
    EXPECT_EQ(grouping(), 77u);
    EXPECT_EQ(Traced((pre + "grouping handler called").c_str()), 1u);
    EXPECT_EQ(qelrt_trace_at(qelrt_trace_count() - 1)->level, 0x8000000u);
    free_cb();
    EXPECT_EQ(Traced((pre + "free handler called").c_str()), 1u);
    // A DM event falls back to the plain event's default.
    qelrt_trace_clear();
    for (const std::string ev : {"create", "delete"}) {
        dm((ev + "_dm").c_str());
        EXPECT_EQ(Traced((pre + ev + " DM handler called").c_str()), 1u);
        EXPECT_EQ(Traced((pre + ev + " handler called").c_str()), 1u);
    }
    EXPECT_EQ(err, 0u);
}

TEST_P(Records, FieldAccessOwnership) {
    for (U p = 0; p < C().nparts(); ++p) {
        SCOPED_TRACE(C().parts[p]);
        qelrt_trace_clear();
        Ty ty = Part(p);
        void *r = New();
        void *a = ty.Create(h, db), *b = ty.Create(h, db);
        Set(r, p, a);
        EXPECT_EQ(Get(r, p), a);
        EXPECT_TRUE(Flags(a) & QEL_OF_EMBEDDED);
        // set leaves the object it replaces alive (the caller still owns it).
        Set(r, p, b);
        EXPECT_EQ(Get(r, p), b);
        const uint64_t destroyed = Counts(a).destroyed;
        // The same object into a second record is refused: it is embedded.
        void *r2 = New();
        Set(r2, p, a);
        EXPECT_EQ(Get(r2, p), nullptr);
        EXPECT_EQ(h->err, U(LOMARI_ERR_INVALID));
        EXPECT_EQ(Traced("Object is either nested or already embedded. Cannot set such objects into the record"), 1u);
        Set(r2, p, b, "free_and_set_field");
        EXPECT_EQ(Traced("Object is either nested or already embedded in a record. Cannot set such objects into the record"),
                  1u);
        h->err = 0;
        // free_and_set destroys the object it replaces.
        void *c = ty.Create(h, db);
        Set(r, p, c, "free_and_set_field");
        EXPECT_EQ(Get(r, p), c);
        EXPECT_EQ(Counts(a).destroyed, destroyed + 1);
        // detach hands the object out: the record no longer has it.
        EXPECT_EQ(Get(r, p, "get_field_detach"), c);
        EXPECT_EQ(Get(r, p), nullptr);
        ty.Destroy(h, db, a);
        ty.Destroy(h, db, c);
    }
}

INSTANTIATE_TEST_SUITE_P(All, Tables, ::testing::ValuesIn(Each(kCases)), ParamName());
INSTANTIATE_TEST_SUITE_P(All, Records, ::testing::ValuesIn(Each(kCases)), ParamName());

}  // namespace
