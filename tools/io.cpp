// io.cpp -- the tool's reading and rendering of binary items, reading of
// whole inputs, and its error reports.  Items are read one at a time from
// a stream: the 27-byte header first (it gives the item's whole length),
// then the rest.
#include <cerrno>
#include <cstring>
#include <system_error>

#include "lomari/lomari_catalogue.h"
#include "qel/rt_handle.h"
#include "tool.h"

namespace ltool {

namespace {
constexpr U kHeader = QEL_MSG_WIRE_HEADER_LEN;
constexpr U kLuid = 16;
// The largest item the tool accepts: far above anything the domain
// produces, and small enough that a corrupt length cannot make it reserve
// gigabytes.
constexpr U kMaxItem = 16u << 20;
constexpr U kMaxRender = 64u << 20;
}  // namespace

Session::Session() : h(qelrt_handle_new()), db(h->database_id) { qelrt_handle_use_pool(h, 1); }
Session::~Session() { qelrt_handle_free(h); }

Input::~Input() {
    if (own_ && f_) std::fclose(f_);
}

bool Input::open(const std::string &path) {
    if (path == "-") {
        f_ = stdin;
        return true;
    }
    f_ = std::fopen(path.c_str(), "rb");
    own_ = f_ != nullptr;
    return f_ != nullptr;
}

bool Input::fill(size_t n) {
    if (got() >= n) return true;
    if (pos_ > 0) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ = 0;
    }
    const size_t have = buf_.size();
    buf_.resize(n);
    const size_t r = std::fread(buf_.data() + have, 1, n - have, f_);
    buf_.resize(have + r);
    return buf_.size() >= n;
}

bool Input::open_memory(const void *data, size_t size) {
    f_ = size ? fmemopen(const_cast<void *>(data), size, "rb") : std::fopen("/dev/null", "rb");
    own_ = f_ != nullptr;
    return f_ != nullptr;
}

void Input::consume(size_t n) {
    pos_ += n;
    offset_ += n;
}

ReadResult read_item(Session &s, Input &in, Item &item) {
    item = Item{};
    item.offset = in.offset();
    if (!in.fill(kHeader)) {
        if (in.got() == 0) return {ReadStatus::End, 0, ""};
        return {ReadStatus::Error, LOMARI_ERR_SHORT,
                "input ends inside a header (" + std::to_string(in.got()) + " of 27 bytes)"};
    }
    // The header is read alone first (it is 27 bytes whatever room it is
    // told of): it says how long the whole item is.
    qel_msg_header_t hdr;
    U err = 0;
    if (!_qel_message_header_unmarshal(s.h, s.db, in.data(), &hdr, ~U(0), &err))
        return {ReadStatus::Error, err, "not an item header"};
    const U length = hdr.length;
    if (length < kHeader + kLuid)
        return {ReadStatus::Error, LOMARI_ERR_INVALID, "item length " + std::to_string(length) + " below 43"};
    if (length > kMaxItem)
        return {ReadStatus::Error, LOMARI_ERR_TOO_BIG, "item of " + std::to_string(length) + " bytes"};
    if (!in.fill(length))
        return {ReadStatus::Error, LOMARI_ERR_SHORT,
                "input ends inside an item of " + std::to_string(length) + " bytes, " +
                    std::to_string(in.got()) + " present"};
    item.codec = codec_by_luid(in.data() + kHeader);
    if (!item.codec) {
        static const char hex[] = "0123456789abcdef";
        std::string id;
        for (U i = 0; i < kLuid; ++i) {
            id += hex[in.data()[kHeader + i] >> 4];
            id += hex[in.data()[kHeader + i] & 15];
        }
        return {ReadStatus::Error, LOMARI_ERR_NOT_FOUND, "unknown identifier " + id};
    }
    s.err = 0;
    const U used = item.codec->decode(s.h, s.db, &item.object, in.data(), length, &s.err);
    if (s.err) {
        const U code = s.err;
        if (item.object) item.codec->destroy(s.h, s.db, item.object);
        item.object = nullptr;
        s.err = 0;
        return {ReadStatus::Error, code, std::string("cannot decode ") + item.codec->kind + " " + item.codec->name};
    }
    in.consume(used);
    return {ReadStatus::Item, 0, ""};
}

bool render(Session &s, const Codec &c, void *object, bool xml, std::vector<char> &out) {
    return render(s.h, s.db, c, object, xml, out, s.err);
}

bool render(H h, U db, const Codec &c, void *object, bool xml, std::vector<char> &out, U &err) {
    if (out.size() < 4096) out.resize(4096);
    for (;;) {
        err = 0;
        (xml ? c.to_xml : c.print)(h, db, out.data(), object, U(out.size()), &err);
        if (err != LOMARI_ERR_SHORT) return err == 0;
        if (out.size() >= kMaxRender) return false;
        out.resize(out.size() * 2);
    }
}

bool read_all(const std::string &path, std::string &text, std::string &why) {
    FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) {
        why = system_reason(errno);
        return false;
    }
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool ok = !std::ferror(f);
    if (!ok) why = system_reason(errno);
    if (f != stdin) std::fclose(f);
    return ok;
}

std::string system_reason(int e) { return std::generic_category().message(e); }

std::string at_offset(uint64_t offset) { return "offset " + std::to_string(offset); }
std::string at_line(long line) { return line > 0 ? "line " + std::to_string(line) : std::string(); }

int fail(const char *cmd, const std::string &source, const std::string &where, U code, const std::string &detail) {
    std::string line = std::string("lomari: ") + cmd + ": " + (source == "-" ? "<stdin>" : source);
    if (!where.empty()) line += ": " + where;
    if (code) {
        const char *name = lomari_error_name(code), *text = lomari_error_text(code);
        line += std::string(": ") + (name ? name : "error " + std::to_string(code)) + " (" +
                (text ? text : "not an error of the library") + ")";
    }
    line += ": " + detail + "\n";
    std::fputs(line.c_str(), stderr);
    return 1;
}

int usage_error(const char *usage, const std::string &why) {
    std::fprintf(stderr, "lomari: %s\n\n%s", why.c_str(), usage);
    return 2;
}

}  // namespace ltool
