/* Every installed header, compiled as C here and as C++ through
 * public_headers.cpp, with -Wall -Wextra -Wpedantic -Werror: a user's
 * program includes them under whatever warnings it builds with. */
#include "lomari/lomari_errors.h"
#include "qel/rt_handle.h"
#include "lomari/lomari.h"
#include "lomari/lomari_types.h"
#include "lomari/lomari_api.h"
#include "qel/codec_inline.h"
#include "qel/runtime.h"
#include "qel/rt_control.h"

#ifdef __cplusplus
extern "C"
#endif
int lomari_public_headers_compiled(void);
int lomari_public_headers_compiled(void) { return (int)sizeof(which_fp) + LOMARI_ERR_SHORT; }
