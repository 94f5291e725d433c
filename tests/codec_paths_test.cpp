// codec_paths_test.cpp -- the binary codec's walks give the same bytes and objects;
// a decode makes exactly its known runtime calls; block loops count every element.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fixture.h"

namespace {

using namespace lt;

// ---- both walks --------------------------------------------------------------------

// Every type, both modes: an encoding, decodes fresh and in place, every short room and cut.
TEST_F(Lomari, DISABLED_WriteWalkDump) {
    const char *path = std::getenv("LOMARI_WALK_DUMP");
    ASSERT_NE(path, nullptr);
    std::ofstream out(path);
    auto line = [&](const char *what, U n, U e, const uint8_t *b, U len) {
        out << what << ' ' << n << ' ' << e << ' ';
        for (U i = 0; i < len; ++i) out << std::hex << int(b[i]) << std::dec << ',';
        out << '\n';
    };
    for (bool track : {false, true})
        for (const TypeDesc &t : kTypes) {
            qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : QEL_CHECK_PLAIN);
            Ty ty{t};
            std::vector<uint8_t> buf(1u << 16), again(1u << 16);
            void *o = Filler(t.ordinal + 1).Make(h, db, t, ty.Owned() ? 5 : 0), *copy = ty.Create(h, db);
            U e = 0, len = ty.Marshal(h, db, buf.data(), o, U(buf.size()), &e);
            line(t.name, len, e, buf.data(), len);
            for (U in_place : {0u, 1u}) {
                e = 0;
                U got = ty.Unmarshal(h, db, buf.data(), copy, len, in_place, &e);
                U n = ty.Marshal(h, db, again.data(), copy, U(again.size()), &e);
                out << "hash " << ty.Hash(copy, 7) << ' ';
                line(in_place ? "in-place" : "fresh", got, e, again.data(), n);
            }
            for (U cut = 1; cut < len; ++cut) {
                std::vector<uint8_t> part(cut);  // exact size: no byte past the room
                e = 0;
                U n = ty.Marshal(h, db, part.data(), o, cut, &e);
                line("short", n, e, part.data(), n);
                e = 0;
                out << "cut " << ty.Unmarshal(h, db, buf.data(), copy, cut, 0, &e) << ' ' << e << '\n';
            }
            ty.Destroy(h, db, copy);
            ty.Destroy(h, db, o);
        }
}

// The dump, run in a child of this binary with each walk.
TEST(CodecWalks, CheckedAndUncheckedGiveTheSameBytesAndObjects) {
    std::string dump[2];
    for (int checked = 0; checked < 2; ++checked) {
        const char *walk = checked ? "checked" : "fast";
        const std::string path = ::testing::TempDir() + "lomari_walk_" + std::to_string(getpid()) + "_" + walk;
        const std::string cmd = "LOMARI_CODEC_WALK=" + std::string(walk) + " LOMARI_WALK_DUMP=" + path + " " +
                                std::filesystem::read_symlink("/proc/self/exe").string() +
                                " --gtest_filter=Lomari.DISABLED_WriteWalkDump --gtest_also_run_disabled_tests >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << walk;
        std::stringstream ss;
        ss << std::ifstream(path).rdbuf();
        std::remove(path.c_str());
        dump[checked] = ss.str();
    }
    EXPECT_GT(dump[0].size(), 100000u);
    EXPECT_TRUE(dump[0] == dump[1]);  // (too long to print)
}

// ---- the runtime calls of a decode ------------------------------------------------------

// The runtime calls of decoding two-element owners on a tracking handle, in order.
struct DecodeLog {
    const TypeDesc *type;
    std::vector<std::string> calls;
    U writes;
    const char *name;
};

class DecodeCalls : public Lomari, public ::testing::WithParamInterface<DecodeLog> {};

TEST_P(DecodeCalls, AreExactlyTheKnownOnes) {
    const DecodeLog &want = GetParam();
    Track();
    qelrt_handle_use_quarl(h, 1);
    h->containment_tracking = 1;
    Ty ty{*want.type};
    void *o = Filler(3).Make(h, db, ty.t, 2), *copy = ty.Create(h, db);
    std::vector<uint8_t> buf(4096);
    U len = ty.Marshal(h, db, buf.data(), o, U(buf.size()), &err);
    qelrt_calls_clear();
    qelrt_calls_log(1);
    const U w0 = qelrt_write_count();
    EXPECT_EQ(ty.Unmarshal(h, db, buf.data(), copy, len, 0, &err), len);
    const U writes = qelrt_write_count() - w0;
    qelrt_calls_log(0);
    std::vector<std::string> calls;
    for (U i = 0; i < qelrt_call_total(); ++i) calls.emplace_back(qelrt_call_at(i)->fn);
    EXPECT_STREQ(ty.t.name, want.name);
    EXPECT_EQ(calls, want.calls);
    EXPECT_EQ(std::make_pair(writes, Err()), std::make_pair(want.writes, 0u));
    ty.Destroy(h, db, copy);
    ty.Destroy(h, db, o);
}

// A decode's start, then the calls made for each of its two elements.
std::vector<std::string> Log(std::vector<std::string> start, const std::vector<std::string> &each) {
    for (int k = 0; k < 2; ++k) start.insert(start.end(), each.begin(), each.end());
    return start;
}

// List: variants asked once; per element: create, containment, four link ranges.
const std::vector<std::string> kListOwnerCalls =
    Log({"qel_clear_last_error", "qel_domain_lookup_variant", "qel_domain_lookup_variant"},
        {"qel_get_manifested_type_info_ptr_mem", "qellib_type_stats_create_object", "stats_inc_fn",
         "qeldb_record_containment2", "quarl_set_range", "quarl_set_range", "quarl_set_range", "quarl_set_range",
         "qeldb_record_containment2"});
// Array: one block; per element: its state place registered, then created.
const std::vector<std::string> kArrayOwnerCalls =
    Log({"qel_clear_last_error", "qel_clear_last_error", "qel_domain_lookup_variant"},
        {"qellib_update_sttr_offset", "qel_get_manifested_type_info_ptr_mem", "qellib_type_stats_create_object",
         "stats_inc_fn"});

INSTANTIATE_TEST_SUITE_P(Decode, DecodeCalls,
                         ::testing::Values(DecodeLog{&kTypes[1], kListOwnerCalls, 26, "vep_tarnok_body"},
                                           DecodeLog{&kTypes[12], kArrayOwnerCalls, 13, "cc_ids"}),
                         [](const auto &i) { return std::string(i.param.name); });

// Unobserved in-place decodes still count one destroy and one create per element.
TEST_F(Lomari, InPlaceDecodesOfEveryArrayOwnerCountOneDestroyAndOneCreatePerElement) {
    for (const TypeDesc *t : TypesWhere(IsArrayOwner)) {
        SCOPED_TRACE(t->name);
        Ty ty{*t};
        void *o = Filler(5).Make(h, db, *t, 5), *copy = ty.Create(h, db);
        std::vector<uint8_t> buf(4096), again(4096);
        U len = ty.Marshal(h, db, buf.data(), o, U(buf.size()), &err);
        ASSERT_EQ(ty.Unmarshal(h, db, buf.data(), copy, len, 0, &err), len);
        const qel_variant_record_t &c = StaticCounts(*ty.Array()->elem);
        const uint64_t made = c.created, gone = c.destroyed;
        ASSERT_EQ(ty.Unmarshal(h, db, buf.data(), copy, len, 1, &err), len);
        EXPECT_EQ(std::make_pair(c.created - made, c.destroyed - gone), std::make_pair(uint64_t(5), uint64_t(5)));
        ASSERT_EQ(ty.Marshal(h, db, again.data(), copy, U(again.size()), &err), len);
        EXPECT_EQ(std::memcmp(buf.data(), again.data(), len), 0);
        EXPECT_EQ(Err(), 0u);
        ty.Destroy(h, db, copy);
        ty.Destroy(h, db, o);
    }
}

}  // namespace
