/*
 * qel/rt_control_msg.h -- knobs of the runtime's message services.
 * qelrt_reset() returns every one of them to its default.
 */
#ifndef QEL_RT_CONTROL_MSG_H
#define QEL_RT_CONTROL_MSG_H

#include <stdio.h>

#include "qel/rt_msg.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The bundle refuses at step 1 (validate_add) or 2 (increment_count) with
 * code; step 0 or code 0 accepts everything (default). */
QEL_RT_API void qelrt_bundle_refuse(int step, uint32_t code);
/* Answer of qellib_suppress_messages_enabled (default 0). */
QEL_RT_API void qelrt_set_suppress_messages(int on);
/* Turns the recorder on or off and sets its stream (may be null). */
QEL_RT_API void qelrt_set_recorder(int on, FILE *stream);
/* Fails the n-th qellib_malloc call from now (1 = the next); 0 disables. */
QEL_RT_API void qelrt_fail_qellib_malloc_at(uint64_t n);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_CONTROL_MSG_H */
