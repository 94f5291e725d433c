/*
 * sender_receiver.c -- a message from a sender to a receiver: the sender
 * fills a vep_tarnok_headers message with an adapter's SPI-4 mappings and
 * marshals it; the receiver unmarshals the bytes, and the library hands the
 * new message to the receiver's handler, which now owns it.
 * Exits 0 when the receiver saw the mappings the sender sent.
 */
#include <stdio.h>

#include <lomari/lomari.h>
#include <qel/rt_handle.h>

static uint32_t g_received = 0;

/* The receiver: called with the decoded message, which it must destroy. */
static void on_headers(qel_handle_t *h, uint32_t db, uint64_t context, vep_tarnok_headers_message *m,
                       uint32_t *err) {
    vep_tarnok_body *body = vep_tarnok_headers_message_vep_tarnok_body_get(h, db, m, err);
    g_received = vep_tarnok_body_spi4_id_mappings_get_count(h, db, body, err);
    printf("receiver (context %llu): slot %u bay %u, %u mappings\n", (unsigned long long)context,
           vep_tarnok_body_slot_number_get_value(h, db, body, err),
           vep_tarnok_body_bay_number_get_value(h, db, body, err), g_received);
    vep_tarnok_headers_message_destroy(h, db, m);
}

int main(void) {
    qel_handle_t *h = qelrt_handle_new();
    uint32_t db = QEL_NO_DATABASE, err = LOMARI_OK;

    /* Sender: a message with a new empty body, filled through the body. */
    vep_tarnok_headers_message *m = vep_tarnok_headers_message_create(h, db);
    vep_tarnok_body *body = vep_tarnok_headers_message_vep_tarnok_body_get(h, db, m, &err);
    vep_tarnok_body_slot_number_set_value(h, db, body, 3, &err);
    vep_tarnok_body_bay_number_set_value(h, db, body, 1, &err);
    for (uint32_t port = 0; port < 4; ++port) {
        spi4_mapping *e = spi4_mapping_create(h, db);
        spi4_mapping_portnum_set_value(h, db, e, port, &err);
        spi4_mapping_header_id_set_value(h, db, e, 0x4300 + port, &err);
        spi4_mapping_pri_set_value(h, db, e, SPI4_PRI_HI, &err);
        vep_tarnok_body_spi4_id_mappings_set_last(h, db, body, e, &err); /* the body owns it now */
    }
    uint8_t wire[1024];
    uint32_t n = vep_tarnok_headers_message_marshal(h, db, wire, m, sizeof wire, &err);
    vep_tarnok_headers_message_destroy(h, db, m);
    printf("sender: %u bytes (%s)\n", n, err ? lomari_error_name(err) : "ok");

    /* Receiver: decode and dispatch to on_headers (context 42). */
    uint32_t used = vep_tarnok_headers_message_unmarshal(h, db, 42, NULL, wire, n, on_headers, &err);
    printf("receiver: %u bytes used (%s)\n", used, err ? lomari_error_name(err) : "ok");

    qelrt_handle_free(h);
    return err == LOMARI_OK && used == n && g_received == 4 ? 0 : 1;
}
