/*
 * db/db_internal.h -- the database room's private interface.
 *
 * Owns the declarations of: the key/range database object (quarl.cpp),
 * the state-area places (db_reports.cpp) and the database memory a handle
 * reaches (db_toc.cpp).
 */
#ifndef QELRT_DB_INTERNAL_H
#define QELRT_DB_INTERNAL_H

#include "internal.h"

namespace qelrt {

/* ---- key/range database (quarl.cpp) ---------------------------------- */

struct QuarlDb;
QuarlDb *quarl_db_new();
/* Deletes the database; the blocks stored under "__qel_TBI__" keys are
 * released through h's free function. */
void quarl_db_delete(QuarlDb *db, qel_handle_t *h);
uint32_t quarl_db_range_count(const QuarlDb *db);

/* ---- state-area places (db_reports.cpp) ------------------------------- */

/* The places registered with qellib_update_sttr_offset: object address ->
 * distance from it to its state bytes.  Entries are added or changed,
 * never removed, so a lookup takes no lock: an open-addressing table whose
 * slots get their value before their key, and which is replaced (never
 * reshaped in place) when it grows.  Replaced tables stay until the handle
 * goes, for lookups still running in them.  Changes take the lock; a change
 * to the distance already registered is only a lookup. */
class SttrPlaces {
public:
    SttrPlaces() = default;
    SttrPlaces(const SttrPlaces &) = delete;
    SttrPlaces &operator=(const SttrPlaces &) = delete;
    ~SttrPlaces();

    /* The distance registered for obj (not null); false when none is. */
    bool find(const void *obj, uint32_t *distance) const;
    void set(const void *obj, uint32_t distance);

private:
    struct Slot {
        std::atomic<uintptr_t> key{0}; /* 0: empty */
        std::atomic<uint32_t> value{0};
    };
    struct Table {
        uint32_t shift; /* 64 - log2(slot count) */
        size_t mask;
        size_t used;
        Slot *slots;
    };
    static size_t home(const Table *t, uintptr_t key) {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> t->shift);
    }
    Table *grow(Table *old);

    std::atomic<Table *> table_{nullptr};
    std::mutex mu_;
    std::vector<Table *> retired_;
};

/* ---- database memory (db_toc.cpp) ------------------------------------ */

struct DbState;
struct DbStateFree {
    void operator()(DbState *d) const;
};

} // namespace qelrt

#endif /* QELRT_DB_INTERNAL_H */
