"""Record events and record field access: the seven record callbacks of
every table, forwarding to the application's handlers, and get_field,
get_field_detach, set_field and free_and_set_field of every record field
(engine: src/tables/record_access.cpp)."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership of a record's field objects: set_field puts an object in (it
is marked embedded and goes with the record; the object already there is
not released: its owner must destroy it); free_and_set_field destroys the
one already there first; a null object is refused (the runtime's flag
check answers, the field keeps what it had).  get_field gives the object
the record keeps; get_field_detach hands it to the caller and empties the
field.
"""
import os
import sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from famlib import DB, ERR, H, Doc, adder, params  # noqa: E402

TITLE = "Record events and record field access"
CB = ("Forwards a record {event} event of {table} to the application's "
      "lomari_{table}_table_record_{event}_handler with the same arguments; without one it only traces.")
CB_WHO = "the database runtime calls it when the event happens"
DOCS = {
    "table_record_create_cb": Doc(CB.replace("{event}", "create"), worker=CB_WHO,
                                  errors="as the application's handler sets"),
    "table_record_modify_cb": Doc(CB.replace("{event}", "modify"), worker=CB_WHO,
                                  errors="as the application's handler sets"),
    "table_record_delete_cb": Doc(CB.replace("{event}", "delete"), worker=CB_WHO,
                                  errors="as the application's handler sets"),
    "table_record_create_dm_cb": Doc(CB.replace("{event}", "create_dm") + "  Without a create_dm handler the "
                                     "create handler gets (0, word).", worker=CB_WHO,
                                     errors="as the application's handler sets"),
    "table_record_delete_dm_cb": Doc(CB.replace("{event}", "delete_dm") + "  Without a delete_dm handler the "
                                     "delete handler gets (0, word).", worker=CB_WHO,
                                     errors="as the application's handler sets"),
    "table_record_grouping_cb": Doc(CB.replace("{event}", "grouping") + "  Returns the handler's result.",
                                    worker=CB_WHO, errors="as the application's handler sets"),
    "table_record_free_cb": Doc(CB.replace("{event}", "free"), worker=CB_WHO,
                                errors="as the application's handler sets"),
    "get_field": Doc("The {part} object of a {table} record, or null when the field is empty.",
                     owns="the record keeps the object."),
    "get_field_detach": Doc("Takes the {part} object out of a {table} record.",
                            owns="the caller owns the object ({part}_destroy); the field is empty."),
    "set_field": Doc("Puts obj into the {part} field of a {table} record and marks it embedded.",
                     owns="the record owns obj from now on and destroys it with its last reference; an object "
                          "already there is not released (its owner must destroy it).  A null object, or one "
                          "already embedded or nested, is refused and the field keeps what it had.",
                     errors="the refusal code in the handle's err"),
    "free_and_set_field": Doc("Replaces the {part} object of a {table} record with obj, marked embedded.",
                              owns="the object already there is destroyed; the record owns obj from now on.  A "
                                   "refused object (null, embedded or nested) leaves the field as it was.",
                              errors="the refusal code in the handle's err"),
}


REC = "void *record"


def entries(M, Entry):
    out = []
    for tb in M.tables:
        n, d = tb.name, "kTableDefs[%d]" % tb.ordinal
        add = adder(out, Entry, n + "_", table=n)
        for ev, kind in [("create", "Create"), ("modify", "Modify"), ("delete", "Delete")]:
            add("void", "table_record_%s_cb" % ev, params(H, DB, "void *first", "void *second", ERR),
                "rcb_pair(%s, RecEvent::%s, h, db, first, second, err);" % (d, kind))
        for ev, kind in [("create_dm", "CreateDm"), ("delete_dm", "DeleteDm")]:
            add("void", "table_record_%s_cb" % ev, params(H, DB, "void *word", ERR),
                "rcb_dm(%s, RecEvent::%s, h, db, word, err);" % (d, kind))
        add("uint32_t", "table_record_grouping_cb",
            params(H, DB, "void *first", ERR, "void *second", "void *third", "uint32_t value", "void *last"),
            "return rcb_grouping(%s, h, db, first, err, second, third, value, last);" % d)
        add("void", "table_record_free_cb", params(H, DB, "void *first", "uint32_t value", ERR, "void *last"),
            "rcb_free(%s, h, db, first, value, err, last);" % d)
        for p, f in enumerate(tb.parts):
            fa = adder(out, Entry, "%s_%s_" % (n, f), table=n, part=f)
            fa(f + " *", "get_field", params(H, DB, REC),
               "return static_cast<%s *>(rf_get(%s, %d, h, db, record));" % (f, d, p))
            fa(f + " *", "get_field_detach", params(H, DB, REC),
               "return static_cast<%s *>(rf_get_detach(%s, %d, h, db, record));" % (f, d, p))
            for s, free_old in [("set_field", "false"), ("free_and_set_field", "true")]:
                fa("void", s, params(H, DB, REC, f + " *obj"),
                   "rf_set(%s, %d, h, db, record, obj, %s);" % (d, p, free_old))
    return out
