/*
 * qel/rt_handle.h -- making, tuning and freeing runtime handles.
 *
 * Every call into a domain library takes a handle first.  On the platform
 * the runtime hands its processes ready handles; this stand-in runtime lets
 * a program make its own:
 *
 *     qel_handle_t *h = qelrt_handle_new();
 *     h->per_handle_types = 1;              (optional, see below)
 *     qelrt_handle_set_mode(h, QEL_CHECK_TRACK);   (optional)
 *     ... lomari calls with h ...
 *     qelrt_handle_free(h);
 *
 * A handle is used by one thread at a time; several handles may be used
 * from several threads at once.
 *
 * Fields of the handle (qel/runtime.h) a program may set directly:
 *   per_handle_types  0 (default): objects refer to the library's static
 *                     type-info records.  Non-zero: the first object of a
 *                     type makes the runtime call the domain's registration
 *                     function (lomari_typeinfo_initialize), which copies
 *                     every type-info record into this handle's dictionary;
 *                     objects then refer to those copies.
 *   database_id       the database id the chained-error (_cr) forms use;
 *                     QEL_NO_DATABASE (0xFFFFFFFF) means no database.
 *   err               the stored error of the chained-error forms; reset it
 *                     to 0 after handling an error.
 *   containment_tracking, bundle_active, header_word: platform database
 *                     and messaging settings, 0 by default.
 *
 * The knobs and observations that only tests need are in qel/rt_control.h
 * (in the source tree only: it is not installed).
 */
#ifndef QEL_RT_HANDLE_H
#define QEL_RT_HANDLE_H

#include "qel/runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A handle with defaults: malloc/free allocation, a no-op write hook,
 * plain mode (no check record), per_handle_types 0, database id
 * QEL_NO_DATABASE, the "lomari" domain allowing every type at variant 0,
 * and a 64 KiB workspace.  It carries a key/range database but does not
 * use it (alloc_ctx null) until it makes its first table list: table
 * memory is range-registered, so opening a table turns it on.  Null when
 * memory runs out. */
QEL_RT_API qel_handle_t *qelrt_handle_new(void);
/* Frees the handle, its dictionary and registered type-info copies, its
 * workspace and key/range database with the table types' id-keyed roots
 * kept in it.  Objects made through it must have been destroyed first.
 * Null is ignored. */
QEL_RT_API void qelrt_handle_free(qel_handle_t *h);
/* State-tracking mode: 0 removes the check record (plain mode, as
 * QEL_CHECK_PLAIN); QEL_CHECK_TRACK (0xEEEE) makes every object created
 * afterwards carry one state byte per field, set to 2 when the field is
 * written, and sent in the binary encoding.  Objects keep the mode they
 * were created in; any other value is a corrupted handle, on which the
 * library aborts. */
QEL_RT_API void qelrt_handle_set_mode(qel_handle_t *h, uint32_t check_state);
/* Gives the handle its key/range database (alloc_ctx) now, so that list
 * link words are registered from here on; 0 removes it (the next table
 * list made through the handle gives it back). */
QEL_RT_API void qelrt_handle_use_quarl(qel_handle_t *h, int on);
/* Non-zero: allocations go through the runtime's pooling allocator
 * (per-thread free lists, faster for many small objects); 0: back to
 * malloc.  Blocks from either are released correctly whichever is on. */
QEL_RT_API void qelrt_handle_use_pool(qel_handle_t *h, int on);
/* Number of type-info copies registered in the handle's dictionary (42
 * once the lomari domain has registered on a per_handle_types handle). */
QEL_RT_API uint32_t qelrt_handle_dict_size(qel_handle_t *h);
/* Resizes the handle's scratch workspace, the encoding buffer of the
 * chained-error clone and of counted-array element sets (64 KiB by
 * default); the old content is dropped. */
QEL_RT_API void qelrt_handle_set_workspace(qel_handle_t *h, uint32_t len);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_HANDLE_H */
