"""stamps_<family>.cpp: the family's exported entry points, each a thin
extern "C" forwarder to the engine."""


def emit(name, entries, prelude=""):
    """prelude: the family's own generated definitions (a family module's
    prelude(M)), placed before the entry points."""
    o = ["// Generated from schema/families/%s.py -- do not edit." % name,
         "#include \"engine.h\"\n",
         prelude,
         "using namespace lomari;\n"]
    o.extend(e.stamp() for e in entries)
    return "\n".join(o) + "\n"
