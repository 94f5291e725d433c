// The database side of the runtime stand-in: the AVL container checked
// against an ordered model over randomized sequences (order, counts, the
// height bound, neighbours of probes that are not in the tree), and the
// TOC, table list and tenant counters the table layer relies on.
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
    static_cast<std::vector<uint32_t> *>(ctx)->push_back(static_cast<Item *>(node)->key);
    return 0;
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
        EXPECT_EQ(e_avl_search(root, &probe, Cmp) != nullptr, model.count(probe.key) == 1);
        auto nx = model.upper_bound(probe.key), pv = model.lower_bound(probe.key);
        EXPECT_EQ(key(e_avl_get_next(root, &probe, Cmp)), nx == model.end() ? ~0u : *nx);
        EXPECT_EQ(key(e_avl_get_prev(root, &probe, Cmp)), pv == model.begin() ? ~0u : *std::prev(pv));
    }
    EXPECT_EQ(static_cast<Item *>(e_avl_get_first(root)), model.empty() ? nullptr : &items[*model.begin()]);
    EXPECT_EQ(static_cast<Item *>(e_avl_get_last(root)), model.empty() ? nullptr : &items[*model.rbegin()]);
}
INSTANTIATE_TEST_SUITE_P(Spans, Avl, ::testing::Values(1u, 7u, 300u, 5000u));

TEST(AvlOrder, AscendingInsertsStayBalanced) {
    std::vector<Item> items(1 << 16);
    e_avl_node_t *root = nullptr;
    uint64_t count = 0;
    for (uint32_t i = 0; i < items.size(); ++i) {
        items[i].key = i;
        ASSERT_EQ(e_avl_insert(nullptr, 0, &root, &items[i], &count, Cmp), 1);
    }
    EXPECT_LE(Height(root), 17);  // a perfect tree of 2^16 - 1 nodes has 16 levels
    for (uint32_t i = 0; i < items.size(); i += 2) ASSERT_EQ(e_avl_delete(nullptr, 0, &root, &items[i], &count, Cmp), 1);
    EXPECT_EQ(count, items.size() / 2);
    Height(root);
    EXPECT_EQ(items[0].node.height, 0);  // unlinked nodes are cleared
}

class Db : public Lomari {};

qeldb_table_head_t Table(qel_type_info_t *ti, uint32_t mode, const char *name, uint64_t id) {
    qeldb_table_head_t t{};
    t.tinfo = ti;
    t.open_mode = mode;
    std::snprintf(t.name, sizeof t.name, "%s", name);
    t.table_id = id;
    return t;
}

TEST_F(Db, TocFilesTablesByTypeAndNameOrId) {
    qel_type_info_t a{}, b{};
    a.luid[0] = 1;
    b.luid[0] = 2;
    EXPECT_EQ(qeldb_database_toc_get(h, db, &err), nullptr);
    ASSERT_NE(qeldb_database_toc_open(h, db, &err), nullptr);
    qeldb_table_head_t byname = Table(&a, 0, "x/1", 0), byid = Table(&a, 1, "", 7), other = Table(&b, 1, "", 7);
    for (auto *t : {&byname, &byid, &other}) qeldb_database_toc_insert(h, db, t, 0, &err);
    EXPECT_EQ(Err(), 0u);
    qeldb_database_toc_insert(h, db, &byid, 0, &err);
    EXPECT_EQ(Err(), 17u);
    EXPECT_EQ(qeldb_database_toc_get_table_root(h, db, "x/1", 3, 0, a.luid, 16, 1, &err), &byname);
    EXPECT_EQ(qeldb_database_toc_get_table_root(h, db, "x/1", 3, 0, b.luid, 16, 1, &err), nullptr);
    EXPECT_EQ(qeldb_database_toc_get_table_root(h, db, nullptr, 0, 7, a.luid, 16, 0, &err), &byid);
    EXPECT_EQ(qeldb_database_toc_get_table_root(h, db, nullptr, 0, 7, b.luid, 16, 0, &err), &other);
    qeldb_database_toc_delete(h, db, &byid, &err);
    qeldb_database_toc_delete(h, db, &byid, &err);
    EXPECT_EQ(Err(), 2u);
    EXPECT_EQ(qelrt_db_toc_size(h), 2u);
    qelrt_db_fail("toc_find", 5);
    EXPECT_EQ(qeldb_database_toc_get_table_root(h, db, "x/1", 3, 0, a.luid, 16, 1, &err), nullptr);
    EXPECT_EQ(Err(), 5u);
}

TEST_F(Db, TenantCountersAndDeferredDestruction) {
    qeldb_table_head_t t{};
    for (uint8_t src : {1, 1, 255}) qeldb_update_tenant_counter(h, db, &t, 1, 3, src, &err);
    qeldb_update_tenant_counter(h, db, &t, 1, 4, 1, &err);
    qeldb_update_tenant_counter(h, db, &t, 0, 3, 1, &err);
    uint32_t n = 0;
    const uint8_t shadow = 255;
    EXPECT_EQ(qeldb_get_tenant_counter(h, db, &t, &n, 3, nullptr), 0u);
    EXPECT_EQ(n, 2u);
    qeldb_get_tenant_counter(h, db, &t, &n, 3, &shadow);
    EXPECT_EQ(n, 1u);
    qelrt_set_tenant_id(9);
    EXPECT_EQ(mt_get_tenant_id(), 9);
    std::thread([] { EXPECT_EQ(mt_get_tenant_id(), 0); }).join();  // per thread

    qeldb_record_head_t r{};
    r.table = &t;
    qeldb_request_record_destroy(h, db, &r, &err);
    qeldb_request_record_destroy(h, db, &r, &err);  // once only
    EXPECT_EQ(r.flags, QELDB_REC_PENDING);
    EXPECT_EQ(t.pending_destroy_count, 1u);
    EXPECT_EQ(h->db_stats->pending_destroy, 1u);
}

}  // namespace
