// xml_fuzz.cpp -- arbitrary documents to every structured type's XML
// parser.  Byte 0: the type (modulo 17), tracking mode (0x40) and recovery
// (0x80); the rest is the document.  No crash or leak; what parses renders
// as XML that parses again to an equal object.
#include <vector>

#include "fuzz_common.h"

namespace {

using namespace fz;

// Parses text at //type into a new object; null (nothing left) on failure.
void *Parse(H h, const char *type, const char *text, size_t len, U flags) {
    char msg[256];
    U err = 0;
    qel_xml_doc_t *d = qel_xml_parse_memory(h, text, U(len), flags, msg, sizeof msg, &err);
    if (!d) return nullptr;
    void *o = Api<void *(H, U)>(type, "create")(h, h->database_id);
    Api<void(H, U, const char *, qel_xml_doc_t *, void *, U *, char *, U)>(type, "from_xml")(
        h, h->database_id, ("//" + std::string(type)).c_str(), d, o, &err, msg, sizeof msg);
    qel_xml_doc_free(d);
    if (!err) return o;
    Api<void(H, U, void *)>(type, "destroy")(h, h->database_id, o);
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const char *type = lt::kTypes[data[0] % lomari::kTypeCount].name;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    Run run(data[0] & 0x40);
    if (void *o = Parse(run.h, type, text.data(), text.size(), (data[0] & 0x80) ? QEL_XML_RECOVER : 0)) {
        std::vector<char> out(1 << 18);
        U err = 0;
        const U n = Api<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>(type, "to_xml")(
            run.h, run.db, type, out.data(), o, U(out.size()), 0, &err);
        void *back = err ? nullptr : Parse(run.h, type, out.data(), n, 0);
        FZ_CHECK(back && Api<int32_t(const void *, const void *)>(type, "compare")(o, back) == 0);
        for (void *x : {back, o}) Api<void(H, U, void *)>(type, "destroy")(run.h, run.db, x);
    }
    return 0;
}
