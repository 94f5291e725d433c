// roundtrip.cpp -- the C++ round trip: a vep_tarnok_headers message is
// filled, encoded, received through lomari::dispatch (which picks the
// handler by the message's identifier) and compared with the original.
#include <cstdio>
#include <vector>

#include <lomari/lomari.hpp>

int main() {
    lomari::Handle h;
    lomari::VepTarnokHeaders sent(h);
    sent.body().set_slot_number(3);
    sent.body().set_bay_number(1);
    for (std::uint32_t port : {0u, 1u}) {
        lomari::Spi4Mapping m(h);
        m.set_portnum(port);
        m.set_header_id(0x4300 + port);
        sent.body().spi4_id_mappings().push_back(std::move(m));
    }
    const std::vector<std::byte> wire = sent.encode();

    bool same = false;
    std::error_code ec;  // the non-throwing form: errors in ec (category "lomari")
    const std::uint32_t used = lomari::dispatch(h, wire, ec,
        [&](lomari::VepTarnokHeaders got) {  // owned: destroyed when the handler returns
            same = got == sent;
            std::fputs(got.to_text().c_str(), stdout);
        },
        [](const lomari::ImVepFctrl &) { std::puts("an im_vep_fctrl message"); });
    std::printf("%zu bytes sent, %u received: %s (%s)\n", wire.size(), used, same ? "equal" : "DIFFERENT",
                ec ? ec.message().c_str() : "no error");
    return same && !ec ? 0 : 1;
}
