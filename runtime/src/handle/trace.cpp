/*
 * trace.cpp -- the binary trace facility, as text.
 *
 * Owns: module registration (pendra_module_init_fn, a stable non-zero id
 * per module name), the __PDf_* entries, and the capture of trace points
 * (qelrt_trace_*).  Each point is formatted at once from its table's
 * format text and kept in a ring of the last kKeep points; the count keeps
 * running past that.  A level-0 point precedes an abort by the caller, so
 * its text always goes to stderr, where death tests can match it.
 */
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

#include "internal.h"

namespace qelrt {

namespace {

constexpr uint32_t kKeep = 4096;
constexpr uint16_t kFirstModuleId = 7;
const char kUnknown[] = "<unknown trace point>";

struct TraceState {
    std::mutex mu;
    std::vector<qelrt_trace_t> ring; /* kKeep entries once used */
    uint64_t total = 0;
    bool capture = true;
    bool echo = false;
    std::map<std::string, uint16_t> modules;
};

TraceState &ts() {
    static TraceState *s = new TraceState; /* outlives static destructors */
    return *s;
}

const char *format_of(const void *tbl, uint32_t idx, uint16_t *table_no) {
    const auto *t = static_cast<const qel_trace_table_t *>(tbl);
    *table_no = t ? t->table_no : 0;
    if (!t || !t->formats || idx >= t->count)
        return nullptr;
    return t->formats[idx];
}

inline const char *nz(const char *s) { return s ? s : "(null)"; }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
void emit(const char *fn, const void *tbl, uint32_t idx, uint16_t mod,
          uint32_t lvl, ...) {
    uint16_t table_no;
    const char *fmt = format_of(tbl, idx, &table_no);
    logc(fn, table_no, idx, mod, lvl);
    qelrt_trace_t pt;
    pt.table_no = table_no;
    pt.index = idx;
    pt.module = mod;
    pt.level = lvl;
    if (fmt) {
        va_list ap;
        va_start(ap, lvl);
        std::vsnprintf(pt.text, sizeof pt.text, fmt, ap);
        va_end(ap);
    } else {
        std::snprintf(pt.text, sizeof pt.text, "%s", kUnknown);
    }
    TraceState &s = ts();
    std::lock_guard<std::mutex> g(s.mu);
    if (lvl == QEL_TL_FATAL)
        std::fprintf(stderr, "qelrt fatal: %s\n", pt.text);
    else if (s.echo)
        std::fprintf(stderr, "qelrt trace [table %u point %u level %#x]: %s\n",
                     table_no, idx, lvl, pt.text);
    if (!s.capture)
        return;
    if (s.ring.empty())
        s.ring.resize(kKeep);
    s.ring[s.total % kKeep] = pt;
    ++s.total;
}
#pragma GCC diagnostic pop

} // namespace

void trace_reset() {
    TraceState &s = ts();
    std::lock_guard<std::mutex> g(s.mu);
    s.total = 0;
    s.capture = true;
    s.echo = false;
}

} // namespace qelrt

using namespace qelrt;

extern "C" {

int pendra_module_init_fn(const char *name, uint16_t *module_id, void *state) {
    uint16_t id;
    {
        TraceState &s = ts();
        std::lock_guard<std::mutex> g(s.mu);
        auto it = s.modules.find(nz(name));
        if (it == s.modules.end())
            it = s.modules.emplace(nz(name),
                                   static_cast<uint16_t>(kFirstModuleId + s.modules.size()))
                     .first;
        id = it->second;
    }
    /* Modules read their id without a lock, from any thread. */
    if (module_id)
        __atomic_store_n(module_id, id, __ATOMIC_RELAXED);
    logc("pendra_module_init_fn", w(name), id, w(state));
    return 0;
}

void __PDf_0(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl) {
    emit("__PDf_0", tbl, idx, mod, lvl);
}
void __PDf_1(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
             const char *a) {
    emit("__PDf_1", tbl, idx, mod, lvl, nz(a));
}
void __PDf_4(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl, uint32_t a) {
    emit("__PDf_4", tbl, idx, mod, lvl, a);
}
void __PDf_11(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
              const char *a, const char *b) {
    emit("__PDf_11", tbl, idx, mod, lvl, nz(a), nz(b));
}
void __PDf_14(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
              const char *a, uint32_t b) {
    emit("__PDf_14", tbl, idx, mod, lvl, nz(a), b);
}
void __PDf_44(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
              uint32_t a, uint32_t b) {
    emit("__PDf_44", tbl, idx, mod, lvl, a, b);
}
void __PDf_111(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
               const char *a, const char *b, const char *c) {
    emit("__PDf_111", tbl, idx, mod, lvl, nz(a), nz(b), nz(c));
}
void __PDf_444(const void *tbl, uint32_t idx, uint16_t mod, uint32_t lvl,
               uint32_t a, uint32_t b, uint32_t c) {
    emit("__PDf_444", tbl, idx, mod, lvl, a, b, c);
}

void qelrt_trace_capture(int on) {
    TraceState &s = ts();
    std::lock_guard<std::mutex> g(s.mu);
    s.capture = on != 0;
}

uint32_t qelrt_trace_count(void) {
    TraceState &s = ts();
    std::lock_guard<std::mutex> g(s.mu);
    return static_cast<uint32_t>(s.total);
}

const qelrt_trace_t *qelrt_trace_at(uint32_t i) {
    TraceState &s = ts();
    std::lock_guard<std::mutex> g(s.mu);
    if (i >= s.total || s.total - i > kKeep)
        return nullptr;
    return &s.ring[i % kKeep];
}

uint32_t qelrt_trace_find(const char *needle) {
    TraceState &s = ts();
    std::lock_guard<std::mutex> g(s.mu);
    uint64_t first = s.total > kKeep ? s.total - kKeep : 0;
    uint32_t n = 0;
    for (uint64_t i = first; i < s.total; ++i)
        if (std::strstr(s.ring[i % kKeep].text, nz(needle)))
            ++n;
    return n;
}

void qelrt_trace_clear(void) {
    TraceState &s = ts();
    std::lock_guard<std::mutex> g(s.mu);
    s.total = 0;
}

void qelrt_trace_echo(int on) {
    TraceState &s = ts();
    std::lock_guard<std::mutex> g(s.mu);
    s.echo = on != 0;
}

} // extern "C"
