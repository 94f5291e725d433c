// codec_inline_test.cpp -- the runtime's exported scalar codecs: their fixed width in network
// byte order; with less room nothing is touched and 90 is reported (in the handle too, if any).
#include "fixture.h"

namespace {

using namespace lt;

struct Codec {
    const char *name;
    std::vector<uint8_t> wire;  // the sample's bytes
    uint64_t value;             // the sample as decoded (ra-data: value and byte folded)
    U (*enc)(H, uint8_t *, U, U *);
    U (*dec)(H, const uint8_t *, U, U *, uint64_t *);
};

// A codec of the value form (fn(h, db, buf, &v, room, ...)) and of the direct form.
#define VALUE_CODEC(fn, T, v, ...)                                                                         \
    {#fn, __VA_ARGS__, uint64_t(T(v)), [](H h, uint8_t *b, U r, U *e) { T x = v; return fn##_marshal(h, 0, b, &x, r, e); }, \
     [](H h, const uint8_t *b, U r, U *e, uint64_t *o) { T x = 0; U n = fn##_unmarshal(h, 0, b, &x, r, 0, e); if (n) *o = uint64_t(x); return n; }}
#define DIRECT_CODEC(fn, T, v, ...)                                                                       \
    {#fn, __VA_ARGS__, uint64_t(T(v)), [](H h, uint8_t *b, U r, U *e) { return fn##_marshal(h, b, v, r, e); }, \
     [](H h, const uint8_t *b, U r, U *e, uint64_t *o) { T x = 0; U n = fn##_unmarshal(h, b, &x, r, e); if (n) *o = uint64_t(x); return n; }}

const Codec kCodecs[] = {
    VALUE_CODEC(u_int8, u_int8, 0xA7, {0xA7}),
    VALUE_CODEC(u_int16, u_int16, 0x1234, {0x12, 0x34}),
    VALUE_CODEC(u_int32, u_int32, 0xDEADBEEF, {0xDE, 0xAD, 0xBE, 0xEF}),
    VALUE_CODEC(char, char, 'Z', {'Z'}),
    DIRECT_CODEC(_qel_list_len, uint32_t, 0x01020304, {1, 2, 3, 4}),
    DIRECT_CODEC(_qel_instance_variant, int8_t, -2, {0xFE}),
    DIRECT_CODEC(_qel_instance_obj_flag, uint8_t, 0x28, {0x28}),
    DIRECT_CODEC(_qel_variant_jump, uint32_t, 0x105, {0, 0, 1, 5}),
    {"ra_data", {1, 2, 3, 4, 5, 6, 7, 8, 0x99}, 0x0102030405060708ull ^ 0x99,
     [](H h, uint8_t *b, U r, U *e) { return _qel_instance_ra_data_marshal(h, b, 0x0102030405060708ull, 0x99, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *o) {
         uint64_t v = 0; uint8_t byte = 0; U n = _qel_instance_ra_data_unmarshal(h, b, &v, &byte, r, e); if (n) *o = v ^ byte; return n; }},
};

class ScalarCodec : public Lomari, public ::testing::WithParamInterface<const Codec *> {};

TEST_P(ScalarCodec, NetworkOrderAndShortRoom) {
    const Codec &c = *GetParam();
    const U width = U(c.wire.size());
    for (U room = 0; room <= width + 1; ++room)
        for (H hh : {h, static_cast<H>(nullptr)}) {
            SCOPED_TRACE(testing::Message() << "room " << room << (hh ? "" : ", no handle"));
            const bool fits = room >= width;
            std::vector<uint8_t> b(width + 3, 0xCC), want(b);
            if (fits) std::copy(c.wire.begin(), c.wire.end(), want.begin() + 1);
            h->err = 0;
            EXPECT_EQ(c.enc(hh, b.data() + 1, room, &err), fits ? width : 0);  // off alignment on purpose
            EXPECT_EQ(b, want);
            EXPECT_EQ(Err(), fits ? 0u : 90u);
            uint64_t v = 0x5A5A;
            EXPECT_EQ(c.dec(hh, c.wire.data(), room, &err, &v), fits ? width : 0);
            EXPECT_EQ(v, fits ? c.value : 0x5A5A);
            EXPECT_EQ(Err(), fits ? 0u : 90u);
            EXPECT_EQ(h->err, !fits && hh ? 90u : 0u);
            EXPECT_EQ(c.enc(hh, b.data(), room, nullptr), fits ? width : 0);  // no error word
        }
}

INSTANTIATE_TEST_SUITE_P(All, ScalarCodec, ::testing::ValuesIn(Each(kCodecs)),
                         [](const auto &i) { return std::string(i.param->name + (i.param->name[0] == '_' ? 1 : 0)); });

}  // namespace
