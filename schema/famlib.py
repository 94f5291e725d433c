"""Shared pieces of the family modules: the entry record, parameter
spellings, descriptor expressions, the entries every object answers, and
the documentation record.

A family module (schema/families/<name>.py) defines entries(M, Entry)
returning Entry records; each becomes one declaration in lomari_api.h and
one thin extern "C" definition in stamps_<name>.cpp that forwards to the
family's engine function.  A new family is one such module: the generator
finds it by its file name.  The module also gives TITLE (its heading in
the reference) and DOCS: per kind of entry (the entry's doc key, normally
its operation suffix) a Doc, the text written above every declaration of
that kind; the generator refuses an entry whose kind has none.
"""
import re
from dataclasses import dataclass, field

H = "qel_handle_t *h"
DB = "uint32_t db"
ERR = "uint32_t *err"


@dataclass
class Entry:
    ret: str
    name: str
    params: str
    body: str
    doc: str = ""                             # key of the entry's Doc in its family's DOCS
    ctx: dict = field(default_factory=dict)   # the names the Doc's texts are formatted with

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


@dataclass
class Doc:
    """The comment of one kind of entry: what it does, who owns what
    afterwards, which errors it gives, and, for workers and hooks, who
    calls them instead of an application.  Texts are str.format templates
    over the entry's context ({type}, {field}, {elem}, {table}, ...) and
    {name}, the entry's own name."""
    what: str
    owns: str = ""
    errors: str = ""
    worker: str = ""


# Error phrases the families share.
E_NULL = "LOMARI_ERR_INVALID for a null object"
E_VARIANT = "LOMARI_ERR_VARIANT when the object's variant is not allowed in the handle's domain"
E_TRACK = "LOMARI_ERR_INVALID for an object that is not state tracked on a tracking handle"
E_MEM = "LOMARI_ERR_NO_MEMORY when an allocation fails"
E_SHORT = "LOMARI_ERR_SHORT when the buffer is too short"


def adder(out, Entry, prefix, key="", **ctx):
    """add(ret, suffix, params, body[, doc]): appends the entry named prefix
    + suffix, documented by the Doc under doc (by default key + suffix) and
    formatted with ctx."""
    return lambda r, s, p, b, doc=None: out.append(Entry(r, prefix + s, p, b, doc or key + s, ctx))


def each(out, Entry, items, desc, **ctx):
    """(add, name, descriptor) for each schema item; add appends the entries
    named <name>_<suffix>, documented with type=<name>."""
    for it in items:
        yield adder(out, Entry, it.name + "_", type=it.name, **ctx), it.name, desc(it)


def each_owner(out, Entry, M, kind):
    """(add, type, field, descriptor, element type name, owner parameter) for
    each type owning a field of kind ("list", "array"); add appends the
    entries named <type>_<field>_<suffix>, documented with type, field and
    elem."""
    for t, f in M.owners(kind):
        add = adder(out, Entry, "%s_%s_" % (t.name, f.name), type=t.name, field=f.name, elem=f.ref)
        yield add, t, f, T(t), f.ref, t.name + " *o"


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
    add = adder(out, Entry, n + "_", type=n)
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
    add = adder(out, Entry, n + "_", type=n)
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


# The comments of object_lifecycle's and object_queries' entries, shared by
# the enumeration and structured-type families.
LIFECYCLE_DOCS = {
    "create": Doc("Creates a new {type} with every field zero.",
                  owns="the caller owns the new object; {type}_destroy releases it.",
                  errors="none: null when memory runs out"),
    "create_cr": Doc("Creates a new {type}, chained-error form.",
                     owns="the caller owns the new object; after an error (stored earlier or now) the result is "
                          "the type's static null object, which destroy ignores.",
                     errors="LOMARI_ERR_NO_MEMORY in the handle's err when memory runs out"),
    "create_internal": Doc("Creates and initializes a new {type} for the database id given.",
                           owns="the caller owns the new object.",
                           errors="none: null when memory runs out",
                           worker="the worker behind {type}_create and {type}_create_cr, also called by the "
                                  "decoders for list elements and bodies"),
    "initialize": Doc("Prepares zeroed storage as a {type}: header, type-info reference, flags, statistics and "
                      "embedded enumeration fields.",
                      owns="the storage stays its owner's.",
                      errors="LOMARI_ERR_INVALID for a nested instance without a state base on a tracking "
                             "handle, or as the runtime's statistics report",
                      worker="create and the counted-array setter and decoder call it on storage they own"),
    "destroy": Doc("Destroys a {type} with everything it owns.",
                   owns="releases the object, its embedded enumerations, list elements and element block; a "
                        "null object or the type's null object is ignored.  An object whose object-id mapping "
                        "is still referenced stays until the runtime releases it."),
    "destroy_cr": Doc("Destroys a {type}, chained-error form (the handle's database_id).",
                      owns="as {type}_destroy."),
    "destroy_internal": Doc("Destroys a {type}; with free_it 0 it releases what the object owns but not the "
                            "object's own storage.",
                            owns="as {type}_destroy when free_it is non-zero.",
                            worker="the worker behind {type}_destroy, called with free_it 0 for objects inside "
                                   "another allocation (counted-array elements)"),
}
QUERY_DOCS = {
    "set_instance_embedded": Doc("Marks a {type} (and its enumeration fields) as embedded in another object.",
                                 worker="set by the library when an object becomes a record's field"),
    "get_oid_count": Doc("Answers the runtime's object-id count query for a {type}: always 0.",
                         errors=E_NULL, worker="a query of the runtime"),
    "get_object_references": Doc("Answers the runtime's table-reference query for a {type}: the domain's "
                                 "types refer to no table, so refs and count are left untouched.",
                                 errors=E_NULL, worker="a query of the runtime"),
    "adjust_variant": Doc("Asks the runtime to adjust the variant of a {type} to the handle's domain; "
                          "returns the runtime's answer.",
                          errors="as the runtime reports", worker="called by the setters before they write"),
    "variant_data_index_cap": Doc("Caps a variant data index: unchanged when bit 0x80 is set, else with its "
                                  "low 8 bits cleared.",
                                  worker="a query of the runtime"),
    "get_luid": Doc("Writes the 16-byte identifier of the object's type to luid_out (the runtime's "
                    "qel_get_luid); returns its answer.",
                    errors="as qel_get_luid reports"),
}
