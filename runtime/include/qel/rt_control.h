/*
 * qel/rt_control.h -- steering and observing the runtime, for tests.
 *
 * The knobs below change what the runtime answers (failing allocations,
 * refusing types, forcing variants); the observations record what a domain
 * library asked of it (trace points, runtime calls, allocation counts).
 * Programs do not need them: handles are made with qel/rt_handle.h, which
 * this header includes.  Everything here is process-wide and guarded by
 * one lock, so several threads may create and destroy objects while
 * capture is on.
 */
#ifndef QEL_RT_CONTROL_H
#define QEL_RT_CONTROL_H

#include "qel/rt_handle.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- knobs ---------------------------------------------------------- */

/* Resets every knob and clears every observation. */
QEL_RT_API void qelrt_reset(void);
/* Fails the n-th alloc_fn call from now (1 = the next); 0 disables. */
QEL_RT_API void qelrt_fail_alloc_at(uint64_t n);
/* Fails every alloc_fn call from the n-th on; 0 disables. */
QEL_RT_API void qelrt_fail_alloc_from(uint64_t n);
/* Fails the n-th type_alloc_fn call from now; 0 disables. */
QEL_RT_API void qelrt_fail_type_alloc_at(uint64_t n);
/* The variant qel_domain_lookup_variant answers (default 0). */
QEL_RT_API void qelrt_set_domain_variant(int v);
/* Error code qel_domain_lookup_variant sets (default 0). */
QEL_RT_API void qelrt_set_domain_variant_error(uint32_t code);
/* When set, qel_get_instance_variant answers v instead of the object's own
 * variant byte. */
QEL_RT_API void qelrt_force_instance_variant(int enabled, int v);
/* The domain refuses the named type (message, table or structured type). */
QEL_RT_API void qelrt_domain_refuse(const char *type_name);
/* Fails the n-th quarl_set_range call from now; 0 disables. */
QEL_RT_API void qelrt_quarl_fail_at(uint64_t n);
/* Answer of qel_request_oid_mapping_destroy: 0 still referenced, 1 removed;
 * a non-zero error code is reported instead of either. */
QEL_RT_API void qelrt_set_oid_mapping_answer(int answer, uint32_t error);
/* Answer of qel_hd_mapping_destroy (0 = success). */
QEL_RT_API void qelrt_set_hd_mapping_answer(uint32_t error);
/* State-area place returned by qellib_get_sttr_offset (null: none). */
QEL_RT_API void qelrt_set_sttr_place(uint8_t *place);
/* Error code qellib_type_stats_create_object reports instead of counting
 * the creation (0 = counts as usual). */
QEL_RT_API void qelrt_set_stats_create_error(uint32_t code);

/* ---- observations --------------------------------------------------- */

/* Trace points: captured while capture is on (default on). */
typedef struct qelrt_trace {
    uint16_t table_no;
    uint32_t index;
    uint16_t module;
    uint32_t level;
    char text[512];
} qelrt_trace_t;

QEL_RT_API void qelrt_trace_capture(int on);
QEL_RT_API uint32_t qelrt_trace_count(void);
QEL_RT_API const qelrt_trace_t *qelrt_trace_at(uint32_t i);
/* Number of captured points whose text contains needle. */
QEL_RT_API uint32_t qelrt_trace_find(const char *needle);
QEL_RT_API void qelrt_trace_clear(void);
/* Prints captured points to stderr as they arrive (for debugging). */
QEL_RT_API void qelrt_trace_echo(int on);

/* Runtime calls: each call is logged by name with up to four numeric
 * arguments while logging is on (default off). */
typedef struct qelrt_call {
    const char *fn;
    uint64_t a[4];
} qelrt_call_t;

QEL_RT_API void qelrt_calls_log(int on);
QEL_RT_API uint32_t qelrt_call_total(void);
QEL_RT_API const qelrt_call_t *qelrt_call_at(uint32_t i);
/* Number of logged calls of the named function. */
QEL_RT_API uint32_t qelrt_call_count(const char *fn);
QEL_RT_API void qelrt_calls_clear(void);

/* Counts of alloc_fn / free_fn calls through the default allocator since
 * the last reset, and the bytes currently live. */
QEL_RT_API uint64_t qelrt_alloc_count(void);
QEL_RT_API uint64_t qelrt_free_count(void);
QEL_RT_API int64_t qelrt_live_bytes(void);
/* Successful type_alloc_fn calls (registered type-info copies) through the
 * default type allocator since the last reset. */
QEL_RT_API uint64_t qelrt_type_alloc_count(void);
/* Number of distinct start addresses registered with quarl_set_range in the
 * handle's key/range database. */
QEL_RT_API uint32_t qelrt_quarl_range_count(const qel_handle_t *h);

/* Write-hook announcements (logged while calls are logged). */
typedef struct qelrt_write {
    void *addr;
    uint32_t len;
    uint32_t dbid;
    void *owner;
} qelrt_write_t;

QEL_RT_API uint32_t qelrt_write_count(void);
QEL_RT_API const qelrt_write_t *qelrt_write_at(uint32_t i);

/* The last error stored through qel_clear_last_error's record. */
QEL_RT_API uint32_t qelrt_last_error(const qel_handle_t *h);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_CONTROL_H */
