/*
 * db/segment.h -- a shared database's segment as this process sees it.
 *
 * Owns: the segment's header layout (kept at the segment's first byte),
 * the roots every attached process finds through it (type dictionary,
 * key/range store, database memory, statistics block), the process-local
 * record of an attached database (struct qelrt_db) and the look-ups the
 * rest of the runtime makes on attached segments: by address, and the
 * allocation and release of segment blocks.
 *
 * The allocator is Boost.Interprocess's rbtree_best_fit, run by a segment
 * manager that managed_external_buffer builds in the segment right after
 * the header.  Its locks are robust too (SegMutexFamily): a process killed
 * inside an allocation leaves the allocator to the next caller instead of
 * blocking every process.  Its free-block tree and the roots' containers link through
 * offset pointers or, equally valid here, through addresses inside the
 * segment; nothing in it refers to this library or to the process heap.
 */
#ifndef QELRT_SEGMENT_H
#define QELRT_SEGMENT_H

#include <boost/interprocess/allocators/allocator.hpp>
#include <boost/interprocess/indexes/iset_index.hpp>
#include <boost/interprocess/managed_external_buffer.hpp>
#include <boost/interprocess/mem_algo/rbtree_best_fit.hpp>
#include <atomic>
#include <string>

#include "db/db_state.h"
#include "qel/rt_shared.h"

namespace qelrt {

namespace bip = boost::interprocess;

/* The allocator's locks: process-shared and robust, plain and recursive. */
struct SegMutex {
    RobustMutex r;
    void lock() { r.lock(); }
    void unlock() { r.unlock(); }
    bool try_lock() {
        const int rc = pthread_mutex_trylock(&r.m);
        if (rc == EOWNERDEAD)
            pthread_mutex_consistent(&r.m);
        return rc == 0 || rc == EOWNERDEAD;
    }
};
struct SegRecursiveMutex : SegMutex {
    SegRecursiveMutex() {
        pthread_mutexattr_t a;
        pthread_mutexattr_init(&a);
        pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
        pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutex_destroy(&r.m);
        pthread_mutex_init(&r.m, &a);
        pthread_mutexattr_destroy(&a);
    }
};
struct SegMutexFamily {
    using mutex_type = SegMutex;
    using recursive_mutex_type = SegRecursiveMutex;
};
using SegBuffer =
    bip::basic_managed_external_buffer<char, bip::rbtree_best_fit<SegMutexFamily>, bip::iset_index>;
using SegManager = SegBuffer::segment_manager;
using SegAlloc = bip::allocator<char, SegManager>;

/* "QELSHMDB" read as a little-endian word. */
constexpr uint64_t kSegMagic = 0x42444d48534c4551ull;
/* The layout of everything in a segment: header, roots, the containers'
 * nodes, and the table layouts of the library this runtime serves.  Bump
 * it whenever any of them changes. */
constexpr uint32_t kLayoutVersion = 1;
constexpr size_t kHeaderSize = 4096; /* the allocator starts here */

using SharedDbState = DbStateT<SegAlloc>;
using SharedQuarl = QuarlT<SegAlloc, RobustMutex>;

/* A registered type-info copy's key: its 32-digit signature. */
struct SigKey {
    char s[33];
    bool operator<(const SigKey &o) const { return std::memcmp(s, o.s, sizeof s) < 0; }
};

/* What every process finds through the header. */
struct SegRoots {
    explicit SegRoots(const SegAlloc &a, uintptr_t lo, uintptr_t hi)
        : dict(a), quarl(a, lo, hi), db(a) {}
    RobustMutex dict_mu; /* the dictionary: registration may run on readers */
    MapOf<SegAlloc, SigKey, void *> dict;
    SharedQuarl quarl;
    SharedDbState db;
    qel_db_stats_t stats{};
};

struct SegHeader {
    uint64_t magic;
    uint32_t version;
    uint32_t header_size;
    uint64_t size;       /* bytes of the segment, header included */
    uint64_t base;       /* the address every process maps it at */
    uint32_t uid;        /* the creator's effective user */
    uint32_t mode;       /* permission bits given at creation */
    uint32_t dbid;       /* the database id handles are given */
    uint32_t ready;      /* 1 once creation has finished */
    uint64_t roots;      /* address of the SegRoots */
    RobustMutex lock;    /* the database's write lock */
};
static_assert(sizeof(SegHeader) <= kHeaderSize, "the header fits its page");

} // namespace qelrt

/* The process-local record of an attached database. */
struct qelrt_db {
    qelrt::SegHeader *hdr = nullptr;
    qelrt::SegBuffer mb;
    qelrt::SegRoots *roots = nullptr;
    uintptr_t lo = 0, hi = 0;
    int fd = -1;
    /* The thread of this process holding the write lock, 0 when none. */
    std::atomic<unsigned long> holder{0};
};

namespace qelrt {

/* The attached database whose segment holds addr, or null.  Takes no lock:
 * a small fixed array of attached databases, read with acquire loads. */
qelrt_db *shared_db_at(const void *addr);
/* True once this process has a database attached. */
bool shared_any_attached();
/* A block of the segment (null when it is full); release by address. */
void *shared_alloc_block(qelrt_db *db, size_t size);
void shared_free_block(qelrt_db *db, void *p);
/* Does the calling thread hold db's write lock? */
bool shared_lock_held(const qelrt_db *db);

/* Set by quarl_get_key when a bound handle's store misses an id-keyed
 * table root ("__qel_TBI__" key) while this thread holds the write lock:
 * the next 32-byte allocation with no database id on a handle bound to
 * that database is the root, and goes to the segment. */
extern thread_local qelrt_db *t_root_pending;

/* The variant records of a registered copy made through a handle bound to
 * a database: allocated in the segment.  False when the segment is full. */
bool shared_variant_info(qel_handle_t *h, qel_type_info_t *copy,
                         const qel_type_info_t *static_ti);

} // namespace qelrt

#endif /* QELRT_SEGMENT_H */
