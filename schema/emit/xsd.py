"""lomari.xsd: an XML Schema of the domain's XML forms, as the library
renders them and the tool reads them.

Global elements (the roots a document may have): every message element
(named after the message, holding its body element named after the body
type), every table-record element (named after the table, holding one
element per record field, named after the field's type), and the two
documents of many items: the tool's item list and the recorder's file of
time-stamped "lomari" elements.  Structured types are named complex types
with their fields in declaration order, each required; an enumeration is an
element holding exactly one empty child named after an enumerator; lists
and counted arrays are repeated elements."""
from emit.common import BANNER

XS = "http://www.w3.org/2001/XMLSchema"
ITEMS = "lomari_items"          # root of `lomari decode --format xml`
RECORDING = "lomari_recording"  # root of the recorder file of `lomari demo`
RECORDED = "lomari"             # the recorder's time-stamped element
STR_BOUND = 31                  # characters of a fixed string
SCALARS = {"u8": "unsignedByte", "u16": "unsignedShort", "u32": "unsignedInt", "pair_count": "unsignedInt"}
# Value types of our own, beside the domain's type names.
VALUE_TYPES = ["u8", "u16", "u32", "string31", "empty"]


def field_type(f):
    if f.kind in SCALARS:
        return "u32" if f.kind == "pair_count" else f.kind
    if f.kind == "str":
        return "string31"
    return f.ref


def field_element(f):
    many = ' minOccurs="0" maxOccurs="unbounded"' if f.kind in ("list", "array") else ""
    return '<xs:element name="%s" type="%s"%s/>' % (f.name, field_type(f), many)


def sequence(elements, indent):
    pad = " " * indent
    return ["%s<xs:sequence>" % pad] + ["%s  %s" % (pad, e) for e in elements] + ["%s</xs:sequence>" % pad]


def emit(M):
    names = {t.name for t in M.types} | {e.name for e in M.enums}
    clash = names & set(VALUE_TYPES)
    assert not clash, "type names taken by the schema's value types: %s" % clash
    o = ['<?xml version="1.0" encoding="UTF-8"?>',
         "<!-- %s -->" % BANNER.replace(" -- ", ": "),
         "<!-- The XML forms of the lomari domain: messages, table records, the",
         "     tool's item list and the recorder's file. -->",
         '<xs:schema xmlns:xs="%s">' % XS, ""]
    o.append("  <!-- Documents of many items. -->")
    o.append('  <xs:element name="%s">' % ITEMS)
    o.append("    <xs:complexType>")
    o.append('      <xs:choice minOccurs="0" maxOccurs="unbounded">')
    o += ['        <xs:element ref="%s"/>' % n for n in [m.name for m in M.messages] + [t.name for t in M.tables]]
    o.append("      </xs:choice>")
    o.append("    </xs:complexType>")
    o.append("  </xs:element>")
    o.append('  <xs:element name="%s">' % RECORDING)
    o.append("    <xs:complexType>")
    o += sequence(['<xs:element ref="%s" minOccurs="0" maxOccurs="unbounded"/>' % RECORDED], 6)
    o.append("    </xs:complexType>")
    o.append("  </xs:element>")
    o.append('  <xs:element name="%s">' % RECORDED)
    o.append("    <xs:complexType>")
    o.append("      <xs:choice>")
    o += ['        <xs:element ref="%s"/>' % m.name for m in M.messages]
    o.append("      </xs:choice>")
    o.append('      <xs:attribute name="time" type="xs:dateTime" use="required"/>')
    o.append("    </xs:complexType>")
    o.append("  </xs:element>\n")
    def item(name, parts):
        o.append('  <xs:element name="%s">' % name)
        o.append("    <xs:complexType>")
        o.extend(sequence(['<xs:element name="%s" type="%s"/>' % (p, p) for p in parts], 6))
        o.append("    </xs:complexType>")
        o.append("  </xs:element>")

    o.append("  <!-- Messages: the body element. -->")
    for m in M.messages:
        item(m.name, [m.body.name])
    o.append("\n  <!-- Table records: one element per record field. -->")
    for tb in M.tables:
        item(tb.name, tb.parts)
    o.append("\n  <!-- Structured types: the fields in declaration order. -->")
    for t in M.types:
        o.append('  <xs:complexType name="%s">' % t.name)
        o += sequence([field_element(f) for f in t.fields], 4)
        o.append("  </xs:complexType>")
    o.append("\n  <!-- Enumerations: exactly one empty child named after the enumerator. -->")
    for e in M.enums:
        o.append('  <xs:complexType name="%s">' % e.name)
        o.append("    <xs:choice>")
        o += ['      <xs:element name="%s" type="empty"/>' % v for v in e.values]
        o.append("    </xs:choice>")
        o.append("  </xs:complexType>")
    o.append("\n  <!-- Values: unsigned decimal numbers of each width, fixed strings. -->")
    for name in ("u8", "u16", "u32"):
        o.append('  <xs:simpleType name="%s">' % name)
        o.append('    <xs:restriction base="xs:%s">' % SCALARS[name])
        o.append('      <xs:pattern value="[0-9]+"/>')
        o.append("    </xs:restriction>")
        o.append("  </xs:simpleType>")
    o.append('  <xs:simpleType name="string31">')
    o.append('    <xs:restriction base="xs:string">')
    o.append('      <xs:maxLength value="%d"/>' % STR_BOUND)
    o.append("    </xs:restriction>")
    o.append("  </xs:simpleType>")
    o.append('  <xs:complexType name="empty"/>')
    o.append("</xs:schema>")
    return "\n".join(o) + "\n"
