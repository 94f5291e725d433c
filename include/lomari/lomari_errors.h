/**
 * @file lomari/lomari_errors.h
 * @brief The error numbers the lomari library reports.
 *
 *
 * Every failure is reported as a system error number: in the caller's
 * error word, the last argument of most
 * operations, and as a rule also in the handle's err field; the
 * chained-error (_cr) forms use the handle's err alone.
 * An operation entered with a non-zero error word does nothing and
 * returns 0 or null, so a caller may make several calls and test the word
 * once, and must reset it to LOMARI_OK before going on after a failure.
 * These names are the only spelling of the numbers, in the library's own
 * code as in its users'; lomari_error_name and lomari_error_text give a
 * number's name and what the library means by it (the system's own text
 * for the same number tells of something else).
 */
#ifndef LOMARI_LOMARI_ERRORS_H
#define LOMARI_LOMARI_ERRORS_H

#ifdef __cplusplus
extern "C" {
#endif

enum lomari_error {
    LOMARI_OK = 0,
    /** Not found: an index at or past a counted array's count, an element
     * that is not in this list, an element absent from a parsed document
     * (a message's from-XML takes that as success), a table's key root or
     * record that does not exist. */
    LOMARI_ERR_NOT_FOUND = 2,
    /** A table's formatted name does not fit its buffer. */
    LOMARI_ERR_TOO_BIG = 7,
    /** Try again: a table's object-id mapping is still referenced, so the
     * table could not be freed yet. */
    LOMARI_ERR_AGAIN = 11,
    /** Out of memory: an allocation through the handle failed. */
    LOMARI_ERR_NO_MEMORY = 12,
    /** A required out-parameter is null (table key unmarshal). */
    LOMARI_ERR_BAD_ADDRESS = 14,
    /** Already present: a record whose key (tenant, key, source) an index
     * already holds, or a record that is already in a table. */
    LOMARI_ERR_EXISTS = 17,
    /** Invalid argument or state: a null object, a bad position flag, an
     * object that is not state tracked on a tracking handle, an element
     * already in a list, a string too long or a zero-size buffer, a
     * malformed value in a parsed document. */
    LOMARI_ERR_INVALID = 22,
    /** A caller's buffer is too small for a fixed string; the leading part
     * that fits is still copied and terminated. */
    LOMARI_ERR_NO_SPACE = 28,
    /** A received message found no handler: none given by the caller and
     * none defined by the application. */
    LOMARI_ERR_NO_HANDLER = 38,
    /** Variant not allowed: the object's variant is above the one the
     * current domain has, an enumeration value is out of range for the
     * instance's variant, or a set crosses variants.  Encodings go on with
     * the domain's variant. */
    LOMARI_ERR_VARIANT = 43,
    /** The message or table is not allowed in the current domain. */
    LOMARI_ERR_DOMAIN = 52,
    /** Too short: an output buffer has no room (length 0, or less than the
     * encoding needs), or input bytes end before what they announce. */
    LOMARI_ERR_SHORT = 90
};

/** The name of an error number ("LOMARI_ERR_SHORT"), for messages meant for
 * people; null for a number the library does not report. */
static inline const char *lomari_error_name(unsigned code) {
#define LOMARI_ERROR_NAME_(name) \
    case name: return #name;
    switch (code) {
    LOMARI_ERROR_NAME_(LOMARI_OK)
    LOMARI_ERROR_NAME_(LOMARI_ERR_NOT_FOUND)
    LOMARI_ERROR_NAME_(LOMARI_ERR_TOO_BIG)
    LOMARI_ERROR_NAME_(LOMARI_ERR_AGAIN)
    LOMARI_ERROR_NAME_(LOMARI_ERR_NO_MEMORY)
    LOMARI_ERROR_NAME_(LOMARI_ERR_BAD_ADDRESS)
    LOMARI_ERROR_NAME_(LOMARI_ERR_EXISTS)
    LOMARI_ERROR_NAME_(LOMARI_ERR_INVALID)
    LOMARI_ERROR_NAME_(LOMARI_ERR_NO_SPACE)
    LOMARI_ERROR_NAME_(LOMARI_ERR_NO_HANDLER)
    LOMARI_ERROR_NAME_(LOMARI_ERR_VARIANT)
    LOMARI_ERROR_NAME_(LOMARI_ERR_DOMAIN)
    LOMARI_ERROR_NAME_(LOMARI_ERR_SHORT)
    default: return 0;
    }
#undef LOMARI_ERROR_NAME_
}

/** What the library means by an error number, in one short line ("buffer
 * too short, or input ends before what it announces"), for messages meant
 * for people; null for a number the library does not report. */
static inline const char *lomari_error_text(unsigned code) {
    switch (code) {
    case LOMARI_OK: return "no error";
    case LOMARI_ERR_NOT_FOUND: return "not found: no such element, index, key or record";
    case LOMARI_ERR_TOO_BIG: return "a table's name or key does not fit its buffer";
    case LOMARI_ERR_AGAIN: return "a table's object-id mapping is still referenced; try again";
    case LOMARI_ERR_NO_MEMORY: return "out of memory";
    case LOMARI_ERR_BAD_ADDRESS: return "a required out-parameter is null";
    case LOMARI_ERR_EXISTS: return "already present: the key or record is already in the table";
    case LOMARI_ERR_INVALID: return "invalid argument, object or value";
    case LOMARI_ERR_NO_SPACE: return "buffer too small for a fixed string; the part that fits is copied";
    case LOMARI_ERR_NO_HANDLER: return "a received message found no handler";
    case LOMARI_ERR_VARIANT: return "variant not allowed, or an enumeration value out of range";
    case LOMARI_ERR_DOMAIN: return "message or table not allowed in the current domain";
    case LOMARI_ERR_SHORT: return "buffer too short, or input ends before what it announces";
    default: return 0;
    }
}

#ifdef __cplusplus
}
#endif

#endif /* LOMARI_LOMARI_ERRORS_H */
