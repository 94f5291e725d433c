"""Message objects: create with and without body, destroy, length and the
body accessors."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership: a message owns its body.  <message>_<body>_get gives the body
the message keeps; _get_detach hands it to the caller and leaves the
message without one; _set puts a body in (a body already there is not
released: its owner must destroy it); _free_and_set destroys the body
already there first.
"""
from famlib import DB, ERR, H, MSG, adder, params


def entries(M, Entry):
    out = []
    for m in M.messages:
        n, d, b = m.full, MSG(m), m.body.name
        add = adder(out, Entry, n + "_")
        add(n + " *", "create_shallow", params(H, DB),
            "return static_cast<%s *>(msg_create_shallow(%s, h, db));" % (n, d))
        add(n + " *", "create", params(H, DB), "return static_cast<%s *>(msg_create(%s, h, db));" % (n, d))
        add(n + " *", "create_cr", H, "return static_cast<%s *>(msg_create_cr(%s, h));" % (n, d))
        add("void", "destroy", params(H, DB, n + " *msg"), "msg_destroy(%s, h, db, msg);" % d)
        add("void", "destroy_cr", params(H, n + " *msg"), "msg_destroy(%s, h, h->database_id, msg);" % d)
        add("uint32_t", "len", params(H, DB, n + " *msg"), "return msg_len(%s, h, db, msg);" % d)
        add("uint32_t", "len_cr", params(H, n + " *msg"),
            "return h->err ? 0 : msg_len(%s, h, h->database_id, msg);" % d)
        for s, op in [("get", "BodyGet::Keep"), ("get_detach", "BodyGet::Detach")]:
            add(b + " *", "%s_%s" % (b, s), params(H, DB, n + " *msg", ERR),
                "return static_cast<%s *>(msg_body_get(%s, %s, h, db, msg, err));" % (b, d, op))
        for s, op in [("set", "BodySet::Keep"), ("free_and_set", "BodySet::FreeOld")]:
            add("void", "%s_%s" % (b, s), params(H, DB, n + " *msg", b + " *body", ERR),
                "msg_body_set(%s, %s, h, db, msg, body, err);" % (d, op))
    return out
