// The type registry: registration into a handle's dictionary, the variant
// dump, the type manifest in the library file, identifiers, and exact
// counting on the static records under concurrent use.
#include <elf.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixture.h"
#include "lomari/lomari_catalogue.h"

namespace {

using namespace lt;

class Registry : public Lomari {
protected:
    void *Lookup(const qel_type_info_t *t) { return h->type_dict_lookup_fn(h->type_dict_ctx, db, t->signature); }
};

class Registration : public Registry, public ::testing::WithParamInterface<uint32_t> {};

// Registration copies each of the 42 records once; a failing n-th copy
// stops with 12 and keeps the first n-1.  A later registration copies only
// what is missing and refreshes every record, telling the runtime which
// copies are new.
TEST_P(Registration, CopiesOnceStopsWith12AndCompletesLater) {
    const uint32_t n = GetParam(), kept = n ? n - 1 : 42;
    const auto types = TypeList();
    ASSERT_EQ(types.size(), 42u);
    qelrt_fail_type_alloc_at(n);
    lomari_typeinfo_initialize(h, db, &err);
    EXPECT_EQ(err, n ? 12u : 0u);
    EXPECT_EQ(h->err, err);
    EXPECT_EQ(qelrt_handle_dict_size(h), kept);
    std::vector<void *> copies;
    for (uint32_t i = 0; i < 42; ++i) {
        copies.push_back(Lookup(types[i]));
        EXPECT_EQ(copies[i] != nullptr, i < kept) << i;
        EXPECT_NE(copies[i], types[i]) << "a copy, not the static record";
    }
    err = 0;
    qelrt_calls_log(1);
    lomari_typeinfo_initialize(h, db, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(qelrt_handle_dict_size(h), 42u);
    EXPECT_EQ(qelrt_type_alloc_count(), 42u);
    auto up = Calls("qel_update_variant_info");
    ASSERT_EQ(up.size(), 42u);
    for (uint32_t i = 0; i < 42; ++i) {
        EXPECT_EQ(up[i]->a[0], reinterpret_cast<uint64_t>(Lookup(types[i])));
        EXPECT_EQ(up[i]->a[1], reinterpret_cast<uint64_t>(types[i])) << i;
        EXPECT_EQ(up[i]->a[2], i < kept ? 0u : 1u) << types[i]->name;
        if (i < kept) {
            EXPECT_EQ(Lookup(types[i]), copies[i]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FailingNth, Registration, ::testing::Values(0u, 1u, 2u, 21u, 42u));

// A record without variant information is copied as it is: the runtime is
// not asked to refresh it, and the copy, sharing the record's (absent)
// counters, counts atomically.
TEST_F(Registry, RecordWithoutVariantInfo) {
    qel_type_info_t *t = Record("which_vep", "type");
    qel_variant_info_t *saved = t->varinfo;
    t->varinfo = nullptr;
    h->per_handle_types = 1;
    qelrt_calls_log(1);
    for (int k = 0; k < 2; ++k) lomari_typeinfo_initialize(h, db, &err);
    t->varinfo = saved;
    EXPECT_EQ(err, 0u);
    auto *copy = static_cast<qel_type_info_t *>(Lookup(t));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->varinfo, nullptr);
    EXPECT_EQ(copy->counter_mode, 0u);
    EXPECT_EQ(static_cast<qel_type_info_t *>(Lookup(Record("which_fp", "type")))->counter_mode, 1u);
    for (auto *c : Calls("qel_update_variant_info")) EXPECT_NE(c->a[1], reinterpret_cast<uint64_t>(t));
}

std::string g_dump;

int CapturePrint(const char *fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    g_dump += buf;
    return n;
}

// Every record's used length and slop, in type-list order: a structured
// type's slop brings its used length up to the instance size; enumerations,
// tables and their records, and messages have fixed lengths and no slop.
TEST_F(Registry, DumpPrintsEveryRecordsVariantInTypeListOrder) {
    const std::map<std::string, uint32_t> fixed = {{"enum", 16}, {"table", 8}, {"table_record", 8}, {"message", 40}};
    auto expected = [&](const qel_type_info_t *skip) {
        std::string want;
        const auto list = TypeList();
        for (size_t i = 0; i < list.size(); ++i) {
            const qel_type_info_t *t = list[i];
            const qel_variant_record_t &v = t->varinfo->variants[0];
            if (i < std::size(kTypes)) {  // the structured types come first, in their order
                EXPECT_STREQ(t->name, kTypes[i].name);
                EXPECT_EQ(v.used_length + v.alloc_slop, kTypes[i].plain_size) << t->name;
            } else {
                EXPECT_EQ(v.used_length, fixed.at(t->kind)) << t->name;
                EXPECT_EQ(v.alloc_slop, 0u) << t->name;
            }
            if (t != skip)
                want += "n_variants 1\nvariant 0 used length " + std::to_string(v.used_length) + " alloc slop " +
                        std::to_string(v.alloc_slop) + "\n";
        }
        return want;
    };
    qel_type_info_t *t = Record("which_vep", "type");
    qel_variant_info_t *saved = t->varinfo;
    // A record without variant info is traced and skipped.
    for (qel_type_info_t *skip : {static_cast<qel_type_info_t *>(nullptr), t}) {
        if (skip) t->varinfo = nullptr;
        g_dump.clear();
        lomari_type_variant_dump(CapturePrint);
        t->varinfo = saved;
        EXPECT_EQ(g_dump, expected(skip));
        ASSERT_EQ(qelrt_trace_count(), skip ? 1u : 0u);
    }
    EXPECT_STREQ(qelrt_trace_at(0)->text, "type variant cached info is NULL during usage dump");
    EXPECT_EQ(qelrt_trace_at(0)->table_no, 1);
    EXPECT_EQ(qelrt_trace_at(0)->level, QEL_TL_ERROR);
}

// The bytes and flags of a named section of a 64-bit ELF file.
bool ReadSection(const char *path, const std::string &want, std::string *bytes, uint64_t *flags) {
    std::ifstream f(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    Elf64_Ehdr eh;
    if (file.size() < sizeof eh) return false;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return false;
    auto shdr = [&](unsigned i) {
        Elf64_Shdr sh;
        std::memcpy(&sh, file.data() + eh.e_shoff + i * eh.e_shentsize, sizeof sh);
        return sh;
    };
    const Elf64_Shdr names = shdr(eh.e_shstrndx);
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        const Elf64_Shdr sh = shdr(i);
        if (want != file.c_str() + names.sh_offset + sh.sh_name) continue;
        *bytes = file.substr(sh.sh_offset, sh.sh_size);
        *flags = sh.sh_flags;
        return true;
    }
    return false;
}

TEST(Manifest, IsANonLoadedSectionOfPaddedRecords) {
    std::string s;
    uint64_t flags = 0;
    ASSERT_TRUE(ReadSection(LOMARI_SO_PATH, ".ostrel", &s, &flags));
    EXPECT_EQ(flags & SHF_ALLOC, 0u);
    std::vector<std::pair<uint32_t, std::string>> recs;  // type, payload
    for (size_t off = 0; off < s.size();) {
        ASSERT_LE(off + 8, s.size());
        uint32_t len, type;
        std::memcpy(&len, s.data() + off, 4);
        std::memcpy(&type, s.data() + off + 4, 4);
        ASSERT_LE(off + 8 + len, s.size());
        recs.emplace_back(type, s.substr(off + 8, len));
        const size_t padded = (len + 3) & ~size_t{3};
        for (size_t p = len; p < padded; ++p) EXPECT_EQ(s[off + 8 + p], '\0');
        off += 8 + padded;
    }
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].first, 2u);
    EXPECT_EQ(recs[1].first, 1u);
    EXPECT_EQ(recs[1].second.rfind("lomari\n", 0), 0u);

    const std::string &m = recs[0].second;
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m.substr(m.size() - 2), std::string("\n\0", 2));
    std::istringstream in(m.substr(0, m.size() - 2));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "# lomari.varnel");

    std::map<std::string, const qel_type_info_t *> by_sig;
    for (const qel_type_info_t *t : TypeList()) by_sig[t->signature] = t;
    const std::regex re("([0-9a-f]{32}):[0-9a-f]{32}(type|enum|mess|tabl|trec)000:([0-9]{5})N");
    // Group 0: structured types and enumerations, by name; 1: messages and
    // 2: tables with their records, each by identifier text.
    std::vector<std::vector<std::string>> keys(3);
    std::set<std::string> seen;
    int group = 0;
    while (std::getline(in, line)) {
        std::smatch mt;
        ASSERT_TRUE(std::regex_match(line, mt, re)) << line;
        ASSERT_TRUE(by_sig.count(mt[1])) << "unknown identifier " << mt[1];
        const qel_type_info_t *t = by_sig[mt[1]];
        const std::string kind = t->kind;
        EXPECT_TRUE(seen.insert(mt[1]).second) << "listed twice: " << t->name;
        EXPECT_EQ(mt[2], kind == "table_record" ? "trec" : kind.substr(0, 4)) << t->name;
        const int g = (kind == "type" || kind == "enum") ? 0 : kind == "message" ? 1 : 2;
        EXPECT_GE(g, group) << "out of its group: " << t->name;
        group = g;
        keys[g].push_back(g == 0 ? std::string(t->name) : std::string(mt[1]));
        EXPECT_EQ(std::stoul(mt[3]), g == 0 ? t->varinfo->variants[0].used_length : 0) << t->name;
    }
    EXPECT_EQ(seen.size(), 42u);
    EXPECT_EQ(keys[0].size(), 21u);
    EXPECT_EQ(keys[1].size(), 9u);
    EXPECT_EQ(keys[2].size(), 12u);
    for (const auto &k : keys) EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
}

// Each record is well formed and its signature is the text of its binary
// identifier (distinct: the manifest test lists each of the 42 once); the
// catalogue programs walk the domain by is this list, record for record,
// with each structured type's sizes.
TEST(TypeListRecords, SignaturesAndTheCatalogue) {
    const std::vector<qel_type_info_t *> list = TypeList();
    ASSERT_EQ(list.size(), LOMARI_CATALOGUE_COUNT);
    const char *const kinds[] = {"type", "enum", "table", "table_record", "message"};
    for (uint32_t i = 0; i < LOMARI_CATALOGUE_COUNT; ++i) {
        const qel_type_info_t *t = list[i];
        const lomari_catalogue_entry &c = lomari_catalogue[i];
        EXPECT_EQ(t->magic, QEL_TINFO_MAGIC);
        EXPECT_STREQ(t->domain, "lomari");
        char hex[33];
        for (int k = 0; k < 16; ++k) std::snprintf(hex + 2 * k, 3, "%02x", t->luid[k]);
        EXPECT_STREQ(t->signature, hex) << t->name;
        EXPECT_STREQ(c.luid, t->signature) << c.name;
        EXPECT_STREQ(kinds[c.kind], t->kind) << c.name;
        if (c.kind != LOMARI_KIND_TYPE) continue;
        EXPECT_STREQ(c.name, kTypes[c.ordinal].name);
        EXPECT_EQ(c.plain_size, kTypes[c.ordinal].plain_size);
        EXPECT_EQ(c.tracked_size, kTypes[c.ordinal].tracked_size);
    }
    // The exported identifier of a message or table is its record's.
    EXPECT_STREQ(message_vep_tarnok_headers_luid_text, Record("vep_tarnok_headers", "message")->signature);
    EXPECT_EQ(std::memcmp(message_im_vep_fctrl_luid, Record("im_vep_fctrl", "message")->luid, 16), 0);
    EXPECT_STREQ(table_global_flow_control_luid_text, Record("global_flow_control", "table")->signature);
}

// Static records count with atomic adds: exact totals when several threads
// create and destroy every kind of object at once (a message counts its body).
TEST_F(Registry, StaticRecordCountsAreExactUnderConcurrentCreateAndDestroy) {
    constexpr int kThreads = 4, kRounds = 300;
    struct Obj { void *(*create)(H, U); void (*destroy)(H, U, void *); qel_variant_record_t *vr; uint64_t c0, d0, times; };
    std::vector<Obj> objs;
    auto add = [&](const char *name, qel_type_info_t *ti, uint64_t times) {
        qel_variant_record_t *vr = &ti->varinfo->variants[0];
        objs.push_back({Api<void *(H, U)>(name, "create"), Api<void(H, U, void *)>(name, "destroy"), vr,
                        vr->created, vr->destroyed, times * kThreads * kRounds});
    };
    for (const auto &t : kTypes) {
        uint64_t bodies = 0;
        for (const auto &m : kMessages) bodies += m.body == &t;
        add(t.name, Record(t.name, "type"), 1 + bodies);
    }
    for (const auto &e : kEnums) add(e.name, Record(e.name, "enum"), 1);
    for (const auto &m : kMessages) add(m.full_name, Record(m.name, "message"), 1);
    std::atomic<int> go{0};
    std::vector<std::thread> th;
    for (int t = 0; t < kThreads; ++t)
        th.emplace_back([&] {
            qel_handle_t *hh = qelrt_handle_new();
            while (!go.load()) {}
            for (int r = 0; r < kRounds; ++r)
                for (const Obj &o : objs) o.destroy(hh, hh->database_id, o.create(hh, hh->database_id));
            qelrt_handle_free(hh);
        });
    go = 1;
    for (auto &t : th) t.join();
    for (const Obj &o : objs) {
        EXPECT_EQ(o.vr->created - o.c0, o.times);
        EXPECT_EQ(o.vr->destroyed - o.d0, o.times);
    }
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

}  // namespace
