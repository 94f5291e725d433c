// The database side of the runtime stand-in: the AVL container checked
// against an ordered model over randomized sequences (order, counts, the
// height bound, unlinked nodes cleared, neighbours of probes that are not in
// the tree), and the TOC, tenant counters and destroy requests the table
// layer relies on.
#include <cmath>
#include <set>
#include <thread>

#include "fixture.h"
#include "qel/rt_control_db.h"

namespace {

using namespace lt;

struct Item {
    e_avl_node_t node;
    uint32_t key;
};
uint32_t Cmp(const void *a, const void *b) {
    const uint32_t x = static_cast<const Item *>(a)->key, y = static_cast<const Item *>(b)->key;
    return x < y ? 0 : x == y ? 1 : 2;
}
// Height of the subtree, checking every node's stored height and balance.
int Height(const e_avl_node_t *n) {
    if (!n) return 0;
    const int l = Height(n->left), r = Height(n->right);
    EXPECT_LE(std::abs(l - r), 1);
    EXPECT_EQ(n->height, std::max(l, r) + 1);
    return std::max(l, r) + 1;
}
int Collect(void *node, void *ctx, void *, void *, void *) {
    return static_cast<std::vector<uint32_t> *>(ctx)->push_back(static_cast<Item *>(node)->key), 0;
}

class Avl : public ::testing::TestWithParam<uint32_t> {};

TEST_P(Avl, RandomSequenceMatchesOrderedModel) {
    const uint32_t span = GetParam();
    std::vector<Item> items(span);
    for (uint32_t i = 0; i < span; ++i) items[i] = {{}, i};
    std::set<uint32_t> model;
    e_avl_node_t *root = nullptr;
    uint64_t count = 0;
    std::mt19937 rng(span);
    for (int step = 0; step < 20000; ++step) {
        Item &it = items[rng() % span];
        const bool in = model.count(it.key);
        Item twin{{}, it.key};  // equal, never linked
        if (rng() % 3) {
            // Inserting an item that is in refuses; an equal probe too.
            EXPECT_EQ(e_avl_insert(nullptr, 0, &root, &it, &count, Cmp), in ? 0 : 1);
            EXPECT_EQ(e_avl_insert(nullptr, 0, &root, &twin, &count, Cmp), 0);
            model.insert(it.key);
        } else {
            EXPECT_EQ(e_avl_delete(nullptr, 0, &root, &twin, &count, Cmp), 0);
            EXPECT_EQ(e_avl_delete(nullptr, 0, &root, &it, &count, Cmp), in ? 1 : 0);
            EXPECT_EQ(std::tuple(it.node.left, it.node.right, it.node.height), std::tuple(nullptr, nullptr, 0));
            model.erase(it.key);
        }
        ASSERT_EQ(count, model.size());
        if (step % 997 == 0 || step == 19999) {
            EXPECT_LE(Height(root), 1.4405 * std::log2(model.size() + 2.0) - 0.3277 + 1e-9);
            std::vector<uint32_t> walked;
            EXPECT_EQ(e_avl_walk(root, Collect, &walked, nullptr, nullptr, nullptr), model.size());
            ASSERT_EQ(walked, std::vector<uint32_t>(model.begin(), model.end()));
        }
        // Search and neighbours of a probe, in the tree or not.
        Item probe{{}, static_cast<uint32_t>(rng() % (span + 2)) - 1};
        auto key = [](void *i) { return i ? static_cast<Item *>(i)->key : ~0u; };
        auto nx = model.upper_bound(probe.key), pv = model.lower_bound(probe.key);
        EXPECT_EQ(std::tuple(e_avl_search(root, &probe, Cmp) != nullptr, key(e_avl_get_next(root, &probe, Cmp)),
                             key(e_avl_get_prev(root, &probe, Cmp))),
                  std::tuple(model.count(probe.key) == 1, nx == model.end() ? ~0u : *nx, pv == model.begin() ? ~0u : *std::prev(pv)));
    }
    EXPECT_EQ(static_cast<Item *>(e_avl_get_first(root)), model.empty() ? nullptr : &items[*model.begin()]);
    EXPECT_EQ(static_cast<Item *>(e_avl_get_last(root)), model.empty() ? nullptr : &items[*model.rbegin()]);
}
INSTANTIATE_TEST_SUITE_P(Spans, Avl, ::testing::Values(1u, 7u, 300u, 5000u));

class Db : public Lomari {};

// The TOC files tables by type and name or id, refusing one filed twice and
// a delete of one not filed; tenant counters count per tenant and source;
// the tenant is per thread; a destroy request is counted once.
TEST_F(Db, TocTenantCountersAndDestroyRequests) {
    qel_type_info_t a{}, b{};
    a.luid[0] = 1;
    b.luid[0] = 2;
    EXPECT_EQ(qeldb_database_toc_get(h, db, &err), nullptr);
    ASSERT_NE(qeldb_database_toc_open(h, db, &err), nullptr);
    qeldb_table_head_t byname{}, byid{}, other{};  // by name, and by id 7 for two types
    byname.tinfo = byid.tinfo = &a;
    other.tinfo = &b;
    std::strcpy(byname.name, "x/1");
    byid.table_id = other.table_id = 7;
    byid.open_mode = other.open_mode = 1;
    for (auto *t : {&byname, &byid, &other}) qeldb_database_toc_insert(h, db, t, 0, &err);
    EXPECT_EQ(Err(), 0u);
    qeldb_database_toc_insert(h, db, &byid, 0, &err);
    EXPECT_EQ(Err(), 17u);
    auto find = [&](const char *name, uint64_t id, const qel_type_info_t &t) {
        return qeldb_database_toc_get_table_root(h, db, name, name ? 3 : 0, id, t.luid, 16, name != nullptr, &err);
    };
    EXPECT_EQ((std::vector<void *>{find("x/1", 0, a), find("x/1", 0, b), find(nullptr, 7, a), find(nullptr, 7, b)}),
              (std::vector<void *>{&byname, nullptr, &byid, &other}));
    qeldb_database_toc_delete(h, db, &byid, &err);
    qeldb_database_toc_delete(h, db, &byid, &err);
    EXPECT_EQ((std::tuple{Err(), qelrt_db_toc_size(h)}), (std::tuple{2u, 2u}));
    qelrt_db_fail("toc_find", 5);
    EXPECT_EQ((std::tuple{find("x/1", 0, a), Err()}), (std::tuple{static_cast<void *>(nullptr), 5u}));
    qelrt_db_reset();

    qeldb_table_head_t t{};
    for (uint8_t src : {1, 1, 255}) qeldb_update_tenant_counter(h, db, &t, 1, 3, src, &err);
    qeldb_update_tenant_counter(h, db, &t, 1, 4, 1, &err);
    qeldb_update_tenant_counter(h, db, &t, 0, 3, 1, &err);
    uint32_t n = 0, shadows = 0;
    const uint8_t shadow = 255;
    EXPECT_EQ(qeldb_get_tenant_counter(h, db, &t, &n, 3, nullptr), 0u);
    qeldb_get_tenant_counter(h, db, &t, &shadows, 3, &shadow);
    EXPECT_EQ((std::tuple{n, shadows}), (std::tuple{2u, 1u}));
    qelrt_set_tenant_id(9);
    EXPECT_EQ(mt_get_tenant_id(), 9);
    std::thread([] { EXPECT_EQ(mt_get_tenant_id(), 0); }).join();  // per thread
    qeldb_record_head_t r{};
    r.table = &t;
    qeldb_request_record_destroy(h, db, &r, &err);
    qeldb_request_record_destroy(h, db, &r, &err);  // once only
    EXPECT_EQ((std::tuple{r.flags, t.pending_destroy_count, h->db_stats->pending_destroy}),
              (std::tuple{U(QELDB_REC_PENDING), 1u, uint64_t{1}}));
}

}  // namespace
