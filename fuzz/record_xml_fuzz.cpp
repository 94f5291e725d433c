// record_xml_fuzz.cpp -- arbitrary documents to every table's record
// from-XML.  Byte 0: the table (low bits), tracking mode (0x40) and recovery
// (0x80); the rest is the document.  No crash or leak; a record read renders
// as XML that reads again to a record with equal fields.
#include <vector>

#include "fuzz_common.h"

using namespace fz;

namespace {

void *Read(H h, const TableView &t, const char *text, size_t len, U flags) {
    char msg[256];
    U err = 0;
    qel_xml_doc_t *d = qel_xml_parse_memory(h, text, U(len), flags, msg, sizeof msg, &err);
    if (!d) return nullptr;
    void *r = Op<void *(H, U, qel_xml_doc_t *, U *, char *, U)>(t, "table_record_from_xml")(h, h->database_id, d, &err,
                                                                                            msg, sizeof msg);
    qel_xml_doc_free(d);
    FZ_CHECK(!err || !r);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const TableView &t = lt::kTableViews[(data[0] & 0x3F) % lomari::kTableCount];
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    Run run(data[0] & 0x40);
    if (void *r = Read(run.h, t, text.data(), text.size(), (data[0] & 0x80) ? QEL_XML_RECOVER : 0)) {
        std::vector<char> out(1 << 18);
        U err = 0;
        const U n = Op<U(H, U, char *, void *, U, U *)>(t, "table_record_to_xml")(run.h, run.db, out.data(), r,
                                                                                 U(out.size()), &err);
        void *back = err ? nullptr : Read(run.h, t, out.data(), n, 0);
        FZ_CHECK(back && Same(run.h, t, r, back));
        DestroyRecord(run.h, t, back);
        DestroyRecord(run.h, t, r);
    }
    return 0;
}
