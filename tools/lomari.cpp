// lomari.cpp -- the lomari command-line tool: what a person reaches for to
// look at and make the domain's encodings.
//
//   lomari types                      the domain's types, kinds, identifiers, sizes
//   lomari decode [--format text|xml] [--count] [FILE|-]
//                                     encoded messages and records as text or XML
//   lomari encode [--out FILE] FILE.xml
//                                     an XML rendering back to its encoding
//   lomari demo [--record FILE] [--out FILE]
//                                     the platform's main job, end to end
//
// Exit status: 0 done, 1 bad input (one line naming the error and the byte
// offset), 2 usage.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "codecs.h"
#include "lomari/lomari_catalogue.h"
#include "qel/rt_handle.h"
#include "tool.h"

namespace ltool {
namespace {

const char kUsage[] =
    "usage: lomari <command> [options]\n"
    "\n"
    "commands:\n"
    "  types     list the domain's types with kind, identifier and sizes\n"
    "  decode    print encoded messages and table records as text or XML\n"
    "  encode    turn an XML rendering back into its binary encoding\n"
    "  demo      run the platform's main job end to end\n"
    "\n"
    "'lomari <command> --help' describes one command.\n";

const char kTypesUsage[] =
    "usage: lomari types\n"
    "\n"
    "Lists every type the library registers: structured types, enumerations,\n"
    "tables and their record types, and messages, with the 32-digit\n"
    "identifier and, for structured types, the instance size without and\n"
    "with the state area.\n";

const char kDecodeUsage[] =
    "usage: lomari decode [--format text|xml] [--count] [FILE|-]\n"
    "\n"
    "Reads concatenated message envelopes and table records from FILE (or\n"
    "standard input) and prints each one, recognised by the identifier at\n"
    "byte 27, as indented text (the default) or as XML.  The input is read\n"
    "one item at a time, so files of any length stream through.\n"
    "  --format text|xml   rendering of each item\n"
    "  --count             print only the number of items of each type\n";

const char kEncodeUsage[] =
    "usage: lomari encode [--out FILE] FILE.xml\n"
    "\n"
    "Reads an XML document holding one message or table-record element, as\n"
    "'lomari decode --format xml' prints it, and writes its binary encoding\n"
    "to FILE (or standard output).\n";

bool wants_help(const std::vector<std::string> &args) {
    for (const auto &a : args)
        if (a == "--help" || a == "-h") return true;
    return false;
}

int cmd_types(const std::vector<std::string> &args) {
    if (wants_help(args)) return std::fputs(kTypesUsage, stdout), 0;
    if (!args.empty()) return usage_error(kTypesUsage, "types takes no arguments");
    static const char *const kinds[] = {"structured type", "enumeration", "table", "table record", "message"};
    std::printf("%-28s %-16s %-32s %6s %8s\n", "name", "kind", "identifier", "size", "tracked");
    for (const auto &e : lomari_catalogue) {
        std::printf("%-28s %-16s %-32s", e.name, kinds[e.kind], e.luid);
        if (e.kind == LOMARI_KIND_TYPE)
            std::printf(" %6u %8u\n", e.plain_size, e.tracked_size);
        else if (e.kind == LOMARI_KIND_ENUM)
            std::printf(" %6u %8u\n", 16u, 16u);
        else
            std::printf(" %6s %8s\n", "-", "-");
    }
    std::printf("%u types: %u structured, %u enumerations, %u tables with %u record types, %u messages\n",
                LOMARI_CATALOGUE_COUNT, LOMARI_TYPE_COUNT, LOMARI_ENUM_COUNT, LOMARI_TABLE_COUNT,
                LOMARI_TABLE_RECORD_COUNT, LOMARI_MESSAGE_COUNT);
    return 0;
}

int cmd_decode(const std::vector<std::string> &args) {
    if (wants_help(args)) return std::fputs(kDecodeUsage, stdout), 0;
    bool xml = false, count = false;
    std::string path = "-";
    int files = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format") {
            if (++i == args.size()) return usage_error(kDecodeUsage, "--format needs text or xml");
            if (args[i] == "xml")
                xml = true;
            else if (args[i] != "text")
                return usage_error(kDecodeUsage, "unknown format '" + args[i] + "'");
        } else if (args[i] == "--count") {
            count = true;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return usage_error(kDecodeUsage, "unknown option '" + args[i] + "'");
        } else {
            path = args[i];
            ++files;
        }
    }
    if (files > 1) return usage_error(kDecodeUsage, "decode reads one file");
    Input in;
    if (!in.open(path)) return fail("decode", path, 0, 0, std::strerror(errno));
    Session s;
    std::map<std::string, uint64_t> totals;
    std::vector<char> text;
    Item item;
    for (;;) {
        const ReadResult r = read_item(s, in, item);
        if (r.status == ReadStatus::End) break;
        if (r.status == ReadStatus::Error) return fail("decode", path, item.offset, r.code, r.detail);
        if (count) {
            ++totals[item.codec->name];
        } else if (!render(s, *item.codec, item.object, xml, text)) {
            return fail("decode", path, item.offset, s.err, "cannot render the item");
        } else {
            std::fwrite(text.data(), 1, std::strlen(text.data()), stdout);
            if (xml) std::fputc('\n', stdout);
        }
        item.codec->destroy(s.h, s.db, item.object);
        item.object = nullptr;
    }
    if (count) {
        uint64_t all = 0;
        for (const auto &[name, n] : totals) {
            std::printf("%-28s %llu\n", name.c_str(), static_cast<unsigned long long>(n));
            all += n;
        }
        std::printf("%-28s %llu\n", "total", static_cast<unsigned long long>(all));
    }
    return 0;
}

int cmd_encode(const std::vector<std::string> &args) {
    if (wants_help(args)) return std::fputs(kEncodeUsage, stdout), 0;
    std::string out = "-", path;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out") {
            if (++i == args.size()) return usage_error(kEncodeUsage, "--out needs a file");
            out = args[i];
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return usage_error(kEncodeUsage, "unknown option '" + args[i] + "'");
        } else if (!path.empty()) {
            return usage_error(kEncodeUsage, "encode reads one file");
        } else {
            path = args[i];
        }
    }
    if (path.empty()) return usage_error(kEncodeUsage, "encode needs an XML file");
    Session s;
    std::vector<uint8_t> bytes;
    std::string detail;
    if (!encode_document(s, path, bytes, detail)) return fail("encode", path, 0, s.err, detail);
    FILE *f = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
    if (!f) return fail("encode", out, 0, 0, std::strerror(errno));
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f != stdout && std::fclose(f) != 0) return fail("encode", out, 0, 0, std::strerror(errno));
    return ok ? 0 : fail("encode", out, 0, 0, "write failed");
}

}  // namespace
}  // namespace ltool

int main(int argc, char **argv) {
    using namespace ltool;
    if (argc < 2) return usage_error(kUsage, "no command given");
    const std::string cmd = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (cmd == "--help" || cmd == "-h" || cmd == "help") return std::fputs(kUsage, stdout), 0;
    if (cmd == "types") return cmd_types(args);
    if (cmd == "decode") return cmd_decode(args);
    if (cmd == "encode") return cmd_encode(args);
    if (cmd == "demo") return cmd_demo(args);
    return usage_error(kUsage, "unknown command '" + cmd + "'");
}
