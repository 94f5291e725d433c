"""stamps_<family>.cpp: the family's exported entry points, each a thin
extern "C" forwarder to the engine."""


def emit(name, entries):
    o = ["// Generated from schema/families/%s.py -- do not edit." % name,
         "#include \"engine.h\"\n",
         "using namespace lomari;\n"]
    o.extend(e.stamp() for e in entries)
    return "\n".join(o) + "\n"
