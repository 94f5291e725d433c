/*
 * messages/messages_internal.h -- the message room's private interface.
 *
 * Owns the declarations of the message services' knob reset (messages.cpp).
 */
#ifndef QELRT_MESSAGES_INTERNAL_H
#define QELRT_MESSAGES_INTERNAL_H

#include "internal.h"

namespace qelrt {

/* ---- message services (messages.cpp) --------------------------------- */

void msg_knobs_reset();

} // namespace qelrt

#endif /* QELRT_MESSAGES_INTERNAL_H */
