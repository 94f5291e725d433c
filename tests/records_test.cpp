// Table records as bytes, text and XML, record callbacks without the
// application's handlers, and record field access.  Every case runs over
// the six tables; record fields are filled at random and compared with
// their types' comparison.
#include <functional>

#include "qel/rt_msg.h"
#include "tables_fixture.h"

namespace {

using namespace lt;

constexpr U kFrame = 43;
constexpr U kKey32 = 305419896;
U Be32(const uint8_t *p) { return U(p[0]) << 24 | U(p[1]) << 16 | U(p[2]) << 8 | p[3]; }

class Records : public TableTest {
protected:
    static constexpr U kBig = 1u << 16;
    template <class F>
    F *PartOp(U p, const char *op) const { return Op<F>(std::string(C().parts[p]) + "_" + op); }
    U Last() const { return C().nparts() - 1; }

    void *New() { return Keep(Op<void *(H, U, U *)>("create_record")(h, db, &err)); }
    void *Get(void *r, U p, const char *op = "get_field") { return PartOp<void *(H, U, void *)>(p, op)(h, db, r); }
    void Set(void *r, U p, void *o, const char *op = "set_field") { PartOp<void(H, U, void *, void *)>(p, op)(h, db, r, o); }
    // A record whose first `parts` fields are filled at random.
    void *Fill(uint32_t seed, U parts = ~0u) {
        void *r = New();
        Filler f(seed);
        for (U p = 0; p < std::min(parts, C().nparts()); ++p) Set(r, p, f.Make(h, db, Part(p).t, 3));
        return r;
    }
    bool Same(void *a, void *b) {
        for (U p = 0; p < C().nparts(); ++p)
            if (Part(p).Compare(Get(a, p), Get(b, p)) != 0) return false;
        return true;
    }
    uint8_t *KeyBytes(void *r) { return Bytes(Get(r, C().keypart), KeyOffset()); }

    U Marshal(void *r, uint8_t *b, U n) { return Op<U(H, U, uint8_t *, void *, U, U *)>("table_record_marshal")(h, db, b, r, n, &err); }
    U Len(void *r) { return Op<U(H, U, void *)>("table_record_len")(h, db, r); }
    std::vector<uint8_t> Encode(void *r) {
        std::vector<uint8_t> b(kBig);
        b.resize(Marshal(r, b.data(), kBig));
        EXPECT_EQ(Err(), 0u);
        return b;
    }
    U Unmarshal(void **r, const std::vector<uint8_t> &b, U in_place) {
        U n = Op<U(H, U, void **, const uint8_t *, U, U, U *)>("table_record_unmarshal")(h, db, r, b.data(), U(b.size()),
                                                                                       in_place, &err);
        if (!in_place) Keep(*r);
        return n;
    }
    std::string Xml(void *r) {
        std::string s(kBig, '\0');
        s.resize(Op<U(H, U, char *, void *, U, U *)>("table_record_to_xml")(h, db, s.data(), r, kBig, &err));
        return s;
    }
    void *FromXml(const std::string &text) {
        char msg[256];
        qel_xml_doc_t *d = qel_xml_parse_memory(h, text.data(), U(text.size()), 0, msg, sizeof msg, &err);
        EXPECT_NE(d, nullptr) << msg;
        void *r = Op<void *(H, U, qel_xml_doc_t *, U *, char *, U)>("table_record_from_xml")(h, db, d, &err, msg,
                                                                                          sizeof msg);
        qel_xml_doc_free(d);
        return Keep(r);
    }
};

TEST_P(Records, RoundTripInBothModesNewAndInPlace) {
    for (bool track : {false, true}) {
        SCOPED_TRACE(track ? "tracking" : "plain");
        qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : 0);
        h->header_word = 0x01020304;
        void *r = Fill(track ? 7 : 3);
        auto b = Encode(r);
        U fields = 0;
        for (U p = 0; p < C().nparts(); ++p) fields += Part(p).Len(h, db, Get(r, p));
        // Tracking, the field lengths are bounds: a fixed string's state bytes are counted per character.
        if (!track) {
            ASSERT_EQ(b.size(), kFrame + fields);
        }
        EXPECT_EQ(Len(r), kFrame + fields);
        EXPECT_EQ(b[0], 0xBC);
        EXPECT_EQ(b[7], track ? 1 : 0);
        EXPECT_EQ(Be32(&b[8]), 0x01020304u);
        EXPECT_EQ(Be32(&b[12]), b.size());
        EXPECT_EQ(std::memcmp(&b[27], *Api<const uint8_t[16]>("table", std::string(C().name) + "_luid"), 16), 0);

        void *fresh = nullptr;
        EXPECT_EQ(Unmarshal(&fresh, b, 0), b.size());
        EXPECT_EQ(Err(), 0u);
        ASSERT_NE(fresh, nullptr);
        EXPECT_TRUE(Same(r, fresh));
        void *other = Keep(Op<void *(H, U)>("record_create_cr")(h, 1));
        EXPECT_EQ(Unmarshal(&other, b, 1), b.size());
        EXPECT_EQ(Err(), 0u);
        EXPECT_TRUE(Same(r, other));
        // Chained forms agree with the plain ones.
        std::vector<uint8_t> c(kBig);
        c.resize(Op<U(H, void *, uint8_t *, U)>("record_marshal_cr")(h, r, c.data(), kBig));
        EXPECT_EQ(c, b);
        EXPECT_EQ(Op<U(H, void *)>("record_len_cr")(h, r), Len(r));
    }
}

TEST_P(Records, MissingLastFieldStopsAfterTheFrameAndTheFieldsBefore) {
    void *r = Fill(5, Last());
    std::vector<uint8_t> b(kBig, 0xAA);
    U want = kFrame + (C().nparts() > 1 ? Part(0).Len(h, db, Get(r, 0)) : 0);
    EXPECT_EQ(Marshal(r, b.data(), kBig), want);
    EXPECT_EQ(Err(), U(LOMARI_ERR_NOT_FOUND));
    EXPECT_EQ(b[0], 0) << "header not written";
    std::string text = std::string("Failed to marshal ") + C().name + " record: Field " + C().parts.back() + " is empty";
    EXPECT_EQ(Traced(text.c_str()), 1u);
    EXPECT_EQ(qelrt_trace_at(qelrt_trace_count() - 1)->level, QEL_TL_ERROR);
}

TEST_P(Records, ShortBuffersAndEveryCutOfTheEncodingAreRefused) {
    void *r = Fill(11);
    for (U n : {0u, 26u, 30u}) {
        std::vector<uint8_t> b(32, 0xAA);
        EXPECT_EQ(Marshal(r, b.data(), n), n < 27 ? 0u : 27u) << n;
        EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
        for (U i = 0; i < 32; ++i) EXPECT_EQ(b[i], n >= 27 && i < 27 ? 0 : 0xAA) << n << " byte " << i;
    }
    auto good = Encode(r);
    for (U cut = 0; cut < good.size(); ++cut) {
        std::vector<uint8_t> part(good.begin(), good.begin() + cut);  // exact size: overreads show
        void *out = nullptr;
        Unmarshal(&out, part, 0);
        EXPECT_NE(Err(), 0u) << cut;
        EXPECT_EQ(out, nullptr);
    }
    // Header faults: no marker, a length field below the frame, past the input,
    // or longer than the fields it holds.
    const std::vector<std::pair<U, std::function<void(std::vector<uint8_t> &)>>> faults = {
        {LOMARI_ERR_INVALID, [](auto &b) { b[0] = 0xBD; }},
        {LOMARI_ERR_INVALID, [](auto &b) { b[15] = 42, b[14] = b[13] = b[12] = 0; }},
        {LOMARI_ERR_SHORT, [](auto &b) { b[15] += 1; }},
        {LOMARI_ERR_INVALID, [](auto &b) { b[15] += 1, b.push_back(0); }},
    };
    for (auto &[code, f] : faults) {
        auto bad = good;
        f(bad);
        void *out = nullptr;
        Unmarshal(&out, bad, 0);
        EXPECT_EQ(Err(), code);
        EXPECT_EQ(out, nullptr);
    }
}

TEST_P(Records, EntryErrorsDomainAndChainedForms) {
    void *r = Fill(2);
    uint8_t b[512];
    const std::string t = C().name;
    err = LOMARI_ERR_INVALID;
    EXPECT_EQ(Marshal(r, b, sizeof b), 0u);
    EXPECT_EQ(Traced("Error present in call to table marshal: Invalid argument"), 1u);
    void *out = nullptr;
    EXPECT_EQ(Unmarshal(&out, {b, b + 50}, 0), 0u);
    EXPECT_EQ(Traced(("Error present in call to " + t + " unmarshal: Invalid argument").c_str()), 1u);
    EXPECT_EQ(Op<U(H, U, void **, const uint8_t *, U, U *)>("table_pkey_unmarshal")(h, db, &out, b, 4, &err), 0u);
    EXPECT_EQ(Traced(("Error present in call to " + t + " pkey unmarshal: Invalid argument").c_str()), 1u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));

    qelrt_domain_refuse(C().name);
    EXPECT_EQ(Marshal(r, b, sizeof b), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_DOMAIN));
    std::string luid = *Api<const char[33]>("table", t + "_luid_text");
    EXPECT_EQ(Traced(("domainfail: Table " + t + " (" + luid + ") is not allowed for the current domain").c_str()), 1u);

    h->err = LOMARI_ERR_SHORT;
    EXPECT_EQ(Op<U(H, void *, uint8_t *, U)>("record_marshal_cr")(h, r, b, sizeof b), 0xFFFFFFFFu);
    EXPECT_EQ(Op<U(H, void *)>("record_len_cr")(h, r), 0u);
    for (const char *op : {"record_print_cr", "record_toxml_cr"})
        EXPECT_EQ(Op<U(H, void *, char *, U)>(op)(h, r, reinterpret_cast<char *>(b), sizeof b), 0xFFFFFFFFu) << op;
    h->err = 0;
}

TEST_P(Records, KeysRoundTripAndPrint) {
    void *r = Fill(9);
    if (C().str)
        std::memcpy(KeyBytes(r), "key-with-all-thirty-one-chars!!", 31);
    else
        std::memcpy(KeyBytes(r), &kKey32, 4);
    const U want = C().str ? 31 : 4;
    EXPECT_EQ(Op<U(H, U, void *)>("table_pkey_len")(h, db, r), want);
    uint8_t b[64];
    auto marshal = Op<U(H, U, uint8_t *, void *, U, U *)>("table_pkey_marshal");
    auto unmarshal = Op<U(H, U, void **, const uint8_t *, U, U *)>("table_pkey_unmarshal");
    EXPECT_EQ(marshal(h, db, b, r, want - 1, &err), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
    ASSERT_EQ(marshal(h, db, b, r, sizeof b, &err), want);
    void *key = nullptr;
    EXPECT_EQ(unmarshal(h, db, &key, b, want, &err), want);
    ASSERT_EQ(Err(), 0u);
    EXPECT_EQ(std::memcmp(Bytes(key, KeyOffset()), KeyBytes(r), want), 0);
    Op<void(H, U, void *)>("pkey_destroy")(h, db, key);
    for (U cut = 0; cut < want; ++cut) {
        std::vector<uint8_t> part(b, b + cut);
        EXPECT_EQ(unmarshal(h, db, &key, part.data(), cut, &err), C().str ? cut : 0);
        EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_EQ(unmarshal(h, db, nullptr, b, want, &err), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_BAD_ADDRESS));

    auto print = Op<U(H, U, void *, void *, char *, U, U *)>("pkey_print");
    char text[64] = {};
    int table_stand_in;
    U n = print(h, db, &table_stand_in, r, text, sizeof text, &err);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(std::string(text, n), C().str ? "Arr" : std::string(C().field) + ": 305419896\n");
    EXPECT_EQ(print(h, db, nullptr, r, text, sizeof text, &err), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID));
    EXPECT_EQ(print(h, db, &table_stand_in, r, text, want - 1, &err), 0u);
    EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
}

TEST_P(Records, PrintFramesEveryFieldUnderItsTypeName) {
    void *r = Fill(4);
    std::string s(kBig, '\0');
    s.resize(Op<U(H, U, char *, void *, U, U *)>("table_record_print")(h, db, s.data(), r, kBig, &err));
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(s.rfind(std::string("record@") + C().name + ": {\n", 0), 0u) << s;
    EXPECT_EQ(s.substr(s.size() - 2), "}\n");
    for (U p = 0; p < C().nparts(); ++p) EXPECT_NE(s.find(std::string("  ") + C().parts[p]), std::string::npos);
    Op<U(H, U, char *, void *, U, U *)>("table_record_print")(h, db, s.data(), r, 20, &err);
    EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT));
}

TEST_P(Records, XmlRoundTripAndAbsentLastElement) {
    for (bool track : {false, true}) {
        qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : 0);
        void *r = Fill(track ? 21 : 12);
        std::string x = Xml(r);
        ASSERT_EQ(Err(), 0u);
        EXPECT_EQ(x.rfind(std::string("<") + C().name + ">", 0), 0u) << x;
        void *back = FromXml(x);
        ASSERT_EQ(Err(), 0u);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(Same(r, back)) << x;
    }
    // Without the last element: that field exists with its initial values.
    void *partial = Fill(13, Last());
    void *back = FromXml(Xml(partial));
    EXPECT_EQ(Err(), 0u);
    ASSERT_NE(back, nullptr);
    void *fresh = Part(Last()).Create(h, db);
    ASSERT_NE(Get(back, Last()), nullptr);
    EXPECT_EQ(Part(Last()).Compare(Get(back, Last()), fresh), 0);
    Part(Last()).Destroy(h, db, fresh);
}

TEST_P(Records, CallbacksWithoutHandlersTraceTheirDefaults) {
    const std::string t = C().name, pre = "default lomari_" + t + "_record ";
    int w;
    auto pair = [&](const char *ev) { Op<void(H, U, void *, void *, U *)>(std::string("table_record_") + ev + "_cb")(h, db, &w, &w, &err); };
    auto dm = [&](const char *ev) { Op<void(H, U, void *, U *)>(std::string("table_record_") + ev + "_cb")(h, db, &w, &err); };
    auto grouping = [&] { return Op<U(H, U, void *, U *, void *, void *, U, void *)>("table_record_grouping_cb")(h, db, &w, &err, &w, &w, 77, &w); };
    auto free_cb = [&] { Op<void(H, U, void *, U, U *, void *)>("table_record_free_cb")(h, db, &w, 5, &err, &w); };
    // With an error present nothing happens.
    err = LOMARI_ERR_INVALID;
    pair("create"), dm("delete_dm"), free_cb();
    EXPECT_EQ(grouping(), 77u);
    EXPECT_EQ(qelrt_trace_count(), 0u);
    err = 0;
    for (const char *ev : {"create", "modify", "delete"}) {
        pair(ev);
        EXPECT_EQ(Traced((pre + ev + " handler called").c_str()), 1u);
    }
    EXPECT_EQ(grouping(), 77u);
    EXPECT_EQ(Traced((pre + "grouping handler called").c_str()), 1u);
    EXPECT_EQ(qelrt_trace_at(qelrt_trace_count() - 1)->level, 0x8000000u);
    free_cb();
    EXPECT_EQ(Traced((pre + "free handler called").c_str()), 1u);
    // A DM event falls back to the plain event's default.
    qelrt_trace_clear();
    for (const std::string ev : {"create", "delete"}) {
        dm((ev + "_dm").c_str());
        EXPECT_EQ(Traced((pre + ev + " DM handler called").c_str()), 1u);
        EXPECT_EQ(Traced((pre + ev + " handler called").c_str()), 1u);
    }
    EXPECT_EQ(err, 0u);
}

TEST_P(Records, FieldAccessOwnership) {
    for (U p = 0; p < C().nparts(); ++p) {
        SCOPED_TRACE(C().parts[p]);
        qelrt_trace_clear();
        Ty ty = Part(p);
        void *r = New();
        void *a = ty.Create(h, db), *b = ty.Create(h, db);
        Set(r, p, a);
        EXPECT_EQ(Get(r, p), a);
        EXPECT_TRUE(Flags(a) & QEL_OF_EMBEDDED);
        // set leaves the object it replaces alive (the caller still owns it).
        Set(r, p, b);
        EXPECT_EQ(Get(r, p), b);
        const uint64_t destroyed = Counts(a).destroyed;
        // The same object into a second record is refused: it is embedded.
        void *r2 = New();
        Set(r2, p, a);
        EXPECT_EQ(Get(r2, p), nullptr);
        EXPECT_EQ(h->err, U(LOMARI_ERR_INVALID));
        EXPECT_EQ(Traced("Object is either nested or already embedded. Cannot set such objects into the record"), 1u);
        Set(r2, p, b, "free_and_set_field");
        EXPECT_EQ(Traced("Object is either nested or already embedded in a record. Cannot set such objects into the record"),
                  1u);
        h->err = 0;
        // free_and_set destroys the object it replaces.
        void *c = ty.Create(h, db);
        Set(r, p, c, "free_and_set_field");
        EXPECT_EQ(Get(r, p), c);
        EXPECT_EQ(Counts(a).destroyed, destroyed + 1);
        // detach hands the object out: the record no longer has it.
        EXPECT_EQ(Get(r, p, "get_field_detach"), c);
        EXPECT_EQ(Get(r, p), nullptr);
        ty.Destroy(h, db, a);
        ty.Destroy(h, db, c);
    }
}

INSTANTIATE_TEST_SUITE_P(All, Records, ::testing::ValuesIn(AllTables()), ParamName());

}  // namespace
