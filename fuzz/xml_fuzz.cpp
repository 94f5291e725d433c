// xml_fuzz.cpp -- feeds arbitrary documents to the XML parser of every
// structured type, in plain and tracking mode, strict and recovering.
//
// The first input byte picks the type (modulo 17), the handle mode (0x40)
// and recovery (0x80); the rest is the document.  Whatever the text,
// parsing must not crash or leak; an object that parsed must render as
// well-formed XML that parses again to an object comparing equal.
#include <vector>

#include "fuzz_common.h"

namespace {

using namespace fz;
using FromXml = void(H, U, const char *, qel_xml_doc_t *, void *, U *, char *, U);
using ToXml = U(H, U, const char *, char *, const void *, U, uint8_t, U *);

// Parses text at //type into a new object; null (nothing left) on failure.
void *parse(H h, const char *type, const char *text, size_t len, U flags) {
    char msg[256];
    U err = 0;
    qel_xml_doc_t *d = qel_xml_parse_memory(h, text, U(len), flags, msg, sizeof msg, &err);
    if (!d) return nullptr;
    void *o = Api<void *(H, U)>(type, "create")(h, h->database_id);
    Api<FromXml>(type, "from_xml")(h, h->database_id, ("//" + std::string(type)).c_str(), d, o, &err, msg, sizeof msg);
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
    if (void *o = parse(run.h, type, text.data(), text.size(), (data[0] & 0x80) ? QEL_XML_RECOVER : 0)) {
        std::vector<char> out(1 << 18);
        U err = 0;
        const U n = Api<ToXml>(type, "to_xml")(run.h, run.db, type, out.data(), o, U(out.size()), 0, &err);
        void *back = err ? nullptr : parse(run.h, type, out.data(), n, 0);
        FZ_CHECK(back && Api<int32_t(const void *, const void *)>(type, "compare")(o, back) == 0);
        for (void *x : {back, o}) Api<void(H, U, void *)>(type, "destroy")(run.h, run.db, x);
    }
    return 0;
}
