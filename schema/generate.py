#!/usr/bin/env python3
"""Generates the lomari library's derived sources from schema/lomari.py.

Outputs (all under --out):
  include/lomari/lomari_types.h   C layouts of every instance, enum values,
                                  layout assertions
  include/lomari/lomari_api.h     declarations of every generated entry point
  src/schema_data.cpp             descriptor tables, type-info records,
                                  variant records, null objects, trace tables,
                                  exported identifier constants
  src/trace_points.h              trace point keys of each block
  src/stamps_<family>.cpp         the exported entry points of each family
  lomari.map                      linker version script (the ABI list)
  ostrel.bin                      the type manifest section payload
  stamped.txt                     every name the generator stamped

A family module in schema/families/ defines entries(model) returning
Entry records; each becomes one declaration and one thin extern "C"
definition that forwards to the family's engine function.
"""

import argparse
import importlib.util
import os
import socket
import sys
import time
from dataclasses import dataclass, field as dfield

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import lomari as S  # noqa: E402
import traces as TR  # noqa: E402

HEADER_SIZE = 11  # type-info pointer, variant, second header byte, flags


def round_up(n, a):
    return (n + a - 1) // a * a


# ---------------------------------------------------------------------------
# Model
# ---------------------------------------------------------------------------

@dataclass
class Enum:
    name: str
    values: list
    ordinal: int
    luid: str
    luid2: str

    @property
    def bound(self):
        return len(self.values)


@dataclass
class Field:
    name: str
    kind: str          # u8 u16 u32 enum str list pair_count array
    ref: str = ""      # enum name or element type name
    offset: int = 0
    size: int = 0
    align: int = 1
    state_idx: int = 0xFF

    @property
    def is_scalar(self):
        return self.kind in ("u8", "u16", "u32")

    @property
    def width(self):
        return {"u8": 8, "u16": 16, "u32": 32, "pair_count": 32}.get(self.kind, 0)

    @property
    def ctype(self):
        return {"u8": "uint8_t", "u16": "uint16_t", "u32": "uint32_t",
                "pair_count": "uint32_t"}.get(self.kind, self.ref)

    @property
    def scalar_obj(self):
        return {"u8": "u_int8", "u16": "u_int16", "u32": "u_int32",
                "pair_count": "u_int32"}[self.kind]


@dataclass
class Type:
    name: str
    ordinal: int
    fields: list
    tail: int
    luid: str
    luid2: str
    plain_size: int = 0
    state_size: int = 0
    anchor_off: int = 0
    link_off: int = 0
    list_owner: "Type" = None
    list_name: str = ""          # element types: the list's field name
    members: list = dfield(default_factory=list)  # C struct members

    @property
    def tracked_size(self):
        return self.plain_size + self.state_size

    @property
    def manifest_size(self):
        return self.plain_size - self.tail

    def index_of(self, kind):
        for i, f in enumerate(self.fields):
            if f.kind == kind:
                return i
        return -1

    @property
    def list_field(self):
        i = self.index_of("list")
        return self.fields[i] if i >= 0 else None

    @property
    def array_field(self):
        i = self.index_of("array")
        return self.fields[i] if i >= 0 else None

    @property
    def member_bound(self):
        n = len(self.fields)
        if self.list_owner is not None:
            n += 2
        if self.list_field is not None:
            n += 1
        return n

    @property
    def value_fields(self):
        """Scalar and enumeration fields (get_all/set_all order)."""
        return [f for f in self.fields if f.is_scalar or f.kind in ("enum", "pair_count")]

    @property
    def n_state_fields(self):
        return sum(1 for f in self.fields if f.state_idx != 0xFF)

    @property
    def enc_fixed(self):
        n = 6
        for f in self.fields:
            n += {"u8": 1, "u16": 2, "u32": 4, "pair_count": 4, "enum": 5,
                  "str": 31, "list": 4, "array": 0}[f.kind]
        return n

    @property
    def enc_state(self):
        n = 0
        for f in self.fields:
            if f.kind == "str":
                n += 32
            elif f.kind != "pair_count":
                n += 1
        return n


@dataclass
class Message:
    name: str
    ordinal: int
    body: Type
    tag: int
    luid: str
    luid2: str

    @property
    def full(self):
        return self.name + "_message"


@dataclass
class Table:
    name: str
    ordinal: int
    parts: list
    luid: str
    luid2: str
    rec_luid: str
    rec_luid2: str


class Model:
    def __init__(self):
        self.enums = [Enum(n, v, i, *S.LUIDS[n]) for i, (n, v) in enumerate(S.ENUMS)]
        self.enum_by = {e.name: e for e in self.enums}
        self.types = []
        for i, t in enumerate(S.TYPES):
            name, fields = t[0], t[1]
            opts = t[2] if len(t) > 2 else {}
            fl = []
            for fname, kind in fields:
                k, _, ref = kind.partition(":")
                fl.append(Field(fname, k, ref))
            self.types.append(Type(name, i, fl, opts.get("tail", 8), *S.LUIDS[name]))
        self.type_by = {t.name: t for t in self.types}
        for t in self.types:
            lf = t.list_field
            if lf:
                el = self.type_by[lf.ref]
                el.list_owner = t
                el.list_name = lf.name
        for t in self.types:
            self._layout(t)
        self.messages = [Message(n, i, self.type_by[b], tag, *S.LUIDS[n])
                         for i, (n, b, tag) in enumerate(S.MESSAGES)]
        self.tables = [Table(n, i, p, *S.LUIDS[n], *S.LUIDS[n + "_record"])
                       for i, (n, p) in enumerate(S.TABLES)]

    def _layout(self, t):
        off = HEADER_SIZE
        st = 0
        members = []
        for f in t.fields:
            size, align = {
                "u8": (1, 1), "u16": (2, 2), "u32": (4, 4), "pair_count": (4, 4),
                "enum": (16, 8), "str": (32, 1), "list": (28, 8), "array": (8, 8),
            }[f.kind]
            off = round_up(off, align)
            f.offset, f.size, f.align = off, size, align
            if f.kind == "list":
                t.anchor_off = off
                members += [("void *", f.name + "_first"), ("void *", f.name + "_last"),
                            ("void *", f.name + "_owner"), ("uint32_t", f.name + "_count")]
            elif f.kind == "array":
                members.append(("struct %s *" % f.ref, f.name))
            elif f.kind == "str":
                members.append(("char", f.name + "[32]"))
            elif f.kind == "enum":
                members.append((f.ref, f.name))
            else:
                members.append((f.ctype, f.name))
            off += size
            if f.kind != "pair_count":
                f.state_idx = st
                st += 1
        if t.list_owner is not None:
            off = round_up(off, 8)
            t.link_off = off
            ln = t.list_name
            members += [("void *", ln + "_anchor"), ("void *", ln + "_next"),
                        ("void *", ln + "_prev")]
            off += 24
        off = round_up(off, 8)
        members.append(("uint64_t", "reserved_[%d]" % (t.tail // 8)))
        t.plain_size = off + t.tail
        t.state_size = 16 if t.array_field else st
        t.members = members

    # every type-info record in registration order: (cname, kind, name, luid, luid2, used, slop)
    def type_list(self):
        out = []
        for t in self.types:
            out.append(("ti_" + t.name, "type", t.name, t.luid, t.luid2,
                        t.manifest_size, t.plain_size - t.manifest_size, t))
        for e in self.enums:
            out.append(("ti_" + e.name, "enum", e.name, e.luid, e.luid2, 16, 0, e))
        for tb in self.tables:
            out.append(("ti_" + tb.name, "table", tb.name, tb.luid, tb.luid2, 8, 0, tb))
            out.append(("ti_" + tb.name + "_record", "table_record", tb.name + "_record",
                        tb.rec_luid, tb.rec_luid2, 8, 0, tb))
        for m in self.messages:
            out.append(("ti_msg_" + m.name, "message", m.name, m.luid, m.luid2, 40, 0, m))
        return out


# ---------------------------------------------------------------------------
# Families
# ---------------------------------------------------------------------------

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
            self.ret, self.name, self.params, self.body)


def load_families():
    fams = []
    d = os.path.join(HERE, "families")
    for fn in sorted(os.listdir(d)):
        if not fn.endswith(".py") or fn.startswith("_"):
            continue
        module_spec = importlib.util.spec_from_file_location("fam_" + fn[:-3], os.path.join(d, fn))
        mod = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(mod)
        fams.append((fn[:-3], mod))
    return fams


# ---------------------------------------------------------------------------
# Emitters
# ---------------------------------------------------------------------------

def luid_bytes(hexs):
    return ", ".join("0x" + hexs[i:i + 2] for i in range(0, 32, 2))


def c_str(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def emit_types_h(M):
    o = []
    o.append("/* Generated from schema/lomari.py -- do not edit. */")
    o.append("#ifndef LOMARI_TYPES_H\n#define LOMARI_TYPES_H\n")
    o.append("#include <stddef.h>\n#include <stdint.h>\n#include \"qel/runtime.h\"\n")
    o.append("#ifdef __cplusplus\n#define LOMARI_LAYOUT_ASSERT(c, m) static_assert(c, m)\n"
             "extern \"C\" {\n#else\n#define LOMARI_LAYOUT_ASSERT(c, m) _Static_assert(c, m)\n#endif\n")
    o.append("#if defined(__GNUC__)\n#define LOMARI_API __attribute__((visibility(\"default\")))\n"
             "#else\n#define LOMARI_API\n#endif\n")
    o.append("/* Enumeration instances: object header and the value. */")
    for e in M.enums:
        o.append("enum %s_values {" % e.name)
        for i, v in enumerate(e.values):
            o.append("    %s = %d," % (v, i))
        o.append("};")
        o.append("typedef struct %s {\n    qel_type_info_t *tinfo;\n    int8_t variant;\n"
                 "    uint8_t variant_cap;\n    uint8_t flags;\n    uint32_t value;\n} %s;" % (e.name, e.name))
        o.append("LOMARI_LAYOUT_ASSERT(sizeof(%s) == 16, \"%s size\");\n" % (e.name, e.name))
    o.append("/* Structured instances: object header, fields, list links, reserved tail. */")
    for t in M.types:
        o.append("struct %s;" % t.name)
    for t in M.types:
        o.append("typedef struct %s {" % t.name)
        o.append("    qel_type_info_t *tinfo;\n    int8_t variant;\n    uint8_t variant_cap;\n    uint8_t flags;")
        for ctype, mname in t.members:
            sep = "" if ctype.endswith("*") else " "
            o.append("    %s%s%s;" % (ctype, sep, mname))
        o.append("} %s;" % t.name)
        o.append("LOMARI_LAYOUT_ASSERT(sizeof(%s) == %d, \"%s size\");" % (t.name, t.plain_size, t.name))
        for f in t.fields:
            mem = {"list": f.name + "_first"}.get(f.kind, f.name)
            o.append("LOMARI_LAYOUT_ASSERT(offsetof(%s, %s) == %d, \"%s.%s\");" % (
                t.name, mem, f.offset, t.name, f.name))
        if t.list_owner is not None:
            o.append("LOMARI_LAYOUT_ASSERT(offsetof(%s, %s_anchor) == %d, \"%s links\");" % (
                t.name, t.list_name, t.link_off, t.name))
        o.append("")
    o.append("/* Message objects: object header, message header, body. */")
    o.append("typedef struct lomari_msg_header {\n    uint8_t marker;\n    uint8_t ff[6];\n"
             "    uint8_t state_tracking;\n    uint32_t header_word;\n    uint32_t length;\n} lomari_msg_header;")
    for m in M.messages:
        o.append("typedef struct %s {\n    qel_type_info_t *tinfo;\n    int8_t variant;\n"
                 "    uint8_t variant_cap;\n    uint8_t flags;\n    uint8_t msg_byte;\n"
                 "    lomari_msg_header header;\n    struct %s *%s;\n} %s;" % (m.full, m.body.name, m.body.name, m.full))
        o.append("LOMARI_LAYOUT_ASSERT(sizeof(%s) == 40, \"%s size\");" % (m.full, m.full))
        o.append("LOMARI_LAYOUT_ASSERT(offsetof(%s, header) == 12, \"%s header\");" % (m.full, m.full))
    o.append("\n/* Sizes with the state area. */")
    for t in M.types:
        o.append("#define %s_TRACKED_SIZE %du" % (t.name.upper(), t.tracked_size))
    o.append("\n#ifdef __cplusplus\n}\n#endif\n#endif")
    return "\n".join(o) + "\n"


def emit_api_h(M, fams):
    o = ["/* Generated from schema/lomari.py -- do not edit. */",
         "#ifndef LOMARI_API_H\n#define LOMARI_API_H\n",
         "#include \"lomari/lomari_types.h\"\n",
         "#ifdef __cplusplus\nextern \"C\" {\n#endif\n"]
    for name, mod, entries in fams:
        o.append("/* ---- %s ---- */" % name)
        for e in entries:
            o.append(e.decl())
        o.append("")
    o.append("#ifdef __cplusplus\n}\n#endif\n#endif")
    return "\n".join(o) + "\n"


def trace_block(points, subst, size):
    rows = []
    for key, lvl, text in points:
        rows.append((key, lvl, text.format(**subst)))
    while len(rows) < size:
        rows.append((None, TR.DEBUG, ""))
    return rows


def trace_tables(M):
    t0 = []
    for m in M.messages:
        t0 += trace_block(TR.MESSAGE_POINTS, {"m": m.name, "b": m.body.name}, TR.MESSAGE_BLOCK)
    t1 = []
    for t in M.types:
        t1 += trace_block(TR.TYPE_POINTS, {"t": t.name}, TR.TYPE_BLOCK)
    for e in M.enums:
        t1 += trace_block(TR.ENUM_POINTS, {"t": e.name}, TR.ENUM_BLOCK)
    t1 += [(k, l, x) for k, l, x in TR.DOMAIN_POINTS]
    t2 = [(k, l, x) for k, l, x in TR.TABLE_POINTS]
    return t0, t1, t2


def emit_trace_points_h(M):
    o = ["// Generated from schema/traces.py -- do not edit.",
         "#pragma once\n#include <cstdint>\n",
         "namespace lomari::tp {\n"]

    def keys(ns, pts, block):
        o.append("namespace %s {" % ns)
        o.append("inline constexpr uint32_t kBlock = %d;" % block)
        o.append("enum Point : uint32_t {")
        for i, (k, _, _) in enumerate(pts):
            if k:
                o.append("    %s = %d," % (k, i))
        o.append("};\n}  // namespace %s\n" % ns)

    keys("type", TR.TYPE_POINTS, TR.TYPE_BLOCK)
    keys("enm", TR.ENUM_POINTS, TR.ENUM_BLOCK)
    keys("msg", TR.MESSAGE_POINTS, TR.MESSAGE_BLOCK)
    base = len(M.types) * TR.TYPE_BLOCK + len(M.enums) * TR.ENUM_BLOCK
    o.append("namespace domain {")
    o.append("inline constexpr uint32_t kEnumBase = %d;" % (len(M.types) * TR.TYPE_BLOCK))
    o.append("enum Point : uint32_t {")
    for i, (k, _, _) in enumerate(TR.DOMAIN_POINTS):
        o.append("    %s = %d," % (k, base + i))
    o.append("};\n}  // namespace domain\n")
    o.append("}  // namespace lomari::tp")
    return "\n".join(o) + "\n"


def emit_schema_data(M):
    o = ["// Generated from schema/lomari.py -- do not edit.",
         "// The domain's constant tables: type-info records, variant records,",
         "// null objects, descriptors, trace tables and exported identifiers.",
         "#include \"types/schema.h\"",
         "#include \"lomari/lomari.h\"\n",
         "#define LOMARI_EXPORT_VAR extern \"C\" __attribute__((visibility(\"default\")))\n",
         "namespace lomari {\n"]
    tl = M.type_list()
    # Variant records and infos.
    for cname, kind, name, luid, luid2, used, slop, obj in tl:
        tw = 1 if kind in ("table", "table_record") else 0
        o.append("static qel_variant_record_t vr_%s[1] = {{%d, %d, %d, 0, 0, 0, 0}};" % (cname, tw, used, slop))
        o.append("static qel_variant_info_t vi_%s = {1, vr_%s};" % (cname, cname))
    o.append("")
    # Type-info records.
    for cname, kind, name, luid, luid2, used, slop, obj in tl:
        o.append("qel_type_info_t %s = {0xBEEFF00Du, {%s}, %s, %s, %s, %s, -1, 0, &vi_%s, 0};" % (
            cname, luid_bytes(luid), c_str(luid), c_str(name), c_str(S.DOMAIN), c_str(kind), cname))
    o.append("\nqel_type_info_t *const kTypeList[43] = {")
    for row in tl:
        o.append("    &%s," % row[0])
    o.append("    nullptr,\n};\n")
    # Null objects.
    for e in M.enums:
        o.append("static ::%s null_%s;" % (e.name, e.name))
    for t in M.types:
        o.append("static ::%s null_%s;" % (t.name, t.name))
    for m in M.messages:
        o.append("static ::%s null_msg_%s = {nullptr, 0, 0, 0, 0, {0, {0}, 0, 0, 0}, &null_%s};" % (
            m.full, m.name, m.body.name))
    o.append("")
    # Enum descriptors.
    for e in M.enums:
        o.append("static const char *const names_%s[] = {%s};" % (e.name, ", ".join(c_str(v) for v in e.values)))
    o.append("\nconst EnumDesc kEnums[4] = {")
    ebase = len(M.types) * TR.TYPE_BLOCK
    for e in M.enums:
        o.append("    {%s, %d, %d, names_%s, &ti_%s, &null_%s, %d}," % (
            c_str(e.name), e.ordinal, e.bound, e.name, e.name, e.name, ebase + e.ordinal * TR.ENUM_BLOCK))
    o.append("};\n")
    # Field descriptors.
    kinds = {"u8": "U8", "u16": "U16", "u32": "U32", "enum": "Enum", "str": "Str",
             "list": "List", "pair_count": "PairCount", "array": "Array"}
    for t in M.types:
        o.append("static const FieldDesc fields_%s[] = {" % t.name)
        for f in t.fields:
            en = "&kEnums[%d]" % M.enum_by[f.ref].ordinal if f.kind == "enum" else "nullptr"
            el = "&kTypes[%d]" % M.type_by[f.ref].ordinal if f.kind in ("list", "array") else "nullptr"
            o.append("    {%s, Kind::%s, %d, %d, %s, %s}," % (c_str(f.name), kinds[f.kind], f.state_idx, f.offset, en, el))
        o.append("};")
    o.append("\nconst TypeDesc kTypes[17] = {")
    for t in M.types:
        lo = "&kTypes[%d]" % t.list_owner.ordinal if t.list_owner else "nullptr"
        o.append("    {%s, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %s, fields_%s, %d, %d, &ti_%s, &null_%s, %d}," % (
            c_str(t.name), t.ordinal, t.plain_size, t.tracked_size, t.state_size, len(t.fields),
            t.member_bound, t.index_of("list"), t.index_of("array"), t.index_of("pair_count"),
            t.n_state_fields, t.anchor_off, t.link_off, lo, t.name, t.enc_fixed, t.enc_state,
            t.name, t.name, t.ordinal * TR.TYPE_BLOCK))
    o.append("};\n")
    o.append("const MessageDesc kMessages[9] = {")
    for m in M.messages:
        o.append("    {%s, %s, %d, &kTypes[%d], 0x%08Xu, &ti_msg_%s, &null_msg_%s, %d}," % (
            c_str(m.name), c_str(m.full), m.ordinal, m.body.ordinal, m.tag, m.name, m.name,
            m.ordinal * TR.MESSAGE_BLOCK))
    o.append("};\n")
    o.append("const TableDesc kTables[6] = {")
    for tb in M.tables:
        o.append("    {%s, %d, &ti_%s, &ti_%s_record}," % (c_str(tb.name), tb.ordinal, tb.name, tb.name))
    o.append("};\n")
    # Trace tables.
    for no, rows in enumerate(trace_tables(M)):
        o.append("static const char *const trace_formats_%d[] = {" % no)
        for _, _, text in rows:
            o.append("    %s," % c_str(text))
        if not rows:
            o.append("    nullptr,")
        o.append("};")
        o.append("const uint32_t kTraceLevel%d[] = {%s};" % (no, ", ".join("0x%Xu" % l for _, l, _ in rows) or "0"))
        tid = S.LUIDS["trace_table_%d" % no][0]
        o.append("const qel_trace_table_t kTrace%d = {{%s}, 1, %d, %d, trace_formats_%d};\n" % (
            no, luid_bytes(tid), no, len(rows), no))
    o.append("}  // namespace lomari\n")
    # Exported identifier constants.
    o.append("// Identifier constants of the messages and tables.")
    for m in M.messages:
        o.append("LOMARI_EXPORT_VAR const uint8_t message_%s_luid[16] = {%s};" % (m.name, luid_bytes(m.luid)))
        o.append("LOMARI_EXPORT_VAR const char message_%s_luid_text[33] = %s;" % (m.name, c_str(m.luid)))
        o.append("LOMARI_EXPORT_VAR const char message_%s_name[] = %s;" % (m.name, c_str("message " + m.name)))
    for tb in M.tables:
        o.append("LOMARI_EXPORT_VAR const uint8_t table_%s_luid[16] = {%s};" % (tb.name, luid_bytes(tb.luid)))
        o.append("LOMARI_EXPORT_VAR const char table_%s_luid_text[33] = %s;" % (tb.name, c_str(tb.luid)))
        o.append("LOMARI_EXPORT_VAR const char table_%s_name[] = %s;" % (tb.name, c_str("table " + tb.name)))
    return "\n".join(o) + "\n"


def emit_test_view(M):
    """The descriptor tables for tests, in namespace lt, without the
    library's type-info records and null objects (those stay private)."""
    full = emit_schema_data(M)
    start = full.index("static const char *const names_")
    end = full.index("// Trace tables", start) if "// Trace tables" in full else full.index("static const char *const trace_formats_0")
    body = full[start:end]
    import re
    body = re.sub(r"&ti_\w+", "nullptr", body)
    body = re.sub(r"&null_msg_\w+", "nullptr", body)
    body = re.sub(r"&null_\w+", "nullptr", body)
    decl = ("namespace lt {\nusing lomari::EnumDesc;\nusing lomari::TypeDesc;\nusing lomari::FieldDesc;\n"
            "using lomari::MessageDesc;\nusing lomari::TableDesc;\nusing lomari::Kind;\n"
            "extern const EnumDesc kEnums[4];\nextern const TypeDesc kTypes[17];\n"
            "extern const MessageDesc kMessages[9];\nextern const TableDesc kTables[6];\n}  // namespace lt\n")
    head = ("// Generated from schema/lomari.py -- do not edit.\n"
            "// The schema description as tests see it.\n#pragma once\n"
            "#include \"types/schema.h\"\n\n" + decl)
    src = ("// Generated from schema/lomari.py -- do not edit.\n"
           "#include \"schema_view.h\"\n\nnamespace lt {\nusing namespace lomari;\n" + body + "}  // namespace lt\n")
    return head, src


def emit_stamps(name, entries):
    o = ["// Generated from schema/families/%s.py -- do not edit." % name,
         "#include \"engine.h\"\n",
         "using namespace lomari;\n"]
    for e in entries:
        o.append(e.stamp())
    return "\n".join(o) + "\n"


def emit_manifest(M):
    kinds = {"type": "type", "enum": "enum", "message": "mess", "table": "tabl", "table_record": "trec"}
    rows = M.type_list()

    def line(r):
        cname, kind, name, luid, luid2, used, slop, obj = r
        size = round_up(used, 8) if kind in ("type", "enum") else 0
        return "%s:%s%s000:%05dN" % (luid, luid2, kinds[kind], size)

    g1 = sorted([r for r in rows if r[1] in ("type", "enum")], key=lambda r: r[2])
    g2 = sorted([r for r in rows if r[1] == "message"], key=lambda r: r[3])
    g3 = sorted([r for r in rows if r[1] in ("table", "table_record")], key=lambda r: r[3])
    text = "# lomari.varnel\n" + "".join(line(r) + "\n" for r in g1 + g2 + g3)
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
    info = ("lomari\npackage: liblomari 1.0.0\nbuilder: %s\nhost: %s\nprocess: generate.py\n"
            "time: %s\ncomment: lomari domain type manifest\n") % (
        os.environ.get("USER", "builder"), socket.gethostname(),
        time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)))

    def record(rtype, payload):
        b = payload.encode() + b"\0"
        pad = (-len(b)) % 4
        return len(b).to_bytes(4, "little") + rtype.to_bytes(4, "little") + b + b"\0" * pad

    return record(2, text) + record(1, info)


def write_if_changed(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = "wb" if isinstance(data, bytes) else "w"
    if os.path.exists(path):
        with open(path, "rb") as f:
            old = f.read()
        new = data if isinstance(data, bytes) else data.encode()
        if old == new:
            return
    with open(path, mode) as f:
        f.write(data)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--exports", required=True, help="the ABI list")
    ap.add_argument("--list-families", action="store_true")
    a = ap.parse_args()
    fams = load_families()
    if a.list_families:
        print(";".join(n for n, _ in fams))
        return
    M = Model()
    allowed = set()
    with open(a.exports) as f:
        for ln in f:
            ln = ln.strip()
            if ln and not ln.startswith("#"):
                allowed.add(ln)
    built = []
    stamped = []
    for name, mod in fams:
        entries = mod.entries(M, Entry)
        built.append((name, mod, entries))
        for e in entries:
            if e.name not in allowed:
                sys.exit("generate.py: %s is not in the ABI list" % e.name)
            stamped.append(e.name)
    if len(set(stamped)) != len(stamped):
        sys.exit("generate.py: a name is stamped twice")
    out = a.out
    write_if_changed(os.path.join(out, "include/lomari/lomari_types.h"), emit_types_h(M))
    write_if_changed(os.path.join(out, "include/lomari/lomari_api.h"), emit_api_h(M, built))
    write_if_changed(os.path.join(out, "src/schema_data.cpp"), emit_schema_data(M))
    write_if_changed(os.path.join(out, "src/trace_points.h"), emit_trace_points_h(M))
    for name, mod, entries in built:
        write_if_changed(os.path.join(out, "src/stamps_%s.cpp" % name), emit_stamps(name, entries))
    write_if_changed(os.path.join(out, "lomari.map"),
                     "{\n  global:\n" + "".join("    %s;\n" % n for n in sorted(allowed)) + "  local: *;\n};\n")
    write_if_changed(os.path.join(out, "ostrel.bin"), emit_manifest(M))
    view_h, view_cpp = emit_test_view(M)
    write_if_changed(os.path.join(out, "test/schema_view.h"), view_h)
    write_if_changed(os.path.join(out, "test/schema_view.cpp"), view_cpp)
    write_if_changed(os.path.join(out, "stamped.txt"), "".join(n + "\n" for n in sorted(stamped)))


if __name__ == "__main__":
    main()
