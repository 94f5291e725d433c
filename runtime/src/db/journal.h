/*
 * db/journal.h -- the undo journal and the block allocator of a shared
 * database's segment.
 *
 * Owns: the layouts of the journal (its root in the segment's header, its
 * chained blocks, its entries, the small log a commit's releases run under)
 * and of the allocator's root; the calls the rest of the runtime makes to
 * note a store before it is made (jnote, jset), to begin, commit and roll
 * back a change, and to allocate and release segment blocks.
 *
 * While a thread holds a database's write lock, every store into the
 * segment is noted first: the old bytes of the range go to the journal.
 * Releases are deferred to the commit, so that a block freed and made again
 * by the same change never has its old bytes overwritten unseen, and
 * rollback has nothing to release: the allocator's own stores are
 * journaled like any other, so restoring the old bytes also takes back the
 * blocks the interrupted change had allocated.  An entry becomes part of
 * the journal with one aligned 8-byte store (its block's used count), so a
 * process killed at any instant leaves a journal whose entries are whole.
 *
 * Commit: with no deferred release, clearing the first block's used count
 * ends it.  Otherwise the journal's phase turns to "committing" (from then
 * on the change stays), and each deferred release runs as its own small
 * change under the mini log of the journal root, marking its entry done in
 * the same small change; a process killed there leaves a phase that the
 * next locker finishes instead of rolling back.
 */
#ifndef QELRT_JOURNAL_H
#define QELRT_JOURNAL_H

#include <cstddef>
#include <cstdint>

struct qelrt_db;

namespace qelrt {

/* ---- journal layout ---------------------------------------------------- */

enum : uint32_t {
    kJStore = 1, /* old bytes of a range: restored on rollback */
    kJFree = 2,  /* a release deferred to the commit */
    kJDone = 3,  /* a deferred release the commit has made */
};

/* An entry is its payload (the old bytes, padded to 8) followed by this
 * trailer, so the journal is read newest first from its used count. */
struct JTrailer {
    uint64_t addr;
    uint32_t len;
    uint32_t kind;
};

struct JBlock {
    uint64_t prev;      /* the older block, 0 for the first */
    uint64_t cap;       /* bytes of data */
    uint64_t used;      /* bytes of whole entries in data */
    uint64_t spare;
    /* data follows */
    uint8_t *data() { return reinterpret_cast<uint8_t *>(this + 1); }
};

/* The mini log of one commit-time release: a handful of words. */
struct MiniEntry {
    uint64_t addr;
    uint64_t old;
    uint32_t len;
    uint32_t spare;
};
constexpr int kMiniCap = 16;

struct JournalRoot {
    uint64_t first;     /* the first block, made with the segment, kept */
    uint64_t last;      /* the newest block */
    uint32_t phase;     /* 0: open (rolled back); 1: committing (finished) */
    uint32_t mini_n;    /* entries of the mini log in force */
    MiniEntry mini[kMiniCap];
};

/* ---- allocator layout -------------------------------------------------- */

/* Size classes: 16-byte steps to 512 bytes, then four per power of two. */
constexpr int kClasses = 168;

struct AllocRoot {
    uint64_t start;       /* first byte the allocator hands out */
    uint64_t bump;        /* fresh space begins here ... */
    uint64_t end;         /* ... and ends here */
    uint64_t free_bytes;  /* bytes of the blocks on the free lists */
    uint64_t live_blocks;
    uint64_t free_head[kClasses];
};

/* Every block starts with this header; the caller's bytes follow it. */
struct BlockHead {
    uint32_t cls;
    uint32_t magic;       /* kLive or kFreed */
    uint64_t spare;
};
constexpr uint32_t kBlockLive = 0x4b4c4221u;
constexpr uint32_t kBlockFreed = 0x45455246u;

/* ---- calls ------------------------------------------------------------- */

/* The database whose change the calling thread is journaling, or null. */
extern __attribute__((tls_model("initial-exec"))) thread_local qelrt_db *t_txn;

/* Notes [addr, addr+len) before a store when the calling thread journals a
 * change of the database holding it; anything else is left alone. */
void jnote_slow(qelrt_db *db, const void *addr, size_t len);
inline void jnote(const void *addr, size_t len) {
    if (__builtin_expect(t_txn != nullptr, 0))
        jnote_slow(t_txn, addr, len);
}
/* Notes and stores one value. */
template <class T> inline void jset(T *dst, T v) {
    jnote(dst, sizeof(T));
    *dst = v;
}

/* Sets up an empty journal and allocator in a new segment whose header is
 * at base; false when the segment cannot hold the journal's first block. */
bool journal_format(qelrt_db *db);
/* Starts journaling the calling thread's change (lock taken). */
void journal_begin(qelrt_db *db);
/* Makes the change stay: deferred releases made, journal cleared. */
void journal_commit(qelrt_db *db);
/* Undoes (or, when its commit had begun, finishes) what a dead holder
 * left; the caller holds the lock and journals nothing. */
void journal_recover(qelrt_db *db);
/* Entries in the journal (0 and false when nothing is pending). */
bool journal_pending(const qelrt_db *db, uint64_t *entries);

/* Allocation and release in the segment (caller holds the write lock). */
void *seg_alloc(qelrt_db *db, size_t size);
/* Released now when nothing is journaled, else at the commit. */
void seg_release(qelrt_db *db, void *p);
/* Bytes the allocator can still hand out. */
uint64_t seg_free_bytes(const qelrt_db *db);
/* The size of a live block's class, header included (0 for anything else). */
uint64_t seg_block_size(const qelrt_db *db, const void *p);

} // namespace qelrt

#endif /* QELRT_JOURNAL_H */
