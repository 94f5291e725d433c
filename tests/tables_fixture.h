// tables_fixture.h -- the six tables as the table and record tests see them:
// each table's record fields, key and second index, its entry points by
// name, and records that die with the test (nothing may outlive it).
#pragma once

#include "fixture.h"

namespace lt {

struct TableCase {
    const char *name;
    std::vector<const char *> parts;  // the record's fields, by type
    const char *field;                // the key field of the key-owning part
    U keypart;                        // the part holding the key
    bool str;                         // a 31-character key, else unsigned 32 bits
    const char *second;               // entry-point prefix of the second index, if any

    U nparts() const { return U(parts.size()); }
    U nindex() const { return second ? 2 : 1; }
    const char *keytype() const { return parts[keypart]; }
};

// In the order of kTables.
inline const TableCase kTableCases[] = {
    {"tarnok_header_ids", {"tarnok_rec_fields", "vep_tarnok_body"}, "dbkey", 0, true, nullptr},
    {"im_if_flow_control", {"flow_if_rec_fields", "im_if_fctrl_body"}, "kalvi_id", 1, false, "im_if_flow_control_im_if_fctrl_body_"},
    {"im_vep_flow_control", {"flow_vep_rec_fields", "im_vep_fctrl_body"}, "dbkey", 0, true, nullptr},
    {"non_aps_headers", {"cc_ids"}, "cc_slot", 0, false, nullptr},
    {"global_aps_headers", {"aps_control_data"}, "my_row_id", 0, false, nullptr},
    {"global_flow_control", {"flow_id_pool"}, "my_range_id", 0, false, nullptr},
};

inline const TypeDesc &TypeNamed(const std::string &n) {
    for (const TypeDesc &t : kTypes)
        if (n == t.name) return t;
    throw std::runtime_error("no type " + n);
}

// One table per test; records kept here are destroyed at its end.
class TableTest : public Lomari, public ::testing::WithParamInterface<const TableCase *> {
protected:
    void SetUp() override {
        Lomari::SetUp();
        live0 = qelrt_live_bytes();
    }
    void TearDown() override {
        DestroyAll();
        EXPECT_EQ(qelrt_live_bytes(), live0) << "leaked";
        Lomari::TearDown();
    }
    const TableCase &C() const { return *GetParam(); }
    template <class F>
    F *Op(const std::string &op) const { return Api<F>(C().name, op); }
    Ty Part(U p) const { return Ty{TypeNamed(C().parts[p])}; }
    U KeyOffset() const {
        const TypeDesc &t = Part(C().keypart).t;
        for (U i = 0; i < t.nfields; ++i)
            if (std::strcmp(t.fields[i].name, C().field) == 0) return t.fields[i].offset;
        ADD_FAILURE() << "no key field";
        return 0;
    }
    static std::string LuidText(const char *table) { return *Api<const char[33]>("table", std::string(table) + "_luid_text"); }

    void *Keep(void *r) { return r ? recs_.emplace_back(r) : r; }
    void Destroy(void *r) {
        Op<void(H, U, void *, U *)>("destroy_record")(h, db, r, &err);
        std::erase(recs_, r);
    }
    void DestroyAll() {
        for (void *r : std::vector<void *>(recs_)) Destroy(r);
        EXPECT_EQ(Err(), 0u);
    }

    std::vector<void *> recs_;
    int64_t live0 = 0;
};

inline std::vector<const TableCase *> AllTables() { return Each(kTableCases); }

}  // namespace lt
