// The table family's less travelled paths, over the six tables: every entry
// with an error present, null arguments, no error word; containment reports
// and platform marks; the id-keyed root's cache; database failures and frees
// retried after them; records leaving through a mapping or a location or
// without field objects; counts that must not wrap; field objects owned by
// one record; the second index's refusals.
#include <functional>

#include "fixture.h"
#include "qel/rt_control_db.h"
#include "qel/rt_msg.h"

namespace {

using namespace lt;
using P = void *;
using Tbl = qeldb_table_head_t;
using Rec = qeldb_record_head_t;
using WalkFn = int (*)(P, P, U *, P, P);
using CmpFn = U(const void *, const void *);
using SetFn = void(H, U, P, P);
using GetFn = P(H, U, P);
constexpr U kRecHead = sizeof(Rec), kNode = sizeof(e_avl_node_t);
constexpr U kSome = LOMARI_ERR_AGAIN;  // an error the caller already has
constexpr U kDbErr = 5;                // an error the database runtime reports

struct Root {
    e_avl_node_t *root;
    uint64_t companion;
};

uint64_t W(const void *p) { return reinterpret_cast<uintptr_t>(p); }

// Records the records a walk visits.
int Collect(P rec, P ctx, U *, P, P) {
    static_cast<std::vector<P> *>(ctx)->push_back(rec);
    return 0;
}

// An entry point by name, typed by the pointer it initialises.
struct Sym {
    std::string type, op;
    template <class F>
    operator F *() const { return Api<F>(type, op); }
};

// A table's entry points (t: the table's, x: its primary index's), bound once per test.
struct Entries {
    std::string t, x;
    Sym T(const char *op) const { return {t, op}; }
    Sym X(const char *op) const { return {x, op}; }
    P (*open)(H, U, const char *, U, U *) = T("table_open");
    P (*open_id)(H, U, uint64_t, U, U *) = T("table_open_by_id");
    P (*open_auto)(H, U, U, U *) = T("table_open_auto_id");
    void (*close)(H, U, P, U *) = T("table_close"), (*free)(H, U, P, U *) = T("table_free");
    void (*request_free)(H, U, P, U *) = T("request_table_free");
    void (*close_cr)(H, P, U) = T("table_close_cr");
    P (*create)(H, U, U *) = T("create_record");
    P (*create_cr)(H, U) = T("record_create_cr");
    U (*add_ref)(H, U, P, U *) = T("record_add_ref");
    void (*destroy)(H, U, P, U *) = T("destroy_record");
    void (*request_destroy)(H, U, P, P, U *) = T("request_record_destroy"), (*insert)(H, U, P, P, U *) = T("insert");
    void (*pkey_insert)(H, U, P, P, U *) = T("pkey_insert"), (*del)(H, U, P, P, U *) = T("delete");
    void (*pkey_del)(H, U, P, P, U *) = T("pkey_delete");
    U (*insert_cr)(H, P, P, U) = T("insert_cr"), (*delete_cr)(H, P, P, U) = T("delete_cr");
    U (*request_destroy_cr)(H, P, P) = T("request_record_destroy_cr");
    void (*walk_cr)(H, P, U, WalkFn, P, P) = T("record_walk_cr");
    U (*count)(H, U, P) = T("table_get_count");
    P (*next)(H, U, P, P, U *) = X("get_next"), (*raw_next)(H, U, P, P, U *) = X("get_next_ignore_src");
    P (*sub_next)(H, U, P, P, U *) = X("get_sub_next"), (*shadow)(H, U, P, P, U *) = X("get_shadow");
    P (*first)(H, U, P, U *) = X("get_first");
    P (*search)(H, U, P, const void *, U *) = X("search"), (*next_by_key)(H, U, P, const void *, U *) = X("get_next_by_key");
    P (*search_cr)(H, P, const void *, U, U) = X("search_cr");
    void (*walk)(P, WalkFn, P, U *, P, P) = X("walk");
    U (*len)(H, U, P) = T("table_record_len");
    U (*marshal)(H, U, uint8_t *, P, U, U *) = T("table_record_marshal");
    U (*key_marshal)(H, U, uint8_t *, P, U, U *) = T("table_pkey_marshal");
    U (*unmarshal)(H, U, P *, const uint8_t *, U, U, U *) = T("table_record_unmarshal");
    U (*key_unmarshal)(H, U, P *, const uint8_t *, U, U *) = T("table_pkey_unmarshal");
    U (*key_print)(H, U, P, P, char *, U, U *) = T("pkey_print");
    U (*print)(H, U, char *, P, U, U *) = T("table_record_print"), (*to_xml)(H, U, char *, P, U, U *) = T("table_record_to_xml");
    P (*from_xml)(H, U, qel_xml_doc_t *, U *, char *, U) = T("table_record_from_xml");
    void (*event)(H, U, P, P, U *) = T("table_record_create_cb");
};

class TablePaths : public Lomari, public ::testing::WithParamInterface<const TableView *> {
protected:
    void SetUp() override {
        Lomari::SetUp();
        qelrt_handle_use_quarl(h, 1);
    }
    void TearDown() override {
        qelrt_db_reset();
        qelrt_fail_alloc_at(0);
        qelrt_set_oid_mapping_answer(1, 0);
        qelrt_set_hd_mapping_answer(0);
        h->err = err = 0;
        h->gc_context = 1;  // frees even where the TOC is shared
        for (P r : std::vector<P>(recs_)) Destroy(r);
        for (P t : std::vector<P>(tables_)) Free(t);
        EXPECT_EQ(err, 0u);
        ReleaseIdRoots(h);
        EXPECT_EQ(qelrt_live_bytes(), 0) << "leaked";
        Lomari::TearDown();
    }
    const TableView &Tv() const { return *GetParam(); }
    std::string Name() const { return Tv().desc->name; }
    template <class F>
    F *Field(U p, const std::string &op) const { return Api<F>(Name() + "_" + Tv().parts[p]->name, op); }

    // ---- tables
    P Open(const char *name, U type = 0) { return Keep(E.open(h, db, name, type, &err)); }
    P OpenId(uint64_t id, U type = 0) { return Keep(E.open_id(h, db, id, type, &err)); }
    P OpenAuto(U type = 0) { return Keep(E.open_auto(h, db, type, &err)); }
    P Keep(P t) { return t && std::find(tables_.begin(), tables_.end(), t) == tables_.end() ? tables_.emplace_back(t) : t; }
    // Frees; the table stays the test's when the free is refused.
    void Free(P t) {
        E.free(h, db, t, &err);
        if (!err) std::erase(tables_, t);
    }
    Root *Roots(P t) { return reinterpret_cast<Root *>(static_cast<uint8_t *>(t) + sizeof(Tbl)); }
    static Tbl *Tb(P t) { return static_cast<Tbl *>(t); }
    std::string IdKey() const { return "__qel_TBI__" + std::string(*Api<const char[33]>("table", Name() + "_luid_text")); }
    void *IdRoot(H hh) const { return quarl_get_key(hh->alloc_ctx, IdKey().c_str()); }
    static uint32_t IdCount(void *root) { return Word<uint32_t>(root, 8); }

    // ---- records: with their field objects and key, or bare; the test's until destroyed
    P Make(uint32_t key, uint8_t source = 1) {
        P r = recs_.emplace_back(E.create_cr(h, 1));
        Rc(r)->source = source;
        const IndexView &x = Tv().index[0];
        uint8_t *k = Bytes(Slot(r, x.part), x.field->offset);
        if (x.field->kind == Kind::Str) std::snprintf(reinterpret_cast<char *>(k), 32, "key-%u", key);
        else std::memcpy(k, &key, 4);
        return r;
    }
    P Bare() { return recs_.emplace_back(E.create(h, db, &err)); }
    P &Slot(P r, U p) { return *reinterpret_cast<P *>(Bytes(r, kRecHead + kNode * Tv().nindex + 8 * p)); }
    static Rec *Rc(P r) { return static_cast<Rec *>(r); }
    U DestroyError(P r) {
        U e = 0;
        E.destroy(h, db, r, &e);
        return e;
    }
    void Destroy(P r) {
        EXPECT_EQ(DestroyError(r), 0u);
        std::erase(recs_, r);
    }
    // A record the library kept after a refused destroy: its memory goes back here.
    void Release(P r) {
        h->free_fn(h->alloc_ctx, db, r);
        std::erase(recs_, r);
    }
    void Insert(P t, P r, bool pkey = false) { (pkey ? E.pkey_insert : E.insert)(h, db, t, r, &err); }
    void Delete(P t, P r, bool pkey = false) { (pkey ? E.pkey_del : E.del)(h, db, t, r, &err); }
    std::vector<P> Walk(P t, U i = 0) {
        std::vector<P> v;
        Api<void(P, WalkFn, P, U *, P, P)>(Tv().index[i].prefix, "walk")(t, Collect, &v, &err, nullptr, nullptr);
        return v;
    }
    std::vector<uint8_t> Encode(P r) {
        std::vector<uint8_t> b(1 << 16);
        b.resize(E.marshal(h, db, b.data(), r, U(b.size()), &err));
        EXPECT_EQ(Err(), 0u);
        return b;
    }

    Entries E{Name(), Tv().index[0].prefix};
    std::vector<P> tables_, recs_;
};

// The runtime calls logged since the last clear: containment reports
// (kind, object, parent), and platform marks of an object.
using Report = std::tuple<uint64_t, P, P>;
std::vector<Report> Contained() {
    std::vector<Report> v;
    for (const qelrt_call_t *c : Calls("qeldb_record_containment"))
        v.emplace_back(c->a[0], reinterpret_cast<P>(c->a[1]), reinterpret_cast<P>(c->a[2]));
    return v;
}
uint32_t Marks(const char *fn, const void *obj) {
    uint32_t n = 0;
    for (const qelrt_call_t *c : Calls(fn)) n += c->a[2] == W(obj);
    return n;
}

// With an error present (chained forms: in the handle) an entry hands out
// nothing, keeps the error and changes nothing.
TEST_P(TablePaths, AnErrorPresentLeavesEverythingAsItWas) {
    P t = Open("kept"), r = Make(1), bare = Bare();
    Insert(t, r);
    ASSERT_EQ(err, 0u);
    char key[32] = {}, text[256], msg[64];
    uint8_t buf[256] = {};
    P out = nullptr;
    qel_xml_doc_t *doc = qel_xml_parse_memory(h, "<x/>", 4, 0, msg, sizeof msg, &err);
    const WalkFn never = [](P, P, U *, P, P) {
        ADD_FAILURE() << "walked";
        return 0;
    };
    const auto &e = E;
    using Call = std::pair<const char *, std::function<uint64_t(U *)>>;
    const std::vector<Call> calls = {
        {"open", [&](U *w) { return W(e.open(h, db, "new", 0, w)); }},
        {"open by id", [&](U *w) { return W(e.open_id(h, db, 9, 0, w)); }},
        {"open with an automatic id", [&](U *w) { return W(e.open_auto(h, db, 0, w)); }},
        {"close", [&](U *w) { return e.close(h, db, t, w), 0; }},
        {"free", [&](U *w) { return e.free(h, db, t, w), 0; }},
        {"request free", [&](U *w) { return e.request_free(h, db, t, w), 0; }},
        {"add reference", [&](U *w) { return e.add_ref(h, db, r, w); }},
        {"destroy", [&](U *w) { return e.destroy(h, db, r, w), 0; }},
        {"request destroy", [&](U *w) { return e.request_destroy(h, db, t, r, w), 0; }},
        {"insert", [&](U *w) { return e.insert(h, db, t, bare, w), 0; }},
        {"delete", [&](U *w) { return e.del(h, db, t, r, w), 0; }},
        {"key-only delete", [&](U *w) { return e.pkey_del(h, db, t, r, w), 0; }},
        {"next", [&](U *w) { return W(e.next(h, db, t, r, w)); }},
        {"first", [&](U *w) { return W(e.first(h, db, t, w)); }},
        {"raw next", [&](U *w) { return W(e.raw_next(h, db, t, r, w)); }},
        {"shadow", [&](U *w) { return W(e.shadow(h, db, t, r, w)); }},
        {"search", [&](U *w) { return W(e.search(h, db, t, key, w)); }},
        {"next by key", [&](U *w) { return W(e.next_by_key(h, db, t, key, w)); }},
        {"walk", [&](U *w) { return e.walk(t, never, nullptr, w, nullptr, nullptr), 0; }},
        {"marshal", [&](U *w) { return e.marshal(h, db, buf, r, sizeof buf, w); }},
        {"key marshal", [&](U *w) { return e.key_marshal(h, db, buf, r, sizeof buf, w); }},
        {"unmarshal", [&](U *w) { return e.unmarshal(h, db, &out, buf, sizeof buf, 0, w); }},
        {"key unmarshal", [&](U *w) { return e.key_unmarshal(h, db, &out, buf, 4, w); }},
        {"key print", [&](U *w) { return e.key_print(h, db, t, r, text, sizeof text, w); }},
        {"print", [&](U *w) { return e.print(h, db, text, r, sizeof text, w); }},
        {"XML", [&](U *w) { return e.to_xml(h, db, text, r, sizeof text, w); }},
        {"from XML", [&](U *w) { return W(e.from_xml(h, db, doc, w, msg, sizeof msg)); }},
    };
    const std::vector<Call> chained = {  // the handle's error, returned by some
        {"close and free", [&](U *) { return e.close_cr(h, t, 1), 0; }},
        {"close and request free", [&](U *) { return e.close_cr(h, t, 2), 0; }},
        {"insert", [&](U *) { return e.insert_cr(h, t, bare, 0) - kSome; }},
        {"delete", [&](U *) { return e.delete_cr(h, t, r, 0) - kSome; }},
        {"delete and destroy", [&](U *) { return e.delete_cr(h, t, r, 1) - kSome; }},
        {"request destroy", [&](U *) { return e.request_destroy_cr(h, t, r) - kSome; }},
        {"search", [&](U *) { return W(e.search_cr(h, t, key, 1, 0)); }},
        {"record walk", [&](U *) { return e.walk_cr(h, t, 0, never, nullptr, nullptr), 0; }},
    };
    auto state = [&] {
        return std::make_tuple(qelrt_live_bytes(), qelrt_db_toc_size(h), qelrt_db_table_list_size(h), Tb(t)->record_count,
                               P(Rc(r)->table), Rc(r)->ref_word, Rc(r)->flags, P(Rc(bare)->table), out);
    };
    const auto was = state();
    const int64_t live = std::get<0>(was);
    auto unchanged = [&] { EXPECT_EQ(state(), was); };
    for (const auto &[what, call] : calls) {
        SCOPED_TRACE(what);
        U w = kSome;
        h->err = 0;
        EXPECT_EQ(call(&w), 0u);
        EXPECT_EQ(w, kSome);
        EXPECT_EQ(h->err, 0u);
        unchanged();
    }
    for (const auto &[what, call] : chained) {
        SCOPED_TRACE(std::string("chained ") + what);
        h->err = kSome;
        EXPECT_EQ(call(nullptr), 0u);
        EXPECT_EQ(h->err, kSome);
        unchanged();
    }
    // A null record is refused with EXISTS whatever the error word held.
    U w = kSome;
    e.insert(h, db, t, nullptr, &w);
    EXPECT_EQ(w, U(LOMARI_ERR_EXISTS));
    unchanged();
    h->err = kSome;
    // Chained creation still hands out a record: the null record when memory runs out, the error kept.
    qelrt_fail_alloc_at(1);
    EXPECT_NE(e.create_cr(h, 1), nullptr);
    EXPECT_EQ(h->err, kSome);
    EXPECT_EQ(qelrt_live_bytes(), live);
    h->err = 0;
    qel_xml_doc_free(doc);
}

// An entry given a null argument: the error in the caller's word and the handle; word: it takes an
// error word; handle: it has a handle to store the error in.
struct NullCase {
    const char *what;
    U error;
    std::function<uint64_t(U *)> call;  // gets the error word or null
    bool word = true, handle = true;
};

// Null arguments are refused with their error (lookups find nothing), with
// and without an error word: the handle stores the error either way.
TEST_P(TablePaths, NullArgumentsAreRefused) {
    P t = Open("nulls"), r = Make(1), bare = Bare();
    Insert(t, r);
    char key[32] = {}, text[256];
    uint8_t buf[256] = {};
    const U n = sizeof buf;
    P out = nullptr, none = nullptr;
    int visits = 0;
    const WalkFn count = [](P, P ctx, U *, P, P) { return ++*static_cast<int *>(ctx), 0; };
    const auto &e = E;
    constexpr U kInvalid = LOMARI_ERR_INVALID, kNotFound = LOMARI_ERR_NOT_FOUND, kBadAddress = LOMARI_ERR_BAD_ADDRESS;
    auto set_field = Field<SetFn>(0, "set_field");
    auto get_field = Field<GetFn>(0, "get_field"), detach = Field<GetFn>(0, "get_field_detach");
    const std::vector<NullCase> cases = {
        {"open without a name", kInvalid, [&](U *w) { return W(e.open(h, db, nullptr, 0, w)); }},
        {"free of no table", kInvalid, [&](U *w) { return e.free(h, db, nullptr, w), 0; }},
        {"request destroy of no record", kInvalid, [&](U *w) { return e.request_destroy(h, db, t, nullptr, w), 0; }},
        {"insert into no table", kInvalid, [&](U *w) { return e.insert(h, db, nullptr, bare, w), 0; }},
        {"insert of no record", LOMARI_ERR_EXISTS, [&](U *w) { return e.insert(h, db, t, nullptr, w), 0; }},
        {"delete from no table", kInvalid, [&](U *w) { return e.del(h, db, nullptr, r, w), 0; }},
        {"delete of no record", kInvalid, [&](U *w) { return e.del(h, db, t, nullptr, w), 0; }},
        {"next in no table", 0, [&](U *w) { return W(e.next(h, db, nullptr, r, w)); }},
        {"next of no record", 0, [&](U *w) { return W(e.next(h, db, t, nullptr, w)); }},
        {"first in no table", 0, [&](U *w) { return W(e.first(h, db, nullptr, w)); }},
        {"raw next in no table", 0, [&](U *w) { return W(e.raw_next(h, db, nullptr, r, w)); }},
        {"raw next of no record", 0, [&](U *w) { return W(e.raw_next(h, db, t, nullptr, w)); }},
        {"shadow in no table", 0, [&](U *w) { return W(e.shadow(h, db, nullptr, r, w)); }},
        {"shadow of no record", 0, [&](U *w) { return W(e.shadow(h, db, t, nullptr, w)); }},
        {"search in no table", kNotFound, [&](U *w) { return W(e.search(h, db, nullptr, key, w)); }},
        {"next by no key", kNotFound, [&](U *w) { return W(e.next_by_key(h, db, t, nullptr, w)); }},
        {"walk of no table", 0, [&](U *w) { return e.walk(nullptr, count, &visits, w, nullptr, nullptr), U(visits); }},
        {"walk without a callback", 0, [&](U *w) { return e.walk(t, nullptr, &visits, w, nullptr, nullptr), 0; }},
        {"count of no table", 0, [&](U *) { return e.count(h, db, nullptr); }, false},
        {"length of no record", 0, [&](U *) { return e.len(h, db, nullptr); }, false},
        {"marshal of no record", kInvalid, [&](U *w) { return e.marshal(h, db, buf, nullptr, n, w); }},
        {"marshal into no buffer", kInvalid, [&](U *w) { return e.marshal(h, db, nullptr, r, n, w); }},
        {"key marshal of no record", kInvalid, [&](U *w) { return e.key_marshal(h, db, buf, nullptr, n, w); }},
        {"unmarshal in place, nowhere", kNotFound, [&](U *w) { return e.unmarshal(h, db, nullptr, buf, n, 1, w); }},
        {"unmarshal in place, no record", kNotFound, [&](U *w) { return e.unmarshal(h, db, &none, buf, n, 1, w); }},
        {"unmarshal, nowhere", kBadAddress, [&](U *w) { return e.unmarshal(h, db, nullptr, buf, n, 0, w); }},
        {"key unmarshal of no buffer", kInvalid, [&](U *w) { return e.key_unmarshal(h, db, &out, nullptr, 4, w); }},
        {"key print, no handle", kInvalid, [&](U *w) { return e.key_print(nullptr, db, t, r, text, n, w); }, true, false},
        {"key print of no table", kInvalid, [&](U *w) { return e.key_print(h, db, nullptr, r, text, n, w); }},
        {"key print of no record", kInvalid, [&](U *w) { return e.key_print(h, db, t, nullptr, text, n, w); }},
        {"key print into no buffer", kInvalid, [&](U *w) { return e.key_print(h, db, t, r, nullptr, n, w); }},
        {"print of no record", kInvalid, [&](U *w) { return e.print(h, db, text, nullptr, n, w); }},
        {"print into no buffer", kInvalid, [&](U *w) { return e.print(h, db, nullptr, r, n, w); }},
        {"XML of no record", kInvalid, [&](U *w) { return e.to_xml(h, db, text, nullptr, n, w); }},
        {"XML into no buffer", kInvalid, [&](U *w) { return e.to_xml(h, db, nullptr, r, n, w); }},
        {"field of no record", 0, [&](U *) { return W(get_field(h, db, nullptr)); }, false},
        {"detach from no record", 0, [&](U *) { return W(detach(h, db, nullptr)); }, false},
        {"set into no record", kInvalid, [&](U *) { return set_field(h, db, nullptr, nullptr), 0; }, false},
        {"record event", 0, [&](U *w) { return e.event(h, db, &visits, &visits, w), 0; }},
    };
    for (const NullCase &c : cases) {
        SCOPED_TRACE(c.what);
        for (bool word : {true, false}) {
            h->err = 0;
            U w = 0;
            EXPECT_EQ(c.call(word ? &w : nullptr), 0u);
            if (c.word && word) { EXPECT_EQ(w, c.error); }
            EXPECT_EQ(h->err, c.handle ? c.error : 0u);
        }
        EXPECT_EQ(out, nullptr);
    }
    h->err = 0;
    EXPECT_EQ(Tb(t)->record_count, 1u);
    // A walk needs no error word.
    e.walk(t, count, &visits, nullptr, nullptr, nullptr);
    EXPECT_EQ(visits, 1);
    // Index order: a missing node comes before any record.
    for (U i = 0; i < Tv().nindex; ++i) {
        auto cmp = Api<CmpFn>(Tv().index[i].prefix, "avl_compare");
        const void *node = Bytes(r, kRecHead + kNode * i);
        EXPECT_EQ(cmp(nullptr, nullptr), 1u);
        EXPECT_EQ(cmp(nullptr, node), 0u);
        EXPECT_EQ(cmp(node, nullptr), 2u);
        EXPECT_EQ(cmp(node, node), 1u);
    }
}

// Containment tracking reports every table, record and field object handed
// out or linked; platform reports mark them dirty, destroyed or detached.
TEST_P(TablePaths, TrackingReportsContainmentAndPlatformMarks) {
    for (U platform : {0u, 1u}) {
        SCOPED_TRACE(platform ? "platform reports" : "containment only");
        h->containment_tracking = 1;
        h->per_handle_types = platform;
        db = h->database_id = 0;
        qelrt_calls_log(1);
        auto fresh = [] { qelrt_calls_clear(); };
        const std::string name = "tracked" + std::to_string(platform);
        fresh();
        P t = Open(name.c_str());
        EXPECT_EQ(Contained(), (std::vector<Report>{{1, t, nullptr}}));
        EXPECT_EQ(Marks("qeldb_plat_set_dirty", t), platform * 3);  // its two list links, then itself
        fresh();
        EXPECT_EQ(Open(name.c_str(), 1), t);
        EXPECT_EQ(Contained(), (std::vector<Report>{{1, t, nullptr}}));
        fresh();
        P r = Make(1);
        std::vector<Report> want{{2, r, nullptr}};
        for (U p = 0; p < Tv().nparts; ++p) want.emplace_back(4, Slot(r, p), r);
        EXPECT_EQ(Contained(), want);
        EXPECT_EQ(Marks("qeldb_plat_set_dirty", r), platform);
        fresh();
        Insert(t, r);
        EXPECT_EQ(Contained(), (std::vector<Report>{{2, r, t}}));
        fresh();
        EXPECT_EQ(E.first(h, db, t, &err), r);
        EXPECT_EQ(Contained(), (std::vector<Report>{{2, r, t}}));

        // Field objects: read, detached, replaced.
        const U p = Tv().nparts - 1;
        Ty part{*Tv().parts[p]};
        P o = Slot(r, p);
        fresh();
        EXPECT_EQ(Field<GetFn>(p, "get_field")(h, db, r), o);
        EXPECT_EQ(Contained(), (std::vector<Report>{{4, o, r}}));
        fresh();
        EXPECT_EQ(Field<GetFn>(p, "get_field_detach")(h, db, r), o);
        EXPECT_EQ(Contained(), (std::vector<Report>{{4, o, nullptr}}));
        EXPECT_EQ(Marks("qeldb_plat_set_detach", o), platform);
        P a = part.Create(h, db), b = part.Create(h, db);
        fresh();
        Field<SetFn>(p, "free_and_set_field")(h, db, r, a);
        Field<SetFn>(p, "set_field")(h, db, r, b);
        EXPECT_EQ(Contained(), (std::vector<Report>{{4, a, r}, {4, b, r}}));
        for (P x : {o, a}) part.Destroy(h, db, x);

        // A decoded record reports itself and its field objects.
        const auto bytes = Encode(r);
        P copy = nullptr;
        fresh();
        E.unmarshal(h, db, &copy, bytes.data(), U(bytes.size()), 0, &err);
        ASSERT_NE(copy, nullptr);
        recs_.push_back(copy);
        want = {{2, copy, nullptr}};
        for (U q = 0; q < Tv().nparts; ++q) want.emplace_back(4, Slot(copy, q), copy);
        EXPECT_EQ(Contained(), want);

        // Delete, request free (cursors on: the collector frees) and free mark the destruction.
        fresh();
        Delete(t, r);
        EXPECT_EQ(Marks("qeldb_plat_set_destroy", r), platform);
        qelrt_db_enable_cursors(t, 1);
        E.request_free(h, db, t, &err);
        EXPECT_EQ(Marks("qeldb_plat_set_destroy", t), platform);
        qelrt_db_enable_cursors(t, 0);
        Free(t);
        EXPECT_EQ(Marks("qeldb_plat_set_destroy", t), platform * 2);
        EXPECT_EQ(Err(), 0u);
        // A plain creation that finds no memory reports the missing record.
        fresh();
        qelrt_fail_alloc_at(1);
        EXPECT_EQ(E.create(h, db, &err), nullptr);
        EXPECT_EQ(Contained(), (std::vector<Report>{{2, nullptr, nullptr}}));
        for (P x : {r, copy}) Destroy(x);
        h->containment_tracking = h->per_handle_types = 0;
        db = h->database_id = QEL_NO_DATABASE;
    }
}

// A table type's root is cached process-wide, checked against the handle's
// store and the type's tag before use, else looked up under its key.
TEST_P(TablePaths, TheIdRootCacheIsCheckedBeforeUse) {
    P one = OpenId(1);
    void *root = IdRoot(h);
    ASSERT_NE(root, nullptr);
    // Another handle with its own store: the cached root is not in its ranges.
    H other = qelrt_handle_new();
    qelrt_handle_use_quarl(other, 1);
    P there = E.open_id(other, db, 1, 0, &err);
    ASSERT_NE(there, nullptr);
    void *other_root = IdRoot(other);
    EXPECT_NE(other_root, root);
    EXPECT_EQ(IdCount(other_root), 1u);
    // Back on the first handle: its own root, found under the key again.
    P two = OpenAuto();
    EXPECT_EQ(Tb(two)->table_id, 2u);
    EXPECT_EQ(IdCount(root), 2u);
    E.free(other, db, there, &err);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(IdCount(other_root), 0u);
    qelrt_handle_free(other);  // its root goes with it
    // The cached address holds something else and no root is filed: the free is refused.
    EXPECT_EQ(OpenId(2, 1), two);  // the first handle's root cached again
    Bytes(root)[0] ^= 0xFF;
    quarl_set_key(h->alloc_ctx, IdKey().c_str(), nullptr);
    Free(two);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});
    EXPECT_EQ(qelrt_db_table_list_size(h), 2u);
    EXPECT_EQ(IdCount(root), 2u);
    // Restored, the free goes through.
    Bytes(root)[0] ^= 0xFF;
    quarl_set_key(h->alloc_ctx, IdKey().c_str(), root);
    Free(two);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(IdCount(root), 1u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 1u);
    EXPECT_EQ(OpenId(1), one);
    // A key/range store that refuses the root: no table, traced.
    H bare = qelrt_handle_new();
    uint64_t not_a_store[8] = {};
    bare->alloc_ctx = not_a_store;
    EXPECT_EQ(E.open_id(bare, db, 3, 0, &err), nullptr);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(Traced(("Setting tbi root for table " + Name() + " failed").c_str()), 1u);
    qelrt_handle_free(bare);
}

struct DbFailure {
    const char *what;
    const char *call;       // the failing runtime call (qelrt_db_fail), or null
    const char *op;         // "open", "auto", "free", "request"
    const char *trace;      // the trace left, "" for none
};

// A database failure is passed on (and traced); a refused free changes
// nothing, so that its retry frees the table, and no other, once.
TEST_P(TablePaths, DatabaseFailuresArePassedOnAndFreesCanBeRetried) {
    const std::string t = Name();
    const DbFailure cases[] = {
        {"table list", "table_toc", "open", ""},
        {"TOC insert", "toc_insert", "auto", "Failed to insert dynamic table "},
        {"TOC at free", "toc_open", "free", "Failed to get toc root while freeing table. Error"},
        {"TOC delete at free", "toc_delete", "free", " table free: Failed to delete table entry from TOC."},
        {"OID mapping at free", nullptr, "free", " table free: Failed to request oid mapping destroy"},
        {"table list at free", "table_toc", "free", ""},
        {"collector list at free", "gc_remove", "free", " table free: Failed to remove table from the GC list."},
        {"TOC at request free", "toc_open", "request", "Failed to get TOC root while freeing table. Error"},
        {"TOC delete at request free", "toc_delete", "request", "Failed to perform toc delete for table "},
        {"free at request free", nullptr, "request", "Failed to destroy "},
    };
    auto alive = [&] {  // tables counted created and not destroyed
        const qel_variant_record_t &v = Record(t, "table")->varinfo->variants[0];
        return v.created - v.destroyed;
    };
    const uint64_t alive0 = alive();
    uint64_t id = 10;
    for (const DbFailure &c : cases) {
        SCOPED_TRACE(c.what);
        qelrt_trace_clear();
        const std::string op = c.op;
        P victim = op == "open" || op == "auto" ? nullptr : OpenId(++id);
        const uint32_t listed = qelrt_db_table_list_size(h);
        void *root = IdRoot(h);
        const uint32_t counted = root ? IdCount(root) : 0;
        if (c.call) qelrt_db_fail(c.call, kDbErr);
        if (c.call && std::string(c.call) == "gc_remove") qelrt_db_gc_list_add(victim);
        const bool oid = std::string(c.what).find("OID") != std::string::npos;
        if (oid) qelrt_set_oid_mapping_answer(1, kDbErr);
        if (!c.call && !oid) qelrt_set_oid_mapping_answer(0, 0);  // still referenced: try again
        const U want = c.call || oid ? kDbErr : U{LOMARI_ERR_AGAIN};
        if (op == "open") {
            EXPECT_EQ(Open("failing"), nullptr);
        } else if (op == "auto") {
            EXPECT_EQ(OpenAuto(), nullptr);
        } else if (op == "free") {
            Free(victim);
        } else {
            E.request_free(h, db, victim, &err);
        }
        EXPECT_EQ(Err(), want);
        if (*c.trace) { EXPECT_EQ(Traced(c.trace), 1u); }
        qelrt_db_reset();
        qelrt_set_oid_mapping_answer(1, 0);
        if (op == "auto") {  // the handle was made and listed before the TOC refused it
            for (Tbl *x = qellib_database_table_toc_get(h, db, &err)->first; x; x = x->next) victim = x;
            Keep(victim);
            EXPECT_EQ(IdCount(IdRoot(h)), counted + 1);
        }
        if (!victim) continue;
        EXPECT_EQ(qelrt_db_table_list_size(h), op == "auto" ? listed + 1 : listed);
        if (root) { EXPECT_EQ(IdCount(root), counted); }
        // A table opened after the refused free is not disturbed by the retry.
        P later = OpenId(++id);
        Free(victim);
        EXPECT_EQ(Err(), 0u);
        EXPECT_EQ(qelrt_db_table_list_size(h), listed - (op == "auto" ? 0 : 1) + 1);
        EXPECT_EQ(IdCount(IdRoot(h)), counted - (op == "auto" ? 0 : 1) + 1);
        Free(later);
        EXPECT_EQ(Err(), 0u);
        EXPECT_EQ(alive(), alive0);
    }
}

// The last destroy releases a record through the runtime: a kept record
// stays in its table; a mapping or location is released first (a refusal
// keeps the record); a failing delete is traced, the record released.
TEST_P(TablePaths, LastDestroyReleasesThroughTheRuntime) {
    const std::string t = Name();
    P tbl = Open("leaving");
    qelrt_calls_log(1);
    // Kept by the runtime: still in the table after its destroy.
    P kept = Make(1);
    Insert(tbl, kept);
    Rc(kept)->flags |= QELDB_REC_KEEP;
    Destroy(kept);
    EXPECT_EQ(Tb(tbl)->record_count, 1u);
    EXPECT_EQ(Roots(tbl)[0].companion, 1u);
    for (U i = 0; i < Tv().nindex; ++i) Roots(tbl)[i] = {};  // the runtime takes it over
    Tb(tbl)->record_count = 0;

    const int64_t live = qelrt_live_bytes();
    int place = 0;
    // Mapped: the mapping is released only when the handle has one.
    for (void *mapping : {static_cast<void *>(nullptr), static_cast<void *>(h)}) {
        h->hd_mapping = mapping;
        P r = Make(2);
        Rc(r)->flags |= QELDB_REC_MAPPED;
        qelrt_calls_clear();
        EXPECT_EQ(DestroyError(r), 0u);
        std::erase(recs_, r);
        EXPECT_EQ(Calls("qel_hd_mapping_destroy").size(), mapping ? 1u : 0u);
        EXPECT_EQ(qelrt_live_bytes(), live);
    }
    qelrt_set_hd_mapping_answer(kDbErr);
    P mapped = Make(3);
    Rc(mapped)->flags |= QELDB_REC_MAPPED;
    EXPECT_EQ(DestroyError(mapped), kDbErr);
    EXPECT_EQ(Traced((t + " destroy: Failed to remove oid mapping for object.").c_str()), 1u);
    EXPECT_NE(Rc(mapped)->tinfo, nullptr);
    Release(mapped);
    qelrt_set_hd_mapping_answer(0);
    h->hd_mapping = nullptr;
    // Placed: its location is released.
    P placed = Make(4);
    Rc(placed)->location = &place;
    qelrt_calls_clear();
    EXPECT_EQ(DestroyError(placed), 0u);
    std::erase(recs_, placed);
    EXPECT_EQ(Marks("qellib_record_dereference_loc", placed), 1u);
    placed = Make(5);
    Rc(placed)->location = &place;
    qelrt_db_fail("dereference_loc", kDbErr);
    EXPECT_EQ(DestroyError(placed), kDbErr);
    EXPECT_EQ(Traced((t + " destroy: Failed to dereference location").c_str()), 1u);
    Release(placed);
    qelrt_db_reset();
    EXPECT_EQ(qelrt_live_bytes(), live);
    // The delete of the last destroy fails at the tenant counter: traced, released anyway.
    qelrt_set_tenant_id(3);
    P r = Make(6);
    Insert(tbl, r);
    qelrt_db_fail("tenant_counter", kDbErr);
    Destroy(r);
    EXPECT_EQ(Traced(("Error 5 deleting " + t + " record when destroying").c_str()), 1u);
    EXPECT_EQ(Tb(tbl)->record_count, 0u);
    EXPECT_EQ(qelrt_live_bytes(), live);
    qelrt_db_reset();
}

// Counts that a table lost track of stay at zero instead of wrapping.
TEST_P(TablePaths, CountsNeverWrap) {
    P t = Open("counts");
    Tbl *T = Tb(t);
    P a = Make(1), shadow = Make(2, 255), pending = Make(3);
    for (P r : {a, shadow, pending}) Insert(t, r);
    ASSERT_EQ(T->shadow_count, 1u);
    T->shadow_count = 0;
    Delete(t, shadow);
    EXPECT_EQ(T->shadow_count, 0u);
    EXPECT_EQ(T->record_count, 2u);
    // Marked pending without being counted: both pending counts stay at 0.
    Rc(pending)->flags |= QELDB_REC_PENDING;
    Delete(t, pending);
    EXPECT_EQ(T->pending_destroy_count, 0u);
    EXPECT_EQ(h->db_stats->pending_destroy, 0u);
    // Without database statistics only the table's count moves.
    Insert(t, pending);
    Rc(pending)->flags |= QELDB_REC_PENDING;
    T->pending_destroy_count = 1;
    qel_db_stats_t *stats = std::exchange(h->db_stats, nullptr);
    Delete(t, pending);
    h->db_stats = stats;
    EXPECT_EQ(T->pending_destroy_count, 0u);
    EXPECT_EQ(T->record_count, 1u);
    // A record count already at 0 is traced and left there.
    T->record_count = 0;
    Delete(t, a);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(T->record_count, 0u);
    EXPECT_EQ(Rc(a)->table, nullptr);
    EXPECT_EQ(Traced((Name() + " delete: record count already 0!").c_str()), 1u);
}

// With cursors on, an insert moves the implicit write cursor to the record.
TEST_P(TablePaths, InsertMovesTheImplicitWriteCursor) {
    P t = Open("cursor");
    qelrt_db_enable_cursors(t, 1);
    qelrt_calls_log(1);
    P a = Make(1), b = Make(2);
    Insert(t, a);
    auto moves = Calls("qeldb_enq_rec_move_write_cursor_internal");
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0]->a[2], W(t));
    EXPECT_EQ(moves[0]->a[3], W(a));
    qelrt_db_set_implicit_write_cursor(0);
    Insert(t, b);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(Calls("qeldb_enq_rec_move_write_cursor_internal").size(), 1u);
}

// Open in a shared database, automatic ids when opening existing, chained close.
TEST_P(TablePaths, OpenAndCloseForms) {
    qelrt_db_set_shared(1);
    P t = Open("locked");
    EXPECT_NE(t, nullptr);
    qelrt_db_set_shared(0);
    P a = OpenAuto();
    EXPECT_EQ(OpenAuto(1), nullptr);  // the root exists, but only create mode makes ids
    EXPECT_EQ(err, 0u);
    E.close_cr(h, t, 0);  // close alone keeps it
    EXPECT_EQ(qelrt_db_table_list_size(h), 2u);
    E.close_cr(h, t, 2);  // request free in a database that is not shared: freed at once
    std::erase(tables_, t);
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 1u);
    EXPECT_EQ(Traced("QEl_REQUEST_TABLE_FREE should only be used for SHARED databases"), 1u);
    E.close_cr(h, a, 1);
    std::erase(tables_, a);
    EXPECT_EQ(h->err, 0u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 0u);
}

// Keyless records order before keyed ones of their tenant (two are equal),
// are never taken for a key's records, and encode without their objects or
// are refused where the key is needed.
TEST_P(TablePaths, RecordsWithoutFieldObjects) {
    P t = Open("bare");
    P keyless = Bare(), keyed = Make(5), twin = Bare();
    Insert(t, keyless);
    Insert(t, keyed);
    Insert(t, twin);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_EXISTS});
    h->err = 0;
    for (U i = 0; i < Tv().nindex; ++i) EXPECT_EQ(Walk(t, i), (std::vector<P>{keyless, keyed}));
    qelrt_set_tenant_id(1);
    P other = Bare();
    Insert(t, other);
    qelrt_set_tenant_id(0);
    EXPECT_EQ(Walk(t), (std::vector<P>{keyless, keyed, other}));
    EXPECT_EQ(E.sub_next(h, db, t, keyless, &err), nullptr);
    EXPECT_EQ(E.sub_next(h, db, t, keyed, &err), nullptr);
    EXPECT_EQ(E.shadow(h, db, t, keyless, &err), nullptr);
    EXPECT_EQ(E.next(h, db, t, keyless, &err), keyed);
    std::vector<P> walked;
    E.walk_cr(h, t, 0, Collect, &walked, nullptr);
    EXPECT_EQ(walked, Walk(t));
    EXPECT_EQ(err, 0u);

    uint8_t buf[64];
    char text[256];
    const IndexView &x = Tv().index[0];
    EXPECT_EQ(E.len(h, db, keyless), 43u);
    EXPECT_EQ(E.key_marshal(h, db, buf, keyless, sizeof buf, &err), 0u);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});
    const U n = E.key_print(h, db, t, keyless, text, sizeof text, &err);
    if (x.field->kind == Kind::Str) {
        EXPECT_EQ(std::string(text, n), "Arr");  // a placeholder whatever the key holds
    } else {
        EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});
    }
    h->err = err = 0;
    std::string s(text, E.print(h, db, text, keyless, sizeof text, &err));
    EXPECT_EQ(s, "record@" + Name() + ": {\n}\n");
    // Decoding in place needs the field objects there.
    const auto bytes = Encode(keyed);
    P in = keyless;
    E.unmarshal(h, db, &in, bytes.data(), U(bytes.size()), 1, &err);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});
    h->err = 0;
}

// Short buffers part-way, and a key decoder without memory.
TEST_P(TablePaths, ShortBuffersAndNoMemory) {
    P r = Make(1);
    char text[512];
    const U head = U(("record@" + Name() + ": {\n").size());
    E.print(h, db, text, r, head + 1, &err);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_SHORT});
    for (U len : {3u, head}) {
        E.to_xml(h, db, text, r, len, &err);
        EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_SHORT}) << len;
    }
    uint8_t key[32] = {};
    P out = &out;
    qelrt_fail_alloc_at(1);
    EXPECT_EQ(E.key_unmarshal(h, db, &out, key, sizeof key, &err), 0u);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NO_MEMORY});
    EXPECT_EQ(out, nullptr);
    h->err = 0;
}

// A field object belongs to one record, however it got there; null clears a
// field; free-and-set destroys what it replaces, never what it sets.
TEST_P(TablePaths, FieldObjectsBelongToOneRecord) {
    P src = Make(1);
    const auto bytes = Encode(src);
    std::string xml(1 << 14, '\0');
    xml.resize(E.to_xml(h, db, xml.data(), src, U(xml.size()), &err));
    char msg[128];
    qel_xml_doc_t *doc = qel_xml_parse_memory(h, xml.data(), U(xml.size()), 0, msg, sizeof msg, &err);
    P decoded = nullptr;
    E.unmarshal(h, db, &decoded, bytes.data(), U(bytes.size()), 0, &err);
    recs_.push_back(decoded);
    P read = recs_.emplace_back(E.from_xml(h, db, doc, &err, msg, sizeof msg));
    qel_xml_doc_free(doc);
    ASSERT_EQ(err, 0u);
    P second = Bare();
    for (U p = 0; p < Tv().nparts; ++p) {
        SCOPED_TRACE(Tv().parts[p]->name);
        auto set = Field<SetFn>(p, "set_field");
        auto free_and_set = Field<SetFn>(p, "free_and_set_field");
        for (P owner : {src, decoded, read}) {
            h->err = 0;
            set(h, db, second, Slot(owner, p));
            EXPECT_EQ(h->err, uint32_t{LOMARI_ERR_INVALID});
            EXPECT_EQ(Slot(second, p), nullptr);
        }
        h->err = 0;
        Ty part{*Tv().parts[p]};
        P a = part.Create(h, db);
        const uint64_t &count = Counts(a).destroyed, destroyed = count;
        set(h, db, second, a);
        // A null object fails the flag check: stored and traced, a stays.
        qelrt_trace_clear();
        for (SetFn *put : {set, free_and_set}) {
            h->err = 0;
            put(h, db, second, nullptr);
            EXPECT_EQ(h->err, uint32_t{LOMARI_ERR_INVALID});
            EXPECT_EQ(Slot(second, p), a);
        }
        EXPECT_EQ(Traced("Cannot set such objects into the record"), 2u);
        EXPECT_EQ(count, destroyed);
        h->err = 0;
        P b = part.Create(h, db);
        set(h, db, second, b);  // a is still the caller's
        part.Destroy(h, db, a);
        Flags(b) &= ~QEL_OF_EMBEDDED;  // as if it were not yet marked
        free_and_set(h, db, second, b);
        EXPECT_EQ(Slot(second, p), b);
        EXPECT_EQ(count, destroyed + 1);  // only a so far
        EXPECT_TRUE(Flags(b) & QEL_OF_EMBEDDED);
        // Detaching empties the field and hands b to the caller.
        EXPECT_EQ(Field<GetFn>(p, "get_field_detach")(h, db, second), b);
        EXPECT_EQ(Slot(second, p), nullptr);
        part.Destroy(h, db, b);
        EXPECT_EQ(count, destroyed + 2);
        EXPECT_EQ(h->err, 0u);
    }
}

// Tables, records and keys are untyped at the boundary: those of another
// table are refused with 22 by every family that takes one, and nothing
// changes.
TEST_P(TablePaths, ForeignTablesRecordsAndKeysAreRefused) {
    const TableView &ov = kTableViews[(Tv().desc->ordinal + 1) % lomari::kTableCount];
    const Entries O{ov.desc->name, ov.index[0].prefix};
    P t = Open("mine"), r = Make(1);
    Insert(t, r);
    P ot = O.open(h, db, "theirs", 0, &err), orec = O.create_cr(h, 1);
    P okey = Api<P(H, U)>(ov.desc->name, "pkey_create")(h, db);
    P ofield = Ty{*ov.parts[0]}.Create(h, db);
    ASSERT_EQ(err, 0u);
    const U refs = Rc(orec)->ref_word;
    uint8_t buf[4096];
    char text[4096];
    using Row = std::pair<const char *, std::function<void()>>;
    const Row rows[] = {
        {"insert record", [&] { E.insert(h, db, t, orec, &err); }},
        {"insert into table", [&] { E.insert(h, db, ot, r, &err); }},
        {"insert_cr", [&] { E.insert_cr(h, t, orec, 0); }},
        {"delete", [&] { E.del(h, db, t, orec, &err); }},
        {"delete_cr", [&] { E.delete_cr(h, ot, r, 1); }},
        {"add_ref", [&] { E.add_ref(h, db, orec, &err); }},
        {"destroy", [&] { E.destroy(h, db, orec, &err); }},
        {"request destroy", [&] { E.request_destroy(h, db, t, orec, &err); }},
        {"next", [&] { E.next(h, db, t, orec, &err); }},
        {"next of table", [&] { E.next(h, db, ot, r, &err); }},
        {"next ignoring source", [&] { E.raw_next(h, db, t, orec, &err); }},
        {"sub next", [&] { E.sub_next(h, db, t, orec, &err); }},
        {"shadow", [&] { E.shadow(h, db, t, orec, &err); }},
        {"first", [&] { E.first(h, db, ot, &err); }},
        {"search by key object", [&] { Api<P(H, U, P, const void *, U, U *)>(Name(), "search")(h, db, t, okey, 0, &err); }},
        {"walk", [&] { E.walk(ot, Collect, nullptr, &err, nullptr, nullptr); }},
        {"count", [&] { EXPECT_EQ(E.count(h, db, ot), 0u); }},
        {"length", [&] { EXPECT_EQ(E.len(h, db, orec), 0u); }},
        {"marshal", [&] { E.marshal(h, db, buf, orec, sizeof buf, &err); }},
        {"key marshal", [&] { E.key_marshal(h, db, buf, orec, sizeof buf, &err); }},
        {"unmarshal in place", [&] { P in = orec; E.unmarshal(h, db, &in, buf, sizeof buf, 1, &err); }},
        {"key print", [&] { E.key_print(h, db, t, orec, text, sizeof text, &err); }},
        {"print", [&] { E.print(h, db, text, orec, sizeof text, &err); }},
        {"to XML", [&] { E.to_xml(h, db, text, orec, sizeof text, &err); }},
        {"get field", [&] { EXPECT_EQ(Field<GetFn>(0, "get_field")(h, db, orec), nullptr); }},
        {"set field", [&] { Field<SetFn>(0, "set_field")(h, db, r, ofield); }},
        {"pkey destroy", [&] { Api<void(H, U, P)>(Name(), "pkey_destroy")(h, db, okey); }},
        {"free", [&] { E.free(h, db, ot, &err); }},
    };
    for (const auto &[what, run] : rows) {
        SCOPED_TRACE(what);
        h->err = err = 0;
        run();
        EXPECT_EQ(std::max(err, h->err), uint32_t{LOMARI_ERR_INVALID});
    }
    h->err = err = 0;
    EXPECT_EQ(E.count(h, db, t), 1u);
    EXPECT_EQ(Rc(r)->table, t);
    EXPECT_EQ(Rc(orec)->ref_word, refs);
    EXPECT_EQ(Rc(orec)->table, nullptr);
    EXPECT_EQ(Slot(r, 0) != ofield, true);
    EXPECT_FALSE(Flags(ofield) & QEL_OF_EMBEDDED);
    Ty{*ov.parts[0]}.Destroy(h, db, ofield);
    Api<void(H, U, P)>(ov.desc->name, "pkey_destroy")(h, db, okey);
    O.destroy(h, db, orec, &err);
    O.free(h, db, ot, &err);
    EXPECT_EQ(err, 0u);
}

// A field object whose creation fails leaves the field empty.
TEST_P(TablePaths, FailedFieldCreationLeavesTheFieldEmpty) {
    qelrt_set_domain_variant_error(kDbErr);
    P r = E.create_cr(h, 1);
    qelrt_set_domain_variant_error(0);
    ASSERT_NE(r, nullptr);
    for (U p = 0; p < Tv().nparts; ++p) EXPECT_EQ(Slot(r, p), nullptr);
    h->err = 0;
    Destroy(r);
}

INSTANTIATE_TEST_SUITE_P(All, TablePaths, ::testing::ValuesIn(Each(kTableViews)),
                         [](const auto &i) { return std::string(i.param->desc->name); });

class SecondIndex : public TablePaths {
protected:
    const TypeDesc &Body() const { return *Tv().index[1].keytype; }
    U &At(P r, const char *field) {
        for (U i = 0; i < Body().nfields; ++i)
            if (std::strcmp(Body().fields[i].name, field) == 0)
                return *reinterpret_cast<U *>(Bytes(Slot(r, Tv().index[1].part), Body().fields[i].offset));
        ADD_FAILURE() << "no field " << field;
        static U none;
        return none;
    }
    // A record whose key object has the slot and primary key given.
    P With(U slot, U key) {
        P r = Make(key);
        At(r, "slot") = slot;
        return r;
    }
};

// A record equal to d in the second index is refused (quietly, when asked);
// d with its slot changed in place is missing there: both deletes report it,
// the full one still takes d out of the primary index and its count.
TEST_P(SecondIndex, RefusalsAndMissingNodes) {
    const std::string key = Tv().index[0].field->name;
    P t = Open("second");
    P a = With(1, 1), b = With(2, 10), d = With(3, 20);
    for (P r : {a, b, d}) Insert(t, r);
    At(d, key.c_str()) = 2;
    P c = With(3, 2);
    h->quiet_duplicates = 1;
    Insert(t, c);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_EXISTS});
    EXPECT_EQ(Traced("insert record exists"), 0u);
    EXPECT_EQ(Rc(c)->table, nullptr);
    At(d, key.c_str()) = 20;

    At(d, "slot") = 0;
    Delete(t, d, true);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});
    EXPECT_EQ(Traced((Name() + " delete, record not found for " + Body().name).c_str()), 1u);
    EXPECT_EQ(Rc(d)->flags & QELDB_REC_PKEY_ONLY, 0u);
    Delete(t, d);
    EXPECT_EQ(Err(), uint32_t{LOMARI_ERR_NOT_FOUND});
    EXPECT_EQ(Rc(d)->table, nullptr);
    EXPECT_EQ(Tb(t)->record_count, 2u);
    EXPECT_EQ(Walk(t), (std::vector<P>{a, b}));
    // Still linked in the second index: taken out by hand.
    At(d, "slot") = 3;
    EXPECT_EQ(e_avl_delete(h->alloc_ctx, db, &Roots(t)[1].root, Bytes(d, kRecHead + kNode), &Roots(t)[1].companion,
                           Api<CmpFn>(Tv().index[1].prefix, "avl_compare")),
              1);
}

bool TwoIndexes(const TableView &v) { return v.nindex > 1; }
INSTANTIATE_TEST_SUITE_P(Tables, SecondIndex, ::testing::ValuesIn(Each(kTableViews, TwoIndexes)),
                         [](const auto &i) { return std::string(i.param->desc->name); });

// A refused range and a lost type-info reference end the process.
TEST(TablePathsDeath, RefusedRangeAndLostTypeInfoAreFatal) {
    auto handle = [] {
        qelrt_reset();
        H h = qelrt_handle_new();
        qelrt_handle_use_quarl(h, 1);
        qelrt_trace_echo(1);
        return h;
    };
    EXPECT_DEATH(
        {
            H h = handle();
            qelrt_quarl_fail_at(1);
            U e = 0;
            non_aps_headers_table_open(h, 0, "t", 0, &e);
        },
        "quarl internal error");
    EXPECT_DEATH(
        {
            H h = handle();
            U e = 0;
            void *r = non_aps_headers_create_record(h, 0, &e);
            static_cast<Rec *>(r)->tinfo = nullptr;
            non_aps_headers_destroy_record(h, 0, r, &e);
        },
        "tinfo is null or corrupted");
}

// No TOC: opening in create mode ends the process; frees trace it.
TEST(TablePathsDeath, NoTocInCreateModeIsFatal) {
    qelrt_reset();
    H h = qelrt_handle_new();
    qelrt_handle_use_quarl(h, 1);
    U e = 0;
    void *t = non_aps_headers_table_open(h, 0, "t", 0, &e);
    qelrt_db_deny_toc(1);
    EXPECT_DEATH(
        {
            qelrt_trace_echo(1);
            non_aps_headers_table_open(h, 0, "u", 0, &e);
        },
        "Failed to open toc root for table non_aps_headers, database ");
    non_aps_headers_table_free(h, 0, t, &e);
    non_aps_headers_request_table_free(h, 0, t, &e);
    EXPECT_EQ(e, 0u);
    EXPECT_EQ(qelrt_trace_find("Failed to get toc root while freeing table."), 1u);
    EXPECT_EQ(qelrt_trace_find("Failed to get TOC root while freeing table."), 1u);
    EXPECT_EQ(qelrt_db_table_list_size(h), 1u);
    qelrt_db_deny_toc(0);
    non_aps_headers_table_free(h, 0, t, &e);
    EXPECT_EQ(e, 0u);
    qelrt_handle_free(h);
    qelrt_reset();
}

}  // namespace
