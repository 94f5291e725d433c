"""lomari/lomari_api.h: the declaration of every stamped entry point."""
from emit.common import BANNER


def emit(M, built):
    o = ["/* %s */" % BANNER,
         "#ifndef LOMARI_API_H\n#define LOMARI_API_H\n",
         "#include \"lomari/lomari_types.h\"\n",
         "#ifdef __cplusplus\nextern \"C\" {\n#endif\n"]
    for name, entries in built:
        o.append("/* ---- %s ---- */" % name)
        o.extend(e.decl() for e in entries)
        o.append("")
    o.append("#ifdef __cplusplus\n}\n#endif\n#endif")
    return "\n".join(o) + "\n"
