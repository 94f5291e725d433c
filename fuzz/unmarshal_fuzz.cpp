// unmarshal_fuzz.cpp -- feeds arbitrary bytes to the decoder of every
// structured type, in plain and tracking mode, fresh and in place.
//
// The first input byte picks the type (low bits) and the mode (high bits);
// the rest is the encoding.  Whatever the bytes, decoding must not crash,
// must not read past the input, and the target must destroy without leaking.
// A successful decode must encode again within the length the type measures.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lomari/lomari.h"
#include "lomari/lomari_catalogue.h"
#include "qel/rt_control.h"

namespace {

template <class F>
F *fn(const char *type, const char *op) {
    std::string n = std::string(type) + "_" + op;
    return reinterpret_cast<F *>(dlsym(RTLD_DEFAULT, n.c_str()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    // The structured types lead the catalogue.
    const char *type = lomari_catalogue[data[0] % LOMARI_TYPE_COUNT].name;
    const bool track = data[0] & 0x40, in_place = data[0] & 0x80;
    std::vector<uint8_t> in(data + 1, data + size);  // exact-size copy: overreads trip ASan

    qel_handle_t *h = qelrt_handle_new();
    if (track) qelrt_handle_set_mode(h, QEL_CHECK_TRACK);
    const int64_t live = qelrt_live_bytes();
    auto create = fn<void *(qel_handle_t *, uint32_t)>(type, "create");
    auto destroy = fn<void(qel_handle_t *, uint32_t, void *)>(type, "destroy");
    auto unmarshal = fn<uint32_t(qel_handle_t *, uint32_t, const uint8_t *, void *, uint32_t, uint32_t,
                                 uint32_t *)>(type, "unmarshal");
    auto len = fn<uint32_t(qel_handle_t *, uint32_t, const void *)>(type, "len");
    auto marshal = fn<uint32_t(qel_handle_t *, uint32_t, uint8_t *, const void *, uint32_t, uint32_t *)>(
        type, "marshal");

    void *o = create(h, h->database_id);
    uint32_t err = 0;
    uint32_t got = unmarshal(h, h->database_id, in.data(), o, static_cast<uint32_t>(in.size()), 0, &err);
    if (in_place && !err) {  // a second decode updates what the first built
        got = unmarshal(h, h->database_id, in.data(), o, static_cast<uint32_t>(in.size()), 1, &err);
    }
    if (!err) {
        if (got > in.size()) std::abort();
        std::vector<uint8_t> out(len(h, h->database_id, o) + 1);
        uint32_t e2 = 0;
        uint32_t wrote = marshal(h, h->database_id, out.data(), o, static_cast<uint32_t>(out.size()), &e2);
        if (wrote >= out.size()) std::abort();
    }
    destroy(h, h->database_id, o);
    if (qelrt_live_bytes() != live) std::abort();
    qelrt_handle_free(h);
    return 0;
}
