/*
 * sender.c -- adapters announce their SPI-4 header mappings: one
 * vep_tarnok_headers message per adapter, marshalled and written to
 * standard output (receiver.c reads them: sender | receiver).
 * Exits 0 when every message was sent.
 */
#include <stdio.h>
#include <stdlib.h>

#include <lomari/lomari.h>
#include <qel/rt_handle.h>

int main(void) {
    static const uint32_t adapters[][3] = {{3, 1, 8}, {1, 0, 4}, {2, 1, 6}}; /* slot, bay, mappings */
    qel_handle_t *h = qelrt_handle_new();
    if (!h)
        return 1;
    uint32_t db = QEL_NO_DATABASE; /* no platform database behind the objects */
    uint32_t err = LOMARI_OK;      /* must be 0 on entry to every call: test it once at the end */

    for (int i = 0; i < 3 && !err; ++i) {
        /* A new message with an empty body; the message owns the body. */
        vep_tarnok_headers_message *m = vep_tarnok_headers_message_create(h, db);
        if (!m)
            return 1;
        vep_tarnok_body *body = vep_tarnok_headers_message_vep_tarnok_body_get(h, db, m, &err);
        vep_tarnok_body_slot_number_set_value(h, db, body, adapters[i][0], &err);
        vep_tarnok_body_bay_number_set_value(h, db, body, adapters[i][1], &err);
        for (uint32_t port = 0; port < adapters[i][2]; ++port) {
            spi4_mapping *e = spi4_mapping_create(h, db);
            spi4_mapping_portnum_set_value(h, db, e, port, &err);
            spi4_mapping_header_id_set_value(h, db, e, 0x4000 + adapters[i][0] * 0x100 + port, &err);
            spi4_mapping_pri_set_value(h, db, e, port % 2 ? SPI4_PRI_HI : SPI4_PRI_LO, &err);
            vep_tarnok_body_spi4_id_mappings_set_last(h, db, body, e, &err); /* the body owns e now */
        }
        uint32_t len = vep_tarnok_headers_message_len(h, db, m);
        uint8_t *wire = malloc(len);
        uint32_t n = wire ? vep_tarnok_headers_message_marshal(h, db, wire, m, len, &err) : 0;
        if (!err && n == len)
            fwrite(wire, 1, n, stdout);
        fprintf(stderr, "sender: slot %u bay %u, %u mappings, %u bytes (%s)\n", adapters[i][0], adapters[i][1],
                adapters[i][2], n, err ? lomari_error_name(err) : "ok");
        free(wire);
        vep_tarnok_headers_message_destroy(h, db, m); /* the body and its mappings with it */
    }
    qelrt_handle_free(h); /* after everything made through it is gone */
    return err == LOMARI_OK && fflush(stdout) == 0 ? 0 : 1;
}
