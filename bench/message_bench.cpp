// message_bench.cpp -- messages through the whole envelope: marshal, then
// unmarshal with a handler that destroys the received message, as a sender
// and a receiver do.  Beside it, in the same run: the body alone (marshal,
// unmarshal into a new body, destroy) to show what the envelope adds, and
// the reference encoding's serialize + parse into a fresh message of the
// same data.
//
// Shapes: vep_tarnok_headers with 0, 8 and 64 mappings, im_vep_fctrl with
// 16 flow mappings, if_shim_connection_id.
#include <string>
#include <vector>

#include "bench.h"
#include "codec_shapes.h"
#include "shapes.pb.h"

namespace lbench {
namespace {

namespace pb = lomari_bench;
using H = qel_handle_t *;
using U = uint32_t;
constexpr U kRoom = 1u << 16;

enum class Kind { kTarnok, kFctrl, kShim };
struct MsgShape {
    const char *name;
    Kind kind;
    U elems;
};
constexpr MsgShape kMsgShapes[] = {
    {"vep_tarnok_headers/0", Kind::kTarnok, 0},
    {"vep_tarnok_headers/8", Kind::kTarnok, 8},
    {"vep_tarnok_headers/64", Kind::kTarnok, 64},
    {"im_vep_fctrl/16", Kind::kFctrl, 16},
    {"if_shim_connection_id", Kind::kShim, 1},
};
std::string Name(const char *op, const char *side, const MsgShape &s) {
    return std::string("message/") + op + "/" + side + "/" + s.name;
}

// The message's entry points and its body's, with the types erased.
struct Ops {
    void *(*create)(H, U);
    void (*destroy)(H, U, void *);
    void *(*body)(H, U, void *, U *);
    U (*marshal)(H, U, uint8_t *, void *, U, U *);
    U (*unmarshal)(H, U, uint64_t, void **, const uint8_t *, U, void (*)(H, U, uint64_t, void *, U *), U *);
    U (*body_marshal)(H, U, uint8_t *, const void *, U, U *);
    U (*body_unmarshal)(H, U, const uint8_t *, void *, U, U, U *);
    void *(*body_create)(H, U);
    void (*body_destroy)(H, U, void *);
};

#define LOMARI_MSG_OPS(msg, body)                                                                          \
    Ops {                                                                                                   \
        [](H h, U db) -> void * { return msg##_message_create(h, db); },                                   \
            [](H h, U db, void *m) { msg##_message_destroy(h, db, static_cast<msg##_message *>(m)); },      \
            [](H h, U db, void *m, U *e) -> void * {                                                       \
                return msg##_message_##body##_get(h, db, static_cast<msg##_message *>(m), e);              \
            },                                                                                              \
            [](H h, U db, uint8_t *b, void *m, U n, U *e) {                                                \
                return msg##_message_marshal(h, db, b, static_cast<msg##_message *>(m), n, e);             \
            },                                                                                              \
            [](H h, U db, uint64_t c, void **m, const uint8_t *b, U n, void (*hd)(H, U, uint64_t, void *, U *), \
               U *e) {                                                                                      \
                return msg##_message_unmarshal(                                                             \
                    h, db, c, reinterpret_cast<msg##_message **>(m), b, n,                                  \
                    reinterpret_cast<void (*)(H, U, uint64_t, msg##_message *, U *)>(hd), e);               \
            },                                                                                              \
            [](H h, U db, uint8_t *b, const void *o, U n, U *e) {                                          \
                return body##_marshal(h, db, b, static_cast<const body *>(o), n, e);                        \
            },                                                                                              \
            [](H h, U db, const uint8_t *b, void *o, U n, U ip, U *e) {                                    \
                return body##_unmarshal(h, db, b, static_cast<body *>(o), n, ip, e);                        \
            },                                                                                              \
            [](H h, U db) -> void * { return body##_create(h, db); },                                      \
            [](H h, U db, void *o) { body##_destroy(h, db, static_cast<body *>(o)); },                     \
    }

const Ops kTarnok = LOMARI_MSG_OPS(vep_tarnok_headers, vep_tarnok_body);
const Ops kFctrl = LOMARI_MSG_OPS(im_vep_fctrl, im_vep_fctrl_body);
const Ops kShim = LOMARI_MSG_OPS(if_shim_connection_id, if_shim_body);

void FillTarnok(H h, U db, vep_tarnok_body *o, U n, U *err) {
    using V = TarnokValues;
    vep_tarnok_body_slot_number_set_value(h, db, o, V::kSlot, err);
    vep_tarnok_body_bay_number_set_value(h, db, o, V::kBay, err);
    vep_tarnok_body_vep_type_set_value(h, db, o, V::kVepType, err);
    vep_tarnok_body_scheme_set_value(h, db, o, V::kScheme, err);
    for (U i = 0; i < n; ++i) {
        spi4_mapping *m = spi4_mapping_create(h, db);
        spi4_mapping_portnum_set_value(h, db, m, V::Port(i), err);
        spi4_mapping_header_id_set_value(h, db, m, V::HeaderId(i), err);
        spi4_mapping_pri_set_value(h, db, m, V::Pri(i), err);
        vep_tarnok_body_spi4_id_mappings_set_last(h, db, o, m, err);
    }
}

void FillFctrl(H h, U db, im_vep_fctrl_body *o, U n, U *err) {
    using V = TarnokValues;
    im_vep_fctrl_body_slot_number_set_value(h, db, o, V::kSlot, err);
    im_vep_fctrl_body_bay_number_set_value(h, db, o, V::kBay, err);
    im_vep_fctrl_body_flow_control_set_value(h, db, o, 2, err);
    im_vep_fctrl_body_vep_type_set_value(h, db, o, V::kVepType, err);
    im_vep_fctrl_body_scheme_set_value(h, db, o, V::kScheme, err);
    for (U i = 0; i < n; ++i) {
        vep_flowid_mapping *m = vep_flowid_mapping_create(h, db);
        vep_flowid_mapping_portnum_set_value(h, db, m, V::Port(i), err);
        vep_flowid_mapping_flow_id_set_value(h, db, m, V::HeaderId(i), err);
        im_vep_fctrl_body_vep_flowid_mappings_set_last(h, db, o, m, err);
    }
}

void FillShim(H h, U db, if_shim_body *o, U *err) {
    using V = ShimValues;
    if_shim_body_kalvi_id_set_value(h, db, o, V::kKalvi, err);
    if_shim_body_slot_set_value(h, db, o, V::kSlot, err);
    if_shim_body_bay_set_value(h, db, o, V::kBay, err);
    if_shim_body_port_set_value(h, db, o, V::kPort, err);
    if_shim_body_vc_set_value(h, db, o, V::kVc, err);
    if_shim_body_flow_control_set_value(h, db, o, V::kFlow, err);
    if_shim_body_connection_id_set_value(h, db, o, V::kConnection, err);
}

// One filled message on a plain pooled handle.
struct Sample {
    Handle hd{false};
    const Ops &ops;
    void *msg = nullptr;
    std::vector<uint8_t> out = std::vector<uint8_t>(kRoom);

    explicit Sample(const MsgShape &s)
        : ops(s.kind == Kind::kTarnok ? kTarnok : s.kind == Kind::kFctrl ? kFctrl : kShim) {
        U err = 0;
        msg = ops.create(hd.h, hd.db);
        void *b = ops.body(hd.h, hd.db, msg, &err);
        switch (s.kind) {
        case Kind::kTarnok: FillTarnok(hd.h, hd.db, static_cast<vep_tarnok_body *>(b), s.elems, &err); break;
        case Kind::kFctrl: FillFctrl(hd.h, hd.db, static_cast<im_vep_fctrl_body *>(b), s.elems, &err); break;
        case Kind::kShim: FillShim(hd.h, hd.db, static_cast<if_shim_body *>(b), &err); break;
        }
        if (err) std::abort();
    }
    ~Sample() { ops.destroy(hd.h, hd.db, msg); }
};

const Ops *g_current;
void DestroyReceived(H h, U db, uint64_t, void *m, U *) { g_current->destroy(h, db, m); }

void Envelope(benchmark::State &st, const MsgShape &s) {
    Sample smp(s);
    g_current = &smp.ops;
    H h = smp.hd.h;
    U db = smp.hd.db, err = 0, n = 0;
    for (auto _ : st) {
        n = smp.ops.marshal(h, db, smp.out.data(), smp.msg, kRoom, &err);
        benchmark::DoNotOptimize(smp.ops.unmarshal(h, db, 0, nullptr, smp.out.data(), n, DestroyReceived, &err));
    }
    if (err) st.SkipWithError("envelope round trip failed");
    st.counters["bytes"] = n;
}

void BodyAlone(benchmark::State &st, const MsgShape &s) {
    Sample smp(s);
    H h = smp.hd.h;
    U db = smp.hd.db, err = 0, n = 0;
    void *body = smp.ops.body(h, db, smp.msg, &err);
    for (auto _ : st) {
        n = smp.ops.body_marshal(h, db, smp.out.data(), body, kRoom, &err);
        void *o = smp.ops.body_create(h, db);
        benchmark::DoNotOptimize(smp.ops.body_unmarshal(h, db, smp.out.data(), o, n, 0, &err));
        smp.ops.body_destroy(h, db, o);
    }
    if (err) st.SkipWithError("body round trip failed");
    st.counters["bytes"] = n;
}

template <class M>
void Reference(benchmark::State &st, const M &filled) {
    std::string wire;
    for (auto _ : st) {
        wire.clear();
        filled.SerializeToString(&wire);
        M fresh;
        benchmark::DoNotOptimize(fresh.ParseFromString(wire));
    }
    st.counters["bytes"] = double(wire.size());
}

void Protobuf(benchmark::State &st, const MsgShape &s) {
    using V = TarnokValues;
    if (s.kind == Kind::kTarnok) {
        pb::VepTarnokBody m;
        m.set_slot_number(V::kSlot), m.set_bay_number(V::kBay), m.set_vep_type(V::kVepType), m.set_scheme(V::kScheme);
        for (U i = 0; i < s.elems; ++i) {
            pb::Spi4Mapping *e = m.add_spi4_id_mappings();
            e->set_portnum(V::Port(i)), e->set_header_id(V::HeaderId(i));
            e->set_pri(static_cast<pb::Spi4Priority>(V::Pri(i)));
        }
        Reference(st, m);
    } else if (s.kind == Kind::kFctrl) {
        pb::ImVepFctrlBody m;
        m.set_slot_number(V::kSlot), m.set_bay_number(V::kBay), m.set_vep_type(V::kVepType), m.set_scheme(V::kScheme);
        m.set_flow_control(pb::ORV_FLOWCTRL_EFC);
        for (U i = 0; i < s.elems; ++i) {
            pb::VepFlowidMapping *e = m.add_vep_flowid_mappings();
            e->set_portnum(V::Port(i)), e->set_flow_id(V::HeaderId(i));
        }
        Reference(st, m);
    } else {
        using S = ShimValues;
        pb::IfShimBody m;
        m.set_kalvi_id(S::kKalvi), m.set_slot(S::kSlot), m.set_bay(S::kBay), m.set_port(S::kPort);
        m.set_vc(S::kVc), m.set_flow_control(static_cast<pb::OrvFlowctrl>(S::kFlow));
        m.set_connection_id(S::kConnection);
        Reference(st, m);
    }
}

int Register() {
    for (const MsgShape &s : kMsgShapes) {
        benchmark::RegisterBenchmark(Name("envelope", "lomari", s).c_str(), Envelope, s);
        benchmark::RegisterBenchmark(Name("body_alone", "lomari", s).c_str(), BodyAlone, s);
        benchmark::RegisterBenchmark(Name("roundtrip_new", "protobuf", s).c_str(), Protobuf, s);
        const std::string n = s.name;
        AddRatio(("message envelope / body alone, " + n).c_str(), Name("envelope", "lomari", s),
                 Name("body_alone", "lomari", s), 1.05, 1.02);
        AddRatio(("message round trip / reference, " + n).c_str(), Name("envelope", "lomari", s),
                 Name("roundtrip_new", "protobuf", s), 1.0, 0.5);
    }
    return 0;
}

const int kRegistered = Register();

}  // namespace
}  // namespace lbench
