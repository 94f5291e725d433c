// alloc_sweep_test.cpp -- every allocation of every allocating operation may
// fail.  One harness runs an operation once to count its allocations, then
// once per allocation with that one failing, and checks that the operation
// reports NO_MEMORY, leaves no byte and no counted object behind, and leaves
// its inputs destroyable and usable (the same operation then succeeds).
// Operations are rows over the schema, in both handle modes: a new row (a
// new family's operation) is one Row(...) line in Cases().
#include <functional>

#include "fixture.h"

namespace {

using namespace lt;

// What one run of a row works on: the handle, its inputs (made in
// prepare, outside the sweep) and everything to destroy afterwards.
struct Ctx {
    H h = nullptr;
    U db = 0;
    std::vector<void *> in;           // prepared inputs
    std::vector<uint8_t> bytes;       // a prepared encoding
    std::string text;                 // a prepared rendering
    std::vector<std::pair<std::string, void *>> owned;  // (destroy's owner name, object)

    void *Keep(const std::string &name, void *o) {
        if (o) owned.emplace_back(name, o);
        return o;
    }
    void *Make(const TypeDesc &t, U elems, uint32_t seed = 3) { return Keep(t.name, Filler(seed).Make(h, db, t, elems)); }
    void *Create(const std::string &name) { return Keep(name, Api<void *(H, U)>(name, "create")(h, db)); }
    void Cleanup() {
        for (auto it = owned.rbegin(); it != owned.rend(); ++it) Api<void(H, U, void *)>(it->first, "destroy")(h, db, it->second);
        owned.clear();
        in.clear();
    }
};

struct Case {
    std::string name;
    std::function<void(Ctx &)> prepare;
    std::function<U(Ctx &)> act;  // the error the operation reports (0: done)
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// Objects alive per the library's static counting records.
int64_t LiveObjects() {
    int64_t n = 0;
    for (qel_type_info_t *t : TypeList())
        if (t->varinfo) n += int64_t(t->varinfo->variants[0].created) - int64_t(t->varinfo->variants[0].destroyed);
    return n;
}

const FieldDesc *OwnedField(const TypeDesc &t) { return Ty{t}.Owned(); }
std::string Sub(const TypeDesc &t) { return std::string(t.name) + "_" + OwnedField(t)->name; }
U NoMemoryIfNull(const void *p) { return p ? 0 : U(LOMARI_ERR_NO_MEMORY); }

std::vector<uint8_t> Encode(Ctx &c, const std::string &name, const void *o) {
    std::vector<uint8_t> b(1 << 16);
    U e = 0;
    b.resize(Api<U(H, U, uint8_t *, const void *, U, U *)>(name, "marshal")(c.h, c.db, b.data(), o, U(b.size()), &e));
    return b;
}
std::string ToXml(Ctx &c, const TypeDesc &t, const void *o) {
    std::string x(1 << 16, '\0');
    U e = 0;
    x.resize(Api<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>(t.name, "to_xml")(
        c.h, c.db, t.name, x.data(), o, U(x.size()), 0, &e));
    return x;
}
void *MakeMessage(Ctx &c, const MessageDesc &m) {
    void *msg = c.Keep(m.full_name, Api<void *(H, U)>(m.full_name, "create_shallow")(c.h, c.db));
    U e = 0;
    Api<void(H, U, void *, void *, U *)>(m.full_name, std::string(m.body->name) + "_set")(
        c.h, c.db, msg, Filler(9).Make(c.h, c.db, *m.body, 3), &e);
    return msg;
}

std::vector<Case> Cases() {
    std::vector<Case> v;
    auto Row = [&](const std::string &name, std::function<void(Ctx &)> prepare, std::function<U(Ctx &)> act) {
        v.push_back({name, std::move(prepare), std::move(act)});
    };
    auto none = [](Ctx &) {};
    for (const TypeDesc &t : kTypes) {
        const std::string n = t.name;
        const U elems = OwnedField(t) ? 4 : 0;
        Row(n + "_create", none, [n](Ctx &c) { return NoMemoryIfNull(c.Create(n)); });
        Row(n + "_create_cr", none, [n](Ctx &c) {
            c.h->err = 0;
            void *o = Api<void *(H)>(n, "create_cr")(c.h);
            if (const U e = std::exchange(c.h->err, 0)) return e;
            c.Keep(n, o);
            return 0u;
        });
        Row(n + "_clone", [&t, elems](Ctx &c) { c.in = {c.Make(t, elems)}; }, [n](Ctx &c) {
            void *copy = nullptr;
            U e = 0;
            std::vector<uint8_t> work(1 << 16);
            Api<void(H, U, void *, void **, uint8_t *, U, U *)>(n, "clone")(c.h, c.db, c.in[0], &copy, work.data(),
                                                                          U(work.size()), &e);
            c.Keep(n, copy);
            return e;
        });
        Row(n + "_set", [&t, elems](Ctx &c) { c.in = {c.Make(t, elems / 2, 1), c.Make(t, elems, 2)}; }, [n](Ctx &c) {
            U e = 0;
            Api<void(H, U, void *, void *, U *)>(n, "set")(c.h, c.db, c.in[0], c.in[1], &e);
            return e;
        });
        // Decoding fresh, and in place into an object holding fewer and more elements.
        for (U held : {0u, 2u, 7u}) {
            if (held && !elems) continue;
            Row(n + "_unmarshal" + (held ? "_in_place_" + std::to_string(held) : ""),
                [&t, elems, held, n](Ctx &c) {
                    c.bytes = Encode(c, n, c.Make(t, elems));
                    c.in = {held ? c.Make(t, held, 5) : c.Create(n)};
                },
                [n, held](Ctx &c) {
                    U e = 0;
                    Api<U(H, U, const uint8_t *, void *, U, U, U *)>(n, "unmarshal")(c.h, c.db, c.bytes.data(), c.in[0],
                                                                                    U(c.bytes.size()), held != 0, &e);
                    return e;
                });
        }
        Row(n + "_from_xml", [&t, elems, n](Ctx &c) {
            c.text = ToXml(c, t, c.Make(t, elems));
            c.in = {c.Create(n)};
        }, [n](Ctx &c) {
            U e = 0;
            char msg[128];
            qel_xml_doc_t *d = qel_xml_parse_memory(c.h, c.text.data(), U(c.text.size()), 0, msg, sizeof msg, &e);
            if (!d) return e;
            Api<void(H, U, const char *, qel_xml_doc_t *, void *, U *, char *, U)>(n, "from_xml")(
                c.h, c.db, ("/" + n).c_str(), d, c.in[0], &e, msg, sizeof msg);
            qel_xml_doc_free(d);
            return e;
        });
        if (t.list_field >= 0) {
            const TypeDesc &el = *OwnedField(t)->elem;
            Row(n + "_append", [&t, &el](Ctx &c) { c.in = {c.Make(t, 2), Filler(4).Make(c.h, c.db, el, 0)}; },
                [&t, &el](Ctx &c) {
                    U e = 0;
                    Api<void(H, U, void *, void *, U *)>(Sub(t), "set_last")(c.h, c.db, c.in[0], c.in[1], &e);
                    if (e) return e;
                    c.in.pop_back();  // the list owns it now
                    return 0u;
                });
            // An element refused on failure stays the caller's.
            v.back().prepare = [&t, &el, p = v.back().prepare](Ctx &c) {
                p(c);
                c.Keep(el.name, c.in[1]);
            };
            v.back().act = [&el, a = v.back().act](Ctx &c) {
                const U e = a(c);
                if (!e) c.owned.pop_back();
                return e;
            };
            (void)el;
        }
        if (t.array_field >= 0) {
            const TypeDesc &el = *OwnedField(t)->elem;
            for (int form : {0, 1, 2}) {  // set; chained set copying; chained set moving
                Row(n + "_array_set_" + std::to_string(form), [&t, &el](Ctx &c) {
                    c.in = {c.Make(t, 2), c.Make(el, 0)};
                }, [&t, form](Ctx &c) {
                    U e = 0;
                    if (form == 0) Api<void(H, U, void *, U, void *, U *)>(Sub(t), "set")(c.h, c.db, c.in[0], 9, c.in[1], &e);
                    else e = Api<U(H, void *, U, void *, U)>(Sub(t), "set_cr")(c.h, c.in[0], 9, c.in[1], form == 2);
                    return e;
                });
            }
        }
    }
    for (const EnumDesc &en : kEnums) {
        const std::string n = en.name;
        Row(n + "_create", none, [n](Ctx &c) { return NoMemoryIfNull(c.Create(n)); });
        Row(n + "_unmarshal", [n](Ctx &c) { c.bytes = Encode(c, n, c.Create(n)); }, [n](Ctx &c) {
            void *o = c.Create(n);
            if (!o) return U(LOMARI_ERR_NO_MEMORY);
            U e = 0;
            Api<U(H, U, const uint8_t *, void *, U, U, U *)>(n, "unmarshal")(c.h, c.db, c.bytes.data(), o,
                                                                            U(c.bytes.size()), 0, &e);
            return e;
        });
    }
    for (const MessageDesc &m : kMessages) {
        const std::string n = m.full_name;
        Row(n + "_create", none, [n](Ctx &c) { return NoMemoryIfNull(c.Create(n)); });
        Row(n + "_unmarshal", [&m](Ctx &c) { c.bytes = Encode(c, m.full_name, MakeMessage(c, m)); }, [n](Ctx &c) {
            void *back = nullptr;
            U e = 0;
            Api<U(H, U, void **, const uint8_t *, U, U *)>(n, "unmarshal_only")(c.h, c.db, &back, c.bytes.data(),
                                                                                U(c.bytes.size()), &e);
            c.Keep(n, back);
            return e;
        });
        Row(n + "_from_xml", [&m](Ctx &c) {
            std::string x(1 << 16, '\0');
            U e = 0;
            x.resize(Api<U(H, U, char *, void *, U, U *)>(m.full_name, "to_xml")(c.h, c.db, x.data(), MakeMessage(c, m),
                                                                                U(x.size()), &e));
            c.text = x;
        }, [n](Ctx &c) {
            U e = 0;
            qel_xml_doc_t *d = qel_xml_parse_memory(c.h, c.text.data(), U(c.text.size()), 0, nullptr, 0, &e);
            if (!d) return e;
            c.Keep(n, Api<void *(H, U, qel_xml_doc_t *, U *, char *, U)>(n, "from_xml")(c.h, c.db, d, &e, nullptr, 0));
            qel_xml_doc_free(d);
            return e;
        });
    }
    return v;
}

uint64_t g_points = 0;  // failure points swept, reported at the end

class Sweep : public Lomari, public ::testing::WithParamInterface<Case> {};

TEST_P(Sweep, EveryAllocationFailureIsReportedAndLeavesNothing) {
    const Case &k = GetParam();
    for (bool track : {false, true}) {
        SCOPED_TRACE(track ? "tracking" : "plain");
        qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : 0);
        const int64_t live = qelrt_live_bytes(), objs = LiveObjects();
        Ctx c;
        c.h = h;
        c.db = db;
        k.prepare(c);
        const uint64_t before = qelrt_alloc_count();
        ASSERT_EQ(k.act(c), 0u);
        const uint64_t n = qelrt_alloc_count() - before;
        c.Cleanup();
        ASSERT_EQ(qelrt_live_bytes(), live);
        for (uint64_t at = 1; at <= n; ++at) {
            SCOPED_TRACE(at);
            k.prepare(c);
            qelrt_fail_alloc_at(at);
            const U e = k.act(c);
            qelrt_fail_alloc_at(0);
            h->err = 0;
            EXPECT_EQ(e, U(LOMARI_ERR_NO_MEMORY));
            EXPECT_EQ(k.act(c), 0u) << "inputs usable after the failure";
            h->err = 0;
            c.Cleanup();
            EXPECT_EQ(qelrt_live_bytes(), live);
            EXPECT_EQ(LiveObjects(), objs);
            if (HasFailure()) return;
        }
        g_points += n;
    }
}

INSTANTIATE_TEST_SUITE_P(Ops, Sweep, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case> &i) { return i.param.name; });

class Report : public ::testing::Environment {
    void TearDown() override {
        if (g_points) std::printf("allocation failure points swept: %llu\n", static_cast<unsigned long long>(g_points));
    }
};
const auto *g_report = ::testing::AddGlobalTestEnvironment(new Report);

}  // namespace
