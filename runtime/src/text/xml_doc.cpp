/*
 * xml_doc.cpp -- parsed documents and the path readers.
 *
 * Owns: the document model over libxml2 (strict or recovering parse from
 * memory or a file, refusal of document type declarations, free), path
 * evaluation (a direct walk for the simple paths domain libraries build,
 * with the node sets of path prefixes and, per element and child name, the
 * last position found remembered per document, so that reading positions
 * 1, 2, 3, ... of a list costs one pass over its siblings; the XPath
 * engine with cached compiled expressions for anything else),
 * xml_get_element_nodecount, xml_get_element_value, and the scalar and
 * string parsers with their range checks.  Behaviour is documented in
 * qel/rt_text.h; the path knobs in qel/rt_control_text.h.
 */
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include "internal.h"
#include "qel/rt_control_text.h"
#include "qel/runtime.h"

using namespace qelrt;

namespace {

constexpr uint32_t kNoMemory = 12;
constexpr size_t kMemoMax = 1u << 15;
/* Steps of the longest path the walk answers. */
constexpr size_t kMaxSteps = 32;
/* A node set that took more nodes than this to find from its parent's is
 * remembered; a cheaper one is found again when needed (at most this many
 * nodes per step), which spares the memo one entry per list element. */
constexpr size_t kCheap = 32;
constexpr size_t kCompiledMax = 1024;

std::atomic<int> g_mode{QELRT_XML_PATH_WALK};
std::atomic<uint64_t> g_walked{0}, g_prefix_hits{0}, g_xpath{0}, g_compiled{0};

void quiet(void *, xmlErrorPtr) {}

/* libxml2 keeps its error handler per thread: silence it once per thread. */
void init_thread() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
    thread_local bool done = false;
    if (!done) {
        xmlSetStructuredErrorFunc(nullptr, quiet);
        done = true;
    }
}

struct SvHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>{}(s);
    }
};

/* Compiled XPath expressions of this thread, dropped all at once when the
 * cache is full. */
struct CompiledCache {
    std::unordered_map<std::string, xmlXPathCompExprPtr, SvHash, std::equal_to<>> map;
    void clear() {
        for (auto &kv : map)
            xmlXPathFreeCompExpr(kv.second);
        map.clear();
    }
    ~CompiledCache() { clear(); }
};
thread_local CompiledCache t_compiled;

void set_msg(char *msg, uint32_t msg_len, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
void set_msg(char *msg, uint32_t msg_len, const char *fmt, ...) {
    if (!msg || !msg_len)
        return;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, msg_len, fmt, ap);
    va_end(ap);
}

uint32_t fail(qel_handle_t *h, uint32_t code, uint32_t *err) {
    if (err)
        *err = code;
    if (code != QEL_TEXT_ABSENT)
        qel_store_err(h, code);
    return code;
}

inline long order_of(const xmlNode *n) {
    return -reinterpret_cast<intptr_t>(n->content);
}

} // namespace

/* A path, where each of its steps ends in it, the nodes it selects and
 * the number of nodes visited to find them from its parent's.  partial:
 * only the first node was looked for (a value was asked for), so nodes
 * holds that one alone. */
struct PathNodes {
    std::string key;
    size_t ends[kMaxSteps];
    size_t nsteps = 0;
    std::vector<xmlNodePtr> nodes;
    size_t cost = 0;
    bool valid = false;
    bool partial = false;
};

/* Where the last positional step under one element stopped: its pos-th
 * child of the name is node; total is the number of such children once a
 * step has run past the last of them (0: not known yet). */
struct Cursor {
    xmlNodePtr node;
    uint32_t pos;
    uint32_t total;
};

/* An element and a child name, owned (CursorKey) or looked up (CursorProbe). */
struct CursorKey {
    const xmlNode *parent;
    std::string name;
};
struct CursorProbe {
    const xmlNode *parent;
    std::string_view name;
};
struct CursorHash {
    using is_transparent = void;
    size_t operator()(const CursorProbe &k) const noexcept {
        return std::hash<std::string_view>{}(k.name) ^
               (std::hash<const void *>{}(k.parent) * 0x9E3779B97F4A7C15ull);
    }
    size_t operator()(const CursorKey &k) const noexcept { return (*this)(CursorProbe{k.parent, k.name}); }
};
struct CursorEq {
    using is_transparent = void;
    template <class A, class B>
    bool operator()(const A &a, const B &b) const noexcept {
        return a.parent == b.parent && std::string_view(a.name) == std::string_view(b.name);
    }
};

struct qel_xml_doc {
    xmlDocPtr doc = nullptr;
    xmlXPathContextPtr xpath = nullptr;
    /* The last answer and the context it was taken from: a reader asks for
     * an element, then for each of its children, so the next path usually
     * extends one of these by one step, found by comparing text. */
    PathNodes res, ctx;
    /* Node sets of paths that were costly to find, by path text. */
    std::unordered_map<std::string, std::vector<xmlNodePtr>, SvHash, std::equal_to<>> memo;
    /* Node sets of the steps between a remembered prefix and a context. */
    std::vector<xmlNodePtr> scratch[2];
    /* One cursor per element and child name asked for by position, kept
     * while the document lives: a cursor is only made for a child that
     * exists, so there are never more of them than elements. */
    std::unordered_map<CursorKey, Cursor, CursorHash, CursorEq> cursors;
};

namespace {

using NodeSet = std::vector<xmlNodePtr>;

/* One step of a simple path: a name and an optional position (0: none). */
struct Step {
    std::string_view name;
    uint32_t pos;
    size_t end; /* offset in the path just past the step */
};

/* Characters of element names in a path: letters and '_' start one;
 * digits, '-' and '.' may follow. */
constexpr unsigned char kNameStart = 1, kNameRest = 2;
struct NameChars {
    unsigned char at[256] = {};
    constexpr NameChars() {
        for (int c = 0; c < 256; ++c) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_')
                at[c] = kNameStart | kNameRest;
            else if ((c >= '0' && c <= '9') || c == '-' || c == '.')
                at[c] = kNameRest;
        }
    }
};
constexpr NameChars kNameChars;

inline bool name_char(char c, unsigned char kind) {
    return kNameChars.at[static_cast<unsigned char>(c)] & kind;
}

struct Steps {
    Step at[kMaxSteps];
    size_t n = 0;
    bool push_back(const Step &s) {
        if (n == kMaxSteps) return false;
        at[n++] = s;
        return true;
    }
    size_t size() const { return n; }
    const Step &operator[](size_t i) const { return at[i]; }
};

/* Reads the step of p that starts at i: a name and an optional "[n]";
 * false when there is none. */
bool parse_step(std::string_view p, size_t i, Step *s) {
    const size_t b = i;
    if (i >= p.size() || !name_char(p[i], kNameStart))
        return false;
    while (++i < p.size() && name_char(p[i], kNameRest)) {
    }
    *s = Step{p.substr(b, i - b), 0, 0};
    if (i < p.size() && p[i] == '[') {
        size_t d = ++i;
        uint64_t v = 0;
        while (i < p.size() && p[i] >= '0' && p[i] <= '9' && i - d < 9)
            v = v * 10 + static_cast<uint64_t>(p[i++] - '0');
        if (i == d || i >= p.size() || p[i] != ']')
            return false;
        ++i;
        if (v == 0)
            v = UINT32_MAX; /* position 0 selects nothing */
        s->pos = static_cast<uint32_t>(v);
    }
    s->end = i;
    return true;
}

/* Splits a simple path; false for anything the walk does not answer. */
bool split(std::string_view p, bool *descendant, Steps &steps) {
    size_t i = 0;
    *descendant = false;
    if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
        *descendant = true;
        i = 2;
    } else if (!p.empty() && p[0] == '/') {
        i = 1;
    } else {
        return false; /* relative: the XPath engine's context decides */
    }
    if (i >= p.size())
        return false;
    for (;;) {
        Step s;
        if (!parse_step(p, i, &s) || !steps.push_back(s))
            return false;
        i = s.end;
        if (i == p.size())
            return true;
        if (p[i] != '/' || i + 1 >= p.size() || p[i + 1] == '/')
            return false;
        ++i;
    }
}

/* An element without namespace named name (which holds no NUL). */
bool matches(const xmlNode *n, std::string_view name) {
    if (n->type != XML_ELEMENT_NODE || n->ns)
        return false;
    const char *nm = reinterpret_cast<const char *>(n->name);
    for (char c : name)
        if (*nm++ != c)
            return false;
    return *nm == '\0';
}

/* Every element named as the step under the sibling chain from n, in
 * document order; a position counts among the siblings of one chain. */
void descend(xmlNodePtr n, const Step &s, NodeSet &out) {
    uint32_t k = 0;
    for (; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE)
            continue;
        if (matches(n, s.name) && (!s.pos || ++k == s.pos))
            out.push_back(n);
        descend(n->children, s, out);
    }
}

/* The pos-th child of parent named name (pos from 1), or null; adds the
 * nodes it visits to *visited.  The search starts from the element's
 * cursor when it has one -- forward from it, backward from it when that is
 * nearer than the first child -- and leaves the cursor at the answer:
 * positions asked in turn cost one step each, and no position costs more
 * than one pass over the children. */
xmlNodePtr nth_child(qel_xml_doc *d, xmlNodePtr parent, std::string_view name, uint32_t pos,
                     size_t *visited) {
    auto it = d->cursors.find(CursorProbe{parent, name});
    xmlNodePtr from = nullptr; /* the k-th child of the name; null: none yet */
    uint32_t k = 0;
    size_t seen = 0;
    if (it != d->cursors.end()) {
        Cursor &c = it->second;
        if (pos == c.pos)
            return c.node;
        if (c.total && pos > c.total)
            return nullptr;
        if (pos < c.pos && c.pos - pos < pos) {
            k = c.pos;
            xmlNodePtr n = c.node->prev;
            for (; n; n = n->prev, ++seen)
                if (matches(n, name) && --k == pos)
                    break;
            *visited += seen;
            c.node = n; /* found: pos is at least 1 and below c.pos */
            c.pos = pos;
            return n;
        }
        if (pos > c.pos) {
            from = c.node;
            k = c.pos;
        }
    }
    xmlNodePtr last = from;
    for (xmlNodePtr n = from ? from->next : parent->children; n; n = n->next) {
        ++seen;
        if (!matches(n, name))
            continue;
        last = n;
        if (++k != pos)
            continue;
        *visited += seen;
        if (it != d->cursors.end()) {
            it->second.node = n;
            it->second.pos = pos;
        } else {
            d->cursors.emplace(CursorKey{parent, std::string(name)}, Cursor{n, pos, 0});
        }
        return n;
    }
    *visited += seen;
    /* Past the last one: k children of the name in all. */
    if (it != d->cursors.end())
        it->second.total = k;
    else if (last)
        d->cursors.emplace(CursorKey{parent, std::string(name)}, Cursor{last, k, k});
    return nullptr;
}

/* The step applied to each of the n context nodes, into out in document
 * order; the number of nodes visited.  With partial given, one context
 * node and no position, the search stops at the first node found (the
 * whole answer's first) and *partial tells whether it did. */
size_t children(qel_xml_doc *d, const xmlNodePtr *ctx, size_t n, const Step &s, NodeSet &out,
                bool *partial = nullptr) {
    size_t visited = 0;
    const bool first = partial && n == 1 && !s.pos;
    for (size_t i = 0; i < n; ++i) {
        if (s.pos) {
            if (xmlNodePtr c = nth_child(d, ctx[i], s.name, s.pos, &visited))
                out.push_back(c);
            continue;
        }
        for (xmlNodePtr c = ctx[i]->children; c; c = c->next, ++visited) {
            if (!matches(c, s.name))
                continue;
            out.push_back(c);
            if (first) {
                *partial = true;
                return visited + 2;
            }
        }
    }
    /* Nested context nodes (only after a "//" step) can interleave. */
    if (n > 1 &&
        !std::is_sorted(out.begin(), out.end(), [](const xmlNode *a, const xmlNode *b) {
            return order_of(a) < order_of(b);
        }))
        std::sort(out.begin(), out.end(), [](const xmlNode *a, const xmlNode *b) {
            return order_of(a) < order_of(b);
        });
    return visited + n;
}
size_t children(qel_xml_doc *d, const NodeSet &ctx, const Step &s, NodeSet &out,
                bool *partial = nullptr) {
    return children(d, ctx.data(), ctx.size(), s, out, partial);
}

/* The first step of a path, from the document; the nodes visited ("//":
 * counted as more than any cheap step, being the whole document). */
size_t first_step(qel_xml_doc *d, bool desc, const Step &s, NodeSet &out) {
    xmlNodePtr top = reinterpret_cast<xmlNodePtr>(d->doc);
    if (desc) {
        descend(top->children, s, out);
        return SIZE_MAX;
    }
    return children(d, &top, 1, s, out);
}

/* The nodes of the first k steps into out, from the longest remembered
 * prefix on; each prefix found that was costly to find is remembered. */
void resolve(qel_xml_doc *d, std::string_view path, bool desc, const Steps &steps, size_t k,
             NodeSet &out) {
    size_t j = k;
    const NodeSet *from = nullptr;
    for (; j > 0; --j) {
        auto it = d->memo.find(path.substr(0, steps[j - 1].end));
        if (it != d->memo.end()) {
            from = &it->second;
            break;
        }
    }
    for (int flip = 0; j < k; ++j, flip ^= 1) {
        NodeSet &next = d->scratch[flip]; /* never the one from points to */
        next.clear();
        const size_t cost = from ? children(d, *from, steps[j], next) : first_step(d, desc, steps[0], next);
        from = &next;
        if (cost > kCheap)
            from = &d->memo.emplace(std::string(path.substr(0, steps[j].end)), std::move(next))
                        .first->second;
    }
    out.assign(from->begin(), from->end());
}

/* Keeps the memo bounded: when it is full it is emptied, all but the
 * prefixes of path that end at ends[0..n) -- the contexts the next paths
 * most likely start from, which would otherwise be found again from the
 * top (for a "//" path, a walk of the whole document). */
void trim_memo(qel_xml_doc *d, std::string_view path, const size_t *ends, size_t n) {
    if (d->memo.size() <= kMemoMax)
        return;
    decltype(d->memo)::node_type keep[kMaxSteps];
    size_t kept = 0;
    for (size_t j = 0; j < n; ++j) {
        auto it = d->memo.find(path.substr(0, ends[j]));
        if (it != d->memo.end())
            keep[kept++] = d->memo.extract(it);
    }
    d->memo.clear();
    for (size_t j = 0; j < kept; ++j)
        d->memo.insert(std::move(keep[j]));
}

/* True when path is p's key followed by one more step, read into s. */
bool extends(const PathNodes &p, std::string_view path, Step *s) {
    const size_t n = p.key.size();
    return p.valid && p.nsteps < kMaxSteps && path.size() > n + 1 && path[n] == '/' &&
           path.compare(0, n, p.key) == 0 && parse_step(path, n + 1, s) && s->end == path.size();
}

/* The answer to the last step of res's path from ctx (its parent), all of
 * it or, with first, its first node (res is then partial when more may
 * follow). */
void answer(qel_xml_doc *d, const Step &last, bool first) {
    PathNodes &res = d->res;
    res.nodes.clear();
    res.partial = false;
    res.cost = children(d, d->ctx.nodes, last, res.nodes, first ? &res.partial : nullptr);
}

/* Makes a partial res whole; its parent is still ctx, which changes only
 * together with res. */
void complete(qel_xml_doc *d) {
    PathNodes &res = d->res;
    Step last;
    parse_step(res.key, res.ends[res.nsteps - 2] + 1, &last);
    answer(d, last, false);
}

/* The direct walk; false when the path is not a simple one.  The answer
 * becomes res, and its parent's nodes ctx; with first, only the first node
 * of the answer is needed. */
bool walk(qel_xml_doc *d, std::string_view path, bool first, const NodeSet **result) {
    PathNodes &res = d->res, &ctx = d->ctx;
    if (res.valid && path == res.key) {
        if (res.partial && !first)
            complete(d);
        g_walked.fetch_add(1, std::memory_order_relaxed);
        g_prefix_hits.fetch_add(1, std::memory_order_relaxed);
        *result = &res.nodes;
        return true;
    }
    /* A reader mostly asks for a child of the last context or of the last
     * answer: then only the new step is read. */
    Step last;
    if (extends(ctx, path, &last)) {
        /* the context stays */
    } else if (extends(res, path, &last)) {
        /* Going one level down: the last answer becomes the context. */
        if (res.partial)
            complete(d);
        std::swap(ctx, res);
        if (ctx.cost > kCheap) {
            trim_memo(d, ctx.key, ctx.ends, ctx.nsteps);
            d->memo.try_emplace(ctx.key, ctx.nodes);
        }
    } else {
        bool desc = false;
        Steps steps;
        if (!split(path, &desc, steps))
            return false;
        g_walked.fetch_add(1, std::memory_order_relaxed);
        const size_t n = steps.size();
        res.key.assign(path);
        for (size_t j = 0; j < n; ++j)
            res.ends[j] = steps[j].end;
        res.nsteps = n;
        res.valid = true;
        if (n > 1) {
            /* The parent becomes the context: its next children are
             * likely to be asked for next. */
            trim_memo(d, path, res.ends, n - 1);
            resolve(d, path, desc, steps, n - 1, ctx.nodes);
            ctx.key.assign(path.substr(0, steps[n - 2].end));
            std::copy_n(res.ends, n - 1, ctx.ends);
            ctx.nsteps = n - 1;
            ctx.cost = 0;
            ctx.partial = false;
            ctx.valid = true;
            answer(d, steps[n - 1], first);
        } else {
            res.nodes.clear();
            res.partial = false;
            res.cost = first_step(d, desc, steps[0], res.nodes);
        }
        *result = &res.nodes;
        return true;
    }
    g_walked.fetch_add(1, std::memory_order_relaxed);
    g_prefix_hits.fetch_add(1, std::memory_order_relaxed);
    res.key.assign(path);
    std::copy_n(ctx.ends, ctx.nsteps, res.ends);
    res.ends[ctx.nsteps] = last.end;
    res.nsteps = ctx.nsteps + 1;
    res.valid = true;
    answer(d, last, first);
    *result = &res.nodes;
    return true;
}

/* Evaluates a path; calls use(nodes, count), where with first the nodes
 * may be the first one alone.  Returns 0 or 22. */
template <class F>
uint32_t evaluate(qel_xml_doc *d, const char *path, bool first, F use) {
    int mode = g_mode.load(std::memory_order_relaxed);
    if (mode == QELRT_XML_PATH_WALK) {
        const NodeSet *ns = nullptr;
        if (walk(d, path, first, &ns)) {
            use(ns->data(), ns->size());
            return 0;
        }
    }
    init_thread();
    g_xpath.fetch_add(1, std::memory_order_relaxed);
    if (!d->xpath) {
        d->xpath = xmlXPathNewContext(d->doc);
        if (!d->xpath)
            return kNoMemory;
    }
    xmlXPathCompExprPtr comp = nullptr;
    bool cached = mode != QELRT_XML_PATH_XPATH;
    if (cached) {
        auto it = t_compiled.map.find(std::string_view(path));
        if (it != t_compiled.map.end())
            comp = it->second;
    }
    if (!comp) {
        comp = xmlXPathCompile(reinterpret_cast<const xmlChar *>(path));
        if (!comp)
            return QEL_TEXT_INVALID;
        g_compiled.fetch_add(1, std::memory_order_relaxed);
        if (cached) {
            if (t_compiled.map.size() >= kCompiledMax)
                t_compiled.clear();
            t_compiled.map.emplace(path, comp);
        }
    }
    xmlXPathObjectPtr r = xmlXPathCompiledEval(comp, d->xpath);
    if (!cached)
        xmlXPathFreeCompExpr(comp);
    if (!r)
        return QEL_TEXT_INVALID;
    uint32_t rc = 0;
    if (r->type != XPATH_NODESET)
        rc = QEL_TEXT_INVALID;
    else if (r->nodesetval)
        use(r->nodesetval->nodeTab, static_cast<size_t>(r->nodesetval->nodeNr));
    else
        use(nullptr, 0);
    xmlXPathFreeObject(r);
    return rc;
}

/* Text of the first selected node into value; 0, 2, 22 or 90. */
uint32_t value_of(qel_xml_doc *d, const char *path, char *value, uint32_t value_len) {
    xmlNodePtr first = nullptr;
    bool any = false;
    uint32_t rc = evaluate(d, path, true, [&](xmlNodePtr const *nodes, size_t n) {
        any = n > 0;
        if (any)
            first = nodes[0];
    });
    if (rc)
        return rc;
    if (!any)
        return QEL_TEXT_ABSENT;
    /* Element values are their text children; one text child (the usual
     * case) needs no copy of its own. */
    std::string joined;
    const char *text = "";
    size_t len = 0;
    xmlNodePtr c = first->type == XML_ELEMENT_NODE ? first->children : nullptr;
    if (first->type != XML_ELEMENT_NODE) {
        xmlChar *s = xmlNodeGetContent(first);
        joined = s ? reinterpret_cast<const char *>(s) : "";
        xmlFree(s);
        text = joined.c_str();
        len = joined.size();
    } else if (c && !c->next && (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)) {
        text = reinterpret_cast<const char *>(c->content);
        len = std::strlen(text);
    } else if (c) {
        xmlChar *s = xmlNodeGetContent(first);
        joined = s ? reinterpret_cast<const char *>(s) : "";
        xmlFree(s);
        text = joined.c_str();
        len = joined.size();
    }
    if (len >= QEL_XML_VALUE_MAX || len >= value_len)
        return QEL_TEXT_SHORT;
    std::memcpy(value, text, len);
    value[len] = '\0';
    return 0;
}

bool xml_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

template <class T>
uint32_t number_from_xml(const char *fn, qel_handle_t *h, uint32_t dbid, const char *path,
                         qel_xml_doc *doc, T *v, uint32_t *err, char *msg, uint32_t msg_len) {
    logc(fn, w(h), dbid, w(doc), w(v));
    if (!doc || !path || !v) {
        set_msg(msg, msg_len, "Failed xpath: %s: no document or destination",
                path ? path : "(null)");
        return fail(h, QEL_TEXT_INVALID, err);
    }
    char value[64];
    uint32_t rc = value_of(doc, path, value, sizeof value);
    if (rc == QEL_TEXT_SHORT)
        rc = QEL_TEXT_INVALID; /* longer than any number */
    if (rc) {
        if (rc != QEL_TEXT_ABSENT)
            set_msg(msg, msg_len, "Failed xpath: %s: %s", path,
                    rc == QEL_TEXT_INVALID ? "not a number or not a path" : "no value");
        return fail(h, rc, err);
    }
    const char *p = value;
    while (xml_space(*p))
        ++p;
    const char *b = p;
    uint64_t x = 0;
    bool big = false;
    while (*p >= '0' && *p <= '9') {
        x = x * 10 + static_cast<uint64_t>(*p++ - '0');
        if (x > static_cast<T>(~T{0}))
            big = true, x = static_cast<T>(~T{0}) + uint64_t{1};
    }
    const char *e = p;
    while (xml_space(*p))
        ++p;
    if (e == b || *p) {
        set_msg(msg, msg_len, "Failed xpath: %s: '%s' is not a decimal number", path, value);
        return fail(h, QEL_TEXT_INVALID, err);
    }
    if (big) {
        set_msg(msg, msg_len, "Failed xpath: %s: %.*s does not fit %u bits", path,
                int(e - b), b, unsigned(8 * sizeof(T)));
        return fail(h, QEL_TEXT_INVALID, err);
    }
    if (h && h->write_hook_fn)
        h->write_hook_fn(h, v, sizeof(T), dbid, nullptr);
    *v = static_cast<T>(x);
    if (err)
        *err = 0;
    return 0;
}

/* A well-formed document as the path readers take it; one with a document
 * type declaration is refused.  The document is freed on failure. */
qel_xml_doc_t *wrap(qel_handle_t *h, xmlDocPtr doc, char *msg, uint32_t msg_len, uint32_t *err) {
    if (doc->intSubset || doc->extSubset) {
        set_msg(msg, msg_len, "document type declarations are not accepted");
        xmlFreeDoc(doc);
        fail(h, QEL_TEXT_INVALID, err);
        return nullptr;
    }
    xmlXPathOrderDocElems(doc);
    auto *d = new (std::nothrow) qel_xml_doc;
    if (!d) {
        xmlFreeDoc(doc);
        fail(h, kNoMemory, err);
        return nullptr;
    }
    d->doc = doc;
    if (err)
        *err = 0;
    return d;
}

/* Reads a document through read (libxml2's read call on ctxt) and makes it
 * a parsed document.  A refused document is reported with the first error
 * libxml2 raised: the later ones are often its consequences ("Extra content
 * at the end of the document" after a text node too large to keep). */
template <class Read>
qel_xml_doc_t *finish_parse(qel_handle_t *h, xmlParserCtxtPtr ctxt, Read read, bool recover,
                            char *msg, uint32_t msg_len, uint32_t *err) {
    struct First {
        bool set = false;
        int line = 0;
        std::string text;
    };
    static thread_local First *first = nullptr;
    First kept;
    first = &kept;
    ctxt->sax->serror = [](void *, xmlErrorPtr e) {
        if (first && !first->set && e && e->level >= XML_ERR_ERROR && e->message) {
            first->set = true;
            first->line = e->line;
            first->text = e->message;
        }
    };
    xmlDocPtr doc = read();
    first = nullptr;
    bool bad = !doc || (!recover && !ctxt->wellFormed) || !xmlDocGetRootElement(doc);
    if (bad) {
        xmlErrorPtr e = xmlCtxtGetLastError(ctxt);
        if (kept.set)
            set_msg(msg, msg_len, "line %d: %s", kept.line, kept.text.c_str());
        else if (e && e->message)
            set_msg(msg, msg_len, "line %d: %s", e->line, e->message);
        else
            set_msg(msg, msg_len, "no root element");
        /* libxml2's messages end in a line feed. */
        if (msg && msg_len) {
            size_t n = strnlen(msg, msg_len);
            if (n && msg[n - 1] == '\n')
                msg[n - 1] = '\0';
        }
        if (doc)
            xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        fail(h, QEL_TEXT_INVALID, err);
        return nullptr;
    }
    xmlFreeParserCtxt(ctxt);
    return wrap(h, doc, msg, msg_len, err);
}

int parse_options(uint32_t flags) {
    int o = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA | XML_PARSE_COMPACT;
    if (flags & QEL_XML_RECOVER)
        o |= XML_PARSE_RECOVER;
    return o;
}

} // namespace

extern "C" {

qel_xml_doc_t *qel_xml_parse_memory(qel_handle_t *h, const char *text, uint32_t len,
                                    uint32_t flags, char *msg, uint32_t msg_len, uint32_t *err) {
    logc("qel_xml_parse_memory", w(h), w(text), len, flags);
    init_thread();
    if (!text || len > INT32_MAX) {
        set_msg(msg, msg_len, "no document text");
        fail(h, QEL_TEXT_INVALID, err);
        return nullptr;
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        fail(h, kNoMemory, err);
        return nullptr;
    }
    auto read = [&] {
        return xmlCtxtReadMemory(ctxt, text, static_cast<int>(len), nullptr, nullptr,
                                 parse_options(flags));
    };
    return finish_parse(h, ctxt, read, flags & QEL_XML_RECOVER, msg, msg_len, err);
}

qel_xml_doc_t *qel_xml_parse_file(qel_handle_t *h, const char *path, uint32_t flags, char *msg,
                                  uint32_t msg_len, uint32_t *err) {
    logc("qel_xml_parse_file", w(h), w(path), flags);
    init_thread();
    if (!path) {
        fail(h, QEL_TEXT_INVALID, err);
        return nullptr;
    }
    FILE *f = std::fopen(path, "rb");
    if (!f) {
        set_msg(msg, msg_len, "%s: cannot open", path);
        fail(h, QEL_TEXT_ABSENT, err);
        return nullptr;
    }
    std::fclose(f);
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        fail(h, kNoMemory, err);
        return nullptr;
    }
    auto read = [&] { return xmlCtxtReadFile(ctxt, path, nullptr, parse_options(flags)); };
    return finish_parse(h, ctxt, read, flags & QEL_XML_RECOVER, msg, msg_len, err);
}

qel_xml_doc_t *qel_xml_doc_adopt(qel_handle_t *h, void *xml_doc, uint32_t *err) {
    logc("qel_xml_doc_adopt", w(h), w(xml_doc));
    auto *doc = static_cast<xmlDocPtr>(xml_doc);
    if (!doc || !xmlDocGetRootElement(doc)) {
        if (doc)
            xmlFreeDoc(doc);
        fail(h, QEL_TEXT_INVALID, err);
        return nullptr;
    }
    return wrap(h, doc, nullptr, 0, err);
}

void qel_xml_doc_free(qel_xml_doc_t *doc) {
    if (!doc)
        return;
    if (doc->xpath)
        xmlXPathFreeContext(doc->xpath);
    xmlFreeDoc(doc->doc);
    delete doc;
}

uint32_t xml_get_element_nodecount(qel_handle_t *h, qel_xml_doc_t *doc, const char *path,
                                   uint32_t *count, uint32_t *err) {
    logc("xml_get_element_nodecount", w(h), w(doc), w(path));
    if (count)
        *count = 0;
    if (!doc || !path || !count)
        return fail(h, QEL_TEXT_INVALID, err);
    uint32_t rc = evaluate(doc, path, false, [&](xmlNodePtr const *, size_t n) {
        *count = static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX));
    });
    if (rc)
        return fail(h, rc, err);
    if (err)
        *err = 0;
    return 0;
}

uint32_t xml_get_element_value(qel_handle_t *h, qel_xml_doc_t *doc, const char *path,
                               char *value, uint32_t value_len, uint32_t *err) {
    logc("xml_get_element_value", w(h), w(doc), w(path), value_len);
    if (!doc || !path || !value)
        return fail(h, QEL_TEXT_INVALID, err);
    uint32_t rc = value_of(doc, path, value, value_len);
    if (rc)
        return fail(h, rc, err);
    if (err)
        *err = 0;
    return 0;
}

uint32_t u_int8_from_xml(qel_handle_t *h, uint32_t dbid, const char *path, qel_xml_doc_t *doc,
                         u_int8 *v, uint32_t *err, char *msg, uint32_t msg_len) {
    return number_from_xml("u_int8_from_xml", h, dbid, path, doc, v, err, msg, msg_len);
}
uint32_t u_int16_from_xml(qel_handle_t *h, uint32_t dbid, const char *path, qel_xml_doc_t *doc,
                          u_int16 *v, uint32_t *err, char *msg, uint32_t msg_len) {
    return number_from_xml("u_int16_from_xml", h, dbid, path, doc, v, err, msg, msg_len);
}
uint32_t u_int32_from_xml(qel_handle_t *h, uint32_t dbid, const char *path, qel_xml_doc_t *doc,
                          u_int32 *v, uint32_t *err, char *msg, uint32_t msg_len) {
    return number_from_xml("u_int32_from_xml", h, dbid, path, doc, v, err, msg, msg_len);
}

uint32_t null_string_from_xml(qel_handle_t *h, uint32_t dbid, const char *path,
                              qel_xml_doc_t *doc, char *dst, uint32_t bound, uint32_t *err,
                              char *msg, uint32_t msg_len) {
    logc("null_string_from_xml", w(h), dbid, w(doc), w(dst));
    if (!doc || !path || !dst) {
        set_msg(msg, msg_len, "Failed xpath: %s: no document or destination",
                path ? path : "(null)");
        return fail(h, QEL_TEXT_INVALID, err);
    }
    char value[QEL_XML_VALUE_MAX];
    uint32_t rc = value_of(doc, path, value, sizeof value);
    if (rc == QEL_TEXT_SHORT)
        rc = QEL_TEXT_INVALID;
    if (rc) {
        if (rc != QEL_TEXT_ABSENT)
            set_msg(msg, msg_len, "Failed xpath: %s: string value too long", path);
        return fail(h, rc, err);
    }
    /* Private-use characters U+E000..U+E0FF stand for single bytes; U+E000
     * (a NUL) would end the string early and is refused. */
    char out[QEL_XML_VALUE_MAX];
    size_t n = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(value); *p;) {
        if (p[0] == 0xEE && p[1] >= 0x80 && p[1] <= 0x83 && p[2] >= 0x80 && p[2] <= 0xBF) {
            out[n] = static_cast<char>(((p[1] & 0x03) << 6) | (p[2] & 0x3F));
            if (out[n++] == '\0') {
                set_msg(msg, msg_len, "Failed xpath: %s: NUL inside a string", path);
                return fail(h, QEL_TEXT_INVALID, err);
            }
            p += 3;
        } else {
            out[n++] = static_cast<char>(*p++);
        }
    }
    if (n > bound) {
        set_msg(msg, msg_len, "Failed xpath: %s: string longer than %u characters", path, bound);
        return fail(h, QEL_TEXT_INVALID, err);
    }
    if (h && h->write_hook_fn)
        h->write_hook_fn(h, dst, bound + 1, dbid, nullptr);
    std::memcpy(dst, out, n);
    std::memset(dst + n, 0, bound + 1 - n);
    if (err)
        *err = 0;
    return 0;
}

/* ---- knobs ------------------------------------------------------------- */

void qelrt_xml_set_path_mode(qelrt_xml_path_mode_t mode) { g_mode.store(mode); }

void qelrt_xml_stats(qelrt_xml_stats_t *out) {
    if (!out)
        return;
    out->walked = g_walked.load();
    out->prefix_hits = g_prefix_hits.load();
    out->xpath = g_xpath.load();
    out->compiled = g_compiled.load();
}

void qelrt_xml_stats_reset(void) {
    g_walked.store(0);
    g_prefix_hits.store(0);
    g_xpath.store(0);
    g_compiled.store(0);
}

} // extern "C"
