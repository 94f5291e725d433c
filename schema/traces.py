"""Trace points of the lomari domain.

Three trace tables: 0 for the messages (33 points each), 1 for the
structured types (58 points each) followed by the enumerations (29 points
each) and the domain-wide points, 2 for the tables (71 points each).  A
point is (key, level, text); "{t}" in a text stands for the owning type's
or table's name, "{m}" for a message's name without "_message", and in a
table's block "{k}" and "{k2}" for the labels of its first and second index
("<keytype> <field>"; a table with one index repeats the first), and "{f}" and
"{f2}" for the type names of its first and second record field (a table with
one field repeats the first).  A key of None keeps a place
that nothing emits.  Appending to a block is safe; reordering changes the
point indices that decoders rely on.
"""

FATAL, ERROR, NOTICE, DEBUG = 0x0, 0x3000000, 0x6000000, 0x7000000

TYPE_BLOCK = 58
ENUM_BLOCK = 29
MESSAGE_BLOCK = 33

TYPE_POINTS = [
    ("create_err", ERROR, "error in {t} create: %s"),
    ("varinfo_null", FATAL, "varinfo is NULL"),
    ("variant_count", NOTICE, "variant %u requested only %u variants present"),
    ("corrupted", FATAL, "Corrupted QEL Handle"),
    ("tinfo_bad", FATAL, "tinfo is null or corrupted"),
    ("quarl", FATAL, "quarl internal error"),
    ("nested_no_base", ERROR,
     "sttr_base can not be NULL in NESTED case. Please check the parent object "
     "and provide the correct state tracking base pointer"),
    ("oid_fail", ERROR,
     "{t} destroy: Failed to remove oid mapping for object. Error %s"),
    ("oid_refs", NOTICE,
     "{t} destroy: Object has references and will be cleaned up when all of "
     "them are released"),
    ("oid_ok", DEBUG, "{t} destroy: Successfully removed OID mapping"),
    ("embed_invalid", ERROR, "Invalid object pointer passed in to set instance flag"),
    ("oid_count_err", DEBUG, "Error already present in call to get object oid count"),
    ("oid_count_invalid", ERROR, "Invalid object passed in to get object oid count"),
    ("refs_err", DEBUG, "Error present in call to get table references from object"),
    ("refs_invalid", ERROR, "Cannot get table references. Invalid object passed on"),
    ("not_tracked", ERROR, "The object is not state tracked"),
    ("non_tracked", ERROR, "The object is non state tracked"),
    ("val_not_tracked", ERROR, "The val object is not state tracked"),
    ("list_get_flag", ERROR, "invalid list get flag %d"),
    ("list_add_flag", ERROR, "invalid list add flag %d"),
    ("realloc", ERROR, "Reallocating resource for {t}"),
    ("mismatch", FATAL, "QEL handle and object state tracking mis-match"),
    ("list_elem_err", ERROR, "Error %s while unmarshalling list element"),
    ("jump", NOTICE, "offset_jump read_len %d offset_jump_base %d _qel_variant_jump %d"),
]

ENUM_POINTS = [
    ("create_err", ERROR, "error in {t} create %s"),
    ("varinfo_null", FATAL, "varinfo is NULL"),
    ("variant_count", NOTICE, "variant %u requested only %u variants present"),
    ("tinfo_bad", FATAL, "tinfo is null or corrupted"),
    ("embed_invalid", ERROR, "Invalid object handle passed to set embedded flag"),
    ("oid_count_err", DEBUG, "Error already present in call to get object oid count"),
    ("oid_count_invalid", ERROR, "Invalid object passed in to get object oid count"),
    ("refs_err", DEBUG, "Error present in call to get table references from object"),
    ("refs_invalid", ERROR, "Cannot get table references. Invalid object passed on"),
]

# Domain-wide points of table 1, after the enumeration blocks.
DOMAIN_POINTS = [
    ("dump_no_varinfo", ERROR, "type variant cached info is NULL during usage dump"),
]

MESSAGE_POINTS = [
    ("shallow_varinfo_null", FATAL, "varinfo is NULL"),
    ("shallow_variant_count", NOTICE, "variant %u requested only %u variants present"),
    (None, DEBUG, "qel_stats_inc failed %s"),
    ("shallow_corrupted", FATAL, "Corrupted QEL Handle"),
    ("create_varinfo_null", FATAL, "varinfo is NULL"),
    ("create_variant_count", NOTICE, "variant %u requested only %u variants present"),
    (None, DEBUG, "qel_stats_inc failed %s"),
    ("create_corrupted", FATAL, "Corrupted QEL Handle"),
    ("destroy_varinfo_null", FATAL, "varinfo is NULL"),
    ("destroy_variant_count", NOTICE, "variant %u requested only %u variants present"),
    (None, DEBUG, "qel_stats_inc failed %s"),
    ("destroy_tinfo_bad", FATAL, "tinfo is null or corrupted"),
    ("body_get", DEBUG, "Error present when getting value for {b}: %s"),
    ("body_get_detach", DEBUG, "Error present getting detached {b} value for {m}: %s"),
    ("body_set", DEBUG, "Error present when setting value for {b}: %s"),
    ("body_free_and_set", DEBUG, "Error present when freeing and setting value for {b}: %s"),
    ("marshal_err", DEBUG, "Error present in call to message marshal: %s"),
    ("domainfail", ERROR,
     "domainfail: Message %s (%s) is not allowed for the current domain (%s)"),
    ("bundle_invalid", ERROR, "Message %s is not valid for bundle: %s"),
    ("marshal_fail_quiet", DEBUG, "Message %s failed to marshal: %s"),
    ("marshal_fail", ERROR, "Message %s failed to marshal: %s"),
    ("bundle_missing", ERROR, "Message %s instance is not present in bundle %s"),
    ("unmarshal_err", DEBUG, "Error present in call to %s message unmarshal: %s"),
    ("record_err", ERROR, "Error %d in recording {m} message"),
    ("default_handler", NOTICE, "default lomari_{m}_message handler called"),
    ("unmarshal_only_err", DEBUG, "Error present in call to %s unmarshal: %s"),
    (None, DEBUG, "Already passed in error to {m} message record %d"),
    ("record_malloc", FATAL, "QEL record - malloc failed"),
    ("record_no_file", ERROR, "QEL record - NULL file handle for message {m}"),
    ("record_not_recorded", ERROR, "Error %d {m} message not recorded, xml len %d"),
    ("print_err", DEBUG, "Already have error when printing {m}: %s"),
    ("to_xml_err", DEBUG, "Already have error when rendering XML for {m}: %s"),
    ("from_xml_err", DEBUG, "Already have error when rendering {m} to XML: %s"),
]

TABLE_BLOCK = 71

# Table 2: one block per table, in catalogue order.
TABLE_POINTS = [
    # open
    ("open_wlock", FATAL, "Opening table {t} in create mode while not holding a write lock"),
    ("no_table_toc", NOTICE, "Could not find table TOC in DB %s, while opening table {t}"),
    ("toc_open_err", ERROR, "Failed to open TOC for table {t}. Error %s"),
    ("toc_root_fatal", FATAL, "Failed to open toc root for table {t}, database %s"),
    ("toc_root_missing", NOTICE,
     "Could not find TOC root for table {t} DB %s. Lock type: RD_LOCK, Open type: %u"),
    ("tbi_set_fail", ERROR, "Setting tbi root for table {t} failed"),
    ("tbi_reader", ERROR, "reader cannot allocate table {t} ID root"),
    ("toc_find_err", ERROR, "qel database toc find table {t} in error: %s"),
    ("quarl", FATAL, "quarl internal error"),
    ("mapping_fatal", FATAL, "Failed to create mapping for {t} table"),
    ("toc_insert_err", ERROR, "Failed to insert %s table {t} into the TOC"),
    ("varinfo_null", FATAL, "varinfo is NULL"),
    ("variant_count", NOTICE, "variant %u requested only %u variants present"),
    # free and request free
    ("free_toc", ERROR, "Failed to get toc root while freeing table. Error %s"),
    ("free_toc_delete", ERROR, "{t} table free: Failed to delete table entry from TOC. Error: %s"),
    ("free_shared", DEBUG,
     "APPLICATION ERROR! Table {t} in SHARED DB should be freed by requesting table free by "
     "the GC. Please free the table via toc delete or mark the DB as non-shared"),
    ("free_oid_err", ERROR,
     "{t} table free: Failed to request oid mapping destroy for table. Error %s"),
    ("free_oid_ok", DEBUG, "{t} table free: Successfully removed OID mapping for {t}"),
    ("free_on_gc", ERROR, "{t} table free: Table being freed is still on the GC list!"),
    ("free_gc_err", ERROR, "{t} table free: Failed to remove table from the GC list. Error: %s"),
    ("rfree_not_shared", ERROR,
     "APPLICATION ERROR! QEl_REQUEST_TABLE_FREE should only be used for SHARED databases"),
    ("rfree_toc", ERROR, "Failed to get TOC root while freeing table. Error %s"),
    ("rfree_toc_delete", ERROR, "Failed to perform toc delete for table {t}. Error %s"),
    ("rfree_destroy", ERROR, "Failed to destroy {t} table, Error %s"),
    # records
    ("rec_varinfo_null", FATAL, "varinfo is NULL"),
    ("rec_variant_count", NOTICE, "variant %u requested only %u variants present"),
    ("rec_tinfo_bad", FATAL, "tinfo is null or corrupted"),
    ("rec_delete_err", ERROR, "Error %d deleting {t} record when destroying"),
    ("rec_oid_fail", ERROR, "{t} destroy: Failed to remove oid mapping for object. Error %s"),
    ("rec_deref", ERROR, "{t} destroy: Failed to dereference location: %s"),
    ("rec_request", ERROR, "{t} request destroy record failed"),
    # insert and delete
    ("ins_exists", ERROR, "{t} insert record exists for {k}"),
    ("ins_exists2", ERROR, "{t} insert record exists for {k2}"),
    ("del_repl", ERROR,
     "{t}_delete() cannot be direclty used when the table is marked for replication"),
    ("del_missing", ERROR, "{t} delete, record not found for {k}"),
    ("del_missing2", ERROR, "{t} delete, record not found for {k2}"),
    ("del_count0", ERROR, "{t} delete: record count already 0!"),
    # lookup
    ("get_flag", ERROR, "invalid record get flag %d"),
    ("walk_key", ERROR, "unknow key:%d"),
    # record encodings and renderings
    ("rio_marshal_err", DEBUG, "Error present in call to table marshal: %s"),
    ("rio_domainfail", ERROR, "domainfail: Table %s (%s) is not allowed for the current domain (%s)"),
    ("rio_field_empty", ERROR, "Failed to marshal {t} record: Field {f} is empty"),
    ("rio_field_empty2", ERROR, "Failed to marshal {t} record: Field {f2} is empty"),
    ("rio_unmarshal_err", DEBUG, "Error present in call to %s unmarshal: %s"),
    ("rio_pkey_unmarshal_err", DEBUG, "Error present in call to %s pkey unmarshal: %s"),
    # record callbacks, in event order: create, modify, delete, create DM, delete DM, grouping, free
    ("cb_create", NOTICE, "default lomari_{t}_record create handler called"),
    ("cb_modify", NOTICE, "default lomari_{t}_record modify handler called"),
    ("cb_delete", NOTICE, "default lomari_{t}_record delete handler called"),
    ("cb_create_dm", NOTICE, "default lomari_{t}_record create DM handler called"),
    ("cb_delete_dm", NOTICE, "default lomari_{t}_record delete DM handler called"),
    ("cb_grouping", 0x8000000, "default lomari_{t}_record grouping handler called"),
    ("cb_free", NOTICE, "default lomari_{t}_record free handler called"),
    # record field access
    ("set_field_refused", ERROR,
     "Object is either nested or already embedded. Cannot set such objects into the record"),
    ("free_set_field_refused", ERROR,
     "Object is either nested or already embedded in a record. Cannot set such objects into the record"),
]
