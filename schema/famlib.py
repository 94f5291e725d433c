"""Shared pieces of the family modules: the entry record, parameter
spellings, descriptor expressions, and the entries every object answers.

A family module (schema/families/<name>.py) defines entries(M, Entry)
returning Entry records; each becomes one declaration in lomari_api.h and
one thin extern "C" definition in stamps_<name>.cpp that forwards to the
family's engine function.  A new family is one such module: the generator
finds it by its file name.
"""
import re
from dataclasses import dataclass

H = "qel_handle_t *h"
DB = "uint32_t db"
ERR = "uint32_t *err"


@dataclass
class Entry:
    ret: str
    name: str
    params: str
    body: str

    def decl(self):
        return "LOMARI_API %s %s(%s);" % (self.ret, self.name, self.params)

    def stamp(self):
        return 'extern "C" LOMARI_API %s %s(%s) {\n    %s\n}' % (
            self.ret, self.name, unused_marked(self.params, self.body), self.body)


def split_params(ps):
    """The parameters of a list, split at the commas outside parentheses."""
    out, depth, cur = [], 0, ""
    for ch in ps:
        depth += (ch == "(") - (ch == ")")
        if ch == "," and depth == 0:
            out.append(cur.strip())
            cur = ""
        else:
            cur += ch
    return out + [cur.strip()] if cur.strip() else out


def unused_marked(ps, body):
    """The parameter list with the parameters the body does not use marked
    [[maybe_unused]]: every entry keeps the family's signature, and the
    definition compiles without warnings."""
    out = []
    for p in split_params(ps):
        m = re.search(r"\(\*(\w+)\)", p) or re.search(r"(\w+)$", p)
        if p != "void" and m and not re.search(r"\b%s\b" % m.group(1), body):
            p = "[[maybe_unused]] " + p
        out.append(p)
    return ", ".join(out)


def adder(out, Entry, prefix):
    """add(ret, suffix, params, body): appends the entry named prefix + suffix."""
    return lambda r, s, p, b: out.append(Entry(r, prefix + s, p, b))


def each(out, Entry, items, desc):
    """(add, name, descriptor) for each schema item; add appends the entries
    named <name>_<suffix>."""
    for it in items:
        yield adder(out, Entry, it.name + "_"), it.name, desc(it)


def each_owner(out, Entry, M, kind):
    """(add, type, field, descriptor, element type name, owner parameter) for
    each type owning a field of kind ("list", "array"); add appends the
    entries named <type>_<field>_<suffix>."""
    for t, f in M.owners(kind):
        yield adder(out, Entry, "%s_%s_" % (t.name, f.name)), t, f, T(t), f.ref, t.name + " *o"


def params(*ps):
    return ", ".join(p for p in ps if p)


def T(t):
    """Descriptor expression of a structured type."""
    return "kTypes[%d]" % t.ordinal


def E(e):
    return "kEnums[%d]" % e.ordinal


def MSG(m):
    return "kMessages[%d]" % m.ordinal


def TABLE(tb):
    return "kTables[%d]" % tb.ordinal


def object_queries(Entry, n, d):
    """The runtime queries every enumeration and structured type answers."""
    out = []
    add = adder(out, Entry, n + "_")
    add("void", "set_instance_embedded", params(H, DB, n + " *inst"),
        "set_instance_embedded(%s, h, db, inst);" % d)
    add("uint32_t", "get_oid_count", params(H, DB, n + " *inst", ERR),
        "return get_oid_count(%s, h, db, inst, err);" % d)
    add("void", "get_object_references", params(H, DB, n + " *inst", "void *refs", "void *count", ERR),
        "get_object_references(%s, h, db, inst, err);" % d)
    add("int", "adjust_variant", params(H, DB, n + " *inst", ERR),
        "return adjust_variant(%s, h, db, inst, err);" % d)
    add("uint32_t", "variant_data_index_cap", "uint32_t index",
        "return (index & 0x80u) ? index : (index & ~0xFFu);")
    add("int", "get_luid", params(H, DB, "const %s *inst" % n, "uint8_t *luid_out", ERR),
        "return qel_get_luid(h, db, inst, luid_out, err);")
    return out


def object_lifecycle(Entry, n, d, create, create_cr, create_internal, initialize, destroy):
    """Create, initialize and destroy of an enumeration or structured type,
    forwarded to the given engine functions."""
    out = []
    add = adder(out, Entry, n + "_")
    add(n + " *", "create", params(H, DB), "return static_cast<%s *>(%s(%s, h, db));" % (n, create, d))
    add(n + " *", "create_cr", H, "return static_cast<%s *>(%s(%s, h));" % (n, create_cr, d))
    add(n + " *", "create_internal", params(H, DB),
        "return static_cast<%s *>(%s(%s, h, db));" % (n, create_internal, d))
    add("void", "initialize",
        params(H, DB, n + " *inst", "qel_type_info_t *tinfo", "uint32_t notify",
               "uint32_t skip_stats", "uint8_t or_flags", "uint8_t *state_base", ERR),
        "%s(%s, h, db, inst, tinfo, notify, skip_stats, or_flags, state_base, err);" % (initialize, d))
    add("void", "destroy", params(H, DB, n + " *inst"), "%s(%s, h, db, inst, 1);" % (destroy, d))
    add("void", "destroy_cr", params(H, n + " *inst"), "%s(%s, h, h->database_id, inst, 1);" % (destroy, d))
    add("void", "destroy_internal", params(H, DB, n + " *inst", "uint32_t free_it"),
        "%s(%s, h, db, inst, free_it);" % (destroy, d))
    return out
