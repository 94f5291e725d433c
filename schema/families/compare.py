"""Comparison and hashing of every enumeration and structured type."""
from famlib import params, T


def entries(M, Entry):
    out = []
    for e in M.enums:
        n = e.name
        out.append(Entry("int32_t", n + "_compare", params("const %s *a" % n, "const %s *b" % n),
                         "return enum_compare(a, b);"))
        out.append(Entry("uint32_t", n + "_hash", params("const %s *o" % n, "uint32_t seed"),
                         "return enum_hash(o, seed);"))
    for t in M.types:
        n, d = t.name, T(t)
        out.append(Entry("int32_t", n + "_compare", params("const %s *a" % n, "const %s *b" % n),
                         "return obj_compare(%s, a, b);" % d))
        out.append(Entry("uint32_t", n + "_hash", params("const %s *o" % n, "uint32_t seed"),
                         "return obj_hash(%s, o, seed);" % d))
    return out
