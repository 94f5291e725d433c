// codec_ref_bench.cpp -- the reference encoding on the same shapes and
// values as codec_bench.cpp: protoc-generated C++ for shapes.proto.
//
// Cases, each per shape:
//   serialize      the message into a buffer (its size computed first, as
//                  a sender must)
//   roundtrip_new  serialize, then parse into a fresh message that dies at
//                  the end of the iteration
//   parse_new      parse alone into a fresh message
//   parse_reused   parse into one message that is cleared and reused, so
//                  its repeated elements keep their memory
#include <vector>

#include "bench.h"
#include "codec_shapes.h"
#include "shapes.pb.h"

namespace lbench {
namespace {

namespace pb = lomari_bench;

void Fill(pb::VepTarnokBody *m, uint32_t n) {
    using V = TarnokValues;
    m->set_slot_number(V::kSlot);
    m->set_bay_number(V::kBay);
    m->set_vep_type(V::kVepType);
    m->set_scheme(V::kScheme);
    for (uint32_t i = 0; i < n; ++i) {
        pb::Spi4Mapping *e = m->add_spi4_id_mappings();
        e->set_portnum(V::Port(i));
        e->set_header_id(V::HeaderId(i));
        e->set_pri(static_cast<pb::Spi4Priority>(V::Pri(i)));
    }
}

void Fill(pb::CcIds *m, uint32_t n) {
    using V = CcValues;
    m->set_cc_slot(V::kSlot);
    for (uint32_t k = 0; k < n; ++k) {
        pb::CcPair *e = m->add_pairs();
        e->set_lower_bits(V::LowerBits(k));
        e->set_leased(V::Leased(k));
    }
}

void Fill(pb::IfShimBody *m, uint32_t) {
    using V = ShimValues;
    m->set_kalvi_id(V::kKalvi);
    m->set_slot(V::kSlot);
    m->set_bay(V::kBay);
    m->set_port(V::kPort);
    m->set_vc(V::kVc);
    m->set_flow_control(static_cast<pb::OrvFlowctrl>(V::kFlow));
    m->set_connection_id(V::kConnection);
}

// One filled message and its encoding.
template <class M>
struct Sample {
    M msg;
    std::vector<uint8_t> wire;

    explicit Sample(const Shape &s) {
        Fill(&msg, s.elems);
        wire.resize(msg.ByteSizeLong());
        if (!msg.SerializeToArray(wire.data(), int(wire.size()))) std::abort();
    }
    int Serialize(uint8_t *out, size_t room) const {
        const size_t n = msg.ByteSizeLong();
        return n <= room && msg.SerializeToArray(out, int(n)) ? int(n) : -1;
    }
    void Label(benchmark::State &st) const {
        st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(wire.size()));
        st.counters["bytes"] = double(wire.size());
    }
};

template <class M>
void Serialize(benchmark::State &st, const Shape &s) {
    Sample<M> smp(s);
    std::vector<uint8_t> out(1u << 16);
    for (auto _ : st) {
        benchmark::DoNotOptimize(smp.Serialize(out.data(), out.size()));
        benchmark::ClobberMemory();
    }
    smp.Label(st);
}

template <class M>
void RoundtripNew(benchmark::State &st, const Shape &s) {
    Sample<M> smp(s);
    std::vector<uint8_t> out(1u << 16);
    bool ok = true;
    for (auto _ : st) {
        const int n = smp.Serialize(out.data(), out.size());
        M fresh;
        ok &= fresh.ParseFromArray(out.data(), n);
        benchmark::DoNotOptimize(fresh);
    }
    if (!ok) st.SkipWithError("parse failed");
    smp.Label(st);
}

template <class M>
void ParseNew(benchmark::State &st, const Shape &s) {
    Sample<M> smp(s);
    bool ok = true;
    for (auto _ : st) {
        M fresh;
        ok &= fresh.ParseFromArray(smp.wire.data(), int(smp.wire.size()));
        benchmark::DoNotOptimize(fresh);
    }
    if (!ok) st.SkipWithError("parse failed");
    smp.Label(st);
}

template <class M>
void ParseReused(benchmark::State &st, const Shape &s) {
    Sample<M> smp(s);
    M reused;
    bool ok = true;
    for (auto _ : st) {
        ok &= reused.ParseFromArray(smp.wire.data(), int(smp.wire.size()));  // clears first
        benchmark::DoNotOptimize(reused);
        benchmark::ClobberMemory();
    }
    if (!ok) st.SkipWithError("parse failed");
    smp.Label(st);
}

template <class M>
void RegisterShape(const Shape &s) {
    benchmark::RegisterBenchmark(CaseName("serialize", "protobuf", s).c_str(), Serialize<M>, s);
    benchmark::RegisterBenchmark(CaseName("roundtrip_new", "protobuf", s).c_str(), RoundtripNew<M>, s);
    benchmark::RegisterBenchmark(CaseName("parse_new", "protobuf", s).c_str(), ParseNew<M>, s);
    benchmark::RegisterBenchmark(CaseName("parse_reused", "protobuf", s).c_str(), ParseReused<M>, s);
}

int Register() {
    for (const Shape &s : kShapes) {
        switch (s.body) {
        case Body::kTarnok: RegisterShape<pb::VepTarnokBody>(s); break;
        case Body::kCcIds: RegisterShape<pb::CcIds>(s); break;
        case Body::kIfShim: RegisterShape<pb::IfShimBody>(s); break;
        }
    }
    return 0;
}

const int kRegistered = Register();

}  // namespace
}  // namespace lbench
