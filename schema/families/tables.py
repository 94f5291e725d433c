"""Tables: catalogue and lifecycle, records and primary keys, insert, delete
and the index comparisons.  The prelude is the table descriptors the engine
(src/tables/lomari_table.cpp) is written over: record and handle sizes
(from the layout functions of tables/table.h), field types, key type, and
per index its label, key kind, key place and an instance of the comparison
template."""
import os
import sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from famlib import H, DB, ERR, params  # noqa: E402

def shape(M, tb):
    """Record parts, pkey type, tag base and index rows of a table."""
    import lomari as S
    types = {t.name: t for t in M.types}
    parts = [types[p] for p in tb.parts]
    rows = []
    for keytype, field in S.TABLE_INDEXES[tb.name]:
        part = tb.parts.index(keytype)
        if field:
            f = next(f for f in types[keytype].fields if f.name == field)
            kind, off = {"str": "Str31", "u32": "U32"}[f.kind], f.offset
            label = "%s %s" % (keytype, field)
        else:
            kind, off, label = "Body", 0, keytype
        rows.append(dict(prefix="%s_%s_%s" % (tb.name, keytype, field), label=label, kind=kind,
                         part=part, off=off, body=types[keytype].ordinal))
    tag = S.TABLE_TAG_BASE
    for other in M.tables[:tb.ordinal]:
        tag += len(other.parts) + 2
    return parts, types[S.TABLE_INDEXES[tb.name][0][0]], tag, rows


def prelude(M):
    import traces as TR
    from emit.common import c_str, designated
    o = ['#include "tables/table.h"\n', "namespace lomari {\n"]
    defs = []
    for tb in M.tables:
        parts, pkey, tag, rows = shape(M, tb)
        ni, npt = len(rows), len(parts)
        rsize = "record_size(%d, %d)" % (ni, npt)
        o.append("alignas(8) static uint8_t null_record_%s[%s];" % (tb.name, rsize))
        idx = [designated([
            ("label", c_str(r["label"])),
            ("cmp", "&index_compare<%d, %d, %d, KeyKind::%s, %d, %d>" % (
                i, ni, r["part"], r["kind"], r["off"], r["body"])),
            ("kind", "KeyKind::" + r["kind"]), ("part", r["part"]), ("key_off", r["off"])])
            for i, r in enumerate(rows)]
        defs.append("    %s," % designated([
            ("desc", "&kTables[%d]" % tb.ordinal), ("luid_text", c_str(tb.luid)),
            ("null_record", "null_record_" + tb.name), ("nparts", npt), ("nindex", ni),
            ("record_size", rsize), ("handle_size", "table_size(%d)" % ni),
            ("parts", "{%s}" % ", ".join("&kTypes[%d]" % p.ordinal for p in parts)),
            ("pkey", "&kTypes[%d]" % pkey.ordinal), ("index", "{%s}" % ", ".join(idx)),
            ("tag_base", "0x%Xu" % tag), ("trace_base", tb.ordinal * TR.TABLE_BLOCK)]))
    o.append("\nconst TableDef kTableDefs[kTableCount] = {")
    o += defs
    o.append("};\n\n}  // namespace lomari\n")
    return "\n".join(o)


def entries(M, Entry):
    out = []
    TBL, REC = "void *table", "void *record"
    for tb in M.tables:
        n, d = tb.name, "kTableDefs[%d]" % tb.ordinal
        parts, pkey, tag, rows = shape(M, tb)
        k = pkey.name
        add = lambda r, s, p, b: out.append(Entry(r, n + "_" + s, p, b))
        # catalogue and lifecycle
        add("void *", "table_open", params(H, DB, "const char *name", "uint32_t open_type", ERR),
            "return tbl_open(%s, h, db, name, open_type, 0, 0, 0, 0, err);" % d)
        add("void *", "table_open_by_id", params(H, DB, "uint64_t id", "uint32_t open_type", ERR),
            "return tbl_open(%s, h, db, nullptr, open_type, id, 0, 0, 1, err);" % d)
        add("void *", "table_open_auto_id", params(H, DB, "uint32_t open_type", ERR),
            "return tbl_open(%s, h, db, nullptr, open_type, 0, 0, 1, 2, err);" % d)
        add("void *", "table_open_by_ior_with_name",
            params(H, DB, "const char *name", "uint64_t ior", "uint32_t open_type", "uint32_t dynamic", ERR),
            "return tbl_open(%s, h, db, name, open_type, 0, ior, dynamic, 0, err);" % d)
        add("void *", "table_open_by_ior_with_id",
            params(H, DB, "uint64_t id", "uint64_t ior", "uint32_t open_type", "uint32_t dynamic", ERR),
            "return tbl_open(%s, h, db, nullptr, open_type, id, ior, dynamic, 1, err);" % d)
        add("void *", "table_open_cr",
            params(H, "uint32_t open_type", "uint32_t mode", "const char *name", "uint64_t id"),
            "return tbl_open_cr(%s, h, open_type, mode, name, id);" % d)
        add("void", "table_close", params(H, DB, TBL, ERR), "tbl_close(%s, h, db, table, err);" % d)
        add("void", "table_close_cr", params(H, TBL, "uint32_t how"), "tbl_close_cr(%s, h, table, how);" % d)
        add("void", "table_free", params(H, DB, TBL, ERR), "tbl_free(%s, h, db, table, err);" % d)
        add("void", "request_table_free", params(H, DB, TBL, ERR),
            "tbl_request_free(%s, h, db, table, err);" % d)
        add("int", "get_luid", params(H, DB, "const void *obj", "uint8_t *luid", ERR),
            "return tbl_get_luid(h, db, obj, luid, err);")
        # records and keys
        add("void *", "create_record", params(H, DB, ERR), "return rec_create(%s, h, db, 1, err);" % d)
        add("void *", "create_record_w_src", params(H, DB, "uint8_t source", ERR),
            "return rec_create(%s, h, db, source, err);" % d)
        add("void *", "record_create_cr", params(H, "uint32_t with_fields"),
            "return rec_create_cr(%s, h, with_fields);" % d)
        add("uint32_t", "record_add_ref", params(H, DB, REC, ERR),
            "return rec_add_ref(%s, h, db, record, err);" % d)
        add("void", "destroy_record", params(H, DB, REC, ERR), "rec_destroy(%s, h, db, record, err);" % d)
        add("void", "record_destroy_cr", params(H, REC),
            "rec_destroy(%s, h, h->database_id, record, &h->err);" % d)
        add("void", "request_record_destroy", params(H, DB, TBL, REC, ERR),
            "rec_request_destroy(%s, h, db, table, record, err);" % d)
        add("uint32_t", "request_record_destroy_cr", params(H, TBL, REC),
            "rec_request_destroy(%s, h, h->database_id, table, record, &h->err);\n    return h->err;" % d)
        add(k + " *", "pkey_create", params(H, DB), "return static_cast<%s *>(pkey_create(%s, h, db));" % (k, d))
        add("void", "pkey_destroy", params(H, DB, k + " *pkey"), "pkey_destroy(%s, h, db, pkey);" % d)
        # insert and delete
        for s, pk in [("insert", 0), ("pkey_insert", 1)]:
            add("void", s, params(H, DB, TBL, REC, ERR),
                "tbl_insert(%s, h, db, table, record, %d, err);" % (d, pk))
        for s, pk in [("delete", 0), ("pkey_delete", 1)]:
            add("void", s, params(H, DB, TBL, REC, ERR),
                "tbl_delete(%s, h, db, table, record, %d, err);" % (d, pk))
        add("uint32_t", "insert_cr", params(H, TBL, REC, "uint32_t pkey_only"),
            "return tbl_insert_cr(%s, h, table, record, pkey_only);" % d)
        add("uint32_t", "delete_cr", params(H, TBL, REC, "uint32_t destroy"),
            "return tbl_delete_cr(%s, h, table, record, destroy);" % d)
        for i, r in enumerate(rows):
            out.append(Entry("uint32_t", r["prefix"] + "_avl_compare", "const void *a, const void *b",
                             "return idx_compare(%s, %d, a, b);" % (d, i)))
    return out
