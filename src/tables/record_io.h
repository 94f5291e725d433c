// record_io.h -- what the tables' records do beyond living in a table:
// their binary encoding, text and XML renderings and XML parsing with the
// key encodings (tables/record_io.cpp), and the record-event callbacks and
// record field accessors (tables/record_access.cpp).  All written once over
// the table descriptors of tables/table.h.
#pragma once

#include <cstdint>

#include "tables/table.h"

namespace lomari {

// ---- encodings and renderings (tables/record_io.cpp) --------------------------------

uint32_t rio_marshal(const TableDef &T, H *h, uint32_t db, uint8_t *buf, void *record, uint32_t len,
                     uint32_t *err);
uint32_t rio_unmarshal(const TableDef &T, H *h, uint32_t db, void **record, const uint8_t *buf, uint32_t len,
                       uint32_t in_place, uint32_t *err);
uint32_t rio_len(const TableDef &T, H *h, uint32_t db, void *record);
uint32_t rio_pkey_marshal(const TableDef &T, H *h, uint32_t db, uint8_t *buf, void *record, uint32_t len,
                          uint32_t *err);
uint32_t rio_pkey_unmarshal(const TableDef &T, H *h, uint32_t db, void **pkey, const uint8_t *buf, uint32_t len,
                            uint32_t *err);
uint32_t rio_pkey_len(const TableDef &T);
uint32_t rio_print(const TableDef &T, H *h, uint32_t db, char *buf, void *record, uint32_t len, uint32_t *err);
uint32_t rio_pkey_print(const TableDef &T, H *h, uint32_t db, void *table, void *record, char *buf, uint32_t len,
                        uint32_t *err);
uint32_t rio_to_xml(const TableDef &T, H *h, uint32_t db, char *buf, void *record, uint32_t len, uint32_t *err);
void *rio_from_xml(const TableDef &T, H *h, uint32_t db, qel_xml_doc_t *doc, uint32_t *err, char *msg,
                   uint32_t msg_len);
// A chained-error length: all bits set when the handle holds an error after
// the call.
inline uint32_t rio_length_cr(uint32_t n, const H *h) { return h->err ? 0xFFFFFFFFu : n; }

// ---- callbacks and field access (tables/record_access.cpp) ---------------------------

void rcb_pair(const TableDef &T, RecEvent ev, H *h, uint32_t db, void *a, void *b, uint32_t *err);
void rcb_dm(const TableDef &T, RecEvent ev, H *h, uint32_t db, void *word, uint32_t *err);
uint32_t rcb_grouping(const TableDef &T, H *h, uint32_t db, void *a, uint32_t *err, void *b, void *c,
                      uint32_t value, void *d);
void rcb_free(const TableDef &T, H *h, uint32_t db, void *a, uint32_t value, uint32_t *err, void *d);

void *rf_get(const TableDef &T, uint32_t part, H *h, uint32_t db, void *record);
void *rf_get_detach(const TableDef &T, uint32_t part, H *h, uint32_t db, void *record);
void rf_set(const TableDef &T, uint32_t part, H *h, uint32_t db, void *record, void *obj, bool free_old);
// Places a field object the record made for itself (creation with fields,
// decoding, reading XML) into the empty field.
void rf_adopt(const TableDef &T, uint32_t part, H *h, uint32_t db, void *record, void *obj);

}  // namespace lomari
