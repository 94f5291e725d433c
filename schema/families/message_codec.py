"""Messages on the wire and as text and XML: marshal, unmarshal (with
dispatch and recording), unmarshal_only, the domain check, print, to_xml
and from_xml of every message."""

# Printed above the family's declarations in lomari_api.h.
HEADER_NOTE = """\
Ownership of a received message (<message>_unmarshal):
- a body that fails to decode: nothing is handed out, the message is
  released and the reference, if given, stays null;
- with a message reference: the caller owns the message through it, also
  when a handler ran or NO_HANDLER was reported; a handler may look at it
  but must not destroy it;
- without a reference: the handler, given or the application's
  lomari_<name>_message_handler, owns it and destroys it;
- without a reference or any handler: NO_HANDLER (38) is reported and the
  message is released, since nobody could reach it.
<message>_unmarshal_only stores the message in the reference, the caller's
also when the body failed to decode.  <message>_from_xml gives the caller
a new message.
"""
from famlib import DB, ERR, H, MSG, adder, params


def entries(M, Entry):
    out = []
    for m in M.messages:
        n, d = m.full, MSG(m)
        add = adder(out, Entry, n + "_")
        handler = "void (*handler)(qel_handle_t *, uint32_t, uint64_t, %s *, uint32_t *)" % n
        add("uint32_t", "marshal", params(H, DB, "uint8_t *buf", n + " *msg", "uint32_t len", ERR),
            "return msg_marshal(%s, h, db, buf, msg, len, err);" % d)
        add("uint32_t", "marshal_cr", params(H, n + " *msg", "uint8_t *buf", "uint32_t len"),
            "return msg_length_cr(msg_marshal(%s, h, h->database_id, buf, msg, len, &h->err), h);" % d)
        add("uint32_t", "unmarshal",
            params(H, DB, "uint64_t ctx", n + " **msg", "const uint8_t *buf", "uint32_t len", handler, ERR),
            "return msg_unmarshal(%s, h, db, ctx, reinterpret_cast<void **>(msg), buf, len,\n"
            "                         reinterpret_cast<MsgHandlerFn>(handler), err);" % d)
        add("uint32_t", "unmarshal_only",
            params(H, DB, n + " **msg", "const uint8_t *buf", "uint32_t len", ERR),
            "return msg_unmarshal_only(%s, h, db, reinterpret_cast<void **>(msg), buf, len, err);" % d)
        add("int", "is_valid_cr", H, "return msg_is_valid_cr(%s, h);" % d)
        for op, cr, worker in [("print", "print_cr", "msg_print"), ("to_xml", "toxml_cr", "msg_to_xml")]:
            add("uint32_t", op, params(H, DB, "char *buf", n + " *msg", "uint32_t len", ERR),
                "return %s(%s, h, db, buf, msg, len, err);" % (worker, d))
            add("uint32_t", cr, params(H, n + " *msg", "char *buf", "uint32_t len"),
                "return msg_length_cr(%s(%s, h, h->database_id, buf, msg, len, &h->err), h);" % (worker, d))
        add(n + " *", "from_xml",
            params(H, DB, "qel_xml_doc_t *doc", ERR, "char *msg_buf", "uint32_t msg_len"),
            "return static_cast<%s *>(msg_from_xml(%s, h, db, doc, err, msg_buf, msg_len));" % (n, d))
    return out
