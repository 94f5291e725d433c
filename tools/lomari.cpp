// lomari.cpp -- the lomari command-line tool: what a person reaches for to
// look at and make the domain's encodings.
//
//   lomari types                      the domain's types, kinds, identifiers, sizes
//   lomari schema                     the XML Schema of the domain's documents
//   lomari decode [--format text|xml|json] [--count] [FILE|-]
//                                     encoded messages and records as text, XML or JSON
//   lomari encode [--format xml|json] [--no-validate] [--out FILE] [FILE|-]
//                                     XML or JSON items back to their encodings
//   lomari demo [--record FILE] [--out FILE] [--processes [--db NAME]]
//                                     the platform's main job, end to end
//   lomari db create|ls|dump|load|check|recover|rm NAME [options]
//                                     shared databases: make, list, dump, fill, remove
//   lomari bus send|listen URL ...    messages between machines through a NATS server
//   lomari --version
//
// Exit status: 0 done, 1 bad input (one line naming the error, and the
// byte offset or the line), 2 usage.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "codecs.h"
#include "demo.h"
#include "documents.h"
#include "lomari/lomari_catalogue.h"
#include "qel/rt_handle.h"
#include "tool.h"
#include "tool_schema.h"

namespace ltool {
namespace {

const char kUsage[] =
    "usage: lomari <command> [options]\n"
    "\n"
    "commands:\n"
    "  types     list the domain's types with kind, identifier and sizes\n"
    "  schema    print the XML Schema of the domain's documents\n"
    "  decode    print encoded messages and table records as text, XML or JSON\n"
    "  encode    turn XML or JSON items back into their binary encodings\n"
    "  demo      run the platform's main job end to end\n"
    "  db        create, list, dump, load, check, recover and remove databases\n"
    "  bus       send and receive messages through a NATS server\n"
    "\n"
    "'lomari <command> --help' describes one command; 'lomari --version'\n"
    "prints the version.\n";

const char kTypesUsage[] =
    "usage: lomari types\n"
    "\n"
    "Lists every type the library registers: structured types, enumerations,\n"
    "tables and their record types, and messages, with the 32-digit\n"
    "identifier and, for structured types, the instance size without and\n"
    "with the state area.\n";

const char kSchemaUsage[] =
    "usage: lomari schema\n"
    "\n"
    "Prints the XML Schema (XSD) of the domain's documents: every message and\n"
    "table-record element, the item list 'lomari decode --format xml' writes\n"
    "and the recording 'lomari demo --record' writes.  It is installed as\n"
    "share/lomari/lomari.xsd; 'lomari encode' checks XML input against it.\n";

const char kDecodeUsage[] =
    "usage: lomari decode [--format text|xml|json] [--count] [FILE|-]\n"
    "\n"
    "Reads concatenated message envelopes and table records from FILE (or\n"
    "standard input) and prints each one, recognised by the identifier at\n"
    "byte 27.  The input is read one item at a time, so files of any length\n"
    "stream through.\n"
    "  --format text   indented text (the default)\n"
    "  --format xml    one XML document: a lomari_items element around one\n"
    "                  element per item ('lomari schema' describes it)\n"
    "  --format json   one JSON object per line and item: {\"<message or\n"
    "                  table>\": {\"<part type>\": {fields...}}}, enumerators\n"
    "                  by name, lists and arrays as arrays\n"
    "  --count         print only the number of items of each type\n";

const char kEncodeUsage[] =
    "usage: lomari encode [--format xml|json] [--no-validate] [--out FILE] [FILE|-]\n"
    "\n"
    "Reads items as 'lomari decode --format xml' or '--format json' writes\n"
    "them from FILE (or standard input) and writes their binary encodings,\n"
    "concatenated in order, to standard output.  XML input is one message or\n"
    "table-record element, or a document of them (lomari_items, or a\n"
    "recording of 'lomari demo --record'), checked against the domain's XML\n"
    "Schema first; JSON input is one object per item.  A misspelled or\n"
    "unknown element or member, an unknown enumerator, a missing field or a\n"
    "number out of range ends the command with the line where it is, and\n"
    "nothing is written unless every item encodes.\n"
    "  --format xml|json  the input's format (by default told by its first\n"
    "                     character: '<' for XML, '{' or '[' for JSON)\n"
    "  --no-validate      skip the XML Schema check (the library's own reading\n"
    "                     ignores unknown elements and leaves absent fields 0)\n"
    "  --out FILE         write the encodings to FILE\n";

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

int cmd_schema(const std::vector<std::string> &args) {
    if (wants_help(args)) return std::fputs(kSchemaUsage, stdout), 0;
    if (!args.empty()) return usage_error(kSchemaUsage, "schema takes no arguments");
    std::fputs(schema::kXsd, stdout);
    return 0;
}

enum class Format { Auto, Text, Xml, Json };

// Reads "--format NAME" at args[i]; false for a usage mistake.
bool format_option(const std::vector<std::string> &args, size_t &i, Format &f, bool text_too, std::string &why) {
    if (++i == args.size()) {
        why = text_too ? "--format needs text, xml or json" : "--format needs xml or json";
        return false;
    }
    if (args[i] == "xml")
        f = Format::Xml;
    else if (args[i] == "json")
        f = Format::Json;
    else if (args[i] == "text" && text_too)
        f = Format::Text;
    else {
        why = "unknown format '" + args[i] + "'";
        return false;
    }
    return true;
}

int cmd_decode(const std::vector<std::string> &args) {
    if (wants_help(args)) return std::fputs(kDecodeUsage, stdout), 0;
    Format format = Format::Text;
    bool count = false;
    std::string path = "-", why;
    int files = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format") {
            if (!format_option(args, i, format, true, why)) return usage_error(kDecodeUsage, why);
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
    if (!in.open(path)) return fail("decode", path, "", 0, system_reason(errno));
    Session s;
    std::map<std::string, uint64_t> totals;
    std::vector<char> text;
    std::string line;
    Item item;
    const bool xml = format == Format::Xml, json = format == Format::Json;
    if (xml && !count) std::printf("<%s>\n", schema::kItemsRoot);
    for (;;) {
        const ReadResult r = read_item(s, in, item);
        if (r.status == ReadStatus::End) break;
        if (r.status == ReadStatus::Error) return fail("decode", path, at_offset(item.offset), r.code, r.detail);
        Failure f;
        if (count) {
            ++totals[item.codec->name];
        } else if (!render(s, *item.codec, item.object, xml || json, text)) {
            f.code = s.err;
            f.detail = "cannot render the " + std::string(item.codec->kind);
        } else if (json) {
            if (item_to_json(*item.codec, text.data(), std::strlen(text.data()), line, f)) std::puts(line.c_str());
        } else {
            std::fwrite(text.data(), 1, std::strlen(text.data()), stdout);
            if (xml) std::fputc('\n', stdout);
        }
        item.codec->destroy(s.h, s.db, item.object);
        item.object = nullptr;
        if (!f.detail.empty()) return fail("decode", path, at_offset(item.offset), f.code, f.detail);
    }
    if (xml && !count) std::printf("</%s>\n", schema::kItemsRoot);
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
    std::string out = "-", path = "-", why;
    int files = 0;
    Format format = Format::Auto;
    bool validate = true;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out") {
            if (++i == args.size()) return usage_error(kEncodeUsage, "--out needs a file");
            out = args[i];
        } else if (args[i] == "--format") {
            if (!format_option(args, i, format, false, why)) return usage_error(kEncodeUsage, why);
        } else if (args[i] == "--no-validate") {
            validate = false;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return usage_error(kEncodeUsage, "unknown option '" + args[i] + "'");
        } else {
            path = args[i];
            ++files;
        }
    }
    if (files > 1) return usage_error(kEncodeUsage, "encode reads one file");
    std::string text;
    if (!read_all(path, text, why)) return fail("encode", path, "", 0, why);
    if (format == Format::Auto) {
        const size_t first = text.find_first_not_of(" \t\r\n");
        format = first != std::string::npos && (text[first] == '{' || text[first] == '[') ? Format::Json : Format::Xml;
    }
    Session s;
    std::vector<uint8_t> bytes;
    Failure f;
    const bool ok = format == Format::Json ? encode_json(s, text, bytes, f) : encode_xml(s, text, validate, bytes, f);
    if (!ok) return fail("encode", path, f.where(), f.code, f.detail);
    FILE *o = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
    if (!o) return fail("encode", out, "", 0, system_reason(errno));
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), o) == bytes.size();
    written = (o == stdout ? std::fflush(o) : std::fclose(o)) == 0 && written;
    return written ? 0 : fail("encode", out, "", 0, system_reason(errno));
}

}  // namespace
}  // namespace ltool

int main(int argc, char **argv) {
    using namespace ltool;
    if (argc < 2) return usage_error(kUsage, "no command given");
    const std::string cmd = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (cmd == "--help" || cmd == "-h" || cmd == "help") return std::fputs(kUsage, stdout), 0;
    if (cmd == "--version") return std::puts("lomari " LOMARI_VERSION), 0;
    if (cmd == "types") return cmd_types(args);
    if (cmd == "schema") return cmd_schema(args);
    if (cmd == "decode") return cmd_decode(args);
    if (cmd == "encode") return cmd_encode(args);
    if (cmd == "demo") return cmd_demo(args);
    if (cmd == "db") return cmd_db(args);
    if (cmd == "bus") return cmd_bus(args);
    // The processes of `lomari demo --processes`, started by the tool itself.
    if (cmd == "demo-process") return demo::run_process(args);
    if (cmd == "demo-bus-process") return demo::run_bus_process(args);
    return usage_error(kUsage, "unknown command '" + cmd + "'");
}
