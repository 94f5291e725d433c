"""Binary encoding: measure, marshal and unmarshal of every enumeration and
structured type."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: unmarshal decodes into an object the caller made; the list
elements it creates belong to that object.
"""
from famlib import DB, E, ERR, H, T, adder, params


def entries(M, Entry):
    out = []
    for e in M.enums:
        n, d = e.name, E(e)
        add = adder(out, Entry, n + "_")
        add("uint32_t", "len", params(H, DB, "const %s *o" % n), "return 5;")
        add("uint32_t", "len_cr", H, "return h->err ? 0 : 5;")
        add("uint32_t", "marshal", params(H, DB, "uint8_t *buf", "const %s *o" % n, "uint32_t len", ERR),
            "return enum_marshal(%s, h, db, buf, o, len, err);" % d)
        add("uint32_t", "unmarshal",
            params(H, DB, "const uint8_t *buf", n + " *o", "uint32_t len", "uint32_t in_place", ERR),
            "return enum_unmarshal(%s, h, db, buf, o, len, in_place, err);" % d)
    for t in M.types:
        n, d = t.name, T(t)
        add = adder(out, Entry, n + "_")
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
