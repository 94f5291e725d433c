// tables.cpp -- the tool's table of table types, one row per table spelled
// once through the catalogue's list of names, and its access to shared
// databases (attach, bind, lock, list the tables).
#include "tables.h"

#include <cstdio>
#include <cstring>

#include "lomari/lomari_catalogue.h"
#include "qel/rt_handle.h"

namespace ltool {
namespace {

#define TABLE_KIND(n)                                                                     \
    TableKind{#n,                                                                         \
              table_##n##_luid,                                                           \
              table_##n##_luid_text,                                                      \
              codec_by_name(#n),                                                          \
              n##_table_open,                                                             \
              n##_table_open_by_id,                                                       \
              n##_record_walk_cr,                                                         \
              n##_table_get_count,                                                        \
              n##_table_get_count_by_src,                                                 \
              n##_insert,                                                                 \
              n##_delete,                                                                 \
              n##_table_free},

}  // namespace

const std::vector<TableKind> &table_kinds() {
    static const std::vector<TableKind> all = {LOMARI_FOR_EACH_TABLE(TABLE_KIND)};
    return all;
}

const TableKind *table_kind_by_luid(const uint8_t *luid) {
    for (const TableKind &k : table_kinds())
        if (std::memcmp(k.luid, luid, 16) == 0) return &k;
    return nullptr;
}

const TableKind *table_kind_by_name(const std::string &name) {
    for (const TableKind &k : table_kinds())
        if (name == k.name) return &k;
    return nullptr;
}

std::string table_label(const TableKind &k, const qeldb_table_head_t &head) {
    if (head.open_mode != 0) return "#" + std::to_string(head.table_id);
    const std::string full(head.name, strnlen(head.name, sizeof head.name));
    const std::string suffix = std::string("/") + k.luid_text;
    if (full.size() > suffix.size() && full.compare(full.size() - suffix.size(), suffix.size(), suffix) == 0)
        return full.substr(0, full.size() - suffix.size());
    return full;
}

SharedDb::~SharedDb() {
    // The handle goes before the mapping it is bound to.
    qelrt_handle_free(h_);
    qelrt_db_detach(db_);
}

int SharedDb::attach(const std::string &name, const char *dir) { return bind(qelrt_db_attach(name.c_str(), dir, &db_)); }

int SharedDb::create(const std::string &name, const qelrt_db_options_t &opt) {
    return bind(qelrt_db_create(name.c_str(), &opt, &db_));
}

int SharedDb::bind(int rc) {
    if (rc == 0) {
        h_ = qelrt_handle_new();
        rc = h_ ? qelrt_handle_bind_db(h_, db_) : 12;
        if (rc == 0) id_ = qelrt_db_id(db_);
    }
    if (rc != 0) {
        const char *d = qelrt_db_error_detail();
        detail_ = d && *d ? d : std::string("error ") + std::to_string(rc);
    }
    return rc;
}

std::vector<TableRef> SharedDb::tables() const {
    std::vector<TableRef> out;
    qelrt_db_each_table(
        db_,
        [](void *ctx, void *table) {
            auto &v = *static_cast<std::vector<TableRef> *>(ctx);
            const auto *head = static_cast<const qeldb_table_head_t *>(table);
            const auto *ti = static_cast<const qel_type_info_t *>(head->tinfo);
            const TableKind *k = ti ? table_kind_by_luid(ti->luid) : nullptr;
            // A table of another domain's library is not the tool's to show.
            if (k) v.push_back({k, table, table_label(*k, *head)});
        },
        &out);
    return out;
}

DbLock::DbLock(qelrt_db_t *db) : db_(db), rc_(qelrt_db_lock(db)) {
    if (rc_ == QELRT_DB_OWNER_DIED) {
        std::fputs("lomari: note: a process died holding the database's lock; the lock was recovered\n", stderr);
        rc_ = 0;
    }
}

DbLock::~DbLock() {
    if (rc_ == 0) qelrt_db_unlock(db_);
}

}  // namespace ltool
