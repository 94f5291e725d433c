/*
 * roundtrip.c -- the smallest complete use of liblomari: make a handle,
 * create a which_vep, set its fields, encode it, decode the bytes into a
 * second object, compare the two, and release everything.
 * Exits 0 when the decoded object equals the original.
 */
#include <stdio.h>

#include <lomari/lomari.h>
#include <qel/rt_handle.h>

int main(void) {
    qel_handle_t *h = qelrt_handle_new();
    if (!h)
        return 1;
    uint32_t db = QEL_NO_DATABASE; /* no platform database behind the objects */
    uint32_t err = LOMARI_OK;      /* must be 0 on entry to every call */

    which_vep *vep = which_vep_create(h, db);
    which_vep *copy = which_vep_create(h, db);
    if (!vep || !copy)
        return 1;
    which_vep_set_all(h, db, vep, 1, 2, &err); /* slot 1, bay 2 */

    uint8_t buf[64];
    uint32_t n = which_vep_marshal(h, db, buf, vep, sizeof buf, &err);
    /* in-place flag 0: decode into a freshly created object */
    uint32_t used = which_vep_unmarshal(h, db, buf, copy, n, 0, &err);

    int same = err == LOMARI_OK && used == n && which_vep_compare(vep, copy) == 0;
    printf("which_vep slot %u bay %u: %u bytes encoded, %u decoded, %s (err %u)\n",
           which_vep_slot_get_value(h, db, copy, &err),
           which_vep_bay_get_value(h, db, copy, &err), n, used,
           same ? "equal" : "DIFFERENT", err);

    which_vep_destroy(h, db, vep);
    which_vep_destroy(h, db, copy);
    qelrt_handle_free(h);
    return same ? 0 : 1;
}
