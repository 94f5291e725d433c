"""The lomari domain, described once.

Every generated artefact of the library -- the public C layouts, the
descriptor tables the C++ engine walks, the exported entry points, the type
manifest and the trace texts -- is derived from the data in this file by
generate.py.  Field order here is the order of accessors, of the binary
encoding, of the renderings, of comparison and of hashing.

Field kinds:
  u8, u16, u32       unsigned scalars
  enum:<name>        an embedded 16-byte enumeration instance
  str                a 32-byte fixed string (31 characters and a NUL)
  list:<elem>        an ordered list of separately allocated <elem> instances
  pair_count         the u32 element count of the counted array that follows
  array:<elem>       a counted array of <elem> instances in one block
"""

DOMAIN = "lomari"

ENUMS = [
    ("spi4_priority", ["SPI4_PRI_NONE", "SPI4_PRI_LO", "SPI4_PRI_HI"]),
    ("orv_flowctrl", ["ORV_FLOWCTRL_NONE", "ORV_FLOWCTRL_SPI4_FIFO",
                      "ORV_FLOWCTRL_EFC", "ORV_FLOWCTRL_EBFC"]),
    ("if_flow_request", ["REQ_IF_NONE", "REQ_IF_RECON_ONLY", "REQ_IF_ALL_IDS"]),
    ("reconcile_flag", ["RECON_NONE", "RECON_NEW", "RECON_KEEP", "RECON_CLEAR"]),
]

# Structured types in type-list order.  Optional "tail" is the number of
# reserved bytes after the last member (8 unless stated).
TYPES = [
    ("spi4_mapping", [("portnum", "u32"), ("header_id", "u32"),
                      ("pri", "enum:spi4_priority")]),
    ("vep_tarnok_body", [("slot_number", "u32"), ("bay_number", "u32"),
                         ("vep_type", "u32"), ("scheme", "u8"),
                         ("spi4_id_mappings", "list:spi4_mapping")]),
    ("which_vep", [("slot", "u32"), ("bay", "u32")]),
    ("which_fp", [("slot", "u32"), ("bay", "u32"),
                  ("how_much", "enum:if_flow_request")]),
    ("if_shim_body", [("kalvi_id", "u32"), ("slot", "u32"), ("bay", "u32"),
                      ("port", "u32"), ("vc", "u32"),
                      ("flow_control", "enum:orv_flowctrl"),
                      ("connection_id", "u16")]),
    ("im_if_fctrl_body", [("slot", "u32"), ("bay", "u32"), ("port", "u32"),
                          ("kalvi_id", "u32"), ("vc", "u32"),
                          ("flow_control_id", "u32"),
                          ("flow_control", "enum:orv_flowctrl"),
                          ("connection_id", "u16")]),
    ("vep_flowid_mapping", [("portnum", "u32"), ("flow_id", "u32")]),
    ("im_vep_fctrl_body", [("slot_number", "u32"), ("bay_number", "u32"),
                           ("flow_control", "enum:orv_flowctrl"),
                           ("vep_type", "u32"), ("scheme", "u8"),
                           ("vep_flowid_mappings", "list:vep_flowid_mapping")],
     {"tail": 16}),
    ("tarnok_rec_fields", [("dbkey", "str"),
                           ("recon_bits", "enum:reconcile_flag")]),
    ("flow_if_rec_fields", [("recon_bits", "enum:reconcile_flag")]),
    ("flow_vep_rec_fields", [("dbkey", "str"),
                             ("recon_bits", "enum:reconcile_flag")]),
    ("cc_pair", [("lower_bits", "u8"), ("leased", "u8")]),
    ("cc_ids", [("cc_slot", "u32"), ("pair_count", "pair_count"),
                ("pairs", "array:cc_pair")]),
    ("aps_pair", [("id_bits", "u8"), ("leased", "u8"), ("cc_slot", "u32")]),
    ("aps_control_data", [("my_row_id", "u32"), ("pair_count", "pair_count"),
                          ("pairs", "array:aps_pair")]),
    ("flow_pair", [("flow_id", "u16"), ("leased", "u8")]),
    ("flow_id_pool", [("my_range_id", "u32"), ("egress_count", "u32"),
                      ("pair_count", "pair_count"),
                      ("pairs", "array:flow_pair")]),
]

# Messages in ordinal order: (name without "_message", body type, body tag).
MESSAGES = [
    ("vep_tarnok_headers", "vep_tarnok_body", 0x802C2C00),
    ("vep_tarnok_ready", "which_vep", 0x802C2C01),
    ("fp_tarnok_ready", "which_fp", 0x802C2C02),
    ("fp_if_flowid_ready", "which_fp", 0x802C2C03),
    ("vep_tarnok_remove", "which_vep", 0x802C2C04),
    ("if_shim_connection_id", "if_shim_body", 0x802C2C05),
    ("im_if_fctrl", "im_if_fctrl_body", 0x802C2C06),
    ("im_if_fctrl_remove", "im_if_fctrl_body", 0x802C2C07),
    ("im_vep_fctrl", "im_vep_fctrl_body", 0x802C2C08),
]

# Tables in type-list order: (name, record parts).
TABLES = [
    ("tarnok_header_ids", ["tarnok_rec_fields", "vep_tarnok_body"]),
    ("im_if_flow_control", ["flow_if_rec_fields", "im_if_fctrl_body"]),
    ("im_vep_flow_control", ["flow_vep_rec_fields", "im_vep_fctrl_body"]),
    ("non_aps_headers", ["cc_ids"]),
    ("global_aps_headers", ["aps_control_data"]),
    ("global_flow_control", ["flow_id_pool"]),
]

# Indexes of each table, primary first: (key-owning type, key field).  An
# empty field name orders by the whole key object; the primary index's type
# is the table's key (pkey) type.
TABLE_INDEXES = {
    "tarnok_header_ids": [("tarnok_rec_fields", "dbkey")],
    "im_if_flow_control": [("im_if_fctrl_body", "kalvi_id"), ("im_if_fctrl_body", "")],
    "im_vep_flow_control": [("flow_vep_rec_fields", "dbkey")],
    "non_aps_headers": [("cc_ids", "cc_slot")],
    "global_aps_headers": [("aps_control_data", "my_row_id")],
    "global_flow_control": [("flow_id_pool", "my_range_id")],
}

# Memory-accounting call-site tags of the tables run on from this one, per
# table: one per record field, then pkey_create, then the key decoder.
TABLE_TAG_BASE = 0x802E0C00

# Frozen 128-bit identifiers: (type identifier, second manifest value).
# Generated once; never change them, they are part of the wire contract.
LUIDS = {
    "spi4_mapping": ("c635d6ea864e43835b7710bc8b2f2103", "f94dacfa53a1dbdc7b1866542f8c7b61"),
    "vep_tarnok_body": ("14f2155c64d1c09821073baed2122acb", "23968619a8dfe9c405bd2d0df0587e3a"),
    "which_vep": ("34d013075f2ec06e75bb41acf5cc7a8a", "ecdadaafc20be4e4bed6f258b1271f90"),
    "which_fp": ("8674d91bf88780c89427eb6f8536be1a", "f5ef25452fdb8ad4d057cc9c03b8637b"),
    "if_shim_body": ("209adaaf81cac6a9973373c1c1a2d30f", "d655de5ee286d82f14d94fa01eda1969"),
    "im_if_fctrl_body": ("2a1219ebf25fa3556b8ea71520b2c6c9", "b2c903559038854012a44a62c6379b26"),
    "vep_flowid_mapping": ("ad866e9d3a07112379d6802c7647feb3", "583c238446a84eb4bb574effac0b0210"),
    "im_vep_fctrl_body": ("213b43b8932a54dba6148214f5d9831f", "f620aecb4ad188c8a1edc3863a479ccc"),
    "tarnok_rec_fields": ("5d633d193b62c52c81b5156f20515e40", "cb9da979a2cc986ab7d53a68db9ead21"),
    "flow_if_rec_fields": ("f036b4f5081fb9821dfc1d37d4086325", "7f9ac9cc2b98295d0c42269aa0cbaf67"),
    "flow_vep_rec_fields": ("6088d596fd7ddb4fca75fc40195e1637", "646929e32b3f256ff563d8420fec2680"),
    "cc_pair": ("4d9f615747bf3b38c0ee827c6acad7fb", "89034949b670bcedb8f5f8c1c70ba28d"),
    "cc_ids": ("6e4e3b47bc14a7a305a426ad5b63083a", "77c07af34ac18fdf494f3c26868f645f"),
    "aps_pair": ("ff445fb25c0c84c8a484b96e7aa5cb88", "6e8f1f6dc55db8777bc4086f95a80082"),
    "aps_control_data": ("c0607c9c38e07c48e54484edf86450e2", "5b18180826b5ab48f96fe785fa19e894"),
    "flow_pair": ("d47fd8a9fb89d39eafcb1b1af4e85e33", "40bdc383ee13a0f38dbcb7ecf73450ee"),
    "flow_id_pool": ("72893b0ed5b25e9d6415a86fba35c20b", "4a687034f0dad553747997bf85a6f31a"),
    "spi4_priority": ("670951a0740c70ff49f2e92be1909309", "df775a4fd36ed53664d8e2fff8e56207"),
    "orv_flowctrl": ("06b6d90feaa460e3c98c9b8331d0ebb9", "75a582afe5718fc52751b6a9d1fd0ad3"),
    "if_flow_request": ("954d464e6cbdf7ff8c90884b94203fa1", "3f497b65d2aba3fdf5ad4580e4a311dd"),
    "reconcile_flag": ("d9f1ac443b877f74eb1eb5c8936481bf", "4e5c35b30a7cf26c1994a941a084364f"),
    "tarnok_header_ids": ("9d7b5ec80e3154bd4a3b37808c033834", "b4c90ead2d07cb1c2586f20ebc1d9e2e"),
    "tarnok_header_ids_record": ("9e4aa93b8dbaa9a18171d0ff5e4c483a", "8ae16e5c680020d093395c27b9aabb67"),
    "im_if_flow_control": ("313847f469229b4ef6adad418c6f3aed", "17ab73a472e56abf93cf8d51c702a995"),
    "im_if_flow_control_record": ("be0c357f70de4b947f99d213b6afa8c9", "95d0c4f4ec3cd5c8b535dfdd3155bd0d"),
    "im_vep_flow_control": ("ab9b23b7b6ae461c5467fc03a888baa2", "dce8f257082179f414744cb7cf1dca33"),
    "im_vep_flow_control_record": ("cbb53eaed717df5aef2dc72e2ed5f35e", "e637102e6155148fbdce1d3c07577cce"),
    "non_aps_headers": ("84d00269de5a3e8b3c172f38242784b0", "5ad39748d19b1514e2b07e7c068967ba"),
    "non_aps_headers_record": ("2c06098a1251b8428118b41ae36c05e0", "bc282e29665879c1291a892b98cbf22a"),
    "global_aps_headers": ("9604c022dab0e4b25edcdf802790b437", "dd2bb4e48467e48344b2e4fe651b5c01"),
    "global_aps_headers_record": ("0e84d87b52926b198085a03f4f671947", "965235c082b93c0d3747296aeb7bd80c"),
    "global_flow_control": ("5890dcbd3056ea352258bc1641fcac42", "5d5f6a7e432bd381cd8a507c876d94ef"),
    "global_flow_control_record": ("95c334abe74e2e6047645b7ffcbf2a01", "8f089ddecdf54d228ab237d20aad0143"),
    "vep_tarnok_headers": ("4cf8313126493b68ae90c09c8b082722", "8b8614994fe6a193047064636fa23be2"),
    "vep_tarnok_ready": ("710ba64d38557b70e520665e64eecdae", "7985cf14e3819fb7e02fe2a609d4c4a4"),
    "fp_tarnok_ready": ("af76bd88abc03028c0f4ca5c8534ed1b", "34398a92c3f1a79318eb4000e322c664"),
    "fp_if_flowid_ready": ("1635ef7853e6163e881cbc97dfcb5666", "c5254b03a029b65e4f1c5ee9fa2e4e70"),
    "vep_tarnok_remove": ("2bf32697fc3180a07f32166825bda3e1", "7213e2ba6414c18d22872897cee96a2e"),
    "if_shim_connection_id": ("6dcae4f4b0cfd434018a22a0695ab89a", "91b31c7e147f3616ec4d8f434d387bb3"),
    "im_if_fctrl": ("1553ed055cb1cb4d81c86439f68a8293", "74815da0ec6493e5b97e23ccf5d61278"),
    "im_if_fctrl_remove": ("969d2d168103235ca649e4cccbe57b3e", "cae94593dbd2f30386e07c1382c01591"),
    "im_vep_fctrl": ("4c537579f46efc8d4ebfee4c09735af2", "bae09b9d70297893d73da29e449f091d"),
    "trace_table_0": ("0fe8660a2cf1363b4e7ba7a6b808d280", "1d8d8e3751e2585c5126b12408ec326c"),
    "trace_table_1": ("b2d3e9aa82451971113f32b30494ba82", "1386bebffe6c2e6e34c59ef94933191a"),
    "trace_table_2": ("145a8fe19340e4af4cc713b4553b177f", "fb66a56fc9c327fad566a17ddb69be81"),
}
