"""schema_counts.h: how many of each schema item there are, for the C++
side (array bounds of the descriptor tables, per-type caches)."""
from emit.common import BANNER
import model


def emit(M):
    o = ["// %s" % BANNER, "#pragma once\n#include <cstdint>\n", "namespace lomari {\n"]
    for k, v in M.counts().items():
        o.append("inline constexpr uint32_t %s = %d;" % (k, v))
    o.append("// State area of an array owner: field bytes, then the per-element pointer.")
    o.append("inline constexpr uint32_t kArrayOwnerStateSize = %d;" % model.ARRAY_OWNER_STATE_SIZE)
    o.append("inline constexpr uint32_t kArrayOwnerPerElemOff = %d;" % model.ARRAY_OWNER_PER_ELEM_OFF)
    o.append("\n}  // namespace lomari")
    return "\n".join(o) + "\n"
