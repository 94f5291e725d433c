// record_unmarshal_fuzz.cpp -- feeds arbitrary bytes to the record and key
// unmarshal of every table, in plain and tracking mode.
//
// The first input byte picks the table (low bits), the mode (0x40), key
// rather than record (0x20) and, for records, a second decode in place
// into a record with fields (0x80); the rest is the input.  Whatever the
// bytes: no crash, no read past the input, nothing leaked, nothing handed
// out after a failure.  What decodes encodes again, and that encoding
// decodes to an equal record (or, for a key, the same key bytes).
#include <vector>

#include "record_fuzz.h"

using namespace recfuzz;

namespace {

using Unmarshal = uint32_t(H *, uint32_t, void **, const uint8_t *, uint32_t, uint32_t, uint32_t *);
using Marshal = uint32_t(H *, uint32_t, uint8_t *, void *, uint32_t, uint32_t *);

void records(H *h, uint32_t db, const Table &t, const std::vector<uint8_t> &in, bool in_place_too) {
    auto unmarshal = op<Unmarshal>(t, "table_record_unmarshal");
    uint32_t err = 0;
    void *r = nullptr;
    FZ_CHECK(unmarshal(h, db, &r, in.data(), uint32_t(in.size()), 0, &err) <= in.size());
    if (err) {
        FZ_CHECK(!r);
        return;
    }
    // Encode again, decode that, compare; in place as well when asked.
    std::vector<uint8_t> out(op<uint32_t(H *, uint32_t, void *)>(t, "table_record_len")(h, db, r) + 64);
    const uint32_t n = op<Marshal>(t, "table_record_marshal")(h, db, out.data(), r, uint32_t(out.size()), &err);
    void *again = nullptr;
    FZ_CHECK(!err && unmarshal(h, db, &again, out.data(), n, 0, &err) == n && !err && same(h, t, r, again));
    if (in_place_too) {
        void *into = op<void *(H *, uint32_t)>(t, "record_create_cr")(h, 1);
        FZ_CHECK(!h->err && unmarshal(h, db, &into, out.data(), n, 1, &err) == n && !err && same(h, t, r, into));
        destroy(h, t, into);
    }
    destroy(h, t, again);
    destroy(h, t, r);
}

void keys(H *h, uint32_t db, const Table &t, const std::vector<uint8_t> &in) {
    uint32_t err = 0;
    void *key = nullptr;
    const uint32_t got = op<uint32_t(H *, uint32_t, void **, const uint8_t *, uint32_t, uint32_t *)>(
        t, "table_pkey_unmarshal")(h, db, &key, in.data(), uint32_t(in.size()), &err);
    FZ_CHECK(got <= in.size());
    if (err) {
        FZ_CHECK(!key);
        return;
    }
    // The key placed into a record marshals to the bytes it came from.
    void *r = op<void *(H *, uint32_t, uint32_t *)>(t, "create_record")(h, db, &err);
    op<void(H *, uint32_t, void *, void *)>(t, std::string(t.parts[t.keypart]) + "_set_field")(h, db, r, key);
    std::vector<uint8_t> out(64);
    const uint32_t n = op<Marshal>(t, "table_pkey_marshal")(h, db, out.data(), r, uint32_t(out.size()), &err);
    FZ_CHECK(!err && n == got && std::memcmp(out.data(), in.data(), n) == 0);
    destroy(h, t, r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const Table &t = kTables[(data[0] & 0x1F) % 6];
    const std::vector<uint8_t> in(data + 1, data + size);  // exact-size copy: overreads trip ASan
    fz::Run run(data[0] & 0x40);
    if (data[0] & 0x20)
        keys(run.h, run.db, t, in);
    else
        records(run.h, run.db, t, in, data[0] & 0x80);
    return 0;
}
