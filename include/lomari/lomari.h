/**
 * @file lomari/lomari.h
 * @brief The lomari domain library; the one C header to include.
 *
 * Every operation takes the runtime handle first (qel/runtime.h; make one
 * with qel/rt_handle.h), then, for most operations, a database id that is
 * passed unchanged to the handle's allocator and the runtime
 * (QEL_NO_DATABASE for none), and last an error word that must be 0 on
 * entry (lomari/lomari_errors.h names the numbers).  The generated headers
 * declare the instance layouts (lomari_types.h) and the per-type
 * operations (lomari_api.h); this header adds the domain-wide entry
 * points: registration, trace initialisation, the variant dump and the
 * bundle handler slot.  The identifier constants of the messages and
 * tables are declared in the generated lomari_ids.h.
 */
#ifndef LOMARI_LOMARI_H
#define LOMARI_LOMARI_H

#include "lomari/lomari_types.h"
#include "lomari/lomari_api.h"
#include "lomari/lomari_errors.h"
#include "lomari/lomari_ids.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Copies the domain's 42 type-info records into the handle's dictionary;
 * records already there only have their variant information refreshed.
 * The runtime calls it when an object is first created on a handle whose
 * per_handle_types is non-zero; a program may call it up front on such a
 * handle.  Errors in *err as the runtime's dictionary reports them. */
LOMARI_API void lomari_typeinfo_initialize(qel_handle_t *h, uint32_t db, uint32_t *err);
/** Registers the trace module "qel_lomari"; returns the runtime's answer.
 * The library calls it itself before it first needs the module. */
LOMARI_API int qel_lomari_trace_init(void);
/** Prints the variant records of every type through a printf-like function. */
LOMARI_API void lomari_type_variant_dump(int (*print)(const char *fmt, ...));
/** Puts handler in the domain's bundle handler slot; returns the one it
 * replaces.  The library never calls it itself. */
LOMARI_API void *lomari_bundle_handler_register(void *handler);
/** Empties the bundle handler slot; returns the handler it held. */
LOMARI_API void *lomari_bundle_handler_unregister(void);
/** The domain's bundle handler slot. */
LOMARI_API extern void *lomari_bundle_registered_handler;

/** The runtime's id of the trace module "qel_lomari". */
LOMARI_API extern uint16_t g_qel_lomari_trace_module_id;
/** The id of the module's stub traces. */
LOMARI_API extern uint16_t g_qel_lomari_stub_trace_module_id;

#ifdef __cplusplus
}
#endif

#endif /* LOMARI_LOMARI_H */
