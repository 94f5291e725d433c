/*
 * db/journal.cpp -- the undo journal of a shared database and the
 * segment's block allocator.
 *
 * Owns: appending entries (jnote_slow, the allocator's notes), chaining
 * further journal blocks, commit and its deferred releases, rollback and
 * the finishing of a commit a dead holder left, the allocator (size
 * classes, free lists, bump pointer), and the knob that makes a process
 * die just before its k-th journaled store (qelrt_db_die_at_store).
 * The layouts and the reasoning are in db/journal.h.
 */
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "db/segment.h"
#include "internal.h"
#include "qel/rt_control_db.h"

namespace qelrt {

__attribute__((tls_model("initial-exec"))) thread_local qelrt_db *t_txn = nullptr;

namespace {

/* The first block is made with the segment and kept; further blocks are
 * chained while a change outgrows it and released by its commit. */
constexpr size_t kFirstBlock = 32u << 10;
constexpr size_t kNextBlock = 16u << 10;
/* What chaining a block journals in the block it leaves: the allocator's
 * notes of one allocation, the release entry and the link. */
constexpr size_t kChainReserve = 512;
/* Fresh space that only journal blocks may take. */
constexpr uint64_t kJournalReserve = 64u << 10;
/* Larger ranges are noted as several entries. */
constexpr uint32_t kMaxEntry = 4096;

std::atomic<uint64_t> g_die_at{0};
std::atomic<uint64_t> g_stores{0};

inline void count_store() {
    if (__builtin_expect(g_die_at.load(std::memory_order_relaxed) != 0, 0) &&
        g_stores.fetch_add(1, std::memory_order_relaxed) + 1 ==
            g_die_at.load(std::memory_order_relaxed))
        _exit(77);
}

inline JournalRoot &jr(const qelrt_db *db) { return db->hdr->journal; }
inline AllocRoot &ar(const qelrt_db *db) { return db->hdr->alloc; }
inline JBlock *blk(uint64_t a) { return reinterpret_cast<JBlock *>(a); }
inline size_t pad8(size_t n) { return (n + 7) & ~size_t(7); }

void chain(qelrt_db *db, size_t need);

/* Appends one entry to the journal's newest block; the entry counts once
 * its block's used count covers it. */
void append(qelrt_db *db, uint64_t addr, const void *old, uint32_t len, uint32_t kind) {
    count_store();
    const size_t size = pad8(len) + sizeof(JTrailer);
    JBlock *b = blk(jr(db).last);
    if (b->used + size + (db->jchain ? 0 : kChainReserve) > b->cap) {
        chain(db, size);
        b = blk(jr(db).last);
    }
    uint8_t *at = b->data() + b->used;
    switch (len) { /* the common widths without a call */
    case 0: break;
    case 4: std::memcpy(at, old, 4); break;
    case 8: std::memcpy(at, old, 8); break;
    default: std::memcpy(at, old, len);
    }
    JTrailer t{addr, len, kind};
    std::memcpy(at + pad8(len), &t, sizeof t);
    __atomic_store_n(&b->used, b->used + size, __ATOMIC_RELEASE);
}

/* A small store noted in the mini log of a commit-time release. */
void mini_note(qelrt_db *db, const void *addr, size_t len) {
    count_store();
    JournalRoot &j = jr(db);
    if (j.mini_n >= kMiniCap || len > 8) {
        std::fprintf(stderr, "qelrt: journal: a release outgrew its log\n");
        std::abort();
    }
    MiniEntry &e = j.mini[j.mini_n];
    e.addr = reinterpret_cast<uint64_t>(addr);
    e.len = static_cast<uint32_t>(len);
    e.old = 0;
    std::memcpy(&e.old, addr, len);
    __atomic_store_n(&j.mini_n, j.mini_n + 1, __ATOMIC_RELEASE);
}

/* Notes a store of the allocator, the journal's links or a commit. */
inline void note(qelrt_db *db, const void *addr, size_t len) {
    if (db->jlog == 1)
        append(db, reinterpret_cast<uint64_t>(addr), addr, static_cast<uint32_t>(len), kJStore);
    else if (db->jlog == 2)
        mini_note(db, addr, len);
}
template <class T> inline void put(qelrt_db *db, T *dst, T v) {
    note(db, dst, sizeof(T));
    *dst = v;
}

/* Room in the newest block for the notes of one allocation or release, so
 * that none of them chains a block (an allocation) in the middle of the
 * allocator's own update. */
constexpr size_t kAllocNotes = 256;
inline void ensure_room(qelrt_db *db) {
    if (db->jlog != 1 || db->jchain)
        return;
    const JBlock *b = blk(jr(db).last);
    if (b->used + kAllocNotes + kChainReserve > b->cap)
        chain(db, kAllocNotes);
}

/* ---- allocator ----------------------------------------------------------- */

inline int class_of(uint64_t n) {
    if (n <= 512)
        return static_cast<int>((n + 15) / 16) - 1;
    const int e = 63 - __builtin_clzll(n - 1);
    return 32 + (e - 9) * 4 + static_cast<int>(((n - 1) >> (e - 2)) & 3);
}
inline uint64_t class_size(int c) {
    if (c < 32)
        return uint64_t(c + 1) * 16;
    const int e = (c - 32) / 4 + 9, s = (c - 32) % 4;
    return uint64_t(4 + s + 1) << (e - 2);
}

inline BlockHead *head_of(const void *p) {
    return reinterpret_cast<BlockHead *>(const_cast<uint8_t *>(static_cast<const uint8_t *>(p)) -
                                         sizeof(BlockHead));
}

void *alloc(qelrt_db *db, size_t size, bool reserve_ok) {
    const uint64_t total = uint64_t(size ? size : 1) + sizeof(BlockHead);
    const int c = class_of(total);
    if (c >= kClasses)
        return nullptr;
    const uint64_t sz = class_size(c);
    ensure_room(db);
    AllocRoot &a = ar(db);
    BlockHead *b;
    if (uint64_t f = a.free_head[c]) {
        b = reinterpret_cast<BlockHead *>(f);
        auto *link = reinterpret_cast<uint64_t *>(b + 1);
        put(db, &a.free_head[c], *link);
        note(db, link, sizeof *link); /* the caller overwrites it unseen */
        put(db, &b->magic, kBlockLive);
        put(db, &a.free_bytes, a.free_bytes - sz);
    } else {
        if (a.end - a.bump < sz + (reserve_ok ? 0 : kJournalReserve))
            return nullptr;
        b = reinterpret_cast<BlockHead *>(a.bump);
        put(db, &a.bump, a.bump + sz);
        b->cls = static_cast<uint32_t>(c); /* fresh space: nothing to note */
        b->magic = kBlockLive;
        b->spare = 0;
    }
    put(db, &a.live_blocks, a.live_blocks + 1);
    return b + 1;
}

void release_now(qelrt_db *db, void *p) {
    BlockHead *b = head_of(p);
    AllocRoot &a = ar(db);
    if (reinterpret_cast<uint64_t>(b) < a.start || reinterpret_cast<uint64_t>(p) >= a.bump ||
        b->magic != kBlockLive || b->cls >= kClasses) {
        std::fprintf(stderr, "qelrt: segment release of %p: not a live block (ignored)\n", p);
        return;
    }
    ensure_room(db);
    auto *link = static_cast<uint64_t *>(p);
    put(db, link, a.free_head[b->cls]);
    put(db, &b->magic, kBlockFreed);
    put(db, &a.free_head[b->cls], reinterpret_cast<uint64_t>(b));
    put(db, &a.free_bytes, a.free_bytes + class_size(static_cast<int>(b->cls)));
    put(db, &a.live_blocks, a.live_blocks - 1);
}

/* ---- journal blocks ------------------------------------------------------ */

/* Links a further block after the newest one.  Its allocation is noted in
 * the block it leaves (whose reserve holds the notes), so a rollback takes
 * it back with everything else; its release is deferred to the commit. */
void chain(qelrt_db *db, size_t need) {
    JournalRoot &j = jr(db);
    const size_t cap = need + kChainReserve > kNextBlock ? need + kChainReserve : kNextBlock;
    db->jchain = true;
    auto *nb = static_cast<JBlock *>(alloc(db, sizeof(JBlock) + cap, true));
    if (!nb) {
        std::fprintf(stderr, "qelrt: journal: the segment has no room for the journal of "
                             "this change; the process stops so the change can be undone\n");
        std::abort();
    }
    nb->prev = j.last;
    nb->cap = cap;
    nb->used = 0;
    nb->spare = 0;
    append(db, reinterpret_cast<uint64_t>(nb), nullptr, 0, kJFree);
    ++db->deferred;
    put(db, &j.last, reinterpret_cast<uint64_t>(nb));
    db->jchain = false;
}

/* Calls f(trailer, payload) for every entry of b, newest first. */
template <class F> void each_entry(JBlock *b, F &&f) {
    uint64_t at = b->used;
    while (at >= sizeof(JTrailer)) {
        auto *t = reinterpret_cast<JTrailer *>(b->data() + at - sizeof(JTrailer));
        const uint64_t size = pad8(t->len) + sizeof(JTrailer);
        if (size > at)
            break; /* cannot happen with whole entries */
        at -= size;
        f(t, b->data() + at);
    }
}

void mini_undo(qelrt_db *db) {
    JournalRoot &j = jr(db);
    for (uint32_t i = j.mini_n; i-- > 0;)
        std::memcpy(reinterpret_cast<void *>(j.mini[i].addr), &j.mini[i].old, j.mini[i].len);
    __atomic_store_n(&j.mini_n, 0u, __ATOMIC_RELEASE);
}

/* Makes every deferred release not yet made, each a small change of its
 * own under the mini log, then clears the journal. */
void finish_commit(qelrt_db *db) {
    JournalRoot &j = jr(db);
    db->jlog = 2;
    for (JBlock *b = blk(j.last); b;) {
        JBlock *prev = blk(b->prev);
        each_entry(b, [&](JTrailer *t, uint8_t *) {
            if (t->kind != kJFree)
                return;
            /* A chained journal block leaves the chain as it is released;
             * its link is read before the release reuses the word. */
            const uint64_t addr = t->addr;
            const bool newest = addr == j.last;
            const uint64_t older = newest ? blk(addr)->prev : 0;
            release_now(db, reinterpret_cast<void *>(addr));
            put(db, &t->kind, uint32_t(kJDone));
            if (newest)
                put(db, &j.last, older);
            count_store();
            __atomic_store_n(&j.mini_n, 0u, __ATOMIC_RELEASE);
        });
        b = prev;
    }
    db->jlog = 0;
    blk(j.first)->used = 0;
    j.last = j.first;
    __atomic_store_n(&j.phase, 0u, __ATOMIC_RELEASE);
}

} // namespace

/* ---- the calls ------------------------------------------------------------- */

void jnote_slow(qelrt_db *db, const void *addr, size_t len) {
    const auto a = reinterpret_cast<uint64_t>(addr);
    if (a < db->lo || a >= db->hi || len > db->hi - a || db->jlog != 1)
        return;
    if (RT_LIKELY(len <= kMaxEntry)) {
        append(db, a, addr, static_cast<uint32_t>(len), kJStore);
        return;
    }
    for (size_t done = 0; done < len; done += kMaxEntry) {
        const uint32_t n = static_cast<uint32_t>(len - done < kMaxEntry ? len - done : kMaxEntry);
        append(db, a + done, static_cast<const uint8_t *>(addr) + done, n, kJStore);
    }
}

bool journal_format(qelrt_db *db) {
    AllocRoot &a = ar(db);
    a = AllocRoot{};
    a.start = db->lo + kHeaderSize;
    a.bump = a.start;
    a.end = db->hi;
    db->jlog = 0;
    auto *b = static_cast<JBlock *>(alloc(db, sizeof(JBlock) + kFirstBlock, true));
    if (!b)
        return false;
    b->prev = 0;
    b->cap = kFirstBlock;
    b->used = 0;
    b->spare = 0;
    JournalRoot &j = jr(db);
    j = JournalRoot{};
    j.first = j.last = reinterpret_cast<uint64_t>(b);
    return true;
}

void journal_begin(qelrt_db *db) {
    db->deferred = 0;
    db->jlog = db->journal_on ? 1 : 0;
    t_txn = db->journal_on ? db : nullptr;
}

void journal_commit(qelrt_db *db) {
    if (t_txn == db)
        t_txn = nullptr;
    const bool journaled = db->jlog == 1;
    db->jlog = 0;
    if (!journaled)
        return;
    JournalRoot &j = jr(db);
    if (db->deferred == 0) {
        count_store();
        __atomic_store_n(&blk(j.first)->used, uint64_t(0), __ATOMIC_RELEASE);
        return;
    }
    count_store();
    __atomic_store_n(&j.phase, 1u, __ATOMIC_RELEASE); /* from here on the change stays */
    finish_commit(db);
    db->deferred = 0;
}

void journal_recover(qelrt_db *db) {
    if (t_txn == db)
        t_txn = nullptr;
    db->jlog = 0;
    JournalRoot &j = jr(db);
    if (j.phase == 1) {
        mini_undo(db);
        finish_commit(db);
        return;
    }
    for (JBlock *b = blk(j.last); b;) {
        JBlock *prev = blk(b->prev);
        each_entry(b, [&](JTrailer *t, uint8_t *old) {
            if (t->kind == kJStore)
                std::memcpy(reinterpret_cast<void *>(t->addr), old, t->len);
        });
        b = prev;
    }
    j.last = j.first;
    __atomic_store_n(&blk(j.first)->used, uint64_t(0), __ATOMIC_RELEASE);
    j.mini_n = 0;
}

bool journal_pending(const qelrt_db *db, uint64_t *entries) {
    const JournalRoot &j = jr(db);
    uint64_t n = 0;
    if (j.phase != 0) {
        /* A commit under way: a chained block may be half released (its
         * link is whole again only once the mini log is undone), so the
         * chain is not walked; its entries are not counted. */
        if (entries)
            *entries = 0;
        return true;
    }
    for (JBlock *b = blk(j.last); b; b = blk(b->prev))
        each_entry(b, [&](JTrailer *, uint8_t *) { ++n; });
    if (entries)
        *entries = n;
    return n != 0 || j.phase != 0 || j.last != j.first;
}

void *seg_alloc(qelrt_db *db, size_t size) { return alloc(db, size, false); }

void seg_release(qelrt_db *db, void *p) {
    if (!p)
        return;
    if (db->jlog == 1) {
        append(db, reinterpret_cast<uint64_t>(p), nullptr, 0, kJFree);
        ++db->deferred;
        return;
    }
    release_now(db, p);
}

uint64_t seg_free_bytes(const qelrt_db *db) {
    const AllocRoot &a = ar(db);
    const uint64_t fresh = a.end - a.bump;
    return (fresh > kJournalReserve ? fresh - kJournalReserve : 0) + a.free_bytes;
}

uint64_t seg_block_size(const qelrt_db *db, const void *p) {
    const AllocRoot &a = ar(db);
    const auto x = reinterpret_cast<uint64_t>(p);
    if (x < a.start + sizeof(BlockHead) || x >= a.bump)
        return 0;
    const BlockHead *b = head_of(p);
    return b->magic == kBlockLive && b->cls < kClasses ? class_size(static_cast<int>(b->cls)) : 0;
}

} // namespace qelrt

extern "C" void qelrt_db_die_at_store(uint64_t k) {
    qelrt::g_stores.store(0);
    qelrt::g_die_at.store(k);
}
