/*
 * pool.cpp -- the pooling allocator a handle switches to for speed.
 *
 * Owns: pool_alloc and any_free (the free_fn of every handle).  Small
 * blocks (up to kMaxSmall bytes, in 8-byte size classes) are carved from
 * 64 KiB slabs of one reserved address range and kept on thread-local free
 * lists, so a list's same-size elements come and go without a system
 * allocation each; a block carries no header, its class is found from its
 * slab.  Larger blocks are
 * header-carrying malloc blocks (handle.cpp), so any_free tells the two
 * apart by address alone.
 *
 * The fast path counts nothing: counting and the fail knobs apply only
 * while g_watch is set (logging on or an allocation knob armed).
 *
 * Under AddressSanitizer every block goes to malloc so that the sanitizer
 * keeps seeing each object on its own.
 */
#include <pthread.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "internal.h"

#if defined(__SANITIZE_ADDRESS__)
#define RT_POOL_SLABS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RT_POOL_SLABS 0
#endif
#endif
#ifndef RT_POOL_SLABS
#define RT_POOL_SLABS 1
#endif

namespace qelrt {

namespace {

constexpr uint32_t kMaxSmall = 1024;
constexpr uint32_t kClasses = kMaxSmall / 8; /* class c holds c*8 bytes */
constexpr size_t kSlab = 64 * 1024;
constexpr size_t kRegion = size_t(4) << 30; /* reserved, not committed */

std::atomic<uint8_t *> g_base{nullptr};
std::once_flag g_region_once;
std::atomic<size_t> g_next_slab{0};
uint8_t g_slab_class[kRegion / kSlab];

/* Free lists left behind by threads that have ended. */
std::mutex g_orphan_mu;
void *g_orphans[kClasses + 1];

struct Tls {
    void *free[kClasses + 1];
    uint8_t *bump[kClasses + 1];
    uint8_t *end[kClasses + 1];
};

/* One pointer per thread, in the initial-exec model so the hot path reads
 * it with a single segment-relative load; the lists themselves live on the
 * heap.  A pthread key hands them back when the thread ends. */
__attribute__((tls_model("initial-exec"))) thread_local Tls *t_pool = nullptr;
pthread_key_t g_tls_key;
std::once_flag g_key_once;

void push_orphans(Tls *t) {
    std::lock_guard<std::mutex> g(g_orphan_mu);
    for (uint32_t c = 1; c <= kClasses; ++c) {
        void *head = t->free[c];
        if (!head)
            continue;
        void *tail = head;
        while (*static_cast<void **>(tail))
            tail = *static_cast<void **>(tail);
        *static_cast<void **>(tail) = g_orphans[c];
        g_orphans[c] = head;
    }
}

/* Thread exit: the free lists go to the orphans.  A block freed later in
 * the same thread's teardown makes a fresh list, which the key's next
 * destructor round hands back in turn. */
void tls_done(void *p) {
    auto *t = static_cast<Tls *>(p);
    push_orphans(t);
    t_pool = nullptr;
    std::free(t);
}

__attribute__((noinline)) Tls *tls_make() {
    std::call_once(g_key_once, [] { pthread_key_create(&g_tls_key, tls_done); });
    auto *t = static_cast<Tls *>(std::calloc(1, sizeof(Tls)));
    if (t) {
        pthread_setspecific(g_tls_key, t);
        t_pool = t;
    }
    return t;
}

void reserve_region() {
    void *p = mmap(nullptr, kRegion, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED)
        g_base.store(static_cast<uint8_t *>(p), std::memory_order_release);
}

inline uint32_t class_of(uint32_t size) { return size ? (size + 7) >> 3 : 1; }

/* Slow path of a small allocation: orphans first, then a new slab.
 * Null when the range is used up; the caller falls back to malloc. */
__attribute__((noinline)) void *refill(Tls &t, uint32_t c) {
    {
        std::lock_guard<std::mutex> g(g_orphan_mu);
        if (void *head = g_orphans[c]) {
            g_orphans[c] = nullptr;
            t.free[c] = *static_cast<void **>(head);
            return head;
        }
    }
    std::call_once(g_region_once, reserve_region);
    uint8_t *base = g_base.load(std::memory_order_acquire);
    if (!base)
        return nullptr;
    size_t off = g_next_slab.fetch_add(kSlab, std::memory_order_relaxed);
    if (off + kSlab > kRegion)
        return nullptr;
    g_slab_class[off / kSlab] = static_cast<uint8_t>(c);
    uint8_t *slab = base + off;
    t.bump[c] = slab + size_t(c) * 8;
    t.end[c] = slab + kSlab;
    return slab;
}

inline void *small_alloc(uint32_t c) {
    Tls *tp = t_pool;
    if (RT_UNLIKELY(!tp) && !(tp = tls_make()))
        return nullptr;
    Tls &t = *tp;
    if (void *p = t.free[c]) {
        t.free[c] = *static_cast<void **>(p);
        return p;
    }
    size_t sz = size_t(c) * 8;
    if (static_cast<size_t>(t.end[c] - t.bump[c]) >= sz) {
        void *p = t.bump[c];
        t.bump[c] += sz;
        return p;
    }
    return refill(t, c);
}

__attribute__((noinline)) void *pool_alloc_watched(uint32_t size) {
    if (alloc_should_fail())
        return nullptr;
    if (RT_POOL_SLABS && size <= kMaxSmall) {
        uint32_t c = class_of(size);
        if (void *p = small_alloc(c)) {
            g_alloc_count.fetch_add(1, std::memory_order_relaxed);
            g_live_bytes.fetch_add(c * 8, std::memory_order_relaxed);
            return p;
        }
    }
    return hdr_alloc(size, true);
}

} // namespace

/* Everything but a pop from a non-empty free list: watched allocations,
 * bump allocation, refills and large blocks.  Out of line, so that the
 * common case saves no registers. */
__attribute__((noinline)) void *pool_alloc_slow(uint32_t size) {
    if (RT_UNLIKELY(g_watch.load(std::memory_order_relaxed)))
        return pool_alloc_watched(size);
    if (RT_POOL_SLABS && size <= kMaxSmall) {
        if (void *p = small_alloc(class_of(size)))
            return p;
    }
    return hdr_alloc(size, false);
}

void *pool_alloc(void *, uint32_t, uint32_t size) {
    if (RT_POOL_SLABS && RT_LIKELY(size <= kMaxSmall) &&
        RT_LIKELY(!g_watch.load(std::memory_order_relaxed))) {
        Tls *t = t_pool;
        const uint32_t c = class_of(size);
        if (RT_LIKELY(t != nullptr)) {
            if (void *p = t->free[c]) {
                t->free[c] = *static_cast<void **>(p);
                return p;
            }
        }
    }
    return pool_alloc_slow(size);
}

/* Returns a slab block of class c to this thread's free list, counting it
 * while allocations are watched; with no thread list to be had it goes to
 * the orphans. */
__attribute__((noinline)) void slab_free_slow(uint8_t *p, uint32_t c) {
    if (RT_UNLIKELY(g_watch.load(std::memory_order_relaxed))) {
        g_free_count.fetch_add(1, std::memory_order_relaxed);
        g_live_bytes.fetch_sub(c * 8, std::memory_order_relaxed);
    }
    Tls *t = t_pool;
    if (RT_UNLIKELY(!t))
        t = tls_make();
    if (RT_LIKELY(t)) {
        *reinterpret_cast<void **>(p) = t->free[c];
        t->free[c] = p;
        return;
    }
    std::lock_guard<std::mutex> g(g_orphan_mu);
    *reinterpret_cast<void **>(p) = g_orphans[c];
    g_orphans[c] = p;
}

/* A block of either allocator: slab blocks are told apart by address (one
 * unsigned compare), everything else carries a header. */
void any_free(void *, uint32_t, void *mem) {
    const uintptr_t base =
        reinterpret_cast<uintptr_t>(g_base.load(std::memory_order_acquire));
    const uintptr_t off = reinterpret_cast<uintptr_t>(mem) - base;
    if (RT_UNLIKELY(!base || off >= kRegion)) {
        if (mem)
            hdr_free(mem);
        return;
    }
    uint8_t *p = static_cast<uint8_t *>(mem);
    const uint32_t c = g_slab_class[off / kSlab];
    Tls *t = t_pool;
    if (RT_LIKELY(t != nullptr) && RT_LIKELY(!g_watch.load(std::memory_order_relaxed))) {
        *reinterpret_cast<void **>(p) = t->free[c];
        t->free[c] = p;
        return;
    }
    slab_free_slow(p, c);
}

} // namespace qelrt
