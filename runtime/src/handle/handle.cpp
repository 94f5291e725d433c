/*
 * handle.cpp -- handles and what hangs off them.
 *
 * Owns: making and freeing handles (qelrt_handle_*), the handle's private
 * part (check record, type dictionary, workspace, key/range database), the
 * default allocator (malloc blocks with a small header so that frees know
 * the size for live-byte accounting), the type-info copy allocator, the
 * dictionary callbacks, and the observing write hook and statistics hook.
 *
 * The two hooks of a handle of its own only feed the write log and the
 * call log, so it carries them only while logging is on: otherwise both
 * are null and the library skips the call with one test.  A handle bound
 * to a shared database always carries the journaling hooks
 * (db/shared_db.cpp), which log as well while logging is on.  The live handles are kept in a
 * list so that turning logging on or off reaches handles made before.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "internal.h"
#include "qel/rt_inline.h"

namespace qelrt {

namespace {

constexpr uint32_t kHdrMagic = 0x51454c41u; /* live block */
constexpr uint32_t kHdrDead = 0xdeadb10cu;  /* released block */
constexpr uint32_t kDefaultWorkspace = 64u * 1024u;
/* Fresh default-allocator memory is filled with this byte, so a caller
 * that forgets to clear what it allocates shows it at once. */
constexpr int kFreshFill = 0xA5;

struct alignas(16) BlockHdr {
    uint32_t size;
    uint32_t epoch;
    uint32_t magic;
    uint32_t counted;
};
static_assert(sizeof(BlockHdr) == 16, "header keeps 16-byte alignment");

/* Installed only while logging is on; the test covers a hook that is
 * still running when logging goes off. */
void write_hook_observe(qel_handle_t *, void *addr, uint32_t len, uint32_t dbid,
                        void *owner) {
    if (RT_LIKELY(g_logging.load(std::memory_order_relaxed)))
        log_write_slow(addr, len, dbid, owner);
}

int stats_inc_observe(void *alloc_ctx, uint64_t *counter, uint64_t amount,
                      uint32_t dbid) {
    logc("stats_inc_fn", w(alloc_ctx), w(counter), amount, dbid);
    return 0;
}

} // namespace

/* Handles made by qelrt_handle_new and not yet freed. */
std::mutex g_live_mu;

namespace {
std::vector<qel_handle_t *> &live_handles() {
    static auto *v = new std::vector<qel_handle_t *>; /* outlives static destructors */
    return *v;
}

/* Puts on (or takes off) the observing hooks, leaving a hook the caller
 * installed in place.  The stores are atomic so that a thread reading the
 * handle sees either hook, never a torn word.  Caller holds g_live_mu. */
void set_hooks(qel_handle_t *h, bool on) {
    HandlePrivate *pv = priv(h);
    qel_write_hook_fn wh = pv->shared ? journal_write_hook : on ? write_hook_observe : nullptr;
    qel_stats_inc_fn si = pv->shared ? journal_stats_hook : on ? stats_inc_observe : nullptr;
    if (__atomic_load_n(&h->write_hook_fn, __ATOMIC_RELAXED) == pv->hook_set) {
        __atomic_store_n(&h->write_hook_fn, wh, __ATOMIC_RELAXED);
        pv->hook_set = wh;
    }
    if (__atomic_load_n(&h->stats_inc_fn, __ATOMIC_RELAXED) == pv->stats_set) {
        __atomic_store_n(&h->stats_inc_fn, si, __ATOMIC_RELAXED);
        pv->stats_set = si;
    }
}

} // namespace

/* A handle bound to a shared database carries the journaling hooks, logging
 * or not.  Caller holds g_live_mu. */
void bind_hooks(qel_handle_t *h) { set_hooks(h, g_logging.load(std::memory_order_relaxed)); }

namespace {

void *type_alloc_default(void *ctx, uint32_t /*dbid*/, uint32_t size) {
    if (type_alloc_should_fail())
        return nullptr;
    void *p = std::malloc(size ? size : 1);
    if (!p)
        return nullptr;
    auto *pv = static_cast<HandlePrivate *>(ctx);
    {
        std::lock_guard<std::mutex> g(pv->mu);
        pv->type_allocs.push_back(p);
    }
    g_type_alloc_count.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void *dict_lookup(void *ctx, uint32_t, const char *signature) {
    if (!signature)
        return nullptr;
    auto *pv = static_cast<HandlePrivate *>(ctx);
    std::lock_guard<std::mutex> g(pv->mu);
    auto it = pv->dict.find(std::string_view(signature));
    return it == pv->dict.end() ? nullptr : it->second;
}

/* 0 when added; 17 when the signature is already registered (the first
 * copy stays). */
int dict_insert(void *ctx, uint32_t, const char *signature, void *tinfo) {
    if (!signature || !tinfo)
        return 22;
    auto *pv = static_cast<HandlePrivate *>(ctx);
    std::lock_guard<std::mutex> g(pv->mu);
    return pv->dict.emplace(signature, tinfo).second ? 0 : 17;
}

} // namespace

void *hdr_alloc(uint32_t size, bool counted) {
    auto *b = static_cast<BlockHdr *>(std::malloc(sizeof(BlockHdr) + size));
    if (!b)
        return nullptr;
    b->size = size;
    b->epoch = g_epoch.load(std::memory_order_relaxed);
    b->magic = kHdrMagic;
    b->counted = counted;
    if (counted) {
        g_alloc_count.fetch_add(1, std::memory_order_relaxed);
        g_live_bytes.fetch_add(size, std::memory_order_relaxed);
    }
    return b + 1;
}

void hdr_free(void *p) {
    BlockHdr *b = static_cast<BlockHdr *>(p) - 1;
    if (b->magic != kHdrMagic) {
        std::fprintf(stderr,
                     "qelrt: free_fn of %p: not a live runtime block "
                     "(double free or foreign pointer)\n", p);
        std::abort();
    }
    b->magic = kHdrDead;
    if (b->counted) {
        g_free_count.fetch_add(1, std::memory_order_relaxed);
        if (b->epoch == g_epoch.load(std::memory_order_relaxed))
            g_live_bytes.fetch_sub(b->size, std::memory_order_relaxed);
    }
    std::free(b);
}

void *default_alloc(void *, uint32_t, uint32_t size) {
    if (alloc_should_fail())
        return nullptr;
    void *p = hdr_alloc(size, true);
    if (p)
        std::memset(p, kFreshFill, size);
    return p;
}

/* Sets or clears a handle's QEL_RTF_QUIET after g_quiet; atomic, as the
 * hooks are.  Caller holds g_live_mu. */
static void set_quiet(qel_handle_t *h, bool quiet) {
    if (quiet)
        __atomic_fetch_or(&h->rt_flags, QEL_RTF_QUIET, __ATOMIC_RELAXED);
    else
        __atomic_fetch_and(&h->rt_flags, ~QEL_RTF_QUIET, __ATOMIC_RELAXED);
}

void quiet_follow() {
    std::lock_guard<std::mutex> g(g_live_mu);
    const bool quiet = g_quiet.load(std::memory_order_relaxed);
    for (qel_handle_t *h : live_handles())
        set_quiet(h, quiet);
}

void hooks_follow_logging() {
    std::lock_guard<std::mutex> g(g_live_mu);
    const bool on = g_logging.load(std::memory_order_relaxed);
    for (qel_handle_t *h : live_handles())
        set_hooks(h, on);
}

} // namespace qelrt

using namespace qelrt;

extern "C" {

qel_handle_t *qelrt_handle_new(void) {
    auto *h = static_cast<qel_handle_t *>(std::calloc(1, sizeof(qel_handle_t)));
    if (!h)
        return nullptr;
    auto *pv = new (std::nothrow) HandlePrivate;
    if (!pv) {
        std::free(h);
        return nullptr;
    }
    pv->ws_len = kDefaultWorkspace;
    pv->ws = static_cast<uint8_t *>(std::calloc(1, pv->ws_len));
    pv->quarl = quarl_db_new();
    if (!pv->ws || !pv->quarl) {
        std::free(pv->ws);
        quarl_db_delete(pv->quarl, nullptr);
        delete pv;
        std::free(h);
        return nullptr;
    }
    h->rt_private = pv;
    h->alloc_fn = default_alloc;
    h->free_fn = any_free;
    h->write_hook_fn = nullptr;
    h->stats_inc_fn = nullptr;
    h->type_alloc_fn = type_alloc_default;
    h->type_dict_lookup_fn = dict_lookup;
    h->type_dict_insert_fn = dict_insert;
    h->alloc_ctx = nullptr;
    h->type_alloc_ctx = pv;
    h->type_dict_ctx = pv;
    h->per_handle_types = 0;
    h->database_id = QEL_NO_DATABASE;
    std::snprintf(h->domain.name, sizeof h->domain.name, "%s", "lomari");
    h->domain.id = 0;
    h->domain_name = h->domain.name;
    h->check_record = nullptr;
    h->database_name = "lomari_db";
    h->db_stats = &pv->db_stats;
    std::lock_guard<std::mutex> g(g_live_mu);
    std::vector<qel_handle_t *> &live = live_handles();
    pv->live_index = live.size();
    live.push_back(h);
    set_hooks(h, g_logging.load(std::memory_order_relaxed));
    set_quiet(h, g_quiet.load(std::memory_order_relaxed));
    return h;
}

void qelrt_handle_free(qel_handle_t *h) {
    if (!h)
        return;
    HandlePrivate *pv = priv(h);
    if (pv) {
        {
            std::lock_guard<std::mutex> g(g_live_mu);
            std::vector<qel_handle_t *> &live = live_handles();
            live[pv->live_index] = live.back();
            priv(live.back())->live_index = pv->live_index;
            live.pop_back();
        }
        for (void *p : pv->type_allocs)
            std::free(p);
        for (void *p : pv->variant_allocs)
            std::free(p);
        std::free(pv->ws);
        quarl_db_delete(pv->quarl, h);
        delete pv;
    }
    std::free(h);
}

void qelrt_handle_set_mode(qel_handle_t *h, uint32_t check_state) {
    if (!h)
        return;
    if (check_state == 0) {
        h->check_record = nullptr;
    } else {
        priv(h)->check.check_state = check_state;
        h->check_record = &priv(h)->check;
    }
}

/* A handle bound to a shared database keeps the database's allocator and
 * store: both switches leave it alone. */
void qelrt_handle_use_quarl(qel_handle_t *h, int on) {
    if (h && !priv(h)->shared)
        h->alloc_ctx = on ? static_cast<void *>(priv(h)->quarl) : nullptr;
}

void qelrt_handle_use_pool(qel_handle_t *h, int on) {
    if (!h || priv(h)->shared)
        return;
    h->alloc_fn = on ? pool_alloc : default_alloc;
    h->free_fn = any_free; /* tells the two kinds of block apart */
}

uint32_t qelrt_handle_dict_size(qel_handle_t *h) {
    if (!h)
        return 0;
    HandlePrivate *pv = priv(h);
    std::lock_guard<std::mutex> g(pv->mu);
    return static_cast<uint32_t>(pv->dict.size());
}

void qelrt_handle_set_workspace(qel_handle_t *h, uint32_t len) {
    if (!h)
        return;
    HandlePrivate *pv = priv(h);
    auto *nb = static_cast<uint8_t *>(std::calloc(1, len ? len : 1));
    if (!nb)
        return;
    std::free(pv->ws);
    pv->ws = nb;
    pv->ws_len = len;
}

uint32_t qelrt_quarl_range_count(const qel_handle_t *h) {
    return h ? quarl_db_range_count(priv(h)->quarl) : 0;
}

void qellib_get_handle_ws(qel_handle_t *h, uint8_t **buf, uint32_t *len) {
    logc("qellib_get_handle_ws", w(h));
    uint8_t *b = nullptr;
    uint32_t n = 0;
    if (h && h->rt_private) {
        b = priv(h)->ws;
        n = priv(h)->ws_len;
    }
    if (buf)
        *buf = b;
    if (len)
        *len = n;
}

} // extern "C"
