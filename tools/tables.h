// tables.h -- what the tool knows of each table type (the operations its
// database commands need, behind one type-erased shape), and the tool's
// access to a shared database: attach and bind a handle, take the lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codecs.h"
#include "qel/rt_db.h"
#include "qel/rt_shared.h"

namespace ltool {

// The visitor a walk calls with each record in index order; non-zero stops.
using RecordVisit = int (*)(void *record, void *ctx, U *err, void *a, void *b);

struct TableKind {
    const char *name;          // "tarnok_header_ids"
    const uint8_t *luid;       // table_<name>_luid
    const char *luid_text;     // table_<name>_luid_text
    const Codec *codec;        // its records'
    void *(*open)(H, U, const char *, U, U *);
    void *(*open_by_id)(H, U, uint64_t, U, U *);
    void (*walk)(H, void *, U, RecordVisit, void *, void *);  // handle's database id
    U (*count)(H, U, void *);
    U (*count_by_src)(H, U, void *, uint8_t);
    void (*insert)(H, U, void *, void *, U *);
    void (*remove)(H, U, void *, void *, U *);
    void (*free)(H, U, void *, U *);
};

const std::vector<TableKind> &table_kinds();
const TableKind *table_kind_by_luid(const uint8_t *luid);
const TableKind *table_kind_by_name(const std::string &name);

// A table of a database as a person names it: its kind, and its name (the
// full name without the "/<luid text>" the library appends) or, for a
// table opened by id, "#<id>".
struct TableRef {
    const TableKind *kind = nullptr;
    void *table = nullptr;
    std::string name;
};
std::string table_label(const TableKind &k, const qeldb_table_head_t &head);

// A shared database attached by this process with one handle bound to it.
// The handle makes every object of the database in its segment.
class SharedDb {
public:
    SharedDb() = default;
    ~SharedDb();
    SharedDb(const SharedDb &) = delete;
    SharedDb &operator=(const SharedDb &) = delete;
    // Attaches NAME (dir null: POSIX shared memory) and binds a handle; the
    // runtime's code, with detail() saying why.
    int attach(const std::string &name, const char *dir);
    // The same after creating the database with the given options.
    int create(const std::string &name, const qelrt_db_options_t &opt);
    const std::string &detail() const { return detail_; }
    qelrt_db_t *db() const { return db_; }
    H h() const { return h_; }
    U id() const { return id_; }
    // The tables of the database, in list order; call with the lock held.
    std::vector<TableRef> tables() const;

private:
    int bind(int rc);
    qelrt_db_t *db_ = nullptr;
    H h_ = nullptr;
    U id_ = QEL_NO_DATABASE;
    std::string detail_;
};

// Holds a database's lock for one operation.  A holder that died with it
// left the lock to us (the runtime made it consistent): that is said once on
// standard error and the operation goes on.
class DbLock {
public:
    explicit DbLock(qelrt_db_t *db);
    ~DbLock();
    DbLock(const DbLock &) = delete;
    DbLock &operator=(const DbLock &) = delete;
    int code() const { return rc_; }  // 0, or the runtime's error

private:
    qelrt_db_t *db_;
    int rc_;
};

}  // namespace ltool
