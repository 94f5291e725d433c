/*
 * receiver.c -- receives what sender.c sends (standard input, or a file):
 * each vep_tarnok_headers message goes to a handler that stores the
 * adapter's mappings in the tarnok_header_ids table under
 * "slot<N>/bay<M>"; then one record is found, the records are walked in
 * key order and counted.  Exits 0 when the three adapters were stored.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <lomari/lomari.h>
#include <qel/rt_handle.h>

struct receiver {
    void *table;
    void *records[16]; /* the references we hold: the table holds none */
    uint32_t count;
};

/* Called by the unmarshal without a message reference: the message is
 * ours and we destroy it.  Its context word carries our state. */
static void on_headers(qel_handle_t *h, uint32_t db, uint64_t context, vep_tarnok_headers_message *m,
                       uint32_t *err) {
    struct receiver *rx = (struct receiver *)(uintptr_t)context;
    vep_tarnok_body *body = vep_tarnok_headers_message_vep_tarnok_body_get_detach(h, db, m, err); /* ours now */
    vep_tarnok_headers_message_destroy(h, db, m);
    char key[32];
    snprintf(key, sizeof key, "slot%u/bay%u", vep_tarnok_body_slot_number_get_value(h, db, body, err),
             vep_tarnok_body_bay_number_get_value(h, db, body, err));
    tarnok_rec_fields *fields = tarnok_rec_fields_create(h, db);
    tarnok_rec_fields_dbkey_set(h, db, fields, key, (uint32_t)strlen(key), err);
    void *rec = tarnok_header_ids_create_record(h, db, err);  /* one reference: ours */
    if (!rec || !fields || rx->count == 16) {
        tarnok_rec_fields_destroy(h, db, fields);
        vep_tarnok_body_destroy(h, db, body);
        if (rec)
            tarnok_header_ids_destroy_record(h, db, rec, err);
        *err = LOMARI_ERR_NO_MEMORY;
        return;
    }
    tarnok_header_ids_tarnok_rec_fields_set_field(h, db, rec, fields); /* the record owns both now */
    tarnok_header_ids_vep_tarnok_body_set_field(h, db, rec, body);
    tarnok_header_ids_insert(h, db, rx->table, rec, err);
    rx->records[rx->count++] = rec;
}

int main(int argc, char **argv) {
    static uint8_t bytes[1 << 16];
    FILE *in = argc > 1 ? fopen(argv[1], "rb") : stdin;
    size_t len = in ? fread(bytes, 1, sizeof bytes, in) : 0;
    if (in && in != stdin)
        fclose(in);
    qel_handle_t *h = qelrt_handle_new();
    if (!h)
        return 1;
    uint32_t db = QEL_NO_DATABASE, err = LOMARI_OK;
    struct receiver rx = {tarnok_header_ids_table_open(h, db, "receiver", 0 /* create */, &err), {0}, 0};

    /* Each envelope names its message at byte 27: call that message's unmarshal. */
    for (size_t off = 0; off + 43 <= len && !err;) {
        if (memcmp(bytes + off + 27, message_vep_tarnok_headers_luid, 16) != 0) {
            fprintf(stderr, "receiver: not a vep_tarnok_headers message at byte %zu\n", off);
            break;
        }
        off += vep_tarnok_headers_message_unmarshal(h, db, (uintptr_t)&rx, NULL, bytes + off, (uint32_t)(len - off),
                                                    on_headers, &err);
    }

    void *found = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, rx.table, "slot2/bay1", &err);
    if (found) {
        vep_tarnok_body *b = tarnok_header_ids_vep_tarnok_body_get_field(h, db, found); /* the record keeps it */
        printf("found slot2/bay1: %u mappings\n", vep_tarnok_body_spi4_id_mappings_get_count(h, db, b, &err));
    }
    char key[32];
    for (void *r = tarnok_header_ids_tarnok_rec_fields_dbkey_get_first(h, db, rx.table, &err); r;
         r = tarnok_header_ids_tarnok_rec_fields_dbkey_get_next(h, db, rx.table, r, &err)) {
        tarnok_rec_fields_dbkey_get(h, db, tarnok_header_ids_tarnok_rec_fields_get_field(h, db, r), key, sizeof key,
                                    &err);
        printf("walk: %s\n", key);
    }
    uint32_t count = tarnok_header_ids_table_get_count(h, db, rx.table);
    printf("count: %u (%s)\n", count, err ? lomari_error_name(err) : "ok");

    uint32_t cleanup = LOMARI_OK;
    for (uint32_t i = 0; i < rx.count; ++i) /* the last reference: out of the table, fields destroyed */
        tarnok_header_ids_destroy_record(h, db, rx.records[i], &cleanup);
    tarnok_header_ids_table_free(h, db, rx.table, &cleanup); /* closing would leave it in its database */
    qelrt_handle_free(h);
    return err == LOMARI_OK && cleanup == LOMARI_OK && count == 3 ? 0 : 1;
}
