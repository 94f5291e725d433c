"""Shared pieces of the family modules: parameter spellings."""

H = "qel_handle_t *h"
DB = "uint32_t db"
ERR = "uint32_t *err"


def params(*ps):
    return ", ".join(p for p in ps if p)


def T(t):
    """Descriptor expression of a structured type."""
    return "kTypes[%d]" % t.ordinal


def E(e):
    return "kEnums[%d]" % e.ordinal


def MSG(m):
    return "kMessages[%d]" % m.ordinal
