/*
 * db/db_state.h -- the database memory and the key/range store, written
 * once and placed by their allocator.
 *
 * Owns: DbStateT (a handle's table list, TOC entries, per-tenant counters)
 * and QuarlT (the key/range store's keys), their keys, and RobustMutex.
 * Both are templates over a memory policy: the process heap (HeapMem) for
 * a handle's own database, a shared segment (SegMem, db/segment.h) for a
 * database every process attaches, where every store is journaled.  Their
 * maps (db/slot_map.h) hold fixed-size keys and plain words only, so an
 * instance in a segment holds no address that differs between processes:
 * the tables and blocks it refers to sit in the segment, which every
 * process maps at the same address.
 */
#ifndef QELRT_DB_STATE_H
#define QELRT_DB_STATE_H

#include <pthread.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "db/slot_map.h"
#include "qel/rt_db.h"

namespace qelrt {

/* A process-shared, robust mutex that lives in a segment.  A holder that
 * died leaves it consistent again for the next locker: lock() answers 1
 * then (0 otherwise).  The data such a mutex guards in a segment changes
 * only under the database's write lock, whose journal repairs it. */
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

/* The guard both mutex kinds take (RobustMutex's answer is dropped). */
template <class M> struct Guard {
    explicit Guard(M &m) : m_(m) { m_.lock(); }
    ~Guard() { m_.unlock(); }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;
    M &m_;
};

/* A TOC entry's key: the type's luid and the table's name (by_name 1) or
 * id; zero-filled past what it holds, so whole-key bytes compare. */
struct TocKey {
    uint8_t luid[16];
    uint8_t by_name;
    uint8_t pad[7];
    uint64_t id;
    char name[208];
    bool operator==(const TocKey &o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
    uint64_t hash() const { return hash_bytes(this, sizeof *this); }
};

/* A table's address as a key. */
struct AddrKey {
    uint64_t a;
    bool operator==(const AddrKey &o) const { return a == o.a; }
    uint64_t hash() const { return hash_bytes(this, sizeof *this); }
};

/* A per-tenant counter's key: table, tenant, source (source 0 with all 1
 * in any: the sum over the sources). */
struct TenantKey {
    TenantKey(uintptr_t t, uint16_t te, uint8_t s, uint8_t any = 0)
        : table(t), tenant(te), source(s), all(any), pad{} {}
    uint64_t table;
    uint16_t tenant;
    uint8_t source;
    uint8_t all;
    uint8_t pad[4];
    bool operator==(const TenantKey &o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
    uint64_t hash() const { return hash_bytes(this, sizeof *this); }
};

/* A handle's database memory: table list, TOC and per-tenant counters,
 * over a memory policy (HeapMem, or SegMem in a segment: db/segment.h). */
template <class M> struct DbStateT {
    qeldb_table_list_t list{nullptr, nullptr};
    uint64_t has_list = 0;
    qeldb_toc_t toc{0, nullptr};
    uint64_t has_toc = 0;
    SlotMap<TocKey, void *, M> filed;
    SlotMap<AddrKey, TocKey, M> key_of;
    /* (table, tenant, source) and (table, tenant, any source) counts. */
    SlotMap<TenantKey, uint32_t, M> tenants;
};

/* A key of the key/range store: the text, at most 207 characters,
 * zero-filled. */
struct QuarlKey {
    char s[208];
    bool operator==(const QuarlKey &o) const { return std::memcmp(s, o.s, sizeof s) == 0; }
    uint64_t hash() const { return hash_bytes(s, sizeof s); }
};

constexpr uint32_t kQuarlMagic = 0x7175726cu;       /* a handle's own store */
constexpr uint32_t kQuarlSharedMagic = 0x71726c53u; /* a segment's store */

/* The key/range store's keys.  A store in a segment [lo, hi) answers
 * range membership by the segment's bounds, which hold every range it is
 * given, and keeps nothing per registration; a handle's own store keeps
 * its ranges too (QuarlDb, quarl.cpp). */
template <class M, class Mu> struct QuarlT {
    explicit QuarlT(uintptr_t lo_ = 0, uintptr_t hi_ = 0)
        : magic(lo_ ? kQuarlSharedMagic : kQuarlMagic), lo(lo_), hi(hi_) {}
    uint32_t magic;
    uintptr_t lo, hi; /* the segment's bounds; 0, 0 in the heap */
    mutable Mu mu;
    SlotMap<QuarlKey, void *, M> keys;

    bool in_segment() const { return lo != 0; }
};

} // namespace qelrt

#endif /* QELRT_DB_STATE_H */
