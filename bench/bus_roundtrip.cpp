// bus_roundtrip.cpp -- envelopes through one local NATS server
// (liblomari_bus): throughput and latency of vep_tarnok_headers with 8 and
// 64 mappings (the codec benchmark's vep_tarnok_body shapes), on core
// subjects and through the stream, beside a raw publish of the same payload
// size through the same client library.  Starts its own nats-server on a
// free loopback port with a temporary store, and prints a Markdown table.
//
//   lomari_bus_bench [--count N] [--samples N]
//
// Throughput: one thread publishes N envelopes, another receives them
// (the library's unmarshal and dispatch to a handler that releases the
// message; in stream mode each is acknowledged); envelopes per second from
// the first publish to the last handled.  Latency: one envelope at a time,
// from its publish to its handler, on one thread and one clock.
#include <arpa/inet.h>
#include <fcntl.h>
#include <nats/nats.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "codec_shapes.h"
#include "lomari/lomari.h"
#include "lomari/lomari_bus.h"
#include "qel/rt_handle.h"

namespace {

using Clock = std::chrono::steady_clock;
using H = qel_handle_t *;
using U = uint32_t;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// The envelope of a vep_tarnok_headers message with n mappings.
std::vector<uint8_t> Envelope(U n) {
    using V = lbench::TarnokValues;
    H h = qelrt_handle_new();
    const U db = h->database_id;
    U err = 0;
    vep_tarnok_headers_message *m = vep_tarnok_headers_message_create(h, db);
    vep_tarnok_body *b = vep_tarnok_headers_message_vep_tarnok_body_get(h, db, m, &err);
    vep_tarnok_body_slot_number_set_value(h, db, b, V::kSlot, &err);
    vep_tarnok_body_bay_number_set_value(h, db, b, V::kBay, &err);
    vep_tarnok_body_vep_type_set_value(h, db, b, V::kVepType, &err);
    vep_tarnok_body_scheme_set_value(h, db, b, V::kScheme, &err);
    for (U i = 0; i < n; ++i) {
        spi4_mapping *e = spi4_mapping_create(h, db);
        spi4_mapping_portnum_set_value(h, db, e, V::Port(i), &err);
        spi4_mapping_header_id_set_value(h, db, e, V::HeaderId(i), &err);
        spi4_mapping_pri_set_value(h, db, e, V::Pri(i), &err);
        vep_tarnok_body_spi4_id_mappings_set_last(h, db, b, e, &err);
    }
    std::vector<uint8_t> bytes(1 << 16);
    bytes.resize(vep_tarnok_headers_message_marshal(h, db, bytes.data(), m, U(bytes.size()), &err));
    vep_tarnok_headers_message_destroy(h, db, m);
    qelrt_handle_free(h);
    if (err) std::fprintf(stderr, "marshal failed: %u\n", err), std::exit(1);
    return bytes;
}

std::atomic<uint64_t> g_handled{0};
void Handled(H h, U db, uint64_t, void *m, U *) {
    vep_tarnok_headers_message_destroy(h, db, static_cast<vep_tarnok_headers_message *>(m));
    g_handled.fetch_add(1, std::memory_order_relaxed);
}

lomari_bus_t *Open(H h, const std::string &url, int stream, bool receiver) {
    lomari_bus_options_t o{};
    o.url = url.c_str();
    o.stream = stream;
    o.timeout_ms = 20000;
    lomari_bus_t *b = lomari_bus_open(h, h->database_id, &o);
    const lomari_bus_subscription_t sub{nullptr, 0, stream ? "bench" : nullptr};
    if (lomari_bus_connect(b) || (receiver && lomari_bus_subscribe(b, &sub))) {
        std::fprintf(stderr, "bus: %s\n", lomari_bus_error(b));
        std::exit(1);
    }
    lomari_bus_set_handler(b, "vep_tarnok_headers", Handled);
    return b;
}

struct Row {
    std::string mode, shape;
    size_t bytes;
    double per_second, median_us, p99_us;
};

// Envelopes through the bus: n for throughput, samples for latency.
Row Through(const std::string &url, int stream, const char *shape, const std::vector<uint8_t> &env, uint64_t n,
            int samples) {
    H tx_h = qelrt_handle_new(), rx_h = qelrt_handle_new();
    lomari_bus_t *tx = Open(tx_h, url, stream, false), *rx = Open(rx_h, url, stream, true);
    g_handled = 0;
    std::atomic<bool> stop{false};
    const Clock::time_point t0 = Clock::now();
    std::thread receiver([&] {
        while (!stop && g_handled < n) lomari_bus_receive(rx, 0, 50);
    });
    for (uint64_t i = 0; i < n; ++i)
        if (lomari_bus_publish(tx, env.data(), U(env.size())) != LOMARI_BUS_OK)
            std::fprintf(stderr, "publish: %s\n", lomari_bus_error(tx)), std::exit(1);
    lomari_bus_flush(tx);
    for (int waited = 0; g_handled < n && waited < 60000; waited += 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const double secs = Seconds(Clock::now() - t0);
    stop = true;
    receiver.join();
    const uint64_t through = g_handled;
    // Latency: one at a time, publish to handler.
    std::vector<double> us;
    for (int i = 0; i < samples; ++i) {
        const uint64_t before = g_handled;
        const Clock::time_point s = Clock::now();
        lomari_bus_publish(tx, env.data(), U(env.size()));
        if (!stream) lomari_bus_flush(tx);
        while (g_handled == before && Seconds(Clock::now() - s) < 5) lomari_bus_receive(rx, 0, 5);
        us.push_back(Seconds(Clock::now() - s) * 1e6);
    }
    lomari_bus_close(rx);
    lomari_bus_close(tx);
    qelrt_handle_free(rx_h);
    qelrt_handle_free(tx_h);
    std::sort(us.begin(), us.end());
    if (through < n) std::fprintf(stderr, "%s %s: %llu of %llu handled\n", stream ? "stream" : "core", shape,
                                  static_cast<unsigned long long>(through), static_cast<unsigned long long>(n));
    return {stream ? "stream" : "core", shape, env.size(), double(through) / secs, us[us.size() / 2],
            us[us.size() * 99 / 100]};
}

// The same payload size through the client library alone: publish and a
// subscription that only counts.
Row Raw(const std::string &url, const char *shape, size_t size, uint64_t n, int samples) {
    natsConnection *pub = nullptr, *sub_nc = nullptr;
    natsSubscription *sub = nullptr;
    natsConnection_ConnectTo(&pub, url.c_str());
    natsConnection_ConnectTo(&sub_nc, url.c_str());
    natsConnection_SubscribeSync(&sub, sub_nc, "raw.bench");
    natsSubscription_SetPendingLimits(sub, -1, -1);
    natsConnection_Flush(sub_nc);
    const std::vector<char> payload(size, 'x');
    std::atomic<uint64_t> got{0};
    const Clock::time_point t0 = Clock::now();
    std::thread receiver([&] {
        for (natsMsg *m = nullptr; got < n; m = nullptr)
            if (natsSubscription_NextMsg(&m, sub, 1000) == NATS_OK) {
                natsMsg_Destroy(m);
                ++got;
            } else {
                break;
            }
    });
    for (uint64_t i = 0; i < n; ++i) natsConnection_Publish(pub, "raw.bench", payload.data(), int(size));
    natsConnection_Flush(pub);
    receiver.join();
    const double secs = Seconds(Clock::now() - t0);
    std::vector<double> us;
    for (int i = 0; i < samples; ++i) {
        const Clock::time_point s = Clock::now();
        natsConnection_Publish(pub, "raw.bench", payload.data(), int(size));
        natsConnection_Flush(pub);
        natsMsg *m = nullptr;
        if (natsSubscription_NextMsg(&m, sub, 5000) == NATS_OK) natsMsg_Destroy(m);
        us.push_back(Seconds(Clock::now() - s) * 1e6);
    }
    natsSubscription_Destroy(sub);
    natsConnection_Destroy(pub);
    natsConnection_Destroy(sub_nc);
    std::sort(us.begin(), us.end());
    return {"raw publish", shape, size, double(got) / secs, us[us.size() / 2], us[us.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char **argv) {
    uint64_t count = 50000;
    int samples = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--count")) count = std::strtoull(argv[i + 1], nullptr, 10);
        if (!std::strcmp(argv[i], "--samples")) samples = std::atoi(argv[i + 1]);
    }
    const int port = FreePort();
    const std::string store = (std::filesystem::temp_directory_path() / ("lomari_bus_bench_" + std::to_string(getpid()))).string();
    const std::string url = "nats://127.0.0.1:" + std::to_string(port);
    const pid_t server = fork();
    if (server == 0) {
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execlp("nats-server", "nats-server", "-a", "127.0.0.1", "-p", std::to_string(port).c_str(), "-js", "-sd",
               store.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    natsConnection *probe = nullptr;
    for (int i = 0; i < 100 && natsConnection_ConnectTo(&probe, url.c_str()) != NATS_OK; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    natsConnection_Destroy(probe);
    std::vector<Row> rows;
    for (const lbench::Shape &shape : lbench::kShapes) {
        if (shape.body != lbench::Body::kTarnok) continue;
        const std::vector<uint8_t> env = Envelope(shape.elems);
        rows.push_back(Raw(url, shape.name, env.size(), count, samples));
        rows.push_back(Through(url, 0, shape.name, env, count, samples));
        rows.push_back(Through(url, 1, shape.name, env, count, samples));
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::filesystem::remove_all(store);
    std::string load;
    std::getline(std::ifstream("/proc/loadavg"), load);
    std::printf("| mode | shape | envelope bytes | envelopes/s | latency median (us) | latency p99 (us) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const Row &r : rows)
        std::printf("| %s | %s | %zu | %.0f | %.1f | %.1f |\n", r.mode.c_str(), r.shape.c_str(), r.bytes, r.per_second,
                    r.median_us, r.p99_us);
    std::printf("\n%llu envelopes per throughput case, %d latency samples; load average after the run: %s\n",
                static_cast<unsigned long long>(count), samples, load.c_str());
    return 0;
}
