// table_bench.cpp -- insert and delete of N records in a table, beside
// std::map and boost::intrusive::avl_set holding the same keys (tenant,
// key, source) of the same records, in the same run.  Tables: non_aps_headers
// (unsigned 32-bit key) and tarnok_header_ids (31-character key); N from 1e3
// to 1e6.  Records and their field objects are made once per run; the timed
// parts insert all N records in a random order and then delete them in
// another.  Counters: insert_ns and delete_ns per operation (thread CPU time), allocs_in_ops
// (allocations made inside the timed index operations), bytes_per_record
// (live bytes the records and their field objects hold, per record) beside
// object_bytes (the sum of the record's and its field objects' sizes) and
// index_bytes (what the index adds per record: the record's AVL node, or the
// container node of std::map).
#include <benchmark/benchmark.h>
#include <boost/intrusive/avl_set.hpp>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_control_db.h"

namespace {

enum Which : int64_t { kNonAps = 0, kTarnok = 1 };

// The record's key object: the runtime's record head, one AVL node, then
// the field pointers; the key field of either table's key type.
constexpr uint32_t kFields = sizeof(qeldb_record_head_t) + sizeof(e_avl_node_t);

struct Str31 {
    char s[32];
    bool operator<(const Str31 &o) const { return std::strncmp(s, o.s, 31) < 0; }
};

struct Table {
    const char *name;
    void *(*open)(qel_handle_t *, uint32_t, const char *, uint32_t, uint32_t *);
    void *(*record)(qel_handle_t *, uint32_t);
    void (*insert)(qel_handle_t *, uint32_t, void *, void *, uint32_t *);
    void (*del)(qel_handle_t *, uint32_t, void *, void *, uint32_t *);
    void (*destroy)(qel_handle_t *, uint32_t, void *, uint32_t *);
    void (*free)(qel_handle_t *, uint32_t, void *, uint32_t *);
    uint32_t key_off;      // of the key inside the key object
    uint32_t object_bytes; // record and field objects
};

const Table kTables[] = {
    {"non_aps_headers", non_aps_headers_table_open, non_aps_headers_record_create_cr, non_aps_headers_insert,
     non_aps_headers_delete, non_aps_headers_destroy_record, non_aps_headers_table_free,
     offsetof(cc_ids, cc_slot), static_cast<uint32_t>(kFields + 8 + sizeof(cc_ids))},
    {"tarnok_header_ids", tarnok_header_ids_table_open, tarnok_header_ids_record_create_cr,
     tarnok_header_ids_insert, tarnok_header_ids_delete, tarnok_header_ids_destroy_record,
     tarnok_header_ids_table_free, offsetof(tarnok_rec_fields, dbkey),
     static_cast<uint32_t>(kFields + 16 + sizeof(tarnok_rec_fields) + sizeof(vep_tarnok_body))},
};

inline uint8_t *key_obj(void *rec) {
    uint8_t *o;
    std::memcpy(&o, static_cast<uint8_t *>(rec) + kFields, sizeof o);
    return o;
}

// Records of one table with distinct keys, and two random orders.
struct Population {
    qel_handle_t *h = qelrt_handle_new();
    uint32_t db;
    const Table &T;
    void *table;
    std::vector<void *> recs;
    std::vector<uint32_t> ins_order, del_order;
    double bytes_per_record = 0;

    Population(const Table &t, size_t n) : db(0), T(t) {
        qelrt_trace_capture(0);
        qelrt_handle_use_quarl(h, 1);
        uint32_t err = 0;
        table = T.open(h, db, "bench", 0, &err);
        const int64_t before = qelrt_live_bytes();
        recs.resize(n);
        for (size_t i = 0; i < n; ++i) {
            recs[i] = T.record(h, 1);
            uint8_t *k = key_obj(recs[i]) + T.key_off;
            const uint32_t v = static_cast<uint32_t>(i * 2654435761u);
            if (&T == &kTables[kTarnok])
                std::snprintf(reinterpret_cast<char *>(k), 32, "adapter/%010u/slot-bay-hdr", v);
            else
                std::memcpy(k, &v, 4);
        }
        bytes_per_record = double(qelrt_live_bytes() - before) / double(n);
        std::mt19937 rng(7);
        ins_order.resize(n);
        for (uint32_t i = 0; i < n; ++i) ins_order[i] = i;
        del_order = ins_order;
        std::shuffle(ins_order.begin(), ins_order.end(), rng);
        std::shuffle(del_order.begin(), del_order.end(), rng);
        if (err) std::abort();
    }
    ~Population() {
        uint32_t err = 0;
        for (void *r : recs) T.destroy(h, db, r, &err);
        T.free(h, db, table, &err);
        qelrt_handle_free(h);
        qelrt_trace_capture(1);
    }
};

struct Timing {
    double ins = 0, del = 0;
    uint64_t ops = 0, allocs = 0;
    void report(benchmark::State &s, const Population &p, double index_bytes) {
        s.counters["insert_ns"] = ins / double(ops);
        s.counters["delete_ns"] = del / double(ops);
        s.counters["allocs_in_ops"] = double(allocs);
        s.counters["bytes_per_record"] = p.bytes_per_record;
        s.counters["object_bytes"] = p.T.object_bytes;
        s.counters["index_bytes"] = index_bytes;
    }
};

// Thread CPU time of f, in nanoseconds: on a shared machine, time spent
// waiting for a processor is not the operation's.
inline double cpu_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}
template <class F>
double timed(F &&f) {
    const double t0 = cpu_ns();
    f();
    return cpu_ns() - t0;
}

// The table's own indexes.
void BM_Table(benchmark::State &state) {
    Population p(kTables[state.range(0)], static_cast<size_t>(state.range(1)));
    Timing t;
    uint32_t err = 0;
    for (auto _ : state) {
        const uint64_t a0 = qelrt_alloc_count();
        t.ins += timed([&] {
            for (uint32_t i : p.ins_order) p.T.insert(p.h, p.db, p.table, p.recs[i], &err);
        });
        t.del += timed([&] {
            for (uint32_t i : p.del_order) p.T.del(p.h, p.db, p.table, p.recs[i], &err);
        });
        t.allocs += qelrt_alloc_count() - a0;
        t.ops += p.recs.size();
        if (err) state.SkipWithError("table operation failed");
    }
    t.report(state, p, sizeof(e_avl_node_t));
}

// The key an index orders by, as the map holds it.
template <class K>
K map_key(const Population &p, void *rec) {
    const auto *h = static_cast<const qeldb_record_head_t *>(rec);
    const uint8_t *k = key_obj(rec) + p.T.key_off;
    if constexpr (std::is_same_v<K, std::tuple<uint16_t, uint32_t, uint8_t>>) {
        uint32_t v;
        std::memcpy(&v, k, 4);
        return {h->tenant_id, v, h->source};
    } else {
        Str31 s;
        std::memcpy(s.s, k, 32);
        return {h->tenant_id, s, h->source};
    }
}

template <class K>
void run_map(benchmark::State &state, Population &p) {
    Timing t;
    std::map<K, void *> m;
    for (auto _ : state) {
        const uint64_t a0 = qelrt_alloc_count();
        t.ins += timed([&] {
            for (uint32_t i : p.ins_order) m.emplace(map_key<K>(p, p.recs[i]), p.recs[i]);
        });
        t.del += timed([&] {
            for (uint32_t i : p.del_order) m.erase(map_key<K>(p, p.recs[i]));
        });
        t.allocs += qelrt_alloc_count() - a0;  // the map allocates through malloc, not the handle
        t.ops += p.recs.size();
    }
    // A red-black node: colour and three links (32 bytes) before the value.
    t.report(state, p, double(32 + sizeof(std::pair<const K, void *>)));
}

void BM_StdMap(benchmark::State &state) {
    Population p(kTables[state.range(0)], static_cast<size_t>(state.range(1)));
    if (state.range(0) == kNonAps)
        run_map<std::tuple<uint16_t, uint32_t, uint8_t>>(state, p);
    else
        run_map<std::tuple<uint16_t, Str31, uint8_t>>(state, p);
}

// boost::intrusive::avl_set over a node made beside each record once, ordered
// through the record the same way (tenant, key object through the field
// pointer, source).
struct BNode : boost::intrusive::avl_set_base_hook<> {
    void *rec;
    const Population *p;
};
template <bool Str>
struct BLess {
    bool operator()(const BNode &a, const BNode &b) const {
        const auto *ha = static_cast<const qeldb_record_head_t *>(a.rec);
        const auto *hb = static_cast<const qeldb_record_head_t *>(b.rec);
        if (ha->tenant_id != hb->tenant_id) return ha->tenant_id < hb->tenant_id;
        const uint8_t *ka = key_obj(a.rec) + a.p->T.key_off, *kb = key_obj(b.rec) + a.p->T.key_off;
        int c;
        if constexpr (Str) {
            c = std::strncmp(reinterpret_cast<const char *>(ka), reinterpret_cast<const char *>(kb), 31);
        } else {
            uint32_t x, y;
            std::memcpy(&x, ka, 4);
            std::memcpy(&y, kb, 4);
            c = (x > y) - (x < y);
        }
        if (c) return c < 0;
        return ha->source < hb->source;
    }
};

template <bool Str>
void run_avl(benchmark::State &state, Population &p) {
    std::vector<BNode> nodes(p.recs.size());
    for (size_t i = 0; i < nodes.size(); ++i) nodes[i].rec = p.recs[i], nodes[i].p = &p;
    boost::intrusive::avl_set<BNode, boost::intrusive::compare<BLess<Str>>> s;
    Timing t;
    for (auto _ : state) {
        t.ins += timed([&] {
            for (uint32_t i : p.ins_order) s.insert(nodes[i]);
        });
        t.del += timed([&] {
            for (uint32_t i : p.del_order) s.erase(s.find(nodes[i]));
        });
        t.ops += p.recs.size();
    }
    t.report(state, p, sizeof(boost::intrusive::avl_set_base_hook<>));
}

void BM_BoostAvl(benchmark::State &state) {
    Population p(kTables[state.range(0)], static_cast<size_t>(state.range(1)));
    if (state.range(0) == kNonAps)
        run_avl<false>(state, p);
    else
        run_avl<true>(state, p);
}

void Sizes(benchmark::internal::Benchmark *b) {
    for (int64_t which : {kNonAps, kTarnok})
        for (int64_t n : {1000, 10000, 100000, 1000000}) b->Args({which, n});
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}

BENCHMARK(BM_Table)->Apply(Sizes);
BENCHMARK(BM_StdMap)->Apply(Sizes);
BENCHMARK(BM_BoostAvl)->Apply(Sizes);

}  // namespace
