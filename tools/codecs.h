// codecs.h -- what the command-line tool knows of each kind of encoded
// item: the messages and the table records, each with its identifier and
// its encoding, rendering and parsing entry points behind one type-erased
// shape.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_text.h"

namespace ltool {

using H = qel_handle_t *;
using U = uint32_t;

struct Codec {
    const char *name;    // "vep_tarnok_headers"
    const char *kind;    // "message" or "table record"
    const uint8_t *luid;  // the 16 bytes at offset 27 of every envelope
    U (*decode)(H, U, void **, const uint8_t *, U, U *);
    U (*print)(H, U, char *, void *, U, U *);
    U (*to_xml)(H, U, char *, void *, U, U *);
    void *(*from_xml)(H, U, qel_xml_doc_t *, U *, char *, U);
    U (*len)(H, U, void *);
    U (*encode)(H, U, uint8_t *, void *, U, U *);
    void (*destroy)(H, U, void *);
};

// Every codec, messages first, then the table records.
const std::vector<Codec> &codecs();
// The codec whose identifier is luid, or null.
const Codec *codec_by_luid(const uint8_t *luid);
// The codec of the message or table record named name, or null.
const Codec *codec_by_name(const char *name);

}  // namespace ltool
