// render_test.cpp -- text and XML renderings of enumerations and structured
// types: random round trips, cut buffers, exact frames, list appends, bad documents.
#include <libxml/parser.h>

#include "fixture.h"

namespace lt {
namespace {

using PrintFn = U(H, U, char *, U, const char *, const void *, U, U *);
using ToXmlFn = U(H, U, const char *, char *, const void *, U, uint8_t, U *);
using FromXmlFn = void(H, U, const char *, qel_xml_doc_t *, void *, U *, char *, U);

bool WellFormed(const std::string &x) {
    xmlDocPtr d = xmlReadMemory(x.data(), int(x.size()), nullptr, nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET);
    xmlFreeDoc(d);
    return d != nullptr;
}

// ---- every type ------------------------------------------------------------------

class Render : public CodecTest {
protected:
    std::string Xml(const void *o) {
        std::string b(1 << 16, '\0');
        b.resize(Op<ToXmlFn>("to_xml")(h, db, T().name, b.data(), o, U(b.size()), 0, &err));
        EXPECT_EQ(Err(), 0u);
        return b;
    }
    // Parses text at "/<type>" into o; the error word.
    U Parse(const std::string &x, void *o) {
        qel_xml_doc_t *d = qel_xml_parse_memory(h, x.data(), U(x.size()), 0, msg, sizeof msg, &err);
        if (!d) return Err();
        Op<FromXmlFn>("from_xml")(h, db, ("/" + std::string(T().name)).c_str(), d, o, &err, msg, sizeof msg);
        qel_xml_doc_free(d);
        return Err();
    }
    char msg[256] = {};
};

// Random objects round-trip through well-formed XML; cut buffers are never overrun.
TEST_P(Render, RandomObjectsRoundTripThroughXmlAndCutBuffersAreNeverOverrun) {
    Modes([&](bool track) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            void *o = Fill(seed, seed == 1 ? 0 : Elems() + seed);
            std::string x = Xml(o);
            EXPECT_TRUE(WellFormed(x)) << x;
            EXPECT_TRUE(track || x.find(" state=") == std::string::npos) << x;
            void *back = Create();
            EXPECT_EQ(Parse(x, back), 0u) << x << msg;
            EXPECT_EQ(ty.Compare(o, back), 0) << x;
            EXPECT_EQ(Xml(back), x);
            EXPECT_EQ(Parse(x.substr(0, x.size() - 1), back), U(LOMARI_ERR_INVALID));
            EXPECT_EQ(std::string(msg).rfind("line 1: ", 0), 0u) << msg;
            Destroy(back);
            Destroy(o);
        }
    });
    // No top element: not found; no known child: nothing changes.
    void *o = Fill(7, Elems()), *copy = Fill(7, Elems());
    EXPECT_EQ(Parse("<other><x/></other>", o), U(LOMARI_ERR_NOT_FOUND));
    const std::string t = T().name;
    EXPECT_EQ(Parse("<" + t + "><unknown>1</unknown><pair_count>99</pair_count></" + t + ">", o), 0u) << msg;
    EXPECT_EQ(ty.Compare(o, copy), 0);
    Destroy(copy);
    auto print = [&](char *b, U room) { return Op<PrintFn>("print")(h, db, b, 1, "x", o, room, &err); };
    auto render = [&](char *b, U room) { return Op<ToXmlFn>("to_xml")(h, db, "x", b, o, room, 0, &err); };
    for (auto write : {std::function<U(char *, U)>(print), std::function<U(char *, U)>(render)}) {
        std::string full(8192, '\0');
        const U n = write(full.data(), U(full.size()));
        ASSERT_EQ(Err(), 0u);
        for (U room = 0; room <= n + 1; ++room) {
            std::vector<char> b(room + 4, '#');
            const U got = write(b.data(), room);
            ASSERT_EQ(std::string(b.data() + room, 4), "####") << room;
            EXPECT_EQ(Err(), room > n ? 0u : U(LOMARI_ERR_SHORT)) << room;
            EXPECT_TRUE(room > n ? got == n : got <= (room ? room - 1 : 0)) << room << ": " << got;
            EXPECT_EQ(full.compare(0, got, b.data(), got), 0) << room;
            h->err = 0;
        }
    }
    Destroy(o);
    ExpectNoLeak();
}

INSTANTIATE_TEST_SUITE_P(Types, Render, ::testing::ValuesIn(AllTypes()), ParamName());

// ---- worked examples ----------------------------------------------------------------

class Rendered : public Lomari {
protected:
    qel_xml_doc_t *Doc(const std::string &x, U flags = 0) {
        qel_xml_doc_t *d = qel_xml_parse_memory(h, x.data(), U(x.size()), flags, msg, sizeof msg, &err);
        EXPECT_NE(d, nullptr) << msg;
        return d;
    }
    char msg[256] = {};
};
using RenderedDeathTest = Rendered;

// Objects read from XML print their nesting exactly (unknown children and pair_count ignored: arrays
// count their elements); a second read appends to a list; a refused element adds nothing.
// (Long lists read whole: BM_XmlFillMany checks the object it reads.)
TEST_F(Rendered, NestedObjectsPrintExactlyListsAppendRefusedElementsAddNothing) {
    vep_tarnok_body *b = vep_tarnok_body_create(h, db);
    cc_ids *c = cc_ids_create(h, db), *refused = cc_ids_create(h, db);
    qel_xml_doc_t *d = Doc(
        "<r><vep_tarnok_body><slot_number>3</slot_number><junk/><bay_number>1</bay_number><vep_type>70000</vep_type>"
        "<scheme>9</scheme><spi4_id_mappings><portnum>10</portnum><header_id>200</header_id><pri><SPI4_PRI_HI/></pri>"
        "</spi4_id_mappings><spi4_id_mappings><portnum>11</portnum><header_id>201</header_id><pri><SPI4_PRI_LO/></pri>"
        "</spi4_id_mappings></vep_tarnok_body><cc_ids><cc_slot>5</cc_slot><pair_count>40</pair_count><pairs><lower_bits>1</lower_bits></pairs>"
        "<pairs><lower_bits>2</lower_bits><leased>1</leased></pairs><pairs><lower_bits>3</lower_bits></pairs></cc_ids>"
        "<x><cc_ids><pairs><lower_bits>256</lower_bits></pairs></cc_ids></x></r>");
    vep_tarnok_body_from_xml(h, db, "/r/vep_tarnok_body", d, b, &err, msg, sizeof msg);
    cc_ids_from_xml(h, db, "/r/cc_ids", d, c, &err, msg, sizeof msg);
    ASSERT_EQ(Err(), 0u) << msg;
    h->err = 0;  // the reader leaves its code for the absent elements in the handle
    char buf[2048];
    U n = vep_tarnok_body_print(h, db, buf, 2, "body", b, sizeof buf, &err);
    EXPECT_EQ(std::make_pair(Err(), n), std::make_pair(0u, U(std::strlen(buf))));
    EXPECT_STREQ(buf,
                 "  body@vep_tarnok_body: {\n    slot_number: 3\n    bay_number: 1\n    vep_type: 70000\n    scheme: 9\n"
                 "    list spi4_id_mappings count: 2\n"
                 "    list spi4_id_mappings@spi4_mapping: {\n      portnum: 10\n      header_id: 200\n"
                 "      pri@spi4_priority:SPI4_PRI_HI\n    }\n"
                 "    list spi4_id_mappings@spi4_mapping: {\n      portnum: 11\n      header_id: 201\n"
                 "      pri@spi4_priority:SPI4_PRI_LO\n    }\n  }\n");
    n = cc_ids_print_cr(h, c, buf, sizeof buf);
    EXPECT_EQ(n, std::strlen(buf));
    EXPECT_STREQ(buf,
                 "cc_ids@cc_ids: {\n  cc_slot: 5\n  pair_count: 3\n"
                 "  pairs[0]@cc_pair: {\n    lower_bits: 1\n    leased: 0\n  }\n"
                 "  pairs[1]@cc_pair: {\n    lower_bits: 2\n    leased: 1\n  }\n"
                 "  pairs[2]@cc_pair: {\n    lower_bits: 3\n    leased: 0\n  }\n"
                 "}\n");
    vep_tarnok_body_from_xml(h, db, "/r/vep_tarnok_body", d, b, &err, msg, sizeof msg);
    EXPECT_EQ(Err(), 0u) << msg;
    cc_ids_from_xml(h, db, "/r/x/cc_ids", d, refused, &err, msg, sizeof msg);
    qel_xml_doc_free(d);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
    auto portnum = [&](spi4_mapping *m) { return spi4_mapping_portnum_get_value(h, db, m, &err); };
    spi4_mapping *last = vep_tarnok_body_spi4_id_mappings_get_last(h, db, b, &err);
    EXPECT_EQ(std::make_tuple(vep_tarnok_body_spi4_id_mappings_get_count(h, db, b, &err), portnum(last),
                              portnum(vep_tarnok_body_spi4_id_mappings_get_prev(h, db, b, last, &err)),
                              cc_ids_pair_count_get_value(h, db, refused, &err)),
              std::make_tuple(4u, 11u, 10u, 0u));
    EXPECT_EQ(Err(), 0u);
    vep_tarnok_body_destroy(h, db, b);
    for (cc_ids *x : {c, refused}) cc_ids_destroy(h, db, x);
}

// Out-of-range enumerations, a negative variant, a held error, a corrupted handle.
TEST_F(RenderedDeathTest, OutOfRangeEnumerationNegativeVariantHeldErrorAndCorruptedHandle) {
    which_fp *f = which_fp_create(h, db);
    const FieldDesc &how = kTypes[3].fields[2];
    ASSERT_STREQ(how.name, "how_much");
    const uint32_t bound = 3;  // one past REQ_IF_ALL_IDS
    std::memcpy(Bytes(f, how.offset + 12), &bound, 4);
    char buf[512];
    which_fp_print(h, db, buf, 0, "fp", f, sizeof buf, &err);
    EXPECT_STREQ(buf, "fp@which_fp: {\n  slot: 0\n  bay: 0\n  how_much@if_flow_request:Enum value out of range}\n");
    spi4_priority *p = spi4_priority_create(h, db);
    std::memset(Bytes(p, 12), 0xFF, 4);
    EXPECT_EQ(spi4_priority_print_cr(h, p, buf, sizeof buf), 51u);
    EXPECT_STREQ(buf, "spi4_priority@spi4_priority:Enum value out of range");
    qelrt_force_instance_variant(1, -1);
    which_fp_print(h, db, buf, 4, "fp", f, sizeof buf, &err);
    EXPECT_STREQ(buf, "    fp@which_fp: {\n");
    which_fp_to_xml(h, db, "fp", buf, f, sizeof buf, 0, &err);
    EXPECT_STREQ(buf, "<fp></fp>");
    qelrt_force_instance_variant(0, 0);
    h->err = 43;
    std::strcpy(buf, "untouched");
    EXPECT_EQ(std::make_pair(which_fp_print_cr(h, f, buf, sizeof buf), spi4_priority_print_cr(h, p, buf, sizeof buf)),
              std::make_pair(0xFFFFFFFFu, 0xFFFFFFFFu));
    err = 43;
    EXPECT_EQ(which_fp_print(h, db, buf, 0, "fp", f, sizeof buf, &err), 0u);
    EXPECT_STREQ(buf, "untouched");
    h->err = err = 0;
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(which_fp_to_xml(h, db, "fp", buf, f, sizeof buf, 0, &err), "Corrupted QEL Handle");
    qelrt_handle_set_mode(h, 0);
    which_fp_destroy(h, db, f);
    spi4_priority_destroy(h, db, p);
}

// Enumeration elements in and out of range; bad paths and numbers stop the parse.
TEST_F(Rendered, EnumerationElementsAndMalformedNumbers) {
    spi4_priority *p = spi4_priority_create(h, db);
    spi4_priority_set_value(h, db, p, 2, &err);
    char b[128];
    EXPECT_EQ(spi4_priority_to_xml(h, db, "pri", b, p, sizeof b, 5, &err), 25u);
    EXPECT_STREQ(b, "<pri><SPI4_PRI_HI/></pri>");
    std::memset(Bytes(p, 12), 9, 1);
    const U n = spi4_priority_toxml_cr(h, p, b, sizeof b);
    EXPECT_STREQ(b, "<spi4_priority><spi4_priority value out of range/></spi4_priority>");
    EXPECT_FALSE(WellFormed(b));
    EXPECT_EQ(qel_xml_parse_memory(h, b, n, 0, msg, sizeof msg, &err), nullptr);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
    qel_xml_doc_t *d = Doc(b, QEL_XML_RECOVER);
    spi4_priority_from_xml(h, db, "/spi4_priority", d, p, &err, msg, sizeof msg);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(spi4_priority_get_value(h, db, p, &err), 9u);
    qel_xml_doc_free(d);
    d = Doc("<a><pri><SPI4_PRI_LO/></pri><e/></a>");
    spi4_priority_from_xml(h, db, "/a/pri", d, p, &err, msg, sizeof msg);
    EXPECT_EQ(spi4_priority_get_value(h, db, p, &err), 1u);
    spi4_priority_from_xml(h, db, "/a/e", d, p, &err, msg, sizeof msg);  // no known child
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(spi4_priority_get_value(h, db, p, &err), 1u);
    spi4_priority_from_xml(h, db, "/a/pri[", d, p, &err, msg, sizeof msg);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
    EXPECT_STREQ(msg, "Failed xpath: /a/pri[");
    qel_xml_doc_free(d);
    spi4_priority_destroy(h, db, p);
    which_fp *f = which_fp_create(h, db);
    which_fp_slot_set_value(h, db, f, 77, &err);
    for (const char *doc : {"<which_fp><slot>12x</slot></which_fp>", "<which_fp><bay>4294967296</bay></which_fp>",
                            "<which_fp><slot></slot></which_fp>"}) {
        d = Doc(doc);
        which_fp_from_xml(h, db, "/which_fp", d, f, &err, msg, sizeof msg);
        EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID)) << doc;
        const std::string path = std::strstr(doc, "<bay>") ? "/which_fp/bay" : "/which_fp/slot";
        EXPECT_EQ(std::string(msg).rfind("Failed xpath: " + path + ": ", 0), 0u) << msg;
        EXPECT_EQ(which_fp_slot_get_value(h, db, f, &err), 77u);
        qel_xml_doc_free(d);
    }
    which_fp_destroy(h, db, f);
}

}  // namespace
}  // namespace lt
