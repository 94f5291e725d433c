// cpp_bench.cpp -- the C++ interface (lomari/lomari.hpp) beside the C calls
// it wraps, in the same run, on the same handle and data:
//   roundtrip  a message encoded into a buffer and decoded into a new
//              message, then destroyed (C: marshal, unmarshal_only,
//              destroy; C++: encode, decode, the wrapper going);
//   dispatch   an envelope received and handed to the handler of its
//              message type out of nine (C: the identifier at byte 27
//              compared with each message's in turn, as a receiver written
//              in C does, then that message's unmarshal with a handler
//              that destroys it; C++: lomari::dispatch with nine lambdas);
//   lookup     exact searches and a whole walk of a table of 10,000
//              records (C: the index search and get_first/get_next; C++:
//              find and range-for), by 31-character and 32-bit keys.
// The summary's "C++ / C" rows must stay within 1.05.
#include <cstring>
#include <string>
#include <vector>

#include "bench.h"
#include "codec_fill.h"
#include "lomari/lomari.hpp"
#include "lomari/lomari_catalogue.h"

namespace lbench {
namespace {

using H = qel_handle_t *;
using U = uint32_t;

std::string Name(const char *what, const char *side, const std::string &shape) {
    return std::string("cpp/") + what + "/" + side + "/" + shape;
}
void Ratio(const char *what, const std::string &shape) {
    AddRatio(("C++ / C, " + std::string(what) + " " + shape).c_str(), Name(what, "cpp", shape),
             Name(what, "c", shape), 1.05, 0);
}

// One message of either shape, made through the C++ classes.
struct Sent {
    lomari::Handle h;
    std::vector<std::byte> wire;
    explicit Sent(bool tarnok) {
        qelrt_handle_use_pool(h.get(), 1);
        U err = 0;
        if (tarnok) {
            lomari::VepTarnokHeaders m(h);
            FillTarnok(h.get(), h.database(), m.body().get(), 8, &err);
            wire = m.encode();
        } else {
            lomari::ImVepFctrl m(h);
            for (U i = 0; i < 16; ++i) {
                lomari::VepFlowidMapping e(h);
                e.set_portnum(i);
                e.set_flow_id(0x100 + i);
                m.body().vep_flowid_mappings().push_back(std::move(e));
            }
            wire = m.encode();
        }
    }
};

void RoundTripC(benchmark::State &st) {
    Sent s(true);
    H h = s.h.get();
    U db = s.h.database(), err = 0;
    vep_tarnok_headers_message *m = nullptr;
    vep_tarnok_headers_message_unmarshal_only(h, db, &m, reinterpret_cast<const uint8_t *>(s.wire.data()),
                                              U(s.wire.size()), &err);
    std::vector<uint8_t> buf(s.wire.size());
    for (auto _ : st) {
        const U n = vep_tarnok_headers_message_marshal(h, db, buf.data(), m, U(buf.size()), &err);
        vep_tarnok_headers_message *got = nullptr;
        vep_tarnok_headers_message_unmarshal_only(h, db, &got, buf.data(), n, &err);
        benchmark::DoNotOptimize(got);
        vep_tarnok_headers_message_destroy(h, db, got);
    }
    vep_tarnok_headers_message_destroy(h, db, m);
    if (err) st.SkipWithError("C round trip failed");
}

void RoundTripCpp(benchmark::State &st) {
    Sent s(true);
    const lomari::VepTarnokHeaders m = lomari::VepTarnokHeaders::decode(s.h, s.wire);
    std::vector<std::byte> buf(s.wire.size());
    std::error_code ec;
    for (auto _ : st) {
        const U n = m.encode(buf, ec);
        lomari::VepTarnokHeaders got = lomari::VepTarnokHeaders::decode(s.h, std::span(buf).first(n), ec);
        benchmark::DoNotOptimize(got.get());
    }
    if (ec) st.SkipWithError("C++ round trip failed");
}

// The C receiver: one row per message, its identifier and its unmarshal
// with a handler that destroys what it receives.
using Unmarshal = U (*)(H, U, const uint8_t *, U, U *);
template <class M, U (*Fn)(H, U, uint64_t, M **, const uint8_t *, U, void (*)(H, U, uint64_t, M *, U *), U *),
          void (*Destroy)(H, U, M *)>
U ReceiveC(H h, U db, const uint8_t *b, U n, U *err) {
    return Fn(h, db, 0, nullptr, b, n, [](H hh, U d, uint64_t, M *m, U *) { Destroy(hh, d, m); }, err);
}
#define LOMARI_RECEIVER(n) \
    {message_##n##_luid, ReceiveC<n##_message, n##_message_unmarshal, n##_message_destroy>},
struct Receiver {
    const uint8_t *luid;
    Unmarshal receive;
};
const Receiver kReceivers[] = {LOMARI_FOR_EACH_MESSAGE(LOMARI_RECEIVER)};

void DispatchC(benchmark::State &st, bool tarnok) {
    Sent s(tarnok);
    H h = s.h.get();
    U db = s.h.database(), err = 0;
    const uint8_t *b = reinterpret_cast<const uint8_t *>(s.wire.data());
    const U n = U(s.wire.size());
    for (auto _ : st) {
        for (const Receiver &r : kReceivers)
            if (std::memcmp(b + 27, r.luid, 16) == 0) {
                benchmark::DoNotOptimize(r.receive(h, db, b, n, &err));
                break;
            }
    }
    if (err) st.SkipWithError("C dispatch failed");
}

void DispatchCpp(benchmark::State &st, bool tarnok) {
    Sent s(tarnok);
    std::error_code ec;
    int seen = 0;
    for (auto _ : st) {
        [&]<class... M>(lomari::TypeList<M...>) {
            benchmark::DoNotOptimize(lomari::dispatch(s.h, s.wire, ec, [&](M) { ++seen; }...));
        }(lomari::Messages{});
    }
    if (ec || !seen) st.SkipWithError("C++ dispatch failed");
}

// A table of 10,000 records of either key kind, made through the C++
// classes; the C side looks up in the same table.
constexpr U kRecords = 10000;
std::string Key(U i) { return "adapter/" + std::to_string(i * 2 + 2) + "/slot-bay"; }

template <class T>
struct Population {
    lomari::Handle h;
    T table;
    std::vector<typename T::Record> held;
    std::vector<std::string> keys;
    Population() {
        table = T::open(h, "bench");
        for (U i = 0; i < kRecords; ++i) {
            typename T::Record r(h);
            if constexpr (std::is_same_v<T, lomari::TarnokHeaderIds>) {
                keys.push_back(Key(i));
                r.tarnok_rec_fields().set_dbkey(keys.back());
            } else {
                r.cc_ids().set_cc_slot(i * 2 + 2);
            }
            table.insert(r);
            held.push_back(std::move(r));
        }
    }
    ~Population() {
        held.clear();
        table.free();
    }
};

template <class T>
void Lookup(benchmark::State &st, bool cpp, bool walk) {
    static Population<T> p;
    H h = p.h.get();
    U db = p.h.database(), err = 0, i = 0;
    void *sink = nullptr;
    constexpr bool str = std::is_same_v<T, lomari::TarnokHeaderIds>;
    for (auto _ : st) {
        const U k = (i = (i * 7919 + 13) % kRecords);
        if (walk && cpp) {
            for (auto r : p.table) sink = r.get();
        } else if (walk) {
            for (void *r = str ? tarnok_header_ids_tarnok_rec_fields_dbkey_get_first(h, db, p.table.get(), &err)
                               : non_aps_headers_cc_ids_cc_slot_get_first(h, db, p.table.get(), &err);
                 r; r = str ? tarnok_header_ids_tarnok_rec_fields_dbkey_get_next(h, db, p.table.get(), r, &err)
                            : non_aps_headers_cc_ids_cc_slot_get_next(h, db, p.table.get(), r, &err))
                sink = r;
        } else if constexpr (str) {
            const char *key = p.keys[k].c_str();
            sink = cpp ? p.table.find(key).get()
                       : tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, p.table.get(), key, &err);
        } else {
            const U key = k * 2 + 2;
            sink = cpp ? p.table.find(key).get()
                       : non_aps_headers_cc_ids_cc_slot_search(h, db, p.table.get(), &key, &err);
        }
        benchmark::DoNotOptimize(sink);
    }
    if (err || !sink) st.SkipWithError("lookup failed");
}

int Register() {
    const std::string tarnok = "vep_tarnok_headers/8";
    benchmark::RegisterBenchmark(Name("roundtrip", "c", tarnok).c_str(), RoundTripC);
    benchmark::RegisterBenchmark(Name("roundtrip", "cpp", tarnok).c_str(), RoundTripCpp);
    Ratio("roundtrip", tarnok);
    for (bool t : {true, false}) {
        const std::string shape = t ? tarnok : "im_vep_fctrl/16";
        benchmark::RegisterBenchmark(Name("dispatch", "c", shape).c_str(), DispatchC, t);
        benchmark::RegisterBenchmark(Name("dispatch", "cpp", shape).c_str(), DispatchCpp, t);
        Ratio("dispatch", shape);
    }
    for (bool walk : {false, true}) {
        const char *what = walk ? "walk" : "lookup";
        const std::string s31 = "tarnok_header_ids/10000", s32 = "non_aps_headers/10000";
        benchmark::RegisterBenchmark(Name(what, "c", s31).c_str(), Lookup<lomari::TarnokHeaderIds>, false, walk);
        benchmark::RegisterBenchmark(Name(what, "cpp", s31).c_str(), Lookup<lomari::TarnokHeaderIds>, true, walk);
        benchmark::RegisterBenchmark(Name(what, "c", s32).c_str(), Lookup<lomari::NonApsHeaders>, false, walk);
        benchmark::RegisterBenchmark(Name(what, "cpp", s32).c_str(), Lookup<lomari::NonApsHeaders>, true, walk);
        Ratio(what, s31);
        Ratio(what, s32);
    }
    return 0;
}

const int kRegistered = Register();

}  // namespace
}  // namespace lbench
