// record_access.cpp -- record events and record field access, written once
// over the table descriptors.
//
// Record events: the runtime's database calls <table>_table_record_<event>_cb;
// each forwards its arguments unchanged to the application's handler for
// that table and event when the application defines one (a weak reference
// in the table's descriptor), and otherwise leaves the event's default
// trace.  The two DM events fall back to the application's create and
// delete handlers.
//
// Field access: reading, detaching and replacing the field objects of a
// record, with the runtime's containment reports and every store into the
// record announced first; an inserted record's index nodes get the key
// copies of the objects it then holds (tables/table.h).  An object placed into a record, or made by the
// record for itself, is marked embedded; one that is nested in another
// object or already embedded is refused, so that no object is owned twice.
// The runtime's flag check also refuses a null object (its answer is
// stored and traced, the field keeps what it held): a field is emptied by
// get_field_detach.  Records and objects of another type are refused with
// 22 in the handle.
#include "tables/record_io.h"

#include "frame/entry.h"
#include "qel/rt_msg.h"
#include "types/lifecycle.h"
#include "types/object_queries.h"

namespace lomari {

namespace {

using namespace tp::table;

inline uint32_t event_point(const TableDef &T, RecEvent ev) { return tpt(T, cb_create) + uint32_t(ev); }
static_assert(cb_modify == cb_create + uint32_t(RecEvent::Modify) &&
              cb_delete_dm == cb_create + uint32_t(RecEvent::DeleteDm) &&
              cb_free == cb_create + uint32_t(RecEvent::Free));

// The start of every callback: nothing with an error present, else the
// runtime's last error is cleared.
inline bool cb_begin(H *h, uint32_t *err) {
    if (*err) return false;
    qel_clear_last_error(h);
    return true;
}

// No handler for the event: the error word is cleared and the default
// trace left.
inline void no_handler(const TableDef &T, RecEvent ev, uint32_t *err) {
    *err = 0;
    trace0(kTrace2, event_point(T, ev));
}

inline const RecordHandlers &app(const TableDef &T) { return T.desc->handlers; }

}  // namespace

// ---- record events ------------------------------------------------------------------------

void rcb_pair(const TableDef &T, RecEvent ev, H *h, uint32_t db, void *a, void *b, uint32_t *err) {
    err = errw(err);
    if (!cb_begin(h, err)) return;
    if (RecPairFn fn = app(T).pair[uint32_t(ev)])
        fn(h, db, a, b, err);
    else
        no_handler(T, ev, err);
}

// A DM event without its own handler goes to the plain handler of its kind
// (create or delete) as the pair (null, word).
void rcb_dm(const TableDef &T, RecEvent ev, H *h, uint32_t db, void *word, uint32_t *err) {
    err = errw(err);
    if (!cb_begin(h, err)) return;
    const uint32_t k = uint32_t(ev) - uint32_t(RecEvent::CreateDm);
    if (RecDmFn fn = app(T).dm[k]) {
        fn(h, db, word, err);
        return;
    }
    no_handler(T, ev, err);
    qel_clear_last_error(h);
    const RecEvent plain = ev == RecEvent::CreateDm ? RecEvent::Create : RecEvent::Delete;
    if (RecPairFn fn = app(T).pair[uint32_t(plain)])
        fn(h, db, nullptr, word, err);
    else
        no_handler(T, plain, err);
}

// Without a handler, grouping answers the value it was given.
uint32_t rcb_grouping(const TableDef &T, H *h, uint32_t db, void *a, uint32_t *err, void *b, void *c,
                      uint32_t value, void *d) {
    err = errw(err);
    if (!cb_begin(h, err)) return value;
    if (RecGroupingFn fn = app(T).grouping) return fn(h, db, a, err, b, c, value, d);
    no_handler(T, RecEvent::Grouping, err);
    return value;
}

void rcb_free(const TableDef &T, H *h, uint32_t db, void *a, uint32_t value, uint32_t *err, void *d) {
    err = errw(err);
    if (!cb_begin(h, err)) return;
    if (RecFreeFn fn = app(T).free)
        fn(h, db, a, value, err, d);
    else
        no_handler(T, RecEvent::Free, err);
}

// ---- field access ---------------------------------------------------------------------------

void *rf_get(const TableDef &T, uint32_t part, H *h, uint32_t db, void *record) {
    if (!record || !record_typed(T, h, nullptr, record)) return nullptr;
    void *o = *field_slot(T, record, part);
    if (h->containment_tracking) qeldb_record_containment(h, db, 4, o, record, 1);
    return o;
}

// The caller owns the object handed out; the record no longer refers to it.
void *rf_get_detach(const TableDef &T, uint32_t part, H *h, uint32_t db, void *record) {
    if (!record || !record_typed(T, h, nullptr, record)) return nullptr;
    void **slot = field_slot(T, record, part);
    void *o = *slot;
    if (h->containment_tracking) {
        qeldb_record_containment(h, db, 4, o, nullptr, 1);
        if (plat_reports(h, db)) qeldb_plat_set_detach(h, db, o, 0);
    }
    store<void *>(h, db, record, slot, nullptr);
    recopy_keys(T, h, db, record);
    return o;
}

// set_field (free_old false) leaves the object it replaces to its owner;
// free_and_set_field destroys it first (unless it is the object being set).
void rf_set(const TableDef &T, uint32_t part, H *h, uint32_t db, void *record, void *obj, bool free_old) {
    if (!record) {
        qel_store_err(h, LOMARI_ERR_INVALID);
        return;
    }
    if (!record_typed(T, h, nullptr, record)) return;
    const TypeDesc &F = *T.parts[part];
    void **slot = field_slot(T, record, part);
    if (const uint32_t refused = qellib_validate_object_flags(obj, 1, 1)) {
        trace0(kTrace2, tpt(T, free_old ? free_set_field_refused : set_field_refused));
        qel_store_err(h, refused);
        return;
    }
    if (!typed(h, nullptr, obj, F.ti)) return;
    if (free_old) {
        if (*slot && *slot != obj) obj_destroy(F, h, db, *slot, 1);
        store<void *>(h, db, record, slot, obj);
        if (h->containment_tracking) qeldb_record_containment(h, db, 4, obj, record, 1);
    } else {
        if (h->containment_tracking) qeldb_record_containment(h, db, 4, obj, record, 1);
        store<void *>(h, db, record, slot, obj);
    }
    recopy_keys(T, h, db, record);
    set_instance_embedded(F, h, db, obj);
}

// Marked embedded like an object set into the record, so that it cannot be
// set into a second record as well.  The null object a failed chain hands
// out, and the null a refused creation gives, are stored as they are.
void rf_adopt(const TableDef &T, uint32_t part, H *h, uint32_t db, void *record, void *obj) {
    store<void *>(h, db, record, field_slot(T, record, part), obj);
    recopy_keys(T, h, db, record);
    if (h->containment_tracking) qeldb_record_containment(h, db, 4, obj, record, 1);
    if (obj && obj != T.parts[part]->null_obj) set_instance_embedded(*T.parts[part], h, db, obj);
}

}  // namespace lomari
