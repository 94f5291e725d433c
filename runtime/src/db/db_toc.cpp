/*
 * db_toc.cpp -- the database runtime behind a handle.
 *
 * Owns: the database memory a handle reaches (its table list, its TOC of
 * tables filed by type luid and name or id, its per-tenant record
 * counters: the handle's own in the heap, or the segment's when the handle
 * is bound to a shared database, one code for both through DbStateT; every
 * store into the segment's is journaled first), the
 * write-lock and shared-database answers, object-id mapping
 * creation, the collector list, cursors and deferred record destruction,
 * the replication cache, location release, tenancy, bassert, and the knobs
 * of qel/rt_control_db.h that steer them.
 */
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <set>

#include "db/segment.h"
#include "internal.h"
#include "qel/rt_control_db.h"

namespace qelrt {

/* A handle's own database memory, in the process heap. */
struct DbState : DbStateT<HeapMem> {};

void DbStateFree::operator()(DbState *d) const { delete d; }

namespace {

struct DbKnobs {
    std::atomic<int> shared{0};
    std::atomic<int> write_locked{1};
    std::atomic<int> implicit_cursor{1};
    std::atomic<int> cursors_all{0};
    std::atomic<uint32_t> cursor_count{0}; /* tables in cursor_tables */
    std::atomic<int> oid_create{1};
    std::atomic<int> hide_list{0};
    std::atomic<int> hide_toc{0};
    std::atomic<int> deny_toc{0};
    std::atomic<uint32_t> bassert_count{0};
    std::atomic<int> bassert_trap{0};
    std::atomic<uint32_t> fail_count{0}; /* entries in fail */
    std::mutex mu;
    std::set<const void *> cursor_tables;
    std::map<std::string, uint32_t, std::less<>> fail;
};

DbKnobs &knobs() {
    static DbKnobs *k = new DbKnobs; /* outlives static destructors */
    return *k;
}

/* The calling thread's tenant.  Initial-exec: the runtime is linked, not
 * opened later, so the slot is reached without a call on every lookup. */
__attribute__((tls_model("initial-exec"))) thread_local uint16_t t_tenant = 0;

/* The error the named call is set to report, 0 when none. */
uint32_t failing(std::string_view call) {
    DbKnobs &k = knobs();
    std::lock_guard<std::mutex> g(k.mu);
    if (k.fail.empty())
        return 0;
    auto it = k.fail.find(call);
    return it == k.fail.end() ? 0 : it->second;
}

/* Reports code through err; true when the call is to stop. */
bool fails(std::string_view call, uint32_t *err) {
    if (RT_LIKELY(knobs().fail_count.load(std::memory_order_relaxed) == 0))
        return false;
    const uint32_t code = failing(call);
    if (code && err)
        *err = code;
    return code != 0;
}

DbState *heap_db(qel_handle_t *h) {
    HandlePrivate *pv = priv(h);
    if (!pv->db)
        pv->db.reset(new (std::nothrow) DbState);
    return pv->db.get();
}

/* Calls f with the database memory h reaches (the segment's for a bound
 * handle, else the handle's own, made on first use), or with a null
 * pointer of the heap kind when there is none. */
template <class F> decltype(auto) on_db(qel_handle_t *h, F &&f) {
    if (!h || !h->rt_private)
        return f(static_cast<DbStateT<HeapMem> *>(nullptr));
    if (qelrt_db *s = priv(h)->shared)
        return f(&s->roots->db);
    return f(static_cast<DbStateT<HeapMem> *>(heap_db(h)));
}

TocKey toc_key(const uint8_t *luid, bool by_name, const char *name, uint32_t name_len,
               uint64_t id) {
    TocKey k;
    std::memset(&k, 0, sizeof k);
    if (luid)
        std::memcpy(k.luid, luid, 16);
    k.by_name = by_name;
    if (by_name) {
        if (name)
            std::memcpy(k.name, name, strnlen(name, std::min<size_t>(name_len, sizeof k.name - 1)));
    } else {
        k.id = id;
    }
    return k;
}

TocKey key_of_table(const qeldb_table_head_t *t) {
    const auto *ti = static_cast<const qel_type_info_t *>(t->tinfo);
    return toc_key(ti ? ti->luid : nullptr, t->open_mode == 0, t->name,
                   sizeof t->name, t->table_id);
}

} // namespace

} // namespace qelrt

using namespace qelrt;

extern "C" {

/* ---- table list, TOC, write lock ------------------------------------ */

qeldb_table_list_t *qellib_database_table_toc_create(qel_handle_t *h, uint32_t dbid,
                                                     uint32_t *err) {
    logc("qellib_database_table_toc_create", w(h), dbid);
    if (fails("table_toc", err))
        return nullptr;
    return on_db(h, [&](auto *d) -> qeldb_table_list_t * {
        if (!d) {
            if (err)
                *err = 12;
            return nullptr;
        }
        /* Table memory is range-registered: a handle that makes tables
         * without a key/range database of its own is given the one it
         * carries. */
        if (!h->alloc_ctx)
            h->alloc_ctx = priv(h)->quarl;
        if (!d->has_list) {
            jset(&d->list.first, static_cast<qeldb_table_head_t *>(nullptr));
            jset(&d->list.last_link, &d->list.first);
            jset(&d->has_list, uint64_t{1});
        }
        return &d->list;
    });
}

qeldb_table_list_t *qellib_database_table_toc_get(qel_handle_t *h, uint32_t dbid,
                                                  uint32_t *err) {
    logc("qellib_database_table_toc_get", w(h), dbid);
    if (fails("table_toc", err))
        return nullptr;
    return on_db(h, [&](auto *d) -> qeldb_table_list_t * {
        return !d || !d->has_list || knobs().hide_list.load() ? nullptr : &d->list;
    });
}

qeldb_toc_t *qeldb_database_toc_open(qel_handle_t *h, uint32_t dbid, uint32_t *err) {
    logc("qeldb_database_toc_open", w(h), dbid);
    if (fails("toc_open", err))
        return nullptr;
    return on_db(h, [&](auto *d) -> qeldb_toc_t * {
        if (!d || knobs().deny_toc.load(std::memory_order_relaxed))
            return nullptr;
        if (!d->has_toc)
            jset(&d->has_toc, uint64_t{1});
        return &d->toc;
    });
}

qeldb_toc_t *qeldb_database_toc_get(qel_handle_t *h, uint32_t dbid, uint32_t *err) {
    logc("qeldb_database_toc_get", w(h), dbid);
    if (fails("toc_get", err))
        return nullptr;
    return on_db(h, [&](auto *d) -> qeldb_toc_t * {
        return !d || !d->has_toc || knobs().hide_toc.load() ? nullptr : &d->toc;
    });
}

void *qeldb_database_toc_get_table_root(qel_handle_t *h, uint32_t dbid,
                                        const char *name, uint32_t name_len,
                                        uint64_t id, const uint8_t *luid,
                                        uint32_t luid_len, int by_name,
                                        uint32_t *err) {
    logc("qeldb_database_toc_get_table_root", w(h), dbid, id, (uint64_t)by_name);
    if (fails("toc_find", err))
        return nullptr;
    return on_db(h, [&](auto *d) -> void * {
        if (!d || luid_len != 16)
            return nullptr;
        void **v = d->filed.find(toc_key(luid, by_name != 0, name, name_len, id));
        return v ? *v : nullptr;
    });
}

void qeldb_database_toc_insert(qel_handle_t *h, uint32_t dbid, void *table,
                               int dynamic, uint32_t *err) {
    logc("qeldb_database_toc_insert", w(h), dbid, w(table), (uint64_t)dynamic);
    if (fails("toc_insert", err))
        return;
    const uint32_t code = on_db(h, [&](auto *d) -> uint32_t {
        if (!d || !table)
            return 22;
        const TocKey k = key_of_table(static_cast<qeldb_table_head_t *>(table));
        /* Both entries or neither: a full segment refuses with 12. */
        if (const int rc = d->filed.insert(k, table))
            return static_cast<uint32_t>(rc);
        if (d->key_of.insert(AddrKey{reinterpret_cast<uintptr_t>(table)}, k) == 12) {
            d->filed.erase(k);
            return 12;
        }
        return 0;
    });
    if (code && err)
        *err = code;
}

void qeldb_database_toc_delete(qel_handle_t *h, uint32_t dbid, void *table,
                               uint32_t *err) {
    logc("qeldb_database_toc_delete", w(h), dbid, w(table));
    if (fails("toc_delete", err))
        return;
    const bool found = on_db(h, [&](auto *d) {
        if (!d)
            return false;
        const AddrKey at{reinterpret_cast<uintptr_t>(table)};
        TocKey *k = d->key_of.find(at);
        if (!k)
            return false;
        d->filed.erase(*k);
        d->key_of.erase(at);
        /* The table's per-tenant counters go with it. */
        d->tenants.erase_if([&](const TenantKey &t) { return t.table == at.a; });
        return true;
    });
    if (!found && err)
        *err = 2;
}

/* 1 once this process has a shared database attached, or while the knob
 * says so. */
int qellib_db_is_shared(void) {
    logc("qellib_db_is_shared");
    return knobs().shared.load() || shared_any_attached() ? 1 : 0;
}

/* A bound handle: does the calling thread hold its database's lock?  Any
 * other handle: the knob's answer. */
int qellib_database_is_write_locked(qel_handle_t *h) {
    logc("qellib_database_is_write_locked", w(h));
    if (h && h->rt_private)
        if (qelrt_db *s = priv(h)->shared)
            return shared_lock_held(s) ? 1 : 0;
    return knobs().write_locked.load();
}

/* ---- mappings, collector, reports ------------------------------------ */

int qel_oid_mapping_create(qel_handle_t *h, uint32_t dbid, void *obj, uint32_t kind,
                           int dynamic, uint64_t ior, uint32_t */*err*/) {
    logc("qel_oid_mapping_create", w(h), dbid, w(obj), ior);
    (void)kind;
    (void)dynamic;
    return knobs().oid_create.load();
}

void qelgc_database_gc_list_remove(qel_handle_t *h, uint32_t dbid, void *table,
                                   uint32_t *err) {
    logc("qelgc_database_gc_list_remove", w(h), dbid, w(table));
    if (fails("gc_remove", err))
        return;
    if (auto *t = static_cast<qeldb_table_head_t *>(table))
        jset(&t->flags, static_cast<uint8_t>(t->flags & ~QELDB_TABLE_ON_GC));
}

void qelgc_validate_table_delete(qel_handle_t *h, void *table) {
    logc("qelgc_validate_table_delete", w(h), w(table));
}

void qeldb_record_containment(qel_handle_t *h, uint32_t dbid, uint32_t kind,
                              const void *obj, const void *parent, int how) {
    logc("qeldb_record_containment", kind, w(obj), w(parent), (uint64_t)how);
    (void)h;
    (void)dbid;
}

void qellib_record_dereference_loc(qel_handle_t *h, uint32_t dbid, void *record,
                                   uint32_t *err) {
    logc("qellib_record_dereference_loc", w(h), dbid, w(record));
    if (fails("dereference_loc", err))
        return;
    if (record)
        jset(&static_cast<qeldb_record_head_t *>(record)->location, static_cast<void *>(nullptr));
}

void bassert(const char *expr, const char *file, int line) {
    logc("bassert", w(expr), w(file), (uint64_t)line);
    knobs().bassert_count.fetch_add(1);
    if (knobs().bassert_trap.load())
        return;
    std::fprintf(stderr, "assertion failed: %s (%s:%d)\n", expr ? expr : "",
                 file ? file : "", line);
    std::abort();
}

/* ---- cursors, deferred destruction, replication ------------------------ */

int qeldb_table_are_cursors_enabled(qel_handle_t *h, uint32_t dbid,
                                    const void *table, uint32_t */*err*/) {
    logc("qeldb_table_are_cursors_enabled", w(h), dbid, w(table));
    DbKnobs &k = knobs();
    if (k.cursors_all.load(std::memory_order_relaxed))
        return 1;
    if (k.cursor_count.load(std::memory_order_relaxed) == 0)
        return 0; /* the common answer takes no lock */
    std::lock_guard<std::mutex> g(k.mu);
    return k.cursor_tables.count(table) ? 1 : 0;
}

int qeldb_table_implicit_write_cursor_enabled(qel_handle_t *h, uint32_t dbid,
                                              const void *table, uint32_t */*err*/) {
    logc("qeldb_table_implicit_write_cursor_enabled", w(h), dbid, w(table));
    return knobs().implicit_cursor.load();
}

void qeldb_enq_rec_move_write_cursor_internal(qel_handle_t *h, uint32_t dbid,
                                              void *table, void *record,
                                              uint32_t */*err*/) {
    logc("qeldb_enq_rec_move_write_cursor_internal", w(h), dbid, w(table), w(record));
}

void qeldb_request_record_destroy(qel_handle_t *h, uint32_t dbid, void *record,
                                  uint32_t *err) {
    logc("qeldb_request_record_destroy", w(h), dbid, w(record));
    if (fails("request_destroy", err))
        return;
    auto *r = static_cast<qeldb_record_head_t *>(record);
    if (!r || (r->flags & QELDB_REC_PENDING))
        return;
    jset(&r->flags, r->flags | QELDB_REC_PENDING);
    if (r->table) {
        jset(&r->table->pending_destroy_count, r->table->pending_destroy_count + 1);
        if (h && h->db_stats)
            jset(&h->db_stats->pending_destroy, h->db_stats->pending_destroy + 1);
    }
}

void qelrepl_add_to_cache(qel_handle_t *h, uint32_t dbid, void *table, void *record,
                          uint32_t */*err*/) {
    logc("qelrepl_add_to_cache", w(h), dbid, w(table), w(record));
}

/* ---- tenancy ---------------------------------------------------------- */

uint16_t mt_get_tenant_id(void) { return t_tenant; }

void qeldb_update_tenant_counter(qel_handle_t *h, uint32_t /*dbid*/, void *table,
                                 int add, uint16_t tenant, uint8_t source,
                                 uint32_t *err) {
    logc("qeldb_update_tenant_counter", w(table), (uint64_t)add, tenant, source);
    if (fails("tenant_counter", err))
        return;
    const uint32_t code = on_db(h, [&](auto *d) -> uint32_t {
        if (!d)
            return 0;
        const auto id = reinterpret_cast<uintptr_t>(table);
        const TenantKey k{id, tenant, source}, all{id, tenant, 0, 1};
        uint32_t *one = d->tenants.find(k), *sum = d->tenants.find(all);
        if (!add) { /* a counter that reaches 0 goes */
            if (one && *one) {
                if (*one == 1)
                    d->tenants.erase(k);
                else
                    d->tenants.set(one, *one - 1);
                sum = d->tenants.find(all); /* an erase may move entries */
                if (sum && *sum == 1)
                    d->tenants.erase(all);
                else if (sum && *sum)
                    d->tenants.set(sum, *sum - 1);
            }
            return 0;
        }
        /* Both counters exist before either counts; an insert may grow
         * the table and move every entry, so both are found again. */
        if ((!one && d->tenants.insert(k, 0u, &one) == 12) ||
            (!sum && d->tenants.insert(all, 0u, &sum) == 12))
            return 12;
        one = d->tenants.find(k);
        sum = d->tenants.find(all);
        d->tenants.set(one, *one + 1);
        d->tenants.set(sum, *sum + 1);
        return 0;
    });
    if (code && err)
        *err = code;
}

uint32_t qeldb_get_tenant_counter(qel_handle_t *h, uint32_t /*dbid*/, const void *table,
                                  uint32_t *result, uint16_t tenant,
                                  const uint8_t *source) {
    logc("qeldb_get_tenant_counter", w(table), tenant, source ? *source : 0x100);
    if (knobs().fail_count.load(std::memory_order_relaxed))
        if (uint32_t code = failing("tenant_counter"))
            return code;
    const uint32_t n = on_db(h, [&](auto *d) {
        if (!d)
            return 0u;
        const auto id = reinterpret_cast<uintptr_t>(table);
        const uint32_t *n = d->tenants.find(source ? TenantKey{id, tenant, *source}
                                                   : TenantKey{id, tenant, 0, 1});
        return n ? *n : 0u;
    });
    if (result)
        *result = n;
    return 0;
}

/* ---- knobs ------------------------------------------------------------ */

void qelrt_db_reset(void) {
    DbKnobs &k = knobs();
    k.shared.store(0);
    k.write_locked.store(1);
    k.implicit_cursor.store(1);
    k.cursors_all.store(0);
    k.oid_create.store(1);
    k.hide_list.store(0);
    k.hide_toc.store(0);
    k.deny_toc.store(0);
    k.bassert_count.store(0);
    k.bassert_trap.store(0);
    t_tenant = 0;
    std::lock_guard<std::mutex> g(k.mu);
    k.cursor_tables.clear();
    k.cursor_count.store(0);
    k.fail.clear();
    k.fail_count.store(0);
}

void qelrt_db_set_shared(int on) { knobs().shared.store(on); }

void qelrt_db_set_write_locked(int on) { knobs().write_locked.store(on); }

void qelrt_db_toc_mark_shared(qel_handle_t *h, int on) {
    on_db(h, [&](auto *d) {
        if (!d)
            return;
        jset(&d->has_toc, uint64_t{1});
        jset(&d->toc.flags, static_cast<uint8_t>(on ? d->toc.flags | QELDB_TOC_SHARED
                                                    : d->toc.flags & ~QELDB_TOC_SHARED));
    });
}

void qelrt_db_enable_cursors(const void *table, int on) {
    DbKnobs &k = knobs();
    if (!table) {
        k.cursors_all.store(on);
        return;
    }
    std::lock_guard<std::mutex> g(k.mu);
    if (on)
        k.cursor_tables.insert(table);
    else
        k.cursor_tables.erase(table);
    k.cursor_count.store(static_cast<uint32_t>(k.cursor_tables.size()));
}

void qelrt_db_set_implicit_write_cursor(int on) { knobs().implicit_cursor.store(on); }

void qelrt_set_tenant_id(uint16_t tenant) { t_tenant = tenant; }

void qelrt_db_gc_list_add(void *table) {
    if (auto *t = static_cast<qeldb_table_head_t *>(table))
        jset(&t->flags, static_cast<uint8_t>(t->flags | QELDB_TABLE_ON_GC));
}

void qelrt_db_fail(const char *call, uint32_t code) {
    static const char *const kNames[] = {
        "toc_open",  "toc_get",         "toc_find",        "toc_insert",
        "toc_delete", "table_toc",      "gc_remove",       "request_destroy",
        "dereference_loc", "tenant_counter"};
    if (!call)
        return;
    for (const char *n : kNames) {
        if (std::strcmp(n, call) == 0) {
            DbKnobs &k = knobs();
            std::lock_guard<std::mutex> g(k.mu);
            if (code)
                k.fail[n] = code;
            else
                k.fail.erase(n);
            k.fail_count.store(static_cast<uint32_t>(k.fail.size()));
            return;
        }
    }
}

void qelrt_db_set_oid_create_answer(int answer) { knobs().oid_create.store(answer); }

void qelrt_db_hide(int table_list, int toc) {
    knobs().hide_list.store(table_list);
    knobs().hide_toc.store(toc);
}

void qelrt_db_deny_toc(int on) { knobs().deny_toc.store(on); }

uint32_t qelrt_db_toc_size(qel_handle_t *h) {
    return on_db(h, [&](auto *d) { return d ? static_cast<uint32_t>(d->filed.size()) : 0u; });
}

uint32_t qelrt_db_table_list_size(qel_handle_t *h) {
    return on_db(h, [&](auto *d) -> uint32_t {
        if (!d || !d->has_list)
            return 0;
        uint32_t n = 0;
        qeldb_table_head_t **link = &d->list.first;
        for (qeldb_table_head_t *t = d->list.first; t; t = t->next) {
            if (t->prev_link != link)
                return UINT32_MAX;
            link = &t->next;
            ++n;
        }
        return d->list.last_link == link ? n : UINT32_MAX;
    });
}

uint32_t qelrt_bassert_count(void) { return knobs().bassert_count.load(); }

void qelrt_bassert_trap(int on) { knobs().bassert_trap.store(on); }

} // extern "C"
