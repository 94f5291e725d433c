// xml_bench.cpp -- text and XML renderings of a vep_tarnok_body with 64
// mappings: print, render, and parse back (document parse and object
// fill, apart and together) with each way of answering paths: the direct
// walk with remembered prefixes, the XPath engine with cached compiled
// expressions, and the XPath engine compiling every path.  Then the fill
// of bodies with 1e3 to 1e6 mappings, per mapping, which shows whether
// reading a document costs in proportion to its length.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_control.h"
#include "qel/rt_control_text.h"

namespace {

struct XmlSetup {
    qel_handle_t *h = qelrt_handle_new();
    uint32_t db;
    vep_tarnok_body *obj;
    std::vector<char> buf;
    uint32_t len = 0;

    explicit XmlSetup(uint32_t n) : buf(4096 + size_t(n) * 160) {
        qelrt_trace_capture(0);
        qelrt_handle_use_pool(h, 1);
        db = h->database_id;
        uint32_t err = 0;
        obj = vep_tarnok_body_create(h, db);
        vep_tarnok_body_slot_number_set_value(h, db, obj, 3, &err);
        vep_tarnok_body_bay_number_set_value(h, db, obj, 1, &err);
        vep_tarnok_body_vep_type_set_value(h, db, obj, 0x10, &err);
        vep_tarnok_body_scheme_set_value(h, db, obj, 2, &err);
        for (uint32_t i = 0; i < n; ++i) {
            spi4_mapping *m = spi4_mapping_create(h, db);
            spi4_mapping_portnum_set_value(h, db, m, i, &err);
            spi4_mapping_header_id_set_value(h, db, m, 0x4000 + i, &err);
            spi4_mapping_pri_set_value(h, db, m, i % 3, &err);
            vep_tarnok_body_spi4_id_mappings_set_last(h, db, obj, m, &err);
        }
        len = vep_tarnok_body_to_xml(h, db, "vep_tarnok_body", buf.data(), obj, uint32_t(buf.size()), 0, &err);
        if (err) std::abort();
    }
    ~XmlSetup() {
        vep_tarnok_body_destroy(h, db, obj);
        qelrt_handle_free(h);
        qelrt_xml_set_path_mode(QELRT_XML_PATH_WALK);
        qelrt_trace_capture(1);
    }
    qel_xml_doc_t *Doc() {
        uint32_t err = 0;
        qel_xml_doc_t *d = qel_xml_parse_memory(h, buf.data(), len, 0, nullptr, 0, &err);
        if (!d) std::abort();
        return d;
    }
    void Fill(qel_xml_doc_t *d) {
        uint32_t err = 0;
        vep_tarnok_body *o = vep_tarnok_body_create(h, db);
        vep_tarnok_body_from_xml(h, db, "//vep_tarnok_body", d, o, &err, nullptr, 0);
        if (err || vep_tarnok_body_compare(o, obj) != 0) std::abort();
        vep_tarnok_body_destroy(h, db, o);
    }
};

constexpr uint32_t kMappings = 64;

void BM_TextPrint(benchmark::State &st) {
    XmlSetup s(kMappings);
    std::vector<char> out(1 << 16);
    uint32_t n = 0;
    for (auto _ : st) {
        uint32_t err = 0;
        n = vep_tarnok_body_print(s.h, s.db, out.data(), 0, "body", s.obj, uint32_t(out.size()), &err);
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(int64_t(st.iterations()) * n);
}
BENCHMARK(BM_TextPrint);

void BM_XmlRender(benchmark::State &st) {
    XmlSetup s(kMappings);
    std::vector<char> out(1 << 16);
    for (auto _ : st) {
        uint32_t err = 0;
        vep_tarnok_body_to_xml(s.h, s.db, "vep_tarnok_body", out.data(), s.obj, uint32_t(out.size()), 0, &err);
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(int64_t(st.iterations()) * s.len);
}
BENCHMARK(BM_XmlRender);

void BM_XmlParseDocument(benchmark::State &st) {
    XmlSetup s(kMappings);
    for (auto _ : st) qel_xml_doc_free(s.Doc());
    st.SetBytesProcessed(int64_t(st.iterations()) * s.len);
}
BENCHMARK(BM_XmlParseDocument);

// Object fill from one parsed document per iteration (parse included), by
// path mode: 0 walk, 1 XPath with cached compiled forms, 2 XPath compiling.
void BM_XmlParseAndFill(benchmark::State &st) {
    XmlSetup s(kMappings);
    qelrt_xml_set_path_mode(static_cast<qelrt_xml_path_mode_t>(st.range(0)));
    for (auto _ : st) {
        qel_xml_doc_t *d = s.Doc();
        s.Fill(d);
        qel_xml_doc_free(d);
    }
    st.SetBytesProcessed(int64_t(st.iterations()) * s.len);
}
BENCHMARK(BM_XmlParseAndFill)->Arg(0)->Arg(1)->Arg(2);

// vep_tarnok_body_from_xml over a document of n mappings, per mapping:
// with the document parsed outside the timing (second argument 0) or
// inside it (1).  Each tenfold step of n should cost about ten times as
// much.  The filled object is checked once, and destroyed with its
// document, untimed.
void BM_XmlFillMany(benchmark::State &st) {
    const auto n = uint32_t(st.range(0));
    const bool parse = st.range(1) != 0;
    XmlSetup s(n);
    bool checked = false;
    for (auto _ : st) {
        if (!parse) st.PauseTiming();
        qel_xml_doc_t *d = s.Doc();
        if (!parse) st.ResumeTiming();
        uint32_t err = 0;
        vep_tarnok_body *o = vep_tarnok_body_create(s.h, s.db);
        vep_tarnok_body_from_xml(s.h, s.db, "/vep_tarnok_body", d, o, &err, nullptr, 0);
        st.PauseTiming();
        if (err || (!checked && vep_tarnok_body_compare(o, s.obj) != 0)) std::abort();
        checked = true;
        vep_tarnok_body_destroy(s.h, s.db, o);
        qel_xml_doc_free(d);
        st.ResumeTiming();
    }
    st.SetItemsProcessed(int64_t(st.iterations()) * n);
}
BENCHMARK(BM_XmlFillMany)
    ->ArgsProduct({{1000, 10000, 100000, 1000000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
