/* Every public header (listed by the build), compiled as C here
 * and as C++ through public_headers.cpp, with -Wall -Wextra -Wpedantic
 * -Werror: a user's program includes them under whatever warnings it
 * builds with. */
#include "all_public_headers.h"

#ifdef __cplusplus
extern "C"
#endif
int lomari_public_headers_compiled(void);
int lomari_public_headers_compiled(void) { return (int)sizeof(which_fp) + LOMARI_ERR_SHORT; }
