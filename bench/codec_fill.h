// codec_fill.h -- the lomari side's bodies filled with the values of
// codec_shapes.h, shared by every benchmark that moves them (the codec and
// the message envelope cases).
#ifndef LOMARI_BENCH_CODEC_FILL_H
#define LOMARI_BENCH_CODEC_FILL_H

#include "codec_shapes.h"
#include "lomari/lomari.h"

namespace lbench {

inline void FillTarnok(qel_handle_t *h, uint32_t db, vep_tarnok_body *o, uint32_t n, uint32_t *err) {
    using V = TarnokValues;
    vep_tarnok_body_slot_number_set_value(h, db, o, V::kSlot, err);
    vep_tarnok_body_bay_number_set_value(h, db, o, V::kBay, err);
    vep_tarnok_body_vep_type_set_value(h, db, o, V::kVepType, err);
    vep_tarnok_body_scheme_set_value(h, db, o, V::kScheme, err);
    for (uint32_t i = 0; i < n; ++i) {
        spi4_mapping *m = spi4_mapping_create(h, db);
        spi4_mapping_portnum_set_value(h, db, m, V::Port(i), err);
        spi4_mapping_header_id_set_value(h, db, m, V::HeaderId(i), err);
        spi4_mapping_pri_set_value(h, db, m, V::Pri(i), err);
        vep_tarnok_body_spi4_id_mappings_set_last(h, db, o, m, err);
    }
}

inline void FillShim(qel_handle_t *h, uint32_t db, if_shim_body *o, uint32_t *err) {
    using V = ShimValues;
    if_shim_body_kalvi_id_set_value(h, db, o, V::kKalvi, err);
    if_shim_body_slot_set_value(h, db, o, V::kSlot, err);
    if_shim_body_bay_set_value(h, db, o, V::kBay, err);
    if_shim_body_port_set_value(h, db, o, V::kPort, err);
    if_shim_body_vc_set_value(h, db, o, V::kVc, err);
    if_shim_body_flow_control_set_value(h, db, o, V::kFlow, err);
    if_shim_body_connection_id_set_value(h, db, o, V::kConnection, err);
}

}  // namespace lbench

#endif
