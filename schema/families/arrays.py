"""Counted arrays: element get and set with growth, remove all, and the
whole and per-element state bytes."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: the elements live in one block the owner keeps:
<type>_pairs_get gives a place inside it, valid until the array grows or
is emptied.  <type>_pairs_set copies the value into the slot; the value
stays the caller's.
"""
from famlib import DB, ERR, H, each_owner, params


def entries(M, Entry):
    out = []
    for add, t, af, d, el, obj in each_owner(out, Entry, M, "array"):
        n = t.name
        add(el + " *", "get", params(H, DB, obj, "uint32_t index", ERR),
            "return static_cast<%s *>(array_get(%s, h, db, o, index, err));" % (el, d))
        add("void", "set", params(H, DB, obj, "uint32_t index", el + " *value", ERR),
            "array_set(%s, h, db, o, index, value, 1, err);" % d)
        add("uint32_t", "set_cr", params(H, obj, "uint32_t index", el + " *value", "uint32_t move"),
            "array_set(%s, h, h->database_id, o, index, value, move, &h->err);\n    return h->err;" % d)
        add("void", "remove_elements", params(H, DB, obj), "array_remove_elements(%s, h, db, o);" % d)
        add("uint8_t", "state_flag_whole_get", params(H, DB, obj, ERR),
            "return array_whole_state_get(%s, h, db, o, err);" % d)
        add("void", "state_flag_whole_set", params(H, DB, obj, "uint8_t value", ERR),
            "array_whole_state_set(%s, h, db, o, value, err);" % d)
        add("uint8_t", "state_flag_get", params(H, DB, obj, "uint32_t index", ERR),
            "return array_state_get(%s, h, db, o, index, err);" % d)
        add("void", "state_flag_set", params(H, DB, obj, "uint32_t index", "uint8_t value", ERR),
            "array_state_set(%s, h, db, o, index, value, err);" % d)
        add("void", "state_flag_get_arr", params(H, DB, obj, "uint8_t **result", ERR),
            "array_state_get_arr(%s, h, db, o, result, err);" % d)
        add("void", "state_flag_set_arr", params(H, DB, obj, "const uint8_t *bytes", "uint32_t length", ERR),
            "array_state_set_arr(%s, h, db, o, bytes, length, err);" % d)
    return out
