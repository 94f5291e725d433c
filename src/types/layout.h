// layout.h -- where the parts of a structured instance live, beyond the
// object header: the list anchor and link words, the element block of a
// counted array, the state area and an array owner's part of it.
//
// Every family that reads or writes these goes through here; the offsets
// come from the descriptors (types/schema.h), the shapes are fixed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/frame.h"
#include "types/schema.h"

namespace lomari {

// ---- ordered lists ------------------------------------------------------------
// An owner holds an anchor {first, last, owner, count}; an element holds
// {anchor, next, prev}.  The chain is circular through the anchor: an empty
// anchor's first and last, the first element's prev and the last element's
// next all hold the anchor's own address.

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

inline const FieldDesc &list_field(const TypeDesc &Owner) { return Owner.fields[Owner.list_field]; }
inline const TypeDesc &list_elem(const TypeDesc &Owner) { return *list_field(Owner).elem; }
inline Anchor *anchor_of(const TypeDesc &Owner, void *o) { return at<Anchor>(o, Owner.anchor_off); }
inline const Anchor *anchor_of(const TypeDesc &Owner, const void *o) { return at<Anchor>(o, Owner.anchor_off); }
inline Links *links_of(const TypeDesc &Elem, void *el) { return at<Links>(el, Elem.link_off); }
inline const Links *links_of(const TypeDesc &Elem, const void *el) { return at<Links>(el, Elem.link_off); }
inline const void *next_of(const TypeDesc &Elem, const void *el) { return links_of(Elem, el)->next; }
inline void *next_of(const TypeDesc &Elem, void *el) { return links_of(Elem, el)->next; }

// Registered writes of the three anchor words that make it an empty anchor
// of owner o.
inline void reset_anchor(const TypeDesc &Owner, H *h, uint32_t db, void *o, Anchor *a) {
    link_store<void *>(Owner, h, db, &a->first, a, a);
    link_store<void *>(Owner, h, db, &a->last, a, a);
    link_store<void *>(Owner, h, db, &a->owner, o, a);
}

// ---- counted arrays -------------------------------------------------------------
// The owner holds pair_count (u32) and the element-block pointer.  The block
// is count elements of the element's plain size side by side; on a tracking
// handle it continues with each element's own state bytes (n_state_fields
// per element).

inline const FieldDesc &array_field(const TypeDesc &Owner) { return Owner.fields[Owner.array_field]; }
inline const TypeDesc &array_elem(const TypeDesc &Owner) { return *array_field(Owner).elem; }
inline uint32_t *count_of(const TypeDesc &Owner, void *o) {
    return at<uint32_t>(o, Owner.fields[Owner.count_field].offset);
}
inline const uint32_t *count_of(const TypeDesc &Owner, const void *o) {
    return at<uint32_t>(o, Owner.fields[Owner.count_field].offset);
}
inline uint8_t **block_of(const TypeDesc &Owner, void *o) { return at<uint8_t *>(o, array_field(Owner).offset); }
inline uint8_t *const *block_of(const TypeDesc &Owner, const void *o) {
    return at<uint8_t *const>(o, array_field(Owner).offset);
}

// Bytes of a block of n elements, with or without their state bytes.
inline uint64_t block_bytes(const TypeDesc &Elem, uint32_t n, bool track) {
    return uint64_t{n} * (Elem.plain_size + (track ? Elem.n_state_fields : 0));
}
template <class B>
inline B *elem_at(const TypeDesc &Elem, B *block, uint32_t i) {
    return block + size_t{i} * Elem.plain_size;
}
// Element i's state bytes in a block of count elements.
template <class B>
inline B *elem_states(const TypeDesc &Elem, B *block, uint32_t count, uint32_t i) {
    return block + size_t{count} * Elem.plain_size + size_t{i} * Elem.n_state_fields;
}

// ---- state area -------------------------------------------------------------------

// Where an instance laid out by itself keeps its state bytes: right after
// its plain part.
inline uint8_t *inline_state(const TypeDesc &T, void *inst) { return at(inst, T.plain_size); }

// Where an instance's state area is (null when it is not tracked): array
// elements and runtime-placed instances keep their bytes elsewhere, and
// the runtime knows where.
inline uint8_t *state_area(const TypeDesc &T, H *h, void *inst) {
    const uint8_t f = hdr(inst)->flags;
    if (!(f & QEL_OF_TRACKED)) return nullptr;
    if (f & (QEL_OF_STTR_RT | QEL_OF_NESTED)) return qellib_get_sttr_offset(h, inst);
    return inline_state(T, inst);
}
inline const uint8_t *state_area(const TypeDesc &T, H *h, const void *inst) {
    return state_area(T, h, const_cast<void *>(inst));
}

// An array owner's state area: its field bytes, then the pointer to one
// state byte per element (null while it has none).
struct ArrayOwnerState {
    uint8_t field_bytes[kArrayOwnerPerElemOff];
    uint8_t *per_elem;
};
static_assert(sizeof(ArrayOwnerState) == kArrayOwnerStateSize &&
              offsetof(ArrayOwnerState, per_elem) == kArrayOwnerPerElemOff);

// The area may be placed anywhere by the runtime: the pointer is copied,
// never dereferenced in place.
inline uint8_t *per_elem_get(const uint8_t *sa) {
    uint8_t *p;
    std::memcpy(&p, sa + kArrayOwnerPerElemOff, sizeof p);
    return p;
}
// Plain store of the pointer, for areas no one observes yet (a decode
// builds them) or that are going away.
inline void per_elem_store(uint8_t *sa, uint8_t *p) { std::memcpy(sa + kArrayOwnerPerElemOff, &p, sizeof p); }
// Announced store, for an owner's live area.
inline void per_elem_put(H *h, uint32_t db, void *owner, uint8_t *sa, uint8_t *p) {
    announce(h, sa + kArrayOwnerPerElemOff, sizeof p, db, owner);
    per_elem_store(sa, p);
}
// Frees the per-element bytes the area points at (unannounced: the owner
// is going away).
inline void per_elem_free(H *h, uint32_t db, uint8_t *sa) {
    if (uint8_t *p = per_elem_get(sa)) {
        h->free_fn(h->alloc_ctx, db, p);
        per_elem_store(sa, nullptr);
    }
}

}  // namespace lomari
