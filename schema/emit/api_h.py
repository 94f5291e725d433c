"""lomari/lomari_api.h: the declaration of every stamped entry point, each
family under its heading and note (who owns what after its calls)."""
from emit.common import BANNER


def emit(M, built, notes):
    o = ["/* %s */" % BANNER,
         "#ifndef LOMARI_API_H\n#define LOMARI_API_H\n",
         "#include \"lomari/lomari_types.h\"\n",
         "#ifdef __cplusplus\nextern \"C\" {\n#endif\n"]
    for name, entries in built:
        o.append("/* ---- %s ---- */" % name)
        if notes.get(name):
            o.append("/*\n" + "".join(" * %s\n" % ln if ln else " *\n" for ln in notes[name].splitlines()) + " */")
        o.extend(e.decl() for e in entries)
        o.append("")
    o.append("#ifdef __cplusplus\n}\n#endif\n#endif")
    return "\n".join(o) + "\n"
