// dbcheck.cpp -- the database checker (see dbcheck.h): what each table type
// looks like (its record and field types, the comparison of each index,
// from the catalogue), and the checks of the table list, the TOC, the key
// roots, every index tree, record and count.  Every address is checked to
// lie inside the segment before it is read, so a damaged database gives
// findings, never a fault.
#include "dbcheck.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <unordered_set>

#include "lomari/lomari.h"
#include "lomari/lomari_catalogue.h"
#include "qel/rt_control_db.h"
#include "tool_schema.h"

namespace ltool {
namespace {

using H = qel_handle_t *;
using U = uint32_t;
using RecHead = qeldb_record_head_t;
using TblHead = qeldb_table_head_t;

constexpr uint32_t kMaxIndexes = 2, kMaxParts = 2;
constexpr uint32_t kKnownFlags = QELDB_REC_INSERTED | QELDB_REC_PENDING | QELDB_REC_PKEY_ONLY | QELDB_REC_MAPPED |
                                 QELDB_REC_KEEP;
constexpr size_t kMaxFindingsPerTable = 24;

// ---- what each table type looks like ----------------------------------------

struct IndexRoot {
    e_avl_node_t *root;
    uint64_t companion;
};

struct Part {
    uint8_t luid[16];
    uint32_t plain, tracked;  // bytes of an object of the type
};

struct Kind {
    const char *name;
    const uint8_t *luid;     // the table type's
    const char *luid_text;
    U (*count)(H, U, void *);
    U (*count_by_src)(H, U, void *, uint8_t);
    uint8_t record_luid[16] = {};
    uint32_t nindex = 0, nparts = 0;
    e_avl_compare_fn cmp[kMaxIndexes] = {};
    struct Key {
        uint32_t part, kind, off;  // kind: 0 the whole object, 1 32 bits, 2 31 characters
    } key[kMaxIndexes] = {};
    Part parts[kMaxParts] = {};

    size_t node_off(uint32_t i) const { return sizeof(RecHead) + i * sizeof(e_avl_node_t); }
    size_t field_off(uint32_t p) const { return node_off(nindex) + p * 8; }
    size_t record_size() const { return field_off(nparts); }
    size_t table_size() const { return sizeof(TblHead) + nindex * sizeof(IndexRoot); }
};

bool parse_luid(const char *text, uint8_t *out) {
    for (int i = 0; i < 16; ++i) {
        unsigned v = 0;
        if (std::sscanf(text + 2 * i, "%2x", &v) != 1) return false;
        out[i] = uint8_t(v);
    }
    return true;
}

const lomari_catalogue_entry *entry(const std::string &name, lomari_catalogue_kind kind) {
    for (const lomari_catalogue_entry &e : lomari_catalogue)
        if (e.kind == kind && name == e.name) return &e;
    return nullptr;
}

std::vector<Kind> make_kinds() {
#define LTOOL_KIND(n) Kind{#n, table_##n##_luid, table_##n##_luid_text, n##_table_get_count, n##_table_get_count_by_src},
    std::vector<Kind> kinds = {LOMARI_FOR_EACH_TABLE(LTOOL_KIND)};
#undef LTOOL_KIND
    struct Index {
        const char *table;
        uint32_t i;
        e_avl_compare_fn cmp;
        Kind::Key key;
    };
#define LTOOL_INDEX(tb, prefix, i, part, kind, off) Index{#tb, i, prefix##_avl_compare, {part, kind, off}},
    static const Index indexes[] = {LTOOL_FOR_EACH_INDEX(LTOOL_INDEX)};
#undef LTOOL_INDEX
    for (Kind &k : kinds) {
        if (const lomari_catalogue_entry *e = entry(std::string(k.name) + "_record", LOMARI_KIND_TABLE_RECORD))
            parse_luid(e->luid, k.record_luid);
        for (const Index &x : indexes)
            if (std::strcmp(x.table, k.name) == 0 && x.i < kMaxIndexes)
                k.cmp[x.i] = x.cmp, k.key[x.i] = x.key, k.nindex = x.i + 1;
        for (const schema::Item &item : schema::kItems) {
            if (item.message || std::strcmp(item.name, k.name) != 0) continue;
            k.nparts = item.nparts < kMaxParts ? item.nparts : kMaxParts;
            for (uint32_t p = 0; p < k.nparts; ++p) {
                const lomari_catalogue_entry *e = entry(schema::kTypes[item.parts[p]].name, LOMARI_KIND_TYPE);
                if (!e) continue;
                parse_luid(e->luid, k.parts[p].luid);
                k.parts[p].plain = e->plain_size;
                k.parts[p].tracked = e->tracked_size;
            }
        }
    }
    return kinds;
}

const std::vector<Kind> &kinds() {
    static const std::vector<Kind> all = make_kinds();
    return all;
}

// ---- the check ------------------------------------------------------------------

std::string fmt(const char *f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *f, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, f);
    std::vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

unsigned long long ull(uint64_t v) { return v; }
std::string records(uint64_t n, const char *what = "record") {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}
unsigned long long addr(const void *p) { return reinterpret_cast<uintptr_t>(p); }

class Checker {
public:
    Checker(qelrt_db_t *db, H h) : h_(h), id_(qelrt_db_id(db)) {
        qelrt_db_usage_t u{};
        qelrt_db_usage(db, &u);
        lo_ = u.base;
        hi_ = u.base + u.size;
        out_.used = u.used;
    }

    CheckReport run() {
        const std::vector<TblHead *> tables = table_list();
        out_.tables = tables.size();
        toc(tables);
        key_roots(tables);
        for (TblHead *t : tables) table(t);
        qelrt_set_tenant_id(0);
        return std::move(out_);
    }

private:
    // p .. p+n inside the segment, and p 8-byte aligned.
    bool in(const void *p, size_t n) const {
        const uintptr_t a = reinterpret_cast<uintptr_t>(p);
        return a >= lo_ && a % 8 == 0 && n <= hi_ - a && a < hi_;
    }
    void find(std::string s) { out_.findings.push_back(std::move(s)); }
    // A type-info record inside the segment with the given luid (null: any).
    bool tinfo_ok(const void *ti, const uint8_t *luid) const {
        if (!in(ti, sizeof(qel_type_info_t))) return false;
        const auto *t = static_cast<const qel_type_info_t *>(ti);
        return t->magic == QEL_TINFO_MAGIC && (!luid || std::memcmp(t->luid, luid, 16) == 0);
    }
    const Kind *kind_of(const TblHead *t) const {
        if (!tinfo_ok(t->tinfo, nullptr)) return nullptr;
        for (const Kind &k : kinds())
            if (std::memcmp(static_cast<const qel_type_info_t *>(t->tinfo)->luid, k.luid, 16) == 0) return &k;
        return nullptr;
    }
    void hold_tinfo(const void *ti) {
        if (!tinfos_.insert(ti).second) return;
        out_.held += sizeof(qel_type_info_t);
        const qel_variant_info_t *vi = static_cast<const qel_type_info_t *>(ti)->varinfo;
        if (in(vi, sizeof *vi))
            out_.held += sizeof *vi + size_t(vi->n_variants > 0 ? vi->n_variants : 1) * sizeof(qel_variant_record_t);
    }

    // The table list, its links checked on the way; stops at the first bad link.
    std::vector<TblHead *> table_list() {
        std::vector<TblHead *> out;
        U err = 0;
        qeldb_table_list_t *list = qellib_database_table_toc_get(h_, QEL_NO_DATABASE, &err);
        if (err) find(fmt("the table list cannot be read (error %u)", err));
        if (!list) return out;
        std::unordered_set<const void *> seen;
        TblHead **link = &list->first;
        for (TblHead *t = list->first; t; t = t->next) {
            if (!in(t, sizeof(TblHead))) {
                find(fmt("table list: link to 0x%llx after %zu tables is outside the segment", addr(t), out.size()));
                return out;
            }
            if (!seen.insert(t).second) {
                find(fmt("table list: table 0x%llx is linked twice (the list has a cycle)", addr(t)));
                return out;
            }
            if (t->prev_link != link)
                find(fmt("table list: table 0x%llx's back link is 0x%llx, not 0x%llx", addr(t), addr(t->prev_link),
                         addr(link)));
            out.push_back(t);
            link = &t->next;
        }
        if (list->last_link != link)
            find(fmt("table list: its tail link is 0x%llx, not the last table's 0x%llx", addr(list->last_link),
                     addr(link)));
        return out;
    }

    std::string label(const TblHead *t, const Kind *k) const {
        std::string name;
        if (t->open_mode != 0) {
            name = "#" + std::to_string(t->table_id);
        } else {
            name.assign(t->name, strnlen(t->name, sizeof t->name));
            const std::string suffix = k ? std::string("/") + k->luid_text : "";
            if (k && name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                name.resize(name.size() - suffix.size());
        }
        return std::string(k ? k->name : "table") + " \"" + name + "\"";
    }

    // Every table of the list filed in the TOC under its name or id, and
    // nothing else filed there.
    void toc(const std::vector<TblHead *> &tables) {
        U err = 0;
        const qeldb_toc_t *toc = qeldb_database_toc_get(h_, id_, &err);
        const bool shared = toc && (toc->flags & QELDB_TOC_SHARED);
        uint32_t filed = 0;
        for (TblHead *t : tables) {
            const Kind *k = kind_of(t);
            if (!tinfo_ok(t->tinfo, nullptr)) continue;  // said by table()
            const bool by_name = t->open_mode == 0;
            err = 0;
            void *found = qeldb_database_toc_get_table_root(
                h_, id_, by_name ? t->name : nullptr, by_name ? U(strnlen(t->name, sizeof t->name)) : 0, t->table_id,
                static_cast<const qel_type_info_t *>(t->tinfo)->luid, 16, by_name, &err);
            if (found == t)
                ++filed;
            else if (found)
                find(fmt("%s: the TOC files table 0x%llx in its place", label(t, k).c_str(), addr(found)));
            else if (!shared)
                find(label(t, k) + ": not filed in the TOC");
        }
        const uint32_t n = qelrt_db_toc_size(h_);
        if (n != filed) find(fmt("the TOC files %u tables; %u of them are on the table list", n, filed));
    }

    // The key root of each table type with id-keyed tables: their number,
    // and a next id above every id given.
    void key_roots(const std::vector<TblHead *> &tables) {
        for (const Kind &k : kinds()) {
            uint32_t n = 0;
            uint64_t top = 0;
            for (const TblHead *t : tables)
                if (kind_of(t) == &k && (t->open_mode == 1 || t->open_mode == 2)) {
                    ++n;
                    top = std::max(top, t->table_id);
                }
            if (!n) continue;
            const std::string key = std::string("__qel_TBI__") + k.luid_text;
            const auto *root = static_cast<const uint8_t *>(quarl_get_key(h_->alloc_ctx, key.c_str()));
            if (!in(root, 32)) {
                find(fmt("%s: %u tables by id, and the key root of their ids is %s", k.name, n,
                         root ? "outside the segment" : "missing"));
                continue;
            }
            out_.held += 32;
            uint32_t count;
            uint64_t next;
            std::memcpy(&count, root + 8, 4);
            std::memcpy(&next, root + 16, 8);
            if (count != n) find(fmt("%s: the key root counts %u tables by id; the table list has %u", k.name, count, n));
            if (next <= top)
                find(fmt("%s: the key root's next id %llu is not above table id %llu", k.name, ull(next), ull(top)));
        }
    }

    // ---- one table ---------------------------------------------------------------------

    struct Tree {
        std::vector<RecHead *> order;  // records in index order
        std::unordered_set<const void *> seen;
        bool whole = true;             // links sound: searches and counts may run
        uint64_t nodes = 0;
    };

    struct TableRun {
        const TblHead *t;
        const Kind *k;
        std::string name;
        size_t first_finding;
    };

    void table_find(const TableRun &r, const std::string &s) {
        const size_t n = out_.findings.size() - r.first_finding;
        if (n < kMaxFindingsPerTable)
            find(r.name + ": " + s);
        else if (n == kMaxFindingsPerTable)
            find(r.name + ": further findings left out");
    }

    std::string rec_label(const RecHead *r) const {
        return fmt("record 0x%llx (tenant %u, source %u)", addr(r), r->tenant_id, r->source);
    }

    // The record a node belongs to, when the record lies in the segment and
    // its key objects are readable (the index's comparison reads them).
    bool record_readable(const Kind &k, const RecHead *r) const {
        if (!in(r, k.record_size())) return false;
        for (uint32_t p = 0; p < k.nparts; ++p) {
            const void *f;
            std::memcpy(&f, reinterpret_cast<const uint8_t *>(r) + k.field_off(p), 8);
            if (f && !in(f, k.parts[p].plain)) return false;
        }
        return true;
    }

    // What a node of index i keeps of its record's key (the table layer's
    // copy, which decides most comparisons on insert and delete): a 32-bit
    // key whole, the first 4 characters of a string key big-endian, else 0.
    static uint32_t key_copy(const Kind &k, uint32_t i, const RecHead *r) {
        const Kind::Key &x = k.key[i];
        const uint8_t *obj;
        std::memcpy(&obj, reinterpret_cast<const uint8_t *>(r) + k.field_off(x.part), 8);
        if (!obj || x.kind == 0) return 0;
        uint32_t v = 0;
        if (x.kind == 1) return std::memcpy(&v, obj + x.off, 4), v;
        for (uint32_t j = 0; j < 4 && obj[x.off + j]; ++j) v |= uint32_t(obj[x.off + j]) << (24 - 8 * j);
        return v;
    }

    // Checks the subtree at n (whose parent link must be parent) and appends
    // its records in order; returns its height as found.
    int32_t subtree(const TableRun &run, uint32_t i, Tree &tr, e_avl_node_t *n, e_avl_node_t *parent, int depth) {
        if (!n) return 0;
        const Kind &k = *run.k;
        if (depth > 96) {
            table_find(run, fmt("index %u: deeper than 96 levels below the root at node 0x%llx", i, addr(n)));
            tr.whole = false;
            return 0;
        }
        // Integer arithmetic: n may hold any value until it is checked.
        auto *r = reinterpret_cast<RecHead *>(reinterpret_cast<uintptr_t>(n) - k.node_off(i));
        if (!in(n, sizeof *n) || !record_readable(k, r)) {
            table_find(run, fmt("index %u: link from 0x%llx to node 0x%llx outside the segment or to a record "
                                "that is not readable",
                                i, addr(parent), addr(n)));
            tr.whole = false;
            return 0;
        }
        if (!tr.seen.insert(n).second) {
            table_find(run, fmt("index %u: node 0x%llx is reached twice (a cycle or a shared subtree)", i, addr(n)));
            tr.whole = false;
            return 0;
        }
        ++tr.nodes;
        if (n->parent != parent) {
            table_find(run, fmt("index %u: node of %s has parent link 0x%llx, not 0x%llx", i, rec_label(r).c_str(),
                                addr(n->parent), addr(parent)));
            tr.whole = false;
        }
        const uint32_t copy = key_copy(k, i, r);
        if (n->spare != copy)
            table_find(run, fmt("index %u: node of %s keeps key copy 0x%x, its key gives 0x%x", i,
                                rec_label(r).c_str(), n->spare, copy));
        const int32_t hl = subtree(run, i, tr, n->left, n, depth + 1);
        tr.order.push_back(r);
        const int32_t hr = subtree(run, i, tr, n->right, n, depth + 1);
        const int32_t h = 1 + std::max(hl, hr);
        if (n->height != h)
            table_find(run, fmt("index %u: node of %s says height %d, its subtree is %d high", i,
                                rec_label(r).c_str(), n->height, h));
        if (hl - hr > 1 || hr - hl > 1)
            table_find(run, fmt("index %u: node of %s is out of balance (left %d, right %d high)", i,
                                rec_label(r).c_str(), hl, hr));
        return h;
    }

    Tree index_tree(const TableRun &run, uint32_t i) {
        Tree tr;
        const Kind &k = *run.k;
        const IndexRoot &root =
            reinterpret_cast<const IndexRoot *>(reinterpret_cast<const uint8_t *>(run.t) + sizeof(TblHead))[i];
        subtree(run, i, tr, root.root, nullptr, 0);
        if (tr.nodes != root.companion)
            table_find(run, fmt("index %u: its count word says %llu entries, the tree holds %llu", i,
                                ull(root.companion), ull(tr.nodes)));
        if (!tr.whole) return tr;
        for (size_t j = 1; j < tr.order.size(); ++j) {
            const void *a = reinterpret_cast<uint8_t *>(tr.order[j - 1]) + k.node_off(i);
            const void *b = reinterpret_cast<uint8_t *>(tr.order[j]) + k.node_off(i);
            const uint32_t c = k.cmp[i](a, b);
            if (c != 0)
                table_find(run, fmt("index %u: %s %s %s, which follows it", i, rec_label(tr.order[j - 1]).c_str(),
                                    c == 1 ? "has the same tenant, key and source as" : "orders after",
                                    rec_label(tr.order[j]).c_str()));
        }
        for (RecHead *r : tr.order) {
            void *node = reinterpret_cast<uint8_t *>(r) + k.node_off(i);
            void *hit = e_avl_search(root.root, node, k.cmp[i]);
            if (hit != node)
                table_find(run, fmt("index %u: a search for %s finds %s", i, rec_label(r).c_str(),
                                    hit ? fmt("node 0x%llx", addr(hit)).c_str() : "nothing"));
        }
        return tr;
    }

    // One record of the primary index: its head and field objects.
    void record(const TableRun &run, RecHead *r) {
        const Kind &k = *run.k;
        const std::string who = rec_label(r);
        if (!tinfo_ok(r->tinfo, k.record_luid))
            table_find(run, who + ": its type-info is not this table's record type's, or not in the segment");
        else
            hold_tinfo(r->tinfo);
        if (r->table != run.t) table_find(run, fmt("%s: its table link is 0x%llx", who.c_str(), addr(r->table)));
        const uint32_t refs = r->ref_word & QELDB_REF_MASK;
        if (refs == 0 || (r->ref_word & ~QELDB_REF_MASK))
            table_find(run, fmt("%s: its reference word is 0x%x", who.c_str(), r->ref_word));
        if (r->flags & ~kKnownFlags) table_find(run, fmt("%s: unknown flags 0x%x", who.c_str(), r->flags));
        if (!(r->flags & QELDB_REC_INSERTED)) table_find(run, who + ": in the table but not marked inserted");
        out_.held += k.record_size();
        for (uint32_t p = 0; p < k.nparts; ++p) {
            void *f;
            std::memcpy(&f, reinterpret_cast<uint8_t *>(r) + k.field_off(p), 8);
            if (!f) continue;
            const void *ti = *static_cast<void **>(f);
            if (!tinfo_ok(ti, k.parts[p].luid)) {
                table_find(run, fmt("%s: field object %u has a type-info that is not its type's, or not in the "
                                    "segment",
                                    who.c_str(), p));
                continue;
            }
            hold_tinfo(ti);
            const uint8_t obj_flags = static_cast<const uint8_t *>(f)[10];
            out_.held += (obj_flags & 0x08) ? k.parts[p].tracked : k.parts[p].plain;
        }
    }

    // Counts of the table against its primary index's records.
    void counts(const TableRun &run, const std::vector<RecHead *> &recs) {
        const Kind &k = *run.k;
        auto *t = const_cast<TblHead *>(run.t);
        uint64_t shadows = 0, pending = 0;
        std::map<uint16_t, std::map<uint8_t, uint32_t>> by;
        for (const RecHead *r : recs) {
            shadows += r->source == QELDB_SRC_SHADOW;
            pending += (r->flags & QELDB_REC_PENDING) != 0;
            ++by[r->tenant_id][r->source];
        }
        qelrt_set_tenant_id(0);
        const U total = k.count(h_, id_, t), shadow = k.count_by_src(h_, id_, t, QELDB_SRC_SHADOW);
        if (total != recs.size())
            table_find(run, fmt("its record count is %u, its index holds %s", total, records(recs.size()).c_str()));
        if (shadow != shadows)
            table_find(run, fmt("its shadow count is %u, its index holds %s", shadow,
                                records(shadows, "shadow record").c_str()));
        if (t->pending_destroy_count != pending)
            table_find(run, fmt("its pending-destroy count is %u, its index holds %s pending destroy",
                                t->pending_destroy_count, records(pending).c_str()));
        // Tenant 0 is the platform's own and has no counters.
        for (uint32_t tenant = 1; tenant <= UINT16_MAX; ++tenant) {
            const auto it = by.find(uint16_t(tenant));
            U counted = 0;
            qeldb_get_tenant_counter(h_, id_, t, &counted, uint16_t(tenant), nullptr);
            if (it == by.end()) {
                if (counted)
                    table_find(run, fmt("tenant %u: its counters hold %u records, its index none", tenant, counted));
                continue;
            }
            qelrt_set_tenant_id(uint16_t(tenant));
            uint32_t walked = 0;
            for (const auto &[src, n] : it->second) {
                walked += n;
                const U c = k.count_by_src(h_, id_, t, src);
                if (c != n)
                    table_find(run, fmt("tenant %u, source %u: counted %u, its index holds %u", tenant, src, c, n));
            }
            const U c = k.count(h_, id_, t);
            if (c != walked || counted != walked)
                table_find(run, fmt("tenant %u: counted %u, its index holds %u", tenant, c, walked));
            qelrt_set_tenant_id(0);
        }
    }

    void table(TblHead *t) {
        const Kind *k = kind_of(t);
        TableRun run{t, k, label(t, k), out_.findings.size()};
        if (!tinfo_ok(t->tinfo, nullptr)) {
            find(fmt("table 0x%llx: its type-info is not in the segment or not a type-info record", addr(t)));
            return;
        }
        hold_tinfo(t->tinfo);
        if (!k) {
            ++out_.foreign;
            return;
        }
        if (!in(t, k->table_size())) {
            table_find(run, "the table handle runs past the segment's end");
            return;
        }
        out_.held += k->table_size();
        if (strnlen(t->name, sizeof t->name) == sizeof t->name) table_find(run, "its name is not terminated");
        if (t->open_mode > 2) table_find(run, fmt("open mode %u", t->open_mode));
        Tree trees[kMaxIndexes];
        for (uint32_t i = 0; i < k->nindex; ++i) trees[i] = index_tree(run, i);
        const Tree &primary = trees[0];
        out_.records += primary.order.size();
        for (RecHead *r : primary.order) record(run, r);
        if (primary.whole) counts(run, primary.order);
        for (uint32_t i = 1; i < k->nindex; ++i) {
            std::unordered_set<const RecHead *> there(trees[i].order.begin(), trees[i].order.end());
            std::unordered_set<const RecHead *> all(primary.order.begin(), primary.order.end());
            for (const RecHead *r : primary.order) {
                const bool pkey_only = r->flags & QELDB_REC_PKEY_ONLY;
                if (!pkey_only && !there.count(r))
                    table_find(run, fmt("%s is missing from index %u", rec_label(r).c_str(), i));
                else if (pkey_only && there.count(r))
                    table_find(run, fmt("%s is marked primary-key-only but is in index %u", rec_label(r).c_str(), i));
            }
            for (const RecHead *r : trees[i].order)
                if (!all.count(r))
                    table_find(run, fmt("%s is in index %u but not in index 0", rec_label(r).c_str(), i));
        }
    }

    H h_;
    U id_;
    uintptr_t lo_ = 0, hi_ = 0;
    CheckReport out_;
    std::set<const void *> tinfos_;
};

}  // namespace

CheckReport check_database(qelrt_db_t *db, qel_handle_t *h) { return Checker(db, h).run(); }

}  // namespace ltool
