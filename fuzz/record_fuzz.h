// record_fuzz.h -- what the record fuzz targets share: the six tables with
// their record fields and key field, entry points by name, and a field by
// field comparison of two records.
#pragma once

#include "fuzz_common.h"

namespace recfuzz {

using H = qel_handle_t;

struct Table {
    const char *name;
    const char *parts[2];
    unsigned nparts;
    unsigned keypart;
};

inline const Table kTables[] = {
    {"tarnok_header_ids", {"tarnok_rec_fields", "vep_tarnok_body"}, 2, 0},
    {"im_if_flow_control", {"flow_if_rec_fields", "im_if_fctrl_body"}, 2, 1},
    {"im_vep_flow_control", {"flow_vep_rec_fields", "im_vep_fctrl_body"}, 2, 0},
    {"non_aps_headers", {"cc_ids", nullptr}, 1, 0},
    {"global_aps_headers", {"aps_control_data", nullptr}, 1, 0},
    {"global_flow_control", {"flow_id_pool", nullptr}, 1, 0},
};

template <class F>
F *fn(const std::string &name) {
    void *p = dlsym(RTLD_DEFAULT, name.c_str());
    FZ_CHECK(p);
    return reinterpret_cast<F *>(p);
}
template <class F>
F *op(const Table &t, const std::string &o) { return fz::Api<F>(t.name, o); }

inline void *field(H *h, const Table &t, unsigned p, void *r) {
    return op<void *(H *, uint32_t, void *)>(t, std::string(t.parts[p]) + "_get_field")(h, h->database_id, r);
}

// True when every field of a compares equal to the same field of b.
inline bool same(H *h, const Table &t, void *a, void *b) {
    for (unsigned p = 0; p < t.nparts; ++p) {
        void *x = field(h, t, p, a), *y = field(h, t, p, b);
        if (!x || !y || fz::Api<int32_t(const void *, const void *)>(t.parts[p], "compare")(x, y) != 0) return false;
    }
    return true;
}

inline void destroy(H *h, const Table &t, void *r) {
    uint32_t e = 0;
    op<void(H *, uint32_t, void *, uint32_t *)>(t, "destroy_record")(h, h->database_id, r, &e);
    FZ_CHECK(e == 0);
}

}  // namespace recfuzz
