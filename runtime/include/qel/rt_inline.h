/*
 * qel/rt_inline.h -- the runtime's answers that a quiet handle gets inline.
 *
 * This header owns the inline forms of the runtime calls a domain library
 * makes per object or per call whose only effect, on a handle nothing
 * observes, is the answer itself or one store: clearing the last error,
 * the domain's variant, an instance's variant, the place of an object's
 * type-info reference, the created and destroyed counts, and the
 * announcement of a found record to the replication cache.
 *
 * The runtime keeps QEL_RTF_QUIET in the rt_flags of every handle it made
 * while no call is logged and no knob steers these answers (the domain and
 * instance variant knobs, the statistics error knob: qel/rt_control.h); it
 * clears the bit the moment any of them changes (update_watch and
 * quiet_follow, the only code that writes it).  This runtime keeps no
 * replication cache, so a quiet handle has none to announce to.  A quiet
 * handle gets the answer here, in the same words the runtime's own fast
 * path would give; any other handle (logged, steered, or made elsewhere
 * with rt_flags 0) makes the call, so every call a log can see is still
 * made.  The counts are added inline only when the handle has no
 * statistics hook either.
 *
 * Plain C (C99 and later, and C++): every function is static inline.
 */
#ifndef QEL_RT_INLINE_H
#define QEL_RT_INLINE_H

#include <stdint.h>

#include "qel/rt_db.h"
#include "qel/runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

/* rt_flags bit: the runtime's answers below may be given inline. */
#define QEL_RTF_QUIET 0x1u

static inline int qel_rt_quiet(const qel_handle_t *h) {
    return h && (__atomic_load_n(&h->rt_flags, __ATOMIC_RELAXED) & QEL_RTF_QUIET);
}

static inline void qel_inline_clear_last_error(qel_handle_t *h) {
    if (qel_rt_quiet(h))
        h->last_error = 0;
    else
        qel_clear_last_error(h);
}

/* Unsteered, the domain defines variant 0 of every type. */
static inline int qel_inline_domain_lookup_variant(qel_handle_t *h, const qel_domain_t *domain,
                                                   const qel_type_info_t *ti, uint32_t *err) {
    if (qel_rt_quiet(h))
        return 0;
    return qel_domain_lookup_variant(h, domain, ti, err);
}

/* Unsteered, an instance's variant is its header's variant byte (8). */
static inline int qel_inline_get_instance_variant(qel_handle_t *h, const void *obj, int a, int b) {
    if (qel_rt_quiet(h) && obj)
        return ((const int8_t *)obj)[8];
    return qel_get_instance_variant(h, obj, a, b);
}

/* The type-info reference is the header's first word. */
static inline void **qel_inline_manifested_type_info_ptr_mem(qel_handle_t *h, void *obj) {
    if (qel_rt_quiet(h))
        return (void **)obj;
    return qel_get_manifested_type_info_ptr_mem(h, obj);
}

/* n more in a variant record's counter: a plain add for a handle's
 * registered copy (counter_mode non-zero), atomic for a static record. */
static inline void qel_inline_count_n(const qel_type_info_t *ti, uint64_t *counter, uint64_t n) {
    if (ti && ti->counter_mode != 0)
        *counter += n;
    else
        __atomic_fetch_add(counter, n, __ATOMIC_RELAXED);
}
static inline void qel_inline_count_one(const qel_type_info_t *ti, uint64_t *counter) {
    qel_inline_count_n(ti, counter, 1);
}

/* True when h's created and destroyed counts are added inline: a quiet
 * handle without a statistics hook.  Nothing then sees a count but as a
 * total, so a caller that makes or destroys many objects of one type may
 * add their count in one go (qel_inline_count_n), once they are made or
 * destroyed. */
static inline int qel_rt_counts_inline(const qel_handle_t *h) {
    return qel_rt_quiet(h) && !h->stats_inc_fn;
}

static inline void qel_inline_type_stats_create_object(qel_handle_t *h, uint32_t dbid,
                                                       const qel_type_info_t *ti,
                                                       qel_variant_record_t *vr, uint32_t *err) {
    if (qel_rt_counts_inline(h)) {
        if (vr)
            qel_inline_count_one(ti, &vr->created);
        return;
    }
    qellib_type_stats_create_object(h, dbid, ti, vr, err);
}

static inline void qel_inline_type_stats_destroy_object(qel_handle_t *h, uint32_t dbid,
                                                        const qel_type_info_t *ti,
                                                        qel_variant_record_t *vr, uint32_t *err) {
    if (qel_rt_counts_inline(h)) {
        if (vr)
            qel_inline_count_one(ti, &vr->destroyed);
        return;
    }
    qellib_type_stats_destroy_object(h, dbid, ti, vr, err);
}

/* The replication cache announcement: on a quiet handle there is no cache
 * and no log, so nothing is announced. */
static inline void qel_inline_repl_add_to_cache(qel_handle_t *h, uint32_t dbid, void *table,
                                                void *record, uint32_t *err) {
    if (!qel_rt_quiet(h))
        qelrepl_add_to_cache(h, dbid, table, record, err);
}

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_INLINE_H */
