// object_queries.cpp -- the small queries the runtime makes of every
// enumeration and structured object: the embedded flag, the OID count, the
// table references and the variant adjustment.
//
// Enumerations and structured types behave alike apart from their trace
// points and the embedded enumeration fields a structured type flags along
// with itself, so each query is written once over a view that carries the
// point indices of the descriptor's block in trace table 1.
#include "types/object_queries.h"

namespace lomari {

namespace {

// The trace points a query emits, resolved for one descriptor.
struct QueryPoints {
    uint32_t embed_invalid;
    uint32_t oid_count_err;
    uint32_t oid_count_invalid;
    uint32_t refs_err;
    uint32_t refs_invalid;
};

template <class D, class P>
QueryPoints points_of(const D &d) {
    return {tpi(d, P::embed_invalid), tpi(d, P::oid_count_err), tpi(d, P::oid_count_invalid),
            tpi(d, P::refs_err), tpi(d, P::refs_invalid)};
}
inline QueryPoints points(const EnumDesc &E) { return points_of<EnumDesc, tp::enm::Point>(E); }
inline QueryPoints points(const TypeDesc &T) { return points_of<TypeDesc, tp::type::Point>(T); }

inline void flag_embedded(H *h, uint32_t db, void *obj, void *owner) {
    uint8_t *flags = &hdr(obj)->flags;
    store(h, db, owner, flags, static_cast<uint8_t>(*flags | QEL_OF_EMBEDDED));
}

// Embedded enumeration fields of a structured type are flagged before the
// instance; enumerations have none.  List and array elements are separate
// objects and keep their own flags.
inline void flag_members(const EnumDesc &, H *, uint32_t, void *) {}
inline void flag_members(const TypeDesc &T, H *h, uint32_t db, void *inst) {
    for (unsigned i = 0; i < T.nfields; ++i)
        if (T.fields[i].kind == Kind::Enum) flag_embedded(h, db, at(inst, T.fields[i].offset), inst);
}

template <class D>
void embed(const D &d, H *h, uint32_t db, void *inst) {
    if (!inst) {
        trace0(kTrace1, points(d).embed_invalid);
        return;
    }
    flag_members(d, h, db, inst);
    flag_embedded(h, db, inst, inst);
}

// The common entry of the two reference queries: an error already present
// is traced and nothing else happens; a null object is traced and refused.
inline bool query_entry(H *h, void *inst, uint32_t *err, uint32_t err_point,
                        uint32_t invalid_point) {
    if (*err) {
        trace0(kTrace1, err_point);
        return false;
    }
    qel_inline_clear_last_error(h);
    if (!inst) {
        trace0(kTrace1, invalid_point);
        report(h, err, LOMARI_ERR_INVALID);
        return false;
    }
    return true;
}

// No object of this domain holds OIDs of other objects.
template <class D>
uint32_t oid_count(const D &d, H *h, void *inst, uint32_t *err) {
    const QueryPoints p = points(d);
    query_entry(h, inst, err, p.oid_count_err, p.oid_count_invalid);
    return 0;
}

// No object of this domain refers to table records: nothing to report.
template <class D>
void object_references(const D &d, H *h, void *inst, uint32_t *err) {
    const QueryPoints p = points(d);
    query_entry(h, inst, err, p.refs_err, p.refs_invalid);
}

inline int adjust(H *h, void *inst, uint32_t *err) {
    return qellib_adjust_variant(h, inst, inst ? hdr(inst)->tinfo : nullptr, 0, err);
}

}  // namespace

void set_instance_embedded(const EnumDesc &E, H *h, uint32_t db, void *inst) { embed(E, h, db, inst); }
void set_instance_embedded(const TypeDesc &T, H *h, uint32_t db, void *inst) { embed(T, h, db, inst); }

uint32_t get_oid_count(const EnumDesc &E, H *h, uint32_t, void *inst, uint32_t *err) {
    return oid_count(E, h, inst, err);
}
uint32_t get_oid_count(const TypeDesc &T, H *h, uint32_t, void *inst, uint32_t *err) {
    return oid_count(T, h, inst, err);
}

void get_object_references(const EnumDesc &E, H *h, uint32_t, void *inst, uint32_t *err) {
    object_references(E, h, inst, err);
}
void get_object_references(const TypeDesc &T, H *h, uint32_t, void *inst, uint32_t *err) {
    object_references(T, h, inst, err);
}

int adjust_variant(const EnumDesc &, H *h, uint32_t, void *inst, uint32_t *err) {
    return adjust(h, inst, err);
}
int adjust_variant(const TypeDesc &, H *h, uint32_t, void *inst, uint32_t *err) {
    return adjust(h, inst, err);
}

}  // namespace lomari
