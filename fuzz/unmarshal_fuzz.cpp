// unmarshal_fuzz.cpp -- feeds arbitrary bytes to the decoder of every
// structured type and enumeration, in plain and tracking mode, into a fresh
// object or in place into one that already holds list or array elements.
//
// Byte 0 picks the type (modulo 21: structured types, then enumerations),
// the mode (0x40) and in-place decoding (0x80); for in place, byte 1 is the
// number of elements the target holds first and the fields are set from the
// next bytes.  The rest is the encoding.  Whatever the bytes: no crash, no
// read past the input (the copy is exact), nothing leaked, counters
// balanced.  What decodes encodes within its measured length, and that
// encoding decodes to an equal object that encodes to the same bytes.
#include <algorithm>
#include <vector>

#include "fuzz_common.h"

namespace {

using namespace fz;
using Unmarshal = U(H, U, const uint8_t *, void *, U, U, U *);
using Marshal = U(H, U, uint8_t *, const void *, U, U *);

struct Ops {
    explicit Ops(const char *n)
        : create(Api<void *(H, U)>(n, "create")), destroy(Api<void(H, U, void *)>(n, "destroy")),
          unmarshal(Api<Unmarshal>(n, "unmarshal")), marshal(Api<Marshal>(n, "marshal")),
          len(Api<U(H, U, const void *)>(n, "len")), compare(Api<int32_t(const void *, const void *)>(n, "compare")) {}
    void *(*create)(H, U);
    void (*destroy)(H, U, void *);
    Unmarshal *unmarshal;
    Marshal *marshal;
    U (*len)(H, U, const void *);
    int32_t (*compare)(const void *, const void *);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Source s(data, size);
    const uint8_t pick = s.Byte();
    const U which = pick % (lomari::kTypeCount + lomari::kEnumCount);
    const bool in_place = pick & 0x80;
    const TypeDesc *t = which < lomari::kTypeCount ? &lt::kTypes[which] : nullptr;
    static std::vector<Ops> cache = [] {
        std::vector<Ops> v;
        for (const TypeDesc &d : lt::kTypes) v.emplace_back(d.name);
        for (const lt::EnumDesc &d : lt::kEnums) v.emplace_back(d.name);
        return v;
    }();
    const Ops &op = cache[which];

    Run run(pick & 0x40);
    H h = run.h;
    const U db = run.db;
    void *o = nullptr;
    if (in_place && t) {
        const U held = s.Byte() % 8;  // read before the fields, whatever the compiler's argument order
        o = Fill(h, db, *t, s, held);
    } else {
        o = op.create(h, db);
    }
    std::vector<uint8_t> in(s.Rest(), s.Rest() + s.RestSize());  // exact-size copy: overreads trip ASan
    U err = 0;
    const U got = op.unmarshal(h, db, in.data(), o, U(in.size()), in_place, &err);
    if (!err) {
        FZ_CHECK(got <= in.size());
        const U n = op.len(h, db, o);
        std::vector<uint8_t> out(n), again(n);
        U e = 0;
        const U wrote = op.marshal(h, db, out.data(), o, n, &e);
        FZ_CHECK(e == 0 && wrote <= n);
        out.resize(wrote);
        auto same = [&](void *x) {  // x encodes to exactly `out`
            return op.marshal(h, db, again.data(), x, n, &e) == wrote && e == 0 &&
                   std::equal(out.begin(), out.end(), again.begin());
        };
        void *back = op.create(h, db);
        FZ_CHECK(op.unmarshal(h, db, out.data(), back, wrote, 0, &e) == wrote && e == 0);
        FZ_CHECK(same(back));
        // In place, what the input does not carry (the fields of a body with
        // a negative variant, state bytes the sender left out) stays as the
        // target held it: only the encoding must survive the round trip.
        FZ_CHECK(in_place || op.compare(o, back) == 0);
        op.destroy(h, db, back);
    }
    op.destroy(h, db, o);
    return 0;
}
