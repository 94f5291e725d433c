"""XML rendering and parsing: to_xml, toxml_cr and from_xml of every
enumeration and structured type."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: from_xml fills an object the caller made; the list elements
it creates belong to that object.
"""
from famlib import H, DB, E_MEM, E_SHORT, ERR, Doc, adder, params, T, E

TITLE = "XML rendering and parsing"
DOCS = {
    "to_xml": Doc("Writes a {type} as an XML element called name into buf of len bytes; returns the "
                  "characters written.  A non-zero state flag adds each field's state byte.",
                  errors=E_SHORT),
    "toxml_cr": Doc("XML rendering of a {type} as an element named after its type, chained-error form: "
                    "0xFFFFFFFF when the handle holds an error afterwards.",
                    errors="as {type}_to_xml, in the handle's err"),
    "from_xml": Doc("Fills a {type} the caller created from the element the path selects in the parsed "
                    "document doc (\"//{type}\" finds it anywhere); fields whose elements are absent keep "
                    "their values.  A reason goes to msg (msg_len bytes) when given.",
                    owns="the object stays the caller's; list elements it gains are the object's.",
                    errors="LOMARI_ERR_NOT_FOUND when the path selects no element; LOMARI_ERR_INVALID for a "
                           "malformed value; " + E_MEM),
}



def entries(M, Entry):
    out = []
    for x, d, is_enum in [(e, E(e), True) for e in M.enums] + [(t, T(t), False) for t in M.types]:
        n = x.name
        add = adder(out, Entry, n + "_", type=n)
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
