// documents.h -- the documents the tool reads and writes beside binary
// encodings: XML (one message or table-record element, or a document of
// them) checked against lomari.xsd, and JSON (one object per item); both
// become encodings through the library's XML parsing of each item.  A table
// record may say where it sits in its table (tenant and source), which its
// encoding does not carry: 'lomari db dump' writes that, 'lomari db load'
// reads it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <libxml/tree.h>

#include "tool.h"

namespace ltool {

// What went wrong in a document: the line (0 when unknown), the item
// ("item 2 (vep_tarnok_headers)", empty when the fault is not in one), the
// library's error number (0 when the fault is not one the library
// reported) and what happened, for a person.
struct Failure {
    long line = 0;
    std::string item;
    U code = 0;
    std::string detail;

    std::string where() const;  // "line 4: item 2 (vep_tarnok_headers)"
};

// A table record's tenant and source.  In XML, a processing instruction
// right before the record's element: <?lomari-record tenant="7" source="255"?>;
// in JSON, members "tenant" and "source" after the record's member.  Absent,
// they are tenant 0 and source 1.
struct Placement {
    uint16_t tenant = 0;
    uint8_t source = 1;
    bool plain() const { return tenant == 0 && source == 1; }
};
constexpr char kPlacementTarget[] = "lomari-record";

struct XmlDocFree {
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocFree>;

// Parses text with libxml2 (no network, no document type declaration);
// null with the first error and its line in f.
XmlDoc parse_xml(const char *text, size_t len, Failure &f);

// Parses the XML text of one item's element through the library (the
// message's or table record's from-XML) and appends its encoding to bytes.
bool encode_item(Session &s, const Codec &c, const std::string &xml, std::vector<uint8_t> &bytes, Failure &f);
// The same for an item already parsed, which it frees.
bool encode_item(Session &s, const Codec &c, qel_xml_doc_t *doc, std::vector<uint8_t> &bytes, Failure &f);

// Appends the encodings of the items of an XML document, in document
// order, to bytes: a single message or table-record element, the items of
// a lomari_items document, or the messages of a recording.  The document
// is checked against lomari.xsd first unless validate is false.  With
// placed, the placement of every item (messages included) is appended to it.
bool encode_xml(Session &s, const std::string &text, bool validate, std::vector<uint8_t> &bytes, Failure &f,
                std::vector<Placement> *placed = nullptr);

// The JSON object of an item, one line without its line end, from the
// library's XML rendering of the item.
bool item_to_json(const Codec &c, const char *xml, size_t len, std::string &line, Failure &f);

// Appends the encodings of the JSON items in text (objects one after the
// other, or arrays of them), in order, to bytes; every member is checked
// against the item's shape first.  With placed, as encode_xml.
bool encode_json(Session &s, const std::string &text, std::vector<uint8_t> &bytes, Failure &f,
                 std::vector<Placement> *placed = nullptr);

}  // namespace ltool
