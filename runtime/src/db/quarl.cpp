/*
 * quarl.cpp -- the key/range database.
 *
 * Owns: the database object a handle carries (its alloc_ctx when the
 * handle uses one), registration of address ranges (quarl_set_range, kept
 * in an ordered map by start address; registering a start again keeps the
 * longer length; in a shared segment, the range's old bytes go to the
 * journal instead), the membership question (quarl_in_range), the key store
 * (quarl_set_key/quarl_get_key), the release of the table types'
 * id-keyed roots with the database, and quarl_perror.  One code serves
 * a handle's own store in the heap and a shared database's store in its
 * segment (QuarlT, db/db_state.h).
 */
#include <cstdio>
#include <map>
#include <new>
#include <type_traits>

#include "db/segment.h"
#include "internal.h"

namespace qelrt {

struct QuarlDb : QuarlT<HeapMem, std::mutex> {
    std::map<uintptr_t, uint32_t> ranges; /* start -> length */
};

template <class D> constexpr bool kHeapStore = std::is_same_v<D, QuarlDb>;

QuarlDb *quarl_db_new() { return new (std::nothrow) QuarlDb; }

namespace {

constexpr std::string_view kIdRoot = "__qel_TBI__";

bool quarl_key(const char *key, QuarlKey *k) {
    const size_t n = strnlen(key, sizeof k->s);
    if (n >= sizeof k->s)
        return false;
    std::memset(k->s, 0, sizeof k->s);
    std::memcpy(k->s, key, n);
    return true;
}

/* Calls f with the store db is (heap or segment), or with a null pointer
 * of the heap kind when db is neither. */
template <class F> decltype(auto) on_store(const void *db, F &&f) {
    auto *raw = static_cast<const uint32_t *>(db);
    if (raw && *raw == kQuarlMagic)
        return f(static_cast<QuarlDb *>(const_cast<void *>(db)));
    if (raw && *raw == kQuarlSharedMagic && shared_db_at(db))
        return f(static_cast<SharedQuarl *>(const_cast<void *>(db)));
    return f(static_cast<QuarlDb *>(nullptr));
}

} // namespace

void quarl_db_delete(QuarlDb *db, qel_handle_t *h) {
    if (!db)
        return;
    /* The id-keyed roots of the table types live as long as the database
     * memory they were made in: they go with it, through the allocator
     * that made them. */
    db->keys.each([&](const QuarlKey &key, void *value) {
        if (value && h && h->free_fn && std::string_view(key.s).starts_with(kIdRoot))
            h->free_fn(h->alloc_ctx, QEL_NO_DATABASE, value);
    });
    db->magic = 0;
    delete db;
}

uint32_t quarl_db_range_count(const QuarlDb *db) {
    if (!db)
        return 0;
    Guard<std::mutex> g(db->mu);
    return static_cast<uint32_t>(db->ranges.size());
}

} // namespace qelrt

using namespace qelrt;

extern "C" {

/* A store in a segment keeps no record of each range: the segment holds
 * them all.  This is where each store into shared table memory is seen
 * first, before it is made. */
int quarl_set_range(void *db, void *addr, uint32_t len, uint32_t dbid) {
    logc("quarl_set_range", w(db), w(addr), len, dbid);
    if (quarl_should_fail())
        return 0;
    return on_store(db, [&](auto *d) -> int {
        if (!d)
            return 0;
        if constexpr (kHeapStore<std::remove_pointer_t<decltype(d)>>) {
            try {
                Guard g(d->mu);
                uint32_t &have = d->ranges[reinterpret_cast<uintptr_t>(addr)];
                if (len > have)
                    have = len;
            } catch (const std::exception &) {
                return 0;
            }
        } else {
            jnote(addr, len); /* the old bytes, before the caller stores */
        }
        return 1;
    });
}

int quarl_in_range(void *db, const void *addr, uint32_t len) {
    logc("quarl_in_range", w(db), w(addr), len);
    return on_store(db, [&](auto *d) -> int {
        if (!d)
            return 0;
        const uintptr_t a = reinterpret_cast<uintptr_t>(addr);
        if constexpr (kHeapStore<std::remove_pointer_t<decltype(d)>>) {
            Guard g(d->mu);
            auto it = d->ranges.upper_bound(a);
            if (it == d->ranges.begin())
                return 0;
            --it;
            return a + len <= it->first + it->second ? 1 : 0;
        } else {
            return a >= d->lo && a <= d->hi && len <= d->hi - a ? 1 : 0;
        }
    });
}

/* A store in a segment takes only values inside it (or null): what it
 * holds is read by every process. */
int quarl_set_key(void *db, const char *key, void *value) {
    logc("quarl_set_key", w(db), w(key), w(value));
    QuarlKey k;
    if (!key || !quarl_key(key, &k))
        return 0;
    return on_store(db, [&](auto *d) -> int {
        if (!d)
            return 0;
        const auto v = reinterpret_cast<uintptr_t>(value);
        if (d->in_segment() && value && (v < d->lo || v >= d->hi))
            return 0;
        auto put = [&] {
            Guard g(d->mu);
            void **at = nullptr;
            const int rc = d->keys.insert(k, value, &at);
            if (rc == 17)
                d->keys.set(at, value);
            return rc == 12 ? 0 : 1;
        };
        if constexpr (kHeapStore<std::remove_pointer_t<decltype(d)>>) {
            return put();
        } else {
            LockScope lock(shared_db_at(d));
            return put();
        }
    });
}

/* On a shared database's store, a miss of an id-keyed table root
 * ("__qel_TBI__" key) while the calling thread holds the database's write
 * lock announces the root the library makes next: its 32-byte allocation
 * with no database id, on a handle bound to this database, is made in the
 * segment (t_root_pending, db/shared_db.cpp), so that every process finds
 * the same root. */
void *quarl_get_key(void *db, const char *key) {
    logc("quarl_get_key", w(db), w(key));
    QuarlKey k;
    if (!key || !quarl_key(key, &k))
        return nullptr;
    return on_store(db, [&](auto *d) -> void * {
        if (!d)
            return nullptr;
        void *found = nullptr;
        {
            Guard g(d->mu);
            if (void **v = d->keys.find(k))
                found = *v;
        }
        if (!found && d->in_segment() && std::string_view(k.s).starts_with(kIdRoot)) {
            qelrt_db *s = shared_db_at(d);
            if (shared_lock_held(s))
                t_root_pending = s;
        }
        return found;
    });
}

void quarl_perror(int rc, const char *what) {
    logc("quarl_perror", (uint64_t)(int64_t)rc, w(what));
    std::fprintf(stderr, "quarl: %s: error %d\n", what ? what : "", rc);
}

} // extern "C"
