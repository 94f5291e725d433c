// Tests of the type registry: registration into a handle's dictionary, the
// variant dump, the bundle slot, the trace module, the type manifest in the
// library file, counting in both counter modes and identifier uniqueness.
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

namespace {

// The records the library published through its module descriptor, in the
// order of its type list.
std::vector<qel_type_info_t *> TypeList() {
    for (qel_module_desc_t *d = qel_module_tot_root.first; d; d = d->next) {
        if (std::strcmp(d->name, "lomari") != 0) continue;
        std::vector<qel_type_info_t *> v;
        for (qel_type_info_t *const *p = d->types; *p; ++p) v.push_back(*p);
        return v;
    }
    ADD_FAILURE() << "lomari module not linked";
    return {};
}

qel_type_info_t *Record(const std::string &name, const std::string &kind) {
    for (qel_type_info_t *t : TypeList())
        if (name == t->name && kind == t->kind) return t;
    ADD_FAILURE() << "no record " << name << " (" << kind << ")";
    return nullptr;
}

// The manifest size of each structured type: used length of its variant 0,
// which the allocation slop brings up to the instance size.
const std::map<std::string, uint32_t> kManifestSize = {
    {"spi4_mapping", 64},     {"vep_tarnok_body", 64},   {"which_vep", 24},
    {"which_fp", 40},         {"if_shim_body", 56},      {"im_if_fctrl_body", 64},
    {"vep_flowid_mapping", 48}, {"im_vep_fctrl_body", 80}, {"tarnok_rec_fields", 64},
    {"flow_if_rec_fields", 32}, {"flow_vep_rec_fields", 64}, {"cc_pair", 16},
    {"cc_ids", 32},           {"aps_pair", 24},          {"aps_control_data", 32},
    {"flow_pair", 16},        {"flow_id_pool", 32},
};

uint32_t PlainSize(const std::string &type) {
    for (const auto &t : lt::kTypes)
        if (type == t.name) return t.plain_size;
    ADD_FAILURE() << "unknown type " << type;
    return 0;
}

// ---- registration ------------------------------------------------------------

class Registry : public lt::Lomari {
protected:
    std::vector<const qelrt_call_t *> Updates() {
        std::vector<const qelrt_call_t *> v;
        for (uint32_t i = 0; i < qelrt_call_total(); ++i)
            if (std::strcmp(qelrt_call_at(i)->fn, "qel_update_variant_info") == 0) v.push_back(qelrt_call_at(i));
        return v;
    }
    void *Lookup(const qel_type_info_t *t) { return h->type_dict_lookup_fn(h->type_dict_ctx, db, t->signature); }
};

TEST_F(Registry, SecondRegistrationCopiesNothingAndRefreshesEveryRecord) {
    const auto types = TypeList();
    ASSERT_EQ(types.size(), 42u);
    qelrt_calls_log(1);
    lomari_typeinfo_initialize(h, db, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(qelrt_type_alloc_count(), 42u);
    EXPECT_EQ(qelrt_handle_dict_size(h), 42u);
    auto first = Updates();
    ASSERT_EQ(first.size(), 42u);
    std::vector<uint64_t> copies;
    for (size_t i = 0; i < 42; ++i) {
        EXPECT_EQ(first[i]->a[1], reinterpret_cast<uint64_t>(types[i])) << i;
        EXPECT_EQ(first[i]->a[2], 1u) << types[i]->name;
        EXPECT_EQ(first[i]->a[0], reinterpret_cast<uint64_t>(Lookup(types[i])));
        copies.push_back(first[i]->a[0]);
    }

    qelrt_calls_clear();
    lomari_typeinfo_initialize(h, db, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(qelrt_type_alloc_count(), 42u);
    EXPECT_EQ(qelrt_handle_dict_size(h), 42u);
    auto second = Updates();
    ASSERT_EQ(second.size(), 42u);
    for (size_t i = 0; i < 42; ++i) {
        EXPECT_EQ(second[i]->a[0], copies[i]);
        EXPECT_EQ(second[i]->a[2], 0u) << types[i]->name;
    }
}

TEST_F(Registry, CopyIsTheRecordWithHandleCounterModeAndClearedExtras) {
    h->per_handle_types = 3;
    lomari_typeinfo_initialize(h, db, &err);
    for (qel_type_info_t *t : TypeList()) {
        auto *c = static_cast<qel_type_info_t *>(Lookup(t));
        ASSERT_NE(c, nullptr) << t->name;
        ASSERT_NE(c, t);
        EXPECT_EQ(std::memcmp(c, t, offsetof(qel_type_info_t, varinfo)), 0) << t->name;
        // The runtime gives each new copy variant records of its own, with
        // the same lengths and fresh counters.
        ASSERT_NE(c->varinfo, nullptr);
        EXPECT_NE(c->varinfo, t->varinfo);
        EXPECT_EQ(c->varinfo->n_variants, t->varinfo->n_variants);
        EXPECT_EQ(c->varinfo->variants[0].used_length, t->varinfo->variants[0].used_length);
        EXPECT_EQ(c->varinfo->variants[0].alloc_slop, t->varinfo->variants[0].alloc_slop);
        EXPECT_EQ(c->counter_mode, 3u);
        EXPECT_EQ(c->type_index, -1);
        const auto *extra = reinterpret_cast<const void *const *>(c + 1);
        EXPECT_EQ(extra[0], nullptr);
        EXPECT_EQ(extra[1], nullptr);
        EXPECT_EQ(t->counter_mode, 0u) << "static record changed";
    }
}

class RegistryFailingCopy : public Registry, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RegistryFailingCopy, StopsWith12KeepingEarlierCopies) {
    const uint32_t n = GetParam();
    const auto types = TypeList();
    qelrt_fail_type_alloc_at(n);
    lomari_typeinfo_initialize(h, db, &err);
    EXPECT_EQ(err, 12u);
    EXPECT_EQ(h->err, 12u);
    EXPECT_EQ(qelrt_handle_dict_size(h), n - 1);
    for (uint32_t i = 0; i < types.size(); ++i) EXPECT_EQ(Lookup(types[i]) != nullptr, i < n - 1) << i;

    // A later registration completes the dictionary and keeps the earlier copies.
    std::vector<void *> kept;
    for (uint32_t i = 0; i + 1 < n; ++i) kept.push_back(Lookup(types[i]));
    err = 0;
    qelrt_calls_log(1);
    lomari_typeinfo_initialize(h, db, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(qelrt_handle_dict_size(h), 42u);
    for (uint32_t i = 0; i + 1 < n; ++i) EXPECT_EQ(Lookup(types[i]), kept[i]);
    auto up = Updates();
    ASSERT_EQ(up.size(), 42u);
    for (uint32_t i = 0; i < 42; ++i) EXPECT_EQ(up[i]->a[2], i < n - 1 ? 0u : 1u) << i;
}

INSTANTIATE_TEST_SUITE_P(Nth, RegistryFailingCopy, ::testing::Values(1u, 2u, 21u, 42u));

// ---- variant dump ------------------------------------------------------------

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

TEST_F(Registry, DumpPrintsEveryRecordsVariantInTypeListOrder) {
    std::string want;
    auto block = [&](uint32_t used, uint32_t slop) {
        want += "n_variants 1\nvariant 0 used length " + std::to_string(used) + " alloc slop " +
                std::to_string(slop) + "\n";
    };
    for (const auto &t : lt::kTypes) block(kManifestSize.at(t.name), t.plain_size - kManifestSize.at(t.name));
    for (int i = 0; i < 4; ++i) block(16, 0);
    for (int i = 0; i < 12; ++i) block(8, 0);
    for (int i = 0; i < 9; ++i) block(40, 0);

    g_dump.clear();
    lomari_type_variant_dump(CapturePrint);
    EXPECT_EQ(g_dump, want);
    EXPECT_EQ(qelrt_trace_count(), 0u);
}

TEST_F(Registry, DumpTracesARecordWithoutVariantInfoAndGoesOn) {
    qel_type_info_t *t = Record("which_vep", "type");
    qel_variant_info_t *saved = t->varinfo;
    t->varinfo = nullptr;
    g_dump.clear();
    lomari_type_variant_dump(CapturePrint);
    t->varinfo = saved;
    size_t blocks = 0;
    for (size_t p = 0; (p = g_dump.find("n_variants", p)) != std::string::npos; ++p) ++blocks;
    EXPECT_EQ(blocks, 41u);
    ASSERT_EQ(qelrt_trace_count(), 1u);
    EXPECT_STREQ(qelrt_trace_at(0)->text, "type variant cached info is NULL during usage dump");
    EXPECT_EQ(qelrt_trace_at(0)->table_no, 1);
    EXPECT_EQ(qelrt_trace_at(0)->level, QEL_TL_ERROR);
}

// ---- bundle slot and trace module -----------------------------------------------

TEST(RegistryBundle, RegisterReturnsPreviousAndUnregisterClears) {
    lomari_bundle_handler_unregister();
    int a = 0, b = 0;
    EXPECT_EQ(lomari_bundle_handler_register(&a), nullptr);
    EXPECT_EQ(lomari_bundle_registered_handler, &a);
    EXPECT_EQ(lomari_bundle_handler_register(&b), &a);
    EXPECT_EQ(lomari_bundle_handler_unregister(), &b);
    EXPECT_EQ(lomari_bundle_registered_handler, nullptr);
    EXPECT_EQ(lomari_bundle_handler_unregister(), nullptr);
}

TEST_F(Registry, TraceInitFillsTheModuleIdUnderItsName) {
    g_qel_lomari_trace_module_id = 0;
    qelrt_calls_log(1);
    EXPECT_EQ(qel_lomari_trace_init(), 0);
    const uint16_t id = g_qel_lomari_trace_module_id;
    EXPECT_NE(id, 0);
    ASSERT_EQ(qelrt_call_count("pendra_module_init_fn"), 1u);
    for (uint32_t i = 0; i < qelrt_call_total(); ++i) {
        const qelrt_call_t *c = qelrt_call_at(i);
        if (std::strcmp(c->fn, "pendra_module_init_fn") == 0)
            EXPECT_STREQ(reinterpret_cast<const char *>(c->a[0]), "qel_lomari");
    }
    g_qel_lomari_trace_module_id = 0;
    qel_lomari_trace_init();
    EXPECT_EQ(g_qel_lomari_trace_module_id, id);
    EXPECT_EQ(g_qel_lomari_stub_trace_module_id, 0);
}

// ---- type manifest ------------------------------------------------------------

struct Section {
    std::string bytes;
    uint64_t flags = 0;
    bool found = false;
};

Section ReadSection(const char *path, const std::string &want) {
    std::ifstream f(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    Section s;
    if (file.size() < sizeof(Elf64_Ehdr)) return s;
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return s;
    auto shdr = [&](unsigned i) {
        Elf64_Shdr sh;
        std::memcpy(&sh, file.data() + eh.e_shoff + i * eh.e_shentsize, sizeof sh);
        return sh;
    };
    const Elf64_Shdr names = shdr(eh.e_shstrndx);
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh = shdr(i);
        if (want != file.c_str() + names.sh_offset + sh.sh_name) continue;
        s.bytes = file.substr(sh.sh_offset, sh.sh_size);
        s.flags = sh.sh_flags;
        s.found = true;
    }
    return s;
}

struct ManifestRecord {
    uint32_t type;
    std::string payload;
};

TEST(Manifest, IsANonLoadedSectionOfPaddedRecords) {
    Section s = ReadSection(LOMARI_SO_PATH, ".ostrel");
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.flags & SHF_ALLOC, 0u);

    std::vector<ManifestRecord> recs;
    for (size_t off = 0; off < s.bytes.size();) {
        ASSERT_LE(off + 8, s.bytes.size());
        uint32_t len, type;
        std::memcpy(&len, s.bytes.data() + off, 4);
        std::memcpy(&type, s.bytes.data() + off + 4, 4);
        ASSERT_LE(off + 8 + len, s.bytes.size());
        recs.push_back({type, s.bytes.substr(off + 8, len)});
        const size_t padded = (len + 3) & ~size_t{3};
        for (size_t p = len; p < padded; ++p) EXPECT_EQ(s.bytes[off + 8 + p], '\0');
        off += 8 + padded;
    }
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].type, 2u);
    EXPECT_EQ(recs[1].type, 1u);
    EXPECT_EQ(recs[1].payload.rfind("lomari\n", 0), 0u);

    const std::string &m = recs[0].payload;
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m.substr(m.size() - 2), std::string("\n\0", 2));
    std::istringstream in(m.substr(0, m.size() - 2));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "# lomari.varnel");

    std::map<std::string, const qel_type_info_t *> by_sig;
    for (const qel_type_info_t *t : TypeList()) by_sig[t->signature] = t;
    const std::map<std::string, std::string> kind4 = {
        {"type", "type"}, {"enum", "enum"}, {"message", "mess"}, {"table", "tabl"}, {"table_record", "trec"}};
    const std::regex re("([0-9a-f]{32}):[0-9a-f]{32}(type|enum|mess|tabl|trec)000:([0-9]{5})N");

    // Group 0: structured types and enumerations, by name; 1: messages and
    // 2: tables with their records, each by identifier text.
    std::vector<std::vector<std::string>> keys(3);
    std::set<std::string> seen;
    int group = 0;
    while (std::getline(in, line)) {
        std::smatch mt;
        ASSERT_TRUE(std::regex_match(line, mt, re)) << line;
        const qel_type_info_t *t = by_sig.count(mt[1]) ? by_sig[mt[1]] : nullptr;
        ASSERT_NE(t, nullptr) << "unknown identifier " << mt[1];
        EXPECT_TRUE(seen.insert(mt[1]).second) << "listed twice: " << t->name;
        EXPECT_EQ(mt[2], kind4.at(t->kind)) << t->name;
        const std::string kind = t->kind;
        const int g = (kind == "type" || kind == "enum") ? 0 : kind == "message" ? 1 : 2;
        EXPECT_GE(g, group) << "out of its group: " << t->name;
        group = g;
        keys[g].push_back(g == 0 ? std::string(t->name) : std::string(mt[1]));
        uint32_t size = 0;
        if (kind == "type") size = kManifestSize.at(t->name);
        if (kind == "enum") size = 16;
        EXPECT_EQ(std::stoul(mt[3]), size) << t->name;
        if (kind == "type") {
            EXPECT_EQ(size, (t->varinfo->variants[0].used_length + 7) & ~7u);
        }
    }
    EXPECT_EQ(seen.size(), 42u);
    EXPECT_EQ(keys[0].size(), 21u);
    EXPECT_EQ(keys[1].size(), 9u);
    EXPECT_EQ(keys[2].size(), 12u);
    for (const auto &k : keys) EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
    // Every structured type but the list owner with an enumeration is 8
    // bytes below its instance size there; that one is 16 below.
    for (const auto &t : lt::kTypes)
        EXPECT_EQ(PlainSize(t.name) - kManifestSize.at(t.name), std::string(t.name) == "im_vep_fctrl_body" ? 16u : 8u);
}

// ---- identifiers --------------------------------------------------------------

TEST(Identifiers, FortyTwoDistinctSignaturesMatchingTheirBinaryForm) {
    std::set<std::string> sigs;
    std::set<std::string> names;
    for (const qel_type_info_t *t : TypeList()) {
        EXPECT_EQ(t->magic, QEL_TINFO_MAGIC);
        EXPECT_STREQ(t->domain, "lomari");
        char hex[33];
        for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", t->luid[i]);
        EXPECT_STREQ(t->signature, hex) << t->name;
        sigs.insert(t->signature);
        names.insert(std::string(t->kind) + "/" + t->name);
    }
    EXPECT_EQ(sigs.size(), 42u);
    EXPECT_EQ(names.size(), 42u);
    // The exported identifier of a message is its record's.
    EXPECT_STREQ(message_vep_tarnok_headers_luid_text, Record("vep_tarnok_headers", "message")->signature);
    EXPECT_EQ(std::memcmp(message_im_vep_fctrl_luid, Record("im_vep_fctrl", "message")->luid, 16), 0);
    EXPECT_STREQ(table_global_flow_control_luid_text, Record("global_flow_control", "table")->signature);
}

// ---- counting -----------------------------------------------------------------

using EnumCreate = void *(qel_handle_t *, uint32_t);
using EnumDestroy = void(qel_handle_t *, uint32_t, void *);

TEST_F(Registry, StaticRecordCountsAreExactUnderConcurrentCreateAndDestroy) {
    constexpr int kThreads = 4, kRounds = 2000;
    qelrt_trace_capture(0);
    std::vector<qel_handle_t *> hs;
    for (int t = 0; t < kThreads; ++t) hs.push_back(qelrt_handle_new());
    std::vector<uint64_t> created0, destroyed0;
    for (const auto &e : lt::kEnums) {
        const qel_variant_record_t &vr = Record(e.name, "enum")->varinfo->variants[0];
        created0.push_back(vr.created);
        destroyed0.push_back(vr.destroyed);
    }
    std::vector<EnumCreate *> create;
    std::vector<EnumDestroy *> destroy;
    for (const auto &e : lt::kEnums) {
        create.push_back(lt::Api<EnumCreate>(e.name, "create"));
        destroy.push_back(lt::Api<EnumDestroy>(e.name, "destroy"));
    }
    std::atomic<int> go{0};
    std::vector<std::thread> th;
    for (int t = 0; t < kThreads; ++t)
        th.emplace_back([&, t] {
            while (!go.load()) {}
            qel_handle_t *hh = hs[t];
            for (int r = 0; r < kRounds; ++r)
                for (size_t i = 0; i < create.size(); ++i)
                    destroy[i](hh, hh->database_id, create[i](hh, hh->database_id));
        });
    go = 1;
    for (auto &t : th) t.join();
    for (qel_handle_t *hh : hs) qelrt_handle_free(hh);
    for (size_t i = 0; i < 4; ++i) {
        const qel_type_info_t *ti = Record(lt::kEnums[i].name, "enum");
        EXPECT_EQ(ti->counter_mode, 0u);
        EXPECT_EQ(ti->varinfo->variants[0].created - created0[i], uint64_t{kThreads} * kRounds);
        EXPECT_EQ(ti->varinfo->variants[0].destroyed - destroyed0[i], uint64_t{kThreads} * kRounds);
    }
    EXPECT_EQ(qelrt_live_bytes(), 0);
}

TEST_F(Registry, PerHandleTypesObjectsReferToTheHandlesPlainCountedCopy) {
    h->per_handle_types = 1;
    lomari_typeinfo_initialize(h, db, &err);
    for (const auto &e : lt::kEnums) {
        qel_type_info_t *st = Record(e.name, "enum");
        auto *copy = static_cast<qel_type_info_t *>(h->type_dict_lookup_fn(h->type_dict_ctx, db, st->signature));
        ASSERT_NE(copy, nullptr);
        const uint64_t c0 = copy->varinfo->variants[0].created;
        qelrt_calls_clear();
        qelrt_calls_log(1);
        auto *o = static_cast<spi4_priority *>(lt::Api<EnumCreate>(e.name, "create")(h, db));
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(o->tinfo, copy);
        EXPECT_EQ(o->tinfo->counter_mode, 1u);
        EXPECT_EQ(qelrt_call_count("stats_inc_fn"), 1u);
        EXPECT_EQ(copy->varinfo->variants[0].created, c0 + 1);
        lt::Api<EnumDestroy>(e.name, "destroy")(h, db, o);
    }
    EXPECT_EQ(qelrt_handle_dict_size(h), 42u);
}

}  // namespace
