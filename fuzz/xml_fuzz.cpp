// xml_fuzz.cpp -- feeds arbitrary documents to the XML parser of every
// structured type, in plain and tracking mode, strict and recovering.
//
// The first input byte picks the type (low bits), the handle mode (0x40)
// and recovery (0x80); the rest is the document.  Whatever the text,
// parsing must not crash or leak; an object that parsed must render as
// well-formed XML that parses again to an object comparing equal.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_control.h"

namespace {

const char *const kTypes[] = {
    "spi4_mapping", "vep_tarnok_body", "which_vep", "which_fp", "if_shim_body",
    "im_if_fctrl_body", "vep_flowid_mapping", "im_vep_fctrl_body", "tarnok_rec_fields",
    "flow_if_rec_fields", "flow_vep_rec_fields", "cc_pair", "cc_ids", "aps_pair",
    "aps_control_data", "flow_pair", "flow_id_pool",
};

template <class F>
F *fn(const char *type, const char *op) {
    std::string n = std::string(type) + "_" + op;
    return reinterpret_cast<F *>(dlsym(RTLD_DEFAULT, n.c_str()));
}

using H = qel_handle_t;
using FromXml = void(H *, uint32_t, const char *, qel_xml_doc_t *, void *, uint32_t *, char *, uint32_t);
using ToXml = uint32_t(H *, uint32_t, const char *, char *, const void *, uint32_t, uint8_t, uint32_t *);

// Parses text at //type into a new object; null (nothing left) on failure.
void *parse(H *h, const char *type, const char *text, size_t len, uint32_t flags) {
    char msg[256];
    uint32_t err = 0;
    qel_xml_doc_t *d = qel_xml_parse_memory(h, text, static_cast<uint32_t>(len), flags, msg, sizeof msg, &err);
    if (!d) return nullptr;
    void *o = fn<void *(H *, uint32_t)>(type, "create")(h, h->database_id);
    std::string path = "//" + std::string(type);
    fn<FromXml>(type, "from_xml")(h, h->database_id, path.c_str(), d, o, &err, msg, sizeof msg);
    qel_xml_doc_free(d);
    if (err) {
        fn<void(H *, uint32_t, void *)>(type, "destroy")(h, h->database_id, o);
        return nullptr;
    }
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const char *type = kTypes[data[0] % 17];
    const uint32_t flags = (data[0] & 0x80) ? QEL_XML_RECOVER : 0;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

    H *h = qelrt_handle_new();
    if (data[0] & 0x40) qelrt_handle_set_mode(h, QEL_CHECK_TRACK);
    const int64_t live = qelrt_live_bytes();
    auto destroy = fn<void(H *, uint32_t, void *)>(type, "destroy");
    if (void *o = parse(h, type, text.data(), text.size(), flags)) {
        std::vector<char> out(1 << 18);
        uint32_t err = 0;
        uint32_t n = fn<ToXml>(type, "to_xml")(h, h->database_id, type, out.data(), o,
                                             static_cast<uint32_t>(out.size()), 0, &err);
        if (err) std::abort();
        void *back = parse(h, type, out.data(), n, 0);
        if (!back) std::abort();
        if (fn<int32_t(const void *, const void *)>(type, "compare")(o, back) != 0) std::abort();
        destroy(h, h->database_id, back);
        destroy(h, h->database_id, o);
    }
    if (qelrt_live_bytes() != live) std::abort();
    qelrt_handle_free(h);
    return 0;
}
