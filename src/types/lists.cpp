// lists.cpp -- the ordered lists of the two list-owning types.
//
// Owns reading, insertion, removal and the owner query of a list, and the
// two lifecycle hooks of a list owner: the anchor set-up at initialize and
// the emptying at destroy.  One implementation serves both owners; the
// owner's descriptor gives the anchor offset and the list field's element
// descriptor gives the link offset.
//
// Shapes (types/layout.h): the list is circular through the owner's anchor,
// so the ends need no special case beyond "is this word the anchor?".
//
// Every link-word write is registered with the key/range store first
// (link_store); the count and an element's anchor word are announced through
// the write hook instead.  On a handle where no one sees them (no write
// hook, no key/range store, no containment tracking) appending and emptying
// make the same writes as plain stores.
//
// Membership: an element's anchor word names the anchor that holds it, so
// checking that a reference or removed element belongs to this owner's list
// costs one compare.  A reference or removed element that is not in this
// list reports NOT_FOUND and changes nothing; a new element that is
// already in a list (this one or another) reports INVALID and changes
// nothing.  Null owners and null elements report INVALID.
#include "types/lists.h"

#include <cstdint>

#include "frame/entry.h"
#include "types/layout.h"
#include "types/lifecycle.h"

namespace lomari {

namespace {

// The words a neighbour position holds: the anchor's first/last when the
// neighbour is the anchor, else the element's next/prev.
inline void **next_word(const TypeDesc &Elem, Anchor *a, void *p) {
    return p == a ? &a->first : &links_of(Elem, p)->next;
}
inline void **prev_word(const TypeDesc &Elem, Anchor *a, void *p) {
    return p == a ? &a->last : &links_of(Elem, p)->prev;
}
// The object a link write marks dirty: the written element, or the anchor.
inline const void *dirty_of(Anchor *a, void *p) { return p == a ? static_cast<const void *>(a) : p; }

// Start of every list operation: readers check the owner, writers also have
// its variant adjusted first.
inline bool prologue(H *h, void *o, bool writer, uint32_t *err) {
    return enter(h, err, o, kNeedObject | (writer ? kAdjust : 0u) | kVariant);
}

// Writers that take an element: a null element is refused after the owner.
inline bool writer_prologue(H *h, void *o, void *el, uint32_t *err) {
    return prologue(h, o, true, err) && present(h, err, el);
}

inline bool writes_seen(const H *h) { return list_writes_seen(h); }

// The writes of one list operation, registered and announced when Seen.
template <bool Seen>
struct Writes {
    const TypeDesc &Owner;
    H *h;
    uint32_t db;
    // A link word (registered), marking dirty_obj.
    void link(void **word, void *value, const void *dirty_obj) const {
        if constexpr (Seen) link_store<void *>(Owner, h, db, word, value, dirty_obj);
        else *word = value;
    }
    // A neighbour's link word: the written element, or the anchor, is dirty.
    void link_at(Anchor *a, void *p, void **word, void *value) const { link(word, value, dirty_of(a, p)); }
    // Any other word (announced).
    template <class V>
    void plain(void *owner, V *addr, V value) const {
        if constexpr (Seen) store(h, db, owner, addr, value);
        else *addr = value;
    }
};

// Takes el out of the chain around it: its previous neighbour's next and its
// next neighbour's previous skip it.  el's own words are left alone.
template <bool Seen>
void unchain(const Writes<Seen> &w, const TypeDesc &Elem, Anchor *a, Links *l) {
    void *prev = l->prev, *next = l->next;
    w.link_at(a, prev, next_word(Elem, a, prev), next);
    w.link_at(a, next, prev_word(Elem, a, next), prev);
}

// Puts el (in no list) between prev and next: the count, el's links, the
// neighbours' words and el's anchor word, then the containment report.
template <bool Seen>
void link_between(const Writes<Seen> &w, const TypeDesc &Elem, void *o, Anchor *a, void *el, void *prev,
                  void *next) {
    Links *l = links_of(Elem, el);
    w.plain(o, &a->count, a->count + 1);
    w.link(&l->next, next, el);
    w.link(&l->prev, prev, el);
    w.link_at(a, prev, next_word(Elem, a, prev), el);
    w.link_at(a, next, prev_word(Elem, a, next), el);
    w.plain(el, &l->anchor, static_cast<void *>(a));
    if constexpr (Seen) contain(w.h, w.db, el, o);
}

// On a tracking handle the list's state byte says it was written; an
// untracked owner is refused (after the insert: the list has changed).
bool mark_written(const TypeDesc &Owner, H *h, uint32_t db, void *o, bool track, uint32_t *err) {
    if (!track) return true;
    if (!(hdr(o)->flags & QEL_OF_TRACKED)) {
        trace0(kTrace1, tpi(Owner, tp::type::not_tracked));
        report(h, err, LOMARI_ERR_INVALID);
        return false;
    }
    store<uint8_t>(h, db, o, state_area(Owner, h, o) + list_field(Owner).state_idx, kStateWritten);
    return true;
}

}  // namespace

// ---- lifecycle hooks ---------------------------------------------------------

void list_init_anchor(const TypeDesc &Owner, H *h, uint32_t db, void *o) {
    reset_anchor(Owner, h, db, o, anchor_of(Owner, o));
}

void list_destroy_elements(const TypeDesc &Owner, H *h, uint32_t db, void *o) {
    const TypeDesc &Elem = list_elem(Owner);
    Anchor *a = anchor_of(Owner, o);
    DestroyRun run;
    auto empty = [&](const auto &w) {
        // Always take the current first: each unlink makes its successor first.
        for (void *el = a->first; el != a && el; el = a->first) {
            Links *l = links_of(Elem, el);
            unchain(w, Elem, a, l);
            w.plain(el, &l->anchor, static_cast<void *>(nullptr));
            destroy_run(Elem, run, h, db, el, kFreeStorage);
        }
        destroy_flush(run);
        w.plain(o, &a->count, 0u);
    };
    if (writes_seen(h))
        empty(Writes<true>{Owner, h, db});
    else
        empty(Writes<false>{Owner, h, db});
}

// ---- reading ---------------------------------------------------------------------

void *list_get(const TypeDesc &Owner, ListPos pos, H *h, uint32_t db, void *o, void *ref,
               uint32_t *err) {
    if (!prologue(h, o, false, err)) return nullptr;
    const TypeDesc &Elem = list_elem(Owner);
    Anchor *a = anchor_of(Owner, o);
    void *el;
    switch (pos) {
        case ListPos::First: el = a->first; break;
        case ListPos::Last: el = a->last; break;
        default: {
            if (!present(h, err, ref)) return nullptr;
            Links *l = links_of(Elem, ref);
            if (l->anchor != a) {
                report(h, err, LOMARI_ERR_NOT_FOUND);
                return nullptr;
            }
            el = pos == ListPos::Before ? l->prev : l->next;
        }
    }
    if (el == a) return nullptr;
    contain(h, db, el, o);
    return el;
}

uint32_t list_count(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t *err) {
    (void)db;
    if (!prologue(h, o, false, err)) return 0;
    return anchor_of(Owner, o)->count;
}

void *list_get_cr(const TypeDesc &Owner, H *h, void *o, uint32_t flag, void *ref) {
    if (h->err) return nullptr;
    if (flag >= kListPosCount) {
        trace_u(kTrace1, tpi(Owner, tp::type::list_get_flag), flag);
        report(h, &h->err, LOMARI_ERR_INVALID);
        return nullptr;
    }
    return list_get(Owner, static_cast<ListPos>(flag), h, h->database_id, o, ref, &h->err);
}

// ---- insertion and removal ----------------------------------------------------------

void list_insert(const TypeDesc &Owner, ListPos pos, H *h, uint32_t db, void *o, void *ref,
                 void *el, uint32_t *err) {
    if (!writer_prologue(h, o, el, err)) return;
    const TypeDesc &Elem = list_elem(Owner);
    Anchor *a = anchor_of(Owner, o);
    Links *l = links_of(Elem, el);
    if (l->anchor) {  // an element lives in one list at a time
        report(h, err, LOMARI_ERR_INVALID);
        return;
    }
    // The neighbours the new element goes between.
    void *prev, *next;
    switch (pos) {
        case ListPos::First: prev = a; next = a->first; break;
        case ListPos::Last: prev = a->last; next = a; break;
        default: {
            if (!present(h, err, ref)) return;
            Links *r = links_of(Elem, ref);
            if (r->anchor != a) {
                report(h, err, LOMARI_ERR_NOT_FOUND);
                return;
            }
            if (pos == ListPos::Before) {
                prev = r->prev;
                next = ref;
            } else {
                prev = ref;
                next = r->next;
            }
        }
    }

    link_between(Writes<true>{Owner, h, db}, Elem, o, a, el, prev, next);
    mark_written(Owner, h, db, o, handle_mode(h, Owner) == Mode::Track, err);
}

bool list_append(const TypeDesc &Owner, H *h, uint32_t db, void *o, void *el, bool track, uint32_t *err) {
    Anchor *a = anchor_of(Owner, o);
    if (writes_seen(h))
        link_between(Writes<true>{Owner, h, db}, list_elem(Owner), o, a, el, a->last, a);
    else
        link_between(Writes<false>{Owner, h, db}, list_elem(Owner), o, a, el, a->last, a);
    return mark_written(Owner, h, db, o, track, err);
}

uint32_t list_add_cr(const TypeDesc &Owner, H *h, void *o, void *el, uint32_t flag, void *ref) {
    if (h->err) return h->err;
    if (flag >= kListPosCount) {
        trace_u(kTrace1, tpi(Owner, tp::type::list_add_flag), flag);
        report(h, &h->err, LOMARI_ERR_INVALID);
        return h->err;
    }
    list_insert(Owner, static_cast<ListPos>(flag), h, h->database_id, o, ref, el, &h->err);
    return h->err;
}

void list_remove(const TypeDesc &Owner, H *h, uint32_t db, void *o, void *el, uint32_t *err) {
    if (!writer_prologue(h, o, el, err)) return;
    const TypeDesc &Elem = list_elem(Owner);
    Anchor *a = anchor_of(Owner, o);
    Links *l = links_of(Elem, el);
    // Not ours (or the count says there is nothing to take): not found.
    // The count test keeps an inconsistent anchor from wrapping below 0.
    if (l->anchor != a || a->count == 0) {
        report(h, err, LOMARI_ERR_NOT_FOUND);
        return;
    }
    store<uint32_t>(h, db, o, &a->count, a->count - 1);
    unchain(Writes<true>{Owner, h, db}, Elem, a, l);
    store<void *>(h, db, el, &l->anchor, nullptr);
    if (h->containment_tracking) {
        qeldb_record_containment2(h, db, el, o);
        if (plat_reports(h, db)) qeldb_plat_set_detach(h, db, el, 1);
    }
}

// ---- owner of an element ---------------------------------------------------------------

void *list_get_parent(const TypeDesc &Elem, H *h, uint32_t db, void *el, uint32_t *err) {
    if (!prologue(h, el, false, err)) return nullptr;
    const Anchor *a = static_cast<const Anchor *>(links_of(Elem, el)->anchor);
    if (!a) return nullptr;
    contain(h, db, a->owner, el);
    return a->owner;
}

}  // namespace lomari
