// Loading and unloading the library links its module descriptor into the
// runtime's module list and takes it out again.  This binary links the
// runtime but not the library, so the library's load is the test's own.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "qel/runtime.h"

namespace {

std::vector<qel_module_desc_t *> Modules() {
    std::vector<qel_module_desc_t *> v;
    for (qel_module_desc_t *d = qel_module_tot_root.first; d; d = d->next) v.push_back(d);
    return v;
}

bool Loaded() {
    void *p = dlopen(LOMARI_SO_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (p) dlclose(p);
    return p != nullptr;
}

TEST(ModuleLink, LoadLinksTheDescriptorUnloadUnlinksIt) {
    ASSERT_FALSE(Loaded());
    const uint32_t count0 = qel_module_tot_root.count;
    qel_module_desc_t **last0 = qel_module_tot_root.last_link;
    const auto list0 = Modules();

    void *lib = dlopen(LOMARI_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_EQ(qel_module_tot_root.count, count0 + 1);
    const auto list1 = Modules();
    ASSERT_EQ(list1.size(), list0.size() + 1);
    qel_module_desc_t *d = list1.back();
    EXPECT_EQ(*last0, d) << "appended at the old last link";
    EXPECT_EQ(qel_module_tot_root.last_link, &d->next);
    EXPECT_EQ(d->prev_link, last0);
    EXPECT_EQ(d->next, nullptr);
    EXPECT_STREQ(d->name, "lomari");
    size_t n = 0;
    while (d->types[n]) ++n;
    EXPECT_EQ(n, 42u);
    EXPECT_STREQ(d->types[0]->name, "spi4_mapping");
    EXPECT_STREQ(d->types[41]->kind, "message");

    ASSERT_EQ(dlclose(lib), 0);
    EXPECT_FALSE(Loaded()) << "the library stayed mapped";
    EXPECT_EQ(qel_module_tot_root.count, count0);
    EXPECT_EQ(qel_module_tot_root.last_link, last0);
    EXPECT_EQ(*last0, nullptr);
    EXPECT_EQ(Modules(), list0);
}

TEST(ModuleLink, EachLoadLinksOnceAndLeavesOthersInPlace) {
    // A stand-in module already in the list stays linked and in front.
    static qel_module_desc_t other = {"other", nullptr, nullptr, nullptr};
    qel_module_list_t &l = qel_module_tot_root;
    other.prev_link = l.last_link;
    *l.last_link = &other;
    l.last_link = &other.next;
    l.count += 1;
    const uint32_t count0 = l.count;

    for (int round = 0; round < 2; ++round) {
        void *lib = dlopen(LOMARI_SO_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        void *again = dlopen(LOMARI_SO_PATH, RTLD_NOW | RTLD_LOCAL);
        EXPECT_EQ(again, lib);
        EXPECT_EQ(l.count, count0 + 1) << "round " << round;
        EXPECT_EQ(other.next != nullptr && std::strcmp(other.next->name, "lomari") == 0, true);
        dlclose(again);
        dlclose(lib);
        EXPECT_FALSE(Loaded());
        EXPECT_EQ(l.count, count0);
        EXPECT_EQ(other.next, nullptr);
        EXPECT_EQ(l.last_link, &other.next);
    }

    *other.prev_link = nullptr;
    l.last_link = other.prev_link;
    l.count -= 1;
}

}  // namespace
