"""Text rendering: print and print_cr of every enumeration and structured
type."""
from famlib import H, DB, E_SHORT, ERR, Doc, adder, params, T, E

TITLE = "Text rendering"
DOCS = {
    "print": Doc("Writes the text rendering of a {type} into buf of len bytes: indent spaces, then "
                 "\"name@{type}:\" and its fields (one per line, lists and arrays element by element); returns "
                 "the characters written.",
                 errors=E_SHORT + "; LOMARI_ERR_INVALID for a null name"),
    "print_cr": Doc("Text rendering of a {type} named after its type, chained-error form: 0xFFFFFFFF when the "
                    "handle holds an error afterwards.",
                    errors="as {type}_print, in the handle's err"),
}



def entries(M, Entry):
    out = []
    kinds = [(e, E(e), "enum_print") for e in M.enums] + [(t, T(t), "obj_print") for t in M.types]
    for x, d, fn in kinds:
        n = x.name
        add = adder(out, Entry, n + "_", type=n)
        add("uint32_t", "print",
            params(H, DB, "char *buf", "uint32_t indent", "const char *name", "const %s *o" % n,
                   "uint32_t len", ERR),
            "return %s(%s, h, db, buf, indent, name, o, len, err);" % (fn, d))
        add("uint32_t", "print_cr", params(H, "const %s *o" % n, "char *buf", "uint32_t len"),
            "uint32_t r = %s(%s, h, h->database_id, buf, 0, \"%s\", o, len, &h->err);\n"
            "    return h->err ? 0xFFFFFFFFu : r;" % (fn, d, n))
    return out
