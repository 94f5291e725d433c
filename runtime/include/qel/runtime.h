/*
 * qel/runtime.h -- the platform type runtime as seen by domain libraries.
 *
 * This header owns the shapes shared between a domain library and the
 * runtime: the handle, the type-info record and its variant records, the
 * module list, the trace-table descriptor, and every runtime entry point a
 * domain library calls (errors, type dictionary, domains and variants,
 * statistics, mappings, key/range store, scalar objects and codecs, hashes,
 * workspace, trace facility).  It is plain C so that any language with a C
 * foreign-function interface can drive a domain library.
 *
 * Making and freeing handles is in qel/rt_handle.h; the knobs that let a
 * test steer and observe this runtime are in qel/rt_control.h (source tree
 * only, not installed).
 */
#ifndef QEL_RUNTIME_H
#define QEL_RUNTIME_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define QEL_RT_API __attribute__((visibility("default")))
#else
#define QEL_RT_API
#endif

/* ------------------------------------------------------------------ */
/* Constants                                                           */
/* ------------------------------------------------------------------ */

#define QEL_TINFO_MAGIC 0xBEEFF00Du
#define QEL_CHECK_PLAIN 0xDDDDu
#define QEL_CHECK_TRACK 0xEEEEu
#define QEL_NO_DATABASE 0xFFFFFFFFu

/* Trace level words: severity in bits 24..31. */
#define QEL_TL_FATAL  0x0000000u
#define QEL_TL_ERROR  0x3000000u
#define QEL_TL_NOTICE 0x6000000u
#define QEL_TL_DEBUG  0x7000000u

/* Object flag bits. */
#define QEL_OF_OID_MAPPING 0x01u
#define QEL_OF_EMBEDDED    0x02u
#define QEL_OF_NESTED      0x04u
#define QEL_OF_TRACKED     0x08u
#define QEL_OF_RA_DATA     0x20u
#define QEL_OF_HD_MAPPING  0x20u
#define QEL_OF_STTR_RT     0x40u
#define QEL_OF_OWN_TINFO   0x80u

/* ------------------------------------------------------------------ */
/* Type-info records                                                   */
/* ------------------------------------------------------------------ */

typedef struct qel_variant_record {
    uint32_t table_word;   /* 1 for tables and table records, else 0 */
    uint32_t used_length;
    uint32_t alloc_slop;
    uint32_t zero;
    uint64_t created;
    uint64_t destroyed;
    uint64_t spare;
} qel_variant_record_t;

typedef struct qel_variant_info {
    int8_t n_variants;
    qel_variant_record_t *variants;
} qel_variant_info_t;

typedef struct qel_type_info {
    uint32_t magic;            /* QEL_TINFO_MAGIC */
    uint8_t luid[16];
    char signature[33];        /* 32 lower-case hex digits + NUL */
    char name[64];
    char domain[64];
    char kind[64];             /* "message", "enum", "type", "table", "table_record" */
    int32_t type_index;
    uint32_t word;
    qel_variant_info_t *varinfo;
    uint32_t counter_mode;     /* 0: atomic counter adds; non-zero: plain */
} qel_type_info_t;

/* ------------------------------------------------------------------ */
/* The handle                                                          */
/* ------------------------------------------------------------------ */

struct qel_handle;
typedef struct qel_handle qel_handle_t;

typedef void *(*qel_alloc_fn)(void *alloc_ctx, uint32_t dbid, uint32_t size);
typedef void (*qel_free_fn)(void *alloc_ctx, uint32_t dbid, void *mem);
typedef void (*qel_write_hook_fn)(qel_handle_t *h, void *addr, uint32_t len,
                                  uint32_t dbid, void *owner);
typedef int (*qel_stats_inc_fn)(void *alloc_ctx, uint64_t *counter,
                                uint64_t amount, uint32_t dbid);
typedef void *(*qel_type_alloc_fn)(void *type_alloc_ctx, uint32_t dbid,
                                   uint32_t size);
typedef void *(*qel_type_dict_lookup_fn)(void *type_dict_ctx, uint32_t dbid,
                                         const char *signature);
typedef int (*qel_type_dict_insert_fn)(void *type_dict_ctx, uint32_t dbid,
                                       const char *signature, void *tinfo);
/* Registration function a domain hands to qel_type_info_ptr_get. */
typedef void (*qel_typeinfo_init_fn)(qel_handle_t *h, uint32_t dbid,
                                     uint32_t *err);

typedef struct qel_check_record {
    uint32_t check_state;      /* QEL_CHECK_PLAIN or QEL_CHECK_TRACK */
} qel_check_record_t;

typedef struct qel_db_stats {
    uint64_t pending_destroy;
} qel_db_stats_t;

/* The domain record is opaque to domain libraries; only its address is
 * passed back to the runtime. */
typedef struct qel_domain {
    char name[64];
    int32_t id;
} qel_domain_t;

struct qel_handle {
    qel_alloc_fn alloc_fn;
    qel_free_fn free_fn;
    qel_write_hook_fn write_hook_fn;
    qel_stats_inc_fn stats_inc_fn;
    qel_type_alloc_fn type_alloc_fn;
    qel_type_dict_lookup_fn type_dict_lookup_fn;
    qel_type_dict_insert_fn type_dict_insert_fn;
    void *alloc_ctx;
    void *type_alloc_ctx;
    void *type_dict_ctx;
    uint32_t per_handle_types;
    uint32_t bundle_active;
    const char *domain_name;
    qel_domain_t domain;
    uint32_t header_word;
    uint32_t err;
    uint32_t database_id;
    uint32_t chained_error;
    qel_check_record_t *check_record;
    uint32_t containment_tracking;
    /* database runtime fields read by the table layer */
    uint32_t gc_context;
    uint32_t gc_validate;
    uint32_t quiet_duplicates;
    void *hd_mapping;
    const char *database_name;
    qel_db_stats_t *db_stats;
    /* runtime-private part */
    uint32_t last_error;
    uint32_t rt_flags;           /* QEL_RTF_* (qel/rt_inline.h) */
    void *rt_private;
};

/* ------------------------------------------------------------------ */
/* Errors                                                              */
/* ------------------------------------------------------------------ */

QEL_RT_API void qel_store_err(qel_handle_t *h, uint32_t code);
QEL_RT_API void qel_store_epoch_err(qel_handle_t *h, uint32_t code,
                                    uint32_t *err);
QEL_RT_API void qel_clear_last_error(qel_handle_t *h);

/* ------------------------------------------------------------------ */
/* Types, variants, domains                                            */
/* ------------------------------------------------------------------ */

QEL_RT_API qel_type_info_t *qel_type_info_ptr_get(qel_handle_t *h, uint32_t dbid,
                                                  qel_type_info_t *static_ti,
                                                  qel_typeinfo_init_fn init);
QEL_RT_API void qel_update_variant_info(qel_handle_t *h, uint32_t dbid,
                                        qel_type_info_t *copy,
                                        qel_type_info_t *static_ti, int is_new);
/* Address of the type-info reference in an object's header. */
QEL_RT_API void **qel_get_manifested_type_info_ptr_mem(qel_handle_t *h,
                                                       void *obj);
QEL_RT_API qel_type_info_t *qel_get_manifested_type_info(qel_handle_t *h,
                                                         const void *obj);
QEL_RT_API int qel_get_luid(qel_handle_t *h, uint32_t dbid, const void *obj,
                            uint8_t *luid_out, uint32_t *err);
/* Variant the handle's domain has for a type; errors go to *err. */
QEL_RT_API int qel_domain_lookup_variant(qel_handle_t *h,
                                         const qel_domain_t *domain,
                                         const qel_type_info_t *ti,
                                         uint32_t *err);
QEL_RT_API int qel_domain_lookup_message_ok(qel_handle_t *h,
                                            const qel_domain_t *domain,
                                            const qel_type_info_t *ti,
                                            uint32_t *err);
QEL_RT_API int qel_domain_lookup_table_ok(qel_handle_t *h,
                                          const qel_domain_t *domain,
                                          const qel_type_info_t *ti,
                                          uint32_t *err);
/* Variant of an object instance as the runtime sees it. */
QEL_RT_API int qel_get_instance_variant(qel_handle_t *h, const void *obj,
                                        int a, int b);
QEL_RT_API uint8_t qel_get_instance_obj_flag(qel_handle_t *h, const void *obj);
QEL_RT_API int qellib_adjust_variant(qel_handle_t *h, void *obj,
                                     const qel_type_info_t *ti, int mode,
                                     uint32_t *err);

/* ------------------------------------------------------------------ */
/* Statistics, containment, mappings                                   */
/* ------------------------------------------------------------------ */

QEL_RT_API void qellib_type_stats_create_object(qel_handle_t *h, uint32_t dbid,
                                                const qel_type_info_t *ti,
                                                qel_variant_record_t *vr,
                                                uint32_t *err);
QEL_RT_API void qellib_type_stats_destroy_object(qel_handle_t *h, uint32_t dbid,
                                                 const qel_type_info_t *ti,
                                                 qel_variant_record_t *vr,
                                                 uint32_t *err);
QEL_RT_API void qeldb_record_containment2(qel_handle_t *h, uint32_t dbid,
                                          const void *obj, const void *parent);
QEL_RT_API void qeldb_plat_set_dirty(qel_handle_t *h, uint32_t dbid,
                                     const void *obj);
QEL_RT_API void qeldb_plat_set_destroy(qel_handle_t *h, uint32_t dbid,
                                       const void *obj);
QEL_RT_API void qeldb_plat_set_detach(qel_handle_t *h, uint32_t dbid,
                                      const void *obj, int how);
/* Returns 0 when the object still has references, non-zero when removed;
 * a failure is reported through *err. */
QEL_RT_API int qel_request_oid_mapping_destroy(qel_handle_t *h, uint32_t dbid,
                                               void *obj, uint32_t *err);
/* Returns 0 on success, else an error code. */
QEL_RT_API uint32_t qel_hd_mapping_destroy(qel_handle_t *h, uint32_t dbid,
                                           void *obj);
/* Place of the state area of an object flagged QEL_OF_STTR_RT. */
QEL_RT_API uint8_t *qellib_get_sttr_offset(qel_handle_t *h, const void *obj);
QEL_RT_API void qellib_update_sttr_offset(qel_handle_t *h, const void *obj,
                                          uint32_t distance);
/* Scratch workspace of a handle. */
QEL_RT_API void qellib_get_handle_ws(qel_handle_t *h, uint8_t **buf,
                                     uint32_t *len);
/* Memory accounting: tags the next allocation. */
QEL_RT_API void vindel_set_callsite_tag(uint32_t tag);

/* ------------------------------------------------------------------ */
/* Module list                                                         */
/* ------------------------------------------------------------------ */

typedef struct qel_module_desc {
    const char *name;
    qel_type_info_t *const *types;       /* null-terminated */
    struct qel_module_desc *next;
    struct qel_module_desc **prev_link;  /* the link that refers to this */
} qel_module_desc_t;

typedef struct qel_module_list {
    qel_module_desc_t *first;
    qel_module_desc_t **last_link;
    uint32_t count;
} qel_module_list_t;

QEL_RT_API extern qel_module_list_t qel_module_tot_root;

/* ------------------------------------------------------------------ */
/* Trace facility                                                      */
/* ------------------------------------------------------------------ */

/* A trace table as the facility decodes it: the 16-byte identifier first,
 * so that the identifier's address is the descriptor's. */
typedef struct qel_trace_table {
    uint8_t id[16];
    uint16_t version;
    uint16_t table_no;
    uint32_t count;
    const char *const *formats;
} qel_trace_table_t;

QEL_RT_API int pendra_module_init_fn(const char *name, uint16_t *module_id,
                                     void *state);
QEL_RT_API void __PDf_0(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl);
QEL_RT_API void __PDf_1(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
                        const char *a);
QEL_RT_API void __PDf_4(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
                        uint32_t a);
QEL_RT_API void __PDf_11(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
                         const char *a, const char *b);
QEL_RT_API void __PDf_14(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
                         const char *a, uint32_t b);
QEL_RT_API void __PDf_44(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
                         uint32_t a, uint32_t b);
QEL_RT_API void __PDf_111(const void *tbl, uint32_t idx, uint16_t mod,
                          uint32_t lvl, const char *a, const char *b,
                          const char *c);
QEL_RT_API void __PDf_444(const void *tbl, uint32_t idx, uint16_t mod,
                          uint32_t lvl, uint32_t a, uint32_t b, uint32_t c);

/* ------------------------------------------------------------------ */
/* Key/range store                                                     */
/* ------------------------------------------------------------------ */

/* Registers [addr, addr+len) in the key/range database; 1 on success. */
QEL_RT_API int quarl_set_range(void *db, void *addr, uint32_t len, uint32_t dbid);
QEL_RT_API int quarl_in_range(void *db, const void *addr, uint32_t len);
/* 1 when the key now holds value, 0 when it could not be stored. */
QEL_RT_API int quarl_set_key(void *db, const char *key, void *value);
QEL_RT_API void *quarl_get_key(void *db, const char *key);
QEL_RT_API void quarl_perror(int rc, const char *what);

/* ------------------------------------------------------------------ */
/* Scalar objects and codecs                                           */
/* ------------------------------------------------------------------ */

/* A scalar object is the address of the value it stands for. */
typedef uint8_t u_int8;
typedef uint16_t u_int16;
typedef uint32_t u_int32;

QEL_RT_API u_int8 *u_int8_get(qel_handle_t *h, uint32_t dbid, void *field);
QEL_RT_API u_int16 *u_int16_get(qel_handle_t *h, uint32_t dbid, void *field);
QEL_RT_API u_int32 *u_int32_get(qel_handle_t *h, uint32_t dbid, void *field);
QEL_RT_API uint8_t u_int8_get_value(qel_handle_t *h, uint32_t dbid,
                                    const u_int8 *obj, uint32_t *err);
QEL_RT_API uint16_t u_int16_get_value(qel_handle_t *h, uint32_t dbid,
                                      const u_int16 *obj, uint32_t *err);
QEL_RT_API uint32_t u_int32_get_value(qel_handle_t *h, uint32_t dbid,
                                      const u_int32 *obj, uint32_t *err);
/* Setters announce the write through the handle's write hook. */
QEL_RT_API void u_int8_set_value(qel_handle_t *h, uint32_t dbid, u_int8 *obj,
                                 uint32_t v, uint32_t *err);
QEL_RT_API void u_int16_set_value(qel_handle_t *h, uint32_t dbid, u_int16 *obj,
                                  uint32_t v, uint32_t *err);
QEL_RT_API void u_int32_set_value(qel_handle_t *h, uint32_t dbid, u_int32 *obj,
                                  uint32_t v, uint32_t *err);
QEL_RT_API void u_int8_set(qel_handle_t *h, uint32_t dbid, u_int8 *dst,
                           const u_int8 *src, uint32_t *err);
QEL_RT_API void u_int16_set(qel_handle_t *h, uint32_t dbid, u_int16 *dst,
                            const u_int16 *src, uint32_t *err);
QEL_RT_API void u_int32_set(qel_handle_t *h, uint32_t dbid, u_int32 *dst,
                            const u_int32 *src, uint32_t *err);

/* Codecs: network byte order, fixed widths 1, 2, 4 and 1 bytes.  Each
 * returns the bytes written or read; with less room than its width it
 * writes or reads nothing, sets *err to 90 and returns 0. */
QEL_RT_API uint32_t u_int8_len(void);
QEL_RT_API uint32_t u_int16_len(void);
QEL_RT_API uint32_t u_int32_len(void);
QEL_RT_API uint32_t char_len(void);
QEL_RT_API uint32_t u_int8_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                                   const u_int8 *v, uint32_t room, uint32_t *err);
QEL_RT_API uint32_t u_int16_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                                    const u_int16 *v, uint32_t room, uint32_t *err);
QEL_RT_API uint32_t u_int32_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                                    const u_int32 *v, uint32_t room, uint32_t *err);
QEL_RT_API uint32_t char_marshal(qel_handle_t *h, uint32_t dbid, uint8_t *buf,
                                 const char *v, uint32_t room, uint32_t *err);
QEL_RT_API uint32_t u_int8_unmarshal(qel_handle_t *h, uint32_t dbid,
                                     const uint8_t *buf, u_int8 *v, uint32_t room,
                                     int in_place, uint32_t *err);
QEL_RT_API uint32_t u_int16_unmarshal(qel_handle_t *h, uint32_t dbid,
                                      const uint8_t *buf, u_int16 *v,
                                      uint32_t room, int in_place, uint32_t *err);
QEL_RT_API uint32_t u_int32_unmarshal(qel_handle_t *h, uint32_t dbid,
                                      const uint8_t *buf, u_int32 *v,
                                      uint32_t room, int in_place, uint32_t *err);
QEL_RT_API uint32_t char_unmarshal(qel_handle_t *h, uint32_t dbid,
                                   const uint8_t *buf, char *v, uint32_t room,
                                   int in_place, uint32_t *err);
/* List element count: 4 bytes. */
QEL_RT_API uint32_t _qel_list_len_marshal(qel_handle_t *h, uint8_t *buf,
                                          uint32_t count, uint32_t room,
                                          uint32_t *err);
QEL_RT_API uint32_t _qel_list_len_unmarshal(qel_handle_t *h, const uint8_t *buf,
                                            uint32_t *count, uint32_t room,
                                            uint32_t *err);
/* Instance header block: variant byte, flags byte, ra-data block. */
QEL_RT_API uint32_t _qel_instance_variant_marshal(qel_handle_t *h, uint8_t *buf,
                                                  int8_t variant, uint32_t room,
                                                  uint32_t *err);
QEL_RT_API uint32_t _qel_instance_variant_unmarshal(qel_handle_t *h,
                                                    const uint8_t *buf,
                                                    int8_t *variant,
                                                    uint32_t room, uint32_t *err);
QEL_RT_API uint32_t _qel_instance_obj_flag_marshal(qel_handle_t *h, uint8_t *buf,
                                                   uint8_t flags, uint32_t room,
                                                   uint32_t *err);
QEL_RT_API uint32_t _qel_instance_obj_flag_unmarshal(qel_handle_t *h,
                                                     const uint8_t *buf,
                                                     uint8_t *flags,
                                                     uint32_t room, uint32_t *err);
/* ra-data block: a 64-bit value and a byte (9 bytes on the wire). */
QEL_RT_API uint32_t _qel_instance_ra_data_marshal(qel_handle_t *h, uint8_t *buf,
                                                  uint64_t value, uint8_t byte,
                                                  uint32_t room, uint32_t *err);
QEL_RT_API uint32_t _qel_instance_ra_data_unmarshal(qel_handle_t *h,
                                                    const uint8_t *buf,
                                                    uint64_t *value, uint8_t *byte,
                                                    uint32_t room, uint32_t *err);
/* Variant jump: 4 bytes. */
QEL_RT_API uint32_t _qel_variant_jump_marshal(qel_handle_t *h, uint8_t *buf,
                                              uint32_t jump, uint32_t room,
                                              uint32_t *err);
QEL_RT_API uint32_t _qel_variant_jump_unmarshal(qel_handle_t *h,
                                                const uint8_t *buf,
                                                uint32_t *jump, uint32_t room,
                                                uint32_t *err);

/* ------------------------------------------------------------------ */
/* Hashes                                                              */
/* ------------------------------------------------------------------ */

QEL_RT_API uint32_t u_int8_hash(const u_int8 *v, uint32_t seed);
QEL_RT_API uint32_t u_int16_hash(const u_int16 *v, uint32_t seed);
QEL_RT_API uint32_t u_int32_hash(const u_int32 *v, uint32_t seed);
QEL_RT_API uint32_t SuperFastHash(const char *data, int len, uint32_t seed);

/* ------------------------------------------------------------------ */
/* Memory helpers                                                      */
/* ------------------------------------------------------------------ */

/* Plain memory outside any database (the message recorder's buffer). */
QEL_RT_API void *qellib_malloc(void *ctx, uint32_t dbid, uint32_t size);
QEL_RT_API void qellib_free(void *ctx, uint32_t dbid, void *p);

#ifdef __cplusplus
}
#endif

#include "qel/rt_msg.h"
#include "qel/rt_text.h"
#include "qel/rt_db.h"

#endif /* QEL_RUNTIME_H */
