// tool.h -- the pieces the tool's commands share: a handle for the run,
// streaming binary input, reading one encoded item, rendering it, reading
// a whole input, and the two ways a command ends in failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs.h"

namespace ltool {

// One runtime handle (plain mode, pooled allocation) for a command's run.
struct Session {
    Session();
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    H h;
    U db;
    U err = 0;
};

// A file or standard input read in pieces: only the item being decoded is
// held in memory.
class Input {
public:
    Input() = default;
    ~Input();
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;
    bool open(const std::string &path);  // "-" is standard input; errno tells why not
    bool open_memory(const void *data, size_t size);  // read from memory the caller keeps
    // Makes the first n bytes from the cursor available; false at the end
    // of the input (got() tells how many there were).
    bool fill(size_t n);
    const uint8_t *data() const { return buf_.data() + pos_; }
    size_t got() const { return buf_.size() - pos_; }
    void consume(size_t n);
    uint64_t offset() const { return offset_; }  // of the cursor in the input

private:
    FILE *f_ = nullptr;
    bool own_ = false;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0;
    uint64_t offset_ = 0;
};

struct Item {
    const Codec *codec = nullptr;
    void *object = nullptr;
    uint64_t offset = 0;  // where the item starts in the input
};

enum class ReadStatus { Item, End, Error };
struct ReadResult {
    ReadStatus status;
    U code;              // the library's error number (0 for none)
    std::string detail;  // what went wrong, for a person
};

// Reads the next item: its header, identifier and encoding.
ReadResult read_item(Session &s, Input &in, Item &item);
// Renders an item as text or XML into out (NUL-terminated); false when the
// rendering fails for another reason than room.
bool render(Session &s, const Codec &c, void *object, bool xml, std::vector<char> &out);
// The same through any handle and database id; the library's error in err.
bool render(H h, U db, const Codec &c, void *object, bool xml, std::vector<char> &out, U &err);

// Reads all of path ("-": standard input) into text; false with the
// system's reason in why.
bool read_all(const std::string &path, std::string &text, std::string &why);
// The system's text for an errno value.
std::string system_reason(int e);

// "lomari: <cmd>: <source>[: <where>][: <ERROR_NAME> (<library text>)]: <detail>"
// on standard error, exit status 1.  where is at_offset() for binary
// input, at_line() for documents, or empty; code is the library's error
// number, 0 when the fault is not one the library reported.
int fail(const char *cmd, const std::string &source, const std::string &where, U code, const std::string &detail);
std::string at_offset(uint64_t offset);
std::string at_line(long line);  // empty for line 0 (unknown)
// The command's usage on standard error after the reason, exit status 2.
int usage_error(const char *usage, const std::string &why);

// `lomari demo` (demo.cpp); its --processes form (demo_processes.cpp).
int cmd_demo(const std::vector<std::string> &args);
// `lomari db` (db.cpp).
int cmd_db(const std::vector<std::string> &args);
// `lomari bus` (bus.cpp).
int cmd_bus(const std::vector<std::string> &args);

}  // namespace ltool
