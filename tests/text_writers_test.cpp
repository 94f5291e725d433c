// text_writers_test.cpp -- the runtime's bounded text and XML writers: exact
// output, escaping, every room, refusals, an error present.  (Readers: xml_reader_test.)
#include <regex>

#include "fixture.h"
#include "qel/rt_text.h"

namespace lt {
namespace {

// One writer with its other arguments fixed: (handle, buffer, name, value, room, err).
using Writer = U (*)(H, char *, const char *, const void *, U, U *);

// The sample's name and value (both null: the writer takes neither), and the text expected.
struct Case { const char *what; Writer write; const char *name; const void *value; const char *expect; };

const u_int8 k8 = 200;
const u_int16 k16 = 65535;
const u_int32 k32 = 4000000000u;
template <class T>
const T *As(const void *v) { return static_cast<const T *>(v); }
#define WRITER(call) [](H h, char *b, [[maybe_unused]] const char *n, [[maybe_unused]] const void *v, U r, U *e) -> U { return call; }

const Case kCases[] = {
    {"snprintf", WRITER(qel_snprintf(h, b, r, e, n ? "%s@%s: {\n" : nullptr, n, "y")), "x", nullptr, "x@y: {\n"},
    {"space", WRITER(qel_print_space(h, b, r, 3, e)), nullptr, nullptr, "   "},
    {"u8", WRITER(u_int8_print(h, 0, b, 2, n, As<u_int8>(v), r, e)), "scheme", &k8, "  scheme: 200\n"},
    {"u16", WRITER(u_int16_print(h, 0, b, 0, n, As<u_int16>(v), r, e)), "flow_id", &k16, "flow_id: 65535\n"},
    {"u32", WRITER(u_int32_print(h, 0, b, 1, n, As<u_int32>(v), r, e)), "slot", &k32, " slot: 4000000000\n"},
    {"str", WRITER(null_string_print(h, 0, b, 2, n, As<char>(v), 4, r, e)), "dbkey", "abcdef", "  dbkey: \"abcd\"\n"},
    {"start", WRITER(start_tag(h, 0, b, n, r, 0, e)), "pri", nullptr, "<pri>"},
    {"start_state", WRITER(start_tag(h, 0, b, n, r, 2, e)), "pri", nullptr, "<pri state=\"2\">"},
    {"end", WRITER(end_tag(h, 0, b, n, r, e)), "pri", nullptr, "</pri>"},
    {"enum", WRITER(xml_enum_print(h, 0, b, n, 14, r, e)), "<SPI4_PRI_HI/>xx", nullptr, "<SPI4_PRI_HI/>"},
    {"x8", WRITER(u_int8_to_xml(h, 0, b, n, As<u_int8>(v), r, 0, e)), "leased", &k8, "<leased>200</leased>"},
    {"x16", WRITER(u_int16_to_xml(h, 0, b, n, As<u_int16>(v), r, 2, e)), "connection_id", &k16,
     "<connection_id state=\"2\">65535</connection_id>"},
    {"x32", WRITER(u_int32_to_xml(h, 0, b, n, As<u_int32>(v), r, 0, e)), "vc", &k32, "<vc>4000000000</vc>"},
    {"xstr", WRITER(null_string_to_xml(h, 0, b, n, As<char>(v), 31, r, 1, e)), "dbkey", "a<&>\"'\t\x01\xc3",
     "<dbkey state=\"1\">a&lt;&amp;&gt;&quot;&apos;&#9;&#xE001;&#xE0C3;</dbkey>"},
    {"stamp", WRITER(start_tag_timestamp(h, 0, b, n, r, 1, e)), "lomari", nullptr, nullptr},
};

class Writers : public Lomari, public ::testing::WithParamInterface<const Case *> {};

TEST_P(Writers, ExactTextEveryCutLengthAndRefusals) {
    const Case &c = *GetParam();
    auto write = [&](char *b, U room) { return c.write(h, b, c.name, c.value, room, &err); };
    char full[512];
    const U n = write(full, sizeof full);
    ASSERT_EQ(std::make_pair(Err(), n), std::make_pair(0u, U(std::strlen(full))));
    const std::regex stamp(R"(<lomari state="1" time="\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z">)");
    EXPECT_TRUE(c.expect ? std::string(full) == c.expect : std::regex_match(full, stamp)) << full;
    for (U room = 0; room <= n + 1; ++room) {
        std::vector<char> b(room + 8, '#');
        const U got = write(b.data(), room);
        ASSERT_EQ(std::string(b.data() + room, 8), "########") << "wrote past room " << room;
        const bool fits = room > n;  // else 0 and 90, in the handle too, and an empty string if there is room
        EXPECT_EQ(std::make_tuple(got, Err(), std::exchange(h->err, 0), room && !fits ? b[0] : '\0'),
                  std::make_tuple(fits ? n : 0u, fits ? 0u : QEL_TEXT_SHORT, fits ? 0u : QEL_TEXT_SHORT, '\0')) << room;
    }
    // No buffer; a missing name or value.
    auto result = [&](U got) { return std::pair{got, Err()}; };  // the error word read after the call
    EXPECT_EQ(result(write(nullptr, 0)), std::pair(0u, QEL_TEXT_SHORT));
    EXPECT_EQ(result(write(nullptr, sizeof full)), std::pair(0u, QEL_TEXT_INVALID));
    if (c.name) {
        EXPECT_EQ(result(c.write(h, full, nullptr, c.value, sizeof full, &err)), std::pair(0u, QEL_TEXT_INVALID));
    }
    if (c.value) {
        EXPECT_EQ(result(c.write(h, full, c.name, nullptr, sizeof full, &err)), std::pair(0u, QEL_TEXT_INVALID));
    }
    h->err = 0;
    err = 7;  // an error already present: nothing written
    char b[4] = "abc";
    EXPECT_EQ(write(b, sizeof b), 0u);
    EXPECT_EQ(std::make_tuple(std::string(b), Err(), h->err), std::make_tuple(std::string("abc"), 7u, 0u));
}

INSTANTIATE_TEST_SUITE_P(All, Writers, ::testing::ValuesIn(Each(kCases)),
                         [](const auto &i) { return std::string(i.param->what); });

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
