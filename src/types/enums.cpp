// enums.cpp -- the enumeration family, written once over EnumDesc.
//
// Owns creation (free-standing, counted), initialization of embedded
// instances (not counted), destruction, get/set of the value with its range
// check against the domain's variant, and the domain-variant validity
// query.  An instance is the 8-byte type-info reference, the variant
// byte, the second header byte, the flags byte and the 32-bit value; it
// never has a state area.  The codecs, renderings, compare and hash of
// enumerations live with their own families.
#include <cstring>

#include "types/enums.h"

#include "frame/entry.h"

namespace lomari {

namespace {

inline uint32_t &value_of(void *inst) { return *at<uint32_t>(inst, kEnumValueOff); }
inline uint32_t value_of(const void *inst) { return *at<uint32_t>(inst, kEnumValueOff); }

// Variant byte for an instance: the domain's when it is negative, else 0.
inline int8_t instance_variant(int domain_variant) {
    return domain_variant < 0 ? static_cast<int8_t>(domain_variant) : int8_t{0};
}

}  // namespace

// The worker behind create, create_cr and create_internal.
void *enum_create(const EnumDesc &E, H *h, uint32_t db) {
    void *inst = new_storage(h, db, kEnumSize, E.null_obj);
    if (!inst || inst == E.null_obj) return inst;

    uint32_t lerr = 0;
    const int8_t variant = instance_variant(qel_inline_domain_lookup_variant(h, &h->domain, E.ti, &lerr));
    qel_type_info_t *ti = object_tinfo(h, db, E.ti);
    write_header(h, db, inst, &hdr(inst)->tinfo, variant, ti, 0, true);
    if (lerr) trace_s(kTrace1, tpi(E, tp::enm::create_err), err_text(lerr));

    count_object(h, db, ti, variant, true, kTrace1, tpi(E, tp::enm::varinfo_null),
                 tpi(E, tp::enm::variant_count));

    if (h->containment_tracking) {
        qeldb_record_containment2(h, db, inst, nullptr);
        if (plat_reports(h, db)) qeldb_plat_set_dirty(h, db, inst);
    }
    return inst;
}

void *enum_create_cr(const EnumDesc &E, H *h) {
    return chained(h, [&] { return enum_create(E, h, h->database_id); });
}

// Prepares an instance embedded in a parent.  Skip-statistics and the state
// base have no meaning for enumerations (no counting, no state area); a
// domain lookup error does not stop the parent.
void enum_initialize(const EnumDesc &E, H *h, uint32_t db, void *inst, qel_type_info_t *ti,
                     uint32_t notify, uint32_t /*skip_stats*/, uint8_t or_flags,
                     uint8_t * /*state_base*/, uint32_t * /*err*/) {
    enum_init_apply(enum_init_plan(E, h, db, ti), h, db, inst, or_flags, notify != 0);
}

EnumInit enum_init_plan(const EnumDesc &E, H *h, uint32_t db, qel_type_info_t *ti) {
    uint32_t lerr = 0;
    const int8_t variant = instance_variant(qel_inline_domain_lookup_variant(h, &h->domain, E.ti, &lerr));
    return {variant, object_tinfo(h, db, ti ? ti : E.ti)};
}


void enum_destroy(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t free_it) {
    if (!inst || inst == E.null_obj || !free_it) return;
    ObjHdr *o = hdr(inst);
    if (!tinfo_ok(o->tinfo)) fatal(kTrace1, tpi(E, tp::enm::tinfo_bad));
    count_object(h, db, o->tinfo, o->variant, false, kTrace1, tpi(E, tp::enm::varinfo_null),
                 tpi(E, tp::enm::variant_count));
    if (plat_reports(h, db)) qeldb_plat_set_destroy(h, db, inst);
    store(h, db, inst, &o->tinfo, static_cast<qel_type_info_t *>(nullptr));
    h->free_fn(h->alloc_ctx, db, inst);
}

void *enum_get(const EnumDesc &, H *h, uint32_t db, void *inst) {
    if (inst) contain(h, db, inst, nullptr);
    return inst;
}

uint32_t enum_get_value(const EnumDesc &, H *h, uint32_t, const void *inst, uint32_t *err) {
    if (!begin(h, err) || !present(h, err, inst)) return 0;
    return value_of(inst);
}

namespace {

// The shared prologue of set and set_value: nothing with an error present,
// a null destination is refused, the destination's variant is adjusted,
// and a value outside the names is only allowed on a variant of 1 and up.
bool set_allowed(const EnumDesc &E, H *h, void *dst, uint32_t value, uint32_t *err) {
    if (!enter(h, err, dst, kNeedObject | kAdjust) || *err) return false;
    if (value >= E.bound && qel_inline_get_instance_variant(h, dst, 0, 1) < 1) {
        qel_store_epoch_err(h, LOMARI_ERR_VARIANT, err);
        return false;
    }
    return true;
}

}  // namespace

void enum_set(const EnumDesc &E, H *h, uint32_t db, void *dst, const void *src, uint32_t *err) {
    if (*err) return;
    if (!src) {
        qel_inline_clear_last_error(h);
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    if (!set_allowed(E, h, dst, value_of(src), err)) return;
    announce(h, dst, kEnumSize, db, dst);
    std::memcpy(dst, src, kEnumSize);
}

void enum_set_value(const EnumDesc &E, H *h, uint32_t db, void *inst, uint32_t v, uint32_t *err) {
    if (!set_allowed(E, h, inst, v, err)) return;
    store(h, db, inst, &value_of(inst), v);
}

int enum_is_valid_cr(const EnumDesc &E, H *h, int32_t v) {
    qel_inline_domain_lookup_variant(h, &h->domain, E.ti, &h->err);
    return v < static_cast<int32_t>(E.bound) ? 1 : 0;
}

}  // namespace lomari
