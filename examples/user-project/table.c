/*
 * table.c -- a table as a process uses one: open tarnok_header_ids, insert
 * records keyed by "slot<N>/bay<M>", look one up, walk them in key order,
 * count them, and see a record event reach the application's handler.
 * Exits 0 when every step gave what it should.
 */
#include <stdio.h>
#include <string.h>

#include <lomari/lomari.h>
#include <qel/rt_handle.h>

static int g_created_events = 0;

/* The application's handler for record creation events: the library's
 * tarnok_header_ids_table_record_create_cb forwards to it. */
void lomari_tarnok_header_ids_table_record_create_handler(qel_handle_t *h, uint32_t db, void *first,
                                                          void *second, uint32_t *err) {
    (void)h, (void)db, (void)first, (void)second, (void)err;
    ++g_created_events;
}

static void *add(qel_handle_t *h, uint32_t db, void *table, const char *key, uint32_t slot, uint32_t *err) {
    tarnok_rec_fields *f = tarnok_rec_fields_create(h, db);
    tarnok_rec_fields_dbkey_set(h, db, f, key, (uint32_t)strlen(key), err);
    vep_tarnok_body *b = vep_tarnok_body_create(h, db);
    vep_tarnok_body_slot_number_set_value(h, db, b, slot, err);
    void *rec = tarnok_header_ids_create_record(h, db, err);
    tarnok_header_ids_tarnok_rec_fields_set_field(h, db, rec, f); /* the record refers to its fields */
    tarnok_header_ids_vep_tarnok_body_set_field(h, db, rec, b);
    tarnok_header_ids_insert(h, db, table, rec, err);
    return rec;
}

int main(void) {
    qel_handle_t *h = qelrt_handle_new();
    uint32_t db = QEL_NO_DATABASE, err = LOMARI_OK;

    void *table = tarnok_header_ids_table_open(h, db, "example", 0 /* create */, &err);
    void *recs[3] = {add(h, db, table, "slot3/bay1", 3, &err), add(h, db, table, "slot1/bay0", 1, &err),
                     add(h, db, table, "slot2/bay1", 2, &err)};

    void *found = tarnok_header_ids_tarnok_rec_fields_dbkey_search(h, db, table, "slot2/bay1", &err);
    vep_tarnok_body *b = tarnok_header_ids_vep_tarnok_body_get_field(h, db, found);
    printf("search slot2/bay1: slot %u\n", found ? vep_tarnok_body_slot_number_get_value(h, db, b, &err) : 0);

    printf("walk:");
    char key[32];
    for (void *r = tarnok_header_ids_tarnok_rec_fields_dbkey_get_first(h, db, table, &err); r;
         r = tarnok_header_ids_tarnok_rec_fields_dbkey_get_next(h, db, table, r, &err)) {
        tarnok_rec_fields_dbkey_get(h, db, tarnok_header_ids_tarnok_rec_fields_get_field(h, db, r), key,
                                    sizeof key, &err);
        printf(" %s", key);
    }
    uint32_t count = tarnok_header_ids_table_get_count(h, db, table);
    printf("\ncount: %u\n", count);

    /* The database runtime reports record events through the callbacks. */
    tarnok_header_ids_table_record_create_cb(h, db, recs[0], NULL, &err);
    printf("create events handled: %d\n", g_created_events);

    for (int i = 0; i < 3; ++i) tarnok_header_ids_destroy_record(h, db, recs[i], &err); /* leaves the table too */
    tarnok_header_ids_table_free(h, db, table, &err);
    qelrt_handle_free(h);
    return err == LOMARI_OK && count == 3 && g_created_events == 1 ? 0 : 1;
}
