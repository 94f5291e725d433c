// sender.cpp -- adapters announce their SPI-4 header mappings: one
// vep_tarnok_headers message per adapter, encoded and written to standard
// output (receiver.cpp reads them: sender_cpp | receiver_cpp).
#include <cstdio>
#include <vector>

#include <lomari/lomari.hpp>

int main() {
    lomari::Handle h;  // no platform database behind the objects (QEL_NO_DATABASE)
    const struct { std::uint32_t slot, bay, mappings; } adapters[] = {{3, 1, 8}, {1, 0, 4}, {2, 1, 6}};
    for (const auto &a : adapters) {
        lomari::VepTarnokHeaders msg(h);  // with an empty body, which the message owns
        lomari::VepTarnokBodyRef body = msg.body();
        body.set_slot_number(a.slot);
        body.set_bay_number(a.bay);
        for (std::uint32_t port = 0; port < a.mappings; ++port) {
            lomari::Spi4Mapping m(h);
            m.set_portnum(port);
            m.set_header_id(0x4000 + a.slot * 0x100 + port);
            m.set_pri(port % 2 ? lomari::Spi4Priority::SPI4_PRI_HI : lomari::Spi4Priority::SPI4_PRI_LO);
            body.spi4_id_mappings().push_back(std::move(m));  // the body owns it now
        }
        const std::vector<std::byte> wire = msg.encode();  // throws std::system_error on failure
        std::fwrite(wire.data(), 1, wire.size(), stdout);
        std::fprintf(stderr, "sender: slot %u bay %u, %u mappings, %zu bytes\n", a.slot, a.bay, a.mappings,
                     wire.size());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}  // every object goes before the handle: destroyed in reverse order
