// lists.h -- the ordered lists (types/lists.cpp).
#pragma once

#include <cstdint>

#include "frame/frame.h"
#include "types/layout.h"
#include "types/schema.h"

namespace lomari {

// Where a list operation acts: at either end, or beside a reference element
// (get: the reference's previous or next element).  The values are those of
// the chained-error forms' flag.
enum class ListPos : uint32_t { First, Last, Before, After };
inline constexpr uint32_t kListPosCount = static_cast<uint32_t>(ListPos::After) + 1;

void *list_get(const TypeDesc &Owner, ListPos pos, H *h, uint32_t db, void *o, void *ref,
               uint32_t *err);
uint32_t list_count(const TypeDesc &Owner, H *h, uint32_t db, void *o, uint32_t *err);
void *list_get_cr(const TypeDesc &Owner, H *h, void *o, uint32_t flag, void *ref);
void list_insert(const TypeDesc &Owner, ListPos pos, H *h, uint32_t db, void *o, void *ref,
                 void *el, uint32_t *err);
uint32_t list_add_cr(const TypeDesc &Owner, H *h, void *o, void *el, uint32_t flag, void *ref);
void list_remove(const TypeDesc &Owner, H *h, uint32_t db, void *o, void *el, uint32_t *err);
void *list_get_parent(const TypeDesc &Elem, H *h, uint32_t db, void *el, uint32_t *err);
// Appends el, which is in no list, at the end of o's list with the writes,
// registrations and reports of an insert, without the entry checks: for
// callers inside the library that made el themselves (a decoder).  track is
// the handle's mode, asked once by the caller; false after reporting an
// untracked owner on a tracking handle.
bool list_append(const TypeDesc &Owner, H *h, uint32_t db, void *o, void *el, bool track, uint32_t *err);
// Whether anyone sees a list's writes on this handle: a write hook, a
// key/range store that registers link words, or containment reports.
// Unseen, a list's writes are plain stores: registering and announcing
// would do nothing.
inline bool list_writes_seen(const H *h) { return h->write_hook_fn || h->alloc_ctx || h->containment_tracking; }
// list_append on a plain handle whose list writes no one sees
// (list_writes_seen false): the same words written as plain stores, inline
// in a decoder's loop.
inline void list_append_unseen(const TypeDesc &Owner, uint16_t link_off, void *o, void *el) {
    Anchor *a = anchor_of(Owner, o);
    Links *l = at<Links>(el, link_off);
    void *last = a->last;
    ++a->count;
    l->next = a;
    l->prev = last;
    *(last == a ? &a->first : &at<Links>(last, link_off)->next) = el;
    a->last = el;
    l->anchor = a;
}
// Lifecycle hooks: anchor set-up at initialize, emptying at destroy.
void list_init_anchor(const TypeDesc &Owner, H *h, uint32_t db, void *o);
void list_destroy_elements(const TypeDesc &Owner, H *h, uint32_t db, void *o);

}  // namespace lomari
