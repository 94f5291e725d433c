// codec_entries_test.cpp -- how every codec entry of every structured type and
// enumeration starts: an error present, a missing argument or error word, an unusable path.
#include "fixture.h"

namespace lt {
namespace {

class Entries : public Lomari, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        Lomari::SetUp();
        o = Api<void *(H, U)>(N(), "create")(h, db);
        ASSERT_NE(o, nullptr);
        const std::string x = "<" + N() + "/>";
        doc = qel_xml_parse_memory(h, x.data(), U(x.size()), 0, nullptr, 0, &err);
        ASSERT_NE(doc, nullptr);
    }
    void TearDown() override {
        qel_xml_doc_free(doc);
        Api<void(H, U, void *)>(N(), "destroy")(h, db, o);
        Lomari::TearDown();
    }
    const std::string &N() const { return GetParam(); }
    bool IsEnum() const {
        for (const EnumDesc &e : kEnums)
            if (N() == e.name) return true;
        return false;
    }
    // An entry with (object, name or path, buffer or document, room, error word).
    U Call(const std::string &op, void *obj, const char *name, void *buf, U len, U *e) {
        if (op == "print")
            return Api<U(H, U, char *, U, const char *, const void *, U, U *)>(N(), op)(h, db, static_cast<char *>(buf), 0, name, obj, len, e);
        if (op == "to_xml")
            return Api<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>(N(), op)(h, db, name, static_cast<char *>(buf), obj, len, 0, e);
        if (op == "marshal") return Api<U(H, U, uint8_t *, const void *, U, U *)>(N(), op)(h, db, static_cast<uint8_t *>(buf), obj, len, e);
        if (op == "unmarshal")
            return Api<U(H, U, const uint8_t *, void *, U, U, U *)>(N(), op)(h, db, static_cast<uint8_t *>(buf), obj, len, 0, e);
        Api<void(H, U, const char *, qel_xml_doc_t *, void *, U *, char *, U)>(N(), op)(h, db, name, static_cast<qel_xml_doc_t *>(buf), obj, e, nullptr, 0);
        return 0;
    }
    // The object's encoding: what a refused call must leave as it was.
    std::vector<uint8_t> Bytes() {
        std::vector<uint8_t> b(4096);
        U e = 0;
        b.resize(Call("marshal", o, nullptr, b.data(), U(b.size()), &e));
        return b;
    }
    void *o = nullptr;
    qel_xml_doc_t *doc = nullptr;
};

TEST_P(Entries, AnErrorPresentAMissingArgumentABadPathOrNoErrorWord) {
    const std::vector<uint8_t> before = Bytes();
    const std::string path = "/" + N();
    for (const std::string op : {"print", "to_xml", "from_xml", "marshal", "unmarshal"}) {
        const bool binary = op == "marshal" || op == "unmarshal";
        char buf[4096];
        std::memset(buf, 'Z', sizeof buf);
        if (op == "unmarshal") std::memcpy(buf, before.data(), before.size());
        void *in = op == "from_xml" ? static_cast<void *>(doc) : buf;
        const U len = op == "unmarshal" ? U(before.size()) : U(sizeof buf);
        err = 7;
        EXPECT_EQ(Call(op, o, path.c_str(), in, len, &err), 0u) << op;
        EXPECT_EQ(Err(), 7u) << op;
        EXPECT_EQ(buf[before.size() + 1], 'Z') << op;
        EXPECT_EQ(Bytes(), before) << op;
        // Each missing in turn: INVALID; a type's frame renders, its element in no document is absent.
        for (int missing = 0; missing < 3; ++missing) {
            if (missing == 1 && binary) continue;
            SCOPED_TRACE(op + " missing " + std::to_string(missing));
            const U n = Call(op, missing == 0 ? nullptr : o, missing == 1 ? nullptr : path.c_str(), missing == 2 ? nullptr : in, len, &err);
            const bool renders = (op == "print" || op == "to_xml") && missing == 0 && !IsEnum();
            const bool absent = op == "from_xml" && missing == 2 && !IsEnum();
            EXPECT_EQ(Err(), renders ? 0u : U(absent ? LOMARI_ERR_NOT_FOUND : LOMARI_ERR_INVALID));
            EXPECT_TRUE(renders ? n > 0 : n == 0) << n;
            h->err = 0;
        }
    }
    // Paths too long for field paths, or not paths at all, are refused.
    const std::string root(250, 'r');
    const std::string x = "<" + root + "><x/></" + root + ">", p = "/" + root;
    qel_xml_doc_t *d = qel_xml_parse_memory(h, x.data(), U(x.size()), 0, nullptr, 0, &err);
    ASSERT_NE(d, nullptr);
    Call("from_xml", o, p.c_str(), d, 0, &err);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
    Call("from_xml", o, "//x[", d, 0, &err);
    EXPECT_EQ(Err(), U(IsEnum() ? LOMARI_ERR_INVALID : LOMARI_ERR_NOT_FOUND));
    h->err = 0;
    qel_xml_doc_free(d);
    EXPECT_EQ(Bytes(), before);
    // The binary codec takes a missing error word; a missing object's length.
    std::vector<uint8_t> out(before.size());
    EXPECT_EQ(Call("marshal", o, nullptr, out.data(), U(out.size()), nullptr), before.size());
    EXPECT_EQ(out, before);
    EXPECT_EQ(Call("unmarshal", o, nullptr, out.data(), U(out.size()), nullptr), before.size());
    EXPECT_EQ(Call("marshal", o, nullptr, out.data(), 0, nullptr), 0u);
    EXPECT_EQ(std::exchange(h->err, 0), U(LOMARI_ERR_SHORT));
    EXPECT_EQ(Api<U(H, U, const void *)>(N(), "len")(h, db, nullptr), IsEnum() ? 5u : 0u);
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
