/*
 * avl.cpp -- the AVL container behind table indexes.
 *
 * Owns e_avl_*: an intrusive, height-balanced binary search tree over nodes
 * the caller embeds in its records, ordered by the caller's three-way
 * comparison (0 before, 1 equal, 2 after).  Nodes carry no parent link:
 * insert and delete rebuild the path on the way back up a recursion whose
 * depth is the tree height (at most 1.44 log2 n), and stepping to a
 * neighbour descends from the root by comparison, which also lets a search
 * probe that is not in the tree step to its neighbours.  No operation
 * allocates.  The companion word counts the entries.
 */
#include "internal.h"

namespace {

using Node = e_avl_node_t;

constexpr uint32_t kBefore = 0, kEqual = 1, kAfter = 2;

inline int32_t height(const Node *n) { return n ? n->height : 0; }

inline void fix_height(Node *n) {
    const int32_t l = height(n->left), r = height(n->right);
    n->height = (l > r ? l : r) + 1;
}

Node *rotate_right(Node *n) {
    Node *l = n->left;
    n->left = l->right;
    l->right = n;
    fix_height(n);
    fix_height(l);
    return l;
}

Node *rotate_left(Node *n) {
    Node *r = n->right;
    n->right = r->left;
    r->left = n;
    fix_height(n);
    fix_height(r);
    return r;
}

/* Restores the balance of n, whose subtrees differ in height by 2 at most,
 * and returns the subtree's new root. */
Node *balance(Node *n) {
    fix_height(n);
    const int32_t d = height(n->left) - height(n->right);
    if (d > 1) {
        if (height(n->left->left) < height(n->left->right))
            n->left = rotate_left(n->left);
        return rotate_right(n);
    }
    if (d < -1) {
        if (height(n->right->right) < height(n->right->left))
            n->right = rotate_right(n->right);
        return rotate_left(n);
    }
    return n;
}

/* Progress of an insert or delete on the way back up: done once the tree
 * changed, settled once a subtree kept its height (nothing above it can
 * change then). */
struct Step {
    bool done = false;
    bool settled = false;
};

/* Rebalances t after a change below it, unless the change has settled. */
inline Node *retrace(Node *t, Step *s) {
    if (!s->done || s->settled)
        return t;
    const int32_t before = t->height;
    Node *r = balance(t);
    if (r == t && t->height == before)
        s->settled = true;
    return r;
}

Node *insert(Node *t, Node *n, e_avl_compare_fn cmp, Step *s) {
    if (!t) {
        n->left = n->right = nullptr;
        n->height = 1;
        s->done = true;
        return n;
    }
    const uint32_t c = cmp(n, t);
    if (c == kEqual)
        return t;
    if (c == kBefore)
        t->left = insert(t->left, n, cmp, s);
    else
        t->right = insert(t->right, n, cmp, s);
    return retrace(t, s);
}

/* Detaches the smallest node of t into *min and returns what is left. */
Node *remove_min(Node *t, Node **min) {
    if (!t->left) {
        *min = t;
        return t->right;
    }
    t->left = remove_min(t->left, min);
    return balance(t);
}

Node *remove(Node *t, Node *n, e_avl_compare_fn cmp, Step *s) {
    if (!t)
        return nullptr;
    const uint32_t c = cmp(n, t);
    if (c == kBefore) {
        t->left = remove(t->left, n, cmp, s);
    } else if (c == kAfter) {
        t->right = remove(t->right, n, cmp, s);
    } else {
        if (t != n)
            return t; /* an equal entry that is another node */
        s->done = true;
        Node *l = t->left, *r = t->right;
        t->left = t->right = nullptr;
        t->height = 0;
        if (!r)
            return l;
        Node *m = nullptr;
        Node *rest = remove_min(r, &m);
        m->left = l;
        m->right = rest;
        return balance(m);
    }
    return retrace(t, s);
}

} // namespace

using namespace qelrt;

extern "C" {

int e_avl_insert(void *, uint32_t, e_avl_node_t **root, void *node,
                 uint64_t *companion, e_avl_compare_fn cmp) {
    if (!root || !node || !cmp)
        return 0;
    Step s;
    *root = insert(*root, static_cast<Node *>(node), cmp, &s);
    if (s.done && companion)
        ++*companion;
    return s.done ? 1 : 0;
}

int e_avl_delete(void *, uint32_t, e_avl_node_t **root, void *node,
                 uint64_t *companion, e_avl_compare_fn cmp) {
    if (!root || !node || !cmp)
        return 0;
    Step s;
    *root = remove(*root, static_cast<Node *>(node), cmp, &s);
    if (s.done && companion && *companion)
        --*companion;
    return s.done ? 1 : 0;
}

void *e_avl_search(e_avl_node_t *root, const void *probe, e_avl_compare_fn cmp) {
    for (Node *t = root; t;) {
        const uint32_t c = cmp(probe, t);
        if (c == kEqual)
            return t;
        t = c == kBefore ? t->left : t->right;
    }
    return nullptr;
}

void *e_avl_get_first(e_avl_node_t *root) {
    Node *t = root;
    while (t && t->left)
        t = t->left;
    return t;
}

void *e_avl_get_last(e_avl_node_t *root) {
    Node *t = root;
    while (t && t->right)
        t = t->right;
    return t;
}

void *e_avl_get_next(e_avl_node_t *root, const void *node, e_avl_compare_fn cmp) {
    Node *best = nullptr;
    for (Node *t = root; t;) {
        if (cmp(node, t) == kBefore) {
            best = t;
            t = t->left;
        } else {
            t = t->right;
        }
    }
    return best;
}

void *e_avl_get_prev(e_avl_node_t *root, const void *node, e_avl_compare_fn cmp) {
    Node *best = nullptr;
    for (Node *t = root; t;) {
        if (cmp(node, t) == kAfter) {
            best = t;
            t = t->right;
        } else {
            t = t->left;
        }
    }
    return best;
}

uint64_t e_avl_walk(e_avl_node_t *root, e_avl_visit_fn visit, void *ctx, void *a1,
                    void *a2, void *a3) {
    /* In-order with an explicit stack: the height of a tree that fits in
     * memory stays far below 96. */
    Node *stack[96];
    int top = 0;
    uint64_t n = 0;
    Node *t = root;
    while (t || top) {
        while (t) {
            stack[top++] = t;
            t = t->left;
        }
        t = stack[--top];
        ++n;
        if (visit && visit(t, ctx, a1, a2, a3))
            break;
        t = t->right;
    }
    return n;
}

void trans_avl_trace_init(void) { logc("trans_avl_trace_init"); }

void trans_gbt_trace_init(void) { logc("trans_gbt_trace_init"); }

} // extern "C"
