// arrays.cpp -- the counted arrays of the three array-owning types.
//
// Owns element get and set (with growth), emptying, the whole and
// per-element state bytes, and the lifecycle hook that releases an owner's
// array at destroy.  One implementation serves every owner; the owner's
// descriptor gives the count and block offsets and the array field's
// element descriptor the element size and state-byte count.
//
// Shapes: the owner holds pair_count (u32) and the element-block pointer.
// The block is count elements of the element's plain size, side by side;
// on a tracking handle it continues with each element's own state bytes
// (n_state_fields per element, element i at block + count*size + i*n), and
// each element's place for them is registered with the runtime, because a
// nested element finds its state area through the runtime.  The owner's
// state area (ArrayOwnerState, types/layout.h) holds its field bytes and the
// array's whole byte, then the pointer to a separate array of one state
// byte per element.
//
// The block grows to exactly index + 1 elements when a set goes past its
// end: there is no reserve, so growing moves every element.
#include "types/arrays.h"

#include <atomic>
#include <cstdint>

#include "frame/entry.h"
#include "types/clone.h"
#include "types/fields.h"
#include "types/layout.h"
#include "types/lifecycle.h"

namespace lomari {

namespace {

// One flag per owner type: the first growth of an existing block in the
// life of the process is traced, later ones are not.  Relaxed on purpose:
// two threads racing here may both trace, which is harmless.
std::atomic<bool> g_realloc_traced[kTypeCount];

// Shared checks of the state-byte operations: a 0xDDDD handle has no state
// bytes to give (INVALID), a corrupted mode word is fatal, an untracked
// owner reports INVALID with the reader's or the writer's text.  Returns the owner's
// state area, or null after reporting.  A handle without a check record
// still reads a tracked owner's bytes.
uint8_t *checked_area(const TypeDesc &Owner, H *h, void *o, bool writer, uint32_t *err) {
    if (h->check_record && handle_mode(h, Owner) == Mode::Plain) {
        report(h, err, LOMARI_ERR_INVALID);
        return nullptr;
    }
    if (!(hdr(o)->flags & QEL_OF_TRACKED)) {
        trace0(kTrace1, tpi(Owner, writer ? tp::type::not_tracked : tp::type::non_tracked));
        report(h, err, LOMARI_ERR_INVALID);
        return nullptr;
    }
    return state_area(Owner, h, o);
}

// Common start of the state-byte operations; writers also adjust and check
// the owner's variant.
uint8_t *state_prologue(const TypeDesc &Owner, H *h, void *o, bool writer, uint32_t *err) {
    if (!enter(h, err, o, kNeedObject)) return nullptr;
    uint8_t *sa = checked_area(Owner, h, o, writer, err);
    if (!sa) return nullptr;
    if (writer && !check(h, err, o, kAdjust | kVariant)) return nullptr;
    return sa;
}

// Untracked owner on a tracking handle: INVALID and its trace.
inline void not_tracked(const TypeDesc &Owner, H *h, uint32_t *err) {
    trace0(kTrace1, tpi(Owner, tp::type::not_tracked));
    report(h, err, LOMARI_ERR_INVALID);
}

// The element type's plan for a block (init_plan, with the last error
// cleared first); false after reporting the lookup's error.
bool plan_elements(const TypeDesc &Elem, H *h, uint32_t db, InitPlan *plan, uint32_t *err) {
    qel_inline_clear_last_error(h);
    uint32_t e = 0;
    if (init_plan(Elem, h, db, Elem.ti, plan, &e)) return true;
    report(h, err, e);
    return false;
}

}  // namespace

// Grows the array of o to n elements (n > current count).  Everything that
// can fail is allocated before anything is changed, so a failure leaves the
// owner as it was.  False after reporting.
bool array_resize(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t n, bool track, uint32_t *err) {
    const TypeDesc &Elem = array_elem(Owner);
    const uint32_t esz = Elem.plain_size;
    const uint32_t ns = track ? Elem.n_state_fields : 0;
    uint32_t *countp = count_of(Owner, o);
    uint8_t **blockp = block_of(Owner, o);
    uint8_t *old = *blockp;
    const uint32_t oldn = old ? *countp : 0;

    const uint64_t bytes = block_bytes(Elem, n, track);
    if (bytes > UINT32_MAX) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return false;
    }
    // The runtime's answers for the new elements, before anything changes:
    // a refused lookup leaves no element without its header.
    InitPlan plan;
    if (!plan_elements(Elem, h, db, &plan, err)) return false;
    uint8_t *sa = nullptr, *old_per = nullptr;
    if (track) {
        sa = state_area(Owner, h, o);
        if (!sa) {  // tracked, but the runtime knows no place for its bytes
            not_tracked(Owner, h, err);
            return false;
        }
        old_per = per_elem_get(sa);
    }

    if (old && !g_realloc_traced[Owner.ordinal].exchange(true, std::memory_order_relaxed))
        trace0(kTrace1, tpi(Owner, tp::type::realloc));
    auto *blk = static_cast<uint8_t *>(h->alloc_fn(h->alloc_ctx, db, static_cast<uint32_t>(bytes)));
    if (!blk) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return false;
    }
    uint8_t *per = nullptr;
    if (track) {
        per = static_cast<uint8_t *>(h->alloc_fn(h->alloc_ctx, db, n));
        if (!per) {
            h->free_fn(h->alloc_ctx, db, blk);
            report(h, err, LOMARI_ERR_NO_MEMORY);
            return false;
        }
    }

    store(h, db, o, blockp, blk);
    std::memset(blk, 0, bytes);
    if (old) {
        if (track) std::memcpy(elem_states(Elem, blk, n, 0), elem_states(Elem, old, oldn, 0), size_t{oldn} * ns);
        std::memcpy(blk, old, size_t{oldn} * esz);
        for (uint32_t i = 0; i < oldn; ++i) {
            uint8_t *was = elem_at(Elem, old, i), *now = elem_at(Elem, blk, i);
            if (track) {
                qellib_update_sttr_offset(h, now, static_cast<uint32_t>(elem_states(Elem, blk, n, i) - now));
                qel_hd_mapping_destroy(h, db, was);
            }
            if (h->containment_tracking) {
                // The element now lives in the new block; its old address is gone.
                qeldb_record_containment2(h, db, now, o);
                if (plat_reports(h, db)) qeldb_plat_set_detach(h, db, was, 0);
            }
        }
        h->free_fn(h->alloc_ctx, db, old);
    }

    store(h, db, o, countp, n);
    const uint32_t first_err = init_in_block(Elem, plan, h, db, blk, oldn, n, track);

    if (track) {
        std::memset(per, 0, n);
        if (old_per) {
            std::memcpy(per, old_per, oldn);
            h->free_fn(h->alloc_ctx, db, old_per);
        }
        per_elem_put(h, db, o, sa, per);
    }
    if (first_err) {
        report(h, err, first_err);
        return false;
    }
    return true;
}

bool array_renew(const TypeDesc &Owner, H *h, uint32_t db, void *o, bool track, uint32_t *err) {
    const TypeDesc &Elem = array_elem(Owner);
    InitPlan plan;
    if (!plan_elements(Elem, h, db, &plan, err)) return false;
    uint8_t *blk = *block_of(Owner, o);
    const uint32_t n = *count_of(Owner, o);
    destroy_in_block(Elem, h, db, blk, n);
    // The block and the per-element state bytes are the owner's live
    // storage: announced before they are cleared and filled again.
    announce(h, blk, static_cast<uint32_t>(block_bytes(Elem, n, track)), db, o);
    std::memset(blk, 0, block_bytes(Elem, n, track));
    if (uint8_t *sa = track ? state_area(Owner, h, o) : nullptr)
        if (uint8_t *per = per_elem_get(sa)) {
            announce(h, per, n, db, o);
            std::memset(per, 0, n);
        }
    if (const uint32_t e = init_in_block(Elem, plan, h, db, blk, 0, n, track)) {
        report(h, err, e);
        return false;
    }
    return true;
}

// ---- lifecycle hook --------------------------------------------------------------

void array_release(const TypeDesc &Owner, H *h, uint32_t db, void *o) {
    uint32_t *countp = count_of(Owner, o);
    uint8_t **blockp = block_of(Owner, o);
    if (uint8_t *blk = *blockp) {
        destroy_in_block(array_elem(Owner), h, db, blk, *countp);
        h->free_fn(h->alloc_ctx, db, blk);
        store(h, db, o, blockp, static_cast<uint8_t *>(nullptr));
    }
    if (*countp) store(h, db, o, countp, uint32_t{0});
    if (uint8_t *sa = state_area(Owner, h, o)) {
        if (uint8_t *per = per_elem_get(sa)) {
            h->free_fn(h->alloc_ctx, db, per);
            per_elem_put(h, db, o, sa, nullptr);
        }
    }
}

// ---- elements ----------------------------------------------------------------------

void *array_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, uint32_t *err) {
    if (!enter(h, err, o, kNeedObject | kVariant)) return nullptr;
    uint8_t *blk = *block_of(Owner, o);
    if (!blk || idx >= *count_of(Owner, o)) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return nullptr;
    }
    void *el = elem_at(array_elem(Owner), blk, idx);
    if (h->containment_tracking) {
        qeldb_record_containment2(h, db, el, nullptr);
        qeldb_record_containment2(h, db, el, o);
    }
    return el;
}

void array_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, void *val,
               uint32_t move, uint32_t *err) {
    if (!enter(h, err, o, kNeedObject) || !present(h, err, val) || !check(h, err, o, kAdjust | kVariant))
        return;

    const bool track = handle_mode(h, Owner) == Mode::Track;
    uint8_t *sa = nullptr;
    if (track) {
        // An untracked owner (or one whose state area the runtime cannot
        // place) takes nothing, nor does a block grown while the handle did
        // not track: its elements have no state bytes to write or move.
        sa = state_area(Owner, h, o);
        if (!sa || (*block_of(Owner, o) && !per_elem_get(sa))) {
            not_tracked(Owner, h, err);
            return;
        }
        if (!(hdr(val)->flags & QEL_OF_TRACKED)) {
            trace0(kTrace1, tpi(Owner, tp::type::val_not_tracked));
            report(h, err, LOMARI_ERR_INVALID);
            return;
        }
    }

    const TypeDesc &Elem = array_elem(Owner);
    uint8_t *blk = *block_of(Owner, o);
    const uint32_t count = *count_of(Owner, o);
    if (!blk || idx >= count) {
        if (idx == UINT32_MAX) {  // index + 1 elements cannot be counted
            report(h, err, LOMARI_ERR_NO_MEMORY);
            return;
        }
        // A value taken from this very block moves with it.
        const uintptr_t v = reinterpret_cast<uintptr_t>(val), b = reinterpret_cast<uintptr_t>(blk);
        const bool inside = blk && v >= b && v - b < size_t{count} * Elem.plain_size;
        if (!array_resize(Owner, h, db, o, idx + 1, track, err)) return;
        if (inside) val = *block_of(Owner, o) + (v - b);
    }

    uint8_t *slot = elem_at(Elem, *block_of(Owner, o), idx);
    contain(h, db, slot, o);
    if (move) {
        // The whole-object set takes the value's flags but keeps the slot's
        // nested one: the slot stays an element of this block.
        obj_set(Elem, h, db, slot, val, err);
    } else {
        uint8_t *ws = nullptr;
        uint32_t ws_len = 0;
        qellib_get_handle_ws(h, &ws, &ws_len);
        void *dst = slot;
        obj_clone_internal(Elem, h, db, val, &dst, ws, ws_len, err);
    }

    if (track) {  // the per-element bytes are there: the block was grown tracking
        store<uint8_t>(h, db, o, sa + array_field(Owner).state_idx, kStateWritten);
        store<uint8_t>(h, db, o, per_elem_get(sa) + idx, kStateWritten);
    }
}

void array_remove_elements(const TypeDesc &Owner, H *h, uint32_t db, void *o) {
    if (!o) return;
    uint8_t **blockp = block_of(Owner, o);
    uint8_t *blk = *blockp;
    if (!blk) return;
    uint32_t *countp = count_of(Owner, o);
    destroy_in_block(array_elem(Owner), h, db, blk, *countp);
    h->free_fn(h->alloc_ctx, db, blk);
    store(h, db, o, blockp, static_cast<uint8_t *>(nullptr));
    store(h, db, o, countp, uint32_t{0});
}

// ---- state bytes ---------------------------------------------------------------------

uint8_t array_whole_state_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t *err) {
    (void)db;
    uint8_t *sa = state_prologue(Owner, h, o, false, err);
    return sa ? sa[array_field(Owner).state_idx] : 0;
}

void array_whole_state_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint8_t v,
                           uint32_t *err) {
    if (uint8_t *sa = state_prologue(Owner, h, o, true, err))
        store<uint8_t>(h, db, o, sa + array_field(Owner).state_idx, v);
}

namespace {
// The per-element state bytes of o, or null after reporting NOT_FOUND when
// idx is not an element.
uint8_t *per_elem_checked(const TypeDesc &Owner, H *h, void *o, uint8_t *sa, uint32_t idx,
                          uint32_t *err) {
    uint8_t *per = per_elem_get(sa);
    if (!per || idx >= *count_of(Owner, o)) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return nullptr;
    }
    return per;
}
}  // namespace

uint8_t array_state_get(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx,
                        uint32_t *err) {
    (void)db;
    uint8_t *sa = state_prologue(Owner, h, o, false, err);
    if (!sa) return 0;
    uint8_t *per = per_elem_checked(Owner, h, o, sa, idx, err);
    return per ? per[idx] : 0;
}

void array_state_set(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t idx, uint8_t v,
                     uint32_t *err) {
    uint8_t *sa = state_prologue(Owner, h, o, true, err);
    if (!sa) return;
    if (uint8_t *per = per_elem_checked(Owner, h, o, sa, idx, err)) store<uint8_t>(h, db, o, per + idx, v);
}

void array_state_get_arr(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint8_t **result,
                         uint32_t *err) {
    (void)db;
    uint8_t *sa = state_prologue(Owner, h, o, false, err);
    if (!sa) return;
    if (!present(h, err, result)) return;
    *result = per_elem_get(sa);
}

void array_state_set_arr(const TypeDesc &Owner, H *h, uint32_t db, void *o, const uint8_t *bytes,
                         uint32_t len, uint32_t *err) {
    uint8_t *sa = state_prologue(Owner, h, o, true, err);
    if (!sa) return;
    if (len != *count_of(Owner, o)) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return;
    }
    if (!len || !present(h, err, bytes)) return;
    uint8_t *per = per_elem_get(sa);
    if (!per) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return;
    }
    announce(h, per, len, db, o);
    std::memcpy(per, bytes, len);
}

}  // namespace lomari
