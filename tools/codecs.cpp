// codecs.cpp -- the tool's table of codecs, one row per message and per
// table record, spelled once through the catalogue's lists of names.
#include "codecs.h"

#include <cstring>

#include "lomari/lomari_catalogue.h"

namespace ltool {
namespace {

#define MESSAGE_CODEC(n)                                                                                    \
    Codec{#n, "message", message_##n##_luid,                                                               \
          [](H h, U db, void **m, const uint8_t *b, U len, U *e) {                                         \
              return n##_message_unmarshal_only(h, db, reinterpret_cast<n##_message **>(m), b, len, e);    \
          },                                                                                                \
          [](H h, U db, char *b, void *m, U len, U *e) {                                                   \
              return n##_message_print(h, db, b, static_cast<n##_message *>(m), len, e);                   \
          },                                                                                                \
          [](H h, U db, char *b, void *m, U len, U *e) {                                                   \
              return n##_message_to_xml(h, db, b, static_cast<n##_message *>(m), len, e);                  \
          },                                                                                                \
          [](H h, U db, qel_xml_doc_t *d, U *e, char *msg, U msg_len) -> void * {                          \
              return n##_message_from_xml(h, db, d, e, msg, msg_len);                                      \
          },                                                                                                \
          [](H h, U db, void *m) { return n##_message_len(h, db, static_cast<n##_message *>(m)); },        \
          [](H h, U db, uint8_t *b, void *m, U len, U *e) {                                                \
              return n##_message_marshal(h, db, b, static_cast<n##_message *>(m), len, e);                 \
          },                                                                                                \
          [](H h, U db, void *m) { n##_message_destroy(h, db, static_cast<n##_message *>(m)); }},

#define RECORD_CODEC(n)                                                                                     \
    Codec{#n, "table record", table_##n##_luid,                                                            \
          [](H h, U db, void **r, const uint8_t *b, U len, U *e) {                                         \
              return n##_table_record_unmarshal(h, db, r, b, len, 0, e);                                   \
          },                                                                                                \
          n##_table_record_print,                                                                           \
          n##_table_record_to_xml,                                                                          \
          n##_table_record_from_xml,                                                                        \
          n##_table_record_len,                                                                             \
          n##_table_record_marshal,                                                                         \
          [](H h, U db, void *r) {                                                                         \
              U e = 0;                                                                                      \
              n##_destroy_record(h, db, r, &e);                                                            \
          }},

}  // namespace

const std::vector<Codec> &codecs() {
    static const std::vector<Codec> all = {LOMARI_FOR_EACH_MESSAGE(MESSAGE_CODEC)
                                               LOMARI_FOR_EACH_TABLE(RECORD_CODEC)};
    return all;
}

const Codec *codec_by_luid(const uint8_t *luid) {
    for (const Codec &c : codecs())
        if (std::memcmp(c.luid, luid, 16) == 0) return &c;
    return nullptr;
}

const Codec *codec_by_name(const char *name) {
    for (const Codec &c : codecs())
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

}  // namespace ltool
