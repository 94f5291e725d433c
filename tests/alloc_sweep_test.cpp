// alloc_sweep_test.cpp -- each allocation of each allocating operation (rows over the
// schema, both modes) fails in turn: NO_MEMORY, nothing left behind, inputs usable.
#include <functional>

#include "fixture.h"

namespace {

using namespace lt;

// A row's run: the handle, inputs made outside the sweep, what to undo (last first).
struct Ctx {
    H h = nullptr;
    U db = 0;
    std::vector<void *> in;           // prepared inputs
    std::vector<uint8_t> bytes;       // a prepared encoding
    std::string text;                 // a prepared rendering
    std::vector<std::function<void()>> undo;

    // name_op(h, db, args..., &error word): the error.
    template <class... P, class... A>
    U Err(const std::string &name, const std::string &op, A... a) {
        U e = 0;
        Api<void(H, U, P..., U *)>(name, op)(h, db, a..., &e);
        return e;
    }
    // Released by <name>_destroy (objects, messages, keys), or by a table's
    // entry point taking an error word (records, tables).
    void *Keep(const std::string &name, void *o, const char *table_op = nullptr) {
        if (o && table_op) undo.push_back([this, name, table_op, o] { Err<void *>(name, table_op, o); });
        if (o && !table_op) undo.push_back([this, name, o] { Api<void(H, U, void *)>(name, "destroy")(h, db, o); });
        return o;
    }
    void *Make(const TypeDesc &t, U elems, uint32_t seed = 3) { return Keep(t.name, Filler(seed).Make(h, db, t, elems)); }
    void *Create(const std::string &name) { return Keep(name, Api<void *(H, U)>(name, "create")(h, db)); }
    // The encoding, or the XML rendering (types take their element's name).
    std::vector<uint8_t> Encode(const std::string &name, const void *o) {
        std::vector<uint8_t> b(1 << 16);
        U e = 0;
        b.resize(Api<U(H, U, uint8_t *, const void *, U, U *)>(name, "marshal")(h, db, b.data(), o, U(b.size()), &e));
        return b;
    }
    std::string Xml(const std::string &name, void *o, bool type = false) {
        std::string x(1 << 16, '\0');
        U e = 0;
        x.resize(type ? Api<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>(name, "to_xml")(
                            h, db, name.c_str(), x.data(), o, U(x.size()), 0, &e)
                      : Api<U(H, U, char *, void *, U, U *)>(name, "to_xml")(h, db, x.data(), o, U(x.size()), &e));
        return x;
    }
    // The prepared text parsed (its message, if any, into msg), or null with e set.
    qel_xml_doc_t *Doc(U *e, char *msg = nullptr, U room = 0) {
        return qel_xml_parse_memory(h, text.data(), U(text.size()), 0, msg, room, e);
    }
    // A handle of the run's own, same mode, range-registered, no tables or id roots yet.
    void OwnHandle() {
        const H outer = h;
        h = qelrt_handle_new();
        qelrt_handle_use_quarl(h, 1);
        qelrt_handle_set_mode(h, outer->check_record ? outer->check_record->check_state : 0);
        db = h->database_id;
        undo.push_back([this, outer] {
            qelrt_handle_free(h);  // the id-keyed roots go with it
            h = outer;
            db = h->database_id;
        });
    }
    void Cleanup() {
        for (; !undo.empty(); undo.pop_back()) undo.back()();
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

std::string Sub(const TypeDesc &t) { return std::string(t.name) + "_" + Ty{t}.Owned()->name; }
U NoMemoryIfNull(const void *p) { return p ? 0 : U(LOMARI_ERR_NO_MEMORY); }
// The error of an operation that hands out an object: a null one must say why.
U Reported(U e, const void *o) { return e || o ? e : ~0u; }

void *MakeMessage(Ctx &c, const MessageDesc &m) {
    void *msg = c.Keep(m.full_name, Api<void *(H, U)>(m.full_name, "create_shallow")(c.h, c.db));
    c.Err<void *, void *>(m.full_name, std::string(m.body->name) + "_set", msg, Filler(9).Make(c.h, c.db, *m.body, 3));
    return msg;
}
// A record with every field its table has a setter for filled.
void *MakeRecord(Ctx &c, const std::string &table, uint32_t seed, U elems) {
    void *r = c.Keep(table, Api<void *(H, U)>(table, "record_create_cr")(c.h, 0), "destroy_record");
    Filler f(seed);
    for (const TypeDesc &t : kTypes)
        if (auto set = reinterpret_cast<void (*)(H, U, void *, void *)>(
                dlsym(RTLD_DEFAULT, (table + "_" + t.name + "_set_field").c_str())))
            set(c.h, c.db, r, f.Make(c.h, c.db, t, elems));
    return r;
}
// Messages and records read from the prepared text; nothing handed out on failure.
U FromXml(Ctx &c, const std::string &name, const std::function<void(void *)> &keep) {
    U e = 0;
    qel_xml_doc_t *d = c.Doc(&e);
    if (!d) return e;
    void *o = Api<void *(H, U, qel_xml_doc_t *, U *, char *, U)>(name, "from_xml")(c.h, c.db, d, &e, nullptr, 0);
    qel_xml_doc_free(d);
    keep(o);
    EXPECT_TRUE(!e || !o) << "nothing handed out on failure";
    return e;
}
// Opens in create mode: by name (mode 0), id 5 (1) or an automatic id (2).
void *OpenTable(Ctx &c, const std::string &table, U mode) {
    void *t = Api<void *(H, U, U, const char *, uint64_t)>(table, "table_open_cr")(c.h, 0, mode, "sweep", 5);
    return c.Keep(table, t, "table_free");
}

std::vector<Case> Cases() {
    std::vector<Case> v;
    auto Row = [&](const std::string &name, std::function<void(Ctx &)> prepare, std::function<U(Ctx &)> act) {
        v.push_back({name, std::move(prepare), std::move(act)});
    };
    auto none = [](Ctx &) {};
    auto create = [&](const std::string &n) { Row(n + "_create", none, [n](Ctx &c) { return NoMemoryIfNull(c.Create(n)); }); };
    for (const TypeDesc &t : kTypes) {
        const std::string n = t.name;
        const U elems = Ty{t}.Owned() ? 4 : 0;
        create(n);
        Row(n + "_create_cr", none, [n](Ctx &c) {
            c.h->err = 0;
            void *o = Api<void *(H)>(n, "create_cr")(c.h);
            if (const U e = std::exchange(c.h->err, 0)) return e;
            c.Keep(n, o);
            return 0u;
        });
        Row(n + "_clone", [&t, elems](Ctx &c) { c.in = {c.Make(t, elems)}; }, [n](Ctx &c) {
            void *copy = nullptr;
            std::vector<uint8_t> work(1 << 16);
            const U e = c.Err<void *, void **, uint8_t *, U>(n, "clone", c.in[0], &copy, work.data(), U(work.size()));
            EXPECT_TRUE(!c.Keep(n, copy) || !e) << "nothing handed out on failure";
            return e;
        });
        Row(n + "_set", [&t, elems](Ctx &c) { c.in = {c.Make(t, elems / 2, 1), c.Make(t, elems, 2)}; },
            [n](Ctx &c) { return c.Err<void *, void *>(n, "set", c.in[0], c.in[1]); });
        // Decoding fresh, and in place into an object holding fewer and more elements.
        for (U held : {0u, 2u, 7u}) {
            if (held && !elems) continue;
            Row(n + "_unmarshal" + (held ? "_in_place_" + std::to_string(held) : ""),
                [&t, elems, held, n](Ctx &c) {
                    c.bytes = c.Encode(n, c.Make(t, elems));
                    c.in = {held ? c.Make(t, held, 5) : c.Create(n)};
                },
                [n, held](Ctx &c) {
                    return c.Err<const uint8_t *, void *, U, U>(n, "unmarshal", c.bytes.data(), c.in[0], U(c.bytes.size()),
                                                                U(held != 0));
                });
        }
        Row(n + "_from_xml", [&t, elems, n](Ctx &c) {
            c.text = c.Xml(n, c.Make(t, elems), true);
            c.in = {c.Create(n)};
        }, [n](Ctx &c) {
            U e = 0;
            char msg[128];
            qel_xml_doc_t *d = c.Doc(&e, msg, sizeof msg);
            if (!d) return e;
            Api<void(H, U, const char *, qel_xml_doc_t *, void *, U *, char *, U)>(n, "from_xml")(
                c.h, c.db, ("/" + n).c_str(), d, c.in[0], &e, msg, sizeof msg);
            qel_xml_doc_free(d);
            return e;
        });
        if (t.list_field >= 0) {
            // An element refused on failure stays the caller's.
            const TypeDesc &el = *Ty{t}.Owned()->elem;
            Row(n + "_append", [&t, &el](Ctx &c) {
                c.in = {c.Make(t, 2), c.Make(el, 0, 4)};
            }, [&t](Ctx &c) {
                const U e = c.Err<void *, void *>(Sub(t), "set_last", c.in[0], c.in[1]);
                if (!e) {
                    c.in.pop_back();  // the list owns it now
                    c.undo.pop_back();
                }
                return e;
            });
        }
        for (int form = 0; t.array_field >= 0 && form < 3; ++form) {  // set; chained set copying; chained set moving
            const TypeDesc &el = *Ty{t}.Owned()->elem;
            Row(n + "_array_set_" + std::to_string(form), [&t, &el](Ctx &c) { c.in = {c.Make(t, 2), c.Make(el, 0)}; },
                [&t, form](Ctx &c) {
                    if (form) return Api<U(H, void *, U, void *, U)>(Sub(t), "set_cr")(c.h, c.in[0], 9, c.in[1], form == 2);
                    return c.Err<void *, U, void *>(Sub(t), "set", c.in[0], U(9), c.in[1]);
                });
        }
    }
    for (const EnumDesc &en : kEnums) {
        const std::string n = en.name;
        create(n);
        Row(n + "_unmarshal", [n](Ctx &c) { c.bytes = c.Encode(n, c.Create(n)); }, [n](Ctx &c) {
            void *o = c.Create(n);
            return o ? c.Err<const uint8_t *, void *, U, U>(n, "unmarshal", c.bytes.data(), o, U(c.bytes.size()), 0u)
                     : U(LOMARI_ERR_NO_MEMORY);
        });
    }
    for (const MessageDesc &m : kMessages) {
        const std::string n = m.full_name;
        create(n);
        Row(n + "_unmarshal", [&m](Ctx &c) { c.bytes = c.Encode(m.full_name, MakeMessage(c, m)); }, [n](Ctx &c) {
            void *back = nullptr;
            const U e = c.Err<void **, const uint8_t *, U>(n, "unmarshal_only", &back, c.bytes.data(), U(c.bytes.size()));
            c.Keep(n, back);
            return e;
        });
        Row(n + "_from_xml", [&m](Ctx &c) { c.text = c.Xml(m.full_name, MakeMessage(c, m)); },
            [n](Ctx &c) { return FromXml(c, n, [&](void *o) { c.Keep(n, o); }); });
    }
    for (const TableDesc &tb : kTables) {
        const std::string n = tb.name, rec = n + "_table_record";
        // Opening by id and by automatic id also makes the id-keyed root.
        for (U mode : {0u, 1u, 2u})
            Row(n + "_table_open_cr_" + std::to_string(mode), [](Ctx &c) { c.OwnHandle(); }, [n, mode](Ctx &c) {
                void *t = OpenTable(c, n, mode);
                return Reported(std::exchange(c.h->err, 0), t);
            });
        Row(n + "_create_record", none, [n](Ctx &c) {
            U e = 0;
            void *r = Api<void *(H, U, U *)>(n, "create_record")(c.h, c.db, &e);
            // Out of memory: null, the error word as it was.
            if (!r) return e ? ~0u : U(LOMARI_ERR_NO_MEMORY);
            c.Keep(n, r, "destroy_record");
            return e;
        });
        // Chained creation hands out the null record when it cannot allocate one.
        for (U fields : {0u, 1u})
            Row(n + "_record_create_cr" + (fields ? "_with_fields" : ""), none, [n, fields](Ctx &c) {
                void *r = c.Keep(n, Api<void *(H, U)>(n, "record_create_cr")(c.h, fields), "destroy_record");
                return r ? std::exchange(c.h->err, 0) : ~0u;
            });
        Row(n + "_pkey_create", none, [n](Ctx &c) {
            return NoMemoryIfNull(c.Keep(n + "_pkey", Api<void *(H, U)>(n, "pkey_create")(c.h, c.db)));
        });
        // Nothing to allocate today: the indexes' nodes are in the record.
        Row(n + "_insert", [n](Ctx &c) {
            c.OwnHandle();
            c.in = {OpenTable(c, n, 0), MakeRecord(c, n, 6, 2)};
        }, [n](Ctx &c) { return c.Err<void *, void *>(n, "insert", c.in[0], c.in[1]); });
        // Decoding into a new record, and in place into one holding fewer elements.
        for (U in_place : {0u, 1u})
            Row(rec + "_unmarshal" + (in_place ? "_in_place" : ""), [rec, n, in_place](Ctx &c) {
                c.bytes = c.Encode(rec, MakeRecord(c, n, 7, 4));
                c.in = {in_place ? MakeRecord(c, n, 8, 2) : nullptr};
            }, [n, in_place](Ctx &c) {
                void *r = c.in[0];
                const U e = c.Err<void **, const uint8_t *, U, U>(n, "table_record_unmarshal", &r, c.bytes.data(),
                                                                  U(c.bytes.size()), in_place);
                EXPECT_TRUE(in_place || !c.Keep(n, r, "destroy_record") || !e) << "nothing handed out on failure";
                return e;
            });
        Row(n + "_table_pkey_unmarshal", [n](Ctx &c) { c.bytes = c.Encode(n + "_table_pkey", MakeRecord(c, n, 9, 0)); },
            [n](Ctx &c) {
                void *key = nullptr;
                const U e = c.Err<void **, const uint8_t *, U>(n, "table_pkey_unmarshal", &key, c.bytes.data(), U(c.bytes.size()));
                return Reported(e, c.Keep(n + "_pkey", key));
            });
        Row(rec + "_from_xml", [rec, n](Ctx &c) { c.text = c.Xml(rec, MakeRecord(c, n, 10, 4)); },
            [rec, n](Ctx &c) { return FromXml(c, rec, [&c, n](void *r) { c.Keep(n, r, "destroy_record"); }); });
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
            EXPECT_EQ(std::make_pair(qelrt_live_bytes(), LiveObjects()), std::make_pair(live, objs));
            if (HasFailure()) return;
        }
        g_points += n;
    }
}

INSTANTIATE_TEST_SUITE_P(Ops, Sweep, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case> &i) { return i.param.name; });

struct Report : ::testing::Environment {
    void TearDown() override { if (g_points) std::printf("allocation failure points swept: %llu\n", static_cast<unsigned long long>(g_points)); }
};
const auto *g_report = ::testing::AddGlobalTestEnvironment(new Report);

}  // namespace
