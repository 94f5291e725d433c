"""Trace points of the lomari domain.

Three trace tables: 0 for the messages (33 points each), 1 for the
structured types (58 points each) followed by the enumerations (29 points
each) and the domain-wide points, 2 for the tables.  A point is
(key, level, text); "{t}" in a text stands for the owning type's name and
"{m}" for a message's name without "_message".  A key of None keeps a place
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

# Table 2 (tables) is filled in with the table family.
TABLE_POINTS = []
