/*
 * quarl.cpp -- the key/range database.
 *
 * Owns: the database object a handle carries (its alloc_ctx when the
 * handle uses one), registration of address ranges (quarl_set_range, kept
 * in an ordered map by start address; registering a start again keeps the
 * longer length), the membership question (quarl_in_range), the key store
 * (quarl_set_key/quarl_get_key), the release of the table types'
 * id-keyed roots with the database, and quarl_perror.
 */
#include <cstdio>
#include <map>
#include <new>

#include "internal.h"

namespace qelrt {

constexpr uint32_t kQuarlMagic = 0x7175726cu;

struct QuarlDb {
    uint32_t magic = kQuarlMagic;
    mutable std::mutex mu;
    std::map<uintptr_t, uint32_t> ranges; /* start -> length */
    std::unordered_map<std::string, void *> keys;
};

QuarlDb *quarl_db_new() { return new (std::nothrow) QuarlDb; }

void quarl_db_delete(QuarlDb *db, qel_handle_t *h) {
    if (!db)
        return;
    /* The id-keyed roots of the table types live as long as the database
     * memory they were made in: they go with it, through the allocator
     * that made them. */
    static constexpr std::string_view kIdRoot = "__qel_TBI__";
    for (auto &[key, value] : db->keys)
        if (value && h && h->free_fn && key.compare(0, kIdRoot.size(), kIdRoot) == 0)
            h->free_fn(h->alloc_ctx, QEL_NO_DATABASE, value);
    db->magic = 0;
    delete db;
}

uint32_t quarl_db_range_count(const QuarlDb *db) {
    if (!db)
        return 0;
    std::lock_guard<std::mutex> g(db->mu);
    return static_cast<uint32_t>(db->ranges.size());
}

namespace {

QuarlDb *as_db(const void *db) {
    auto *d = static_cast<QuarlDb *>(const_cast<void *>(db));
    return d && d->magic == kQuarlMagic ? d : nullptr;
}

} // namespace

} // namespace qelrt

using namespace qelrt;

extern "C" {

int quarl_set_range(void *db, void *addr, uint32_t len, uint32_t dbid) {
    logc("quarl_set_range", w(db), w(addr), len, dbid);
    if (quarl_should_fail())
        return 0;
    QuarlDb *d = as_db(db);
    if (!d)
        return 0;
    std::lock_guard<std::mutex> g(d->mu);
    uint32_t &have = d->ranges[reinterpret_cast<uintptr_t>(addr)];
    if (len > have)
        have = len;
    return 1;
}

int quarl_in_range(void *db, const void *addr, uint32_t len) {
    logc("quarl_in_range", w(db), w(addr), len);
    QuarlDb *d = as_db(db);
    if (!d)
        return 0;
    uintptr_t a = reinterpret_cast<uintptr_t>(addr);
    std::lock_guard<std::mutex> g(d->mu);
    auto it = d->ranges.upper_bound(a);
    if (it == d->ranges.begin())
        return 0;
    --it;
    return a + len <= it->first + it->second ? 1 : 0;
}

int quarl_set_key(void *db, const char *key, void *value) {
    logc("quarl_set_key", w(db), w(key), w(value));
    QuarlDb *d = as_db(db);
    if (!d || !key)
        return 0;
    std::lock_guard<std::mutex> g(d->mu);
    d->keys[key] = value;
    return 1;
}

void *quarl_get_key(void *db, const char *key) {
    logc("quarl_get_key", w(db), w(key));
    QuarlDb *d = as_db(db);
    if (!d || !key)
        return nullptr;
    std::lock_guard<std::mutex> g(d->mu);
    auto it = d->keys.find(key);
    return it == d->keys.end() ? nullptr : it->second;
}

void quarl_perror(int rc, const char *what) {
    logc("quarl_perror", (uint64_t)(int64_t)rc, w(what));
    std::fprintf(stderr, "quarl: %s: error %d\n", what ? what : "", rc);
}

} // extern "C"
