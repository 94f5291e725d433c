"""Enumeration objects: create, initialize, destroy, get and set with the
range check, value maps, validity and size."""
from famlib import (DB, E, E_NULL, ERR, H, LIFECYCLE_DOCS, QUERY_DOCS, Doc, each, object_lifecycle,
                    object_queries, params)

TITLE = "Enumerations"
DOCS = dict(LIFECYCLE_DOCS, **QUERY_DOCS, **{
    "get": Doc("The {type} instance itself."),
    "get_value": Doc("The value of a {type} instance.", errors=E_NULL),
    "set": Doc("Copies the value of src into dst.",
               errors=E_NULL + "; LOMARI_ERR_VARIANT for a value out of range or a set across variants"),
    "set_value": Doc("Sets the value of a {type} instance.",
                     errors=E_NULL + "; LOMARI_ERR_VARIANT for a value out of range"),
    "map_to_user_value": Doc("The value as applications see it: the same value.",
                             worker="a value map of the runtime"),
    "map_to_internal_value": Doc("The value as the library stores it: the same value.",
                                 worker="a value map of the runtime"),
    "is_valid_cr": Doc("1 when value is one of the values of {type}, else 0."),
    "sizeof": Doc("The size of a {type} instance: 16 bytes."),
})



def entries(M, Entry):
    out = []
    for add, n, d in each(out, Entry, M.enums, E):
        out += object_lifecycle(Entry, n, d, "enum_create", "enum_create_cr", "enum_create", "enum_initialize",
                                "enum_destroy")
        add(n + " *", "get", params(H, DB, n + " *inst"),
            "return static_cast<%s *>(enum_get(%s, h, db, inst));" % (n, d))
        add("uint32_t", "get_value", params(H, DB, "const %s *inst" % n, ERR),
            "return enum_get_value(%s, h, db, inst, err);" % d)
        add("void", "set", params(H, DB, n + " *dst", "const %s *src" % n, ERR),
            "enum_set(%s, h, db, dst, src, err);" % d)
        add("void", "set_value", params(H, DB, n + " *inst", "uint32_t value", ERR),
            "enum_set_value(%s, h, db, inst, value, err);" % d)
        add("uint32_t", "map_to_user_value", "uint32_t value", "return value;")
        add("uint32_t", "map_to_internal_value", "uint32_t value", "return value;")
        add("int", "is_valid_cr", params(H, "int32_t value"), "return enum_is_valid_cr(%s, h, value);" % d)
        add("uint32_t", "sizeof", "void", "return 16;")
        out += object_queries(Entry, n, d)
    return out

