// fixture.h -- what every library test stands on: a fresh handle per test, the schema
// description as test parameters, raw views of an instance, and the entry points of any
// type reached by name (field accessors at their field's width).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_control.h"
#include "schema_view.h"

namespace lt {

using H = qel_handle_t *;
using U = uint32_t;

// An exported entry point by name, e.g. Api<void *(qel_handle_t *, uint32_t)>("which_fp", "create").
template <class F>
F *Api(const std::string &type, const std::string &op) {
    std::string n = type + "_" + op;
    void *p = dlsym(RTLD_DEFAULT, n.c_str());
    if (!p) ADD_FAILURE() << "missing entry point " << n;
    return reinterpret_cast<F *>(p);
}

// The library's static type-info records in type-list order; one by name and kind ("type", "enum", ...).
inline std::vector<qel_type_info_t *> TypeList() {
    std::vector<qel_type_info_t *> v;
    for (qel_module_desc_t *d = qel_module_tot_root.first; d; d = d->next)
        for (qel_type_info_t *const *p = d->types; std::strcmp(d->name, "lomari") == 0 && *p; ++p) v.push_back(*p);
    return v;
}
inline qel_type_info_t *Record(const std::string &name, const std::string &kind) {
    for (qel_type_info_t *t : TypeList())
        if (name == t->name && kind == t->kind) return t;
    ADD_FAILURE() << "no record " << name << " (" << kind << ")";
    return nullptr;
}
inline qel_variant_record_t &StaticCounts(const TypeDesc &t) { return Record(t.name, "type")->varinfo->variants[0]; }

// The logged calls of one runtime function, in order.
inline std::vector<const qelrt_call_t *> Calls(const char *fn) {
    std::vector<const qelrt_call_t *> v;
    for (uint32_t i = 0; i < qelrt_call_total(); ++i)
        if (std::strcmp(qelrt_call_at(i)->fn, fn) == 0) v.push_back(qelrt_call_at(i));
    return v;
}

// A kept trace point: text, index and level.
using TracePoint = std::tuple<std::string, uint32_t, uint32_t>;
inline TracePoint TraceAt(uint32_t i) { return {qelrt_trace_at(i)->text, qelrt_trace_at(i)->index, qelrt_trace_at(i)->level}; }

// Releases the id-keyed roots a handle's key/range store keeps, so a test can count bytes before the handle goes.
inline void ReleaseIdRoots(qel_handle_t *h) {
    for (const TableDesc &t : kTables) {
        const std::string key = std::string("__qel_TBI__") + *Api<const char[33]>("table", std::string(t.name) + "_luid_text");
        if (void *root = quarl_get_key(h->alloc_ctx, key.c_str())) {
            h->free_fn(h->alloc_ctx, QEL_NO_DATABASE, root);
            quarl_set_key(h->alloc_ctx, key.c_str(), nullptr);
        }
    }
}

// ---- raw views of an instance ---------------------------------------------------

inline uint8_t *Bytes(void *o, uint32_t off = 0) { return static_cast<uint8_t *>(o) + off; }
inline uint8_t &Flags(void *o) { return Bytes(o)[10]; }
inline int8_t &Variant(void *o) { return reinterpret_cast<int8_t *>(o)[8]; }
template <class V = void *>
inline V Word(void *o, uint32_t off) {
    V v;
    std::memcpy(&v, Bytes(o, off), sizeof v);
    return v;
}
inline qel_type_info_t *&Tinfo(void *o) { return *static_cast<qel_type_info_t **>(o); }
inline qel_variant_record_t &Counts(void *o) { return Tinfo(o)->varinfo->variants[0]; }

inline bool Valued(const FieldDesc &f) {
    return f.kind == Kind::U8 || f.kind == Kind::U16 || f.kind == Kind::U32 || f.kind == Kind::Enum;
}
inline uint32_t Width(Kind k) { return k == Kind::U8 ? 1 : k == Kind::U16 ? 2 : 4; }
// Fills the field's width (enumerations: the last name), so a write to the wrong place or width shows.
inline uint32_t Sample(const FieldDesc &f) {
    return f.kind == Kind::Enum ? f.en->bound - 1 : 0xDEADBEEFu & (~0u >> (32 - 8 * Width(f.kind)));
}
// A field's value as stored (an enumeration's value sits at 12 in its instance).
inline uint32_t Raw(void *o, const FieldDesc &f) {
    switch (f.kind) {
    case Kind::U8: return *Bytes(o, f.offset);
    case Kind::U16: return Word<uint16_t>(o, f.offset);
    case Kind::Enum: return Word<uint32_t>(o, f.offset + 12);
    default: return Word<uint32_t>(o, f.offset);
    }
}

// ---- entry points of one structured type -----------------------------------------

struct Ty {
    const TypeDesc &t;

    template <class F>
    F *Op(const std::string &op) const { return Api<F>(t.name, op); }
    template <class F>
    F *FOp(const FieldDesc &f, const char *op) const { return Op<F>(std::string(f.name) + "_" + op); }

    void *Create(H h, U db) const { return Op<void *(H, U)>("create")(h, db); }
    void Destroy(H h, U db, void *o) const { Op<void(H, U, void *)>("destroy")(h, db, o); }
    void Set(H h, U db, void *dst, void *src, U *err) const { Op<void(H, U, void *, void *, U *)>("set")(h, db, dst, src, err); }
    U Get(H h, U db, void *o, const FieldDesc &f, U *err) const {
        auto get = [&](auto w) -> U { return FOp<decltype(w)(H, U, void *, U *)>(f, "get_value")(h, db, o, err); };
        return f.kind == Kind::U8 ? get(uint8_t()) : f.kind == Kind::U16 ? get(uint16_t()) : get(U());
    }
    void SetValue(H h, U db, void *o, const FieldDesc &f, U v, U *err) const {
        auto set = [&](auto w) { FOp<void(H, U, void *, decltype(w), U *)>(f, "set_value")(h, db, o, decltype(w)(v), err); };
        f.kind == Kind::U8 ? set(uint8_t()) : f.kind == Kind::U16 ? set(uint16_t()) : set(U());
    }
    uint8_t StateGet(H h, U db, void *o, const FieldDesc &f, U *err) const {
        return FOp<uint8_t(H, U, void *, U *)>(f, "state_flag_get")(h, db, o, err);
    }
    void StateSet(H h, U db, void *o, const FieldDesc &f, uint8_t v, U *err) const {
        FOp<void(H, U, void *, uint8_t, U *)>(f, "state_flag_set")(h, db, o, v, err);
    }
    void StrSet(H h, U db, void *o, const FieldDesc &f, const char *s, U n, U *err) const {
        FOp<void(H, U, void *, const char *, U, U *)>(f, "set")(h, db, o, s, n, err);
    }

    // Encoding, order and copies.
    U Len(H h, U db, const void *o) const { return Op<U(H, U, const void *)>("len")(h, db, o); }
    U Marshal(H h, U db, uint8_t *b, const void *o, U n, U *err, const char *op = "marshal") const {
        return Op<U(H, U, uint8_t *, const void *, U, U *)>(op)(h, db, b, o, n, err);
    }
    U Unmarshal(H h, U db, const uint8_t *b, void *o, U n, U in_place, U *err) const {
        return Op<U(H, U, const uint8_t *, void *, U, U, U *)>("unmarshal")(h, db, b, o, n, in_place, err);
    }
    int32_t Compare(const void *a, const void *b) const { return Op<int32_t(const void *, const void *)>("compare")(a, b); }
    U Hash(const void *o, U seed) const { return Op<U(const void *, U)>("hash")(o, seed); }
    void Clone(H h, U db, void *src, void **dst, uint8_t *b, U n, U *err, const char *op = "clone") const {
        Op<void(H, U, void *, void **, uint8_t *, U, U *)>(op)(h, db, src, dst, b, n, err);
    }

    // The list or counted array the type owns, if any.
    const FieldDesc *List() const { return t.list_field < 0 ? nullptr : &t.fields[t.list_field]; }
    const FieldDesc *Array() const { return t.array_field < 0 ? nullptr : &t.fields[t.array_field]; }
    const FieldDesc *Owned() const { return List() ? List() : Array(); }
    // List elements first to last (anchor: first, last, owner, count; links: anchor, next, prev).
    std::vector<void *> Elements(void *o) const {
        std::vector<void *> v;
        void *anchor = Bytes(o, List()->offset);
        for (void *el = Word(o, List()->offset); el && el != anchor; el = Word(el, List()->elem->link_off + 8)) v.push_back(el);
        return v;
    }
    uint32_t &PairCount(void *o) const { return *reinterpret_cast<uint32_t *>(Bytes(o, t.fields[t.count_field].offset)); }
    uint8_t *&Block(void *o) const { return *reinterpret_cast<uint8_t **>(Bytes(o, Array()->offset)); }
    U Count(void *o) const { return List() ? Word<uint32_t>(o, List()->offset + 24) : PairCount(o); }
};

// Objects filled at random through the exported setters, elements included.
class Filler {
public:
    explicit Filler(uint32_t seed) : rng_(seed) {}

    void *Make(H h, U db, const TypeDesc &t, U elems) {
        Ty ty{t};
        void *o = ty.Create(h, db);
        U e = 0;
        for (unsigned i = 0; i < t.nfields; ++i) {
            const FieldDesc &f = t.fields[i];
            if (Valued(f)) ty.SetValue(h, db, o, f, f.kind == Kind::Enum ? Next() % f.en->bound : Next(), &e);
            if (f.kind == Kind::Str) {
                char s[32] = {};
                U n = Next() % 32;
                for (U k = 0; k < n; ++k) s[k] = char('!' + Next() % 90);
                ty.StrSet(h, db, o, f, s, n, &e);
            }
        }
        for (U k = 0; ty.Owned() && k < elems; ++k) {
            void *el = Make(h, db, *ty.Owned()->elem, 0);
            std::string n = std::string(t.name) + "_" + ty.Owned()->name;
            if (ty.List()) {
                Api<void(H, U, void *, void *, U *)>(n, "set_last")(h, db, o, el, &e);
            } else {
                Api<void(H, U, void *, U, void *, U *)>(n, "set")(h, db, o, k, el, &e);
                Ty{*ty.Owned()->elem}.Destroy(h, db, el);
            }
        }
        EXPECT_EQ(e, 0u) << t.name;
        return o;
    }

private:
    U Next() { return U(rng_()); }
    std::mt19937 rng_;
};

// ---- fixtures ------------------------------------------------------------------------

// A fresh handle per test, every runtime knob at its default, all observations cleared.
class Lomari : public ::testing::Test {
protected:
    void SetUp() override {
        qelrt_reset();
        h = qelrt_handle_new();
        db = h->database_id;
    }
    void TearDown() override {
        qelrt_handle_free(h);
        qelrt_reset();
    }
    void Track() { qelrt_handle_set_mode(h, QEL_CHECK_TRACK); }
    void Plain() { qelrt_handle_set_mode(h, QEL_CHECK_PLAIN); }
    static uint32_t Traced(const char *needle) { return qelrt_trace_find(needle); }
    uint32_t Err() { return std::exchange(err, 0); }  // the error word, cleared for the next call

    qel_handle_t *h = nullptr;
    uint32_t db = 0;
    uint32_t err = 0;
};

// An entry point run on its subject (size bytes from its address): run(subject or null, error word).
struct Refusal {
    std::string what;
    void *subject;
    uint32_t size;
    std::function<void(void *, U *)> run;
    U on_null;     // the code a null subject gets (0: not tried)
    bool variant;  // refused with 43 when the domain refuses the variant
};

// One structured type per test, its entry points bound to the test's handle; Make()'s objects die with it.
class TypeTest : public Lomari, public ::testing::WithParamInterface<const TypeDesc *> {
protected:
    void TearDown() override {
        for (void *o : made_) Destroy(o);
        Lomari::TearDown();
    }
    const TypeDesc &T() const { return *GetParam(); }
    template <class F>
    F *Op(const std::string &op) const { return ty.Op<F>(op); }

    void *Create() { return ty.Create(h, db); }
    void *Make() { return made_.emplace_back(Create()); }
    void Destroy(void *o) { ty.Destroy(h, db, o); }
    U Get(void *o, const FieldDesc &f) { return ty.Get(h, db, o, f, &err); }
    void Set(void *o, const FieldDesc &f, U v) { ty.SetValue(h, db, o, f, v, &err); }
    uint8_t StateGet(void *o, const FieldDesc &f) { return ty.StateGet(h, db, o, f, &err); }
    void StateSet(void *o, const FieldDesc &f, uint8_t v) { ty.StateSet(h, db, o, f, v, &err); }
    uint8_t StateByte(void *o, const FieldDesc &f) { return *Bytes(o, T().plain_size + f.state_idx); }

    // A chained form run as a Refusal: the handle's error word stands in for the caller's.
    std::function<void(void *, U *)> Chained(std::function<void(void *)> f) {
        return [this, f](void *s, U *e) {
            h->err = *e;
            f(s);
            *e = std::exchange(h->err, 0);
        };
    }
    // An error present: nothing changes, nothing cleared; a null subject and a refused variant are refused.
    void ExpectRefusals(const std::vector<Refusal> &calls) {
        for (const Refusal &c : calls) {
            SCOPED_TRACE(c.what);
            const std::vector<uint8_t> before(Bytes(c.subject), Bytes(c.subject) + c.size);
            auto unchanged = [&] { return std::equal(before.begin(), before.end(), Bytes(c.subject)); };
            U e = 22;
            qelrt_calls_clear();
            qelrt_calls_log(1);
            c.run(c.subject, &e);
            qelrt_calls_log(0);
            EXPECT_EQ(std::make_tuple(e, qelrt_call_count("qel_clear_last_error"), unchanged()), std::make_tuple(22u, 0u, true));
            if (c.on_null) { e = 0; c.run(nullptr, &e); EXPECT_EQ(e, c.on_null) << "null"; }
            if (c.variant) {
                e = 0;
                qelrt_force_instance_variant(1, -1);
                c.run(c.subject, &e);
                qelrt_force_instance_variant(0, 0);
                EXPECT_EQ(std::make_pair(e, unchanged()), std::make_pair(43u, true)) << "variant";
            }
            h->err = 0;
        }
    }

    // f(track) untracked (mode plain), then tracking.
    template <class F>
    void Modes(F &&f, U plain = 0) {
        for (bool track : {false, true}) {
            SCOPED_TRACE(track ? "tracking" : "plain");
            qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : plain);
            f(track);
        }
    }

    Ty ty{*GetParam()};
    std::vector<void *> made_;
};

// Encoding, copy and order tests: a buffer, random objects, both modes, live bytes at the start.
class CodecTest : public TypeTest {
protected:
    static constexpr U kBig = 1u << 16;
    void SetUp() override {
        TypeTest::SetUp();
        live0 = qelrt_live_bytes();
    }
    U Elems() const { return ty.Owned() ? 3 : 0; }
    void *Fill(uint32_t seed, U elems) { return Filler(seed).Make(h, db, T(), elems); }
    std::vector<uint8_t> Encode(const void *o) {
        U e = 0, n = ty.Marshal(h, db, buf.data(), o, kBig, &e);
        EXPECT_EQ(e, 0u);
        return {buf.begin(), buf.begin() + n};
    }
    void ExpectNoLeak() { EXPECT_EQ(qelrt_live_bytes(), live0) << T().name; }
    std::vector<uint8_t> buf = std::vector<uint8_t>(kBig);
    int64_t live0 = 0;
};

// ---- parameters over the schema description ------------------------------------------

template <class D, size_t N>
std::vector<const D *> Each(const D (&all)[N], bool (*keep)(const D &) = nullptr) {
    std::vector<const D *> v;
    for (const D &d : all)
        if (!keep || keep(d)) v.push_back(&d);
    return v;
}
inline std::vector<const TypeDesc *> AllTypes() { return Each(kTypes); }
inline std::vector<const MessageDesc *> AllMessages() { return Each(kMessages); }
inline std::vector<const TypeDesc *> TypesWhere(bool (*keep)(const TypeDesc &)) { return Each(kTypes, keep); }
inline bool IsListOwner(const TypeDesc &t) { return t.list_field >= 0; }
inline bool IsArrayOwner(const TypeDesc &t) { return t.array_field >= 0; }

struct ParamName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P> &i) const { return i.param->name; }
};

}  // namespace lt
