// containers_support.h -- what the list and array tests need of any
// structured type: its life, its whole-object set, and the first field of
// an element as a tag that tells elements apart.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"

namespace lt::ctr {

using P = qel_handle_t *;
using lomari::Kind;

inline uint8_t *Bytes(void *o, uint32_t off = 0) { return static_cast<uint8_t *>(o) + off; }
inline uint8_t Flags(void *o) { return *Bytes(o, 10); }
inline void *Word(void *o, uint32_t off) {
    void *v;
    std::memcpy(&v, Bytes(o, off), sizeof v);
    return v;
}
inline qel_type_info_t *Tinfo(void *o) { return static_cast<qel_type_info_t *>(Word(o, 0)); }

inline std::vector<const TypeDesc *> Owners(bool lists) {
    std::vector<const TypeDesc *> v;
    for (const auto &t : kTypes)
        if ((lists ? t.list_field : t.array_field) >= 0) v.push_back(&t);
    return v;
}

struct Obj {
    const TypeDesc &t;

    void *Create(P h, uint32_t db) const { return Api<void *(P, uint32_t)>(t.name, "create")(h, db); }
    void Destroy(P h, uint32_t db, void *o) const { Api<void(P, uint32_t, void *)>(t.name, "destroy")(h, db, o); }
    void Set(P h, uint32_t db, void *dst, void *src, uint32_t *err) const {
        Api<void(P, uint32_t, void *, void *, uint32_t *)>(t.name, "set")(h, db, dst, src, err);
    }
    // The first field, read and written at its own width.
    std::string Tag(const char *op) const { return std::string(t.fields[0].name) + "_" + op; }
    void SetTag(P h, uint32_t db, void *o, uint32_t v, uint32_t *err) const {
        switch (t.fields[0].kind) {
        case Kind::U8: Api<void(P, uint32_t, void *, uint8_t, uint32_t *)>(t.name, Tag("set_value"))(h, db, o, uint8_t(v), err); break;
        case Kind::U16: Api<void(P, uint32_t, void *, uint16_t, uint32_t *)>(t.name, Tag("set_value"))(h, db, o, uint16_t(v), err); break;
        default: Api<void(P, uint32_t, void *, uint32_t, uint32_t *)>(t.name, Tag("set_value"))(h, db, o, v, err);
        }
    }
    uint32_t GetTag(P h, uint32_t db, void *o, uint32_t *err) const {
        switch (t.fields[0].kind) {
        case Kind::U8: return Api<uint8_t(P, uint32_t, void *, uint32_t *)>(t.name, Tag("get_value"))(h, db, o, err);
        case Kind::U16: return Api<uint16_t(P, uint32_t, void *, uint32_t *)>(t.name, Tag("get_value"))(h, db, o, err);
        default: return Api<uint32_t(P, uint32_t, void *, uint32_t *)>(t.name, Tag("get_value"))(h, db, o, err);
        }
    }
    uint8_t TagState(P h, uint32_t db, void *o, uint32_t *err) const {
        return Api<uint8_t(P, uint32_t, void *, uint32_t *)>(t.name, Tag("state_flag_get"))(h, db, o, err);
    }
};

}  // namespace lt::ctr
