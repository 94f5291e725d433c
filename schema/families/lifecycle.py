"""Structured-type lifecycle: create, initialize, destroy, sizes, and the
runtime queries every object answers."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: <type>_create gives the caller a new object; <type>_destroy
releases it with everything it owns (its embedded enumerations, list
elements and element block).  After an error, <type>_create_cr gives the
type's static null object, which destroy ignores.
"""
from famlib import DB, H, LIFECYCLE_DOCS, QUERY_DOCS, T, Doc, each, object_lifecycle, object_queries, params

TITLE = "Object lifecycle"
DOCS = dict(LIFECYCLE_DOCS, **QUERY_DOCS, **{
    "sizeof": Doc("The size of a {type} on this handle: with the state area on a tracking handle."),
    "sizeof_internal": Doc("A size of {type}: the state area alone with state_only, else the size with it "
                           "when with_state and the handle tracks state, else the plain size.",
                           worker="a query of the runtime"),
})



def entries(M, Entry):
    out = []
    for add, n, d in each(out, Entry, M.types, T):
        out += object_lifecycle(Entry, n, d, "obj_create", "obj_create_cr", "obj_create_internal", "obj_initialize",
                                "obj_destroy")
        add("uint32_t", "sizeof", H, "return obj_sizeof(%s, h);" % d)
        add("uint32_t", "sizeof_internal", params(H, DB, "uint32_t with_state", "uint32_t state_only"),
            "return obj_sizeof_internal(%s, h, db, with_state, state_only);" % d)
        out += object_queries(Entry, n, d)
    return out
