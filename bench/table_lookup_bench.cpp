// table_lookup_bench.cpp -- lookups in a table of N records beside std::map
// holding the same keys, in the same run: exact search (std::map::find),
// nearest search at a key between two records (lower_bound), one step to
// the next record (++iterator) and a walk of the whole index in key order
// (iteration).  Tables: non_aps_headers (unsigned 32-bit key) and
// tarnok_header_ids (31-character key); N from 1e3 to 1e6.  Figures are
// nanoseconds per lookup; allocs_per_lookup counts the allocations the
// lookups made through the runtime (it must be 0).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench.h"
#include "qel/rt_control.h"

namespace lbench {
namespace {

using H = qel_handle_t *;
using U = uint32_t;

struct Key31 {
    char s[32];
    bool operator<(const Key31 &o) const { return std::strncmp(s, o.s, 31) < 0; }
};

// The key of record i, spaced by 2 so that odd values fall between records.
U Key32(size_t i) { return U(i) * 2 + 2; }
// The same for 31-character keys (zero-padded, so they sort as the numbers);
// between = true gives the odd key just after record i's.
Key31 KeyStr(size_t i, bool between = false) {
    Key31 k{};
    std::snprintf(k.s, sizeof k.s, "adapter/%010u/slot-bay-hdr", unsigned(i * 2 + 2 + between));
    return k;
}

// One populated table of each kind and size, shared by the cases of a run.
struct Population {
    H h = qelrt_handle_new();
    U db = 0;
    bool str;
    void *table = nullptr;
    std::vector<void *> recs;
    std::map<U, void *> map32;
    std::map<Key31, void *> map31;

    Population(bool is_str, size_t n) : str(is_str), recs(n) {
        qelrt_trace_capture(0);
        qelrt_handle_use_quarl(h, 1);
        U err = 0;
        table = str ? tarnok_header_ids_table_open(h, db, "lookup", 0, &err)
                    : non_aps_headers_table_open(h, db, "lookup", 0, &err);
        for (size_t i = 0; i < n; ++i) {
            if (str) {
                void *r = tarnok_header_ids_record_create_cr(h, 1);
                const Key31 k = KeyStr(i);
                tarnok_rec_fields_dbkey_set(h, db, tarnok_header_ids_tarnok_rec_fields_get_field(h, db, r), k.s,
                                            U(std::strlen(k.s)), &err);
                tarnok_header_ids_insert(h, db, table, r, &err);
                map31.emplace(k, r);
                recs[i] = r;
            } else {
                void *r = non_aps_headers_record_create_cr(h, 1);
                cc_ids_cc_slot_set_value(h, db, non_aps_headers_cc_ids_get_field(h, db, r), Key32(i), &err);
                non_aps_headers_insert(h, db, table, r, &err);
                map32.emplace(Key32(i), r);
                recs[i] = r;
            }
        }
        if (err) std::abort();
    }
    ~Population() {
        U err = 0;
        for (void *r : recs) str ? tarnok_header_ids_destroy_record(h, db, r, &err) : non_aps_headers_destroy_record(h, db, r, &err);
        str ? tarnok_header_ids_table_free(h, db, table, &err) : non_aps_headers_table_free(h, db, table, &err);
        qelrt_handle_free(h);
        qelrt_trace_capture(1);
    }
};

// One population alive at a time (the largest is large), kept while the
// cases of one table and size run.
Population &Pop(bool str, size_t n) {
    static std::unique_ptr<Population> current;
    static std::pair<bool, size_t> made{};
    if (!current || made != std::make_pair(str, n)) {
        current.reset();
        current = std::make_unique<Population>(str, n);
        made = {str, n};
    }
    return *current;
}

// Probe order: record indexes in a random order.
std::vector<size_t> Order(size_t n) {
    std::vector<size_t> o(n);
    for (size_t i = 0; i < n; ++i) o[i] = i;
    std::shuffle(o.begin(), o.end(), std::mt19937(11));
    return o;
}

enum Op { kExact, kNearest, kNext, kWalk };

void Lookup(benchmark::State &st, bool str, Op op, bool table_side) {
    const size_t n = size_t(st.range(0));
    Population &p = Pop(str, n);
    const std::vector<size_t> order = Order(n);
    H h = p.h;
    U db = p.db, err = 0;
    size_t i = 0;
    uint64_t lookups = 0;
    const uint64_t allocs0 = qelrt_alloc_count();
    void *sink = nullptr;
    for (auto _ : st) {
        const size_t k = order[i++ % n];
        if (op == kWalk) {
            // One whole walk per iteration, counted per record.
            if (table_side) {
                for (void *r = str ? tarnok_header_ids_tarnok_rec_fields_dbkey_get_first(h, db, p.table, &err)
                                   : non_aps_headers_cc_ids_cc_slot_get_first(h, db, p.table, &err);
                     r; r = str ? tarnok_header_ids_tarnok_rec_fields_dbkey_get_next(h, db, p.table, r, &err)
                                : non_aps_headers_cc_ids_cc_slot_get_next(h, db, p.table, r, &err))
                    sink = r;
            } else if (str) {
                for (auto &e : p.map31) sink = e.second;
            } else {
                for (auto &e : p.map32) sink = e.second;
            }
            lookups += n;
        } else if (table_side) {
            if (str) {
                const Key31 key = KeyStr(k, op == kNearest);
                if (op == kExact) sink = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, p.table, key.s, &err);
                if (op == kNearest) sink = tarnok_header_ids_tarnok_rec_fields_dbkey_search_nearest(h, db, p.table, key.s, &err);
                if (op == kNext) sink = tarnok_header_ids_tarnok_rec_fields_dbkey_get_next(h, db, p.table, p.recs[k], &err);
            } else {
                const U key = Key32(k) + (op == kNearest);
                if (op == kExact) sink = non_aps_headers_cc_ids_cc_slot_search(h, db, p.table, &key, &err);
                if (op == kNearest) sink = non_aps_headers_cc_ids_cc_slot_search_nearest(h, db, p.table, &key, &err);
                if (op == kNext) sink = non_aps_headers_cc_ids_cc_slot_get_next(h, db, p.table, p.recs[k], &err);
            }
            ++lookups;
        } else {
            if (str) {
                const Key31 key = KeyStr(k, op == kNearest);
                auto it = op == kExact ? p.map31.find(key) : p.map31.lower_bound(key);
                if (op == kNext) ++it;
                sink = it == p.map31.end() ? nullptr : it->second;
            } else {
                const U key = Key32(k) + (op == kNearest);
                auto it = op == kExact ? p.map32.find(key) : p.map32.lower_bound(key);
                if (op == kNext) ++it;
                sink = it == p.map32.end() ? nullptr : it->second;
            }
            ++lookups;
        }
        benchmark::DoNotOptimize(sink);
    }
    if (err) st.SkipWithError("lookup failed");
    st.counters["ns_per_lookup"] = benchmark::Counter(double(lookups), benchmark::Counter::kIsRate |
                                                                          benchmark::Counter::kInvert);
    st.counters["allocs_per_lookup"] = double(qelrt_alloc_count() - allocs0) / double(lookups ? lookups : 1);
}

std::string Name(bool str, Op op, bool table_side, size_t n) {
    static const char *const ops[] = {"exact", "nearest", "next", "walk"};
    return std::string("table_lookup/") + ops[op] + "/" + (table_side ? (str ? "tarnok_header_ids" : "non_aps_headers")
                                                                      : (str ? "std_map_str31" : "std_map_u32")) +
           "/" + std::to_string(n);
}

int Register() {
    for (bool str : {false, true})
        for (size_t n : {1000, 10000, 100000, 1000000})
            for (Op op : {kExact, kNearest, kNext, kWalk}) {
                for (bool side : {true, false})
                    benchmark::RegisterBenchmark(Name(str, op, side, n).c_str(), Lookup, str, op, side)->Arg(int64_t(n));
                // Goals: a walk at most 2x a map iteration (aim 1.2x), a search at most 1.2x a map find (aim 1x).
                const double target = op == kWalk ? 2.0 : op == kNext ? 0 : 1.2;
                const double aim = op == kWalk ? 1.2 : 1.0;
                if (target > 0)
                    AddRatio(("table lookup / std::map, " + Name(str, op, true, n).substr(13)).c_str(),
                             Name(str, op, true, n) + "/" + std::to_string(n), Name(str, op, false, n) + "/" + std::to_string(n),
                             target, aim);
            }
    return 0;
}

const int kRegistered = Register();

}  // namespace
}  // namespace lbench
