// xml_reader_test.cpp -- the runtime's parsed documents and path readers: the
// walk agrees with XPath; values read or refused; bad documents refused or recovered.
#include "fixture.h"
#include "qel/rt_control_text.h"

namespace lt {
namespace {

const char kDoc[] =
    "<?xml version=\"1.0\"?>\n<root v=\"6\">"
    "<b><a><n>1</n></a><a><n> 2 </n><a><n>3</n></a></a><c/><a><n>4</n></a></b>"
    "<b><a><n>5</n></a></b>"
    "<u8>255</u8><u8big>256</u8big><u16>65535</u16><u16big>65536</u16big>"
    "<u32>4294967295</u32><u32big>99999999999999999999</u32big>"
    "<neg>-1</neg><hex>0x10</hex><empty/><mixed>1<x/>2</mixed><cd><![CDATA[7]]></cd>"
    "<x-1.y>9</x-1.y><p:q xmlns:p=\"urn:q\">8</p:q><!-- note --><?pi x?><w>a<!-- c -->b</w><s>x&amp;y</s>"
    "</root>";

class Reader : public Lomari {
protected:
    void SetUp() override {
        Lomari::SetUp();
        d = qel_xml_parse_memory(h, kDoc, sizeof kDoc - 1, 0, msg, sizeof msg, &err);
        ASSERT_NE(d, nullptr) << msg;
    }
    void TearDown() override {
        qel_xml_doc_free(d);
        qelrt_xml_set_path_mode(QELRT_XML_PATH_WALK);
        Lomari::TearDown();
    }
    U Count(const char *p) {
        U c = 99;
        xml_get_element_nodecount(h, d, p, &c, &err);
        return c;
    }
    std::string Value(const char *p) {
        char v[64] = "?";
        U rc = xml_get_element_value(h, d, p, v, sizeof v, &err);
        return rc ? "rc" + std::to_string(rc) : v;
    }
    qel_xml_doc_t *d = nullptr;
    char msg[256] = {};
};

// Fixed and random paths (long sibling runs asked in every order) get XPath's answers.
TEST_F(Reader, WalkAgreesWithXPath) {
    std::string many = "<r>";
    for (int i = 0; i < 60; ++i)
        many += std::string(i % 3 ? "" : "<b/>") + "<a><n>" + std::to_string(i) + "</n>" + (i % 7 ? "" : "<a><n>x</n></a>") + "</a>";
    many += "</r>";
    qel_xml_doc_t *fixture = d, *d2 = qel_xml_parse_memory(h, many.data(), U(many.size()), 0, msg, sizeof msg, &err);
    ASSERT_NE(d2, nullptr) << msg;
    std::vector<std::string> fixed;
    for (const char *p : {"//a", "//a/n", "//a[1]/n", "//a[2]", "/root/b/a[2]/n", "root/b[2]/a/n", "//b/a[2]/a/n", "//a[0]", "//nothing",
                          "/b", "//root/u8", "//n", "//b[2]", "//a/a/n", "/root/b/a[3]", "//x-1.y", "/root/x-1.y", "//q", "//p:q", "//w",
                          "//1a", "//-a", "/", "//", "//a//n", "//a/", "//a[", "//a[x]", "//a[1", "//a[1234567890]",
                          "/root/b/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/n", "//n/text()", "/root/@v",
                          "count(//a)", "//a[@"})
        fixed.insert(fixed.end(), 3, p);
    const struct {
        qel_xml_doc_t *doc;
        std::vector<const char *> names;
        U positions;
        std::string start;               // of every random path: "" or a step to position
        std::vector<std::string> paths;  // asked first, in this order
    } rows[] = {
        {d, {"root", "a", "b", "n", "c", "u8"}, 4, "", fixed},
        {d2, {"a", "b", "n"}, 64, "/r/a",
         {"/r/a", "/r/a/n", "/r/b", "/r/a", "/r/a/a/n", "/r/a[30]/n", "/r/a[1]/n", "/r/a[35]/n", "/r/a[61]/n", "/r/a[60]/n", "/r/a[58]/n", "/r/a[59]/n",
          "/r/a[62]", "/r/a[20]/n", "/r/a[0]", "/r/a[29]/a/n", "//a[43]/n", "//a[1]/n", "/r/a[43]/a[1]/n"}},
    };
    std::mt19937 rng(9);
    for (const auto &row : rows) {
        std::vector<std::string> paths = row.paths;
        const bool any = row.start.empty();
        for (int i = 0; i < 400; ++i) {
            std::string p = any           ? (rng() % 2 ? "//" : "/")
                            : rng() % 4 ? row.start + "[" + std::to_string(rng() % row.positions) + "]"
                                        : row.start;
            for (U k = 0, n = (any ? 1 : 0) + rng() % 3; k < n; ++k) {
                p += std::string(k || !any ? "/" : "") + row.names[rng() % row.names.size()];
                if (rng() % 3 == 0) p += "[" + std::to_string(rng() % row.positions) + "]";
            }
            paths.push_back(p);
            if (i % 5 == 0) paths.push_back(paths[rng() % paths.size()]);  // repeats and revisits
        }
        d = row.doc;
        // Path i is asked for its value, its count, or its count then value.
        auto ask = [&](size_t i) {
            const char *p = paths[i].c_str();
            if (i % 3 == 0) return Value(p);
            const std::string c = std::to_string(Count(p));
            return i % 3 == 1 ? c : c + " " + Value(p);
        };
        std::vector<std::string> seen[3];
        for (auto mode : {QELRT_XML_PATH_WALK, QELRT_XML_PATH_XPATH_CACHED, QELRT_XML_PATH_XPATH}) {
            qelrt_xml_set_path_mode(mode);
            for (size_t i = 0; i < paths.size(); ++i) seen[mode].push_back(ask(i));
        }
        for (size_t i = 0; i < paths.size(); ++i)
            EXPECT_EQ(std::pair(seen[1][i], seen[2][i]), std::pair(seen[0][i], seen[0][i])) << paths[i];
    }
    d = fixture;
    qel_xml_doc_free(d2);
    EXPECT_EQ(Count("//a"), 5u);
    const std::vector<std::string> values = {Value("//a[2]/n"), Value("//mixed"), Value("//cd"), Value("/root/@v"),
                                             Value("//n/text()"), Value("count(//a)"), Value("//s")};
    EXPECT_EQ(values, (std::vector<std::string>{" 2 ", "12", "7", "6", "1", "rc22", "x&y"}));
    qelrt_xml_stats_t st;
    qelrt_xml_set_path_mode(QELRT_XML_PATH_WALK);
    qelrt_xml_stats_reset();
    Count("//a/n");
    Count("//count(a)|");  // not a simple path: the XPath engine refuses it
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    qelrt_xml_stats(&st);
    EXPECT_EQ(std::pair(st.walked, st.xpath), std::pair(uint64_t(1), uint64_t(1)));
}

// Numbers of each width read or refused, with or without error word and message.
TEST_F(Reader, NumbersReadOrRefused) {
    const struct { const char *path; int width; U rc, value; } cases[] = {
        {"//u8", 8, 0, 255},          {"//u8big", 8, 22, 0},  {"//u16", 16, 0, 65535},
        {"//u16big", 16, 22, 0},      {"//u32", 32, 0, 4294967295u}, {"//u32big", 32, 22, 0},
        {"//a[2]/n", 8, 0, 2},        {"//neg", 32, 22, 0},   {"//hex", 32, 22, 0},
        {"//empty", 32, 22, 0},       {"//missing", 8, 2, 0}, {"//a[", 16, 22, 0},  {"//s", 32, 22, 0},
    };
    for (const auto &c : cases)
        for (bool words : {true, false}) {
            SCOPED_TRACE(std::string(c.path) + (words ? "" : " without error word or message"));
            u_int32 v32 = 77;
            u_int16 v16 = 77;
            u_int8 v8 = 77;
            std::strcpy(msg, "");
            U *e = words ? &err : nullptr;
            char *m = words ? msg : nullptr;
            const U room = words ? 8 + U(std::strlen(c.path)) + 16 : 0;  // the message cut to its room
            U rc = c.width == 8    ? u_int8_from_xml(h, db, c.path, d, &v8, e, m, room)
                   : c.width == 16 ? u_int16_from_xml(h, db, c.path, d, &v16, e, m, room)
                                   : u_int32_from_xml(h, db, c.path, d, &v32, e, m, room);
            EXPECT_EQ(std::make_tuple(rc, Err(), U(c.width == 8 ? v8 : c.width == 16 ? v16 : v32)),
                      std::make_tuple(c.rc, words ? c.rc : 0u, c.rc ? 77u : c.value));
            EXPECT_EQ(std::exchange(h->err, 0), c.rc == QEL_TEXT_INVALID ? QEL_TEXT_INVALID : 0u);
            if (c.rc == QEL_TEXT_INVALID && words) {
                EXPECT_EQ(std::string(msg).rfind(std::string("Failed xpath: ") + c.path, 0), 0u) << msg;
                EXPECT_LT(std::strlen(msg), room);
            } else {
                EXPECT_STREQ(msg, "");
            }
        }
}

// Strings and values within their room read, else refused; private-use bytes, not NUL.
TEST_F(Reader, StringsAndValuesReadOrRefused) {
    char s[8] = "xxxxxxx", v[4];
    auto str = [&](qel_xml_doc_t *doc, const char *p, U room, bool words = false) {  // the result, the string after it
        const U rc = null_string_from_xml(h, db, p, doc, s, room, words ? &err : nullptr, words ? msg : nullptr, words ? sizeof msg : 0);
        return std::pair(rc, std::string(s));
    };
    EXPECT_EQ(str(d, "//u32", 7, true), std::pair(QEL_TEXT_INVALID, std::string("xxxxxxx")));
    EXPECT_EQ(std::exchange(h->err, 0), QEL_TEXT_INVALID);
    EXPECT_EQ(str(d, "//u16", 7, true), std::pair(0u, std::string("65535")));
    EXPECT_EQ(str(d, "//s", 3), std::pair(0u, std::string("x&y")));
    EXPECT_EQ(str(d, "//s", 2).first, QEL_TEXT_INVALID);
    EXPECT_EQ(xml_get_element_value(h, d, "//u16", v, sizeof v, &err), QEL_TEXT_SHORT);
    EXPECT_EQ(xml_get_element_value(h, d, "//s", v, sizeof v, nullptr), 0u);
    EXPECT_STREQ(v, "x&y");
    EXPECT_EQ(xml_get_element_value(h, d, "//s", v, 3, nullptr), QEL_TEXT_SHORT);
    U c = 9;
    EXPECT_EQ(xml_get_element_nodecount(h, d, "/root/b/*", &c, nullptr), 0u);
    EXPECT_EQ(c, 5u);
    Err();
    h->err = 0;
    const std::string x = "<r><s>a\xEE\x81\x81" "b</s><z>\xEE\x80\x80</z></r>";
    qel_xml_doc_t *d2 = qel_xml_parse_memory(h, x.data(), U(x.size()), 0, msg, sizeof msg, &err);
    ASSERT_NE(d2, nullptr) << msg;
    EXPECT_EQ(str(d2, "/r/s", 7, true), std::pair(0u, std::string("aAb")));
    EXPECT_EQ(str(d2, "/r/z", 7, true).first, QEL_TEXT_INVALID);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    qel_xml_doc_free(d2);
}

// A missing document, path, destination, text or file name: 22, nothing written.
TEST_F(Reader, MissingArgumentsAreRefused) {
    char v[8] = "x";
    U c = 7;
    u_int32 n = 5;
    for (int k = 0; k < 3; ++k) {
        qel_xml_doc_t *doc = k == 0 ? nullptr : d;
        const char *path = k == 1 ? nullptr : "//u8";
        EXPECT_EQ(xml_get_element_value(h, doc, path, k == 2 ? nullptr : v, sizeof v, &err), QEL_TEXT_INVALID);
        EXPECT_EQ(xml_get_element_nodecount(h, doc, path, k == 2 ? nullptr : &c, &err), QEL_TEXT_INVALID);
        EXPECT_EQ(xml_get_element_nodecount(h, doc, path, k == 2 ? nullptr : &c, nullptr), QEL_TEXT_INVALID);
        EXPECT_EQ(u_int32_from_xml(h, db, path, doc, k == 2 ? nullptr : &n, &err, msg, sizeof msg), QEL_TEXT_INVALID);
        EXPECT_EQ(std::string(msg).rfind(std::string("Failed xpath: ") + (path ? path : "(null)"), 0), 0u) << msg;
        EXPECT_EQ(null_string_from_xml(h, db, path, doc, k == 2 ? nullptr : v, 7, &err, nullptr, 0), QEL_TEXT_INVALID);
        EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    }
    EXPECT_EQ(std::make_tuple(std::string(v), c, n), std::make_tuple(std::string("x"), 0u, 5u));
    EXPECT_EQ(qel_xml_parse_memory(h, nullptr, 4, 0, msg, sizeof msg, &err), nullptr);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_EQ(qel_xml_parse_file(h, nullptr, 0, msg, sizeof msg, &err), nullptr);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    qel_xml_doc_free(nullptr);
}

// Not well-formed: refused with line and first error, or recovered; DTDs never.
TEST_F(Lomari, DocumentsRefusedOrRecovered) {
    char msg[256];
    const std::string bad = "<a>\n<pri>\n<spi4_priority value out of range/></pri></a>";
    EXPECT_EQ(qel_xml_parse_memory(h, bad.data(), U(bad.size()), 0, msg, sizeof msg, &err), nullptr);
    EXPECT_EQ(Err(), QEL_TEXT_INVALID);
    EXPECT_EQ(std::string(msg).rfind("line 3: ", 0), 0u) << msg;
    std::string huge = "<a>";
    for (int i = 0; i < 6'000'000; ++i) huge += "\xC3\xA9";
    huge += "</a>";
    EXPECT_EQ(qel_xml_parse_memory(h, huge.data(), U(huge.size()), 0, msg, sizeof msg, &err), nullptr);
    EXPECT_NE(std::string(msg).find("huge text node"), std::string::npos) << msg;
    qel_xml_doc_t *d = qel_xml_parse_memory(h, bad.data(), U(bad.size()), QEL_XML_RECOVER, msg, sizeof msg, &err);
    ASSERT_NE(d, nullptr);
    U c = 0;
    xml_get_element_nodecount(h, d, "/a/pri/spi4_priority", &c, &err);
    EXPECT_EQ(c, 1u);
    qel_xml_doc_free(d);
    for (std::string t : {std::string("<!DOCTYPE a [<!ENTITY x \"y\">]><a>&x;</a>"), std::string(""), std::string("text")}) {
        EXPECT_EQ(qel_xml_parse_memory(h, t.data(), U(t.size()), QEL_XML_RECOVER, msg, sizeof msg, &err), nullptr) << t;
        EXPECT_EQ(Err(), QEL_TEXT_INVALID) << t;
    }
    EXPECT_EQ(qel_xml_parse_file(h, "/nonexistent/x.xml", 0, msg, sizeof msg, &err), nullptr);
    EXPECT_EQ(Err(), QEL_TEXT_ABSENT);
    EXPECT_EQ(qel_xml_parse_file(h, "/nonexistent/x.xml", 0, nullptr, 0, &err), nullptr);
    EXPECT_EQ(Err(), QEL_TEXT_ABSENT);
    EXPECT_EQ(qel_xml_parse_memory(h, "<a>", 3, 0, nullptr, 0, nullptr), nullptr);
    d = qel_xml_parse_memory(h, "<a/>", 4, 0, nullptr, 0, nullptr);
    EXPECT_NE(d, nullptr);
    qel_xml_doc_free(d);
}

}  // namespace
}  // namespace lt
