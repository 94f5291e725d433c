// frame.h -- the frame every operation runs in.
//
// Owns the shared pieces each family builds on: the object header view,
// the handle's mode word, the two error conventions, write announcements,
// created/destroyed counting, and trace-point emission.  Everything here is
// inline and small: these run on every call.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <cstdlib>

#include "lomari/lomari_errors.h"
#include "qel/rt_inline.h"
#include "qel/runtime.h"
#include "types/schema.h"
#include "trace_points.h"

extern "C" {
extern uint16_t g_qel_lomari_trace_module_id;
}

namespace lomari {

using H = qel_handle_t;

// ---- object header ------------------------------------------------------

struct ObjHdr {
    qel_type_info_t *tinfo;
    int8_t variant;
    uint8_t variant_cap;   // second header byte
    uint8_t flags;
};
static_assert(offsetof(ObjHdr, variant) == 8 && offsetof(ObjHdr, flags) == 10);

inline ObjHdr *hdr(void *o) { return static_cast<ObjHdr *>(o); }
inline const ObjHdr *hdr(const void *o) { return static_cast<const ObjHdr *>(o); }

template <class T = uint8_t>
inline T *at(void *o, uint32_t off) {
    return reinterpret_cast<T *>(static_cast<uint8_t *>(o) + off);
}
template <class T = uint8_t>
inline const T *at(const void *o, uint32_t off) {
    return reinterpret_cast<const T *>(static_cast<const uint8_t *>(o) + off);
}

// The state byte an operation leaves on a field it wrote.
inline constexpr uint8_t kStateWritten = 2;

// Enumeration instance: header then the 32-bit value at 12.
inline constexpr uint32_t kEnumValueOff = 12;
inline constexpr uint32_t kEnumSize = 16;

// ---- trace points --------------------------------------------------------

// Emits point idx of a table; the level comes from the table's level list.
void trace0(const qel_trace_table_t &t, uint32_t idx);
void trace_s(const qel_trace_table_t &t, uint32_t idx, const char *a);
void trace_ss(const qel_trace_table_t &t, uint32_t idx, const char *a, const char *b);
void trace_sss(const qel_trace_table_t &t, uint32_t idx, const char *a, const char *b,
               const char *c);
void trace_u(const qel_trace_table_t &t, uint32_t idx, uint32_t a);
void trace_uu(const qel_trace_table_t &t, uint32_t idx, uint32_t a, uint32_t b);
void trace_uuu(const qel_trace_table_t &t, uint32_t idx, uint32_t a, uint32_t b, uint32_t c);
void trace_su(const qel_trace_table_t &t, uint32_t idx, const char *a, uint32_t b);
// Emits a fatal point and ends the process.
[[noreturn]] void fatal(const qel_trace_table_t &t, uint32_t idx);

// Trace helpers bound to a type's or enumeration's block in table 1.
inline uint32_t tpi(const TypeDesc &T, tp::type::Point p) { return T.trace_base + p; }
inline uint32_t tpi(const EnumDesc &E, tp::enm::Point p) { return E.trace_base + p; }
inline uint32_t tpi(const MessageDesc &M, tp::msg::Point p) { return M.trace_base + p; }

// Registers the trace module "qel_lomari" once.
void ensure_trace_module();
// The trace module id as the runtime last stored it (0: not registered
// yet).  The runtime writes it and every trace point reads it, from any
// thread: both sides access it atomically.
inline uint16_t trace_module_id() {
    return std::atomic_ref<uint16_t>(g_qel_lomari_trace_module_id).load(std::memory_order_relaxed);
}

// System text of an error number.
const char *err_text(uint32_t code);

// ---- handle mode ---------------------------------------------------------

enum class Mode : uint8_t { Plain, Track };

// Plain for a null check record or 0xDDDD, Track for 0xEEEE; any other
// word is a corrupted handle: the given fatal point, then abort.
inline Mode handle_mode(const qel_handle_t *h, const qel_trace_table_t &t, uint32_t fatal_idx) {
    const qel_check_record_t *c = h->check_record;
    if (!c || c->check_state == QEL_CHECK_PLAIN) return Mode::Plain;
    if (c->check_state == QEL_CHECK_TRACK) return Mode::Track;
    fatal(t, fatal_idx);
}
inline Mode handle_mode(const qel_handle_t *h, const TypeDesc &T) {
    return handle_mode(h, kTrace1, tpi(T, tp::type::corrupted));
}

// ---- error conventions -----------------------------------------------------

// Reports a code (a LOMARI_ERR_* name, or a code the runtime gave): sets
// the caller's word and stores it in the handle.
inline void report(qel_handle_t *h, uint32_t *err, uint32_t code) {
    if (err) *err = code;
    qel_store_err(h, code);
}

// ---- new objects -----------------------------------------------------------

// Zero-filled storage for a new object.  A chain that already failed gets
// the null object and allocates nothing; a failed allocation gives null in
// the plain form, and in the chained form (no error there yet) the null
// object with NO_MEMORY stored.
inline void *new_storage(qel_handle_t *h, uint32_t db, uint32_t size, void *null_obj) {
    if (h->chained_error && h->err) return null_obj;
    void *o = h->alloc_fn(h->alloc_ctx, db, size);
    if (!o) {
        if (!h->chained_error) return nullptr;
        qel_store_err(h, LOMARI_ERR_NO_MEMORY);
        return null_obj;
    }
    std::memset(o, 0, size);
    return o;
}

// Runs a creation in the chained-error form: failures go to the handle's
// stored error and yield the null object.
template <class F>
inline void *chained(qel_handle_t *h, F &&create) {
    h->chained_error = 1;
    void *o = create();
    h->chained_error = 0;
    return o;
}

// ---- write announcements -----------------------------------------------------

inline void announce(qel_handle_t *h, void *addr, uint32_t len, uint32_t db, void *owner) {
    if (h->write_hook_fn) h->write_hook_fn(h, addr, len, db, owner);
}

// Announce-then-store of one value inside an object.
template <class V>
inline void store(qel_handle_t *h, uint32_t db, void *owner, V *addr, V value) {
    announce(h, addr, sizeof(V), db, owner);
    *addr = value;
}

// ---- object header writes --------------------------------------------------

// Writes the header of a zeroed instance: second byte 0, the variant, the
// type-info reference at *tip, or_flags into the flags.  With notify each
// write is announced first.
inline void write_header(qel_handle_t *h, uint32_t db, void *inst, qel_type_info_t **tip, int8_t variant,
                         qel_type_info_t *ti, uint8_t or_flags, bool notify) {
    ObjHdr *o = hdr(inst);
    const uint8_t flags = static_cast<uint8_t>(o->flags | or_flags);
    if (notify) {
        store(h, db, inst, &o->variant_cap, uint8_t{0});
        store(h, db, inst, &o->variant, variant);
        store(h, db, inst, tip, ti);
        store(h, db, inst, &o->flags, flags);
    } else {
        o->variant_cap = 0;
        o->variant = variant;
        *tip = ti;
        o->flags = flags;
    }
}

// ---- type-info and counting ------------------------------------------------------

// The type-info reference a new object takes: the handle's registered copy
// when per_handle_types is set, else the static record.  The lookup is out
// of line; the common answer costs one test.
qel_type_info_t *registered_tinfo(qel_handle_t *h, uint32_t db, qel_type_info_t *static_ti);
inline qel_type_info_t *object_tinfo(qel_handle_t *h, uint32_t db, qel_type_info_t *static_ti) {
    if (!h->per_handle_types) return static_ti;
    return registered_tinfo(h, db, static_ti);
}

// Counts one creation (created=true) or destruction in the variant record of
// the object's variant, as messages and enumerations do themselves:
// missing variant info is fatal at varinfo_idx, a short variant count is
// traced at count_idx, stats_inc_fn is told, then the add is atomic for
// counter mode 0 and plain otherwise.
void count_object(qel_handle_t *h, uint32_t db, const qel_type_info_t *ti, int8_t variant,
                  bool created, const qel_trace_table_t &t, uint32_t varinfo_idx,
                  uint32_t count_idx);

// The variant record an object's variant selects (entry 0 for variants >= 0).
inline qel_variant_record_t *variant_record(const qel_type_info_t *ti, int8_t variant) {
    return &ti->varinfo->variants[variant < 0 ? 0 : variant];
}

// True when the type-info reference is present and carries the magic.
inline bool tinfo_ok(const qel_type_info_t *ti) { return ti && ti->magic == QEL_TINFO_MAGIC; }

// Containment reports.
inline void contain(qel_handle_t *h, uint32_t db, const void *obj, const void *parent) {
    if (h->containment_tracking) qeldb_record_containment2(h, db, obj, parent);
}
inline bool plat_reports(const qel_handle_t *h, uint32_t db) {
    return h->containment_tracking && db != QEL_NO_DATABASE && h->per_handle_types == 1;
}

// A link word write registered with the key/range store first (when the
// handle has one); a refused registration is fatal at the type's quarl point.
// Without a store nothing is registered, decided inline.
void link_register_with(const TypeDesc &T, qel_handle_t *h, uint32_t db, void *word, const void *dirty_obj);
inline void link_register(const TypeDesc &T, qel_handle_t *h, uint32_t db, void *word, const void *dirty_obj) {
    if (h->alloc_ctx) link_register_with(T, h, db, word, dirty_obj);
}
template <class V>
inline void link_store(const TypeDesc &T, qel_handle_t *h, uint32_t db, V *word, V value,
                       const void *dirty_obj) {
    link_register(T, h, db, word, dirty_obj);
    *word = value;
}

}  // namespace lomari
