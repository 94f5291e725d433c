// seeds.cpp -- writes the seed inputs of every fuzz target from valid
// encodings and renderings of filled objects:
//   lomari_fuzz_seeds <fuzz/corpus>
// Each target's directory gets seed-* files (tens per target); inputs kept
// from findings sit beside them under other names and are left alone.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "fuzz_common.h"
#include "record_fuzz.h"

namespace {

using namespace fz;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path g_root;

void Write(const char *target, const std::string &name, const Bytes &b) {
    fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream(dir / ("seed-" + name), std::ios::binary).write(reinterpret_cast<const char *>(b.data()), b.size());
}

// Field bytes a Fill of t with elems elements reads, with a stream of
// the given byte (strings then take that byte's length).
Bytes FillBytes(H h, U db, const TypeDesc &t, U elems, std::mt19937 &rng) {
    Bytes r(4096);
    for (uint8_t &b : r) b = uint8_t(rng() % 7);  // short strings
    Source s(r.data(), r.size());
    void *o = Fill(h, db, t, s, elems);
    Api<void(H, U, void *)>(t.name, "destroy")(h, db, o);
    r.resize(s.Consumed());
    return r;
}

void *Make(H h, U db, const TypeDesc &t, U elems, std::mt19937 &rng) {
    Bytes b = FillBytes(h, db, t, elems, rng);
    Source s(b.data(), b.size());
    return Fill(h, db, t, s, elems);
}

Bytes Encode(H h, U db, const char *name, const void *o) {
    Bytes b(Api<U(H, U, const void *)>(name, "len")(h, db, o));
    U err = 0;
    b.resize(Api<U(H, U, uint8_t *, const void *, U, U *)>(name, "marshal")(h, db, b.data(), o, U(b.size()), &err));
    return b;
}

Bytes Cat(std::initializer_list<uint8_t> head, const Bytes &a, const Bytes &b = {}) {
    Bytes r(head);
    r.insert(r.end(), a.begin(), a.end());
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

const TypeDesc &TypeNamed(const char *name) {
    for (const TypeDesc &t : lt::kTypes)
        if (std::string(t.name) == name) return t;
    std::abort();
}

// The record, key and XML seeds of one table: a record whose fields hold
// `elems` list or array elements, encoded, rendered and keyed.
void TableSeeds(H h, U db, unsigned ti, uint8_t mode, const std::string &tag, U elems, std::mt19937 &rng) {
    const recfuzz::Table &t = recfuzz::kTables[ti];
    const std::string name = t.name;
    U err = 0;
    void *r = recfuzz::op<void *(H, U, U *)>(t, "create_record")(h, db, &err);
    for (unsigned p = 0; p < t.nparts; ++p) {
        void *o = Make(h, db, TypeNamed(t.parts[p]), elems, rng);
        recfuzz::fn<void(H, U, void *, void *)>(name + "_" + t.parts[p] + "_set_field")(h, db, r, o);
    }
    const uint8_t pick = uint8_t(ti) | mode;
    Bytes b(recfuzz::op<U(H, U, void *)>(t, "table_record_len")(h, db, r));
    b.resize(recfuzz::op<U(H, U, uint8_t *, void *, U, U *)>(t, "table_record_marshal")(h, db, b.data(), r, U(b.size()), &err));
    FZ_CHECK(err == 0);
    Write("record", name + tag, Cat({pick}, b));
    Write("record", name + tag + "-in-place", Cat({uint8_t(pick | 0x80)}, b));
    Bytes k(64);
    k.resize(recfuzz::op<U(H, U, uint8_t *, void *, U, U *)>(t, "table_pkey_marshal")(h, db, k.data(), r, U(k.size()), &err));
    FZ_CHECK(err == 0);
    Write("record", name + tag + "-key", Cat({uint8_t(pick | 0x20)}, k));
    Bytes x(1 << 16);
    x.resize(recfuzz::op<U(H, U, char *, void *, U, U *)>(t, "table_record_to_xml")(
        h, db, reinterpret_cast<char *>(x.data()), r, U(x.size()), &err));
    FZ_CHECK(err == 0);
    Write("record_xml", name + tag, Cat({pick}, x));
    Write("record_xml", name + tag + "-recover", Cat({uint8_t(pick | 0x80)}, x));
    recfuzz::destroy(h, t, r);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    std::mt19937 rng(7);
    std::mt19937 rec_rng(11);  // its own stream: the other targets' seeds stay as they were
    for (bool track : {false, true}) {
        H h = qelrt_handle_new();
        if (track) qelrt_handle_set_mode(h, QEL_CHECK_TRACK);
        const U db = h->database_id;
        const uint8_t mode = track ? 0x40 : 0;
        const std::string tag = track ? "-track" : "";
        for (const TypeDesc &t : lt::kTypes) {
            const uint8_t pick = uint8_t(t.ordinal) | mode;
            const U elems = Owned(t) ? 1 + t.ordinal % 4 : 0;
            void *o = Make(h, db, t, elems, rng);
            const Bytes enc = Encode(h, db, t.name, o);
            if (!track) {
                Write("unmarshal", std::string(t.name), Cat({pick}, enc));
            } else {  // in place into an object holding another number of elements
                const U held = Owned(t) ? (elems + 2) % 8 : 0;
                Write("unmarshal", t.name + tag + "-in-place",
                      Cat({uint8_t(pick | 0x80), uint8_t(held)}, FillBytes(h, db, t, held, rng), enc));
            }
            Bytes x(1 << 16);
            U err = 0;
            x.resize(Api<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>(t.name, "to_xml")(
                h, db, t.name, reinterpret_cast<char *>(x.data()), o, U(x.size()), 0, &err));
            Write("xml", t.name + tag, Cat({pick}, x));
            Api<void(H, U, void *)>(t.name, "destroy")(h, db, o);

            // A sequence touching every operation once, then random ones.
            Bytes ops{pick};
            for (uint8_t op = 0; op < 10; ++op) {
                ops.push_back(uint8_t(op | (op % 4) << 4 | ((op + 1) % 4) << 6));
                for (int k = 0; k < 6; ++k) ops.push_back(uint8_t(rng() % 4));
            }
            Write("ops", t.name + tag, ops);
        }
        for (const lt::EnumDesc &e : lt::kEnums) {
            void *o = Api<void *(H, U)>(e.name, "create")(h, db);
            U err = 0;
            Api<void(H, U, void *, U, U *)>(e.name, "set_value")(h, db, o, e.bound - 1, &err);
            Write("unmarshal", e.name + tag, Cat({uint8_t((lomari::kTypeCount + e.ordinal) | mode)}, Encode(h, db, e.name, o)));
            Api<void(H, U, void *)>(e.name, "destroy")(h, db, o);
        }
        U k = 0;
        for (const lomari_catalogue_entry &c : lomari_catalogue) {
            if (c.kind != LOMARI_KIND_MESSAGE) continue;
            const lt::MessageDesc *m = nullptr;
            for (const lt::MessageDesc &d : lt::kMessages)
                if (std::string(d.name) == c.name) m = &d;
            FZ_CHECK(m);
            void *msg = Api<void *(H, U)>(m->full_name, "create_shallow")(h, db);
            void *body = Make(h, db, *m->body, 2, rng);
            U err = 0;
            Api<void(H, U, void *, void *, U *)>(m->full_name, std::string(m->body->name) + "_set")(h, db, msg, body, &err);
            Bytes b(1 << 16);
            b.resize(Api<U(H, U, uint8_t *, void *, U, U *)>(m->full_name, "marshal")(h, db, b.data(), msg, U(b.size()), &err));
            FZ_CHECK(err == 0);
            Write("message", m->name + tag, Cat({uint8_t(k++ | mode)}, b));
            Api<void(H, U, void *)>(m->full_name, "destroy")(h, db, msg);
        }
        for (unsigned ti = 0; ti < std::size(recfuzz::kTables); ++ti)
            TableSeeds(h, db, ti, mode, tag, track ? 3 : 1, rec_rng);
        qelrt_handle_free(h);
    }
    return 0;
}
