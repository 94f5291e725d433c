"""Clone and copy-out of every structured type."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: a clone is a new object of the caller's, independent of its
source.
"""
from famlib import DB, ERR, H, T, each, params


def entries(M, Entry):
    out = []
    for add, n, d in each(out, Entry, M.types, T):
        cp = params(H, DB, n + " *src", n + " **dst", "uint8_t *buf", "uint32_t buf_len", ERR)
        add("void", "clone_internal", cp,
            "obj_clone_internal(%s, h, db, src, reinterpret_cast<void **>(dst), buf, buf_len, err);" % d)
        add("void", "clone", cp,
            "if (dst && !*err) *dst = nullptr;\n"
            "    obj_clone_internal(%s, h, db, src, reinterpret_cast<void **>(dst), buf, buf_len, err);" % d)
        add(n + " *", "clone_cr", params(H, n + " *src"),
            "return static_cast<%s *>(obj_clone_cr(%s, h, src));" % (n, d))
        add("void", "post_copyout_cleanup", params(H, DB, n + " *dst", n + " *src"),
            "obj_post_copyout_cleanup(%s, h, db, dst, src);" % d)
        add("void", "offset_update", "void", "")
        add("void", "offset_remove", "void", "")
    return out
