/**
 * @file lomari/lomari_bus.h
 * @brief Message envelopes between machines over a NATS server
 * (liblomari_bus, a library of its own beside liblomari).
 *
 * A sender publishes each marshalled envelope, header included, on the
 * subject "lomari.<message name>", or "<platform>.lomari.<message name>"
 * when a platform name is given.  A receiver subscribes to every message or
 * to named ones, alone or in a queue group, and hands each envelope to the
 * library's unmarshal of its message, which dispatches it to the handler
 * set here or else to the application's lomari_<name>_message_handler.
 * An envelope that does not decode, or whose header disagrees with the
 * bytes received or with its subject, is counted and dropped.
 *
 * Two modes:
 * - core subjects (stream 0): at most once; a receiver that is not
 *   subscribed, or is slow beyond the client's pending limits, misses
 *   envelopes.
 * - stream (stream 1): the subjects are kept in a file-backed stream named
 *   after the prefix ("LOMARI", or "<PLATFORM>_LOMARI"), created by the
 *   first sender or receiver that finds it absent.  Each envelope carries a
 *   message id header set by the sender (the stream drops a resent
 *   duplicate within its two-minute window); a receiver reads through a
 *   durable consumer and acknowledges an envelope only after its handler
 *   returned, so a receiver that dies gets the unacknowledged envelopes
 *   again: at least once, duplicates possible, recognised by their stream
 *   sequence (lomari_bus_delivery_t).
 *
 * Credentials and key material are handed to the client library and never
 * written anywhere: no error text of this library contains the password.
 * One bus is used by one thread at a time, like the library's objects;
 * handlers run on the thread that calls lomari_bus_receive().
 */
#ifndef LOMARI_LOMARI_BUS_H
#define LOMARI_LOMARI_BUS_H

#include <stddef.h>
#include <stdint.h>

#include "qel/runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LOMARI_BUS_API __attribute__((visibility("default")))

/** Results of the bus functions. */
typedef enum lomari_bus_status {
    LOMARI_BUS_OK = 0,
    LOMARI_BUS_TIMEOUT = 1,         /**< nothing arrived in the time given */
    LOMARI_BUS_ERR_INVALID = 2,     /**< a bad argument or option */
    LOMARI_BUS_ERR_CONNECT = 3,     /**< no server could be reached */
    LOMARI_BUS_ERR_AUTH = 4,        /**< the server refused the credentials */
    LOMARI_BUS_ERR_TLS = 5,         /**< TLS files or handshake */
    LOMARI_BUS_ERR_IO = 6,          /**< publishing, subscribing or flushing failed */
    LOMARI_BUS_ERR_STREAM = 7,      /**< the stream or its consumer could not be used */
    LOMARI_BUS_ERR_CLOSED = 8,      /**< the connection is closed for good */
    LOMARI_BUS_ERR_ENVELOPE = 9,    /**< publish: the bytes are not one whole message envelope */
    LOMARI_BUS_ERR_NO_MEMORY = 10
} lomari_bus_status_t;

/** Connection settings; strings are copied by lomari_bus_open(), null or
 * empty ones are not used. */
typedef struct lomari_bus_options {
    const char *url;            /**< "nats://host:4222"; several separated by commas */
    const char *user;           /**< with password: user and password authentication */
    const char *password;
    const char *nkey_seed_file; /**< a file holding a user NKey seed ("SU...") */
    const char *tls_ca;         /**< CA certificates (PEM) to trust: TLS is required */
    const char *tls_cert;       /**< client certificate chain (PEM), with tls_key */
    const char *tls_key;
    const char *platform;       /**< subject prefix: letters, digits, '-' and '_' */
    const char *name;           /**< the connection's name, as the server shows it */
    int stream;                 /**< non-zero: stream mode */
    int64_t timeout_ms;         /**< connecting and flushing; 0: 5000 */
    int64_t ack_wait_ms;        /**< stream mode: redelivery of an unacknowledged envelope; 0: 30000 */
} lomari_bus_options_t;

/** What a receiver subscribes to; null or zero members take the defaults. */
typedef struct lomari_bus_subscription {
    const char *const *messages; /**< message names ("vep_tarnok_headers"); null: every message */
    size_t message_count;
    const char *queue;           /**< core: queue group; stream: the durable consumer (default "lomari") */
} lomari_bus_subscription_t;

/** The envelope lomari_bus_receive() took last. */
typedef struct lomari_bus_delivery {
    char subject[256];
    const char *message;       /**< the message's name, null when unknown */
    uint32_t length;           /**< bytes received */
    int dispatched;            /**< 1: decoded and handed to a handler */
    uint32_t error;            /**< the library's error (38: no handler anywhere) */
    const char *dropped;       /**< why it was dropped, else null */
    uint64_t stream_sequence;  /**< stream mode: the envelope's place in the stream */
    uint64_t deliveries;       /**< stream mode: 1, or more when delivered again */
    char msg_id[64];           /**< stream mode: the sender's message id */
} lomari_bus_delivery_t;

typedef struct lomari_bus_stats {
    uint64_t published;
    uint64_t republished;  /**< stream mode: resent after a failed or missing acknowledgement */
    uint64_t received;
    uint64_t dispatched;
    uint64_t dropped;      /**< did not decode, or disagreed with its length or subject */
    uint64_t unhandled;    /**< decoded, but no handler anywhere (error 38) */
    uint64_t redelivered;  /**< stream mode: delivered more than once */
} lomari_bus_stats_t;

/** A handler as the library's unmarshal calls it; message is the
 * lomari_\<name\>_message object, which the handler owns. */
typedef void (*lomari_bus_handler_fn)(qel_handle_t *h, uint32_t db, uint64_t context, void *message,
                                      uint32_t *err);

typedef struct lomari_bus lomari_bus_t;

/** A bus over handle h and database id db (used for reading headers and
 * for dispatch), not yet connected; null when out of memory. */
LOMARI_BUS_API lomari_bus_t *lomari_bus_open(qel_handle_t *h, uint32_t db, const lomari_bus_options_t *options);
/** Connects (and, in stream mode, finds or creates the stream). */
LOMARI_BUS_API lomari_bus_status_t lomari_bus_connect(lomari_bus_t *bus);
/** Waits for what was published to reach the server (stream mode: to be
 * stored, resending what the server did not acknowledge), then closes the
 * connection and frees the bus. */
LOMARI_BUS_API void lomari_bus_close(lomari_bus_t *bus);

/** Publishes one envelope (len bytes, exactly the length its header
 * gives) on its message's subject. */
LOMARI_BUS_API lomari_bus_status_t lomari_bus_publish(lomari_bus_t *bus, const uint8_t *envelope, uint32_t len);
/** Publishes bytes as they are on "<prefix>lomari.<message>", whether or
 * not they are an envelope (tests and benchmarks). */
LOMARI_BUS_API lomari_bus_status_t lomari_bus_publish_raw(lomari_bus_t *bus, const char *message, const void *data, uint32_t len);
/** Waits until the server has what was published (stream mode: stored). */
LOMARI_BUS_API lomari_bus_status_t lomari_bus_flush(lomari_bus_t *bus);

/** Subscribes; one subscription per bus. */
LOMARI_BUS_API lomari_bus_status_t lomari_bus_subscribe(lomari_bus_t *bus, const lomari_bus_subscription_t *sub);
/** The handler for a message by name (null: the application's
 * lomari_<name>_message_handler). */
LOMARI_BUS_API lomari_bus_status_t lomari_bus_set_handler(lomari_bus_t *bus, const char *message, lomari_bus_handler_fn handler);
/** Waits up to timeout_ms for one envelope and dispatches it with context
 * (stream mode: then acknowledges it).  LOMARI_BUS_OK when one was taken,
 * dispatched or dropped (lomari_bus_last() tells), LOMARI_BUS_TIMEOUT when
 * none came. */
LOMARI_BUS_API lomari_bus_status_t lomari_bus_receive(lomari_bus_t *bus, uint64_t context, int64_t timeout_ms);
/** The envelope taken last; valid until the next receive. */
LOMARI_BUS_API const lomari_bus_delivery_t *lomari_bus_last(const lomari_bus_t *bus);

LOMARI_BUS_API void lomari_bus_get_stats(const lomari_bus_t *bus, lomari_bus_stats_t *stats);
/** The text of the last failure, for a person; never holds credentials. */
LOMARI_BUS_API const char *lomari_bus_error(const lomari_bus_t *bus);
/** The subject of a message's envelopes on this bus. */
LOMARI_BUS_API const char *lomari_bus_subject(const lomari_bus_t *bus, const char *message, char *buf, size_t len);
/** A status as text. */
LOMARI_BUS_API const char *lomari_bus_status_text(lomari_bus_status_t status);

#ifdef __cplusplus
}
#endif

#endif
