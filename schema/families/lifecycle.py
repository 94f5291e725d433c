"""Structured-type lifecycle: create, initialize, destroy, sizes, and the
runtime queries every object answers."""
from famlib import H, DB, ERR, params, T, object_queries


def entries(M, Entry):
    out = []
    for t in M.types:
        n, d = t.name, T(t)
        add = lambda r, s, p, b: out.append(Entry(r, n + "_" + s, p, b))
        add(n + " *", "create", params(H, DB), "return static_cast<%s *>(obj_create(%s, h, db));" % (n, d))
        add(n + " *", "create_cr", H, "return static_cast<%s *>(obj_create_cr(%s, h));" % (n, d))
        add(n + " *", "create_internal", params(H, DB),
            "return static_cast<%s *>(obj_create_internal(%s, h, db));" % (n, d))
        add("void", "initialize",
            params(H, DB, n + " *inst", "qel_type_info_t *tinfo", "uint32_t notify",
                   "uint32_t skip_stats", "uint8_t or_flags", "uint8_t *state_base", ERR),
            "obj_initialize(%s, h, db, inst, tinfo, notify, skip_stats, or_flags, state_base, err);" % d)
        add("void", "destroy", params(H, DB, n + " *inst"), "obj_destroy(%s, h, db, inst, 1);" % d)
        add("void", "destroy_cr", params(H, n + " *inst"), "obj_destroy(%s, h, h->database_id, inst, 1);" % d)
        add("void", "destroy_internal", params(H, DB, n + " *inst", "uint32_t free_it"),
            "obj_destroy(%s, h, db, inst, free_it);" % d)
        add("uint32_t", "sizeof", H, "return obj_sizeof(%s, h);" % d)
        add("uint32_t", "sizeof_internal", params(H, DB, "uint32_t with_state", "uint32_t state_only"),
            "return obj_sizeof_internal(%s, h, db, with_state, state_only);" % d)
        out += object_queries(Entry, n, d)
    return out
