// The library's exported interface: its dynamic symbols against the
// project's list of exported names, the families still pending, and the
// names the generator stamped.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
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

// Symbols the built library references weakly ("w" in nm's list).
std::set<std::string> WeakReferences() {
    std::set<std::string> s;
    FILE *p = popen("nm -D --undefined-only '" LOMARI_SO_PATH "'", "r");
    char kind[8], name[512];
    while (p && std::fscanf(p, "%7s %511s", kind, name) == 2)
        if (std::string(kind) == "w") s.insert(name);
    EXPECT_TRUE(p && pclose(p) == 0);
    return s;
}

// Defined dynamic symbols of the built library, version suffixes dropped.
const std::set<std::string> &Exported() {
    static const std::set<std::string> s = [] {
        std::set<std::string> s;
        FILE *p = popen("nm -D --defined-only '" LOMARI_SO_PATH "'", "r");
        char line[1024];
        while (p && std::fgets(line, sizeof line, p)) {
            std::string l(line);
            l.erase(l.find_last_not_of("\n ") + 1);
            std::string name = l.substr(l.find_last_of(' ') + 1);
            if (!name.empty()) s.insert(name.substr(0, name.find('@')));
        }
        EXPECT_TRUE(p && pclose(p) == 0);
        return s;
    }();
    return s;
}

TEST(Abi, ExportsNothingOutsideTheList) {
    const auto listed = Lines(LOMARI_EXPORTS_PATH);
    const std::set<std::string> allowed(listed.begin(), listed.end());
    ASSERT_GT(Exported().size(), 1000u);
    for (const auto &n : Exported()) EXPECT_TRUE(allowed.count(n)) << "exported but not listed: " << n;
}

TEST(Abi, ExportsEveryListedNameOfTheFamiliesBuilt) {
    std::vector<std::regex> pending;
    for (const auto &l : Lines(LOMARI_PENDING_PATH)) pending.emplace_back(l, std::regex::extended);
    size_t checked = 0;
    for (const auto &n : Lines(LOMARI_EXPORTS_PATH)) {
        bool is_pending = false;
        for (const auto &re : pending) is_pending = is_pending || std::regex_search(n, re);
        if (is_pending) continue;
        ++checked;
        EXPECT_TRUE(Exported().count(n)) << "listed but not exported: " << n;
    }
    EXPECT_GT(checked, 0u);
}

TEST(Abi, EveryStampedEntryPointIsExported) {
    const auto stamped = Lines(LOMARI_STAMPED_PATH);
    ASSERT_FALSE(stamped.empty());
    for (const auto &n : stamped) EXPECT_TRUE(Exported().count(n)) << "stamped but not exported: " << n;
}

// The application's handlers are referenced weakly, every one of them and
// nothing else weak.
TEST(Abi, ReferencesExactlyTheApplicationsHandlersWeakly) {
    const auto listed = Lines(LOMARI_WEAK_PATH);
    std::set<std::string> weak;
    for (const auto &n : WeakReferences())
        if (n.find("lomari_") == 0) weak.insert(n);
    EXPECT_EQ(weak, std::set<std::string>(listed.begin(), listed.end()));
}

}  // namespace
