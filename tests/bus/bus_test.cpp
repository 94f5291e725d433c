// bus_test.cpp -- liblomari_bus against nats-servers the tests start on free
// loopback ports (skipped when nats-server is not installed): every message
// through the bus and back to the same bytes, a queue group sharing 10,000
// envelopes, a stream listener killed and restarted, a server restarted
// mid-stream, the demo's processes, garbage dropped, credentials refused,
// and a three-server cluster routing an envelope.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>

#include "../../bus/nkey.h"
#include "lomari/lomari_bus.h"
#include "message_wire.h"

namespace {

using namespace lt;
namespace fs = std::filesystem;

bool HaveServer() { return std::system("command -v nats-server > /dev/null 2>&1") == 0; }

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

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

pid_t Spawn(std::vector<std::string> args, int out_fd = -1, int err_fd = -1) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (out_fd >= 0) dup2(out_fd, 1);
        if (err_fd >= 0) dup2(err_fd, 2);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void Stop(pid_t pid, int sig = SIGTERM) {
    if (pid <= 0) return;
    kill(pid, sig);
    waitpid(pid, nullptr, 0);
}

// One nats-server on a loopback port, with a store of its own for the stream.
struct Server {
    int port = FreePort();
    std::string store;
    std::vector<std::string> extra;
    bool js;
    pid_t pid = -1;

    explicit Server(std::vector<std::string> more = {}, bool stream = true) : extra(std::move(more)), js(stream) {
        store = ::testing::TempDir() + "lomari_bus_" + std::to_string(getpid()) + "_" + std::to_string(port);
        Start();
    }
    ~Server() {
        Stop(pid);
        fs::remove_all(store);
    }
    void Start() {
        std::vector<std::string> a = {"nats-server", "-a", "127.0.0.1", "-p", std::to_string(port)};
        if (js) a.insert(a.end(), {"-js", "-sd", store});
        a.insert(a.end(), extra.begin(), extra.end());
        const int quiet = open("/dev/null", O_WRONLY);
        pid = Spawn(a, quiet, quiet);
        close(quiet);
        for (int i = 0; i < 100 && !Accepts(port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string Url() const { return "nats://127.0.0.1:" + std::to_string(port); }
};

struct Bus {
    lomari_bus_t *b;
    Bus(H h, U db, const std::string &url, int stream = 0, const char *user = nullptr, const char *pw = nullptr,
        const char *seed = nullptr) {
        lomari_bus_options_t o{};
        o.url = url.c_str();
        o.stream = stream;
        o.user = user;
        o.password = pw;
        o.nkey_seed_file = seed;
        o.ack_wait_ms = 1000;
        b = lomari_bus_open(h, db, &o);
    }
    ~Bus() { lomari_bus_close(b); }
    operator lomari_bus_t *() const { return b; }
};

// Receives until want envelopes were dispatched by all of the buses, or
// nothing came for two seconds.
void Drain(std::vector<lomari_bus_t *> buses, uint64_t want, uint64_t ctx = 0) {
    uint64_t got = 0;
    for (int idle = 0; got < want && idle < 2000;) {
        bool any = false;
        for (lomari_bus_t *b : buses)
            if (lomari_bus_receive(b, ctx, 5) == LOMARI_BUS_OK) {
                any = true;
                got += lomari_bus_last(b)->dispatched;
            }
        idle = any ? 0 : idle + 5 * int(buses.size());
    }
}

class BusTest : public MessageTest {
protected:
    void SetUp() override {
        MessageTest::SetUp();
        if (!HaveServer()) GTEST_SKIP() << "nats-server is not installed (scripts/deps.sh bus)";
    }
};

// ---- every message, and back to the same bytes --------------------------------------

class BusMessages;
struct Trip {
    BusMessages *t;
    std::vector<uint8_t> got;
};

class BusMessages : public BusTest {
public:
    static void Remarshal(H, U, uint64_t ctx, void *m, U *) {
        auto &trip = *reinterpret_cast<Trip *>(ctx);
        trip.got = trip.t->Encode(m);
        trip.t->Free(m);
    }
};

TEST_P(BusMessages, ArriveAndMarshalToTheSameBytes) {
    static Server server;
    const std::string name = M().name;
    Bus rx(h, db, server.Url()), tx(h, db, server.Url());
    ASSERT_EQ(lomari_bus_connect(rx), LOMARI_BUS_OK) << lomari_bus_error(rx);
    ASSERT_EQ(lomari_bus_connect(tx), LOMARI_BUS_OK) << lomari_bus_error(tx);
    const char *names[] = {name.c_str()};
    const lomari_bus_subscription_t sub{names, 1, nullptr};
    ASSERT_EQ(lomari_bus_subscribe(rx, &sub), LOMARI_BUS_OK) << lomari_bus_error(rx);
    ASSERT_EQ(lomari_bus_set_handler(rx, name.c_str(), Remarshal), LOMARI_BUS_OK);
    for (uint32_t seed : {1u, 2u}) {
        const std::vector<uint8_t> sent = Encode(Make(seed * 11 + M().ordinal));
        ASSERT_EQ(lomari_bus_publish(tx, sent.data(), U(sent.size())), LOMARI_BUS_OK) << lomari_bus_error(tx);
        ASSERT_EQ(lomari_bus_flush(tx), LOMARI_BUS_OK);
        Trip trip{this, {}};
        ASSERT_EQ(lomari_bus_receive(rx, reinterpret_cast<uintptr_t>(&trip), 5000), LOMARI_BUS_OK);
        EXPECT_EQ(std::string(lomari_bus_last(rx)->subject), "lomari." + name);
        EXPECT_EQ(trip.got, sent);
    }
    lomari_bus_stats_t st;
    lomari_bus_get_stats(rx, &st);
    EXPECT_EQ(st.dispatched, 2u);
    EXPECT_EQ(st.dropped, 0u);
}

INSTANTIATE_TEST_SUITE_P(All, BusMessages, ::testing::ValuesIn(AllMessages()), ParamName());

// ---- many envelopes of one message, each told by its kalvi_id -------------------------

std::vector<uint8_t> Numbered(H h, U db, U k) {
    U err = 0;
    im_if_fctrl_message *m = im_if_fctrl_message_create(h, db);
    im_if_fctrl_body *b = im_if_fctrl_message_im_if_fctrl_body_get(h, db, m, &err);
    im_if_fctrl_body_set_all(h, db, b, 3, 1, k & 0xFF, k, 1, 2, ORV_FLOWCTRL_EFC, 4, &err);
    std::vector<uint8_t> bytes(256);
    bytes.resize(im_if_fctrl_message_marshal(h, db, bytes.data(), m, U(bytes.size()), &err));
    im_if_fctrl_message_destroy(h, db, m);
    return bytes;
}

// Counts each kalvi_id handled (ctx: the counts) and releases the message.
void Count(H h, U db, uint64_t ctx, void *m, U *err) {
    auto &seen = *reinterpret_cast<std::vector<int> *>(ctx);
    auto *msg = static_cast<im_if_fctrl_message *>(m);
    const U k = im_if_fctrl_body_kalvi_id_get_value(h, db, im_if_fctrl_message_im_if_fctrl_body_get(h, db, msg, err), err);
    if (k < seen.size()) ++seen[k];
    im_if_fctrl_message_destroy(h, db, msg);
}

void Publish(lomari_bus_t *tx, H h, U db, U from, U to) {
    for (U k = from; k < to; ++k) {
        const std::vector<uint8_t> e = Numbered(h, db, k);
        ASSERT_EQ(lomari_bus_publish(tx, e.data(), U(e.size())), LOMARI_BUS_OK) << lomari_bus_error(tx);
    }
}

TEST_F(BusTest, QueueGroupOfTwoSharesTenThousandEnvelopesOnceEach) {
    Server server;
    constexpr U kN = 10000;
    Bus a(h, db, server.Url()), b(h, db, server.Url()), tx(h, db, server.Url());
    const lomari_bus_subscription_t sub{nullptr, 0, "workers"};
    for (lomari_bus_t *x : {a.b, b.b}) {
        ASSERT_EQ(lomari_bus_connect(x), LOMARI_BUS_OK) << lomari_bus_error(x);
        ASSERT_EQ(lomari_bus_subscribe(x, &sub), LOMARI_BUS_OK);
        lomari_bus_set_handler(x, "im_if_fctrl", Count);
    }
    ASSERT_EQ(lomari_bus_connect(tx), LOMARI_BUS_OK);
    Publish(tx, h, db, 0, kN);
    ASSERT_EQ(lomari_bus_flush(tx), LOMARI_BUS_OK);
    std::vector<int> seen(kN);
    Drain({a, b}, kN, reinterpret_cast<uintptr_t>(&seen));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kN) << "lost: " << std::count(seen.begin(), seen.end(), 0);
    lomari_bus_stats_t sa, sb;
    lomari_bus_get_stats(a, &sa);
    lomari_bus_get_stats(b, &sb);
    EXPECT_GT(sa.dispatched, 0u);
    EXPECT_GT(sb.dispatched, 0u);
}

// ---- stream mode: a listener killed, a server restarted --------------------------------

// The kalvi_ids a `lomari bus listen --format json` child prints (what it
// handled): killed with SIGKILL once it printed kill_after of them, else read
// to its end.
std::vector<U> Listen(const std::string &url, size_t kill_after, std::vector<std::string> more) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    std::vector<std::string> a = {LOMARI_TOOL_PATH, "bus", "listen", url, "--stream", "--format", "json",
                                  "--ack-wait", "1"};
    a.insert(a.end(), more.begin(), more.end());
    const pid_t pid = Spawn(a, fds[1]);
    close(fds[1]);
    FILE *in = fdopen(fds[0], "r");
    std::vector<U> ids;
    const std::regex kalvi("\"kalvi_id\":([0-9]+)");
    char line[4096];
    std::cmatch m;
    while (std::fgets(line, sizeof line, in))
        if (std::regex_search(line, m, kalvi) && (ids.push_back(U(std::stoul(m[1]))), ids.size() == kill_after))
            kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    fclose(in);
    return ids;
}

TEST_F(BusTest, StreamListenerKilledMidStreamGetsTheRestOnRestart) {
    Server server;
    constexpr U kN = 2000;
    {
        Bus tx(h, db, server.Url(), 1);
        ASSERT_EQ(lomari_bus_connect(tx), LOMARI_BUS_OK) << lomari_bus_error(tx);
        Publish(tx, h, db, 0, kN);
        ASSERT_EQ(lomari_bus_flush(tx), LOMARI_BUS_OK) << lomari_bus_error(tx);
    }
    std::vector<int> seen(kN);
    const std::vector<U> first = Listen(server.Url(), 500, {});
    ASSERT_GE(first.size(), 500u);
    ASSERT_LT(first.size(), kN) << "the first listener was killed before the end";
    const std::vector<U> rest = Listen(server.Url(), 0, {"--wait", "3"});
    for (const auto *ids : {&first, &rest})
        for (U k : *ids) ++seen[k];
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), 0) << "every envelope handled at least once";
}

TEST_F(BusTest, StreamSurvivesAServerRestart) {
    Server server;
    constexpr U kN = 1000;
    Bus tx(h, db, server.Url(), 1), rx(h, db, server.Url(), 1);
    ASSERT_EQ(lomari_bus_connect(tx), LOMARI_BUS_OK) << lomari_bus_error(tx);
    ASSERT_EQ(lomari_bus_connect(rx), LOMARI_BUS_OK) << lomari_bus_error(rx);
    ASSERT_EQ(lomari_bus_subscribe(rx, nullptr), LOMARI_BUS_OK) << lomari_bus_error(rx);
    lomari_bus_set_handler(rx, "im_if_fctrl", Count);
    std::vector<int> seen(2 * kN);
    Publish(tx, h, db, 0, kN);
    ASSERT_EQ(lomari_bus_flush(tx), LOMARI_BUS_OK) << lomari_bus_error(tx);
    Drain({rx}, 300, reinterpret_cast<uintptr_t>(&seen));
    Stop(server.pid, SIGKILL);
    Publish(tx, h, db, kN, 2 * kN);  // while the server is away
    server.Start();
    ASSERT_EQ(lomari_bus_flush(tx), LOMARI_BUS_OK) << lomari_bus_error(tx);
    for (int round = 0; round < 10 && std::count(seen.begin(), seen.end(), 0) > 0; ++round)
        Drain({rx}, 2 * kN, reinterpret_cast<uintptr_t>(&seen));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), 0) << "every envelope handled at least once";
}

TEST_F(BusTest, DemoSendersAndReceiverTalkThroughTheServer) {
    Server server({}, false);
    FILE *p = popen((std::string(LOMARI_TOOL_PATH) + " demo --bus " + server.Url() + " 2>&1").c_str(), "r");
    std::string out;
    char b[4096];
    for (size_t n; (n = std::fread(b, 1, sizeof b, p)) > 0;) out.append(b, n);
    EXPECT_EQ(pclose(p), 0) << out;
    for (const char *line : {"stored 8 of 8 messages from the bus", "search \"slot3/bay1\": found, 8 mappings"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
}

// ---- garbage on a lomari subject -------------------------------------------------------

TEST_F(BusTest, GarbageIsCountedAndDroppedBetweenGoodEnvelopes) {
    Server server;
    Bus rx(h, db, server.Url()), tx(h, db, server.Url());
    ASSERT_EQ(lomari_bus_connect(rx), LOMARI_BUS_OK);
    ASSERT_EQ(lomari_bus_connect(tx), LOMARI_BUS_OK);
    ASSERT_EQ(lomari_bus_subscribe(rx, nullptr), LOMARI_BUS_OK);
    lomari_bus_set_handler(rx, "im_if_fctrl", Count);
    const std::vector<uint8_t> good = Numbered(h, db, 1);
    std::vector<uint8_t> longer = good, shorter = good, body(good.begin(), good.begin() + 45);
    longer.push_back(0);  // a byte beyond the header's length
    shorter.pop_back();   // the header announces a byte more
    body[15] = 45;        // a whole envelope whose body stops after two bytes
    struct Bad {
        const char *subject_message;
        std::vector<uint8_t> bytes;
        const char *why;
    } bad[] = {
        {"im_if_fctrl", {'n', 'o', 'i', 's', 'e'}, "shorter"},
        {"im_if_fctrl", std::vector<uint8_t>(64, 0xBC), "header"},
        {"im_if_fctrl", longer, "length"},
        {"im_if_fctrl", shorter, "beyond"},
        {"im_if_fctrl", body, "decode"},
        {"vep_tarnok_headers", good, "subject"},
        {"no_such_message", good, "subject"},
    };
    std::vector<int> seen(3);
    ASSERT_EQ(lomari_bus_publish_raw(tx, "im_if_fctrl", good.data(), U(good.size())), LOMARI_BUS_OK);
    for (const Bad &b : bad)
        ASSERT_EQ(lomari_bus_publish_raw(tx, b.subject_message, b.bytes.data(), U(b.bytes.size())), LOMARI_BUS_OK);
    ASSERT_EQ(lomari_bus_publish_raw(tx, "im_if_fctrl", good.data(), U(good.size())), LOMARI_BUS_OK);
    ASSERT_EQ(lomari_bus_flush(tx), LOMARI_BUS_OK);
    ASSERT_EQ(lomari_bus_receive(rx, reinterpret_cast<uintptr_t>(&seen), 5000), LOMARI_BUS_OK);
    for (const Bad &b : bad) {
        ASSERT_EQ(lomari_bus_receive(rx, reinterpret_cast<uintptr_t>(&seen), 5000), LOMARI_BUS_OK) << b.why;
        ASSERT_NE(lomari_bus_last(rx)->dropped, nullptr) << b.why;
        EXPECT_NE(std::string(lomari_bus_last(rx)->dropped).find(b.why), std::string::npos) << lomari_bus_last(rx)->dropped;
    }
    ASSERT_EQ(lomari_bus_receive(rx, reinterpret_cast<uintptr_t>(&seen), 5000), LOMARI_BUS_OK);
    EXPECT_EQ(seen[1], 2);
    lomari_bus_stats_t st;
    lomari_bus_get_stats(rx, &st);
    EXPECT_EQ(st.dropped, std::size(bad));
    EXPECT_EQ(st.dispatched, 2u);
    EXPECT_EQ(lomari_bus_publish(tx, longer.data(), U(longer.size())), LOMARI_BUS_ERR_ENVELOPE);
}

// ---- who may talk ----------------------------------------------------------------------

TEST_F(BusTest, ServersRefuseClientsWithoutTheirCredentials) {
    uint8_t raw[32];
    for (uint8_t &r : raw) r = uint8_t(std::rand());
    const std::string seed = lomari_bus_detail::encode_user_seed(raw), seed_file = ::testing::TempDir() + "lomari_bus_seed";
    std::ofstream(seed_file) << seed << "\n";
    std::string pub, why;
    ASSERT_TRUE(lomari_bus_detail::user_public_key(seed_file.c_str(), pub, why)) << why;
    const std::string conf = ::testing::TempDir() + "lomari_bus_nkey.conf";
    std::ofstream(conf) << "authorization { users = [ { nkey: " << pub << " } ] }\n";
    Server password({"--user", "lomari", "--pass", "s3cret-pw"}), nkey({"-c", conf});
    const std::string at = "127.0.0.1:" + std::to_string(password.port);
    struct Case {
        const Server &server;
        std::string url;
        const char *user, *pw, *seed;
        lomari_bus_status_t want;
    } cases[] = {
        {password, password.Url(), nullptr, nullptr, nullptr, LOMARI_BUS_ERR_AUTH},
        {password, password.Url(), "lomari", "wrong-pw", nullptr, LOMARI_BUS_ERR_AUTH},
        {password, "nats://lomari:url-pw@" + at, nullptr, nullptr, nullptr, LOMARI_BUS_ERR_AUTH},
        {password, password.Url(), "lomari", "s3cret-pw", nullptr, LOMARI_BUS_OK},
        {nkey, nkey.Url(), nullptr, nullptr, nullptr, LOMARI_BUS_ERR_AUTH},
        {nkey, nkey.Url(), nullptr, nullptr, seed_file.c_str(), LOMARI_BUS_OK},
    };
    for (const Case &c : cases) {
        Bus b(h, db, c.url, 0, c.user, c.pw, c.seed);
        EXPECT_EQ(lomari_bus_connect(b), c.want) << c.url << ": " << lomari_bus_error(b);
        const std::string text = lomari_bus_error(b);
        for (const char *secret : {"s3cret-pw", "wrong-pw", "url-pw", seed.c_str()})
            EXPECT_EQ(text.find(secret), std::string::npos) << text;
    }
    std::remove(seed_file.c_str());
    std::remove(conf.c_str());
}

// ---- a cluster of three ----------------------------------------------------------------

TEST_F(BusTest, EnvelopePublishedOnOneServerOfAClusterArrivesThroughAnother) {
    const int routes[3] = {FreePort(), FreePort(), FreePort()};
    std::string all;
    for (int r : routes) all += (all.empty() ? "" : ",") + std::string("nats://127.0.0.1:") + std::to_string(r);
    std::vector<std::unique_ptr<Server>> cluster;
    for (int r : routes)
        cluster.push_back(std::make_unique<Server>(std::vector<std::string>{
            "--cluster_name", "lomari", "--cluster", "nats://127.0.0.1:" + std::to_string(r), "--routes", all}, false));
    Bus rx(h, db, cluster[2]->Url()), tx(h, db, cluster[0]->Url());
    ASSERT_EQ(lomari_bus_connect(rx), LOMARI_BUS_OK) << lomari_bus_error(rx);
    ASSERT_EQ(lomari_bus_connect(tx), LOMARI_BUS_OK) << lomari_bus_error(tx);
    ASSERT_EQ(lomari_bus_subscribe(rx, nullptr), LOMARI_BUS_OK);
    lomari_bus_set_handler(rx, "im_if_fctrl", Count);
    std::vector<int> seen(8);
    const std::vector<uint8_t> e = Numbered(h, db, 7);
    // The routes form and carry the subscription's interest within moments.
    for (int i = 0; i < 100 && seen[7] == 0; ++i) {
        ASSERT_EQ(lomari_bus_publish(tx, e.data(), U(e.size())), LOMARI_BUS_OK);
        lomari_bus_flush(tx);
        lomari_bus_receive(rx, reinterpret_cast<uintptr_t>(&seen), 100);
    }
    EXPECT_GE(seen[7], 1);
    EXPECT_EQ(std::string(lomari_bus_last(rx)->subject), "lomari.im_if_fctrl");
}

}  // namespace
