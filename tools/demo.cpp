// demo.cpp -- `lomari demo`: the platform's main job, end to end, told as
// it happens.
//
// Adapters come up in their slots and bays; a sender fills a
// vep_tarnok_headers message with each adapter's SPI-4 mappings and
// marshals it; a receiver unmarshals it and its handler stores the body in
// the tarnok_header_ids table.  Flow-control messages fill
// im_if_flow_control and im_vep_flow_control; id pools fill the three pool
// tables.  Then lookups, a walk in index order, counts per tenant and
// source, a shadow record, and records printed as text and XML.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_control_db.h"
#include "qel/rt_control_msg.h"
#include "qel/rt_handle.h"
#include "tool.h"
#include "tool_schema.h"

namespace ltool {
namespace {

const char kDemoUsage[] =
    "usage: lomari demo [--record FILE] [--out FILE]\n"
    "\n"
    "Runs the platform's main job end to end on one process's handle and\n"
    "tells what happens: adapters announce their SPI-4 header mappings,\n"
    "flow-control and id-pool assignments are stored in the six tables,\n"
    "then looked up, walked, counted and shown as text and XML.\n"
    "  --record FILE   record every received message to FILE as XML: one\n"
    "                  lomari_recording document ('lomari schema' describes it)\n"
    "  --out FILE      also write every sent message's encoding to FILE\n"
    "                  (concatenated; 'lomari decode FILE' reads them back)\n";

struct Adapter {
    U slot, bay, mappings;
};
constexpr Adapter kAdapters[] = {{3, 1, 8}, {1, 0, 4}, {2, 1, 6}};

// Everything the demo's receiver needs in its handlers.
struct Node {
    Session s;
    void *headers = nullptr, *if_flow = nullptr, *vep_flow = nullptr;
    void *cc = nullptr, *aps = nullptr, *pools = nullptr;
    FILE *out = nullptr;
    std::vector<uint8_t> wire = std::vector<uint8_t>(1 << 16);
    std::vector<char> text = std::vector<char>(1 << 16);
    U err = 0;

    bool ok(const char *what) {
        if (!err) return true;
        std::fprintf(stderr, "lomari: demo: %s: %s (%s)\n", what, lomari_error_name(err), lomari_error_text(err));
        return false;
    }
    // Marshals a message, writes it to --out, and returns its length.
    template <class M, class Marshal>
    U send(M *m, Marshal marshal) {
        const U n = marshal(s.h, s.db, wire.data(), m, U(wire.size()), &err);
        if (out && !err) std::fwrite(wire.data(), 1, n, out);
        return n;
    }
};
Node *g_node;

std::string key_of(U slot, U bay) { return "slot" + std::to_string(slot) + "/bay" + std::to_string(bay); }

// The receiver's handler for vep_tarnok_headers: the body goes into the
// tarnok_header_ids table under "slot<N>/bay<M>", the message is released.
void on_headers(qel_handle_t *h, uint32_t db, uint64_t, vep_tarnok_headers_message *m, uint32_t *err) {
    vep_tarnok_body *body = vep_tarnok_headers_message_vep_tarnok_body_get_detach(h, db, m, err);
    vep_tarnok_headers_message_destroy(h, db, m);
    const U slot = vep_tarnok_body_slot_number_get_value(h, db, body, err);
    const U bay = vep_tarnok_body_bay_number_get_value(h, db, body, err);
    const std::string key = key_of(slot, bay);
    tarnok_rec_fields *f = tarnok_rec_fields_create(h, db);
    tarnok_rec_fields_dbkey_set(h, db, f, key.c_str(), U(key.size()), err);
    tarnok_rec_fields_recon_bits_set_value(h, db, f, RECON_NEW, err);
    void *rec = tarnok_header_ids_create_record(h, db, err);
    tarnok_header_ids_tarnok_rec_fields_set_field(h, db, rec, f);
    tarnok_header_ids_vep_tarnok_body_set_field(h, db, rec, body);
    tarnok_header_ids_insert(h, db, g_node->headers, rec, err);
    std::printf("  receiver: stored %u mappings of slot %u bay %u in tarnok_header_ids under \"%s\"\n",
                vep_tarnok_body_spi4_id_mappings_get_count(h, db, body, err), slot, bay, key.c_str());
}

void on_if_fctrl(qel_handle_t *h, uint32_t db, uint64_t, im_if_fctrl_message *m, uint32_t *err) {
    im_if_fctrl_body *body = im_if_fctrl_message_im_if_fctrl_body_get_detach(h, db, m, err);
    im_if_fctrl_message_destroy(h, db, m);
    flow_if_rec_fields *f = flow_if_rec_fields_create(h, db);
    flow_if_rec_fields_recon_bits_set_value(h, db, f, RECON_KEEP, err);
    void *rec = im_if_flow_control_create_record(h, db, err);
    im_if_flow_control_flow_if_rec_fields_set_field(h, db, rec, f);
    im_if_flow_control_im_if_fctrl_body_set_field(h, db, rec, body);
    im_if_flow_control_insert(h, db, g_node->if_flow, rec, err);
}

void on_vep_fctrl(qel_handle_t *h, uint32_t db, uint64_t, im_vep_fctrl_message *m, uint32_t *err) {
    im_vep_fctrl_body *body = im_vep_fctrl_message_im_vep_fctrl_body_get_detach(h, db, m, err);
    im_vep_fctrl_message_destroy(h, db, m);
    const U slot = im_vep_fctrl_body_slot_number_get_value(h, db, body, err);
    const U bay = im_vep_fctrl_body_bay_number_get_value(h, db, body, err);
    const std::string key = key_of(slot, bay);
    flow_vep_rec_fields *f = flow_vep_rec_fields_create(h, db);
    flow_vep_rec_fields_dbkey_set(h, db, f, key.c_str(), U(key.size()), err);
    void *rec = im_vep_flow_control_create_record(h, db, err);
    im_vep_flow_control_flow_vep_rec_fields_set_field(h, db, rec, f);
    im_vep_flow_control_im_vep_fctrl_body_set_field(h, db, rec, body);
    im_vep_flow_control_insert(h, db, g_node->vep_flow, rec, err);
}

bool announce_adapters(Node &n) {
    std::printf("== Adapters come up and announce their SPI-4 header mappings\n");
    for (const Adapter &a : kAdapters) {
        qel_handle_t *h = n.s.h;
        const U db = n.s.db;
        vep_tarnok_headers_message *m = vep_tarnok_headers_message_create(h, db);
        vep_tarnok_body *b = vep_tarnok_headers_message_vep_tarnok_body_get(h, db, m, &n.err);
        vep_tarnok_body_slot_number_set_value(h, db, b, a.slot, &n.err);
        vep_tarnok_body_bay_number_set_value(h, db, b, a.bay, &n.err);
        vep_tarnok_body_vep_type_set_value(h, db, b, 0x10, &n.err);
        vep_tarnok_body_scheme_set_value(h, db, b, 2, &n.err);
        for (U i = 0; i < a.mappings; ++i) {
            spi4_mapping *e = spi4_mapping_create(h, db);
            spi4_mapping_portnum_set_value(h, db, e, i, &n.err);
            spi4_mapping_header_id_set_value(h, db, e, 0x4000 + 0x100 * a.slot + i, &n.err);
            spi4_mapping_pri_set_value(h, db, e, i % 3, &n.err);
            vep_tarnok_body_spi4_id_mappings_set_last(h, db, b, e, &n.err);
        }
        const U len = n.send(m, vep_tarnok_headers_message_marshal);
        vep_tarnok_headers_message_destroy(h, db, m);
        if (!n.ok("marshal vep_tarnok_headers")) return false;
        std::printf("  sender: adapter in slot %u bay %u: vep_tarnok_headers with %u mappings, %u bytes\n",
                    a.slot, a.bay, a.mappings, len);
        vep_tarnok_headers_message_unmarshal(h, db, 0, nullptr, n.wire.data(), len, on_headers, &n.err);
        if (!n.ok("receive vep_tarnok_headers")) return false;
    }
    return true;
}

bool flow_control(Node &n) {
    std::printf("== Flow-control ids for interfaces and adapter ports\n");
    qel_handle_t *h = n.s.h;
    const U db = n.s.db;
    for (U k = 0; k < 4; ++k) {
        im_if_fctrl_message *m = im_if_fctrl_message_create(h, db);
        im_if_fctrl_body *b = im_if_fctrl_message_im_if_fctrl_body_get(h, db, m, &n.err);
        // slot, bay, port, kalvi_id, vc, flow_control_id, flow_control, connection_id
        im_if_fctrl_body_set_all(h, db, b, 3, 1, k, 0x9000 + k, 32 + k, 0x700 + k, ORV_FLOWCTRL_EFC, 0x40 + k,
                                 &n.err);
        const U len = n.send(m, im_if_fctrl_message_marshal);
        im_if_fctrl_message_destroy(h, db, m);
        im_if_fctrl_message_unmarshal(h, db, 0, nullptr, n.wire.data(), len, on_if_fctrl, &n.err);
        if (!n.ok("im_if_fctrl")) return false;
    }
    std::printf("  4 im_if_fctrl messages -> im_if_flow_control: %u records, ordered by kalvi_id and by body\n",
                im_if_flow_control_table_get_count(h, db, n.if_flow));
    im_vep_fctrl_message *m = im_vep_fctrl_message_create(h, db);
    im_vep_fctrl_body *b = im_vep_fctrl_message_im_vep_fctrl_body_get(h, db, m, &n.err);
    im_vep_fctrl_body_slot_number_set_value(h, db, b, 3, &n.err);
    im_vep_fctrl_body_bay_number_set_value(h, db, b, 1, &n.err);
    im_vep_fctrl_body_flow_control_set_value(h, db, b, ORV_FLOWCTRL_SPI4_FIFO, &n.err);
    for (U i = 0; i < 16; ++i) {
        vep_flowid_mapping *e = vep_flowid_mapping_create(h, db);
        vep_flowid_mapping_portnum_set_value(h, db, e, i, &n.err);
        vep_flowid_mapping_flow_id_set_value(h, db, e, 0x2000 + i, &n.err);
        im_vep_fctrl_body_vep_flowid_mappings_set_last(h, db, b, e, &n.err);
    }
    const U len = n.send(m, im_vep_fctrl_message_marshal);
    im_vep_fctrl_message_destroy(h, db, m);
    im_vep_fctrl_message_unmarshal(h, db, 0, nullptr, n.wire.data(), len, on_vep_fctrl, &n.err);
    if (!n.ok("im_vep_fctrl")) return false;
    std::printf("  1 im_vep_fctrl message with 16 flow mappings (%u bytes) -> im_vep_flow_control\n", len);
    return true;
}

bool id_pools(Node &n) {
    std::printf("== Id pools are leased\n");
    qel_handle_t *h = n.s.h;
    const U db = n.s.db;
    for (U slot = 1; slot <= 3; ++slot) {
        cc_ids *ids = cc_ids_create(h, db);
        cc_ids_cc_slot_set_value(h, db, ids, slot, &n.err);
        cc_pair *p = cc_pair_create(h, db);
        for (U k = 16; k-- > 0;) {
            cc_pair_lower_bits_set_value(h, db, p, k, &n.err);
            cc_pair_leased_set_value(h, db, p, k < slot * 3, &n.err);
            cc_ids_pairs_set(h, db, ids, k, p, &n.err);
        }
        cc_pair_destroy(h, db, p);
        void *rec = non_aps_headers_create_record(h, db, &n.err);
        non_aps_headers_cc_ids_set_field(h, db, rec, ids);
        non_aps_headers_insert(h, db, n.cc, rec, &n.err);
    }
    for (U row = 0; row < 2; ++row) {
        aps_control_data *d = aps_control_data_create(h, db);
        aps_control_data_my_row_id_set_value(h, db, d, row, &n.err);
        aps_pair *p = aps_pair_create(h, db);
        for (U k = 4; k-- > 0;) {
            aps_pair_set_all(h, db, p, k, k & 1, row + 1, &n.err);
            aps_control_data_pairs_set(h, db, d, k, p, &n.err);
        }
        aps_pair_destroy(h, db, p);
        void *rec = global_aps_headers_create_record(h, db, &n.err);
        global_aps_headers_aps_control_data_set_field(h, db, rec, d);
        global_aps_headers_insert(h, db, n.aps, rec, &n.err);
    }
    flow_id_pool *pool = flow_id_pool_create(h, db);
    flow_id_pool_my_range_id_set_value(h, db, pool, 1, &n.err);
    flow_id_pool_egress_count_set_value(h, db, pool, 8, &n.err);
    flow_pair *fp = flow_pair_create(h, db);
    for (U k = 8; k-- > 0;) {
        flow_pair_flow_id_set_value(h, db, fp, 0x2000 + k, &n.err);
        flow_pair_leased_set_value(h, db, fp, k < 5, &n.err);
        flow_id_pool_pairs_set(h, db, pool, k, fp, &n.err);
    }
    flow_pair_destroy(h, db, fp);
    void *rec = global_flow_control_create_record(h, db, &n.err);
    global_flow_control_flow_id_pool_set_field(h, db, rec, pool);
    global_flow_control_insert(h, db, n.pools, rec, &n.err);
    if (!n.ok("id pools")) return false;
    std::printf("  non_aps_headers: %u slots, global_aps_headers: %u rows, global_flow_control: %u range\n",
                non_aps_headers_table_get_count(h, db, n.cc), global_aps_headers_table_get_count(h, db, n.aps),
                global_flow_control_table_get_count(h, db, n.pools));
    return true;
}

bool lookups(Node &n) {
    qel_handle_t *h = n.s.h;
    const U db = n.s.db;
    std::printf("== Lookups\n");
    void *r = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, n.headers, "slot3/bay1", &n.err);
    vep_tarnok_body *b = r ? tarnok_header_ids_vep_tarnok_body_get_field(h, db, r) : nullptr;
    std::printf("  search \"slot3/bay1\": %s", r ? "found" : "not found");
    if (b) std::printf(", %u mappings", vep_tarnok_body_spi4_id_mappings_get_count(h, db, b, &n.err));
    std::printf("\n");
    void *near = tarnok_header_ids_tarnok_rec_fields_dbkey_search_nearest(h, db, n.headers, "slot2", &n.err);
    char key[32] = "";
    if (near)
        tarnok_rec_fields_dbkey_get(h, db, tarnok_header_ids_tarnok_rec_fields_get_field(h, db, near), key,
                                    sizeof key, &n.err);
    std::printf("  nearest at or after \"slot2\": \"%s\"\n", key);
    const U kalvi = 0x9002;
    void *f = im_if_flow_control_im_if_fctrl_body_kalvi_id_search(h, db, n.if_flow, &kalvi, &n.err);
    std::printf("  im_if_flow_control by kalvi_id 0x%x: %s\n", kalvi, f ? "found" : "not found");
    std::printf("  walk of tarnok_header_ids in index order:");
    for (void *w = tarnok_header_ids_tarnok_rec_fields_dbkey_get_first(h, db, n.headers, &n.err); w;
         w = tarnok_header_ids_tarnok_rec_fields_dbkey_get_next(h, db, n.headers, w, &n.err)) {
        tarnok_rec_fields_dbkey_get(h, db, tarnok_header_ids_tarnok_rec_fields_get_field(h, db, w), key,
                                    sizeof key, &n.err);
        std::printf(" \"%s\"", key);
    }
    std::printf("\n");
    return n.ok("lookups");
}

bool tenants_and_shadows(Node &n) {
    qel_handle_t *h = n.s.h;
    const U db = n.s.db;
    std::printf("== Tenants and shadow records\n");
    // A shadow (source 255) of slot3/bay1 beside the record itself, and a
    // record of another tenant under the same key.
    for (int round = 0; round < 2; ++round) {
        if (round == 1) qelrt_set_tenant_id(7);
        tarnok_rec_fields *f = tarnok_rec_fields_create(h, db);
        tarnok_rec_fields_dbkey_set(h, db, f, "slot3/bay1", 10, &n.err);
        void *rec = tarnok_header_ids_create_record_w_src(h, db, round == 0 ? 255 : 1, &n.err);
        tarnok_header_ids_tarnok_rec_fields_set_field(h, db, rec, f);
        tarnok_header_ids_vep_tarnok_body_set_field(h, db, rec, vep_tarnok_body_create(h, db));
        tarnok_header_ids_insert(h, db, n.headers, rec, &n.err);
    }
    const U tenant7 = tarnok_header_ids_table_get_count(h, db, n.headers);
    qelrt_set_tenant_id(0);
    // Tenant 0 is the platform's own view: the table's whole record count
    // and its shadow count; other tenants count their own records.
    std::printf("  tarnok_header_ids holds %u records, %u of them a shadow (source 255); tenant 7 counts %u of its own\n",
                tarnok_header_ids_table_get_count(h, db, n.headers),
                tarnok_header_ids_table_get_count_by_src(h, db, n.headers, 255), tenant7);
    void *mine = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, n.headers, "slot3/bay1", &n.err);
    void *shadow = tarnok_header_ids_tarnok_rec_fields_dbkey_search_w_src(h, db, n.headers, "slot3/bay1", 255, &n.err);
    std::printf("  \"slot3/bay1\": the record and its shadow are %s\n",
                mine && shadow && mine != shadow ? "two records side by side" : "missing");
    return n.ok("shadow record");
}

bool show(Node &n) {
    qel_handle_t *h = n.s.h;
    const U db = n.s.db;
    std::printf("== A record as text\n");
    void *r = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, n.headers, "slot1/bay0", &n.err);
    tarnok_header_ids_table_record_print(h, db, n.text.data(), r, U(n.text.size()), &n.err);
    std::fputs(n.text.data(), stdout);
    std::printf("== A record as XML\n");
    void *p = global_flow_control_flow_id_pool_my_range_id_get_first(h, db, n.pools, &n.err);
    global_flow_control_table_record_to_xml(h, db, n.text.data(), p, U(n.text.size()), &n.err);
    std::printf("%s\n", n.text.data());
    return n.ok("render records");
}

// Releases every record (of both tenants) and every table.
#define RELEASE_TABLE(name, table)                                                              \
    for (uint16_t tenant : {uint16_t(0), uint16_t(7)}) {                                       \
        qelrt_set_tenant_id(tenant);                                                           \
        while (void *r = name##_pkey_get_first_ignore_src(n.s.h, n.s.db, table, &n.err))       \
            name##_destroy_record(n.s.h, n.s.db, r, &n.err);                                   \
    }                                                                                          \
    qelrt_set_tenant_id(0);                                                                    \
    name##_table_free(n.s.h, n.s.db, table, &n.err);

void release(Node &n) {
    n.err = 0;
    RELEASE_TABLE(tarnok_header_ids, n.headers)
    RELEASE_TABLE(im_if_flow_control, n.if_flow)
    RELEASE_TABLE(im_vep_flow_control, n.vep_flow)
    RELEASE_TABLE(non_aps_headers, n.cc)
    RELEASE_TABLE(global_aps_headers, n.aps)
    RELEASE_TABLE(global_flow_control, n.pools)
}
#undef RELEASE_TABLE

}  // namespace

int cmd_demo(const std::vector<std::string> &args) {
    std::string record, out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") return std::fputs(kDemoUsage, stdout), 0;
        if ((args[i] == "--record" || args[i] == "--out") && i + 1 < args.size()) {
            (args[i] == "--record" ? record : out) = args[i + 1];
            ++i;
        } else {
            return usage_error(kDemoUsage, "unknown argument '" + args[i] + "'");
        }
    }
    Node n;
    g_node = &n;
    FILE *rec = nullptr;
    if (!record.empty()) {
        rec = std::fopen(record.c_str(), "w");
        if (!rec) return fail("demo", record, "", 0, system_reason(errno));
        // The recorder writes one time-stamped element per message: the
        // document's root goes around them.
        std::fprintf(rec, "<%s>\n", schema::kRecordingRoot);
        qelrt_set_recorder(1, rec);
    }
    if (!out.empty() && !(n.out = std::fopen(out.c_str(), "wb"))) {
        if (rec) std::fclose(rec);
        return fail("demo", out, "", 0, system_reason(errno));
    }
    qel_handle_t *h = n.s.h;
    const U db = n.s.db;
    n.headers = tarnok_header_ids_table_open(h, db, "demo", 0, &n.err);
    n.if_flow = im_if_flow_control_table_open(h, db, "demo", 0, &n.err);
    n.vep_flow = im_vep_flow_control_table_open(h, db, "demo", 0, &n.err);
    n.cc = non_aps_headers_table_open(h, db, "demo", 0, &n.err);
    n.aps = global_aps_headers_table_open(h, db, "demo", 0, &n.err);
    n.pools = global_flow_control_table_open(h, db, "demo", 0, &n.err);
    bool ok = n.ok("open tables") && announce_adapters(n) && flow_control(n) && id_pools(n) && lookups(n) &&
              tenants_and_shadows(n) && show(n);
    release(n);
    if (rec) {
        qelrt_set_recorder(0, nullptr);
        std::fprintf(rec, "\n</%s>\n", schema::kRecordingRoot);
        std::fclose(rec);
        std::printf("== Received messages recorded as XML in %s\n", record.c_str());
    }
    if (n.out) {
        std::fclose(n.out);
        std::printf("== Sent messages written to %s ('lomari decode %s' shows them)\n", out.c_str(), out.c_str());
    }
    return ok ? 0 : 1;
}

}  // namespace ltool
