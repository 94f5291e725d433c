// demo.h -- the steps of `lomari demo` that both of its forms run: the
// single-process demo (demo.cpp) and the one whose senders, receiver and
// reader are separate processes around a shared database
// (demo_processes.cpp), and the one whose senders and receiver talk through
// a message bus (bus.cpp).  A Node is one process's part: its handle, its
// view of the six tables, and how it hands a marshalled message on.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qel/rt_shared.h"
#include "tool.h"

namespace ltool::demo {

struct Adapter {
    U slot, bay, mappings;
};
inline constexpr Adapter kAdapters[] = {{3, 1, 8}, {1, 0, 4}, {2, 1, 6}};

// "sender (pid 812)": a demo process's role as its lines name it.
std::string role_of(const char *role);
// Reports on standard error what went wrong in a demo process; returns 1.
int process_fail(const std::string &role, const std::string &what);
// How long one demo process waits for another before it gives up.
inline constexpr int kWaitMs = 30000;

struct Node {
    Node() = default;
    Node(const Session &s, std::string r = "") : h(s.h), db(s.db), role(std::move(r)) {}
    H h = nullptr;
    U db = QEL_NO_DATABASE;
    // The shared database when there is one: every lookup and count takes
    // its lock.
    qelrt_db_t *shared = nullptr;
    // "receiver (pid 812)" when processes tell the story; empty in the
    // single-process demo, whose lines name the sender and the receiver only.
    std::string role;
    // Hands a marshalled message to the receiver; false when it could not.
    std::function<bool(const uint8_t *, U)> deliver;
    void *headers = nullptr, *if_flow = nullptr, *vep_flow = nullptr;
    void *cc = nullptr, *aps = nullptr, *pools = nullptr;
    FILE *out = nullptr;
    std::vector<uint8_t> wire = std::vector<uint8_t>(1 << 16);
    std::vector<char> text = std::vector<char>(1 << 16);
    U err = 0;

    bool ok(const char *what);
    // Marshals a message, writes it to --out, and returns its length.
    template <class M, class Marshal>
    U send(M *m, Marshal marshal) {
        const U n = marshal(h, db, wire.data(), m, U(wire.size()), &err);
        if (out && !err) std::fwrite(wire.data(), 1, n, out);
        return n;
    }
};

// Holds the node's database lock for one operation when the database is
// shared; nothing otherwise.
class Held {
public:
    explicit Held(Node &n);
    ~Held();
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;

private:
    qelrt_db_t *db_;
};

// "== <what>", naming the process when processes tell the story.
void heading(const Node &n, const char *what);
// "  <who>: <line>": who is the process's role, or role in the
// single-process demo (null: no one).
void say(const Node &n, const char *role, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// Opens the six tables "demo" (open_type 0 creates them, 1 finds them).
bool open_tables(Node &n, U open_type);
// The sender's side: one adapter's vep_tarnok_headers; the flow-control
// messages (four im_if_fctrl and one im_vep_fctrl).
bool send_adapter(Node &n, const Adapter &a);
bool send_flow_control(Node &n);
// The receiver's side: unmarshals a message and stores it through its
// handler.  len is what was received; nothing beyond it is read.
bool receive(Node &n, const uint8_t *bytes, U len);
// The receiver's own records, then the readers' lookups, counts and
// renderings.
bool id_pools(Node &n);
bool tenants_and_shadows(Node &n);
bool lookups(Node &n);
bool show(Node &n);
// Releases every record (of both tenants) and every table of the node.
void release(Node &n);

// The receiver's handler for a message the demo receives (null for the
// others), as the library's unmarshal calls it, storing into n: for
// receivers whose unmarshal runs elsewhere (the bus).
using Handler = void (*)(H, U, uint64_t, void *, U *);
Handler handler_for(Node &n, const char *message);

// `lomari demo --bus URL ...` and its processes, `lomari demo-bus-process
// ROLE ...` (bus.cpp).
int run_bus(const std::vector<std::string> &args);
int run_bus_process(const std::vector<std::string> &args);

// `lomari demo-process ROLE ...`, the processes of `lomari demo --processes`.
int run_process(const std::vector<std::string> &args);
// db_name empty: a temporary database in POSIX shared memory; dir empty:
// POSIX shared memory, else the file db_name in dir.
int run_processes(const std::string &db_name, const std::string &dir);

}  // namespace ltool::demo
