// seeds.cpp -- `lomari_fuzz_seeds <fuzz/corpus>` writes every target's seed-* inputs from valid
// encodings and renderings of filled objects; kept findings (other names) are left alone.
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "fuzz_common.h"

namespace {

using namespace fz;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path g_root;

// Writes head followed by the bytes of a and b as <target>/seed-<name>.
void Write(const char *target, const std::string &name, std::initializer_list<uint8_t> head, const Bytes &a,
           const Bytes &b = {}) {
    Bytes r(head);
    r.insert(r.end(), a.begin(), a.end());
    r.insert(r.end(), b.begin(), b.end());
    fs::create_directories(g_root / target);
    std::ofstream(g_root / target / ("seed-" + name), std::ios::binary).write(reinterpret_cast<const char *>(r.data()), r.size());
}

// The bytes a Fill of t with elems elements reads: small random values (short strings).
Bytes FillBytes(H h, U db, const TypeDesc &t, U elems, std::mt19937 &rng) {
    Bytes r(4096);
    for (uint8_t &b : r) b = uint8_t(rng() % 7);
    Source s{r.data(), r.size()};
    Destroy(h, db, t, Fill(h, db, t, s, elems));
    r.resize(s.pos);
    return r;
}

void *Make(H h, U db, const TypeDesc &t, U elems, std::mt19937 &rng) {
    Bytes b = FillBytes(h, db, t, elems, rng);
    Source s{b.data(), b.size()};
    return Fill(h, db, t, s, elems);
}

// The output of name_op(h, db, buffer, object, room, err) (marshal, to_xml): checked to succeed.
template <class O>
Bytes Out(H h, U db, const std::string &name, const char *op, void *o, U room = 1 << 16) {
    Bytes b(room);
    U err = 0;
    b.resize(Api<U(H, U, O *, void *, U, U *)>(name, op)(h, db, reinterpret_cast<O *>(b.data()), o, room, &err));
    FZ_CHECK(err == 0);
    return b;
}
Bytes Encode(H h, U db, const char *name, void *o) {
    return Out<uint8_t>(h, db, name, "marshal", o, Api<U(H, U, const void *)>(name, "len")(h, db, o));
}

// A table's record, key and XML seeds: a record whose fields hold `elems` elements.
void TableSeeds(H h, U db, const TableView &t, uint8_t mode, const std::string &tag, U elems, std::mt19937 &rng) {
    const std::string name = t.desc->name;
    U err = 0;
    void *r = Op<void *(H, U, U *)>(t, "create_record")(h, db, &err);
    for (unsigned p = 0; p < t.nparts; ++p)
        Op<void(H, U, void *, void *)>(t, std::string(t.parts[p]->name) + "_set_field")(h, db, r, Make(h, db, *t.parts[p], elems, rng));
    const uint8_t pick = uint8_t(t.desc->ordinal) | mode;
    const Bytes b = Out<uint8_t>(h, db, name, "table_record_marshal", r, Op<U(H, U, void *)>(t, "table_record_len")(h, db, r));
    Write("record", name + tag, {pick}, b);
    Write("record", name + tag + "-in-place", {uint8_t(pick | 0x80)}, b);
    Write("record", name + tag + "-key", {uint8_t(pick | 0x20)}, Out<uint8_t>(h, db, name, "table_pkey_marshal", r, 64));
    const Bytes x = Out<char>(h, db, name, "table_record_to_xml", r);
    Write("record_xml", name + tag, {pick}, x);
    Write("record_xml", name + tag + "-recover", {uint8_t(pick | 0x80)}, x);
    DestroyRecord(h, t, r);
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
                Write("unmarshal", t.name, {pick}, enc);
            } else {  // in place into an object holding another number of elements
                const U held = Owned(t) ? (elems + 2) % 8 : 0;
                Write("unmarshal", t.name + tag + "-in-place", {uint8_t(pick | 0x80), uint8_t(held)},
                      FillBytes(h, db, t, held, rng), enc);
            }
            Bytes x(1 << 16);
            U err = 0;
            x.resize(Api<U(H, U, const char *, char *, const void *, U, uint8_t, U *)>(t.name, "to_xml")(
                h, db, t.name, reinterpret_cast<char *>(x.data()), o, U(x.size()), 0, &err));
            Write("xml", t.name + tag, {pick}, x);
            Destroy(h, db, t, o);

            // A sequence touching every operation once, then random ones.
            Bytes ops;
            for (uint8_t op = 0; op < 10; ++op) {
                ops.push_back(uint8_t(op | (op % 4) << 4 | ((op + 1) % 4) << 6));
                for (int k = 0; k < 6; ++k) ops.push_back(uint8_t(rng() % 4));
            }
            Write("ops", t.name + tag, {pick}, ops);
        }
        for (const lt::EnumDesc &e : lt::kEnums) {
            void *o = Api<void *(H, U)>(e.name, "create")(h, db);
            U err = 0;
            Api<void(H, U, void *, U, U *)>(e.name, "set_value")(h, db, o, e.bound - 1, &err);
            Write("unmarshal", e.name + tag, {uint8_t((lomari::kTypeCount + e.ordinal) | mode)}, Encode(h, db, e.name, o));
            Api<void(H, U, void *)>(e.name, "destroy")(h, db, o);
        }
        for (const lt::MessageDesc &m : lt::kMessages) {
            void *msg = Api<void *(H, U)>(m.full_name, "create_shallow")(h, db);
            U err = 0;
            Api<void(H, U, void *, void *, U *)>(m.full_name, std::string(m.body->name) + "_set")(
                h, db, msg, Make(h, db, *m.body, 2, rng), &err);
            Write("message", m.name + tag, {uint8_t(m.ordinal | mode)}, Out<uint8_t>(h, db, m.full_name, "marshal", msg));
            Api<void(H, U, void *)>(m.full_name, "destroy")(h, db, msg);
        }
        for (const TableView &t : lt::kTableViews) TableSeeds(h, db, t, mode, tag, track ? 3 : 1, rec_rng);
        qelrt_handle_free(h);
    }
    return 0;
}
