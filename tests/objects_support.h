// objects_support.h -- a per-type fixture over the structured types:
// entry points reached by the type's and field's names, raw views of an
// instance, and the samples every field test writes.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fixture.h"

namespace lt {

using lomari::Kind;

inline bool Valued(const FieldDesc &f) {
    return f.kind == Kind::U8 || f.kind == Kind::U16 || f.kind == Kind::U32 || f.kind == Kind::Enum;
}
inline uint32_t Width(Kind k) { return k == Kind::U8 ? 1 : k == Kind::U16 ? 2 : 4; }
// Fills the field's width (enumerations: the last name), so that a write to
// the wrong place or width shows.
inline uint32_t Sample(const FieldDesc &f) {
    return f.kind == Kind::Enum ? f.en->bound - 1 : 0xDEADBEEFu & (~0u >> (32 - 8 * Width(f.kind)));
}
inline uint8_t *Bytes(void *o, uint32_t off = 0) { return static_cast<uint8_t *>(o) + off; }
inline uint8_t &Flags(void *o) { return Bytes(o)[10]; }
inline int8_t &Variant(void *o) { return reinterpret_cast<int8_t *>(o)[8]; }
template <class V = void *>
inline V Word(void *o, uint32_t off) {
    V v;
    std::memcpy(&v, Bytes(o, off), sizeof v);
    return v;
}
inline qel_type_info_t *Tinfo(void *o) { return Word<qel_type_info_t *>(o, 0); }
inline uint32_t Raw(void *o, const FieldDesc &f) {
    switch (f.kind) {
    case Kind::U8: return *Bytes(o, f.offset);
    case Kind::U16: return Word<uint16_t>(o, f.offset);
    case Kind::Enum: return Word<uint32_t>(o, f.offset + 12);
    default: return Word<uint32_t>(o, f.offset);
    }
}

inline std::vector<const TypeDesc *> TypesWhere(bool (*pred)(const TypeDesc &)) {
    std::vector<const TypeDesc *> v;
    for (const auto &t : kTypes)
        if (pred(t)) v.push_back(&t);
    return v;
}

using U = uint32_t;
using Hp = qel_handle_t *;

class TypeTest : public Lomari, public ::testing::WithParamInterface<const TypeDesc *> {
protected:
    void TearDown() override {
        for (void *o : made_) Destroy(o);
        Lomari::TearDown();
    }
    const TypeDesc &T() const { return *GetParam(); }
    template <class F>
    F *Op(const std::string &op) const { return Api<F>(T().name, op); }
    template <class F>
    F *FOp(const FieldDesc &f, const char *op) const { return Op<F>(std::string(f.name) + "_" + op); }

    void *Create() { return Op<void *(Hp, U)>("create")(h, db); }
    void *Make() {  // destroyed by the fixture
        made_.push_back(Create());
        return made_.back();
    }
    void Destroy(void *o) { Op<void(Hp, U, void *)>("destroy")(h, db, o); }
    uint32_t Get(void *o, const FieldDesc &f) {
        if (f.kind == Kind::U8) return FOp<uint8_t(Hp, U, void *, U *)>(f, "get_value")(h, db, o, &err);
        if (f.kind == Kind::U16) return FOp<uint16_t(Hp, U, void *, U *)>(f, "get_value")(h, db, o, &err);
        return FOp<U(Hp, U, void *, U *)>(f, "get_value")(h, db, o, &err);
    }
    void Set(void *o, const FieldDesc &f, uint32_t v) { FOp<void(Hp, U, void *, U, U *)>(f, "set_value")(h, db, o, v, &err); }
    void SetFrom(void *o, const FieldDesc &f, const void *src) {
        FOp<void(Hp, U, void *, const void *, U *)>(f, "set")(h, db, o, src, &err);
    }
    // Writes a field: a number, or a short text for the fixed string.
    void Write(void *o, const FieldDesc &f) {
        if (f.kind == Kind::Str)
            FOp<void(Hp, U, void *, const char *, U, U *)>(f, "set")(h, db, o, "key", 3, &err);
        else
            Set(o, f, Sample(f));
    }
    uint8_t StateGet(void *o, const FieldDesc &f) { return FOp<uint8_t(Hp, U, void *, U *)>(f, "state_flag_get")(h, db, o, &err); }
    void StateSet(void *o, const FieldDesc &f, uint8_t v) {
        FOp<void(Hp, U, void *, uint8_t, U *)>(f, "state_flag_set")(h, db, o, v, &err);
    }
    uint8_t StateByte(void *o, const FieldDesc &f) { return *Bytes(o, T().plain_size + f.state_idx); }

    // get_all / set_all: one argument per covered field.
    template <class A>
    void CallAll(const char *op, void *o, const std::vector<A> &a) {
        switch (a.size()) {
        case 1: return CallN(op, o, a, std::make_index_sequence<1>{});
        case 2: return CallN(op, o, a, std::make_index_sequence<2>{});
        case 3: return CallN(op, o, a, std::make_index_sequence<3>{});
        case 4: return CallN(op, o, a, std::make_index_sequence<4>{});
        case 5: return CallN(op, o, a, std::make_index_sequence<5>{});
        case 6: return CallN(op, o, a, std::make_index_sequence<6>{});
        case 7: return CallN(op, o, a, std::make_index_sequence<7>{});
        case 8: return CallN(op, o, a, std::make_index_sequence<8>{});
        default: ADD_FAILURE() << op << " with " << a.size() << " arguments";
        }
    }
    template <class A, size_t... I>
    void CallN(const char *op, void *o, const std::vector<A> &a, std::index_sequence<I...>) {
        Op<void(Hp, U, void *, decltype((void)I, A())..., U *)>(op)(h, db, o, a[I]..., &err);
    }

    std::vector<void *> made_;
};

}  // namespace lt
