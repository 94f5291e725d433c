// ops_fuzz.cpp -- random operation sequences on four objects of one structured type (create,
// set, append, remove, grow, clone, encode, decode, destroy).  Byte 0: the type (modulo 17) and
// tracking (0x40); then an operation byte and its arguments.  No crash or leak; decodes compare equal.
#include <vector>

#include "fuzz_common.h"

namespace {

using namespace fz;

struct Machine {
    Machine(const TypeDesc &t, H h, U db) : t(t), h(h), db(db), of(Owned(t)) {}

    template <class F>
    F *Fn(const char *op) const { return Api<F>(t.name, op); }
    template <class F>
    F *Sub(const char *op) const { return Api<F>(std::string(t.name) + "_" + of->name, op); }
    void Free(void *&o) {
        if (o) Destroy(h, db, t, o);
        o = nullptr;
    }
    void FreeElement(void *el) { Destroy(h, db, *of->elem, el); }
    void *Element(Source &s) { return Fill(h, db, *of->elem, s, 0); }

    void Step(Source &s) {
        const uint8_t op = s.Byte();
        void *&a = slot[op >> 4 & 3];
        void *&b = slot[op >> 6 & 3];
        U err = 0;
        switch (op & 15) {
        case 0: {
            const U elems = s.Byte() % 6;  // read before the fields, whatever the compiler's argument order
            Free(a);
            a = Fill(h, db, t, s, elems);
            break;
        }
        case 1:
            Free(a);
            h->err = 0;  // a chain already failed would hand out the shared null object
            a = Fn<void *(H)>("create_cr")(h);
            if (h->err) a = nullptr;
            h->err = 0;
            break;
        case 2:
            if (a) {
                SetField(h, db, t, a, t.fields[s.Byte() % t.nfields], s, &err);
            }
            break;
        case 3: {  // append, or grow the array to the given index
            if (!a || !of) break;
            void *el = Element(s);
            if (t.list_field >= 0) {
                Sub<void(H, U, void *, void *, U *)>("set_last")(h, db, a, el, &err);
                if (err) FreeElement(el);
                break;
            }
            const U at = s.Byte() % 24;
            if (s.Byte() & 1)
                Sub<void(H, U, void *, U, void *, U *)>("set")(h, db, a, at, el, &err);
            else
                Sub<U(H, void *, U, void *, U)>("set_cr")(h, a, at, el, s.Byte() & 1);
            FreeElement(el);
            break;
        }
        case 4: {  // remove one element, or all of the array's
            if (!a || !of) break;
            if (t.list_field < 0) {
                Sub<void(H, U, void *)>("remove_elements")(h, db, a);
                break;
            }
            void *el = Sub<void *(H, U, void *, U *)>("get_first")(h, db, a, &err);
            for (U k = s.Byte() % 4; el && k; --k) el = Sub<void *(H, U, void *, void *, U *)>("get_next")(h, db, a, el, &err);
            if (!el) break;
            Sub<void(H, U, void *, void *, U *)>("remove")(h, db, a, el, &err);
            if (!err) FreeElement(el);
            break;
        }
        case 5:  // clone a into b
            if (!a || &a == &b) break;
            Free(b);
            Fn<void(H, U, void *, void **, uint8_t *, U, U *)>("clone")(h, db, a, &b, work.data(), U(work.size()), &err);
            if (err) b = nullptr;
            break;
        case 6:  // whole-object set of a from b
            if (a && b) Fn<void(H, U, void *, void *, U *)>("set")(h, db, a, b, &err);
            break;
        case 7: {  // encode a, decode into b (fresh or in place) and compare
            if (!a) break;
            const U n = Fn<U(H, U, const void *)>("len")(h, db, a);
            std::vector<uint8_t> buf(n);
            const U wrote = Fn<U(H, U, uint8_t *, const void *, U, U *)>("marshal")(h, db, buf.data(), a, n, &err);
            FZ_CHECK(err == 0 && wrote <= n);
            if (&a == &b) break;
            const U in_place = b && (s.Byte() & 1);
            if (!in_place) {
                Free(b);
                b = Fn<void *(H, U)>("create")(h, db);
            }
            const U got = Fn<U(H, U, const uint8_t *, void *, U, U, U *)>("unmarshal")(h, db, buf.data(), b, wrote, in_place, &err);
            FZ_CHECK(err == 0 && got == wrote);
            FZ_CHECK(Fn<int32_t(const void *, const void *)>("compare")(a, b) == 0);
            break;
        }
        case 8: Free(a); break;
        case 9:
            if (a) Fn<void(H, void *)>("destroy_cr")(h, a);
            a = nullptr;
            break;
        default: break;
        }
    }

    const TypeDesc &t;
    H h;
    U db;
    const FieldDesc *of;
    void *slot[4] = {};
    std::vector<uint8_t> work = std::vector<uint8_t>(1 << 16);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Source s{data, size};
    const uint8_t pick = s.Byte();
    Run run(pick & 0x40);
    Machine m(lt::kTypes[pick % lomari::kTypeCount], run.h, run.db);
    for (unsigned steps = 0; s.pos < s.n && steps < 256; ++steps) m.Step(s);
    for (void *&o : m.slot) m.Free(o);
    return 0;
}
