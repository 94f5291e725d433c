// fuzz_common.h -- what the fuzz targets share: entry points by name, input read as choices, objects
// filled from them, records compared field by field, the leak and counter balance of each input.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lomari/lomari.h"
#include "lomari/lomari_catalogue.h"
#include "qel/rt_control.h"
#include "schema_view.h"

namespace fz {

using namespace lt;
using H = qel_handle_t *;
using U = uint32_t;

// Stops the run: a finding.
#define FZ_CHECK(c) \
    do { if (!(c)) { std::fprintf(stderr, "check failed: %s (%s:%d)\n", #c, __FILE__, __LINE__); std::abort(); } } while (0)

template <class F>
F *Api(const std::string &name, const std::string &op) {
    void *p = dlsym(RTLD_DEFAULT, (name + "_" + op).c_str());
    FZ_CHECK(p);
    return reinterpret_cast<F *>(p);
}

// The input as a stream of choices (pos: bytes read); an exhausted stream answers zeros.
struct Source {
    const uint8_t *d;
    size_t n, pos = 0;
    uint8_t Byte() { return pos < n ? d[pos++] : 0; }
    U Word() { return U(Byte()) | U(Byte()) << 8 | U(Byte()) << 16 | U(Byte()) << 24; }
};

// Sets one scalar, enumeration or string field from the stream (out-of-range values: the setter refuses).
inline void SetField(H h, U db, const TypeDesc &t, void *o, const FieldDesc &f, Source &s, U *err) {
    std::string n = std::string(t.name) + "_" + f.name;
    switch (f.kind) {
    case Kind::U8: Api<void(H, U, void *, uint8_t, U *)>(n, "set_value")(h, db, o, s.Byte(), err); break;
    case Kind::U16: Api<void(H, U, void *, uint16_t, U *)>(n, "set_value")(h, db, o, uint16_t(s.Word()), err); break;
    case Kind::U32: Api<void(H, U, void *, U, U *)>(n, "set_value")(h, db, o, s.Word(), err); break;
    case Kind::Enum: Api<void(H, U, void *, U, U *)>(n, "set_value")(h, db, o, s.Byte() % (f.en->bound + 1), err); break;
    case Kind::Str: {
        char str[80];
        U len = s.Byte() % sizeof str;
        for (U k = 0; k < len; ++k) str[k] = char(s.Byte());
        Api<void(H, U, void *, const char *, U, U *)>(n, "set")(h, db, o, str, len, err);
        break;
    }
    default: break;
    }
}

inline const FieldDesc *Owned(const TypeDesc &t) {
    return t.list_field >= 0 ? &t.fields[t.list_field] : t.array_field >= 0 ? &t.fields[t.array_field] : nullptr;
}
inline void Destroy(H h, U db, const TypeDesc &t, void *o) { Api<void(H, U, void *)>(t.name, "destroy")(h, db, o); }

// A new object, every field and `elems` list or array elements filled from the stream.
inline void *Fill(H h, U db, const TypeDesc &t, Source &s, U elems) {
    void *o = Api<void *(H, U)>(t.name, "create")(h, db);
    for (unsigned i = 0; i < t.nfields; ++i) {
        U e = 0;  // a refused value (enumerator out of range) refuses only itself
        SetField(h, db, t, o, t.fields[i], s, &e);
    }
    const FieldDesc *of = Owned(t);
    for (U k = 0; of && k < elems; ++k) {
        void *el = Fill(h, db, *of->elem, s, 0);
        std::string n = std::string(t.name) + "_" + of->name;
        U e = 0;
        if (t.list_field >= 0) {
            Api<void(H, U, void *, void *, U *)>(n, "set_last")(h, db, o, el, &e);
            if (!e) continue;
        } else {
            Api<void(H, U, void *, U, void *, U *)>(n, "set")(h, db, o, k, el, &e);
        }
        Destroy(h, db, *of->elem, el);
    }
    return o;
}

// ---- table records ------------------------------------------------------------

template <class F>
F *Op(const TableView &t, const std::string &op) { return Api<F>(t.desc->name, op); }
inline void *Field(H h, const TableView &t, unsigned p, void *r) {
    return Op<void *(H, U, void *)>(t, std::string(t.parts[p]->name) + "_get_field")(h, h->database_id, r);
}
// True when every field of a compares equal to the same field of b.
inline bool Same(H h, const TableView &t, void *a, void *b) {
    for (unsigned p = 0; p < t.nparts; ++p) {
        void *x = Field(h, t, p, a), *y = Field(h, t, p, b);
        if (!x || !y || Api<int32_t(const void *, const void *)>(t.parts[p]->name, "compare")(x, y) != 0) return false;
    }
    return true;
}
inline void DestroyRecord(H h, const TableView &t, void *r) {
    U e = 0;
    Op<void(H, U, void *, U *)>(t, "destroy_record")(h, h->database_id, r, &e);
    FZ_CHECK(e == 0);
}

// ---- one input's handle ---------------------------------------------------------

// Objects alive per the library's static counting records (variant 0: the default domain's).
inline int64_t LiveObjects() {
    int64_t n = 0;
    for (qel_module_desc_t *d = qel_module_tot_root.first; d; d = d->next)
        for (qel_type_info_t *const *p = d->types; std::strcmp(d->name, "lomari") == 0 && *p; ++p)
            if (const qel_variant_info_t *v = (*p)->varinfo) n += int64_t(v->variants[0].created) - int64_t(v->variants[0].destroyed);
    return n;
}

// A fresh handle for one input; no byte and no counted object outlives it.
class Run {
public:
    explicit Run(bool track) : h(qelrt_handle_new()), db(h->database_id) {
        static const bool quiet = (qelrt_trace_capture(0), true);  // traces would pile up over a long run
        (void)quiet;
        if (track) qelrt_handle_set_mode(h, QEL_CHECK_TRACK);
        live_ = qelrt_live_bytes();
        objs_ = LiveObjects();
    }
    ~Run() {
        FZ_CHECK(qelrt_live_bytes() == live_);
        FZ_CHECK(LiveObjects() == objs_);
        qelrt_handle_free(h);
    }
    H h;
    U db;

private:
    int64_t live_, objs_;
};

}  // namespace fz
