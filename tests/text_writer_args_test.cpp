// text_writer_args_test.cpp -- every text and XML writer of the runtime
// refuses what it cannot write: a missing name, value or buffer with
// INVALID, a room too small with SHORT (and an empty string), and does
// nothing at all under an error already present.
#include <functional>

#include "fixture.h"
#include "qel/rt_text.h"

namespace {

using namespace lt;

// (handle, buffer, name, value, room, err) for one writer; the value is a
// number or a string as the writer takes.
using Writer = std::function<U(H, char *, const char *, const void *, U, U *)>;

struct Named {
    const char *name;
    Writer w;
};

std::vector<Named> Writers() {
    auto u8 = [](const void *v) { return static_cast<const u_int8 *>(v); };
    auto u16 = [](const void *v) { return static_cast<const u_int16 *>(v); };
    auto u32 = [](const void *v) { return static_cast<const u_int32 *>(v); };
    auto str = [](const void *v) { return static_cast<const char *>(v); };
    return {
        {"u8_print", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return u_int8_print(h, 0, b, 2, n, u8(v), r, e); }},
        {"u16_print", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return u_int16_print(h, 0, b, 2, n, u16(v), r, e); }},
        {"u32_print", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return u_int32_print(h, 0, b, 2, n, u32(v), r, e); }},
        {"string_print", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return null_string_print(h, 0, b, 2, n, str(v), 8, r, e); }},
        {"start_tag", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return v ? start_tag(h, 0, b, n, r, 1, e) : start_tag(h, 0, b, nullptr, r, 1, e); }},
        {"start_tag_timestamp", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return start_tag_timestamp(h, 0, b, v ? n : nullptr, r, 1, e); }},
        {"end_tag", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return end_tag(h, 0, b, v ? n : nullptr, r, e); }},
        {"enum_print", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return xml_enum_print(h, 0, b, v ? n : nullptr, 4, r, e); }},
        {"u8_xml", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return u_int8_to_xml(h, 0, b, n, u8(v), r, 1, e); }},
        {"u16_xml", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return u_int16_to_xml(h, 0, b, n, u16(v), r, 1, e); }},
        {"u32_xml", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return u_int32_to_xml(h, 0, b, n, u32(v), r, 1, e); }},
        {"string_xml", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return null_string_to_xml(h, 0, b, n, str(v), 8, r, 1, e); }},
        {"space", [=](H h, char *b, const char *, const void *, U r, U *e) { return qel_print_space(h, b, r, 3, e); }},
        {"snprintf", [=](H h, char *b, const char *n, const void *v, U r, U *e) { return qel_snprintf(h, b, r, e, v ? "%s" : nullptr, n); }},
    };
}

class WriterArgs : public Lomari, public ::testing::WithParamInterface<Named> {};

TEST_P(WriterArgs, RefuseWhatTheyCannotWrite) {
    const Writer &w = GetParam().w;
    const char value[] = "\x07\x07\x07\x07<&>\"";  // a number's bytes, and a string that needs escaping
    char buf[256];
    ASSERT_GT(w(h, buf, "field", value, sizeof buf, &err), 0u);
    EXPECT_EQ(Err(), 0u);
    const U full = U(std::strlen(buf));

    err = 7;  // an error already present: nothing happens
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(w(h, buf, "field", value, sizeof buf, &err), 0u);
    EXPECT_EQ(Err(), 7u);
    EXPECT_EQ(buf[0], '#');

    EXPECT_EQ(w(h, nullptr, "field", value, sizeof buf, &err), 0u);  // room but no buffer
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    if (std::string(GetParam().name) != "space") {
        const U missing_name = w(h, buf, nullptr, value, sizeof buf, &err);
        const U e1 = Err();
        const U missing_value = w(h, buf, "field", nullptr, sizeof buf, &err);
        EXPECT_TRUE((missing_name == 0 && e1 == QEL_TEXT_INVALID) || (missing_value == 0 && Err() == QEL_TEXT_INVALID));
        err = 0;
    }
    EXPECT_EQ(w(h, buf, "field", value, full, &err), 0u);  // one short of the terminator
    EXPECT_EQ(Err(), QEL_TEXT_SHORT);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(w(h, nullptr, "field", value, 0, &err), 0u);
    EXPECT_EQ(Err(), QEL_TEXT_SHORT);
}

INSTANTIATE_TEST_SUITE_P(Runtime, WriterArgs, ::testing::ValuesIn(Writers()),
                         [](const ::testing::TestParamInfo<Named> &i) { return std::string(i.param.name); });

// The parsed-document readers refuse missing documents, paths and
// destinations with INVALID (and a message naming the path), and work
// without an error word or a message buffer.
TEST_F(Lomari, DocumentReadersRefuseMissingArguments) {
    const char text[] = "<a><n>7</n><s>x&amp;y</s><e/></a>";
    char msg[64], value[16];
    U count = 9;
    EXPECT_EQ(qel_xml_parse_memory(h, nullptr, 3, 0, msg, sizeof msg, &err), nullptr);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_EQ(qel_xml_parse_file(h, nullptr, 0, msg, sizeof msg, &err), nullptr);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_EQ(qel_xml_parse_file(h, "/nonexistent/doc.xml", 0, nullptr, 0, &err), nullptr);
    EXPECT_NE(Err(), 0u);
    EXPECT_EQ(qel_xml_parse_memory(h, "<a>", 3, 0, nullptr, 0, nullptr), nullptr);  // no error word, no message
    qel_xml_doc_t *d = qel_xml_parse_memory(h, text, sizeof text - 1, 0, nullptr, 0, nullptr);
    ASSERT_NE(d, nullptr);

    EXPECT_NE(xml_get_element_nodecount(h, nullptr, "/a", &count, &err), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_NE(xml_get_element_nodecount(h, d, nullptr, &count, nullptr), 0u);
    EXPECT_EQ(xml_get_element_nodecount(h, d, "/a/*", &count, nullptr), 0u);
    EXPECT_EQ(count, 3u);
    EXPECT_NE(xml_get_element_value(h, d, "/a/s", nullptr, 4, &err), 0u);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_EQ(xml_get_element_value(h, d, "/a/s", value, sizeof value, nullptr), 0u);
    EXPECT_STREQ(value, "x&y");
    EXPECT_NE(xml_get_element_value(h, d, "/a/s", value, 3, nullptr), 0u);  // no room for the text

    u_int32 v = 0;
    EXPECT_NE(u_int32_from_xml(h, db, nullptr, d, &v, &err, msg, sizeof msg), 0u);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_NE(u_int32_from_xml(h, db, "/a/n", d, nullptr, &err, nullptr, 0), 0u);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_EQ(u_int32_from_xml(h, db, "/a/n", d, &v, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(v, 7u);
    EXPECT_NE(u_int32_from_xml(h, db, "/a/s", d, &v, &err, msg, 8), 0u);  // not a number: a cut message
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_LT(std::strlen(msg), 8u);
    EXPECT_NE(null_string_from_xml(h, db, "/a/s", nullptr, value, 8, &err, msg, sizeof msg), 0u);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_EQ(null_string_from_xml(h, db, "/a/s", d, value, 8, nullptr, nullptr, 0), 0u);
    EXPECT_STREQ(value, "x&y");
    EXPECT_NE(null_string_from_xml(h, db, "/a/s", d, value, 2, &err, nullptr, 0), 0u);  // longer than the bound
    EXPECT_NE(Err(), 0u);
    qel_xml_doc_free(d);
    qel_xml_doc_free(nullptr);
}

}  // namespace
