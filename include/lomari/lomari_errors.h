/*
 * lomari/lomari_errors.h -- the error numbers the lomari library reports.
 *
 * Every failure is reported as a system error number: in the caller's
 * error word (out-parameter form) and in the handle's stored error
 * (chained-error form, and qel_store_err).  strerror() gives each its
 * text.  These names are the only spelling of the numbers, in the
 * library's own code as in its users'.
 */
#ifndef LOMARI_LOMARI_ERRORS_H
#define LOMARI_LOMARI_ERRORS_H

#ifdef __cplusplus
extern "C" {
#endif

enum lomari_error {
    LOMARI_OK = 0,
    /* Not found: an element absent from a parsed document, an index at or
     * past an array's count, a list element that is not in this list, a
     * missing destination or record, a record field missing at marshal. */
    LOMARI_ERR_NOT_FOUND = 2,
    /* A formatted table name or key does not fit its buffer. */
    LOMARI_ERR_TOO_BIG = 7,
    /* The object-id mapping of a table could not be removed yet. */
    LOMARI_ERR_AGAIN = 11,
    /* Out of memory: an allocation through the handle failed. */
    LOMARI_ERR_NO_MEMORY = 12,
    /* A required out-parameter is missing (key unmarshal). */
    LOMARI_ERR_BAD_ADDRESS = 14,
    /* Already present: a record whose key (tenant, key, source) an index
     * already holds, or a record that is already in a table. */
    LOMARI_ERR_EXISTS = 17,
    /* Invalid argument or state: a null object, a bad position flag, an
     * object that is not state tracked on a tracking handle, an element
     * already in a list, a malformed value in a parsed document. */
    LOMARI_ERR_INVALID = 22,
    /* A caller's buffer is too small for a fixed string (the leading part
     * is still copied). */
    LOMARI_ERR_NO_SPACE = 28,
    /* A received message found no handler. */
    LOMARI_ERR_NO_HANDLER = 38,
    /* The object's variant is not available in the current domain. */
    LOMARI_ERR_VARIANT = 43,
    /* The message or table is not allowed in the current domain. */
    LOMARI_ERR_DOMAIN = 52,
    /* An output buffer is too short, or input bytes end before the
     * encoding they announce. */
    LOMARI_ERR_SHORT = 90
};

#ifdef __cplusplus
}
#endif

#endif /* LOMARI_LOMARI_ERRORS_H */
