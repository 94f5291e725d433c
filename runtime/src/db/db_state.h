/*
 * db/db_state.h -- the database memory and the key/range store, written
 * once and placed by their allocator.
 *
 * Owns: DbStateT (a handle's table list, TOC entries, per-tenant counters)
 * and QuarlT (the key/range store).  Both are templates over an allocator
 * and a mutex: the process heap (std::allocator, std::mutex) for a handle's
 * own database, a shared segment (the segment's allocator, RobustMutex) for
 * a database every process attaches (db/segment.h).  Their containers hold
 * fixed-size keys and plain words only, so an instance in a segment holds
 * no address that differs between processes: its node links are the
 * allocator's pointers, and the tables and blocks it refers to sit in the
 * segment, which every process maps at the same address.
 */
#ifndef QELRT_DB_STATE_H
#define QELRT_DB_STATE_H

#include <pthread.h>

#include <boost/container/map.hpp>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "qel/rt_db.h"

namespace qelrt {

/* A process-shared, robust mutex that lives in a segment.  A holder that
 * died leaves it consistent again for the next locker: lock() answers 1
 * then (0 otherwise), so a caller that keeps state of its own under it can
 * repair that state. */
struct RobustMutex {
    RobustMutex() { init(); }
    RobustMutex(const RobustMutex &) = delete;
    RobustMutex &operator=(const RobustMutex &) = delete;
    pthread_mutex_t m;
    void init() {
        pthread_mutexattr_t a;
        pthread_mutexattr_init(&a);
        pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
        pthread_mutex_init(&m, &a);
        pthread_mutexattr_destroy(&a);
    }
    int lock() {
        int rc = pthread_mutex_lock(&m);
        if (rc == EOWNERDEAD) {
            pthread_mutex_consistent(&m);
            return 1;
        }
        return rc == 0 ? 0 : -rc;
    }
    void unlock() { pthread_mutex_unlock(&m); }
};

/* The guard both mutex kinds take (RobustMutex's answer is dropped: the
 * stores it guards change in single steps). */
template <class M> struct Guard {
    explicit Guard(M &m) : m_(m) { m_.lock(); }
    ~Guard() { m_.unlock(); }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;
    M &m_;
};

template <class A, class T> using Rebind = typename std::allocator_traits<A>::template rebind_alloc<T>;
template <class A, class K, class V>
using MapOf = boost::container::map<K, V, std::less<K>, Rebind<A, std::pair<const K, V>>>;

/* A TOC entry's key: the type's luid and the table's name (by_name 1) or
 * id; zero-filled past what it holds, so whole-key byte order is an order. */
struct TocKey {
    uint8_t luid[16];
    uint8_t by_name;
    uint8_t pad[7];
    uint64_t id;
    char name[208];
    bool operator<(const TocKey &o) const { return std::memcmp(this, &o, sizeof *this) < 0; }
};

/* A per-tenant counter's key: table, tenant, source. */
struct TenantKey {
    uintptr_t table;
    uint16_t tenant;
    uint8_t source;
    bool operator<(const TenantKey &o) const {
        if (table != o.table)
            return table < o.table;
        if (tenant != o.tenant)
            return tenant < o.tenant;
        return source < o.source;
    }
};

/* A handle's database memory: table list, TOC and per-tenant counters. */
template <class A> struct DbStateT {
    explicit DbStateT(const A &a = A()) : filed(a), key_of(a), tenants(a) {}
    qeldb_table_list_t list{nullptr, nullptr};
    bool has_list = false;
    qeldb_toc_t toc{0, nullptr};
    bool has_toc = false;
    MapOf<A, TocKey, void *> filed;
    MapOf<A, uintptr_t, TocKey> key_of;
    MapOf<A, TenantKey, uint32_t> tenants;
};

/* A key of the key/range store: the text, at most 207 characters. */
struct QuarlKey {
    char s[208];
    bool operator<(const QuarlKey &o) const { return std::strcmp(s, o.s) < 0; }
};

constexpr uint32_t kQuarlMagic = 0x7175726cu;       /* a handle's own store */
constexpr uint32_t kQuarlSharedMagic = 0x71726c53u; /* a segment's store */

/* The key/range store.  Each registered range is kept (start -> length,
 * the longer length kept for a start registered again) when the store
 * lives in the heap; a store in a segment [lo, hi) answers membership by
 * the segment's bounds instead, which hold every range it is given, and
 * keeps nothing per registration. */
template <class A, class M> struct QuarlT {
    explicit QuarlT(const A &a = A(), uintptr_t lo_ = 0, uintptr_t hi_ = 0)
        : magic(lo_ ? kQuarlSharedMagic : kQuarlMagic), lo(lo_), hi(hi_), ranges(a),
          keys(a) {}
    uint32_t magic;
    uintptr_t lo, hi; /* the segment's bounds; 0, 0 in the heap */
    mutable M mu;
    MapOf<A, uintptr_t, uint32_t> ranges;
    MapOf<A, QuarlKey, void *> keys;

    bool in_segment() const { return lo != 0; }
};

} // namespace qelrt

#endif /* QELRT_DB_STATE_H */
