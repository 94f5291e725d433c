// The command-line tool as a person runs it: every message and table record
// encoded by the library decodes to XML, that XML encodes back to the same
// bytes, a stream of many items decodes item by item, bad input ends in one
// line naming the error and the byte offset (exit status 1), and the demo
// runs end to end.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <algorithm>
#include <iterator>

#include "message_wire.h"

namespace {

using namespace lt;

struct Outcome {
    int status;
    std::string out;
};

// Runs the tool with arguments (shell words), standard error folded in.
Outcome Tool(const std::string &args) {
    std::string cmd = std::string(LOMARI_TOOL_PATH) + " " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char b[4096];
    for (size_t n; (n = std::fread(b, 1, sizeof b, p)) > 0;) out.append(b, n);
    int st = pclose(p);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

std::string Temp(const std::string &name) { return ::testing::TempDir() + "lomari_tool_" + name; }

void Write(const std::string &path, const std::vector<uint8_t> &b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}
std::vector<uint8_t> Read(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// An item through the tool: decoded to XML that starts with its element,
// encoded back to the same bytes, and decoded to text in its frame.
void RoundTrip(const std::string &name, const std::vector<uint8_t> &bytes, const std::string &frame) {
    const std::string bin = Temp(name + ".bin"), xml = Temp(name + ".xml"), back = Temp(name + ".back");
    Write(bin, bytes);
    Outcome d = Tool("decode --format xml " + bin);
    ASSERT_EQ(d.status, 0) << d.out;
    EXPECT_EQ(d.out.rfind("<" + name + ">", 0), 0u) << d.out;
    std::ofstream(xml) << d.out;
    Outcome e = Tool("encode --out " + back + " " + xml);
    ASSERT_EQ(e.status, 0) << e.out;
    EXPECT_EQ(Read(back), bytes);
    Outcome t = Tool("decode " + bin);
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.out.rfind(frame + "@" + name + ": {", 0), 0u) << t.out;
}

class ToolMessages : public MessageTest {};

TEST_P(ToolMessages, DecodeToXmlAndEncodeBackGiveTheSameBytes) {
    for (uint32_t seed : {1u, 2u, 3u}) RoundTrip(M().name, Encode(Make(seed * 7 + M().ordinal)), "message");
}

INSTANTIATE_TEST_SUITE_P(All, ToolMessages, ::testing::ValuesIn(AllMessages()), ParamName());

class ToolRecords : public Lomari, public ::testing::WithParamInterface<const TableDesc *> {};

// A record with all its fields, as the table layer makes one.
TEST_P(ToolRecords, DecodeToXmlAndEncodeBackGiveTheSameBytes) {
    const std::string t = GetParam()->name;
    void *rec = Api<void *(H, U)>(t, "record_create_cr")(h, 1);
    std::vector<uint8_t> bytes(1 << 16);
    bytes.resize(Api<U(H, U, uint8_t *, void *, U, U *)>(t, "table_record_marshal")(h, db, bytes.data(), rec,
                                                                                     U(bytes.size()), &err));
    Api<void(H, U, void *, U *)>(t, "destroy_record")(h, db, rec, &err);
    ASSERT_EQ(err, 0u);
    RoundTrip(t, bytes, "record");
}

INSTANTIATE_TEST_SUITE_P(All, ToolRecords, ::testing::ValuesIn(Each(kTables)), ParamName());

TEST(ToolDemo, RunsEndToEndAndItsMessagesDecode) {
    const std::string bin = Temp("demo.bin"), rec = Temp("demo.xml");
    Outcome d = Tool("demo --record " + rec + " --out " + bin);
    ASSERT_EQ(d.status, 0) << d.out;
    for (const char *step : {"== Adapters", "== Flow-control", "== Id pools", "== Lookups", "== Tenants",
                             "record@tarnok_header_ids: {", "<global_flow_control>"})
        EXPECT_NE(d.out.find(step), std::string::npos) << step << "\n" << d.out;
    Outcome c = Tool("decode --count " + bin);
    EXPECT_EQ(c.status, 0);
    EXPECT_NE(c.out.find("total                        8"), std::string::npos) << c.out;
    std::ifstream f(rec);
    const std::string recorded{std::istreambuf_iterator<char>(f), {}};
    size_t records = 0;
    for (size_t at = 0; (at = recorded.find("<lomari time=\"", at)) != std::string::npos; ++at) ++records;
    EXPECT_EQ(records, 8u) << "one recorded element per received message";
}

class ToolStream : public MessageTest {};

TEST_F(ToolStream, CountsAManyItemStreamAndNamesBadInput) {
    // Every message type a few times, back to back.
    std::vector<uint8_t> all;
    for (int round = 0; round < 50; ++round)
        for (const MessageDesc &m : kMessages) {
            std::vector<uint8_t> one(1 << 16);
            void *msg = Api<void *(H, U)>(m.full_name, "create")(h, db);
            U n = Api<U(H, U, uint8_t *, void *, U, U *)>(m.full_name, "marshal")(h, db, one.data(), msg, U(one.size()), &err);
            Api<void(H, U, void *)>(m.full_name, "destroy")(h, db, msg);
            all.insert(all.end(), one.begin(), one.begin() + n);
        }
    ASSERT_EQ(err, 0u);
    const std::string bin = Temp("stream.bin");
    Write(bin, all);
    Outcome c = Tool("decode --count " + bin);
    ASSERT_EQ(c.status, 0) << c.out;
    EXPECT_NE(c.out.find("vep_tarnok_headers           50"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("total                        450"), std::string::npos) << c.out;

    // Cut inside the last item, an unknown identifier, garbage: one line
    // naming the error and the offset, status 1.
    auto cut = all, unknown = all;
    cut.resize(all.size() - 3);
    unknown[30] ^= 0xFF;
    const struct { std::vector<uint8_t> bytes; std::string cmd; const char *error, *offset; } bad[] = {
        {cut, "decode --count ", "LOMARI_ERR_SHORT", "offset "},
        {unknown, "decode ", "LOMARI_ERR_NOT_FOUND", "offset 0"},
        {std::vector<uint8_t>(100, 0x41), "decode ", "LOMARI_ERR_INVALID", "offset "},
    };
    for (const auto &b : bad) {
        Write(bin, b.bytes);
        Outcome o = Tool(b.cmd + bin);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.out.find(b.error), std::string::npos) << o.out;
        EXPECT_NE(o.out.find(b.offset), std::string::npos) << o.out;
        EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 1) << o.out;
    }
    EXPECT_EQ(Tool("decode --format json " + bin).status, 2);
    EXPECT_EQ(Tool("frobnicate").status, 2);
    EXPECT_EQ(Tool("--help").status, 0);
    EXPECT_EQ(Tool("encode " + Temp("missing.xml")).status, 1);
}

}  // namespace
