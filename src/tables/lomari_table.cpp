// lomari_table.cpp -- the six tables: catalogue and lifecycle, records and
// primary keys, insertion and deletion over the AVL indexes.
//
// Owns opening (one worker behind the six open forms), close and free, the
// per-table-type cache of the id-keyed root (TBI root), record creation,
// referencing and destruction, deferred destruction requests, key objects,
// and insert and delete with their counts.  Everything is driven by the
// table descriptor (tables/table.h); the generated stamps only pick it.
//
// Where the table layer departs from the letter of its contract for safety:
// - free treats a TOC delete that reports "not filed" (error 2) as done, so
//   that request free (which removes the table from the TOC first) frees it;
// - free detaches the records still in the table (clears their table link),
//   so that destroying them later does not reach freed memory;
// - free makes every check that can fail before it changes the type's id
//   root or the table list, so that a refused free can be retried;
// - insert refuses (error 17) a record that already has a table link, since
//   its index nodes are linked;
// - when the second index of a table refuses a record, insert takes it back
//   out of the primary index and clears its table link: the record is left
//   as it was before the insert, counts and flags untouched, error 17;
// - delete stops at a record its primary index does not hold (error 2)
//   instead of clearing a table link that another table may own; a record
//   taken out of the primary index is always uncounted, even when its second
//   index node was missing (error 2 still reported);
// - pkey_delete of a record that is not in the table reports error 2;
// - the delete a record's last destroy makes is not subject to the
//   replication rule: a record that is released must leave its indexes;
// - add_ref at 2^24 - 1 references asserts through bassert (the process
//   ends); when the assertion returns, the reference is refused with 22;
// - null tables, names and records are refused with 22 where nothing else
//   is said, and so are tables, records and keys of another table (see
//   typed() in tables/table.h).
#include "tables/record_io.h"

#include <algorithm>
#include <cstdio>

#include "frame/entry.h"
#include "lomari/lomari_errors.h"
#include "types/lifecycle.h"

namespace lomari {

namespace {

using namespace tp::table;

// ---- the id-keyed root of a table type ---------------------------------------

// Bytes 0..7 carry the first bytes of the table type's luid, so that a cached
// address that now holds something else is not taken for the root.
struct TbiRoot {
    uint8_t tag[8];
    uint32_t table_count;
    uint32_t spare;
    uint64_t next_id;
    uint64_t spare2;
};
static_assert(sizeof(TbiRoot) == 32 && offsetof(TbiRoot, table_count) == 8 &&
              offsetof(TbiRoot, next_id) == 16);

// One cached root per table type, process-wide, validated before each use.
TbiRoot *g_tbi_cache[kTableCount];

void register_range(const TableDef &T, H *h, void *addr, uint32_t len, uint32_t db) {
    const int rc = quarl_set_range(h->alloc_ctx, addr, len, db);
    if (rc != 1) {
        quarl_perror(rc, "lomari table");
        fatal(kTrace2, tpt(T, quarl));
    }
}

// A registered store into table memory, reported dirty when the handle
// reports to the platform database.
template <class V>
void reg_store(const TableDef &T, H *h, uint32_t db, V *word, V value, const void *dirty) {
    register_range(T, h, word, sizeof(V), db);
    announce(h, word, sizeof(V), db, nullptr);
    *word = value;
    if (db != QEL_NO_DATABASE && plat_reports(h, db)) qeldb_plat_set_dirty(h, db, dirty);
}

// The TBI root of the table type: cached, else looked up, else (create)
// made.  Null with *err 12 when out of memory; null without error when
// absent outside create mode (traced when trace_absent) or when the key
// store refuses the new root (traced).
TbiRoot *tbi_root(const TableDef &T, H *h, uint32_t /*db*/, bool create, uint32_t *err, bool trace_absent) {
    char key[kNameBuf];  // the prefix and the 32 characters of the luid text always fit
    std::snprintf(key, sizeof key, "__qel_TBI__%s", T.luid_text);
    TbiRoot *&cache = g_tbi_cache[T.desc->ordinal];
    if (cache && quarl_in_range(h->alloc_ctx, cache, sizeof(TbiRoot)) &&
        std::memcmp(cache->tag, T.desc->ti->luid, sizeof cache->tag) == 0)
        return cache;
    auto *root = static_cast<TbiRoot *>(quarl_get_key(h->alloc_ctx, key));
    if (root) return cache = root;
    if (!create) {
        if (trace_absent) trace0(kTrace2, tpt(T, tbi_reader));
        return nullptr;
    }
    root = static_cast<TbiRoot *>(h->alloc_fn(h->alloc_ctx, QEL_NO_DATABASE, sizeof(TbiRoot)));
    if (!root) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return nullptr;
    }
    std::memset(root, 0, sizeof *root);
    std::memcpy(root->tag, T.desc->ti->luid, sizeof root->tag);
    if (quarl_set_key(h->alloc_ctx, key, root) == 0) {
        trace0(kTrace2, tpt(T, tbi_set_fail));
        h->free_fn(h->alloc_ctx, QEL_NO_DATABASE, root);
        cache = nullptr;
        return nullptr;
    }
    register_range(T, h, root, sizeof(TbiRoot), QEL_NO_DATABASE);
    return cache = root;
}

inline void count_table(const TableDef &T, H *h, uint32_t db, const qel_type_info_t *ti, bool created) {
    count_object(h, db, ti, 0, created, kTrace2, tpt(T, varinfo_null), tpt(T, variant_count));
}

// Appends a new handle to the tail of the table list.
void list_append(const TableDef &T, H *h, uint32_t db, qeldb_table_list_t *list, TblHead *t) {
    reg_store<TblHead *>(T, h, db, &t->next, nullptr, t);
    reg_store<TblHead **>(T, h, db, &t->prev_link, list->last_link, t);
    reg_store<TblHead *>(T, h, db, list->last_link, t, list);
    reg_store<TblHead **>(T, h, db, &list->last_link, &t->next, list);
}

// Open appends every handle before anything can fail, and free unlinks it
// only once nothing can fail any more: the handle is always on the list.
void list_unlink(const TableDef &T, H *h, uint32_t db, qeldb_table_list_t *list, TblHead *t) {
    if (t->next)
        reg_store<TblHead **>(T, h, db, &t->next->prev_link, t->prev_link, t->next);
    else
        reg_store<TblHead **>(T, h, db, &list->last_link, t->prev_link, list);
    reg_store<TblHead *>(T, h, db, t->prev_link, t->next, list);
}

// Clears the table link of every record still in the table.
int detach_record(void *node, void *ctx, void *hp, void *dbp, void *) {
    auto *h = static_cast<H *>(hp);
    const uint32_t db = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dbp));
    RecHead *r = rec(static_cast<uint8_t *>(node) - node_off(0));
    store<TblHead *>(h, db, r, &r->table, nullptr);
    (void)ctx;
    return 0;
}

// The delete worker; destroy passes repl_exempt.
void delete_worker(const TableDef &T, H *h, uint32_t db, void *table, void *record, bool pkey_only,
                   uint32_t *err, bool repl_exempt);

}  // namespace

// ---- open, close, free ---------------------------------------------------------

void *tbl_open(const TableDef &T, H *h, uint32_t db, const char *name, uint32_t open_type, uint64_t id,
               uint64_t ior, uint32_t dynamic, uint32_t mode, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err)) return nullptr;
    const bool create = open_type == 0;
    if (qellib_db_is_shared() && !qellib_database_is_write_locked(h) && create)
        fatal(kTrace2, tpt(T, open_wlock));
    ensure_trace_module();
    trans_avl_trace_init();
    trans_gbt_trace_init();

    qeldb_table_list_t *list = create ? qellib_database_table_toc_create(h, QEL_NO_DATABASE, err)
                                      : qellib_database_table_toc_get(h, QEL_NO_DATABASE, err);
    if (*err) return nullptr;
    if (!list) {
        trace_s(kTrace2, tpt(T, no_table_toc), h->database_name);
        return nullptr;
    }
    qeldb_toc_t *toc = create ? qeldb_database_toc_open(h, db, err) : qeldb_database_toc_get(h, db, err);
    if (*err) {
        trace_s(kTrace2, tpt(T, toc_open_err), err_text(*err));
        return nullptr;
    }
    if (!toc) {
        if (create) {
            trace_s(kTrace2, tpt(T, toc_root_fatal), h->database_name);
            std::abort();
        }
        trace_su(kTrace2, tpt(T, toc_root_missing), h->database_name, open_type);
        return nullptr;
    }

    TbiRoot *root = nullptr;
    if (mode == 1 || mode == 2) {
        root = tbi_root(T, h, db, create, err, true);
        if (!root) return nullptr;
    }
    char full[kNameBuf] = {};
    if (mode == 2) {
        if (!create) return nullptr;
        id = root->next_id;
    } else {
        const char *nm = nullptr;
        uint32_t nlen = 0;
        if (mode == 0) {
            if (!name) {
                report(h, err, LOMARI_ERR_INVALID);
                return nullptr;
            }
            if (std::strchr(name, '/')) {
                std::memcpy(full, name, std::min<size_t>(std::strlen(name), kNameMax));
            } else {
                // A negative answer (an encoding failure) counts as too big.
                const int n = std::snprintf(full, sizeof full, "%s/%s", name, T.luid_text);
                if (static_cast<unsigned>(n) >= sizeof full) {
                    report(h, err, LOMARI_ERR_TOO_BIG);
                    return nullptr;
                }
            }
            nm = full;
            nlen = static_cast<uint32_t>(std::strlen(full));
            id = 0;
        }
        void *found = qeldb_database_toc_get_table_root(h, db, nm, nlen, id, T.desc->ti->luid, 16,
                                                        mode == 0, err);
        if (*err) {
            trace_s(kTrace2, tpt(T, toc_find_err), err_text(*err));
            return nullptr;
        }
        if (found) {
            if (h->containment_tracking) qeldb_record_containment(h, db, 1, found, nullptr, 1);
            return found;
        }
        if (!create) return nullptr;
    }

    // Create the table.
    auto *t = static_cast<TblHead *>(h->alloc_fn(h->alloc_ctx, db, T.handle_size));
    if (!t) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return nullptr;
    }
    std::memset(t, 0, T.handle_size);
    announce(h, t, T.handle_size, db, nullptr);
    register_range(T, h, &t->range_word, sizeof t->range_word, QEL_NO_DATABASE);
    t->range_word = nullptr;
    t->tinfo = object_tinfo(h, db, T.desc->ti);
    t->open_mode = mode;
    if (dynamic) t->flags |= QELDB_TABLE_DYNAMIC;
    if (mode != 0) {
        t->table_id = id;
        announce(h, root, sizeof *root, db, nullptr);
        root->table_count += 1;
        root->next_id = (id > root->next_id ? id : root->next_id) + 1;
    } else {
        std::memcpy(t->name, full, std::strlen(full));  // at most 207: the rest stays zero
    }
    list_append(T, h, db, list, t);
    if (!qel_oid_mapping_create(h, db, t, 2, static_cast<int>(dynamic), ior, err) || *err)
        fatal(kTrace2, tpt(T, mapping_fatal));
    // Counted before it is filed: a handle the TOC refuses stays listed, and
    // its free counts it destroyed.
    count_table(T, h, db, static_cast<qel_type_info_t *>(t->tinfo), true);
    qeldb_database_toc_insert(h, db, t, static_cast<int>(dynamic), err);
    if (*err) {
        trace_s(kTrace2, tpt(T, toc_insert_err), dynamic ? "dynamic" : "static");
        return nullptr;
    }
    if (h->containment_tracking) qeldb_record_containment(h, db, 1, t, nullptr, 1);
    if (plat_reports(h, db)) qeldb_plat_set_dirty(h, db, t);
    return t;
}

void *tbl_open_cr(const TableDef &T, H *h, uint32_t open_type, uint32_t mode, const char *name, uint64_t id) {
    return tbl_open(T, h, h->database_id, name, open_type, id, 0, mode == 2, mode, &h->err);
}

void tbl_close(const TableDef &, H *h, uint32_t, void *, uint32_t *err) { begin(h, errw(err)); }

void tbl_free(const TableDef &T, H *h, uint32_t db, void *table, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err)) return;
    auto *t = static_cast<TblHead *>(table);
    if (!t) {
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    if (!table_typed(T, h, err, table)) return;
    qeldb_toc_t *toc = qeldb_database_toc_open(h, db, err);  // null with *err when it fails
    if (!toc) {
        trace_s(kTrace2, tpt(T, free_toc), err_text(*err));
        return;
    }
    auto toc_delete = [&] {
        qeldb_database_toc_delete(h, db, t, err);
        if (*err == LOMARI_ERR_NOT_FOUND) *err = 0;  // already out of the TOC
        if (*err) trace_s(kTrace2, tpt(T, free_toc_delete), err_text(*err));
        return *err == 0;
    };
    if (!(toc->flags & QELDB_TOC_SHARED)) {
        if (!toc_delete()) return;
    } else if (!h->gc_context) {
        trace0(kTrace2, tpt(T, free_shared));
        toc_delete();
        return;
    }
    const int removed = qel_request_oid_mapping_destroy(h, db, t, err);
    if (*err) {
        trace_s(kTrace2, tpt(T, free_oid_err), err_text(*err));
        return;
    }
    if (!removed) {
        report(h, err, LOMARI_ERR_AGAIN);
        return;
    }
    trace0(kTrace2, tpt(T, free_oid_ok));
    // Every step that can fail comes before the first that cannot be
    // repeated (the id root's count, the unlink): a refused free can be
    // retried.
    qeldb_table_list_t *list = qellib_database_table_toc_create(h, QEL_NO_DATABASE, err);
    if (!list) return;  // *err says why
    if (t->flags & QELDB_TABLE_ON_GC) {
        trace0(kTrace2, tpt(T, free_on_gc));
        qelgc_database_gc_list_remove(h, db, t, err);
        if (*err) {
            trace_s(kTrace2, tpt(T, free_gc_err), err_text(*err));
            return;
        }
    }
    if (t->open_mode == 1 || t->open_mode == 2) {
        TbiRoot *root = tbi_root(T, h, db, false, err, false);
        if (!root) {  // outside create mode tbi_root sets no error
            report(h, err, LOMARI_ERR_NOT_FOUND);
            return;
        }
        announce(h, &root->table_count, 4, db, nullptr);
        root->table_count -= 1;
    }
    list_unlink(T, h, db, list, t);
    if (h->gc_validate) qelgc_validate_table_delete(h, t);
    e_avl_walk(roots(t)[0].root, detach_record, nullptr, h, reinterpret_cast<void *>(uintptr_t{db}), nullptr);
    count_table(T, h, db, static_cast<qel_type_info_t *>(t->tinfo), false);
    *err = 0;
    if (plat_reports(h, db)) qeldb_plat_set_destroy(h, db, t);
    h->free_fn(h->alloc_ctx, db, t);
}

void tbl_request_free(const TableDef &T, H *h, uint32_t db, void *table, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err) || !table_typed(T, h, err, table)) return;
    if (!qellib_db_is_shared()) trace0(kTrace2, tpt(T, rfree_not_shared));
    qeldb_toc_t *toc = qeldb_database_toc_open(h, db, err);
    if (!toc) {
        trace_s(kTrace2, tpt(T, rfree_toc), err_text(*err));
        return;
    }
    qeldb_database_toc_delete(h, db, table, err);
    if (*err == LOMARI_ERR_NOT_FOUND) *err = 0;
    if (*err) {
        trace_s(kTrace2, tpt(T, rfree_toc_delete), err_text(*err));
        return;
    }
    if (qeldb_table_are_cursors_enabled(h, db, table, err)) {
        if (plat_reports(h, db)) qeldb_plat_set_destroy(h, db, table);
        return;
    }
    tbl_free(T, h, db, table, err);
    if (*err) trace_s(kTrace2, tpt(T, rfree_destroy), err_text(*err));
}

void tbl_close_cr(const TableDef &T, H *h, void *table, uint32_t how) {
    if (!h->err) qel_clear_last_error(h);
    if (how == 1) tbl_free(T, h, h->database_id, table, &h->err);
    if (how == 2) tbl_request_free(T, h, h->database_id, table, &h->err);
}

int tbl_get_luid(H *h, uint32_t db, const void *obj, uint8_t *luid_out, uint32_t *err) {
    return qel_get_luid(h, db, obj, luid_out, err);
}

// ---- records -----------------------------------------------------------------------

void *rec_create(const TableDef &T, H *h, uint32_t db, uint8_t source, uint32_t *err) {
    err = errw(err);
    ensure_trace_module();
    void *r = h->alloc_fn(h->alloc_ctx, db, T.record_size);
    const bool null_rec = !r;
    if (null_rec) {
        if (!h->chained_error) {
            if (h->containment_tracking) qeldb_record_containment(h, db, 2, nullptr, nullptr, 1);
            return nullptr;
        }
        r = T.null_record;
        if (!h->err) qel_store_err(h, LOMARI_ERR_NO_MEMORY);
    }
    std::memset(r, 0, T.record_size);
    RecHead *R = rec(r);
    announce(h, &R->tinfo, 8, db, nullptr);
    R->tinfo = object_tinfo(h, db, T.desc->record_ti);
    count_object(h, db, static_cast<qel_type_info_t *>(R->tinfo), 0, true, kTrace2, tpt(T, rec_varinfo_null),
                 tpt(T, rec_variant_count));
    if (!null_rec) *err = 0;
    R->ref_word = 1;
    R->source = source;
    R->tenant_id = mt_get_tenant_id();
    if (h->containment_tracking) qeldb_record_containment(h, db, 2, r, nullptr, 1);
    if (plat_reports(h, db)) qeldb_plat_set_dirty(h, db, r);
    return r;
}

void *rec_create_cr(const TableDef &T, H *h, uint32_t with_fields) {
    const uint32_t db = h->database_id;
    h->chained_error = 1;
    void *r = rec_create(T, h, db, QELDB_SRC_DEFAULT, &h->err);
    if (with_fields) {
        for (uint32_t p = 0; p < T.nparts; ++p) {
            vindel_set_callsite_tag(T.tag_base + p);
            rf_adopt(T, p, h, db, r, obj_create(*T.parts[p], h, db));
        }
    }
    h->chained_error = 0;
    return r;
}

uint32_t rec_add_ref(const TableDef &T, H *h, uint32_t db, void *record, uint32_t *err) {
    err = errw(err);
    if (*err) return 0;
    if (!record) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return 0;
    }
    if (!record_typed(T, h, err, record)) return 0;
    RecHead *R = rec(record);
    const uint32_t count = R->ref_word & QELDB_REF_MASK;
    if (count == QELDB_REF_MASK) {
        bassert("((1 << 24) - 1) != __ref_cnt", "src/lomari_table", 1787);
        report(h, err, LOMARI_ERR_INVALID);
        return count;
    }
    store<uint32_t>(h, db, record, &R->ref_word, (R->ref_word + 1) & QELDB_REF_MASK);
    return count;
}

void rec_destroy(const TableDef &T, H *h, uint32_t db, void *record, uint32_t *err) {
    err = errw(err);
    if (*err) return;
    if (!record) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return;
    }
    // A record whose type-info is gone is left to the fatal check below.
    if (tinfo_ok(static_cast<const qel_type_info_t *>(rec(record)->tinfo)) && !record_typed(T, h, err, record)) return;
    RecHead *R = rec(record);
    store<uint32_t>(h, db, record, &R->ref_word, (R->ref_word - 1) & QELDB_REF_MASK);
    if (R->ref_word) return;

    if (R->table && !(R->flags & QELDB_REC_KEEP)) {
        uint32_t e = 0;
        delete_worker(T, h, db, R->table, record, false, &e, true);
        if (e) trace_u(kTrace2, tpt(T, rec_delete_err), e);
    }
    for (uint32_t p = 0; p < T.nparts; ++p) {
        void **slot = field_slot(T, record, p);
        if (!*slot) continue;
        obj_destroy(*T.parts[p], h, db, *slot, 1);
        store<void *>(h, db, record, slot, nullptr);  // a retried destroy finds it gone
    }
    auto *ti = static_cast<qel_type_info_t *>(R->tinfo);
    if (!tinfo_ok(ti)) fatal(kTrace2, tpt(T, rec_tinfo_bad));
    count_object(h, db, ti, 0, false, kTrace2, tpt(T, rec_varinfo_null), tpt(T, rec_variant_count));
    *err = 0;
    if ((R->flags & QELDB_REC_MAPPED) && h->hd_mapping) {
        if (const uint32_t e = qel_hd_mapping_destroy(h, db, record)) {
            trace_s(kTrace2, tpt(T, rec_oid_fail), err_text(e));
            report(h, err, e);
            return;
        }
    }
    if (R->location) {
        qellib_record_dereference_loc(h, db, record, err);
        if (*err) {
            trace_s(kTrace2, tpt(T, rec_deref), err_text(*err));
            return;
        }
    }
    store<void *>(h, db, record, &R->tinfo, nullptr);
    if (record != T.null_record) h->free_fn(h->alloc_ctx, db, record);
}

void rec_request_destroy(const TableDef &T, H *h, uint32_t db, void *table, void *record, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err) || !args_typed(T, h, err, table, record)) return;
    const int cursors = qeldb_table_are_cursors_enabled(h, db, table, err);
    if (record && cursors) {
        qeldb_request_record_destroy(h, db, record, err);
        if (*err) trace0(kTrace2, tpt(T, rec_request));
        return;
    }
    report(h, err, LOMARI_ERR_INVALID);
}

void *pkey_create(const TableDef &T, H *h, uint32_t db) {
    vindel_set_callsite_tag(T.tag_base + T.nparts);
    return obj_create(*T.pkey, h, db);
}

void pkey_destroy(const TableDef &T, H *h, uint32_t db, void *pkey) {
    if (typed(h, nullptr, pkey, T.pkey->ti)) obj_destroy(*T.pkey, h, db, pkey, 1);
}

// ---- insert and delete -------------------------------------------------------------

void tbl_insert(const TableDef &T, H *h, uint32_t db, void *table, void *record, uint32_t pkey_only,
                uint32_t *err) {
    err = errw(err);
    // A null record is EXISTS whatever the error word held, before the
    // error-present check every other step keeps.
    if (!record) {
        report(h, err, LOMARI_ERR_EXISTS);
        return;
    }
    if (!begin(h, err) || !present(h, err, table) || !args_typed(T, h, err, table, record)) return;
    RecHead *R = rec(record);
    auto *t = static_cast<TblHead *>(table);
    IndexRoot *ix = roots(table);
    if (R->table) {  // its nodes are linked somewhere already
        report(h, err, LOMARI_ERR_EXISTS);
        return;
    }
    uint32_t flags = R->flags;
    copy_keys(T, h, db, record);
    if (!e_avl_insert(h->alloc_ctx, db, &ix[0].root, node_of(record, 0), &ix[0].companion, T.index[0].link_cmp)) {
        if (!h->quiet_duplicates) trace0(kTrace2, tpt(T, ins_exists));
        report(h, err, LOMARI_ERR_EXISTS);
        return;
    }
    store<TblHead *>(h, db, record, &R->table, t);
    if (T.nindex > 1 && !pkey_only) {
        if (!e_avl_insert(h->alloc_ctx, db, &ix[1].root, node_of(record, 1), &ix[1].companion, T.index[1].link_cmp)) {
            if (!h->quiet_duplicates) trace0(kTrace2, tpt(T, ins_exists2));
            // Back out of the primary index: the record is left as before.
            e_avl_delete(h->alloc_ctx, db, &ix[0].root, node_of(record, 0), &ix[0].companion, T.index[0].link_cmp);
            store<TblHead *>(h, db, record, &R->table, nullptr);
            report(h, err, LOMARI_ERR_EXISTS);
            return;
        }
    }
    flags = pkey_only ? (flags | QELDB_REC_PKEY_ONLY) : (flags & ~QELDB_REC_PKEY_ONLY);
    store<uint32_t>(h, db, record, &t->record_count, t->record_count + 1);
    if (R->source == QELDB_SRC_SHADOW) store<uint32_t>(h, db, record, &t->shadow_count, t->shadow_count + 1);
    if (const uint16_t tenant = mt_get_tenant_id())
        qeldb_update_tenant_counter(h, db, table, 1, tenant, R->source, err);
    store<uint32_t>(h, db, record, &R->flags, (flags & ~QELDB_REC_PENDING) | QELDB_REC_INSERTED);
    if (qeldb_table_are_cursors_enabled(h, db, table, err) &&
        qeldb_table_implicit_write_cursor_enabled(h, db, table, err))
        qeldb_enq_rec_move_write_cursor_internal(h, db, table, record, err);
    if (h->containment_tracking) qeldb_record_containment(h, db, 2, record, table, 1);
}

namespace {

void delete_worker(const TableDef &T, H *h, uint32_t db, void *table, void *record, bool pkey_only,
                   uint32_t *err, bool repl_exempt) {
    if (!begin(h, err)) return;
    if (!table || !record) {
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    if (!args_typed(T, h, err, table, record)) return;
    if (!repl_exempt && qeldb_table_are_cursors_enabled(h, db, table, err) && !h->gc_context) {
        trace0(kTrace2, tpt(T, del_repl));
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    RecHead *R = rec(record);
    auto *t = static_cast<TblHead *>(table);
    IndexRoot *ix = roots(table);
    auto drop_second = [&] {
        if (T.nindex < 2) return;
        if (!e_avl_delete(h->alloc_ctx, db, &ix[1].root, node_of(record, 1), &ix[1].companion, T.index[1].link_cmp)) {
            trace0(kTrace2, tpt(T, del_missing2));
            report(h, err, LOMARI_ERR_NOT_FOUND);
        }
    };
    if (pkey_only) {
        if (R->table != t) {
            trace0(kTrace2, tpt(T, del_missing));
            report(h, err, LOMARI_ERR_NOT_FOUND);
            return;
        }
        if (R->flags & QELDB_REC_PKEY_ONLY) return;
        drop_second();
        if (!*err) store<uint32_t>(h, db, record, &R->flags, R->flags | QELDB_REC_PKEY_ONLY);
        return;
    }
    if (!e_avl_delete(h->alloc_ctx, db, &ix[0].root, node_of(record, 0), &ix[0].companion, T.index[0].link_cmp)) {
        trace0(kTrace2, tpt(T, del_missing));
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return;
    }
    store<TblHead *>(h, db, record, &R->table, nullptr);
    if (R->flags & QELDB_REC_PKEY_ONLY)
        store<uint32_t>(h, db, record, &R->flags, R->flags & ~QELDB_REC_PKEY_ONLY);
    else
        drop_second();
    if (t->record_count == 0) {
        trace0(kTrace2, tpt(T, del_count0));
    } else {
        store<uint32_t>(h, db, record, &t->record_count, t->record_count - 1);
        if (R->source == QELDB_SRC_SHADOW && t->shadow_count)
            store<uint32_t>(h, db, record, &t->shadow_count, t->shadow_count - 1);
        if (R->flags & QELDB_REC_PENDING) {
            if (t->pending_destroy_count)
                store<uint32_t>(h, db, record, &t->pending_destroy_count, t->pending_destroy_count - 1);
            if (h->db_stats && h->db_stats->pending_destroy)
                store<uint64_t>(h, db, record, &h->db_stats->pending_destroy, h->db_stats->pending_destroy - 1);
        }
        if (const uint16_t tenant = mt_get_tenant_id())
            qeldb_update_tenant_counter(h, db, table, 0, tenant, R->source, err);
    }
    if (!*err && plat_reports(h, db)) qeldb_plat_set_destroy(h, db, record);
}

}  // namespace

void tbl_delete(const TableDef &T, H *h, uint32_t db, void *table, void *record, uint32_t pkey_only,
                uint32_t *err) {
    delete_worker(T, h, db, table, record, pkey_only != 0, errw(err), false);
}

uint32_t tbl_insert_cr(const TableDef &T, H *h, void *table, void *record, uint32_t pkey_only) {
    tbl_insert(T, h, h->database_id, table, record, pkey_only, &h->err);
    return h->err;
}

uint32_t tbl_delete_cr(const TableDef &T, H *h, void *table, void *record, uint32_t destroy) {
    delete_worker(T, h, h->database_id, table, record, false, &h->err, false);
    if (destroy && !h->err) rec_destroy(T, h, h->database_id, record, &h->err);
    return h->err;
}

uint32_t idx_compare(const TableDef &T, uint32_t i, const void *a, const void *b) { return T.index[i].cmp(a, b); }

}  // namespace lomari
