// demo.cpp -- `lomari demo`: the platform's main job, end to end, told as
// it happens, and the steps its processes form shares (demo.h).
//
// Adapters come up in their slots and bays; a sender fills a
// vep_tarnok_headers message with each adapter's SPI-4 mappings and
// marshals it; a receiver unmarshals it and its handler stores the body in
// the tarnok_header_ids table.  Flow-control messages fill
// im_if_flow_control and im_vep_flow_control; id pools fill the three pool
// tables.  Then lookups, a walk in index order, counts per tenant and
// source, a shadow record, and records printed as text and XML.
#include "demo.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_control_db.h"
#include "qel/rt_control_msg.h"
#include "qel/rt_handle.h"
#include "tool.h"
#include "tool_schema.h"

namespace ltool::demo {
namespace {

const char kDemoUsage[] =
    "usage: lomari demo [--record FILE] [--out FILE] [--processes [--db NAME [--dir DIR]]]\n"
    "       lomari demo --bus URL [connection options of 'lomari bus']\n"
    "\n"
    "Runs the platform's main job end to end on one process's handle and\n"
    "tells what happens: adapters announce their SPI-4 header mappings,\n"
    "flow-control and id-pool assignments are stored in the six tables,\n"
    "then looked up, walked, counted and shown as text and XML.\n"
    "\n"
    "With --processes the same job runs in separate processes around a\n"
    "shared database: one sender process per adapter and one for the\n"
    "flow-control messages send them over a local socket to a receiver\n"
    "process, which stores them in the database while a reader process\n"
    "looks the records up, walks and counts them.  Every line names the\n"
    "process (role and pid) that did what it says.\n"
    "\n"
    "With --bus the senders and the receiver are separate processes that\n"
    "talk through the NATS server at URL: the receiver subscribes to the\n"
    "demo's three messages, the senders publish them, and the receiver\n"
    "stores, looks up and shows them as the single-process demo does.\n"
    "  --record FILE   record every received message to FILE as XML: one\n"
    "                  lomari_recording document ('lomari schema' describes it)\n"
    "  --out FILE      also write every sent message's encoding to FILE\n"
    "                  (concatenated; 'lomari decode FILE' reads them back)\n"
    "  --processes     run the senders, the receiver and the reader as\n"
    "                  separate processes\n"
    "  --db NAME       with --processes: the shared database, created and kept\n"
    "                  afterwards for 'lomari db' (by default a temporary one,\n"
    "                  removed at the end)\n"
    "  --dir DIR       with --db: the database is the file NAME in DIR rather\n"
    "                  than POSIX shared memory\n";

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
    say(*g_node, "receiver", "stored %u mappings of slot %u bay %u in tarnok_header_ids under \"%s\"",
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

// The four interfaces' flow-control ids, one message each.
bool send_if_fctrl(Node &n, U k) {
    qel_handle_t *h = n.h;
    const U db = n.db;
    im_if_fctrl_message *m = im_if_fctrl_message_create(h, db);
    im_if_fctrl_body *b = im_if_fctrl_message_im_if_fctrl_body_get(h, db, m, &n.err);
    // slot, bay, port, kalvi_id, vc, flow_control_id, flow_control, connection_id
    im_if_fctrl_body_set_all(h, db, b, 3, 1, k, 0x9000 + k, 32 + k, 0x700 + k, ORV_FLOWCTRL_EFC, 0x40 + k, &n.err);
    const U len = n.send(m, im_if_fctrl_message_marshal);
    im_if_fctrl_message_destroy(h, db, m);
    return n.ok("marshal im_if_fctrl") && n.deliver(n.wire.data(), len);
}

// The adapter port's flow ids; the message's length in len.
bool send_vep_fctrl(Node &n, U &len) {
    qel_handle_t *h = n.h;
    const U db = n.db;
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
    len = n.send(m, im_vep_fctrl_message_marshal);
    im_vep_fctrl_message_destroy(h, db, m);
    return n.ok("marshal im_vep_fctrl") && n.deliver(n.wire.data(), len);
}

bool announce_adapters(Node &n) {
    heading(n, "Adapters come up and announce their SPI-4 header mappings");
    for (const Adapter &a : kAdapters)
        if (!send_adapter(n, a)) return false;
    return true;
}

bool flow_control(Node &n) {
    heading(n, "Flow-control ids for interfaces and adapter ports");
    for (U k = 0; k < 4; ++k)
        if (!send_if_fctrl(n, k)) return false;
    say(n, nullptr, "4 im_if_fctrl messages -> im_if_flow_control: %u records, ordered by kalvi_id and by body",
        im_if_flow_control_table_get_count(n.h, n.db, n.if_flow));
    U len = 0;
    if (!send_vep_fctrl(n, len)) return false;
    say(n, nullptr, "1 im_vep_fctrl message with 16 flow mappings (%u bytes) -> im_vep_flow_control", len);
    return true;
}

// Prints text line by line, each line naming the process when processes
// tell the story.
void block(const Node &n, const char *text) {
    if (n.role.empty()) {
        std::fputs(text, stdout);
        return;
    }
    for (const char *p = text; *p;) {
        const char *end = std::strchr(p, '\n');
        const int len = int(end ? end - p : std::strlen(p));
        std::printf("  %s: %.*s\n", n.role.c_str(), len, p);
        p += len + (end ? 1 : 0);
    }
}

}  // namespace

// Releases every record (of both tenants) and every table.
#define RELEASE_TABLE(name, table)                                                              \
    for (uint16_t tenant : {uint16_t(0), uint16_t(7)}) {                                       \
        qelrt_set_tenant_id(tenant);                                                           \
        while (void *r = name##_pkey_get_first_ignore_src(n.h, n.db, table, &n.err))           \
            name##_destroy_record(n.h, n.db, r, &n.err);                                       \
    }                                                                                          \
    qelrt_set_tenant_id(0);                                                                    \
    name##_table_free(n.h, n.db, table, &n.err);

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

bool Node::ok(const char *what) {
    if (!err) return true;
    std::fprintf(stderr, "lomari: demo: %s%s%s: %s (%s)\n", role.c_str(), role.empty() ? "" : ": ", what,
                 lomari_error_name(err), lomari_error_text(err));
    return false;
}

Held::Held(Node &n) : db_(n.shared) {
    if (!db_) return;
    const int rc = qelrt_db_lock(db_);
    if (rc == QELRT_DB_OWNER_DIED)
        say(n, nullptr, "a process died holding the database's lock; the lock was recovered");
    else if (rc != 0) {
        std::fprintf(stderr, "lomari: demo: %s: cannot take the database's lock: %s\n", n.role.c_str(),
                     qelrt_db_error_detail());
        db_ = nullptr;
    }
}
Held::~Held() {
    if (db_) qelrt_db_unlock(db_);
}

void heading(const Node &n, const char *what) {
    if (n.role.empty())
        std::printf("== %s\n", what);
    else
        std::printf("== %s: %s\n", n.role.c_str(), what);
}

void say(const Node &n, const char *role, const char *fmt, ...) {
    const std::string &who = n.role.empty() ? std::string(role ? role : "") : n.role;
    std::string line = "  " + (who.empty() ? "" : who + ": ");
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    line += buf;
    line += '\n';
    std::fputs(line.c_str(), stdout);
}

bool open_tables(Node &n, U open_type) {
    qel_handle_t *h = n.h;
    const U db = n.db;
    n.headers = tarnok_header_ids_table_open(h, db, "demo", open_type, &n.err);
    n.if_flow = im_if_flow_control_table_open(h, db, "demo", open_type, &n.err);
    n.vep_flow = im_vep_flow_control_table_open(h, db, "demo", open_type, &n.err);
    n.cc = non_aps_headers_table_open(h, db, "demo", open_type, &n.err);
    n.aps = global_aps_headers_table_open(h, db, "demo", open_type, &n.err);
    n.pools = global_flow_control_table_open(h, db, "demo", open_type, &n.err);
    return n.ok("open tables") && n.headers && n.if_flow && n.vep_flow && n.cc && n.aps && n.pools;
}

bool send_adapter(Node &n, const Adapter &a) {
    qel_handle_t *h = n.h;
    const U db = n.db;
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
    say(n, "sender", "adapter in slot %u bay %u: vep_tarnok_headers with %u mappings, %u bytes", a.slot, a.bay,
        a.mappings, len);
    return n.deliver(n.wire.data(), len);
}

bool send_flow_control(Node &n) {
    for (U k = 0; k < 4; ++k)
        if (!send_if_fctrl(n, k)) return false;
    say(n, "sender", "4 im_if_fctrl messages with the flow-control ids of slot 3 bay 1's interfaces");
    U len = 0;
    if (!send_vep_fctrl(n, len)) return false;
    say(n, "sender", "1 im_vep_fctrl message with 16 flow mappings (%u bytes)", len);
    return true;
}

bool receive(Node &n, const uint8_t *bytes, U len) {
    g_node = &n;
    qel_handle_t *h = n.h;
    const U db = n.db;
    if (len < QEL_MSG_WIRE_HEADER_LEN + 16) {
        n.err = LOMARI_ERR_SHORT;
        return n.ok("receive");
    }
    const uint8_t *id = bytes + QEL_MSG_WIRE_HEADER_LEN;
    if (std::memcmp(id, message_vep_tarnok_headers_luid, 16) == 0) {
        vep_tarnok_headers_message_unmarshal(h, db, 0, nullptr, bytes, len, on_headers, &n.err);
        return n.ok("receive vep_tarnok_headers");
    }
    if (std::memcmp(id, message_im_if_fctrl_luid, 16) == 0) {
        im_if_fctrl_message_unmarshal(h, db, 0, nullptr, bytes, len, on_if_fctrl, &n.err);
        return n.ok("im_if_fctrl");
    }
    if (std::memcmp(id, message_im_vep_fctrl_luid, 16) == 0) {
        im_vep_fctrl_message_unmarshal(h, db, 0, nullptr, bytes, len, on_vep_fctrl, &n.err);
        return n.ok("im_vep_fctrl");
    }
    n.err = LOMARI_ERR_NOT_FOUND;
    return n.ok("receive a message the demo has no handler for");
}

Handler handler_for(Node &n, const char *message) {
    g_node = &n;
    if (std::strcmp(message, "vep_tarnok_headers") == 0) return reinterpret_cast<Handler>(on_headers);
    if (std::strcmp(message, "im_if_fctrl") == 0) return reinterpret_cast<Handler>(on_if_fctrl);
    if (std::strcmp(message, "im_vep_fctrl") == 0) return reinterpret_cast<Handler>(on_vep_fctrl);
    return nullptr;
}

bool id_pools(Node &n) {
    heading(n, "Id pools are leased");
    qel_handle_t *h = n.h;
    const U db = n.db;
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
    say(n, nullptr, "non_aps_headers: %u slots, global_aps_headers: %u rows, global_flow_control: %u range",
        non_aps_headers_table_get_count(h, db, n.cc), global_aps_headers_table_get_count(h, db, n.aps),
        global_flow_control_table_get_count(h, db, n.pools));
    return true;
}

bool lookups(Node &n) {
    qel_handle_t *h = n.h;
    const U db = n.db;
    heading(n, "Lookups");
    std::string line;
    {
        Held lock(n);
        void *r = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, n.headers, "slot3/bay1", &n.err);
        vep_tarnok_body *b = r ? tarnok_header_ids_vep_tarnok_body_get_field(h, db, r) : nullptr;
        line = std::string("search \"slot3/bay1\": ") + (r ? "found" : "not found");
        if (b) line += ", " + std::to_string(vep_tarnok_body_spi4_id_mappings_get_count(h, db, b, &n.err)) + " mappings";
    }
    say(n, nullptr, "%s", line.c_str());
    char key[32] = "";
    {
        Held lock(n);
        void *near = tarnok_header_ids_tarnok_rec_fields_dbkey_search_nearest(h, db, n.headers, "slot2", &n.err);
        if (near)
            tarnok_rec_fields_dbkey_get(h, db, tarnok_header_ids_tarnok_rec_fields_get_field(h, db, near), key,
                                        sizeof key, &n.err);
    }
    say(n, nullptr, "nearest at or after \"slot2\": \"%s\"", key);
    const U kalvi = 0x9002;
    void *f;
    {
        Held lock(n);
        f = im_if_flow_control_im_if_fctrl_body_kalvi_id_search(h, db, n.if_flow, &kalvi, &n.err);
    }
    say(n, nullptr, "im_if_flow_control by kalvi_id 0x%x: %s", kalvi, f ? "found" : "not found");
    line = "walk of tarnok_header_ids in index order:";
    {
        Held lock(n);
        for (void *w = tarnok_header_ids_tarnok_rec_fields_dbkey_get_first(h, db, n.headers, &n.err); w;
             w = tarnok_header_ids_tarnok_rec_fields_dbkey_get_next(h, db, n.headers, w, &n.err)) {
            tarnok_rec_fields_dbkey_get(h, db, tarnok_header_ids_tarnok_rec_fields_get_field(h, db, w), key,
                                        sizeof key, &n.err);
            line += " \"" + std::string(key) + "\"";
        }
    }
    say(n, nullptr, "%s", line.c_str());
    return n.ok("lookups");
}

bool tenants_and_shadows(Node &n) {
    qel_handle_t *h = n.h;
    const U db = n.db;
    heading(n, "Tenants and shadow records");
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
    say(n, nullptr, "tarnok_header_ids holds %u records, %u of them a shadow (source 255); tenant 7 counts %u of its own",
        tarnok_header_ids_table_get_count(h, db, n.headers),
        tarnok_header_ids_table_get_count_by_src(h, db, n.headers, 255), tenant7);
    void *mine = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, n.headers, "slot3/bay1", &n.err);
    void *shadow = tarnok_header_ids_tarnok_rec_fields_dbkey_search_w_src(h, db, n.headers, "slot3/bay1", 255, &n.err);
    say(n, nullptr, "\"slot3/bay1\": the record and its shadow are %s",
        mine && shadow && mine != shadow ? "two records side by side" : "missing");
    return n.ok("shadow record");
}

bool show(Node &n) {
    qel_handle_t *h = n.h;
    const U db = n.db;
    heading(n, "A record as text");
    {
        Held lock(n);
        void *r = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, n.headers, "slot1/bay0", &n.err);
        tarnok_header_ids_table_record_print(h, db, n.text.data(), r, U(n.text.size()), &n.err);
    }
    block(n, n.text.data());
    heading(n, "A record as XML");
    {
        Held lock(n);
        void *p = global_flow_control_flow_id_pool_my_range_id_get_first(h, db, n.pools, &n.err);
        global_flow_control_table_record_to_xml(h, db, n.text.data(), p, U(n.text.size()), &n.err);
    }
    block(n, (std::string(n.text.data()) + "\n").c_str());
    return n.ok("render records");
}

}  // namespace ltool::demo

namespace ltool {

int cmd_demo(const std::vector<std::string> &args) {
    using namespace demo;
    std::string record, out, db_name, dir;
    bool processes = false;
    for (const std::string &a : args)
        if (a == "--bus") return run_bus(args);
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") return std::fputs(kDemoUsage, stdout), 0;
        if ((args[i] == "--record" || args[i] == "--out" || args[i] == "--db" || args[i] == "--dir") &&
            i + 1 < args.size()) {
            (args[i] == "--record" ? record : args[i] == "--out" ? out : args[i] == "--db" ? db_name : dir) = args[i + 1];
            ++i;
        } else if (args[i] == "--processes") {
            processes = true;
        } else {
            return usage_error(kDemoUsage, "unknown argument '" + args[i] + "'");
        }
    }
    if (!db_name.empty() && !processes) return usage_error(kDemoUsage, "--db goes with --processes");
    if (!dir.empty() && db_name.empty()) return usage_error(kDemoUsage, "--dir goes with --db");
    if (processes && (!record.empty() || !out.empty()))
        return usage_error(kDemoUsage, "--record and --out go with the single-process demo");
    if (processes) return run_processes(db_name, dir);
    Session s;
    Node n(s);
    n.deliver = [&n](const uint8_t *b, U len) { return receive(n, b, len); };
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
    bool ok = open_tables(n, 0) && announce_adapters(n) && flow_control(n) && id_pools(n) && lookups(n) &&
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
