// xml_render_test.cpp -- XML rendering and parsing of enumerations and
// structured types: element forms, well-formedness (checked with libxml2
// itself), round trips of random objects of every type in both handle
// modes, and documents with absent, extra, malformed or out-of-range parts.
#include <libxml/parser.h>

#include "fixture.h"

namespace lt {
namespace {

using ToXmlFn = U(H, U, const char *, char *, const void *, U, uint8_t, U *);
using FromXmlFn = void(H, U, const char *, qel_xml_doc_t *, void *, U *, char *, U);

bool WellFormed(const std::string &x) {
    xmlDocPtr d = xmlReadMemory(x.data(), int(x.size()), nullptr, nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET);
    xmlFreeDoc(d);
    return d != nullptr;
}

class XmlTypes : public CodecTest {
protected:
    std::string Render(const void *o, uint8_t state = 0) {
        std::string b(1 << 16, '\0');
        U n = Op<ToXmlFn>("to_xml")(h, db, T().name, b.data(), o, U(b.size()), state, &err);
        EXPECT_EQ(Err(), 0u);
        b.resize(n);
        return b;
    }
    // Parses text at "/<type>" into o; the error word.
    U Parse(const std::string &x, void *o, U flags = 0, const char *path = nullptr) {
        qel_xml_doc_t *d = qel_xml_parse_memory(h, x.data(), U(x.size()), flags, msg, sizeof msg, &err);
        if (!d) return Err();
        std::string p = path ? path : "/" + std::string(T().name);
        Op<FromXmlFn>("from_xml")(h, db, p.c_str(), d, o, &err, msg, sizeof msg);
        qel_xml_doc_free(d);
        return Err();
    }
    char msg[256] = {};
};

TEST_P(XmlTypes, RandomObjectsRoundTrip) {
    Modes([&](bool track) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            void *o = Fill(seed, seed == 1 ? 0 : Elems() + seed);
            std::string x = Render(o);
            EXPECT_TRUE(WellFormed(x)) << x;
            if (!track) {
                EXPECT_EQ(x.find(" state="), std::string::npos);
            }
            void *back = Create();
            EXPECT_EQ(Parse(x, back), 0u) << x << msg;
            EXPECT_EQ(ty.Compare(o, back), 0) << x;
            EXPECT_EQ(Render(back), x);
            Destroy(back);
            Destroy(o);
        }
    });
    ExpectNoLeak();
}

TEST_P(XmlTypes, MissingTopElementAbsentAndUnknownChildren) {
    void *o = Fill(7, Elems());
    void *copy = Fill(7, Elems());
    EXPECT_EQ(Parse("<other><x/></other>", o), U(LOMARI_ERR_NOT_FOUND));
    // An element with no known child keeps every field and appends nothing.
    std::string empty = "<" + std::string(T().name) + "><unknown>1</unknown><pair_count>99</pair_count></" +
                        T().name + ">";
    EXPECT_EQ(Parse(empty, o), 0u) << msg;
    EXPECT_EQ(ty.Compare(o, copy), 0);
    Destroy(o);
    Destroy(copy);
}

TEST_P(XmlTypes, CutRenderingsAreRefusedByTheParser) {
    void *o = Fill(3, Elems());
    std::string x = Render(o);
    void *back = Create();
    EXPECT_EQ(Parse(x.substr(0, x.size() - 1), back), U(LOMARI_ERR_INVALID));
    EXPECT_EQ(std::string(msg).rfind("line 1: ", 0), 0u) << msg;
    Destroy(back);
    Destroy(o);
}

INSTANTIATE_TEST_SUITE_P(Types, XmlTypes, ::testing::ValuesIn(AllTypes()), ParamName());

class Xml : public Lomari {
protected:
    qel_xml_doc_t *Doc(const std::string &x, U flags = 0) {
        qel_xml_doc_t *d = qel_xml_parse_memory(h, x.data(), U(x.size()), flags, msg, sizeof msg, &err);
        EXPECT_NE(d, nullptr) << msg;
        return d;
    }
    char msg[256] = {};
};

TEST_F(Xml, EnumerationElements) {
    spi4_priority *p = spi4_priority_create(h, db);
    spi4_priority_set_value(h, db, p, 2, &err);
    char b[128];
    U n = spi4_priority_to_xml(h, db, "pri", b, p, sizeof b, 5, &err);
    EXPECT_STREQ(b, "<pri><SPI4_PRI_HI/></pri>");
    EXPECT_EQ(n, 25u);
    std::memset(Bytes(p, 12), 9, 1);
    spi4_priority_toxml_cr(h, p, b, sizeof b);
    EXPECT_STREQ(b, "<spi4_priority><spi4_priority value out of range/></spi4_priority>");
    EXPECT_FALSE(WellFormed(b));
    // Strict parse refuses it; recovery reads it as holding no enumerator.
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
}

TEST_F(Xml, ListsAppendAndArraysCountFromElements) {
    vep_tarnok_body *b = vep_tarnok_body_create(h, db);
    qel_xml_doc_t *d = Doc(
        "<r><vep_tarnok_body><slot_number>4</slot_number><junk/>"
        "<spi4_id_mappings><portnum>1</portnum><pri><SPI4_PRI_HI/></pri></spi4_id_mappings>"
        "<spi4_id_mappings><header_id>2</header_id></spi4_id_mappings>"
        "<spi4_id_mappings><portnum>3</portnum></spi4_id_mappings></vep_tarnok_body></r>");
    for (int twice = 0; twice < 2; ++twice) vep_tarnok_body_from_xml(h, db, "//vep_tarnok_body", d, b, &err, msg, sizeof msg);
    EXPECT_EQ(Err(), 0u);
    char text[2048];
    vep_tarnok_body_print_cr(h, b, text, sizeof text);
    EXPECT_EQ(vep_tarnok_body_spi4_id_mappings_get_count(h, db, b, &err), 6u) << text;
    spi4_mapping *m = vep_tarnok_body_spi4_id_mappings_get_first(h, db, b, &err);
    EXPECT_EQ(spi4_mapping_pri_get_value(h, db, m, &err), 2u);
    m = vep_tarnok_body_spi4_id_mappings_get_next(h, db, b, m, &err);
    EXPECT_EQ(spi4_mapping_header_id_get_value(h, db, m, &err), 2u);
    qel_xml_doc_free(d);
    vep_tarnok_body_destroy(h, db, b);

    cc_ids *c = cc_ids_create(h, db);
    d = Doc("<cc_ids><pair_count>40</pair_count><pairs><leased>1</leased></pairs><pairs/><pairs><lower_bits>7</lower_bits></pairs></cc_ids>");
    cc_ids_from_xml(h, db, "/cc_ids", d, c, &err, msg, sizeof msg);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(cc_ids_pair_count_get_value(h, db, c, &err), 3u);
    qel_xml_doc_free(d);
    cc_ids_destroy(h, db, c);
}

using XmlDeathTest = Xml;

TEST_F(XmlDeathTest, NegativeVariantAndCorruptedHandle) {
    which_fp *f = which_fp_create(h, db);
    char b[256];
    qelrt_force_instance_variant(1, -1);
    which_fp_to_xml(h, db, "fp", b, f, sizeof b, 0, &err);
    EXPECT_STREQ(b, "<fp></fp>");
    qelrt_force_instance_variant(0, 0);
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(which_fp_to_xml(h, db, "fp", b, f, sizeof b, 0, &err), "Corrupted QEL Handle");
    qelrt_handle_set_mode(h, 0);
    which_fp_destroy(h, db, f);
}

struct Bad {
    const char *doc;
    const char *failed;  // path named in the message
};

TEST_F(Xml, MalformedNumbersStopTheParse) {
    const Bad cases[] = {
        {"<which_fp><slot>12x</slot></which_fp>", "Failed xpath: /which_fp/slot: "},
        {"<which_fp><bay>4294967296</bay></which_fp>", "Failed xpath: /which_fp/bay: "},
        {"<which_fp><slot></slot></which_fp>", "Failed xpath: /which_fp/slot: "},
    };
    for (const Bad &c : cases) {
        which_fp *f = which_fp_create(h, db);
        which_fp_slot_set_value(h, db, f, 77, &err);
        qel_xml_doc_t *d = Doc(c.doc);
        which_fp_from_xml(h, db, "/which_fp", d, f, &err, msg, sizeof msg);
        EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID)) << c.doc;
        EXPECT_EQ(std::string(msg).rfind(c.failed, 0), 0u) << msg;
        EXPECT_EQ(which_fp_slot_get_value(h, db, f, &err), 77u);
        qel_xml_doc_free(d);
        which_fp_destroy(h, db, f);
    }
    // A u8 field refuses 256, a u16 field 65536.
    cc_ids *c = cc_ids_create(h, db);
    qel_xml_doc_t *d = Doc("<cc_ids><pairs><lower_bits>256</lower_bits></pairs></cc_ids>");
    cc_ids_from_xml(h, db, "/cc_ids", d, c, &err, msg, sizeof msg);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
    EXPECT_EQ(cc_ids_pair_count_get_value(h, db, c, &err), 0u);
    qel_xml_doc_free(d);
    cc_ids_destroy(h, db, c);
}

}  // namespace
}  // namespace lt
