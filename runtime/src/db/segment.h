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
 * The allocator is the runtime's own (db/journal.h, seg_alloc.cpp): size
 * classes with a free list each and a bump pointer over the fresh space,
 * every store into its metadata journaled like any other store of a
 * change.  The segment first used a well-kept library's allocator and
 * ordered maps; once a process killed at any instant had to leave the
 * segment whole, they did not fit: their stores into their own free-block
 * trees and map nodes are invisible to the journal, so a process killed
 * inside an allocation or a map insert left a structure half relinked that
 * no rollback could repair, and a robust lock around them only hands the
 * broken structure to the next caller.  The maps are open-addressing
 * tables whose slot stores are journaled (db/slot_map.h).
 */
#ifndef QELRT_SEGMENT_H
#define QELRT_SEGMENT_H

#include <atomic>
#include <string>

#include "db/db_state.h"
#include "db/journal.h"
#include "qel/rt_shared.h"

namespace qelrt {

/* "QELSHMDB" read as a little-endian word. */
constexpr uint64_t kSegMagic = 0x42444d48534c4551ull;
/* The layout of everything in a segment: header, roots, the containers'
 * nodes, and the table layouts of the library this runtime serves.  Bump
 * it whenever any of them changes. */
constexpr uint32_t kLayoutVersion = 2;
constexpr size_t kHeaderSize = 4096; /* the allocator starts here */

/* A segment: blocks from its allocator, releases deferred while a change
 * is journaled, stores noted before they are made. */
struct SegMem {
    static constexpr bool kShared = true;
    static void *alloc(const void *self, size_t n);
    static void release(const void *self, void *p);
    static void note(const void *addr, size_t n) { jnote(addr, n); }
};

using SharedDbState = DbStateT<SegMem>;
using SharedQuarl = QuarlT<SegMem, RobustMutex>;

/* A registered type-info copy's key: its 32-digit signature. */
struct SigKey {
    char s[33];
    bool operator==(const SigKey &o) const { return std::memcmp(s, o.s, sizeof s) == 0; }
    uint64_t hash() const { return hash_bytes(s, sizeof s); }
};

/* What every process finds through the header. */
struct SegRoots {
    SegRoots(uintptr_t lo, uintptr_t hi) : quarl(lo, hi) {}
    RobustMutex dict_mu; /* the dictionary: registration may run on readers */
    SlotMap<SigKey, void *, SegMem> dict;
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
    JournalRoot journal;
    AllocRoot alloc;
};
static_assert(sizeof(SegHeader) <= kHeaderSize, "the header fits its page");

} // namespace qelrt

/* The process-local record of an attached database. */
struct qelrt_db {
    qelrt::SegHeader *hdr = nullptr;
    qelrt::SegRoots *roots = nullptr;
    uintptr_t lo = 0, hi = 0;
    int fd = -1;
    /* The thread of this process holding the write lock, 0 when none. */
    std::atomic<unsigned long> holder{0};
    /* Touched by the lock's holder only.  jlog: where the allocator's and
     * the maps' stores are noted (0 nowhere, 1 the journal, 2 the mini log
     * of a commit-time release); journal_on: qelrt_db_set_journal;
     * jchain: a journal block is being chained (it may use the reserve);
     * deferred: releases waiting for the commit. */
    int jlog = 0;
    bool journal_on = true;
    bool jchain = false;
    uint64_t deferred = 0;
};

namespace qelrt {

/* The attached database whose segment holds addr, or null.  Takes no lock:
 * a small fixed array of attached databases, read with acquire loads. */
qelrt_db *shared_db_at(const void *addr);
/* True once this process has a database attached. */
bool shared_any_attached();
/* A block of the segment (null when it is full); release by address.
 * Either takes the write lock for its own change when the calling thread
 * does not hold it. */
void *shared_alloc_block(qelrt_db *db, size_t size);
void shared_free_block(qelrt_db *db, void *p);
/* Does the calling thread hold db's write lock? */
bool shared_lock_held(const qelrt_db *db);

/* Holds db's write lock for its scope unless the calling thread holds it
 * already: a change made outside the caller's lock is its own change. */
class LockScope {
public:
    explicit LockScope(qelrt_db *db);
    ~LockScope();
    LockScope(const LockScope &) = delete;
    LockScope &operator=(const LockScope &) = delete;

private:
    qelrt_db *db_;
    bool own_;
};

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
