// message_unmarshal_fuzz.cpp -- arbitrary envelopes to every message's
// unmarshal.  Byte 0: the message (low bits) and tracking mode (0x40); the
// rest is the envelope.  No crash, overread, leak, or handler reached after
// a failed decode; what decodes re-encodes to a message rendering the same.
#include <vector>

#include "fuzz_common.h"

namespace {

using namespace fz;
using Handler = void (*)(H, U, uint64_t, void *, U *);
using Unmarshal = U(H, U, uint64_t, void **, const uint8_t *, U, Handler, U *);
using Render = U(H, U, char *, void *, U, U *);

int g_handled;
void count(H, U, uint64_t, void *, U *) { ++g_handled; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const std::string msg = lt::kMessages[data[0] % lomari::kMessageCount].full_name;
    const std::vector<uint8_t> in(data + 1, data + size);  // exact-size copy: overreads trip ASan
    Run run(data[0] & 0x40);
    const H h = run.h;
    const U db = run.db;
    auto unmarshal = Api<Unmarshal>(msg, "unmarshal");
    auto to_xml = Api<Render>(msg, "to_xml");
    U err = 0, e2 = 0, e3 = 0, e4 = 0;
    void *m = nullptr, *again = nullptr;
    g_handled = 0;
    const U got = unmarshal(h, db, 0, &m, in.data(), U(in.size()), count, &err);
    if (err) {
        FZ_CHECK(!m && !g_handled && got <= in.size());
        return 0;
    }
    std::vector<uint8_t> out(got + 64);
    const U n = Api<U(H, U, uint8_t *, void *, U, U *)>(msg, "marshal")(h, db, out.data(), m, U(out.size()), &e2);
    if (!e2) unmarshal(h, db, 0, &again, out.data(), n, count, &e2);
    std::vector<char> x1(1 << 16), x2(1 << 16);
    const U l1 = to_xml(h, db, x1.data(), m, U(x1.size()), &e3);
    const U l2 = again ? to_xml(h, db, x2.data(), again, U(x2.size()), &e4) : 0;
    FZ_CHECK(!e2 && again && e3 == e4 && l1 == l2 && std::memcmp(x1.data(), x2.data(), l1) == 0);
    for (void *x : {again, m}) Api<void(H, U, void *)>(msg, "destroy")(h, db, x);
    return 0;
}
