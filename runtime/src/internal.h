/*
 * internal.h -- what the runtime's rooms share and nothing else sees.
 *
 * Owns the declarations of: the process-wide logging and allocation-watch
 * flags (read with one relaxed load on the hot paths), the call and write
 * logs, the knob state and the allocation accounting.  Each room of the
 * runtime (handle/, text/, messages/, db/) has its own header for what
 * only it and its neighbours use; this header brings them all in, so a
 * source file that includes it sees the whole private interface.
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

/* ---- trace (trace.cpp) ----------------------------------------------- */

void trace_reset();

} // namespace qelrt

#include "db/db_internal.h"
#include "handle/handle_internal.h"
#include "messages/messages_internal.h"

#endif /* QELRT_INTERNAL_H */
