// abi_test.cpp -- the library's dynamic symbols against the list of exported names, the families
// still pending, the names the generator stamped and the weakly referenced handlers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Non-empty lines of a file, '#' lines left out.
std::vector<std::string> Lines(const char *path) {
    std::ifstream f(path);
    EXPECT_TRUE(f.good()) << path;
    std::vector<std::string> v;
    for (std::string l; std::getline(f, l);)
        if (!l.empty() && l[0] != '#') v.push_back(l);
    return v;
}

// The library's dynamic symbols without version suffixes: defined, or undefined of nm's kind ("w": weak).
std::set<std::string> Symbols(const char *kind = nullptr) {
    std::set<std::string> s;
    FILE *p = popen(kind ? "nm -D --undefined-only '" LOMARI_SO_PATH "'" : "nm -D --defined-only '" LOMARI_SO_PATH "'", "r");
    char line[1024];
    while (p && std::fgets(line, sizeof line, p)) {
        std::istringstream in(line);
        std::vector<std::string> w{std::istream_iterator<std::string>(in), {}};
        if (w.size() >= 2 && (!kind || w[w.size() - 2] == kind)) s.insert(w.back().substr(0, w.back().find('@')));
    }
    EXPECT_TRUE(p && pclose(p) == 0);
    return s;
}
const std::set<std::string> &Exported() {
    static const std::set<std::string> s = Symbols();
    return s;
}

TEST(Abi, ExportsNothingOutsideTheList) {
    const auto listed = Lines(LOMARI_EXPORTS_PATH);
    const std::set<std::string> allowed(listed.begin(), listed.end());
    ASSERT_GT(Exported().size(), 1000u);
    for (const auto &n : Exported()) EXPECT_TRUE(allowed.count(n)) << "exported but not listed: " << n;
}

TEST(Abi, ExportsEveryListedNameOfTheFamiliesBuiltAndEveryStampedOne) {
    std::vector<std::regex> pending;
    for (const auto &l : Lines(LOMARI_PENDING_PATH)) pending.emplace_back(l, std::regex::extended);
    size_t checked = 0;
    for (const auto &n : Lines(LOMARI_EXPORTS_PATH)) {
        bool is_pending = false;
        for (const auto &re : pending) is_pending = is_pending || std::regex_search(n, re);
        checked += !is_pending;
        EXPECT_TRUE(is_pending || Exported().count(n)) << "listed but not exported: " << n;
    }
    EXPECT_GT(checked, 0u);
    const auto stamped = Lines(LOMARI_STAMPED_PATH);
    ASSERT_FALSE(stamped.empty());
    for (const auto &n : stamped) EXPECT_TRUE(Exported().count(n)) << "stamped but not exported: " << n;
}

// The application's handlers are referenced weakly, every one of them and nothing else.
TEST(Abi, ReferencesExactlyTheApplicationsHandlersWeakly) {
    const auto listed = Lines(LOMARI_WEAK_PATH);
    std::set<std::string> weak;
    for (const auto &n : Symbols("w"))
        if (n.find("lomari_") == 0) weak.insert(n);
    EXPECT_EQ(weak, std::set<std::string>(listed.begin(), listed.end()));
}

}  // namespace
