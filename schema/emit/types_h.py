"""lomari/lomari_types.h: the C layout of every instance, with assertions.

Members that point at another type are spelled with the struct tag, so
that a member named like its type keeps that name's meaning in C++."""
from emit.common import BANNER

OBJ_HEADER = ("    qel_type_info_t *tinfo;\n    int8_t variant;\n"
              "    uint8_t variant_cap;\n    uint8_t flags;")


def emit(M):
    o = ["/* %s */" % BANNER,
         "#ifndef LOMARI_TYPES_H\n#define LOMARI_TYPES_H\n",
         "#include <stddef.h>\n#include <stdint.h>\n#include \"qel/runtime.h\"\n",
         "#ifdef __cplusplus\n#define LOMARI_LAYOUT_ASSERT(c, m) static_assert(c, m)\n"
         "extern \"C\" {\n#else\n#define LOMARI_LAYOUT_ASSERT(c, m) _Static_assert(c, m)\n#endif\n",
         "#if defined(__GNUC__)\n#define LOMARI_API __attribute__((visibility(\"default\")))\n"
         "#else\n#define LOMARI_API\n#endif\n",
         "/* Enumeration instances: object header and the value. */"]
    for e in M.enums:
        o.append("/** The values of enumeration %s. */" % e.name)
        o.append("enum %s_values {" % e.name)
        o.append(",\n".join("    %s = %d" % (v, i) for i, v in enumerate(e.values)))
        o.append("};")
        o.append("/** An instance of enumeration %s: object header and value (%s_get_value, %s_set_value). */" % (
            e.name, e.name, e.name))
        o.append("typedef struct %s {\n%s\n    uint32_t value;\n} %s;" % (e.name, OBJ_HEADER, e.name))
        o.append("LOMARI_LAYOUT_ASSERT(sizeof(%s) == 16, \"%s size\");\n" % (e.name, e.name))
    o.append("/* Structured instances: object header, fields, list links, reserved tail. */")
    for t in M.types:
        o.append("struct %s;" % t.name)
    for t in M.types:
        o.append("/** The layout of a %s: object header, fields in order, list links, reserved tail.  Read and "
                 "write it through the %s entry points, which track state and announce writes. */" % (t.name, t.name))
        o.append("typedef struct %s {" % t.name)
        o.append(OBJ_HEADER)
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
    o.append("/** The header every message object carries (marshalled into the envelope's first 27 bytes). */")
    o.append("typedef struct lomari_msg_header {\n    uint8_t marker;\n    uint8_t ff[6];\n"
             "    uint8_t state_tracking;\n    uint32_t header_word;\n    uint32_t length;\n} lomari_msg_header;")
    for m in M.messages:
        o.append("/** The layout of a %s: object header, message header, body (%s). */" % (m.full, m.body.name))
        o.append("typedef struct %s {\n%s\n    uint8_t msg_byte;\n"
                 "    lomari_msg_header header;\n    struct %s *%s;\n} %s;" % (
                     m.full, OBJ_HEADER, m.body.name, m.body.name, m.full))
        o.append("LOMARI_LAYOUT_ASSERT(sizeof(%s) == 40, \"%s size\");" % (m.full, m.full))
        o.append("LOMARI_LAYOUT_ASSERT(offsetof(%s, header) == 12, \"%s header\");" % (m.full, m.full))
    o.append("\n/* Sizes with the state area. */")
    for t in M.types:
        o.append("#define %s_TRACKED_SIZE %du" % (t.name.upper(), t.tracked_size))
    o.append("\n#ifdef __cplusplus\n}\n#endif\n#endif")
    return "\n".join(o) + "\n"
