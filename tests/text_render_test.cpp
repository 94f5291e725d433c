// text_render_test.cpp -- the text rendering of enumerations and structured
// types: the exact frame of nested objects, out-of-range enumerations,
// negative variants, the chained form, and buffers cut at every length.
#include "fixture.h"

namespace lt {
namespace {

using PrintFn = U(H, U, char *, U, const char *, const void *, U, U *);
using PrintCrFn = U(H, const void *, char *, U);

class Text : public Lomari {};

// A vep_tarnok_body with two mappings and a cc_ids with three pairs.
struct Sample {
    vep_tarnok_body *body;
    cc_ids *ids;
};
Sample MakeSample(H h, U db) {
    U e = 0;
    vep_tarnok_body *b = vep_tarnok_body_create(h, db);
    vep_tarnok_body_slot_number_set_value(h, db, b, 3, &e);
    vep_tarnok_body_bay_number_set_value(h, db, b, 1, &e);
    vep_tarnok_body_vep_type_set_value(h, db, b, 70000, &e);
    vep_tarnok_body_scheme_set_value(h, db, b, 9, &e);
    for (U k = 0; k < 2; ++k) {
        spi4_mapping *m = spi4_mapping_create(h, db);
        spi4_mapping_portnum_set_value(h, db, m, 10 + k, &e);
        spi4_mapping_header_id_set_value(h, db, m, 200 + k, &e);
        spi4_mapping_pri_set_value(h, db, m, 2 - k, &e);
        vep_tarnok_body_spi4_id_mappings_set_last(h, db, b, m, &e);
    }
    cc_ids *c = cc_ids_create(h, db);
    cc_ids_cc_slot_set_value(h, db, c, 5, &e);
    for (U k = 0; k < 3; ++k) {
        cc_pair *p = cc_pair_create(h, db);
        cc_pair_lower_bits_set_value(h, db, p, uint8_t(k + 1), &e);
        cc_pair_leased_set_value(h, db, p, uint8_t(k & 1), &e);
        cc_ids_pairs_set(h, db, c, k, p, &e);
        cc_pair_destroy(h, db, p);
    }
    EXPECT_EQ(e, 0u);
    return {b, c};
}

TEST_F(Text, NestedObjectsPrintExactly) {
    Sample s = MakeSample(h, db);
    char buf[2048];
    U n = vep_tarnok_body_print(h, db, buf, 2, "body", s.body, sizeof buf, &err);
    EXPECT_EQ(Err(), 0u);
    EXPECT_EQ(n, std::strlen(buf));
    EXPECT_STREQ(buf,
                 "  body@vep_tarnok_body: {\n"
                 "    slot_number: 3\n"
                 "    bay_number: 1\n"
                 "    vep_type: 70000\n"
                 "    scheme: 9\n"
                 "    list spi4_id_mappings count: 2\n"
                 "    list spi4_id_mappings@spi4_mapping: {\n"
                 "      portnum: 10\n"
                 "      header_id: 200\n"
                 "      pri@spi4_priority:SPI4_PRI_HI\n"
                 "    }\n"
                 "    list spi4_id_mappings@spi4_mapping: {\n"
                 "      portnum: 11\n"
                 "      header_id: 201\n"
                 "      pri@spi4_priority:SPI4_PRI_LO\n"
                 "    }\n"
                 "  }\n");
    n = cc_ids_print_cr(h, s.ids, buf, sizeof buf);
    EXPECT_EQ(n, std::strlen(buf));
    EXPECT_STREQ(buf,
                 "cc_ids@cc_ids: {\n"
                 "  cc_slot: 5\n"
                 "  pair_count: 3\n"
                 "  pairs[0]@cc_pair: {\n    lower_bits: 1\n    leased: 0\n  }\n"
                 "  pairs[1]@cc_pair: {\n    lower_bits: 2\n    leased: 1\n  }\n"
                 "  pairs[2]@cc_pair: {\n    lower_bits: 3\n    leased: 0\n  }\n"
                 "}\n");
    vep_tarnok_body_destroy(h, db, s.body);
    cc_ids_destroy(h, db, s.ids);
}

TEST_F(Text, OutOfRangeEnumerationNegativeVariantAndHeldError) {
    which_fp *f = which_fp_create(h, db);
    const FieldDesc &how = kTypes[3].fields[2];
    ASSERT_STREQ(how.name, "how_much");
    std::memset(Bytes(f, how.offset + 12), 0x07, 4);
    char buf[512];
    which_fp_print(h, db, buf, 0, "fp", f, sizeof buf, &err);
    EXPECT_STREQ(buf, "fp@which_fp: {\n  slot: 0\n  bay: 0\n  how_much@if_flow_request:Enum value out of range}\n");
    spi4_priority *p = spi4_priority_create(h, db);
    std::memset(Bytes(p, 12), 0xFF, 4);
    EXPECT_EQ(spi4_priority_print_cr(h, p, buf, sizeof buf), 51u);
    EXPECT_STREQ(buf, "spi4_priority@spi4_priority:Enum value out of range");
    qelrt_force_instance_variant(1, -1);
    which_fp_print(h, db, buf, 4, "fp", f, sizeof buf, &err);
    EXPECT_STREQ(buf, "    fp@which_fp: {\n");
    qelrt_force_instance_variant(0, 0);
    h->err = 43;
    std::strcpy(buf, "untouched");
    EXPECT_EQ(which_fp_print_cr(h, f, buf, sizeof buf), 0xFFFFFFFFu);
    EXPECT_EQ(spi4_priority_print_cr(h, p, buf, sizeof buf), 0xFFFFFFFFu);
    err = 43;
    EXPECT_EQ(which_fp_print(h, db, buf, 0, "fp", f, sizeof buf, &err), 0u);
    EXPECT_STREQ(buf, "untouched");
    h->err = 0;
    which_fp_destroy(h, db, f);
    spi4_priority_destroy(h, db, p);
}

// Print and render every type into buffers cut at every length: nothing
// past the room, 90 reported, and what was written a prefix of the whole.
class CutRoom : public CodecTest {};

TEST_P(CutRoom, PrintAndRenderNeverOverrun) {
    void *o = Fill(11, Elems());
    auto print = [&](char *b, U room) { return Op<PrintFn>("print")(h, db, b, 1, "x", o, room, &err); };
    auto render = [&](char *b, U room) {
        return Op<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>("to_xml")(h, db, "x", b, o, room, 0, &err);
    };
    for (auto write : {std::function<U(char *, U)>(print), std::function<U(char *, U)>(render)}) {
        std::string full(8192, '\0');
        U n = write(full.data(), U(full.size()));
        ASSERT_EQ(Err(), 0u);
        full.resize(n);
        for (U room = 0; room <= n + 1; ++room) {
            std::vector<char> b(room + 4, '#');
            U got = write(b.data(), room);
            for (U k = room; k < room + 4; ++k) ASSERT_EQ(b[k], '#') << room;
            if (room > n) {
                EXPECT_EQ(Err(), 0u);
                EXPECT_EQ(got, n);
            } else {
                EXPECT_EQ(Err(), U(LOMARI_ERR_SHORT)) << room;
                EXPECT_LE(got, room ? room - 1 : 0);
                EXPECT_EQ(full.compare(0, got, b.data(), got), 0) << room;
            }
            h->err = 0;
        }
    }
    Destroy(o);
}

INSTANTIATE_TEST_SUITE_P(Types, CutRoom, ::testing::ValuesIn(AllTypes()), ParamName());

}  // namespace
}  // namespace lt
