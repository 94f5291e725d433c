// clone.h -- deep copies (types/clone.cpp) and the copy-out of the
// whole-object set (types/copyout.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

void obj_clone_internal(const TypeDesc &T, H *h, uint32_t db, void *src, void **dst,
                        uint8_t *buf, uint32_t buf_len, uint32_t *err);
void *obj_clone_cr(const TypeDesc &T, H *h, void *src);
void obj_post_copyout_cleanup(const TypeDesc &T, H *h, uint32_t db, void *dst, void *src);

}  // namespace lomari
