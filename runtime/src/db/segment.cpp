/*
 * db/segment.cpp -- creating, checking, attaching and removing a shared
 * database's segment.
 *
 * Owns: qelrt_db_create, qelrt_db_attach, qelrt_db_detach, qelrt_db_remove,
 * qelrt_db_recover, qelrt_db_error_detail, qelrt_db_id, qelrt_db_usage,
 * qelrt_db_journal_state and qelrt_db_set_journal; the list of databases
 * this process has attached; segment blocks as the rest of the runtime
 * asks for them.
 *
 * Every process attached holds a shared flock(2) on the segment's file
 * from attach (or create) to detach, so that recovery, which must run
 * alone, can tell with one exclusive try whether anyone is attached.
 *
 * The creator picks the address: a free range in a part of the address
 * space that neither the heap, the libraries nor the sanitizers' shadow
 * use, mapped with MAP_FIXED_NOREPLACE so nothing of the process is ever
 * replaced.  An attacher reads the header with pread first and checks
 * all of it (magic, layout version, size against the file, address range,
 * finished creation, and the owner's mode against its own user) before it
 * maps anything, then maps at the header's address, again without
 * replacing: a range already in use in this process is refused with 98.
 */
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <random>

#include "db/segment.h"
#include "internal.h"

namespace qelrt {

namespace {

constexpr uint64_t kDefaultSize = 64ull << 20;
constexpr uint64_t kMinSize = 256ull << 10;
constexpr uint64_t kPage = 4096;
/* Where segments are placed: 48 TiB up, in 1 GiB steps over 4 TiB, far
 * above the heap and below the libraries and the stack. */
constexpr uintptr_t kPlaceLo = uintptr_t(0x300000000000);
constexpr uintptr_t kPlaceStep = uintptr_t(1) << 30;
constexpr uint32_t kPlaceSlots = 4096;
constexpr uintptr_t kUserTop = uintptr_t(0x7ffffffff000);

thread_local char t_detail[320];

int fail(int code, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int fail(int code, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(t_detail, sizeof t_detail, fmt, ap);
    va_end(ap);
    return code;
}

bool good_name(const char *name) {
    if (!name || !*name || std::strlen(name) > 200)
        return false;
    for (const char *p = name; *p; ++p)
        if (!(std::isalnum(static_cast<unsigned char>(*p)) || *p == '.' || *p == '_' ||
              *p == '-'))
            return false;
    return name[0] != '.';
}

int open_segment(const char *name, const char *dir, int flags, mode_t mode) {
    if (dir) {
        std::string path = std::string(dir) + "/" + name;
        return ::open(path.c_str(), flags | O_CLOEXEC, mode);
    }
    return shm_open((std::string("/") + name).c_str(), flags, mode);
}

/* The attached databases: few, so a fixed array scanned without a lock. */
constexpr int kMaxAttached = 32;
std::atomic<qelrt_db *> g_attached[kMaxAttached];
std::atomic<int> g_attached_count{0};
std::mutex g_attach_mu;

bool remember(qelrt_db *db) {
    std::lock_guard<std::mutex> g(g_attach_mu);
    for (auto &slot : g_attached)
        if (!slot.load(std::memory_order_relaxed)) {
            slot.store(db, std::memory_order_release);
            g_attached_count.fetch_add(1);
            return true;
        }
    return false;
}

void forget(qelrt_db *db) {
    std::lock_guard<std::mutex> g(g_attach_mu);
    for (auto &slot : g_attached)
        if (slot.load(std::memory_order_relaxed) == db) {
            slot.store(nullptr, std::memory_order_release);
            g_attached_count.fetch_sub(1);
        }
}

/* Maps size bytes of fd at addr, never replacing a mapping; null when the
 * range is taken. */
void *map_at(uintptr_t addr, uint64_t size, int fd) {
    void *p = mmap(reinterpret_cast<void *>(addr), size, PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_FIXED_NOREPLACE, fd, 0);
    if (p == MAP_FAILED)
        return nullptr;
    if (reinterpret_cast<uintptr_t>(p) != addr) { /* a kernel that took it as a hint */
        munmap(p, size);
        return nullptr;
    }
    return p;
}

/* Does the mode of the segment's file grant this user read and write?
 * Checked here for every user, root included, whom the kernel would let
 * open anything. */
bool mode_grants(const struct stat &st) {
    const uid_t me = geteuid();
    if (st.st_uid == me)
        return (st.st_mode & 0600) == 0600;
    if (st.st_gid == getegid())
        return (st.st_mode & 0060) == 0060;
    return (st.st_mode & 0006) == 0006;
}

} // namespace

qelrt_db *shared_db_at(const void *addr) {
    if (RT_LIKELY(g_attached_count.load(std::memory_order_relaxed) == 0))
        return nullptr;
    const auto a = reinterpret_cast<uintptr_t>(addr);
    for (auto &slot : g_attached) {
        qelrt_db *db = slot.load(std::memory_order_acquire);
        if (db && a >= db->lo && a < db->hi)
            return db;
    }
    return nullptr;
}

bool shared_any_attached() { return g_attached_count.load(std::memory_order_relaxed) != 0; }

/* Until the first handle has filed the domain's type-info copies, blocks
 * for objects and tables leave kTypeReserve bytes free: the registration
 * that the first object runs must be able to finish, or the objects made
 * afterwards would refer to the library's own records, whose address
 * differs in every other process. */
constexpr size_t kTypeReserve = 32u << 10;

void *shared_alloc_block(qelrt_db *db, size_t size) {
    if (alloc_should_fail())
        return nullptr;
    LockScope lock(db);
    if (RT_UNLIKELY(db->roots->dict.empty()) && seg_free_bytes(db) < size + kTypeReserve)
        return nullptr;
    return seg_alloc(db, size);
}

void shared_free_block(qelrt_db *db, void *p) {
    if (!p)
        return;
    LockScope lock(db);
    seg_release(db, p);
}

/* The maps of a segment run under its write lock, held by their caller. */
void *SegMem::alloc(const void *self, size_t n) {
    qelrt_db *db = shared_db_at(self);
    return db ? shared_alloc_block(db, n) : nullptr;
}

void SegMem::release(const void *self, void *p) {
    if (qelrt_db *db = shared_db_at(self))
        shared_free_block(db, p);
}

} // namespace qelrt

using namespace qelrt;

extern "C" {

const char *qelrt_db_error_detail(void) { return t_detail; }

int qelrt_db_create(const char *name, const qelrt_db_options_t *opt, qelrt_db_t **out) {
    if (!out)
        return fail(22, "no place for the database was given");
    *out = nullptr;
    if (!good_name(name))
        return fail(22, "bad database name (letters, digits, '.', '_' and '-')");
    const uint64_t size = ((opt && opt->size ? opt->size : kDefaultSize) + kPage - 1) & ~(kPage - 1);
    const mode_t mode = opt && opt->mode ? opt->mode & 0777 : 0600;
    const uint32_t dbid = opt && opt->dbid ? opt->dbid : 1;
    const char *dir = opt ? opt->dir : nullptr;
    if (size < kMinSize || size > (uint64_t(1) << 40))
        return fail(22, "segment size %llu out of range (256 KiB to 1 TiB)",
                    (unsigned long long)size);
    if (dbid == QEL_NO_DATABASE)
        return fail(22, "database id 0xFFFFFFFF means no database");
    int fd = open_segment(name, dir, O_RDWR | O_CREAT | O_EXCL, mode);
    if (fd < 0) {
        const int e = errno;
        return fail(e == EEXIST ? 17 : e == EACCES ? 13 : e == ENOENT ? 2 : 22,
                    "cannot create database %s: %s", name, std::strerror(e));
    }
    auto undo = [&](int code) {
        if (dir)
            ::unlink((std::string(dir) + "/" + name).c_str());
        else
            shm_unlink((std::string("/") + name).c_str());
        ::close(fd);
        return code;
    };
    if (fchmod(fd, mode) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)
        return undo(fail(12, "cannot size database %s to %llu bytes: %s", name,
                         (unsigned long long)size, std::strerror(errno)));
    std::random_device rd;
    void *base = nullptr;
    for (uint32_t i = 0, slot = rd() % kPlaceSlots; i < 64 && !base;
         ++i, slot = (slot + 97) % kPlaceSlots)
        base = map_at(kPlaceLo + slot * kPlaceStep, size, fd);
    if (!base)
        return undo(fail(12, "no free address range of %llu bytes for database %s",
                         (unsigned long long)size, name));
    auto *db = new (std::nothrow) qelrt_db;
    if (!db) {
        munmap(base, size);
        return undo(fail(12, "out of memory"));
    }
    auto *hdr = new (base) SegHeader{};
    hdr->magic = kSegMagic;
    hdr->version = kLayoutVersion;
    hdr->header_size = kHeaderSize;
    hdr->size = size;
    hdr->base = reinterpret_cast<uintptr_t>(base);
    hdr->uid = geteuid();
    hdr->mode = mode;
    hdr->dbid = dbid;
    db->hdr = hdr;
    db->lo = hdr->base;
    db->hi = hdr->base + size;
    db->fd = fd;
    void *r = journal_format(db) ? seg_alloc(db, sizeof(SegRoots)) : nullptr;
    if (!r) {
        delete db;
        munmap(base, size);
        return undo(fail(12, "segment of %llu bytes too small for its roots",
                         (unsigned long long)size));
    }
    db->roots = new (r) SegRoots(db->lo, db->hi);
    flock(fd, LOCK_SH);
    hdr->roots = reinterpret_cast<uintptr_t>(db->roots);
    __atomic_store_n(&hdr->ready, 1u, __ATOMIC_RELEASE);
    if (!remember(db)) {
        delete db;
        munmap(base, size);
        return undo(fail(24, "too many databases attached in this process"));
    }
    *out = db;
    return 0;
}

} // extern "C"

namespace {

/* Attaches NAME after checking its header.  lock_ex: take the exclusive
 * flock without waiting (recovery; 16 when a process is attached), else
 * the shared one every attached process holds. */
int attach(const char *name, const char *dir, qelrt_db_t **out, bool lock_ex) {
    if (!out)
        return fail(22, "no place for the database was given");
    *out = nullptr;
    if (!good_name(name))
        return fail(22, "bad database name (letters, digits, '.', '_' and '-')");
    int fd = open_segment(name, dir, O_RDWR, 0);
    if (fd < 0) {
        const int e = errno;
        return fail(e == ENOENT ? 2 : e == EACCES ? 13 : 22, "cannot open database %s: %s",
                    name, std::strerror(e));
    }
    auto refuse = [&](int code) {
        ::close(fd);
        return code;
    };
    if (flock(fd, lock_ex ? LOCK_EX | LOCK_NB : LOCK_SH) != 0) {
        const int e = errno;
        if (e == EWOULDBLOCK)
            return refuse(fail(16, "database %s is attached by a running process; recovery "
                                   "runs only when none is (detach them, or let the next "
                                   "locker roll the journal back)",
                               name));
        return refuse(fail(22, "cannot lock database %s: %s", name, std::strerror(e)));
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        return refuse(fail(22, "cannot stat database %s: %s", name, std::strerror(errno)));
    if (!mode_grants(st))
        return refuse(fail(13, "database %s belongs to user %u with mode %03o, which does "
                               "not let user %u read and write it",
                           name, unsigned(st.st_uid), unsigned(st.st_mode & 0777),
                           unsigned(geteuid())));
    SegHeader h{};
    if (st.st_size < static_cast<off_t>(kHeaderSize) ||
        pread(fd, &h, sizeof h, 0) != static_cast<ssize_t>(sizeof h))
        return refuse(fail(22, "database %s is too short (%lld bytes) to be a segment", name,
                           (long long)st.st_size));
    if (h.magic != kSegMagic)
        return refuse(fail(22, "database %s is not a segment of this library (bad magic)", name));
    if (h.version != kLayoutVersion)
        return refuse(fail(22, "database %s has layout version %u, this library reads %u",
                           name, h.version, kLayoutVersion));
    if (h.header_size != kHeaderSize || h.size != static_cast<uint64_t>(st.st_size) ||
        h.size < kMinSize)
        return refuse(fail(22, "database %s: header says %llu bytes, the segment has %lld",
                           name, (unsigned long long)h.size, (long long)st.st_size));
    if (h.base % kPage || h.base < kPage || h.base >= kUserTop || h.size > kUserTop - h.base)
        return refuse(fail(22, "database %s: address %#llx is outside user space", name,
                           (unsigned long long)h.base));
    if (h.ready != 1 || h.roots < h.base + kHeaderSize ||
        h.roots + sizeof(SegRoots) > h.base + h.size || h.dbid == QEL_NO_DATABASE)
        return refuse(fail(22, "database %s: creation unfinished or roots out of place", name));
    void *base = map_at(h.base, h.size, fd);
    if (!base)
        return refuse(fail(98, "database %s: its address range %#llx..%#llx is taken in "
                               "this process",
                           name, (unsigned long long)h.base,
                           (unsigned long long)(h.base + h.size)));
    auto *db = new (std::nothrow) qelrt_db;
    if (!db) {
        munmap(base, h.size);
        return refuse(fail(12, "out of memory"));
    }
    db->hdr = static_cast<SegHeader *>(base);
    db->lo = h.base;
    db->hi = h.base + h.size;
    db->fd = fd;
    db->roots = reinterpret_cast<SegRoots *>(h.roots);
    if (!remember(db)) {
        delete db;
        munmap(base, h.size);
        return refuse(fail(24, "too many databases attached in this process"));
    }
    *out = db;
    return 0;
}

} // namespace

extern "C" {

int qelrt_db_attach(const char *name, const char *dir, qelrt_db_t **out) {
    return attach(name, dir, out, false);
}

/* With no process attached, nobody holds the write lock: a journal left
 * in the segment is a dead writer's.  The robust mutexes are made anew,
 * since one left by a process of an earlier boot cannot be trusted. */
int qelrt_db_recover(const char *name, const char *dir) {
    qelrt_db_t *db = nullptr;
    if (int rc = attach(name, dir, &db, true))
        return rc;
    uint64_t entries = 0;
    const bool pending = journal_pending(db, &entries);
    if (pending)
        journal_recover(db);
    db->hdr->lock.init();
    db->roots->dict_mu.init();
    db->roots->quarl.mu.init();
    qelrt_db_detach(db);
    fail(0, pending ? "rolled back a journal of %llu entries" : "no journal was pending",
         (unsigned long long)entries);
    return 0;
}

int qelrt_db_journal_state(qelrt_db_t *db, uint64_t *entries) {
    if (entries)
        *entries = 0;
    if (!db)
        return 0;
    return journal_pending(db, entries) ? 1 : 0;
}

void qelrt_db_set_journal(qelrt_db_t *db, int on) {
    if (db)
        db->journal_on = on != 0;
}

void qelrt_db_detach(qelrt_db_t *db) {
    if (!db)
        return;
    forget(db);
    const uint64_t size = db->hi - db->lo;
    void *base = db->hdr;
    const int fd = db->fd;
    delete db;
    munmap(base, size);
    ::close(fd);
}

int qelrt_db_remove(const char *name, const char *dir) {
    if (!good_name(name))
        return fail(22, "bad database name (letters, digits, '.', '_' and '-')");
    const int rc = dir ? ::unlink((std::string(dir) + "/" + name).c_str())
                       : shm_unlink((std::string("/") + name).c_str());
    if (rc != 0) {
        const int e = errno;
        return fail(e == ENOENT ? 2 : e == EACCES || e == EPERM ? 13 : 22,
                    "cannot remove database %s: %s", name, std::strerror(e));
    }
    return 0;
}

uint32_t qelrt_db_id(const qelrt_db_t *db) { return db ? db->hdr->dbid : QEL_NO_DATABASE; }

void qelrt_db_usage(const qelrt_db_t *db, qelrt_db_usage_t *out) {
    if (!out)
        return;
    *out = qelrt_db_usage_t{};
    if (!db)
        return;
    out->size = db->hi - db->lo;
    out->free = seg_free_bytes(db);
    out->used = out->size - out->free;
    out->base = db->lo;
}

} // extern "C"
