// The type registry: registration, records without variant information, the variant dump,
// the manifest section and the catalogue.  (Concurrent counting: thread_test.)
#include <elf.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "fixture.h"
#include "lomari/lomari_catalogue.h"

namespace {

using namespace lt;

class Registry : public Lomari, public ::testing::WithParamInterface<uint32_t> {
protected:
    void *Lookup(const qel_type_info_t *t) { return h->type_dict_lookup_fn(h->type_dict_ctx, db, t->signature); }
};

// Each record is copied once; a failing n-th copy stops with 12, a later call completes and refreshes.
TEST_P(Registry, CopiesOnceStopsWith12AndCompletesLater) {
    const uint32_t n = GetParam(), kept = n ? n - 1 : 42;
    const auto types = TypeList();
    ASSERT_EQ(types.size(), 42u);
    qelrt_fail_type_alloc_at(n);
    lomari_typeinfo_initialize(h, db, &err);
    EXPECT_EQ(std::make_tuple(err, h->err, qelrt_handle_dict_size(h)), std::make_tuple(n ? 12u : 0u, n ? 12u : 0u, kept));
    std::vector<void *> copies;
    for (uint32_t i = 0; i < 42; ++i) {
        copies.push_back(Lookup(types[i]));
        EXPECT_EQ(std::make_pair(copies[i] != nullptr, copies[i] != types[i]), std::make_pair(i < kept, true)) << i;
    }
    err = 0;
    qelrt_calls_log(1);
    lomari_typeinfo_initialize(h, db, &err);
    EXPECT_EQ(std::make_tuple(err, qelrt_handle_dict_size(h), qelrt_type_alloc_count()), std::make_tuple(0u, 42u, uint64_t{42}));
    auto up = Calls("qel_update_variant_info");
    ASSERT_EQ(up.size(), 42u);
    for (uint32_t i = 0; i < 42; ++i) {
        EXPECT_EQ(std::make_tuple(up[i]->a[0], up[i]->a[1], up[i]->a[2]),
                  std::make_tuple(reinterpret_cast<uint64_t>(Lookup(types[i])), reinterpret_cast<uint64_t>(types[i]), uint64_t{i >= kept}))
            << types[i]->name;
        if (i < kept) { EXPECT_EQ(Lookup(types[i]), copies[i]); }
    }
}

INSTANTIATE_TEST_SUITE_P(FailingNth, Registry, ::testing::Values(0u, 1u, 2u, 21u, 42u));

std::string g_dump;
int CapturePrint(const char *fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    g_dump += buf;
    return n;
}

// A record without variant information is copied as it is, and the dump traces and skips it.
TEST_F(Lomari, RecordWithoutVariantInfoIsCopiedAsItIsAndLeftOutOfTheDump) {
    qel_type_info_t *t = Record("which_vep", "type");
    qel_variant_info_t *saved = t->varinfo;
    t->varinfo = nullptr;
    h->per_handle_types = 1;
    qelrt_calls_log(1);
    for (int k = 0; k < 2; ++k) lomari_typeinfo_initialize(h, db, &err);
    g_dump.clear();
    lomari_type_variant_dump(CapturePrint);
    t->varinfo = saved;
    EXPECT_EQ(err, 0u);
    auto *copy = static_cast<qel_type_info_t *>(h->type_dict_lookup_fn(h->type_dict_ctx, db, t->signature));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::make_pair(copy->varinfo, copy->counter_mode), std::make_pair((qel_variant_info_t *)nullptr, 0u));
    for (auto *c : Calls("qel_update_variant_info")) EXPECT_NE(c->a[1], reinterpret_cast<uint64_t>(t));
    ASSERT_EQ(qelrt_trace_count(), 1u);
    EXPECT_EQ(std::make_tuple(std::string(qelrt_trace_at(0)->text), qelrt_trace_at(0)->table_no, qelrt_trace_at(0)->level),
              std::make_tuple(std::string("type variant cached info is NULL during usage dump"), uint16_t{1}, uint32_t(QEL_TL_ERROR)));
    // Every other record's used length and slop: a type's add up to its size, the rest fixed, no slop.
    const std::map<std::string, uint32_t> fixed = {{"enum", 16}, {"table", 8}, {"table_record", 8}, {"message", 40}};
    std::string want;
    const auto list = TypeList();
    for (size_t i = 0; i < list.size(); ++i) {
        const qel_variant_record_t &v = list[i]->varinfo->variants[0];
        if (i < std::size(kTypes)) {  // the structured types come first, in their order
            EXPECT_STREQ(list[i]->name, kTypes[i].name);
            EXPECT_EQ(v.used_length + v.alloc_slop, kTypes[i].plain_size) << list[i]->name;
        } else {
            EXPECT_EQ(std::make_pair(v.used_length, v.alloc_slop), std::make_pair(fixed.at(list[i]->kind), 0u)) << list[i]->name;
        }
        if (list[i] != t)
            want += "n_variants 1\nvariant 0 used length " + std::to_string(v.used_length) + " alloc slop " + std::to_string(v.alloc_slop) + "\n";
    }
    EXPECT_EQ(g_dump, want);
}

// Registering a bundle handler hands back the one it replaces, unregistering the one it drops.
TEST_F(Lomari, BundleHandlerIsHeldUntilUnregistered) {
    int a, b;
    void *const first = lomari_bundle_handler_register(&a), *second = lomari_bundle_handler_register(&b);
    void *const held = lomari_bundle_registered_handler, *dropped = lomari_bundle_handler_unregister();
    EXPECT_EQ(std::make_tuple(first, second, held, dropped, lomari_bundle_registered_handler),
              std::make_tuple((void *)nullptr, (void *)&a, (void *)&b, (void *)&b, (void *)nullptr));
}

// The bytes of a named section of a 64-bit ELF file; empty if it has none or it is allocated.
std::string ReadSection(const char *path, const std::string &want) {
    std::ifstream f(path, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    Elf64_Ehdr eh;
    if (file.size() < sizeof eh || file.compare(0, SELFMAG, ELFMAG) != 0 || file[EI_CLASS] != ELFCLASS64) return "";
    std::memcpy(&eh, file.data(), sizeof eh);
    auto section = [&](unsigned i) { Elf64_Shdr sh; std::memcpy(&sh, file.data() + eh.e_shoff + i * eh.e_shentsize, sizeof sh); return sh; };
    for (unsigned i = 0; i < eh.e_shnum; ++i)
        if (const Elf64_Shdr sh = section(i); want == file.c_str() + section(eh.e_shstrndx).sh_offset + sh.sh_name)
            return sh.sh_flags & SHF_ALLOC ? "" : file.substr(sh.sh_offset, sh.sh_size);
    return "";
}

// A non-loaded section lists the types in three sorted groups, agreeing with records and catalogue.
TEST(Manifest, IsANonLoadedSectionListingEveryRecordOfTheCatalogue) {
    const std::string s = ReadSection(LOMARI_SO_PATH, ".ostrel");
    ASSERT_FALSE(s.empty());
    std::vector<std::pair<uint32_t, std::string>> recs;  // type, payload
    for (size_t off = 0; off < s.size();) {
        uint32_t hdr[2];
        ASSERT_LE(off + 8, s.size());
        std::memcpy(hdr, s.data() + off, 8);
        ASSERT_LE(off + 8 + hdr[0], s.size());
        recs.emplace_back(hdr[1], s.substr(off + 8, hdr[0]));
        const size_t padded = (hdr[0] + 3) & ~size_t{3};
        EXPECT_EQ(s.substr(off + 8 + hdr[0], padded - hdr[0]), std::string(padded - hdr[0], '\0'));
        off += 8 + padded;
    }
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(std::make_tuple(recs[0].first, recs[1].first, recs[1].second.rfind("lomari\n", 0)), std::make_tuple(2u, 1u, size_t{0}));
    const std::string &m = recs[0].second;
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m.substr(m.size() - 2), std::string("\n\0", 2));
    std::istringstream in(m.substr(0, m.size() - 2));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "# lomari.varnel");
    const std::vector<qel_type_info_t *> list = TypeList();
    ASSERT_EQ(list.size(), LOMARI_CATALOGUE_COUNT);
    std::map<std::string, const qel_type_info_t *> by_sig;
    const char *const kinds[] = {"type", "enum", "table", "table_record", "message"};
    for (uint32_t i = 0; i < LOMARI_CATALOGUE_COUNT; ++i) {
        const qel_type_info_t *t = list[i];
        const lomari_catalogue_entry &c = lomari_catalogue[i];
        char hex[33];
        for (int k = 0; k < 16; ++k) std::snprintf(hex + 2 * k, 3, "%02x", t->luid[k]);
        EXPECT_EQ(std::make_tuple(t->magic, std::string(t->domain), std::string(t->signature), std::string(c.luid), std::string(kinds[c.kind])),
                  std::make_tuple(QEL_TINFO_MAGIC, std::string("lomari"), std::string(hex), std::string(hex), std::string(t->kind))) << c.name;
        by_sig[t->signature] = t;
        if (c.kind != LOMARI_KIND_TYPE) continue;
        const TypeDesc &d = kTypes[c.ordinal];
        EXPECT_EQ(std::make_tuple(std::string(c.name), c.plain_size, c.tracked_size), std::make_tuple(std::string(d.name), U(d.plain_size), U(d.tracked_size)));
    }
    const std::regex re("([0-9a-f]{32}):[0-9a-f]{32}(type|enum|mess|tabl|trec)000:([0-9]{5})N");
    std::vector<std::vector<std::string>> keys(3);
    int group = 0;
    while (std::getline(in, line)) {
        std::smatch mt;
        ASSERT_TRUE(std::regex_match(line, mt, re)) << line;
        ASSERT_TRUE(by_sig.count(mt[1])) << "unknown or listed twice: " << mt[1];
        const qel_type_info_t *t = by_sig.extract(mt[1]).mapped();
        const std::string kind = t->kind;
        const int g = (kind == "type" || kind == "enum") ? 0 : kind == "message" ? 1 : 2;
        EXPECT_EQ(mt[2], kind == "table_record" ? "trec" : kind.substr(0, 4)) << t->name;
        EXPECT_GE(g, group) << "out of its group: " << t->name;
        group = g;
        keys[g].push_back(g == 0 ? std::string(t->name) : std::string(mt[1]));
        EXPECT_EQ(std::stoul(mt[3]), g == 0 ? t->varinfo->variants[0].used_length : 0) << t->name;
    }
    EXPECT_EQ(std::make_tuple(by_sig.size(), keys[0].size(), keys[1].size(), keys[2].size()), std::make_tuple(size_t{0}, size_t{21}, size_t{9}, size_t{12}));
    for (const auto &k : keys) EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
    EXPECT_STREQ(message_vep_tarnok_headers_luid_text, Record("vep_tarnok_headers", "message")->signature);
    EXPECT_EQ(std::memcmp(message_im_vep_fctrl_luid, Record("im_vep_fctrl", "message")->luid, 16), 0);
    EXPECT_STREQ(table_global_flow_control_luid_text, Record("global_flow_control", "table")->signature);
}

}  // namespace
