/* Every public header must compile as C. */
#include "lomari/lomari.h"
#include "qel/codec_inline.h"
#include "qel/runtime.h"
#include "qel/rt_control.h"

int lomari_c_headers_compiled(void) { return (int)sizeof(which_fp); }
