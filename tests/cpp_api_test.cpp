// cpp_api_test.cpp -- the C++ interface (lomari/lomari.hpp) over the catalogue's classes: ownership
// without leaks, lists and arrays as ranges, indexes in key order, dispatch, the error category.
#include <ranges>
#include <string>
#include <vector>

#include "fixture.h"
#include "lomari/lomari.hpp"

namespace lt {
namespace {

// Blocks the runtime holds: allocations through the handle minus releases.
int64_t Live() { return int64_t(qelrt_alloc_count()) - int64_t(qelrt_free_count()); }

// Calls f.template operator()<T, I>() for every class T of a list, I its place.
template <class... T, class F>
void ForEach(lomari::TypeList<T...>, F &&f) {
    [&]<size_t... I>(std::index_sequence<I...>) { (f.template operator()<T, I>(), ...); }(
        std::index_sequence_for<T...>{});
}

class Cpp : public ::testing::Test {
protected:
    void SetUp() override {
        qelrt_reset();
        base = Live();
    }
    void TearDown() override { EXPECT_EQ(Live(), base) << "blocks left behind"; }
    // A filled object of the i-th structured type (3 list or array elements), owned by class T.
    template <class T>
    T Filled(size_t i, uint32_t seed = 7) {
        return T::adopt(h.get(), h.database(),
                        static_cast<typename T::c_type *>(Filler(seed).Make(h.get(), h.database(), kTypes[i], 3)));
    }
    lomari::Handle h;
    int64_t base = 0;
};

TEST_F(Cpp, ObjectsMoveCopyAndRoundTripWithoutLeaks) {
    ForEach(lomari::Types{}, [&]<class T, size_t I>() {
        SCOPED_TRACE(kTypes[I].name);
        const int64_t before = Live();
        {
            T a = Filled<T>(I);
            T b = std::move(a);  // moved from: empty, and destroys nothing
            EXPECT_FALSE(a);
            T c(h);
            c = std::move(b);  // c's own object is released
            EXPECT_FALSE(b);
            const std::vector<std::byte> wire = c.encode();
            EXPECT_EQ(wire.size(), c.encoded_size());
            T d = T::decode(h, wire);
            EXPECT_EQ(c, d);
            EXPECT_EQ(std::hash<T>{}(c), std::hash<T>{}(d));
            EXPECT_NE(c, T(h)) << "a filled object equals an empty one";
            T e = d.clone();
            EXPECT_EQ(e, c);
            EXPECT_EQ(T::from_xml(h, e.to_xml()), c);
            EXPECT_NE(e.to_text().find(kTypes[I].name), std::string::npos);
            T f = T::adopt(h.get(), h.database(), e.release());  // handed out and back
            EXPECT_EQ(f, c);
            // In place: the same object takes another encoding.
            T g = Filled<T>(I, 99);
            EXPECT_EQ(g.decode_in_place(wire), wire.size());
            EXPECT_EQ(g, c);
            // Broken input leaves nothing behind.
            std::error_code ec;
            EXPECT_FALSE(T::decode(h, std::span(wire).first(wire.size() - 1), ec));
            EXPECT_EQ(ec, lomari::errc::too_short);
            EXPECT_FALSE(T::from_xml(h, "<not-closed>", ec));
            EXPECT_EQ(ec, lomari::errc::invalid);
        }
        EXPECT_EQ(Live(), before);
    });
}

TEST_F(Cpp, ListsAreRangesTheOwnerOwns) {
    lomari::VepTarnokBody body(h);
    auto list = body.spi4_id_mappings();
    auto add = [&](uint32_t port) {
        lomari::Spi4Mapping m(h);
        m.set_portnum(port);
        return m;
    };
    list.push_back(add(2));
    list.push_back(add(4));
    list.push_front(add(1));
    list.insert(std::next(list.begin(), 2), add(3));  // 1 2 3 4
    auto ports = [&] {
        std::vector<uint32_t> v;
        for (lomari::Spi4MappingConstRef m : std::as_const(body).spi4_id_mappings()) v.push_back(m.portnum());
        return v;
    };
    EXPECT_EQ(ports(), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(std::tuple(list.size(), list.back().portnum(), (*--list.end()).portnum()), std::tuple(4u, 4u, 4u));
    // In place through a view, then erase and take.
    for (auto m : list) m.set_header_id(m.portnum() * 10);
    EXPECT_EQ(list.front().header_id(), 10u);
    list.erase(list.begin());                             // destroyed
    lomari::Spi4Mapping taken = list.take(list.begin());  // the caller's now
    EXPECT_EQ(std::pair(taken.portnum(), ports()), std::pair(2u, std::vector<uint32_t>{3, 4}));
    // An element already in a list is refused and stays the caller's.
    lomari::VepTarnokBody other(h);
    std::error_code ec;
    lomari::Spi4Mapping again = lomari::Spi4Mapping::adopt(h.get(), h.database(), list.front().get());
    other.spi4_id_mappings().push_back(std::move(again), ec);
    EXPECT_EQ(ec, lomari::errc::invalid);
    (void)again.release();  // it is body's: give it back untouched
    EXPECT_EQ(other.spi4_id_mappings().size(), 0u);
}

TEST_F(Cpp, CountedArraysAreSpansThatGrowAndShrink) {
    lomari::CcIds ids(h);
    auto pairs = ids.pairs();
    pairs.resize(4);
    for (uint32_t i = 0; i < pairs.size(); ++i) pairs[i].set_lower_bits(uint8_t(i + 1));
    lomari::CcPair p(h);
    p.set_leased(1);
    pairs.push_back(p);  // a copy: p stays ours
    EXPECT_EQ(std::pair(ids.pair_count(), U(pairs.at(4).leased())), std::pair(5u, 1u));
    pairs.resize(2);  // the first ones keep their values
    std::vector<uint8_t> bits;
    for (auto e : std::as_const(ids).pairs()) bits.push_back(e.lower_bits());
    EXPECT_EQ(bits, (std::vector<uint8_t>{1, 2}));
    EXPECT_THROW(pairs.at(2), std::out_of_range);
    std::error_code ec;
    EXPECT_FALSE(pairs.at(2, ec));
    EXPECT_EQ(std::pair(ec, std::ranges::distance(pairs)), std::pair(std::error_code(lomari::errc::not_found), std::ptrdiff_t(2)));
    pairs.clear();
    EXPECT_TRUE(pairs.empty());
}

TEST_F(Cpp, DispatchGivesEveryMessageToItsOwnHandler) {
    ForEach(lomari::Messages{}, [&]<class M, size_t I>() {
        SCOPED_TRACE(M::name);
        const size_t body = size_t(kMessages[I].body->ordinal);
        M sent(h);
        sent.set_body(Filled<typename M::Body>(body));
        const std::vector<std::byte> wire = sent.encode();
        EXPECT_EQ(M::decode(h, wire), sent);
        // One handler per message class, made from the list of classes.
        size_t got = ~size_t(0);
        [&]<class... Ms, size_t... J>(lomari::TypeList<Ms...>, std::index_sequence<J...>) {
            EXPECT_EQ(lomari::dispatch(h, wire, [&](Ms m) {
                          got = J;
                          if constexpr (std::is_same_v<Ms, M>) {
                              EXPECT_EQ(m.body(), sent.body());
                          }
                      }...),
                      wire.size());
        }(lomari::Messages{}, std::make_index_sequence<lomari::Messages::size>{});
        EXPECT_EQ(got, I);
        // A handler taking any message gets it too; a throwing one lets
        // the exception through and the message is still released.
        lomari::dispatch(h, wire, [&](auto &&) { got = 100; });
        EXPECT_EQ(got, 100u);
        EXPECT_THROW(lomari::dispatch(h, wire, [](M) { throw std::runtime_error("handler"); }), std::runtime_error);
        // Nobody takes it, the input is cut short, or names no message.
        std::error_code ec;
        EXPECT_EQ(lomari::dispatch(h, wire, ec), wire.size());
        EXPECT_EQ(ec, lomari::errc::no_handler);
        lomari::dispatch(h, std::span(wire).first(wire.size() - 1), ec, [](M) {});
        EXPECT_EQ(ec, lomari::errc::too_short);
        std::vector<std::byte> other = wire;
        other[40] ^= std::byte{0xFF};
        EXPECT_EQ(lomari::dispatch(h, other, ec, [](auto &&) {}), 0u);
        EXPECT_EQ(ec, lomari::errc::not_found);
        EXPECT_EQ(std::memcmp(wire.data() + 27, Api<const uint8_t[16]>("message", std::string(M::name) + "_luid"), 16),
                  0);
    });
}

TEST_F(Cpp, RecordsAreCountedReferencesAndIndexesIterateInKeyOrder) {
    auto table = lomari::TarnokHeaderIds::open(h, "cpp");
    std::vector<lomari::TarnokHeaderIds::Record> held;
    for (const char *key : {"slot3/bay1", "slot1/bay0", "slot2/bay1"}) {
        lomari::TarnokHeaderIds::Record r(h);
        r.tarnok_rec_fields().set_dbkey(key);
        r.vep_tarnok_body().set_slot_number(uint32_t(key[4] - '0'));
        table.insert(r);
        held.push_back(r);  // a copy: a second reference
        EXPECT_EQ(r.use_count(), 2u);
    }  // the first reference goes, the table keeps the record through held
    EXPECT_EQ(table.count(), 3u);
    std::vector<std::string> keys;
    for (auto r : table) keys.push_back(r.tarnok_rec_fields().dbkey());
    EXPECT_EQ(keys, (std::vector<std::string>{"slot1/bay0", "slot2/bay1", "slot3/bay1"}));
    EXPECT_EQ((*table.find("slot2/bay1")).vep_tarnok_body().slot_number(), 2u);
    EXPECT_EQ(table.find(std::string_view("slot9")), table.end());
    EXPECT_EQ((*table.lower_bound(std::string_view("slot2"))).tarnok_rec_fields().dbkey(), "slot2/bay1");
    EXPECT_THROW(table.insert(held[0]), std::system_error);  // already in the table
    {
        lomari::TarnokHeaderIds::Record kept = *table.find("slot1/bay0");  // a view becomes a reference
        EXPECT_EQ(kept.use_count(), 2u);
        held.erase(held.begin() + 1);  // "slot1/bay0": kept still holds it
        EXPECT_EQ(table.count(), 3u);
    }  // the last reference goes: out of the table, released
    EXPECT_EQ(table.count(), 2u);
    table.erase(table.begin());  // out of the table, still held
    EXPECT_EQ(std::pair(table.count(), held[1].use_count()), std::pair(1u, 1u));
    held.clear();
    table.free();

    // A 32-bit key, and the second index of the table that has one.
    auto flows = lomari::ImIfFlowControl::open(h, "cpp");
    std::vector<lomari::ImIfFlowControl::Record> rows;
    for (uint32_t kalvi : {30u, 10u, 20u}) {
        lomari::ImIfFlowControl::Record r(h);
        r.im_if_fctrl_body().set_kalvi_id(kalvi);
        r.im_if_fctrl_body().set_slot(40 - kalvi);  // the second index orders by the body, slot first
        flows.insert(r);
        rows.push_back(std::move(r));
    }
    std::vector<uint32_t> by_kalvi, by_body;
    for (auto r : flows) by_kalvi.push_back(r.im_if_fctrl_body().kalvi_id());
    for (auto r : flows.by_im_if_fctrl_body()) by_body.push_back(r.im_if_fctrl_body().kalvi_id());
    EXPECT_EQ(std::pair(by_kalvi, by_body), std::pair(std::vector<uint32_t>{10, 20, 30}, std::vector<uint32_t>{30, 20, 10}));
    EXPECT_EQ((*flows.lower_bound(15u)).im_if_fctrl_body().kalvi_id(), 20u);
    auto it = flows.by_im_if_fctrl_body().find(rows[0].im_if_fctrl_body());
    EXPECT_EQ((*it).im_if_fctrl_body().kalvi_id(), 30u);
    rows.clear();
    EXPECT_EQ(flows.count(), 0u);
    flows.free();
}

TEST_F(Cpp, ErrorsAreLomariErrorCodes) {
    const std::error_category &cat = lomari::error_category();
    EXPECT_STREQ(cat.name(), "lomari");
    for (auto e : {lomari::errc::not_found, lomari::errc::exists, lomari::errc::invalid, lomari::errc::too_short,
                   lomari::errc::no_handler, lomari::errc::no_memory}) {
        const std::error_code ec = e;
        EXPECT_EQ(std::pair(&ec.category(), ec.message()), std::pair(&cat, std::string(lomari_error_text(uint32_t(e)))));
    }
    EXPECT_EQ(cat.message(1000), "unknown lomari error 1000");
    // Both forms of one failing operation: a table that is not there.
    std::error_code ec;
    EXPECT_FALSE(lomari::NonApsHeaders::open(h, "absent", lomari::OpenType::existing, ec));
    EXPECT_EQ(ec, lomari::errc::not_found);
    try {
        lomari::NonApsHeaders::open(h, "absent", lomari::OpenType::existing);
        ADD_FAILURE() << "no exception";
    } catch (const std::system_error &e) {
        EXPECT_EQ(e.code(), lomari::errc::not_found);
    }
    // Out of memory: an empty object and the error, nothing left behind.
    qelrt_fail_alloc_at(1);
    lomari::WhichFp fp(h, ec);
    EXPECT_EQ(std::pair(bool(fp), ec), std::pair(false, std::error_code(lomari::errc::no_memory)));
    lomari::TarnokRecFields f(h);
    f.set_dbkey(std::string(31, 'k'));
    EXPECT_THROW(f.set_dbkey(std::string(32, 'k')), std::system_error);
    EXPECT_EQ(f.dbkey(), std::string(31, 'k'));
}

}  // namespace
}  // namespace lt
