/*
 * db_reports.cpp -- statistics, database reports and mappings, module list.
 *
 * Owns: the created/destroyed counters (qellib_type_stats_*), the
 * containment, dirty, destroy and detach reports (logged only), the OID and
 * handle mapping removals, the state-area places (the knob's answer, else
 * the handle's lock-free table of registered places),
 * the call-site tag and the module list head qel_module_tot_root.
 */
#include <cstdlib>

#include "internal.h"
#include "qel/rt_inline.h"

using namespace qelrt;

namespace {

/* Adds one: plainly for a handle's registered copy (counter mode
 * non-zero), with an atomic add for a static record that every handle
 * shares; the same add a quiet handle makes inline. */
inline void add_one(const qel_type_info_t *ti, uint64_t *counter) {
    qel_inline_count_one(ti, counter);
}

/* Logs the call, announces the increment to the handle's statistics hook,
 * then adds one.  Kept out of line so that the common case below (nothing
 * observing, no hook) saves no registers. */
__attribute__((noinline)) void count_observed(const char *fn, qel_handle_t *h, uint32_t dbid,
                                              const qel_type_info_t *ti,
                                              qel_variant_record_t *vr, uint64_t *counter) {
    logc(fn, w(h), dbid, w(ti), w(vr));
    if (!vr)
        return;
    if (h && h->stats_inc_fn)
        h->stats_inc_fn(h->alloc_ctx, counter, 1, dbid);
    add_one(ti, counter);
}

inline bool unobserved(const qel_handle_t *h) {
    return !g_logging.load(std::memory_order_relaxed) && (!h || !h->stats_inc_fn);
}

} // namespace

extern "C" {

qel_module_list_t qel_module_tot_root = {nullptr, &qel_module_tot_root.first, 0};

void qellib_type_stats_create_object(qel_handle_t *h, uint32_t dbid,
                                     const qel_type_info_t *ti,
                                     qel_variant_record_t *vr, uint32_t *err) {
    if (uint32_t code = g_knobs.stats_create_error.load(std::memory_order_relaxed);
        RT_UNLIKELY(code != 0)) {
        logc("qellib_type_stats_create_object", w(h), dbid, w(ti), w(vr));
        if (err)
            *err = code;
        return;
    }
    if (RT_LIKELY(unobserved(h))) {
        if (vr)
            add_one(ti, &vr->created);
        return;
    }
    count_observed("qellib_type_stats_create_object", h, dbid, ti, vr,
                   vr ? &vr->created : nullptr);
}

void qellib_type_stats_destroy_object(qel_handle_t *h, uint32_t dbid,
                                      const qel_type_info_t *ti,
                                      qel_variant_record_t *vr, uint32_t */*err*/) {
    if (RT_LIKELY(unobserved(h))) {
        if (vr)
            add_one(ti, &vr->destroyed);
        return;
    }
    count_observed("qellib_type_stats_destroy_object", h, dbid, ti, vr,
                   vr ? &vr->destroyed : nullptr);
}

void qeldb_record_containment2(qel_handle_t *h, uint32_t dbid, const void *obj,
                               const void *parent) {
    logc("qeldb_record_containment2", w(h), dbid, w(obj), w(parent));
}

void qeldb_plat_set_dirty(qel_handle_t *h, uint32_t dbid, const void *obj) {
    logc("qeldb_plat_set_dirty", w(h), dbid, w(obj));
}

void qeldb_plat_set_destroy(qel_handle_t *h, uint32_t dbid, const void *obj) {
    logc("qeldb_plat_set_destroy", w(h), dbid, w(obj));
}

void qeldb_plat_set_detach(qel_handle_t *h, uint32_t dbid, const void *obj, int how) {
    logc("qeldb_plat_set_detach", w(h), dbid, w(obj), (uint64_t)(int64_t)how);
}

int qel_request_oid_mapping_destroy(qel_handle_t *h, uint32_t dbid, void *obj,
                                    uint32_t *err) {
    logc("qel_request_oid_mapping_destroy", w(h), dbid, w(obj));
    uint32_t code = g_knobs.oid_error.load(std::memory_order_relaxed);
    if (code) {
        if (err)
            *err = code;
        return 0;
    }
    return g_knobs.oid_answer.load(std::memory_order_relaxed);
}

uint32_t qel_hd_mapping_destroy(qel_handle_t *h, uint32_t dbid, void *obj) {
    logc("qel_hd_mapping_destroy", w(h), dbid, w(obj));
    return g_knobs.hd_answer.load(std::memory_order_relaxed);
}

/* The state area of an object whose bytes live apart from it: the knob's
 * place when set, else the object plus the distance registered for it. */
uint8_t *qellib_get_sttr_offset(qel_handle_t *h, const void *obj) {
    logc("qellib_get_sttr_offset", w(h), w(obj));
    if (uint8_t *p = g_knobs.sttr_place.load(std::memory_order_relaxed)) return p;
    if (!h || !obj) return nullptr;
    uint32_t distance;
    if (!priv(h)->sttr.find(obj, &distance)) return nullptr;
    return const_cast<uint8_t *>(static_cast<const uint8_t *>(obj)) + distance;
}

void qellib_update_sttr_offset(qel_handle_t *h, const void *obj, uint32_t distance) {
    logc("qellib_update_sttr_offset", w(h), w(obj), distance);
    if (!h || !obj) return;
    priv(h)->sttr.set(obj, distance);
}

void vindel_set_callsite_tag(uint32_t tag) {
    logc("vindel_set_callsite_tag", tag);
    g_knobs.callsite_tag.store(tag, std::memory_order_relaxed);
}


} // extern "C"

/* ---- state-area places ------------------------------------------------- */

namespace qelrt {

SttrPlaces::~SttrPlaces() {
    Table *t = table_.load(std::memory_order_relaxed);
    if (t)
        retired_.push_back(t);
    for (Table *r : retired_) {
        delete[] r->slots;
        delete r;
    }
}

bool SttrPlaces::find(const void *obj, uint32_t *distance) const {
    const Table *t = table_.load(std::memory_order_acquire);
    if (!t)
        return false;
    const uintptr_t key = reinterpret_cast<uintptr_t>(obj);
    for (size_t i = home(t, key);; i = (i + 1) & t->mask) {
        const uintptr_t k = t->slots[i].key.load(std::memory_order_acquire);
        if (k == key) {
            *distance = t->slots[i].value.load(std::memory_order_acquire);
            return true;
        }
        if (k == 0)
            return false;
    }
}

/* A table of twice the slots (64 at first) holding every entry of old,
 * published for lookups; old is kept for the lookups still inside it. */
SttrPlaces::Table *SttrPlaces::grow(Table *old) {
    const size_t n = old ? (old->mask + 1) * 2 : 64;
    auto *t = new Table;
    t->shift = 64 - static_cast<uint32_t>(__builtin_ctzll(n));
    t->mask = n - 1;
    t->used = 0;
    t->slots = new Slot[n];
    if (old) {
        for (size_t j = 0; j <= old->mask; ++j) {
            const uintptr_t k = old->slots[j].key.load(std::memory_order_relaxed);
            if (!k)
                continue;
            size_t i = home(t, k);
            while (t->slots[i].key.load(std::memory_order_relaxed))
                i = (i + 1) & t->mask;
            t->slots[i].value.store(old->slots[j].value.load(std::memory_order_relaxed),
                                    std::memory_order_relaxed);
            t->slots[i].key.store(k, std::memory_order_relaxed);
            ++t->used;
        }
        retired_.push_back(old);
    }
    table_.store(t, std::memory_order_release);
    return t;
}

void SttrPlaces::set(const void *obj, uint32_t distance) {
    uint32_t now;
    if (find(obj, &now) && now == distance)
        return;
    const uintptr_t key = reinterpret_cast<uintptr_t>(obj);
    std::lock_guard<std::mutex> g(mu_);
    Table *t = table_.load(std::memory_order_relaxed);
    if (!t || (t->used + 1) * 2 > t->mask + 1)
        t = grow(t);
    size_t i = home(t, key);
    for (;; i = (i + 1) & t->mask) {
        const uintptr_t k = t->slots[i].key.load(std::memory_order_relaxed);
        if (k == key) {
            t->slots[i].value.store(distance, std::memory_order_release);
            return;
        }
        if (k == 0)
            break;
    }
    t->slots[i].value.store(distance, std::memory_order_relaxed);
    t->slots[i].key.store(key, std::memory_order_release);
    ++t->used;
}

} // namespace qelrt
