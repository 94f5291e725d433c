// record_io.cpp -- table records and primary keys as bytes, text and XML.
//
// Owns the record frame and its checks, written once over the table
// descriptors: marshal, unmarshal (in place or into a new record), length,
// the key encodings, the record and key renderings, and reading a record
// from a parsed document.  The field objects encode and render as their
// structured types do (codec/); this file adds the frame around them.
//
// Record encoding: the runtime's 27-byte wire header (the message
// envelope's, written last once the length is known, with the state flag of
// the first field's encoding and the handle's header word), the table's
// 16-byte luid, then each record field's body encoding in record order.
// A key encoding is the key field alone: 31 characters, or a 32-bit value.
//
// Departures made for hostile input or misuse, each refused with a clear
// error and nothing half-built handed out:
// - unmarshal reads only the bytes the header's length field covers (never
//   past it nor past the length given); an envelope whose length field is
//   below the frame (43), or whose fields end before that length, is
//   refused with LOMARI_ERR_INVALID (the runtime's header reader refuses a
//   missing marker and a length past the input);
// - unmarshal into a new record releases it when decoding fails, leaving
//   the out-parameter null; a missing out-parameter is refused with
//   LOMARI_ERR_BAD_ADDRESS;
// - key unmarshal releases the key object when decoding fails;
// - a null record or buffer is refused with LOMARI_ERR_INVALID, a record
//   without its key object (key marshal, 32-bit key print) with
//   LOMARI_ERR_NOT_FOUND; length, print and XML pass over a missing field.
#include "tables/record_io.h"

#include <cstdio>

#include "codec/binary.h"
#include "codec/render.h"
#include "frame/entry.h"
#include "messages/message_frame.h"
#include "qel/rt_text.h"
#include "types/layout.h"
#include "types/lifecycle.h"

namespace lomari {

namespace {

using namespace tp::table;

constexpr uint32_t kHeaderLen = QEL_MSG_WIRE_HEADER_LEN;
constexpr uint32_t kLuidLen = kMsgLuidLen;
constexpr uint32_t kFrameLen = kMsgEnvelopeLen;  // header and luid before the first field
constexpr uint32_t kKeyChars = 31;               // characters of a fixed-string key

inline const char *tname(const TableDef &T) { return T.desc->name; }

inline void *part_of(const TableDef &T, void *record, uint32_t p) { return *field_slot(T, record, p); }

// The primary key inside the record's key object, null when the object is
// missing.
inline uint8_t *key_of(const TableDef &T, void *record) {
    auto *o = static_cast<uint8_t *>(part_of(T, record, T.index[0].part));
    return o ? o + T.index[0].key_off : nullptr;
}

// The name of the primary key field, as the key print shows it.
const char *key_name(const TableDef &T) {
    for (unsigned i = 0; i < T.pkey->nfields; ++i)
        if (T.pkey->fields[i].offset == T.index[0].key_off) return T.pkey->fields[i].name;
    return T.pkey->name;
}

bool str_key(const TableDef &T) { return T.index[0].kind == KeyKind::Str31; }

// "//<type name>" of a record field, the path its parser starts from.
void field_path(const TypeDesc &F, char (&path)[80]) { std::snprintf(path, sizeof path, "//%s", F.name); }

// Releases a record this file built and is not handing out.
void release(const TableDef &T, H *h, uint32_t db, void *record) {
    uint32_t e = 0;
    rec_destroy(T, h, db, record, &e);
}

// The start of both marshals (record and key): an error already present is
// traced and nothing happens; otherwise the last error is cleared and the
// record and buffer must be there.
bool marshal_entry(const TableDef &T, H *h, uint32_t *err, const void *record, const void *buf) {
    if (*err) {
        trace_s(kTrace2, tpt(T, rio_marshal_err), err_text(*err));
        return false;
    }
    qel_clear_last_error(h);
    return present(h, err, record) && present(h, err, buf) && record_typed(T, h, err, record);
}

}  // namespace

// ---- binary ----------------------------------------------------------------------------

uint32_t rio_marshal(const TableDef &T, H *h, uint32_t db, uint8_t *buf, void *record, uint32_t len,
                     uint32_t *err) {
    err = errw(err);
    if (!marshal_entry(T, h, err, record, buf)) return 0;
    if (!qel_domain_lookup_table_ok(h, &h->domain, T.desc->ti, err)) {
        trace_sss(kTrace2, tpt(T, rio_domainfail), tname(T), T.luid_text, h->domain_name);
        qel_store_epoch_err(h, LOMARI_ERR_DOMAIN, err);
        return 0;
    }
    uint32_t off = 0;
    const bool header_room = len >= kHeaderLen;
    if (!header_room) {
        report(h, err, LOMARI_ERR_SHORT);
    } else {
        std::memset(buf, 0, kHeaderLen);
        off = kHeaderLen;
        if (len - off < kLuidLen) {
            report(h, err, LOMARI_ERR_SHORT);
        } else {
            std::memcpy(buf + off, T.desc->ti->luid, kLuidLen);
            off += kLuidLen;
        }
    }
    for (uint32_t p = 0; p < T.nparts && !*err; ++p) {
        const void *o = part_of(T, record, p);
        if (!o) {
            trace0(kTrace2, tpt(T, p ? rio_field_empty2 : rio_field_empty));
            report(h, err, LOMARI_ERR_NOT_FOUND);
            return off;
        }
        off += obj_marshal(*T.parts[p], h, db, buf + off, o, len - off, err, true);
    }
    if (header_room && !*err) {
        qel_msg_header_t hd{};
        hd.marker = QEL_MSG_MARKER;
        std::memset(hd.ff, 0xFF, sizeof hd.ff);
        hd.state_tracking = qellib_type_header_get_state_tracking_flag(buf + kFrameLen, off - kFrameLen);
        hd.header_word = h->header_word;
        hd.length = off;
        _qel_message_header_marshal(h, db, buf, &hd, kHeaderLen, err);
    }
    return off;
}

uint32_t rio_len(const TableDef &T, H *h, uint32_t db, void *record) {
    if (!record || !record_typed(T, h, nullptr, record)) return 0;
    uint32_t n = kFrameLen;
    for (uint32_t p = 0; p < T.nparts; ++p)
        if (const void *o = part_of(T, record, p)) n += obj_len(*T.parts[p], h, db, o);
    return n;
}

namespace {

// An in-place decode stores straight into the object it updates (its
// header, fields and state bytes, the contents of list elements it keeps;
// an array it keeps is rewritten by array_renew, which announces it), and
// the codec announces none of that: a
// record's field objects are table memory, so their bytes are announced
// here first, once for the whole object.
void announce_in_place(const TypeDesc &T, H *h, uint32_t db, void *o) {
    if (!h->write_hook_fn || !o) return;
    announce(h, o, T.plain_size, db, o);
    if (uint8_t *sa = state_area(T, h, o)) announce(h, sa, T.state_size, db, o);
    if (T.list_field >= 0) {
        const TypeDesc &E = list_elem(T);
        Anchor *a = anchor_of(T, o);
        for (void *el = a->first; el && el != a; el = next_of(E, el)) {
            announce(h, el, E.plain_size, db, el);
            if (uint8_t *sa = state_area(E, h, el)) announce(h, sa, E.state_size, db, el);
        }
    }
}

}  // namespace

uint32_t rio_unmarshal(const TableDef &T, H *h, uint32_t db, void **ref, const uint8_t *buf, uint32_t len,
                       uint32_t in_place, uint32_t *err) {
    err = errw(err);
    if (*err) {
        trace_ss(kTrace2, tpt(T, rio_unmarshal_err), tname(T), err_text(*err));
        return 0;
    }
    qel_clear_last_error(h);
    void *r = nullptr;
    if (in_place) {
        r = ref ? *ref : nullptr;
        if (!r) {
            report(h, err, LOMARI_ERR_NOT_FOUND);
            return 0;
        }
        if (!record_typed(T, h, err, r)) return 0;
    } else {
        if (!ref) {
            report(h, err, LOMARI_ERR_BAD_ADDRESS);
            return 0;
        }
        *ref = nullptr;
        r = rec_create(T, h, db, QELDB_SRC_DEFAULT, err);
        if (!r) {
            report(h, err, LOMARI_ERR_NO_MEMORY);
            return 0;
        }
    }
    qel_msg_header_t hd{};
    uint32_t count = _qel_message_header_unmarshal(h, db, buf, &hd, len, err);
    if (!*err && hd.length < kFrameLen) report(h, err, LOMARI_ERR_INVALID);
    if (!*err) count += kLuidLen;  // the luid is stepped over, not compared
    const uint32_t end = hd.length;
    for (uint32_t p = 0; p < T.nparts && !*err; ++p) {
        void **slot = field_slot(T, r, p);
        void *o = *slot;
        if (!in_place) {
            o = obj_create_internal(*T.parts[p], h, db);
            if (o) rf_adopt(T, p, h, db, r, o);
        }
        if (!o) {
            report(h, err, in_place ? LOMARI_ERR_NOT_FOUND : LOMARI_ERR_NO_MEMORY);
            break;
        }
        if (in_place) announce_in_place(*T.parts[p], h, db, o);
        count += obj_unmarshal(*T.parts[p], h, db, buf + count, o, end - count, in_place, err);
    }
    if (in_place) recopy_keys(T, h, db, r);  // the keys of an inserted record may have changed
    if (!*err && count != end) report(h, err, LOMARI_ERR_INVALID);
    if (!in_place) {
        if (*err)
            release(T, h, db, r);
        else
            *ref = r;
    }
    return count;
}

// ---- primary keys ----------------------------------------------------------------------

uint32_t rio_pkey_len(const TableDef &T) { return str_key(T) ? kKeyChars * char_len() : u_int32_len(); }

uint32_t rio_pkey_marshal(const TableDef &T, H *h, uint32_t db, uint8_t *buf, void *record, uint32_t len,
                          uint32_t *err) {
    err = errw(err);
    if (!marshal_entry(T, h, err, record, buf)) return 0;
    const uint8_t *key = key_of(T, record);
    if (!key) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return 0;
    }
    if (rio_pkey_len(T) > len) {
        report(h, err, LOMARI_ERR_SHORT);
        return 0;
    }
    if (!str_key(T)) {
        u_int32 v;
        std::memcpy(&v, key, sizeof v);
        return u_int32_marshal(h, db, buf, &v, len, err);
    }
    uint32_t n = 0;  // the room for every character was checked above
    for (uint32_t k = 0; k < kKeyChars; ++k)
        n += char_marshal(h, db, buf + n, reinterpret_cast<const char *>(key + k), len - n, err);
    return n;
}

uint32_t rio_pkey_unmarshal(const TableDef &T, H *h, uint32_t db, void **out, const uint8_t *buf, uint32_t len,
                            uint32_t *err) {
    err = errw(err);
    if (*err) {
        trace_ss(kTrace2, tpt(T, rio_pkey_unmarshal_err), tname(T), err_text(*err));
        return 0;
    }
    qel_clear_last_error(h);
    if (!out) {
        report(h, err, LOMARI_ERR_BAD_ADDRESS);
        return 0;
    }
    *out = nullptr;
    if (!buf && len) {
        report(h, err, LOMARI_ERR_INVALID);
        return 0;
    }
    vindel_set_callsite_tag(T.tag_base + T.nparts + 1);
    void *o = obj_create(*T.pkey, h, db);
    if (!o) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return 0;
    }
    uint8_t *key = static_cast<uint8_t *>(o) + T.index[0].key_off;
    uint32_t n = 0;
    if (str_key(T)) {
        announce(h, key, kKeyChars, db, o);
        for (uint32_t k = 0; k < kKeyChars; ++k) {  // a character fails only for want of room
            if (len - n < char_len()) {
                report(h, err, LOMARI_ERR_SHORT);
                break;
            }
            n += char_unmarshal(h, db, buf + n, reinterpret_cast<char *>(key + k), len - n, 0, err);
        }
    } else {
        announce(h, key, sizeof(u_int32), db, o);
        u_int32 v = 0;
        n = u_int32_unmarshal(h, db, buf, &v, len, 0, err);
        if (!*err) std::memcpy(key, &v, sizeof v);
    }
    if (*err) {
        obj_destroy(*T.pkey, h, db, o, 1);
        return n;
    }
    *out = o;
    return n;
}

uint32_t rio_pkey_print(const TableDef &T, H *h, uint32_t db, void *table, void *record, char *buf, uint32_t len,
                        uint32_t *err) {
    err = errw(err);
    if (!h || !table || !record) {
        *err = LOMARI_ERR_INVALID;
        if (h) qel_store_err(h, LOMARI_ERR_INVALID);
        return 0;
    }
    if (!begin(h, err) || !present(h, err, buf) || !record_typed(T, h, err, record)) return 0;
    if (rio_pkey_len(T) > len) {
        report(h, err, LOMARI_ERR_SHORT);
        return 0;
    }
    // A fixed-string key is shown as a placeholder, whatever it holds.
    if (str_key(T)) return qel_snprintf(h, buf, len, err, "Arr");
    const uint8_t *key = key_of(T, record);
    if (!key) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return 0;
    }
    u_int32 v;
    std::memcpy(&v, key, sizeof v);
    return u_int32_print(h, db, buf, 0, key_name(T), &v, len, err);
}

// ---- text and XML ------------------------------------------------------------------------

uint32_t rio_print(const TableDef &T, H *h, uint32_t db, char *buf, void *record, uint32_t len, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err) || !present(h, err, record) || !present(h, err, buf) || !record_typed(T, h, err, record))
        return 0;
    uint32_t n = qel_snprintf(h, buf, len, err, "record@%s: {\n", tname(T));
    for (uint32_t p = 0; p < T.nparts && !*err; ++p) {
        const void *o = part_of(T, record, p);
        if (!o) continue;
        if (len - n < obj_len(*T.parts[p], h, db, o)) {
            report(h, err, LOMARI_ERR_SHORT);
            break;
        }
        n += obj_print(*T.parts[p], h, db, buf + n, 2, T.parts[p]->name, o, len - n, err);
    }
    n += qel_snprintf(h, buf + n, len - n, err, "}\n");
    return n;
}

uint32_t rio_to_xml(const TableDef &T, H *h, uint32_t db, char *buf, void *record, uint32_t len, uint32_t *err) {
    err = errw(err);
    if (!begin(h, err) || !present(h, err, record) || !present(h, err, buf) || !record_typed(T, h, err, record))
        return 0;
    uint32_t n = start_tag(h, db, buf, tname(T), len, 0, err);
    for (uint32_t p = 0; p < T.nparts && !*err; ++p)
        if (const void *o = part_of(T, record, p))
            n += obj_to_xml(*T.parts[p], h, db, T.parts[p]->name, buf + n, o, len - n, 0, err);
    n += end_tag(h, db, buf + n, tname(T), len - n, err);
    return n;
}

// A new record whose fields are read from the elements "//<field type>".
// An absent element is no error: its field keeps its initial values, and
// the error stays set while the following fields are read (they are then
// left as created).  Any other error releases the record and gives null.
void *rio_from_xml(const TableDef &T, H *h, uint32_t db, qel_xml_doc_t *doc, uint32_t *err, char *msg,
                   uint32_t msg_len) {
    err = errw(err);
    if (!begin(h, err)) return nullptr;
    const uint32_t held = h->err;  // an absent element leaves no stored error behind
    void *r = rec_create(T, h, db, QELDB_SRC_DEFAULT, err);
    if (!r) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return nullptr;
    }
    for (uint32_t p = 0; p < T.nparts; ++p) {
        void *o = obj_create_internal(*T.parts[p], h, db);
        if (!o) {
            report(h, err, LOMARI_ERR_NO_MEMORY);
            release(T, h, db, r);
            return nullptr;
        }
        rf_adopt(T, p, h, db, r, o);
        char path[80];
        field_path(*T.parts[p], path);
        obj_from_xml(*T.parts[p], h, db, path, doc, o, err, msg, msg_len);
        if (*err && *err != LOMARI_ERR_NOT_FOUND) {
            release(T, h, db, r);
            return nullptr;
        }
    }
    if (*err == LOMARI_ERR_NOT_FOUND) *err = 0;
    if (h->err == LOMARI_ERR_NOT_FOUND) h->err = held;  // (when err is &h->err it was cleared above)
    return r;
}

}  // namespace lomari
