// Tests of the runtime's queries on structured objects, run over all
// seventeen types: the embedded flag (set on the embedded enumeration
// fields before the instance), the OID count, the table references and the
// variant adjustment.  They work on raw zeroed storage so they need nothing
// from the constructors.
#include <string>
#include <vector>

#include "fixture.h"

namespace {

using lt::Kind;
using lt::TypeDesc;

using Embed = void(qel_handle_t *, uint32_t, void *);
using OidCount = uint32_t(qel_handle_t *, uint32_t, void *, uint32_t *);
using Refs = void(qel_handle_t *, uint32_t, void *, void *, void *, uint32_t *);
using Adjust = int(qel_handle_t *, uint32_t, void *, uint32_t *);

constexpr size_t kFlagsOff = 10;

class ObjectQueries : public lt::Lomari, public ::testing::WithParamInterface<const TypeDesc *> {
protected:
    const TypeDesc &T() const { return *GetParam(); }
    template <class F>
    F *Fn(const char *op) const { return lt::Api<F>(T().name, op); }
    std::vector<uint8_t> Storage() const { return std::vector<uint8_t>(T().plain_size, 0); }
    uint32_t Point(uint32_t p) const { return T().trace_base + p; }
};

TEST_P(ObjectQueries, EmbeddedFlagGoesOnEnumerationFieldsThenTheInstance) {
    auto mem = Storage();
    std::vector<size_t> flag_bytes;
    for (unsigned i = 0; i < T().nfields; ++i)
        if (T().fields[i].kind == Kind::Enum) flag_bytes.push_back(T().fields[i].offset + kFlagsOff);
    flag_bytes.push_back(kFlagsOff);
    mem[kFlagsOff] = QEL_OF_TRACKED;

    qelrt_calls_log(1);
    Fn<Embed>("set_instance_embedded")(h, db, mem.data());

    std::vector<uint8_t> want(T().plain_size, 0);
    for (size_t b : flag_bytes) want[b] = QEL_OF_EMBEDDED;
    want[kFlagsOff] |= QEL_OF_TRACKED;
    EXPECT_EQ(mem, want);
    ASSERT_EQ(qelrt_write_count(), flag_bytes.size());
    for (size_t i = 0; i < flag_bytes.size(); ++i) {
        EXPECT_EQ(qelrt_write_at(i)->addr, mem.data() + flag_bytes[i]) << i;
        EXPECT_EQ(qelrt_write_at(i)->len, 1u);
        EXPECT_EQ(qelrt_write_at(i)->owner, mem.data());
    }
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

TEST_P(ObjectQueries, EmbeddedFlagOnNullIsTraced) {
    Fn<Embed>("set_instance_embedded")(h, db, nullptr);
    ASSERT_EQ(qelrt_trace_count(), 1u);
    EXPECT_STREQ(qelrt_trace_at(0)->text, "Invalid object pointer passed in to set instance flag");
    EXPECT_EQ(qelrt_trace_at(0)->table_no, 1);
    EXPECT_EQ(qelrt_trace_at(0)->index, Point(10));
    EXPECT_EQ(qelrt_trace_at(0)->level, QEL_TL_ERROR);
    EXPECT_EQ(h->err, 0u);
}

struct QueryCase {
    const char *name;
    const char *err_text;
    const char *invalid_text;
    uint32_t err_point, invalid_point;
    void (*call)(const TypeDesc &, qel_handle_t *, uint32_t, void *, uint32_t *);
};

const QueryCase kQueries[] = {
    {"oid_count", "Error already present in call to get object oid count",
     "Invalid object passed in to get object oid count", 11, 12,
     [](const TypeDesc &t, qel_handle_t *h, uint32_t db, void *o, uint32_t *err) {
         EXPECT_EQ(lt::Api<OidCount>(t.name, "get_oid_count")(h, db, o, err), 0u);
     }},
    {"references", "Error present in call to get table references from object",
     "Cannot get table references. Invalid object passed on", 13, 14,
     [](const TypeDesc &t, qel_handle_t *h, uint32_t db, void *o, uint32_t *err) {
         lt::Api<Refs>(t.name, "get_object_references")(h, db, o, nullptr, nullptr, err);
     }},
};

TEST_P(ObjectQueries, ReferenceQueriesReportNullAndTraceErrorPresent) {
    auto mem = Storage();
    for (const QueryCase &q : kQueries) {
        SCOPED_TRACE(q.name);
        qelrt_trace_clear();
        err = 0;
        h->err = 0;
        q.call(T(), h, db, mem.data(), &err);
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(qelrt_trace_count(), 0u);

        q.call(T(), h, db, nullptr, &err);
        EXPECT_EQ(err, 22u);
        EXPECT_EQ(h->err, 22u);
        ASSERT_EQ(qelrt_trace_count(), 1u);
        EXPECT_STREQ(qelrt_trace_at(0)->text, q.invalid_text);
        EXPECT_EQ(qelrt_trace_at(0)->index, Point(q.invalid_point));
        EXPECT_EQ(qelrt_trace_at(0)->level, QEL_TL_ERROR);

        q.call(T(), h, db, mem.data(), &err);
        EXPECT_EQ(err, 22u);
        ASSERT_EQ(qelrt_trace_count(), 2u);
        EXPECT_STREQ(qelrt_trace_at(1)->text, q.err_text);
        EXPECT_EQ(qelrt_trace_at(1)->index, Point(q.err_point));
        EXPECT_EQ(qelrt_trace_at(1)->level, QEL_TL_DEBUG);
    }
}

TEST_P(ObjectQueries, AdjustVariantHandsTheInstanceAndItsTypeInfoToTheRuntime) {
    auto mem = Storage();
    qel_type_info_t fake{};
    *reinterpret_cast<qel_type_info_t **>(mem.data()) = &fake;
    qelrt_calls_log(1);
    Fn<Adjust>("adjust_variant")(h, db, mem.data(), &err);
    Fn<Adjust>("adjust_variant")(h, db, nullptr, &err);
    std::vector<const qelrt_call_t *> calls;
    for (uint32_t i = 0; i < qelrt_call_total(); ++i)
        if (std::strcmp(qelrt_call_at(i)->fn, "qellib_adjust_variant") == 0) calls.push_back(qelrt_call_at(i));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]->a[1], reinterpret_cast<uint64_t>(mem.data()));
    EXPECT_EQ(calls[0]->a[2], reinterpret_cast<uint64_t>(&fake));
    EXPECT_EQ(calls[0]->a[3], 0u);
    EXPECT_EQ(calls[1]->a[2], 0u);
}

INSTANTIATE_TEST_SUITE_P(All, ObjectQueries, ::testing::ValuesIn(lt::AllTypes()), lt::ParamName());

}  // namespace
