"""lomari/lomari_catalogue.h: every type-info record of the domain as
plain C data (name, kind, ordinal within its kind, identifier, sizes), for
programs that walk the domain by name: fuzz targets, tests, tools.  Not part
of the library's exported interface: each includer gets its own copy."""
from emit.common import BANNER, c_str


def emit(M):
    cat = M.catalogue()
    kinds = ["type", "enum", "table", "table_record", "message"]
    o = ["/* %s */" % BANNER,
         "#ifndef LOMARI_CATALOGUE_H\n#define LOMARI_CATALOGUE_H\n",
         "#include <stdint.h>\n",
         "enum lomari_catalogue_kind {",
         ",\n".join("    LOMARI_KIND_%s" % k.upper() for k in kinds),
         "};\n",
         "struct lomari_catalogue_entry {\n    const char *name;\n    enum lomari_catalogue_kind kind;\n"
         "    uint16_t ordinal;\n    const char *luid;\n    uint16_t plain_size;    /* structured types */\n"
         "    uint16_t tracked_size;  /* structured types */\n};\n"]
    for k in kinds:
        o.append("#define LOMARI_%s_COUNT %du" % (k.upper(), sum(1 for r in cat if r.kind == k)))
    o.append("#define LOMARI_CATALOGUE_COUNT %du\n" % len(cat))
    o.append("static const struct lomari_catalogue_entry lomari_catalogue[LOMARI_CATALOGUE_COUNT] = {")
    rows = []
    for r in cat:
        plain = r.obj.plain_size if r.kind == "type" else 0
        tracked = r.obj.tracked_size if r.kind == "type" else 0
        rows.append("    {%s, LOMARI_KIND_%s, %d, %s, %d, %d}" % (
            c_str(r.name), r.kind.upper(), r.ordinal, c_str(r.luid), plain, tracked))
    o.append(",\n".join(rows))
    o.append("};\n")
    # X-macros over the names, for code that must spell one definition per
    # message or table (the application's handlers, for instance).
    o.append("#define LOMARI_FOR_EACH_MESSAGE(X) %s" % " ".join("X(%s)" % m.name for m in M.messages))
    o.append("#define LOMARI_FOR_EACH_TABLE(X) %s" % " ".join("X(%s)" % t.name for t in M.tables))
    o.append("\n#endif")
    return "\n".join(o) + "\n"
