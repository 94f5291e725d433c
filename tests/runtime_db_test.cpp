// The database side of the runtime stand-in that the table layer relies on: the TOC, the
// per-thread tenant and destroy requests.  The AVL container and tenant counters are checked through the tables.
#include <thread>

#include "fixture.h"
#include "qel/rt_control_db.h"

namespace {

using namespace lt;

class Db : public Lomari {};

// The TOC files tables by type and name or id, refusing one filed twice and a delete of one not filed;
// the tenant is per thread; a destroy request is counted once.  (Tenant counters: the table lookup test's counts.)
TEST_F(Db, TocThreadTenantAndDestroyRequests) {
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
