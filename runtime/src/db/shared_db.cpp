/*
 * shared_db.cpp -- databases in shared memory (qel/rt_shared.h).
 *
 * Placeholder while the segment, its allocator and its lock are built:
 * every call reports 38 (not implemented).
 */
#include "qel/rt_shared.h"

extern "C" {

int qelrt_db_create(const char *, const qelrt_db_options_t *, qelrt_db_t **out) {
    if (out)
        *out = nullptr;
    return 38;
}
int qelrt_db_attach(const char *, const char *, qelrt_db_t **out) {
    if (out)
        *out = nullptr;
    return 38;
}
void qelrt_db_detach(qelrt_db_t *) {}
int qelrt_db_remove(const char *, const char *) { return 38; }
const char *qelrt_db_error_detail(void) { return "shared databases are not built yet"; }
uint32_t qelrt_db_id(const qelrt_db_t *) { return QEL_NO_DATABASE; }
void qelrt_db_usage(const qelrt_db_t *, qelrt_db_usage_t *out) {
    if (out)
        *out = qelrt_db_usage_t{};
}
int qelrt_handle_bind_db(qel_handle_t *, qelrt_db_t *) { return 38; }
int qelrt_db_lock(qelrt_db_t *) { return 38; }
void qelrt_db_unlock(qelrt_db_t *) {}
void qelrt_db_each_table(qelrt_db_t *, void (*)(void *, void *), void *) {}

} // extern "C"
