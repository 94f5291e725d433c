// soak.cpp -- the crash soak run, outside the default suite (scripts/soak.sh):
// for a bounded time, writer processes open, fill, empty and free tables of
// all six types in one shared database at random, a lock per step, and are
// killed with SIGKILL at random moments; after each round the database is
// recovered (qelrt_db_recover, no process attached) and checked (dbcheck.h).
// Prints the rounds and each finding (a round with findings goes on with a
// fresh database); exit 1 on any finding.
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dbcheck.h"
#include "qel/rt_control_db.h"
#include "schema_view.h"

namespace {

using H = qel_handle_t *;
using U = uint32_t;
using P = void *;
using WalkFn = int (*)(P, P, U *, P, P);

template <class F> F *Fn(const std::string &a, const std::string &b) {
    return reinterpret_cast<F *>(dlsym(RTLD_DEFAULT, (a + "_" + b).c_str()));
}

// One table type's entry points and the place of its primary key.
struct Tab {
    const lt::TableView &v;
    std::string n = v.desc->name;
    P (*open)(H, U, const char *, U, U *) = Fn<P(H, U, const char *, U, U *)>(n, "table_open");
    P (*open_id)(H, U, uint64_t, U, U *) = Fn<P(H, U, uint64_t, U, U *)>(n, "table_open_by_id");
    void (*free)(H, U, P, U *) = Fn<void(H, U, P, U *)>(n, "table_free");
    P (*create)(H, U) = Fn<P(H, U)>(n, "record_create_cr");
    void (*insert)(H, U, P, P, U *) = Fn<void(H, U, P, P, U *)>(n, "insert");
    void (*del)(H, U, P, P, U *) = Fn<void(H, U, P, P, U *)>(n, "delete");
    void (*destroy)(H, U, P, U *) = Fn<void(H, U, P, U *)>(n, "destroy_record");
    void (*walk)(P, WalkFn, P, U *, P, P) = Fn<void(P, WalkFn, P, U *, P, P)>(v.index[0].prefix, "walk");

    void SetKey(P r, U k) const {
        P part = *reinterpret_cast<P *>(static_cast<uint8_t *>(r) + sizeof(qeldb_record_head_t) +
                                        sizeof(e_avl_node_t) * v.nindex + 8 * v.index[0].part);
        auto *at = static_cast<uint8_t *>(part) + v.index[0].field->offset;
        if (v.index[0].field->kind == lomari::Kind::Str)
            std::snprintf(reinterpret_cast<char *>(at), 32, "soak-%u", k);
        else
            std::memcpy(at, &k, 4);
    }
    std::vector<P> Records(P t) const {
        std::vector<P> out;
        U e = 0;
        walk(t, [](P r, P c, U *, P, P) { return static_cast<std::vector<P> *>(c)->push_back(r), 0; }, &out, &e,
             nullptr, nullptr);
        return out;
    }
    // Deletes and destroys r, as the tenant that inserted it.
    void Drop(H h, U id, P t, P r) const {
        U e = 0, e2 = 0;
        qelrt_set_tenant_id(static_cast<qeldb_record_head_t *>(r)->tenant_id);
        del(h, id, t, r, &e);
        destroy(h, id, r, &e2);
        qelrt_set_tenant_id(0);
    }
};

// One step under the lock on a random table: mostly inserts and deletes,
// sometimes a table emptied and freed.
void Step(H h, U id, const Tab &T, std::mt19937 &rng) {
    U e = 0;
    P t = rng() % 2 ? T.open(h, id, rng() % 2 ? "soak-a" : "soak-b", 0, &e) : T.open_id(h, id, 1 + rng() % 2, 0, &e);
    if (!t) return;
    const unsigned op = rng() % 40;
    if (op == 0) {
        for (P r : T.Records(t)) T.Drop(h, id, t, r);
        T.free(h, id, t, &e);
    } else if (op < 24) {
        qelrt_set_tenant_id(rng() % 4 ? 0 : 7);
        h->err = 0;
        P r = T.create(h, 1);
        if (r && !h->err) {
            T.SetKey(r, rng() % 64);
            if (rng() % 8 == 0) static_cast<qeldb_record_head_t *>(r)->source = QELDB_SRC_SHADOW;
            T.insert(h, id, t, r, &e);
            U e2 = 0;
            if (e) T.destroy(h, id, r, &e2);
        }
        h->err = 0;
        qelrt_set_tenant_id(0);
    } else {
        const std::vector<P> recs = T.Records(t);
        if (!recs.empty()) T.Drop(h, id, t, recs[rng() % recs.size()]);
    }
}

[[noreturn]] void Writer(const char *name, const char *dir, unsigned seed) {
    qelrt_db_t *db = nullptr;
    if (qelrt_db_attach(name, dir, &db)) _exit(2);
    H h = qelrt_handle_new();
    if (qelrt_handle_bind_db(h, db)) _exit(2);
    std::vector<Tab> tabs;
    for (const lt::TableView &v : lt::kTableViews) tabs.push_back(Tab{v});
    std::mt19937 rng(seed);
    for (;;) {
        if (qelrt_db_lock(db) < 0) _exit(3);
        Step(h, qelrt_db_id(db), tabs[rng() % tabs.size()], rng);
        qelrt_db_unlock(db);
    }
}

// Makes the database anew (after a round with findings); false when it cannot.
bool Fresh(const std::string &name, const std::string &dir) {
    qelrt_db_remove(name.c_str(), dir.c_str());
    qelrt_db_options_t opt{32u << 20, 0, 0, dir.c_str()};
    qelrt_db_t *db = nullptr;
    if (qelrt_db_create(name.c_str(), &opt, &db)) {
        std::fprintf(stderr, "soak: %s\n", qelrt_db_error_detail());
        return false;
    }
    qelrt_db_detach(db);
    return true;
}

// One round: writers started and killed, the database recovered and checked; its findings.
std::vector<std::string> Round(const std::string &name, const std::string &dir, std::mt19937 &rng, uint64_t &kills,
                               uint64_t &records) {
    constexpr int kWriters = 3;
    std::vector<std::string> findings;
    pid_t kids[kWriters];
    for (pid_t &k : kids)
        if ((k = fork()) == 0) Writer(name.c_str(), dir.c_str(), unsigned(rng()));
    // Each writer dies at its own random moment, most of them holding the lock.
    for (pid_t k : kids) {
        usleep(useconds_t(rng() % 20000));
        kill(k, SIGKILL);
    }
    for (pid_t k : kids) {
        int st = 0;
        waitpid(k, &st, 0);
        if (WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL)
            ++kills;
        else
            findings.push_back("a writer ended before it was killed: " +
                               (WIFEXITED(st) ? "status " + std::to_string(WEXITSTATUS(st))
                                              : std::string(strsignal(WTERMSIG(st)))));
    }
    qelrt_db_t *db = nullptr;
    if (int rc = qelrt_db_recover(name.c_str(), dir.c_str()))
        return findings.push_back("recover: " + std::to_string(rc) + " " + qelrt_db_error_detail()), findings;
    if (qelrt_db_attach(name.c_str(), dir.c_str(), &db))
        return findings.push_back(std::string("attach: ") + qelrt_db_error_detail()), findings;
    H h = qelrt_handle_new();
    qelrt_handle_bind_db(h, db);
    if (qelrt_db_journal_state(db, nullptr)) findings.push_back("a journal is pending after recovery");
    if (qelrt_db_lock(db) != 0) findings.push_back("the lock is not whole after recovery");
    const ltool::CheckReport r = ltool::check_database(db, h);
    qelrt_db_unlock(db);
    qelrt_handle_free(h);
    qelrt_db_detach(db);
    findings.insert(findings.end(), r.findings.begin(), r.findings.end());
    records = r.records;
    return findings;
}

}  // namespace

// Runs rounds for the time given; a round with findings prints them and the
// run goes on with a fresh database.
int main(int argc, char **argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const std::string dir = argc > 2 ? argv[2] : "/tmp", name = "lomari-soak-" + std::to_string(getpid());
    if (!Fresh(name, dir)) return 2;
    std::mt19937 rng{unsigned(getpid())};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    uint64_t rounds = 0, kills = 0, records = 0, bad = 0, findings = 0;
    while (std::chrono::steady_clock::now() < end) {
        const std::vector<std::string> f = Round(name, dir, rng, kills, records);
        ++rounds;
        if (f.empty()) continue;
        ++bad;
        findings += f.size();
        for (const std::string &s : f) std::printf("round %llu: %s\n", static_cast<unsigned long long>(rounds), s.c_str());
        std::fflush(stdout);
        if (!Fresh(name, dir)) break;
    }
    qelrt_db_remove(name.c_str(), dir.c_str());
    std::printf("soak: %llu rounds, %llu writers killed, %llu records at the end, %llu findings in %llu rounds\n",
                static_cast<unsigned long long>(rounds), static_cast<unsigned long long>(kills),
                static_cast<unsigned long long>(records), static_cast<unsigned long long>(findings),
                static_cast<unsigned long long>(bad));
    return findings ? 1 : 0;
}
