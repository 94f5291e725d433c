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
from famlib import DB, E_NULL, ERR, H, MSG, Doc, adder, params

TITLE = "Message objects"
DOCS = {
    "create_shallow": Doc("Creates a {msg} message without a body.",
                          owns="the caller owns the new message; {name_base}_destroy releases it.",
                          errors="none: null when memory runs out"),
    "create": Doc("Creates a {msg} message with a new empty {body} body.",
                  owns="the caller owns the new message and, through it, its body; {name_base}_destroy "
                       "releases both.",
                  errors="none: null when memory runs out"),
    "create_cr": Doc("Creates a {msg} message with an empty body, chained-error form.",
                     owns="the caller owns the new message; after an error the result is the message's static "
                          "null object, which destroy ignores.",
                     errors="LOMARI_ERR_NO_MEMORY in the handle's err when memory runs out"),
    "destroy": Doc("Destroys a {msg} message and its body.",
                   owns="releases the message and the body it holds; the null object is ignored."),
    "destroy_cr": Doc("Destroys a {msg} message and its body, chained-error form (the handle's database_id).",
                      owns="as {name_base}_destroy."),
    "len": Doc("Bytes the envelope of a {msg} message takes: 43 plus its body's encoding."),
    "len_cr": Doc("Bytes the envelope of a {msg} message takes, chained-error form: 0 when the handle holds an "
                  "error."),
    "body_get": Doc("The {body} body of a {msg} message, or null.",
                    owns="the message keeps its body.", errors=E_NULL),
    "body_get_detach": Doc("Takes the {body} body out of a {msg} message.",
                           owns="the caller owns the body; the message has none.", errors=E_NULL),
    "body_set": Doc("Puts body into a {msg} message.",
                    owns="the message owns body from now on; a body already there is not released (its owner "
                         "must destroy it).",
                    errors=E_NULL),
    "body_free_and_set": Doc("Replaces the body of a {msg} message with body.",
                             owns="the body already there is destroyed; the message owns body from now on.",
                             errors=E_NULL),
}



def entries(M, Entry):
    out = []
    for m in M.messages:
        n, d, b = m.full, MSG(m), m.body.name
        add = adder(out, Entry, n + "_", msg=m.name, body=b, name_base=n)
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
                "return static_cast<%s *>(msg_body_get(%s, %s, h, db, msg, err));" % (b, d, op), "body_" + s)
        for s, op in [("set", "BodySet::Keep"), ("free_and_set", "BodySet::FreeOld")]:
            add("void", "%s_%s" % (b, s), params(H, DB, n + " *msg", b + " *body", ERR),
                "msg_body_set(%s, %s, h, db, msg, body, err);" % (d, op), "body_" + s)
    return out
