/*
 * demo.c -- the main job until the command-line tool arrives: shows, through
 * the public interface only, one object of the lomari domain created,
 * filled, encoded, decoded and compared, the same object on a
 * state-tracking handle, and the table of the domain's types.
 */
#include <stdio.h>
#include <string.h>

#include "lomari/lomari.h"
#include "qel/rt_handle.h"

static void hex(const uint8_t *p, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        printf(" %02x", p[i]);
}

/* One labelled line per encoded piece of a which_fp. */
static void explain_which_fp(const uint8_t *b, uint32_t n, int tracked) {
    static const char *const fields[] = {"slot", "bay", "how_much"};
    static const uint32_t widths[] = {4, 4, 5};
    uint32_t at = 0;
    printf("    "); hex(b + at, 1); printf("%*svariant\n", 14, ""); at += 1;
    printf("    "); hex(b + at, 1); printf("%*sflags (bit 0x08: a state byte follows each field)\n", 14, ""); at += 1;
    printf("    "); hex(b + at, 4); printf("%*svariant jump: bytes from here to the end\n", 5, ""); at += 4;
    for (int f = 0; f < 3 && at + widths[f] <= n; f++) {
        printf("    "); hex(b + at, widths[f]);
        printf("%*s%s%s\n", widths[f] == 4 ? 5 : 2, "", fields[f],
               widths[f] == 5 ? " (enumeration: variant byte, value)" : "");
        at += widths[f];
        if (tracked && at < n) {
            printf("    "); hex(b + at, 1);
            printf("%*sstate byte of %s (2 written, 0 not)\n", 14, "", fields[f]);
            at += 1;
        }
    }
}

int main(void) {
    uint32_t db = QEL_NO_DATABASE, err = LOMARI_OK;
    int ok = 1;

    printf("== one which_fp through the binary encoding and back\n");
    qel_handle_t *h = qelrt_handle_new();
    h->per_handle_types = 1; /* registers the domain's types on first use */
    which_fp *fp = which_fp_create(h, db);
    printf("created a which_fp (%u bytes in memory); the handle now holds %u registered type-info records\n",
           which_fp_sizeof(h), qelrt_handle_dict_size(h));
    which_fp_slot_set_value(h, db, fp, 3, &err);
    which_fp_bay_set_value(h, db, fp, 1, &err);
    which_fp_how_much_set_value(h, db, fp, REQ_IF_ALL_IDS, &err);
    printf("set slot 3, bay 1, how_much REQ_IF_ALL_IDS (%u)\n", (unsigned)REQ_IF_ALL_IDS);

    uint8_t buf[64];
    uint32_t n = which_fp_marshal(h, db, buf, fp, sizeof buf, &err);
    printf("encoded into %u bytes (which_fp_len says %u), network byte order:\n",
           n, which_fp_len(h, db, fp));
    explain_which_fp(buf, n, 0);

    which_fp *back = which_fp_create(h, db);
    uint32_t used = which_fp_unmarshal(h, db, buf, back, n, 0, &err);
    printf("decoded %u bytes into a new which_fp: slot %u, bay %u, how_much %u\n", used,
           which_fp_slot_get_value(h, db, back, &err), which_fp_bay_get_value(h, db, back, &err),
           which_fp_how_much_get_value(h, db, back, &err));
    int cmp = which_fp_compare(fp, back);
    printf("which_fp_compare(original, decoded) = %d: %s; error word %u\n", cmp,
           cmp == 0 ? "equal" : "DIFFERENT", err);
    ok = ok && cmp == 0 && used == n && err == LOMARI_OK;
    which_fp_destroy(h, db, fp);
    which_fp_destroy(h, db, back);
    qelrt_handle_free(h);

    printf("\n== the same object on a state-tracking handle (check_state 0xEEEE), bay left unset\n");
    qel_handle_t *th = qelrt_handle_new();
    qelrt_handle_set_mode(th, QEL_CHECK_TRACK);
    which_fp *tfp = which_fp_create(th, db);
    which_fp_slot_set_value(th, db, tfp, 3, &err);
    which_fp_how_much_set_value(th, db, tfp, REQ_IF_ALL_IDS, &err);
    uint32_t tn = which_fp_marshal(th, db, buf, tfp, sizeof buf, &err);
    printf("created (%u bytes in memory with its state area) and encoded into %u bytes:\n",
           which_fp_sizeof(th), tn);
    explain_which_fp(buf, tn, 1);
    ok = ok && err == LOMARI_OK;
    which_fp_destroy(th, db, tfp);
    qelrt_handle_free(th);

    printf("\n== the types of the lomari domain, as registered with the runtime\n");
    printf("  %-2s  %-27s %-13s %-12s %s\n", "#", "name", "kind", "used length", "alloc slop");
    unsigned total = 0, structured = 0, enums = 0, tables = 0, records = 0, messages = 0;
    for (const qel_module_desc_t *m = qel_module_tot_root.first; m; m = m->next) {
        if (strcmp(m->name, "lomari") != 0)
            continue;
        for (qel_type_info_t *const *t = m->types; *t; t++) {
            const qel_variant_record_t *v = (*t)->varinfo ? (*t)->varinfo->variants : NULL;
            printf("  %2u  %-27s %-13s %11u %11u\n", ++total, (*t)->name, (*t)->kind,
                   v ? v->used_length : 0, v ? v->alloc_slop : 0);
            const char *k = (*t)->kind;
            structured += !strcmp(k, "type");
            enums += !strcmp(k, "enum");
            tables += !strcmp(k, "table");
            records += !strcmp(k, "table_record");
            messages += !strcmp(k, "message");
        }
    }
    printf("  (used length and alloc slop: bytes, from each type's variant-0 record)\n");
    printf("%u type-info records: %u structured types, %u enumerations, %u tables, "
           "%u table-record types, %u messages\n",
           total, structured, enums, tables, records, messages);

    printf("\n%s: a which_fp was created, filled, encoded into %u bytes (%u with state "
           "bytes), decoded and compared %s; %u types listed\n",
           ok ? "demo ok" : "demo FAILED", n, tn, ok ? "equal" : "with a difference", total);
    return ok ? 0 : 1;
}
