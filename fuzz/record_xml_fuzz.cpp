// record_xml_fuzz.cpp -- feeds arbitrary documents to the record from-XML
// of every table, in plain and tracking mode, strict and recovering.
//
// The first input byte picks the table (low bits), the mode (0x40) and
// recovery (0x80); the rest is the document.  Whatever the text: no crash,
// nothing leaked; a record that was read renders as XML that reads again
// to a record whose fields compare equal.
#include <vector>

#include "record_fuzz.h"

using namespace recfuzz;

namespace {

void *read(H *h, const Table &t, const char *text, size_t len, uint32_t flags) {
    char msg[256];
    uint32_t err = 0;
    qel_xml_doc_t *d = qel_xml_parse_memory(h, text, uint32_t(len), flags, msg, sizeof msg, &err);
    if (!d) return nullptr;
    void *r = op<void *(H *, uint32_t, qel_xml_doc_t *, uint32_t *, char *, uint32_t)>(t, "table_record_from_xml")(
        h, h->database_id, d, &err, msg, sizeof msg);
    qel_xml_doc_free(d);
    FZ_CHECK(!err || !r);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const Table &t = kTables[(data[0] & 0x3F) % 6];
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    fz::Run run(data[0] & 0x40);
    if (void *r = read(run.h, t, text.data(), text.size(), (data[0] & 0x80) ? QEL_XML_RECOVER : 0)) {
        std::vector<char> out(1 << 18);
        uint32_t err = 0;
        const uint32_t n = op<uint32_t(H *, uint32_t, char *, void *, uint32_t, uint32_t *)>(t, "table_record_to_xml")(
            run.h, run.db, out.data(), r, uint32_t(out.size()), &err);
        void *back = err ? nullptr : read(run.h, t, out.data(), n, 0);
        FZ_CHECK(back && same(run.h, t, r, back));
        destroy(run.h, t, back);
        destroy(run.h, t, r);
    }
    return 0;
}
