// text_writers_test.cpp -- the runtime's bounded text and XML writers:
// exact output, escaping that keeps any string well-formed and readable
// back, and room cut at every length (no byte past the room, 90 reported,
// a clean NUL-terminated prefix).
#include <libxml/parser.h>

#include <functional>

#include "fixture.h"

namespace lt {
namespace {

using Writer = std::function<U(H, char *, U, U *)>;

struct Case {
    const char *name;
    Writer write;
    const char *expect;  // null: checked by the test itself
};

const u_int8 k8 = 200;
const u_int16 k16 = 65535;
const u_int32 k32 = 4000000000u;

std::vector<Case> Cases() {
    return {
        {"snprintf", [](H h, char *b, U r, U *e) { return qel_snprintf(h, b, r, e, "%s@%s: {\n", "x", "y"); }, "x@y: {\n"},
        {"space", [](H h, char *b, U r, U *e) { return qel_print_space(h, b, r, 3, e); }, "   "},
        {"u8", [](H h, char *b, U r, U *e) { return u_int8_print(h, 0, b, 2, "scheme", &k8, r, e); }, "  scheme: 200\n"},
        {"u16", [](H h, char *b, U r, U *e) { return u_int16_print(h, 0, b, 0, "flow_id", &k16, r, e); }, "flow_id: 65535\n"},
        {"u32", [](H h, char *b, U r, U *e) { return u_int32_print(h, 0, b, 1, "slot", &k32, r, e); }, " slot: 4000000000\n"},
        {"str", [](H h, char *b, U r, U *e) { return null_string_print(h, 0, b, 2, "dbkey", "abcdef", 4, r, e); }, "  dbkey: \"abcd\"\n"},
        {"start", [](H h, char *b, U r, U *e) { return start_tag(h, 0, b, "pri", r, 0, e); }, "<pri>"},
        {"start_state", [](H h, char *b, U r, U *e) { return start_tag(h, 0, b, "pri", r, 2, e); }, "<pri state=\"2\">"},
        {"end", [](H h, char *b, U r, U *e) { return end_tag(h, 0, b, "pri", r, e); }, "</pri>"},
        {"enum", [](H h, char *b, U r, U *e) { return xml_enum_print(h, 0, b, "<SPI4_PRI_HI/>xx", 14, r, e); }, "<SPI4_PRI_HI/>"},
        {"x8", [](H h, char *b, U r, U *e) { return u_int8_to_xml(h, 0, b, "leased", &k8, r, 0, e); }, "<leased>200</leased>"},
        {"x16", [](H h, char *b, U r, U *e) { return u_int16_to_xml(h, 0, b, "connection_id", &k16, r, 2, e); },
         "<connection_id state=\"2\">65535</connection_id>"},
        {"x32", [](H h, char *b, U r, U *e) { return u_int32_to_xml(h, 0, b, "vc", &k32, r, 0, e); }, "<vc>4000000000</vc>"},
        {"xstr", [](H h, char *b, U r, U *e) { return null_string_to_xml(h, 0, b, "dbkey", "a<&>\"'\t\x01\xc3", 31, r, 0, e); },
         "<dbkey>a&lt;&amp;&gt;&quot;&apos;&#9;&#xE001;&#xE0C3;</dbkey>"},
        {"stamp", [](H h, char *b, U r, U *e) { return start_tag_timestamp(h, 0, b, "lomari", r, 0, e); }, nullptr},
    };
}

class Writers : public Lomari, public ::testing::WithParamInterface<Case> {};

TEST_P(Writers, ExactTextAndEveryCutLength) {
    const Case &c = GetParam();
    char full[512];
    U n = c.write(h, full, sizeof full, &err);
    ASSERT_EQ(Err(), 0u);
    ASSERT_EQ(n, std::strlen(full));
    if (c.expect) {
        EXPECT_STREQ(full, c.expect);
    } else {
        EXPECT_EQ(std::string(full, 14), "<lomari time=\"");
        EXPECT_EQ(n, 14u + 27u + 2u) << full;
    }
    for (U room = 0; room <= n + 1; ++room) {
        std::vector<char> b(room + 8, '#');
        U got = c.write(h, b.data(), room, &err);
        for (U k = room; k < room + 8; ++k) ASSERT_EQ(b[k], '#') << "wrote past room " << room;
        if (room > n) {
            EXPECT_EQ(got, n);
            EXPECT_EQ(Err(), 0u);
        } else {
            EXPECT_EQ(got, 0u);
            EXPECT_EQ(Err(), QEL_TEXT_SHORT) << room;
            EXPECT_EQ(h->err, QEL_TEXT_SHORT);
            if (room) {
                EXPECT_EQ(b[0], '\0');
            }
        }
        h->err = 0;
    }
    err = 7;  // an error already set: nothing written
    char b[4] = "abc";
    EXPECT_EQ(c.write(h, b, sizeof b, &err), 0u);
    EXPECT_STREQ(b, "abc");
    EXPECT_EQ(Err(), 7u);
}

INSTANTIATE_TEST_SUITE_P(All, Writers, ::testing::ValuesIn(Cases()),
                         [](const auto &i) { return std::string(i.param.name); });

// Any byte string renders as well-formed XML and reads back unchanged.
TEST_F(Lomari, StringElementsAreWellFormedAndReadBack) {
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        char s[32] = {};
        U len = rng() % 32;
        for (U k = 0; k < len; ++k) s[k] = char(1 + rng() % 255);
        char xml[512];
        U n = null_string_to_xml(h, 0, xml, "dbkey", s, 31, sizeof xml, 0, &err);
        ASSERT_EQ(Err(), 0u);
        qel_xml_doc_t *d = qel_xml_parse_memory(h, xml, n, 0, nullptr, 0, &err);
        ASSERT_NE(d, nullptr) << xml;
        char back[32];
        std::memset(back, 'z', sizeof back);
        EXPECT_EQ(null_string_from_xml(h, 0, "/dbkey", d, back, 31, &err, nullptr, 0), 0u);
        EXPECT_STREQ(back, s);
        qel_xml_doc_free(d);
    }
}

}  // namespace
}  // namespace lt
