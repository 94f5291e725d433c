"""Table records and primary keys as bytes, text and XML: record marshal,
unmarshal and length with their chained forms, key marshal, unmarshal,
length and print, record print, to_xml and from_xml of every table
(engine: src/tables/record_io.cpp)."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: <table>_table_record_unmarshal (fresh) and
<table>_table_record_from_xml give the caller a new record holding one
reference; in place, the record given is updated.  Key objects from
<table>_table_pkey_unmarshal are the caller's: <table>_pkey_destroy.
"""
import os
import sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from famlib import DB, E_MEM, E_SHORT, ERR, H, Doc, adder, params  # noqa: E402

TITLE = "Table records and keys as bytes, text and XML"
E_REC = "LOMARI_ERR_NOT_FOUND for a record with an empty field"
DOCS = {
    "table_record_marshal": Doc("Encodes a {table} record into buf (len bytes): 27 header bytes, the 16-byte "
                                "table_{table}_luid, then each field's encoding; returns the bytes written.",
                                errors="LOMARI_ERR_DOMAIN when the table is not allowed in the handle's domain; " +
                                       E_SHORT + "; " + E_REC),
    "record_marshal_cr": Doc("Encodes a {table} record, chained-error form: 0xFFFFFFFF when the handle holds "
                             "an error afterwards.",
                             errors="as {table}_table_record_marshal, in the handle's err"),
    "table_record_unmarshal": Doc("Decodes a {table} record from buf (len bytes; the table identifier is "
                                  "stepped over unread).  With in_place 0 a new record with new field objects "
                                  "goes to *record; otherwise *record is updated.  Returns the bytes consumed.",
                                  owns="a new record is the caller's, holding one reference.",
                                  errors="LOMARI_ERR_SHORT when the input ends early; LOMARI_ERR_NOT_FOUND in "
                                         "place without a record or field; " + E_MEM),
    "table_record_len": Doc("Bytes the encoding of a {table} record takes: 43 plus its fields'."),
    "record_len_cr": Doc("Bytes the encoding of a {table} record takes, chained-error form: 0 when the handle "
                         "holds an error."),
    "table_pkey_marshal": Doc("Encodes the key of a {table} record ({keytype} {keyfield}) into buf, without a "
                              "frame; returns the bytes written.",
                              errors=E_SHORT),
    "table_pkey_unmarshal": Doc("Decodes a {table} key into a new {keytype} in *pkey; returns the bytes "
                                "consumed.",
                                owns="the caller owns the key object: {table}_pkey_destroy.",
                                errors="LOMARI_ERR_BAD_ADDRESS for a null pkey; " + E_SHORT + "; " + E_MEM),
    "table_pkey_len": Doc("Bytes the key encoding of a {table} record takes."),
    "pkey_print": Doc("Writes the key of a {table} record into buf of len bytes; returns the characters "
                      "written.",
                      errors="LOMARI_ERR_INVALID for a null table or record; " + E_SHORT),
    "table_record_print": Doc("Writes the text rendering of a {table} record into buf of len bytes: "
                              "\"record@{table}\" and each field's rendering; returns the characters written.",
                              errors=E_SHORT),
    "record_print_cr": Doc("Text rendering of a {table} record, chained-error form: 0xFFFFFFFF when the handle "
                           "holds an error afterwards.",
                           errors="as {table}_table_record_print, in the handle's err"),
    "table_record_to_xml": Doc("Writes a {table} record as XML into buf of len bytes: a {table} element around "
                               "its fields' elements; returns the characters written.",
                               errors=E_SHORT),
    "record_toxml_cr": Doc("XML rendering of a {table} record, chained-error form: 0xFFFFFFFF when the handle "
                           "holds an error afterwards.",
                           errors="as {table}_table_record_to_xml, in the handle's err"),
    "table_record_from_xml": Doc("A new {table} record with its fields read from the parsed document doc (each "
                                 "field's element found anywhere by its type name).",
                                 owns="the caller owns the new record, holding one reference; null on error.",
                                 errors="LOMARI_ERR_NOT_FOUND when a field's element is absent (the record is "
                                        "still returned); LOMARI_ERR_INVALID for a malformed value; " + E_MEM),
}


REC = "void *record"


def entries(M, Entry):
    import lomari as S
    types = {t.name: t for t in M.types}
    out = []
    for tb in M.tables:
        n, d = tb.name, "kTableDefs[%d]" % tb.ordinal
        k = S.TABLE_INDEXES[tb.name][0][0]  # the key-owning type
        kf = S.TABLE_INDEXES[tb.name][0][1]
        add = adder(out, Entry, n + "_", table=n, keytype=k, keyfield=kf)
        cr = lambda call: "return rio_length_cr(%s, h);" % call
        add("uint32_t", "table_record_marshal", params(H, DB, "uint8_t *buf", REC, "uint32_t len", ERR),
            "return rio_marshal(%s, h, db, buf, record, len, err);" % d)
        add("uint32_t", "record_marshal_cr", params(H, REC, "uint8_t *buf", "uint32_t len"),
            cr("rio_marshal(%s, h, h->database_id, buf, record, len, &h->err)" % d))
        add("uint32_t", "table_record_unmarshal",
            params(H, DB, "void **record", "const uint8_t *buf", "uint32_t len", "uint32_t in_place", ERR),
            "return rio_unmarshal(%s, h, db, record, buf, len, in_place, err);" % d)
        add("uint32_t", "table_record_len", params(H, DB, REC), "return rio_len(%s, h, db, record);" % d)
        add("uint32_t", "record_len_cr", params(H, REC),
            "return h->err ? 0 : rio_len(%s, h, h->database_id, record);" % d)
        add("uint32_t", "table_pkey_marshal", params(H, DB, "uint8_t *buf", REC, "uint32_t len", ERR),
            "return rio_pkey_marshal(%s, h, db, buf, record, len, err);" % d)
        add("uint32_t", "table_pkey_unmarshal",
            params(H, DB, "%s **pkey" % types[k].name, "const uint8_t *buf", "uint32_t len", ERR),
            "return rio_pkey_unmarshal(%s, h, db, reinterpret_cast<void **>(pkey), buf, len, err);" % d)
        add("uint32_t", "table_pkey_len", params(H, DB, REC),
            "(void)h, (void)db, (void)record;\n    return rio_pkey_len(%s);" % d)
        add("uint32_t", "pkey_print",
            params(H, DB, "void *table", REC, "char *buf", "uint32_t len", ERR),
            "return rio_pkey_print(%s, h, db, table, record, buf, len, err);" % d)
        for op, op_cr, worker in [("print", "print_cr", "rio_print"), ("to_xml", "toxml_cr", "rio_to_xml")]:
            add("uint32_t", "table_record_" + op, params(H, DB, "char *buf", REC, "uint32_t len", ERR),
                "return %s(%s, h, db, buf, record, len, err);" % (worker, d))
            add("uint32_t", "record_" + op_cr, params(H, REC, "char *buf", "uint32_t len"),
                cr("%s(%s, h, h->database_id, buf, record, len, &h->err)" % (worker, d)))
        add("void *", "table_record_from_xml",
            params(H, DB, "qel_xml_doc_t *doc", ERR, "char *msg_buf", "uint32_t msg_len"),
            "return rio_from_xml(%s, h, db, doc, err, msg_buf, msg_len);" % d)
    return out
