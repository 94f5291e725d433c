// clone.cpp -- deep copies of structured objects.
//
// Owns obj_clone_internal and obj_clone_cr.  A copy is made by encoding,
// not by following pointers: the source is written into a scratch buffer
// by the marshal worker without the variant check, and read back into the
// destination, so the copy owns fresh list elements and a fresh element
// block.  The copy-out hooks of the whole-object set live in copyout.cpp.
#include "types/clone.h"

#include "codec/binary.h"
#include "frame/entry.h"
#include "types/lifecycle.h"

namespace lomari {

void obj_clone_internal(const TypeDesc &T, H *h, uint32_t db, void *src, void **dst, uint8_t *buf,
                        uint32_t buf_len, uint32_t *err) {
    if (!begin(h, err)) return;
    if (!dst || !buf) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return;
    }
    // The shared null object is never written into.
    if (*dst == T.null_obj) {
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    uint32_t n = obj_marshal(T, h, db, buf, src, buf_len, err, false);
    if (*err) return;

    const bool created = !*dst;
    if (created) {
        ensure_trace_module();
        void *o = obj_create_internal(T, h, db);
        if (!o || o == T.null_obj) {
            report(h, err, LOMARI_ERR_NO_MEMORY);
            return;
        }
        *dst = o;
    }
    obj_unmarshal(T, h, db, buf, *dst, n, 0, err);
    if (!*err) return;

    // A destination that lives inside its owner's element block is the
    // owner's to release; anything separately allocated goes now.
    void *o = *dst;
    *dst = nullptr;
    if (created || !(hdr(o)->flags & QEL_OF_NESTED)) obj_destroy(T, h, db, o, kFreeStorage);
}

void *obj_clone_cr(const TypeDesc &T, H *h, void *src) {
    uint8_t *ws = nullptr;
    uint32_t ws_len = 0;
    qellib_get_handle_ws(h, &ws, &ws_len);
    void *copy = nullptr;
    obj_clone_internal(T, h, h->database_id, src, &copy, ws, ws_len, &h->err);
    return h->err ? nullptr : copy;
}

}  // namespace lomari
