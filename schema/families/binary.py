"""Binary encoding: measure, marshal and unmarshal of every enumeration and
structured type."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: unmarshal decodes into an object the caller made; the list
elements it creates belong to that object.
"""
from famlib import DB, E, E_MEM, E_SHORT, E_TRACK, E_VARIANT, ERR, H, T, Doc, adder, params

TITLE = "Binary encoding"
DOCS = {
    "len": Doc("Bytes the binary encoding of a {type} takes (an enumeration: 5)."),
    "len_cr": Doc("Bytes the encoding of a {type} takes, chained-error form: 0 when the handle holds an "
                  "error."),
    "marshal": Doc("Encodes a {type} at the start of buf, never writing more than len bytes; returns the bytes "
                   "written.",
                   errors=E_SHORT + "; " + E_VARIANT),
    "marshal_for_clone": Doc("Encodes a {type} as {type}_marshal does, without the variant check.",
                             errors=E_SHORT,
                             worker="the first half of {type}_clone"),
    "unmarshal": Doc("Decodes the encoding at the start of buf (len bytes) into a {type} the caller created; "
                     "returns the bytes consumed.  With in_place 0 list elements are created anew and "
                     "appended, so decode into a fresh object; non-zero updates an existing object (a list "
                     "of the same length keeps its elements, an array of the same count its block).",
                     owns="the object stays the caller's; the list elements and element block it gains are "
                          "the object's.",
                     errors="LOMARI_ERR_SHORT when the input ends before the encoding does; " + E_MEM + "; " +
                            E_VARIANT + "; " + E_TRACK),
}



def entries(M, Entry):
    out = []
    for e in M.enums:
        n, d = e.name, E(e)
        add = adder(out, Entry, n + "_", type=n)
        add("uint32_t", "len", params(H, DB, "const %s *o" % n), "return 5;")
        add("uint32_t", "len_cr", H, "return h->err ? 0 : 5;")
        add("uint32_t", "marshal", params(H, DB, "uint8_t *buf", "const %s *o" % n, "uint32_t len", ERR),
            "return enum_marshal(%s, h, db, buf, o, len, err);" % d)
        add("uint32_t", "unmarshal",
            params(H, DB, "const uint8_t *buf", n + " *o", "uint32_t len", "uint32_t in_place", ERR),
            "return enum_unmarshal(%s, h, db, buf, o, len, in_place, err);" % d)
    for t in M.types:
        n, d = t.name, T(t)
        add = adder(out, Entry, n + "_", type=n)
        add("uint32_t", "len", params(H, DB, "const %s *o" % n), "return obj_len(%s, h, db, o);" % d)
        add("uint32_t", "len_cr", params(H, "const %s *o" % n),
            "return h->err ? 0 : obj_len(%s, h, h->database_id, o);" % d)
        add("uint32_t", "marshal", params(H, DB, "uint8_t *buf", "const %s *o" % n, "uint32_t len", ERR),
            "return obj_marshal(%s, h, db, buf, o, len, err, true);" % d)
        add("uint32_t", "marshal_for_clone",
            params(H, DB, "uint8_t *buf", "const %s *o" % n, "uint32_t len", ERR),
            "return obj_marshal(%s, h, db, buf, o, len, err, false);" % d)
        add("uint32_t", "unmarshal",
            params(H, DB, "const uint8_t *buf", n + " *o", "uint32_t len", "uint32_t in_place", ERR),
            "return obj_unmarshal(%s, h, db, buf, o, len, in_place, err);" % d)
    return out
