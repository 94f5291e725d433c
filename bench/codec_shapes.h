// codec_shapes.h -- the bodies the codec benchmarks move, and the values
// in them, shared by the lomari side (codec_bench.cpp) and the reference
// side (codec_ref_bench.cpp) so that both carry the same data.
#ifndef LOMARI_BENCH_CODEC_SHAPES_H
#define LOMARI_BENCH_CODEC_SHAPES_H

#include <cstdint>
#include <string>

namespace lbench {

enum class Body { kTarnok, kCcIds, kIfShim };

// One shape: a body with a number of elements (mappings, pairs; 1 for a
// flat body).  Its name is the last part of every case name.
struct Shape {
    const char *name;
    Body body;
    uint32_t elems;
};

inline constexpr Shape kShapes[] = {
    {"vep_tarnok_body/8", Body::kTarnok, 8},
    {"vep_tarnok_body/64", Body::kTarnok, 64},
    {"cc_ids/256", Body::kCcIds, 256},
    {"if_shim_body", Body::kIfShim, 1},
};

// Case names: "codec/<operation>/<side>/<shape>".
inline std::string CaseName(const char *op, const char *side, const Shape &s) {
    return std::string("codec/") + op + "/" + side + "/" + s.name;
}

// The values every body carries.
struct TarnokValues {
    static constexpr uint32_t kSlot = 3, kBay = 1, kVepType = 0x10, kScheme = 2;
    static uint32_t Port(uint32_t i) { return i; }
    static uint32_t HeaderId(uint32_t i) { return 0x4000 + i; }
    static uint32_t Pri(uint32_t i) { return i % 3; }
};
struct CcValues {
    static constexpr uint32_t kSlot = 7;
    static uint32_t LowerBits(uint32_t k) { return k & 0xFF; }
    static uint32_t Leased(uint32_t k) { return k & 1; }
};
struct ShimValues {
    static constexpr uint32_t kKalvi = 0x1234, kSlot = 3, kBay = 1, kPort = 12, kVc = 100, kFlow = 2,
                              kConnection = 0x777;
};

}  // namespace lbench

#endif
