"""schema_view.h/.cpp: the descriptor tables as tests see them, in
namespace lt, without the library's type-info records and null objects."""
import lomari as S
from emit import descriptors
from emit.common import BANNER, c_str, designated


def table_views(M):
    """Per table: its record fields, then per index (primary first) the
    prefix of the index's entry points, the key-owning type, the key field
    (null when the whole object is the key) and the record field holding
    the key object."""
    o = ["\nconst TableView kTableViews[kTableCount] = {"]
    for tb in M.tables:
        idx = []
        for keytype, field in S.TABLE_INDEXES[tb.name]:
            t = M.type_by[keytype]
            f = "&fields_%s[%d]" % (keytype, [x.name for x in t.fields].index(field)) if field else "nullptr"
            idx.append(designated([("prefix", c_str("%s_%s_%s" % (tb.name, keytype, field))),
                                   ("keytype", "&kTypes[%d]" % t.ordinal), ("field", f),
                                   ("part", tb.parts.index(keytype))]))
        o.append("    %s," % designated([
            ("desc", "&kTables[%d]" % tb.ordinal), ("nparts", len(tb.parts)), ("nindex", len(idx)),
            ("parts", "{%s}" % ", ".join("&kTypes[%d]" % M.type_by[p].ordinal for p in tb.parts)),
            ("index", "{%s}" % ", ".join(idx))]))
    o.append("};")
    return o


def emit(M):
    head = "\n".join([
        "// " + BANNER,
        "// The schema description as tests see it.",
        "#pragma once",
        "#include \"types/schema.h\"\n",
        "namespace lt {",
        "using lomari::EnumDesc;\nusing lomari::TypeDesc;\nusing lomari::FieldDesc;",
        "using lomari::MessageDesc;\nusing lomari::TableDesc;\nusing lomari::Kind;",
        "extern const EnumDesc kEnums[lomari::kEnumCount];",
        "extern const TypeDesc kTypes[lomari::kTypeCount];",
        "extern const MessageDesc kMessages[lomari::kMessageCount];",
        "extern const TableDesc kTables[lomari::kTableCount];",
        "",
        "// A table's shape: record fields, and per index (primary first) the",
        "// prefix of its entry points, the key-owning type, the key field (null:",
        "// the whole object is the key) and the record field holding the key.",
        "struct IndexView {",
        "    const char *prefix;",
        "    const TypeDesc *keytype;",
        "    const FieldDesc *field;",
        "    uint32_t part;",
        "};",
        "struct TableView {",
        "    const TableDesc *desc;",
        "    uint32_t nparts, nindex;",
        "    const TypeDesc *parts[2];",
        "    IndexView index[2];",
        "};",
        "extern const TableView kTableViews[lomari::kTableCount];",
        "}  // namespace lt\n"])
    src = "\n".join(["// " + BANNER, "#include \"schema_view.h\"\n", "namespace lt {",
                     "using namespace lomari;"] + descriptors.tables(M, descriptors.no_ref) +
                    table_views(M) + ["}  // namespace lt\n"])
    return head, src
