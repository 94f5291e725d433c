"""Ordered lists: walking, counting, inserting, removing, and the parent
query of the element type."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: an element added to a list (set_first, set_last, set_before,
set_after, add_cr) belongs to the list's owner and is destroyed with it;
<type>_<list>_remove gives it back to the caller.  The get forms give
elements the owner keeps.
"""
from famlib import DB, E_NULL, E_VARIANT, ERR, H, T, Doc, each_owner, params

TITLE = "Ordered lists"
E_LIST = E_NULL + "; " + E_VARIANT
E_POS = "position 0 first, 1 last, 2 before ref, 3 after ref"
DOCS = {
    "get_first": Doc("The first {elem} of the {field} list of a {type}, or null when it is empty.",
                     owns="the owner keeps the element.", errors=E_LIST),
    "get_last": Doc("The last {elem} of the {field} list of a {type}, or null when it is empty.",
                    owns="the owner keeps the element.", errors=E_LIST),
    "get_prev": Doc("The {elem} before ref in the {field} list, or null at the start.",
                    owns="the owner keeps the element.", errors=E_LIST),
    "get_next": Doc("The {elem} after ref in the {field} list, or null at the end.",
                    owns="the owner keeps the element.", errors=E_LIST),
    "get_count": Doc("The number of elements of the {field} list of a {type}.", errors=E_LIST),
    "get_cr": Doc("An element of the {field} list, chained-error form: flag 0 the first, 1 the last, 2 the one "
                  "before ref, 3 the one after ref.",
                  owns="the owner keeps the element.",
                  errors="LOMARI_ERR_INVALID for another flag, in the handle's err; " + E_VARIANT),
    "set_first": Doc("Inserts el at the start of the {field} list of a {type}.",
                     owns="el belongs to the list's owner from now on and is destroyed with it.",
                     errors=E_LIST + "; LOMARI_ERR_INVALID for an element already in a list"),
    "set_last": Doc("Appends el to the {field} list of a {type}.",
                    owns="el belongs to the list's owner from now on and is destroyed with it.",
                    errors=E_LIST + "; LOMARI_ERR_INVALID for an element already in a list"),
    "set_before": Doc("Inserts el before ref in the {field} list of a {type}.",
                      owns="el belongs to the list's owner from now on and is destroyed with it.",
                      errors=E_LIST + "; LOMARI_ERR_INVALID for an element already in a list; "
                             "LOMARI_ERR_NOT_FOUND when ref is not in this list"),
    "set_after": Doc("Inserts el after ref in the {field} list of a {type}.",
                     owns="el belongs to the list's owner from now on and is destroyed with it.",
                     errors=E_LIST + "; LOMARI_ERR_INVALID for an element already in a list; "
                            "LOMARI_ERR_NOT_FOUND when ref is not in this list"),
    "add_cr": Doc("Inserts el into the {field} list, chained-error form (" + E_POS + "); returns the handle's "
                  "err.",
                  owns="el belongs to the list's owner from now on and is destroyed with it.",
                  errors="as the set forms, in the handle's err; LOMARI_ERR_INVALID for a bad position"),
    "remove": Doc("Takes el out of the {field} list of a {type}.",
                  owns="el is the caller's again: {elem}_destroy releases it.",
                  errors=E_LIST + "; LOMARI_ERR_NOT_FOUND when el is not in this list"),
    "remove_cr": Doc("Takes el out of the {field} list, chained-error form; returns the handle's err.",
                     owns="el is the caller's again.",
                     errors="as {type}_{field}_remove, in the handle's err"),
    "get_parent": Doc("The {type} whose {field} list holds el, or null when el is in no list.",
                      owns="the owner is not handed out.",
                      errors=E_NULL + "; " + E_VARIANT),
}



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
                         "return static_cast<%s *>(list_get_parent(%s, h, db, el, err));" % (n, T(e)),
                         "get_parent", dict(type=n, field=lf.name, elem=el)))
    return out
