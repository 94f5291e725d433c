// lifecycle.h -- create, initialize, destroy and sizes of the structured
// instances (types/lifecycle.cpp).
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/frame.h"
#include "types/enums.h"
#include "types/schema.h"

namespace lomari {

void *obj_create(const TypeDesc &T, H *h, uint32_t db);           // trace module, then worker
void *obj_create_cr(const TypeDesc &T, H *h);
void *obj_create_internal(const TypeDesc &T, H *h, uint32_t db);  // the worker
void obj_initialize(const TypeDesc &T, H *h, uint32_t db, void *inst, qel_type_info_t *ti,
                    uint32_t notify, uint32_t skip_stats, uint8_t or_flags, uint8_t *state_base,
                    uint32_t *err);
// The flag words initialize and destroy take, as the exported forms spell
// them: whether header writes are announced, whether the creation is
// counted, whether destroy frees the storage (nested instances live in
// their owner's block).
inline constexpr uint32_t kAnnounce = 1;
inline constexpr uint32_t kCount = 0;  // skip-statistics off
inline constexpr uint32_t kFreeStorage = 1, kKeepStorage = 0;

// Initialize in two steps, for a caller that makes many instances of one
// type at once (a decoder building a list or an element block): what the
// runtime answers for the type and its enumeration fields within one
// operation -- the domain's variant, the type-info reference, the handle's
// mode -- is asked once by init_plan; init_apply then makes the writes,
// announcements and statistics of one instance exactly as initialize does.
struct InitPlan {
    qel_type_info_t *ti;         // the reference instances take
    int8_t variant;
    bool track;
    bool batch;                  // creations gathered in `made`, counted by init_flush
    mutable uint32_t made;
    uint8_t n_enums;             // T's enumeration fields: where, and their answers
    struct {
        uint16_t offset;
        EnumInit init;
    } enums[kMaxEnumFields];
};
// False after an error of the domain lookup (in *err).
bool init_plan(const TypeDesc &T, H *h, uint32_t db, qel_type_info_t *ti, InitPlan *p, uint32_t *err);
// For a caller that makes many instances with one plan: on a handle whose
// counts are added inline (qel/rt_inline.h) the creations are gathered and
// counted in one add by init_flush, which the caller runs before it
// returns, whatever happened; elsewhere each creation is counted as made.
void init_batch(InitPlan &p, H *h);
void init_flush(const InitPlan &p);
void init_apply(const TypeDesc &T, const InitPlan &p, H *h, uint32_t db, void *inst, uint32_t notify,
                uint32_t skip_stats, uint8_t or_flags, uint8_t *state_base, uint32_t *err);
// create_internal with a plan: storage, init_apply, the creation reports.
void *obj_create_with(const TypeDesc &T, const InitPlan &p, H *h, uint32_t db);

// Fresh instances of one flat type made in a row after one plan (a decoder
// filling a new list).  Where nothing observes an initialize -- counts
// gathered by init_batch (a quiet handle without a statistics hook), no
// write hook, no containment reports, a plain handle, a variant count that
// is not short -- every instance leaves it with the same bytes: the first
// is made by obj_create_with and its bytes kept, the others are allocated
// and copied from them, their creations gathered as obj_create_with would.
inline constexpr uint32_t kFreshMax = 256;
struct FreshRun {
    uint32_t size = 0;  // bytes kept; 0 until an instance allows it
    alignas(8) uint8_t bytes[kFreshMax];
};
inline void *fresh_create(const TypeDesc &T, const InitPlan &p, FreshRun &r, H *h, uint32_t db) {
    if (__builtin_expect(r.size != 0, 1)) {
        if (h->chained_error && h->err) return T.null_obj;
        void *o = h->alloc_fn(h->alloc_ctx, db, r.size);
        if (!o) {
            if (!h->chained_error) return nullptr;
            qel_store_err(h, LOMARI_ERR_NO_MEMORY);
            return T.null_obj;
        }
        std::memcpy(o, r.bytes, r.size);
        ++p.made;
        return o;
    }
    void *o = obj_create_with(T, p, h, db);
    const qel_variant_info_t *vi = p.ti ? p.ti->varinfo : nullptr;
    if (o && o != T.null_obj && p.batch && !p.track && !h->write_hook_fn && !h->containment_tracking &&
        T.list_field < 0 && T.array_field < 0 && vi && vi->n_variants >= p.variant && T.plain_size <= kFreshMax) {
        std::memcpy(r.bytes, o, T.plain_size);
        r.size = T.plain_size;
    }
    return o;
}

// The instances of an element block (types/layout.h), for the array
// family: destroy_in_block destroys count elements in place (free 0);
// init_in_block prepares elements [from, n) of a block of n as nested
// instances after the caller's plan for the element type, each with its
// state bytes' place registered on a tracking handle.  Every element is
// prepared even when one fails; the first error is returned.
void destroy_in_block(const TypeDesc &Elem, H *h, uint32_t db, uint8_t *block, uint32_t count);
// The destroy of many instances of one type that own nothing, one by one
// (a list being emptied): the checks of a type-info reference are made
// once for the run of instances that share it, and on a handle whose
// counts are added inline the destructions are counted in one add by
// destroy_flush, which the caller runs at the end.
struct DestroyRun {
    const qel_type_info_t *seen = nullptr;  // reference checked last
    const qel_variant_info_t *vi = nullptr;
    bool batch = false;
    uint32_t gone = 0;                      // destructions of seen's record 0 not yet counted
};
void destroy_run(const TypeDesc &Elem, DestroyRun &r, H *h, uint32_t db, void *inst, uint32_t free_it);
void destroy_flush(DestroyRun &r);
uint32_t init_in_block(const TypeDesc &Elem, const InitPlan &plan, H *h, uint32_t db, uint8_t *block,
                       uint32_t from, uint32_t n, bool track);
void obj_destroy(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t free_it);
uint32_t obj_sizeof(const TypeDesc &T, H *h);
uint32_t obj_sizeof_internal(const TypeDesc &T, H *h, uint32_t db, uint32_t with_state,
                             uint32_t state_only);

}  // namespace lomari
