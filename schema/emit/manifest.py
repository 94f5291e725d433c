"""ostrel.bin: the type manifest section of the library file."""
import os
import socket
import time

from model import round_up

KINDS = {"type": "type", "enum": "enum", "message": "mess", "table": "tabl", "table_record": "trec"}


def line(r):
    size = round_up(r.used, 8) if r.kind in ("type", "enum") else 0
    return "%s:%s%s000:%05dN" % (r.luid, r.luid2, KINDS[r.kind], size)


def record(rtype, payload):
    b = payload.encode() + b"\0"
    pad = (-len(b)) % 4
    return len(b).to_bytes(4, "little") + rtype.to_bytes(4, "little") + b + b"\0" * pad


def emit(M):
    rows = M.catalogue()
    g1 = sorted([r for r in rows if r.kind in ("type", "enum")], key=lambda r: r.name)
    g2 = sorted([r for r in rows if r.kind == "message"], key=lambda r: r.luid)
    g3 = sorted([r for r in rows if r.kind in ("table", "table_record")], key=lambda r: r.luid)
    text = "# lomari.varnel\n" + "".join(line(r) + "\n" for r in g1 + g2 + g3)
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
    info = ("lomari\npackage: liblomari 1.0.0\nbuilder: %s\nhost: %s\nprocess: generate.py\n"
            "time: %s\ncomment: lomari domain type manifest\n") % (
        os.environ.get("USER", "builder"), socket.gethostname(),
        time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)))
    return record(2, text) + record(1, info)
