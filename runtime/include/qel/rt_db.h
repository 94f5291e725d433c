/*
 * qel/rt_db.h -- the database runtime as seen by domain libraries.
 *
 * Owns the shapes and entry points a domain library's tables use: the parts
 * of a table handle and of a table record that the database runtime reads
 * and writes, the table list, the database table of contents (TOC), the
 * write lock, object-id mappings, the collector, cursors and deferred record
 * destruction, tenancy and per-tenant counters, the replication cache,
 * location release, the assertion hook, and the AVL container that holds a
 * table's ordered indexes.
 *
 * Included at the end of qel/runtime.h.  The knobs that steer these calls in
 * tests live in qel/rt_control_db.h.
 */
#ifndef QEL_RT_DB_H
#define QEL_RT_DB_H

#include <stddef.h>
#include <stdint.h>

#include "qel/runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Shapes shared with the domain library                               */
/* ------------------------------------------------------------------ */

/* Table-handle flag byte. */
#define QELDB_TABLE_DYNAMIC 0x80u
#define QELDB_TABLE_ON_GC   0x40u

/* Record flag word. */
#define QELDB_REC_INSERTED   0x001u
#define QELDB_REC_PENDING    0x002u
#define QELDB_REC_PKEY_ONLY  0x010u
#define QELDB_REC_MAPPED     0x020u
#define QELDB_REC_KEEP       0x100u /* set by the runtime: destroy leaves the
                                       record in its table */
#define QELDB_REF_MASK       0x00FFFFFFu

/* Source tags of a record. */
#define QELDB_SRC_DEFAULT 1u
#define QELDB_SRC_SHADOW  255u

/* TOC flag byte. */
#define QELDB_TOC_SHARED 0x01u

/* The head of every table handle, in the order the table layer lays it out;
 * the library's table handle continues with its index roots.  The runtime
 * reads the name, id and open mode to file the table in the TOC, moves the
 * pending-destroy count when it takes over a record's destruction, and owns
 * flag QELDB_TABLE_ON_GC. */
typedef struct qeldb_table_head {
    void *tinfo;                 /* qel_type_info_t of the table type */
    int8_t variant;
    uint8_t hdr_byte;
    uint8_t obj_flags;
    char name[208];              /* full name, 207 characters at most */
    uint32_t record_count;
    uint32_t pending_destroy_count;
    uint64_t table_id;
    uint32_t open_mode;          /* 0 by name, 1 by id, 2 automatic id */
    struct qeldb_table_head *next;
    struct qeldb_table_head **prev_link;
    void *range_word;            /* registered with quarl_set_range */
    uint8_t flags;               /* QELDB_TABLE_* */
    uint32_t shadow_count;
} qeldb_table_head_t;

/* The head of every table record; the library's record continues with its
 * index nodes and field pointers. */
typedef struct qeldb_record_head {
    void *tinfo;                 /* qel_type_info_t of the record type */
    void *location;              /* released by qellib_record_dereference_loc */
    qeldb_table_head_t *table;   /* the table the record is in, or null */
    void *rt_words[2];           /* the runtime's own */
    uint32_t ref_word;           /* low 24 bits: the reference count */
    uint16_t tenant_id;
    uint32_t flags;              /* QELDB_REC_* */
    uint8_t source;
} qeldb_record_head_t;

/* The list of the tables of a database memory: a tail queue threaded
 * through the table handles' next and prev_link words. */
typedef struct qeldb_table_list {
    qeldb_table_head_t *first;
    qeldb_table_head_t **last_link;
} qeldb_table_list_t;

/* The database TOC: its flag byte is read by the table layer. */
typedef struct qeldb_toc {
    uint8_t flags;               /* QELDB_TOC_SHARED */
    void *rt_private;
} qeldb_toc_t;

/* ------------------------------------------------------------------ */
/* AVL container                                                       */
/* ------------------------------------------------------------------ */

/* An intrusive node, embedded in the record it orders.  The container never
 * allocates: it links the nodes it is given.  A node out of any tree has
 * all three links null and height 0.  The parent link lets a node that is
 * in a tree step to its neighbours without a comparison. */
typedef struct e_avl_node {
    struct e_avl_node *left;
    struct e_avl_node *right;
    struct e_avl_node *parent;   /* null at the root */
    int32_t height;              /* of the subtree rooted here; 1 for a leaf */
    uint32_t spare;
} e_avl_node_t;

/* Orders two nodes: 0 when a comes before b, 1 when they are equal, 2 when
 * a comes after b. */
typedef uint32_t (*e_avl_compare_fn)(const void *a, const void *b);
/* Visitor of e_avl_walk: called once per node in order with the walk's
 * context and three further words; a non-zero result stops the walk. */
typedef int (*e_avl_visit_fn)(void *node, void *ctx, void *a1, void *a2,
                              void *a3);

/* Links node into the tree at *root.  1 when linked; 0 when an equal entry
 * is present (the tree is unchanged).  *companion counts the entries. */
QEL_RT_API int e_avl_insert(void *alloc_ctx, uint32_t dbid, e_avl_node_t **root,
                            void *node, uint64_t *companion, e_avl_compare_fn cmp);
/* Unlinks node.  1 when removed; 0 when node itself is not in the tree
 * (an equal entry that is another node counts as missing). */
QEL_RT_API int e_avl_delete(void *alloc_ctx, uint32_t dbid, e_avl_node_t **root,
                            void *node, uint64_t *companion, e_avl_compare_fn cmp);
/* The entry equal to probe, or null. */
QEL_RT_API void *e_avl_search(e_avl_node_t *root, const void *probe,
                              e_avl_compare_fn cmp);
/* The one descent of e_avl_search, which also leaves in *after and
 * *before the entries next after and before probe when none equals it
 * (what e_avl_get_next and e_avl_get_prev would answer for the probe). */
static inline void *e_avl_search_bounds(e_avl_node_t *root, const void *probe,
                                        e_avl_compare_fn cmp, void **after,
                                        void **before) {
    e_avl_node_t *a = 0, *b = 0;
    for (e_avl_node_t *t = root; t;) {
        const uint32_t c = cmp(probe, t);
        if (c == 1)
            return t;
        if (c == 0) {
            a = t;
            t = t->left;
        } else {
            b = t;
            t = t->right;
        }
    }
    *after = a;
    *before = b;
    return 0;
}
QEL_RT_API void *e_avl_get_first(e_avl_node_t *root);
QEL_RT_API void *e_avl_get_last(e_avl_node_t *root);
/* The first entry after (before) node in the order of cmp; node need not be
 * in the tree (a search probe steps the same way). */
QEL_RT_API void *e_avl_get_next(e_avl_node_t *root, const void *node,
                                e_avl_compare_fn cmp);
QEL_RT_API void *e_avl_get_prev(e_avl_node_t *root, const void *node,
                                e_avl_compare_fn cmp);
/* The entry after (before) node, which must be in a tree (height above
 * 0): the same answer as e_avl_get_next (e_avl_get_prev) over that tree's
 * root, found through the links alone. */
static inline e_avl_node_t *e_avl_next_linked(const e_avl_node_t *n) {
    if (n->right) {
        n = n->right;
        while (n->left)
            n = n->left;
        return (e_avl_node_t *)n;
    }
    const e_avl_node_t *p = n->parent;
    while (p && p->right == n) {
        n = p;
        p = p->parent;
    }
    return (e_avl_node_t *)p;
}
static inline e_avl_node_t *e_avl_prev_linked(const e_avl_node_t *n) {
    if (n->left) {
        n = n->left;
        while (n->right)
            n = n->right;
        return (e_avl_node_t *)n;
    }
    const e_avl_node_t *p = n->parent;
    while (p && p->left == n) {
        n = p;
        p = p->parent;
    }
    return (e_avl_node_t *)p;
}
/* Visits every entry in order; returns the number visited. */
QEL_RT_API uint64_t e_avl_walk(e_avl_node_t *root, e_avl_visit_fn visit,
                               void *ctx, void *a1, void *a2, void *a3);
QEL_RT_API void trans_avl_trace_init(void);
QEL_RT_API void trans_gbt_trace_init(void);

/* ------------------------------------------------------------------ */
/* Table list, TOC, write lock                                         */
/* ------------------------------------------------------------------ */

/* The table list of the handle's database memory; create makes it when
 * absent, get answers null then. */
QEL_RT_API qeldb_table_list_t *qellib_database_table_toc_create(qel_handle_t *h,
                                                                uint32_t dbid,
                                                                uint32_t *err);
QEL_RT_API qeldb_table_list_t *qellib_database_table_toc_get(qel_handle_t *h,
                                                             uint32_t dbid,
                                                             uint32_t *err);
/* The database TOC; open makes it when absent, get answers null then. */
QEL_RT_API qeldb_toc_t *qeldb_database_toc_open(qel_handle_t *h, uint32_t dbid,
                                                uint32_t *err);
QEL_RT_API qeldb_toc_t *qeldb_database_toc_get(qel_handle_t *h, uint32_t dbid,
                                               uint32_t *err);
/* The table filed under (luid, name) when by_name is non-zero, else under
 * (luid, id); null when none is. */
QEL_RT_API void *qeldb_database_toc_get_table_root(qel_handle_t *h, uint32_t dbid,
                                                   const char *name,
                                                   uint32_t name_len, uint64_t id,
                                                   const uint8_t *luid,
                                                   uint32_t luid_len,
                                                   int by_name, uint32_t *err);
/* Files the table under its name (open mode 0) or id, and the luid of its
 * type-info record; 17 in *err when that place is taken. */
QEL_RT_API void qeldb_database_toc_insert(qel_handle_t *h, uint32_t dbid,
                                          void *table, int dynamic,
                                          uint32_t *err);
/* Removes the table; 2 in *err when it is not filed. */
QEL_RT_API void qeldb_database_toc_delete(qel_handle_t *h, uint32_t dbid,
                                          void *table, uint32_t *err);
/* Whether the process's database is shared between processes. */
QEL_RT_API int qellib_db_is_shared(void);
QEL_RT_API int qellib_database_is_write_locked(qel_handle_t *h);

/* ------------------------------------------------------------------ */
/* Mappings, collector, reports                                        */
/* ------------------------------------------------------------------ */

/* Non-zero when the mapping was made. */
QEL_RT_API int qel_oid_mapping_create(qel_handle_t *h, uint32_t dbid, void *obj,
                                      uint32_t kind, int dynamic, uint64_t ior,
                                      uint32_t *err);
QEL_RT_API void qelgc_database_gc_list_remove(qel_handle_t *h, uint32_t dbid,
                                              void *table, uint32_t *err);
QEL_RT_API void qelgc_validate_table_delete(qel_handle_t *h, void *table);
/* Reports an object handed out or linked: kind 1 table, 2 record, 4 field
 * object; parent may be null. */
QEL_RT_API void qeldb_record_containment(qel_handle_t *h, uint32_t dbid,
                                         uint32_t kind, const void *obj,
                                         const void *parent, int how);
/* Releases a record's location word; 0 or an error in *err. */
QEL_RT_API void qellib_record_dereference_loc(qel_handle_t *h, uint32_t dbid,
                                              void *record, uint32_t *err);
/* Reports a violated invariant (expression text, source, line) and aborts
 * the process. */
QEL_RT_API void bassert(const char *expr, const char *file, int line);

/* ------------------------------------------------------------------ */
/* Cursors, deferred destruction, replication                          */
/* ------------------------------------------------------------------ */

QEL_RT_API int qeldb_table_are_cursors_enabled(qel_handle_t *h, uint32_t dbid,
                                               const void *table,
                                               uint32_t *err);
QEL_RT_API int qeldb_table_implicit_write_cursor_enabled(qel_handle_t *h,
                                                         uint32_t dbid,
                                                         const void *table,
                                                         uint32_t *err);
QEL_RT_API void qeldb_enq_rec_move_write_cursor_internal(qel_handle_t *h,
                                                         uint32_t dbid,
                                                         void *table,
                                                         void *record,
                                                         uint32_t *err);
/* Takes over a record's destruction: the record is marked pending destroy
 * and counted in its table's and the database's pending-destroy counts. */
QEL_RT_API void qeldb_request_record_destroy(qel_handle_t *h, uint32_t dbid,
                                             void *record, uint32_t *err);
QEL_RT_API void qelrepl_add_to_cache(qel_handle_t *h, uint32_t dbid, void *table,
                                     void *record, uint32_t *err);

/* ------------------------------------------------------------------ */
/* Tenancy                                                             */
/* ------------------------------------------------------------------ */

/* The calling thread's tenant (0: none). */
QEL_RT_API uint16_t mt_get_tenant_id(void);
/* Adds (add non-zero) or removes one record of (tenant, source) in the
 * table's per-tenant counters. */
QEL_RT_API void qeldb_update_tenant_counter(qel_handle_t *h, uint32_t dbid,
                                            void *table, int add,
                                            uint16_t tenant, uint8_t source,
                                            uint32_t *err);
/* Stores in *result the tenant's records of the table: of every source when
 * source is null, else of *source.  Returns 0 or an error code. */
QEL_RT_API uint32_t qeldb_get_tenant_counter(qel_handle_t *h, uint32_t dbid,
                                             const void *table, uint32_t *result,
                                             uint16_t tenant,
                                             const uint8_t *source);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_DB_H */
