#!/usr/bin/env python3
"""mutants.py -- a mutation check: what faults does the test suite catch?

Each mutant below is one small, deliberate fault: an exact piece of source
text and what replaces it.  The script copies the tracked (and untracked,
not ignored) files of this checkout to a scratch directory, builds it once,
runs the suite on the unchanged copy (it must pass), then for every mutant:
patches the scratch copy, rebuilds incrementally (Ninja; ccache when it is
installed), runs the whole suite, and restores the file.  A mutant is
killed when any test program fails, crashes or runs past its time limit;
it survives when the whole suite passes.  A mutant whose text is not found
exactly once is stale: the run refuses to start, naming it.  A mutant that
does not build is an error in this list, reported apart from the score.

The suite is what ctest runs in the plain build: every GoogleTest program
(run once each, all its cases, as ctest would run them one by one), the
loader, app-handler and tool tests, the examples, the fuzz corpus replays,
and the public-header check (built with the rest).  The list of programs
is taken from ctest itself, so tests added later are run too.

Usage:
    scripts/mutants.py                    # every mutant, plain build
    scripts/mutants.py --list             # the mutants, by family
    scripts/mutants.py --only ID[,ID...]  # some of them
    scripts/mutants.py --check            # also compare with the recorded run
Options: --jobs N (build, default 2), --keep (keep the scratch directory),
--sanitize (AddressSanitizer + UndefinedBehaviorSanitizer Debug build, as
CI's second build), --fail-fast (stop a mutant's suite at its first
failure), --json FILE (results), --scratch DIR, --timeout SECONDS.

The recorded score (RECORDED below) is of the plain build
(RelWithDebInfo), without --fail-fast: 114 killed of 125 (91.2%), with
the 11 survivors listed there and why the suite misses each.  After a
change to the tests, a full run with --check must kill at least as many
and leave no survivor that is not recorded.

Run time, measured on the two shared cores (load 2 to 7): a full plain run
takes 4 to 9 minutes once the scratch directory (--keep) and ccache are
warm (about 1 s to rebuild and 2 s to run the suite per mutant; three
runs gave the same result for every mutant); a first run adds one full
build, about 7 minutes.  With --sanitize the suite takes
about 27 s per mutant: about an hour, plus 7 minutes for the first build.
CI already takes about 8 minutes of its 25: a cold full run would leave it
no margin, so the check is run by hand, before and after a change to the
tests:

    scripts/mutants.py --keep --check

The loop runs at nice 10; the tests' temporary files go to the scratch
directory, so that runs in other checkouts do not collide with it.
"""

# ---------------------------------------------------------------------------
# The mutants: (id, file, what the fault is, original text, replacement).
# The id's prefix before the dot is the family.  Originals are short and on
# core logic lines, so that they rarely go stale; each must occur exactly
# once in its file.
# ---------------------------------------------------------------------------

MUTANTS = [
    # ---- frame and registry -------------------------------------------------
    ("frame.plain-count-not-raised", "src/frame/frame.cpp",
     "a per-handle type-info copy (counter mode 1) is never counted",
     "        ++*counter;", "        (void)counter;"),
    ("frame.link-dirty-not-reported", "src/frame/frame.cpp",
     "a registered link write is not reported dirty to the platform database",
     "    if (plat_reports(h, db)) qeldb_plat_set_dirty(h, db, dirty_obj);\n", ""),
    ("registry.module-count-not-raised", "src/frame/registry.cpp",
     "linking the module descriptor does not count it",
     "    l.count += 1;", ""),
    ("registry.bundle-handler-not-stored", "src/frame/registry.cpp",
     "registering a bundle handler keeps the old one",
     "    lomari_bundle_registered_handler = handler;", ""),
    ("registry.copy-shares-variant-records", "src/frame/registry.cpp",
     "a registered type-info copy keeps the static variant records",
     "        if (t->varinfo) qel_update_variant_info(h, db, copy, t, 1);", ""),
    ("registry.no-memory-unreported", "src/frame/registry.cpp",
     "a failed type-info copy allocation is not reported",
     "            report(h, err, LOMARI_ERR_NO_MEMORY);\n            return;",
     "            return;"),

    # ---- enumerations -----------------------------------------------------------
    ("enums.set-bound-off-by-one", "src/types/enums.cpp",
     "a value equal to the bound is accepted on variant 0",
     "if (value >= E.bound && qel_get_instance_variant", "if (value > E.bound && qel_get_instance_variant"),
    ("enums.destroy-not-counted", "src/types/enums.cpp",
     "destroying an enumeration does not count it destroyed",
     "    count_object(h, db, o->tinfo, o->variant, false, kTrace1,",
     "    if (0) count_object(h, db, o->tinfo, o->variant, false, kTrace1,"),
    ("enums.is-valid-off-by-one", "src/types/enums.cpp",
     "is_valid_cr accepts the bound itself",
     "return v < static_cast<int32_t>(E.bound) ? 1 : 0;", "return v <= static_cast<int32_t>(E.bound) ? 1 : 0;"),

    # ---- lifecycle ------------------------------------------------------------
    ("lifecycle.size-ignores-tracking", "src/types/lifecycle.cpp",
     "a tracking handle allocates the plain size (no room for state bytes)",
     "== Mode::Track ? T.tracked_size : T.plain_size;\n}", "== Mode::Track ? T.plain_size : T.plain_size;\n}"),
    ("lifecycle.tracked-flag-not-set", "src/types/lifecycle.cpp",
     "an instance initialised without announcements never gets the tracked flag",
     "        else\n            o->flags |= QEL_OF_TRACKED;", "        else\n            (void)0;"),
    ("lifecycle.destroy-not-counted", "src/types/lifecycle.cpp",
     "destroying an instance does not count it destroyed",
     "    qellib_type_stats_destroy_object(h, db, ti, variant_record(ti, o->variant), &e);", ""),
    ("lifecycle.block-element-not-nested", "src/types/lifecycle.cpp",
     "elements of a new block (common path) are not flagged nested",
     "            o->flags |= QEL_OF_NESTED;\n", ""),
    ("lifecycle.failed-create-leaks", "src/types/lifecycle.cpp",
     "a creation whose initialisation fails does not release its storage",
     "        h->free_fn(h->alloc_ctx, db, o);\n        return nullptr;", "        return nullptr;"),
    ("lifecycle.first-enum-not-initialised", "src/types/lifecycle.cpp",
     "the first embedded enumeration field is skipped at initialisation",
     "for (unsigned i = 0; i < p.n_enums; ++i)", "for (unsigned i = 1; i < p.n_enums; ++i)"),

    # ---- fields and state bytes ---------------------------------------------------
    ("fields.state-byte-not-written", "src/types/fields.cpp",
     "a setter leaves the field's state byte as it was",
     "    store(h, db, o, state_area(T, h, o) + f.state_idx, kStateWritten);", ""),
    ("fields.str-32-accepted", "src/types/fields.cpp",
     "a fixed string of 32 characters is accepted",
     "if (len >= kStrCap || (!s && len)) {", "if (len > kStrCap || (!s && len)) {"),
    ("fields.str-get-31-byte-buffer", "src/types/fields.cpp",
     "a 31-byte buffer is taken as big enough for a fixed string",
     "    if (size < kStrCap) {", "    if (size < kStrCap - 1) {"),
    ("fields.get-all-u16-as-u32", "src/types/fields.cpp",
     "get_all writes a 16-bit field's result 32 bits wide",
     "        case Kind::U16: *static_cast<uint16_t *>(out) = static_cast<uint16_t>(v); break;\n", ""),
    ("fields.set-drops-nested-flag", "src/types/fields.cpp",
     "a whole-object set into an array slot takes the source's nested flag",
     "const uint8_t keep = QEL_OF_NESTED | (h->check_record", "const uint8_t keep = (h->check_record"),
    ("fields.set-all-state-last-element", "src/types/fields.cpp",
     "resetting all state bytes skips the last per-element byte",
     "        std::memset(per, b, count);", "        std::memset(per, b, count - 1);"),
    ("fields.is-valid-off-by-one", "src/types/fields.cpp",
     "is_valid_cr accepts the member bound itself",
     "return member < T.member_bound ? 1 : 0;", "return member <= T.member_bound ? 1 : 0;"),

    # ---- ordered lists --------------------------------------------------------------
    ("lists.count-not-lowered", "src/types/lists.cpp",
     "removing an element does not lower the list's count",
     "    store<uint32_t>(h, db, o, &a->count, a->count - 1);\n", ""),
    ("lists.removed-keeps-anchor", "src/types/lists.cpp",
     "a removed element still names the anchor (cannot be inserted again)",
     "    store<void *>(h, db, el, &l->anchor, nullptr);\n    if (h->containment_tracking) {",
     "    if (h->containment_tracking) {"),
    ("lists.prev-next-swapped", "src/types/lists.cpp",
     "get_prev answers the next element and get_next the previous one",
     "el = pos == ListPos::Before ? l->prev : l->next;", "el = pos == ListPos::Before ? l->next : l->prev;"),
    ("lists.get-flag-off-by-one", "src/types/lists.cpp",
     "get_cr accepts the first position flag past the last",
     "    if (flag >= kListPosCount) {\n        trace_u(kTrace1, tpi(Owner, tp::type::list_get_flag)",
     "    if (flag > kListPosCount) {\n        trace_u(kTrace1, tpi(Owner, tp::type::list_get_flag)"),
    ("lists.add-flag-trace-skipped", "src/types/lists.cpp",
     "a refused add_cr flag leaves no trace point",
     "        trace_u(kTrace1, tpi(Owner, tp::type::list_add_flag), flag);\n", ""),
    ("lists.emptied-count-kept", "src/types/lists.cpp",
     "emptying a list leaves its count as it was",
     "    store<uint32_t>(h, db, o, &a->count, 0);\n", ""),

    # ---- counted arrays ----------------------------------------------------------------
    ("arrays.get-off-by-one", "src/types/arrays.cpp",
     "array_get accepts the index equal to the count",
     "if (!blk || idx >= *count_of(Owner, o)) {", "if (!blk || idx > *count_of(Owner, o)) {"),
    ("arrays.element-state-not-written", "src/types/arrays.cpp",
     "array_set leaves the element's own state byte as it was",
     "        store<uint8_t>(h, db, o, per_elem_get(sa) + idx, kStateWritten);\n", ""),
    ("arrays.grow-drops-last-element", "src/types/arrays.cpp",
     "growing a block copies one element too few",
     "std::memcpy(blk, old, size_t{oldn} * esz);", "std::memcpy(blk, old, size_t{oldn - 1} * esz);"),
    ("arrays.remove-count-kept", "src/types/arrays.cpp",
     "remove_elements releases the block but keeps the count",
     "    store(h, db, o, blockp, static_cast<uint8_t *>(nullptr));\n    store(h, db, o, countp, uint32_t{0});",
     "    store(h, db, o, blockp, static_cast<uint8_t *>(nullptr));"),
    ("arrays.state-arr-shorter-accepted", "src/types/arrays.cpp",
     "state_flag_set_arr accepts fewer bytes than elements",
     "if (len != *count_of(Owner, o)) {", "if (len > *count_of(Owner, o)) {"),
    ("arrays.inside-value-not-moved", "src/types/arrays.cpp",
     "a value taken from the block being grown is read from the freed block",
     "        if (inside) val = *block_of(Owner, o) + (v - b);\n", ""),

    # ---- clone -------------------------------------------------------------------------
    ("clone.null-object-written", "src/types/clone.cpp",
     "cloning into the shared null object is not refused",
     "if (*dst == T.null_obj) {", "if (false && *dst == T.null_obj) {"),
    ("clone.failed-copy-leaks", "src/types/clone.cpp",
     "a failed clone into a free-standing destination does not release it",
     "if (created || !(hdr(o)->flags & QEL_OF_NESTED)) obj_destroy", "if (created) obj_destroy"),
    ("clone.variant-checked", "src/types/clone.cpp",
     "a clone encodes its source with the variant check",
     "obj_marshal(T, h, db, buf, src, buf_len, err, false);", "obj_marshal(T, h, db, buf, src, buf_len, err, true);"),

    # ---- compare and hash ----------------------------------------------------------------
    ("compare.str-over-32", "src/types/compare.cpp",
     "fixed strings are compared and hashed over 32 characters instead of 31",
     "inline constexpr uint32_t kStrBytes = 31;", "inline constexpr uint32_t kStrBytes = 32;"),
    ("compare.list-length-ignored", "src/types/compare.cpp",
     "lists are compared element by element without their counts first",
     "    if (int32_t r = ucmp(la->count, lb->count)) return r;\n", ""),
    ("compare.array-last-element-ignored", "src/types/compare.cpp",
     "the last array element is not compared",
     "for (uint32_t i = 0; i < n; ++i)", "for (uint32_t i = 0; i + 1 < n; ++i)"),
    ("compare.enum-order-reversed", "src/types/compare.cpp",
     "enumeration fields order in reverse",
     "r = static_cast<int32_t>(enum_value(at(a, f.offset)) - enum_value(at(b, f.offset)));",
     "r = static_cast<int32_t>(enum_value(at(b, f.offset)) - enum_value(at(a, f.offset)));"),
    ("compare.hash-skips-last-array-element", "src/types/compare.cpp",
     "the last array element is not hashed",
     "for (uint32_t k = 0; k < *count; ++k)", "for (uint32_t k = 0; k + 1 < *count; ++k)"),
    ("compare.table-key-over-32", "src/tables/table.h",
     "a table's string key orders over 32 characters instead of 31",
     "reinterpret_cast<const char *>(b + KeyOff), 31);", "reinterpret_cast<const char *>(b + KeyOff), 32);"),

    # ---- binary codec: writer, reader, walk ---------------------------------------------------
    ("codec.writer-jump-off-by-one", "src/codec/writer.cpp",
     "the variant jump announces one byte more than the body holds",
     "qel_wire_put32(jump, uint32_t(p - jump));", "qel_wire_put32(jump, uint32_t(p - jump) + 1);"),
    ("codec.writer-state-byte-dropped", "src/codec/writer.cpp",
     "the general walk sends no state byte after a field",
     "        if (sb) state_byte<C>(sb, f->state_idx, p);\n", ""),
    ("codec.writer-list-state-room", "src/codec/writer.cpp",
     "the list's state byte is written with one byte of room left",
     "if (sb && room(p) >= 2) *p++", "if (sb && room(p) >= 1) *p++"),
    ("codec.measure-no-element-state", "src/codec/writer.cpp",
     "the length of a tracked array owner leaves out the per-element state bytes",
     "+ (track ? 1 : 0);", ";"),
    ("codec.writer-per-element-zeroed", "src/codec/writer.cpp",
     "the per-element state bytes are sent as zeros",
     "    if (per)\n        std::memcpy(p, per, n);", "    if (false)\n        std::memcpy(p, per, n);"),
    ("codec.writer-unchecked-one-short", "src/codec/writer.cpp",
     "the unchecked walk runs with one byte less room than the body needs",
     "room(p) >= own_bound(T, track) + ra && elements_last(T)",
     "room(p) + 1 >= own_bound(T, track) + ra && elements_last(T)"),
    ("codec.reader-list-count-unchecked", "src/codec/reader.cpp",
     "a list count the remaining bytes cannot hold is not refused up front",
     "    if (!get<C>(&count, p, end)) return p;\n    if (count > uint32_t(end - p) / kMinBody) {",
     "    if (!get<C>(&count, p, end)) return p;\n    if (false) {"),
    ("codec.reader-jump-past-end", "src/codec/reader.cpp",
     "a variant jump one byte past the end is accepted",
     "jump > uint32_t(end - base), 0)) {", "jump > uint32_t(end - base) + 1, 0)) {"),
    ("codec.reader-foreign-flags-taken", "src/codec/reader.cpp",
     "every flag bit of the wire is taken over, not only 0x08 and 0x20",
     "    flags &= kWireFlags;\n    const bool wire_state", "    const bool wire_state"),
    ("codec.reader-in-place-longer-list", "src/codec/reader.cpp",
     "an in-place decode keeps a list that is longer than the encoding's",
     "if (in_place && a->count == count) {", "if (in_place && a->count >= count) {"),
    ("codec.reader-element-states-dropped", "src/codec/reader.cpp",
     "the per-element state bytes received are not copied in",
     "        if (sb && per) std::memcpy(per, p, n);\n", ""),
    ("codec.walk-checked-env-ignored", "src/codec/walk.cpp",
     "LOMARI_CODEC_WALK=checked does not select the checked walk",
     "    if (v && std::strcmp(v, \"checked\") == 0) return false;\n", ""),

    # ---- text rendering ------------------------------------------------------------------------
    ("text.enum-bound-off-by-one", "src/codec/text.cpp",
     "an enumeration value equal to the bound is printed as a name",
     "    if (v < E.bound)\n", "    if (v <= E.bound)\n"),
    ("text.members-indent", "src/codec/text.cpp",
     "members are indented one space deeper instead of two",
     "print_members(T, h, db, c, indent + 2, o, err);", "print_members(T, h, db, c, indent + 1, o, err);"),
    ("text.array-index-from-1", "src/codec/text.cpp",
     "array elements are numbered from 1",
     "\"%s[%d]\", f.name, static_cast<int>(k));", "\"%s[%d]\", f.name, static_cast<int>(k + 1));"),

    # ---- XML rendering and parsing -------------------------------------------------------------------
    ("xml.escape-amp-dropped", "runtime/src/text/text_writers.cpp",
     "'&' in a string is written unescaped",
     "    case '&': o.put(\"&amp;\", 5); return;\n", ""),
    ("xml.escape-apos-dropped", "runtime/src/text/text_writers.cpp",
     "an apostrophe in a string is written unescaped",
     "    case '\\'': o.put(\"&apos;\", 6); return;\n", ""),
    ("xml.parsed-field-state-not-written", "src/codec/xml.cpp",
     "a field read from a document keeps its state byte",
     "if (found && sa && f.state_idx != kNoState) store<uint8_t>(h, db, o, sa + f.state_idx, 2);",
     "(void)found;"),
    ("xml.array-parsed-from-index-1", "src/codec/xml.cpp",
     "array elements read from a document are stored one slot later",
     "const uint32_t idx = i == 0 ? n - 1 : i - 1;", "const uint32_t idx = i == 0 ? n : i;"),
    ("xml.enum-stops-at-first-absent", "src/codec/xml.cpp",
     "an enumeration parse gives up at the first enumerator not present",
     "            *err = 0;\n            continue;", "            *err = 0;\n            break;"),
    ("xml.element-state-from-array", "src/codec/xml.cpp",
     "array elements render the array's state byte instead of their own",
     "c.room(), elem_state_byte(T, h, o, k, track), err);", "c.room(), st, err);"),
    ("xml.path-full-buffer-accepted", "src/codec/xml.cpp",
     "a path of exactly 256 characters is looked up truncated",
     "if (nb + 1 + nn + (pos ? nd + 2 : 0) >= kPathMax) {", "if (nb + 1 + nn + (pos ? nd + 2 : 0) > kPathMax) {"),

    # ---- messages: object, marshal, dispatch, recorder -------------------------------------------------
    ("messages.header-word-not-written", "src/messages/message_codec.cpp",
     "marshal leaves the handle's header word out of the message header",
     "        f->header.header_word = h->header_word;\n", ""),
    ("messages.tracking-not-in-header", "src/messages/message_object.cpp",
     "a message made on a tracking handle does not say so in its header",
     "        m->header.state_tracking = 1;\n", ""),
    ("messages.destroy-not-counted", "src/messages/message_object.cpp",
     "destroying a message does not count it destroyed",
     "    count_object(h, db, m->tinfo, m->variant, false, kTrace0,",
     "    if (0) count_object(h, db, m->tinfo, m->variant, false, kTrace0,"),
    ("messages.short-body-accepted", "src/messages/message_codec.cpp",
     "a body that ends before the header's length is accepted",
     "        if (!*err && count != end) report(h, err, LOMARI_ERR_INVALID);\n", ""),
    ("messages.app-handler-ignored", "src/messages/message_codec.cpp",
     "dispatch never reaches the application's handler",
     "} else if (M.app_handler) {", "} else if (false) {"),
    ("messages.default-handler-trace-skipped", "src/messages/message_codec.cpp",
     "a message without a handler leaves no trace point",
     "        trace0(kTrace0, pt(M, tp::msg::default_handler));\n", ""),
    ("messages.recorder-not-called", "src/messages/message_codec.cpp",
     "received messages are never recorded",
     "    if (qellib_msg_recorder_get_state(h)) msg_record(M, h, db, m);\n", ""),
    ("messages.failed-decode-leaks", "src/messages/message_codec.cpp",
     "a message that failed to decode is not released",
     "        msg_destroy(M, h, db, m);\n        return count;", "        return count;"),

    # ---- tables: open and free, records, insert and delete -------------------------------------------------
    ("tables.delete-count-not-lowered", "src/tables/lomari_table.cpp",
     "delete does not lower the table's record count",
     "        store<uint32_t>(h, db, record, &t->record_count, t->record_count - 1);\n", ""),
    ("tables.shadow-counted-as-primary", "src/tables/lomari_table.cpp",
     "insert counts a primary record as a shadow and a shadow not at all",
     "    if (R->source == QELDB_SRC_SHADOW) store<uint32_t>(h, db, record, &t->shadow_count",
     "    if (R->source != QELDB_SRC_SHADOW) store<uint32_t>(h, db, record, &t->shadow_count"),
    ("tables.refused-second-index-kept", "src/tables/lomari_table.cpp",
     "a record the second index refuses stays in the primary index",
     "            e_avl_delete(h->alloc_ctx, db, &ix[0].root, node_of(record, 0), &ix[0].companion, T.index[0].cmp);\n",
     ""),
    ("tables.add-ref-not-raised", "src/tables/lomari_table.cpp",
     "add_ref does not raise the reference count",
     "(R->ref_word + 1) & QELDB_REF_MASK", "R->ref_word & QELDB_REF_MASK"),
    ("tables.name-too-big-off-by-one", "src/tables/lomari_table.cpp",
     "a full table name of 208 characters is cut instead of refused",
     "if (static_cast<unsigned>(n) >= sizeof full) {", "if (static_cast<unsigned>(n) > sizeof full) {"),
    ("tables.pending-count-not-lowered", "src/tables/lomari_table.cpp",
     "deleting a record awaiting destruction does not lower the pending count",
     "                store<uint32_t>(h, db, record, &t->pending_destroy_count, t->pending_destroy_count - 1);\n",
     ""),
    ("tables.pkey-only-flag-not-written", "src/tables/lomari_table.cpp",
     "pkey_insert does not mark the record as in the primary index only",
     "flags = pkey_only ? (flags | QELDB_REC_PKEY_ONLY) : (flags & ~QELDB_REC_PKEY_ONLY);",
     "flags = flags & ~QELDB_REC_PKEY_ONLY;"),
    ("tables.write-lock-not-checked", "src/tables/lomari_table.cpp",
     "creating a table in a shared database does not require the write lock",
     "if (qellib_db_is_shared() && !qellib_database_is_write_locked(h) && create)",
     "if (false && qellib_db_is_shared() && create)"),
    ("tables.free-leaves-id-root-count", "src/tables/lomari_table.cpp",
     "freeing a table opened by id does not lower the id root's table count",
     "        root->table_count -= 1;\n", ""),

    # ---- tables: lookup, walk, count ----------------------------------------------------------------
    ("lookup.shadow-not-filtered", "src/tables/lookup.cpp",
     "a step with source 0 lets shadow records through",
     "    if (f.source == 0 && r->source == QELDB_SRC_SHADOW) return false;\n", ""),
    ("lookup.other-tenant-visible", "src/tables/lookup.cpp",
     "stepping does not stop at another tenant's records",
     "        if (r->tenant_id != tenant) return nullptr;\n", ""),
    ("lookup.last-skips-own-tenant", "src/tables/lookup.cpp",
     "get_last passes over the caller's own tenant",
     "last ? r->tenant_id <= tenant : r->tenant_id >= tenant;", "last ? r->tenant_id < tenant : r->tenant_id >= tenant;"),
    ("lookup.count-by-src-any-source", "src/tables/lookup.cpp",
     "without tenancy, the count by source answers the shadow count for any source",
     "(source == QELDB_SRC_SHADOW ? t->shadow_count : 0)", "t->shadow_count"),
    ("lookup.walk-stop-ignored", "runtime/src/db/avl.cpp",
     "a walk callback's non-zero answer does not stop the walk",
     "        if (visit && visit(t, ctx, a1, a2, a3))\n            break;",
     "        if (visit && visit(t, ctx, a1, a2, a3))\n            (void)0;"),

    # ---- tables: record encodings, record events, field access ------------------------------------------
    ("records.header-word-not-written", "src/tables/record_io.cpp",
     "a record's header leaves out the handle's header word",
     "        hd.header_word = h->header_word;\n", ""),
    ("records.state-flag-not-written", "src/tables/record_io.cpp",
     "a record's header never says its fields carry state bytes",
     "hd.state_tracking = qellib_type_header_get_state_tracking_flag(buf + kFrameLen, off - kFrameLen);",
     "hd.state_tracking = 0;"),
    ("records.short-fields-accepted", "src/tables/record_io.cpp",
     "record fields that end before the header's length are accepted",
     "    if (!*err && count != end) report(h, err, LOMARI_ERR_INVALID);\n", ""),
    ("records.failed-decode-leaks", "src/tables/record_io.cpp",
     "a record that failed to decode is not released",
     "        if (*err)\n            release(T, h, db, r);", "        if (false)\n            release(T, h, db, r);"),
    ("records.dm-falls-back-to-wrong-event", "src/tables/record_access.cpp",
     "a DM event without its own handler goes to the other plain handler",
     "ev == RecEvent::CreateDm ? RecEvent::Create : RecEvent::Delete;",
     "ev == RecEvent::CreateDm ? RecEvent::Delete : RecEvent::Create;"),
    ("records.field-not-marked-embedded", "src/tables/record_access.cpp",
     "an object set into a record is not marked embedded (it can be set twice)",
     "    set_instance_embedded(F, h, db, obj);\n", ""),
    ("records.detach-keeps-field", "src/tables/record_access.cpp",
     "get_detach hands the object out but the record keeps it",
     "    store<void *>(h, db, record, slot, nullptr);\n    return o;", "    return o;"),
    ("records.grouping-default-zero", "src/tables/record_access.cpp",
     "grouping without a handler answers 0 instead of the value given",
     "    no_handler(T, RecEvent::Grouping, err);\n    return value;",
     "    no_handler(T, RecEvent::Grouping, err);\n    return 0;"),

    # ---- runtime --------------------------------------------------------------------------------------
    ("rt-avl.companion-not-lowered", "runtime/src/db/avl.cpp",
     "deleting a node does not lower the companion count",
     "    if (companion && *companion)\n        --*companion;", "    if (companion && *companion)\n        (void)0;"),
    ("rt-avl.no-rebalance-at-2", "runtime/src/db/avl.cpp",
     "a subtree two levels deeper than its sibling is not rebalanced",
     "    if (d > 1) {", "    if (d > 2) {"),
    ("rt-avl.prev-includes-self", "runtime/src/db/avl.cpp",
     "stepping back from a node can answer the node itself",
     "        if (cmp(node, t) == kAfter) {", "        if (cmp(node, t) != kBefore) {"),
    ("rt-avl.successor-link-stale", "runtime/src/db/avl.cpp",
     "after a delete that takes a deeper successor, the wrong link is rebalanced",
     "            links[at + 1] = &m->right; /* was &n->right */", "            (void)m;"),
    ("rt-pool.class-rounds-down", "runtime/src/handle/pool.cpp",
     "a small block gets the size class below its size",
     "return size ? (size + 7) >> 3 : 1;", "return size ? (size + 6) >> 3 : 1;"),
    ("rt-pool.slab-first-block-twice", "runtime/src/handle/pool.cpp",
     "a new slab hands out its first block twice",
     "    t.bump[c] = slab + size_t(c) * 8;", "    t.bump[c] = slab;"),
    ("rt-quarl.range-end-excluded", "runtime/src/db/quarl.cpp",
     "a range that ends exactly at a registered end is not in range",
     "return a + len <= it->first + it->second ? 1 : 0;", "return a + len < it->first + it->second ? 1 : 0;"),
    ("rt-quarl.lock-not-taken", "runtime/src/db/quarl.cpp",
     "registering a range does not take the database's lock",
     "    std::lock_guard<std::mutex> g(d->mu);\n    uint32_t &have", "    uint32_t &have"),
    ("rt-quarl.shorter-range-kept", "runtime/src/db/quarl.cpp",
     "registering a start again keeps the later length, shorter or not",
     "    if (len > have)\n        have = len;", "    have = len;"),
    ("rt-xmldoc.number-one-past-range", "runtime/src/text/xml_doc.cpp",
     "a number one past its width's range is accepted (and wraps)",
     "if (x > static_cast<T>(~T{0}))", "if (x > static_cast<T>(~T{0}) + uint64_t{1})"),
    ("rt-xmldoc.internal-dtd-accepted", "runtime/src/text/xml_doc.cpp",
     "a document with an internal type declaration is accepted",
     "if (doc->intSubset || doc->extSubset) {", "if (doc->extSubset) {"),
    ("rt-text.short-room-no-store", "runtime/src/text/text_writers.cpp",
     "a writer that runs out of room does not store the error in the handle",
     "    qel_store_err(h, QEL_TEXT_SHORT);\n", ""),
    ("rt-text.string-print-drops-last", "runtime/src/text/text_writers.cpp",
     "a 31-character string is printed without its last character",
     "o.put(s, strnlen(s, bound));", "o.put(s, strnlen(s, bound - 1));"),
    ("rt-scalars.set-not-announced", "runtime/src/handle/scalars.cpp",
     "a scalar set_value is not announced to the write hook",
     "        h->write_hook_fn(h, obj, sizeof(T), dbid, nullptr);\n    *obj = static_cast<T>(v);",
     "    *obj = static_cast<T>(v);"),
    ("rt-errors.store-no-handle-err", "runtime/src/handle/errors_types.cpp",
     "qel_store_err leaves the handle's error word unchanged",
     "    h->err = code;\n    h->last_error = code;\n}", "    h->last_error = code;\n}"),
    ("rt-msg.header-word-not-written", "runtime/src/messages/messages.cpp",
     "the wire header's word is not written",
     "    qel_wire_put32(buf + kWordOff, hdr->header_word);\n", ""),
    ("rt-msg.length-one-past-input", "runtime/src/messages/messages.cpp",
     "a header whose length is one byte past the input is accepted",
     "    if (length > len) {", "    if (length > len + 1) {"),
    ("rt-db.tenant-count-not-lowered", "runtime/src/db/db_toc.cpp",
     "a record leaving the table does not lower its tenant's count",
     "    else if (n)\n        --n;", "    else if (n)\n        (void)0;"),
    ("rt-db.pending-not-counted", "runtime/src/db/db_toc.cpp",
     "a destroy request does not raise the table's pending count",
     "        r->table->pending_destroy_count += 1;\n", ""),
    ("rt-db.tenant-counts-outlive-table", "runtime/src/db/db_toc.cpp",
     "a table leaving the TOC keeps its per-tenant counters",
     "t = std::get<0>(t->first) == table ? d->tenants.erase(t) : std::next(t);", "t = std::next(t);"),
    ("rt-hash.width-not-folded", "runtime/src/handle/hash.cpp",
     "equal numbers of different widths hash alike",
     "    h ^= width;\n", ""),
    ("rt-hash.tail-byte-misplaced", "runtime/src/handle/hash.cpp",
     "the third byte of a 3-byte tail enters the hash at the wrong place",
     "hash ^= sbyte(d[2]) << 18;", "hash ^= sbyte(d[2]) << 16;"),

    # ---- generator: what it emits --------------------------------------------------------------------
    ("gen.get-prev-steps-forward", "schema/families/tables.py",
     "the index get_prev forms step forward",
     "(\"get_prev\", \"\", \"lk_step_rec({d}, {i}, h, db, table, record, false,",
     "(\"get_prev\", \"\", \"lk_step_rec({d}, {i}, h, db, table, record, true,"),
    ("gen.first-ignore-src-filters", "schema/families/tables.py",
     "get_first_ignore_src lets only the default source through",
     "(\"get_first_ignore_src\", \"\", \"lk_end({d}, {i}, h, db, table, false, %s, err)\" % flt(1, \"false\", \"false\")),",
     "(\"get_first_ignore_src\", \"\", \"lk_end({d}, {i}, h, db, table, false, %s, err)\" % flt(1, \"true\", \"false\")),"),
    ("gen.set-before-after-swapped", "schema/families/lists.py",
     "set_before inserts after the reference and set_after before it",
     "[(\"Before\", \"set_before\"), (\"After\", \"set_after\")]",
     "[(\"After\", \"set_before\"), (\"Before\", \"set_after\")]"),
    ("gen.print-cr-error-not-flagged", "schema/families/print.py",
     "the emitted print_cr answers its count even with an error stored",
     "\"    return h->err ? 0xFFFFFFFFu : r;\"", "\"    return r;\""),
    ("gen.table-key-offset", "schema/families/tables.py",
     "the emitted key offset of each index is one byte off",
     "(\"part\", r[\"part\"]), (\"key_off\", r[\"off\"])", "(\"part\", r[\"part\"]), (\"key_off\", r[\"off\"] + 1)"),
    ("gen.member-bound-of-elements", "schema/model.py",
     "the member bound emitted for list elements counts one link word too few",
     "        if self.list_owner is not None:\n            n += 2", "        if self.list_owner is not None:\n            n += 1"),
    ("gen.enc-fixed-string-short", "schema/model.py",
     "the emitted bound of a body's own part counts a fixed string as 30 bytes",
     "\"str\": 31, \"list\": 4, \"array\": 0}[f.kind]", "\"str\": 30, \"list\": 4, \"array\": 0}[f.kind]"),
    ("gen.record-events-swapped", "schema/emit/descriptors.py",
     "the emitted record handlers of modify and delete change places",
     "[[\"create\", \"modify\", \"delete\"],", "[[\"create\", \"delete\", \"modify\"],"),
]

# The recorded run (plain build, all mutants, before the suite is shrunk):
# killed, total, and the mutants that survived it, each with the reason the
# suite misses it.  None of them is equivalent: each changes what a caller
# can observe.
RECORDED = {
    "mode": "plain",
    "killed": 114,
    "total": 125,
    "survivors": {
        "arrays.inside-value-not-moved":
            "use after free: the freed block still holds the value; only AddressSanitizer sees it (--sanitize kills it)",
        "clone.variant-checked":
            "no clone of an object whose variant the domain refuses",
        "compare.table-key-over-32":
            "the wire and the setters carry 31 characters: the 32nd byte of a key the library fills is always 0",
        "codec.walk-checked-env-ignored":
            "the walk comparison cannot tell that the checked walk ran at all",
        "xml.element-state-from-array":
            "no XML rendering of array elements whose state bytes differ from the array's",
        "rt-pool.class-rounds-down":
            "no pooled allocation of a size just above a multiple of 8 (the pool is off under the sanitizers)",
        "rt-quarl.lock-not-taken":
            "each thread has its own handle and range database; only ThreadSanitizer could see a race",
        "rt-db.tenant-counts-outlive-table":
            "no tenant count of a table made after one with counts was freed",
        "rt-hash.width-not-folded":
            "no test that equal numbers of different widths hash apart",
        "rt-hash.tail-byte-misplaced":
            "no known hash values: every 31-byte fixed string takes this 3-byte tail",
        "gen.member-bound-of-elements":
            "the validity test takes the bound from the generated test view, made from the same model",
    },
}

# ---------------------------------------------------------------------------

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import textwrap
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Mutant:
    def __init__(self, mid, path, desc, old, new):
        self.id, self.path, self.desc, self.old, self.new = mid, path, desc, old, new
        self.family = mid.split(".", 1)[0]


def load_mutants():
    ms = [Mutant(*m) for m in MUTANTS]
    seen = set()
    for m in ms:
        if m.id in seen:
            sys.exit("mutants.py: id %s is listed twice" % m.id)
        seen.add(m.id)
        if m.old == m.new:
            sys.exit("mutants.py: %s changes nothing" % m.id)
    return ms


def stale_reason(m, tree):
    """Why the mutant cannot be applied to the tree, or None."""
    p = os.path.join(tree, m.path)
    if not os.path.isfile(p):
        return "no file %s" % m.path
    with open(p, encoding="utf-8") as f:
        n = f.read().count(m.old)
    if n != 1:
        return "original text found %d times in %s" % (n, m.path)
    return None


# ---- the scratch copy ------------------------------------------------------------

def tracked_files():
    out = subprocess.run(["git", "-C", ROOT, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                         check=True, capture_output=True).stdout
    return sorted({f for f in out.decode().split("\0") if f and os.path.isfile(os.path.join(ROOT, f))})


def sync_tree(tree):
    """Makes tree hold exactly the checkout's files; unchanged files keep their
    times, so that a kept build directory stays up to date."""
    files = tracked_files()
    wanted = set(files)
    for rel in files:
        src, dst = os.path.join(ROOT, rel), os.path.join(tree, rel)
        with open(src, "rb") as f:
            data = f.read()
        if os.path.isfile(dst):
            with open(dst, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, "wb") as f:
            f.write(data)
        shutil.copymode(src, dst)
    for d, _, fs in os.walk(tree):
        for fn in fs:
            rel = os.path.relpath(os.path.join(d, fn), tree)
            if rel not in wanted:
                os.remove(os.path.join(d, fn))


def write_file(path, text):
    """Writes text with a fresh time, so that Ninja rebuilds what depends on it."""
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    t = time.time_ns()
    os.utime(path, ns=(t, t))


# ---- building ------------------------------------------------------------------------

def configure(tree, build, sanitize):
    opts = ["-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
    if sanitize:  # as CI's second build
        opts = ["-DCMAKE_BUILD_TYPE=Debug", "-DLOMARI_SANITIZE=ON", "-DLOMARI_CHECKED_CODEC=ON"]
    if shutil.which("ccache"):
        opts += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
    # A changed library does not relink the programs that load it.
    opts.append("-DCMAKE_LINK_DEPENDS_NO_SHARED=ON")
    r = subprocess.run(["cmake", "-S", tree, "-B", build, "-G", "Ninja"] + opts,
                       capture_output=True, text=True)
    if r.returncode:
        sys.exit("mutants.py: cmake failed:\n" + r.stdout + r.stderr)


def build(build_dir, jobs):
    """(ok, seconds, log tail)."""
    t0 = time.monotonic()
    r = subprocess.run(["ninja", "-C", build_dir, "-j%d" % jobs], capture_output=True, text=True)
    log = (r.stdout + r.stderr).splitlines()
    return r.returncode == 0, time.monotonic() - t0, "\n".join(log[-40:])


# ---- the suite ---------------------------------------------------------------------------

class Program:
    """One test program run: a GoogleTest binary with all its cases, or a
    single ctest command."""

    def __init__(self, name, cmd, cwd, env, gtest, expected):
        self.name, self.cmd, self.cwd, self.env = name, cmd, cwd, env
        self.gtest, self.expected = gtest, expected
        self.limit = None


def discover(build_dir):
    r = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build_dir, capture_output=True, text=True)
    if r.returncode:
        sys.exit("mutants.py: ctest --show-only failed:\n" + r.stderr)
    progs, groups = [], {}
    for t in json.loads(r.stdout)["tests"]:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        unknown = set(props) - {"WORKING_DIRECTORY", "SKIP_REGULAR_EXPRESSION", "DISABLED", "ENVIRONMENT",
                                "TIMEOUT"}
        if unknown:
            sys.exit("mutants.py: test %s has properties this script does not apply: %s" % (t["name"], unknown))
        if props.get("DISABLED"):
            continue
        cmd = t["command"]
        cwd = props.get("WORKING_DIRECTORY", build_dir)
        env = tuple(props.get("ENVIRONMENT", []))
        if any(a.startswith("--gtest_filter=") for a in cmd[1:]):
            key = (cmd[0], cwd, env)
            if key not in groups:
                groups[key] = Program(os.path.basename(cmd[0]), [cmd[0]], cwd, env, True, 0)
                progs.append(groups[key])
            groups[key].expected += 1
        else:
            progs.append(Program(t["name"], cmd, cwd, env, False, 0))
    return progs


# Temporary files of the tests go to a directory of this run: the suite
# names some of its files without the process id, and other checkouts may
# be running it at the same time.
TEST_TMP = None


def clean_env(sanitize, extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("GTEST_", "LOMARI_"))}
    env["TEST_TMPDIR"] = env["TMPDIR"] = TEST_TMP
    if sanitize:
        env["ASAN_OPTIONS"] = "detect_leaks=1"
    for kv in extra:
        k, _, v = kv.partition("=")
        env[k] = v
    return env


def run_program(p, sanitize, fail_fast, limit):
    """(passed, seconds, failed names, tests ran or None, output tail)."""
    cmd = list(p.cmd)
    if p.gtest:
        cmd += ["--gtest_brief=1"] + (["--gtest_fail_fast"] if fail_fast else [])
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=p.cwd, env=clean_env(sanitize, p.env), stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=limit)
        timed_out = False
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        timed_out = True
    secs = time.monotonic() - t0
    text = out.decode(errors="replace")
    lines = text.splitlines()
    ran = None
    failed = []
    for ln in lines:
        if ln.startswith("[==========] ") and " from " in ln and " ran." in ln:
            ran = int(ln.split()[1])
        if ln.startswith("[  FAILED  ] ") and " listed below" not in ln:
            name = ln[len("[  FAILED  ] "):].split(" (")[0].split(",")[0].strip()
            if name and name not in failed:
                failed.append(name)
    ok = proc.returncode == 0 and not timed_out
    if not ok and not failed:
        failed.append(p.name + (" (timed out)" if timed_out else " (exit %d)" % proc.returncode))
    elif timed_out:
        failed.append(p.name + " (timed out)")
    return ok, secs, failed, ran, "\n".join(lines[-30:])


def run_suite(progs, sanitize, fail_fast):
    """(passed, seconds, failed names)."""
    total, failed = 0.0, []
    for p in progs:
        ok, secs, names, _, _ = run_program(p, sanitize, fail_fast, p.limit)
        total += secs
        if not ok:
            failed += [n for n in names if n not in failed]
            if fail_fast:
                break
    return not failed, total, failed


# ---- the run ----------------------------------------------------------------------------------

def list_mutants(ms):
    fam = None
    for m in ms:
        if m.family != fam:
            fam = m.family
            print("\n%s" % fam)
        reason = stale_reason(m, ROOT)
        print("  %-44s %s%s" % (m.id, m.desc, "  [STALE: %s]" % reason if reason else ""))
    print("\n%d mutants in %d families" % (len(ms), len({m.family for m in ms})))


def summary(results, ms, elapsed):
    by = {m.id: m for m in ms}
    fams = {}
    for r in results:
        f = fams.setdefault(by[r["id"]].family, [0, 0])
        if r["status"] in ("killed", "survived"):
            f[1] += 1
            f[0] += r["status"] == "killed"
    print("\nby family (killed/total):")
    print(textwrap.fill(", ".join("%s %d/%d" % (f, k, n) for f, (k, n) in fams.items()), 100,
                        initial_indent="  ", subsequent_indent="  "))
    surv = [r for r in results if r["status"] == "survived"]
    errs = [r for r in results if r["status"] == "error"]
    if errs:
        print("\nmutants that do not build (errors in the mutant list):")
        for r in errs:
            print("  %-44s %s" % (r["id"], by[r["id"]].desc))
    print("\nsurvivors:" if surv else "\nno survivors")
    for r in surv:
        why = RECORDED["survivors"].get(r["id"])
        print("  %-44s %s%s" % (r["id"], by[r["id"]].desc, "\n  %-44s   (%s)" % ("", why) if why else "  [NEW]"))
    killed = sum(r["status"] == "killed" for r in results)
    n = killed + len(surv)
    print("\nrun time: %.1f min" % (elapsed / 60))
    print("score: %d killed of %d (%.1f%%)" % (killed, n, 100.0 * killed / n if n else 0.0))
    return killed, n, [r["id"] for r in surv], errs


def check_recorded(killed, n, survivors, selected_all, sanitize):
    rec = RECORDED
    if rec["killed"] is None:
        print("check: no recorded run to compare with")
        return True
    if sanitize != (rec["mode"] == "sanitize"):
        print("check: the recorded run is of the %s build; this one is not" % rec["mode"])
        return False
    ok = True
    new = [s for s in survivors if s not in rec["survivors"]]
    if new:
        ok = False
        print("check: FAILED: new survivors: %s" % ", ".join(new))
    if selected_all and killed < rec["killed"]:
        ok = False
        print("check: FAILED: %d killed, the recorded run killed %d" % (killed, rec["killed"]))
    if ok:
        print("check: passed (recorded: %s killed of %s)" % (rec["killed"], rec["total"]))
    return ok


def main():
    ap = argparse.ArgumentParser(description="Mutation check of the test suite (see the file's header).")
    ap.add_argument("--list", action="store_true", help="list the mutants and exit")
    ap.add_argument("--only", help="comma-separated mutant ids (or family names) to run")
    ap.add_argument("--jobs", type=int, default=2, help="build jobs (default 2)")
    ap.add_argument("--keep", action="store_true", help="keep the scratch directory")
    ap.add_argument("--sanitize", action="store_true", help="run on an ASan+UBSan Debug build")
    ap.add_argument("--fail-fast", action="store_true", help="stop a mutant's suite at its first failure")
    ap.add_argument("--json", help="write the results to this file")
    ap.add_argument("--scratch", help="scratch directory (default /tmp/lomari-mutants[-asan])")
    ap.add_argument("--timeout", type=float, default=0,
                    help="seconds a test program may run (default: 10 times its run on the unchanged tree, "
                         "at least 30)")
    ap.add_argument("--check", action="store_true", help="compare with the recorded run")
    a = ap.parse_args()

    ms = load_mutants()
    if a.list:
        list_mutants(ms)
        return 0
    if a.only:
        want = [w for w in a.only.split(",") if w]
        unknown = [w for w in want if not any(m.id == w or m.family == w for m in ms)]
        if unknown:
            sys.exit("mutants.py: no such mutant or family: %s" % ", ".join(unknown))
        ms = [m for m in ms if m.id in want or m.family in want]

    stale = [(m, stale_reason(m, ROOT)) for m in ms]
    stale = [(m, r) for m, r in stale if r]
    if stale:
        for m, r in stale:
            print("stale mutant %s: %s" % (m.id, r))
        sys.exit("mutants.py: refusing to run with stale mutants; refresh their texts")

    os.nice(10)
    t_start = time.monotonic()
    scratch = a.scratch or ("/tmp/lomari-mutants-asan" if a.sanitize else "/tmp/lomari-mutants")
    tree, build_dir = os.path.join(scratch, "tree"), os.path.join(scratch, "build")
    os.makedirs(tree, exist_ok=True)
    print("scratch: %s (%s build%s)" % (scratch, "ASan+UBSan" if a.sanitize else "plain",
                                         ", ccache" if shutil.which("ccache") else ""))
    sync_tree(tree)
    global TEST_TMP
    TEST_TMP = os.path.join(scratch, "tmp") + "/"
    shutil.rmtree(TEST_TMP, ignore_errors=True)
    os.makedirs(TEST_TMP)
    configure(tree, build_dir, a.sanitize)

    originals = {}
    results = []
    try:
        ok, secs, log = build(build_dir, a.jobs)
        if not ok:
            sys.exit("mutants.py: the unchanged tree does not build:\n" + log)
        print("unchanged tree built in %.0f s" % secs)
        progs = discover(build_dir)
        base_total = 0.0
        for p in progs:
            ok, secs, failed, ran, tail = run_program(p, a.sanitize, False, None)
            if not ok:
                sys.exit("mutants.py: the unchanged tree fails %s:\n%s" % (", ".join(failed), tail))
            if p.gtest and ran != p.expected:
                sys.exit("mutants.py: %s ran %s tests, ctest lists %d" % (p.name, ran, p.expected))
            p.limit = a.timeout or max(30.0, 10 * secs)
            base_total += secs
        print("unchanged tree passes its suite: %d programs, %d test cases, %.1f s" % (
            len(progs), sum(p.expected or 1 for p in progs), base_total))

        for k, m in enumerate(ms, 1):
            path = os.path.join(tree, m.path)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            originals[path] = text
            write_file(path, text.replace(m.old, m.new, 1))
            try:
                ok, bsecs, log = build(build_dir, a.jobs)
                if not ok:
                    res = {"id": m.id, "status": "error", "build_s": round(bsecs, 1), "log": log}
                else:
                    passed, tsecs, failed = run_suite(progs, a.sanitize, a.fail_fast)
                    res = {"id": m.id, "status": "survived" if passed else "killed", "build_s": round(bsecs, 1),
                           "tests_s": round(tsecs, 1), "failed": failed}
            finally:
                write_file(path, originals.pop(path))
            results.append(res)
            detail = ""
            if res["status"] == "killed":
                f = res["failed"]
                detail = "%d failed: %s%s" % (len(f), f[0], " ..." if len(f) > 1 else "")
            elif res["status"] == "error":
                detail = "does not build"
            print("[%3d/%d] %-8s %-44s build %5.1fs  tests %5.1fs  %s" % (
                k, len(ms), res["status"], m.id, res["build_s"], res.get("tests_s", 0.0), detail), flush=True)
            if res["status"] == "error":
                print("    " + "\n    ".join(res["log"].splitlines()[-12:]))
    finally:
        for path, text in originals.items():
            write_file(path, text)
        if not a.keep:
            shutil.rmtree(scratch, ignore_errors=True)

    killed, n, survivors, errs = summary(results, ms, time.monotonic() - t_start)
    if a.json:
        with open(a.json, "w") as f:
            json.dump({"mode": "sanitize" if a.sanitize else "plain", "fail_fast": a.fail_fast,
                       "killed": killed, "total": n, "survivors": survivors, "results": results}, f, indent=1)
    status = 0
    if errs:
        status = 2
    if a.check and not check_recorded(killed, n, survivors, not a.only, a.sanitize):
        status = status or 1
    return status


if __name__ == "__main__":
    sys.exit(main())
