"""Enumeration objects: create, initialize, destroy, get and set with the
range check, value maps, validity and size."""
from famlib import H, DB, ERR, params, E, object_queries


def entries(M, Entry):
    out = []
    for e in M.enums:
        n, d = e.name, E(e)
        add = lambda r, s, p, b: out.append(Entry(r, n + "_" + s, p, b))
        add(n + " *", "create", params(H, DB), "return static_cast<%s *>(enum_create(%s, h, db));" % (n, d))
        add(n + " *", "create_cr", H, "return static_cast<%s *>(enum_create_cr(%s, h));" % (n, d))
        add(n + " *", "create_internal", params(H, DB),
            "return static_cast<%s *>(enum_create(%s, h, db));" % (n, d))
        add("void", "initialize",
            params(H, DB, n + " *inst", "qel_type_info_t *tinfo", "uint32_t notify",
                   "uint32_t skip_stats", "uint8_t or_flags", "uint8_t *state_base", ERR),
            "enum_initialize(%s, h, db, inst, tinfo, notify, skip_stats, or_flags, state_base, err);" % d)
        add("void", "destroy", params(H, DB, n + " *inst"), "enum_destroy(%s, h, db, inst, 1);" % d)
        add("void", "destroy_cr", params(H, n + " *inst"), "enum_destroy(%s, h, h->database_id, inst, 1);" % d)
        add("void", "destroy_internal", params(H, DB, n + " *inst", "uint32_t free_it"),
            "enum_destroy(%s, h, db, inst, free_it);" % d)
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

