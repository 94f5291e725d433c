// bus.cpp -- `lomari bus send|listen` and `lomari demo --bus`: message
// envelopes between machines through a NATS server (liblomari_bus).
//
//   lomari bus send URL FILE|-      publishes every message of a stream
//   lomari bus listen URL ...       prints what arrives, as decode does
//   lomari demo --bus URL           the demo's senders and receiver as
//                                   processes talking through the server
//
// Credentials come from options or the environment and go to the client
// library only: no line the tool writes holds a password, and a URL is
// shown without the password it may carry.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "demo.h"
#include "documents.h"
#include "tool.h"
#include "tool_schema.h"

#ifdef LOMARI_HAVE_BUS
#include "lomari/lomari_bus.h"
#include "qel/rt_msg.h"
#endif

namespace ltool {
namespace {

const char kBusUsage[] =
    "usage: lomari bus send URL FILE|- [connection options]\n"
    "       lomari bus listen URL [--format text|xml|json] [--count N] [--queue NAME]\n"
    "                             [--message NAME]... [--wait SECONDS] [--ack-wait SECONDS]\n"
    "                             [connection options]\n"
    "\n"
    "Carries message envelopes between machines through a NATS server.  'send'\n"
    "publishes every message of FILE (or standard input; the binary stream\n"
    "'lomari encode' writes and 'lomari decode' reads; table records are\n"
    "skipped) on the subject lomari.<message name>.  'listen' subscribes and\n"
    "prints each message that arrives as 'lomari decode' would; an envelope\n"
    "that does not decode is reported on standard error and skipped.\n"
    "  --format text|xml|json  as for decode (text by default)\n"
    "  --count N        stop after N messages (by default: at an interrupt)\n"
    "  --queue NAME     share the messages with the other listeners of the\n"
    "                   queue group NAME: each message reaches one of them\n"
    "                   (with --stream: the durable consumer NAME, 'lomari' by\n"
    "                   default)\n"
    "  --message NAME   only this message (repeatable; by default every one)\n"
    "  --wait SECONDS   give up when nothing arrives for SECONDS (status 1 when\n"
    "                   --count was not reached)\n"
    "  --ack-wait SECONDS  with --stream: a message taken but not acknowledged\n"
    "                   (its listener died) goes out again after SECONDS (30);\n"
    "                   set when the durable consumer is created\n"
    "connection options (each also read from the environment variable named):\n"
    "  --stream         keep the messages in the stream LOMARI (PLATFORM_LOMARI):\n"
    "                   at least once, where plain subjects give at most once\n"
    "  --platform NAME  subjects NAME.lomari.<message>    LOMARI_BUS_PLATFORM\n"
    "  --user NAME      user name                         LOMARI_BUS_USER\n"
    "  --password-file FILE  the password, first line     LOMARI_BUS_PASSWORD (the text)\n"
    "  --nkey-seed FILE a user NKey seed                  LOMARI_BUS_NKEY_SEED\n"
    "  --tls-ca FILE    CA certificates: TLS required     LOMARI_BUS_TLS_CA\n"
    "  --tls-cert FILE  client certificate, with --tls-key  LOMARI_BUS_TLS_CERT\n"
    "  --tls-key FILE   its private key                   LOMARI_BUS_TLS_KEY\n";

}  // namespace

#ifndef LOMARI_HAVE_BUS

int cmd_bus(const std::vector<std::string> &args) {
    for (const auto &a : args)
        if (a == "--help" || a == "-h") return std::fputs(kBusUsage, stdout), 0;
    std::fputs("lomari: bus: this lomari was built without the bus (libnats-dev: scripts/deps.sh bus)\n", stderr);
    return 2;
}

namespace demo {
int run_bus(const std::vector<std::string> &) {
    std::fputs("lomari: demo: this lomari was built without the bus (libnats-dev: scripts/deps.sh bus)\n", stderr);
    return 2;
}
int run_bus_process(const std::vector<std::string> &) { return 2; }
}  // namespace demo

#else

namespace {

// The connection settings of a command, from its options over the
// environment.
struct Connection {
    std::string url, user, password, seed, ca, cert, key, platform;
    bool stream = false;
    double ack_wait = 0;

    static std::string env(const char *name) {
        const char *v = std::getenv(name);
        return v ? v : "";
    }
    Connection()
        : user(env("LOMARI_BUS_USER")), password(env("LOMARI_BUS_PASSWORD")), seed(env("LOMARI_BUS_NKEY_SEED")),
          ca(env("LOMARI_BUS_TLS_CA")), cert(env("LOMARI_BUS_TLS_CERT")), key(env("LOMARI_BUS_TLS_KEY")),
          platform(env("LOMARI_BUS_PLATFORM")) {}
    ~Connection() { std::fill(password.begin(), password.end(), '\0'); }

    // Takes a connection option at args[i]: 1 taken, 0 not one, -1 a
    // mistake (why says which).
    int option(const std::vector<std::string> &args, size_t &i, std::string &why) {
        const std::string &a = args[i];
        if (a == "--stream") return stream = true, 1;
        std::string *to = a == "--user" ? &user : a == "--nkey-seed" ? &seed : a == "--tls-ca" ? &ca
                        : a == "--tls-cert" ? &cert : a == "--tls-key" ? &key : a == "--platform" ? &platform
                                                                                    : nullptr;
        const bool pw = a == "--password-file";
        if (!to && !pw) return 0;
        if (++i == args.size()) return why = a + " needs a value", -1;
        if (to) return *to = args[i], 1;
        FILE *f = std::fopen(args[i].c_str(), "r");
        if (!f) return why = args[i] + ": " + system_reason(errno), -1;
        char line[1024] = "";
        const bool got = std::fgets(line, sizeof line, f) != nullptr;
        std::fclose(f);
        password = got ? line : "";
        std::memset(line, 0, sizeof line);
        while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
        return 1;
    }

    // The URL as it may be shown: without a password.
    std::string shown() const {
        std::string s = url;
        for (size_t at = 0; (at = s.find("://", at)) != std::string::npos; at += 3) {
            const size_t start = at + 3, end = s.find_first_of("@,/", start);
            if (end == std::string::npos || s[end] != '@') continue;
            const size_t colon = s.find(':', start);
            if (colon != std::string::npos && colon < end) s.replace(colon + 1, end - colon - 1, "***");
        }
        return s;
    }

    lomari_bus_t *open(H h, U db) const {
        lomari_bus_options_t o{};
        o.url = url.c_str();
        o.user = user.c_str();
        o.password = password.c_str();
        o.nkey_seed_file = seed.c_str();
        o.tls_ca = ca.c_str();
        o.tls_cert = cert.c_str();
        o.tls_key = key.c_str();
        o.platform = platform.c_str();
        o.name = "lomari";
        o.stream = stream;
        o.ack_wait_ms = int64_t(ack_wait * 1000);
        return lomari_bus_open(h, db, &o);
    }
};

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

// Ends the command with a bus failure: the library's text never holds a
// password.
int bus_fail(const char *cmd, const Connection &c, lomari_bus_t *b, lomari_bus_status_t st) {
    const std::string why = std::string(lomari_bus_status_text(st)) + ": " + lomari_bus_error(b);
    lomari_bus_close(b);
    return fail(cmd, c.shown(), "", 0, why);
}

int bus_send(const std::vector<std::string> &args) {
    Connection c;
    std::string path, why;
    int plain = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const int o = c.option(args, i, why);
        if (o < 0) return usage_error(kBusUsage, why);
        if (o) continue;
        if (args[i].size() > 1 && args[i][0] == '-') return usage_error(kBusUsage, "unknown option '" + args[i] + "'");
        (plain++ == 0 ? c.url : path) = args[i];
    }
    if (plain != 2) return usage_error(kBusUsage, "bus send takes a URL and a file");
    Input in;
    if (!in.open(path)) return fail("bus send", path, "", 0, system_reason(errno));
    Session s;
    lomari_bus_t *b = c.open(s.h, s.db);
    if (!b) return fail("bus send", c.shown(), "", LOMARI_ERR_NO_MEMORY, "cannot make a bus");
    if (lomari_bus_status_t st = lomari_bus_connect(b)) return bus_fail("bus send", c, b, st);
    uint64_t sent = 0, skipped = 0;
    std::vector<uint8_t> bytes;
    Item item;
    for (;;) {
        // The item's bytes as they are, then the item read (and checked) as decode does.
        bytes.clear();
        qel_msg_header_t hdr;
        U err = 0;
        if (in.fill(QEL_MSG_WIRE_HEADER_LEN) &&
            _qel_message_header_unmarshal(s.h, s.db, in.data(), &hdr, ~U(0), &err) && in.fill(hdr.length))
            bytes.assign(in.data(), in.data() + hdr.length);
        const ReadResult r = read_item(s, in, item);
        if (r.status == ReadStatus::End) break;
        if (r.status == ReadStatus::Error) {
            lomari_bus_close(b);
            return fail("bus send", path, at_offset(item.offset), r.code, r.detail);
        }
        const bool message = std::strcmp(item.codec->kind, "message") == 0;
        item.codec->destroy(s.h, s.db, item.object);
        if (!message) {
            ++skipped;
            continue;
        }
        if (lomari_bus_status_t st = lomari_bus_publish(b, bytes.data(), U(bytes.size())))
            return bus_fail("bus send", c, b, st);
        ++sent;
    }
    if (lomari_bus_status_t st = lomari_bus_flush(b)) return bus_fail("bus send", c, b, st);
    lomari_bus_close(b);
    std::printf("published %llu message%s on %s%s", static_cast<unsigned long long>(sent), sent == 1 ? "" : "s",
                c.shown().c_str(), c.stream ? " (kept in the stream)" : "");
    if (skipped) std::printf(" (%llu table records skipped)", static_cast<unsigned long long>(skipped));
    std::printf("\n");
    return 0;
}

struct Listener {
    lomari_bus_t *bus = nullptr;
    Session *s = nullptr;
    bool xml = false, json = false;
    std::vector<char> text;
    std::string line;
    bool failed = false;
};

// Prints one received message as decode does and releases it.
void print_message(H h, U db, uint64_t ctx, void *m, U *) {
    auto &l = *reinterpret_cast<Listener *>(ctx);
    const Codec *c = codec_by_name(lomari_bus_last(l.bus)->message);
    U err = 0;
    if (!render(h, db, *c, m, l.xml || l.json, l.text, err)) {
        l.failed = fail("bus listen", lomari_bus_last(l.bus)->subject, "", err, "cannot render the message");
    } else if (l.json) {
        Failure f;
        if (item_to_json(*c, l.text.data(), std::strlen(l.text.data()), l.line, f)) std::puts(l.line.c_str());
    } else {
        std::fwrite(l.text.data(), 1, std::strlen(l.text.data()), stdout);
        if (l.xml) std::fputc('\n', stdout);
    }
    std::fflush(stdout);
    c->destroy(h, db, m);
}

int bus_listen(const std::vector<std::string> &args) {
    Connection c;
    Listener l;
    std::string why, queue;
    std::vector<std::string> messages;
    long long count = -1;
    double wait = -1;
    int plain = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const int o = c.option(args, i, why);
        if (o < 0) return usage_error(kBusUsage, why);
        if (o) continue;
        const std::string &a = args[i];
        const bool valued = a == "--format" || a == "--count" || a == "--queue" || a == "--message" || a == "--wait" ||
                            a == "--ack-wait";
        if (valued && i + 1 == args.size()) return usage_error(kBusUsage, a + " needs a value");
        if (a == "--format") {
            const std::string &f = args[++i];
            if (f != "text" && f != "xml" && f != "json") return usage_error(kBusUsage, "unknown format '" + f + "'");
            l.xml = f == "xml";
            l.json = f == "json";
        } else if (a == "--count" || a == "--wait" || a == "--ack-wait") {
            char *end = nullptr;
            const double v = std::strtod(args[++i].c_str(), &end);
            if (!end || *end || v <= 0) return usage_error(kBusUsage, a + " needs a positive number");
            if (a == "--count")
                count = static_cast<long long>(v);
            else
                (a == "--wait" ? wait : c.ack_wait) = v;
        } else if (a == "--queue") {
            queue = args[++i];
        } else if (a == "--message") {
            messages.push_back(args[++i]);
        } else if (a.size() > 1 && a[0] == '-') {
            return usage_error(kBusUsage, "unknown option '" + a + "'");
        } else if (plain++ == 0) {
            c.url = a;
        } else {
            return usage_error(kBusUsage, "bus listen takes one URL");
        }
    }
    if (plain != 1) return usage_error(kBusUsage, "bus listen needs a URL");
    Session s;
    l.s = &s;
    lomari_bus_t *b = l.bus = c.open(s.h, s.db);
    if (!b) return fail("bus listen", c.shown(), "", LOMARI_ERR_NO_MEMORY, "cannot make a bus");
    std::vector<const char *> names;
    for (const std::string &m : messages) names.push_back(m.c_str());
    lomari_bus_subscription_t sub{names.empty() ? nullptr : names.data(), names.size(),
                                  queue.empty() ? nullptr : queue.c_str()};
    if (lomari_bus_status_t st = lomari_bus_connect(b)) return bus_fail("bus listen", c, b, st);
    if (lomari_bus_status_t st = lomari_bus_subscribe(b, &sub)) return bus_fail("bus listen", c, b, st);
    for (const Codec &k : codecs())
        if (std::strcmp(k.kind, "message") == 0) lomari_bus_set_handler(b, k.name, print_message);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    if (l.xml) std::printf("<%s>\n", schema::kItemsRoot);
    std::fflush(stdout);
    long long got = 0;
    double idle = 0;
    int status = 0;
    while (!g_stop && (count < 0 || got < count) && !l.failed) {
        const lomari_bus_status_t st = lomari_bus_receive(b, reinterpret_cast<uintptr_t>(&l), 200);
        if (st == LOMARI_BUS_TIMEOUT) {
            idle += 0.2;
            if (wait > 0 && idle >= wait) {
                if (count > 0) status = fail("bus listen", c.shown(), "", 0, std::to_string(got) + " of " +
                                                                                 std::to_string(count) +
                                                                                 " messages arrived");
                break;
            }
            continue;
        }
        if (st != LOMARI_BUS_OK) {
            status = fail("bus listen", c.shown(), "", 0,
                          std::string(lomari_bus_status_text(st)) + ": " + lomari_bus_error(b));
            break;
        }
        idle = 0;
        const lomari_bus_delivery_t &d = *lomari_bus_last(b);
        if (d.dropped)
            std::fprintf(stderr, "lomari: bus listen: %s: %u bytes dropped: %s\n", d.subject, d.length, d.dropped);
        else if (d.dispatched)
            ++got;
    }
    if (l.xml) std::printf("</%s>\n", schema::kItemsRoot);
    lomari_bus_stats_t stats;
    lomari_bus_get_stats(b, &stats);
    lomari_bus_close(b);
    if (stats.dropped || stats.redelivered)
        std::fprintf(stderr, "lomari: bus listen: %llu messages, %llu envelopes dropped, %llu delivered again\n",
                     static_cast<unsigned long long>(stats.dispatched), static_cast<unsigned long long>(stats.dropped),
                     static_cast<unsigned long long>(stats.redelivered));
    return l.failed ? 1 : status;
}

}  // namespace

int cmd_bus(const std::vector<std::string> &args) {
    for (const auto &a : args)
        if (a == "--help" || a == "-h") return std::fputs(kBusUsage, stdout), 0;
    if (args.empty()) return usage_error(kBusUsage, "bus needs send or listen");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "send") return bus_send(rest);
    if (args[0] == "listen") return bus_listen(rest);
    return usage_error(kBusUsage, "unknown bus command '" + args[0] + "'");
}

namespace demo {
namespace {

constexpr unsigned kAdapterCount = sizeof kAdapters / sizeof kAdapters[0];
// The adapters' headers, four im_if_fctrl and one im_vep_fctrl.
constexpr unsigned kDemoMessages = kAdapterCount + 5;
constexpr const char *kDemoSubscribed[] = {"vep_tarnok_headers", "im_if_fctrl", "im_vep_fctrl"};

// The connection of a demo process: the settings travel from the main
// process in the environment, so that no password shows in a command line.
bool connect(Node &n, Session &s, lomari_bus_t *&b) {
    Connection c;
    c.url = Connection::env("LOMARI_BUS_URL");
    b = c.open(s.h, s.db);
    if (!b) return process_fail(n.role, "cannot make a bus") == 0;
    if (lomari_bus_status_t st = lomari_bus_connect(b)) {
        process_fail(n.role, std::string(lomari_bus_status_text(st)) + ": " + lomari_bus_error(b));
        lomari_bus_close(b);
        b = nullptr;
        return false;
    }
    return true;
}

int run_bus_sender(const std::vector<std::string> &args) {
    Session s;
    Node n(s, role_of("sender"));
    lomari_bus_t *b = nullptr;
    if (!connect(n, s, b)) return 1;
    n.deliver = [&](const uint8_t *bytes, U len) {
        if (lomari_bus_status_t st = lomari_bus_publish(b, bytes, len))
            return process_fail(n.role, std::string(lomari_bus_status_text(st)) + ": " + lomari_bus_error(b)) == 0;
        return true;
    };
    bool ok;
    if (args.size() > 2 && args[1] == "--adapter") {
        const unsigned long i = std::strtoul(args[2].c_str(), nullptr, 10);
        ok = i < kAdapterCount && send_adapter(n, kAdapters[i]);
    } else {
        ok = send_flow_control(n);
    }
    if (ok && lomari_bus_flush(b) != LOMARI_BUS_OK) ok = process_fail(n.role, lomari_bus_error(b)) == 0;
    lomari_bus_close(b);
    return ok ? 0 : 1;
}

int run_bus_receiver(const std::vector<std::string> &args) {
    Session s;
    Node n(s, role_of("receiver"));
    const int ready = args.size() > 2 && args[1] == "--ready-fd" ? std::atoi(args[2].c_str()) : -1;
    lomari_bus_t *b = nullptr;
    if (!open_tables(n, 0) || !connect(n, s, b)) return release(n), 1;
    const lomari_bus_subscription_t sub{kDemoSubscribed, 3, nullptr};
    if (lomari_bus_subscribe(b, &sub) != LOMARI_BUS_OK) {
        process_fail(n.role, lomari_bus_error(b));
        lomari_bus_close(b);
        return release(n), 1;
    }
    std::string subjects;
    char subject[256];
    for (const char *m : kDemoSubscribed) {
        lomari_bus_set_handler(b, m, handler_for(n, m));
        subjects += std::string(subjects.empty() ? "" : ", ") + lomari_bus_subject(b, m, subject, sizeof subject);
    }
    say(n, nullptr, "tables open; subscribed to %s", subjects.c_str());
    if (ready >= 0) {
        const char one = 1;
        (void)!::write(ready, &one, 1);
        ::close(ready);
    }
    bool ok = true;
    unsigned stored = 0;
    for (int idle = 0; stored < kDemoMessages && idle < kWaitMs; idle += 200) {
        const lomari_bus_status_t st = lomari_bus_receive(b, 0, 200);
        if (st == LOMARI_BUS_TIMEOUT) continue;
        const lomari_bus_delivery_t &d = *lomari_bus_last(b);
        if (st != LOMARI_BUS_OK) {
            ok = process_fail(n.role, lomari_bus_error(b)) == 0;
            break;
        }
        idle = 0;
        if (d.dropped)
            ok = process_fail(n.role, std::string(d.subject) + ": " + d.dropped) == 0;
        else if (d.error)
            ok = process_fail(n.role, std::string(d.subject) + ": " + lomari_error_name(d.error)) == 0;
        else
            ++stored;
    }
    lomari_bus_close(b);
    say(n, nullptr, "stored %u of %u messages from the bus", stored, kDemoMessages);
    ok = ok && stored == kDemoMessages && id_pools(n) && lookups(n) && tenants_and_shadows(n) && show(n);
    release(n);
    return ok ? 0 : 1;
}

// Starts `lomari demo-bus-process ARGS...`.
pid_t start(const std::vector<std::string> &args, int keep_fd = -1) {
    char exe[4096];
    const ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (len <= 0) return -1;
    exe[len] = '\0';
    std::vector<std::string> all = {exe, "demo-bus-process"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (keep_fd >= 0) ::fcntl(keep_fd, F_SETFD, 0);
        ::execv(exe, argv.data());
        std::_Exit(127);
    }
    return pid;
}

bool reap(const char *role, pid_t pid) {
    if (pid < 0) return std::fprintf(stderr, "lomari: demo: cannot start a %s\n", role), false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    std::fprintf(stderr, "lomari: demo: the %s (pid %d) %s %d\n", role, int(pid),
                 WIFEXITED(status) ? "exited with status" : "was ended by signal",
                 WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return false;
}

}  // namespace

int run_bus(const std::vector<std::string> &args) {
    Connection c;
    std::string why;
    for (size_t i = 0; i < args.size(); ++i) {
        const int o = c.option(args, i, why);
        if (o < 0) return usage_error(kBusUsage, why);
        if (o) continue;
        if (args[i] == "--bus" && i + 1 < args.size())
            c.url = args[++i];
        else
            return std::fprintf(stderr, "lomari: demo: '%s' does not go with --bus (see lomari demo --help)\n",
                                args[i].c_str()),
                   2;
    }
    if (c.stream) return std::fputs("lomari: demo: --bus uses plain subjects; --stream is for lomari bus\n", stderr), 2;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The processes read the settings from the environment.
    const std::pair<const char *, const std::string *> env[] = {
        {"LOMARI_BUS_URL", &c.url},         {"LOMARI_BUS_USER", &c.user},      {"LOMARI_BUS_PASSWORD", &c.password},
        {"LOMARI_BUS_NKEY_SEED", &c.seed},  {"LOMARI_BUS_TLS_CA", &c.ca},      {"LOMARI_BUS_TLS_CERT", &c.cert},
        {"LOMARI_BUS_TLS_KEY", &c.key},     {"LOMARI_BUS_PLATFORM", &c.platform}};
    for (const auto &[name, value] : env) ::setenv(name, value->c_str(), 1);
    const std::string me = role_of("main");
    std::printf("== Senders and a receiver talking through the bus at %s\n", c.shown().c_str());
    int pipe_fd[2];
    if (::pipe2(pipe_fd, O_CLOEXEC) != 0) return fail("demo", "pipe", "", 0, system_reason(errno));
    const pid_t receiver = start({"receiver", "--ready-fd", std::to_string(pipe_fd[1])}, pipe_fd[1]);
    ::close(pipe_fd[1]);
    // The senders start once the receiver listens: plain subjects keep
    // nothing for a receiver that is not there yet.
    pollfd p{pipe_fd[0], POLLIN, 0};
    char one = 0;
    const bool ready = receiver > 0 && ::poll(&p, 1, kWaitMs) == 1 && ::read(pipe_fd[0], &one, 1) == 1;
    ::close(pipe_fd[0]);
    bool ok = ready;
    if (ready) {
        std::vector<pid_t> senders;
        for (unsigned i = 0; i < kAdapterCount; ++i) senders.push_back(start({"sender", "--adapter", std::to_string(i)}));
        senders.push_back(start({"sender"}));
        std::string started = "receiver " + std::to_string(receiver);
        for (pid_t pid : senders) started += ", sender " + std::to_string(pid);
        std::printf("  %s: started %s\n", me.c_str(), started.c_str());
        for (pid_t pid : senders) ok = reap("sender", pid) && ok;
    } else if (receiver > 0) {
        ::kill(receiver, SIGTERM);
    }
    ok = reap("receiver", receiver) && ok;
    return ok ? 0 : 1;
}

int run_bus_process(const std::vector<std::string> &args) {
    // Each line goes out whole, so the processes' lines do not mix.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string role = args.empty() ? "" : args[0];
    if (role == "sender") return run_bus_sender(args);
    if (role == "receiver") return run_bus_receiver(args);
    std::fprintf(stderr, "lomari: demo-bus-process: unknown role '%s'\n", role.c_str());
    return 2;
}

}  // namespace demo

#endif

}  // namespace ltool
