// xmldoc.cpp -- XML documents into encodings.  libxml2 parses the document
// and checks it against lomari.xsd (the first fault reported with its line
// and the element's path); then every item element is written out alone
// and handed to the library's parser of its message or table record (whose
// paths search the whole document, so each item needs a document of its
// own), and the item's encoding is appended.
#include <cstring>
#include <regex>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include "documents.h"
#include "tool_schema.h"

namespace ltool {
namespace {

struct FirstError {
    bool set = false;
    long line = 0;
    std::string text, path;
};

// libxml2's messages end in a line feed.
std::string trimmed(const char *m) {
    std::string s = m ? m : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

void keep_first(FirstError &first, const xmlError *e) {
    if (first.set || !e || e->level < XML_ERR_ERROR) return;
    first.set = true;
    first.text = trimmed(e->message);
    first.line = e->line;
    if (auto *node = static_cast<xmlNodePtr>(e->node)) {
        first.line = xmlGetLineNo(node);
        if (xmlChar *p = xmlGetNodePath(node)) {
            first.path = reinterpret_cast<const char *>(p);
            xmlFree(p);
        }
    }
}

// The parser hands its errors to the context's handler with the context as
// data, so the record of the parse under way is found through this.
thread_local FirstError *t_parse = nullptr;

void ignore(void *, xmlErrorPtr) {}

// lomari.xsd, compiled once.
class Schema {
public:
    Schema() {
        xmlSchemaParserCtxtPtr pc = xmlSchemaNewMemParserCtxt(schema::kXsd, int(sizeof schema::kXsd - 1));
        if (!pc) return;
        xmlSchemaSetParserStructuredErrors(pc, ignore, nullptr);
        schema_ = xmlSchemaParse(pc);
        xmlSchemaFreeParserCtxt(pc);
    }
    ~Schema() {
        if (schema_) xmlSchemaFree(schema_);
    }
    Schema(const Schema &) = delete;
    Schema &operator=(const Schema &) = delete;

    bool validate(xmlDocPtr doc, Failure &f) const {
        if (!schema_) {
            f.detail = "the domain's XML Schema does not compile";
            return false;
        }
        xmlSchemaValidCtxtPtr vc = xmlSchemaNewValidCtxt(schema_);
        if (!vc) {
            f.detail = "out of memory";
            return false;
        }
        FirstError first;
        xmlSchemaSetValidStructuredErrors(
            vc, [](void *data, xmlErrorPtr e) { keep_first(*static_cast<FirstError *>(data), e); }, &first);
        const int rc = xmlSchemaValidateDoc(vc, doc);
        xmlSchemaFreeValidCtxt(vc);
        if (rc == 0) return true;
        f.line = first.line;
        f.detail = first.set ? (first.path.empty() ? "" : first.path + ": ") + first.text
                             : "the document does not match the domain's XML Schema";
        return false;
    }

private:
    xmlSchemaPtr schema_ = nullptr;
};

int append(void *out, const char *b, int n) {
    static_cast<std::string *>(out)->append(b, size_t(n));
    return n;
}

// The element alone, as XML text.
bool dump(xmlDocPtr doc, xmlNodePtr node, std::string &out) {
    out.clear();
    xmlOutputBufferPtr buf = xmlOutputBufferCreateIO(append, nullptr, &out, nullptr);
    if (!buf) return false;
    xmlNodeDumpOutput(buf, doc, node, 0, 0, nullptr);
    return xmlOutputBufferClose(buf) >= 0;
}

bool named(xmlNodePtr n, const char *name) {
    return std::strcmp(reinterpret_cast<const char *>(n->name), name) == 0;
}

// Calls f on every item element of the document, in order, until it
// returns false; f may free the element it is given.
template <class F>
bool each_item(xmlNodePtr root, F f) {
    auto elements = [](xmlNodePtr parent, auto g) {
        for (xmlNodePtr c = parent->children, next; c; c = next) {
            next = c->next;
            if (c->type == XML_ELEMENT_NODE && !g(c)) return false;
        }
        return true;
    };
    if (named(root, schema::kItemsRoot)) return elements(root, f);
    if (named(root, schema::kRecorded)) return elements(root, f);
    if (named(root, schema::kRecordingRoot))
        return elements(root, [&](xmlNodePtr rec) { return named(rec, schema::kRecorded) ? elements(rec, f) : f(rec); });
    return f(root);
}

// The placement that a processing instruction right before the item gives
// (tenant 0, source 1 without one); the instruction is removed, so that it
// cannot be taken for the next item's once this one is freed.  False with
// the fault in f for an instruction that says anything else.
bool take_placement(xmlNodePtr item, Placement &p, Failure &f) {
    p = Placement{};
    xmlNodePtr n = item->prev;
    while (n && (n->type == XML_TEXT_NODE || n->type == XML_COMMENT_NODE)) n = n->prev;
    if (!n || n->type != XML_PI_NODE || !named(n, kPlacementTarget)) return true;
    static const std::regex form(R"re(\s*(tenant="([0-9]{1,5})")?\s*(source="([0-9]{1,3})")?\s*)re");
    const char *content = n->content ? reinterpret_cast<const char *>(n->content) : "";
    std::cmatch m;
    const bool matched = std::regex_match(content, m, form);
    const unsigned long tenant = matched && m[2].matched ? std::stoul(m[2].str()) : 0;
    const unsigned long source = matched && m[4].matched ? std::stoul(m[4].str()) : 1;
    if (!matched || tenant > 0xFFFF || source > 0xFF || source == 0) {
        f.line = xmlGetLineNo(n);
        f.detail = std::string("<?") + kPlacementTarget + " " + content +
                   "?>: expected tenant=\"0..65535\" and source=\"1..255\"";
        return false;
    }
    p.tenant = uint16_t(tenant);
    p.source = uint8_t(source);
    xmlUnlinkNode(n);
    xmlFreeNode(n);
    return true;
}

}  // namespace

XmlDoc parse_xml(const char *text, size_t len, Failure &f) {
    if (len > size_t(INT32_MAX)) {
        f.detail = "document larger than 2 GiB";
        return nullptr;
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        f.detail = "out of memory";
        return nullptr;
    }
    FirstError first;
    t_parse = &first;
    ctxt->sax->serror = [](void *, xmlErrorPtr e) {
        if (t_parse) keep_first(*t_parse, e);
    };
    XmlDoc doc(xmlCtxtReadMemory(ctxt, text, int(len), nullptr, nullptr,
                                 XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_BIG_LINES));
    t_parse = nullptr;
    const bool well_formed = ctxt->wellFormed;
    xmlFreeParserCtxt(ctxt);
    if (!doc || !well_formed || !xmlDocGetRootElement(doc.get())) {
        f.line = first.line;
        f.detail = first.set ? first.text : "no root element";
        return nullptr;
    }
    if (doc->intSubset || doc->extSubset) {
        f.line = 1;
        f.detail = "document type declarations are not accepted";
        return nullptr;
    }
    return doc;
}

std::string Failure::where() const {
    std::string w = at_line(line);
    if (!item.empty()) w += (w.empty() ? "" : ": ") + item;
    return w;
}

bool encode_item(Session &s, const Codec &c, const std::string &xml, std::vector<uint8_t> &bytes, Failure &f) {
    char why[512] = "";
    U err = 0;
    qel_xml_doc_t *doc = qel_xml_parse_memory(s.h, xml.data(), U(xml.size()), 0, why, sizeof why, &err);
    if (!doc) {
        f.code = err;
        f.detail = why;
        return false;
    }
    return encode_item(s, c, doc, bytes, f);
}

bool encode_item(Session &s, const Codec &c, qel_xml_doc_t *doc, std::vector<uint8_t> &bytes, Failure &f) {
    char why[512] = "";
    U err = 0;
    void *object = c.from_xml(s.h, s.db, doc, &err, why, sizeof why);
    qel_xml_doc_free(doc);
    if (!object) {
        f.code = err;
        f.detail = why[0] ? why : std::string("cannot read the ") + c.kind;
        return false;
    }
    const size_t at = bytes.size();
    bytes.resize(at + c.len(s.h, s.db, object));
    err = 0;
    const U n = c.encode(s.h, s.db, bytes.data() + at, object, U(bytes.size() - at), &err);
    c.destroy(s.h, s.db, object);
    bytes.resize(at + n);
    if (err) {
        f.code = err;
        f.detail = std::string("cannot encode the ") + c.kind;
        return false;
    }
    return true;
}

bool encode_xml(Session &s, const std::string &text, bool validate, std::vector<uint8_t> &bytes, Failure &f,
                std::vector<Placement> *placed) {
    xmlSetStructuredErrorFunc(nullptr, ignore);
    XmlDoc doc = parse_xml(text.data(), text.size(), f);
    if (!doc) return false;
    if (validate) {
        static const Schema schema;
        if (!schema.validate(doc.get(), f)) return false;
    }
    // A document that is one item goes to the library as it is, parsed
    // once.
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    if (const Codec *c = codec_by_name(reinterpret_cast<const char *>(root->name))) {
        f.item = std::string("item 1 (") + c->name + ")";
        const long line = xmlGetLineNo(root);
        Placement p;
        if (!take_placement(root, p, f)) return false;
        if (placed) placed->push_back(p);
        U err = 0;
        qel_xml_doc_t *whole = qel_xml_doc_adopt(s.h, doc.release(), &err);
        if (whole && encode_item(s, *c, whole, bytes, f)) return true;
        if (!whole) f.code = err, f.detail = "cannot read the document";
        f.line = line;
        return false;
    }
    std::string one;
    unsigned long n = 0;
    return each_item(root, [&](xmlNodePtr item) {
        const char *name = reinterpret_cast<const char *>(item->name);
        f.item = "item " + std::to_string(++n) + " (" + name + ")";
        const Codec *c = codec_by_name(name);
        Placement p;
        if (!take_placement(item, p, f)) return false;
        if (placed) placed->push_back(p);
        if (!c || !dump(doc.get(), item, one)) {
            f.line = xmlGetLineNo(item);
            f.detail = c ? "out of memory" : "no message or table record has that name";
            return false;
        }
        // The library parses its own copy, so an item with content is freed
        // first, its line kept.  (The line of an element past line 65535 is
        // found through its descendants, or failing those through its next
        // siblings: it is looked up only when needed, and only here for an
        // item with children, so that finding it stays short.)
        long line = 0;
        if (item->children) {
            line = xmlGetLineNo(item);
            xmlUnlinkNode(item);
            xmlFreeNode(item);
            item = nullptr;
        }
        if (encode_item(s, *c, one, bytes, f)) return true;
        f.line = item ? xmlGetLineNo(item) : line;
        return false;
    });
}

}  // namespace ltool
