// table.h -- the shapes of the table family: table handle, record, index
// comparison, and the table descriptor the family is written over.
//
// A record is the runtime's record head, one AVL node per index, then one
// pointer per record field; a table handle is the runtime's table head
// followed by one (root, companion) pair per index.  Both are plain memory
// whose layout the static_asserts below pin.  Every index orders records by
// tenant id, then key, then source; the comparators are one template,
// instantiated per index by the generated descriptors with the index's
// layout facts as constants.  Each index node keeps a copy of the first
// bytes of its record's key, which decides most comparisons without
// reading the key object.  The step the exported step forms take inline
// on a quiet handle is here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "frame/frame.h"
#include "qel/runtime.h"
#include "types/compare.h"
#include "types/schema.h"

namespace lomari {

// ---- layout ------------------------------------------------------------------

using RecHead = qeldb_record_head_t;
using TblHead = qeldb_table_head_t;

static_assert(offsetof(RecHead, location) == 8 && offsetof(RecHead, table) == 16 &&
              offsetof(RecHead, ref_word) == 40 && offsetof(RecHead, tenant_id) == 44 &&
              offsetof(RecHead, flags) == 48 && offsetof(RecHead, source) == 52 &&
              sizeof(RecHead) == 56);
static_assert(offsetof(TblHead, name) == 11 && offsetof(TblHead, record_count) == 220 &&
              offsetof(TblHead, pending_destroy_count) == 224 && offsetof(TblHead, table_id) == 232 &&
              offsetof(TblHead, open_mode) == 240 && offsetof(TblHead, next) == 248 &&
              offsetof(TblHead, prev_link) == 256 && offsetof(TblHead, range_word) == 264 &&
              offsetof(TblHead, flags) == 272 && offsetof(TblHead, shadow_count) == 276 &&
              sizeof(TblHead) == 280);
static_assert(sizeof(e_avl_node_t) == 32);

struct IndexRoot {
    e_avl_node_t *root;
    uint64_t companion;  // entries in the index
};
static_assert(sizeof(IndexRoot) == 16);

inline constexpr uint32_t kMaxIndexes = 2;
inline constexpr uint32_t kMaxParts = 2;
inline constexpr uint32_t kNameMax = 207;  // characters of a full table name
inline constexpr uint32_t kNameBuf = 208;

inline constexpr uint32_t node_off(uint32_t i) { return sizeof(RecHead) + i * sizeof(e_avl_node_t); }
inline constexpr uint32_t field_off(uint32_t nindex, uint32_t p) { return node_off(nindex) + p * 8; }
inline constexpr uint32_t record_size(uint32_t nindex, uint32_t nparts) { return field_off(nindex, nparts); }
inline constexpr uint32_t table_size(uint32_t nindex) { return sizeof(TblHead) + nindex * sizeof(IndexRoot); }

inline RecHead *rec(void *r) { return static_cast<RecHead *>(r); }
inline e_avl_node_t *node_of(void *r, uint32_t i) {
    return reinterpret_cast<e_avl_node_t *>(static_cast<uint8_t *>(r) + node_off(i));
}
inline IndexRoot *roots(void *t) {
    return reinterpret_cast<IndexRoot *>(static_cast<uint8_t *>(t) + sizeof(TblHead));
}

// ---- index order ---------------------------------------------------------------

enum class KeyKind : uint8_t {
    Str31,  // fixed string, compared over at most 31 characters
    U32,    // unsigned 32-bit field
    Body,   // the whole key object, by its type's comparison
};

inline constexpr uint32_t kBefore = 0, kEqual = 1, kAfter = 2;

// Three-way key comparison of two key objects (negative, 0, positive).  A
// record without its key object orders before one that has it.
template <KeyKind K, uint32_t KeyOff, uint32_t BodyType>
inline int key_compare(const uint8_t *a, const uint8_t *b) {
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    if constexpr (K == KeyKind::Str31) {
        return std::strncmp(reinterpret_cast<const char *>(a + KeyOff),
                            reinterpret_cast<const char *>(b + KeyOff), 31);
    } else if constexpr (K == KeyKind::U32) {
        uint32_t x, y;
        std::memcpy(&x, a + KeyOff, 4);
        std::memcpy(&y, b + KeyOff, 4);
        return (x > y) - (x < y);
    } else {
        return obj_compare(kTypes[BodyType], a, b);
    }
}

// ---- key copies in the index nodes ------------------------------------------------
//
// A record's index node keeps, in its spare word, the first bytes of the
// key it was linked under: a 32-bit key whole, the first 4 characters of a
// 31-character key (big-endian, the characters after its end as 0), 0 for
// a record without its key object and for object keys.  The copy never
// orders two keys against their own order (a key before another has a copy
// at most the other's), so two copies that differ decide the order without
// reading either key object; equal copies fall back to the keys, except two
// equal non-zero copies of 32-bit keys, which are equal keys.  The copy is
// written when the record is linked and when the table layer replaces or
// rewrites an inserted record's key object (set, detach, adopt, unmarshal in
// place); a key object changed in place through its own setters while the
// record is inserted is not seen, and the index keeps ordering the record
// by the copy it has.

inline uint32_t key_copy(KeyKind k, uint32_t key_off, const void *obj) {
    if (!obj || k == KeyKind::Body) return 0;
    const uint8_t *p = static_cast<const uint8_t *>(obj) + key_off;
    if (k == KeyKind::U32) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    uint32_t v = 0;
    for (uint32_t j = 0; j < 4 && p[j]; ++j) v |= uint32_t(p[j]) << (24 - 8 * j);
    return v;
}

// Three-way order of two key copies, 0 when they leave the order to the keys.
inline int copy_order(KeyKind k, uint32_t a, uint32_t b) {
    if (a != b) return a < b ? -1 : 1;
    return k == KeyKind::U32 && a ? 0 : 2;
}

// Orders two index nodes of index I of a table with NIndex indexes, whose
// key object is record field Part: tenant, key, source.  Null orders before
// any record.  With Linked, both nodes carry their key copies (a node
// being linked or unlinked against the nodes of the tree), which decide
// wherever they differ; without, the keys alone decide (the exported
// comparison, which any two nodes may be given).
template <uint32_t I, uint32_t NIndex, uint32_t Part, KeyKind K, uint32_t KeyOff, uint32_t BodyType = 0,
          bool Linked = false>
uint32_t index_compare(const void *a, const void *b) {
    if (!a || !b) return !a && !b ? kEqual : !a ? kBefore : kAfter;
    const uint8_t *ra = static_cast<const uint8_t *>(a) - node_off(I);
    const uint8_t *rb = static_cast<const uint8_t *>(b) - node_off(I);
    const auto *ha = reinterpret_cast<const RecHead *>(ra);
    const auto *hb = reinterpret_cast<const RecHead *>(rb);
    if constexpr (Linked && K != KeyKind::Body) {
        if (ha->tenant_id != hb->tenant_id) return ha->tenant_id < hb->tenant_id ? kBefore : kAfter;
        const int c = copy_order(K, static_cast<const e_avl_node_t *>(a)->spare,
                                 static_cast<const e_avl_node_t *>(b)->spare);
        if (c == -1 || c == 1) return c < 0 ? kBefore : kAfter;
        if (c == 0) {
            if (ha->source != hb->source) return ha->source < hb->source ? kBefore : kAfter;
            return kEqual;
        }
    }
    // b is the tree's node (the container descends through b): the next
    // comparison is with one of its children, whose key objects are asked
    // for now so that their fetch overlaps this one.
    for (const e_avl_node_t *c : {static_cast<const e_avl_node_t *>(b)->left, static_cast<const e_avl_node_t *>(b)->right}) {
        if (!c) continue;
        const void *k;
        std::memcpy(&k, reinterpret_cast<const uint8_t *>(c) + (field_off(NIndex, Part) - node_off(I)), 8);
        __builtin_prefetch(k);
    }
    if (ha->tenant_id != hb->tenant_id) return ha->tenant_id < hb->tenant_id ? kBefore : kAfter;
    const uint8_t *ka, *kb;
    std::memcpy(&ka, ra + field_off(NIndex, Part), 8);
    std::memcpy(&kb, rb + field_off(NIndex, Part), 8);
    const int c = key_compare<K, KeyOff, BodyType>(ka, kb);
    if (c) return c < 0 ? kBefore : kAfter;
    if (ha->source != hb->source) return ha->source < hb->source ? kBefore : kAfter;
    return kEqual;
}

// ---- descriptors -------------------------------------------------------------------

struct IndexDef {
    const char *label;     // "<keytype> <field>", or the key type alone
    e_avl_compare_fn cmp;       // the exported comparison: keys alone
    e_avl_compare_fn link_cmp;  // the same order through the key copies: insert and delete
    KeyKind kind;
    uint8_t part;          // record field holding the key object
    uint16_t key_off;      // the key's offset inside that object
};

struct TableDef {
    const TableDesc *desc;      // name, ordinal, type-info records
    const char *luid_text;
    void *null_record;          // static record returned by chained creation
    uint8_t nparts;
    uint8_t nindex;
    uint16_t record_size;
    uint16_t handle_size;
    const TypeDesc *parts[kMaxParts];
    const TypeDesc *pkey;       // the key-owning type
    IndexDef index[kMaxIndexes];
    uint32_t tag_base;          // first memory-accounting call-site tag
    uint32_t trace_base;        // first point of the table's block in trace table 2
};

extern const TableDef kTableDefs[kTableCount];

// The global number of table T's own trace point p (trace table 2).
inline uint32_t tpt(const TableDef &T, tp::table::Point p) { return T.trace_base + p; }

// Entries that take an optional error word write to a scratch one, per
// thread, when the caller gives none.
inline thread_local uint32_t t_scratch_err;
inline uint32_t *errw(uint32_t *err) { return err ? err : &(t_scratch_err = 0); }

// ---- argument types ------------------------------------------------------------------

// True when o is an instance of the type whose static type-info record is
// ti: it refers to that record, or to a handle's registered copy of it.
inline bool is_a(const void *o, const qel_type_info_t *ti) {
    const qel_type_info_t *t = static_cast<const ObjHdr *>(o)->tinfo;
    return t == ti || (tinfo_ok(t) && std::memcmp(t->luid, ti->luid, sizeof t->luid) == 0);
}

// Tables, records and keys are untyped at the C boundary: every entry that
// takes one refuses one of another type (22, reported; nothing changes),
// at the cost of one comparison.  Null passes: each entry has its own
// answer for a missing argument.
inline bool typed(qel_handle_t *h, uint32_t *err, const void *o, const qel_type_info_t *ti) {
    if (!o || is_a(o, ti)) return true;
    report(h, err, LOMARI_ERR_INVALID);
    return false;
}
inline bool table_typed(const TableDef &T, qel_handle_t *h, uint32_t *err, const void *table) {
    return typed(h, err, table, T.desc->ti);
}
inline bool record_typed(const TableDef &T, qel_handle_t *h, uint32_t *err, const void *record) {
    return typed(h, err, record, T.desc->record_ti);
}
// A table and a record of it, both checked.
inline bool args_typed(const TableDef &T, qel_handle_t *h, uint32_t *err, const void *table, const void *record) {
    return table_typed(T, h, err, table) && record_typed(T, h, err, record);
}

// ---- engine functions of the family (tables/lomari_table.cpp) -----------------------

using H = qel_handle_t;

// Open modes: 0 by name, 1 by id, 2 automatic id; open type 0 creates.
void *tbl_open(const TableDef &T, H *h, uint32_t db, const char *name, uint32_t open_type, uint64_t id,
               uint64_t ior, uint32_t dynamic, uint32_t mode, uint32_t *err);
void *tbl_open_cr(const TableDef &T, H *h, uint32_t open_type, uint32_t mode, const char *name, uint64_t id);
void tbl_close(const TableDef &T, H *h, uint32_t db, void *table, uint32_t *err);
void tbl_close_cr(const TableDef &T, H *h, void *table, uint32_t how);
void tbl_free(const TableDef &T, H *h, uint32_t db, void *table, uint32_t *err);
void tbl_request_free(const TableDef &T, H *h, uint32_t db, void *table, uint32_t *err);
int tbl_get_luid(H *h, uint32_t db, const void *obj, uint8_t *luid_out, uint32_t *err);

void *rec_create(const TableDef &T, H *h, uint32_t db, uint8_t source, uint32_t *err);
void *rec_create_cr(const TableDef &T, H *h, uint32_t with_fields);
uint32_t rec_add_ref(const TableDef &T, H *h, uint32_t db, void *record, uint32_t *err);
void rec_destroy(const TableDef &T, H *h, uint32_t db, void *record, uint32_t *err);
void rec_request_destroy(const TableDef &T, H *h, uint32_t db, void *table, void *record, uint32_t *err);
void *pkey_create(const TableDef &T, H *h, uint32_t db);
void pkey_destroy(const TableDef &T, H *h, uint32_t db, void *pkey);

void tbl_insert(const TableDef &T, H *h, uint32_t db, void *table, void *record, uint32_t pkey_only,
                uint32_t *err);
void tbl_delete(const TableDef &T, H *h, uint32_t db, void *table, void *record, uint32_t pkey_only,
                uint32_t *err);
uint32_t tbl_insert_cr(const TableDef &T, H *h, void *table, void *record, uint32_t pkey_only);
uint32_t tbl_delete_cr(const TableDef &T, H *h, void *table, void *record, uint32_t destroy);
uint32_t idx_compare(const TableDef &T, uint32_t i, const void *a, const void *b);

// ---- lookup (tables/lookup.cpp) -------------------------------------------------------

// What a step lets through: with match on, only the source given; a source
// of 0 never lets a shadow record through; skip_pending drops records
// awaiting destruction; same_key stops at the first record of another key.
struct Filter {
    uint8_t source;
    bool match;
    bool skip_pending;
    bool same_key;
};

// A record walk callback: the record, the caller's context, then the words
// the walk was given (error word, a, b); non-zero stops the walk.
using lomari_record_walk_fn = int (*)(void *record, void *context, uint32_t *err, void *a, void *b);

// Searches index i for key (raw: the key as the index forms take it, else
// an object of the key type), exactly, then when nearest or same_key is set
// stepping from the probe's place.
void *lk_search(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, const void *key, bool raw,
                uint32_t nearest, uint32_t forward, uint32_t probe_src, uint32_t filter_src, uint32_t skip_pending,
                uint32_t same_key, uint32_t *err);
void *lk_search_cr(const TableDef &T, uint32_t i, H *h, void *table, const void *key, uint32_t source,
                   uint32_t flags);
void *lk_by_key(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, const void *key, bool raw,
                bool forward, uint32_t probe_src, uint32_t filter_src, bool skip_pending, uint32_t *err);
// The step from a record, any case (tables/lookup.cpp).
void *lk_step_any(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, void *record, bool forward,
                  Filter f, uint32_t *err);
void *lk_end(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, bool last, Filter f, uint32_t *err);
void *lk_next_raw(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, void *record, bool same_key,
                  uint32_t *err);
void *lk_shadow(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table, void *record, uint32_t *err);
void *lk_get_cr(const TableDef &T, uint32_t i, H *h, void *table, uint32_t op, void *record, uint32_t source,
                uint32_t flags);
int lk_walk_visit(void *node, void *ctx, void *a1, void *a2, void *a3);
void lk_walk(const TableDef &T, uint32_t i, void *table, lomari_record_walk_fn fn, void *context, uint32_t *err,
             void *a, void *b);
void lk_record_walk_cr(const TableDef &T, H *h, void *table, uint32_t index, lomari_record_walk_fn fn,
                       void *context, void *a);
uint32_t lk_count(const TableDef &T, H *h, uint32_t db, void *table, bool by_src, uint8_t source);

// Whether a record passes a step's source and pending filters.
inline bool passes(const RecHead *r, const Filter &f) {
    if (f.skip_pending && (r->flags & QELDB_REC_PENDING)) return false;
    if (f.source == 0 && r->source == QELDB_SRC_SHADOW) return false;
    return !f.match || r->source == f.source;
}

// From n, a node linked in index i, or null, on through the links: the
// first record that passes f, or null at the end or at another tenant.
[[gnu::always_inline]] inline void *linked_step(const e_avl_node_t *n, uint32_t i, uint16_t tenant, bool forward, Filter f) {
    for (; n; n = forward ? e_avl_next_linked(n) : e_avl_prev_linked(n)) {
        auto *r = reinterpret_cast<RecHead *>(reinterpret_cast<uint8_t *>(const_cast<e_avl_node_t *>(n)) - node_off(i));
        if (r->tenant_id != tenant) return nullptr;
        if (passes(r, f)) return r;
    }
    return nullptr;
}

// The step forms (next or previous record under f).  A step from a record
// that is linked in index i of this table, both of their types, on a quiet
// handle that tracks no containment, with no error present and no same-key
// filter, is taken here, inside each exported form: it clears the last
// error, follows the links and filters, and its result needs no hand-off
// (a quiet handle has no replication cache).  Everything else, and every
// call a log can see, goes through lk_step_any.
[[gnu::always_inline]] inline void *lk_step_rec(const TableDef &T, uint32_t i, H *h, uint32_t db, void *table,
                                                void *record, bool forward, Filter f, uint32_t *err) {
    if (err && !*err && h && table && record && !f.same_key && qel_rt_quiet(h) && !h->containment_tracking) {
        const e_avl_node_t *n = node_of(record, i);
        if (rec(record)->table == table && n->height && static_cast<const ObjHdr *>(record)->tinfo == T.desc->record_ti &&
            static_cast<const ObjHdr *>(table)->tinfo == T.desc->ti) {
            h->last_error = 0;
            return linked_step(forward ? e_avl_next_linked(n) : e_avl_prev_linked(n), i, mt_get_tenant_id(), forward, f);
        }
    }
    return lk_step_any(T, i, h, db, table, record, forward, f, err);
}

inline void **field_slot(const TableDef &T, void *r, uint32_t p) {
    return reinterpret_cast<void **>(static_cast<uint8_t *>(r) + field_off(T.nindex, p));
}

// Writes the key copies of record r's index nodes from its key objects; a
// copy that changes is announced like any store into table memory.
inline void copy_keys(const TableDef &T, qel_handle_t *h, uint32_t db, void *r) {
    for (uint32_t i = 0; i < T.nindex; ++i) {
        uint32_t *w = &node_of(r, i)->spare;
        const uint32_t v = key_copy(T.index[i].kind, T.index[i].key_off, *field_slot(T, r, T.index[i].part));
        if (*w != v) store<uint32_t>(h, db, r, w, v);
    }
}
// The same after a key object of an inserted record was replaced or rewritten.
inline void recopy_keys(const TableDef &T, qel_handle_t *h, uint32_t db, void *r) {
    if (rec(r)->table) copy_keys(T, h, db, r);
}

}  // namespace lomari
