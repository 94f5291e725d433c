"""schema_counts.h: how many of each schema item there are, for the C++
side (array bounds of the descriptor tables, per-type caches)."""
from emit.common import BANNER
import model
from emit.descriptors import KINDS


def emit(M):
    o = ["// %s" % BANNER, "#pragma once\n#include <cstdint>\n", "namespace lomari {\n"]
    for k, v in M.counts().items():
        o.append("inline constexpr uint32_t %s = %d;" % (k, v))
    o.append("// State area of an array owner: field bytes, then the per-element pointer.")
    o.append("inline constexpr uint32_t kArrayOwnerStateSize = %d;" % model.ARRAY_OWNER_STATE_SIZE)
    o.append("inline constexpr uint32_t kArrayOwnerPerElemOff = %d;" % model.ARRAY_OWNER_PER_ELEM_OFF)
    o.append("\n// The field kinds of each flat shape (TypeDesc::flat_shape), as X(index, kinds...).")
    o.append("#define LOMARI_FLAT_SHAPES(X) \\")
    for i, kinds in enumerate(M.flat_shapes):
        o.append("    X(%d, %s) \\" % (i, ", ".join("Kind::" + KINDS[k] for k in kinds)))
    o.append("")
    o.append("inline constexpr uint32_t kFlatShapeCount = %d;" % len(M.flat_shapes))
    width = max(len(offs) for offs in M.flat_shape_offsets)
    o.append("\n// Per flat shape: the byte offset of each field inside an instance, then")
    o.append("// that of the link words a list element of the shape carries.")
    o.append("inline constexpr uint16_t kFlatShapeOffsets[kFlatShapeCount][%d] = {" % width)
    for offs in M.flat_shape_offsets:
        o.append("    {%s}," % ", ".join(str(x) for x in offs))
    o.append("};")
    o.append("\n}  // namespace lomari")
    return "\n".join(o) + "\n"
