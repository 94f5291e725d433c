"""Field access and state tracking: per-field get/set/state accessors, the
fixed string, and the whole-object operations."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: <type>_<field>_get of an enumeration field gives the instance
embedded in the object (the object owns it).  The whole-object set
<type>_set(dst, src) moves src's list elements and element block to dst
(dst's own are released first); src stays the caller's, emptied.
"""
from famlib import DB, ERR, H, T, adder, params


def entries(M, Entry):
    out = []
    for t in M.types:
        n, d = t.name, T(t)
        obj = n + " *o"
        for i, f in enumerate(t.fields):
            pre = "%s_%s_" % (n, f.name)
            add = adder(out, Entry, pre)
            fd = "%s, %d" % (d, i)
            if f.is_scalar or f.kind == "pair_count":
                so = f.scalar_obj
                add(so + " *", "get", params(H, DB, obj, ERR),
                    "return static_cast<%s *>(field_get(%s, h, db, o, err));" % (so, fd))
                add(f.ctype, "get_value", params(H, DB, obj, ERR),
                    "return static_cast<%s>(field_get_value(%s, h, db, o, err));" % (f.ctype, fd))
                if f.kind == "pair_count":
                    continue
                add("void", "set", params(H, DB, obj, "const %s *src" % so, ERR),
                    "field_set(%s, h, db, o, src, err);" % fd)
                add("void", "set_value", params(H, DB, obj, "uint32_t value", ERR),
                    "field_set_value(%s, h, db, o, value, err);" % fd)
            elif f.kind == "enum":
                add(f.ref + " *", "get", params(H, DB, obj, ERR),
                    "return static_cast<%s *>(field_get(%s, h, db, o, err));" % (f.ref, fd))
                add("uint32_t", "get_value", params(H, DB, obj, ERR),
                    "return field_get_value(%s, h, db, o, err);" % fd)
                add("void", "set", params(H, DB, obj, "const %s *src" % f.ref, ERR),
                    "field_set(%s, h, db, o, src, err);" % fd)
                add("void", "set_value", params(H, DB, obj, "uint32_t value", ERR),
                    "field_set_value(%s, h, db, o, value, err);" % fd)
            elif f.kind == "str":
                add("void", "get", params(H, DB, obj, "char *buf", "uint32_t size", ERR),
                    "str_get(%s, h, db, o, buf, size, err);" % fd)
                add("void", "set", params(H, DB, obj, "const char *s", "uint32_t len", ERR),
                    "str_set(%s, h, db, o, s, len, err);" % fd)
                add("uint32_t", "set_cr", params(H, obj, "const char *s", "uint32_t len"),
                    "str_set(%s, h, h->database_id, o, s, len, &h->err);\n    return h->err;" % fd)
            elif f.kind == "array":
                continue  # the counted-array family owns these
            add("uint8_t", "state_flag_get", params(H, DB, obj, ERR),
                "return field_state_get(%s, h, db, o, err);" % fd)
            add("void", "state_flag_set", params(H, DB, obj, "uint8_t value", ERR),
                "field_state_set(%s, h, db, o, value, err);" % fd)
        add = adder(out, Entry, n + "_")
        add(n + " *", "get", params(H, DB, obj), "return static_cast<%s *>(obj_get(%s, h, db, o));" % (n, d))
        vf = t.value_fields
        outs = []
        for f in vf:
            ct = {"u8": "uint8_t", "u16": "uint16_t"}.get(f.kind, "uint32_t")
            outs.append("%s *%s" % (ct, f.name))
        add("void", "get_all", params(H, DB, obj, *outs, ERR),
            "void *outs[] = {%s};\n    obj_get_all(%s, h, db, o, outs, err);" % (
                ", ".join(f.name for f in vf), d))
        sv = [f for f in vf if f.kind != "pair_count"]
        add("void", "set_all", params(H, DB, obj, *["uint32_t " + f.name for f in sv], ERR),
            "const uint32_t vals[] = {%s};\n    obj_set_all(%s, h, db, o, vals, err);" % (
                ", ".join(f.name for f in sv), d))
        add("void", "set", params(H, DB, n + " *dst", n + " *src", ERR), "obj_set(%s, h, db, dst, src, err);" % d)
        add("void", "set_all_state_tracking_flag", params(H, DB, obj, "uint32_t value"),
            "obj_set_all_state(%s, h, db, o, value);" % d)
        add("int", "is_valid_cr", params(H, obj, "uint32_t member", "uint32_t flags"),
            "return obj_is_valid_cr(%s, h, o, member, flags);" % d)
    return out
