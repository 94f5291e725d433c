// codec_bench.cpp -- the binary encoding on the bodies that carry the most
// data: a vep_tarnok_body with 8 and 64 mappings and a cc_ids with 256
// pairs, written and read back on a plain and on a tracking handle.  Each
// case reports its bytes per second; memcpy of the same bytes runs beside
// it as the floor.  The handle allocates from the runtime's pool, as a
// platform process does.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_control.h"

namespace {

constexpr uint32_t kBuf = 1u << 16;

enum Body : int64_t { kTarnok = 0, kCcIds = 1 };

// One handle and one filled body per benchmark run.
struct Setup {
    qel_handle_t *h;
    uint32_t db;
    Body body;
    void *obj = nullptr;
    std::vector<uint8_t> buf = std::vector<uint8_t>(kBuf);
    uint32_t len = 0;

    Setup(Body b, uint32_t elems, bool track) : h(qelrt_handle_new()), body(b) {
        qelrt_trace_capture(0);
        qelrt_handle_use_pool(h, 1);
        qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : QEL_CHECK_PLAIN);
        db = h->database_id;
        obj = b == kTarnok ? MakeTarnok(elems) : MakeCcIds(elems);
        uint32_t err = 0;
        len = Marshal(buf.data(), &err);
        if (err) std::abort();
    }
    ~Setup() {
        Destroy(obj);
        qelrt_handle_free(h);
        qelrt_trace_capture(1);
    }

    void *MakeTarnok(uint32_t n) {
        uint32_t err = 0;
        vep_tarnok_body *o = vep_tarnok_body_create(h, db);
        vep_tarnok_body_slot_number_set_value(h, db, o, 3, &err);
        vep_tarnok_body_bay_number_set_value(h, db, o, 1, &err);
        vep_tarnok_body_vep_type_set_value(h, db, o, 0x10, &err);
        vep_tarnok_body_scheme_set_value(h, db, o, 2, &err);
        for (uint32_t i = 0; i < n; ++i) {
            spi4_mapping *m = spi4_mapping_create(h, db);
            spi4_mapping_portnum_set_value(h, db, m, i, &err);
            spi4_mapping_header_id_set_value(h, db, m, 0x4000 + i, &err);
            spi4_mapping_pri_set_value(h, db, m, i % 3, &err);
            vep_tarnok_body_spi4_id_mappings_set_last(h, db, o, m, &err);
        }
        if (err) std::abort();
        return o;
    }
    void *MakeCcIds(uint32_t n) {
        uint32_t err = 0;
        cc_ids *o = cc_ids_create(h, db);
        cc_ids_cc_slot_set_value(h, db, o, 7, &err);
        cc_pair *p = cc_pair_create(h, db);
        // Highest index first, so that the block grows once; each pair is
        // copied into its slot.
        for (uint32_t k = n; k-- > 0;) {
            cc_pair_lower_bits_set_value(h, db, p, k & 0xFF, &err);
            cc_pair_leased_set_value(h, db, p, k & 1, &err);
            h->err = 0;
            if (cc_ids_pairs_set_cr(h, o, k, p, 0)) err = h->err;
        }
        cc_pair_destroy(h, db, p);
        if (err) std::abort();
        return o;
    }

    uint32_t Marshal(uint8_t *b, uint32_t *err) {
        if (body == kTarnok)
            return vep_tarnok_body_marshal(h, db, b, static_cast<vep_tarnok_body *>(obj), kBuf, err);
        return cc_ids_marshal(h, db, b, static_cast<cc_ids *>(obj), kBuf, err);
    }
    void *Create() {
        return body == kTarnok ? static_cast<void *>(vep_tarnok_body_create(h, db))
                               : static_cast<void *>(cc_ids_create(h, db));
    }
    uint32_t Unmarshal(void *o, uint32_t in_place, uint32_t *err) {
        if (body == kTarnok)
            return vep_tarnok_body_unmarshal(h, db, buf.data(), static_cast<vep_tarnok_body *>(o), len, in_place, err);
        return cc_ids_unmarshal(h, db, buf.data(), static_cast<cc_ids *>(o), len, in_place, err);
    }
    void Destroy(void *o) {
        if (body == kTarnok)
            vep_tarnok_body_destroy(h, db, static_cast<vep_tarnok_body *>(o));
        else
            cc_ids_destroy(h, db, static_cast<cc_ids *>(o));
    }
};

void Label(benchmark::State &st, const Setup &s) {
    st.SetBytesProcessed(int64_t(st.iterations()) * s.len);
    st.counters["bytes"] = s.len;
}

void Marshal(benchmark::State &st) {
    Setup s(static_cast<Body>(st.range(0)), static_cast<uint32_t>(st.range(1)), st.range(2) != 0);
    std::vector<uint8_t> out(kBuf);
    for (auto _ : st) {
        uint32_t err = 0;
        benchmark::DoNotOptimize(s.Marshal(out.data(), &err));
        benchmark::ClobberMemory();
    }
    Label(st, s);
}

// Decoding into a new object each time, as a receiver does; the object's
// creation and destruction are part of the cost.
void Unmarshal(benchmark::State &st) {
    Setup s(static_cast<Body>(st.range(0)), static_cast<uint32_t>(st.range(1)), st.range(2) != 0);
    for (auto _ : st) {
        uint32_t err = 0;
        void *o = s.Create();
        benchmark::DoNotOptimize(s.Unmarshal(o, 0, &err));
        s.Destroy(o);
    }
    Label(st, s);
}

// Decoding over an object that already has the same number of elements.
void UnmarshalInPlace(benchmark::State &st) {
    Setup s(static_cast<Body>(st.range(0)), static_cast<uint32_t>(st.range(1)), st.range(2) != 0);
    void *o = s.Create();
    uint32_t err = 0;
    s.Unmarshal(o, 0, &err);
    for (auto _ : st) {
        benchmark::DoNotOptimize(s.Unmarshal(o, 1, &err));
        benchmark::ClobberMemory();
    }
    if (err) st.SkipWithError("decode failed");
    s.Destroy(o);
    Label(st, s);
}

void Memcpy(benchmark::State &st) {
    Setup s(static_cast<Body>(st.range(0)), static_cast<uint32_t>(st.range(1)), st.range(2) != 0);
    std::vector<uint8_t> out(kBuf);
    for (auto _ : st) {
        std::memcpy(out.data(), s.buf.data(), s.len);
        benchmark::ClobberMemory();
    }
    Label(st, s);
}

// body (0 vep_tarnok_body, 1 cc_ids), elements, tracking
void Cases(benchmark::internal::Benchmark *b) {
    b->ArgNames({"body", "elems", "track"});
    for (int64_t track : {0, 1}) {
        b->Args({kTarnok, 8, track});
        b->Args({kTarnok, 64, track});
        b->Args({kCcIds, 256, track});
    }
}

BENCHMARK(Marshal)->Apply(Cases);
BENCHMARK(Unmarshal)->Apply(Cases);
BENCHMARK(UnmarshalInPlace)->Apply(Cases);
BENCHMARK(Memcpy)->Apply(Cases);

}  // namespace

BENCHMARK_MAIN();
