// registry.cpp -- how the domain's types become known to the runtime.
//
// Owns the module descriptor (linked into the runtime's module list when
// the library is loaded, unlinked when it is unloaded), registration of the
// type-info records into a handle's dictionary, the trace module id and
// its lazy initialisation, the variant dump and the bundle handler slot.
#include <cstring>

#include "frame/frame.h"
#include "lomari/lomari.h"

extern "C" {
LOMARI_API uint16_t g_qel_lomari_trace_module_id = 0;
LOMARI_API uint16_t g_qel_lomari_stub_trace_module_id = 0;
LOMARI_API void *lomari_bundle_registered_handler = nullptr;
}

namespace lomari {

namespace {

// The trace facility's registration state for this module.
uint64_t g_trace_state = 0;

qel_module_desc_t g_module = {"lomari", kTypeList, nullptr, nullptr};
bool g_module_linked = false;

// Appends the descriptor at the list's last link; once per load.
__attribute__((constructor)) void module_link() {
    if (g_module_linked) return;
    qel_module_list_t &l = qel_module_tot_root;
    g_module.next = nullptr;
    g_module.prev_link = l.last_link;
    *l.last_link = &g_module;
    l.last_link = &g_module.next;
    l.count += 1;
    g_module_linked = true;
}

__attribute__((destructor)) void module_unlink() {
    if (!g_module.next && !g_module.prev_link) return;
    qel_module_list_t &l = qel_module_tot_root;
    if (g_module.next)
        g_module.next->prev_link = g_module.prev_link;
    else
        l.last_link = g_module.prev_link;
    *g_module.prev_link = g_module.next;
    g_module.next = nullptr;
    g_module.prev_link = nullptr;
    l.count -= 1;
}

}  // namespace

void ensure_trace_module() {
    if (trace_module_id() == 0)
        pendra_module_init_fn("qel_lomari", &g_qel_lomari_trace_module_id, &g_trace_state);
}

}  // namespace lomari

using namespace lomari;

extern "C" LOMARI_API void lomari_typeinfo_initialize(qel_handle_t *h, uint32_t db, uint32_t *err) {
    // A copy is the record followed by two pointer-sized words the runtime owns.
    constexpr uint32_t kCopySize = sizeof(qel_type_info_t) + 2 * sizeof(void *);
    for (qel_type_info_t *const *p = kTypeList; *p; ++p) {
        qel_type_info_t *t = *p;
        void *found = h->type_dict_lookup_fn(h->type_dict_ctx, db, t->signature);
        if (found) {
            if (t->varinfo)
                qel_update_variant_info(h, db, static_cast<qel_type_info_t *>(found), t, 0);
            continue;
        }
        void *mem = h->type_alloc_fn(h->type_alloc_ctx, QEL_NO_DATABASE, kCopySize);
        if (!mem) {
            report(h, err, LOMARI_ERR_NO_MEMORY);
            return;
        }
        auto *copy = static_cast<qel_type_info_t *>(mem);
        std::memcpy(copy, t, sizeof *t);
        std::memset(static_cast<uint8_t *>(mem) + sizeof *t, 0, 2 * sizeof(void *));
        copy->counter_mode = h->per_handle_types;
        copy->type_index = -1;
        // The copy gets its own variant records before it is published:
        // another thread creating on this handle finds it at once, and
        // must never add plainly to the static records every handle
        // shares.  Should the runtime keep the shared records, the copy
        // counts atomically.
        if (t->varinfo) qel_update_variant_info(h, db, copy, t, 1);
        if (copy->varinfo == t->varinfo) copy->counter_mode = 0;
        h->type_dict_insert_fn(h->type_dict_ctx, db, copy->signature, copy);
    }
}

extern "C" LOMARI_API int qel_lomari_trace_init(void) {
    return pendra_module_init_fn("qel_lomari", &g_qel_lomari_trace_module_id, &g_trace_state);
}

extern "C" LOMARI_API void lomari_type_variant_dump(int (*print)(const char *fmt, ...)) {
    for (qel_type_info_t *const *p = kTypeList; *p; ++p) {
        const qel_variant_info_t *vi = (*p)->varinfo;
        if (!vi) {
            trace0(kTrace1, tp::domain::dump_no_varinfo);
            continue;
        }
        print("n_variants %d\n", vi->n_variants);
        for (int k = 0; k < vi->n_variants; ++k)
            print("variant %d used length %d alloc slop %d\n", k, static_cast<int>(vi->variants[k].used_length),
                  static_cast<int>(vi->variants[k].alloc_slop));
    }
}

extern "C" LOMARI_API void *lomari_bundle_handler_register(void *handler) {
    void *old = lomari_bundle_registered_handler;
    lomari_bundle_registered_handler = handler;
    return old;
}

extern "C" LOMARI_API void *lomari_bundle_handler_unregister(void) {
    void *old = lomari_bundle_registered_handler;
    lomari_bundle_registered_handler = nullptr;
    return old;
}
