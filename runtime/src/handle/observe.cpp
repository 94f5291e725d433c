/*
 * observe.cpp -- knobs and observations.
 *
 * Owns: the knob state and its setters (qelrt_fail_*, qelrt_set_*,
 * qelrt_force_instance_variant, qelrt_domain_refuse, qelrt_quarl_fail_at),
 * the call log and the write log (rings of the last kKeep entries under one
 * lock; totals and per-name counts keep running past that), the allocation
 * counters, and qelrt_reset.
 *
 * Fail knobs are kept as absolute attempt numbers: arming "the n-th call
 * from now" records the current attempt count plus n.
 */
#include <string_view>

#include "internal.h"
#include "qel/rt_control_db.h"

namespace qelrt {

std::atomic<bool> g_logging{false};
std::atomic<bool> g_watch{false};
std::atomic<bool> g_plain{true};
std::atomic<bool> g_quiet{true};
Knobs g_knobs;

std::atomic<uint64_t> g_alloc_count{0};
std::atomic<uint64_t> g_free_count{0};
std::atomic<int64_t> g_live_bytes{0};
std::atomic<uint64_t> g_type_alloc_count{0};
std::atomic<uint32_t> g_epoch{1};

namespace {

constexpr uint32_t kKeep = 1u << 16;

struct Logs {
    std::mutex mu;
    std::vector<qelrt_call_t> calls; /* kKeep entries once used */
    uint64_t call_total = 0;
    /* Keys are the entry points' own name literals. */
    std::unordered_map<std::string_view, uint32_t> per_name;
    std::vector<qelrt_write_t> writes;
    uint64_t write_total = 0;
};

Logs &logs() {
    static Logs *l = new Logs; /* outlives static destructors */
    return *l;
}

/* Recomputes g_watch, g_plain and g_quiet (and the handles' quiet bits)
 * after a knob or logging changed. */
void update_watch() {
    const bool logging = g_logging.load(std::memory_order_relaxed);
    bool on = logging ||
              g_knobs.fail_alloc_at.load(std::memory_order_relaxed) != 0 ||
              g_knobs.fail_alloc_from.load(std::memory_order_relaxed) != 0;
    g_watch.store(on, std::memory_order_relaxed);
    bool plain = !logging &&
                 g_knobs.domain_variant.load(std::memory_order_relaxed) == 0 &&
                 g_knobs.domain_variant_error.load(std::memory_order_relaxed) == 0 &&
                 g_knobs.force_variant_on.load(std::memory_order_relaxed) == 0;
    g_plain.store(plain, std::memory_order_relaxed);
    const bool quiet =
        plain && g_knobs.stats_create_error.load(std::memory_order_relaxed) == 0;
    g_quiet.store(quiet, std::memory_order_relaxed);
    quiet_follow();
}

/* Counts an attempt against a one-shot target. */
bool hit(std::atomic<uint64_t> &attempts, const std::atomic<uint64_t> &at) {
    uint64_t k = attempts.fetch_add(1, std::memory_order_relaxed) + 1;
    uint64_t t = at.load(std::memory_order_relaxed);
    return t != 0 && k == t;
}

uint64_t target(std::atomic<uint64_t> &attempts, uint64_t n) {
    return n ? attempts.load(std::memory_order_relaxed) + n : 0;
}

} // namespace

bool alloc_should_fail() {
    uint64_t k = g_knobs.alloc_attempts.fetch_add(1, std::memory_order_relaxed) + 1;
    uint64_t at = g_knobs.fail_alloc_at.load(std::memory_order_relaxed);
    uint64_t from = g_knobs.fail_alloc_from.load(std::memory_order_relaxed);
    return (at != 0 && k == at) || (from != 0 && k >= from);
}

bool type_alloc_should_fail() {
    return hit(g_knobs.type_alloc_attempts, g_knobs.fail_type_alloc_at);
}

bool quarl_should_fail() { return hit(g_knobs.quarl_attempts, g_knobs.quarl_fail_at); }

bool domain_refuses(const char *name) {
    if (!g_knobs.any_refused.load(std::memory_order_relaxed) || !name)
        return false;
    std::lock_guard<std::mutex> g(g_knobs.refuse_mu);
    for (const std::string &r : g_knobs.refused)
        if (r == name)
            return true;
    return false;
}

void log_call_slow(const char *fn, uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    Logs &l = logs();
    std::lock_guard<std::mutex> g(l.mu);
    if (l.calls.empty())
        l.calls.resize(kKeep);
    l.calls[l.call_total % kKeep] = qelrt_call_t{fn, {a, b, c, d}};
    ++l.call_total;
    ++l.per_name[fn];
}

void log_write_slow(void *addr, uint32_t len, uint32_t dbid, void *owner) {
    Logs &l = logs();
    std::lock_guard<std::mutex> g(l.mu);
    if (l.writes.empty())
        l.writes.resize(kKeep);
    l.writes[l.write_total % kKeep] = qelrt_write_t{addr, len, dbid, owner};
    ++l.write_total;
}

} // namespace qelrt

using namespace qelrt;

extern "C" {

/* ---- knobs ------------------------------------------------------------- */

void qelrt_fail_alloc_at(uint64_t n) {
    g_knobs.fail_alloc_at.store(target(g_knobs.alloc_attempts, n));
    update_watch();
}

void qelrt_fail_alloc_from(uint64_t n) {
    g_knobs.fail_alloc_from.store(target(g_knobs.alloc_attempts, n));
    update_watch();
}

void qelrt_fail_type_alloc_at(uint64_t n) {
    g_knobs.fail_type_alloc_at.store(target(g_knobs.type_alloc_attempts, n));
}

void qelrt_quarl_fail_at(uint64_t n) {
    g_knobs.quarl_fail_at.store(target(g_knobs.quarl_attempts, n));
}

void qelrt_set_domain_variant(int v) {
    g_knobs.domain_variant.store(v);
    update_watch();
}

void qelrt_set_domain_variant_error(uint32_t code) {
    g_knobs.domain_variant_error.store(code);
    update_watch();
}

void qelrt_force_instance_variant(int enabled, int v) {
    g_knobs.force_variant_value.store(v);
    g_knobs.force_variant_on.store(enabled != 0);
    update_watch();
}

void qelrt_domain_refuse(const char *type_name) {
    if (!type_name)
        return;
    std::lock_guard<std::mutex> g(g_knobs.refuse_mu);
    g_knobs.refused.emplace_back(type_name);
    g_knobs.any_refused.store(1);
}

void qelrt_set_oid_mapping_answer(int answer, uint32_t error) {
    g_knobs.oid_answer.store(answer);
    g_knobs.oid_error.store(error);
}

void qelrt_set_hd_mapping_answer(uint32_t error) { g_knobs.hd_answer.store(error); }
void qelrt_set_sttr_place(uint8_t *place) { g_knobs.sttr_place.store(place); }
void qelrt_set_stats_create_error(uint32_t code) {
    g_knobs.stats_create_error.store(code);
    update_watch();
}

void qelrt_reset(void) {
    msg_knobs_reset();
    qelrt_db_reset();
    g_knobs.fail_alloc_at.store(0);
    g_knobs.fail_alloc_from.store(0);
    g_knobs.fail_type_alloc_at.store(0);
    g_knobs.quarl_fail_at.store(0);
    g_knobs.domain_variant.store(0);
    g_knobs.domain_variant_error.store(0);
    g_knobs.force_variant_on.store(0);
    g_knobs.force_variant_value.store(0);
    g_knobs.oid_answer.store(1);
    g_knobs.oid_error.store(0);
    g_knobs.hd_answer.store(0);
    g_knobs.sttr_place.store(nullptr);
    g_knobs.stats_create_error.store(0);
    g_knobs.callsite_tag.store(0);
    {
        std::lock_guard<std::mutex> g(g_knobs.refuse_mu);
        g_knobs.refused.clear();
        g_knobs.any_refused.store(0);
    }
    g_logging.store(false);
    update_watch();
    hooks_follow_logging();
    qelrt_calls_clear();
    trace_reset();
    g_alloc_count.store(0);
    g_free_count.store(0);
    g_live_bytes.store(0);
    g_type_alloc_count.store(0);
    g_epoch.fetch_add(1);
}

/* ---- call and write logs ----------------------------------------------- */

void qelrt_calls_log(int on) {
    g_logging.store(on != 0);
    update_watch();
    hooks_follow_logging();
}

uint32_t qelrt_call_total(void) {
    Logs &l = logs();
    std::lock_guard<std::mutex> g(l.mu);
    return static_cast<uint32_t>(l.call_total);
}

const qelrt_call_t *qelrt_call_at(uint32_t i) {
    Logs &l = logs();
    std::lock_guard<std::mutex> g(l.mu);
    if (i >= l.call_total || l.call_total - i > kKeep)
        return nullptr;
    return &l.calls[i % kKeep];
}

uint32_t qelrt_call_count(const char *fn) {
    if (!fn)
        return 0;
    Logs &l = logs();
    std::lock_guard<std::mutex> g(l.mu);
    auto it = l.per_name.find(fn);
    return it == l.per_name.end() ? 0 : it->second;
}

void qelrt_calls_clear(void) {
    Logs &l = logs();
    std::lock_guard<std::mutex> g(l.mu);
    l.call_total = 0;
    l.per_name.clear();
    l.write_total = 0;
}

uint32_t qelrt_write_count(void) {
    Logs &l = logs();
    std::lock_guard<std::mutex> g(l.mu);
    return static_cast<uint32_t>(l.write_total);
}

const qelrt_write_t *qelrt_write_at(uint32_t i) {
    Logs &l = logs();
    std::lock_guard<std::mutex> g(l.mu);
    if (i >= l.write_total || l.write_total - i > kKeep)
        return nullptr;
    return &l.writes[i % kKeep];
}

/* ---- allocation counters ------------------------------------------------- */

uint64_t qelrt_alloc_count(void) { return g_alloc_count.load(); }
uint64_t qelrt_free_count(void) { return g_free_count.load(); }
int64_t qelrt_live_bytes(void) { return g_live_bytes.load(); }
uint64_t qelrt_type_alloc_count(void) { return g_type_alloc_count.load(); }

} // extern "C"
