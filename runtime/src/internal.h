/*
 * internal.h -- what the runtime's source files share and nothing else sees.
 *
 * Owns the declarations of: the process-wide logging and allocation-watch
 * flags (read with one relaxed load on the hot paths), the call and write
 * logs, the knob state, the private part of a handle, the allocators, and
 * the key/range database object.
 */
#ifndef QELRT_INTERNAL_H
#define QELRT_INTERNAL_H

#include <atomic>
#include <memory>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qel/rt_control.h"

#define RT_LIKELY(x) __builtin_expect(!!(x), 1)
#define RT_UNLIKELY(x) __builtin_expect(!!(x), 0)

namespace qelrt {

/* ---- logging (observe.cpp) ------------------------------------------ */

/* On while the call log is on. */
extern std::atomic<bool> g_logging;
/* On while logging is on or an allocation fail knob is armed: the pooling
 * allocator only counts and consults knobs while this is set. */
extern std::atomic<bool> g_watch;
/* On while logging is off and the variant knobs are at their defaults:
 * the calls made per element (variant lookups, error clearing) then answer
 * in a few instructions and take their general path only otherwise. */
extern std::atomic<bool> g_plain;
/* g_plain, and no statistics knob armed: every handle made by
 * qelrt_handle_new then carries QEL_RTF_QUIET (qel/rt_inline.h), which
 * quiet_follow puts on or takes off the live handles when this changes. */
extern std::atomic<bool> g_quiet;
void quiet_follow();

__attribute__((cold)) void log_call_slow(const char *fn, uint64_t a, uint64_t b,
                                        uint64_t c, uint64_t d);
void log_write_slow(void *addr, uint32_t len, uint32_t dbid, void *owner);

/* Puts the observing write and statistics hooks on every live handle made
 * by qelrt_handle_new while logging is on, and takes them off (null, so the
 * library skips the call) while it is off.  Called whenever g_logging
 * changes. */
void hooks_follow_logging();

inline uint64_t w(const void *p) { return (uint64_t)(uintptr_t)p; }
inline uint64_t w(uint64_t v) { return v; }

inline void logc(const char *fn, uint64_t a = 0, uint64_t b = 0,
                 uint64_t c = 0, uint64_t d = 0) {
    if (RT_UNLIKELY(g_logging.load(std::memory_order_relaxed)))
        log_call_slow(fn, a, b, c, d);
}

/* ---- knobs (observe.cpp) --------------------------------------------- */

struct Knobs {
    std::atomic<uint64_t> alloc_attempts{0};
    std::atomic<uint64_t> fail_alloc_at{0};   /* absolute attempt number */
    std::atomic<uint64_t> fail_alloc_from{0}; /* absolute attempt number */
    std::atomic<uint64_t> type_alloc_attempts{0};
    std::atomic<uint64_t> fail_type_alloc_at{0};
    std::atomic<uint64_t> quarl_attempts{0};
    std::atomic<uint64_t> quarl_fail_at{0};
    std::atomic<int> domain_variant{0};
    std::atomic<uint32_t> domain_variant_error{0};
    std::atomic<int> force_variant_on{0};
    std::atomic<int> force_variant_value{0};
    std::atomic<int> oid_answer{1};
    std::atomic<uint32_t> oid_error{0};
    std::atomic<uint32_t> hd_answer{0};
    std::atomic<uint8_t *> sttr_place{nullptr};
    std::atomic<uint32_t> stats_create_error{0};
    std::atomic<uint32_t> callsite_tag{0};
    /* Types the domain refuses, by name. */
    std::mutex refuse_mu;
    std::vector<std::string> refused;
    std::atomic<int> any_refused{0};
};
extern Knobs g_knobs;

/* Counts one attempt and says whether it is to fail. */
bool alloc_should_fail();
bool type_alloc_should_fail();
bool quarl_should_fail();
bool domain_refuses(const char *name);

/* ---- allocation accounting (observe.cpp) ----------------------------- */

extern std::atomic<uint64_t> g_alloc_count;
extern std::atomic<uint64_t> g_free_count;
extern std::atomic<int64_t> g_live_bytes;
extern std::atomic<uint64_t> g_type_alloc_count;
/* Bumped by qelrt_reset: blocks from an earlier epoch leave live bytes
 * alone when freed, so live bytes never go negative across a reset. */
extern std::atomic<uint32_t> g_epoch;

/* ---- allocators (handle.cpp, pool.cpp) ------------------------------- */

/* Header-carrying malloc blocks; counted says whether the block takes
 * part in the alloc/free/live-bytes accounting. */
void *hdr_alloc(uint32_t size, bool counted);
void hdr_free(void *p);

void *default_alloc(void *alloc_ctx, uint32_t dbid, uint32_t size);
void *pool_alloc(void *alloc_ctx, uint32_t dbid, uint32_t size);
/* Frees a block of either allocator: pool blocks are told apart by
 * address, so a handle may switch allocators while objects are live. */
void any_free(void *alloc_ctx, uint32_t dbid, void *mem);

/* ---- key/range database (quarl.cpp) ---------------------------------- */

struct QuarlDb;
QuarlDb *quarl_db_new();
/* Deletes the database; the blocks stored under "__qel_TBI__" keys are
 * released through h's free function. */
void quarl_db_delete(QuarlDb *db, qel_handle_t *h);
uint32_t quarl_db_range_count(const QuarlDb *db);

/* ---- message services (messages.cpp) --------------------------------- */

void msg_knobs_reset();

/* ---- trace (trace.cpp) ----------------------------------------------- */

void trace_reset();

/* ---- state-area places (db_reports.cpp) ------------------------------- */

/* The places registered with qellib_update_sttr_offset: object address ->
 * distance from it to its state bytes.  Entries are added or changed,
 * never removed, so a lookup takes no lock: an open-addressing table whose
 * slots get their value before their key, and which is replaced (never
 * reshaped in place) when it grows.  Replaced tables stay until the handle
 * goes, for lookups still running in them.  Changes take the lock; a change
 * to the distance already registered is only a lookup. */
class SttrPlaces {
public:
    SttrPlaces() = default;
    SttrPlaces(const SttrPlaces &) = delete;
    SttrPlaces &operator=(const SttrPlaces &) = delete;
    ~SttrPlaces();

    /* The distance registered for obj (not null); false when none is. */
    bool find(const void *obj, uint32_t *distance) const;
    void set(const void *obj, uint32_t distance);

private:
    struct Slot {
        std::atomic<uintptr_t> key{0}; /* 0: empty */
        std::atomic<uint32_t> value{0};
    };
    struct Table {
        uint32_t shift; /* 64 - log2(slot count) */
        size_t mask;
        size_t used;
        Slot *slots;
    };
    static size_t home(const Table *t, uintptr_t key) {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> t->shift);
    }
    Table *grow(Table *old);

    std::atomic<Table *> table_{nullptr};
    std::mutex mu_;
    std::vector<Table *> retired_;
};

/* ---- database memory (db_toc.cpp) ------------------------------------ */

struct DbState;
struct DbStateFree {
    void operator()(DbState *d) const;
};

/* ---- the private part of a handle (handle.cpp) ----------------------- */

struct HandlePrivate {
    qel_check_record_t check{};
    std::mutex mu; /* dictionary and type allocations */
    /* Looked up by the caller's signature text as is: no key is built.
     * Signatures are short (32 hex digits), so the hash takes eight bytes
     * at a time. */
    struct SigHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            uint64_t x = 0x9E3779B97F4A7C15ull ^ s.size();
            size_t i = 0;
            for (; i + 8 <= s.size(); i += 8) {
                uint64_t w;
                std::memcpy(&w, s.data() + i, 8);
                x = (x ^ w) * 0xff51afd7ed558ccdull;
                x ^= x >> 32;
            }
            uint64_t w = 0;
            std::memcpy(&w, s.data() + i, s.size() - i);
            x = (x ^ w) * 0xc4ceb9fe1a85ec53ull;
            return static_cast<size_t>(x ^ (x >> 29));
        }
    };
    std::unordered_map<std::string, void *, SigHash, std::equal_to<>> dict;
    std::vector<void *> type_allocs;
    std::vector<void *> variant_allocs; /* per-copy variant infos */
    uint8_t *ws = nullptr;
    uint32_t ws_len = 0;
    QuarlDb *quarl = nullptr;
    qel_db_stats_t db_stats{};
    SttrPlaces sttr;
    /* The hooks the runtime last put on the handle; a hook the caller
     * replaced since is left alone when logging changes. */
    qel_write_hook_fn hook_set = nullptr;
    qel_stats_inc_fn stats_set = nullptr;
    size_t live_index = 0; /* place in the live-handle list */
    /* The handle's database memory, made by the first database call. */
    std::unique_ptr<DbState, DbStateFree> db;
};

inline HandlePrivate *priv(const qel_handle_t *h) {
    return static_cast<HandlePrivate *>(h->rt_private);
}

} // namespace qelrt

#endif /* QELRT_INTERNAL_H */
