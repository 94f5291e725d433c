// xml.cpp -- XML rendering and parsing of every enumeration and structured
// type.
//
// Owns the enumerator tag table, enum_to_xml, obj_to_xml, enum_from_xml and
// obj_from_xml: one walker over the field descriptors each way.  Elements
// are named by the caller; scalars, strings and tags are written and read
// by the runtime (qel/rt_text.h), which also evaluates the paths built
// here: "<path>/<field>", "<path>/<list>[i]", "<path>/pairs[i]" and
// "<path>/<ENUMERATOR>".
//
// Enumerations render as one empty child element named after the
// enumerator.  A value outside the enumerators renders as the type's
// out-of-range tag "<spi4_priority value out of range/>" exactly as the
// interface defines it, which is not well-formed XML: a document holding
// one is refused by the runtime's strict parse (22, with the line) and is
// read with QEL_XML_RECOVER as an element that holds no known enumerator,
// so the value is left as it was.  Every rendering of in-range values is
// well-formed and parses back to an equal object.
//
// A field read from the document counts as written: on a tracking handle
// its state byte becomes 2, as through its setter, so that a tracked
// object renders the same after a round trip.
//
// Departures, on purpose:
// - a path that would not fit the 256-character path buffer is refused
//   with 22 instead of being looked up truncated;
// - an absent enumerator (2) is not stored in the handle, because absence
//   is the normal answer for all but one enumerator;
// - a counted array's elements are all read before any is stored, and the
//   last is stored first, instead of each being stored as it is read: the
//   element setter grows the block to exactly the index set, so storing in
//   ascending order would move every element at each new index, and a
//   sender could make reading one document cost the square of its length.
//   What ends in the object is the same (every element read before the
//   first absent or refused one); a fresh array no longer leaves the
//   once-per-process "Reallocating" trace, and when the one growth fails
//   no element is stored.
#include <cstdio>
#include <cstring>

#include "codec/render.h"
#include "lomari/lomari_errors.h"
#include "frame/entry.h"
#include "types/arrays.h"
#include "types/lifecycle.h"
#include "types/lists.h"
#include "types/layout.h"

namespace lomari {

namespace {

inline constexpr size_t kPathMax = 256;
inline constexpr size_t kValueMax = 128;
inline constexpr size_t kTagMax = 64;
// Values of the largest enumeration.
inline constexpr unsigned kMaxValues = kMaxEnumBound;

// "<NAME/>" per value and the out-of-range tag, per enumeration.
struct TagTable {
    char tag[kEnumCount][kMaxValues + 1][kTagMax];
    uint32_t tag_len[kEnumCount][kMaxValues + 1];
    TagTable() {
        for (const EnumDesc &E : kEnums) {
            for (uint32_t v = 0; v <= E.bound; ++v) {
                int n = v < E.bound
                            ? std::snprintf(tag[E.ordinal][v], kTagMax, "<%s/>", E.names[v])
                            : std::snprintf(tag[E.ordinal][v], kTagMax, "<%s value out of range/>", E.name);
                tag_len[E.ordinal][v] = static_cast<uint32_t>(n);
            }
        }
    }
};
const TagTable &tags() {
    static const TagTable t;
    return t;
}

// A state byte as rendering hands it over: 0 outside tracking mode or
// where the object has no state area.
uint8_t state_byte(const TypeDesc &T, H *h, const void *o, const FieldDesc &f, bool track) {
    if (!track || f.state_idx == kNoState) return 0;
    const uint8_t *sa = state_area(T, h, o);
    return sa ? sa[f.state_idx] : 0;
}
// Per-element state byte of a counted array.
uint8_t elem_state_byte(const TypeDesc &T, H *h, const void *o, uint32_t idx, bool track) {
    if (!track) return 0;
    const uint8_t *sa = state_area(T, h, o);
    const uint8_t *per = sa ? per_elem_get(sa) : nullptr;
    return per ? per[idx] : 0;
}

// Builds "<base>/<name>", or "<base>/<name>[<pos>]" when pos is not 0,
// into p, as "%s/%s[%u]" would (paths are built once per element read, so
// without the formatting machinery); false (22 reported) when it does not
// fit.
bool build_path(H *h, uint32_t *err, char (&p)[kPathMax], const char *base, const char *name,
                uint32_t pos = 0) {
    const size_t nb = std::strlen(base), nn = std::strlen(name);
    char digits[10];
    size_t nd = 0;
    for (uint32_t v = pos; v; v /= 10) digits[nd++] = static_cast<char>('0' + v % 10);
    if (nb + 1 + nn + (pos ? nd + 2 : 0) >= kPathMax) {
        report(h, err, LOMARI_ERR_INVALID);
        return false;
    }
    char *w = p;
    std::memcpy(w, base, nb);
    w += nb;
    *w++ = '/';
    std::memcpy(w, name, nn);
    w += nn;
    if (pos) {
        *w++ = '[';
        while (nd) *w++ = digits[--nd];
        *w++ = ']';
    }
    *w = '\0';
    return true;
}

// Clears an absent element's 2; true when the walk goes on.
inline bool absent_ok(uint32_t *err) {
    if (*err == LOMARI_ERR_NOT_FOUND) *err = 0;
    return *err == 0;
}

// Spare elements read ahead of storing them, in a block of pointers from
// the handle's allocator that doubles as it fills; whatever is still held
// is destroyed with it.
class Spares {
public:
    Spares(const TypeDesc &elem, H *h, uint32_t db) : elem_(elem), h_(h), db_(db) {}
    Spares(const Spares &) = delete;
    Spares &operator=(const Spares &) = delete;
    ~Spares() {
        for (uint32_t i = 0; i < n_; ++i)
            if (at_[i]) obj_destroy(elem_, h_, db_, at_[i], 1);
        if (at_) h_->free_fn(h_->alloc_ctx, db_, at_);
    }
    // False (nothing taken) when the block cannot grow.
    bool push(void *spare) {
        if (n_ == cap_) {
            const uint32_t cap = cap_ ? 2 * cap_ : 64;
            if (cap > (1u << 28)) return false;  // the byte count must fit 32 bits
            auto **b = static_cast<void **>(h_->alloc_fn(h_->alloc_ctx, db_, cap * uint32_t{sizeof(void *)}));
            if (!b) return false;
            if (n_) std::memcpy(b, at_, n_ * sizeof(void *));
            if (at_) h_->free_fn(h_->alloc_ctx, db_, at_);
            at_ = b;
            cap_ = cap;
        }
        at_[n_++] = spare;
        return true;
    }
    uint32_t size() const { return n_; }
    // The i-th spare, handed over: the caller destroys it.
    void *take(uint32_t i) {
        void *p = at_[i];
        at_[i] = nullptr;
        return p;
    }

private:
    const TypeDesc &elem_;
    H *h_;
    uint32_t db_;
    void **at_ = nullptr;
    uint32_t n_ = 0, cap_ = 0;
};

}  // namespace

const char *enum_xml_tag(const EnumDesc &E, uint32_t value, uint32_t *tag_len) {
    const uint32_t v = value < E.bound ? value : E.bound;
    *tag_len = tags().tag_len[E.ordinal][v];
    return tags().tag[E.ordinal][v];
}

uint32_t enum_to_xml(const EnumDesc &E, H *h, uint32_t db, const char *name, char *buf,
                     const void *o, uint32_t len, uint32_t *err) {
    if (!begin(h, err) || !present(h, err, o) || !present(h, err, name)) return 0;
    Cursor c{buf, len};
    uint32_t tag_len = 0;
    const char *tag = enum_xml_tag(E, *at<uint32_t>(o, kEnumValueOff), &tag_len);
    c += start_tag(h, db, c.at(), name, c.room(), 0, err);
    c += xml_enum_print(h, db, c.at(), tag, tag_len, c.room(), err);
    c += end_tag(h, db, c.at(), name, c.room(), err);
    return c.n;
}

uint32_t obj_to_xml(const TypeDesc &T, H *h, uint32_t db, const char *name, char *buf,
                    const void *o, uint32_t len, uint8_t state, uint32_t *err) {
    if (!begin(h, err) || !present(h, err, name)) return 0;
    const int variant = qel_inline_get_instance_variant(h, o, 0, 0);
    const bool track = handle_mode(h, T) == Mode::Track;
    Cursor c{buf, len};
    c += start_tag(h, db, c.at(), name, c.room(), state, err);
    for (unsigned i = 0; o && variant >= 0 && i < T.nfields && !*err; ++i) {
        const FieldDesc &f = T.fields[i];
        const void *p = at<uint8_t>(o, f.offset);
        const uint8_t st = state_byte(T, h, o, f, track);
        switch (f.kind) {
        case Kind::U8:
            c += u_int8_to_xml(h, db, c.at(), f.name, static_cast<const u_int8 *>(p), c.room(), st, err);
            break;
        case Kind::U16:
            c += u_int16_to_xml(h, db, c.at(), f.name, static_cast<const u_int16 *>(p), c.room(), st, err);
            break;
        case Kind::U32:
        case Kind::PairCount:
            c += u_int32_to_xml(h, db, c.at(), f.name, static_cast<const u_int32 *>(p), c.room(),
                                f.kind == Kind::PairCount ? 0 : st, err);
            break;
        case Kind::Str:
            c += null_string_to_xml(h, db, c.at(), f.name, static_cast<const char *>(p), kStrBound,
                                    c.room(), st, err);
            break;
        case Kind::Enum:
            c += enum_to_xml(*f.en, h, db, f.name, c.at(), p, c.room(), err);
            break;
        case Kind::List: {
            auto *a = static_cast<const Anchor *>(p);
            for (void *el = a->first; el && el != a && !*err; el = links_of(*f.elem, el)->next)
                c += obj_to_xml(*f.elem, h, db, f.name, c.at(), el, c.room(), st, err);
            break;
        }
        case Kind::Array: {
            const uint32_t count = *count_of(T, o);
            const uint8_t *blk = *block_of(T, o);
            for (uint32_t k = 0; blk && k < count && !*err; ++k)
                c += obj_to_xml(*f.elem, h, db, f.name, c.at(), elem_at(*f.elem, blk, k),
                                c.room(), elem_state_byte(T, h, o, k, track), err);
            break;
        }
        }
    }
    c += end_tag(h, db, c.at(), name, c.room(), err);
    return c.n;
}

namespace {

// The enumeration parser; true when an enumerator was found and stored.
bool enum_parse(const EnumDesc &E, H *h, uint32_t db, const char *path, qel_xml_doc_t *doc,
                void *o, uint32_t *err, char *msg, uint32_t msg_len) {
    if (!begin(h, err) || !present(h, err, o) || !present(h, err, path)) return false;
    char p[kPathMax], value[kValueMax];
    for (uint32_t v = 0; v < E.bound; ++v) {
        if (!build_path(h, err, p, path, E.names[v])) return false;
        const uint32_t rc = xml_get_element_value(h, doc, p, value, sizeof value, err);
        if (rc == 0) {
            store(h, db, o, at<uint32_t>(o, kEnumValueOff), v);
            return true;
        }
        if (rc == LOMARI_ERR_NOT_FOUND) {
            *err = 0;
            continue;
        }
        *err = rc;
        qel_store_err(h, rc);
        if (msg && msg_len) std::snprintf(msg, msg_len, "Failed xpath: %s", path);
        return false;
    }
    return false;
}

// Parses one list or array element at "<path>/<name>[i]" into a spare
// element; the caller keeps or destroys the spare.  2 ends the repetition.
void *parse_spare(const TypeDesc &Elem, H *h, uint32_t db, const char *path, const char *name,
                  uint32_t i, qel_xml_doc_t *doc, uint32_t *err, char *msg, uint32_t msg_len) {
    char p[kPathMax];
    if (!build_path(h, err, p, path, name, i)) return nullptr;
    void *spare = obj_create_internal(Elem, h, db);
    if (!spare) {
        report(h, err, LOMARI_ERR_NO_MEMORY);
        return nullptr;
    }
    obj_from_xml(Elem, h, db, p, doc, spare, err, msg, msg_len);
    return spare;
}

}  // namespace

void enum_from_xml(const EnumDesc &E, H *h, uint32_t db, const char *path, qel_xml_doc_t *doc,
                   void *o, uint32_t *err, char *msg, uint32_t msg_len) {
    enum_parse(E, h, db, path, doc, o, err, msg, msg_len);
}

void obj_from_xml(const TypeDesc &T, H *h, uint32_t db, const char *path, qel_xml_doc_t *doc,
                  void *o, uint32_t *err, char *msg, uint32_t msg_len) {
    if (!begin(h, err) || !present(h, err, o) || !present(h, err, path)) return;
    // An element that cannot be counted (a path or document the reader
    // refuses) reads as absent, like one that is not there: NOT_FOUND,
    // stored in the handle too.
    uint32_t count = 0;
    if (xml_get_element_nodecount(h, doc, path, &count, err) || count == 0) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return;
    }
    // A field read from the document counts as written, as through its setter.
    uint8_t *sa = handle_mode(h, T) == Mode::Track ? state_area(T, h, o) : nullptr;
    char p[kPathMax];
    for (unsigned i = 0; i < T.nfields; ++i) {
        const FieldDesc &f = T.fields[i];
        void *fp = at<uint8_t>(o, f.offset);
        bool found = false;
        switch (f.kind) {
        case Kind::PairCount:  // follows from the elements found
            continue;
        case Kind::U8:
        case Kind::U16:
        case Kind::U32:
        case Kind::Str:
        case Kind::Enum:
            if (!build_path(h, err, p, path, f.name)) return;
            if (f.kind == Kind::U8)
                found = !u_int8_from_xml(h, db, p, doc, static_cast<u_int8 *>(fp), err, msg, msg_len);
            else if (f.kind == Kind::U16)
                found = !u_int16_from_xml(h, db, p, doc, static_cast<u_int16 *>(fp), err, msg, msg_len);
            else if (f.kind == Kind::U32)
                found = !u_int32_from_xml(h, db, p, doc, static_cast<u_int32 *>(fp), err, msg, msg_len);
            else if (f.kind == Kind::Str)
                found = !null_string_from_xml(h, db, p, doc, static_cast<char *>(fp), kStrBound, err,
                                              msg, msg_len);
            else
                found = enum_parse(*f.en, h, db, p, doc, fp, err, msg, msg_len);
            if (!absent_ok(err)) return;
            if (found && sa && f.state_idx != kNoState) store<uint8_t>(h, db, o, sa + f.state_idx, 2);
            break;
        case Kind::List:
            for (uint32_t k = 1;; ++k) {
                void *spare = parse_spare(*f.elem, h, db, path, f.name, k, doc, err, msg, msg_len);
                if (!spare) return;
                if (*err == 0) list_insert(T, ListPos::Last, h, db, o, nullptr, spare, err);
                if (*err == 0) continue;
                obj_destroy(*f.elem, h, db, spare, 1);
                if (absent_ok(err)) break;
                return;
            }
            break;
        case Kind::Array: {
            Spares spares(*f.elem, h, db);
            for (uint32_t k = 1;; ++k) {
                void *spare = parse_spare(*f.elem, h, db, path, f.name, k, doc, err, msg, msg_len);
                if (!spare) break;
                if (*err == 0 && spares.push(spare)) continue;
                obj_destroy(*f.elem, h, db, spare, 1);
                if (*err == 0) report(h, err, LOMARI_ERR_NO_MEMORY);
                break;
            }
            // What ended the reading: 2 when the array is complete.
            const uint32_t stop = *err;
            *err = 0;
            const uint32_t n = spares.size();
            for (uint32_t i = 0; i < n && *err == 0; ++i) {
                const uint32_t idx = i == 0 ? n - 1 : i - 1;
                void *spare = spares.take(idx);
                array_set(T, h, db, o, idx, spare, 1, err);
                obj_destroy(*f.elem, h, db, spare, 1);
            }
            if (*err) return;
            // The handle ends holding that answer, as when each element is
            // stored as soon as it is read.
            if (n) qel_store_err(h, stop);
            *err = stop;
            if (absent_ok(err)) break;
            return;
        }
        }
    }
}

}  // namespace lomari
