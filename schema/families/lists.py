"""Ordered lists: walking, counting, inserting, removing, and the parent
query of the element type."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: an element added to a list (set_first, set_last, set_before,
set_after, add_cr) belongs to the list's owner and is destroyed with it;
<type>_<list>_remove gives it back to the caller.  The get forms give
elements the owner keeps.
"""
from famlib import DB, ERR, H, T, each_owner, params


def entries(M, Entry):
    out = []
    for add, t, lf, d, el, obj in each_owner(out, Entry, M, "list"):
        n = t.name
        for pos, s in [("First", "get_first"), ("Last", "get_last")]:
            add(el + " *", s, params(H, DB, obj, ERR),
                "return static_cast<%s *>(list_get(%s, ListPos::%s, h, db, o, nullptr, err));" % (el, d, pos))
        for pos, s in [("Before", "get_prev"), ("After", "get_next")]:
            add(el + " *", s, params(H, DB, obj, el + " *ref", ERR),
                "return static_cast<%s *>(list_get(%s, ListPos::%s, h, db, o, ref, err));" % (el, d, pos))
        add("uint32_t", "get_count", params(H, DB, obj, ERR), "return list_count(%s, h, db, o, err);" % d)
        add(el + " *", "get_cr", params(H, obj, "uint32_t flag", el + " *ref"),
            "return static_cast<%s *>(list_get_cr(%s, h, o, flag, ref));" % (el, d))
        for pos, s in [("First", "set_first"), ("Last", "set_last")]:
            add("void", s, params(H, DB, obj, el + " *el", ERR),
                "list_insert(%s, ListPos::%s, h, db, o, nullptr, el, err);" % (d, pos))
        for pos, s in [("Before", "set_before"), ("After", "set_after")]:
            add("void", s, params(H, DB, obj, el + " *ref", el + " *el", ERR),
                "list_insert(%s, ListPos::%s, h, db, o, ref, el, err);" % (d, pos))
        add("uint32_t", "add_cr", params(H, obj, el + " *el", "uint32_t flag", el + " *ref"),
            "return list_add_cr(%s, h, o, el, flag, ref);" % d)
        add("void", "remove", params(H, DB, obj, el + " *el", ERR), "list_remove(%s, h, db, o, el, err);" % d)
        add("uint32_t", "remove_cr", params(H, obj, el + " *el"),
            "list_remove(%s, h, h->database_id, o, el, &h->err);\n    return h->err;" % d)
        e = M.type_by[el]
        out.append(Entry(n + " *", "%s_%s_get_parent" % (el, lf.name), params(H, DB, el + " *el", ERR),
                         "return static_cast<%s *>(list_get_parent(%s, h, db, el, err));" % (n, T(e))))
    return out
