// lifecycle.cpp -- life of the structured instances.
//
// Owns create (plain and chained-error form and their worker), initialize,
// destroy (with its OID-mapping, statistics, handle-mapping and platform
// reports) and the size queries.  Everything is driven by the
// type descriptor: list owners and array owners differ only through the
// hooks of the list and array families, embedded enumeration fields are
// prepared by the enumeration family.
#include "types/lifecycle.h"

#include "frame/entry.h"
#include "types/arrays.h"
#include "types/enums.h"
#include "types/layout.h"
#include "types/lists.h"

namespace lomari {

namespace {

// The size a new instance takes in the handle's current mode.
inline uint32_t alloc_size(const TypeDesc &T, const qel_handle_t *h) {
    return handle_mode(h, T) == Mode::Track ? T.tracked_size : T.plain_size;
}

// Variant-info checks shared by initialize and destroy: missing variant
// info is fatal, a variant beyond the count is only a notice.
inline void check_varinfo(const TypeDesc &T, const qel_type_info_t *ti, int8_t variant) {
    const qel_variant_info_t *vi = ti->varinfo;
    if (!vi) fatal(kTrace1, tpi(T, tp::type::varinfo_null));
    if (vi->n_variants < variant)
        trace_uu(kTrace1, tpi(T, tp::type::variant_count), static_cast<uint32_t>(variant),
                 static_cast<uint32_t>(vi->n_variants));
}

// The end of a creation: a failed initialize releases the storage (traced),
// a made object is reported to containment tracking.
void *created(const TypeDesc &T, H *h, uint32_t db, void *o, uint32_t e) {
    if (e) {
        trace_s(kTrace1, tpi(T, tp::type::create_err), err_text(e));
        h->free_fn(h->alloc_ctx, db, o);
        return nullptr;
    }
    if (h->containment_tracking) {
        qeldb_record_containment2(h, db, o, nullptr);
        if (plat_reports(h, db)) qeldb_plat_set_dirty(h, db, o);
    }
    return o;
}

// The writes, announcements and statistics of one instance (init_apply);
// inlined into the creation a decoder makes per element.
[[gnu::always_inline]] inline void apply(const TypeDesc &T, const InitPlan &p, H *h, uint32_t db, void *inst,
                                         uint32_t notify, uint32_t skip_stats, uint8_t or_flags,
                                         uint8_t *state_base, uint32_t *err) {
    if (notify && T.list_field >= 0) list_init_anchor(T, h, db, inst);

    // Announcing a write does nothing without a write hook: asked once, so
    // that the stores below need not ask again (each may alias the handle).
    const bool announce = notify && h->write_hook_fn;
    ObjHdr *o = hdr(inst);
    auto **tip = reinterpret_cast<qel_type_info_t **>(qel_inline_manifested_type_info_ptr_mem(h, inst));
    write_header(h, db, inst, tip, p.variant, p.ti, or_flags, announce);
    if (p.track) {
        if (announce)
            store(h, db, inst, &o->flags, static_cast<uint8_t>(o->flags | QEL_OF_TRACKED));
        else
            o->flags |= QEL_OF_TRACKED;
    }

    if (!skip_stats) {
        check_varinfo(T, p.ti, p.variant);
        if (p.batch)
            ++p.made;
        else
            qel_inline_type_stats_create_object(h, db, p.ti, variant_record(p.ti, p.variant), err);
    }
    if (p.track) {
        // An array element cannot find its state bytes without the base its
        // owner hands over.
        if ((o->flags & QEL_OF_NESTED) && !state_base) {
            report(h, err, LOMARI_ERR_INVALID);
            trace0(kTrace1, tpi(T, tp::type::nested_no_base));
            return;
        }
        if (o->flags & QEL_OF_STTR_RT) (void)qellib_get_sttr_offset(h, inst);
    }

    for (unsigned i = 0; i < p.n_enums; ++i)
        enum_init_apply(p.enums[i].init, h, db, at(inst, p.enums[i].offset), QEL_OF_NESTED, announce);
}

// The destroy of one instance (obj_destroy); inlined into the in-place
// destroy of a whole element block.
[[gnu::always_inline]] inline void destroy(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t free_it) {
    if (!inst || inst == T.null_obj) return;
    ObjHdr *o = hdr(inst);

    if (o->flags & QEL_OF_OID_MAPPING) {
        uint32_t e = 0;
        const int removed = qel_request_oid_mapping_destroy(h, db, inst, &e);
        if (e) {
            trace_s(kTrace1, tpi(T, tp::type::oid_fail), err_text(e));
            qel_store_err(h, e);
            return;
        }
        if (!removed) {
            // Still referenced: the runtime finishes the object later.
            trace0(kTrace1, tpi(T, tp::type::oid_refs));
            return;
        }
        trace0(kTrace1, tpi(T, tp::type::oid_ok));
    }

    // Only an owner has anything to release, so only an owner asks.
    const bool owns = T.list_field >= 0 || T.array_field >= 0;
    if (owns && qel_inline_get_instance_variant(h, inst, 1, 0) >= 0) {
        if (T.list_field >= 0)
            list_destroy_elements(T, h, db, inst);
        else
            array_release(T, h, db, inst);
    }

    if (o->flags & QEL_OF_TRACKED) {
        if (T.array_field >= 0) {
            // Per-element state bytes, if the array family left them.
            if (uint8_t *sa = state_area(T, h, inst)) per_elem_free(h, db, sa);
        } else if (o->flags & QEL_OF_STTR_RT) {
            // A runtime-placed area is looked up; a nested element's place
            // is of no use here, so the runtime is not asked for it.
            (void)qellib_get_sttr_offset(h, inst);
        }
    }

    qel_type_info_t *ti = o->tinfo;
    if (!tinfo_ok(ti)) fatal(kTrace1, tpi(T, tp::type::tinfo_bad));
    check_varinfo(T, ti, o->variant);
    uint32_t e = 0;
    qel_inline_type_stats_destroy_object(h, db, ti, variant_record(ti, o->variant), &e);

    if ((o->flags & (QEL_OF_STTR_RT | QEL_OF_HD_MAPPING)) && h->hd_mapping) {
        const uint32_t rc = qel_hd_mapping_destroy(h, db, inst);
        if (rc) {
            trace_s(kTrace1, tpi(T, tp::type::oid_fail), err_text(rc));
            qel_store_err(h, rc);
            return;
        }
    }

    if (!free_it) return;
    if (plat_reports(h, db)) qeldb_plat_set_destroy(h, db, inst);
    if (o->flags & QEL_OF_OWN_TINFO) h->free_fn(h->alloc_ctx, db, ti);
    store(h, db, inst, &o->tinfo, static_cast<qel_type_info_t *>(nullptr));
    h->free_fn(h->alloc_ctx, db, inst);
}

}  // namespace

// ---- create ------------------------------------------------------------------

void *obj_create(const TypeDesc &T, H *h, uint32_t db) {
    ensure_trace_module();
    return obj_create_internal(T, h, db);
}

void *obj_create_cr(const TypeDesc &T, H *h) {
    ensure_trace_module();
    return chained(h, [&] { return obj_create_internal(T, h, h->database_id); });
}

void *obj_create_internal(const TypeDesc &T, H *h, uint32_t db) {
    void *o = new_storage(h, db, alloc_size(T, h), T.null_obj);
    if (!o || o == T.null_obj) return o;
    uint32_t e = 0;
    obj_initialize(T, h, db, o, T.ti, kAnnounce, kCount, 0, nullptr, &e);
    return created(T, h, db, o, e);
}

void *obj_create_with(const TypeDesc &T, const InitPlan &p, H *h, uint32_t db) {
    void *o = new_storage(h, db, p.track ? T.tracked_size : T.plain_size, T.null_obj);
    if (!o || o == T.null_obj) return o;
    uint32_t e = 0;
    apply(T, p, h, db, o, kAnnounce, kCount, 0, nullptr, &e);
    return created(T, h, db, o, e);
}

// ---- initialize ----------------------------------------------------------------

void obj_initialize(const TypeDesc &T, H *h, uint32_t db, void *inst, qel_type_info_t *ti,
                    uint32_t notify, uint32_t skip_stats, uint8_t or_flags, uint8_t *state_base,
                    uint32_t *err) {
    if (!begin(h, err)) return;
    InitPlan p;
    if (init_plan(T, h, db, ti, &p, err)) init_apply(T, p, h, db, inst, notify, skip_stats, or_flags, state_base, err);
}

bool init_plan(const TypeDesc &T, H *h, uint32_t db, qel_type_info_t *ti, InitPlan *p, uint32_t *err) {
    // A lookup failure ends the preparation before anything is counted, so
    // that create can release the storage cleanly.
    const int dv = qel_inline_domain_lookup_variant(h, &h->domain, ti, err);
    if (*err) return false;
    p->variant = dv < 0 ? static_cast<int8_t>(dv) : 0;
    p->ti = object_tinfo(h, db, ti);
    p->track = handle_mode(h, T) == Mode::Track;
    p->batch = false;
    p->made = 0;
    p->n_enums = 0;
    for (unsigned i = 0; i < T.nfields; ++i) {
        const FieldDesc &f = T.fields[i];
        if (f.kind == Kind::Enum) p->enums[p->n_enums++] = {f.offset, enum_init_plan(*f.en, h, db, f.en->ti)};
    }
    return true;
}

void init_batch(InitPlan &p, H *h) { p.batch = qel_rt_counts_inline(h); }

void init_flush(const InitPlan &p) {
    if (!p.made) return;
    qel_inline_count_n(p.ti, &variant_record(p.ti, p.variant)->created, p.made);
    p.made = 0;
}

void init_apply(const TypeDesc &T, const InitPlan &p, H *h, uint32_t db, void *inst, uint32_t notify,
                uint32_t skip_stats, uint8_t or_flags, uint8_t *state_base, uint32_t *err) {
    apply(T, p, h, db, inst, notify, skip_stats, or_flags, state_base, err);
}

// ---- destroy -------------------------------------------------------------------------

void obj_destroy(const TypeDesc &T, H *h, uint32_t db, void *inst, uint32_t free_it) {
    destroy(T, h, db, inst, free_it);
}

// Flag bits that send an instance of a run through the whole destroy: each
// asks something more of the runtime.
inline constexpr uint8_t kDestroySteps =
    QEL_OF_OID_MAPPING | QEL_OF_TRACKED | QEL_OF_STTR_RT | QEL_OF_HD_MAPPING | QEL_OF_OWN_TINFO;

void destroy_flush(DestroyRun &r) {
    if (!r.gone) return;
    qel_inline_count_n(r.seen, &r.vi->variants[0].destroyed, r.gone);
    r.gone = 0;
}

// An instance that owns nothing and has none of kDestroySteps needs only
// its type-info checked, its destruction counted and, when freed, the
// platform told, its reference cleared and its storage released.  The
// checks of one type-info reference are made once for the run of
// instances that share it (every instance, as a rule), so the loop does not
// chase the reference on each one.
void destroy_run(const TypeDesc &Elem, DestroyRun &r, H *h, uint32_t db, void *inst, uint32_t free_it) {
    ObjHdr *o = hdr(inst);
    qel_type_info_t *ti = o->tinfo;
    const uint8_t flags = o->flags;
    if (__builtin_expect(!r.seen || ti != r.seen || (flags & kDestroySteps) || Elem.list_field >= 0 ||
                             Elem.array_field >= 0,
                         0)) {
        destroy_flush(r);
        destroy(Elem, h, db, inst, free_it);
        // Checked by the whole destroy (which has not come back from a bad
        // reference): later instances that share it take the short way.
        if (ti && !(flags & kDestroySteps) && inst != Elem.null_obj) {
            r.seen = ti;
            r.vi = ti->varinfo;
            r.batch = qel_rt_counts_inline(h);
        }
        return;
    }
    const int8_t v = o->variant;
    if (r.vi->n_variants < v)
        trace_uu(kTrace1, tpi(Elem, tp::type::variant_count), static_cast<uint32_t>(v),
                 static_cast<uint32_t>(r.vi->n_variants));
    if (r.batch && v <= 0) {
        ++r.gone;
    } else {
        uint32_t e = 0;
        qel_inline_type_stats_destroy_object(h, db, ti, &r.vi->variants[v < 0 ? 0 : v], &e);
    }
    if (!free_it) return;
    if (plat_reports(h, db)) qeldb_plat_set_destroy(h, db, inst);
    store(h, db, inst, &o->tinfo, static_cast<qel_type_info_t *>(nullptr));
    h->free_fn(h->alloc_ctx, db, inst);
}

void destroy_in_block(const TypeDesc &Elem, H *h, uint32_t db, uint8_t *block, uint32_t count) {
    DestroyRun r;
    for (uint32_t i = 0; i < count; ++i) destroy_run(Elem, r, h, db, elem_at(Elem, block, i), kKeepStorage);
    destroy_flush(r);
}

uint32_t init_in_block(const TypeDesc &Elem, const InitPlan &plan, H *h, uint32_t db, uint8_t *block,
                       uint32_t from, uint32_t n, bool track) {
    uint32_t first_err = 0;
    const qel_variant_info_t *vi = plan.ti->varinfo;
    if (!track && !plan.n_enums && Elem.list_field < 0 && !h->write_hook_fn && vi) {
        // The common case: untracked elements without enumeration fields
        // and no one observing writes.  What init_apply derives from the
        // plan -- the header bytes, the variant record counted, whether the
        // variant count is short -- is the same for every element, so it
        // is taken once; each element still has its type-info place asked
        // of the runtime and its creation counted (in one add when the
        // handle's counts are added inline).
        const bool batch = qel_rt_counts_inline(h);
        const uint32_t size = Elem.plain_size;
        const int8_t variant = plan.variant;
        qel_type_info_t *const ti = plan.ti;
        qel_variant_record_t *const vr = variant_record(ti, variant);
        const bool short_count = vi->n_variants < variant;
        for (uint32_t i = from; i < n; ++i) {
            uint8_t *el = block + size_t{i} * size;
            ObjHdr *o = hdr(el);
            auto **tip = reinterpret_cast<qel_type_info_t **>(qel_inline_manifested_type_info_ptr_mem(h, el));
            o->variant_cap = 0;
            o->variant = variant;
            *tip = ti;
            o->flags |= QEL_OF_NESTED;
            if (__builtin_expect(short_count, 0))
                trace_uu(kTrace1, tpi(Elem, tp::type::variant_count), static_cast<uint32_t>(variant),
                         static_cast<uint32_t>(vi->n_variants));
            if (batch) continue;
            uint32_t e = 0;
            qel_inline_type_stats_create_object(h, db, ti, vr, &e);
            if (e && !first_err) first_err = e;
        }
        if (batch && n > from) qel_inline_count_n(ti, &vr->created, n - from);
        return first_err;
    }
    for (uint32_t i = from; i < n; ++i) {
        uint8_t *el = elem_at(Elem, block, i);
        uint8_t *base = nullptr;
        if (track) {
            base = elem_states(Elem, block, n, i);
            qellib_update_sttr_offset(h, el, static_cast<uint32_t>(base - el));
        }
        uint32_t e = 0;
        apply(Elem, plan, h, db, el, kAnnounce, kCount, QEL_OF_NESTED, base, &e);
        if (e && !first_err) first_err = e;
    }
    return first_err;
}

// ---- sizes -----------------------------------------------------------------------------

uint32_t obj_sizeof(const TypeDesc &T, H *h) { return alloc_size(T, h); }

uint32_t obj_sizeof_internal(const TypeDesc &T, H *h, uint32_t /*db*/, uint32_t with_state,
                             uint32_t state_only) {
    if (handle_mode(h, T) == Mode::Plain) return state_only ? 0 : T.plain_size;
    if (state_only) return T.state_size;
    return with_state ? T.tracked_size : T.plain_size;
}

}  // namespace lomari
