// Tests of the runtime stand-in (qelrt): codecs, allocators and their
// knobs, the type dictionary, trace capture, the key/range store, hashes,
// statistics counters and the call log.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "qel/rt_control.h"

namespace {

class QelrtTest : public ::testing::Test {
protected:
    void SetUp() override {
        qelrt_reset();
        h = qelrt_handle_new();
        ASSERT_NE(h, nullptr);
    }
    void TearDown() override {
        qelrt_handle_free(h);
        qelrt_reset();
    }
    qel_handle_t *h = nullptr;
};

// ---- codecs ---------------------------------------------------------------

struct Codec {
    const char *name;
    std::vector<uint8_t> wire; // encoding of the sample value
    std::function<uint32_t(qel_handle_t *, uint8_t *, uint32_t, uint32_t *)> enc;
    // Decodes into scratch and says whether the sample came back.
    std::function<uint32_t(qel_handle_t *, const uint8_t *, uint32_t, uint32_t *, bool *)> dec;
};

// A codec case whose sample is one value of type T.
template <class T, class Enc, class Dec>
Codec one(const char *name, std::vector<uint8_t> wire, T sample, Enc enc, Dec dec) {
    return {name, std::move(wire),
            [=](qel_handle_t *h, uint8_t *b, uint32_t r, uint32_t *e) { return enc(h, b, sample, r, e); },
            [=](qel_handle_t *h, const uint8_t *b, uint32_t r, uint32_t *e, bool *ok) {
                T v{};
                uint32_t n = dec(h, b, &v, r, e);
                *ok = v == sample;
                return n;
            }};
}

std::vector<Codec> codecs() {
    using H = qel_handle_t *;
    using B = const uint8_t *;
    using E = uint32_t *;
    return {
        one<u_int8>("u_int8", {0xA7}, 0xA7,
            [](H h, uint8_t *b, u_int8 v, uint32_t r, E e) { return u_int8_marshal(h, 0, b, &v, r, e); },
            [](H h, B b, u_int8 *v, uint32_t r, E e) { return u_int8_unmarshal(h, 0, b, v, r, 0, e); }),
        one<u_int16>("u_int16", {0x12, 0x34}, 0x1234,
            [](H h, uint8_t *b, u_int16 v, uint32_t r, E e) { return u_int16_marshal(h, 0, b, &v, r, e); },
            [](H h, B b, u_int16 *v, uint32_t r, E e) { return u_int16_unmarshal(h, 0, b, v, r, 1, e); }),
        one<u_int32>("u_int32", {0xDE, 0xAD, 0xBE, 0xEF}, 0xDEADBEEF,
            [](H h, uint8_t *b, u_int32 v, uint32_t r, E e) { return u_int32_marshal(h, 0, b, &v, r, e); },
            [](H h, B b, u_int32 *v, uint32_t r, E e) { return u_int32_unmarshal(h, 0, b, v, r, 0, e); }),
        one<char>("char", {'Z'}, 'Z',
            [](H h, uint8_t *b, char v, uint32_t r, E e) { return char_marshal(h, 0, b, &v, r, e); },
            [](H h, B b, char *v, uint32_t r, E e) { return char_unmarshal(h, 0, b, v, r, 0, e); }),
        one<uint32_t>("list_len", {0x01, 0x02, 0x03, 0x04}, 0x01020304,
            [](H h, uint8_t *b, uint32_t v, uint32_t r, E e) { return _qel_list_len_marshal(h, b, v, r, e); },
            [](H h, B b, uint32_t *v, uint32_t r, E e) { return _qel_list_len_unmarshal(h, b, v, r, e); }),
        one<int8_t>("instance_variant", {0xFE}, -2,
            [](H h, uint8_t *b, int8_t v, uint32_t r, E e) { return _qel_instance_variant_marshal(h, b, v, r, e); },
            [](H h, B b, int8_t *v, uint32_t r, E e) { return _qel_instance_variant_unmarshal(h, b, v, r, e); }),
        one<uint8_t>("obj_flag", {0x28}, 0x28,
            [](H h, uint8_t *b, uint8_t v, uint32_t r, E e) { return _qel_instance_obj_flag_marshal(h, b, v, r, e); },
            [](H h, B b, uint8_t *v, uint32_t r, E e) { return _qel_instance_obj_flag_unmarshal(h, b, v, r, e); }),
        one<uint32_t>("variant_jump", {0x00, 0x00, 0x01, 0x05}, 0x105,
            [](H h, uint8_t *b, uint32_t v, uint32_t r, E e) { return _qel_variant_jump_marshal(h, b, v, r, e); },
            [](H h, B b, uint32_t *v, uint32_t r, E e) { return _qel_variant_jump_unmarshal(h, b, v, r, e); }),
        {"ra_data", {1, 2, 3, 4, 5, 6, 7, 8, 0x99},
         [](H h, uint8_t *b, uint32_t r, E e) {
             return _qel_instance_ra_data_marshal(h, b, 0x0102030405060708ull, 0x99, r, e);
         },
         [](H h, B b, uint32_t r, E e, bool *ok) {
             uint64_t v = 0;
             uint8_t byte = 0;
             uint32_t n = _qel_instance_ra_data_unmarshal(h, b, &v, &byte, r, e);
             *ok = v == 0x0102030405060708ull && byte == 0x99;
             return n;
         }},
    };
}

class QelrtCodec : public QelrtTest, public ::testing::WithParamInterface<Codec> {};

TEST_P(QelrtCodec, RoundTripsBigEndianAtAnyAlignment) {
    const Codec &c = GetParam();
    const uint32_t width = static_cast<uint32_t>(c.wire.size());
    for (uint32_t off = 0; off < 4; ++off) {
        uint8_t buf[32];
        std::memset(buf, 0xCC, sizeof buf);
        uint32_t err = 0;
        ASSERT_EQ(c.enc(h, buf + off, width + 3, &err), width);
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(std::vector<uint8_t>(buf + off, buf + off + width), c.wire);
        EXPECT_EQ(buf[off + width], 0xCC) << "wrote past its width";
        bool ok = false;
        EXPECT_EQ(c.dec(h, buf + off, width, &err, &ok), width);
        EXPECT_TRUE(ok);
        EXPECT_EQ(err, 0u);
    }
}

TEST_P(QelrtCodec, ShortRoomTouchesNothingAndReports90) {
    const Codec &c = GetParam();
    const uint32_t width = static_cast<uint32_t>(c.wire.size());
    for (uint32_t room = 0; room < width; ++room) {
        for (qel_handle_t *hh : {h, static_cast<qel_handle_t *>(nullptr)}) {
            h->err = 0;
            uint8_t buf[16];
            std::memset(buf, 0xCC, sizeof buf);
            uint32_t err = 0;
            EXPECT_EQ(c.enc(hh, buf, room, &err), 0u);
            EXPECT_EQ(err, 90u);
            EXPECT_EQ(buf[0], 0xCC);
            err = 0;
            bool ok = true;
            EXPECT_EQ(c.dec(hh, c.wire.data(), room, &err, &ok), 0u);
            EXPECT_FALSE(ok) << "decoded with too little room";
            EXPECT_EQ(err, 90u);
            EXPECT_EQ(h->err, hh ? 90u : 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, QelrtCodec, ::testing::ValuesIn(codecs()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(QelrtCodecLen, WidthsMatchWire) {
    EXPECT_EQ(u_int8_len(), 1u);
    EXPECT_EQ(u_int16_len(), 2u);
    EXPECT_EQ(u_int32_len(), 4u);
    EXPECT_EQ(char_len(), 1u);
}

// ---- scalar objects ---------------------------------------------------------

TEST_F(QelrtTest, ScalarSettersAnnounceThenStoreLowBits) {
    qelrt_calls_log(1);
    struct { u_int8 a; u_int16 b; u_int32 c; } f{};
    uint32_t err = 0;
    u_int8_set_value(h, 5, u_int8_get(h, 5, &f.a), 0x1FF, &err);
    u_int16_set_value(h, 5, u_int16_get(h, 5, &f.b), 0x12345, &err);
    const u_int32 src = 77;
    u_int32_set(h, 5, u_int32_get(h, 5, &f.c), &src, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(f.a, 0xFF);
    EXPECT_EQ(f.b, 0x2345);
    EXPECT_EQ(u_int32_get_value(h, 5, &f.c, &err), 77u);
    ASSERT_EQ(qelrt_write_count(), 3u);
    EXPECT_EQ(qelrt_write_at(1)->addr, &f.b);
    EXPECT_EQ(qelrt_write_at(1)->len, 2u);
    EXPECT_EQ(qelrt_write_at(2)->dbid, 5u);

    u_int16_set_value(h, 5, nullptr, 1, &err);
    EXPECT_EQ(err, 2u);
    err = 0;
    EXPECT_EQ(u_int8_get_value(h, 5, nullptr, &err), 0u);
    EXPECT_EQ(err, 2u);
    EXPECT_EQ(qelrt_write_count(), 3u) << "a refused write was announced";
}

// ---- allocators -------------------------------------------------------------

class QelrtAlloc : public QelrtTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        QelrtTest::SetUp();
        qelrt_handle_use_pool(h, GetParam());
        qelrt_handle_use_quarl(h, 1); // allocators take the database as context
    }
    void *alloc(uint32_t n) { return h->alloc_fn(h->alloc_ctx, 0, n); }
    void release(void *p) { h->free_fn(h->alloc_ctx, 0, p); }
};

TEST_P(QelrtAlloc, FailAtFailsExactlyTheNthCall) {
    qelrt_fail_alloc_at(2);
    void *a = alloc(24), *b = alloc(24), *c = alloc(4000);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    release(a);
    release(c);
    EXPECT_EQ(qelrt_alloc_count(), 2u);
    EXPECT_EQ(qelrt_free_count(), 2u);
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_P(QelrtAlloc, FailFromFailsEveryLaterCall) {
    qelrt_fail_alloc_from(3);
    std::vector<void *> got;
    for (int i = 0; i < 6; ++i)
        got.push_back(alloc(16));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(got[i] != nullptr, i < 2) << "call " << i + 1;
    qelrt_fail_alloc_from(0);
    void *p = alloc(16);
    EXPECT_NE(p, nullptr);
    release(p);
    for (void *q : got)
        release(q);
}

TEST_P(QelrtAlloc, BlocksAreUsableAndSurviveAnAllocatorSwitch) {
    std::vector<uint8_t *> blocks;
    for (uint32_t n : {0u, 1u, 8u, 9u, 100u, 1024u, 1025u, 70000u}) {
        auto *p = static_cast<uint8_t *>(alloc(n));
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
        std::memset(p, 0x5A, n);
        blocks.push_back(p);
    }
    qelrt_handle_use_pool(h, !GetParam());
    for (uint8_t *p : blocks)
        release(p);
}

INSTANTIATE_TEST_SUITE_P(DefaultAndPool, QelrtAlloc, ::testing::Bool());

TEST_F(QelrtTest, PoolBlocksAreReusedAcrossThreads) {
    qelrt_handle_use_pool(h, 1);
    std::vector<void *> from_worker(1000);
    std::thread([&] {
        for (auto &p : from_worker)
            p = h->alloc_fn(nullptr, 0, 48);
    }).join();
    for (void *p : from_worker) // freed on another thread than the one that allocated
        h->free_fn(nullptr, 0, p);
    void *again = h->alloc_fn(nullptr, 0, 48);
    EXPECT_NE(again, nullptr);
    h->free_fn(nullptr, 0, again);
}

// ---- type dictionary --------------------------------------------------------

qel_type_info_t make_ti(const char *sig, const char *name) {
    qel_type_info_t ti{};
    ti.magic = QEL_TINFO_MAGIC;
    std::snprintf(ti.signature, sizeof ti.signature, "%s", sig);
    std::snprintf(ti.name, sizeof ti.name, "%s", name);
    for (int i = 0; i < 16; ++i)
        ti.luid[i] = static_cast<uint8_t>(i * 3);
    return ti;
}

qel_type_info_t g_static_ti = make_ti("00112233445566778899aabbccddeeff", "which_fp");
int g_init_calls;

void register_copy(qel_handle_t *h, uint32_t, uint32_t *err) {
    ++g_init_calls;
    auto *copy = static_cast<qel_type_info_t *>(
        h->type_alloc_fn(h->type_alloc_ctx, QEL_NO_DATABASE, sizeof(qel_type_info_t)));
    if (!copy) {
        *err = 12;
        return;
    }
    *copy = g_static_ti;
    copy->counter_mode = 1;
    h->type_dict_insert_fn(h->type_dict_ctx, QEL_NO_DATABASE, copy->signature, copy);
}

TEST_F(QelrtTest, TypeInfoPtrGetRunsRegistrationOnce) {
    g_init_calls = 0;
    qel_type_info_t *first = qel_type_info_ptr_get(h, 0, &g_static_ti, register_copy);
    qel_type_info_t *second = qel_type_info_ptr_get(h, 0, &g_static_ti, register_copy);
    EXPECT_EQ(g_init_calls, 1);
    ASSERT_NE(first, &g_static_ti);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->counter_mode, 1u);
    EXPECT_EQ(qelrt_handle_dict_size(h), 1u);
    EXPECT_EQ(qelrt_type_alloc_count(), 1u);
    EXPECT_NE(h->type_dict_insert_fn(h->type_dict_ctx, 0, first->signature, &g_static_ti), 0)
        << "a second copy replaced the registered one";
    EXPECT_EQ(qel_type_info_ptr_get(h, 0, &g_static_ti, nullptr), first);
}

TEST_F(QelrtTest, TypeInfoPtrGetFallsBackToStaticRecord) {
    g_init_calls = 0;
    EXPECT_EQ(qel_type_info_ptr_get(h, 0, &g_static_ti, nullptr), &g_static_ti);
    qelrt_fail_type_alloc_at(1);
    EXPECT_EQ(qel_type_info_ptr_get(h, 0, &g_static_ti, register_copy), &g_static_ti);
    EXPECT_EQ(g_init_calls, 1);
    EXPECT_EQ(qelrt_handle_dict_size(h), 0u);
}

TEST_F(QelrtTest, ObjectHeaderQueries) {
    struct { qel_type_info_t *ti; int8_t variant; uint8_t second, flags; } obj{&g_static_ti, -3, 0, 0x28};
    EXPECT_EQ(qel_get_manifested_type_info(h, &obj), &g_static_ti);
    EXPECT_EQ(qel_get_manifested_type_info_ptr_mem(h, &obj), reinterpret_cast<void **>(&obj.ti));
    EXPECT_EQ(qel_get_instance_variant(h, &obj, 1, 0), -3);
    EXPECT_EQ(qel_get_instance_obj_flag(h, &obj), 0x28);
    qelrt_force_instance_variant(1, 4);
    EXPECT_EQ(qel_get_instance_variant(h, &obj, 1, 0), 4);
    uint8_t luid[16];
    uint32_t err = 0;
    EXPECT_EQ(qel_get_luid(h, 0, &obj, luid, &err), 0);
    EXPECT_EQ(std::memcmp(luid, g_static_ti.luid, 16), 0);
    EXPECT_EQ(qel_get_luid(h, 0, nullptr, luid, &err), -1);
    EXPECT_EQ(err, 22u);
}

// ---- errors and domains -----------------------------------------------------

TEST_F(QelrtTest, ErrorStores) {
    qel_store_err(h, 12);
    EXPECT_EQ(h->err, 12u);
    EXPECT_EQ(qelrt_last_error(h), 12u);
    qel_clear_last_error(h);
    EXPECT_EQ(qelrt_last_error(h), 0u);
    EXPECT_EQ(h->err, 12u) << "clearing the last error must leave err alone";
    uint32_t err = 0;
    qel_store_epoch_err(h, 43, &err);
    EXPECT_EQ(err, 43u);
    EXPECT_EQ(h->err, 43u);
}

TEST_F(QelrtTest, DomainKnobs) {
    qel_type_info_t msg = make_ti("ff", "vep_tarnok_ready");
    uint32_t err = 0;
    EXPECT_EQ(qel_domain_lookup_message_ok(h, &h->domain, &msg, &err), 1);
    qelrt_domain_refuse("vep_tarnok_ready");
    EXPECT_EQ(qel_domain_lookup_message_ok(h, &h->domain, &msg, &err), 0);
    EXPECT_EQ(qel_domain_lookup_table_ok(h, &h->domain, &msg, &err), 0);
    EXPECT_EQ(qel_domain_lookup_message_ok(h, &h->domain, &g_static_ti, &err), 1);
    EXPECT_EQ(err, 0u);
    qelrt_set_domain_variant(2);
    qelrt_set_domain_variant_error(43);
    EXPECT_EQ(qel_domain_lookup_variant(h, &h->domain, &msg, &err), 2);
    EXPECT_EQ(err, 43u);
    qelrt_reset();
    EXPECT_EQ(qel_domain_lookup_message_ok(h, &h->domain, &msg, &err), 1);
}

// ---- trace ------------------------------------------------------------------

const char *const kFormats[] = {"plain", "value %u of %u", "name %s", "%s=%u"};
const qel_trace_table_t kTable = {{0xAB}, 1, 2, 4, kFormats};

TEST_F(QelrtTest, TraceCapturesFormattedPoints) {
    __PDf_0(&kTable, 0, 7, QEL_TL_DEBUG);
    __PDf_44(&kTable, 1, 7, QEL_TL_NOTICE, 3, 1);
    __PDf_1(&kTable, 2, 9, QEL_TL_ERROR, "cc_ids");
    __PDf_14(&kTable, 3, 7, QEL_TL_ERROR, "slot", 4u);
    __PDf_4(&kTable, 4, 7, QEL_TL_ERROR, 1u);
    __PDf_0(nullptr, 0, 7, QEL_TL_ERROR);
    ASSERT_EQ(qelrt_trace_count(), 6u);
    const char *want[] = {"plain", "value 3 of 1", "name cc_ids", "slot=4",
                          "<unknown trace point>", "<unknown trace point>"};
    for (uint32_t i = 0; i < 6; ++i)
        EXPECT_STREQ(qelrt_trace_at(i)->text, want[i]) << i;
    const qelrt_trace_t *t = qelrt_trace_at(2);
    EXPECT_EQ(t->table_no, 2);
    EXPECT_EQ(t->index, 2u);
    EXPECT_EQ(t->module, 9);
    EXPECT_EQ(t->level, QEL_TL_ERROR);
    EXPECT_EQ(qelrt_trace_find("unknown"), 2u);
    qelrt_trace_capture(0);
    __PDf_0(&kTable, 0, 7, QEL_TL_DEBUG);
    EXPECT_EQ(qelrt_trace_count(), 6u);
}

TEST_F(QelrtTest, TraceKeepsRecentPointsAndCountsAll) {
    for (uint32_t i = 0; i < 5000; ++i)
        __PDf_4(&kTable, 0, 7, QEL_TL_DEBUG, i);
    EXPECT_EQ(qelrt_trace_count(), 5000u);
    EXPECT_EQ(qelrt_trace_at(0), nullptr);
    EXPECT_EQ(qelrt_trace_at(4999)->index, 0u);
    EXPECT_EQ(qelrt_trace_at(5000), nullptr);
}

TEST_F(QelrtTest, ModuleIdsAreStableAndDistinct) {
    uint16_t a = 0, b = 0, a2 = 0;
    EXPECT_EQ(pendra_module_init_fn("qel_lomari", &a, nullptr), 0);
    pendra_module_init_fn("other_module", &b, nullptr);
    pendra_module_init_fn("qel_lomari", &a2, nullptr);
    EXPECT_NE(a, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, a2);
}

TEST(QelrtDeathTest, FatalPointTextReachesStderr) {
    qelrt_trace_capture(0);
    EXPECT_DEATH({ __PDf_44(&kTable, 1, 7, QEL_TL_FATAL, 5, 1); abort(); }, "value 5 of 1");
    qelrt_trace_capture(1);
}

// ---- key/range store --------------------------------------------------------

TEST_F(QelrtTest, QuarlRangesKeysAndFailKnob) {
    qelrt_handle_use_quarl(h, 1);
    void *db = h->alloc_ctx;
    ASSERT_NE(db, nullptr);
    uint64_t words[4] = {};
    EXPECT_EQ(quarl_set_range(db, &words[1], 8, 0), 1);
    EXPECT_EQ(quarl_in_range(db, &words[1], 8), 1);
    EXPECT_EQ(quarl_in_range(db, reinterpret_cast<uint8_t *>(&words[1]) + 4, 4), 1);
    EXPECT_EQ(quarl_in_range(db, &words[1], 16), 0);
    EXPECT_EQ(quarl_in_range(db, &words[0], 8), 0);
    qelrt_quarl_fail_at(2);
    EXPECT_EQ(quarl_set_range(db, &words[2], 8, 0), 1);
    EXPECT_EQ(quarl_set_range(db, &words[3], 8, 0), 0);
    EXPECT_EQ(quarl_set_range(db, &words[3], 8, 0), 1);
    EXPECT_EQ(qelrt_quarl_range_count(h), 3u);
    EXPECT_EQ(quarl_get_key(db, "root"), nullptr);
    EXPECT_EQ(quarl_set_key(db, "root", &words[0]), 0);
    EXPECT_EQ(quarl_get_key(db, "root"), &words[0]);
    qelrt_handle_use_quarl(h, 0);
    EXPECT_EQ(h->alloc_ctx, nullptr);
}

// ---- hashes -----------------------------------------------------------------

TEST(QelrtHash, SuperFastHashProperties) {
    const char data[] = "\x80spi4_mapping-slot";
    EXPECT_EQ(SuperFastHash(data, 0, 1234), 1234u);
    EXPECT_EQ(SuperFastHash(nullptr, 5, 99), 99u);
    for (int len = 1; len <= 12; ++len) {
        SCOPED_TRACE(len);
        uint32_t base = SuperFastHash(data, len, 7);
        EXPECT_EQ(base, SuperFastHash(data, len, 7));
        EXPECT_NE(base, SuperFastHash(data, len, 8));
        std::string copy(data, sizeof data);
        copy[len] ^= 0x01; // past the end: ignored
        EXPECT_EQ(base, SuperFastHash(copy.data(), len, 7));
        copy = std::string(data, sizeof data);
        copy[len - 1] ^= 0x01; // last byte, covering each tail length 0..3
        EXPECT_NE(base, SuperFastHash(copy.data(), len, 7));
    }
}

TEST(QelrtHash, ScalarHashesMixValueSeedAndWidth) {
    const u_int8 a = 5;
    const u_int16 b = 5;
    const u_int32 c = 5, d = 6;
    EXPECT_EQ(u_int32_hash(&c, 1), u_int32_hash(&c, 1));
    EXPECT_NE(u_int32_hash(&c, 1), u_int32_hash(&c, 2));
    EXPECT_NE(u_int32_hash(&c, 1), u_int32_hash(&d, 1));
    EXPECT_NE(u_int8_hash(&a, 1), u_int16_hash(&b, 1));
    EXPECT_NE(u_int16_hash(&b, 1), u_int32_hash(&c, 1));
}

// ---- statistics and logging -------------------------------------------------

TEST_F(QelrtTest, StatsCountersAreAtomicForStaticRecords) {
    qel_variant_record_t vr{};
    qel_type_info_t ti = make_ti("aa", "cc_pair"); // counter mode 0: shared record
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            qel_handle_t *mine = qelrt_handle_new();
            for (int i = 0; i < 20000; ++i) {
                qellib_type_stats_create_object(mine, 0, &ti, &vr, nullptr);
                qellib_type_stats_destroy_object(mine, 0, &ti, &vr, nullptr);
            }
            qelrt_handle_free(mine);
        });
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(vr.created, 160000u);
    EXPECT_EQ(vr.destroyed, 160000u);
}

TEST_F(QelrtTest, CallLogRecordsEntryPointsAndArguments) {
    qel_variant_record_t vr{};
    qellib_type_stats_create_object(h, 3, &g_static_ti, &vr, nullptr);
    EXPECT_EQ(qelrt_call_total(), 0u) << "logged while logging is off";
    qelrt_calls_log(1);
    qellib_type_stats_create_object(h, 3, &g_static_ti, &vr, nullptr);
    qel_store_err(h, 90);
    ASSERT_EQ(qelrt_call_total(), 3u);
    EXPECT_STREQ(qelrt_call_at(0)->fn, "qellib_type_stats_create_object");
    EXPECT_EQ(qelrt_call_at(0)->a[1], 3u);
    EXPECT_STREQ(qelrt_call_at(1)->fn, "stats_inc_fn");
    EXPECT_EQ(qelrt_call_at(1)->a[1], reinterpret_cast<uint64_t>(&vr.created));
    EXPECT_EQ(qelrt_call_count("qel_store_err"), 1u);
    EXPECT_EQ(vr.created, 2u);
    qelrt_reset();
    qel_store_err(h, 90);
    EXPECT_EQ(qelrt_call_total(), 0u);
}

} // namespace
