// module_link_test.cpp -- loading the library links its module descriptor into the runtime's list,
// unloading takes it out.  This binary links the runtime but not the library: the load is its own.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "qel/runtime.h"

namespace {

bool Loaded() {
    void *p = dlopen(LOMARI_SO_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (p) dlclose(p);
    return p != nullptr;
}

// A module already in the list stays in front; each load appends the descriptor once, unload removes it.
TEST(ModuleLink, LoadLinksTheDescriptorUnloadUnlinksIt) {
    ASSERT_FALSE(Loaded());
    static qel_module_desc_t other = {"other", nullptr, nullptr, nullptr};
    qel_module_list_t &l = qel_module_tot_root;
    other.prev_link = l.last_link;
    *l.last_link = &other;
    l.last_link = &other.next;
    const uint32_t count0 = l.count += 1;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        void *lib = dlopen(LOMARI_SO_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        void *again = dlopen(LOMARI_SO_PATH, RTLD_NOW | RTLD_LOCAL);
        EXPECT_EQ(again, lib);
        qel_module_desc_t *d = other.next;
        ASSERT_NE(d, nullptr);
        EXPECT_STREQ(d->name, "lomari");
        EXPECT_EQ(std::make_tuple(l.count, d->prev_link, d->next, l.last_link), std::make_tuple(count0 + 1, &other.next, nullptr, &d->next));
        size_t n = 0;
        while (d->types[n]) ++n;
        ASSERT_EQ(n, 42u);
        EXPECT_STREQ(d->types[0]->name, "spi4_mapping");
        EXPECT_STREQ(d->types[41]->kind, "message");
        dlclose(again);
        ASSERT_EQ(dlclose(lib), 0);
        EXPECT_FALSE(Loaded()) << "the library stayed mapped";
        EXPECT_EQ(std::make_tuple(l.count, other.next, l.last_link), std::make_tuple(count0, nullptr, &other.next));
    }
    *other.prev_link = nullptr;
    l.last_link = other.prev_link;
    l.count -= 1;
}

}  // namespace
