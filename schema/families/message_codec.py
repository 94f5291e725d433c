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
from famlib import DB, E_MEM, E_SHORT, ERR, H, MSG, Doc, adder, params

TITLE = "Messages on the wire, as text and as XML"
DOCS = {
    "marshal": Doc("Marshals a {msg} message into buf (len bytes): 27 header bytes, the 16-byte identifier "
                   "message_{msg}_luid, the {body} encoding; returns the bytes written (43 plus the body's).",
                   owns="the message stays the caller's.",
                   errors="LOMARI_ERR_DOMAIN when the message is not allowed in the handle's domain; " + E_SHORT +
                          " (the header is then not written); the bundle layer's error while a bundle is built"),
    "marshal_cr": Doc("Marshals a {msg} message, chained-error form: 0xFFFFFFFF when the handle holds an error "
                      "afterwards.",
                      owns="the message stays the caller's.",
                      errors="as {name_base}_marshal, in the handle's err"),
    "unmarshal": Doc("Receives a {msg} envelope from buf (len bytes; the identifier is stepped over unread, so "
                     "call the unmarshal of the message the identifier names): builds a new message, records "
                     "it as XML when the runtime's recorder is on, and hands it to handler (with ctx), else to "
                     "the application's lomari_{msg}_message_handler.  Returns the bytes consumed.",
                     owns="with msg given, the caller owns the message through *msg, whether a handler ran or "
                          "LOMARI_ERR_NO_HANDLER was reported (a handler may read it, not destroy it); without "
                          "msg, the handler owns it and destroys it, and with no handler anywhere the library "
                          "releases it.  A body that fails to decode hands nothing out (*msg stays null).",
                     errors="LOMARI_ERR_NO_HANDLER when no handler is given or defined; the body's decoding "
                            "errors (LOMARI_ERR_SHORT for input that ends early); " + E_MEM),
    "unmarshal_only": Doc("Decodes a {msg} envelope from buf (len bytes) into a new message in *msg, with no "
                          "handler and no recording; returns the bytes consumed.",
                          owns="the caller owns the message in *msg, also when its body failed to decode.",
                          errors="the header's and the body's decoding errors; " + E_MEM),
    "is_valid_cr": Doc("Non-zero when the {msg} message is allowed in the handle's domain."),
    "print": Doc("Writes the text rendering of a {msg} message (its name, then its body indented) into buf of "
                 "len bytes; returns the characters written.",
                 errors=E_SHORT),
    "print_cr": Doc("Text rendering of a {msg} message, chained-error form: 0xFFFFFFFF when the handle holds "
                    "an error afterwards.",
                    errors="as {name_base}_print, in the handle's err"),
    "to_xml": Doc("Writes a {msg} message as XML into buf of len bytes: a {msg} element around the {body} "
                  "element; returns the characters written.",
                  errors=E_SHORT),
    "toxml_cr": Doc("XML rendering of a {msg} message, chained-error form: 0xFFFFFFFF when the handle holds an "
                    "error afterwards.",
                    errors="as {name_base}_to_xml, in the handle's err"),
    "from_xml": Doc("A new {msg} message filled from the //{body} element of the parsed document doc; a "
                    "document without it gives an empty body.  A reason goes to msg_buf (msg_len bytes) when "
                    "given.",
                    owns="the caller owns the new message; null on error.",
                    errors="LOMARI_ERR_INVALID for a malformed value; " + E_MEM),
}



def entries(M, Entry):
    out = []
    for m in M.messages:
        n, d = m.full, MSG(m)
        add = adder(out, Entry, n + "_", msg=m.name, body=m.body.name, name_base=n)
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
