// message_codec.h -- messages on the wire and as text and XML
// (messages/message_codec.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

uint32_t msg_marshal(const MessageDesc &M, H *h, uint32_t db, uint8_t *buf, void *m, uint32_t len,
                     uint32_t *err);
uint32_t msg_unmarshal(const MessageDesc &M, H *h, uint32_t db, uint64_t ctx, void **ref,
                       const uint8_t *buf, uint32_t len, MsgHandlerFn handler, uint32_t *err);
uint32_t msg_unmarshal_only(const MessageDesc &M, H *h, uint32_t db, void **ref, const uint8_t *buf,
                            uint32_t len, uint32_t *err);
int msg_is_valid_cr(const MessageDesc &M, H *h);
void msg_record(const MessageDesc &M, H *h, uint32_t db, void *m);
uint32_t msg_print(const MessageDesc &M, H *h, uint32_t db, char *buf, void *m, uint32_t len,
                   uint32_t *err);
uint32_t msg_to_xml(const MessageDesc &M, H *h, uint32_t db, char *buf, void *m, uint32_t len,
                    uint32_t *err);
// The rendering itself, without the entry checks (the recorder's).
uint32_t msg_to_xml_worker(const MessageDesc &M, H *h, uint32_t db, char *buf, void *m,
                           uint32_t len, uint32_t *err);
void *msg_from_xml(const MessageDesc &M, H *h, uint32_t db, qel_xml_doc_t *doc, uint32_t *err,
                   char *msg_buf, uint32_t msg_len);
// The result of a chained-error length operation: all bits set when the
// handle holds an error after the call.
uint32_t msg_length_cr(uint32_t n, const H *h);

}  // namespace lomari
