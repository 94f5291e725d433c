// codec_paths_test.cpp -- the binary codec's checked and unchecked walks give the same bytes and objects.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fixture.h"

namespace {

using namespace lt;

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
            h->containment_tracking = track;  // block growth reports each moved element
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

}  // namespace
