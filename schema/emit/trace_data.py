"""The three trace tables (texts and levels, in schema_data.cpp) and the
point keys of each block (trace_points.h)."""
import lomari as S
import traces as TR
from emit.common import c_str, luid_bytes


def block(points, subst, size):
    rows = [(key, lvl, text.format(**subst)) for key, lvl, text in points]
    while len(rows) < size:
        rows.append((None, TR.DEBUG, ""))
    return rows


def tables(M):
    t0 = []
    for m in M.messages:
        t0 += block(TR.MESSAGE_POINTS, {"m": m.name, "b": m.body.name}, TR.MESSAGE_BLOCK)
    t1 = []
    for t in M.types:
        t1 += block(TR.TYPE_POINTS, {"t": t.name}, TR.TYPE_BLOCK)
    for e in M.enums:
        t1 += block(TR.ENUM_POINTS, {"t": e.name}, TR.ENUM_BLOCK)
    t1 += list(TR.DOMAIN_POINTS)
    t2 = []
    for tb in M.tables:
        labels = [("%s %s" % ix).strip() for ix in S.TABLE_INDEXES[tb.name]]
        subst = {"t": tb.name, "k": labels[0], "k2": labels[-1], "f": tb.parts[0], "f2": tb.parts[-1]}
        t2 += block(TR.TABLE_POINTS, subst, TR.TABLE_BLOCK)
    return t0, t1, t2


def data(M):
    """The definitions of kTrace0..2 and their level lists."""
    o = []
    for no, rows in enumerate(tables(M)):
        o.append("static const char *const trace_formats_%d[] = {" % no)
        o.extend("    %s," % c_str(text) for _, _, text in rows)
        if not rows:
            o.append("    nullptr,")
        o.append("};")
        o.append("const uint32_t kTraceLevel%d[] = {%s};" % (no, ", ".join("0x%Xu" % l for _, l, _ in rows) or "0"))
        tid = S.LUIDS["trace_table_%d" % no][0]
        o.append("const qel_trace_table_t kTrace%d = {{%s}, 1, %d, %d, trace_formats_%d};\n" % (
            no, luid_bytes(tid), no, len(rows), no))
    return o


def emit_points_h(M):
    o = ["// Generated from schema/traces.py -- do not edit.",
         "#pragma once\n#include <cstdint>\n",
         "namespace lomari::tp {\n"]

    def keys(ns, pts, size):
        o.append("namespace %s {" % ns)
        o.append("inline constexpr uint32_t kBlock = %d;" % size)
        o.append("enum Point : uint32_t {")
        o.extend("    %s = %d," % (k, i) for i, (k, _, _) in enumerate(pts) if k)
        o.append("};\n}  // namespace %s\n" % ns)

    keys("type", TR.TYPE_POINTS, TR.TYPE_BLOCK)
    keys("enm", TR.ENUM_POINTS, TR.ENUM_BLOCK)
    keys("msg", TR.MESSAGE_POINTS, TR.MESSAGE_BLOCK)
    enum_base = len(M.types) * TR.TYPE_BLOCK
    base = enum_base + len(M.enums) * TR.ENUM_BLOCK
    o.append("namespace domain {")
    o.append("inline constexpr uint32_t kEnumBase = %d;" % enum_base)
    o.append("enum Point : uint32_t {")
    o.extend("    %s = %d," % (k, base + i) for i, (k, _, _) in enumerate(TR.DOMAIN_POINTS))
    o.append("};\n}  // namespace domain\n")
    o.append("namespace table {")
    o.append("inline constexpr uint32_t kBlock = %d;" % TR.TABLE_BLOCK)
    o.append("enum Point : uint32_t {")
    o.extend("    %s = %d," % (k, i) for i, (k, _, _) in enumerate(TR.TABLE_POINTS) if k)
    o.append("};\n}  // namespace table\n")
    o.append("}  // namespace lomari::tp")
    return "\n".join(o) + "\n"
