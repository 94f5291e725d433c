// bench.h -- what every family's benchmark file shares: a handle set up as
// a platform process has one, a pass that counts the runtime's work for
// one run of a case, and the ratios shown in the closing summary.
//
// A family adds a file <family>_bench.cpp beside this one (the build picks
// up every *_bench.cpp), registers its cases with benchmark::
// RegisterBenchmark or BENCHMARK, and declares the comparisons it cares
// about with AddRatio; the summary after the run divides the CPU time of
// one case by that of another, both measured in the same run.
#ifndef LOMARI_BENCH_H
#define LOMARI_BENCH_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>

#include "lomari/lomari.h"

namespace lbench {

// A handle allocating from the runtime's pool, with trace capture and call
// logging off; track turns the state-tracking check record on.
class Handle {
public:
    explicit Handle(bool track);
    ~Handle();
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    qel_handle_t *h;
    uint32_t db;
};

// What one call of fn asked of the runtime: allocations through alloc_fn
// (as qelrt_alloc_count counts them), runtime calls and write-hook
// announcements (as the call and write logs see them).  Logging is on only
// for this one call, so the timed loops run unobserved.
struct Work {
    uint64_t allocs = 0;
    uint64_t calls = 0;
    uint64_t writes = 0;
};
Work Count(const std::function<void()> &fn);

// Puts allocs, calls and writes per element on the case's counters.
void PerElement(benchmark::State &st, const Work &w, uint32_t elems);

// The summary line "what": CPU time of case num over CPU time of case den
// (full benchmark names), against the target the ratio must not exceed
// and the aim below it (0: none).  Returns 0, for use in a static
// initialiser.
int AddRatio(const char *what, std::string num, std::string den, double target, double aim);

}  // namespace lbench

#endif
