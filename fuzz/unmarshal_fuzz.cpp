// unmarshal_fuzz.cpp -- arbitrary bytes to every type's and enumeration's decoder.  Byte 0: the type
// (modulo 21, enumerations last), tracking (0x40), in place (0x80: byte 1 the target's elements, then
// its fields); the rest is the encoding.  No crash, overread or leak; what decodes encodes within its
// length to bytes that decode to an equal object encoding the same.
#include <algorithm>
#include <vector>

#include "fuzz_common.h"

using namespace fz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Source s{data, size};
    const uint8_t pick = s.Byte();
    const U which = pick % (lomari::kTypeCount + lomari::kEnumCount);
    const bool in_place = pick & 0x80;
    const TypeDesc *t = which < lomari::kTypeCount ? &lt::kTypes[which] : nullptr;
    const std::string name = t ? t->name : lt::kEnums[which - lomari::kTypeCount].name;
    auto create = Api<void *(H, U)>(name, "create");
    auto destroy = Api<void(H, U, void *)>(name, "destroy");
    auto unmarshal = Api<U(H, U, const uint8_t *, void *, U, U, U *)>(name, "unmarshal");
    auto marshal = Api<U(H, U, uint8_t *, const void *, U, U *)>(name, "marshal");

    Run run(pick & 0x40);
    H h = run.h;
    const U db = run.db;
    const U held = in_place && t ? s.Byte() % 8 : 0;  // the elements the target holds, read before its fields
    void *o = in_place && t ? Fill(h, db, *t, s, held) : create(h, db);
    std::vector<uint8_t> in(s.d + s.pos, s.d + s.n);  // exact-size copy: overreads trip ASan
    U err = 0;
    const U got = unmarshal(h, db, in.data(), o, U(in.size()), in_place, &err);
    if (!err) {
        FZ_CHECK(got <= in.size());
        const U n = Api<U(H, U, const void *)>(name, "len")(h, db, o);
        std::vector<uint8_t> out(n), again(n);
        U e = 0;
        const U wrote = marshal(h, db, out.data(), o, n, &e);
        FZ_CHECK(e == 0 && wrote <= n);
        out.resize(wrote);
        void *back = create(h, db);  // decodes to an object that encodes to exactly `out`
        FZ_CHECK(unmarshal(h, db, out.data(), back, wrote, 0, &e) == wrote && e == 0);
        FZ_CHECK(marshal(h, db, again.data(), back, n, &e) == wrote && e == 0 &&
                 std::equal(out.begin(), out.end(), again.begin()));
        // In place, what the input does not carry (a negative variant's fields, state bytes left
        // out) stays as the target held it: only the encoding must survive.
        FZ_CHECK(in_place || Api<int32_t(const void *, const void *)>(name, "compare")(o, back) == 0);
        destroy(h, db, back);
    }
    destroy(h, db, o);
    return 0;
}
