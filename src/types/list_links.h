// list_links.h -- the link words of the ordered lists, as the list family
// and the whole-object move of a list owner see them.
//
// An owner holds an anchor {first, last, owner, count}; an element holds
// {anchor, next, prev}.  The chain is circular through the anchor: an empty
// anchor's first and last, the first element's prev and the last element's
// next all hold the anchor's own address.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

namespace lomari::links {

struct Anchor {
    void *first;
    void *last;
    void *owner;
    uint32_t count;
};
static_assert(offsetof(Anchor, owner) == 16 && offsetof(Anchor, count) == 24);

struct Links {
    void *anchor;
    void *next;
    void *prev;
};

inline Anchor *anchor_of(const TypeDesc &Owner, void *o) { return at<Anchor>(o, Owner.anchor_off); }
inline const TypeDesc &elem_of(const TypeDesc &Owner) { return *Owner.fields[Owner.list_field].elem; }
inline Links *links_of(const TypeDesc &Elem, void *el) { return at<Links>(el, Elem.link_off); }

// Registered writes of the three anchor words that make it an empty anchor
// of owner o.
inline void reset_anchor(const TypeDesc &Owner, H *h, uint32_t db, void *o, Anchor *a) {
    link_store<void *>(Owner, h, db, &a->first, a, a);
    link_store<void *>(Owner, h, db, &a->last, a, a);
    link_store<void *>(Owner, h, db, &a->owner, o, a);
}

}  // namespace lomari::links
