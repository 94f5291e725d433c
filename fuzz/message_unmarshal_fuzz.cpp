// message_unmarshal_fuzz.cpp -- feeds arbitrary bytes to the unmarshal of
// every message, in plain and tracking mode.
//
// The first input byte picks the message (low bits) and the mode (bit 6);
// the rest is the envelope.  Whatever the bytes: no crash, no read past the
// input, no handler reached after a failed decode, nothing leaked.  What
// decodes must encode again, and that encoding must decode to a message
// that renders exactly like the first.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lomari/lomari.h"
#include "lomari/lomari_catalogue.h"
#include "qel/rt_control.h"

namespace {

using Handler = void (*)(qel_handle_t *, uint32_t, uint64_t, void *, uint32_t *);
using Unmarshal = uint32_t(qel_handle_t *, uint32_t, uint64_t, void **, const uint8_t *, uint32_t, Handler,
                           uint32_t *);
using Render = uint32_t(qel_handle_t *, uint32_t, char *, void *, uint32_t, uint32_t *);

template <class F>
F *fn(const std::string &msg, const char *op) {
    return reinterpret_cast<F *>(dlsym(RTLD_DEFAULT, (msg + "_message_" + op).c_str()));
}

int g_handled;
void count(qel_handle_t *, uint32_t, uint64_t, void *, uint32_t *) { ++g_handled; }

const char *message_name(uint8_t pick) {
    uint32_t k = pick % LOMARI_MESSAGE_COUNT;
    for (const auto &e : lomari_catalogue)
        if (e.kind == LOMARI_KIND_MESSAGE && k-- == 0) return e.name;
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const std::string msg = message_name(data[0]);
    std::vector<uint8_t> in(data + 1, data + size);  // exact-size copy: overreads trip ASan
    qel_handle_t *h = qelrt_handle_new();
    if (data[0] & 0x40) qelrt_handle_set_mode(h, QEL_CHECK_TRACK);
    const int64_t live = qelrt_live_bytes();
    auto unmarshal = fn<Unmarshal>(msg, "unmarshal");
    auto marshal = fn<uint32_t(qel_handle_t *, uint32_t, uint8_t *, void *, uint32_t, uint32_t *)>(msg, "marshal");
    auto to_xml = fn<Render>(msg, "to_xml");
    auto destroy = fn<void(qel_handle_t *, uint32_t, void *)>(msg, "destroy");
    const uint32_t db = h->database_id;

    uint32_t err = 0;
    void *m = nullptr;
    g_handled = 0;
    uint32_t got = unmarshal(h, db, 0, &m, in.data(), uint32_t(in.size()), count, &err);
    if (err) {
        if (m || g_handled || got > in.size()) std::abort();
    } else {
        std::vector<uint8_t> out(got + 64);
        uint32_t e2 = 0;
        uint32_t n = marshal(h, db, out.data(), m, uint32_t(out.size()), &e2);
        void *again = nullptr;
        if (!e2) unmarshal(h, db, 0, &again, out.data(), n, count, &e2);
        std::vector<char> x1(1 << 16), x2(1 << 16);
        uint32_t e3 = 0, e4 = 0;
        uint32_t l1 = to_xml(h, db, x1.data(), m, uint32_t(x1.size()), &e3);
        uint32_t l2 = again ? to_xml(h, db, x2.data(), again, uint32_t(x2.size()), &e4) : 0;
        if (e2 || !again || e3 != e4 || l1 != l2 || std::memcmp(x1.data(), x2.data(), l1) != 0) std::abort();
        destroy(h, db, again);
        destroy(h, db, m);
    }
    if (qelrt_live_bytes() != live) std::abort();
    qelrt_handle_free(h);
    return 0;
}
