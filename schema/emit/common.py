"""Formatting shared by the emitters."""

BANNER = "Generated from schema/lomari.py -- do not edit."


def luid_bytes(hexs):
    return ", ".join("0x" + hexs[i:i + 2] for i in range(0, 32, 2))


def c_str(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def designated(members):
    """A braced initialiser naming each member: [(member, value text), ...]."""
    return "{" + ", ".join(".%s = %s" % (m, v) for m, v in members) + "}"
