"""Clone and copy-out of every structured type."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: a clone is a new object of the caller's, independent of its
source.
"""
from famlib import DB, E_MEM, E_SHORT, ERR, H, T, Doc, each, params

TITLE = "Clone and copy-out"
DOCS = {
    "clone_internal": Doc("Copies src into *dst by encoding it into buf (buf_len bytes) and decoding; an empty "
                          "*dst gets a new {type}, a filled one is decoded into (its list gains src's "
                          "elements).",
                          owns="a new copy is the caller's; src is unchanged.",
                          errors="LOMARI_ERR_NOT_FOUND when dst or buf is null; " + E_SHORT + " for the "
                                 "encoding; " + E_MEM,
                          worker="the worker behind {type}_clone, also used by the counted-array setter"),
    "clone": Doc("Makes *dst a new {type} equal to src, through the scratch buffer buf of buf_len bytes "
                 "(it must hold src's encoding, {type}_len).",
                 owns="the caller owns the new copy; src is unchanged.  On failure *dst is null.",
                 errors="LOMARI_ERR_NOT_FOUND when dst or buf is null; " + E_SHORT + " (buf); " + E_MEM),
    "clone_cr": Doc("A new {type} equal to src, chained-error form, through the handle's workspace.",
                    owns="the caller owns the new copy; null on failure.",
                    errors="as {type}_clone, in the handle's err"),
    "post_copyout_cleanup": Doc("After a memory copy of src over dst, moves src's list elements or element "
                                "block to dst and leaves src empty.",
                                owns="src's list elements or element block become dst's.",
                                worker="called by the whole-object set {type}_set"),
    "offset_update": Doc("Does nothing for this domain's types.",
                         worker="a hook of the runtime"),
    "offset_remove": Doc("Does nothing for this domain's types.",
                         worker="a hook of the runtime"),
}



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
