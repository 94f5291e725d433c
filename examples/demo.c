/*
 * demo.c -- makes a handle, registers the lomari domain's types, creates and
 * sets each enumeration, and prints the variant dump.
 */
#include <stdio.h>

#include "lomari/lomari.h"
#include "qel/rt_control.h"

int main(void) {
    qel_handle_t *h = qelrt_handle_new();
    uint32_t err = 0;

    h->per_handle_types = 1;
    lomari_typeinfo_initialize(h, h->database_id, &err);
    printf("registered %u type-info records (err %u)\n", qelrt_handle_dict_size(h), err);

    spi4_priority *pri = spi4_priority_create(h, h->database_id);
    orv_flowctrl *fc = orv_flowctrl_create(h, h->database_id);
    if_flow_request *req = if_flow_request_create(h, h->database_id);
    reconcile_flag *rf = reconcile_flag_create(h, h->database_id);
    spi4_priority_set_value(h, h->database_id, pri, SPI4_PRI_HI, &err);
    orv_flowctrl_set_value(h, h->database_id, fc, ORV_FLOWCTRL_EBFC, &err);
    if_flow_request_set_value(h, h->database_id, req, REQ_IF_ALL_IDS, &err);
    reconcile_flag_set_value(h, h->database_id, rf, RECON_CLEAR, &err);
    printf("spi4_priority %u orv_flowctrl %u if_flow_request %u reconcile_flag %u (err %u)\n",
           spi4_priority_get_value(h, h->database_id, pri, &err),
           orv_flowctrl_get_value(h, h->database_id, fc, &err),
           if_flow_request_get_value(h, h->database_id, req, &err),
           reconcile_flag_get_value(h, h->database_id, rf, &err), err);
    spi4_priority_destroy(h, h->database_id, pri);
    orv_flowctrl_destroy(h, h->database_id, fc);
    if_flow_request_destroy(h, h->database_id, req);
    reconcile_flag_destroy(h, h->database_id, rf);

    lomari_type_variant_dump(printf);
    qelrt_handle_free(h);
    return err == 0 ? 0 : 1;
}
