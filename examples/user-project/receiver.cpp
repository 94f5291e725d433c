// receiver.cpp -- receives what sender.cpp sends (standard input, or a
// file), stores each adapter's mappings in the tarnok_header_ids table
// under "slot<N>/bay<M>", then finds one, walks them in key order, counts.
#include <cstdio>
#include <string>
#include <vector>

#include <lomari/lomari.hpp>

int main(int argc, char **argv) {
    std::FILE *in = argc > 1 ? std::fopen(argv[1], "rb") : stdin;
    std::vector<std::byte> bytes;
    for (int c; in && (c = std::fgetc(in)) != EOF;) bytes.push_back(std::byte(c));
    if (in && in != stdin) std::fclose(in);
    lomari::Handle h;
    auto table = lomari::TarnokHeaderIds::open(h, "receiver");  // found, or created
    std::vector<lomari::TarnokHeaderIds::Record> held;  // the table holds no reference: keep them
    for (std::span<const std::byte> rest = bytes; !rest.empty();) {
        rest = rest.subspan(lomari::dispatch(h, rest, [&](lomari::VepTarnokHeaders m) {  // m is ours
            lomari::TarnokHeaderIds::Record r(h);  // with a new object in each field
            const auto b = m.body();
            r.tarnok_rec_fields().set_dbkey("slot" + std::to_string(b.slot_number()) + "/bay" +
                                            std::to_string(b.bay_number()));
            r.set_vep_tarnok_body(m.take_body());  // the record owns the body now
            table.insert(r);
            held.push_back(std::move(r));
        }));
    }
    if (auto it = table.find("slot2/bay1"); it != table.end())
        std::printf("found slot2/bay1: %u mappings\n", it->vep_tarnok_body().spi4_id_mappings().size());
    for (auto r : table) std::printf("walk: %s\n", r.tarnok_rec_fields().dbkey().c_str());
    const std::uint32_t count = table.count();
    std::printf("count: %u\n", count);
    held.clear();  // the last references: out of the table, released
    table.free();  // closing would leave the table in its database
    return count == 3 ? 0 : 1;
}
