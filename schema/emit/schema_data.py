"""schema_data.cpp: the library's constant tables -- variant records,
type-info records, the registration list, null objects, descriptors, trace
tables and the exported identifier constants."""
import lomari as S
from emit import descriptors, ids_h, trace_data
from emit.common import BANNER, c_str, luid_bytes


def emit(M):
    o = ["// " + BANNER,
         "#include \"types/schema.h\"",
         "#include \"lomari/lomari.h\"\n",
         "#define LOMARI_EXPORT_VAR extern \"C\" __attribute__((visibility(\"default\")))\n",
         "namespace lomari {\n"]
    cat = M.catalogue()
    for r in cat:
        table_word = 1 if r.kind in ("table", "table_record") else 0
        o.append("static qel_variant_record_t vr_%s[1] = {{%d, %d, %d, 0, 0, 0, 0}};" % (
            r.cname, table_word, r.used, r.slop))
        o.append("static qel_variant_info_t vi_%s = {1, vr_%s};" % (r.cname, r.cname))
    o.append("")
    for r in cat:
        o.append("qel_type_info_t %s = {0xBEEFF00Du, {%s}, %s, %s, %s, %s, -1, 0, &vi_%s, 0};" % (
            r.cname, luid_bytes(r.luid), c_str(r.luid), c_str(r.name), c_str(S.DOMAIN), c_str(r.kind), r.cname))
    o.append("\nqel_type_info_t *const kTypeList[kTypeInfoCount + 1] = {")
    o.extend("    &%s," % r.cname for r in cat)
    o.append("    nullptr,\n};\n")
    for e in M.enums:
        o.append("static ::%s null_%s;" % (e.name, e.name))
    for t in M.types:
        o.append("static ::%s null_%s;" % (t.name, t.name))
    for m in M.messages:
        o.append("static ::%s null_msg_%s = {nullptr, 0, 0, 0, 0, {0, {0}, 0, 0, 0}, &null_%s};" % (
            m.full, m.name, m.body.name))
    o.append("")
    o.append("}  // namespace lomari\n")
    o.append("// The application's message handlers: weak, null when not defined.")
    for m in M.messages:
        o.append("extern \"C\" __attribute__((weak)) void lomari_%s_message_handler("
                 "qel_handle_t *, uint32_t, uint64_t, void *, uint32_t *);" % m.name)
    o.append("// The application's table record handlers: weak, null when not defined.")
    sigs = {"pair": "void %s(qel_handle_t *, uint32_t, void *, void *, uint32_t *)",
            "dm": "void %s(qel_handle_t *, uint32_t, void *, uint32_t *)",
            "grouping": "uint32_t %s(qel_handle_t *, uint32_t, void *, uint32_t *, void *, void *, uint32_t, void *)",
            "free": "void %s(qel_handle_t *, uint32_t, void *, uint32_t, uint32_t *, void *)"}
    for tb in M.tables:
        for group, evs in zip(["pair", "dm", "grouping", "free"], descriptors.RECORD_EVENTS):
            for ev in evs if isinstance(evs, list) else [evs]:
                o.append("extern \"C\" __attribute__((weak)) %s;" % (
                    sigs[group] % ("lomari_%s_table_record_%s_handler" % (tb.name, ev))))
    o.append("\nnamespace lomari {\n")
    o += descriptors.tables(M, descriptors.library_ref)
    o += trace_data.data(M)
    o.append("}  // namespace lomari\n")
    o += ids_h.definitions(M)
    return "\n".join(o) + "\n"
