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
from famlib import H, DB, ERR, Doc, adder, params  # noqa: E402

TITLE = "Tables"
NOREF = "a view: the table keeps the record and no reference is handed out"
E_TBL = "LOMARI_ERR_INVALID for a table, record or key of another table"
OPEN = ("  open_type 0 is create mode (find the table or create it; in a shared database this needs the "
        "write lock); non-zero opens an existing table only, and gives null with no error when there is none.")
OPEN_OWNS = ("every opener of a table shares one table handle; {table}_table_free releases it (closing does "
             "not).")
OPEN_ERR = "LOMARI_ERR_NO_MEMORY when memory runs out; LOMARI_ERR_TOO_BIG for a full name of 208 characters or more"
STEP = "Steps from record (which must be in the table) to the {dir} record of the {index} index"
FIRST = "The {end} record of the {index} index"
TENANT = " of the caller's tenant"
DOCS = {
    "table_open": Doc("Opens the {table} table named name in the database (unless name holds a \"/\", its "
                      "full name is name, a \"/\" and the identifier text table_{table}_luid_text)." + OPEN,
                      owns=OPEN_OWNS, errors=OPEN_ERR),
    "table_open_by_id": Doc("Opens the {table} table of number id in the database." + OPEN,
                            owns=OPEN_OWNS, errors=OPEN_ERR),
    "table_open_auto_id": Doc("Creates a dynamic {table} table under the next free number (0, 1, 2 ... in a "
                              "fresh database); open_type must be 0.",
                              owns=OPEN_OWNS, errors=OPEN_ERR),
    "table_open_by_ior_with_name": Doc("Opens the {table} table named name, handing ior to the object-id "
                                       "mapping; a non-zero dynamic makes a new table dynamic." + OPEN,
                                       owns=OPEN_OWNS, errors=OPEN_ERR),
    "table_open_by_ior_with_id": Doc("Opens the {table} table of number id, handing ior to the object-id "
                                     "mapping; a non-zero dynamic makes a new table dynamic." + OPEN,
                                     owns=OPEN_OWNS, errors=OPEN_ERR),
    "table_open_cr": Doc("Opens a {table} table, chained-error form: mode 0 by name, 1 by id, 2 under the "
                         "next free number (dynamic)." + OPEN,
                         owns=OPEN_OWNS, errors="as {table}_table_open, in the handle's err"),
    "table_close": Doc("Closes a {table} table for this opener: it clears the handle's last error and "
                       "nothing else; the table lives on in its database.",
                       owns="the table stays; {table}_table_free releases it."),
    "table_close_cr": Doc("Closes a {table} table, chained-error form: how 1 frees it ({table}_table_free), "
                          "2 requests its release ({table}_request_table_free), anything else does nothing.",
                          owns="as the form how chooses.",
                          errors="as the form how chooses, in the handle's err"),
    "table_free": Doc("Releases a {table} table now: out of the database's table of contents, its object-id "
                      "mapping and the table list.",
                      owns="the table handle is released; records still in it stay their holders', in no "
                           "table.",
                      errors="LOMARI_ERR_AGAIN when the object-id mapping is still referenced; "
                             "LOMARI_ERR_NOT_FOUND when the number root of a numbered table is missing"),
    "request_table_free": Doc("Asks for a {table} table of a shared database to be released: taken out of the "
                              "table of contents, then freed unless cursors are enabled on it (the collector "
                              "then frees it).",
                              owns="as {table}_table_free once it is freed.",
                              errors="as {table}_table_free"),
    "get_luid": Doc("Writes the 16-byte identifier of obj's type to luid (the runtime's qel_get_luid); returns "
                    "its answer.",
                    errors="as qel_get_luid reports"),
    "create_record": Doc("Creates a {table} record of source 1, with no field objects and in no table.",
                         owns="the caller holds the record's one reference; {table}_destroy_record drops it.",
                         errors="none: null when memory runs out"),
    "create_record_w_src": Doc("Creates a {table} record of the given source (1 default, 255 shadow), with no "
                               "field objects.",
                               owns="the caller holds the record's one reference.",
                               errors="none: null when memory runs out"),
    "record_create_cr": Doc("Creates a {table} record of source 1, chained-error form; with with_fields "
                            "non-zero each field gets a new object.",
                            owns="the caller holds the record's one reference; the record owns its field "
                                 "objects.  After an error the result is the table's null record.",
                            errors="LOMARI_ERR_NO_MEMORY in the handle's err"),
    "record_add_ref": Doc("Adds a reference to a {table} record; returns the count before it.",
                          owns="the caller holds one more reference.",
                          errors="LOMARI_ERR_NOT_FOUND for a null record"),
    "destroy_record": Doc("Drops one reference of a {table} record; the last one takes it out of its table, "
                          "destroys its field objects and releases it.",
                          owns="the caller holds one reference fewer.",
                          errors="LOMARI_ERR_NOT_FOUND for a null record; the runtime's error when a mapping or "
                                 "location cannot be released (the record is then kept)"),
    "record_destroy_cr": Doc("Drops one reference of a {table} record, chained-error form.",
                             owns="as {table}_destroy_record.",
                             errors="as {table}_destroy_record, in the handle's err"),
    "request_record_destroy": Doc("Hands a {table} record in a table with cursors enabled to the runtime's "
                                  "deferred destruction.",
                                  owns="the runtime destroys the record later.",
                                  errors="LOMARI_ERR_INVALID without a record or without cursors on the table"),
    "request_record_destroy_cr": Doc("Requests the deferred destruction of a {table} record, chained-error "
                                     "form; returns the handle's err.",
                                     owns="as {table}_request_record_destroy.",
                                     errors="as {table}_request_record_destroy, in the handle's err"),
    "pkey_create": Doc("Creates a key object of {table}: a {keytype} whose key field names a record.",
                       owns="the caller owns the key: {table}_pkey_destroy.",
                       errors="none: null when memory runs out"),
    "pkey_destroy": Doc("Destroys a key object of {table}.", owns="releases the key."),
    "insert": Doc("Inserts a {table} record into every index of the table (ordered by tenant, key, source).",
                  owns="the table refers to the record without holding a reference: the record stays in the "
                       "table only while someone holds it.",
                  errors="LOMARI_ERR_EXISTS for a null record or when an index holds the same tenant, key and "
                         "source; " + E_TBL),
    "pkey_insert": Doc("Inserts a {table} record into the primary index only, marked primary-key-only.",
                       owns="as {table}_insert.",
                       errors="LOMARI_ERR_EXISTS for a null record or a key already present; " + E_TBL),
    "delete": Doc("Takes a {table} record out of every index of its table and lowers the counts.",
                  owns="the record is not released: its holders keep it.",
                  errors="LOMARI_ERR_NOT_FOUND when the record is not in the index; LOMARI_ERR_INVALID on a "
                         "table with cursors enabled (replication); " + E_TBL),
    "pkey_delete": Doc("Takes a {table} record out of every index but the primary one and marks it "
                       "primary-key-only; it stays in the table and counted.",
                       owns="nothing changes owner.",
                       errors="LOMARI_ERR_NOT_FOUND when the record is not in the second index; "
                              "LOMARI_ERR_INVALID on a table with cursors enabled; " + E_TBL),
    "insert_cr": Doc("Inserts a {table} record, chained-error form: pkey_only non-zero inserts into the "
                     "primary index only.  Returns the handle's err.",
                     owns="as {table}_insert.", errors="as {table}_insert, in the handle's err"),
    "delete_cr": Doc("Deletes a {table} record from its table, chained-error form; with destroy non-zero and "
                     "no error the record then loses one reference.  Returns the handle's err.",
                     owns="with destroy, the caller's reference is dropped.",
                     errors="as {table}_delete, in the handle's err"),
    "idx.avl_compare": Doc("Orders two index nodes of the {index} index by tenant, {keydesc}, then source: 0 "
                           "when a comes first, 1 when equal, 2 when a comes after (a null node first).",
                           worker="the comparison the AVL container calls"),
    "idx.get_next": Doc(STEP.format(dir="next", index="{index}") + TENANT + " with source 1, or null.",
                        owns=NOREF, errors=E_TBL),
    "idx.get_next_not_pending_destroy": Doc(STEP.format(dir="next", index="{index}") + TENANT + " with the "
                                            "given source that is not pending destruction, or null.",
                                            owns=NOREF, errors=E_TBL),
    "idx.get_next_by_src": Doc(STEP.format(dir="next", index="{index}") + TENANT + " with the given source, or "
                               "null.", owns=NOREF, errors=E_TBL),
    "idx.get_prev": Doc(STEP.format(dir="previous", index="{index}") + TENANT + " with source 1, or null.",
                        owns=NOREF, errors=E_TBL),
    "idx.get_prev_not_pending_destroy": Doc(STEP.format(dir="previous", index="{index}") + TENANT + " with the "
                                            "given source that is not pending destruction, or null.",
                                            owns=NOREF, errors=E_TBL),
    "idx.get_next_ignore_src": Doc("The record right after record in the {index} index, whatever its source or "
                                   "flags; null at the end or at another tenant.", owns=NOREF, errors=E_TBL),
    "idx.get_sub_next": Doc("The record right after record in the {index} index if it has the same key "
                            "(any source, flags or tenant), else null.", owns=NOREF, errors=E_TBL),
    "idx.get_shadow": Doc("From record on, the first record of the same key with source 255 (a shadow) in the "
                          "{index} index, or null.", owns=NOREF, errors=E_TBL),
    "idx.get_first": Doc(FIRST.format(end="first", index="{index}") + TENANT + " with source 1, or null.",
                         owns=NOREF, errors=E_TBL),
    "idx.get_first_not_pending_destroy": Doc(FIRST.format(end="first", index="{index}") + TENANT + " not pending "
                                             "destruction, with the given source (0: any but a shadow), or null.",
                                             owns=NOREF, errors=E_TBL),
    "idx.get_first_by_src": Doc(FIRST.format(end="first", index="{index}") + TENANT + " with the given source, "
                                "or null.", owns=NOREF, errors=E_TBL),
    "idx.get_first_ignore_src": Doc(FIRST.format(end="first", index="{index}") + TENANT + ", whatever its "
                                    "source, or null.", owns=NOREF, errors=E_TBL),
    "idx.get_last": Doc(FIRST.format(end="last", index="{index}") + TENANT + " with source 1, or null.",
                        owns=NOREF, errors=E_TBL),
    "idx.get_last_not_pending_destroy": Doc(FIRST.format(end="last", index="{index}") + TENANT + " with the "
                                            "given source that is not pending destruction, or null.",
                                            owns=NOREF, errors=E_TBL),
    "idx.search": Doc("The record of the caller's tenant with source 1 whose key is key ({keyarg}) in the "
                      "{index} index, or null (not an error).",
                      owns=NOREF, errors="LOMARI_ERR_NOT_FOUND for a null table or key; " + E_TBL),
    "idx.search_w_src": Doc("The record of the given source (0: 1) whose key is key ({keyarg}) in the {index} "
                            "index, or null.",
                            owns=NOREF, errors="LOMARI_ERR_NOT_FOUND for a null table or key; " + E_TBL),
    "idx.search_nearest": Doc("The record whose key is key ({keyarg}) in the {index} index, else the first "
                              "one after it, of the caller's tenant with source 1, or null.",
                              owns=NOREF, errors="LOMARI_ERR_NOT_FOUND for a null table or key; " + E_TBL),
    "idx.search_internal": Doc("The search behind every search form of the {index} index, with its switches: "
                               "nearest, forward, probe and filter source, skip pending, same key.",
                               owns=NOREF, errors="LOMARI_ERR_NOT_FOUND for a null table or key; " + E_TBL,
                               worker="the worker behind the search forms"),
    "idx.search_not_pending_destroy": Doc("The record of the given source whose key is key ({keyarg}) in the "
                                          "{index} index and which is not pending destruction; with nearest, "
                                          "else the next such record.",
                                          owns=NOREF,
                                          errors="LOMARI_ERR_NOT_FOUND for a null table or key; " + E_TBL),
    "idx.get_next_by_key": Doc("The record after key ({keyarg}, itself excluded) in the {index} index, of the "
                               "caller's tenant with source 1, or null.", owns=NOREF, errors=E_TBL),
    "idx.get_prev_by_key": Doc("The record before key ({keyarg}, itself excluded) in the {index} index, of the "
                               "caller's tenant with source 1, or null.", owns=NOREF, errors=E_TBL),
    "idx.get_next_by_key_not_pending_destroy": Doc("The record after key ({keyarg}) in the {index} index that is "
                                                   "not pending destruction, by the probe and filter sources, or "
                                                   "null.", owns=NOREF, errors=E_TBL),
    "idx.get_prev_by_key_not_pending_destroy": Doc("The record before key ({keyarg}) in the {index} index that "
                                                   "is not pending destruction, by the probe and filter sources, "
                                                   "or null.", owns=NOREF, errors=E_TBL),
    "idx.get_next_by_key_w_src": Doc("The record after key ({keyarg}) in the {index} index with the given "
                                     "source, or null.", owns=NOREF, errors=E_TBL),
    "idx.search_cr": Doc("Searches the {index} index, chained-error form: flags 0x1 nearest, 0x2 keeps records "
                         "pending destruction, 0x4 stops at the first other key.",
                         owns=NOREF, errors="as {index}_search, in the handle's err"),
    "idx.get_cr": Doc("A record of the {index} index, chained-error form: op 0 first, 1 last, 2 before record, "
                      "3 after record, filtered by source (0: 1) and flags (0x1 any source, 0x2 keep pending).",
                      owns=NOREF, errors="LOMARI_ERR_INVALID in the handle's err for another op"),
    "idx.walk": Doc("Calls callback(record, context, ...) for every record of the {index} index in order.",
                    owns=NOREF),
    "idx.avl_internal_walk": Doc("Adapts one node of the {index} index to the walk's record callback.",
                                 worker="the visitor {index}_walk hands to the AVL container"),
    "idx.unordered_traversal": Doc("Does nothing.", worker="a hook of the runtime"),
    "pkey_get_next": Doc("The next record of the primary index after record, source 1, or null.",
                         owns=NOREF, errors=E_TBL),
    "pkey_get_next_by_src": Doc("The next record of the primary index after record with the given source, or "
                                "null.", owns=NOREF, errors=E_TBL),
    "pkey_get_prev": Doc("The previous record of the primary index before record, source 1, or null.",
                         owns=NOREF, errors=E_TBL),
    "pkey_get_next_ignore_src": Doc("The record right after record in the primary index, whatever its source, "
                                    "or null.", owns=NOREF, errors=E_TBL),
    "pkey_get_sub_next": Doc("The record right after record in the primary index if it has the same key, else "
                             "null.", owns=NOREF, errors=E_TBL),
    "pkey_get_shadow": Doc("From record on, the first shadow record (source 255) of the same key in the "
                           "primary index, or null.", owns=NOREF, errors=E_TBL),
    "pkey_get_first": Doc("The first record of the primary index, source 1, or null.", owns=NOREF, errors=E_TBL),
    "pkey_get_first_by_src": Doc("The first record of the primary index with the given source, or null.",
                                 owns=NOREF, errors=E_TBL),
    "pkey_get_first_ignore_src": Doc("The first record of the primary index, whatever its source, or null.",
                                     owns=NOREF, errors=E_TBL),
    "pkey_get_last": Doc("The last record of the primary index, source 1, or null.", owns=NOREF, errors=E_TBL),
    "search": Doc("The record named by the key object pkey ({keytype}) in the primary index (with nearest, "
                  "else the first one after it), source 1, or null.",
                  owns=NOREF, errors="LOMARI_ERR_NOT_FOUND for a null table or key; " + E_TBL),
    "search_w_src": Doc("The record of the given source named by the key object pkey in the primary index "
                        "(with nearest, else the next one), or null.",
                        owns=NOREF, errors="LOMARI_ERR_NOT_FOUND for a null table or key; " + E_TBL),
    "get_next_by_key": Doc("The record after the key object pkey in the primary index, source 1, or null.",
                           owns=NOREF, errors=E_TBL),
    "get_prev_by_key": Doc("The record before the key object pkey in the primary index, source 1, or null.",
                           owns=NOREF, errors=E_TBL),
    "get_next_by_key_w_src": Doc("The record after the key object pkey in the primary index with the given "
                                 "source, or null.", owns=NOREF, errors=E_TBL),
    "table_get_count": Doc("The number of records in a {table} table (the caller's tenant's, when it has one); "
                           "0 for a null table."),
    "table_get_count_cr": Doc("The number of records in a {table} table, with the handle's database_id."),
    "table_get_count_by_src": Doc("The number of records of the given source: without a tenant, the shadow "
                                  "count for 255 and 0 for any other source."),
    "record_walk_cr": Doc("Walks index number index (0 the primary one) of a {table} table, calling callback "
                          "for every record in order, unless the handle holds an error.",
                          owns=NOREF),
}


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
            ("link_cmp", "&index_compare<%d, %d, %d, KeyKind::%s, %d, %d, true>" % (
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
        add = adder(out, Entry, n + "_", table=n, keytype=k)
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
                             "return idx_compare(%s, %d, a, b);" % (d, i), "idx.avl_compare", index_ctx(n, r)))
            out += index_lookups(Entry, d, i, r, index_ctx(n, r))
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


def index_ctx(table, r):
    """What an index's comments name: the table, the index prefix, its key."""
    keytype, field = r["keytype"], r["label"].partition(" ")[2]
    desc = {"Str31": "the 31-character %s of %s" % (field, keytype),
            "U32": "the unsigned 32-bit %s of %s" % (field, keytype)}.get(
        r["kind"], "the whole %s (as %s_compare orders it)" % (keytype, keytype))
    arg = {"Str31": "a string of at most 31 characters", "U32": "a pointer to the value"}.get(
        r["kind"], "a %s object" % keytype)
    return dict(table=table, index=r["prefix"], keydesc=desc, keyarg=arg)


def index_lookups(Entry, d, i, r, ctx):
    out = []
    p = r["prefix"]
    cr = p.rstrip("_") if p.endswith("_") else p  # the two chained forms keep one underscore
    K = key_param(r)
    add = lambda ret, s, ps, b, name=None: out.append(  # noqa: E731
        Entry(ret, name or (p + "_" + s), ps, b, "idx." + (s or name[len(cr) + 1:]), ctx))
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
    add = adder(out, Entry, n + "_", table=n, keytype=k)
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
