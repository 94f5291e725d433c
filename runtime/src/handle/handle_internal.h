/*
 * handle/handle_internal.h -- the handle and memory room's private interface.
 *
 * Owns the declarations of: the allocators (handle.cpp, pool.cpp), the
 * layout of a registered copy's variant records, and the private part of a
 * handle.
 */
#ifndef QELRT_HANDLE_INTERNAL_H
#define QELRT_HANDLE_INTERNAL_H

#include "internal.h"

struct qelrt_db;

namespace qelrt {

/* ---- allocators (handle.cpp, pool.cpp) ------------------------------- */

/* Header-carrying malloc blocks; counted says whether the block takes
 * part in the alloc/free/live-bytes accounting. */
void *hdr_alloc(uint32_t size, bool counted);
void hdr_free(void *p);

void *default_alloc(void *alloc_ctx, uint32_t dbid, uint32_t size);
void *pool_alloc(void *alloc_ctx, uint32_t dbid, uint32_t size);
/* Frees a block of either allocator: pool blocks are told apart by
 * address, so a handle may switch allocators while objects are live. */
void any_free(void *alloc_ctx, uint32_t dbid, void *mem);

/* ---- variant records of registered copies (errors_types.cpp, and
 * shared_db.cpp for copies in a segment) ------------------------------ */

/* The bytes of a variant info with a record for every variant of svi. */
inline size_t variant_info_bytes(const qel_variant_info_t *svi) {
    const int n = svi->n_variants > 0 ? svi->n_variants : 1;
    return sizeof(qel_variant_info_t) + n * sizeof(qel_variant_record_t);
}
/* Lays out vi, zero-filled and variant_info_bytes(svi) long, as svi's
 * copy: its count and records, everything but the counters, which stay at
 * zero (other threads add to svi's meanwhile). */
inline void variant_info_fill(qel_variant_info_t *vi, const qel_variant_info_t *svi) {
    vi->n_variants = svi->n_variants;
    vi->variants = reinterpret_cast<qel_variant_record_t *>(vi + 1);
    for (int i = 0; i < svi->n_variants; ++i) {
        const qel_variant_record_t &s = svi->variants[i];
        qel_variant_record_t &d = vi->variants[i];
        d.table_word = s.table_word;
        d.used_length = s.used_length;
        d.alloc_slop = s.alloc_slop;
        d.zero = s.zero;
        d.spare = s.spare;
    }
}

/* The hooks a handle bound to a shared database carries (shared_db.cpp),
 * and the call that puts them on (handle.cpp; caller holds g_live_mu). */
void journal_write_hook(qel_handle_t *h, void *addr, uint32_t len, uint32_t dbid, void *owner);
int journal_stats_hook(void *alloc_ctx, uint64_t *counter, uint64_t amount, uint32_t dbid);
extern std::mutex g_live_mu;
void bind_hooks(qel_handle_t *h);

/* ---- the private part of a handle (handle.cpp) ----------------------- */

struct HandlePrivate {
    qel_check_record_t check{};
    std::mutex mu; /* dictionary and type allocations */
    /* Looked up by the caller's signature text as is: no key is built.
     * Signatures are short (32 hex digits), so the hash takes eight bytes
     * at a time. */
    struct SigHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            uint64_t x = 0x9E3779B97F4A7C15ull ^ s.size();
            size_t i = 0;
            for (; i + 8 <= s.size(); i += 8) {
                uint64_t w;
                std::memcpy(&w, s.data() + i, 8);
                x = (x ^ w) * 0xff51afd7ed558ccdull;
                x ^= x >> 32;
            }
            uint64_t w = 0;
            std::memcpy(&w, s.data() + i, s.size() - i);
            x = (x ^ w) * 0xc4ceb9fe1a85ec53ull;
            return static_cast<size_t>(x ^ (x >> 29));
        }
    };
    std::unordered_map<std::string, void *, SigHash, std::equal_to<>> dict;
    std::vector<void *> type_allocs;
    std::vector<void *> variant_allocs; /* per-copy variant infos */
    uint8_t *ws = nullptr;
    uint32_t ws_len = 0;
    QuarlDb *quarl = nullptr;
    qel_db_stats_t db_stats{};
    SttrPlaces sttr;
    /* The hooks the runtime last put on the handle; a hook the caller
     * replaced since is left alone when logging changes. */
    qel_write_hook_fn hook_set = nullptr;
    qel_stats_inc_fn stats_set = nullptr;
    size_t live_index = 0; /* place in the live-handle list */
    /* The handle's database memory, made by the first database call. */
    std::unique_ptr<DbState, DbStateFree> db;
    /* The shared database the handle is bound to (qelrt_handle_bind_db),
     * null for a handle whose database memory is its own. */
    qelrt_db *shared = nullptr;
};

inline HandlePrivate *priv(const qel_handle_t *h) {
    return static_cast<HandlePrivate *>(h->rt_private);
}

} // namespace qelrt

#endif /* QELRT_HANDLE_INTERNAL_H */
