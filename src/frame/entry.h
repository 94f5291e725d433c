// entry.h -- how an operation called from outside starts.
//
// Owns the checks every exported-level operation makes before it touches
// an object: nothing happens with an error already present, the runtime's
// last error is cleared, a missing object is refused, writers have the
// object's variant adjusted, and an object whose instance variant is
// negative (not available in the domain) is refused.  Families combine
// these; none spells them out itself.
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "lomari/lomari_errors.h"

namespace lomari {

// The object checks an operation asks for, in the order they run.
enum Check : unsigned {
    kNeedObject = 1u << 0,  // a null object is refused with INVALID
    kAdjust = 1u << 1,      // the object's variant is adjusted first (writers)
    kVariant = 1u << 2,     // a negative instance variant is refused with VARIANT
};

// Nothing happens with an error present; otherwise the last error is
// cleared and the operation goes on.
inline bool begin(H *h, const uint32_t *err) {
    if (*err) return false;
    qel_inline_clear_last_error(h);
    return true;
}

// A required pointer: null is refused with INVALID.
inline bool present(H *h, uint32_t *err, const void *p) {
    if (p) return true;
    report(h, err, LOMARI_ERR_INVALID);
    return false;
}

// The runtime's adjustment of an object's variant (null-safe).
inline void adjust_variant_of(H *h, void *o, uint32_t *err) {
    qellib_adjust_variant(h, o, o ? hdr(o)->tinfo : nullptr, 0, err);
}

// The instance variant the domain allows for o; a negative one is the
// domain's refusal.  enum_arg is the runtime's second question (1 when the
// operation concerns an embedded enumeration).
inline bool variant_allowed(H *h, const void *o, int enum_arg, uint32_t *err) {
    if (qel_inline_get_instance_variant(h, o, 1, enum_arg) >= 0) return true;
    qel_store_epoch_err(h, LOMARI_ERR_VARIANT, err);
    return false;
}

// The object checks of `checks`, in order; false after reporting.
// A required object must name its type: the null object a failed chain
// hands out (zero-filled, shared by every caller) is refused like null,
// so that no operation reads its empty words or writes into it.
inline bool check(H *h, uint32_t *err, void *o, unsigned checks, int enum_arg = 0) {
    if ((checks & kNeedObject) && !present(h, err, o ? hdr(o)->tinfo : nullptr)) return false;
    if (checks & kAdjust) adjust_variant_of(h, o, err);
    if ((checks & kVariant) && !variant_allowed(h, o, enum_arg, err)) return false;
    return true;
}

// The whole start: begin, then the object checks.
inline bool enter(H *h, uint32_t *err, void *o, unsigned checks, int enum_arg = 0) {
    return begin(h, err) && check(h, err, o, checks, enum_arg);
}

}  // namespace lomari
