// main.cpp -- the benchmark binary's entry point and the shared support of
// bench.h: handles, work counting, and the ratio summary printed after the
// console report (a Markdown table, ready for RESULTS.md).
//
// With --benchmark_repetitions=N a case's time is the median of its
// repetitions; a ratio is only formed from two cases of the same run.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "bench.h"
#include "qel/rt_control.h"

namespace lbench {

Handle::Handle(bool track) : h(qelrt_handle_new()), db(0) {
    if (!h) std::abort();
    qelrt_trace_capture(0);
    qelrt_handle_use_pool(h, 1);
    qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : QEL_CHECK_PLAIN);
    db = h->database_id;
}

Handle::~Handle() {
    qelrt_handle_free(h);
    qelrt_trace_capture(1);
}

Work Count(const std::function<void()> &fn) {
    qelrt_calls_clear();
    qelrt_calls_log(1);
    const uint64_t a0 = qelrt_alloc_count();
    fn();
    Work w;
    w.allocs = qelrt_alloc_count() - a0;
    w.calls = qelrt_call_total();
    w.writes = qelrt_write_count();
    qelrt_calls_log(0);
    qelrt_calls_clear();
    return w;
}

void PerElement(benchmark::State &st, const Work &w, uint32_t elems) {
    const double n = elems ? elems : 1;
    st.counters["allocs/elem"] = double(w.allocs) / n;
    st.counters["rtcalls/elem"] = double(w.calls) / n;
    st.counters["writes/elem"] = double(w.writes) / n;
}

namespace {

struct Ratio {
    std::string what, num, den;
    double target, aim;
};

std::vector<Ratio> &Ratios() {
    static std::vector<Ratio> r;
    return r;
}

// Keeps the console report and collects each case's CPU time per
// iteration, in nanoseconds.
class Reporter : public benchmark::ConsoleReporter {
public:
    explicit Reporter(OutputOptions opts) : ConsoleReporter(opts) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.error_occurred) continue;
            const double ns = r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e9;
            const std::string name = r.run_name.str();
            if (r.run_type == Run::RT_Iteration)
                times_[name].push_back(ns);
            else if (r.aggregate_name == "median")
                median_[name] = ns;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        if (Ratios().empty()) return;
        std::printf("\n| comparison | lomari | reference | ratio | target | aim | |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---|\n");
        for (const Ratio &r : Ratios()) {
            const double a = Time(r.num), b = Time(r.den);
            if (a <= 0 || b <= 0) continue;  // filtered out of this run
            const double q = a / b;
            const char *mark = q <= r.target ? (r.aim > 0 && q <= r.aim ? "aim met" : "met") : "MISSED";
            std::printf("| %s | %s | %s | %.2fx | %.3gx | ", r.what.c_str(), Fmt(a).c_str(), Fmt(b).c_str(), q,
                        r.target);
            if (r.aim > 0)
                std::printf("%.3gx | %s |\n", r.aim, mark);
            else
                std::printf("- | %s |\n", mark);
        }
        std::fflush(stdout);
    }

private:
    double Time(const std::string &name) {
        if (auto it = median_.find(name); it != median_.end()) return it->second;
        auto it = times_.find(name);
        if (it == times_.end() || it->second.empty()) return 0;
        std::vector<double> v = it->second;
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    }
    static std::string Fmt(double ns) {
        char b[32];
        if (ns >= 1e4)
            std::snprintf(b, sizeof b, "%.2f us", ns / 1e3);
        else
            std::snprintf(b, sizeof b, "%.0f ns", ns);
        return b;
    }

    std::map<std::string, std::vector<double>> times_;
    std::map<std::string, double> median_;
};

}  // namespace

int AddRatio(const char *what, std::string num, std::string den, double target, double aim) {
    Ratios().push_back({what, std::move(num), std::move(den), target, aim});
    return 0;
}

}  // namespace lbench

// Colour as the library's own console reporter chooses it: on a terminal,
// unless --benchmark_color says otherwise.
benchmark::ConsoleReporter::OutputOptions Options(int argc, char **argv) {
    bool color = isatty(STDOUT_FILENO) != 0;
    const std::string flag = "--benchmark_color=";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind(flag, 0) != 0) continue;
        const std::string v = a.substr(flag.size());
        color = v == "true" || v == "yes" || v == "1" || v == "always" || (v == "auto" && color);
    }
    return color ? benchmark::ConsoleReporter::OO_ColorTabular : benchmark::ConsoleReporter::OO_Tabular;
}

int main(int argc, char **argv) {
    const auto options = Options(argc, argv);  // before Initialize takes the flags out
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    lbench::Reporter rep(options);
    benchmark::RunSpecifiedBenchmarks(&rep);
    benchmark::Shutdown();
    return 0;
}
