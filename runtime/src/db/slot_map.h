/*
 * db/slot_map.h -- the runtime's maps with fixed-size keys: open-addressing
 * tables of fixed-size slots.
 *
 * Owns SlotMap and the key hash.  A map is one word (the address of its
 * table); the table is one block holding every slot, found by linear
 * probing from the key's hash.  Every store into a live table (a slot
 * filled or emptied, the counts) goes through the memory policy's note()
 * first, so that in a shared segment the journal holds its old bytes; a
 * table that grows is copied whole into a fresh block, which the journal
 * need not see, and replaced by one noted store of the map's word, the old
 * block released through the policy (deferred to the commit in a segment).
 * Lookups read without writing, so a reader holding only the lock that
 * serialises changes sees a whole table.
 *
 * Keys are plain bytes with their padding zeroed: they provide hash() and
 * operator==.
 */
#ifndef QELRT_SLOT_MAP_H
#define QELRT_SLOT_MAP_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qelrt {

inline uint64_t hash_bytes(const void *p, size_t n) {
    const auto *b = static_cast<const uint8_t *>(p);
    uint64_t x = 0x9E3779B97F4A7C15ull ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, b + i, 8);
        x = (x ^ w) * 0xff51afd7ed558ccdull;
        x ^= x >> 32;
    }
    uint64_t w = 0;
    std::memcpy(&w, b + i, n - i);
    x = (x ^ w) * 0xc4ceb9fe1a85ec53ull;
    return x ^ (x >> 29);
}

/* The process heap: malloc, free, nothing noted. */
struct HeapMem {
    static constexpr bool kShared = false;
    static void *alloc(const void *, size_t n) { return std::malloc(n); }
    static void release(const void *, void *p) { std::free(p); }
    static void note(const void *, size_t) {}
};

template <class K, class V, class M> class SlotMap {
public:
    SlotMap() = default;
    SlotMap(const SlotMap &) = delete;
    SlotMap &operator=(const SlotMap &) = delete;
    ~SlotMap() {
        if (!M::kShared && tab_)
            M::release(this, tab_);
    }

    size_t size() const { return tab_ ? tab_->used : 0; }
    bool empty() const { return size() == 0; }

    V *find(const K &k) const {
        Tab *t = tab_;
        if (!t)
            return nullptr;
        const size_t m = t->cap - 1;
        for (size_t i = k.hash() & m;; i = (i + 1) & m) {
            Slot &s = t->slots()[i];
            if (s.state == kEmpty)
                return nullptr;
            if (s.state == kFull && s.key == k)
                return &s.val;
        }
    }

    /* 0 when added, 17 when present, 12 when no block for a larger table;
     * *at (when given) is the entry's value either way. */
    int insert(const K &k, const V &v, V **at = nullptr) {
        if (V *p = find(k)) {
            if (at)
                *at = p;
            return 17;
        }
        /* A tombstone on the key's path is taken again without growing. */
        Slot *at_slot = tab_ ? free_slot(tab_, k) : nullptr;
        if (!at_slot || (at_slot->state == kEmpty &&
                         (tab_->used + tab_->tombs + 1) * 4 > tab_->cap * 3)) {
            if (!grow())
                return 12;
            at_slot = free_slot(tab_, k);
        }
        Tab *t = tab_;
        Slot &s = *at_slot;
        const bool tomb = s.state == kTomb;
        M::note(&s, sizeof s);
        s.key = k;
        s.val = v;
        s.state = kFull;
        M::note(&t->used, 2 * sizeof(uint64_t));
        ++t->used;
        if (tomb)
            --t->tombs;
        if (at)
            *at = &s.val;
        return 0;
    }

    /* Stores a new value into an entry's value (from find or insert). */
    void set(V *at, const V &v) {
        M::note(at, sizeof v);
        *at = v;
    }

    bool erase(const K &k) {
        V *v = find(k);
        if (!v)
            return false;
        drop(slot_of(v));
        return true;
    }

    template <class F> void each(F &&f) const {
        if (Tab *t = tab_)
            for (size_t i = 0; i < t->cap; ++i)
                if (t->slots()[i].state == kFull)
                    f(t->slots()[i].key, t->slots()[i].val);
    }

    template <class P> void erase_if(P &&pred) {
        Tab *t = tab_;
        for (size_t i = 0; t && i < t->cap; ++i)
            if (t->slots()[i].state == kFull && pred(t->slots()[i].key)) {
                drop(&t->slots()[i]);
                if (tab_ != t)
                    return; /* that was the last entry */
            }
    }

private:
    static constexpr uint64_t kEmpty = 0, kFull = 1, kTomb = 2;
    struct Slot {
        uint64_t state;
        K key;
        V val;
    };
    struct Tab {
        uint64_t cap; /* a power of two */
        uint64_t used;
        uint64_t tombs;
        uint64_t spare;
        Slot *slots() { return reinterpret_cast<Slot *>(this + 1); }
    };

    static Slot *slot_of(V *v) {
        return reinterpret_cast<Slot *>(reinterpret_cast<uint8_t *>(v) - offsetof(Slot, val));
    }

    static Slot *free_slot(Tab *t, const K &k) {
        const size_t m = t->cap - 1;
        size_t i = k.hash() & m;
        while (t->slots()[i].state == kFull)
            i = (i + 1) & m;
        return &t->slots()[i];
    }

    /* The last entry takes its table with it: an emptied map holds no
     * block. */
    void drop(Slot *s) {
        Tab *t = tab_;
        if (t->used == 1) {
            M::note(&tab_, sizeof tab_);
            tab_ = nullptr;
            M::release(this, t);
            return;
        }
        M::note(&s->state, sizeof s->state);
        s->state = kTomb;
        M::note(&t->used, 2 * sizeof(uint64_t));
        --t->used;
        ++t->tombs;
    }

    /* A fresh table with room for twice the entries, filled without notes
     * (nothing refers to it yet), then put in place with one noted store. */
    bool grow() {
        const size_t n = tab_ ? tab_->used : 0;
        size_t cap = 8;
        while (cap < (n + 1) * 2)
            cap *= 2;
        auto *t = static_cast<Tab *>(M::alloc(this, sizeof(Tab) + cap * sizeof(Slot)));
        if (!t)
            return false;
        std::memset(static_cast<void *>(t), 0, sizeof(Tab) + cap * sizeof(Slot));
        t->cap = cap;
        Tab *old = tab_;
        if (old)
            for (size_t i = 0; i < old->cap; ++i) {
                const Slot &s = old->slots()[i];
                if (s.state != kFull)
                    continue;
                size_t j = s.key.hash() & (cap - 1);
                while (t->slots()[j].state == kFull)
                    j = (j + 1) & (cap - 1);
                std::memcpy(static_cast<void *>(&t->slots()[j]), &s, sizeof s);
                ++t->used;
            }
        M::note(&tab_, sizeof tab_);
        tab_ = t;
        if (old)
            M::release(this, old);
        return true;
    }

    Tab *tab_ = nullptr;
};

} // namespace qelrt

#endif /* QELRT_SLOT_MAP_H */
