// db.cpp -- `lomari db`: shared databases from the command line.  create
// makes one, ls lists its tables with their record counts per tenant and
// source, dump writes a table's records in index order as `decode` writes
// items, load inserts the table records of a stream (creating their
// tables), check says whether every table is whole (dbcheck.h), recover
// rolls back what a dead writer left half done, rm removes the name.
// Readers hold the database's lock for each walk or count; load holds it
// for the whole change, so other processes see all of a load or none of it.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dbcheck.h"
#include "documents.h"
#include "qel/rt_control_db.h"
#include "qel/rt_handle.h"
#include "tables.h"
#include "tool.h"
#include "tool_schema.h"

namespace ltool {
namespace {

const char kDbUsage[] =
    "usage: lomari db create|ls|dump|load|check|recover|rm NAME [options]\n"
    "\n"
    "Works on the shared database NAME (letters, digits, '.', '_' and '-'):\n"
    "a segment of POSIX shared memory, or the file NAME in the directory\n"
    "--dir gives, that every process attaching it maps at the same address.\n"
    "\n"
    "'db create NAME' makes the database (64 MiB, readable and writable by\n"
    "its owner only, unless --size and --mode say otherwise).\n"
    "\n"
    "'db ls NAME' lists its tables, each with its record count, its shadow\n"
    "records (source 255) and its records per tenant and source.\n"
    "\n"
    "'db dump NAME TABLE' writes every record of the table in index order as\n"
    "'lomari decode' writes items.  TABLE is a table type ('lomari types'),\n"
    "or TYPE:NAME for one of several tables of a type as 'db ls' names them.\n"
    "A record of another tenant or source than 0 and 1 is preceded by a\n"
    "'# tenant T, source S' line in text, a <?lomari-record tenant=\"T\"\n"
    "source=\"S\"?> instruction in XML, and has \"tenant\" and \"source\"\n"
    "members after the record in JSON.\n"
    "\n"
    "'db load NAME FILE|-' inserts every table record of FILE (or standard\n"
    "input): binary items as 'lomari decode' reads them, or the XML or JSON\n"
    "that 'db dump' writes; messages are skipped.  The tables are opened, or\n"
    "created, by the name --table gives.  If any record cannot be inserted\n"
    "(one with the same tenant, key and source is there, or the database is\n"
    "full) nothing is loaded.\n"
    "\n"
    "'db check NAME' reads the whole database under its lock and changes\n"
    "nothing: every index of every table ordered and balanced with sound\n"
    "links, every record in each index it belongs in, the counts per tenant\n"
    "and source equal to a walk, the TOC agreeing with the table list, every\n"
    "pointer inside the segment.  It prints each finding and exits 1, or\n"
    "prints one line (tables, records, bytes) and exits 0.  The journal of a\n"
    "writer that died holding the lock is itself a finding: the check then\n"
    "leaves the lock alone (its next holder would roll the journal back).\n"
    "\n"
    "'db recover NAME' undoes what a writer that died holding the lock left\n"
    "half done, when no process is attached to the database, then checks it.\n"
    "\n"
    "'db rm NAME' removes the database; processes attached to it keep it\n"
    "until they detach.\n"
    "  --dir DIR        the database is the file NAME in DIR (every command)\n"
    "  --size BYTES     create: the segment's size; k, M or G multiplies\n"
    "  --mode OCTAL     create: its permission bits (default 600)\n"
    "  --format FORMAT  dump: text, xml or json, as 'lomari decode' writes them\n"
    "  --table NAME     load: the name of the tables it fills (default main)\n";

struct DbArgs {
    std::string sub, dir, format = "text", table = "main";
    std::vector<std::string> pos;
    uint64_t size = 0;
    uint32_t mode = 0;
    const char *dir_or_null() const { return dir.empty() ? nullptr : dir.c_str(); }
};

bool parse_size(const std::string &s, uint64_t &out) {
    size_t i = 0;
    uint64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (v > (UINT64_MAX - 9) / 10) return false;
        v = v * 10 + uint64_t(s[i] - '0');
    }
    if (i == 0) return false;
    unsigned shift = 0;
    if (i + 1 == s.size()) {
        const char u = s[i];
        shift = u == 'k' || u == 'K' ? 10 : u == 'm' || u == 'M' ? 20 : u == 'g' || u == 'G' ? 30 : 64;
        if (shift == 64) return false;
    } else if (i != s.size()) {
        return false;
    }
    if (shift && v > (UINT64_MAX >> shift)) return false;
    out = v << shift;
    return out != 0;
}

// "lomari: db <sub>: <source>: <detail>", status 1.
int db_fail(const DbArgs &a, const std::string &source, const std::string &detail, U code = 0,
            const std::string &where = "") {
    return fail(("db " + a.sub).c_str(), source, where, code, detail);
}

// Attaches the database named by the first operand; 0 or the exit status.
int attach(const DbArgs &a, SharedDb &db) {
    if (db.attach(a.pos[0], a.dir_or_null()) != 0) return db_fail(a, a.pos[0], db.detail());
    return 0;
}

// ---- create, rm ---------------------------------------------------------

int db_create(const DbArgs &a) {
    qelrt_db_options_t opt{};
    opt.size = a.size;
    opt.mode = a.mode;
    opt.dir = a.dir_or_null();
    SharedDb db;
    if (db.create(a.pos[0], opt) != 0) return db_fail(a, a.pos[0], db.detail());
    qelrt_db_usage_t u{};
    qelrt_db_usage(db.db(), &u);
    std::printf("created database %s: %llu bytes at 0x%llx, mode %03o\n", a.pos[0].c_str(),
                static_cast<unsigned long long>(u.size), static_cast<unsigned long long>(u.base),
                a.mode ? a.mode : 0600u);
    return 0;
}

int db_rm(const DbArgs &a) {
    if (qelrt_db_remove(a.pos[0].c_str(), a.dir_or_null()) != 0) return db_fail(a, a.pos[0], qelrt_db_error_detail());
    return 0;
}

// ---- ls -----------------------------------------------------------------

// Records of one table by tenant and source, as a walk of its primary
// index finds them.
struct Tally {
    std::map<uint16_t, std::map<uint8_t, uint64_t>> by;
    uint64_t walked = 0;
};

int tally(void *record, void *ctx, U *, void *, void *) {
    auto &t = *static_cast<Tally *>(ctx);
    const auto *head = static_cast<const qeldb_record_head_t *>(record);
    ++t.by[head->tenant_id][head->source];
    ++t.walked;
    return 0;
}

std::string plural(uint64_t n, const char *one) {
    return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

int db_ls(const DbArgs &a) {
    SharedDb db;
    if (int st = attach(a, db)) return st;
    std::vector<TableRef> tables;
    {
        DbLock lock(db.db());
        if (lock.code()) return db_fail(a, a.pos[0], qelrt_db_error_detail());
        tables = db.tables();
    }
    qelrt_db_usage_t u{};
    qelrt_db_usage(db.db(), &u);
    std::printf("database %s: %s, %llu of %llu bytes used\n", a.pos[0].c_str(), plural(tables.size(), "table").c_str(),
                static_cast<unsigned long long>(u.used), static_cast<unsigned long long>(u.size));
    const H h = db.h();
    for (const TableRef &t : tables) {
        Tally walk;
        U total = 0, shadows = 0;
        {
            DbLock lock(db.db());
            if (lock.code()) return db_fail(a, a.pos[0], qelrt_db_error_detail());
            h->err = 0;
            t.kind->walk(h, t.table, 0, tally, &walk, nullptr);
        }
        {
            // Tenant 0 counts the whole table.
            DbLock lock(db.db());
            if (lock.code()) return db_fail(a, a.pos[0], qelrt_db_error_detail());
            qelrt_set_tenant_id(0);
            total = t.kind->count(h, db.id(), t.table);
            shadows = t.kind->count_by_src(h, db.id(), t.table, QELDB_SRC_SHADOW);
        }
        std::printf("%s \"%s\": %s, %s\n", t.kind->name, t.name.c_str(), plural(total, "record").c_str(),
                    plural(shadows, "shadow").c_str());
        if (walk.walked != total)
            std::printf("  (a walk of its index finds %llu records)\n", static_cast<unsigned long long>(walk.walked));
        for (const auto &[tenant, sources] : walk.by) {
            // The runtime counts the records of every tenant but 0, which
            // is the platform's own: those come from the walk.
            std::map<uint8_t, uint64_t> counted;
            uint64_t all = 0;
            if (tenant == 0) {
                counted = sources;
                for (const auto &[src, n] : sources) all += n;
            } else {
                DbLock lock(db.db());
                if (lock.code()) return db_fail(a, a.pos[0], qelrt_db_error_detail());
                qelrt_set_tenant_id(tenant);
                all = t.kind->count(h, db.id(), t.table);
                for (const auto &[src, n] : sources) counted[src] = t.kind->count_by_src(h, db.id(), t.table, src);
                qelrt_set_tenant_id(0);
            }
            std::string line = "  tenant " + std::to_string(tenant) + ": " + plural(all, "record") + " (";
            for (const auto &[src, n] : counted)
                line += (line.back() == '(' ? "" : ", ") + std::string("source ") + std::to_string(src) + ": " +
                        std::to_string(n);
            std::printf("%s)\n", line.c_str());
            if (counted != sources) std::printf("  (a walk of its index finds other counts for tenant %u)\n", tenant);
        }
    }
    return 0;
}

// ---- dump ---------------------------------------------------------------

// The table TABLE names ("TYPE" or "TYPE:NAME"); null after printing why.
const TableRef *find_table(const DbArgs &a, const std::vector<TableRef> &tables, int &status) {
    const std::string &arg = a.pos[1];
    const size_t colon = arg.find(':');
    const std::string type = arg.substr(0, colon);
    const bool named = colon != std::string::npos;
    const std::string name = named ? arg.substr(colon + 1) : "";
    if (!table_kind_by_name(type)) {
        status = db_fail(a, a.pos[0], "no table type is named \"" + type + "\" (see 'lomari types')");
        return nullptr;
    }
    const TableRef *found = nullptr;
    std::string choices;
    int n = 0;
    for (const TableRef &t : tables) {
        if (type != t.kind->name) continue;
        choices += (choices.empty() ? "" : ", ") + type + ":" + t.name;
        if (!named || t.name == name) found = &t, ++n;
    }
    if (n == 1) return found;
    if (n == 0)
        status = db_fail(a, a.pos[0], "no table " + arg + " in the database" +
                                          (choices.empty() ? std::string() : " (there are " + choices + ")"));
    else
        status = db_fail(a, a.pos[0], "several " + type + " tables: name one of " + choices);
    return nullptr;
}

struct Row {
    std::string text;
    Placement where;
};

struct Dumping {
    H h;
    U db;
    const Codec *codec;
    bool xml;
    std::vector<Row> rows;
    std::vector<char> buf;
    U err = 0;
};

int dump_one(void *record, void *ctx, U *, void *, void *) {
    auto &d = *static_cast<Dumping *>(ctx);
    if (!render(d.h, d.db, *d.codec, record, d.xml, d.buf, d.err)) {
        if (!d.err) d.err = LOMARI_ERR_SHORT;
        return 1;
    }
    const auto *head = static_cast<const qeldb_record_head_t *>(record);
    Row r;
    r.text = d.buf.data();
    r.where.tenant = head->tenant_id;
    r.where.source = head->source;
    d.rows.push_back(std::move(r));
    return 0;
}

int db_dump(const DbArgs &a) {
    SharedDb db;
    if (int st = attach(a, db)) return st;
    const bool xml = a.format == "xml", json = a.format == "json";
    int status = 0;
    Dumping d{db.h(), db.id(), nullptr, xml || json, {}, {}, 0};
    {
        // One walk under the lock; the records are written out after it.
        DbLock lock(db.db());
        if (lock.code()) return db_fail(a, a.pos[0], qelrt_db_error_detail());
        const std::vector<TableRef> tables = db.tables();
        const TableRef *t = find_table(a, tables, status);
        if (!t) return status;
        d.codec = t->kind->codec;
        db.h()->err = 0;
        t->kind->walk(db.h(), t->table, 0, dump_one, &d, nullptr);
    }
    if (d.err) return db_fail(a, a.pos[0], "cannot render a record of " + a.pos[1], d.err);
    if (xml) std::printf("<%s>\n", schema::kItemsRoot);
    std::string line;
    for (const Row &r : d.rows) {
        const std::string tenant = std::to_string(r.where.tenant), source = std::to_string(r.where.source);
        if (json) {
            Failure f;
            if (!item_to_json(*d.codec, r.text.data(), r.text.size(), line, f))
                return db_fail(a, a.pos[0], f.detail, f.code);
            if (!r.where.plain()) line.insert(line.size() - 1, ",\"tenant\":" + tenant + ",\"source\":" + source);
            std::puts(line.c_str());
            continue;
        }
        if (!r.where.plain()) {
            if (xml)
                std::printf("<?%s tenant=\"%s\" source=\"%s\"?>\n", kPlacementTarget, tenant.c_str(), source.c_str());
            else
                std::printf("# tenant %s, source %s\n", tenant.c_str(), source.c_str());
        }
        std::fputs(r.text.c_str(), stdout);
        if (xml) std::fputc('\n', stdout);
    }
    if (xml) std::printf("</%s>\n", schema::kItemsRoot);
    return 0;
}

// ---- load ---------------------------------------------------------------

// One table record of the input, checked, waiting for its insert.
struct Pending {
    const TableKind *kind;
    size_t at, len;
    Placement where;
    std::string item;  // "item 3 (tarnok_header_ids)"
    uint64_t offset;
};

// One record inserted by this load, undone when a later one fails.
struct Inserted {
    const TableKind *kind;
    void *table, *record;
    uint16_t tenant;
};

int db_load(const DbArgs &a) {
    const std::string path = a.pos.size() > 1 ? a.pos[1] : "-";
    std::string text, why;
    if (!read_all(path, text, why)) return db_fail(a, path, why);
    // The input is read and checked whole before the database is touched.
    const size_t first = text.find_first_not_of(" \t\r\n");
    const bool binary = first == std::string::npos || (text[first] != '<' && text[first] != '{' && text[first] != '[');
    std::vector<uint8_t> bytes;
    std::vector<Placement> placed;
    {
        Session s;
        Failure f;
        if (binary)
            bytes.assign(text.begin(), text.end());
        else if (!(text[first] == '<' ? encode_xml(s, text, true, bytes, f, &placed)
                                      : encode_json(s, text, bytes, f, &placed)))
            return db_fail(a, path, f.detail, f.code, f.where());
    }
    std::vector<Pending> pending;
    unsigned long items = 0, messages = 0;
    {
        Session s;
        Input in;
        if (!in.open_memory(bytes.data(), bytes.size())) return db_fail(a, path, system_reason(errno));
        Item item;
        for (;;) {
            const ReadResult r = read_item(s, in, item);
            if (r.status == ReadStatus::End) break;
            if (r.status == ReadStatus::Error)
                return db_fail(a, path, r.detail, r.code, binary ? at_offset(item.offset) : "");
            item.codec->destroy(s.h, s.db, item.object);
            const Placement where = items < placed.size() ? placed[items] : Placement{};
            ++items;
            const TableKind *k = table_kind_by_name(item.codec->name);
            if (!k) {
                ++messages;
                continue;
            }
            pending.push_back({k, size_t(item.offset), size_t(in.offset() - item.offset), where,
                               "item " + std::to_string(items) + " (" + k->name + ")", item.offset});
        }
    }
    SharedDb db;
    if (int st = attach(a, db)) return st;
    const H h = db.h();
    const U id = db.id();
    h->quiet_duplicates = 1;  // a duplicate is reported here, once
    std::map<const TableKind *, void *> open;
    std::vector<std::pair<const TableKind *, void *>> created;
    std::vector<Inserted> done;
    DbLock lock(db.db());
    if (lock.code()) return db_fail(a, a.pos[0], qelrt_db_error_detail());
    // Takes back every record and table this load made.
    auto undo = [&] {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            U e = 0;
            qelrt_set_tenant_id(it->tenant);
            it->kind->remove(h, id, it->table, it->record, &e);
            it->kind->codec->destroy(h, id, it->record);
        }
        qelrt_set_tenant_id(0);
        for (auto it = created.rbegin(); it != created.rend(); ++it) {
            U e = 0;
            it->first->free(h, id, it->second, &e);
        }
    };
    for (const Pending &p : pending) {
        const std::string where = binary ? at_offset(p.offset) + ": " + p.item : p.item;
        U err = 0;
        void *&table = open[p.kind];
        if (!table) {
            table = p.kind->open(h, id, a.table.c_str(), 1, &err);
            if (!table && !err) {
                table = p.kind->open(h, id, a.table.c_str(), 0, &err);
                if (table) created.emplace_back(p.kind, table);
            }
            if (!table) {
                undo();
                return db_fail(a, path, "cannot open table " + std::string(p.kind->name) + " \"" + a.table + "\"",
                               err ? err : U(LOMARI_ERR_NOT_FOUND), where);
            }
        }
        qelrt_set_tenant_id(p.where.tenant);
        void *rec = nullptr;
        p.kind->codec->decode(h, id, &rec, bytes.data() + p.at, U(p.len), &err);
        if (!err) {
            // A decoded record has source 1; its source is set before it
            // enters any index.
            static_cast<qeldb_record_head_t *>(rec)->source = p.where.source;
            p.kind->insert(h, id, table, rec, &err);
        }
        if (err) {
            if (rec) p.kind->codec->destroy(h, id, rec);
            qelrt_set_tenant_id(0);
            undo();
            return db_fail(a, path,
                           std::string(err == LOMARI_ERR_EXISTS ? "a record with its tenant, key and source is in "
                                                                : "cannot store it in ") +
                               p.kind->name + " \"" + a.table + "\"; nothing was loaded",
                           err, where);
        }
        done.push_back({p.kind, table, rec, p.where.tenant});
    }
    qelrt_set_tenant_id(0);
    std::printf("loaded %s into database %s", plural(done.size(), "record").c_str(), a.pos[0].c_str());
    if (messages) std::printf(" (%s skipped)", plural(messages, "message").c_str());
    std::printf("\n");
    return 0;
}

// ---- check, recover ------------------------------------------------------

int report(const DbArgs &a, const CheckReport &r) {
    for (const std::string &f : r.findings) std::printf("%s\n", f.c_str());
    if (!r.findings.empty()) {
        std::printf("database %s: %s\n", a.pos[0].c_str(), plural(r.findings.size(), "finding").c_str());
        return 1;
    }
    std::printf("database %s is whole: %s, %s, %llu bytes used (%llu in tables, records, their field objects and "
                "type-info)",
                a.pos[0].c_str(), plural(r.tables, "table").c_str(), plural(r.records, "record").c_str(),
                static_cast<unsigned long long>(r.used), static_cast<unsigned long long>(r.held));
    if (r.foreign) std::printf("; %s of other libraries not checked", plural(r.foreign, "table").c_str());
    std::printf("\n");
    return 0;
}

// Whether a journal a dead writer left is pending: one that stays the same
// for two seconds.  A live writer's journal changes or clears meanwhile
// (one whose change takes longer is waited for, up to a minute); taking
// the lock from a dead writer would roll the journal back, which a check
// must not do.  Its entries in *entries.
bool dead_journal(qelrt_db_t *db, uint64_t *entries) {
    uint64_t last = 0;
    if (!qelrt_db_journal_state(db, &last)) return false;
    for (int still = 0, waited = 0; waited < 1200; ++waited) {
        usleep(50000);
        uint64_t now = 0;
        if (!qelrt_db_journal_state(db, &now)) return false;
        still = now == last ? still + 1 : 0;
        last = now;
        if (still == 40) break;
    }
    *entries = last;
    return true;
}

int check_attached(const DbArgs &a, SharedDb &db) {
    CheckReport r;
    uint64_t entries = 0;
    if (dead_journal(db.db(), &entries)) {
        r.findings.push_back("journal of " + std::to_string(entries) + (entries == 1 ? " entry" : " entries") +
                             " pending: run lomari db recover");
        return report(a, r);
    }
    {
        DbLock lock(db.db());
        if (lock.code()) return db_fail(a, a.pos[0], qelrt_db_error_detail());
        r = check_database(db.db(), db.h());
    }
    return report(a, r);
}

int db_check(const DbArgs &a) {
    SharedDb db;
    if (int st = attach(a, db)) return st;
    return check_attached(a, db);
}

int db_recover(const DbArgs &a) {
    const int rc = qelrt_db_recover(a.pos[0].c_str(), a.dir_or_null());
    if (rc == 16)
        return db_fail(a, a.pos[0],
                       "processes are attached to it; recover runs when none is (the next of them to take its "
                       "lock rolls a dead writer's journal back as well)");
    if (rc) return db_fail(a, a.pos[0], qelrt_db_error_detail());
    const char *said = qelrt_db_error_detail();
    if (said && *said) std::printf("database %s: %s\n", a.pos[0].c_str(), said);
    SharedDb db;
    if (int st = attach(a, db)) return st;
    return check_attached(a, db);
}

}  // namespace

int cmd_db(const std::vector<std::string> &args) {
    if (args.empty()) return usage_error(kDbUsage, "db needs a command: create, ls, dump, load, check, recover or rm");
    for (const auto &x : args)
        if (x == "--help" || x == "-h") return std::fputs(kDbUsage, stdout), 0;
    DbArgs a;
    a.sub = args[0];
    struct Sub {
        const char *name;
        size_t min, max;  // operands
        int (*run)(const DbArgs &);
    };
    static const Sub subs[] = {{"create", 1, 1, db_create}, {"ls", 1, 1, db_ls}, {"dump", 2, 2, db_dump},
                               {"load", 1, 2, db_load},     {"check", 1, 1, db_check},
                               {"recover", 1, 1, db_recover}, {"rm", 1, 1, db_rm}};
    const Sub *sub = nullptr;
    for (const Sub &s : subs)
        if (a.sub == s.name) sub = &s;
    if (!sub) return usage_error(kDbUsage, "unknown db command '" + a.sub + "'");
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &o = args[i];
        const bool valued = o == "--dir" || o == "--size" || o == "--mode" || o == "--format" || o == "--table";
        if (!valued) {
            if (o.size() > 1 && o[0] == '-') return usage_error(kDbUsage, "unknown option '" + o + "'");
            a.pos.push_back(o);
            continue;
        }
        if (i + 1 == args.size()) return usage_error(kDbUsage, o + " needs a value");
        const std::string &v = args[++i];
        const bool fits = o == "--dir" || (o == "--size" && a.sub == "create") ||
                          (o == "--mode" && a.sub == "create") || (o == "--format" && a.sub == "dump") ||
                          (o == "--table" && a.sub == "load");
        if (!fits) return usage_error(kDbUsage, "db " + a.sub + " takes no " + o);
        if (o == "--dir") {
            a.dir = v;
        } else if (o == "--size") {
            if (!parse_size(v, a.size)) return usage_error(kDbUsage, "--size needs a number of bytes, not '" + v + "'");
        } else if (o == "--mode") {
            char *end = nullptr;
            const unsigned long m = std::strtoul(v.c_str(), &end, 8);
            if (v.empty() || *end || m == 0 || m > 0777)
                return usage_error(kDbUsage, "--mode needs octal permission bits such as 600, not '" + v + "'");
            a.mode = uint32_t(m);
        } else if (o == "--format") {
            if (v != "text" && v != "xml" && v != "json") return usage_error(kDbUsage, "unknown format '" + v + "'");
            a.format = v;
        } else {
            if (v.empty()) return usage_error(kDbUsage, "--table needs a name");
            a.table = v;
        }
    }
    if (a.pos.size() < sub->min || a.pos.size() > sub->max)
        return usage_error(kDbUsage, "db " + a.sub + " takes " +
                                         (sub->min == sub->max ? std::to_string(sub->min) : "1 or 2") +
                                         (sub->max == 1 ? " operand (NAME)" : " operands"));
    return sub->run(a);
}

}  // namespace ltool
