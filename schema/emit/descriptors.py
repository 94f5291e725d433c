"""The descriptor tables of types/schema.h, as rows with named members.

The library's tables point at the type-info records and null objects of
schema_data.cpp; the tests' copy of the same rows (test view) points at
nothing, so `refs` decides how those references are spelled."""
import traces as TR
from emit.common import c_str, designated

KINDS = {"u8": "U8", "u16": "U16", "u32": "U32", "enum": "Enum", "str": "Str",
         "list": "List", "pair_count": "PairCount", "array": "Array"}


def library_ref(what, cname):
    """what: "ti", "null", "handler" or "record_handler"; cname: the C name
    of the record or object, the message's name for its application
    handler, or "<table>_table_record_<event>" for a table's."""
    if what == "handler":
        return "lomari_%s_message_handler" % cname
    if what == "record_handler":
        return "lomari_%s_handler" % cname
    return "&%s_%s" % (what, cname)


def no_ref(what, cname):
    return "nullptr"


# Record events in the order of RecordHandlers (types/schema.h).
RECORD_EVENTS = [["create", "modify", "delete"], ["create_dm", "delete_dm"], "grouping", "free"]


def record_handlers(tb, refs):
    ref = lambda ev: refs("record_handler", "%s_table_record_%s" % (tb.name, ev))
    return "{%s}" % ", ".join(
        "{%s}" % ", ".join(ref(e) for e in ev) if isinstance(ev, list) else ref(ev) for ev in RECORD_EVENTS)


def tables(M, refs):
    o = []
    for e in M.enums:
        o.append("static const char *const names_%s[] = {%s};" % (
            e.name, ", ".join(c_str(v) for v in e.values)))
    o.append("\nconst EnumDesc kEnums[kEnumCount] = {")
    ebase = len(M.types) * TR.TYPE_BLOCK
    for e in M.enums:
        o.append("    %s," % designated([
            ("name", c_str(e.name)), ("ordinal", e.ordinal), ("bound", e.bound),
            ("names", "names_" + e.name), ("ti", refs("ti", e.name)), ("null_obj", refs("null", e.name)),
            ("trace_base", ebase + e.ordinal * TR.ENUM_BLOCK)]))
    o.append("};\n")
    for t in M.types:
        o.append("static const FieldDesc fields_%s[] = {" % t.name)
        for f in t.fields:
            en = "&kEnums[%d]" % M.enum_by[f.ref].ordinal if f.kind == "enum" else "nullptr"
            el = "&kTypes[%d]" % M.type_by[f.ref].ordinal if f.kind in ("list", "array") else "nullptr"
            o.append("    %s," % designated([
                ("name", c_str(f.name)), ("kind", "Kind::" + KINDS[f.kind]), ("state_idx", f.state_idx),
                ("offset", f.offset), ("en", en), ("elem", el)]))
        o.append("};")
    o.append("\nconst TypeDesc kTypes[kTypeCount] = {")
    for t in M.types:
        lo = "&kTypes[%d]" % t.list_owner.ordinal if t.list_owner else "nullptr"
        o.append("    %s," % designated([
            ("name", c_str(t.name)), ("ordinal", t.ordinal), ("plain_size", t.plain_size),
            ("tracked_size", t.tracked_size), ("state_size", t.state_size), ("nfields", len(t.fields)),
            ("member_bound", t.member_bound), ("list_field", t.index_of("list")),
            ("array_field", t.index_of("array")), ("count_field", t.index_of("pair_count")),
            ("n_state_fields", t.n_state_fields), ("anchor_off", t.anchor_off), ("link_off", t.link_off),
            ("list_owner", lo), ("fields", "fields_" + t.name), ("enc_fixed", t.enc_fixed),
            ("enc_state", t.enc_state), ("flat_shape", t.flat_shape), ("ti", refs("ti", t.name)), ("null_obj", refs("null", t.name)),
            ("trace_base", t.ordinal * TR.TYPE_BLOCK)]))
    o.append("};\n")
    o.append("const MessageDesc kMessages[kMessageCount] = {")
    for m in M.messages:
        o.append("    %s," % designated([
            ("name", c_str(m.name)), ("full_name", c_str(m.full)),
            ("name_text", c_str("message " + m.name)), ("ordinal", m.ordinal),
            ("body", "&kTypes[%d]" % m.body.ordinal), ("body_tag", "0x%08Xu" % m.tag),
            ("ti", refs("ti", "msg_" + m.name)), ("null_obj", refs("null", "msg_" + m.name)),
            ("trace_base", m.ordinal * TR.MESSAGE_BLOCK),
            ("app_handler", refs("handler", m.name))]))
    o.append("};\n")
    o.append("const TableDesc kTables[kTableCount] = {")
    for tb in M.tables:
        o.append("    %s," % designated([
            ("name", c_str(tb.name)), ("ordinal", tb.ordinal), ("ti", refs("ti", tb.name)),
            ("record_ti", refs("ti", tb.name + "_record")), ("handlers", record_handlers(tb, refs))]))
    o.append("};\n")
    return o
