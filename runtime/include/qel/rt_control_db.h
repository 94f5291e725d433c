/*
 * qel/rt_control_db.h -- steering and observing the database runtime.
 *
 * Knobs for tests and tools: the shared-database and write-lock answers,
 * cursors, the calling thread's tenant, the collector list, the errors the
 * database calls report, and views of a handle's database memory.  The
 * allocation-failure knobs, the call log and trace capture of
 * qel/rt_control.h apply to the database calls too.  qelrt_db_reset puts
 * every knob here back to its default (qelrt_reset does so as well).
 */
#ifndef QEL_RT_CONTROL_DB_H
#define QEL_RT_CONTROL_DB_H

#include "qel/rt_control.h"

#ifdef __cplusplus
extern "C" {
#endif

QEL_RT_API void qelrt_db_reset(void);

/* Answer of qellib_db_is_shared (default 0). */
QEL_RT_API void qelrt_db_set_shared(int on);
/* Answer of qellib_database_is_write_locked (default 1). */
QEL_RT_API void qelrt_db_set_write_locked(int on);
/* Marks the TOC of the handle's database shared (QELDB_TOC_SHARED);
 * makes the TOC when absent. */
QEL_RT_API void qelrt_db_toc_mark_shared(qel_handle_t *h, int on);
/* Cursors on one table (table non-null) or on every table (null). */
QEL_RT_API void qelrt_db_enable_cursors(const void *table, int on);
/* Answer of qeldb_table_implicit_write_cursor_enabled (default 1). */
QEL_RT_API void qelrt_db_set_implicit_write_cursor(int on);
/* The calling thread's tenant id, answered by mt_get_tenant_id. */
QEL_RT_API void qelrt_set_tenant_id(uint16_t tenant);
/* Puts a table on the collector's list (sets QELDB_TABLE_ON_GC). */
QEL_RT_API void qelrt_db_gc_list_add(void *table);

/* Errors the database calls report instead of working (0: none).  Names:
 * "toc_open", "toc_get", "toc_find", "toc_insert", "toc_delete",
 * "table_toc", "gc_remove", "request_destroy", "dereference_loc",
 * "tenant_counter"; an unknown name is ignored. */
QEL_RT_API void qelrt_db_fail(const char *call, uint32_t code);
/* Answer of qel_oid_mapping_create (default 1). */
QEL_RT_API void qelrt_db_set_oid_create_answer(int answer);
/* Makes qellib_database_table_toc_get / qeldb_database_toc_get answer null
 * (absent) even when the list or TOC exists. */
QEL_RT_API void qelrt_db_hide(int table_list, int toc);
/* Makes qeldb_database_toc_open answer null without an error, as a
 * database that cannot hold a TOC would (default 0). */
QEL_RT_API void qelrt_db_deny_toc(int on);

/* Number of tables filed in the handle's TOC. */
QEL_RT_API uint32_t qelrt_db_toc_size(qel_handle_t *h);
/* Number of table handles on the handle's table list (walked through the
 * handles' links, checking each prev_link on the way: UINT32_MAX when a
 * link is inconsistent). */
QEL_RT_API uint32_t qelrt_db_table_list_size(qel_handle_t *h);
/* Calls of bassert since the last reset; when trapping is on (default
 * off), bassert counts and returns instead of aborting. */
QEL_RT_API uint32_t qelrt_bassert_count(void);
QEL_RT_API void qelrt_bassert_trap(int on);

/* The calling process ends with _exit(77) just before its k-th journaled
 * store from now on (entries of a change, steps of its commit), for crash
 * sweeps; 0 turns it off. */
QEL_RT_API void qelrt_db_die_at_store(uint64_t k);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_CONTROL_DB_H */
