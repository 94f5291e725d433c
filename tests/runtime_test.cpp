// runtime_test.cpp -- the runtime stand-in (qelrt): failing-allocation knobs, the pool, hooks, the type
// dictionary, traces, the key/range store, missing arguments, SuperFastHash.
#include <set>
#include <tuple>

#include "fixture.h"

namespace {

using namespace lt;

class Qelrt : public Lomari {};

TEST_F(Qelrt, FailKnobsFailExactlyTheCallsAsked) {
    for (int pool : {0, 1}) {
        SCOPED_TRACE(pool);
        qelrt_reset();
        qelrt_handle_use_pool(h, pool);
        std::vector<bool> live;
        std::vector<void *> got;
        qelrt_fail_alloc_at(2);  // the second only, then (from 2) the second and every later one
        for (int i = 0; i < 6; ++i) {
            if (i == 3) qelrt_fail_alloc_from(2);
            live.push_back(got.emplace_back(h->alloc_fn(h->alloc_ctx, 0, 24)) != nullptr);
        }
        qelrt_fail_alloc_from(0);
        EXPECT_EQ(live, (std::vector<bool>{true, false, true, true, false, false}));
        for (void *p : got)
            if (p) h->free_fn(h->alloc_ctx, 0, p);
        EXPECT_EQ(qelrt_live_bytes(), 0);
    }
}

// Same-size blocks are carved from slabs and reused once freed; every block counted while watched.
TEST_F(Qelrt, PoolServesSameSizeBlocksFromSlabsAndReusesFreedOnes) {
    qelrt_handle_use_pool(h, 1);
    qelrt_calls_log(1);  // watched: counted
    auto alloc = [&](U size) { return static_cast<uint8_t *>(h->alloc_fn(h->alloc_ctx, 0, size)); };
    std::vector<uint8_t *> first;
    for (int i = 0; i < 600; ++i) first.push_back(alloc(40));
    uint8_t *big = alloc(5000);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(qelrt_alloc_count(), 601u);
    for (uint8_t *p : first) std::memset(p, 0x5A, 40);  // each block is usable in full
    for (uint8_t *p : first) h->free_fn(h->alloc_ctx, 0, p);
    h->free_fn(h->alloc_ctx, 0, big);
    EXPECT_EQ(std::make_tuple(qelrt_free_count(), qelrt_live_bytes()), std::make_tuple(601u, int64_t(0)));
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "blocks go to malloc under the address sanitizer";
#else
    size_t adjacent = 0;
    for (size_t i = 1; i < first.size(); ++i) adjacent += first[i] - first[i - 1] == 40;
    EXPECT_GE(adjacent, first.size() - 2) << "blocks were not carved one after the other";
    std::set<uint8_t *> again;
    for (size_t i = 0; i < first.size(); ++i) again.insert(alloc(40));
    EXPECT_EQ(again, std::set<uint8_t *>(first.begin(), first.end())) << "freed blocks were not reused";
    for (uint8_t *p : again) h->free_fn(h->alloc_ctx, 0, p);
#endif
}

// Hooks are on only while logging, on every handle; every write is logged; a caller's hook stays.
TEST_F(Qelrt, HooksAreOnOnlyWhileLoggingAndTheWriteLogStaysComplete) {
    auto hooks = [](H x) { return std::make_pair(x->write_hook_fn, (void *)x->stats_inc_fn); };
    const auto off = std::make_pair(qel_write_hook_fn(nullptr), (void *)nullptr);
    EXPECT_EQ(hooks(h), off);
    which_vep *o = which_vep_create(h, db);
    qelrt_calls_log(1);
    ASSERT_NE(h->write_hook_fn, nullptr);
    qel_handle_t *later = qelrt_handle_new();
    EXPECT_NE(later->write_hook_fn, nullptr);
    which_vep_slot_set_value(h, db, o, 5, &err);
    ASSERT_EQ(qelrt_write_count(), 1u);
    EXPECT_EQ(qelrt_write_at(0)->len, 4u);
    which_vep_destroy(h, db, o);
    EXPECT_EQ(qelrt_call_count("stats_inc_fn"), 1u);

    qel_write_hook_fn own = [](H, void *, U, U, void *) {};
    later->write_hook_fn = own;
    qelrt_calls_log(0);
    EXPECT_EQ(hooks(h), off);
    EXPECT_EQ(hooks(later), std::make_pair(own, (void *)nullptr));
    qelrt_calls_log(1);
    EXPECT_EQ(later->write_hook_fn, own);
    qelrt_handle_free(later);
    qelrt_reset();
    EXPECT_EQ(h->write_hook_fn, nullptr);
}

// A registration that copies the one static record into the dictionary.
qel_type_info_t g_static_ti = {QEL_TINFO_MAGIC, {}, "00112233445566778899aabbccddeeff", "which_fp",
                               "lomari", "type", -1, 0, nullptr, 0};
int g_init_calls;
void RegisterCopy(H h, U, U *err) {
    ++g_init_calls;
    auto *copy = static_cast<qel_type_info_t *>(h->type_alloc_fn(h->type_alloc_ctx, QEL_NO_DATABASE, sizeof g_static_ti));
    if (!copy) {
        *err = 12;
        return;
    }
    *copy = g_static_ti;
    copy->counter_mode = 1;
    h->type_dict_insert_fn(h->type_dict_ctx, QEL_NO_DATABASE, copy->signature, copy);
}

TEST_F(Qelrt, TypeInfoPtrGetRegistersOnceOrFallsBackToTheStaticRecord) {
    g_init_calls = 0;
    EXPECT_EQ(qel_type_info_ptr_get(h, 0, &g_static_ti, nullptr), &g_static_ti);
    qelrt_fail_type_alloc_at(1);
    EXPECT_EQ(qel_type_info_ptr_get(h, 0, &g_static_ti, RegisterCopy), &g_static_ti);
    EXPECT_EQ(qelrt_handle_dict_size(h), 0u);
    qel_type_info_t *first = qel_type_info_ptr_get(h, 0, &g_static_ti, RegisterCopy);
    EXPECT_EQ(qel_type_info_ptr_get(h, 0, &g_static_ti, RegisterCopy), first);
    ASSERT_NE(first, &g_static_ti);
    EXPECT_EQ(std::make_tuple(g_init_calls, first->counter_mode, qelrt_handle_dict_size(h)), std::make_tuple(2, 1u, 1u));
    EXPECT_NE(h->type_dict_insert_fn(h->type_dict_ctx, 0, first->signature, &g_static_ti), 0)
        << "a second copy replaced the registered one";
    EXPECT_EQ(qel_type_info_ptr_get(h, 0, &g_static_ti, nullptr), first);
}

TEST_F(Qelrt, TraceCapturesFormattedPoints) {
    const char *const formats[] = {"plain", "value %u of %u", "name %s", "%s=%u"};
    const qel_trace_table_t table = {{0xAB}, 1, 2, 4, formats};
    __PDf_0(&table, 0, 7, QEL_TL_DEBUG);
    __PDf_44(&table, 1, 7, QEL_TL_NOTICE, 3, 1);
    __PDf_1(&table, 2, 9, QEL_TL_ERROR, "cc_ids");
    __PDf_14(&table, 3, 7, QEL_TL_ERROR, "slot", 4u);
    __PDf_4(&table, 4, 7, QEL_TL_ERROR, 1u);  // past the table's end
    __PDf_0(nullptr, 0, 7, QEL_TL_ERROR);
    std::vector<std::string> texts;
    for (U i = 0; i < qelrt_trace_count(); ++i) texts.push_back(qelrt_trace_at(i)->text);
    ASSERT_EQ(texts, (std::vector<std::string>{"plain", "value 3 of 1", "name cc_ids", "slot=4", "<unknown trace point>",
                                               "<unknown trace point>"}));
    const qelrt_trace_t t = *qelrt_trace_at(2);
    EXPECT_EQ(std::make_tuple(t.table_no, t.index, t.module, t.level), std::make_tuple(2, 2u, 9, QEL_TL_ERROR));
    qelrt_trace_capture(0);
    __PDf_0(&table, 0, 7, QEL_TL_DEBUG);
    EXPECT_EQ(qelrt_trace_count(), 6u);
}

TEST_F(Qelrt, QuarlRangesAndTheRefusalKnob) {
    qelrt_handle_use_quarl(h, 1);
    void *q = h->alloc_ctx;
    uint64_t words[3] = {};
    qelrt_quarl_fail_at(2);  // the second registration from now, only
    // The fourth registers words[1] again, shorter: the longer range stays.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(quarl_set_range(q, &words[i ? 1 : 0], i == 3 ? 4 : 8, 0), i == 1 ? 0 : 1) << i;
    EXPECT_EQ(std::make_tuple(quarl_in_range(q, Bytes(&words[1], 4), 4), quarl_in_range(q, &words[1], 16),
                              quarl_in_range(q, &words[2], 8), qelrt_quarl_range_count(h)),
              std::make_tuple(1, 0, 0, 2u));
}

// A missing handle, store, node or output gets its refusal, no pointer followed.
TEST_F(Qelrt, MissingArgumentsAreRefusedNotFollowed) {
    qelrt_handle_use_quarl(h, 1);
    void *q = h->alloc_ctx;
    uint64_t word = 0;
    auto cmp = [](const void *, const void *) -> uint32_t { return 0; };
    e_avl_node_t *root = nullptr, node{};
    for (e_avl_node_t **r : {static_cast<e_avl_node_t **>(nullptr), &root})
        for (void *n : {static_cast<void *>(nullptr), static_cast<void *>(&node)})
            for (e_avl_compare_fn c : {static_cast<e_avl_compare_fn>(nullptr), +cmp})
                if (!(r && n && c)) {
                    EXPECT_EQ(std::pair(e_avl_insert(nullptr, 0, r, n, nullptr, c), e_avl_delete(nullptr, 0, r, n, nullptr, c)), std::pair(0, 0));
                }
    // Not a store; no store; below every range; no key; no store.
    EXPECT_EQ((std::vector<int>{quarl_set_range(&word, &word, 8, 0), quarl_in_range(nullptr, &word, 8),
                                quarl_in_range(q, &word, 8), quarl_set_key(q, nullptr, &word), quarl_set_key(nullptr, "k", &word)}),
              std::vector<int>(5, 0));
    EXPECT_EQ(std::make_pair(quarl_get_key(q, nullptr), quarl_get_key(nullptr, "k")), std::make_pair((void *)nullptr, (void *)nullptr));

    qel_store_err(nullptr, 5);
    qel_store_epoch_err(nullptr, 5, nullptr);
    qel_clear_last_error(nullptr);
    U e = 0;
    uint8_t luid[16];
    EXPECT_EQ(std::make_tuple(qelrt_last_error(nullptr), qel_get_luid(h, 0, nullptr, luid, nullptr),
                              qel_get_luid(h, 0, nullptr, luid, &e), e),
              std::make_tuple(0u, -1, -1, 22u));
    EXPECT_EQ(qel_get_manifested_type_info(h, nullptr), nullptr);
    qel_type_info_t *ti = TypeList()[0];
    EXPECT_EQ(qel_type_info_ptr_get(nullptr, 0, ti, nullptr), ti);
    EXPECT_EQ(qel_type_info_ptr_get(h, 0, nullptr, nullptr), nullptr);
    for (int is_new : {0, 1}) qel_update_variant_info(is_new ? nullptr : h, 0, ti, ti, is_new);
    qel_update_variant_info(h, 0, nullptr, ti, 1);
    qel_update_variant_info(h, 0, ti, nullptr, 1);

    qelrt_handle_free(nullptr);
    qelrt_handle_set_mode(nullptr, QEL_CHECK_TRACK);
    qelrt_handle_use_quarl(nullptr, 1);
    qelrt_handle_use_pool(nullptr, 1);
    qelrt_handle_set_workspace(nullptr, 64);
    EXPECT_EQ(std::make_pair(qelrt_handle_dict_size(nullptr), qelrt_quarl_range_count(nullptr)), std::make_pair(0u, 0u));
    uint8_t *ws = &luid[0];
    U ws_len = 1;
    qellib_get_handle_ws(nullptr, &ws, &ws_len);
    EXPECT_EQ(std::make_pair(ws, ws_len), std::make_pair((uint8_t *)nullptr, 0u));
    qellib_get_handle_ws(h, nullptr, nullptr);
    qelrt_handle_set_workspace(h, 0);
    ws_len = 1;
    qellib_get_handle_ws(h, &ws, &ws_len);
    EXPECT_EQ(ws_len, 0u);
}

TEST(QelrtHash, SuperFastHashCoversEveryTailLength) {
    const char data[] = "\x80spi4_mapping-slot";
    EXPECT_EQ(std::make_pair(SuperFastHash(data, 0, 1234), SuperFastHash(nullptr, 5, 99)), std::make_pair(1234u, 99u));
    for (int len = 1; len <= 12; ++len) {
        SCOPED_TRACE(len);
        const uint32_t base = SuperFastHash(data, len, 7);
        EXPECT_NE(base, SuperFastHash(data, len, 8));
        std::string copy(data, sizeof data);
        copy[len] ^= 0x01;  // past the end: ignored
        EXPECT_EQ(base, SuperFastHash(copy.data(), len, 7));
        copy[len] ^= 0x01;
        copy[len - 1] ^= 0x01;  // the last byte, in each tail length 0..3
        EXPECT_NE(base, SuperFastHash(copy.data(), len, 7));
    }
}

}  // namespace
