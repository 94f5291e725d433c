// dbcheck.h -- the database checker: reads a shared database through an
// attached mapping and a bound handle and says, one finding per line, what
// is not whole in it.  It changes nothing: no store into the segment, no
// allocation with the database's id.  The tool's `db check` and the tests
// link it (the lomari_dbcheck library).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qel/rt_shared.h"

namespace ltool {

struct CheckReport {
    std::vector<std::string> findings;  // empty when the database is whole
    uint64_t tables = 0;                // tables on the table list
    uint64_t records = 0;               // records in their primary indexes
    uint64_t used = 0;                  // the segment allocator's used bytes
    uint64_t held = 0;                  // bytes of the tables, records, their
                                        // field objects and type-info copies
    uint64_t foreign = 0;               // tables of types this library lacks
};

// Checks every table of db's table list: each index a valid AVL tree
// (links, heights, balance, order by the index's own comparison, every node
// found by a search, the key copy each node keeps), every record in each
// index it belongs in and nowhere else, its reference count and flags, the
// table's counts against a walk (record, shadow and pending-destroy counts,
// the library's counts, the runtime's per-tenant counters), the table
// list's links, the TOC and the key roots of id-keyed tables against the
// list, and every pointer inside the segment.  h is bound to db; the caller
// holds db's lock.  The calling thread's tenant is 0 again on return.
CheckReport check_database(qelrt_db_t *db, qel_handle_t *h);

}  // namespace ltool
