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
from famlib import DB, ERR, H, params  # noqa: E402

REC = "void *record"


def entries(M, Entry):
    import lomari as S
    types = {t.name: t for t in M.types}
    out = []
    for tb in M.tables:
        n, d = tb.name, "kTableDefs[%d]" % tb.ordinal
        k = S.TABLE_INDEXES[tb.name][0][0]  # the key-owning type
        add = lambda r, s, p, b: out.append(Entry(r, n + "_" + s, p, b))
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
