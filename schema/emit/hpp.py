"""lomari/lomari.hpp: the C++ interface, header-only over the C entry points.

Per enumeration an enum class; per structured type the entry points its
classes call (detail::Ops), a mixin with a getter and setter per field and
three classes: the owning one (VepTarnokBody), a view (VepTarnokBodyRef) and
a read-only view (VepTarnokBodyConstRef); per list and counted array the
entry points of its range; per message its entry points, identifier and
class; per table its entry points, the entry points of each index, the
record classes and the table class; then lomari::dispatch, which switches
on the identifier of an envelope, and the lists of classes.  The machinery
these are written over is the hand-written lomari/lomari_base.hpp."""
import lomari as S
from emit.common import BANNER

SCALAR = {"u8": "std::uint8_t", "u16": "std::uint16_t", "u32": "std::uint32_t"}
WIDTH = {"u8": "unsigned 8 bits", "u16": "unsigned 16 bits", "u32": "unsigned 32 bits"}


def camel(name):
    return "".join(w.capitalize() for w in name.split("_"))


def id_bytes(hexs):
    return ", ".join("0x" + hexs[i:i + 2] for i in range(0, 32, 2))


def id_head(hexs):
    """The first 8 identifier bytes as detail::id_head reads them."""
    v = 0
    for i in reversed(range(8)):
        v = v << 8 | int(hexs[2 * i:2 * i + 2], 16)
    return "0x%016xull" % v


def enum_class(e):
    n = camel(e.name)
    o = ["/** @brief Enumeration %s: the values of its fields. */" % e.name,
         "enum class %s : std::uint32_t {" % n]
    o += ["    %s = %s,  ///< %d" % (v, v, i) for i, v in enumerate(e.values)]
    o.append("};")
    o.append("/** @brief The name of a %s value (empty when out of range). */" % e.name)
    o.append("constexpr std::string_view to_string(%s v) noexcept {" % n)
    o.append("    switch (v) {")
    o += ["    case %s::%s: return \"%s\";" % (n, v, v) for v in e.values]
    o.append("    }")
    o.append("    return {};")
    o.append("}\n")
    return o


def ops(t):
    n = t.name
    o = ["template <>", "struct Ops<%s> {" % n,
         "    static constexpr const char *name = \"%s\";" % n]
    for mem, fn in [("create", "create"), ("destroy", "destroy"), ("len", "len"), ("marshal", "marshal"),
                    ("unmarshal", "unmarshal"), ("compare", "compare"), ("hash", "hash"), ("print", "print"),
                    ("to_xml", "to_xml"), ("from_xml", "from_xml"), ("clone", "clone")]:
        o.append("    static constexpr auto &%s = %s_%s;" % (mem, n, fn))
    o.append("};")
    return o


def range_ops(M, t, f, kind):
    """detail:: entry points of a list or counted array field."""
    n, el = t.name, f.ref
    E = camel(el)
    o = ["struct %s%s {" % (camel(n), camel(f.name)),
         "    using owner = %s;" % n, "    using elem = %s;" % el,
         "    using Ref = %sRef;" % E, "    using ConstRef = %sConstRef;" % E, "    using Owned = %s;" % E]
    if kind == "list":
        for mem, fn in [("first", "get_first"), ("last", "get_last"), ("next", "get_next"), ("prev", "get_prev"),
                        ("count", "get_count"), ("set_first", "set_first"), ("set_last", "set_last"),
                        ("set_before", "set_before"), ("remove", "remove")]:
            o.append("    static constexpr auto &%s = %s_%s_%s;" % (mem, n, f.name, fn))
        o.append("    static constexpr auto &parent = %s_%s_get_parent;" % (el, f.name))
    else:
        o.append("    static constexpr auto &count = %s_pair_count_get_value;" % n)
        for mem, fn in [("get", "get"), ("set", "set"), ("remove_elements", "remove_elements")]:
            o.append("    static constexpr auto &%s = %s_%s_%s;" % (mem, n, f.name, fn))
    o.append("};")
    return o


def throwing_setter(o, n, field, ptype):
    """The throwing form of a field's setter, over its std::error_code form."""
    o.append("    /** @brief Sets %s.%s; throws std::system_error. */" % (n, field))
    o.append("    void set_%s(%s v)" % (field, ptype))
    o.append("        requires Mutable")
    o.append("    {")
    o.append("        std::error_code ec;")
    o.append("        set_%s(v, ec);" % field)
    o.append("        detail::check(ec, \"lomari: set %s.%s\");" % (n, field))
    o.append("    }")


def accessors(M, t):
    """The getter and setter of every field, in a mixin over B (a view or
    the owning base); setters only when Mutable."""
    n, C = t.name, camel(t.name)
    a = "this->h_, this->db_, this->p_"
    o = ["/** @brief The fields of %s, read and written through the library's accessors "
         "(the base of %s, %sRef and %sConstRef). */" % (n, C, C, C),
         "template <class B, bool Mutable>", "class %sFields : public B {" % C, "public:", "    using B::B;"]

    def setter(f, ptype, call, what):
        o.append("    /** @brief Sets %s.%s%s; errc::invalid when the object is not state tracked on a tracking "
                 "handle. */" % (n, f.name, what))
        o.append("    void set_%s(%s v, std::error_code &ec) noexcept" % (f.name, ptype))
        o.append("        requires Mutable")
        o.append("    {")
        o.append("        std::uint32_t err = 0;")
        o.append("        %s;" % call)
        o.append("        detail::set_error(ec, err);")
        o.append("    }")
        throwing_setter(o, n, f.name, ptype)

    for f in t.fields:
        pre = "%s_%s_" % (n, f.name)
        if f.kind in SCALAR or f.kind == "pair_count":
            ct = SCALAR.get(f.kind, "std::uint32_t")
            what = "the element count of the counted array" if f.kind == "pair_count" else WIDTH[f.kind]
            o.append("    /** @brief Field %s (%s). */" % (f.name, what))
            o.append("    %s %s() const noexcept {" % (ct, f.name))
            o.append("        std::uint32_t err = 0;")
            o.append("        return %sget_value(%s, &err);" % (pre, a))
            o.append("    }")
            if f.kind != "pair_count":
                setter(f, ct, "%sset_value(%s, v, &err)" % (pre, a), "")
        elif f.kind == "enum":
            E = camel(f.ref)
            o.append("    /** @brief Field %s (enumeration %s). */" % (f.name, f.ref))
            o.append("    %s %s() const noexcept {" % (E, f.name))
            o.append("        std::uint32_t err = 0;")
            o.append("        return static_cast<%s>(%sget_value(%s, &err));" % (E, pre, a))
            o.append("    }")
            setter(f, E, "%sset_value(%s, static_cast<std::uint32_t>(v), &err)" % (pre, a),
                   "; errc::variant for a value out of range")
        elif f.kind == "str":
            o.append("    /** @brief Field %s (a string of at most 31 characters). */" % f.name)
            o.append("    std::string %s() const {" % f.name)
            o.append("        char buf[32] = \"\";")
            o.append("        std::uint32_t err = 0;")
            o.append("        %sget(%s, buf, sizeof buf, &err);" % (pre, a))
            o.append("        return buf;")
            o.append("    }")
            o.append("    /** @brief Sets %s.%s; errc::invalid for more than 31 characters (the field is "
                     "left as it was). */" % (n, f.name))
            o.append("    void set_%s(std::string_view v, std::error_code &ec) noexcept" % f.name)
            o.append("        requires Mutable")
            o.append("    {")
            o.append("        std::uint32_t err = v.size() > 31 ? std::uint32_t(LOMARI_ERR_INVALID) : 0u;")
            o.append("        %sset(%s, v.data(), detail::length(v.size()), &err);" % (pre, a))
            o.append("        detail::set_error(ec, err);")
            o.append("    }")
            throwing_setter(o, n, f.name, "std::string_view")
        elif f.kind in ("list", "array"):
            tmpl = "List" if f.kind == "list" else "Array"
            traits = "detail::%s%s" % (C, camel(f.name))
            what = ("the ordered list of %s elements the object owns" if f.kind == "list" else
                    "the counted array of %s elements, in one block the object owns") % f.ref
            o.append("    /** @brief Field %s: %s. */" % (f.name, what))
            o.append("    detail::%s<%s, true> %s() noexcept" % (tmpl, traits, f.name))
            o.append("        requires Mutable")
            o.append("    {")
            o.append("        return {%s};" % a)
            o.append("    }")
            o.append("    /** @brief Field %s, read-only. */" % f.name)
            o.append("    detail::%s<%s, false> %s() const noexcept { return {%s}; }" % (tmpl, traits, f.name, a))
    o.append("};")
    return o


def classes(t):
    n, C = t.name, camel(t.name)
    F = "%sFields" % C
    o = ["class %s;\n" % C,
         "/** @brief A read-only view of a %s another object owns. */" % n,
         "class %sConstRef : public %s<detail::View<%s, %s>, false> {" % (C, F, n, C),
         "public:", "    using %s::%s;" % (F, F), "};\n",
         "/** @brief A view of a %s another object owns (a list element, an array slot, a message's body, "
         "a record's field): reads and writes it in place. */" % n,
         "class %sRef : public %s<detail::View<%s, %s>, true> {" % (C, F, n, C),
         "public:", "    using %s::%s;" % (F, F),
         "    /** @brief The same object, read-only. */",
         "    operator %sConstRef() const noexcept { return {this->h_, this->db_, this->p_}; }" % C,
         "};\n",
         "/** @brief A %s, owned: destroyed with everything it owns when the wrapper goes.  Move-only. */" % n,
         "class %s : public %s<detail::Object<%s, %s>, true> {" % (C, F, n, C),
         "public:", "    using %s::%s;" % (F, F),
         "    using Ref = %sRef;" % C, "    using ConstRef = %sConstRef;" % C,
         "    /** @brief The type's name in the library. */",
         "    static constexpr std::string_view name = \"%s\";" % n,
         "    /** @brief A view of the object. */",
         "    operator Ref() noexcept { return {this->h_, this->db_, this->p_}; }",
         "    /** @brief A read-only view of the object. */",
         "    operator ConstRef() const noexcept { return {this->h_, this->db_, this->p_}; }",
         "};\n"]
    return o


def message(m):
    n, C, B = m.full, camel(m.name), camel(m.body.name)
    o = ["namespace detail {", "template <>", "struct MsgOps<%s> {" % n,
         "    using Body = %s;" % B, "    using BodyRef = %sRef;" % B, "    using BodyConstRef = %sConstRef;" % B,
         "    static constexpr std::uint8_t id[16] = {%s};" % id_bytes(m.luid)]
    for mem, fn in [("create", "create"), ("destroy", "destroy"), ("len", "len"), ("marshal", "marshal"),
                    ("unmarshal", "unmarshal"), ("unmarshal_only", "unmarshal_only"), ("print", "print"),
                    ("to_xml", "to_xml"), ("from_xml", "from_xml"),
                    ("body_get", m.body.name + "_get"), ("body_detach", m.body.name + "_get_detach"),
                    ("body_free_and_set", m.body.name + "_free_and_set")]:
        o.append("    static constexpr auto &%s = %s_%s;" % (mem, n, fn))
    o += ["};", "}  // namespace detail\n",
          "/** @brief Message %s (body %s), owned: destroyed with its body when the wrapper goes.  "
          "Move-only. */" % (m.name, m.body.name),
          "class %s : public detail::Message<%s, %s> {" % (C, n, C), "public:",
          "    using Message::Message;",
          "    using Body = %s;" % B,
          "    /** @brief The message's name in the library. */",
          "    static constexpr std::string_view name = \"%s\";" % m.name,
          "};\n"]
    return o


def index_ops(M, tb, i, keytype, field):
    t = M.type_by[keytype]
    prefix = "%s_%s_%s" % (tb.name, keytype, field)
    if field:
        kind = {"str": "str", "u32": "u32"}[next(f.kind for f in t.fields if f.name == field)]
    else:
        kind = "object"
    o = ["struct %s {" % index_name(tb, keytype, field),
         "    static constexpr KeyKind kind = KeyKind::%s;" % kind,
         "    using key_c = %s;" % keytype]
    for mem, fn in [("first", "get_first"), ("last", "get_last"), ("next", "get_next"), ("prev", "get_prev"),
                    ("search", "search"), ("search_nearest", "search_nearest")]:
        o.append("    static constexpr auto &%s = %s_%s;" % (mem, prefix, fn))
    o.append("};")
    return o


def index_name(tb, keytype, field):
    return "%s%s%sIndex" % (camel(tb.name), camel(keytype), camel(field))


def table(M, tb):
    n, C = tb.name, camel(tb.name)
    tag = "%sTag" % C
    idx = S.TABLE_INDEXES[n]
    o = ["namespace detail {", "struct %s;" % tag, "template <>", "struct TableOps<%s> {" % tag,
         "    static constexpr const char *name = \"%s\";" % n,
         "    static constexpr std::uint8_t id[16] = {%s};" % id_bytes(tb.luid)]
    for mem, fn in [("open", "table_open"), ("open_by_id", "table_open_by_id"), ("close", "table_close"),
                    ("free", "table_free"), ("create_record", "create_record"), ("add_ref", "record_add_ref"),
                    ("destroy_record", "destroy_record"), ("insert", "insert"), ("erase", "delete"),
                    ("count", "table_get_count"), ("record_marshal", "table_record_marshal"),
                    ("record_len", "table_record_len"), ("record_unmarshal", "table_record_unmarshal"),
                    ("record_print", "table_record_print"), ("record_to_xml", "table_record_to_xml"),
                    ("record_from_xml", "table_record_from_xml")]:
        o.append("    static constexpr auto &%s = %s_%s;" % (mem, n, fn))
    o.append("    /* A new object in every field of record r; false when memory runs out. */")
    o.append("    static bool make_fields(qel_handle_t *h, std::uint32_t db, void *r) noexcept {")
    for p in tb.parts:
        o.append("        %s *%s = %s_create(h, db);" % (p, p, p))
        o.append("        if (!%s) return false;" % p)
        o.append("        %s_%s_set_field(h, db, r, %s);" % (n, p, p))
    o.append("        return true;")
    o.append("    }")
    o.append("};")
    for i, (keytype, field) in enumerate(idx):
        o += index_ops(M, tb, i, keytype, field)
    o.append("}  // namespace detail\n")
    F = "%sRecordFields" % C
    o += ["/** @brief The fields of a %s record: one object of each part type, which the record owns. */" % n,
          "template <class B>", "class %s : public B {" % F, "public:", "    using B::B;"]
    a = "this->h_, this->db_, this->r_"
    for p in tb.parts:
        P = camel(p)
        o += ["    /** @brief The record's %s, which the record keeps (an empty view when the field is "
              "empty). */" % p,
              "    %sRef %s() const noexcept { return {this->h_, this->db_, %s_%s_get_field(%s)}; }" % (
                  P, p, n, p, a),
              "    /** @brief Puts @p v in the record's %s field (the object already there is destroyed); "
              "errc::invalid for an empty @p v. */" % p,
              "    void set_%s(%s &&v, std::error_code &ec) noexcept {" % (p, P),
              "        detail::set_error(ec, v ? 0u : std::uint32_t(LOMARI_ERR_INVALID));",
              "        if (v) %s_%s_free_and_set_field(%s, v.release());" % (n, p, a),
              "    }",
              "    /** @brief Puts @p v in the %s field; throws std::system_error. */" % p,
              "    void set_%s(%s &&v) {" % (p, P),
              "        std::error_code ec;",
              "        set_%s(std::move(v), ec);" % p,
              "        detail::check(ec, \"lomari: set %s.%s\");" % (n, p),
              "    }",
              "    /** @brief Takes the %s out of the record: the caller owns it, the field is empty. */" % p,
              "    %s take_%s() noexcept { return %s::adopt(this->h_, this->db_, %s_%s_get_field_detach(%s)); }" % (
                  P, p, P, n, p, a)]
    o.append("};\n")
    o += ["/** @brief A %s record seen in the table or held elsewhere, not held by this view. */" % n,
          "class %sRecordRef : public %s<detail::RecordView<detail::%s>> {" % (C, F, tag), "public:",
          "    using %s::%s;" % (F, F), "};\n",
          "/** @brief A %s record, held: copying adds a reference, destruction drops one, and the last one "
          "takes the record out of its table and destroys its field objects. */" % n,
          "class %sRecord : public %s<detail::Record<detail::%s, %sRecord>> {" % (C, F, tag, C), "public:",
          "    using %s::%s;" % (F, F), "    using Ref = %sRecordRef;" % C,
          "    /** @brief A view of the record. */",
          "    operator Ref() const noexcept { return {this->h_, this->db_, this->r_}; }",
          "};\n"]
    k0, f0 = idx[0]
    o += ["/** @brief Table %s: records keyed by %s%s, looked up and walked in key order.  Closed when the "
          "wrapper goes (the table stays in its database); free() releases it.  Move-only. */" % (
              n, k0, (" " + f0) if f0 else ""),
          "class %s : public detail::Table<detail::%s, detail::%s, %sRecordRef, %sRecord, %s> {" % (
              C, tag, index_name(tb, k0, f0), C, C, C),
          "public:",
          "    using Record = %sRecord;" % C, "    using RecordRef = %sRecordRef;" % C,
          "    /** @brief The table's name in the library. */",
          "    static constexpr std::string_view name = \"%s\";" % n]
    for keytype, field in idx[1:]:
        o += ["    /** @brief The index by %s%s. */" % (keytype, (" " + field) if field else ""),
              "    detail::Index<detail::%s, RecordRef> by_%s%s() const noexcept {" % (
                  index_name(tb, keytype, field), keytype, ("_" + field) if field else ""),
              "        return {this->h_, this->db_, this->t_};", "    }"]
    o.append("};\n")
    return o


def dispatch(M):
    heads = [id_head(m.luid) for m in M.messages]
    assert len(set(heads)) == len(heads), "message identifiers share their first 8 bytes"
    o = ["/**",
         " * @brief Receives the message envelope at the start of @p in and gives the new message, owned, to",
         " * the first of @p handlers that takes its class (by value, rvalue or reference; lambdas welcome).",
         " *",
         " * The identifier at byte 27 chooses the message; the runtime's recorder sees it as with the C",
         " * unmarshal.  The message is destroyed when the handler returns, unless the handler moved it",
         " * elsewhere; a handler may throw (the C call has returned by then).  Returns the bytes consumed.",
         " * Errors: errc::too_short (fewer than 43 bytes, or the envelope ends early), errc::not_found (an",
         " * identifier of no message), errc::no_handler (no handler takes the message; it is destroyed),",
         " * or the body's decoding error; nothing is left behind on any of them.",
         " */",
         "template <class... F>",
         "std::uint32_t dispatch(Handle &h, std::span<const std::byte> in, std::error_code &ec, F &&...handlers) {",
         "    if (in.size() < detail::kEnvelopeMin) {",
         "        detail::set_error(ec, LOMARI_ERR_SHORT);",
         "        return 0;",
         "    }",
         "    switch (detail::id_head(in)) {"]
    for m, head in zip(M.messages, heads):
        C = camel(m.name)
        o.append("    case %s:" % head)
        o.append("        if (%s::matches(in)) return detail::deliver<%s>(h, in, ec, handlers...);" % (C, C))
        o.append("        break;")
    o += ["    }",
          "    detail::set_error(ec, LOMARI_ERR_NOT_FOUND);",
          "    return 0;",
          "}\n",
          "/** @brief Receives and dispatches the envelope at the start of @p in; throws std::system_error. */",
          "template <class... F>",
          "    requires detail::no_error_code<F...>",
          "std::uint32_t dispatch(Handle &h, std::span<const std::byte> in, F &&...handlers) {",
          "    std::error_code ec;",
          "    const std::uint32_t n = dispatch(h, in, ec, handlers...);",
          "    return detail::checked(n, ec, \"lomari: dispatch\");",
          "}\n"]
    return o


def emit(M):
    order = {t.name: t.ordinal for t in M.types}
    for t in M.types:
        for f in t.fields:
            if f.kind in ("list", "array"):
                assert order[f.ref] < t.ordinal, "%s: element type %s comes later" % (t.name, f.ref)
    o = ["// " + BANNER,
         "/**",
         " * @file lomari/lomari.hpp",
         " * @brief The C++ interface of liblomari: owning classes for every structured type, message,",
         " * table record and table, lomari::dispatch, and errors as std::error_code.",
         " *",
         " * Header-only over the C entry points of lomari/lomari.h (C++20).  Every operation that can fail",
         " * has a form taking a std::error_code& (noexcept where nothing allocates) and a form throwing",
         " * std::system_error in the lomari category (lomari::error_category()).",
         " */",
         "#ifndef LOMARI_HPP", "#define LOMARI_HPP\n",
         "#include \"lomari/lomari_base.hpp\"\n",
         "namespace lomari {\n"]
    for e in M.enums:
        o += enum_class(e)
    for t in M.types:
        o.append("namespace detail {")
        o += ops(t)
        for f in t.fields:
            if f.kind in ("list", "array"):
                o += range_ops(M, t, f, f.kind)
        o.append("}  // namespace detail\n")
        o += accessors(M, t)
        o.append("")
        o += classes(t)
    for m in M.messages:
        o += message(m)
    for tb in M.tables:
        o += table(M, tb)
    o += dispatch(M)
    o.append("/** @brief Every structured type's owning class, in the library's order. */")
    o.append("using Types = TypeList<%s>;" % ", ".join(camel(t.name) for t in M.types))
    o.append("/** @brief Every message class, in the library's order. */")
    o.append("using Messages = TypeList<%s>;" % ", ".join(camel(m.name) for m in M.messages))
    o.append("/** @brief Every table class, in the library's order. */")
    o.append("using Tables = TypeList<%s>;\n" % ", ".join(camel(tb.name) for tb in M.tables))
    o.append("}  // namespace lomari\n")
    o.append("#endif  // LOMARI_HPP")
    return "\n".join(o) + "\n"
