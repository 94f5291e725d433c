// lookup.cpp -- finding records in a table's indexes.
//
// Owns the search worker (exact and nearest searches: an inlined descent
// over the nodes' key copies for 32-bit and 31-character keys, a probe
// record built on the stack for object keys and same-key steps), the step
// worker (next or previous under the source, pending-destroy, same-key and
// tenant filters; the quiet handle's step from a linked record is inline,
// tables/table.h), the first and last workers, the by-key forms, the
// chained-error getter, walks and record counts.  Every exported form is a row of parameters over these workers
// (schema/families/tables.py); the result hand-off to the replication cache
// and the containment report are made here once.
#include <algorithm>

#include "frame/entry.h"
#include "lomari/lomari_errors.h"
#include "tables/table.h"

namespace lomari {

namespace {

using namespace tp::table;

inline RecHead *rec_of(const void *node, uint32_t i) {
    return reinterpret_cast<RecHead *>(const_cast<uint8_t *>(static_cast<const uint8_t *>(node)) - node_off(i));
}
inline void *key_object(const TableDef &T, uint32_t i, const void *r) {
    return *field_slot(T, const_cast<void *>(r), T.index[i].part);
}

// The index's key of two records, as the index compares it (0 when equal).
int key_cmp(const TableDef &T, uint32_t i, const void *ra, const void *rb) {
    const IndexDef &x = T.index[i];
    const auto *a = static_cast<const uint8_t *>(key_object(T, i, ra));
    const auto *b = static_cast<const uint8_t *>(key_object(T, i, rb));
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    switch (x.kind) {
    case KeyKind::Str31:
        return std::strncmp(reinterpret_cast<const char *>(a + x.key_off),
                            reinterpret_cast<const char *>(b + x.key_off), 31);
    case KeyKind::U32: {
        uint32_t u, v;
        std::memcpy(&u, a + x.key_off, 4);
        std::memcpy(&v, b + x.key_off, 4);
        return (u > v) - (u < v);
    }
    default:
        return obj_compare(*T.parts[x.part], a, b);
    }
}

// A zero-filled record on the stack with the caller's tenant, the probe
// source and the key, and the key object that carries a raw key.
struct Probe {
    alignas(16) uint8_t rec[record_size(kMaxIndexes, kMaxParts)];
    alignas(16) uint8_t key[128];
};

void *make_probe(const TableDef &T, uint32_t i, Probe &p, const void *key, bool raw, uint16_t tenant, uint32_t src) {
    std::memset(p.rec, 0, sizeof p.rec);
    RecHead *r = rec(p.rec);
    r->tenant_id = tenant;
    r->source = static_cast<uint8_t>(src ? src : QELDB_SRC_DEFAULT);
    const IndexDef &x = T.index[i];
    const void *obj = key;
    // The comparison reads only the key's bytes: strncpy zero-fills the 31
    // characters, the 32-bit key is whole; the rest of p.key is never read.
    if (raw && x.kind != KeyKind::Body) {
        if (x.kind == KeyKind::Str31)
            std::strncpy(reinterpret_cast<char *>(p.key + x.key_off), static_cast<const char *>(key), 31);
        else
            std::memcpy(p.key + x.key_off, key, 4);
        obj = p.key;
    }
    *field_slot(T, p.rec, x.part) = const_cast<void *>(obj);
    return node_of(p.rec, i);
}

// The probe's words as the descent below compares them: the caller's
// tenant, the probe source and the key (a 32-bit value, or 31 characters
// zero-filled to 32).
struct ProbeKey {
    uint16_t tenant;
    uint8_t source;
    uint32_t copy;  // key_copy of the key (tables/table.h)
    uint32_t u;
    alignas(8) char s[32];
};

// Where a descent finds a record's words, counted from its index node: the
// record head (back by noff) and the key object's pointer (keyp bytes on);
// the key sits key_off bytes into its object.
struct NodeLayout {
    uint32_t noff, keyp, key_off;
};

// Three-way order of the probe against the record whose node is t: tenant,
// key, source, as the index's comparison function orders them; the key
// copies decide where they can, so that most levels read the node alone.
// A record without its key object orders before any probe of the same
// tenant.
template <KeyKind K>
[[gnu::always_inline]] inline int probe_order(const ProbeKey &p, const e_avl_node_t *t, NodeLayout L) {
    const uint8_t *n = reinterpret_cast<const uint8_t *>(t);
    const auto *r = reinterpret_cast<const RecHead *>(n - L.noff);
    if (p.tenant != r->tenant_id) return p.tenant < r->tenant_id ? -1 : 1;
    int c = copy_order(K, p.copy, t->spare);
    if (c == 2) {  // the copies leave it to the keys
        const uint8_t *k;
        std::memcpy(&k, n + L.keyp, 8);
        if (!k) return 1;
        if constexpr (K == KeyKind::U32) {
            uint32_t v;
            std::memcpy(&v, k + L.key_off, 4);
            c = (p.u > v) - (p.u < v);
        } else {
            c = std::strncmp(p.s, reinterpret_cast<const char *>(k + L.key_off), 31);
        }
    }
    if (c) return c;
    return (p.source > r->source) - (p.source < r->source);
}

// One descent of an index whose key is a 32-bit value or 31 characters:
// the node equal to the probe, or null with the probe's neighbours after
// and before it.  The same walk as e_avl_search_bounds with the order
// inlined: no probe record, no call per level.
template <KeyKind K>
void *descend(e_avl_node_t *root, const ProbeKey &p, NodeLayout L, void **after, void **before) {
    e_avl_node_t *a = nullptr, *b = nullptr;
    for (e_avl_node_t *t = root; t;) {
        const int c = probe_order<K>(p, t, L);
        if (c == 0) return t;
        if (c < 0) {
            a = t;
            t = t->left;
        } else {
            b = t;
            t = t->right;
        }
    }
    *after = a;
    *before = b;
    return nullptr;
}

// The hand-off of every result: replication cache, then containment.
void *hand_off(H *h, uint32_t db, void *table, void *r, uint32_t *err) {
    if (r && rec(r)->source < QELDB_SRC_SHADOW) qel_inline_repl_add_to_cache(h, db, table, r, err);
    if (h->containment_tracking) qeldb_record_containment(h, db, 2, r, table, 1);
    return r;
}

inline e_avl_node_t *root_of(void *table, uint32_t i) { return roots(table)[i].root; }

// The neighbour after (forward) or before a node of index i.  A record of
// this table that is in the index steps through the tree's links; a probe,
// or a record out of the index or of another table, by comparison from the
// root, which gives the same answer for a node in the tree.
[[gnu::always_inline]] inline void *neighbour(const TableDef &T, uint32_t i, void *table, const void *from, bool forward) {
    const auto *n = static_cast<const e_avl_node_t *>(from);
    if (n->height && rec_of(n, i)->table == table) return forward ? e_avl_next_linked(n) : e_avl_prev_linked(n);
    return forward ? e_avl_get_next(root_of(table, i), from, T.index[i].cmp)
                   : e_avl_get_prev(root_of(table, i), from, T.index[i].cmp);
}

}  // namespace

// ---- step, first and last ---------------------------------------------------------

namespace {

// Steps from a node of index i (a record's or a probe's) to the first
// neighbour that passes f; stops at another tenant or, with same_key, at
// another key.  first, when given, is the neighbour of from that the
// caller's search found already; from may then be null unless same_key.
void *lk_step(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, const void *from, bool forward,
              Filter f, uint32_t *err, void *const *first = nullptr) {
    err = errw(err);
    if (!begin(h, err)) return nullptr;
    if (!table || (!from && !first)) return nullptr;
    if (!table_typed(T, h, err, table)) return nullptr;
    const uint16_t tenant = mt_get_tenant_id();
    const RecHead *start = from ? rec_of(from, i) : nullptr;
    for (void *n = first ? *first : neighbour(T, i, table, from, forward); n; n = neighbour(T, i, table, n, forward)) {
        RecHead *r = rec_of(n, i);
        if (r->tenant_id != tenant) return nullptr;
        if (f.same_key && key_cmp(T, i, r, start) != 0) return nullptr;
        if (passes(r, f)) return hand_off(h, db, table, r, err);
    }
    return hand_off(h, db, table, nullptr, err);
}
}  // namespace

void *lk_step_any(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, void *record, bool forward,
                  Filter f, uint32_t *err) {
    err = errw(err);
    if (!*err && !record_typed(T, h, err, record)) return nullptr;
    return lk_step(T, i, h, db, table, record ? node_of(record, i) : nullptr, forward, f, err);
}

void *lk_end(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, bool last, Filter f, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err)) return nullptr;
    if (!table || !table_typed(T, h, err, table)) return nullptr;
    const uint16_t tenant = mt_get_tenant_id();
    e_avl_node_t *root = root_of(table, i);
    void *found = nullptr;
    for (void *n = last ? e_avl_get_last(root) : e_avl_get_first(root); n; n = neighbour(T, i, table, n, !last)) {
        RecHead *r = rec_of(n, i);
        const bool reached = last ? r->tenant_id <= tenant : r->tenant_id >= tenant;
        if (reached && passes(r, f)) {
            if (r->tenant_id == tenant) found = r;
            break;
        }
    }
    return hand_off(h, db, table, found, err);
}

// The immediate neighbour after the record: of the caller's tenant
// (ignore_src), or of the same key whatever the tenant (sub_next).
void *lk_next_raw(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, void *record, bool same_key,
                  uint32_t *err) {
    err = errw(err);
    if (!begin(h, err)) return nullptr;
    if (!table || !record || !args_typed(T, h, err, table, record)) return nullptr;
    void *n = neighbour(T, i, table, node_of(record, i), true);
    if (!n) return hand_off(h, db, table, nullptr, err);
    RecHead *r = rec_of(n, i);
    if (same_key ? key_cmp(T, i, r, record) != 0 : r->tenant_id != mt_get_tenant_id()) return nullptr;
    return hand_off(h, db, table, r, err);
}

void *lk_shadow(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, void *record, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err)) return nullptr;
    if (!table || !record || !args_typed(T, h, err, table, record)) return nullptr;
    for (void *r = record;;) {
        if (rec(r)->source == QELDB_SRC_SHADOW) return hand_off(h, db, table, r, err);
        void *n = neighbour(T, i, table, node_of(r, i), true);
        if (!n || key_cmp(T, i, rec_of(n, i), record) != 0) return nullptr;
        r = rec_of(n, i);
    }
}

// ---- searches ----------------------------------------------------------------------

void *lk_search(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, const void *key, bool raw,
                uint32_t nearest, uint32_t forward, uint32_t probe_src, uint32_t filter_src, uint32_t skip_pending,
                uint32_t same_key, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err)) return nullptr;
    if (!table || !key) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return nullptr;
    }
    // A raw key is the key's bytes; any other is an object of the key type.
    if (!table_typed(T, h, err, table) ||
        (!(raw && T.index[i].kind != KeyKind::Body) && !typed(h, err, key, T.parts[T.index[i].part]->ti)))
        return nullptr;
    const IndexDef &x = T.index[i];
    void *bound[2];  // after, before: a miss leaves the probe's neighbours from the same descent
    void *n;
    Probe p;
    void *probe = nullptr;
    const uint16_t tenant = mt_get_tenant_id();
    if (x.kind == KeyKind::Body) {
        probe = make_probe(T, i, p, key, raw, tenant, probe_src);
        n = e_avl_search_bounds(root_of(table, i), probe, x.cmp, &bound[0], &bound[1]);
    } else {
        ProbeKey k;
        k.tenant = tenant;
        k.source = static_cast<uint8_t>(probe_src ? probe_src : QELDB_SRC_DEFAULT);
        const auto *kb = static_cast<const uint8_t *>(key) + (raw ? 0 : x.key_off);
        const NodeLayout L{node_off(i), field_off(T.nindex, x.part) - node_off(i), x.key_off};
        if (x.kind == KeyKind::U32) {
            std::memcpy(&k.u, kb, 4);
            k.copy = k.u;
            n = descend<KeyKind::U32>(root_of(table, i), k, L, &bound[0], &bound[1]);
        } else {
            std::strncpy(k.s, reinterpret_cast<const char *>(kb), 31);
            k.s[31] = 0;
            k.copy = key_copy(KeyKind::Str31, 0, k.s);
            n = descend<KeyKind::Str31>(root_of(table, i), k, L, &bound[0], &bound[1]);
        }
    }
    if (n) {
        RecHead *r = rec_of(n, i);
        if (!skip_pending || !(r->flags & QELDB_REC_PENDING)) return hand_off(h, db, table, r, err);
    }
    if (!nearest && !same_key) return hand_off(h, db, table, nullptr, err);
    const uint8_t s = static_cast<uint8_t>(filter_src);
    const bool key_filter = same_key && !nearest;
    const Filter f{s, s != 0, skip_pending != 0, key_filter};
    // A miss on a quiet handle that tracks no containment steps from the
    // neighbour the descent found, as lk_step would: its last-error clear,
    // the links, the filters, and no hand-off.
    if (!n && !key_filter && qel_rt_quiet(h) && !h->containment_tracking) {
        h->last_error = 0;
        return linked_step(static_cast<e_avl_node_t *>(bound[!forward]), i, tenant, forward != 0, f);
    }
    // Only a same-key step reads the probe (its key); a match steps from
    // the match itself.
    if (!probe && (n || key_filter)) probe = make_probe(T, i, p, key, raw, tenant, probe_src);
    return lk_step(T, i, h, db, table, probe, forward != 0, f, err, n ? nullptr : &bound[!forward]);
}

// The record after (or before) a key, the key itself excluded.
void *lk_by_key(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, const void *key, bool raw,
                bool forward, uint32_t probe_src, uint32_t filter_src, bool skip_pending, uint32_t *err) {
    err = errw(err);
    void *match = lk_search(T, i, h, db, table, key, raw, 0, 1, probe_src, 0, skip_pending, 0, err);
    if (*err) return nullptr;
    const uint8_t s = static_cast<uint8_t>(filter_src);
    if (match) return lk_step_rec(T, i, h, db, table, match, forward, Filter{s, s != 0, skip_pending, false}, err);
    return lk_search(T, i, h, db, table, key, raw, 1, forward, probe_src, filter_src, skip_pending, 0, err);
}

void *lk_search_cr(const TableDef &T, uint32_t i, H *h, void *table, const void *key, uint32_t source,
                   uint32_t flags) {
    const uint32_t s = ((source & 0xFF) || (flags & 0x4)) ? (source & 0xFF) : 1;
    void *r = lk_search(T, i, h, h->database_id, table, key, true, flags & 0x1, 1, s, s, !(flags & 0x2),
                        (flags & 0x4) != 0, &h->err);
    return h->err ? nullptr : r;
}

void *lk_get_cr(const TableDef &T, uint32_t i, H *h, void *table, uint32_t op, void *record, uint32_t source,
                uint32_t flags) {
    const uint8_t s = static_cast<uint8_t>(source) ? static_cast<uint8_t>(source) : 1;
    const Filter f{s, !(flags & 0x1), !(flags & 0x2), false};
    switch (op) {
    case 0: return lk_end(T, i, h, h->database_id, table, false, f, &h->err);
    case 1: return lk_end(T, i, h, h->database_id, table, true, f, &h->err);
    case 2: return lk_step_rec(T, i, h, h->database_id, table, record, false, f, &h->err);
    case 3: return lk_step_rec(T, i, h, h->database_id, table, record, true, f, &h->err);
    default:
        trace_u(kTrace2, tpt(T, get_flag), op);
        qel_store_err(h, LOMARI_ERR_INVALID);
        return nullptr;
    }
}

// ---- walks and counts ----------------------------------------------------------------

namespace {
struct WalkCtx {
    lomari_record_walk_fn fn;
    void *context;
    uint32_t index;
};
}  // namespace

int lk_walk_visit(void *node, void *ctx, void *a1, void *a2, void *a3) {
    auto *w = static_cast<WalkCtx *>(ctx);
    return w->fn(rec_of(node, w->index), w->context, static_cast<uint32_t *>(a1), a2, a3);
}

// The walk has no handle: a table of another type ends it with 22 in the
// error word alone.
void lk_walk(const TableDef &T, uint32_t i, void *table, lomari_record_walk_fn fn, void *context, uint32_t *err,
             void *a, void *b) {
    if (!table || !fn || (err && *err)) return;
    if (!is_a(table, T.desc->ti)) {
        if (err) *err = LOMARI_ERR_INVALID;
        return;
    }
    WalkCtx w{fn, context, i};
    e_avl_walk(root_of(table, i), lk_walk_visit, &w, err, a, b);
}

void lk_record_walk_cr(const TableDef &T, H *h, void *table, uint32_t index, lomari_record_walk_fn fn,
                       void *context, void *a) {
    if (h->err) return;
    if (index >= T.nindex) {
        trace_u(kTrace2, tpt(T, walk_key), index);
        return;
    }
    lk_walk(T, index, table, fn, context, &h->err, a, nullptr);
}

uint32_t lk_count(const TableDef &T, H *h, uint32_t db, void *table, bool by_src, uint8_t source) {
    if (!table || !table_typed(T, h, nullptr, table)) return 0;
    const uint16_t tenant = mt_get_tenant_id();
    const auto *t = static_cast<const TblHead *>(table);
    if (!tenant) return by_src ? (source == QELDB_SRC_SHADOW ? t->shadow_count : 0) : t->record_count;
    uint32_t n = 0;
    qeldb_get_tenant_counter(h, db, table, &n, tenant, by_src ? &source : nullptr);
    return n;
}

}  // namespace lomari
