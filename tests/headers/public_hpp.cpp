/* The C++ interface compiled alone, with -Wall -Wextra -Wpedantic -Werror:
 * a user's program includes it under whatever warnings it builds with. */
#include "lomari/lomari.hpp"

int lomari_public_hpp_compiled();
int lomari_public_hpp_compiled() { return int(lomari::Messages::size + lomari::Tables::size); }
