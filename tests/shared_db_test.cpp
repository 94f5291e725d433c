// Databases shared between processes, with real processes: this binary
// runs again as a child (exec, so liblomari loads at another address) when
// LOMARI_SHM_CHILD names a role.  A writer inserts and deletes in the six
// tables while two readers look up, walk and count; objects made in one
// process are destroyed in another; a holder killed with the lock leaves
// it to the next locker; attaches that must be refused are; a full segment
// refuses with 12 and leaves the table whole; and the crash sweep: every
// operation that changes a database, killed before each of its journaled
// stores in turn, leaves it as it was or as the operation makes it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <functional>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "dbcheck.h"
#include "qel/rt_control.h"
#include "qel/rt_control_db.h"
#include "dbcheck.h"
#include "qel/rt_shared.h"
#include "schema_view.h"

extern char **environ;

namespace {

using lt::kTableViews;
using lt::TableView;
using H = qel_handle_t *;
using U = uint32_t;
using P = void *;
using WalkFn = int (*)(P, P, U *, P, P);

constexpr U kRecHead = sizeof(qeldb_record_head_t), kNode = sizeof(e_avl_node_t);

template <class F> F *Fn(const std::string &a, const std::string &b) {
    return reinterpret_cast<F *>(dlsym(RTLD_DEFAULT, (a + "_" + b).c_str()));
}

// One table's entry points and record shape.
struct Tab {
    const TableView &v;
    std::string n = v.desc->name;
    P (*open)(H, U, const char *, U, U *) = Fn<P(H, U, const char *, U, U *)>(n, "table_open");
    P (*open_id)(H, U, uint64_t, U, U *) = Fn<P(H, U, uint64_t, U, U *)>(n, "table_open_by_id");
    P (*create)(H, U) = Fn<P(H, U)>(n, "record_create_cr");
    void (*insert)(H, U, P, P, U *) = Fn<void(H, U, P, P, U *)>(n, "insert");
    void (*del)(H, U, P, P, U *) = Fn<void(H, U, P, P, U *)>(n, "delete");
    void (*destroy)(H, U, P, U *) = Fn<void(H, U, P, U *)>(n, "destroy_record");
    U (*count)(H, U, P) = Fn<U(H, U, P)>(n, "table_get_count");
    void (*walk)(P, WalkFn, P, U *, P, P) = Fn<void(P, WalkFn, P, U *, P, P)>(v.index[0].prefix, "walk");
    P (*search)(H, P, const void *, U, U) = Fn<P(H, P, const void *, U, U)>(v.index[0].prefix, "search_cr");

    bool Str() const { return v.index[0].field->kind == lomari::Kind::Str; }
    uint8_t *KeyAt(P r) const {
        P part = *reinterpret_cast<P *>(static_cast<uint8_t *>(r) + kRecHead + kNode * v.nindex + 8 * v.index[0].part);
        return static_cast<uint8_t *>(part) + v.index[0].field->offset;
    }
    void SetKey(P r, U k) const {
        if (Str()) std::snprintf(reinterpret_cast<char *>(KeyAt(r)), 32, "key-%010u-padding-to-31chr", k);
        else std::memcpy(KeyAt(r), &k, 4);
    }
    U Key(P r) const {
        if (Str()) return U(std::strtoul(reinterpret_cast<char *>(KeyAt(r)) + 4, nullptr, 10));
        U k;
        std::memcpy(&k, KeyAt(r), 4);
        return k;
    }
    std::vector<P> Walk(P t) const {
        std::vector<P> out;
        U e = 0;
        walk(t, [](P r, P ctx, U *, P, P) { return static_cast<std::vector<P> *>(ctx)->push_back(r), 0; }, &out, &e,
             nullptr, nullptr);
        return out;
    }
    // The reader's check: ordered, counted as walked, every record found by its key.  "" when so.
    std::string Check(H h, P t) const {
        const std::vector<P> recs = Walk(t);
        if (count(h, h->database_id, t) != recs.size()) return n + ": count differs from walk";
        for (size_t i = 1; i < recs.size(); ++i)
            if (Key(recs[i - 1]) >= Key(recs[i])) return n + ": walk out of order";
        for (P r : recs)
            if (search(h, t, KeyAt(r), 1, 0) != r) return n + ": lookup misses a walked record";
        return "";
    }
};

// Writes n bytes at offset at of the file path.
bool Poke(const std::string &path, off_t at, const void *bytes, size_t n) {
    int fd = open(path.c_str(), O_WRONLY);
    const bool ok = fd >= 0 && pwrite(fd, bytes, n, at) == ssize_t(n);
    if (fd >= 0) close(fd);
    return ok;
}

const char *Dir() { return std::getenv("LOMARI_SHM_DIR"); }

// A bound handle on an attached database, for a child.
struct Bound {
    qelrt_db_t *db = nullptr;
    H h = nullptr;
    int rc = qelrt_db_attach(std::getenv("LOMARI_SHM_NAME"), Dir(), &db);
    Bound() {
        if (rc) return;
        h = qelrt_handle_new();
        rc = qelrt_handle_bind_db(h, db);
    }
};

int Fail(const std::string &why) {
    std::fprintf(stderr, "child: %s\n", why.c_str());
    return 1;
}

// ---- children ----------------------------------------------------------------------------

// Inserts keys 0..n-1 in every table, deleting and destroying every third as it goes, a lock per step.
int Writer(int n) {
    Bound b;
    if (b.rc) return Fail("attach " + std::string(qelrt_db_error_detail()));
    for (const TableView &v : kTableViews) {
        Tab T{v};
        U e = 0;
        qelrt_db_lock(b.db);
        P t = T.open(b.h, b.h->database_id, "shm", 0, &e);
        T.open_id(b.h, b.h->database_id, 7, 0, &e);  // an id-keyed open: its root is shared
        qelrt_db_unlock(b.db);
        if (!t || e) return Fail(T.n + ": open");
        std::vector<P> live;
        for (int i = 0; i < n; ++i) {
            qelrt_db_lock(b.db);
            P r = T.create(b.h, 1);
            T.SetKey(r, U(i));
            T.insert(b.h, b.h->database_id, t, r, &e);
            live.push_back(r);
            if (i % 3 == 2) {
                P gone = live[live.size() - 2];
                T.del(b.h, b.h->database_id, t, gone, &e);
                T.destroy(b.h, b.h->database_id, gone, &e);
                live.erase(live.end() - 2);
            }
            qelrt_db_unlock(b.db);
            if (e) return Fail(T.n + ": insert or delete");
        }
    }
    return 0;
}

// Rounds of: under the lock, every table's index checked; tables not yet made are skipped.
int Reader(int rounds) {
    Bound b;
    if (b.rc) return Fail("attach " + std::string(qelrt_db_error_detail()));
    int seen = 0;
    for (int i = 0; i < rounds; ++i) {
        for (const TableView &v : kTableViews) {
            Tab T{v};
            U e = 0;
            qelrt_db_lock(b.db);
            P t = T.open(b.h, b.h->database_id, "shm", 1, &e);
            P byid = T.open_id(b.h, b.h->database_id, 7, 1, &e);
            std::string bad = t ? T.Check(b.h, t) : "";
            seen += t != nullptr;
            if (t && !byid) bad = T.n + ": id-keyed table missing";
            qelrt_db_unlock(b.db);
            if (!bad.empty()) return Fail(bad);
        }
        usleep(500);
    }
    return seen ? 0 : Fail("no table seen");
}

// Deletes and destroys every record of every table: objects another process made.
int Destroyer() {
    Bound b;
    if (b.rc) return Fail("attach");
    qelrt_db_lock(b.db);
    for (const TableView &v : kTableViews) {
        Tab T{v};
        U e = 0;
        P t = T.open(b.h, b.h->database_id, "shm", 1, &e);
        for (P r : t ? T.Walk(t) : std::vector<P>{}) {
            T.del(b.h, b.h->database_id, t, r, &e);
            T.destroy(b.h, b.h->database_id, r, &e);
        }
        if (e || (t && T.count(b.h, b.h->database_id, t))) return Fail(T.n + ": destroy");
    }
    qelrt_db_unlock(b.db);
    return 0;
}

// Takes the lock, says so on the fd given, and waits to be killed.
int Holder(int fd) {
    Bound b;
    if (b.rc || qelrt_db_lock(b.db) != 0) return Fail("lock");
    (void)!write(fd, "L", 1);
    for (;;) pause();
}

// ---- the crash sweep's operations ------------------------------------------------------

constexpr uint16_t kTenant = 3;

// What an operation works on: made and committed by the parent, found by address in the child.
struct CrashArgs {
    P table = nullptr, victim = nullptr, rec = nullptr, other = nullptr;
};

// The entry points the sweep adds to Tab's.
struct CrashTab : Tab {
    std::string part = v.parts[v.nparts - 1]->name;
    P (*open_auto)(H, U, U, U *) = Fn<P(H, U, U, U *)>(n, "table_open_auto_id");
    void (*free)(H, U, P, U *) = Fn<void(H, U, P, U *)>(n, "table_free");
    void (*request_free)(H, U, P, U *) = Fn<void(H, U, P, U *)>(n, "request_table_free");
    void (*pkey_insert)(H, U, P, P, U *) = Fn<void(H, U, P, P, U *)>(n, "pkey_insert");
    void (*pkey_delete)(H, U, P, P, U *) = Fn<void(H, U, P, P, U *)>(n, "pkey_delete");
    U (*add_ref)(H, U, P, U *) = Fn<U(H, U, P, U *)>(n, "record_add_ref");
    void (*free_and_set)(H, U, P, P) = Fn<void(H, U, P, P)>(n + "_" + part, "free_and_set_field");
    P (*part_create)(H, U) = Fn<P(H, U)>(part, "create");
    U (*marshal)(H, U, uint8_t *, P, U, U *) = Fn<U(H, U, uint8_t *, P, U, U *)>(n, "table_record_marshal");
    U (*unmarshal)(H, U, P *, const uint8_t *, U, U, U *) = Fn<U(H, U, P *, const uint8_t *, U, U, U *)>(n, "table_record_unmarshal");
    P Record(H h, U key) const {
        P r = create(h, 1);
        SetKey(r, key);
        return r;
    }
};

struct CrashOp {
    const char *name;
    void (*prep)(const CrashTab &, H, CrashArgs &);      // the parent's, under the lock
    U (*run)(const CrashTab &, H, const CrashArgs &);  // the child's, under the lock: its error
    int stride = 1;  // every store, or every stride-th of a long change
};

void NoPrep(const CrashTab &, H, CrashArgs &) {}
void Victim(const CrashTab &T, H h, CrashArgs &a) {  // a second table holding two records
    U e = 0;
    a.victim = T.open(h, h->database_id, "victim", 0, &e);
    for (U k : {5u, 6u}) T.insert(h, h->database_id, a.victim, T.Record(h, k), &e);
}
void Loose(const CrashTab &T, H h, CrashArgs &a) { a.rec = T.Record(h, 7); }  // a record in no table
void Inserted(const CrashTab &T, H h, CrashArgs &a) {
    U e = 0;
    Loose(T, h, a);
    T.insert(h, h->database_id, a.table, a.rec, &e);
}
void InsertedPkeyOnly(const CrashTab &T, H h, CrashArgs &a) {
    U e = 0;
    Loose(T, h, a);
    T.pkey_insert(h, h->database_id, a.table, a.rec, &e);
}

const CrashOp kCrashOps[] = {
    {"open by name", NoPrep, [](const CrashTab &T, H h, const CrashArgs &) { U e = 0; T.open(h, h->database_id, "fresh", 0, &e); return e; }},
    {"open by id", NoPrep, [](const CrashTab &T, H h, const CrashArgs &) { U e = 0; T.open_id(h, h->database_id, 9, 0, &e); return e; }},
    {"open with an automatic id", NoPrep, [](const CrashTab &T, H h, const CrashArgs &) { U e = 0; T.open_auto(h, h->database_id, 0, &e); return e; }},
    {"table free", Victim, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.free(h, h->database_id, a.victim, &e); return e; }},
    {"request free", Victim, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.request_free(h, h->database_id, a.victim, &e); return e; }},
    {"record create with fields", NoPrep, [](const CrashTab &T, H h, const CrashArgs &) { T.create(h, 1); return h->err; }},
    {"insert", Loose, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.insert(h, h->database_id, a.table, a.rec, &e); return e; }},
    {"pkey insert", Loose, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.pkey_insert(h, h->database_id, a.table, a.rec, &e); return e; }},
    {"delete", Inserted, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.del(h, h->database_id, a.table, a.rec, &e); return e; }},
    {"pkey delete", Inserted, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.pkey_delete(h, h->database_id, a.table, a.rec, &e); return e; }},
    {"delete of a pkey-only record", InsertedPkeyOnly, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.del(h, h->database_id, a.table, a.rec, &e); return e; }},
    {"add_ref", Inserted, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.add_ref(h, h->database_id, a.rec, &e); return e; }},
    {"last destroy", Inserted, [](const CrashTab &T, H h, const CrashArgs &a) { U e = 0; T.destroy(h, h->database_id, a.rec, &e); return e; }},
    {"field set", Loose, [](const CrashTab &T, H h, const CrashArgs &a) { T.free_and_set(h, h->database_id, a.rec, T.part_create(h, h->database_id)); return h->err; }},
    {"record unmarshal in place",
     [](const CrashTab &T, H h, CrashArgs &a) { Loose(T, h, a), a.other = T.Record(h, 8); },
     [](const CrashTab &T, H h, const CrashArgs &a) {
         std::vector<uint8_t> b(4096);
         U e = 0;
         b.resize(T.marshal(h, h->database_id, b.data(), a.other, U(b.size()), &e));
         P r = a.rec;
         T.unmarshal(h, h->database_id, &r, b.data(), U(b.size()), 1, &e);
         return e;
     }},
    // A change whose journal outgrows its first block and chains further ones.
    {"300 records made and inserted in one change", NoPrep,
     [](const CrashTab &T, H h, const CrashArgs &a) {
         U e = 0;
         for (U k = 1000; k < 1300 && !e && !h->err; ++k) T.insert(h, h->database_id, a.table, T.Record(h, k), &e);
         return e ? e : h->err;
     },
     397},
};

// The sweep's pair of tables: string keys with one index, number keys with two.
constexpr U kCrashTables[] = {0, 1};

P Hex(const char *name) { return reinterpret_cast<P>(std::strtoull(std::getenv(name), nullptr, 16)); }

// Runs the operation (LOMARI_CRASH_OP on table LOMARI_CRASH_TAB) and dies before its k-th journaled store (0: never).
int Crasher(uint64_t k) {
    Bound b;
    if (b.rc) return Fail("attach");
    qelrt_set_tenant_id(kTenant);
    const CrashTab T{{kTableViews[std::atoi(std::getenv("LOMARI_CRASH_TAB"))]}};
    const CrashOp &op = kCrashOps[std::atoi(std::getenv("LOMARI_CRASH_OP"))];
    const CrashArgs a{Hex("LOMARI_CRASH_T"), Hex("LOMARI_CRASH_V"), Hex("LOMARI_CRASH_R"), Hex("LOMARI_CRASH_O")};
    qelrt_db_die_at_store(k);
    qelrt_db_lock(b.db);
    const U e = op.run(T, b.h, a);
    qelrt_db_unlock(b.db);
    qelrt_db_die_at_store(0);
    return e ? Fail(std::string(op.name) + ": error " + std::to_string(e)) : 0;
}

[[maybe_unused]] const int kChildRole = [] {
    const char *role = std::getenv("LOMARI_SHM_CHILD");
    if (!role) return 0;
    const int arg = std::atoi(std::getenv("LOMARI_SHM_ARG"));
    const std::string r = role;
    const int rc = r == "writer" ? Writer(arg) : r == "reader" ? Reader(arg) : r == "destroyer" ? Destroyer()
                 : r == "holder" ? Holder(arg) : r == "crash" ? Crasher(uint64_t(arg)) : Fail("unknown role");
    std::fflush(stderr);
    _exit(rc);
}();

// ---- the parent's side ---------------------------------------------------------------------

class SharedDb : public ::testing::Test {
protected:
    void SetUp() override {
        qelrt_reset();
        char tmpl[] = "/tmp/lomari-shm-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        name = "db" + std::to_string(getpid());
        shm_name = "lomari-test-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override {
        if (h) qelrt_handle_free(h);
        qelrt_db_detach(db);
        qelrt_db_remove(name.c_str(), dir.c_str());
        qelrt_db_remove(shm_name.c_str(), nullptr);
        rmdir(dir.c_str());
        qelrt_reset();
    }
    qelrt_db_t *Create(const char *d, uint64_t size = 0, uint32_t mode = 0) {
        qelrt_db_options_t o{size, mode, 5, d};
        EXPECT_EQ(qelrt_db_create(d ? name.c_str() : shm_name.c_str(), &o, &db), 0) << qelrt_db_error_detail();
        return db;
    }
    void Bind() {
        h = qelrt_handle_new();
        ASSERT_EQ(qelrt_handle_bind_db(h, db), 0);
    }
    // Starts this binary as a child in role with arg, on the test's database (shm: POSIX shared memory).
    pid_t Spawn(const char *role, int arg, bool shm = false, std::vector<std::string> env = {}) {
        env.insert(env.end(), {std::string("LOMARI_SHM_CHILD=") + role, "LOMARI_SHM_ARG=" + std::to_string(arg),
                               "LOMARI_SHM_NAME=" + (shm ? shm_name : name)});
        if (!shm) env.push_back("LOMARI_SHM_DIR=" + dir);
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "LOMARI_SHM_", 11) != 0 && std::strncmp(*e, "LOMARI_CRASH_", 13) != 0) env.emplace_back(*e);
        std::vector<char *> envp;
        for (std::string &s : env) envp.push_back(s.data());
        envp.push_back(nullptr);
        char self[] = "/proc/self/exe";
        char *argv[] = {self, nullptr};
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, envp.data()), 0);
        return pid;
    }
    static int Wait(pid_t pid) {
        int st = 0;
        waitpid(pid, &st, 0);
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    std::string Path() const { return dir + "/" + name; }

    std::string dir, name, shm_name;
    qelrt_db_t *db = nullptr;
    H h = nullptr;
};

// A writer in one process, two readers in two others: each reader's view is ordered, counted as walked
// and found by key at every step; then a fourth process destroys what the writer made, and the shared
// variant records count every creation and destruction of both.
TEST_F(SharedDb, WriterReadersAndDestroyerAcrossProcesses) {
    Create(nullptr, 32u << 20);
    Bind();
    pid_t w = Spawn("writer", 120, true), r1 = Spawn("reader", 60, true), r2 = Spawn("reader", 60, true);
    EXPECT_EQ((std::vector<int>{Wait(w), Wait(r1), Wait(r2)}), (std::vector<int>{0, 0, 0}));
    ASSERT_EQ(qelrt_db_lock(db), 0);
    EXPECT_EQ(ltool::check_database(db, h).findings, std::vector<std::string>{});
    for (const TableView &v : kTableViews) {
        Tab T{v};
        U e = 0;
        P t = T.open(h, h->database_id, "shm", 1, &e);
        ASSERT_NE(t, nullptr) << T.n;
        EXPECT_EQ((std::tuple{T.Check(h, t), T.count(h, h->database_id, t)}), (std::tuple{std::string(), 80u})) << T.n;
        // Records, their field objects and the type-info each refers to: all in the segment.
        qelrt_db_usage_t u;
        qelrt_db_usage(db, &u);
        auto in = [&](const void *p) { return uintptr_t(p) >= u.base && uintptr_t(p) < u.base + u.size; };
        int outside = 0;
        for (P r : T.Walk(t)) {
            outside += !in(r) + !in(*static_cast<P *>(r));
            for (U p = 0; p < v.nparts; ++p) {
                P part = *reinterpret_cast<P *>(static_cast<uint8_t *>(r) + kRecHead + kNode * v.nindex + 8 * p);
                outside += !in(part) + !in(*static_cast<P *>(part));
            }
        }
        EXPECT_EQ(outside, 0) << T.n;
    }
    qelrt_db_unlock(db);
    EXPECT_EQ(Wait(Spawn("destroyer", 0, true)), 0);
    int tables = 0;
    qelrt_db_each_table(db, [](void *c, void *) { ++*static_cast<int *>(c); }, &tables);
    EXPECT_EQ(tables, 12);  // by name and by id, per table type
    // Every table refers to its type's copy in the segment, counted atomically.
    for (const TableView &v : kTableViews) {
        Tab T{v};
        U e = 0;
        P t = T.open(h, h->database_id, "shm", 1, &e);
        qel_type_info_t *ti = *static_cast<qel_type_info_t **>(t);
        qelrt_db_usage_t u;
        qelrt_db_usage(db, &u);
        EXPECT_TRUE(uintptr_t(ti) >= u.base && uintptr_t(ti) < u.base + u.size) << T.n << ": table's type info outside";
        EXPECT_EQ(ti->counter_mode, 0u);
    }
    // The record types' counts: 120 made by the writer, destroyed by it or by the destroyer, one here.
    for (const TableView &v : kTableViews) {
        Tab T{v};
        U e = 0;
        P t = T.open(h, h->database_id, "shm", 1, &e);
        qelrt_db_lock(db);
        P r = T.create(h, 1);
        qel_variant_record_t &c = (*static_cast<qel_type_info_t **>(r))->varinfo->variants[0];
        EXPECT_EQ((std::tuple{c.created, c.destroyed}), (std::tuple{uint64_t{121}, uint64_t{120}})) << T.n;
        T.destroy(h, h->database_id, r, &e);
        qelrt_db_unlock(db);
        EXPECT_NE(t, nullptr);
    }
}

// A process killed holding the lock: the next locker is told, and the lock is whole again after.
TEST_F(SharedDb, KilledHolderLeavesTheLockToTheNext) {
    Create(dir.c_str());
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t p = Spawn("holder", fds[1]);
    char c = 0;
    EXPECT_EQ(read(fds[0], &c, 1), 1);
    kill(p, SIGKILL);
    EXPECT_EQ(Wait(p), 128 + SIGKILL);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(qelrt_db_lock(db), QELRT_DB_OWNER_DIED);
    qelrt_db_unlock(db);
    EXPECT_EQ(qelrt_db_lock(db), 0);
    qelrt_db_unlock(db);
}

// Attaches that must be refused, each with its code: the range taken here, headers not to be trusted,
// another user's segment its mode closes.
TEST_F(SharedDb, AttachRefusals) {
    struct Case {
        const char *what;
        std::function<bool(const std::string &)> spoil;  // false: the case does not apply here
        int code;
    } cases[] = {
        {"range taken in this process", [](const std::string &) { return true; }, 98},
        {"other layout version", [](const std::string &p) { U v = 999; return Poke(p, 8, &v, 4); }, 22},
        {"bad magic", [](const std::string &p) { U v = 0; return Poke(p, 0, &v, 4); }, 22},
        {"address outside user space", [](const std::string &p) { uint64_t a = 1ull << 48; return Poke(p, 24, &a, 8); }, 22},
        {"shorter than its header says", [](const std::string &p) { return truncate(p.c_str(), 1u << 20) == 0; }, 22},
        {"short file", [](const std::string &p) { return truncate(p.c_str(), 100) == 0; }, 22},
        {"another user's, mode 0600", [](const std::string &p) { return chown(p.c_str(), 4321, 4321) == 0; }, 13},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Create(dir.c_str(), 2u << 20);
        qelrt_db_t *second = nullptr;
        if (std::string(c.what) != "range taken in this process") {
            qelrt_db_detach(db);
            db = nullptr;
        }
        if (!c.spoil(Path())) {
            qelrt_db_remove(name.c_str(), dir.c_str());
            continue;
        }
        EXPECT_EQ(qelrt_db_attach(name.c_str(), dir.c_str(), &second), c.code) << qelrt_db_error_detail();
        EXPECT_EQ(second, nullptr);
        EXPECT_NE(qelrt_db_error_detail()[0], 0);
        qelrt_db_detach(db);
        db = nullptr;
        qelrt_db_remove(name.c_str(), dir.c_str());
    }
    // A mode that lets others read and write lets them attach.
    Create(dir.c_str(), 2u << 20, 0666);
    qelrt_db_detach(db);
    db = nullptr;
    if (chown(Path().c_str(), 4321, 4321) == 0) {
        EXPECT_EQ(qelrt_db_attach(name.c_str(), dir.c_str(), &db), 0);
    }
}

// A full segment (as a long journaled lock hold leaves it): the insert that cannot be made reports
// 12, and the table stays ordered and counted.
TEST_F(SharedDb, FullSegmentRefusesWithNothingHalfWritten) {
    Create(dir.c_str(), 256u << 10);
    Bind();
    ASSERT_EQ(qelrt_db_lock(db), 0);
    size_t total = 0;
    for (const TableView &v : kTableViews) {
        Tab T{v};
        U e = 0;
        P t = T.open(h, h->database_id, "full", 0, &e);
        if (!t) {
            EXPECT_EQ(std::exchange(e, 0), 12u) << T.n;
            continue;
        }
        std::vector<P> made;
        for (U i = 0; !e && !h->err; ++i) {
            P r = T.create(h, 1);
            if (!r || h->err) break;
            made.push_back(r);
            T.SetKey(r, i);
            T.insert(h, h->database_id, t, r, &e);
        }
        EXPECT_EQ(e ? e : h->err, 12u) << T.n;
        // The null record a failed chained create hands back is refused by a fresh error word too:
        // linked into the shared index it would be an address no other process can read.
        e = h->err = 0;
        P null_rec = T.create(h, 1);
        ASSERT_EQ(h->err, 12u) << T.n;
        h->err = 0;
        T.insert(h, h->database_id, t, null_rec, &e);
        EXPECT_EQ(e, 17u) << T.n;
        e = h->err = 0;
        EXPECT_EQ(T.Check(h, t), "") << T.n;
        EXPECT_LE(T.count(h, h->database_id, t), made.size());
        total += made.size();
    }
    // Opening further tables in the full segment fails with 12 too, without an abort.
    const Tab first{kTableViews[0]};
    U e = 0;
    for (int i = 0; i < 4096 && !e; ++i)
        first.open(h, h->database_id, ("more" + std::to_string(i)).c_str(), 0, &e);
    EXPECT_EQ(e, 12u);
    EXPECT_EQ(ltool::check_database(db, h).findings, std::vector<std::string>{});
    qelrt_db_unlock(db);
    EXPECT_GT(total, 0u);
}

// ---- the crash sweep ------------------------------------------------------------------------

// The database as the sweep compares it: every table's head, every record it walks with its index
// nodes and field objects, the records an operation works on, the TOC and table list sizes and the
// allocator's used bytes.  Words that point into the segment are kept as offsets, so that two
// databases made alike compare equal wherever they are mapped.
struct Snapshot {
    std::string text, broken;  // broken: what the database checker found
    bool operator==(const Snapshot &o) const { return text == o.text; }
};

class CrashSweep : public SharedDb {
protected:
    void Bytes(const void *p, size_t n) {
        for (size_t i = 0; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, static_cast<const uint8_t *>(p) + i, 8);
            if (w >= u.base && w < u.base + u.size) w = (w - u.base) | (1ull << 63);
            snap.text += std::to_string(w) + ",";
        }
        snap.text += "|";
    }
    Snapshot Take(const CrashTab &T, const CrashArgs &a) {
        snap = {};
        qelrt_db_usage(db, &u);
        snap.text = "used " + std::to_string(u.used) + " toc " + std::to_string(qelrt_db_toc_size(h)) + " list " +
                    std::to_string(qelrt_db_table_list_size(h)) + "\n";
        std::vector<P> tables;
        qelrt_db_each_table(db, [](void *c, void *t) { static_cast<std::vector<P> *>(c)->push_back(t); }, &tables);
        const U rec_bytes = kRecHead + kNode * T.v.nindex + 8 * T.v.nparts;
        for (P t : tables) {
            Bytes(t, sizeof(qeldb_table_head_t));
            for (P r : T.Walk(t)) {
                Bytes(r, rec_bytes);
                for (U p = 0; p < T.v.nparts; ++p) Bytes(*reinterpret_cast<P *>(static_cast<uint8_t *>(r) + kRecHead + kNode * T.v.nindex + 8 * p), T.v.parts[p]->plain_size);
            }
        }
        for (P r : {a.rec, a.other})
            if (r) {
                Bytes(r, rec_bytes);
                for (U p = 0; p < T.v.nparts; ++p)
                    if (P part = *reinterpret_cast<P *>(static_cast<uint8_t *>(r) + kRecHead + kNode * T.v.nindex + 8 * p)) Bytes(part, T.v.parts[p]->plain_size);
            }
        uint64_t pending = 0;
        if (qelrt_db_journal_state(db, &pending)) snap.broken += "journal left pending; ";
        // The checker's verdict: trees, counts, tenant counters, table list, TOC, key roots.
        for (const std::string &f : ltool::check_database(db, h).findings) snap.broken += f + "; ";
        return snap;
    }
    // A fresh database holding five committed records and what op works on; the snapshot before it.
    Snapshot Prepare(const CrashTab &T, const CrashOp &op) {
        if (h) qelrt_handle_free(h);
        h = nullptr;
        qelrt_db_detach(db);
        qelrt_db_remove(name.c_str(), dir.c_str());
        Create(dir.c_str(), 4u << 20);
        Bind();
        qelrt_set_tenant_id(kTenant);
        args = {};
        U e = 0;
        qelrt_db_lock(db);
        args.table = T.open(h, h->database_id, "crash", 0, &e);
        for (U k = 10; k <= 50; k += 10) T.insert(h, h->database_id, args.table, T.Record(h, k), &e);
        op.prep(T, h, args);
        qelrt_db_unlock(db);
        EXPECT_EQ(e, 0u);
        return Take(T, args);
    }
    std::vector<std::string> Env(const CrashTab &T, size_t op) const {
        auto hex = [](P p) { char b[32]; std::snprintf(b, sizeof b, "%llx", (unsigned long long)uintptr_t(p)); return std::string(b); };
        return {"LOMARI_CRASH_TAB=" + std::to_string(&T.v - kTableViews), "LOMARI_CRASH_OP=" + std::to_string(op),
                "LOMARI_CRASH_T=" + hex(args.table), "LOMARI_CRASH_V=" + hex(args.victim),
                "LOMARI_CRASH_R=" + hex(args.rec), "LOMARI_CRASH_O=" + hex(args.other)};
    }

    qelrt_db_usage_t u{};
    Snapshot snap;
    CrashArgs args;
};

// Every operation that changes a database, in a child that dies before its k-th journaled store, for
// every k until it completes: the next locker is told, rolls the journal back (or finishes the
// commit under way), and the database is as it was before the operation or as the operation leaves
// it, byte for byte and in allocator bytes, with every index ordered and balanced and every count
// equal to a walk.
TEST_F(CrashSweep, EveryStoreOfEveryOperation) {
    uint64_t swept = 0;
    for (U ti : kCrashTables) {
        const CrashTab T{{kTableViews[ti]}};
        for (size_t oi = 0; oi < std::size(kCrashOps); ++oi) {
            const CrashOp &op = kCrashOps[oi];
            SCOPED_TRACE(T.n + ": " + op.name);
            Prepare(T, op);
            ASSERT_EQ(Wait(Spawn("crash", 0, false, Env(T, oi))), 0);
            ASSERT_EQ(qelrt_db_lock(db), 0);
            const Snapshot done = Take(T, args);
            qelrt_db_unlock(db);
            EXPECT_EQ(done.broken, "");
            for (int k = 1;; k += op.stride) {
                const Snapshot before = Prepare(T, op);
                const int rc = Wait(Spawn("crash", k, false, Env(T, oi)));
                if (rc == 0) break;
                ASSERT_EQ(rc, 77) << "at store " << k;
                ++swept;
                ASSERT_EQ(qelrt_db_lock(db), QELRT_DB_OWNER_DIED) << "at store " << k;
                const Snapshot after = Take(T, args);
                qelrt_db_unlock(db);
                ASSERT_EQ(after.broken, "") << "at store " << k;
                ASSERT_TRUE(after == before || after == done) << "at store " << k << "\n" << after.text << "\nbefore:\n" << before.text << "\ndone:\n" << done.text;
            }
        }
    }
    std::printf("crash sweep: %llu crash points swept\n", (unsigned long long)swept);
    EXPECT_GT(swept, 0u);
}

}  // namespace
