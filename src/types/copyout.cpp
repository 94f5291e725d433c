// copyout.cpp -- what a whole-object set does after copying an owner's bytes.
//
// The set copies the source's plain bytes over the destination, pointers
// included.  Whatever the source owned dynamically must then belong to the
// destination alone:
//  - a list owner's elements are hung on the destination's anchor (the
//    copied anchor words still name the source's anchor), each element's
//    anchor word is rewritten, and the source's list is left empty;
//  - an array owner's element block (and, when the set took the state area
//    along, the per-element state bytes) is dropped from the source.
// The destination keeps the count the byte copy gave it.  Other types own
// nothing and need nothing.
#include "types/clone.h"

#include "types/layout.h"

namespace lomari {

namespace {

void move_list(const TypeDesc &T, H *h, uint32_t db, void *dst, void *src) {
    const TypeDesc &Elem = list_elem(T);
    Anchor *d = anchor_of(T, dst), *s = anchor_of(T, src);
    reset_anchor(T, h, db, dst, d);
    if (s->first != s) {
        void *first = s->first, *last = s->last;
        link_store<void *>(T, h, db, &links_of(Elem, first)->prev, d, first);
        link_store<void *>(T, h, db, &links_of(Elem, last)->next, d, last);
        link_store<void *>(T, h, db, &d->first, first, d);
        link_store<void *>(T, h, db, &d->last, last, d);
        link_store<void *>(T, h, db, &s->first, s, s);
        link_store<void *>(T, h, db, &s->last, s, s);
    }
    for (void *el = d->first; el != d; el = links_of(Elem, el)->next)
        link_store<void *>(T, h, db, &links_of(Elem, el)->anchor, d, el);
    store<uint32_t>(h, db, src, &s->count, 0);
}

void move_array(const TypeDesc &T, H *h, uint32_t db, void *src) {
    store(h, db, src, block_of(T, src), static_cast<uint8_t *>(nullptr));
    store(h, db, src, count_of(T, src), uint32_t{0});
    // A tracking set of a tracked source copied the owner's state area, so
    // the per-element state bytes went along with it.
    if (handle_mode(h, T) != Mode::Track) return;
    if (uint8_t *sa = state_area(T, h, src)) per_elem_put(h, db, src, sa, nullptr);
}

}  // namespace

void obj_post_copyout_cleanup(const TypeDesc &T, H *h, uint32_t db, void *dst, void *src) {
    if (!dst || !src || dst == src) return;
    if (T.list_field >= 0)
        move_list(T, h, db, dst, src);
    else if (T.array_field >= 0)
        move_array(T, h, db, src);
}

}  // namespace lomari
