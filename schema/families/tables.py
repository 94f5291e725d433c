"""Tables: catalogue and lifecycle, records and primary keys, insert, delete
and the index comparisons.  The prelude is the table descriptors the engine
(src/tables/lomari_table.cpp) is written over: record and handle sizes
(from the layout functions of tables/table.h), field types, key type, and
per index its label, key kind, key place and an instance of the comparison
template."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: a table handle is shared by everyone who opens it; close does
nothing, free releases it.  Records are reference counted:
create_record gives the caller one reference, record_add_ref adds one,
destroy_record drops one, and the last one takes the record out of its
table and destroys its field objects.  A table refers to the records in
it without holding a reference: insert and the lookups hand none out.
Freeing a table with records still in it releases the table only; the
records stay their holders' (their table link is cleared).  Key objects
from <table>_pkey_create are the caller's: <table>_pkey_destroy.
Tables, records and keys of another table are refused with
LOMARI_ERR_INVALID.
"""
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
                         part=part, off=off, body=types[keytype].ordinal, keytype=keytype))
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
            out += index_lookups(Entry, d, i, r)
        out += table_lookups(Entry, n, d, k)
    return out


WALK_FN = "int (*callback)(void *, void *, uint32_t *, void *, void *)"
TBL, REC = "void *table", "void *record"


def flt(src, match, skip):
    return "Filter{%s, %s, %s, false}" % (src, match, skip)


# Step, first and last forms: (suffix, extra parameter, worker call).
STEPS = [
    ("get_next", "", "lk_step_rec({d}, {i}, h, db, table, record, true, %s, err)" % flt(1, "true", "false")),
    ("get_next_not_pending_destroy", "uint32_t source",
     "lk_step_rec({d}, {i}, h, db, table, record, true, %s, err)" % flt("uint8_t(source)", "true", "true")),
    ("get_next_by_src", "uint32_t source",
     "lk_step_rec({d}, {i}, h, db, table, record, true, %s, err)" % flt("uint8_t(source)", "true", "false")),
    ("get_prev", "", "lk_step_rec({d}, {i}, h, db, table, record, false, %s, err)" % flt(1, "true", "false")),
    ("get_prev_not_pending_destroy", "uint32_t source",
     "lk_step_rec({d}, {i}, h, db, table, record, false, %s, err)" % flt("uint8_t(source)", "true", "true")),
    ("get_next_ignore_src", "", "lk_next_raw({d}, {i}, h, db, table, record, false, err)"),
    ("get_sub_next", "", "lk_next_raw({d}, {i}, h, db, table, record, true, err)"),
    ("get_shadow", "", "lk_shadow({d}, {i}, h, db, table, record, err)"),
]
ENDS = [
    ("get_first", "", "lk_end({d}, {i}, h, db, table, false, %s, err)" % flt(1, "true", "false")),
    ("get_first_not_pending_destroy", "uint32_t source",
     "lk_end({d}, {i}, h, db, table, false, %s, err)" % flt("uint8_t(source)", "source != 0", "true")),
    ("get_first_by_src", "uint32_t source",
     "lk_end({d}, {i}, h, db, table, false, %s, err)" % flt("uint8_t(source)", "true", "false")),
    ("get_first_ignore_src", "", "lk_end({d}, {i}, h, db, table, false, %s, err)" % flt(1, "false", "false")),
    ("get_last", "", "lk_end({d}, {i}, h, db, table, true, %s, err)" % flt(1, "true", "false")),
    ("get_last_not_pending_destroy", "uint32_t source",
     "lk_end({d}, {i}, h, db, table, true, %s, err)" % flt("uint8_t(source)", "true", "true")),
]
# Searches of an index: (suffix, extra parameters, nearest, forward, probe source, filter source,
# skip pending, same key).
SEARCHES = [
    ("search", "", "0", "1", "1", "0", "0", "0"),
    ("search_w_src", "uint32_t source", "0", "1", "source", "0", "0", "0"),
    ("search_nearest", "", "1", "1", "1", "1", "0", "0"),
    ("search_internal",
     "uint32_t nearest, uint32_t forward, uint32_t probe_src, uint32_t filter_src, uint32_t skip, uint32_t same",
     "nearest", "forward", "probe_src", "filter_src", "skip", "same"),
]
# By-key forms: (suffix, extra parameters, forward, probe source, filter source, skip pending).
BY_KEY = [
    ("get_next_by_key", "", "true", "1", "1", "false"),
    ("get_prev_by_key", "", "false", "1", "1", "false"),
    ("get_next_by_key_not_pending_destroy", "uint32_t probe_src, uint32_t filter_src", "true", "probe_src",
     "filter_src & 0xFFu", "true"),
    ("get_prev_by_key_not_pending_destroy", "uint32_t probe_src, uint32_t filter_src", "false", "probe_src",
     "filter_src & 0xFFu", "true"),
    ("get_next_by_key_w_src", "uint32_t source", "true", "source", "source & 0xFFu", "false"),
]


def key_param(r, pkey=None):
    if pkey:
        return "const %s *pkey" % pkey
    return {"Str31": "const char *key", "U32": "const uint32_t *key"}.get(
        r["kind"], "const %s *key" % r.get("keytype", ""))


def index_lookups(Entry, d, i, r):
    out = []
    p = r["prefix"]
    cr = p.rstrip("_") if p.endswith("_") else p  # the two chained forms keep one underscore
    K = key_param(r)
    add = lambda ret, s, ps, b, name=None: out.append(Entry(ret, name or (p + "_" + s), ps, b))
    fmt = lambda b: b.replace("{d}", d).replace("{i}", str(i))
    for s, extra, call in STEPS:
        add("void *", s, params(H, DB, TBL, REC, extra, ERR), "return " + fmt(call) + ";")
    for s, extra, call in ENDS:
        add("void *", s, params(H, DB, TBL, extra, ERR), "return " + fmt(call) + ";")
    for s, extra, *a in SEARCHES:
        add("void *", s, params(H, DB, TBL, K, extra, ERR),
            "return lk_search(%s, %d, h, db, table, key, true, %s, err);" % (d, i, ", ".join(a)))
    add("void *", "search_not_pending_destroy", params(H, DB, TBL, K, "uint32_t source", "uint32_t nearest", ERR),
        "void *r = lk_search(%s, %d, h, db, table, key, true, nearest, 1, source, source, 1, source == 0, err);\n"
        "    return err && *err ? nullptr : r;" % (d, i))
    for s, extra, fwd, ps, fs, skip in BY_KEY:
        add("void *", s, params(H, DB, TBL, K, extra, ERR),
            "return lk_by_key(%s, %d, h, db, table, key, true, %s, %s, %s, %s, err);" % (d, i, fwd, ps, fs, skip))
    add("void *", "", params(H, TBL, K, "uint32_t source", "uint32_t flags"),
        "return lk_search_cr(%s, %d, h, table, key, source, flags);" % (d, i), cr + "_search_cr")
    add("void *", "", params(H, TBL, "uint32_t op", REC, "uint32_t source", "uint32_t flags"),
        "return lk_get_cr(%s, %d, h, table, op, record, source, flags);" % (d, i), cr + "_get_cr")
    add("void", "walk", params(TBL, WALK_FN, "void *context", ERR, "void *a", "void *b"),
        "lk_walk(%s, %d, table, callback, context, err, a, b);" % (d, i))
    add("int", "avl_internal_walk", "void *node, void *ctx, void *a1, void *a2, void *a3",
        "return lk_walk_visit(node, ctx, a1, a2, a3);")
    add("void", "unordered_traversal", "void", "")
    return out


def table_lookups(Entry, n, d, k):
    """The primary-key forms: the primary index, keyed by a pkey object."""
    out = []
    add = lambda ret, s, ps, b: out.append(Entry(ret, n + "_" + s, ps, b))
    P = key_param(None, k)
    for s, extra, call in STEPS + ENDS:
        if s.endswith("not_pending_destroy"):
            continue
        ps = params(H, DB, TBL, REC if s in [x[0] for x in STEPS] else "", extra, ERR)
        add("void *", "pkey_" + s, ps, "return " + call.replace("{d}", d).replace("{i}", "0") + ";")
    add("void *", "search", params(H, DB, TBL, P, "uint32_t nearest", ERR),
        "return lk_search(%s, 0, h, db, table, pkey, false, nearest, 1, 1, 1, 0, 0, err);" % d)
    add("void *", "search_w_src", params(H, DB, TBL, P, "uint32_t nearest", "uint32_t source", ERR),
        "return lk_search(%s, 0, h, db, table, pkey, false, nearest, 1, source, source, 0, 0, err);" % d)
    for s, extra, fwd, ps, fs, skip in BY_KEY:
        if "not_pending" in s:
            continue
        add("void *", s, params(H, DB, TBL, P, extra, ERR),
            "return lk_by_key(%s, 0, h, db, table, pkey, false, %s, %s, %s, %s, err);" % (d, fwd, ps, fs, skip))
    add("uint32_t", "table_get_count", params(H, DB, TBL), "return lk_count(%s, h, db, table, false, 0);" % d)
    add("uint32_t", "table_get_count_cr", params(H, TBL),
        "return lk_count(%s, h, h->database_id, table, false, 0);" % d)
    add("uint32_t", "table_get_count_by_src", params(H, DB, TBL, "uint8_t source"),
        "return lk_count(%s, h, db, table, true, source);" % d)
    add("void", "record_walk_cr", params(H, TBL, "uint32_t index", WALK_FN, "void *context", "void *a"),
        "lk_record_walk_cr(%s, h, table, index, callback, context, a);" % d)
    return out
