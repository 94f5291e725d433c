// codec_inline_test.cpp -- the runtime's codecs in their inline form
// (qel/codec_inline.h) against its exported entry points: for every room,
// with and without a handle and an error word, both give the same answer,
// the same bytes, the same decoded value and the same reports.  The
// exported forms still log their calls; the inline forms log nothing.
#include "fixture.h"
#include "qel/codec_inline.h"

namespace {

using namespace lt;

// One codec in both forms on a fixed sample.  Decoders deliver the value
// they read widened to 64 bits (ra-data: value and byte folded together).
struct Pair {
    const char *enc_name, *dec_name;
    U width;
    U (*enc_exported)(H, uint8_t *, U, U *);
    U (*enc_inline)(H, uint8_t *, U, U *);
    U (*dec_exported)(H, const uint8_t *, U, U *, uint64_t *);
    U (*dec_inline)(H, const uint8_t *, U, U *, uint64_t *);
};

// Decoders start from this, so that a read that should not happen shows.
constexpr uint64_t kUnread = 0x5A5A5A5A5A5A5A5Aull;
template <class T>
uint64_t Widen(T v, bool read) {
    return read ? uint64_t(v) : kUnread;
}

const Pair kPairs[] = {
    {"u_int8_marshal", "u_int8_unmarshal", 1,
     [](H h, uint8_t *b, U r, U *e) { u_int8 v = 0xA7; return u_int8_marshal(h, 0, b, &v, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_u_int8_marshal(h, b, 0xA7, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         u_int8 v = 0x5A;
         U n = u_int8_unmarshal(h, 0, b, &v, r, 0, e);
         *out = Widen(v, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint8_t v = 0x5A;
         U n = qel_inline_u_int8_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     }},
    {"u_int16_marshal", "u_int16_unmarshal", 2,
     [](H h, uint8_t *b, U r, U *e) { u_int16 v = 0x1234; return u_int16_marshal(h, 0, b, &v, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_u_int16_marshal(h, b, 0x1234, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         u_int16 v = 0;
         U n = u_int16_unmarshal(h, 0, b, &v, r, 1, e);
         *out = Widen(v, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint16_t v = 0;
         U n = qel_inline_u_int16_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     }},
    {"u_int32_marshal", "u_int32_unmarshal", 4,
     [](H h, uint8_t *b, U r, U *e) { u_int32 v = 0xDEADBEEF; return u_int32_marshal(h, 0, b, &v, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_u_int32_marshal(h, b, 0xDEADBEEF, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         u_int32 v = 0;
         U n = u_int32_unmarshal(h, 0, b, &v, r, 0, e);
         *out = Widen(v, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint32_t v = 0;
         U n = qel_inline_u_int32_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     }},
    {"char_marshal", "char_unmarshal", 1,
     [](H h, uint8_t *b, U r, U *e) { char v = 'Z'; return char_marshal(h, 0, b, &v, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_char_marshal(h, b, 'Z', r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         char v = 0;
         U n = char_unmarshal(h, 0, b, &v, r, 0, e);
         *out = Widen(v, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         char v = 0;
         U n = qel_inline_char_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     }},
    {"_qel_list_len_marshal", "_qel_list_len_unmarshal", 4,
     [](H h, uint8_t *b, U r, U *e) { return _qel_list_len_marshal(h, b, 0x01020304, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_list_len_marshal(h, b, 0x01020304, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint32_t v = 0;
         U n = _qel_list_len_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint32_t v = 0;
         U n = qel_inline_list_len_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     }},
    {"_qel_instance_variant_marshal", "_qel_instance_variant_unmarshal", 1,
     [](H h, uint8_t *b, U r, U *e) { return _qel_instance_variant_marshal(h, b, -2, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_variant_marshal(h, b, -2, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         int8_t v = 0;
         U n = _qel_instance_variant_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         int8_t v = 0;
         U n = qel_inline_variant_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     }},
    {"_qel_instance_obj_flag_marshal", "_qel_instance_obj_flag_unmarshal", 1,
     [](H h, uint8_t *b, U r, U *e) { return _qel_instance_obj_flag_marshal(h, b, 0x28, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_obj_flag_marshal(h, b, 0x28, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint8_t v = 0;
         U n = _qel_instance_obj_flag_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint8_t v = 0;
         U n = qel_inline_obj_flag_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     }},
    {"_qel_variant_jump_marshal", "_qel_variant_jump_unmarshal", 4,
     [](H h, uint8_t *b, U r, U *e) { return _qel_variant_jump_marshal(h, b, 0x105, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_variant_jump_marshal(h, b, 0x105, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint32_t v = 0;
         U n = _qel_variant_jump_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint32_t v = 0;
         U n = qel_inline_variant_jump_unmarshal(h, b, &v, r, e);
         *out = Widen(v, n);
         return n;
     }},
    {"_qel_instance_ra_data_marshal", "_qel_instance_ra_data_unmarshal", 9,
     [](H h, uint8_t *b, U r, U *e) { return _qel_instance_ra_data_marshal(h, b, 0x0102030405060708ull, 0x99, r, e); },
     [](H h, uint8_t *b, U r, U *e) { return qel_inline_ra_data_marshal(h, b, 0x0102030405060708ull, 0x99, r, e); },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint64_t v = 0;
         uint8_t byte = 0;
         U n = _qel_instance_ra_data_unmarshal(h, b, &v, &byte, r, e);
         *out = Widen(v ^ byte, n);
         return n;
     },
     [](H h, const uint8_t *b, U r, U *e, uint64_t *out) {
         uint64_t v = 0;
         uint8_t byte = 0;
         U n = qel_inline_ra_data_unmarshal(h, b, &v, &byte, r, e);
         *out = Widen(v ^ byte, n);
         return n;
     }},
};

class CodecInline : public Lomari, public ::testing::WithParamInterface<const Pair *> {
protected:
    // What one call leaves behind: its answer, its bytes, the error word
    // (0xEE when there is none) and the handle's stored error.
    struct Outcome {
        U n, e, stored;
        std::vector<uint8_t> bytes;
        uint64_t value;
        bool operator==(const Outcome &) const = default;
    };
    Outcome Encode(U (*f)(H, uint8_t *, U, U *), H hh, U room, bool with_err) {
        h->err = 0;
        std::vector<uint8_t> b(16, 0xCC);
        U e = 0xEE;
        U n = f(hh, b.data() + 1, room, with_err ? &e : nullptr);  // off alignment on purpose
        return {n, e, h->err, b, 0};
    }
    Outcome Decode(U (*f)(H, const uint8_t *, U, U *, uint64_t *), const uint8_t *wire, H hh, U room,
                   bool with_err) {
        h->err = 0;
        U e = 0xEE;
        uint64_t v = 0;
        U n = f(hh, wire, room, with_err ? &e : nullptr, &v);
        return {n, e, h->err, {}, v};
    }
};

TEST_P(CodecInline, SameAsTheExportedCodecForEveryRoom) {
    const Pair &p = *GetParam();
    uint8_t wire[16];
    U e = 0;
    ASSERT_EQ(p.enc_exported(h, wire + 3, p.width, &e), p.width);
    for (U room = 0; room <= p.width + 2; ++room) {
        for (H hh : {h, static_cast<H>(nullptr)}) {
            for (bool with_err : {true, false}) {
                SCOPED_TRACE(testing::Message() << "room " << room << (hh ? "" : ", no handle")
                                                << (with_err ? "" : ", no error word"));
                Outcome a = Encode(p.enc_exported, hh, room, with_err), b = Encode(p.enc_inline, hh, room, with_err);
                EXPECT_TRUE(a == b);
                EXPECT_EQ(a.n, room < p.width ? 0 : p.width);
                Outcome c = Decode(p.dec_exported, wire + 3, hh, room, with_err);
                Outcome d = Decode(p.dec_inline, wire + 3, hh, room, with_err);
                EXPECT_TRUE(c == d);
                EXPECT_EQ(c.stored, room < p.width && hh ? 90u : 0u);
            }
        }
    }
}

// The exported forms keep their call-log entries; the inline forms are no
// calls at all.
TEST_P(CodecInline, OnlyTheExportedFormIsLogged) {
    const Pair &p = *GetParam();
    uint8_t b[16];
    uint64_t v = 0;
    qelrt_calls_log(1);
    p.enc_inline(h, b, p.width, &err);
    p.dec_inline(h, b, p.width, &err, &v);
    EXPECT_EQ(qelrt_call_total(), 0u);
    p.enc_exported(h, b, p.width, &err);
    p.dec_exported(h, b, p.width, &err, &v);
    qelrt_calls_log(0);
    EXPECT_EQ(qelrt_call_total(), 2u);
    EXPECT_EQ(Calls(p.enc_name).size(), 1u);
    EXPECT_EQ(Calls(p.dec_name).size(), 1u);
    EXPECT_EQ(err, 0u);
}

INSTANTIATE_TEST_SUITE_P(All, CodecInline, ::testing::ValuesIn(Each(kPairs)),
                         [](const auto &i) { return std::string(i.param->enc_name + (i.param->enc_name[0] == '_')); });

}  // namespace
