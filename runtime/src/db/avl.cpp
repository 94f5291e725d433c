/*
 * avl.cpp -- the AVL container behind table indexes.
 *
 * Owns e_avl_*: an intrusive, height-balanced binary search tree over nodes
 * the caller embeds in its records, ordered by the caller's three-way
 * comparison (0 before, 1 equal, 2 after).  Insert and delete walk down
 * keeping a stack of the links they passed (as deep as the tree, at most
 * 1.44 log2 n) and rebalance back up it until a subtree keeps its height;
 * every node also keeps its parent link, so that a node in the tree steps
 * to its neighbours through the links (e_avl_next_linked, qel/rt_db.h).
 * e_avl_get_next and e_avl_get_prev descend from the root by comparison,
 * which lets a search probe that is not in the tree step to its
 * neighbours.  No operation allocates.  The companion word counts the
 * entries.  Every store into a node, a link or the companion is noted
 * first (jset), so that a change to a shared database's index is
 * journaled.  An index whose root link sits in a shared segment takes
 * only nodes of that segment: a node anywhere else (a process's heap, the
 * library's static null record) is an address no other process can read,
 * so its insert is refused as if an equal entry were present.
 */
#include "db/segment.h"
#include "internal.h"

namespace {

using Node = e_avl_node_t;
using qelrt::jnote;
using qelrt::jset;

constexpr uint32_t kBefore = 0, kEqual = 1, kAfter = 2;

inline int32_t height(const Node *n) { return n ? n->height : 0; }

inline void fix_height(Node *n) {
    const int32_t l = height(n->left), r = height(n->right);
    jset(&n->height, (l > r ? l : r) + 1);
}

/* The rotations keep the parent links: the new subtree root takes n's
 * parent, and the caller stores it in the link that held n. */
Node *rotate_right(Node *n) {
    Node *l = n->left;
    jset(&n->left, l->right);
    if (n->left)
        jset(&n->left->parent, n);
    jset(&l->right, n);
    jset(&l->parent, n->parent);
    jset(&n->parent, l);
    fix_height(n);
    fix_height(l);
    return l;
}

Node *rotate_left(Node *n) {
    Node *r = n->right;
    jset(&n->right, r->left);
    if (n->right)
        jset(&n->right->parent, n);
    jset(&r->left, n);
    jset(&r->parent, n->parent);
    jset(&n->parent, r);
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
            jset(&n->left, rotate_left(n->left));
        return rotate_right(n);
    }
    if (d < -1) {
        if (height(n->right->right) < height(n->right->left))
            jset(&n->right, rotate_right(n->right));
        return rotate_left(n);
    }
    return n;
}

/* The deepest tree the path stacks hold: an AVL tree of height 90 has more
 * nodes than memory has bytes. */
constexpr int kMaxDepth = 96;

/* Rebalances the subtrees whose links are links[depth-1] .. links[0],
 * deepest first, until one keeps the height it had. */
void retrace(Node **links[], int depth) {
    while (depth > 0) {
        Node **up = links[--depth];
        Node *t = *up;
        const int32_t before = t->height;
        Node *r = balance(t);
        if (r != t)
            jset(up, r);
        if (r->height == before)
            break;
    }
}

/* Descends from *root to the place of n, remembering the links passed, and
 * links n there; then rebalances upwards until a subtree keeps its height.
 * The children of each node passed are prefetched: the next comparison's
 * node is on its way while this one reads its key.  False when an equal
 * entry is present. */
bool insert(Node **root, Node *n, e_avl_compare_fn cmp) {
    Node **links[kMaxDepth];
    int depth = 0;
    Node **link = root;
    Node *parent = nullptr;
    for (Node *t = *link; t; t = *link) {
        __builtin_prefetch(t->left);
        __builtin_prefetch(t->right);
        const uint32_t c = cmp(n, t);
        if (c == kEqual)
            return false;
        links[depth++] = link;
        link = c == kBefore ? &t->left : &t->right;
        parent = t;
    }
    jnote(n, sizeof *n);
    n->left = n->right = nullptr;
    n->parent = parent;
    n->height = 1;
    jset(link, n);
    /* Back up while the subtree that holds n grew to the height of its
     * parent: only then is the parent's other child read (a sibling kept
     * out of the cache is a miss saved), and at most one rotation ends it. */
    for (Node *grown = n; depth > 0;) {
        Node **up = links[--depth];
        Node *t = *up;
        const int32_t hc = grown->height;
        if (hc < t->height)
            break; /* t keeps its height and is now even */
        Node *other = t->left == grown ? t->right : t->left;
        if (height(other) >= hc - 1) {
            jset(&t->height, hc + 1);
            grown = t;
            continue;
        }
        jset(up, balance(t));
        break;
    }
    return true;
}

/* Unlinks n, found by descending from *root; a node with a right subtree
 * is replaced by the smallest node of that subtree.  False when n itself
 * is not in the tree. */
bool remove(Node **root, Node *n, e_avl_compare_fn cmp) {
    Node **links[kMaxDepth];
    int depth = 0;
    Node **link = root;
    for (Node *t = *link;; t = *link) {
        if (!t)
            return false;
        __builtin_prefetch(t->left);
        __builtin_prefetch(t->right);
        const uint32_t c = cmp(n, t);
        if (c == kEqual) {
            if (t != n)
                return false; /* an equal entry that is another node */
            break;
        }
        links[depth++] = link;
        link = c == kBefore ? &t->left : &t->right;
    }
    if (!n->right) {
        jset(link, n->left);
        if (n->left)
            jset(&n->left->parent, n->parent);
    } else {
        const int at = depth;
        links[depth++] = link; /* will hold the replacement */
        Node **ml = &n->right;
        while ((*ml)->left) {
            links[depth++] = ml;
            ml = &(*ml)->left;
        }
        Node *m = *ml;
        jset(ml, m->right);
        if (m->right && m->parent != n)
            jset(&m->right->parent, m->parent);
        jnote(m, sizeof *m);
        m->left = n->left;
        m->right = n->right;
        m->height = n->height;
        m->parent = n->parent;
        if (m->left)
            jset(&m->left->parent, m);
        if (m->right)
            jset(&m->right->parent, m);
        jset(link, m);
        if (depth > at + 1)
            links[at + 1] = &m->right; /* was &n->right */
    }
    jnote(n, sizeof *n);
    n->left = n->right = n->parent = nullptr;
    n->height = 0;
    retrace(links, depth);
    return true;
}

} // namespace

using namespace qelrt;

extern "C" {

int e_avl_insert(void *, uint32_t, e_avl_node_t **root, void *node,
                 uint64_t *companion, e_avl_compare_fn cmp) {
    if (!root || !node || !cmp)
        return 0;
    if (RT_UNLIKELY(shared_any_attached()))
        if (const qelrt_db *db = shared_db_at(root)) {
            const auto a = reinterpret_cast<uintptr_t>(node);
            if (a < db->lo || a >= db->hi || db->hi - a < sizeof(Node))
                return 0;
        }
    if (!insert(root, static_cast<Node *>(node), cmp))
        return 0;
    if (companion)
        jset(companion, *companion + 1);
    return 1;
}

int e_avl_delete(void *, uint32_t, e_avl_node_t **root, void *node,
                 uint64_t *companion, e_avl_compare_fn cmp) {
    if (!root || !node || !cmp)
        return 0;
    if (!remove(root, static_cast<Node *>(node), cmp))
        return 0;
    if (companion && *companion)
        jset(companion, *companion - 1);
    return 1;
}

void *e_avl_search(e_avl_node_t *root, const void *probe, e_avl_compare_fn cmp) {
    void *after, *before;
    return e_avl_search_bounds(root, probe, cmp, &after, &before);
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
