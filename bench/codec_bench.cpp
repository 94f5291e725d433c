// codec_bench.cpp -- the binary encoding of the bodies that carry the most
// data (codec_shapes.h), on a plain and on a state-tracking handle
// allocating from the runtime's pool, as a platform process does; memcpy of
// the same bytes runs beside it as the floor, and the reference encoding
// (codec_ref_bench.cpp) as the yardstick.  The summary's ratios are
// declared at the end.
//
// Cases, each per shape:
//   marshal            the body into a buffer
//   roundtrip_new      marshal, then unmarshal into a new object (created
//                      and destroyed in the loop): a sender and a receiver
//   unmarshal_new      unmarshal alone into a new object
//   unmarshal_inplace  unmarshal over an object that has the same elements
//   memcpy             copying the encoded bytes
// The decoding cases also report the runtime's work per element
// (allocations, runtime calls, write-hook announcements), counted on one
// extra, unobserved-by-the-timer decode.
#include <cstring>
#include <vector>

#include "bench.h"
#include "codec_fill.h"

namespace lbench {
namespace {

using H = qel_handle_t *;
using U = uint32_t;
constexpr U kRoom = 1u << 16;

// A body's codec entry points with the object type erased.
struct Ops {
    U (*marshal)(H, U, uint8_t *, const void *, U, U *);
    U (*unmarshal)(H, U, const uint8_t *, void *, U, U, U *);
    void *(*create)(H, U);
    void (*destroy)(H, U, void *);
};

template <class T, auto M, auto Un, auto C, auto D>
constexpr Ops Erase() {
    return {[](H h, U db, uint8_t *b, const void *o, U n, U *e) { return M(h, db, b, static_cast<const T *>(o), n, e); },
            [](H h, U db, const uint8_t *b, void *o, U n, U ip, U *e) {
                return Un(h, db, b, static_cast<T *>(o), n, ip, e);
            },
            [](H h, U db) -> void * { return C(h, db); },
            [](H h, U db, void *o) { D(h, db, static_cast<T *>(o)); }};
}

constexpr Ops kTarnokOps = Erase<vep_tarnok_body, vep_tarnok_body_marshal, vep_tarnok_body_unmarshal,
                                 vep_tarnok_body_create, vep_tarnok_body_destroy>();
constexpr Ops kCcOps = Erase<cc_ids, cc_ids_marshal, cc_ids_unmarshal, cc_ids_create, cc_ids_destroy>();
constexpr Ops kShimOps =
    Erase<if_shim_body, if_shim_body_marshal, if_shim_body_unmarshal, if_shim_body_create, if_shim_body_destroy>();

void *MakeTarnok(H h, U db, U n, U *err) {
    vep_tarnok_body *o = vep_tarnok_body_create(h, db);
    FillTarnok(h, db, o, n, err);
    return o;
}

void *MakeCcIds(H h, U db, U n, U *err) {
    using V = CcValues;
    cc_ids *o = cc_ids_create(h, db);
    cc_ids_cc_slot_set_value(h, db, o, V::kSlot, err);
    cc_pair *p = cc_pair_create(h, db);
    for (U k = n; k-- > 0;) {  // highest index first: the block grows once
        cc_pair_lower_bits_set_value(h, db, p, V::LowerBits(k), err);
        cc_pair_leased_set_value(h, db, p, V::Leased(k), err);
        cc_ids_pairs_set(h, db, o, k, p, err);
    }
    cc_pair_destroy(h, db, p);
    return o;
}

void *MakeShim(H h, U db, U, U *err) {
    if_shim_body *o = if_shim_body_create(h, db);
    FillShim(h, db, o, err);
    return o;
}

// One filled body and its encoding, on a handle of its own.
struct Sample {
    Handle hd;
    const Shape &shape;
    Ops ops;
    void *obj = nullptr;
    std::vector<uint8_t> wire = std::vector<uint8_t>(kRoom);
    U len = 0;

    Sample(const Shape &s, bool track) : hd(track), shape(s) {
        U err = 0;
        switch (s.body) {
        case Body::kTarnok: ops = kTarnokOps, obj = MakeTarnok(hd.h, hd.db, s.elems, &err); break;
        case Body::kCcIds: ops = kCcOps, obj = MakeCcIds(hd.h, hd.db, s.elems, &err); break;
        case Body::kIfShim: ops = kShimOps, obj = MakeShim(hd.h, hd.db, s.elems, &err); break;
        }
        len = Marshal(wire.data(), &err);
        if (err || !len) std::abort();
    }
    ~Sample() { ops.destroy(hd.h, hd.db, obj); }

    U Marshal(uint8_t *out, U *err) const { return ops.marshal(hd.h, hd.db, out, obj, kRoom, err); }
    // A new object decoded from buf, destroyed again.
    U DecodeNew(const uint8_t *buf, U *err) const {
        void *o = ops.create(hd.h, hd.db);
        U n = ops.unmarshal(hd.h, hd.db, buf, o, len, 0, err);
        ops.destroy(hd.h, hd.db, o);
        return n;
    }
    void Label(benchmark::State &st) const {
        st.SetBytesProcessed(int64_t(st.iterations()) * len);
        st.counters["bytes"] = len;
    }
};

void Marshal(benchmark::State &st, const Shape &s, bool track) {
    Sample smp(s, track);
    std::vector<uint8_t> out(kRoom);
    U err = 0;
    for (auto _ : st) {
        benchmark::DoNotOptimize(smp.Marshal(out.data(), &err));
        benchmark::ClobberMemory();
    }
    if (err) st.SkipWithError("marshal failed");
    smp.Label(st);
}

void RoundtripNew(benchmark::State &st, const Shape &s, bool track) {
    Sample smp(s, track);
    std::vector<uint8_t> out(kRoom);
    U err = 0;
    for (auto _ : st) {
        smp.Marshal(out.data(), &err);
        benchmark::DoNotOptimize(smp.DecodeNew(out.data(), &err));
    }
    if (err) st.SkipWithError("round trip failed");
    PerElement(st, Count([&] { smp.DecodeNew(out.data(), &err); }), s.elems);
    smp.Label(st);
}

void UnmarshalNew(benchmark::State &st, const Shape &s, bool track) {
    Sample smp(s, track);
    U err = 0;
    for (auto _ : st) benchmark::DoNotOptimize(smp.DecodeNew(smp.wire.data(), &err));
    if (err) st.SkipWithError("decode failed");
    PerElement(st, Count([&] { smp.DecodeNew(smp.wire.data(), &err); }), s.elems);
    smp.Label(st);
}

void UnmarshalInPlace(benchmark::State &st, const Shape &s, bool track) {
    Sample smp(s, track);
    H h = smp.hd.h;
    U db = smp.hd.db, err = 0;
    void *o = smp.ops.create(h, db);
    smp.ops.unmarshal(h, db, smp.wire.data(), o, smp.len, 0, &err);
    for (auto _ : st) {
        benchmark::DoNotOptimize(smp.ops.unmarshal(h, db, smp.wire.data(), o, smp.len, 1, &err));
        benchmark::ClobberMemory();
    }
    if (err) st.SkipWithError("decode failed");
    PerElement(st, Count([&] { smp.ops.unmarshal(h, db, smp.wire.data(), o, smp.len, 1, &err); }), s.elems);
    smp.ops.destroy(h, db, o);
    smp.Label(st);
}

void Memcpy(benchmark::State &st, const Shape &s) {
    Sample smp(s, false);
    std::vector<uint8_t> out(kRoom);
    for (auto _ : st) {
        std::memcpy(out.data(), smp.wire.data(), smp.len);
        benchmark::ClobberMemory();
    }
    smp.Label(st);
}

int Register() {
    for (const Shape &s : kShapes) {
        for (bool track : {false, true}) {
            const char *side = track ? "lomari_track" : "lomari";
            benchmark::RegisterBenchmark(CaseName("marshal", side, s).c_str(), Marshal, s, track);
            benchmark::RegisterBenchmark(CaseName("roundtrip_new", side, s).c_str(), RoundtripNew, s, track);
            benchmark::RegisterBenchmark(CaseName("unmarshal_new", side, s).c_str(), UnmarshalNew, s, track);
            benchmark::RegisterBenchmark(CaseName("unmarshal_inplace", side, s).c_str(), UnmarshalInPlace, s, track);
        }
        benchmark::RegisterBenchmark(CaseName("memcpy", "floor", s).c_str(), Memcpy, s);
    }
    return 0;
}

// Each comparison of the summary: lomari against the reference encoding
// measured in the same run, and marshal against memcpy of its output.
int Declare() {
    auto vs = [](const char *what, const char *op, const char *ref_op, const Shape &s, double target, double aim) {
        AddRatio(what, CaseName(op, "lomari", s), CaseName(ref_op, "protobuf", s), target, aim);
    };
    for (const Shape &s : kShapes) {
        const std::string n = s.name;
        vs(("marshal + unmarshal into a new object, " + n).c_str(), "roundtrip_new", "roundtrip_new", s, 0.6,
           0.5);
        vs(("unmarshal into a new object, " + n).c_str(), "unmarshal_new", "parse_new", s, 1.0, 0.5);
        vs(("unmarshal in place / parse into a reused message, " + n).c_str(), "unmarshal_inplace",
           "parse_reused", s, 1.0, 0);
        vs(("marshal / serialize, " + n).c_str(), "marshal", "serialize", s, 1.0, 0);
        AddRatio(("marshal / memcpy of its output, " + n).c_str(), CaseName("marshal", "lomari", s),
                 CaseName("memcpy", "floor", s), 6.0, 5.0);
    }
    return 0;
}

const int kRegistered = Register() + Declare();

}  // namespace
}  // namespace lbench
