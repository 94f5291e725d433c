// message_object.h -- the message objects (messages/message_object.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

void *msg_create_shallow(const MessageDesc &M, H *h, uint32_t db);
void *msg_create(const MessageDesc &M, H *h, uint32_t db);
void *msg_create_cr(const MessageDesc &M, H *h);
void msg_destroy(const MessageDesc &M, H *h, uint32_t db, void *m);
uint32_t msg_len(const MessageDesc &M, H *h, uint32_t db, void *m);
// What a body accessor does besides reading or writing the reference.
enum class BodyGet { Keep, Detach };
enum class BodySet { Keep, FreeOld };
void *msg_body_get(const MessageDesc &M, BodyGet op, H *h, uint32_t db, void *m, uint32_t *err);
void msg_body_set(const MessageDesc &M, BodySet op, H *h, uint32_t db, void *m, void *body,
                  uint32_t *err);

}  // namespace lomari
