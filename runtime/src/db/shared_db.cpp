/*
 * db/shared_db.cpp -- handles bound to a shared database.
 *
 * Owns: qelrt_handle_bind_db and the handle functions a bound handle
 * carries (allocation and release that send the database's blocks to the
 * segment, the type-info copy allocator, the shared type dictionary, the
 * journaling write and statistics hooks), the
 * shared variant records of registered copies, and qelrt_db_each_table.
 *
 * Every handle bound to a database, in any process, sees one dictionary:
 * the registered type-info copies and their variant records sit in the
 * segment, so an object made in one process refers to a record every
 * other process reads at the same address, and its counts add up there.
 */
#include <cstdlib>
#include <new>

#include "db/segment.h"
#include "internal.h"

namespace qelrt {

thread_local qelrt_db *t_root_pending = nullptr;

namespace {

constexpr uint32_t kRootSize = 32;

qelrt_db *bound(void *ctx) {
    return ctx ? static_cast<HandlePrivate *>(ctx)->shared : nullptr;
}

/* alloc_fn of a bound handle (alloc_ctx: the segment's key/range store):
 * the database's id allocates in the segment, and so does the id-keyed
 * table root announced by quarl_get_key; everything else is the heap's. */
void *bound_alloc(void *alloc_ctx, uint32_t dbid, uint32_t size) {
    qelrt_db *db = shared_db_at(alloc_ctx);
    if (db && dbid == db->hdr->dbid)
        return shared_alloc_block(db, size);
    if (db && dbid == QEL_NO_DATABASE && size == kRootSize && t_root_pending == db) {
        t_root_pending = nullptr;
        return shared_alloc_block(db, size);
    }
    return default_alloc(alloc_ctx, dbid, size);
}

/* free_fn of a bound handle: segment blocks are told by their address. */
void bound_free(void *alloc_ctx, uint32_t dbid, void *mem) {
    if (qelrt_db *db = shared_db_at(mem)) {
        shared_free_block(db, mem);
        return;
    }
    any_free(alloc_ctx, dbid, mem);
}

/* type_alloc_fn of a bound handle (type_alloc_ctx: its private part). */
void *bound_type_alloc(void *ctx, uint32_t, uint32_t size) {
    qelrt_db *db = bound(ctx);
    if (!db || type_alloc_should_fail())
        return nullptr;
    void *p;
    {
        LockScope lock(db);
        p = seg_alloc(db, size);
    }
    if (p)
        g_type_alloc_count.fetch_add(1, std::memory_order_relaxed);
    return p;
}

bool sig_key(const char *signature, SigKey *k) {
    if (!signature || strnlen(signature, sizeof k->s) >= sizeof k->s)
        return false;
    std::memset(k->s, 0, sizeof k->s);
    std::strcpy(k->s, signature);
    return true;
}

void *bound_dict_lookup(void *ctx, uint32_t, const char *signature) {
    qelrt_db *db = bound(ctx);
    SigKey k;
    if (!db || !sig_key(signature, &k))
        return nullptr;
    SegRoots *r = db->roots;
    Guard<RobustMutex> g(r->dict_mu);
    void **v = r->dict.find(k);
    return v ? *v : nullptr;
}

/* Files a copy made through a bound handle.  The library's registration
 * sets a copy's counter mode to the handle's per_handle_types (1, plain
 * adds); a copy filed here is shared by every handle of every process
 * bound to the database, so its counter mode is set to 0 and the
 * library's counts into its variant records are atomic adds.  A copy
 * whose variant records are not in the segment (the segment was full when
 * they were to be made) is refused and released: no segment object may
 * refer to the library's own records.  When another process filed the
 * signature first, this copy is released and the first one stays. */
int bound_dict_insert(void *ctx, uint32_t, const char *signature, void *tinfo) {
    qelrt_db *db = bound(ctx);
    SigKey k;
    if (!db || !tinfo || !sig_key(signature, &k))
        return 22;
    auto *ti = static_cast<qel_type_info_t *>(tinfo);
    if (shared_db_at(ti) != db)
        return 22;
    if (ti->varinfo && shared_db_at(ti->varinfo) != db) {
        shared_free_block(db, ti);
        return 12;
    }
    ti->counter_mode = 0;
    SegRoots *r = db->roots;
    LockScope lock(db);
    Guard<RobustMutex> g(r->dict_mu);
    const int rc = r->dict.insert(k, tinfo);
    if (rc != 17)
        return rc;
    if (ti->varinfo)
        shared_free_block(db, ti->varinfo);
    shared_free_block(db, ti);
    return 17;
}

} // namespace

/* The write hook of a bound handle, whatever the logging: the old bytes of
 * a store the library announces go to the journal first. */
void journal_write_hook(qel_handle_t *, void *addr, uint32_t len, uint32_t dbid, void *owner) {
    jnote(addr, len);
    if (RT_UNLIKELY(g_logging.load(std::memory_order_relaxed)))
        log_write_slow(addr, len, dbid, owner);
}

/* The statistics hook of a bound handle: a counter in a registered copy
 * is in the segment, and its old value goes to the journal before the
 * library adds to it. */
int journal_stats_hook(void *alloc_ctx, uint64_t *counter, uint64_t amount, uint32_t dbid) {
    logc("stats_inc_fn", w(alloc_ctx), w(counter), amount, dbid);
    jnote(counter, sizeof *counter);
    return 0;
}

bool shared_variant_info(qel_handle_t *h, qel_type_info_t *copy,
                         const qel_type_info_t *static_ti) {
    qelrt_db *db = priv(h)->shared;
    const qel_variant_info_t *svi = static_ti->varinfo;
    const size_t bytes = variant_info_bytes(svi);
    qel_variant_info_t *vi;
    {
        LockScope lock(db);
        vi = static_cast<qel_variant_info_t *>(seg_alloc(db, bytes));
    }
    if (!vi)
        return false;
    std::memset(vi, 0, bytes);
    variant_info_fill(vi, svi);
    copy->varinfo = vi;
    return true;
}

} // namespace qelrt

using namespace qelrt;

extern "C" {

int qelrt_handle_bind_db(qel_handle_t *h, qelrt_db_t *db) {
    if (!h || !h->rt_private || !db)
        return 22;
    HandlePrivate *pv = priv(h);
    {
        std::lock_guard<std::mutex> g(pv->mu);
        if (pv->shared || !pv->dict.empty() || pv->db)
            return 22; /* binds once, before its first object or table */
    }
    pv->shared = db;
    {
        std::lock_guard<std::mutex> g(g_live_mu);
        bind_hooks(h);
    }
    h->alloc_fn = bound_alloc;
    h->free_fn = bound_free;
    h->alloc_ctx = &db->roots->quarl;
    h->type_alloc_fn = bound_type_alloc;
    h->type_dict_lookup_fn = bound_dict_lookup;
    h->type_dict_insert_fn = bound_dict_insert;
    h->per_handle_types = 1;
    h->database_id = db->hdr->dbid;
    h->db_stats = &db->roots->stats;
    return 0;
}

void qelrt_db_each_table(qelrt_db_t *db, void (*visit)(void *ctx, void *table), void *ctx) {
    if (!db || !visit || !db->roots->db.has_list)
        return;
    for (qeldb_table_head_t *t = db->roots->db.list.first; t; t = t->next)
        visit(ctx, t);
}

} // extern "C"
