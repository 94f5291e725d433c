// render.h -- the text and XML renderers and the XML parser of every
// enumeration and structured type, as the generated entry points call them.
//
// Text and XML renderers write at buf with len bytes of room through the
// runtime's bounded writers (qel/rt_text.h), add the counts those return,
// and return the final cursor; an error raised by a writer stays in *err.
// Parsers walk a parsed document with path expressions built from the
// object's own path.
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

// Characters of a fixed string as renderings show and parsers fill it.
inline constexpr uint32_t kStrBound = 31;

// The cursor of one rendering: where the next write goes and the room
// left.  The runtime's writers never return more than the room less one,
// so the cursor stays inside the buffer.
struct Cursor {
    char *buf;
    uint32_t len;
    uint32_t n = 0;
    char *at() const { return buf ? buf + n : nullptr; }
    uint32_t room() const { return len - n; }
    void operator+=(uint32_t k) { n += k; }
};

// ---- text (codec/text.cpp) -----------------------------------------------------
uint32_t enum_print(const EnumDesc &E, H *h, uint32_t db, char *buf, uint32_t indent,
                    const char *name, const void *o, uint32_t len, uint32_t *err);
uint32_t obj_print(const TypeDesc &T, H *h, uint32_t db, char *buf, uint32_t indent,
                   const char *name, const void *o, uint32_t len, uint32_t *err);

// ---- XML (codec/xml.cpp) ----------------------------------------------------------
// The child tag of an enumeration value ("<SPI4_PRI_HI/>") or, for a value
// outside the enumerators, the type's out-of-range tag.
const char *enum_xml_tag(const EnumDesc &E, uint32_t value, uint32_t *tag_len);
uint32_t enum_to_xml(const EnumDesc &E, H *h, uint32_t db, const char *name, char *buf,
                     const void *o, uint32_t len, uint32_t *err);
uint32_t obj_to_xml(const TypeDesc &T, H *h, uint32_t db, const char *name, char *buf,
                    const void *o, uint32_t len, uint8_t state, uint32_t *err);
void enum_from_xml(const EnumDesc &E, H *h, uint32_t db, const char *path, qel_xml_doc_t *doc,
                   void *o, uint32_t *err, char *msg, uint32_t msg_len);
void obj_from_xml(const TypeDesc &T, H *h, uint32_t db, const char *path, qel_xml_doc_t *doc,
                  void *o, uint32_t *err, char *msg, uint32_t msg_len);

}  // namespace lomari
