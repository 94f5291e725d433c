// demo_processes.cpp -- `lomari demo --processes`: the main job in separate
// processes around a shared database.  The main process creates the
// database and a listening Unix domain socket in a temporary directory,
// then starts the tool itself again (`lomari demo-process ROLE ...`, a
// command the usage does not list) as one receiver, one reader and four
// senders, and waits for them.
//
// On the socket every message is a frame: its length in 4 bytes, least
// significant first, then the marshalled message.  The receiver takes no
// frame longer than its 64 KiB buffer and hands the library exactly the
// bytes it read, under the database's lock; the reader takes the lock for
// each lookup, walk and count.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "demo.h"
#include "lomari/lomari.h"
#include "qel/rt_control_db.h"
#include "tables.h"

namespace ltool::demo {

std::string role_of(const char *role) { return std::string(role) + " (pid " + std::to_string(getpid()) + ")"; }

int process_fail(const std::string &role, const std::string &what) {
    std::fprintf(stderr, "lomari: demo: %s: %s\n", role.c_str(), what.c_str());
    return 1;
}

namespace {

constexpr U kMaxFrame = 1u << 16;
constexpr unsigned kSenders = sizeof kAdapters / sizeof kAdapters[0] + 1;

bool write_all(int fd, const void *p, size_t n) {
    const auto *b = static_cast<const uint8_t *>(p);
    while (n > 0) {
        const ssize_t w = ::write(fd, b, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        b += w;
        n -= size_t(w);
    }
    return true;
}

// Reads up to n bytes, stopping early only at the end of the input or on an
// error (errno tells which: 0 at the end); returns how many were read.
size_t read_full(int fd, void *p, size_t n) {
    auto *b = static_cast<uint8_t *>(p);
    size_t got = 0;
    errno = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, b + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += size_t(r);
    }
    return got;
}

bool socket_address(const std::string &path, sockaddr_un &a) {
    std::memset(&a, 0, sizeof a);
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) return false;
    std::memcpy(a.sun_path, path.c_str(), path.size());
    return true;
}

// The value of "--name VALUE" in args, or fallback.
std::string option(const std::vector<std::string> &args, const char *name, const std::string &fallback = "") {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == name) return args[i + 1];
    return fallback;
}

int run_sender(const std::vector<std::string> &args) {
    Session s;
    Node n(s, role_of("sender"));
    sockaddr_un addr;
    if (!socket_address(option(args, "--socket"), addr)) return process_fail(n.role, "no socket path");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        const int e = errno;
        if (fd >= 0) ::close(fd);
        return process_fail(n.role, "cannot reach the receiver: " + system_reason(e));
    }
    n.deliver = [&](const uint8_t *b, U len) {
        const uint8_t frame[4] = {uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16), uint8_t(len >> 24)};
        if (write_all(fd, frame, 4) && write_all(fd, b, len)) return true;
        process_fail(n.role, "cannot send to the receiver: " + system_reason(errno));
        return false;
    };
    const std::string adapter = option(args, "--adapter");
    bool ok;
    if (adapter.empty()) {
        ok = send_flow_control(n);
    } else {
        const unsigned long i = std::strtoul(adapter.c_str(), nullptr, 10);
        ok = i < sizeof kAdapters / sizeof kAdapters[0] && send_adapter(n, kAdapters[i]);
    }
    ::close(fd);
    return ok ? 0 : 1;
}

// Attaches the database and binds the node to it; 0 or the exit status.
int attach_node(const std::vector<std::string> &args, SharedDb &db, Node &n) {
    const std::string name = option(args, "--db"), dir = option(args, "--dir");
    if (db.attach(name, dir.empty() ? nullptr : dir.c_str()) != 0) return process_fail(n.role, "database " + name + ": " + db.detail());
    n.h = db.h();
    n.db = db.id();
    n.shared = db.db();
    return 0;
}

int run_receiver(const std::vector<std::string> &args) {
    SharedDb db;
    Node n;
    n.role = role_of("receiver");
    if (int st = attach_node(args, db, n)) return st;
    const int listener = std::atoi(option(args, "--listen-fd", "-1").c_str());
    const unsigned senders = unsigned(std::atoi(option(args, "--senders", "0").c_str()));
    {
        Held lock(n);
        if (!open_tables(n, 0)) return 1;
    }
    say(n, nullptr, "tables open; waiting for %u senders", senders);
    bool ok = true;
    unsigned messages = 0;
    for (unsigned k = 0; k < senders; ++k) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) != 1) return process_fail(n.role, "no sender came within 30 s");
        const int conn = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) return process_fail(n.role, "accept: " + system_reason(errno));
        const timeval limit{kWaitMs / 1000, 0};
        ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        for (;;) {
            uint8_t frame[4];
            const size_t got = read_full(conn, frame, 4);
            if (got == 0 && errno == 0) break;  // the sender is done
            if (got < 4) {
                ok = process_fail(n.role, "a sender's connection ends inside a frame's length") == 0;
                break;
            }
            const U len = U(frame[0]) | U(frame[1]) << 8 | U(frame[2]) << 16 | U(frame[3]) << 24;
            if (len == 0 || len > kMaxFrame || len > n.wire.size()) {
                ok = process_fail(n.role, "a frame announces " + std::to_string(len) +
                                              " bytes; a message has 1 to 65536: the connection is dropped") == 0;
                break;
            }
            const size_t body = read_full(conn, n.wire.data(), len);
            if (body < len) {
                ok = process_fail(n.role, "a sender's connection ends inside a frame: " + std::to_string(body) +
                                              " of " + std::to_string(len) + " bytes") == 0;
                break;
            }
            Held lock(n);
            n.err = 0;
            if (receive(n, n.wire.data(), U(body)))
                ++messages;
            else
                ok = false;
        }
        ::close(conn);
    }
    say(n, nullptr, "stored %u message%s of %u senders", messages, messages == 1 ? "" : "s", senders);
    {
        // The receiver's own records go in as one change: a reader sees
        // them all or none.
        Held lock(n);
        ok = id_pools(n) && tenants_and_shadows(n) && ok;
    }
    return ok ? 0 : 1;
}

int run_reader(const std::vector<std::string> &args) {
    SharedDb db;
    Node n;
    n.role = role_of("reader");
    if (int st = attach_node(args, db, n)) return st;
    // The receiver stores the id pools last: once global_flow_control
    // holds its range, every record is in.
    unsigned looks = 0;
    for (bool in = false; !in; ++looks) {
        if (looks * 10 > unsigned(kWaitMs)) return process_fail(n.role, "the receiver's records did not come within 30 s");
        if (looks) ::usleep(10000);
        Held lock(n);
        n.err = 0;
        if (!n.pools) open_tables(n, 1);
        in = n.pools && global_flow_control_table_get_count(n.h, n.db, n.pools) > 0;
    }
    say(n, nullptr, "the receiver's records are in (seen at look %u)", looks);
    bool ok = lookups(n);
    heading(n, "Counts");
    std::vector<TableRef> tables;
    {
        Held lock(n);
        tables = db.tables();
    }
    for (const TableRef &t : tables) {
        U all, shadows;
        {
            Held lock(n);
            all = t.kind->count(n.h, n.db, t.table);
            shadows = t.kind->count_by_src(n.h, n.db, t.table, QELDB_SRC_SHADOW);
        }
        say(n, nullptr, "%s \"%s\": %u record%s, %u of them a shadow", t.kind->name, t.name.c_str(), all,
            all == 1 ? "" : "s", shadows);
    }
    return ok && show(n) ? 0 : 1;
}

}  // namespace

int run_process(const std::vector<std::string> &args) {
    // Each line goes out whole, so the processes' lines do not mix.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string role = args.empty() ? "" : args[0];
    if (role == "sender") return run_sender(args);
    if (role == "receiver") return run_receiver(args);
    if (role == "reader") return run_reader(args);
    std::fprintf(stderr, "lomari: demo-process: unknown role '%s'\n", role.c_str());
    return 2;
}

int run_processes(const std::string &db_name, const std::string &db_dir) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string me = role_of("main");
    const bool keep = !db_name.empty();
    const std::string name = keep ? db_name : "lomari-demo-" + std::to_string(getpid());
    const char *opt_dir = db_dir.empty() ? nullptr : db_dir.c_str();
    // The receiver and the reader attach the database where it was made.
    std::vector<std::string> where = {"--db", name};
    if (opt_dir) where.insert(where.end(), {"--dir", db_dir});
    {
        SharedDb db;
        qelrt_db_options_t opt{};
        opt.dir = db_dir.empty() ? nullptr : db_dir.c_str();
        if (int rc = db.create(name, opt))
            return fail("demo", name, "", 0,
                        db.detail() + (rc == 17 ? " ('lomari db rm " + name + "' removes it)" : std::string()));
        qelrt_db_usage_t u{};
        qelrt_db_usage(db.db(), &u);
        std::printf("== Processes around the shared database %s (%llu bytes at 0x%llx)\n", name.c_str(),
                    static_cast<unsigned long long>(u.size), static_cast<unsigned long long>(u.base));
    }
    auto drop_db = [&] {
        if (!keep) qelrt_db_remove(name.c_str(), opt_dir);
    };
    std::error_code ec;
    std::string dir = (std::filesystem::temp_directory_path(ec) / "lomari-demo-XXXXXX").string();
    if (ec || !::mkdtemp(dir.data())) {
        drop_db();
        return fail("demo", dir, "", 0, "cannot make a temporary directory: " + system_reason(errno));
    }
    const std::string path = dir + "/socket";
    sockaddr_un addr;
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool listening = socket_address(path, addr) && listener >= 0 &&
                           ::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
                           ::listen(listener, int(kSenders)) == 0;
    const int listen_error = errno;
    auto tidy = [&] {
        if (listener >= 0) ::close(listener);
        ::unlink(path.c_str());
        ::rmdir(dir.c_str());
    };
    if (!listening) {
        tidy();
        drop_db();
        return fail("demo", path, "", 0, "cannot listen on a local socket: " + system_reason(listen_error));
    }
    std::printf("  %s: messages go over %s\n", me.c_str(), path.c_str());
    std::fflush(stdout);
    char exe[4096];
    const ssize_t exe_len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (exe_len <= 0) {
        tidy();
        drop_db();
        return fail("demo", "/proc/self/exe", "", 0, system_reason(errno));
    }
    exe[exe_len] = '\0';
    // Starts `lomari demo-process ROLE args...`; the receiver keeps the
    // listening socket.
    auto start = [&](std::vector<std::string> args) -> pid_t {
        args.insert(args.begin(), {exe, "demo-process"});
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const bool receiver = args[2] == "receiver";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (receiver) ::fcntl(listener, F_SETFD, 0);
            ::execv(exe, argv.data());
            std::_Exit(127);
        }
        return pid;
    };
    struct Child {
        const char *role;
        pid_t pid;
    };
    std::vector<Child> children;
    std::vector<std::string> receiver = {"receiver", "--listen-fd", std::to_string(listener), "--senders",
                                         std::to_string(kSenders)},
                             reader = {"reader"};
    receiver.insert(receiver.end(), where.begin(), where.end());
    reader.insert(reader.end(), where.begin(), where.end());
    children.push_back({"receiver", start(receiver)});
    children.push_back({"reader", start(reader)});
    for (unsigned i = 0; i + 1 < kSenders; ++i)
        children.push_back({"sender", start({"sender", "--socket", path, "--adapter", std::to_string(i)})});
    children.push_back({"sender", start({"sender", "--socket", path})});
    ::close(listener);
    std::string started;
    for (const Child &c : children) started += std::string(started.empty() ? "" : ", ") + c.role + " " + std::to_string(c.pid);
    std::printf("  %s: started %s\n", me.c_str(), started.c_str());
    bool ok = true;
    for (const Child &c : children) {
        if (c.pid < 0) {
            ok = false;
            std::fprintf(stderr, "lomari: demo: cannot start a %s: %s\n", c.role, system_reason(errno).c_str());
            continue;
        }
        int status = 0;
        while (::waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ok = false;
            std::fprintf(stderr, "lomari: demo: the %s (pid %d) %s %d\n", c.role, int(c.pid),
                         WIFEXITED(status) ? "exited with status" : "was ended by signal",
                         WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
        }
    }
    ::unlink(path.c_str());
    ::rmdir(dir.c_str());
    if (keep)
        std::printf("== The database %s is kept: 'lomari db ls %s%s' lists its tables\n", name.c_str(), name.c_str(),
                    opt_dir ? (" --dir " + db_dir).c_str() : "");
    else if (qelrt_db_remove(name.c_str(), opt_dir) == 0)
        std::printf("== The temporary database %s is removed\n", name.c_str());
    return ok ? 0 : 1;
}

}  // namespace ltool::demo
