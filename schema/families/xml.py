"""XML rendering and parsing: to_xml, toxml_cr and from_xml of every
enumeration and structured type."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: from_xml fills an object the caller made; the list elements
it creates belong to that object.
"""
from famlib import H, DB, ERR, adder, params, T, E


def entries(M, Entry):
    out = []
    for x, d, is_enum in [(e, E(e), True) for e in M.enums] + [(t, T(t), False) for t in M.types]:
        n = x.name
        add = adder(out, Entry, n + "_")
        render = "enum_to_xml(%s, h, %%s, %%s, buf, o, len, %%s)" % d if is_enum else \
                 "obj_to_xml(%s, h, %%s, %%s, buf, o, len, %%s, %%s)" % d
        # Enumerations take the state flag like every type, and ignore it.
        add("uint32_t", "to_xml",
            params(H, DB, "const char *name", "char *buf", "const %s *o" % n, "uint32_t len",
                   "uint8_t state", ERR),
            ("(void)state;\n    return " + render % ("db", "name", "err") + ";") if is_enum else
            "return " + render % ("db", "name", "state", "err") + ";")
        cr = render % ("h->database_id", '"%s"' % n, "&h->err") if is_enum else \
            render % ("h->database_id", '"%s"' % n, "0", "&h->err")
        add("uint32_t", "toxml_cr", params(H, "const %s *o" % n, "char *buf", "uint32_t len"),
            "uint32_t r = %s;\n    return h->err ? 0xFFFFFFFFu : r;" % cr)
        add("void", "from_xml",
            params(H, DB, "const char *path", "qel_xml_doc_t *doc", n + " *o", ERR, "char *msg",
                   "uint32_t msg_len"),
            "%s(%s, h, db, path, doc, o, err, msg, msg_len);" % ("enum_from_xml" if is_enum else "obj_from_xml", d))
    return out
