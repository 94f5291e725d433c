"""schema_view.h/.cpp: the descriptor tables as tests see them, in
namespace lt, without the library's type-info records and null objects."""
from emit import descriptors
from emit.common import BANNER


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
        "}  // namespace lt\n"])
    src = "\n".join(["// " + BANNER, "#include \"schema_view.h\"\n", "namespace lt {",
                     "using namespace lomari;"] + descriptors.tables(M, descriptors.no_ref) +
                    ["}  // namespace lt\n"])
    return head, src
