// binary_test.cpp -- the binary body encoding over every type of the
// schema: the worked which_vep encoding byte for byte, lengths and state
// allowances from the descriptors, round trips of random objects in both
// handle modes, readers of the other mode, readers that step over what a
// newer writer appended, in-place updates of lists and arrays, and bad
// input of every kind (truncation at each byte, hostile counts, a jump past
// the end, zero lengths) ending in 90 without leaks.
#include <functional>

#include "codec_support.h"

namespace lt::codec {
namespace {

constexpr uint32_t kBig = 1u << 16;

uint32_t Be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
void PutBe32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// ---- the worked example -------------------------------------------------------

class WhichVep : public Lomari {
protected:
    const TypeDesc &t = kTypes[2];
    Codec c{t};
    void *Make() {
        void *o = Obj{t}.Create(h, db);
        uint32_t e = 0;
        Obj{t}.SetValue(h, db, o, t.fields[0], 1, &e);
        Obj{t}.SetValue(h, db, o, t.fields[1], 2, &e);
        EXPECT_EQ(e, 0u);
        return o;
    }
};

TEST_F(WhichVep, PlainIsFourteenBytes) {
    ASSERT_STREQ(t.name, "which_vep");
    void *o = Make();
    uint8_t b[32];
    std::memset(b, 0xCC, sizeof b);
    EXPECT_EQ(c.Len(h, db, o), 14u);
    EXPECT_EQ(c.Marshal(h, db, b, o, sizeof b, &err), 14u);
    EXPECT_EQ(err, 0u);
    const uint8_t want[] = {0, 0, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0, 2, 0xCC};
    EXPECT_EQ(Hex(b, 15), Hex(want, 15));
    Obj{t}.Destroy(h, db, o);
}

TEST_F(WhichVep, TrackedIsSixteenBytes) {
    Track();
    void *o = Make();
    uint8_t b[32];
    std::memset(b, 0xCC, sizeof b);
    EXPECT_EQ(c.Len(h, db, o), 16u);
    EXPECT_EQ(c.Marshal(h, db, b, o, sizeof b, &err), 16u);
    EXPECT_EQ(err, 0u);
    const uint8_t want[] = {0, 8, 0, 0, 0, 14, 0, 0, 0, 1, 2, 0, 0, 0, 2, 2, 0xCC};
    EXPECT_EQ(Hex(b, 17), Hex(want, 17));

    // Fifteen bytes of room: the last state byte is left out, silently.
    std::memset(b, 0xCC, sizeof b);
    EXPECT_EQ(c.Marshal(h, db, b, o, 15, &err), 15u);
    EXPECT_EQ(err, 0u);
    const uint8_t cut[] = {0, 8, 0, 0, 0, 13, 0, 0, 0, 1, 2, 0, 0, 0, 2, 0xCC};
    EXPECT_EQ(Hex(b, 16), Hex(cut, 16));

    // ... and reads back whole, the missing state byte untouched.
    void *d = Obj{t}.Create(h, db);
    EXPECT_EQ(c.Unmarshal(h, db, b, d, 15, 0, &err), 15u);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(c.Compare(o, d), 0);
    EXPECT_EQ(Obj{t}.StateGet(h, db, d, t.fields[0], &err), 2);
    EXPECT_EQ(Obj{t}.StateGet(h, db, d, t.fields[1], &err), 0);
    EXPECT_EQ(Traced("offset_jump"), 0u);
    Obj{t}.Destroy(h, db, o);
    Obj{t}.Destroy(h, db, d);
}

// ---- every type ----------------------------------------------------------------

class Binary : public Lomari, public ::testing::WithParamInterface<const TypeDesc *> {
protected:
    const TypeDesc &t = *GetParam();
    Codec c{t};
    Obj ob{t};
    std::vector<uint8_t> buf = std::vector<uint8_t>(kBig);
    int64_t live0 = 0;

    void SetUp() override {
        Lomari::SetUp();
        live0 = qelrt_live_bytes();
    }
    uint32_t Elems() const { return HasElements(t) ? 3 : 0; }
    // Whole encoding of o.
    std::vector<uint8_t> Encode(const void *o) {
        uint32_t e = 0;
        uint32_t n = c.Marshal(h, db, buf.data(), o, kBig, &e);
        EXPECT_EQ(e, 0u);
        return {buf.begin(), buf.begin() + n};
    }
    // State bytes marshal writes for an object without elements.
    uint32_t StateBytesWritten() const {
        uint32_t n = 0;
        for (unsigned i = 0; i < t.nfields; ++i)
            if (t.fields[i].state_idx != lomari::kNoState && t.fields[i].kind != Kind::Array) ++n;
        return n;
    }
    void ExpectNoLeak() { EXPECT_EQ(qelrt_live_bytes(), live0) << t.name; }
    void Modes(const std::function<void(bool)> &f) {
        for (bool track : {false, true}) {
            SCOPED_TRACE(track ? "tracking" : "plain");
            qelrt_handle_set_mode(h, track ? QEL_CHECK_TRACK : 0);
            f(track);
        }
    }
};

// The owners of lists and arrays, all of them, then each kind.

class BinaryOwner : public Binary {
protected:
    // Addresses that stay with an in-place update of equal length.
    std::vector<void *> Storage(void *o) {
        if (const FieldDesc *f = ListField(t)) return Elements(o, *f);
        return {Block(o, t)};
    }
    uint32_t Count(void *o) { return ListField(t) ? AnchorOf(o, *ListField(t)).count : PairCount(o, t); }
};

class BinaryList : public BinaryOwner {};
class BinaryArray : public BinaryOwner {};

// ---- every type: lengths, round trips, readers of other writers -------------------

TEST_P(Binary, LengthsOfEmptyObjects) {
    Modes([&](bool track) {
        void *o = ob.Create(h, db);
        uint32_t want = t.enc_fixed + (track ? t.enc_state : 0);
        EXPECT_EQ(c.Len(h, db, o), want);
        auto b = Encode(o);
        EXPECT_EQ(b.size(), t.enc_fixed + (track ? StateBytesWritten() : 0));
        EXPECT_EQ(b[1], track ? 0x08 : 0x00);
        EXPECT_EQ(Be32(&b[2]), b.size() - 2);
        ob.Destroy(h, db, o);
    });
}

TEST_P(BinaryOwner, LengthsWithElements) {
    const TypeDesc &e = *(ListField(t) ? ListField(t) : ArrayField(t))->elem;
    Modes([&](bool track) {
        Filler fill(7);
        void *o = fill.Make(h, db, t, 3);
        uint32_t each = e.enc_fixed + (track ? e.enc_state : 0);
        if (track && ArrayField(t)) each += 1;  // the element's byte in the per-element bytes
        uint32_t want = t.enc_fixed + (track ? t.enc_state : 0) + 3 * each;
        EXPECT_EQ(c.Len(h, db, o), want);
        EXPECT_EQ(Encode(o).size(), want);
        ob.Destroy(h, db, o);
    });
}

TEST_P(Binary, NegativeVariantIsHeaderOnly) {
    Modes([&](bool) {
        Filler fill(2);
        void *o = fill.Make(h, db, t, 0);
        Variant(o) = -1;
        EXPECT_EQ(c.Len(h, db, o), 6u);
        auto b = Encode(o);
        ASSERT_EQ(b.size(), 6u);
        EXPECT_EQ(b[0], 0xFF);
        EXPECT_EQ(Be32(&b[2]), 4u);
        void *d = ob.Create(h, db);
        EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, 6, 0, &err), 6u);
        EXPECT_EQ(Variant(d), -1);
        Variant(o) = 0;
        ob.Destroy(h, db, o);
        ob.Destroy(h, db, d);
    });
}

TEST_P(Binary, RoundTripOfRandomObjects) {
    Modes([&](bool track) {
        for (uint32_t seed = 0; seed < 4; ++seed) {
            Filler fill(seed * 31 + t.ordinal);
            void *o = fill.Make(h, db, t, seed % 2 ? Elems() : 1);
            auto b = Encode(o);
            void *d = ob.Create(h, db);
            EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &err), b.size());
            EXPECT_EQ(err, 0u);
            EXPECT_EQ(c.Compare(o, d), 0);
            EXPECT_EQ(c.Len(h, db, d), c.Len(h, db, o));
            // The copy writes the same bytes: state bytes included.
            EXPECT_EQ(Encode(d), b);
            if (track) {
                EXPECT_TRUE(Flags(d) & QEL_OF_TRACKED);
            }
            ob.Destroy(h, db, o);
            ob.Destroy(h, db, d);
        }
        ExpectNoLeak();
    });
}

// Array elements read from the wire carry their state bytes where the
// element accessors find them.
TEST_P(BinaryArray, ElementStateBytesReachTheirAccessors) {
    Track();
    const TypeDesc &e = *ArrayField(t)->elem;
    Filler fill(4);
    void *o = fill.Make(h, db, t, 2);
    uint32_t er = 0;
    Obj{e}.StateSet(h, db, Block(o, t) + e.plain_size, e.fields[0], 7, &er);
    ASSERT_EQ(er, 0u);
    auto b = Encode(o);
    void *d = ob.Create(h, db);
    ASSERT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &err), b.size());
    uint8_t *el1 = Block(d, t) + e.plain_size;
    EXPECT_EQ(Obj{e}.StateGet(h, db, el1, e.fields[0], &er), 7);
    EXPECT_EQ(Obj{e}.StateGet(h, db, Block(d, t), e.fields[0], &er), 2);
    EXPECT_EQ(er, 0u);
    EXPECT_TRUE(Flags(el1) & QEL_OF_NESTED);
    ob.Destroy(h, db, o);
    ob.Destroy(h, db, d);
}

TEST_P(Binary, PlainReaderOfTrackedEncoding) {
    Track();
    Filler f1(9);
    void *o = f1.Make(h, db, t, Elems());
    auto b = Encode(o);
    ob.Destroy(h, db, o);
    Plain();
    Filler f2(9);
    void *ref = f2.Make(h, db, t, Elems());
    void *d = ob.Create(h, db);
    EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &err), b.size());
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(c.Compare(ref, d), 0);
    EXPECT_FALSE(Flags(d) & QEL_OF_TRACKED);
    EXPECT_EQ(Encode(d), Encode(ref));
    ob.Destroy(h, db, ref);
    ob.Destroy(h, db, d);
    ExpectNoLeak();
}

TEST_P(Binary, TrackingReaderOfPlainEncoding) {
    Filler f1(10);
    void *o = f1.Make(h, db, t, Elems());
    auto b = Encode(o);
    ob.Destroy(h, db, o);
    Track();
    Filler f2(10);
    void *ref = f2.Make(h, db, t, Elems());
    void *d = ob.Create(h, db);
    EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &err), b.size());
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(c.Compare(ref, d), 0);
    EXPECT_TRUE(Flags(d) & QEL_OF_TRACKED);
    ob.Destroy(h, db, ref);
    ob.Destroy(h, db, d);
    ExpectNoLeak();
}

// A newer writer's extra bytes inside the body are stepped over by the jump.
TEST_P(Binary, ReaderSkipsTrailingBytesThroughTheJump) {
    Modes([&](bool) {
        qelrt_trace_clear();
        Filler fill(11);
        void *o = fill.Make(h, db, t, Elems());
        auto b = Encode(o);
        const uint32_t n = uint32_t(b.size());
        b.insert(b.end(), {0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
        PutBe32(&b[2], Be32(&b[2]) + 5);
        b.push_back(0x77);  // the next thing in the caller's buffer
        void *d = ob.Create(h, db);
        EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &err), n + 5);
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(c.Compare(o, d), 0);
        std::string text = "offset_jump read_len " + std::to_string(n) + " offset_jump_base 2 _qel_variant_jump " +
                           std::to_string(n - 2 + 5);
        EXPECT_EQ(Traced(text.c_str()), 1u) << text;
        EXPECT_EQ(Traced("offset_jump"), 1u);
        ob.Destroy(h, db, o);
        ob.Destroy(h, db, d);
    });
}

// Every cut of a valid encoding is refused with 90, nothing left behind.
TEST_P(Binary, TruncationAtEveryByte) {
    Modes([&](bool) {
        Filler fill(12);
        void *o = fill.Make(h, db, t, Elems());
        auto b = Encode(o);
        ob.Destroy(h, db, o);
        for (uint32_t cut = 0; cut < b.size(); ++cut) {
            void *d = ob.Create(h, db);
            uint32_t e = 0;
            EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, cut, 0, &e), 0u) << "cut " << cut;
            EXPECT_EQ(e, 90u) << "cut " << cut;
            ob.Destroy(h, db, d);
        }
        ExpectNoLeak();
    });
}

// A short output buffer is never written past; plain encodings report 90,
// tracked ones may only lose trailing state bytes.
TEST_P(Binary, ShortOutputBuffer) {
    Modes([&](bool track) {
        Filler fill(13);
        void *o = fill.Make(h, db, t, Elems());
        auto whole = Encode(o);
        for (uint32_t room = 0; room < whole.size(); ++room) {
            std::vector<uint8_t> b(room + 8, 0xCC);
            uint32_t e = 0;
            uint32_t n = c.Marshal(h, db, b.data(), o, room, &e);
            EXPECT_LE(n, room);
            for (uint32_t k = room; k < b.size(); ++k) ASSERT_EQ(b[k], 0xCC) << "room " << room;
            if (e == 0) {
                EXPECT_TRUE(track) << "room " << room;
                EXPECT_EQ(Be32(&b[2]), n - 2);
            } else {
                EXPECT_EQ(e, 90u);
            }
        }
        ob.Destroy(h, db, o);
    });
}

// A body is written by the room-checked walk or, when the room left holds
// its own part, without checks; both must give the same bytes.  Every room
// from the exact length up to well past the largest allowance runs each
// body through both, with and without ra-data blocks (on the owner and on
// its first element), and the reader must take the ra-data bodies back.
TEST_P(Binary, EveryRoomThatFitsWritesTheSameBytes) {
    Modes([&](bool track) {
        Filler fill(15);
        void *o = fill.Make(h, db, t, Elems());
        void *first = nullptr;
        if (const FieldDesc *f = ListField(t)) first = Elements(o, *f).at(0);
        if (ArrayField(t)) first = Block(o, t);
        for (bool ra : {false, true}) {
            SCOPED_TRACE(ra ? "ra-data" : "no ra-data");
            for (void *x : {o, first})
                if (x && ra) Flags(x) |= QEL_OF_RA_DATA;
            auto whole = Encode(o);
            EXPECT_EQ(whole[1] & QEL_OF_RA_DATA, ra ? QEL_OF_RA_DATA : 0);
            // The measure covers the blocks too: a buffer sized by it holds the body.
            EXPECT_GE(c.Len(h, db, o), whole.size());
            // At the exact length a tracked list owner leaves out its list's
            // state byte, which needs two bytes of room.
            const uint32_t least = uint32_t(whole.size()) + (track && ListField(t) ? 1 : 0);
            for (uint32_t room = least; room < whole.size() + 2 * t.enc_state + 40; ++room) {
                std::vector<uint8_t> b(room, 0xCC);
                uint32_t e = 0;
                ASSERT_EQ(c.Marshal(h, db, b.data(), o, room, &e), whole.size()) << "room " << room;
                EXPECT_EQ(e, 0u);
                ASSERT_TRUE(std::equal(whole.begin(), whole.end(), b.begin())) << "room " << room;
            }
            void *d = ob.Create(h, db);
            EXPECT_EQ(c.Unmarshal(h, db, whole.data(), d, uint32_t(whole.size()), 0, &err), whole.size());
            EXPECT_EQ(err, 0u);
            EXPECT_EQ(c.Compare(o, d), 0);
            ob.Destroy(h, db, d);
        }
        for (void *x : {o, first})
            if (x) Flags(x) &= ~QEL_OF_RA_DATA;
        ob.Destroy(h, db, o);
    });
}

// A sender decides only the bits that travel (0x08, 0x20); any other bit in
// a received flags byte (own type-info, runtime-placed state area, nested,
// ...) would misdirect the object's destroy and is not taken over.
TEST_P(Binary, ReceivedFlagsTakeOverOnlyWhatTravels) {
    Modes([&](bool track) {
        Filler fill(16);
        void *o = fill.Make(h, db, t, Elems());
        auto b = Encode(o);
        ob.Destroy(h, db, o);
        b[1] |= static_cast<uint8_t>(~(QEL_OF_TRACKED | QEL_OF_RA_DATA));
        void *d = ob.Create(h, db);
        const uint8_t before = Flags(d);
        EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &err), b.size());
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(Flags(d), before | (track ? QEL_OF_TRACKED : 0));
        ob.Destroy(h, db, d);
        ExpectNoLeak();
    });
}

TEST_P(Binary, ZeroLengthAndErrorOnEntry) {
    void *o = ob.Create(h, db);
    uint8_t b[8] = {0xCC};
    uint32_t e = 0;
    EXPECT_EQ(c.Marshal(h, db, b, o, 0, &e), 0u);
    EXPECT_EQ(e, 90u);
    EXPECT_EQ(h->err, 90u);
    e = 0;
    EXPECT_EQ(c.MarshalForClone(h, db, b, o, 0, &e), 0u);
    EXPECT_EQ(e, 90u);
    e = 0;
    EXPECT_EQ(c.Unmarshal(h, db, b, o, 0, 0, &e), 0u);
    EXPECT_EQ(e, 90u);
    e = 22;
    EXPECT_EQ(c.Marshal(h, db, b, o, sizeof b, &e), 0u);
    EXPECT_EQ(c.Unmarshal(h, db, b, o, sizeof b, 0, &e), 0u);
    EXPECT_EQ(e, 22u);
    EXPECT_EQ(b[0], 0xCC);
    ob.Destroy(h, db, o);
}

TEST_P(Binary, JumpPastTheEndIsRefused) {
    Modes([&](bool) {
        Filler fill(14);
        void *o = fill.Make(h, db, t, Elems());
        auto b = Encode(o);
        ob.Destroy(h, db, o);
        PutBe32(&b[2], Be32(&b[2]) + 1);
        void *d = ob.Create(h, db);
        uint32_t e = 0;
        EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &e), 0u);
        EXPECT_EQ(e, 90u);
        ob.Destroy(h, db, d);
        ExpectNoLeak();
    });
}

// The domain's variant bounds what marshal sends; the clone writer does
// not check the body's own variant.
TEST_P(Binary, VariantAboveTheDomain) {
    void *o = ob.Create(h, db);
    qelrt_set_domain_variant(-1);
    auto b = std::vector<uint8_t>(kBig);
    uint32_t e = 0;
    EXPECT_EQ(c.Marshal(h, db, b.data(), o, kBig, &e), 6u);
    EXPECT_EQ(e, 43u);
    EXPECT_EQ(b[0], 0xFF);
    e = 0;
    EXPECT_EQ(c.MarshalForClone(h, db, b.data(), o, kBig, &e), t.enc_fixed);
    EXPECT_EQ(b[0], 0);
    qelrt_set_domain_variant(0);
    ob.Destroy(h, db, o);
}

INSTANTIATE_TEST_SUITE_P(Types, Binary, ::testing::ValuesIn(AllTypes()), ParamName());

// ---- lists and arrays: in place, hostile counts, failures --------------------------

TEST_P(BinaryOwner, InPlaceUpdates) {
    Modes([&](bool) {
        Filler f1(20), f2(21), f3(22);
        void *a = f1.Make(h, db, t, 3), *b = f2.Make(h, db, t, 3), *c5 = f3.Make(h, db, t, 5);
        void *d = ob.Create(h, db);
        auto ea = Encode(a), eb = Encode(b), e5 = Encode(c5);
        ASSERT_EQ(c.Unmarshal(h, db, ea.data(), d, uint32_t(ea.size()), 0, &err), ea.size());
        auto kept = Storage(d);

        // Equal length: same elements, new contents, nothing allocated.
        uint64_t allocs = qelrt_alloc_count();
        ASSERT_EQ(c.Unmarshal(h, db, eb.data(), d, uint32_t(eb.size()), 1, &err), eb.size());
        EXPECT_EQ(err, 0u);
        EXPECT_EQ(Storage(d), kept);
        EXPECT_EQ(qelrt_alloc_count(), allocs);
        EXPECT_EQ(c.Compare(d, b), 0);

        // Another length: everything replaced.
        ASSERT_EQ(c.Unmarshal(h, db, e5.data(), d, uint32_t(e5.size()), 1, &err), e5.size());
        EXPECT_EQ(Count(d), 5u);
        EXPECT_EQ(c.Compare(d, c5), 0);

        // And down to none.
        void *none = ob.Create(h, db);
        auto e0 = Encode(none);
        ASSERT_EQ(c.Unmarshal(h, db, e0.data(), d, uint32_t(e0.size()), 1, &err), e0.size());
        EXPECT_EQ(Count(d), 0u);
        if (ArrayField(t)) {
            EXPECT_EQ(Block(d, t), nullptr);
        }
        EXPECT_EQ(c.Compare(d, none), 0);
        for (void *o : {a, b, c5, d, none}) ob.Destroy(h, db, o);
        ExpectNoLeak();
    });
}

// Without the in-place flag a list receives new elements after its own.
TEST_P(BinaryList, FreshReadAppends) {
    Filler f1(30), f2(31);
    void *a = f1.Make(h, db, t, 3), *d = f2.Make(h, db, t, 2);
    auto before = Elements(d, *ListField(t));
    auto ea = Encode(a);
    ASSERT_EQ(c.Unmarshal(h, db, ea.data(), d, uint32_t(ea.size()), 0, &err), ea.size());
    auto after = Elements(d, *ListField(t));
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(Count(d), 5u);
    ob.Destroy(h, db, a);
    ob.Destroy(h, db, d);
}

// A count the remaining bytes cannot hold is refused before any allocation.
TEST_P(BinaryOwner, HostileCountsAllocateNothing) {
    Modes([&](bool) {
        void *empty = ob.Create(h, db);
        auto b = Encode(empty);
        ob.Destroy(h, db, empty);
        // With no elements the count is the last field: find it from the end,
        // past the list's state byte when one was written.
        uint32_t at = uint32_t(b.size()) - 4;
        if (ListField(t) && b[1] & 0x08) at -= 1;
        ASSERT_EQ(Be32(&b[at]), 0u);
        void *d = ob.Create(h, db);
        for (uint32_t count : {0x7fffffffu, 0xffffffffu, 1u}) {
            PutBe32(&b[at], count);
            uint64_t allocs = qelrt_alloc_count();
            uint32_t e = 0;
            EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &e), 0u) << count;
            EXPECT_EQ(e, 90u);
            EXPECT_EQ(qelrt_alloc_count(), allocs) << count;
            EXPECT_EQ(Count(d), 0u);
        }
        ob.Destroy(h, db, d);
        ExpectNoLeak();
    });
}

// A count that fits, followed by bodies that do not parse: the elements
// built so far are released, the owner stays whole.
TEST_P(BinaryOwner, BadElementsLeaveOwnerDestroyable) {
    Modes([&](bool) {
        Filler fill(40);
        void *o = fill.Make(h, db, t, 3);
        auto b = Encode(o);
        ob.Destroy(h, db, o);
        // Break the third element's jump: it is the last element body's.
        const TypeDesc &e = *(ListField(t) ? ListField(t) : ArrayField(t))->elem;
        uint32_t elen = e.enc_fixed + (b[1] & 0x08 ? e.enc_state : 0);
        uint32_t tail = ListField(t) ? (b[1] & 0x08 ? 1 : 0) : (b[1] & 0x08 ? 1 + 3 : 0);
        uint32_t third = uint32_t(b.size()) - tail - elen;
        ASSERT_EQ(Be32(&b[third + 2]), elen - 2);
        PutBe32(&b[third + 2], 0);
        void *d = ob.Create(h, db);
        uint32_t er = 0;
        EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &er), 0u);
        EXPECT_EQ(er, 90u);
        if (ArrayField(t)) {
            EXPECT_EQ(Count(d), 0u);
            EXPECT_EQ(Block(d, t), nullptr);
        }
        ob.Destroy(h, db, d);
        ExpectNoLeak();
    });
}

// A list element that fails during an in-place update is reported.
// The list's state byte goes out only with two bytes of room left, so a
// buffer of the exact size loses it; the reader then misses nothing else.
TEST_P(BinaryList, StateByteNeedsTwoBytesOfRoom) {
    Track();
    Filler fill(43);
    void *o = fill.Make(h, db, t, 2);
    auto whole = Encode(o);
    std::vector<uint8_t> b(whole.size());
    uint32_t n = c.Marshal(h, db, b.data(), o, uint32_t(b.size()), &err);
    EXPECT_EQ(err, 0u);
    ASSERT_EQ(n, whole.size() - 1);
    EXPECT_TRUE(std::equal(b.begin() + 6, b.begin() + n, whole.begin() + 6));
    void *d = ob.Create(h, db);
    EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, n, 0, &err), n);
    EXPECT_EQ(c.Compare(o, d), 0);
    EXPECT_EQ(Traced("offset_jump"), 0u);
    ob.Destroy(h, db, o);
    ob.Destroy(h, db, d);
}

TEST_P(BinaryList, InPlaceElementFailureIsTraced) {
    Filler fill(41);
    void *o = fill.Make(h, db, t, 2);
    auto b = Encode(o);
    void *d = ob.Create(h, db);
    ASSERT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 0, &err), b.size());
    const TypeDesc &e = *ListField(t)->elem;
    PutBe32(&b[b.size() - e.enc_fixed + 2], 0);  // last element's jump
    uint32_t er = 0;
    EXPECT_EQ(c.Unmarshal(h, db, b.data(), d, uint32_t(b.size()), 1, &er), 0u);
    EXPECT_EQ(er, 90u);
    std::string text = std::string("Error ") + std::strerror(90) + " while unmarshalling list element";
    EXPECT_EQ(Traced(text.c_str()), 1u) << text;
    EXPECT_EQ(AnchorOf(d, *ListField(t)).count, 2u);
    ob.Destroy(h, db, o);
    ob.Destroy(h, db, d);
}

INSTANTIATE_TEST_SUITE_P(Types, BinaryOwner, ::testing::ValuesIn(TypesWith(HasElements)), ParamName());
INSTANTIATE_TEST_SUITE_P(Types, BinaryList,
                         ::testing::ValuesIn(TypesWith([](const TypeDesc &t) { return t.list_field >= 0; })),
                         ParamName());
INSTANTIATE_TEST_SUITE_P(Types, BinaryArray,
                         ::testing::ValuesIn(TypesWith([](const TypeDesc &t) { return t.array_field >= 0; })),
                         ParamName());

// ---- handle and object mismatches --------------------------------------------------

using BinaryDeathTest = Lomari;

TEST_F(BinaryDeathTest, CorruptedHandle) {
    const TypeDesc &t = kTypes[2];
    void *o = Obj{t}.Create(h, db);
    uint8_t b[64];
    qelrt_handle_set_mode(h, 0x1234);
    EXPECT_DEATH(Codec{t}.Marshal(h, db, b, o, sizeof b, &err), "Corrupted QEL Handle");
    EXPECT_DEATH(Codec{t}.Unmarshal(h, db, b, o, sizeof b, 0, &err), "Corrupted QEL Handle");
    Plain();
    Obj{t}.Destroy(h, db, o);
}

TEST_F(BinaryDeathTest, TrackingHandleUntrackedTarget) {
    const TypeDesc &t = kTypes[2];
    void *o = Obj{t}.Create(h, db);
    uint8_t b[64];
    uint32_t n = Codec{t}.Marshal(h, db, b, o, sizeof b, &err);
    Track();
    EXPECT_DEATH(Codec{t}.Unmarshal(h, db, b, o, n, 0, &err),
                 "QEL handle and object state tracking mis-match");
    Plain();
    Obj{t}.Destroy(h, db, o);
}

// ---- enumerations ---------------------------------------------------------------

class BinaryEnum : public Lomari, public ::testing::WithParamInterface<const EnumDesc *> {
protected:
    const EnumDesc &en = *GetParam();
    void *Create() { return Api<void *(P, uint32_t)>(en.name, "create")(h, db); }
    void Destroy(void *o) { Api<void(P, uint32_t, void *)>(en.name, "destroy")(h, db, o); }
    uint32_t Marshal(uint8_t *b, const void *o, uint32_t n, uint32_t *e) {
        return Api<uint32_t(P, uint32_t, uint8_t *, const void *, uint32_t, uint32_t *)>(en.name, "marshal")(h, db, b, o, n, e);
    }
    uint32_t Unmarshal(const uint8_t *b, void *o, uint32_t n, uint32_t *e) {
        return Api<uint32_t(P, uint32_t, const uint8_t *, void *, uint32_t, uint32_t, uint32_t *)>(en.name, "unmarshal")(
            h, db, b, o, n, 0, e);
    }
};

TEST_P(BinaryEnum, FiveBytesAndBack) {
    void *o = Create();
    uint32_t v = en.bound;  // out of range travels unchanged
    std::memcpy(Bytes(o, 12), &v, 4);
    uint8_t b[8];
    std::memset(b, 0xCC, sizeof b);
    EXPECT_EQ(Api<uint32_t(P, uint32_t, const void *)>(en.name, "len")(h, db, o), 5u);
    ASSERT_EQ(Marshal(b, o, sizeof b, &err), 5u);
    const uint8_t want[] = {0, 0, 0, 0, uint8_t(en.bound), 0xCC};
    EXPECT_EQ(Hex(b, 6), Hex(want, 6));

    void *d = Create();
    b[0] = 3;  // a variant above the object's bound is stored as the bound
    qelrt_calls_log(1);
    EXPECT_EQ(Unmarshal(b, d, 5, &err), 5u);
    qelrt_calls_log(0);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(Api<int32_t(const void *, const void *)>(en.name, "compare")(o, d), 0);
    EXPECT_EQ(Variant(d), 0);
    bool announced = false;
    for (uint32_t i = 0; i < qelrt_write_count(); ++i)
        announced |= qelrt_write_at(i)->addr == Bytes(d, 12) && qelrt_write_at(i)->len == 4;
    EXPECT_TRUE(announced);
    Destroy(o);
    Destroy(d);
}

TEST_P(BinaryEnum, ShortInput) {
    void *o = Create();
    uint8_t b[8] = {};
    for (uint32_t n = 0; n < 5; ++n) {
        uint32_t e = 0;
        EXPECT_EQ(Unmarshal(b, o, n, &e), 0u);
        EXPECT_EQ(e, 90u) << n;
        e = 0;
        Marshal(b, o, n, &e);
        EXPECT_EQ(e, 90u) << n;
    }
    Destroy(o);
}

INSTANTIATE_TEST_SUITE_P(Enums, BinaryEnum, ::testing::ValuesIn(AllEnums()), ParamName());

}  // namespace
}  // namespace lt::codec
