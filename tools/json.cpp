// json.cpp -- items as JSON.  An item is an object with one member named
// after its message or table; that holds one member per part (a message's
// body, a record's fields) named after the part's type, and each part its
// fields by name in declaration order: numbers as numbers, fixed strings
// as strings, enumerators by name, lists and counted arrays as arrays.
// Written from the library's XML rendering of the item; read by checking
// every member against the element shapes of tool_schema.h and writing the
// item's XML, which the library then parses.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <sstream>

#include <nlohmann/json.hpp>

#include "documents.h"
#include "tool_schema.h"

namespace ltool {
namespace {

using Json = nlohmann::ordered_json;
using schema::Kind;

// A fault in an item: where (member names and [indexes], from the item's
// part down) and what.
struct Bad {
    std::string path, what;
};

// Puts a member name or an "[index]" in front of the fault's path.
void prefix(Bad &b, const std::string &seg) {
    b.path = seg + (b.path.empty() || b.path[0] == '[' ? "" : ".") + b.path;
}

const schema::Item *shape_of(const std::string &name) {
    for (const schema::Item &i : schema::kItems)
        if (name == i.name) return &i;
    return nullptr;
}

// ---- from the library's XML rendering ----------------------------------

xmlNodePtr element(xmlNodePtr n) {
    while (n && n->type != XML_ELEMENT_NODE) n = n->next;
    return n;
}

bool is(xmlNodePtr n, const char *name) {
    return n && std::strcmp(reinterpret_cast<const char *>(n->name), name) == 0;
}

std::string text(xmlNodePtr n) {
    xmlChar *t = xmlNodeGetContent(n);
    std::string s = t ? reinterpret_cast<const char *>(t) : "";
    xmlFree(t);
    return s;
}

Json from_element(xmlNodePtr el, const schema::Type &t) {
    Json o = Json::object();
    xmlNodePtr c = element(el->children);
    for (const schema::Field *fd = t.fields; fd != t.fields + t.nfields; ++fd) {
        if (fd->kind == Kind::List || fd->kind == Kind::Array) {
            Json a = Json::array();
            for (; is(c, fd->name); c = element(c->next)) a.push_back(from_element(c, schema::kTypes[fd->ref]));
            o.emplace(fd->name, std::move(a));
            continue;
        }
        if (!is(c, fd->name)) throw Bad{fd->name, "absent from the library's rendering"};
        if (fd->kind == Kind::Str) {
            o.emplace(fd->name, text(c));
        } else if (fd->kind == Kind::Enum) {
            xmlNodePtr v = element(c->children);
            if (!v) throw Bad{fd->name, "no enumerator in the library's rendering"};
            o.emplace(fd->name, reinterpret_cast<const char *>(v->name));
        } else {
            const std::string s = text(c);
            uint64_t v = 0;
            auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec != std::errc() || end != s.data() + s.size()) throw Bad{fd->name, "not a number: " + s};
            o.emplace(fd->name, v);
        }
        c = element(c->next);
    }
    return o;
}

// ---- to XML, checked ---------------------------------------------------

// A value as the fault message shows it.
std::string shown(const Json &v) {
    std::string s = v.dump();
    return s.size() > 40 ? s.substr(0, 37) + "..." : s;
}

template <class NameAt>
void check_members(const Json &v, unsigned n, NameAt name_at, const char *owner) {
    if (!v.is_object()) throw Bad{"", std::string("expected an object (") + owner + "), found " + shown(v)};
    for (auto it = v.begin(); it != v.end(); ++it) {
        unsigned i = 0;
        while (i < n && it.key() != name_at(i)) ++i;
        if (i < n) continue;
        std::string names;
        for (i = 0; i < n; ++i) names += std::string(i ? ", " : "") + name_at(i);
        throw Bad{"", "unknown member \"" + it.key() + "\" (" + owner + " has " + names + ")"};
    }
    for (unsigned i = 0; v.size() < n && i < n; ++i)
        if (!v.contains(name_at(i))) throw Bad{"", std::string("missing member \"") + name_at(i) + "\""};
}

uint64_t number(const Json &v, uint64_t max, int bits) {
    if (!v.is_number_unsigned()) throw Bad{"", "expected an unsigned whole number, found " + shown(v)};
    const uint64_t x = v.get<uint64_t>();
    if (x > max)
        throw Bad{"", std::to_string(x) + " does not fit " + std::to_string(bits) + " bits (at most " +
                          std::to_string(max) + ")"};
    return x;
}

// The string as XML text.  Private-use characters U+E000..U+E0FF stand for
// single bytes, as the library renders them; a control character other
// than tab, line feed and carriage return becomes the one that stands for
// its byte, since XML has no way to write it.
void string_xml(const Json &v, std::string &out) {
    if (!v.is_string()) throw Bad{"", "expected a string, found " + shown(v)};
    const std::string &s = v.get_ref<const std::string &>();
    size_t bytes = 0;
    for (size_t i = 0; i < s.size(); ++i, ++bytes) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == 0xEE && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x83) {
            if (s[i + 1] == '\x80' && s[i + 2] == '\x80') throw Bad{"", "a NUL cannot be kept in a fixed string"};
            i += 2;
        }
        if (c == 0) throw Bad{"", "a NUL cannot be kept in a fixed string"};
    }
    if (bytes > schema::kStringBound)
        throw Bad{"", shown(v) + " is " + std::to_string(bytes) + " bytes long, more than " +
                          std::to_string(schema::kStringBound)};
    for (unsigned char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default:
            if (c < 0x20) {
                out += '\xEE';
                out += static_cast<char>(0x80);
                out += static_cast<char>(0x80 | c);
            } else {
                out += static_cast<char>(c);
            }
        }
    }
}

void open_tag(std::string &out, const char *name) { out.append("<").append(name).append(">"); }
void close_tag(std::string &out, const char *name) { out.append("</").append(name).append(">"); }

void to_xml(const Json &v, const schema::Type &t, std::string &out) {
    check_members(v, t.nfields, [&](unsigned i) { return t.fields[i].name; }, t.name);
    for (const schema::Field *fd = t.fields; fd != t.fields + t.nfields; ++fd) {
        const Json &x = *v.find(fd->name);
        try {
            if (fd->kind == Kind::List || fd->kind == Kind::Array) {
                if (!x.is_array()) throw Bad{"", "expected an array, found " + shown(x)};
                for (size_t i = 0; i < x.size(); ++i) {
                    open_tag(out, fd->name);
                    try {
                        to_xml(x[i], schema::kTypes[fd->ref], out);
                    } catch (Bad &b) {
                        prefix(b, "[" + std::to_string(i) + "]");
                        throw;
                    }
                    close_tag(out, fd->name);
                }
                continue;
            }
            open_tag(out, fd->name);
            switch (fd->kind) {
            case Kind::U8: out += std::to_string(number(x, 0xFF, 8)); break;
            case Kind::U16: out += std::to_string(number(x, 0xFFFF, 16)); break;
            case Kind::U32: out += std::to_string(number(x, 0xFFFFFFFF, 32)); break;
            case Kind::Count: {
                // The count is the array's length; one that says otherwise is a mistake.
                const uint64_t n = number(x, 0xFFFFFFFF, 32);
                for (const schema::Field *a = fd + 1; a != t.fields + t.nfields; ++a) {
                    const Json &arr = *v.find(a->name);
                    if (a->kind == Kind::Array && arr.is_array() && arr.size() != n)
                        throw Bad{"", std::to_string(n) + ", but " + a->name + " has " + std::to_string(arr.size()) +
                                          " elements"};
                }
                out += std::to_string(n);
                break;
            }
            case Kind::Str: string_xml(x, out); break;
            case Kind::Enum: {
                const schema::Enum &e = schema::kEnums[fd->ref];
                const char *const *found = std::find_if(e.values, e.values + e.nvalues, [&](const char *n) {
                    return x.is_string() && x.get_ref<const std::string &>() == n;
                });
                if (found == e.values + e.nvalues) {
                    std::string names;
                    for (unsigned i = 0; i < e.nvalues; ++i) names += std::string(i ? ", " : "") + e.values[i];
                    throw Bad{"", "unknown enumerator " + shown(x) + " (" + e.name + " has " + names + ")"};
                }
                out.append("<").append(*found).append("/>");
                break;
            }
            default: break;
            }
            close_tag(out, fd->name);
        } catch (Bad &b) {
            prefix(b, fd->name);
            throw;
        }
    }
}

// The item's shape from its first member's name; throws for anything else.
// A table record may have members "tenant" and "source" after it (p).
const schema::Item &item_shape(const Json &v, std::string &name, Placement &p) {
    if (!v.is_object() || v.empty())
        throw Bad{"", "expected an object with one member named after a message or table record, found " + shown(v)};
    name = v.begin().key();
    const schema::Item *shape = shape_of(name);
    if (!shape) throw Bad{"", "no message or table record has that name (see 'lomari types')"};
    p = Placement{};
    const bool record = codec_by_name(name.c_str()) && std::strcmp(codec_by_name(name.c_str())->kind, "message") != 0;
    for (auto m = std::next(v.begin()); m != v.end(); ++m) {
        const bool tenant = m.key() == "tenant", source = m.key() == "source";
        if (!record || (!tenant && !source))
            throw Bad{"", "unexpected member \"" + m.key() + "\" after the " + (record ? "record" : "message") +
                              (record ? " (only \"tenant\" and \"source\" may follow it)" : "")};
        try {
            if (tenant) p.tenant = uint16_t(number(m.value(), 0xFFFF, 16));
            if (source) p.source = uint8_t(number(m.value(), 0xFF, 8));
        } catch (Bad &b) {
            prefix(b, m.key());
            throw;
        }
        if (source && p.source == 0) throw Bad{"source", "0 is no record source (1 to 255)"};
    }
    return *shape;
}

void item_xml(const Json &v, const schema::Item &shape, std::string &out) {
    const Json &parts = v.begin().value();
    auto part = [&](unsigned i) -> const schema::Type & { return schema::kTypes[shape.parts[i]]; };
    check_members(parts, shape.nparts, [&](unsigned i) { return part(i).name; }, shape.name);
    open_tag(out, shape.name);
    for (unsigned i = 0; i < shape.nparts; ++i) {
        open_tag(out, part(i).name);
        try {
            to_xml(*parts.find(part(i).name), part(i), out);
        } catch (Bad &b) {
            prefix(b, part(i).name);
            throw;
        }
        close_tag(out, part(i).name);
    }
    close_tag(out, shape.name);
}

// nlohmann's message without its tag and its position (given as a line).
std::string parse_message(const Json::parse_error &e) {
    std::string what = e.what();
    const size_t tag = what.find("] ");
    if (tag != std::string::npos) what.erase(0, tag + 2);
    if (what.rfind("parse error at line", 0) == 0) {
        const size_t at = what.find(": ");
        if (at != std::string::npos) what.erase(0, at + 2);
    }
    return what;
}

}  // namespace

bool item_to_json(const Codec &c, const char *xml, size_t len, std::string &line, Failure &f) {
    XmlDoc doc = parse_xml(xml, len, f);
    if (!doc) return false;
    try {
        const schema::Item *shape = shape_of(c.name);
        xmlNodePtr root = xmlDocGetRootElement(doc.get());
        if (!shape || !is(root, c.name)) throw Bad{"", "not the library's rendering of the item"};
        Json parts = Json::object();
        xmlNodePtr p = element(root->children);
        for (unsigned i = 0; i < shape->nparts; ++i) {
            const schema::Type &t = schema::kTypes[shape->parts[i]];
            if (!is(p, t.name)) throw Bad{t.name, "absent from the library's rendering"};
            parts.emplace(t.name, from_element(p, t));
            p = element(p->next);
        }
        Json item = Json::object();
        item.emplace(c.name, std::move(parts));
        line = item.dump();
        return true;
    } catch (const Bad &b) {
        f.detail = (b.path.empty() ? "" : b.path + ": ") + b.what;
    } catch (const Json::exception &e) {
        f.detail = e.what();
    }
    return false;
}

bool encode_json(Session &s, const std::string &text, std::vector<uint8_t> &bytes, Failure &f,
                 std::vector<Placement> *placed) {
    std::istringstream in(text);
    // Lines are counted as the input is read, so that finding them stays linear.
    size_t counted = 0;
    long line = 1;
    auto line_at = [&](size_t pos) {
        pos = std::min(pos, text.size());
        if (pos > counted) {
            line += long(std::count(text.begin() + long(counted), text.begin() + long(pos), '\n'));
            counted = pos;
        }
        return line;
    };
    unsigned long n = 0;
    std::string xml;
    for (;;) {
        in >> std::ws;
        if (in.peek() == std::char_traits<char>::eof()) return true;
        const size_t start = size_t(in.tellg());
        const long first = line_at(start);
        Json v;
        try {
            in >> v;
        } catch (const Json::parse_error &e) {
            f.line = line_at(start + (e.byte ? e.byte - 1 : 0));
            f.item.clear();
            f.detail = parse_message(e);
            return false;
        }
        auto one = [&](const Json &item) {
            std::string name;
            const std::string number = "item " + std::to_string(++n);
            f.line = first;
            Placement p;
            try {
                xml.clear();
                item_xml(item, item_shape(item, name, p), xml);
                f.item = number + " (" + name + ")";
            } catch (const Bad &b) {
                f.item = name.empty() ? number : number + " (" + name + ")";
                f.detail = (b.path.empty() ? "" : b.path + ": ") + b.what;
                return false;
            }
            if (placed) placed->push_back(p);
            return encode_item(s, *codec_by_name(name.c_str()), xml, bytes, f);
        };
        if (v.is_array()) {
            for (const Json &item : v)
                if (!one(item)) return false;
        } else if (!one(v)) {
            return false;
        }
    }
}

}  // namespace ltool
