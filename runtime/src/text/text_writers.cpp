/*
 * text_writers.cpp -- bounded text and XML writers.
 *
 * Owns: qel_snprintf, qel_print_space, the scalar and string printers, and
 * the XML element writers (tags, time-stamped tags, enumerator tags,
 * scalar and string elements with text escaping).  Formats and the
 * short-room rule are documented in qel/rt_text.h: every writer composes
 * through one bounded appender that never touches a byte at or past the
 * room, and reports 90 when its text and NUL do not fit.
 */
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "internal.h"
#include "qel/runtime.h"

using namespace qelrt;

namespace {

/* Appends into [buf, buf + room); remembers overflow instead of writing
 * past the end. */
struct Out {
    char *buf;
    uint32_t room;
    uint32_t n = 0;
    bool over = false;

    void put(char c) {
        if (n + 1 < room)
            buf[n++] = c;
        else
            over = true;
    }
    void put(const char *s, size_t len) {
        if (!over && len < room && n + len < room) {
            std::memcpy(buf + n, s, len);
            n += static_cast<uint32_t>(len);
        } else {
            over = true;
        }
    }
    void put(const char *s) { put(s, std::strlen(s)); }
    void dec(uint32_t v) {
        char t[12];
        int k = 0;
        do {
            t[k++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        while (k)
            put(t[--k]);
    }
    void spaces(uint32_t k) {
        if (uint64_t{n} + k >= room) {
            over = true;
            return;
        }
        std::memset(buf + n, ' ', k);
        n += k;
    }
};

__attribute__((cold, noinline)) uint32_t short_room(qel_handle_t *h, char *buf,
                                                    uint32_t room, uint32_t *err) {
    if (buf && room)
        buf[0] = '\0';
    if (err)
        *err = QEL_TEXT_SHORT;
    qel_store_err(h, QEL_TEXT_SHORT);
    return 0;
}

__attribute__((cold, noinline)) uint32_t invalid(qel_handle_t *h, uint32_t *err) {
    if (err)
        *err = QEL_TEXT_INVALID;
    qel_store_err(h, QEL_TEXT_INVALID);
    return 0;
}

inline bool refused(const uint32_t *err) { return err && *err; }

// The start of every writer: with an error already present nothing is
// written; a missing argument (args_ok false, or no buffer where there is
// room) is refused with INVALID.  False when the writer returns 0 at once.
inline bool admit(qel_handle_t *h, uint32_t *err, bool args_ok, const char *buf, uint32_t room) {
    if (refused(err))
        return false;
    if (!args_ok || (!buf && room)) {
        invalid(h, err);
        return false;
    }
    return true;
}

inline uint32_t finish(qel_handle_t *h, Out &o, uint32_t *err) {
    if (RT_UNLIKELY(o.over || o.n >= o.room))
        return short_room(h, o.buf, o.room, err);
    o.buf[o.n] = '\0';
    return o.n;
}

/* Writes "name: value\n" after the indent. */
template <class T>
uint32_t scalar_print(const char *fn, qel_handle_t *h, char *buf, uint32_t indent,
                      const char *name, const T *v, uint32_t room, uint32_t *err) {
    logc(fn, w(h), w(buf), indent, room);
    if (!admit(h, err, v && name, buf, room))
        return 0;
    Out o{buf, room};
    o.spaces(indent);
    o.put(name);
    o.put(": ", 2);
    o.dec(*v);
    o.put('\n');
    return finish(h, o, err);
}

void open_tag(Out &o, const char *name, uint8_t state) {
    o.put('<');
    o.put(name);
    if (state) {
        o.put(" state=\"", 8);
        o.dec(state);
        o.put('"');
    }
    o.put('>');
}

void close_tag(Out &o, const char *name) {
    o.put("</", 2);
    o.put(name);
    o.put('>');
}

template <class T>
uint32_t scalar_xml(const char *fn, qel_handle_t *h, char *buf, const char *name,
                    const T *v, uint32_t room, uint8_t state, uint32_t *err) {
    logc(fn, w(h), w(buf), room, state);
    if (!admit(h, err, v && name, buf, room))
        return 0;
    Out o{buf, room};
    open_tag(o, name, state);
    o.dec(*v);
    close_tag(o, name);
    return finish(h, o, err);
}

const char kHex[] = "0123456789ABCDEF";

/* Escapes one byte of string text (see qel/rt_text.h). */
void escaped(Out &o, unsigned char c) {
    switch (c) {
    case '&': o.put("&amp;", 5); return;
    case '<': o.put("&lt;", 4); return;
    case '>': o.put("&gt;", 4); return;
    case '"': o.put("&quot;", 6); return;
    case '\'': o.put("&apos;", 6); return;
    case '\t': o.put("&#9;", 4); return;
    case '\n': o.put("&#10;", 5); return;
    case '\r': o.put("&#13;", 5); return;
    default: break;
    }
    if (c < 0x20 || c >= 0x7F) {
        char t[8] = {'&', '#', 'x', 'E', '0', kHex[c >> 4], kHex[c & 15], ';'};
        o.put(t, 8);
        return;
    }
    o.put(static_cast<char>(c));
}

} // namespace

extern "C" {

/* ---- text writers ------------------------------------------------------ */

uint32_t qel_snprintf(qel_handle_t *h, char *buf, uint32_t room, uint32_t *err,
                      const char *fmt, ...) {
    logc("qel_snprintf", w(h), w(buf), room);
    if (!admit(h, err, fmt, buf, room))
        return 0;
    va_list ap;
    va_start(ap, fmt);
    int n = room ? std::vsnprintf(buf, room, fmt, ap) : -1;
    va_end(ap);
    if (n < 0 || static_cast<uint32_t>(n) >= room)
        return short_room(h, buf, room, err);
    return static_cast<uint32_t>(n);
}

uint32_t qel_print_space(qel_handle_t *h, char *buf, uint32_t room, uint32_t indent,
                         uint32_t *err) {
    logc("qel_print_space", w(h), w(buf), room, indent);
    if (!admit(h, err, true, buf, room))
        return 0;
    Out o{buf, room};
    o.spaces(indent);
    return finish(h, o, err);
}

uint32_t u_int8_print(qel_handle_t *h, uint32_t, char *buf, uint32_t indent,
                      const char *name, const u_int8 *v, uint32_t room, uint32_t *err) {
    return scalar_print("u_int8_print", h, buf, indent, name, v, room, err);
}
uint32_t u_int16_print(qel_handle_t *h, uint32_t, char *buf, uint32_t indent,
                       const char *name, const u_int16 *v, uint32_t room, uint32_t *err) {
    return scalar_print("u_int16_print", h, buf, indent, name, v, room, err);
}
uint32_t u_int32_print(qel_handle_t *h, uint32_t, char *buf, uint32_t indent,
                       const char *name, const u_int32 *v, uint32_t room, uint32_t *err) {
    return scalar_print("u_int32_print", h, buf, indent, name, v, room, err);
}

uint32_t null_string_print(qel_handle_t *h, uint32_t, char *buf, uint32_t indent,
                           const char *name, const char *s, uint32_t bound,
                           uint32_t room, uint32_t *err) {
    logc("null_string_print", w(h), w(buf), indent, room);
    if (!admit(h, err, s && name, buf, room))
        return 0;
    Out o{buf, room};
    o.spaces(indent);
    o.put(name);
    o.put(": \"", 3);
    o.put(s, strnlen(s, bound));
    o.put("\"\n", 2);
    return finish(h, o, err);
}

/* ---- XML writers ------------------------------------------------------- */

uint32_t start_tag(qel_handle_t *h, uint32_t, char *buf, const char *name,
                   uint32_t room, uint8_t state, uint32_t *err) {
    logc("start_tag", w(h), w(buf), room, state);
    if (!admit(h, err, name, buf, room))
        return 0;
    Out o{buf, room};
    open_tag(o, name, state);
    return finish(h, o, err);
}

uint32_t start_tag_timestamp(qel_handle_t *h, uint32_t, char *buf, const char *name,
                             uint32_t room, uint8_t state, uint32_t *err) {
    logc("start_tag_timestamp", w(h), w(buf), room, state);
    if (!admit(h, err, name, buf, room))
        return 0;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    gmtime_r(&ts.tv_sec, &t);
    char stamp[48];
    int k = std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ",
                          t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                          t.tm_sec, static_cast<long>(ts.tv_nsec / 1000));
    Out o{buf, room};
    o.put('<');
    o.put(name);
    if (state) {
        o.put(" state=\"", 8);
        o.dec(state);
        o.put('"');
    }
    o.put(" time=\"", 7);
    o.put(stamp, static_cast<size_t>(k));
    o.put("\">", 2);
    return finish(h, o, err);
}

uint32_t end_tag(qel_handle_t *h, uint32_t, char *buf, const char *name, uint32_t room,
                 uint32_t *err) {
    logc("end_tag", w(h), w(buf), room);
    if (!admit(h, err, name, buf, room))
        return 0;
    Out o{buf, room};
    close_tag(o, name);
    return finish(h, o, err);
}

uint32_t xml_enum_print(qel_handle_t *h, uint32_t, char *buf, const char *tag,
                        uint32_t tag_len, uint32_t room, uint32_t *err) {
    logc("xml_enum_print", w(h), w(buf), tag_len, room);
    if (!admit(h, err, tag, buf, room))
        return 0;
    Out o{buf, room};
    o.put(tag, tag_len);
    return finish(h, o, err);
}

uint32_t u_int8_to_xml(qel_handle_t *h, uint32_t, char *buf, const char *name,
                       const u_int8 *v, uint32_t room, uint8_t state, uint32_t *err) {
    return scalar_xml("u_int8_to_xml", h, buf, name, v, room, state, err);
}
uint32_t u_int16_to_xml(qel_handle_t *h, uint32_t, char *buf, const char *name,
                        const u_int16 *v, uint32_t room, uint8_t state, uint32_t *err) {
    return scalar_xml("u_int16_to_xml", h, buf, name, v, room, state, err);
}
uint32_t u_int32_to_xml(qel_handle_t *h, uint32_t, char *buf, const char *name,
                        const u_int32 *v, uint32_t room, uint8_t state, uint32_t *err) {
    return scalar_xml("u_int32_to_xml", h, buf, name, v, room, state, err);
}

uint32_t null_string_to_xml(qel_handle_t *h, uint32_t, char *buf, const char *name,
                            const char *s, uint32_t bound, uint32_t room, uint8_t state,
                            uint32_t *err) {
    logc("null_string_to_xml", w(h), w(buf), room, state);
    if (!admit(h, err, s && name, buf, room))
        return 0;
    Out o{buf, room};
    open_tag(o, name, state);
    for (uint32_t i = 0; i < bound && s[i] && !o.over; ++i)
        escaped(o, static_cast<unsigned char>(s[i]));
    close_tag(o, name);
    return finish(h, o, err);
}

} // extern "C"
