/*
 * errors_types.cpp -- error storage, type-info lookup, domains and variants.
 *
 * Owns: qel_store_err, qel_store_epoch_err, qel_clear_last_error; the
 * registered-copy lookup (qel_type_info_ptr_get) and the variant-info
 * refresh report; reading the type-info reference, identifier, variant and
 * flags of an object header; the domain answers (variant, message/table
 * allowed) and variant adjustment.
 *
 * Object header as the runtime reads it: type-info pointer at offset 0,
 * signed variant byte at 8, second header byte at 9, flags byte at 10.
 */
#include <cstdlib>
#include <cstring>

#include "db/segment.h"
#include "internal.h"

using namespace qelrt;

namespace {

constexpr size_t kVariantOffset = 8;
constexpr size_t kFlagsOffset = 10;

int domain_allows(qel_handle_t */*h*/, const qel_type_info_t *ti) {
    if (!ti)
        return 0;
    return domain_refuses(ti->name) ? 0 : 1;
}

} // namespace

extern "C" {

/* ---- errors ----------------------------------------------------------- */

void qel_store_err(qel_handle_t *h, uint32_t code) {
    logc("qel_store_err", w(h), code);
    if (!h)
        return;
    h->err = code;
    h->last_error = code;
}

void qel_store_epoch_err(qel_handle_t *h, uint32_t code, uint32_t *err) {
    logc("qel_store_epoch_err", w(h), code, w(err));
    if (err)
        *err = code;
    if (h) {
        h->err = code;
        h->last_error = code;
    }
}

namespace {
__attribute__((noinline)) void clear_last_error_logged(qel_handle_t *h) {
    logc("qel_clear_last_error", w(h));
    if (h)
        h->last_error = 0;
}
} // namespace

void qel_clear_last_error(qel_handle_t *h) {
    if (RT_LIKELY(g_plain.load(std::memory_order_relaxed)) && h) {
        h->last_error = 0;
        return;
    }
    clear_last_error_logged(h);
}

uint32_t qelrt_last_error(const qel_handle_t *h) { return h ? h->last_error : 0; }

/* ---- types ------------------------------------------------------------ */

qel_type_info_t *qel_type_info_ptr_get(qel_handle_t *h, uint32_t dbid,
                                       qel_type_info_t *static_ti,
                                       qel_typeinfo_init_fn init) {
    logc("qel_type_info_ptr_get", w(h), dbid, w(static_ti), w((void *)init));
    if (!h || !static_ti || !h->type_dict_lookup_fn)
        return static_ti;
    void *copy = h->type_dict_lookup_fn(h->type_dict_ctx, dbid, static_ti->signature);
    if (!copy && init) {
        uint32_t local_err = 0;
        init(h, dbid, &local_err);
        copy = h->type_dict_lookup_fn(h->type_dict_ctx, dbid, static_ti->signature);
    }
    return copy ? static_cast<qel_type_info_t *>(copy) : static_ti;
}

void qel_update_variant_info(qel_handle_t *h, uint32_t dbid, qel_type_info_t *copy,
                             qel_type_info_t *static_ti, int is_new) {
    logc("qel_update_variant_info", w(copy), w(static_ti), (uint64_t)is_new, dbid);
    /* A new copy gets variant records of its own, so that objects referring
     * to it count per handle (with plain adds) and never share the static
     * records' counters, which other handles add to atomically. */
    if (!is_new || !h || !copy || !static_ti || !static_ti->varinfo) return;
    /* A copy made through a handle bound to a shared database has its
     * records in the segment, where every process counts into them. */
    if (priv(h)->shared && shared_db_at(copy)) {
        shared_variant_info(h, copy, static_ti);
        return;
    }
    const qel_variant_info_t *svi = static_ti->varinfo;
    auto *vi = static_cast<qel_variant_info_t *>(std::calloc(1, variant_info_bytes(svi)));
    if (!vi) return;
    variant_info_fill(vi, svi);
    copy->varinfo = vi;
    HandlePrivate *hp = priv(h);
    std::lock_guard<std::mutex> g(hp->mu);
    hp->variant_allocs.push_back(vi);
}

void **qel_get_manifested_type_info_ptr_mem(qel_handle_t *h, void *obj) {
    logc("qel_get_manifested_type_info_ptr_mem", w(h), w(obj));
    return static_cast<void **>(obj);
}

qel_type_info_t *qel_get_manifested_type_info(qel_handle_t *h, const void *obj) {
    logc("qel_get_manifested_type_info", w(h), w(obj));
    if (!obj)
        return nullptr;
    qel_type_info_t *ti;
    std::memcpy(&ti, obj, sizeof ti);
    return ti;
}

int qel_get_luid(qel_handle_t *h, uint32_t dbid, const void *obj,
                 uint8_t *luid_out, uint32_t *err) {
    logc("qel_get_luid", w(h), dbid, w(obj), w(luid_out));
    const qel_type_info_t *ti = obj ? qel_get_manifested_type_info(h, obj) : nullptr;
    if (!ti || !luid_out) {
        if (err)
            *err = 22;
        return -1;
    }
    std::memcpy(luid_out, ti->luid, sizeof ti->luid);
    return 0;
}

/* ---- domains and variants -------------------------------------------- */

namespace {

/* The general paths of the two variant answers: logged, and steered by the
 * knobs.  With neither (g_plain) the answers are variant 0 and the
 * object's own variant byte. */
__attribute__((noinline)) int domain_variant_general(qel_handle_t *h,
                                                     const qel_domain_t *domain,
                                                     const qel_type_info_t *ti,
                                                     uint32_t *err) {
    logc("qel_domain_lookup_variant", w(h), w(domain), w(ti));
    uint32_t code = g_knobs.domain_variant_error.load(std::memory_order_relaxed);
    if (code && err)
        *err = code;
    return g_knobs.domain_variant.load(std::memory_order_relaxed);
}

__attribute__((noinline)) int instance_variant_general(qel_handle_t *h, const void *obj,
                                                       int a, int b) {
    logc("qel_get_instance_variant", w(h), w(obj), (uint64_t)(int64_t)a,
         (uint64_t)(int64_t)b);
    if (g_knobs.force_variant_on.load(std::memory_order_relaxed))
        return g_knobs.force_variant_value.load(std::memory_order_relaxed);
    if (!obj)
        return -1;
    return static_cast<const int8_t *>(obj)[kVariantOffset];
}

} // namespace

int qel_domain_lookup_variant(qel_handle_t *h, const qel_domain_t *domain,
                              const qel_type_info_t *ti, uint32_t *err) {
    if (RT_LIKELY(g_plain.load(std::memory_order_relaxed)))
        return 0;
    return domain_variant_general(h, domain, ti, err);
}

int qel_domain_lookup_message_ok(qel_handle_t *h, const qel_domain_t *domain,
                                 const qel_type_info_t *ti, uint32_t */*err*/) {
    logc("qel_domain_lookup_message_ok", w(h), w(domain), w(ti));
    return domain_allows(h, ti);
}

int qel_domain_lookup_table_ok(qel_handle_t *h, const qel_domain_t *domain,
                               const qel_type_info_t *ti, uint32_t */*err*/) {
    logc("qel_domain_lookup_table_ok", w(h), w(domain), w(ti));
    return domain_allows(h, ti);
}

int qel_get_instance_variant(qel_handle_t *h, const void *obj, int a, int b) {
    if (RT_LIKELY(g_plain.load(std::memory_order_relaxed)) && obj)
        return static_cast<const int8_t *>(obj)[kVariantOffset];
    return instance_variant_general(h, obj, a, b);
}

uint8_t qel_get_instance_obj_flag(qel_handle_t *h, const void *obj) {
    logc("qel_get_instance_obj_flag", w(h), w(obj));
    return obj ? static_cast<const uint8_t *>(obj)[kFlagsOffset] : 0;
}

int qellib_adjust_variant(qel_handle_t *h, void *obj, const qel_type_info_t *ti,
                          int mode, uint32_t */*err*/) {
    logc("qellib_adjust_variant", w(h), w(obj), w(ti), (uint64_t)(int64_t)mode);
    return 0;
}

} // extern "C"
