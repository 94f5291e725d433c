/*
 * qel/rt_shared.h -- databases kept in shared memory, reachable from every
 * process that attaches them.
 *
 * A shared database is one segment of shared memory, named, holding one
 * database memory: its table list and TOC, the key/range store, the
 * per-tenant counters, the statistics block, the type dictionary of the
 * handles bound to it (the registered type-info copies and their variant
 * records), and every object the library allocates with the database's id.
 * The segment is mapped at the same address in every process that attaches
 * it, so link words and record pointers stay plain pointers.
 *
 *     qelrt_db_t *db;
 *     int rc = qelrt_db_create("ports", NULL, &db);     (or qelrt_db_attach)
 *     qel_handle_t *h = qelrt_handle_new();
 *     rc = qelrt_handle_bind_db(h, db);
 *     qelrt_db_lock(db);
 *     ... open tables, insert, look up, walk with h and qelrt_db_id(db) ...
 *     qelrt_db_unlock(db);
 *     qelrt_handle_free(h);
 *     qelrt_db_detach(db);
 *
 * The write lock is a process-shared, robust mutex in the segment.  Writers
 * hold it for every change; readers hold it for each lookup, walk or count
 * so that they never see an index half linked.  A process that dies while
 * holding it does not block the others: the next locker is told.
 *
 * Every change is journaled: while a thread holds the lock, the old bytes
 * of every store into the segment (those the library announces or
 * registers, the runtime's own, the allocator's) go to an undo journal in
 * the segment first, and releases wait for the unlock, which commits.  The
 * next locker after a holder that died rolls its journal back: what the
 * dead holder was doing is wholly absent, what it had unlocked wholly
 * there.  An allocation or release made without the lock takes the lock
 * for itself.
 *
 * Results are system error numbers: 0 on success; 2 no such database;
 * 12 out of memory (the segment is full); 13 the segment's mode refuses
 * this user; 16 a process is attached (recovery); 17 the name is taken;
 * 22 a bad argument, or a segment this
 * library cannot vouch for (magic, layout version, size or address range
 * in its header); 24 this process has too many databases attached (32);
 * 98 the segment's address range is taken in this process.
 * qelrt_db_error_detail() says more about the last failure of the calling
 * thread.
 */
#ifndef QEL_RT_SHARED_H
#define QEL_RT_SHARED_H

#include <stdint.h>

#include "qel/runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qelrt_db qelrt_db_t;

typedef struct qelrt_db_options {
    uint64_t size;    /* bytes of the segment, header included; 0: 64 MiB */
    uint32_t mode;    /* permission bits of the segment; 0: 0600 */
    uint32_t dbid;    /* the database id the library is given for it; 0: 1 */
    const char *dir;  /* null: POSIX shared memory; else the segment is the
                         file NAME in this directory */
} qelrt_db_options_t;

/* qelrt_db_lock's answer when the previous holder died holding the lock;
 * the lock is taken and consistent again. */
#define QELRT_DB_OWNER_DIED 1

/* Creates the database NAME (letters, digits, '.', '_' and '-') and
 * attaches it; options may be null.  The address is chosen here and kept in
 * the segment's header. */
QEL_RT_API int qelrt_db_create(const char *name, const qelrt_db_options_t *opt,
                               qelrt_db_t **out);
/* Attaches the existing database NAME (dir as at creation, null for POSIX
 * shared memory) at the address its header gives, after checking the
 * header; never replaces a mapping of this process. */
QEL_RT_API int qelrt_db_attach(const char *name, const char *dir, qelrt_db_t **out);
/* Unmaps the database; what it holds stays for the other processes.  The
 * handles bound to it must have been freed first.  Null is ignored. */
QEL_RT_API void qelrt_db_detach(qelrt_db_t *db);
/* Removes the name; processes attached keep their mapping. */
QEL_RT_API int qelrt_db_remove(const char *name, const char *dir);
/* What the calling thread's last failure of these calls was, in words. */
QEL_RT_API const char *qelrt_db_error_detail(void);

QEL_RT_API uint32_t qelrt_db_id(const qelrt_db_t *db);

typedef struct qelrt_db_usage {
    uint64_t size;      /* bytes of the segment */
    uint64_t used;      /* bytes allocated in it, header and roots included */
    uint64_t free;      /* bytes its allocator can still hand out */
    uint64_t base;      /* the address every process maps it at */
} qelrt_db_usage_t;
QEL_RT_API void qelrt_db_usage(const qelrt_db_t *db, qelrt_db_usage_t *out);

/* Binds h to db: allocations with the database's id go to the segment (the
 * others stay in the process heap), and h's type dictionary, table list,
 * TOC, key/range store, tenant counters and statistics block are the
 * database's.  Sets per_handle_types to 1 and database_id to the
 * database's id.  A handle binds once, before it makes its first object. */
QEL_RT_API int qelrt_handle_bind_db(qel_handle_t *h, qelrt_db_t *db);

/* Takes the database's lock: 0, QELRT_DB_OWNER_DIED, or an error. */
QEL_RT_API int qelrt_db_lock(qelrt_db_t *db);
QEL_RT_API void qelrt_db_unlock(qelrt_db_t *db);

/* Rolls back a journal a dead writer left in the database NAME, when no
 * process has it attached (every attached process holds a shared flock on
 * the segment; 16 when one does), and makes its locks anew: a lock left by
 * a process of an earlier boot cannot be trusted.  0 also when no journal
 * was pending; the detail says which. */
QEL_RT_API int qelrt_db_recover(const char *name, const char *dir);
/* 1 when a journal is pending in the database (a change under way, or one
 * a dead writer left), 0 when none; *entries (may be null) its entries (0
 * while a commit is under way, which the next locker finishes). */
QEL_RT_API int qelrt_db_journal_state(qelrt_db_t *db, uint64_t *entries);
/* Journaling of this process's changes to db: on (1, the default) or off
 * (0: changes are made unjournaled, releases at once), for measuring its
 * cost.  Takes effect at the next lock. */
QEL_RT_API void qelrt_db_set_journal(qelrt_db_t *db, int on);

/* Calls visit with every table of the database's table list (its table
 * handle, whose head is qeldb_table_head_t) in list order.  The caller
 * holds the lock, as for any other read. */
QEL_RT_API void qelrt_db_each_table(qelrt_db_t *db,
                                    void (*visit)(void *ctx, void *table),
                                    void *ctx);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_SHARED_H */
