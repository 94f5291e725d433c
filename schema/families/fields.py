"""Field access and state tracking: per-field get/set/state accessors, the
fixed string, and the whole-object operations."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: <type>_<field>_get of an enumeration field gives the instance
embedded in the object (the object owns it).  The whole-object set
<type>_set(dst, src) moves src's list elements and element block to dst
(dst's own are released first); src stays the caller's, emptied.
"""
from famlib import DB, E_NULL, E_TRACK, E_VARIANT, ERR, H, T, Doc, adder, params

TITLE = "Field access and state tracking"
E_SET = "; ".join([E_NULL, E_VARIANT, E_TRACK])
DOCS = {
    "scalar.get": Doc("Field {field} of a {type} as the runtime's scalar object ({width}).",
                      owns="the scalar object is the field inside the {type}: the object keeps it.",
                      errors=E_NULL + "; " + E_VARIANT),
    "scalar.get_value": Doc("The value of field {field} of a {type} ({width}).",
                            errors=E_NULL + "; " + E_VARIANT),
    "scalar.set": Doc("Copies the scalar object src into field {field} of a {type}; on a tracking handle its "
                      "state byte becomes 2.",
                      owns="src stays the caller's.", errors=E_SET),
    "scalar.set_value": Doc("Sets field {field} of a {type} ({width}); on a tracking handle its state byte "
                            "becomes 2.",
                            errors=E_SET),
    "count.get": Doc("The element count {field} of a {type} as the runtime's scalar object; the counted-array "
                     "operations change it.",
                     owns="the scalar object is the field inside the {type}.",
                     errors=E_NULL + "; " + E_VARIANT),
    "count.get_value": Doc("The element count {field} of a {type}: how many elements its counted array has.",
                           errors=E_NULL + "; " + E_VARIANT),
    "enum.get": Doc("Field {field} of a {type}: the {enum} instance embedded in it.",
                    owns="the instance is part of the {type}, which keeps it.",
                    errors=E_NULL + "; " + E_VARIANT),
    "enum.get_value": Doc("The value of the {enum} field {field} of a {type}.",
                          errors=E_NULL + "; " + E_VARIANT),
    "enum.set": Doc("Copies the value of the {enum} src into field {field} of a {type}; on a tracking handle "
                    "its state byte becomes 2.",
                    owns="src stays the caller's.",
                    errors=E_SET + "; LOMARI_ERR_VARIANT for a value out of range"),
    "enum.set_value": Doc("Sets the {enum} field {field} of a {type}; on a tracking handle its state byte "
                          "becomes 2.",
                          errors=E_SET + "; LOMARI_ERR_VARIANT for a value out of range"),
    "str.get": Doc("Copies the string field {field} of a {type} (at most 31 characters) into buf of size "
                   "bytes, terminated.",
                   errors=E_NULL + "; LOMARI_ERR_NO_SPACE when buf is too small (the part that fits is "
                          "copied and terminated)"),
    "str.set": Doc("Sets the string field {field} of a {type} from the len characters at s; on a tracking "
                   "handle its state byte becomes 2.",
                   errors=E_SET + "; LOMARI_ERR_INVALID for more than 31 characters"),
    "str.set_cr": Doc("Sets the string field {field} of a {type}, chained-error form; returns the handle's "
                      "err.",
                      errors="as {type}_{field}_set, in the handle's err"),
    "get": Doc("The {type} itself (recorded as contained when the handle tracks containment)."),
    "get_all": Doc("Reads every number and enumeration field of a {type} at once, in field order, into the "
                   "given places.",
                   errors=E_NULL + "; " + E_VARIANT),
    "set_all": Doc("Sets every number and enumeration field of a {type} at once, in field order.",
                   errors=E_SET + "; LOMARI_ERR_VARIANT for an enumeration value out of range"),
    "set": Doc("Whole-object set: dst takes src's field values, and src's list elements or element block "
               "move to dst.",
               owns="dst's own list elements or element block are released first; src stays the caller's, "
                    "emptied of them.",
               errors=E_SET + "; LOMARI_ERR_VARIANT for a set across variants"),
    "set_all_state_tracking_flag": Doc("Sets every state byte of a {type} (and of its elements) to the low 8 "
                                       "bits of value; only objects tracked on a tracking handle have "
                                       "them."),
    "is_valid_cr": Doc("1 when member is a member number of {type} (below {bound}), else 0.",
                       worker="a query of the runtime"),
}
for k in ("scalar", "enum", "str", "list"):
    DOCS[k + ".state_flag_get"] = Doc("The state byte of field {field} of a {type}: 2 once written, 0 before.",
                                      errors=E_NULL + "; " + E_TRACK)
    DOCS[k + ".state_flag_set"] = Doc("Sets the state byte of field {field} of a {type} to value.",
                                      errors=E_SET)
WIDTHS = {"u8": "unsigned 8 bits", "u16": "unsigned 16 bits", "u32": "unsigned 32 bits",
          "pair_count": "unsigned 32 bits"}



def entries(M, Entry):
    out = []
    for t in M.types:
        n, d = t.name, T(t)
        obj = n + " *o"
        for i, f in enumerate(t.fields):
            pre = "%s_%s_" % (n, f.name)
            key = {"u8": "scalar", "u16": "scalar", "u32": "scalar", "pair_count": "count"}.get(f.kind, f.kind)
            add = adder(out, Entry, pre, key + ".", type=n, field=f.name, width=WIDTHS.get(f.kind, ""),
                        enum=f.ref)
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
        add = adder(out, Entry, n + "_", type=n, bound=t.member_bound)
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
