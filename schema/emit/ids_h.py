"""lomari/lomari_ids.h: declarations of the exported identifier constants
of the messages and tables (their definitions are in schema_data.cpp)."""
from emit.common import BANNER


def emit(M):
    o = ["/* %s */" % BANNER,
         "#ifndef LOMARI_IDS_H\n#define LOMARI_IDS_H\n",
         "#include \"lomari/lomari_types.h\"\n",
         "#ifdef __cplusplus\nextern \"C\" {\n#endif\n",
         "/* Identifiers of the messages and tables: 16 bytes, 32-digit text, name. */"]
    where = {"message": "at byte 27 of its envelope", "table": "at byte 27 of its records' encoding"}
    for kind, name, _ in M.identifiers():
        o.append("/** The identifier of %s %s, 16 bytes (%s). */" % (kind, name, where[kind]))
        o.append("LOMARI_API extern const uint8_t %s_%s_luid[16];" % (kind, name))
        o.append("/** The identifier of %s %s as 32 lower-case hexadecimal digits. */" % (kind, name))
        o.append("LOMARI_API extern const char %s_%s_luid_text[33];" % (kind, name))
        o.append("/** The name text of %s %s: \"%s %s\". */" % (kind, name, kind, name))
        o.append("LOMARI_API extern const char %s_%s_name[];" % (kind, name))
    o.append("\n#ifdef __cplusplus\n}\n#endif\n#endif")
    return "\n".join(o) + "\n"


def definitions(M):
    """The definitions, for schema_data.cpp."""
    from emit.common import c_str, luid_bytes
    o = ["// Identifier constants of the messages and tables."]
    for kind, name, luid in M.identifiers():
        o.append("LOMARI_EXPORT_VAR const uint8_t %s_%s_luid[16] = {%s};" % (kind, name, luid_bytes(luid)))
        o.append("LOMARI_EXPORT_VAR const char %s_%s_luid_text[33] = %s;" % (kind, name, c_str(luid)))
        o.append("LOMARI_EXPORT_VAR const char %s_%s_name[] = %s;" % (kind, name, c_str(kind + " " + name)))
    return o
