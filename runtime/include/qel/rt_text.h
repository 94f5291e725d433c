/*
 * qel/rt_text.h -- the runtime's text writers, XML writers and XML readers.
 *
 * Owns the declarations of: the bounded text writers (qel_snprintf,
 * qel_print_space and the scalar printers), the XML element writers
 * (start_tag, start_tag_timestamp, end_tag, xml_enum_print and the scalar
 * renderers), and the parsed-document model with its path readers
 * (xml_get_element_nodecount, xml_get_element_value and the scalar
 * parsers).  Included by qel/runtime.h; plain C.
 *
 * Writers.  Every writer takes the room left in the caller's buffer and
 * the caller's error word.  With the error word already set it writes
 * nothing and returns 0.  Otherwise it writes its whole text followed by a
 * NUL and returns the text's length (the NUL not counted), or, when the
 * text and its NUL do not fit, leaves a NUL at the cursor (when the room
 * is not 0; the bytes after it within the room are unspecified), sets the
 * error word and the handle's error to 90 (QEL_TEXT_SHORT) and returns 0.
 * No writer ever touches a byte at or past the room it is given, so a
 * renderer that adds the returned counts produces a clean prefix of the
 * full text, NUL-terminated.
 *
 * Text lines.  A scalar line is the indent, "<name>: <value>" and a line
 * end: "  slot_number: 5\n".  A string line shows at most its bound's
 * characters between double quotes: "  dbkey: \"abc\"\n".
 *
 * XML elements.  An element named N opens as "<N>" when its state flag is
 * 0 and as "<N state=\"S\">" (S in decimal) otherwise, and closes as
 * "</N>"; a scalar is "<N>5</N>" (or with the state attribute); a
 * time-stamped element opens as "<N time=\"2026-01-31T12:00:00.000000Z\">".
 * Element names are the caller's and are written as given (the library's
 * names are XML names).  String text is escaped so that any byte string
 * renders as well-formed XML and parses back to the same bytes: "&", "<",
 * ">", quote and apostrophe as the predefined entities, tab, line feed and
 * carriage return as character references, and every other control byte
 * and every byte from 0x7F up as the private-use character U+E000 + byte
 * ("&#xE0C3;" for the byte 0xC3).  xml_enum_print writes the tag text it is
 * given unchanged.
 *
 * Documents.  qel_xml_parse_memory and qel_xml_parse_file build a parsed
 * document.  The parse is strict by default: a document that is not
 * well-formed is refused with 22 and a message naming the line and the
 * reason.  With QEL_XML_RECOVER the parser recovers what it can instead
 * (an element written as "<spi4_priority value out of range/>" is read as
 * an empty element of that name).  Documents with a document type
 * declaration are refused (22): nothing in this vocabulary needs one, and
 * entity expansion is a known way to make a small document huge.  No
 * network access is ever made.  A parsed document remembers path answers,
 * so it is used by one thread at a time, like every other object.
 *
 * Paths.  A path is an XPath 1.0 expression selecting elements.  The
 * forms the domain libraries build -- a leading "/" or "//",
 * then element names each with an optional positional predicate "[n]"
 * ("//vep_tarnok_body/spi4_id_mappings[2]/pri/SPI4_PRI_HI") -- are
 * answered by walking the tree directly, with the node sets of path
 * prefixes remembered per document and, per element and child name, the
 * last position found, so that positions 1, 2, 3, ... asked in turn cost
 * one pass over the siblings and filling an object costs in proportion to
 * its document; any other expression goes to the XPath engine with its
 * compiled form cached.  Both give XPath's answer.
 *
 * Reader results: 0 found, 2 (QEL_TEXT_ABSENT) no such element, 22
 * (QEL_TEXT_INVALID) a malformed path or value (a number that is not
 * decimal digits or does not fit the field's width, a string longer than
 * its bound), 90 a value longer than the caller's value buffer.  The
 * result is also set in the error word; a result other than 0 and 2 is
 * stored in the handle as well, and a scalar parser that fails with it
 * writes "Failed xpath: <path>: <reason>" into the message buffer when one
 * is given.  A value that is refused leaves the destination unchanged.
 */
#ifndef QEL_RT_TEXT_H
#define QEL_RT_TEXT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QEL_TEXT_ABSENT 2u
#define QEL_TEXT_INVALID 22u
#define QEL_TEXT_SHORT 90u

/* Bound of the text of one element value the path reader hands out. */
#define QEL_XML_VALUE_MAX 4096u

/* ---- text writers ---------------------------------------------------- */

QEL_RT_API uint32_t qel_snprintf(qel_handle_t *h, char *buf, uint32_t room,
                                 uint32_t *err, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));
/* indent spaces. */
QEL_RT_API uint32_t qel_print_space(qel_handle_t *h, char *buf, uint32_t room,
                                    uint32_t indent, uint32_t *err);
QEL_RT_API uint32_t u_int8_print(qel_handle_t *h, uint32_t dbid, char *buf,
                                 uint32_t indent, const char *name,
                                 const u_int8 *v, uint32_t room, uint32_t *err);
QEL_RT_API uint32_t u_int16_print(qel_handle_t *h, uint32_t dbid, char *buf,
                                  uint32_t indent, const char *name,
                                  const u_int16 *v, uint32_t room, uint32_t *err);
QEL_RT_API uint32_t u_int32_print(qel_handle_t *h, uint32_t dbid, char *buf,
                                  uint32_t indent, const char *name,
                                  const u_int32 *v, uint32_t room, uint32_t *err);
/* s holds at most bound characters (NUL-terminated when shorter). */
QEL_RT_API uint32_t null_string_print(qel_handle_t *h, uint32_t dbid, char *buf,
                                      uint32_t indent, const char *name,
                                      const char *s, uint32_t bound,
                                      uint32_t room, uint32_t *err);

/* ---- XML writers ----------------------------------------------------- */

QEL_RT_API uint32_t start_tag(qel_handle_t *h, uint32_t dbid, char *buf,
                              const char *name, uint32_t room, uint8_t state,
                              uint32_t *err);
QEL_RT_API uint32_t start_tag_timestamp(qel_handle_t *h, uint32_t dbid,
                                        char *buf, const char *name,
                                        uint32_t room, uint8_t state,
                                        uint32_t *err);
QEL_RT_API uint32_t end_tag(qel_handle_t *h, uint32_t dbid, char *buf,
                            const char *name, uint32_t room, uint32_t *err);
/* Writes the first tag_len characters of tag as they are. */
QEL_RT_API uint32_t xml_enum_print(qel_handle_t *h, uint32_t dbid, char *buf,
                                   const char *tag, uint32_t tag_len,
                                   uint32_t room, uint32_t *err);
QEL_RT_API uint32_t u_int8_to_xml(qel_handle_t *h, uint32_t dbid, char *buf,
                                  const char *name, const u_int8 *v,
                                  uint32_t room, uint8_t state, uint32_t *err);
QEL_RT_API uint32_t u_int16_to_xml(qel_handle_t *h, uint32_t dbid, char *buf,
                                   const char *name, const u_int16 *v,
                                   uint32_t room, uint8_t state, uint32_t *err);
QEL_RT_API uint32_t u_int32_to_xml(qel_handle_t *h, uint32_t dbid, char *buf,
                                   const char *name, const u_int32 *v,
                                   uint32_t room, uint8_t state, uint32_t *err);
QEL_RT_API uint32_t null_string_to_xml(qel_handle_t *h, uint32_t dbid,
                                       char *buf, const char *name,
                                       const char *s, uint32_t bound,
                                       uint32_t room, uint8_t state,
                                       uint32_t *err);

/* ---- parsed documents ------------------------------------------------ */

typedef struct qel_xml_doc qel_xml_doc_t;

#define QEL_XML_RECOVER 0x1u

/* A parsed document, or null with *err set (22 not well-formed or
 * refused, 2 no such file, 12 out of memory) and the reason in msg (when
 * given, bounded by msg_len). */
QEL_RT_API qel_xml_doc_t *qel_xml_parse_memory(qel_handle_t *h,
                                               const char *text, uint32_t len,
                                               uint32_t flags, char *msg,
                                               uint32_t msg_len, uint32_t *err);
QEL_RT_API qel_xml_doc_t *qel_xml_parse_file(qel_handle_t *h, const char *path,
                                             uint32_t flags, char *msg,
                                             uint32_t msg_len, uint32_t *err);
/* The same for a libxml2 document (an xmlDocPtr) a program parsed
 * itself, for example to validate it first: the parsed document takes it
 * over, and qel_xml_doc_free frees it.  A null document, one without a
 * root element or with a document type declaration is refused (22) and
 * freed; 12 when memory runs out (the document is freed too). */
QEL_RT_API qel_xml_doc_t *qel_xml_doc_adopt(qel_handle_t *h, void *xml_doc, uint32_t *err);
QEL_RT_API void qel_xml_doc_free(qel_xml_doc_t *doc);

/* ---- path readers ---------------------------------------------------- */

/* Number of elements the path selects (0 included); *err 22 for a path
 * that cannot be evaluated, in which case *count is 0. */
QEL_RT_API uint32_t xml_get_element_nodecount(qel_handle_t *h,
                                              qel_xml_doc_t *doc,
                                              const char *path,
                                              uint32_t *count, uint32_t *err);
/* Text of the first element the path selects, NUL-terminated, into value
 * (value_len bytes with the NUL); the result as above. */
QEL_RT_API uint32_t xml_get_element_value(qel_handle_t *h, qel_xml_doc_t *doc,
                                          const char *path, char *value,
                                          uint32_t value_len, uint32_t *err);
QEL_RT_API uint32_t u_int8_from_xml(qel_handle_t *h, uint32_t dbid,
                                    const char *path, qel_xml_doc_t *doc,
                                    u_int8 *v, uint32_t *err, char *msg,
                                    uint32_t msg_len);
QEL_RT_API uint32_t u_int16_from_xml(qel_handle_t *h, uint32_t dbid,
                                     const char *path, qel_xml_doc_t *doc,
                                     u_int16 *v, uint32_t *err, char *msg,
                                     uint32_t msg_len);
QEL_RT_API uint32_t u_int32_from_xml(qel_handle_t *h, uint32_t dbid,
                                     const char *path, qel_xml_doc_t *doc,
                                     u_int32 *v, uint32_t *err, char *msg,
                                     uint32_t msg_len);
/* dst has room for bound characters and a NUL. */
QEL_RT_API uint32_t null_string_from_xml(qel_handle_t *h, uint32_t dbid,
                                         const char *path, qel_xml_doc_t *doc,
                                         char *dst, uint32_t bound,
                                         uint32_t *err, char *msg,
                                         uint32_t msg_len);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_TEXT_H */
