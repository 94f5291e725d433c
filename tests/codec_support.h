// codec_support.h -- what the encoding, clone and comparison tests share:
// the codec entry points of any type by name, and objects of any type
// filled at random through the exported setters, lists and arrays
// included, so that one test runs over the whole schema.
#pragma once

#include <random>
#include <string>
#include <vector>

#include <cstring>

#include "fixture.h"

namespace lt::codec {

using P = qel_handle_t *;
using lomari::Kind;

// ---- raw views of an instance ------------------------------------------------

inline uint8_t *Bytes(void *o, uint32_t off = 0) { return static_cast<uint8_t *>(o) + off; }
inline uint8_t &Flags(void *o) { return Bytes(o)[10]; }
inline int8_t &Variant(void *o) { return reinterpret_cast<int8_t *>(o)[8]; }
inline uint8_t &VariantCap(void *o) { return Bytes(o)[9]; }
inline bool IsScalar(Kind k) { return k == Kind::U8 || k == Kind::U16 || k == Kind::U32; }
inline uint32_t Raw(void *o, const FieldDesc &f) {
    const uint8_t *p = Bytes(o, f.offset);
    uint32_t v = 0;
    switch (f.kind) {
    case Kind::U8: return *p;
    case Kind::U16: { uint16_t s; std::memcpy(&s, p, 2); return s; }
    case Kind::Enum: std::memcpy(&v, p + 12, 4); return v;
    default: std::memcpy(&v, p, 4); return v;
    }
}
inline std::vector<const TypeDesc *> TypesWith(bool (*pred)(const TypeDesc &)) {
    std::vector<const TypeDesc *> v;
    for (const auto &t : kTypes)
        if (pred(t)) v.push_back(&t);
    return v;
}
inline bool HasKind(const TypeDesc &t, Kind k) {
    for (unsigned i = 0; i < t.nfields; ++i)
        if (t.fields[i].kind == k) return true;
    return false;
}

// Life and field access of one structured type, by name.
struct Obj {
    const TypeDesc &t;

    void *Create(P h, uint32_t db) const { return Api<void *(P, uint32_t)>(t.name, "create")(h, db); }
    void Destroy(P h, uint32_t db, void *o) const { Api<void(P, uint32_t, void *)>(t.name, "destroy")(h, db, o); }
    std::string Op(const FieldDesc &f, const char *op) const { return std::string(f.name) + "_" + op; }
    void SetValue(P h, uint32_t db, void *o, const FieldDesc &f, uint32_t v, uint32_t *err) const {
        switch (f.kind) {
        case Kind::U8: Api<void(P, uint32_t, void *, uint8_t, uint32_t *)>(t.name, Op(f, "set_value"))(h, db, o, uint8_t(v), err); break;
        case Kind::U16: Api<void(P, uint32_t, void *, uint16_t, uint32_t *)>(t.name, Op(f, "set_value"))(h, db, o, uint16_t(v), err); break;
        default: Api<void(P, uint32_t, void *, uint32_t, uint32_t *)>(t.name, Op(f, "set_value"))(h, db, o, v, err);
        }
    }
    uint8_t StateGet(P h, uint32_t db, void *o, const FieldDesc &f, uint32_t *err) const {
        return Api<uint8_t(P, uint32_t, void *, uint32_t *)>(t.name, Op(f, "state_flag_get"))(h, db, o, err);
    }
    void StateSet(P h, uint32_t db, void *o, const FieldDesc &f, uint8_t v, uint32_t *err) const {
        Api<void(P, uint32_t, void *, uint8_t, uint32_t *)>(t.name, Op(f, "state_flag_set"))(h, db, o, v, err);
    }
    void StrSet(P h, uint32_t db, void *o, const FieldDesc &f, const char *s, uint32_t n, uint32_t *err) const {
        Api<void(P, uint32_t, void *, const char *, uint32_t, uint32_t *)>(t.name, Op(f, "set"))(h, db, o, s, n, err);
    }
};

// The binary codec, comparison and hashing of one structured type.
struct Codec {
    const TypeDesc &t;

    uint32_t Len(P h, uint32_t db, const void *o) const {
        return Api<uint32_t(P, uint32_t, const void *)>(t.name, "len")(h, db, o);
    }
    uint32_t Marshal(P h, uint32_t db, uint8_t *b, const void *o, uint32_t n, uint32_t *err) const {
        return Api<uint32_t(P, uint32_t, uint8_t *, const void *, uint32_t, uint32_t *)>(t.name, "marshal")(
            h, db, b, o, n, err);
    }
    uint32_t MarshalForClone(P h, uint32_t db, uint8_t *b, const void *o, uint32_t n, uint32_t *err) const {
        return Api<uint32_t(P, uint32_t, uint8_t *, const void *, uint32_t, uint32_t *)>(
            t.name, "marshal_for_clone")(h, db, b, o, n, err);
    }
    uint32_t Unmarshal(P h, uint32_t db, const uint8_t *b, void *o, uint32_t n, uint32_t in_place,
                       uint32_t *err) const {
        return Api<uint32_t(P, uint32_t, const uint8_t *, void *, uint32_t, uint32_t, uint32_t *)>(
            t.name, "unmarshal")(h, db, b, o, n, in_place, err);
    }
    int32_t Compare(const void *a, const void *b) const {
        return Api<int32_t(const void *, const void *)>(t.name, "compare")(a, b);
    }
    uint32_t Hash(const void *o, uint32_t seed) const {
        return Api<uint32_t(const void *, uint32_t)>(t.name, "hash")(o, seed);
    }
    void CloneInternal(P h, uint32_t db, void *src, void **dst, uint8_t *b, uint32_t n, uint32_t *err) const {
        Api<void(P, uint32_t, void *, void **, uint8_t *, uint32_t, uint32_t *)>(t.name, "clone_internal")(
            h, db, src, dst, b, n, err);
    }
    void Clone(P h, uint32_t db, void *src, void **dst, uint8_t *b, uint32_t n, uint32_t *err) const {
        Api<void(P, uint32_t, void *, void **, uint8_t *, uint32_t, uint32_t *)>(t.name, "clone")(
            h, db, src, dst, b, n, err);
    }
    void *CloneCr(P h, void *src) const { return Api<void *(P, void *)>(t.name, "clone_cr")(h, src); }
};

// ---- list and array shapes of a type --------------------------------------

inline const FieldDesc *ListField(const TypeDesc &t) { return t.list_field < 0 ? nullptr : &t.fields[t.list_field]; }
inline const FieldDesc *ArrayField(const TypeDesc &t) { return t.array_field < 0 ? nullptr : &t.fields[t.array_field]; }
inline bool HasElements(const TypeDesc &t) { return t.list_field >= 0 || t.array_field >= 0; }

struct Anchor {
    void *first, *last, *owner;
    uint32_t count;
};
inline Anchor &AnchorOf(void *o, const FieldDesc &f) { return *reinterpret_cast<Anchor *>(Bytes(o, f.offset)); }
inline void *Next(const TypeDesc &e, void *el) {
    void *n;
    std::memcpy(&n, Bytes(el, e.link_off + 8), sizeof n);
    return n;
}
// The elements of a list owner, first to last.
inline std::vector<void *> Elements(void *o, const FieldDesc &f) {
    std::vector<void *> v;
    Anchor &a = AnchorOf(o, f);
    for (void *el = a.first; el && el != &a; el = Next(*f.elem, el)) v.push_back(el);
    return v;
}
inline uint32_t &PairCount(void *o, const TypeDesc &t) {
    return *reinterpret_cast<uint32_t *>(Bytes(o, t.fields[t.count_field].offset));
}
inline uint8_t *&Block(void *o, const TypeDesc &t) {
    return *reinterpret_cast<uint8_t **>(Bytes(o, t.fields[t.array_field].offset));
}

inline void ListAppend(P h, uint32_t db, const TypeDesc &t, void *o, void *el, uint32_t *err) {
    std::string n = std::string(t.name) + "_" + ListField(t)->name;
    Api<void(P, uint32_t, void *, void *, uint32_t *)>(n, "set_last")(h, db, o, el, err);
}
inline void ArraySet(P h, uint32_t db, const TypeDesc &t, void *o, uint32_t i, void *v, uint32_t *err) {
    std::string n = std::string(t.name) + "_" + ArrayField(t)->name;
    Api<void(P, uint32_t, void *, uint32_t, void *, uint32_t *)>(n, "set")(h, db, o, i, v, err);
}

// ---- random filling ------------------------------------------------------------

// Fills objects through the exported setters: every scalar and enumeration
// field, the fixed strings (random length, random characters), and `elems`
// list or array elements, each filled the same way.
class Filler {
public:
    explicit Filler(uint32_t seed) : rng_(seed) {}

    uint32_t Next() { return static_cast<uint32_t>(rng_()); }

    void Fields(P h, uint32_t db, const TypeDesc &t, void *o) {
        Obj ob{t};
        for (unsigned i = 0; i < t.nfields; ++i) {
            const FieldDesc &f = t.fields[i];
            uint32_t e = 0;
            if (IsScalar(f.kind)) {
                ob.SetValue(h, db, o, f, Next(), &e);
            } else if (f.kind == Kind::Enum) {
                ob.SetValue(h, db, o, f, Next() % f.en->bound, &e);
            } else if (f.kind == Kind::Str) {
                char s[32] = {};
                uint32_t n = Next() % 32;
                for (uint32_t k = 0; k < n; ++k) s[k] = static_cast<char>('!' + Next() % 90);
                ob.StrSet(h, db, o, f, s, n, &e);
            }
            EXPECT_EQ(e, 0u) << t.name << "." << f.name;
        }
    }

    // A new object of t, filled, with `elems` elements when t owns any.
    void *Make(P h, uint32_t db, const TypeDesc &t, uint32_t elems) {
        void *o = Obj{t}.Create(h, db);
        EXPECT_NE(o, nullptr);
        if (!o) return nullptr;
        Fill(h, db, t, o, elems);
        return o;
    }

    void Fill(P h, uint32_t db, const TypeDesc &t, void *o, uint32_t elems) {
        Fields(h, db, t, o);
        if (const FieldDesc *f = ListField(t)) {
            for (uint32_t k = 0; k < elems; ++k) {
                void *el = Make(h, db, *f->elem, 0);
                uint32_t e = 0;
                ListAppend(h, db, t, o, el, &e);
                EXPECT_EQ(e, 0u);
            }
        } else if (const FieldDesc *f = ArrayField(t)) {
            for (uint32_t k = 0; k < elems; ++k) {
                void *v = Make(h, db, *f->elem, 0);
                uint32_t e = 0;
                ArraySet(h, db, t, o, k, v, &e);
                EXPECT_EQ(e, 0u);
                Obj{*f->elem}.Destroy(h, db, v);
            }
        }
    }

private:
    std::mt19937 rng_;
};

// Bytes of an encoding, for messages.
inline std::string Hex(const uint8_t *b, uint32_t n) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (uint32_t i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += d[b[i] >> 4];
        s += d[b[i] & 15];
    }
    return s;
}

}  // namespace lt::codec
