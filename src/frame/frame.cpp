// frame.cpp -- trace emission, type-info selection, counting and registered
// link writes shared by every family.
#include "frame/frame.h"

#include <cstring>

#include "lomari/lomari.h"

namespace lomari {

namespace {
uint32_t level_of(const qel_trace_table_t &t, uint32_t idx) {
    const uint32_t *levels = t.table_no == 0 ? kTraceLevel0 : t.table_no == 1 ? kTraceLevel1 : kTraceLevel2;
    return idx < t.count ? levels[idx] : QEL_TL_ERROR;
}
// The module id is read at each call: the runtime may register late.
inline uint16_t mod() { return trace_module_id(); }
}  // namespace

void trace0(const qel_trace_table_t &t, uint32_t idx) { __PDf_0(&t, idx, mod(), level_of(t, idx)); }
void trace_s(const qel_trace_table_t &t, uint32_t idx, const char *a) {
    __PDf_1(&t, idx, mod(), level_of(t, idx), a);
}
void trace_ss(const qel_trace_table_t &t, uint32_t idx, const char *a, const char *b) {
    __PDf_11(&t, idx, mod(), level_of(t, idx), a, b);
}
void trace_sss(const qel_trace_table_t &t, uint32_t idx, const char *a, const char *b, const char *c) {
    __PDf_111(&t, idx, mod(), level_of(t, idx), a, b, c);
}
void trace_u(const qel_trace_table_t &t, uint32_t idx, uint32_t a) {
    __PDf_4(&t, idx, mod(), level_of(t, idx), a);
}
void trace_uu(const qel_trace_table_t &t, uint32_t idx, uint32_t a, uint32_t b) {
    __PDf_44(&t, idx, mod(), level_of(t, idx), a, b);
}
void trace_uuu(const qel_trace_table_t &t, uint32_t idx, uint32_t a, uint32_t b, uint32_t c) {
    __PDf_444(&t, idx, mod(), level_of(t, idx), a, b, c);
}
void trace_su(const qel_trace_table_t &t, uint32_t idx, const char *a, uint32_t b) {
    __PDf_14(&t, idx, mod(), level_of(t, idx), a, b);
}

void fatal(const qel_trace_table_t &t, uint32_t idx) {
    trace0(t, idx);
    std::abort();
}

const char *err_text(uint32_t code) { return std::strerror(static_cast<int>(code)); }

qel_type_info_t *registered_tinfo(qel_handle_t *h, uint32_t db, qel_type_info_t *static_ti) {
    return qel_type_info_ptr_get(h, db, static_ti, lomari_typeinfo_initialize);
}

void count_object(qel_handle_t *h, uint32_t db, const qel_type_info_t *ti, int8_t variant,
                  bool created, const qel_trace_table_t &t, uint32_t varinfo_idx, uint32_t count_idx) {
    const qel_variant_info_t *vi = ti->varinfo;
    if (!vi) fatal(t, varinfo_idx);
    if (vi->n_variants < variant)
        trace_uu(t, count_idx, static_cast<uint32_t>(variant), static_cast<uint32_t>(vi->n_variants));
    qel_variant_record_t *vr = variant_record(ti, variant);
    uint64_t *counter = created ? &vr->created : &vr->destroyed;
    if (h->stats_inc_fn) h->stats_inc_fn(h->alloc_ctx, counter, 1, db);
    if (ti->counter_mode)
        ++*counter;
    else
        __atomic_fetch_add(counter, 1, __ATOMIC_RELAXED);
}

void link_register_with(const TypeDesc &T, qel_handle_t *h, uint32_t db, void *word, const void *dirty_obj) {
    int rc = quarl_set_range(h->alloc_ctx, word, 8, db);
    if (plat_reports(h, db)) qeldb_plat_set_dirty(h, db, dirty_obj);
    if (rc != 1) {
        quarl_perror(rc, "lomari link word");
        fatal(kTrace1, tpi(T, tp::type::quarl));
    }
}

}  // namespace lomari
