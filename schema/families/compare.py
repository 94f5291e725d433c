"""Comparison and hashing of every enumeration and structured type."""
from famlib import Doc, adder, params, T

TITLE = "Comparison and hashing"
DOCS = {
    "compare": Doc("Compares two {type} objects field by field in field order (lists and arrays element by "
                   "element, a missing object before any other): negative, 0 or positive."),
    "hash": Doc("A 32-bit hash of the fields of a {type}, starting from seed; equal objects hash "
                "alike."),
}



def entries(M, Entry):
    out = []
    for e in M.enums:
        n = e.name
        add = adder(out, Entry, n + "_", type=n)
        add("int32_t", "compare", params("const %s *a" % n, "const %s *b" % n), "return enum_compare(a, b);")
        add("uint32_t", "hash", params("const %s *o" % n, "uint32_t seed"), "return enum_hash(o, seed);")
    for t in M.types:
        n, d = t.name, T(t)
        add = adder(out, Entry, n + "_", type=n)
        add("int32_t", "compare", params("const %s *a" % n, "const %s *b" % n), "return obj_compare(%s, a, b);" % d)
        add("uint32_t", "hash", params("const %s *o" % n, "uint32_t seed"), "return obj_hash(%s, o, seed);" % d)
    return out
