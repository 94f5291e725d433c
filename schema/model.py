"""The lomari domain as the generator sees it: schema/lomari.py with every
layout fact worked out.

Model() reads the schema once and computes each structured type's C layout
(field offsets, state-byte indices, list anchor and link offsets, sizes,
binary bounds), the registration catalogue of every type-info record, and
the counts every emitter writes.  Emitters (schema/emit/) only format what
is here; family modules (schema/families/) read it to stamp entry points.
"""

from dataclasses import dataclass, field as dfield

import lomari as S

HEADER_SIZE = 11  # type-info pointer, variant, second header byte, flags
# State area of an array owner: its own field bytes in the first 8, then the
# pointer to the per-element state bytes.
ARRAY_OWNER_STATE_SIZE = 16
ARRAY_OWNER_PER_ELEM_OFF = 8


def round_up(n, a):
    return (n + a - 1) // a * a


# ---------------------------------------------------------------------------
# Model
# ---------------------------------------------------------------------------

@dataclass
class Enum:
    name: str
    values: list
    ordinal: int
    luid: str
    luid2: str

    @property
    def bound(self):
        return len(self.values)


@dataclass
class Field:
    name: str
    kind: str          # u8 u16 u32 enum str list pair_count array
    ref: str = ""      # enum name or element type name
    offset: int = 0
    size: int = 0
    align: int = 1
    state_idx: int = 0xFF

    @property
    def is_scalar(self):
        return self.kind in ("u8", "u16", "u32")

    @property
    def width(self):
        return {"u8": 8, "u16": 16, "u32": 32, "pair_count": 32}.get(self.kind, 0)

    @property
    def ctype(self):
        return {"u8": "uint8_t", "u16": "uint16_t", "u32": "uint32_t",
                "pair_count": "uint32_t"}.get(self.kind, self.ref)

    @property
    def scalar_obj(self):
        return {"u8": "u_int8", "u16": "u_int16", "u32": "u_int32",
                "pair_count": "u_int32"}[self.kind]


@dataclass
class Type:
    name: str
    ordinal: int
    fields: list
    tail: int
    luid: str
    luid2: str
    plain_size: int = 0
    state_size: int = 0
    anchor_off: int = 0
    link_off: int = 0
    list_owner: "Type" = None
    list_name: str = ""          # element types: the list's field name
    members: list = dfield(default_factory=list)  # C struct members

    @property
    def tracked_size(self):
        return self.plain_size + self.state_size

    @property
    def manifest_size(self):
        return self.plain_size - self.tail

    def index_of(self, kind):
        for i, f in enumerate(self.fields):
            if f.kind == kind:
                return i
        return -1

    @property
    def list_field(self):
        i = self.index_of("list")
        return self.fields[i] if i >= 0 else None

    @property
    def array_field(self):
        i = self.index_of("array")
        return self.fields[i] if i >= 0 else None

    @property
    def member_bound(self):
        n = len(self.fields)
        if self.list_owner is not None:
            n += 2
        if self.list_field is not None:
            n += 1
        return n

    @property
    def value_fields(self):
        """Scalar and enumeration fields (get_all/set_all order)."""
        return [f for f in self.fields if f.is_scalar or f.kind in ("enum", "pair_count")]

    @property
    def n_state_fields(self):
        return sum(1 for f in self.fields if f.state_idx != 0xFF)

    @property
    def enc_fixed(self):
        n = 6
        for f in self.fields:
            n += {"u8": 1, "u16": 2, "u32": 4, "pair_count": 4, "enum": 5,
                  "str": 31, "list": 4, "array": 0}[f.kind]
        return n

    @property
    def enc_state(self):
        n = 0
        for f in self.fields:
            if f.kind == "str":
                n += 32
            elif f.kind != "pair_count":
                n += 1
        return n


@dataclass
class Message:
    name: str
    ordinal: int
    body: Type
    tag: int
    luid: str
    luid2: str

    @property
    def full(self):
        return self.name + "_message"


@dataclass
class Table:
    name: str
    ordinal: int
    parts: list
    luid: str
    luid2: str
    rec_luid: str
    rec_luid2: str


class Model:
    def __init__(self):
        self.enums = [Enum(n, v, i, *S.LUIDS[n]) for i, (n, v) in enumerate(S.ENUMS)]
        self.enum_by = {e.name: e for e in self.enums}
        self.types = []
        for i, t in enumerate(S.TYPES):
            name, fields = t[0], t[1]
            opts = t[2] if len(t) > 2 else {}
            fl = []
            for fname, kind in fields:
                k, _, ref = kind.partition(":")
                fl.append(Field(fname, k, ref))
            self.types.append(Type(name, i, fl, opts.get("tail", 8), *S.LUIDS[name]))
        self.type_by = {t.name: t for t in self.types}
        for t in self.types:
            lf = t.list_field
            if lf:
                el = self.type_by[lf.ref]
                el.list_owner = t
                el.list_name = lf.name
        for t in self.types:
            self._layout(t)
        # Flat types (no list, no array): one shape per distinct sequence of
        # field kinds, so that the codec can walk each shape without
        # looking at the kinds.
        self.flat_shapes = []
        self.flat_shape_offsets = []
        for t in self.types:
            kinds = tuple(f.kind for f in t.fields)
            if any(k in ("list", "pair_count", "array") for k in kinds):
                t.flat_shape = -1
                continue
            if kinds not in self.flat_shapes:
                self.flat_shapes.append(kinds)
                # The layout follows from the kinds alone: every type of a
                # shape has its fields, and a list element its link words,
                # at the same offsets, which the codec takes as constants.
                last = t.fields[-1]
                self.flat_shape_offsets.append(
                    [f.offset for f in t.fields] + [round_up(last.offset + last.size, 8)])
            t.flat_shape = self.flat_shapes.index(kinds)
            offs = self.flat_shape_offsets[t.flat_shape]
            assert [f.offset for f in t.fields] == offs[:-1], t.name
            assert t.list_owner is None or t.link_off == offs[-1], t.name
        self.messages = [Message(n, i, self.type_by[b], tag, *S.LUIDS[n])
                         for i, (n, b, tag) in enumerate(S.MESSAGES)]
        self.tables = [Table(n, i, p, *S.LUIDS[n], *S.LUIDS[n + "_record"])
                       for i, (n, p) in enumerate(S.TABLES)]

    def _layout(self, t):
        off = HEADER_SIZE
        st = 0
        members = []
        for f in t.fields:
            size, align = {
                "u8": (1, 1), "u16": (2, 2), "u32": (4, 4), "pair_count": (4, 4),
                "enum": (16, 8), "str": (32, 1), "list": (28, 8), "array": (8, 8),
            }[f.kind]
            off = round_up(off, align)
            f.offset, f.size, f.align = off, size, align
            if f.kind == "list":
                t.anchor_off = off
                members += [("void *", f.name + "_first"), ("void *", f.name + "_last"),
                            ("void *", f.name + "_owner"), ("uint32_t", f.name + "_count")]
            elif f.kind == "array":
                members.append(("struct %s *" % f.ref, f.name))
            elif f.kind == "str":
                members.append(("char", f.name + "[32]"))
            elif f.kind == "enum":
                members.append((f.ref, f.name))
            else:
                members.append((f.ctype, f.name))
            off += size
            if f.kind != "pair_count":
                f.state_idx = st
                st += 1
        if t.list_owner is not None:
            off = round_up(off, 8)
            t.link_off = off
            ln = t.list_name
            members += [("void *", ln + "_anchor"), ("void *", ln + "_next"),
                        ("void *", ln + "_prev")]
            off += 24
        off = round_up(off, 8)
        members.append(("uint64_t", "reserved_[%d]" % (t.tail // 8)))
        t.plain_size = off + t.tail
        if t.array_field:
            assert st <= ARRAY_OWNER_PER_ELEM_OFF, t.name
            t.state_size = ARRAY_OWNER_STATE_SIZE
        else:
            t.state_size = st
        t.members = members

    def owners(self, kind):
        """(type, field) of every type with a field of this kind ("list", "array")."""
        return [(t, t.fields[t.index_of(kind)]) for t in self.types if t.index_of(kind) >= 0]

    def catalogue(self):
        """Every type-info record in registration order."""
        out = []
        for t in self.types:
            out.append(Record("ti_" + t.name, "type", t.name, t.ordinal, t.luid, t.luid2,
                              t.manifest_size, t.plain_size - t.manifest_size, t))
        for e in self.enums:
            out.append(Record("ti_" + e.name, "enum", e.name, e.ordinal, e.luid, e.luid2, 16, 0, e))
        for tb in self.tables:
            out.append(Record("ti_" + tb.name, "table", tb.name, tb.ordinal, tb.luid, tb.luid2, 8, 0, tb))
            out.append(Record("ti_" + tb.name + "_record", "table_record", tb.name + "_record",
                              tb.ordinal, tb.rec_luid, tb.rec_luid2, 8, 0, tb))
        for m in self.messages:
            out.append(Record("ti_msg_" + m.name, "message", m.name, m.ordinal, m.luid, m.luid2, 40, 0, m))
        return out

    def counts(self):
        """The number of each kind of schema item, as the C++ side names them."""
        return {
            "kEnumCount": len(self.enums),
            "kTypeCount": len(self.types),
            "kMessageCount": len(self.messages),
            "kTableCount": len(self.tables),
            "kTypeInfoCount": len(self.catalogue()),
            "kMaxStateSize": max(t.state_size for t in self.types),
            "kMaxEnumFields": max(sum(f.kind == "enum" for f in t.fields) for t in self.types),
            "kMaxEnumBound": max(e.bound for e in self.enums),
        }

    def identifiers(self):
        """The exported identifier constants: (kind, name, luid, display name)."""
        return ([("message", m.name, m.luid) for m in self.messages] +
                [("table", tb.name, tb.luid) for tb in self.tables])


@dataclass
class Record:
    """One type-info record: C name, kind, schema name, ordinal within its
    kind, identifiers, used length and reserved slop of its variant record,
    and the model object it describes."""
    cname: str
    kind: str
    name: str
    ordinal: int
    luid: str
    luid2: str
    used: int
    slop: int
    obj: object
