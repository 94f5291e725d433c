"""Enumeration objects: create, initialize, destroy, get and set with the
range check, value maps, validity and size."""
from famlib import DB, E, ERR, H, each, object_lifecycle, object_queries, params


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

