// fixture.h -- what every library test stands on: a fresh handle per test,
// the schema description as test parameters, raw views of an instance, and
// the entry points of any type reached by name -- field accessors at the
// width of their field -- so that one test runs over the whole schema.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

// The static type-info records the library publishes through its module
// descriptor, in the order of its type list; one of them by name and kind
// ("type", "enum", "message", "table", "table_record").
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
// Fills the field's width (enumerations: the last name), so that a write to
// the wrong place or width shows.
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
        switch (f.kind) {
        case Kind::U8: return FOp<uint8_t(H, U, void *, U *)>(f, "get_value")(h, db, o, err);
        case Kind::U16: return FOp<uint16_t(H, U, void *, U *)>(f, "get_value")(h, db, o, err);
        default: return FOp<U(H, U, void *, U *)>(f, "get_value")(h, db, o, err);
        }
    }
    void SetValue(H h, U db, void *o, const FieldDesc &f, U v, U *err) const {
        switch (f.kind) {
        case Kind::U8: return FOp<void(H, U, void *, uint8_t, U *)>(f, "set_value")(h, db, o, uint8_t(v), err);
        case Kind::U16: return FOp<void(H, U, void *, uint16_t, U *)>(f, "set_value")(h, db, o, uint16_t(v), err);
        default: return FOp<void(H, U, void *, U, U *)>(f, "set_value")(h, db, o, v, err);
        }
    }
    uint8_t StateGet(H h, U db, void *o, const FieldDesc &f, U *err) const {
        return FOp<uint8_t(H, U, void *, U *)>(f, "state_flag_get")(h, db, o, err);
    }
    void StateSet(H h, U db, void *o, const FieldDesc &f, uint8_t v, U *err) const {
        FOp<void(H, U, void *, uint8_t, U *)>(f, "state_flag_set")(h, db, o, v, err);
    }
};

// ---- fixtures ------------------------------------------------------------------------

// A fresh handle per test with every runtime knob at its default and all
// observations cleared.
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

// One structured type per test: its entry points bound to the test's
// handle, database and error word; objects from Make() die with the test.
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

    Ty ty{*GetParam()};
    std::vector<void *> made_;
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
inline std::vector<const EnumDesc *> AllEnums() { return Each(kEnums); }
inline std::vector<const MessageDesc *> AllMessages() { return Each(kMessages); }
inline std::vector<const TypeDesc *> TypesWhere(bool (*keep)(const TypeDesc &)) { return Each(kTypes, keep); }
inline bool IsListOwner(const TypeDesc &t) { return t.list_field >= 0; }
inline bool IsArrayOwner(const TypeDesc &t) { return t.array_field >= 0; }
inline bool HasKind(const TypeDesc &t, Kind k) {
    for (unsigned i = 0; i < t.nfields; ++i)
        if (t.fields[i].kind == k) return true;
    return false;
}

struct ParamName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P> &i) const { return i.param->name; }
};

}  // namespace lt
