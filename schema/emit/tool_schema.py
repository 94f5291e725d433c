"""tools/tool_schema.h: the domain's element shapes as the lomari tool walks
them (items, structured types with their fields, enumerations with their
enumerators), and the text of lomari.xsd, so that the tool checks and
converts documents from the same data as everything else."""
import lomari as S
from emit import xsd
from emit.common import BANNER, c_str

KINDS = {"u8": "U8", "u16": "U16", "u32": "U32", "str": "Str", "enum": "Enum",
         "list": "List", "pair_count": "Count", "array": "Array"}


def emit(M):
    text = xsd.emit(M)
    assert ')lomarixsd"' not in text
    o = ["// " + BANNER,
         "// The domain's element shapes for the lomari tool, and lomari.xsd.",
         "#pragma once\n",
         "namespace ltool::schema {\n",
         "enum class Kind : unsigned char { U8, U16, U32, Str, Enum, List, Count, Array };",
         "// ref: the enumeration (Enum) or element type (List, Array) as an index",
         "// into kEnums or kTypes.",
         "struct Field {\n    const char *name;\n    Kind kind;\n    unsigned short ref;\n};",
         "struct Type {\n    const char *name;\n    const Field *fields;\n    unsigned nfields;\n};",
         "struct Enum {\n    const char *name;\n    const char *const *values;\n    unsigned nvalues;\n};",
         "// A message (one part: its body) or a table record (its record fields);",
         "// each part is an element named after its type.",
         "struct Item {\n    const char *name;\n    bool message;\n    const unsigned short *parts;\n"
         "    unsigned nparts;\n};\n",
         "inline constexpr unsigned kStringBound = %d;" % xsd.STR_BOUND,
         "inline constexpr char kItemsRoot[] = %s;" % c_str(xsd.ITEMS),
         "inline constexpr char kRecordingRoot[] = %s;" % c_str(xsd.RECORDING),
         "inline constexpr char kRecorded[] = %s;\n" % c_str(xsd.RECORDED)]
    for e in M.enums:
        o.append("inline constexpr const char *enum_%s[] = {%s};" % (e.name, ", ".join(c_str(v) for v in e.values)))
    o.append("inline constexpr Enum kEnums[] = {")
    o += ["    {%s, enum_%s, %d}," % (c_str(e.name), e.name, len(e.values)) for e in M.enums]
    o.append("};\n")
    for t in M.types:
        rows = []
        for f in t.fields:
            ref = 0
            if f.kind == "enum":
                ref = M.enum_by[f.ref].ordinal
            elif f.kind in ("list", "array"):
                ref = M.type_by[f.ref].ordinal
            rows.append("{%s, Kind::%s, %d}" % (c_str(f.name), KINDS[f.kind], ref))
        o.append("inline constexpr Field fields_%s[] = {%s};" % (t.name, ", ".join(rows)))
    o.append("inline constexpr Type kTypes[] = {")
    o += ["    {%s, fields_%s, %d}," % (c_str(t.name), t.name, len(t.fields)) for t in M.types]
    o.append("};\n")
    items = [(m.name, True, [m.body.name]) for m in M.messages] + [(tb.name, False, tb.parts) for tb in M.tables]
    for name, _, parts in items:
        o.append("inline constexpr unsigned short parts_%s[] = {%s};" % (
            name, ", ".join(str(M.type_by[p].ordinal) for p in parts)))
    o.append("// Messages first, then table records, as in lomari_catalogue.h.")
    o.append("inline constexpr Item kItems[] = {")
    o += ["    {%s, %s, parts_%s, %d}," % (c_str(n), "true" if msg else "false", n, len(p)) for n, msg, p in items]
    o.append("};\n")
    o.append("// Each index of each table, primary first: X(table, prefix of the index's")
    o.append("// entry points, index number, record field holding its key object, key")
    o.append("// kind (0 the whole object, 1 a 32-bit number, 2 a 31-character string),")
    o.append("// the key's offset in its object).")
    rows = []
    for tb in M.tables:
        for i, (keytype, field) in enumerate(S.TABLE_INDEXES[tb.name]):
            f = next((f for f in M.type_by[keytype].fields if f.name == field), None)
            kind, off = ({"u32": 1, "str": 2}[f.kind], f.offset) if f else (0, 0)
            rows.append("X(%s, %s_%s_%s, %d, %d, %d, %d)" % (tb.name, tb.name, keytype, field, i,
                                                               tb.parts.index(keytype), kind, off))
    o.append("#define LTOOL_FOR_EACH_INDEX(X) " + " ".join(rows) + "\n")
    o.append("// lomari.xsd, as installed in share/lomari/.")
    o.append('inline constexpr char kXsd[] = R"lomarixsd(%s)lomarixsd";\n' % text)
    o.append("}  // namespace ltool::schema")
    return "\n".join(o) + "\n"
