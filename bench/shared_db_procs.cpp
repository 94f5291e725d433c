// Shared databases across processes: lookups and walks of one table made
// by this process, measured here and again from a second process that
// attaches the same database (this program run again with an argument, so
// liblomari loads at another address there); then inserts that take the
// lock per record against the same with the lock held over the batch, and
// against a handle whose database is its own heap; and insert and delete
// (with the record's destroy), each under its own lock, with the journal on
// and off.  Prints Markdown tables.  Figures are thread CPU time per
// operation, the median of 5 runs (the mean of 5 for the inserts).
//
//     lomari_shm_bench [records]
#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "qel/rt_control.h"
#include "qel/rt_shared.h"
#include "schema_view.h"

extern char **environ;

namespace {

using H = qel_handle_t *;
using U = uint32_t;
using P = void *;

template <class F> F *Fn(const std::string &n) { return reinterpret_cast<F *>(dlsym(RTLD_DEFAULT, n.c_str())); }

// The table measured: the first with a 32-bit primary key.
const lt::TableView &View() {
    for (const lt::TableView &v : lt::kTableViews)
        if (v.index[0].field && v.index[0].field->kind != lomari::Kind::Str) return v;
    std::abort();
}

struct Tab {
    const lt::TableView &v = View();
    std::string n = v.desc->name, x = v.index[0].prefix;
    P (*open)(H, U, const char *, U, U *) = Fn<P(H, U, const char *, U, U *)>(n + "_table_open");
    P (*create)(H, U) = Fn<P(H, U)>(n + "_record_create_cr");
    void (*insert)(H, U, P, P, U *) = Fn<void(H, U, P, P, U *)>(n + "_insert");
    void (*del)(H, U, P, P, U *) = Fn<void(H, U, P, P, U *)>(n + "_delete");
    void (*destroy)(H, U, P, U *) = Fn<void(H, U, P, U *)>(n + "_destroy_record");
    P (*search)(H, P, const void *, U, U) = Fn<P(H, P, const void *, U, U)>(x + "_search_cr");
    void (*walk)(P, int (*)(P, P, U *, P, P), P, U *, P, P) =
        Fn<void(P, int (*)(P, P, U *, P, P), P, U *, P, P)>(x + "_walk");
    void SetKey(P r, U k) const {
        P part = *reinterpret_cast<P *>(static_cast<uint8_t *>(r) + sizeof(qeldb_record_head_t) +
                                        sizeof(e_avl_node_t) * v.nindex + 8 * v.index[0].part);
        std::memcpy(static_cast<uint8_t *>(part) + v.index[0].field->offset, &k, 4);
    }
};

double Now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e9 + ts.tv_nsec;
}

// Median of 5 runs of f, per operation (f does ops operations).
double Median(U ops, const std::function<void()> &f) {
    std::vector<double> t;
    for (int i = 0; i < 5; ++i) {
        const double s = Now();
        f();
        t.push_back((Now() - s) / ops);
    }
    std::sort(t.begin(), t.end());
    return t[2];
}

U Mix(U i) { return (i * 2654435761u) ^ 0x5bd1e995u; }  // keys in no order

// Lookups of every key (each under the lock, as readers take it; or, lock 0, taking none) and whole walks.
void Reads(qelrt_db_t *db, H h, U n, double *lookup, double *walk, bool lock = true) {
    Tab T;
    U e = 0;
    qelrt_db_lock(db);
    P t = T.open(h, h->database_id, "bench", 1, &e);
    qelrt_db_unlock(db);
    if (!t) std::abort();
    volatile uintptr_t sink = 0;
    *lookup = Median(n, [&] {
        for (U i = 0; i < n; ++i) {
            const U k = Mix(i);
            if (lock) qelrt_db_lock(db);
            sink = sink + reinterpret_cast<uintptr_t>(T.search(h, t, &k, 1, 0));
            if (lock) qelrt_db_unlock(db);
        }
    });
    *walk = Median(n * 10, [&] {
        for (int r = 0; r < 10; ++r) {
            qelrt_db_lock(db);
            T.walk(t, [](P, P c, U *, P, P) { return ++*static_cast<U *>(c), 0; }, const_cast<uintptr_t *>(&sink), &e,
                   nullptr, nullptr);
            qelrt_db_unlock(db);
        }
    });
}

// Inserts n records, then deletes and destroys them; lock: 0 none (heap handle), 1 held over the batch, 2 per record.
double Inserts(qelrt_db_t *db, H h, U n, int lock) {
    Tab T;
    U e = 0;
    if (lock) qelrt_db_lock(db);
    P t = T.open(h, h->database_id, lock ? "insert" : "heap", 0, &e);
    if (lock) qelrt_db_unlock(db);
    std::vector<P> recs(n);
    double ns = 0;
    for (int rep = 0; rep < 5; ++rep) {
        for (U i = 0; i < n; ++i) T.SetKey(recs[i] = T.create(h, 1), Mix(i));
        std::vector<double> one;
        const double s = Now();
        if (lock == 1) qelrt_db_lock(db);
        for (U i = 0; i < n; ++i) {
            if (lock == 2) qelrt_db_lock(db);
            T.insert(h, h->database_id, t, recs[i], &e);
            if (lock == 2) qelrt_db_unlock(db);
        }
        if (lock == 1) qelrt_db_unlock(db);
        ns += (Now() - s) / n / 5;
        if (lock) qelrt_db_lock(db);
        for (P r : recs) {
            T.del(h, h->database_id, t, r, &e);
            T.destroy(h, h->database_id, r, &e);
        }
        if (lock) qelrt_db_unlock(db);
    }
    return ns;
}

// Insert, then delete and destroy, n records, each under its own lock, journaled or not: ns per
// insert and per delete (with its destroy), means of 5 repetitions.
std::pair<double, double> Journaled(qelrt_db_t *db, H h, U n, bool journal) {
    Tab T;
    U e = 0;
    qelrt_db_set_journal(db, journal);
    qelrt_db_lock(db);
    P t = T.open(h, h->database_id, "journal", 0, &e);
    qelrt_db_unlock(db);
    std::vector<P> recs(n);
    double ins = 0, del = 0;
    for (int rep = 0; rep < 5; ++rep) {
        qelrt_db_lock(db);
        for (U i = 0; i < n; ++i) T.SetKey(recs[i] = T.create(h, 1), Mix(i));
        qelrt_db_unlock(db);
        double s = Now();
        for (U i = 0; i < n; ++i) {
            qelrt_db_lock(db);
            T.insert(h, h->database_id, t, recs[i], &e);
            qelrt_db_unlock(db);
        }
        ins += (Now() - s) / n / 5;
        s = Now();
        for (P r : recs) {
            qelrt_db_lock(db);
            T.del(h, h->database_id, t, r, &e);
            T.destroy(h, h->database_id, r, &e);
            qelrt_db_unlock(db);
        }
        del += (Now() - s) / n / 5;
    }
    qelrt_db_set_journal(db, 1);
    return {ins, del};
}

}  // namespace

int main(int argc, char **argv) {
    const char *name = "lomari-bench-shm";
    if (argc > 2) {  // the second process: attach, measure, print two numbers
        qelrt_db_t *db = nullptr;
        if (qelrt_db_attach(argv[2], nullptr, &db)) return std::fprintf(stderr, "%s\n", qelrt_db_error_detail()), 1;
        H h = qelrt_handle_new();
        qelrt_handle_bind_db(h, db);
        double l, w;
        Reads(db, h, U(std::atoi(argv[1])), &l, &w);
        std::printf("%.1f %.2f\n", l, w);
        return 0;
    }
    const U n = argc > 1 ? U(std::atoi(argv[1])) : 100000;
    qelrt_db_remove(name, nullptr);
    qelrt_db_options_t o{256u << 20, 0, 3, nullptr};
    qelrt_db_t *db = nullptr;
    if (qelrt_db_create(name, &o, &db)) return std::fprintf(stderr, "%s\n", qelrt_db_error_detail()), 1;
    H h = qelrt_handle_new();
    qelrt_handle_bind_db(h, db);
    Tab T;
    U e = 0;
    qelrt_db_lock(db);
    P t = T.open(h, h->database_id, "bench", 0, &e);
    for (U i = 0; i < n; ++i) {
        P r = T.create(h, 1);
        T.SetKey(r, Mix(i));
        T.insert(h, h->database_id, t, r, &e);
    }
    qelrt_db_unlock(db);
    double l1, w1, l2 = 0, w2 = 0, l0, w0;
    Reads(db, h, n, &l1, &w1);
    Reads(db, h, n, &l0, &w0, false);
    // The same from a second process.
    std::string ns = std::to_string(n);
    int fds[2];
    if (pipe(fds)) return 1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    char *args[] = {argv[0], ns.data(), const_cast<char *>(name), nullptr};
    pid_t pid;
    posix_spawn(&pid, "/proc/self/exe", &fa, nullptr, args, environ);
    close(fds[1]);
    char buf[128] = {};
    (void)!read(fds[0], buf, sizeof buf - 1);
    int st = 0;
    waitpid(pid, &st, 0);
    std::sscanf(buf, "%lf %lf", &l2, &w2);
    const U m = 20000;
    const double batch = Inserts(db, h, m, 1), each = Inserts(db, h, m, 2);
    H heap = qelrt_handle_new();
    const double own = Inserts(db, heap, m, 0);
    std::printf("| case (%u records) | creating process | second process | ratio |\n|---|---|---|---|\n", n);
    std::printf("| lookup by key, lock per lookup (ns) | %.1f | %.1f | %.2f |\n", l1, l2, l2 / l1);
    std::printf("| walk, per record (ns) | %.2f | %.2f | %.2f |\n", w1, w2, w2 / w1);
    std::printf("| lookup by key, no lock (ns) | %.1f | | %.2f (lock per lookup against none) |\n", l0, l1 / l0);
    std::printf("\n| insert (%u records, ns each) | ns | against lock held over the batch |\n|---|---|---|\n", m);
    std::printf("| segment, lock held over the batch | %.1f | 1.00 |\n", batch);
    std::printf("| segment, lock taken per insert | %.1f | %.2f |\n", each, each / batch);
    std::printf("| handle's own heap database, no lock | %.1f | %.2f |\n", own, own / batch);
    const auto on = Journaled(db, h, m, true), off = Journaled(db, h, m, false);
    std::printf("\n| %u records, lock per operation (ns each) | journal on | journal off | ratio |\n|---|---|---|---|\n", m);
    std::printf("| insert | %.1f | %.1f | %.2f |\n", on.first, off.first, on.first / off.first);
    std::printf("| delete and destroy | %.1f | %.1f | %.2f |\n", on.second, off.second, on.second / off.second);
    qelrt_handle_free(heap);
    qelrt_handle_free(h);
    qelrt_db_detach(db);
    qelrt_db_remove(name, nullptr);
    return WIFEXITED(st) && WEXITSTATUS(st) == 0 ? 0 : 1;
}
