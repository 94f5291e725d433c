"""Counted arrays: element get and set with growth, remove all, and the
whole and per-element state bytes."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: the elements live in one block the owner keeps:
<type>_pairs_get gives a place inside it, valid until the array grows or
is emptied.  <type>_pairs_set copies the value into the slot; the value
stays the caller's.
"""
from famlib import DB, E_MEM, E_TRACK, ERR, H, Doc, each_owner, params

TITLE = "Counted arrays"
E_ARR = "LOMARI_ERR_VARIANT when the owner's variant is not allowed"
DOCS = {
    "get": Doc("The {elem} at index in the {field} array of a {type}, or null past the end.",
               owns="the element lives in the owner's element block: valid until the array grows or is "
                    "emptied.",
               errors="LOMARI_ERR_NOT_FOUND for an index at or past pair_count; " + E_ARR),
    "set": Doc("Copies value into the slot at index of the {field} array of a {type}; an index at or past "
               "pair_count grows the array to index + 1 elements (the new ones zero, the block reallocated).",
               owns="value stays the caller's; the slot belongs to the owner.",
               errors=E_MEM + "; " + E_TRACK + "; " + E_ARR),
    "set_cr": Doc("Sets the slot at index of the {field} array, chained-error form: move 0 copies value, "
                  "otherwise value's owned storage moves into the slot.  Returns the handle's err.",
                  owns="value stays the caller's (emptied when moved).",
                  errors=E_MEM + "; " + E_TRACK + "; " + E_ARR),
    "remove_elements": Doc("Destroys every element of the {field} array of a {type} and releases the block; "
                           "pair_count becomes 0.",
                           owns="the elements and the block are released; views of them are dangling."),
    "state_flag_whole_get": Doc("The state byte of the {field} array as a whole (2 once written).",
                                errors=E_TRACK + "; " + E_ARR),
    "state_flag_whole_set": Doc("Sets the state byte of the {field} array as a whole.",
                                errors=E_TRACK + "; " + E_ARR),
    "state_flag_get": Doc("The state byte of the {field} element at index.",
                          errors="LOMARI_ERR_NOT_FOUND past pair_count; " + E_TRACK),
    "state_flag_set": Doc("Sets the state byte of the {field} element at index.",
                          errors="LOMARI_ERR_NOT_FOUND past pair_count; " + E_TRACK + "; " + E_ARR),
    "state_flag_get_arr": Doc("Stores in result the address of the per-element state bytes of the {field} "
                              "array (pair_count bytes).",
                              owns="the bytes stay the owner's.",
                              errors=E_TRACK),
    "state_flag_set_arr": Doc("Copies length bytes into the per-element state bytes of the {field} array.",
                              errors="LOMARI_ERR_NOT_FOUND when length is not pair_count; " + E_TRACK + "; " +
                                     E_ARR),
}



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
