// walk.cpp -- which walk of the binary codec runs: owns g_fast_walk.
#include <cstdlib>
#include <cstring>

#include "codec/codec_internal.h"

namespace lomari::codec {

namespace {

#ifdef LOMARI_CHECKED_CODEC
constexpr bool kBuiltFast = false;
#else
constexpr bool kBuiltFast = true;
#endif

bool decide() {
    const char *v = std::getenv("LOMARI_CODEC_WALK");
    if (v && std::strcmp(v, "checked") == 0) return false;
    if (v && std::strcmp(v, "fast") == 0) return true;
    return kBuiltFast;
}

}  // namespace

const bool g_fast_walk = decide();

}  // namespace lomari::codec
