// codec_entries_test.cpp -- how every codec entry (print, to_xml, from_xml,
// marshal, unmarshal) of every structured type and enumeration starts: an
// error already present leaves buffer, object and error as they were; a
// missing buffer, document, name, path or object is refused with INVALID
// (a structured type's element in no document is absent, NOT_FOUND), as is
// a path that would not fit the parser's room.
#include "fixture.h"

namespace lt {
namespace {

struct Args {
    H h;
    U db;
    void *o;
    char *buf;
    const char *name;  // the name, or the path of from_xml
    qel_xml_doc_t *doc;
    U len;
    U *err;
};

struct Entry {
    const char *op;
    std::function<U(const std::string &, const Args &)> call;  // bytes written (0 for from_xml)
};

const Entry kEntries[] = {
    {"print", [](const std::string &n, const Args &a) {
         return Api<U(H, U, char *, U, const char *, const void *, U, U *)>(n, "print")(a.h, a.db, a.buf, 0, a.name,
                                                                                      a.o, a.len, a.err);
     }},
    {"to_xml", [](const std::string &n, const Args &a) {
         return Api<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>(n, "to_xml")(a.h, a.db, a.name, a.buf,
                                                                                             a.o, a.len, 0, a.err);
     }},
    {"from_xml", [](const std::string &n, const Args &a) {
         Api<void(H, U, const char *, qel_xml_doc_t *, void *, U *, char *, U)>(n, "from_xml")(a.h, a.db, a.name, a.doc,
                                                                                             a.o, a.err, nullptr, 0);
         return 0u;
     }},
    {"marshal", [](const std::string &n, const Args &a) {
         return Api<U(H, U, uint8_t *, const void *, U, U *)>(n, "marshal")(a.h, a.db, reinterpret_cast<uint8_t *>(a.buf),
                                                                          a.o, a.len, a.err);
     }},
    {"unmarshal", [](const std::string &n, const Args &a) {
         return Api<U(H, U, const uint8_t *, void *, U, U, U *)>(n, "unmarshal")(
             a.h, a.db, reinterpret_cast<const uint8_t *>(a.buf), a.o, a.len, 0, a.err);
     }},
};

class Entries : public Lomari, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        Lomari::SetUp();
        o = Api<void *(H, U)>(GetParam(), "create")(h, db);
        ASSERT_NE(o, nullptr);
        const std::string x = "<" + GetParam() + "/>";
        doc = qel_xml_parse_memory(h, x.data(), U(x.size()), 0, nullptr, 0, &err);
        ASSERT_NE(doc, nullptr);
    }
    void TearDown() override {
        qel_xml_doc_free(doc);
        Api<void(H, U, void *)>(GetParam(), "destroy")(h, db, o);
        Lomari::TearDown();
    }
    // The object's encoding: what a refused call must leave as it was.
    std::vector<uint8_t> Bytes() {
        std::vector<uint8_t> b(4096);
        U e = 0;
        b.resize(Api<U(H, U, uint8_t *, const void *, U, U *)>(GetParam(), "marshal")(h, db, b.data(), o, U(b.size()), &e));
        return b;
    }
    Args Valid(char *buf, U len) { return {h, db, o, buf, path.c_str(), doc, len, &err}; }
    void *o = nullptr;
    qel_xml_doc_t *doc = nullptr;
    std::string path = "/" + GetParam();
};

bool IsEnum(const std::string &n) {
    for (const EnumDesc &e : kEnums)
        if (n == e.name) return true;
    return false;
}

TEST_P(Entries, AnErrorPresentLeavesEverythingAsItWas) {
    const std::vector<uint8_t> before = Bytes();
    for (const Entry &e : kEntries) {
        char buf[4096];
        std::memset(buf, 'Z', sizeof buf);
        if (std::string(e.op) == "unmarshal") std::memcpy(buf, before.data(), before.size());
        err = 7;
        EXPECT_EQ(e.call(GetParam(), Valid(buf, sizeof buf)), 0u) << e.op;
        EXPECT_EQ(Err(), 7u) << e.op;
        EXPECT_EQ(buf[before.size() + 1], 'Z') << e.op;
        EXPECT_EQ(Bytes(), before) << e.op;
    }
}

TEST_P(Entries, MissingArgumentsAreRefused) {
    const std::vector<uint8_t> good = Bytes();
    for (const Entry &e : kEntries) {
        const std::string op = e.op;
        char buf[4096];
        std::memcpy(buf, good.data(), good.size());
        // Each argument missing in turn: the object, the name or path, the buffer or document.
        for (int missing = 0; missing < 3; ++missing) {
            Args a = Valid(buf, U(op == "unmarshal" ? good.size() : sizeof buf));
            if (missing == 0) a.o = nullptr;
            if (missing == 1) {
                if (op == "marshal" || op == "unmarshal") continue;
                a.name = nullptr;
            }
            if (missing == 2) {
                a.buf = nullptr;
                a.doc = nullptr;
            }
            const U n = e.call(GetParam(), a);
            const U got = Err();
            // Rendering a missing object of a structured type shows its empty
            // frame; a structured type's element in no document is absent.
            const bool renders = (op == "print" || op == "to_xml") && missing == 0 && !IsEnum(GetParam());
            const bool absent = op == "from_xml" && missing == 2 && !IsEnum(GetParam());
            if (renders) {
                EXPECT_EQ(got, 0u) << op << " missing " << missing;
                EXPECT_GT(n, 0u) << op << " missing " << missing;
            } else {
                EXPECT_EQ(got, U(absent ? LOMARI_ERR_NOT_FOUND : LOMARI_ERR_INVALID)) << op << " missing " << missing;
                EXPECT_EQ(n, 0u) << op << " missing " << missing;
            }
            h->err = 0;
        }
    }
}

// The binary codec takes a missing error word.  An enumeration's length is
// fixed; a missing structured object has none.
TEST_P(Entries, BinaryCodecWithoutAnErrorWord) {
    const std::vector<uint8_t> b = Bytes();
    std::vector<uint8_t> out(b.size());
    Args a = Valid(reinterpret_cast<char *>(out.data()), U(out.size()));
    a.err = nullptr;
    EXPECT_EQ(kEntries[3].call(GetParam(), a), b.size());
    EXPECT_EQ(out, b);
    EXPECT_EQ(kEntries[4].call(GetParam(), a), b.size());
    a.len = 0;
    EXPECT_EQ(kEntries[3].call(GetParam(), a), 0u);
    EXPECT_EQ(h->err, U(LOMARI_ERR_SHORT));
    h->err = 0;
    EXPECT_EQ(Api<U(H, U, const void *)>(GetParam(), "len")(h, db, nullptr), IsEnum(GetParam()) ? 5u : 0u);
}

// A path whose field paths would not fit is refused with INVALID (the
// document's root has a name that long); one that is not a path finds no
// element of a structured type and fails an enumeration's lookup.
TEST_P(Entries, FromXmlRefusesPathsItCannotTake) {
    const std::string root(250, 'r');
    const std::string x = "<" + root + "><x/></" + root + ">";
    qel_xml_doc_t *d = qel_xml_parse_memory(h, x.data(), U(x.size()), 0, nullptr, 0, &err);
    ASSERT_NE(d, nullptr);
    const std::vector<uint8_t> before = Bytes();
    Args a = Valid(nullptr, 0);
    a.doc = d;
    const std::string p = "/" + root;
    a.name = p.c_str();
    kEntries[2].call(GetParam(), a);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
    a.name = "//x[";  // not a path: a structured type's element reads as absent
    kEntries[2].call(GetParam(), a);
    EXPECT_EQ(Err(), U(IsEnum(GetParam()) ? LOMARI_ERR_INVALID : LOMARI_ERR_NOT_FOUND));
    EXPECT_EQ(Bytes(), before);
    h->err = 0;
    qel_xml_doc_free(d);
}

std::vector<std::string> Names() {
    std::vector<std::string> v;
    for (const TypeDesc &t : kTypes) v.push_back(t.name);
    for (const EnumDesc &e : kEnums) v.push_back(e.name);
    return v;
}
INSTANTIATE_TEST_SUITE_P(All, Entries, ::testing::ValuesIn(Names()),
                         [](const ::testing::TestParamInfo<std::string> &i) { return i.param; });

}  // namespace
}  // namespace lt
