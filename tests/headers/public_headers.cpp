/* The C header check, compiled as C++. */
#include "public_headers.c"
