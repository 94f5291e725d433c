// messages_test.cpp -- message objects' body ownership and the wire (envelope, dispatch, refusals,
// hostile input, recorder, renderings), no app handlers.
#include <libxml/parser.h>

#include <cstdio>

#include "message_wire.h"
#include "qel/rt_control_msg.h"

namespace {

using namespace lt;

class Messages : public MessageTest {
protected:
    void *New(bool shallow = false) { return Fn<void *(H, U)>(shallow ? "create_shallow" : "create")(h, db); }
    // The body accessors: get, get_detach, set, free_and_set.
    std::string Acc(const char *op) const { return std::string(M().body->name) + "_" + op; }
    void *Get(const char *op, void *m) { return Fn<void *(H, U, void *, U *)>(Acc(op))(h, db, m, &err); }
    void Put(const char *op, void *m, void *b) { Fn<void(H, U, void *, void *, U *)>(Acc(op))(h, db, m, b, &err); }
    qel_variant_record_t &BodyCounts() const { return StaticCounts(*M().body); }
    qel_type_info_t *BodyTi() const { return Record(M().body->name, "type"); }
    // print or to_xml into b; unmarshal_only; from_xml.
    U Text(const char *op, void *m, char *b, U room) { return Fn<U(H, U, char *, void *, U, U *)>(op)(h, db, b, m, room, &err); }
    U UnmarshalOnly(void **out, const uint8_t *b, U n) { return Fn<U(H, U, void **, const uint8_t *, U, U *)>("unmarshal_only")(h, db, out, b, n, &err); }
    void *FromXml(qel_xml_doc_t *d) { return Fn<void *(H, U, qel_xml_doc_t *, U *, char *, U)>("from_xml")(h, db, d, &err, nullptr, 0); }
};

// get looks, get_detach hands out, set replaces, free_and_set destroys what it replaces.
TEST_P(Messages, BodyOwnershipThroughGetDetachSetAndFreeAndSet) {
    void *m = New();
    void *first = BodyOf(m), *second = Body().Create(h, db);
    const uint64_t gone = BodyCounts().destroyed;
    EXPECT_EQ(Get("get", m), first);
    Put("set", m, second);
    EXPECT_EQ(std::tuple(BodyOf(m), BodyCounts().destroyed, Tinfo(first)), std::tuple(second, gone, BodyTi()))
        << "set must not destroy the old body";
    Put("free_and_set", m, first);
    EXPECT_EQ(std::pair(BodyOf(m), BodyCounts().destroyed), std::pair(first, gone + 1));
    EXPECT_EQ(Get("get_detach", m), first);
    EXPECT_EQ(std::pair(BodyOf(m), Get("get", m)), std::pair((void *)nullptr, (void *)nullptr));
    Free(m);
    EXPECT_EQ(std::pair(BodyCounts().destroyed, Tinfo(first)), std::pair(gone + 1, BodyTi())) << "the detached body outlives the message";
    Body().Destroy(h, db, first);
    void *s = New(true);
    Put("free_and_set", s, nullptr);
    Put("free_and_set", s, Body().Create(h, db));
    EXPECT_NE(BodyOf(s), nullptr);
    Put("free_and_set", s, nullptr);
    EXPECT_EQ(std::pair(BodyOf(s), BodyCounts().destroyed), std::pair((void *)nullptr, gone + 3));
    Free(s);
    EXPECT_EQ(std::pair(err, qelrt_trace_count()), std::pair(0u, 0u));
    ExpectNoLeak();
}

// The envelope's fields and length; dispatch to the handler given, else 38 and a trace.
TEST_P(Messages, RoundTripCarriesLengthWordAndIdentifierAndReachesTheHandler) {
    h->header_word = 0xA1B2C3D4u;
    for (uint32_t mode : {0u, QEL_CHECK_TRACK}) {
        qelrt_handle_set_mode(h, mode);
        void *m = Make(11 + mode);
        auto b = Encode(m);
        ASSERT_EQ(b.size(), 43 + Body().Op<U(H, U, void *)>("len")(h, db, BodyOf(m)));
        EXPECT_EQ(std::pair(Fn<U(H, U, void *)>("len")(h, db, m), Fn<U(H, void *)>("len_cr")(h, m)), std::pair(U(b.size()), U(b.size())));
        EXPECT_EQ(std::tuple(b[0], b[7], Be32(&b[8]), Be32(&b[12])), std::tuple(uint8_t(0xBC), uint8_t(mode ? 1 : 0), 0xA1B2C3D4u, U(b.size())));
        EXPECT_EQ(std::memcmp(&b[27], Record(M().name, "message")->luid, 16), 0);
        b.insert(b.end(), {1, 2, 3});  // bytes after the envelope are the caller's
        g_seen = {};
        void *out = nullptr;
        EXPECT_EQ(Unmarshal(b, &out, Recorder, 77), b.size() - 3);
        EXPECT_EQ(std::tuple(err, g_seen.calls, g_seen.ctx, g_seen.msg), std::tuple(0u, 1, uint64_t(77), out));
        EXPECT_TRUE(SameBody(m, out));
        Free(out);
        h->err = 5;
        EXPECT_EQ(Fn<U(H, void *)>("len_cr")(h, m), 0u);
        h->err = 0;
    }
    void *out = nullptr;
    Unmarshal(Encode(made_.back()), &out);
    EXPECT_EQ(Err(), 38u);
    EXPECT_EQ(Traced((std::string("default lomari_") + M().name + "_message handler called").c_str()), 1u);
    ASSERT_NE(out, nullptr);
    Free(out);
    const auto live = qelrt_live_bytes();
    Unmarshal(Encode(made_.back()), nullptr);
    EXPECT_EQ(std::pair(Err(), qelrt_live_bytes()), std::pair(38u, live));
}

// Marshal refuses short buffers (no partial header), the domain's refusal and the bundle's.
TEST_P(Messages, MarshalRefusesShortBuffersTheDomainAndTheBundle) {
    void *m = Make(3);
    const U full = U(Encode(m).size());
    for (auto [len, result] : {std::pair{10u, 0u}, {27u, 27u}, {42u, 27u}, {full - 1, ~0u}}) {  // ~0: any count
        SCOPED_TRACE(len);
        std::fill(buf.begin(), buf.end(), 0xEE);
        qelrt_trace_clear();
        const U n = Marshal(m, buf.data(), len);
        EXPECT_EQ(Err(), 90u);
        EXPECT_TRUE(result == ~0u || n == result) << n;
        EXPECT_TRUE(len < 27 || buf[0] == 0) << "header not written";
        EXPECT_EQ(Traced("failed to marshal"), 1u);
    }
    qelrt_set_suppress_messages(1);
    qelrt_trace_clear();
    Marshal(m, buf.data(), 10);
    ASSERT_EQ(std::pair(Err(), qelrt_trace_count()), std::pair(90u, 1u));
    EXPECT_EQ(qelrt_trace_at(0)->level, U(QEL_TL_DEBUG));
    EXPECT_EQ(Fn<U(H, void *, uint8_t *, U)>("marshal_cr")(h, m, buf.data(), 10), 0xFFFFFFFFu);
    qelrt_reset();
    qelrt_domain_refuse(M().name);
    EXPECT_EQ(Marshal(m, buf.data(), kBig), 0u);
    EXPECT_EQ(std::pair(Err(), Traced("is not allowed for the current domain")), std::pair(52u, 1u));
    EXPECT_EQ(Fn<int(H)>("is_valid_cr")(h), 0);
    qelrt_reset();
    h->bundle_active = 1;
    qelrt_calls_log(1);
    ASSERT_EQ(Marshal(m, buf.data(), kBig), full);
    ASSERT_EQ(err, 0u);
    auto adds = Calls("bundle_message_validate_add"), counts = Calls("bundle_message_increment_count");
    ASSERT_EQ(std::pair(adds.size(), counts.size()), std::pair(size_t(1), size_t(1)));
    EXPECT_LT(adds[0], counts[0]);
    EXPECT_EQ(std::memcmp(reinterpret_cast<void *>(adds[0]->a[2]), Record(M().name, "message")->luid, 16), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(adds[0]->a[3])), std::string("message ") + M().name);
    qelrt_bundle_refuse(1, 22);
    EXPECT_EQ(Marshal(m, buf.data(), kBig), 0u);
    EXPECT_EQ(std::pair(Err(), Traced("is not valid for bundle")), std::pair(22u, 1u));
    qelrt_bundle_refuse(2, 22);
    buf[0] = 0xEE;
    EXPECT_EQ(Marshal(m, buf.data(), kBig), full);
    EXPECT_EQ(std::tuple(Err(), buf[0], Traced("is not present in bundle")), std::tuple(22u, uint8_t(0), 1u))
        << "header written after a refused count";
}

TEST_P(Messages, HostileEnvelopesReachNoHandlerAndLeakNothing) {
    auto good = Encode(Make(9));
    Free(made_.back());
    made_.clear();
    live0 = qelrt_live_bytes();
    // Every cut; no marker; too short for the identifier; longer than the body.
    std::vector<std::vector<uint8_t>> bad(3, good);
    bad[0][0] = 0xBD;
    bad[1][15] = 30;
    bad[2].push_back(0);
    for (int k = 0; k < 4; ++k) bad[2][12 + k] = uint8_t(bad[2].size() >> (24 - 8 * k));
    for (size_t cut = 0; cut < good.size(); ++cut) bad.emplace_back(good.begin(), good.begin() + cut);
    for (auto &b : bad) {
        g_seen = {};
        void *out = reinterpret_cast<void *>(1);
        Unmarshal(b, &out, Recorder);
        EXPECT_NE(Err(), 0u) << b.size();
        EXPECT_EQ(std::pair(g_seen.calls, out), std::pair(0, (void *)nullptr)) << b.size();
    }
    void *kept = nullptr;
    UnmarshalOnly(&kept, good.data(), 30);
    EXPECT_EQ(Err(), 90u);
    ASSERT_NE(kept, nullptr) << "unmarshal_only hands out what it built";
    Free(kept);
    // Without a place to hand it out, the message is released.
    EXPECT_EQ(UnmarshalOnly(nullptr, good.data(), U(good.size())), good.size());
    EXPECT_EQ(Err(), 0u);
    ExpectNoLeak();
}

// An error present: every entry and accessor traces and does nothing; a missing argument: 22.
TEST_P(Messages, ErrorPresentOrMissingArgumentsDoNothing) {
    void *m = Make(1), *out = nullptr, *held = BodyOf(m), *other = Body().Create(h, db);
    std::vector<uint8_t> b(64);
    char text[64] = "x";
    err = 22;
    EXPECT_EQ(std::tuple(Marshal(m, buf.data(), kBig), Unmarshal(b, &out), Text("print", m, text, 64), Text("to_xml", m, text, 64),
                         FromXml(nullptr), UnmarshalOnly(&out, b.data(), 64), out),
              std::tuple(0u, 0u, 0u, 0u, (void *)nullptr, 0u, (void *)nullptr));
    EXPECT_EQ(std::tuple(Err(), Traced(std::strerror(22)), qelrt_trace_count()), std::tuple(22u, 6u, 6u));
    for (const char *op : {"print", "to_xml", "marshal"})
        for (int missing = 0; missing < 2; ++missing) {
            EXPECT_EQ(Text(op, missing ? m : nullptr, missing ? nullptr : text, 64), 0u) << op;
            EXPECT_EQ(Err(), U(LOMARI_ERR_INVALID)) << op << missing;
            h->err = 0;
        }
    EXPECT_STREQ(text, "x");
    const std::string body = M().body->name;
    const struct { const char *op; uint32_t point; std::string text; } accessors[] = {
        {"get", 12, "Error present when getting value for " + body},
        {"get_detach", 13, "Error present getting detached " + body + " value for " + M().name},
        {"set", 14, "Error present when setting value for " + body},
        {"free_and_set", 15, "Error present when freeing and setting value for " + body},
    };
    qelrt_calls_log(1);
    for (const auto &a : accessors)
        for (uint32_t code : {22u, 0u}) {
            SCOPED_TRACE(std::string(a.op) + " " + std::to_string(code));
            qelrt_trace_clear();
            err = code;
            void *target = code ? m : nullptr;
            if (a.point < 14) {
                EXPECT_EQ(Get(a.op, target), nullptr);
            } else {
                Put(a.op, target, other);
            }
            EXPECT_EQ(std::pair(err, BodyOf(m)), std::pair(code, held));
            ASSERT_EQ(qelrt_trace_count(), 1u);
            EXPECT_EQ(TraceAt(0), TracePoint(a.text + ": " + std::strerror(int(code)), 33 * M().ordinal + a.point, QEL_TL_DEBUG));
            EXPECT_EQ(qelrt_trace_at(0)->table_no, 0);
        }
    EXPECT_EQ(std::pair(h->err, qelrt_call_count("qel_clear_last_error")), std::pair(0u, 0u));
    err = 0;
    Body().Destroy(h, db, other);
}

TEST_P(Messages, RecorderWritesOneWellFormedElementNeverTouchesTheErrorAndNeedsItsBuffer) {
    auto b = Encode(Make(4));
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    qelrt_set_recorder(1, out);
    void *m = nullptr;
    Unmarshal(b, &m, Recorder);
    EXPECT_EQ(std::pair(Err(), g_seen.msg), std::pair(0u, m));
    Free(m);
    std::fclose(out);
    xmlDocPtr doc = xmlReadMemory(text, int(size), "record.xml", nullptr, XML_PARSE_NONET);
    ASSERT_NE(doc, nullptr) << text;
    EXPECT_STREQ(reinterpret_cast<const char *>(xmlDocGetRootElement(doc)->name), "lomari");
    EXPECT_NE(std::strstr(text, (std::string("<") + M().name + ">").c_str()), nullptr);
    xmlFreeDoc(doc);
    std::free(text);
    qelrt_set_recorder(1, nullptr);
    Unmarshal(b, &m, Recorder);
    EXPECT_EQ(std::pair(Err(), Traced("NULL file handle")), std::pair(0u, 1u));
    Free(m);
    // Without its buffer the recorder ends the process.
    qelrt_set_recorder(1, stderr);
    qelrt_fail_qellib_malloc_at(1);
    EXPECT_DEATH(Unmarshal(b, &m, Recorder), "QEL record - malloc failed");
    qelrt_fail_qellib_malloc_at(0);
    qelrt_set_recorder(0, nullptr);
}

// Print and XML round trip; cut buffers never overrun; no body element: an empty message.
TEST_P(Messages, TextAndXmlRenderingsRoundTrip) {
    void *m = Make(21);
    char text[1 << 14];
    const U n = Text("print", m, text, sizeof text);
    ASSERT_EQ(Err(), 0u);
    const std::string s(text, n);
    EXPECT_EQ(s.rfind(std::string("message@") + M().name + ": {\n", 0), 0u) << s;
    EXPECT_NE(s.find(std::string("  ") + M().body->name + "@"), std::string::npos) << s;
    EXPECT_EQ(s.substr(s.size() - 2), "}\n");
    const U x = Text("to_xml", m, text, sizeof text);
    ASSERT_EQ(Err(), 0u);
    qel_xml_doc_t *doc = qel_xml_parse_memory(h, text, x, 0, nullptr, 0, &err);
    ASSERT_NE(doc, nullptr) << text;
    void *back = FromXml(doc);
    qel_xml_doc_free(doc);
    ASSERT_EQ(Err(), 0u);
    EXPECT_TRUE(SameBody(m, back));
    Free(back);
    for (const char *op : {"print", "to_xml"})
        for (U room = 0; room < (*op == 'p' ? n : x); room += 3) {
            std::vector<char> cut(room + 1, '#');
            Text(op, m, cut.data(), room);
            EXPECT_EQ(std::pair(Err(), cut[room]), std::pair(90u, '#')) << op << room;
        }
    doc = qel_xml_parse_memory(h, "<other/>", 8, 0, nullptr, 0, &err);
    void *empty = FromXml(doc);
    qel_xml_doc_free(doc);
    EXPECT_EQ(Err(), 0u);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(BodyOf(empty), nullptr);
    Free(empty);
}

INSTANTIATE_TEST_SUITE_P(All, Messages, ::testing::ValuesIn(AllMessages()), ParamName());

}  // namespace
