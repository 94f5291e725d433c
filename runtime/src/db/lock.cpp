/*
 * db/lock.cpp -- a shared database's write lock.
 *
 * Owns: qelrt_db_lock and qelrt_db_unlock over the robust, process-shared
 * mutex in the segment's header; which thread of this process holds it
 * (for qellib_database_is_write_locked); LockScope; and the repair a
 * locker makes when the previous holder died holding the lock: the journal
 * it left is rolled back (or its commit finished) before the lock is
 * marked consistent.  Taking the lock begins a journaled change, releasing
 * it commits the change.
 */
#include <pthread.h>

#include "db/segment.h"
#include "internal.h"

namespace qelrt {

namespace {

/* Runs with the lock taken from a holder that died, before the lock is
 * marked consistent: the changes that holder left half made are undone
 * (or, when it had begun to commit, finished) from the journal. */
void recover_after_dead_owner(qelrt_db *db) {
    if (t_root_pending == db)
        t_root_pending = nullptr;
    if (journal_pending(db, nullptr))
        journal_recover(db);
}

} // namespace

LockScope::LockScope(qelrt_db *db) : db_(db), own_(!shared_lock_held(db)) {
    if (own_ && qelrt_db_lock(db) > QELRT_DB_OWNER_DIED)
        own_ = false;
}

LockScope::~LockScope() {
    if (own_)
        qelrt_db_unlock(db_);
}

bool shared_lock_held(const qelrt_db *db) {
    return db && db->holder.load(std::memory_order_relaxed) ==
                     static_cast<unsigned long>(pthread_self());
}

} // namespace qelrt

using namespace qelrt;

extern "C" {

int qelrt_db_lock(qelrt_db_t *db) {
    if (!db)
        return 22;
    int rc = pthread_mutex_lock(&db->hdr->lock.m);
    int answer = 0;
    if (rc == EOWNERDEAD) {
        recover_after_dead_owner(db);
        pthread_mutex_consistent(&db->hdr->lock.m);
        answer = QELRT_DB_OWNER_DIED;
    } else if (rc != 0) {
        return rc; /* ENOTRECOVERABLE, EDEADLK */
    }
    db->holder.store(static_cast<unsigned long>(pthread_self()), std::memory_order_relaxed);
    journal_begin(db);
    return answer;
}

void qelrt_db_unlock(qelrt_db_t *db) {
    if (!db || !shared_lock_held(db))
        return;
    journal_commit(db);
    db->holder.store(0, std::memory_order_relaxed);
    if (t_root_pending == db) /* announced by a look-up that allocated nothing */
        t_root_pending = nullptr;
    pthread_mutex_unlock(&db->hdr->lock.m);
}

} // extern "C"
