/*
 * lomari/lomari_base.hpp -- the generic C++ machinery the generated
 * lomari/lomari.hpp is written over: the error category, the owning runtime
 * handle, and the templates behind every object, list, counted array,
 * message, table record and table class.  Include lomari/lomari.hpp, not
 * this header.
 *
 * Everything here is inline over the C entry points of liblomari: no name
 * is added to the library, and no exception ever reaches C code (handlers
 * of received messages run after the C call has returned).
 */
#ifndef LOMARI_BASE_HPP
#define LOMARI_BASE_HPP

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_handle.h"
#include "qel/rt_text.h"

/** @brief The C++ interface of liblomari (lomari/lomari.hpp). */
namespace lomari {

/** @brief The library's error numbers as a scoped enumeration, usable as a
 *  std::error_code (in lomari::error_category()).  The values are those of enum
 *  lomari_error in lomari/lomari_errors.h. */
enum class errc : std::uint32_t {
    not_found = LOMARI_ERR_NOT_FOUND,      ///< no such element, index, key, record or identifier
    too_big = LOMARI_ERR_TOO_BIG,          ///< a table's name or key does not fit its buffer
    again = LOMARI_ERR_AGAIN,              ///< a table's object-id mapping is still referenced
    no_memory = LOMARI_ERR_NO_MEMORY,      ///< an allocation through the handle failed
    bad_address = LOMARI_ERR_BAD_ADDRESS,  ///< a required out-parameter is null
    exists = LOMARI_ERR_EXISTS,            ///< the key or record is already in the table
    invalid = LOMARI_ERR_INVALID,          ///< invalid argument or state
    no_space = LOMARI_ERR_NO_SPACE,        ///< a fixed string does not fit the caller's buffer
    no_handler = LOMARI_ERR_NO_HANDLER,    ///< a received message found no handler
    variant = LOMARI_ERR_VARIANT,          ///< variant or enumeration value not allowed
    domain = LOMARI_ERR_DOMAIN,            ///< message or table not allowed in the current domain
    too_short = LOMARI_ERR_SHORT,          ///< buffer too short, or input ends early
};

namespace detail {
/* The "lomari" category: names the library's numbers with the library's own
 * texts (lomari_error_text), not the system's. */
class Category final : public std::error_category {
public:
    const char *name() const noexcept override { return "lomari"; }
    std::string message(int code) const override {
        const char *text = lomari_error_text(static_cast<unsigned>(code));
        return text ? text : "unknown lomari error " + std::to_string(code);
    }
};
}  // namespace detail

/** @brief The error category of every std::error_code this interface
 *  reports: name "lomari", messages from lomari_error_text(). */
inline const std::error_category &error_category() noexcept {
    static const detail::Category category;
    return category;
}

/** @brief A std::error_code in the lomari category. */
inline std::error_code make_error_code(errc e) noexcept {
    return {static_cast<int>(e), error_category()};
}

}  // namespace lomari

/// @cond
// lomari::errc converts to std::error_code.
template <>
struct std::is_error_code_enum<lomari::errc> : std::true_type {};
/// @endcond

namespace lomari {

namespace detail {

/* An error word of the C interface into ec (0 clears it). */
inline void set_error(std::error_code &ec, std::uint32_t err) noexcept {
    if (err)
        ec.assign(static_cast<int>(err), error_category());
    else
        ec.clear();
}

/* The throwing forms: ec as std::system_error.  Built without exceptions,
 * the throwing forms end the process instead; such programs use the forms
 * taking a std::error_code. */
[[noreturn]] inline void raise(const std::error_code &ec, const char *what) {
#if defined(__cpp_exceptions)
    throw std::system_error(ec, what);
#else
    (void)ec, (void)what;
    std::abort();
#endif
}
inline void check(const std::error_code &ec, const char *what) {
    if (ec) raise(ec, what);
}
template <class T>
T checked(T &&value, const std::error_code &ec, const char *what) {
    check(ec, what);
    return std::forward<T>(value);
}

inline const std::uint8_t *bytes(std::span<const std::byte> s) noexcept {
    return reinterpret_cast<const std::uint8_t *>(s.data());
}
inline std::uint32_t length(std::size_t n) noexcept {
    return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

/* Renders into a growing buffer: fn(buf, room, &err) is called again with
 * twice the room while it reports LOMARI_ERR_SHORT. */
template <class Fn>
std::string render(Fn &&fn, std::error_code &ec) {
    std::string out(1024, '\0');
    for (;;) {
        std::uint32_t err = 0;
        const std::uint32_t n = fn(out.data(), length(out.size()), &err);
        if (err == LOMARI_ERR_SHORT && out.size() < (std::size_t(1) << 30)) {
            out.assign(out.size() * 2, '\0');
            continue;
        }
        set_error(ec, err);
        out.resize(err ? 0 : n);
        return out;
    }
}

/* A parsed XML document of the runtime, freed at scope end. */
class XmlDoc {
public:
    XmlDoc(qel_handle_t *h, std::string_view text, std::error_code &ec) noexcept {
        std::uint32_t err = 0;
        doc_ = qel_xml_parse_memory(h, text.data(), length(text.size()), 0, nullptr, 0, &err);
        set_error(ec, doc_ ? 0u : (err ? err : std::uint32_t(LOMARI_ERR_INVALID)));
    }
    ~XmlDoc() { qel_xml_doc_free(doc_); }
    XmlDoc(const XmlDoc &) = delete;
    XmlDoc &operator=(const XmlDoc &) = delete;
    qel_xml_doc_t *get() const noexcept { return doc_; }

private:
    qel_xml_doc_t *doc_ = nullptr;
};

}  // namespace detail

/**
 * @brief A runtime handle, owned: every object is made through one.
 *
 * The handle is freed when the Handle goes, so every object, message,
 * record and table made through it must be gone first (destroy them, or let
 * their wrappers go out of scope before the Handle).  A handle is used by one
 * thread at a time.  It carries the database id its objects are made in
 * (QEL_NO_DATABASE, 0xFFFFFFFF, when no platform database is behind them);
 * the id is also stored in the C handle's database_id field.  Move-only.
 */
class Handle {
public:
    /** @brief A new handle working in @p database (QEL_NO_DATABASE: none).
     *  @throws std::system_error errc::no_memory when memory runs out. */
    explicit Handle(std::uint32_t database = QEL_NO_DATABASE) {
        std::error_code ec;
        *this = Handle(database, ec);
        detail::check(ec, "lomari::Handle");
    }
    /** @brief A new handle; on failure the Handle is empty and @p ec is
     *  errc::no_memory. */
    Handle(std::uint32_t database, std::error_code &ec) noexcept : h_(qelrt_handle_new()), db_(database) {
        if (h_) h_->database_id = database;
        detail::set_error(ec, h_ ? 0u : std::uint32_t(LOMARI_ERR_NO_MEMORY));
    }
    /** @brief Takes over a handle made elsewhere (it is freed with this
     *  Handle); @p database is the id its objects are made in. */
    static Handle adopt(qel_handle_t *h, std::uint32_t database) noexcept { return Handle(h, database); }

    Handle(Handle &&o) noexcept : h_(std::exchange(o.h_, nullptr)), db_(o.db_) {}
    Handle &operator=(Handle &&o) noexcept {
        if (this != &o) {
            qelrt_handle_free(h_);
            h_ = std::exchange(o.h_, nullptr);
            db_ = o.db_;
        }
        return *this;
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { qelrt_handle_free(h_); }

    /** @brief The C handle, for the C interface. */
    qel_handle_t *get() const noexcept { return h_; }
    /** @brief The database id objects are made in. */
    std::uint32_t database() const noexcept { return db_; }
    /** @brief Gives up ownership: the caller frees the C handle. */
    qel_handle_t *release() noexcept { return std::exchange(h_, nullptr); }
    /** @brief True unless moved from, released or failed. */
    explicit operator bool() const noexcept { return h_ != nullptr; }

    /** @brief State tracking for objects created afterwards: each then
     *  carries a state byte per field, sent in its encoding.  Objects keep
     *  the mode they were created in; decode only into objects of the
     *  current mode. */
    void set_tracking(bool on) noexcept { qelrt_handle_set_mode(h_, on ? QEL_CHECK_TRACK : QEL_CHECK_PLAIN); }
    /** @brief Allocations through the runtime's pooling allocator. */
    void use_pool(bool on) noexcept { qelrt_handle_use_pool(h_, on ? 1 : 0); }

private:
    Handle(qel_handle_t *h, std::uint32_t db) noexcept : h_(h), db_(db) {}
    qel_handle_t *h_ = nullptr;
    std::uint32_t db_ = QEL_NO_DATABASE;
};

/** @brief A list of classes, for code written once over every message,
 *  structured type or table (lomari::Messages, lomari::Types,
 *  lomari::Tables). */
template <class... T>
struct TypeList {
    /** @brief How many classes the list holds. */
    static constexpr std::size_t size = sizeof...(T);
};

namespace detail {

/* What every wrapper holds: the C handle, the database id and the object. */
template <class C>
class Bound {
public:
    using c_type = C;
    /** @brief The C object, for the C interface (null when empty). */
    C *get() const noexcept { return p_; }
    /** @brief True unless empty (moved from, released, or a failed
     *  non-throwing operation). */
    explicit operator bool() const noexcept { return p_ != nullptr; }
    /** @brief The C handle the object was made through. */
    qel_handle_t *handle() const noexcept { return h_; }
    /** @brief The database id the object was made in. */
    std::uint32_t database() const noexcept { return db_; }

protected:
    Bound() noexcept = default;
    Bound(qel_handle_t *h, std::uint32_t db, C *p) noexcept : h_(h), db_(db), p_(p) {}
    qel_handle_t *h_ = nullptr;
    std::uint32_t db_ = QEL_NO_DATABASE;
    C *p_ = nullptr;
};

/* The renderings every object, message and record has, in both forms
 * (std::error_code and throwing), over three primitives of S:
 * c_len(), c_marshal(buf, room, &err) and c_render(xml, buf, room, &err). */
template <class S>
class Renderings {
public:
    /** @brief Bytes the binary encoding takes. */
    std::uint32_t encoded_size() const noexcept { return self().c_len(); }
    /** @brief Encodes into @p out; returns the bytes written
     *  (errc::too_short when @p out is too small). */
    std::uint32_t encode(std::span<std::byte> out, std::error_code &ec) const noexcept {
        std::uint32_t err = 0;
        const std::uint32_t n = self().c_marshal(reinterpret_cast<std::uint8_t *>(out.data()), length(out.size()), &err);
        set_error(ec, err);
        return err ? 0 : n;
    }
    /** @brief Encodes into @p out; throws std::system_error. */
    std::uint32_t encode(std::span<std::byte> out) const {
        std::error_code ec;
        const std::uint32_t n = encode(out, ec);
        return checked(n, ec, "lomari: encode");
    }
    /** @brief The binary encoding as a new vector. */
    std::vector<std::byte> encode(std::error_code &ec) const {
        std::vector<std::byte> out(encoded_size());
        out.resize(encode(std::span<std::byte>(out), ec));
        return out;
    }
    /** @brief The binary encoding as a new vector; throws std::system_error. */
    std::vector<std::byte> encode() const {
        std::error_code ec;
        std::vector<std::byte> out = encode(ec);
        return checked(std::move(out), ec, "lomari: encode");
    }
    /** @brief The text rendering (what the print entry point writes). */
    std::string to_text(std::error_code &ec) const { return rendered(false, ec); }
    /** @brief The text rendering; throws std::system_error. */
    std::string to_text() const {
        std::error_code ec;
        std::string s = to_text(ec);
        return checked(std::move(s), ec, "lomari: to_text");
    }
    /** @brief The XML rendering: one element named after the type (a
     *  message's around its body's element). */
    std::string to_xml(std::error_code &ec) const { return rendered(true, ec); }
    /** @brief The XML rendering; throws std::system_error. */
    std::string to_xml() const {
        std::error_code ec;
        std::string s = to_xml(ec);
        return checked(std::move(s), ec, "lomari: to_xml");
    }

private:
    const S &self() const noexcept { return static_cast<const S &>(*this); }
    std::string rendered(bool xml, std::error_code &ec) const {
        return render([&](char *b, std::uint32_t room, std::uint32_t *err) { return self().c_render(xml, b, room, err); },
                      ec);
    }
};

/* The C entry points of one structured type, specialised by lomari.hpp. */
template <class C>
struct Ops;

/* A non-owning view: an object another one owns (a list element, an array
 * slot, a message's body, a record's field). */
template <class C>
class RefBase : public Bound<C> {
public:
    RefBase() noexcept = default;
    /** @brief A view of @p p, made through @p h in @p db. */
    RefBase(qel_handle_t *h, std::uint32_t db, C *p) noexcept : Bound<C>(h, db, p) {}
};

/* What an owning wrapper adds to its non-owning base B (a Bound): it
 * destroys the C object through Del::destroy when it goes, and it is
 * move-only.  D is the final class, which adopt gives. */
template <class B, class Del, class D>
class Owning : public B {
public:
    using c_pointer = typename B::c_type *;
    Owning(Owning &&o) noexcept : B(o.h_, o.db_, std::exchange(o.p_, nullptr)) {}
    Owning &operator=(Owning &&o) noexcept {
        if (this != &o) {
            reset();
            this->h_ = o.h_, this->db_ = o.db_, this->p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Owning(const Owning &) = delete;
    Owning &operator=(const Owning &) = delete;
    ~Owning() { reset(); }

    /** @brief Takes ownership of @p p, made through @p h in @p db. */
    static D adopt(qel_handle_t *h, std::uint32_t db, c_pointer p) noexcept {
        D d;
        d.h_ = h, d.db_ = db, d.p_ = p;
        return d;
    }
    /** @brief Gives up ownership: the caller destroys the C object. */
    c_pointer release() noexcept { return std::exchange(this->p_, nullptr); }
    /** @brief Destroys the C object and all it owns now (the wrapper
     *  becomes empty). */
    void reset() noexcept {
        if (this->p_) Del::destroy(this->h_, this->db_, std::exchange(this->p_, nullptr));
    }

protected:
    Owning() noexcept = default;
    Owning(qel_handle_t *h, std::uint32_t db, c_pointer p) noexcept : B(h, db, p) {}
};

/* The operations every structured object has, owning or not; D is the
 * owning class (decode, clone and from_xml give one). */
template <class C, class D>
class Common : public Bound<C>, public Renderings<Common<C, D>> {
    friend class Renderings<Common>;
    std::uint32_t c_len() const noexcept { return Ops<C>::len(this->h_, this->db_, this->p_); }
    std::uint32_t c_marshal(std::uint8_t *b, std::uint32_t room, std::uint32_t *err) const noexcept {
        return Ops<C>::marshal(this->h_, this->db_, b, this->p_, room, err);
    }
    std::uint32_t c_render(bool xml, char *b, std::uint32_t room, std::uint32_t *err) const noexcept {
        return xml ? Ops<C>::to_xml(this->h_, this->db_, Ops<C>::name, b, this->p_, room, 0, err)
                   : Ops<C>::print(this->h_, this->db_, b, 0, Ops<C>::name, this->p_, room, err);
    }

public:
    using lomari_hashable = void;
    /** @brief Decodes @p in into this object, updating it in place: a list
     *  of the same length keeps its elements, a counted array of the same
     *  count its element block.  Returns the bytes consumed.  On error the
     *  object may hold part of the input. */
    std::uint32_t decode_in_place(std::span<const std::byte> in, std::error_code &ec) noexcept {
        std::uint32_t err = 0;
        const std::uint32_t n = Ops<C>::unmarshal(this->h_, this->db_, bytes(in), this->p_, length(in.size()), 1, &err);
        set_error(ec, err);
        return n;
    }
    /** @brief Decodes in place; throws std::system_error. */
    std::uint32_t decode_in_place(std::span<const std::byte> in) {
        std::error_code ec;
        const std::uint32_t n = decode_in_place(in, ec);
        return checked(n, ec, "lomari: decode_in_place");
    }
    /** @brief A deep copy, a new object of the caller's. */
    D clone(std::error_code &ec) const {
        // The library copies by encoding the object into a scratch buffer
        // and decoding a new one from it.
        std::uint8_t small[256];
        std::vector<std::uint8_t> large;
        const std::uint32_t need = this->encoded_size();
        std::uint8_t *buf = small;
        if (need > sizeof small) large.resize(need), buf = large.data();
        std::uint32_t err = 0;
        C *copy = nullptr;
        Ops<C>::clone(this->h_, this->db_, this->p_, &copy, buf, need > sizeof small ? need : sizeof small, &err);
        if (err && copy) Ops<C>::destroy(this->h_, this->db_, copy), copy = nullptr;
        set_error(ec, err ? err : (copy ? 0u : std::uint32_t(LOMARI_ERR_NO_MEMORY)));
        return D::adopt(this->h_, this->db_, copy);
    }
    /** @brief A deep copy; throws std::system_error. */
    D clone() const {
        std::error_code ec;
        D copy = clone(ec);
        return checked(std::move(copy), ec, "lomari: clone");
    }
    /** @brief The library's hash of the object's fields. */
    std::uint32_t hash(std::uint32_t seed = 0) const noexcept { return Ops<C>::hash(this->p_, seed); }

protected:
    Common() noexcept = default;
    Common(qel_handle_t *h, std::uint32_t db, C *p) noexcept : Bound<C>(h, db, p) {}
};

/* A view with the common operations: the Ref and ConstRef classes. */
template <class C, class D>
class View : public Common<C, D> {
public:
    View() noexcept = default;
    /** @brief A view of @p p (owned elsewhere), made through @p h in @p db. */
    View(qel_handle_t *h, std::uint32_t db, C *p) noexcept : Common<C, D>(h, db, p) {}
};

/* An owning structured object: created, decoded, cloned or parsed, and
 * destroyed with everything it owns when the wrapper goes.  Move-only. */
template <class C, class D>
class Object : public Owning<Common<C, D>, Ops<C>, D> {
    using Base = Owning<Common<C, D>, Ops<C>, D>;

public:
    /** @brief An empty object (no C object behind it). */
    Object() noexcept = default;
    /** @brief A new object made through @p h; throws std::system_error. */
    explicit Object(Handle &h) : Base(h.get(), h.database(), Ops<C>::create(h.get(), h.database())) {
        if (!this->p_) raise(make_error_code(errc::no_memory), "lomari: create");
    }
    /** @brief A new object; empty with errc::no_memory on failure. */
    Object(Handle &h, std::error_code &ec) noexcept : Object(h.get(), h.database(), ec) {}
    /** @brief A new object made through the C handle @p h in @p db; empty
     *  with errc::no_memory on failure. */
    Object(qel_handle_t *h, std::uint32_t db, std::error_code &ec) noexcept
        : Base(h, db, Ops<C>::create(h, db)) {
        set_error(ec, this->p_ ? 0u : std::uint32_t(LOMARI_ERR_NO_MEMORY));
    }
    using Base::adopt;
    using Base::release;
    using Base::reset;

    /** @brief A new object decoded from @p in (its list elements and array
     *  block are its own); empty on error, with nothing left behind. */
    static D decode(Handle &h, std::span<const std::byte> in, std::error_code &ec) noexcept {
        D d(h, ec);
        if (ec) return d;
        std::uint32_t err = 0;
        Ops<C>::unmarshal(h.get(), h.database(), bytes(in), d.p_, length(in.size()), 0, &err);
        set_error(ec, err);
        if (err) d.reset();
        return d;
    }
    /** @brief Decodes a new object; throws std::system_error. */
    static D decode(Handle &h, std::span<const std::byte> in) {
        std::error_code ec;
        D d = decode(h, in, ec);
        return checked(std::move(d), ec, "lomari: decode");
    }
    /** @brief A new object read from an XML document holding an element
     *  named after the type (as to_xml() writes it); empty on error. */
    static D from_xml(Handle &h, std::string_view xml, std::error_code &ec) {
        XmlDoc doc(h.get(), xml, ec);
        if (ec) return D();
        D d(h, ec);
        if (ec) return d;
        std::uint32_t err = 0;
        const std::string path = std::string("//") + Ops<C>::name;
        Ops<C>::from_xml(h.get(), h.database(), path.c_str(), doc.get(), d.p_, &err, nullptr, 0);
        set_error(ec, err);
        if (err) d.reset();
        return d;
    }
    /** @brief Reads a new object from XML; throws std::system_error. */
    static D from_xml(Handle &h, std::string_view xml) {
        std::error_code ec;
        D d = from_xml(h, xml, ec);
        return checked(std::move(d), ec, "lomari: from_xml");
    }
};

/* Equality of two objects of one type, through the library's compare. */
template <class A, class B>
concept SameObjectType = requires {
    typename A::c_type;
    typename B::c_type;
    Ops<typename A::c_type>::compare;
} && std::is_same_v<typename A::c_type, typename B::c_type>;

/* What an iterator's operator-> gives: the view it stands on. */
template <class V>
struct Arrow {
    V v;
    V *operator->() noexcept { return &v; }
};

/* A bidirectional iterator over a chain the library walks one step at a
 * time: S supplies next, prev and last over (handle, database, owner,
 * element); E is the C element (a list's element type, a table's record);
 * end() is the null element, and stepping back from it gives the last. */
template <class S, class O, class E, class V>
class ChainIterator {
public:
    using value_type = V;
    using reference = V;
    using difference_type = std::ptrdiff_t;
    using iterator_concept = std::bidirectional_iterator_tag;
    using iterator_category = std::input_iterator_tag;

    ChainIterator() noexcept = default;
    ChainIterator(qel_handle_t *h, std::uint32_t db, O *o, E *e) noexcept : h_(h), db_(db), o_(o), e_(e) {}

    V operator*() const noexcept { return V(h_, db_, e_); }
    /** @brief it->field(): the element's view, through a proxy. */
    Arrow<V> operator->() const noexcept { return {**this}; }
    ChainIterator &operator++() noexcept {
        std::uint32_t err = 0;
        e_ = S::next(h_, db_, o_, e_, &err);
        return *this;
    }
    ChainIterator operator++(int) noexcept {
        ChainIterator t = *this;
        ++*this;
        return t;
    }
    ChainIterator &operator--() noexcept {
        std::uint32_t err = 0;
        e_ = e_ ? S::prev(h_, db_, o_, e_, &err) : S::last(h_, db_, o_, &err);
        return *this;
    }
    ChainIterator operator--(int) noexcept {
        ChainIterator t = *this;
        --*this;
        return t;
    }
    friend bool operator==(const ChainIterator &a, const ChainIterator &b) noexcept { return a.e_ == b.e_; }
    /** @brief The C element, for the C interface (null at the end). */
    E *get() const noexcept { return e_; }

private:
    qel_handle_t *h_ = nullptr;
    std::uint32_t db_ = 0;
    O *o_ = nullptr;
    E *e_ = nullptr;
};

/* ---- ordered lists ------------------------------------------------------ */

/* A list field's entry points come from lomari.hpp, one struct per field:
 *   owner, elem       the C types
 *   Ref, ConstRef     the element's view classes; Owned its owning class
 *   first, last, next, prev, count, set_first, set_last, set_before,
 *   remove, parent    the entry points */
template <class L, bool Mutable>
using ListIterator = ChainIterator<L, typename L::owner, typename L::elem,
                                   std::conditional_t<Mutable, typename L::Ref, typename L::ConstRef>>;

/**
 * @brief A list field of a structured object, as a range of its elements
 * in order (a view: the owning object keeps the elements).
 *
 * Elements handed to push_back, push_front and insert become the owner's
 * and are destroyed with it; erase destroys one, take gives one back.
 */
template <class L, bool Mutable>
class List {
public:
    using iterator = ListIterator<L, Mutable>;
    using const_iterator = iterator;
    using value_type = typename iterator::value_type;
    using size_type = std::uint32_t;

    List(qel_handle_t *h, std::uint32_t db, typename L::owner *o) noexcept : h_(h), db_(db), o_(o) {}

    /** @brief The first element. */
    iterator begin() const noexcept {
        std::uint32_t err = 0;
        return iterator(h_, db_, o_, L::first(h_, db_, o_, &err));
    }
    /** @brief Past the last element. */
    iterator end() const noexcept { return iterator(h_, db_, o_, nullptr); }
    /** @brief The number of elements. */
    size_type size() const noexcept {
        std::uint32_t err = 0;
        return L::count(h_, db_, o_, &err);
    }
    /** @brief True without elements. */
    bool empty() const noexcept { return size() == 0; }
    /** @brief The first element (the list must not be empty). */
    value_type front() const noexcept { return *begin(); }
    /** @brief The last element (the list must not be empty). */
    value_type back() const noexcept {
        std::uint32_t err = 0;
        return value_type(h_, db_, L::last(h_, db_, o_, &err));
    }

    /** @brief Appends @p e, which the list's owner then owns; returns a view
     *  of it.  On error @p e stays the caller's (errc::invalid: already in
     *  a list, or not state tracked on a tracking handle). */
    value_type push_back(typename L::Owned &&e, std::error_code &ec) noexcept
        requires Mutable
    {
        return place(e, ec, [&](std::uint32_t *err) { L::set_last(h_, db_, o_, e.get(), err); });
    }
    /** @brief Appends @p e; throws std::system_error. */
    value_type push_back(typename L::Owned &&e)
        requires Mutable
    {
        std::error_code ec;
        value_type v = push_back(std::move(e), ec);
        return checked(std::move(v), ec, "lomari: push_back");
    }
    /** @brief Puts @p e first, which the list's owner then owns. */
    value_type push_front(typename L::Owned &&e, std::error_code &ec) noexcept
        requires Mutable
    {
        return place(e, ec, [&](std::uint32_t *err) { L::set_first(h_, db_, o_, e.get(), err); });
    }
    /** @brief Puts @p e first; throws std::system_error. */
    value_type push_front(typename L::Owned &&e)
        requires Mutable
    {
        std::error_code ec;
        value_type v = push_front(std::move(e), ec);
        return checked(std::move(v), ec, "lomari: push_front");
    }
    /** @brief Inserts @p e before @p pos (end(): appends); the list's owner
     *  then owns it.  Returns an iterator to it. */
    iterator insert(iterator pos, typename L::Owned &&e, std::error_code &ec) noexcept
        requires Mutable
    {
        typename L::elem *p = e.get();
        place(e, ec, [&](std::uint32_t *err) {
            if (pos.get())
                L::set_before(h_, db_, o_, pos.get(), p, err);
            else
                L::set_last(h_, db_, o_, p, err);
        });
        return ec ? end() : iterator(h_, db_, o_, p);
    }
    /** @brief Inserts @p e before @p pos; throws std::system_error. */
    iterator insert(iterator pos, typename L::Owned &&e)
        requires Mutable
    {
        std::error_code ec;
        iterator it = insert(pos, std::move(e), ec);
        return checked(std::move(it), ec, "lomari: insert");
    }
    /** @brief Takes the element at @p pos out of the list and gives it to
     *  the caller. */
    typename L::Owned take(iterator pos, std::error_code &ec) noexcept
        requires Mutable
    {
        std::uint32_t err = 0;
        L::remove(h_, db_, o_, pos.get(), &err);
        set_error(ec, err);
        return L::Owned::adopt(h_, db_, err ? nullptr : pos.get());
    }
    /** @brief Takes an element out; throws std::system_error. */
    typename L::Owned take(iterator pos)
        requires Mutable
    {
        std::error_code ec;
        typename L::Owned e = take(pos, ec);
        return checked(std::move(e), ec, "lomari: take");
    }
    /** @brief Removes and destroys the element at @p pos; returns the
     *  iterator to the one after it. */
    iterator erase(iterator pos, std::error_code &ec) noexcept
        requires Mutable
    {
        iterator next = pos;
        ++next;
        typename L::Owned gone = take(pos, ec);
        return ec ? pos : next;
    }
    /** @brief Removes and destroys an element; throws std::system_error. */
    iterator erase(iterator pos)
        requires Mutable
    {
        std::error_code ec;
        iterator it = erase(pos, ec);
        return checked(std::move(it), ec, "lomari: erase");
    }
    /** @brief Removes and destroys every element. */
    void clear() noexcept
        requires Mutable
    {
        std::error_code ec;
        while (!empty() && !ec) erase(begin(), ec);
    }

private:
    /* Links e in with fn; the list's owner owns it once it is linked,
     * also when the insert reports an error after linking it (an owner
     * that is not state tracked on a tracking handle). */
    template <class Fn>
    value_type place(typename L::Owned &e, std::error_code &ec, Fn &&fn) noexcept {
        std::uint32_t err = 0;
        typename L::elem *p = e.get();
        fn(&err);
        set_error(ec, err);
        std::uint32_t ignored = 0;
        if (err && L::parent(h_, db_, p, &ignored) != o_) return value_type();
        e.release();
        return value_type(h_, db_, p);
    }

    qel_handle_t *h_;
    std::uint32_t db_;
    typename L::owner *o_;
};

/* ---- counted arrays ----------------------------------------------------- */

/* Random access over a counted array by index. */
template <class A, bool Mutable>
class ArrayIterator {
public:
    using Ref = std::conditional_t<Mutable, typename A::Ref, typename A::ConstRef>;
    using value_type = Ref;
    using reference = Ref;
    using difference_type = std::ptrdiff_t;
    using iterator_concept = std::random_access_iterator_tag;
    using iterator_category = std::input_iterator_tag;

    ArrayIterator() noexcept = default;
    ArrayIterator(qel_handle_t *h, std::uint32_t db, typename A::owner *o, std::uint32_t i) noexcept
        : h_(h), db_(db), o_(o), i_(i) {}

    Ref operator*() const noexcept {
        std::uint32_t err = 0;
        return Ref(h_, db_, A::get(h_, db_, o_, i_, &err));
    }
    Ref operator[](difference_type n) const noexcept { return *(*this + n); }
    ArrayIterator &operator++() noexcept { return ++i_, *this; }
    ArrayIterator operator++(int) noexcept { return ArrayIterator(h_, db_, o_, i_++); }
    ArrayIterator &operator--() noexcept { return --i_, *this; }
    ArrayIterator operator--(int) noexcept { return ArrayIterator(h_, db_, o_, i_--); }
    ArrayIterator &operator+=(difference_type n) noexcept { return i_ = std::uint32_t(i_ + n), *this; }
    ArrayIterator &operator-=(difference_type n) noexcept { return i_ = std::uint32_t(i_ - n), *this; }
    friend ArrayIterator operator+(ArrayIterator a, difference_type n) noexcept { return a += n; }
    friend ArrayIterator operator+(difference_type n, ArrayIterator a) noexcept { return a += n; }
    friend ArrayIterator operator-(ArrayIterator a, difference_type n) noexcept { return a -= n; }
    friend difference_type operator-(const ArrayIterator &a, const ArrayIterator &b) noexcept {
        return difference_type(a.i_) - difference_type(b.i_);
    }
    friend bool operator==(const ArrayIterator &a, const ArrayIterator &b) noexcept { return a.i_ == b.i_; }
    friend auto operator<=>(const ArrayIterator &a, const ArrayIterator &b) noexcept { return a.i_ <=> b.i_; }

private:
    qel_handle_t *h_ = nullptr;
    std::uint32_t db_ = 0;
    typename A::owner *o_ = nullptr;
    std::uint32_t i_ = 0;
};

/**
 * @brief The counted array of a structured object, span-like: its elements
 * live side by side in one block the owner keeps.
 *
 * A view of an element stays valid until the array grows or is emptied.
 * Growing reallocates the block to exactly the new count (there is no
 * spare capacity).
 */
template <class A, bool Mutable>
class Array {
public:
    using iterator = ArrayIterator<A, Mutable>;
    using const_iterator = iterator;
    using value_type = typename iterator::value_type;
    using size_type = std::uint32_t;

    Array(qel_handle_t *h, std::uint32_t db, typename A::owner *o) noexcept : h_(h), db_(db), o_(o) {}

    /** @brief The number of elements (the owner's pair_count). */
    size_type size() const noexcept {
        std::uint32_t err = 0;
        return A::count(h_, db_, o_, &err);
    }
    /** @brief True without elements. */
    bool empty() const noexcept { return size() == 0; }
    iterator begin() const noexcept { return iterator(h_, db_, o_, 0); }
    iterator end() const noexcept { return iterator(h_, db_, o_, size()); }
    /** @brief The element at @p i, unchecked (an index past the end gives
     *  an empty view). */
    value_type operator[](size_type i) const noexcept {
        std::uint32_t err = 0;
        return value_type(h_, db_, A::get(h_, db_, o_, i, &err));
    }
    /** @brief The element at @p i; errc::not_found past the end. */
    value_type at(size_type i, std::error_code &ec) const noexcept {
        std::uint32_t err = 0;
        typename A::elem *e = A::get(h_, db_, o_, i, &err);
        set_error(ec, err);
        return value_type(h_, db_, err ? nullptr : e);
    }
    /** @brief The element at @p i; throws std::out_of_range past the end. */
    value_type at(size_type i) const {
        std::error_code ec;
        value_type v = at(i, ec);
        if (ec == errc::not_found) {
#if defined(__cpp_exceptions)
            throw std::out_of_range("lomari: array index " + std::to_string(i) + " past " + std::to_string(size()));
#else
            std::abort();
#endif
        }
        return checked(std::move(v), ec, "lomari: at");
    }

    /** @brief Copies the fields of @p value into the slot at @p i; an index
     *  at or past the end grows the array to @p i + 1 elements (the new ones
     *  zero).  @p value stays the caller's. */
    void set(size_type i, const typename A::Owned &value, std::error_code &ec) noexcept
        requires Mutable
    {
        std::uint32_t err = 0;
        A::set(h_, db_, o_, i, value.get(), &err);
        set_error(ec, err);
    }
    /** @brief Sets the slot at @p i; throws std::system_error. */
    void set(size_type i, const typename A::Owned &value)
        requires Mutable
    {
        std::error_code ec;
        set(i, value, ec);
        check(ec, "lomari: set");
    }
    /** @brief Appends a copy of @p value. */
    void push_back(const typename A::Owned &value, std::error_code &ec) noexcept
        requires Mutable
    {
        set(size(), value, ec);
    }
    /** @brief Appends a copy of @p value; throws std::system_error. */
    void push_back(const typename A::Owned &value)
        requires Mutable
    {
        set(size(), value);
    }
    /** @brief Makes the count @p n: new elements are zero, elements past
     *  @p n are destroyed, the first ones keep their values. */
    void resize(size_type n, std::error_code &ec) noexcept
        requires Mutable
    {
        const size_type now = size();
        ec.clear();
        if (n == now) return;
        if (n > now) {
            typename A::Owned zero(h_, db_, ec);
            if (!ec) set(n - 1, zero, ec);
            return;
        }
        // Shrinking: the block only grows or empties, so keep the first n
        // elements aside, empty the array and set them back.
        std::vector<typename A::Owned> keep;
        keep.reserve(n);
        for (size_type i = 0; i < n && !ec; ++i) keep.push_back((*this)[i].clone(ec));
        if (ec) return;
        clear();
        for (size_type i = n; i-- > 0 && !ec;) set(i, keep[i], ec);
    }
    /** @brief Changes the count; throws std::system_error. */
    void resize(size_type n)
        requires Mutable
    {
        std::error_code ec;
        resize(n, ec);
        check(ec, "lomari: resize");
    }
    /** @brief Destroys every element and releases the block. */
    void clear() noexcept
        requires Mutable
    {
        A::remove_elements(h_, db_, o_);
    }

private:
    qel_handle_t *h_;
    std::uint32_t db_;
    typename A::owner *o_;
};

/* ---- messages ----------------------------------------------------------- */

/* Where an envelope's identifier sits, and the shortest envelope. */
inline constexpr std::size_t kIdOffset = 27;
inline constexpr std::size_t kEnvelopeMin = 43;

/* The C entry points of one message, specialised by lomari.hpp:
 *   Body, BodyRef, BodyConstRef   the body's classes
 *   name, id                      the name and the 16-byte identifier
 *   create, destroy, len, marshal, unmarshal, unmarshal_only, print,
 *   to_xml, from_xml, body_get, body_detach, body_free_and_set */
template <class M>
struct MsgOps;

/* A received message's handler of the C interface: it does nothing, the
 * receiver keeps the message through the reference and hands it to the
 * C++ handler once the C call has returned. */
template <class M>
void ignore_received(qel_handle_t *, std::uint32_t, std::uint64_t, M *, std::uint32_t *) noexcept {}

/* An owning message: created with an empty body, decoded, received or
 * parsed; destroyed with its body when the wrapper goes.  Move-only. */
template <class M, class D>
class Message : public Owning<Bound<M>, MsgOps<M>, D>, public Renderings<Message<M, D>> {
    using O = MsgOps<M>;
    using Base = Owning<Bound<M>, MsgOps<M>, D>;
    friend class Renderings<Message>;
    // The envelope: 27 header bytes, the 16-byte identifier and the body's
    // encoding; marshalling fails with errc::domain when the message is not
    // allowed in the handle's domain.
    std::uint32_t c_len() const noexcept { return O::len(this->h_, this->db_, this->p_); }
    std::uint32_t c_marshal(std::uint8_t *b, std::uint32_t room, std::uint32_t *err) const noexcept {
        return O::marshal(this->h_, this->db_, b, this->p_, room, err);
    }
    std::uint32_t c_render(bool xml, char *b, std::uint32_t room, std::uint32_t *err) const noexcept {
        return xml ? O::to_xml(this->h_, this->db_, b, this->p_, room, err)
                   : O::print(this->h_, this->db_, b, this->p_, room, err);
    }

public:
    using lomari_hashable = void;
    /** @brief An empty message wrapper (no C message behind it). */
    Message() noexcept = default;
    /** @brief A new message with a new empty body, made through @p h;
     *  throws std::system_error. */
    explicit Message(Handle &h) : Base(h.get(), h.database(), O::create(h.get(), h.database())) {
        if (!this->p_) raise(make_error_code(errc::no_memory), "lomari: create");
    }
    /** @brief A new message with an empty body; empty with
     *  errc::no_memory on failure. */
    Message(Handle &h, std::error_code &ec) noexcept
        : Base(h.get(), h.database(), O::create(h.get(), h.database())) {
        set_error(ec, this->p_ ? 0u : std::uint32_t(LOMARI_ERR_NO_MEMORY));
    }
    using Base::adopt;
    using Base::release;
    using Base::reset;

    /** @brief The body, which the message keeps. */
    typename O::BodyRef body() noexcept {
        std::uint32_t err = 0;
        return typename O::BodyRef(this->h_, this->db_, O::body_get(this->h_, this->db_, this->p_, &err));
    }
    /** @brief The body, read-only. */
    typename O::BodyConstRef body() const noexcept {
        std::uint32_t err = 0;
        return typename O::BodyConstRef(this->h_, this->db_, O::body_get(this->h_, this->db_, this->p_, &err));
    }
    /** @brief Replaces the body with @p b, which the message then owns; the
     *  body it had is destroyed.  On error @p b stays the caller's. */
    void set_body(typename O::Body &&b, std::error_code &ec) noexcept {
        std::uint32_t err = 0;
        O::body_free_and_set(this->h_, this->db_, this->p_, b.get(), &err);
        set_error(ec, err);
        if (!err) b.release();
    }
    /** @brief Replaces the body; throws std::system_error. */
    void set_body(typename O::Body &&b) {
        std::error_code ec;
        set_body(std::move(b), ec);
        check(ec, "lomari: set_body");
    }
    /** @brief Takes the body out: the caller owns it, the message has none. */
    typename O::Body take_body() noexcept {
        std::uint32_t err = 0;
        return O::Body::adopt(this->h_, this->db_, O::body_detach(this->h_, this->db_, this->p_, &err));
    }

    /** @brief True when @p in starts with an envelope of this message. */
    static bool matches(std::span<const std::byte> in) noexcept {
        return in.size() >= kEnvelopeMin && std::memcmp(in.data() + kIdOffset, O::id, 16) == 0;
    }
    /** @brief A new message decoded from the envelope at the start of @p in
     *  (no handler runs, nothing is recorded).  errc::too_short for fewer
     *  than 43 bytes, errc::invalid for another message's envelope; on any
     *  error the result is empty and nothing is left behind. */
    static D decode(Handle &h, std::span<const std::byte> in, std::error_code &ec) noexcept {
        if (!matches(in)) {
            set_error(ec, in.size() < kEnvelopeMin ? std::uint32_t(LOMARI_ERR_SHORT) : std::uint32_t(LOMARI_ERR_INVALID));
            return D();
        }
        std::uint32_t err = 0;
        M *m = nullptr;
        O::unmarshal_only(h.get(), h.database(), &m, bytes(in), length(in.size()), &err);
        set_error(ec, err);
        D d = adopt(h.get(), h.database(), m);
        if (err) d.reset();
        return d;
    }
    /** @brief Decodes a new message; throws std::system_error. */
    static D decode(Handle &h, std::span<const std::byte> in) {
        std::error_code ec;
        D d = decode(h, in, ec);
        return checked(std::move(d), ec, "lomari: decode");
    }
    /** @brief Receives the envelope at the start of @p in as the library's
     *  unmarshal does (the runtime's recorder sees it) and gives the new
     *  message to the caller; @p used is set to the bytes consumed.  Used
     *  by lomari::dispatch; the identifier is not checked here. */
    static D receive(qel_handle_t *h, std::uint32_t db, std::span<const std::byte> in, std::uint32_t &used,
                     std::error_code &ec) noexcept {
        std::uint32_t err = 0;
        M *m = nullptr;
        used = O::unmarshal(h, db, 0, &m, bytes(in), length(in.size()), &ignore_received<M>, &err);
        set_error(ec, err);
        D d = adopt(h, db, m);
        if (err) d.reset();
        return d;
    }

    /** @brief A new message read from an XML document holding the body's
     *  element (as to_xml() writes it); a document without it gives an
     *  empty body.  Empty on error. */
    static D from_xml(Handle &h, std::string_view xml, std::error_code &ec) {
        XmlDoc doc(h.get(), xml, ec);
        if (ec) return D();
        std::uint32_t err = 0;
        M *m = O::from_xml(h.get(), h.database(), doc.get(), &err, nullptr, 0);
        set_error(ec, err ? err : (m ? 0u : std::uint32_t(LOMARI_ERR_NO_MEMORY)));
        D d = adopt(h.get(), h.database(), m);
        if (ec) d.reset();
        return d;
    }
    /** @brief Reads a new message from XML; throws std::system_error. */
    static D from_xml(Handle &h, std::string_view xml) {
        std::error_code ec;
        D d = from_xml(h, xml, ec);
        return checked(std::move(d), ec, "lomari: from_xml");
    }

    /** @brief The library's hash of the body. */
    std::uint32_t hash(std::uint32_t seed = 0) const noexcept { return body().hash(seed); }
    /** @brief Messages are equal when their bodies compare equal. */
    friend bool operator==(const Message &a, const Message &b) noexcept { return a.body() == b.body(); }
};

/* ---- dispatch ------------------------------------------------------------- */

/* Whether handler F takes a message of class D, as an rvalue or an lvalue. */
template <class D, class F>
inline constexpr bool takes = std::is_invocable_v<F &, D &&> || std::is_invocable_v<F &, D &>;

template <class D, class F>
void call(F &f, D &m) {
    if constexpr (std::is_invocable_v<F &, D &&>)
        std::invoke(f, std::move(m));
    else
        std::invoke(f, m);
}

/* Calls the first handler that takes D; false when none does. */
template <class D>
bool call_first(D &) {
    return false;
}
template <class D, class F, class... R>
bool call_first(D &m, F &f, R &...rest) {
    if constexpr (takes<D, F>) {
        call(f, m);
        return true;
    } else {
        return call_first(m, rest...);
    }
}

/* Receives a message of class D from @p in and gives it to the first
 * handler that takes D; the message is destroyed when the handler is done
 * with it (or right away, with errc::no_handler, when none takes it). */
template <class D, class... F>
std::uint32_t deliver(Handle &h, std::span<const std::byte> in, std::error_code &ec, F &...handlers) {
    std::uint32_t used = 0;
    D m = D::receive(h.get(), h.database(), in, used, ec);
    if (ec) return used;
    if (!call_first(m, handlers...)) set_error(ec, LOMARI_ERR_NO_HANDLER);
    return used;
}

/* The first 8 bytes of an envelope's identifier as a number, first byte
 * lowest (the generated dispatch switches on it). */
inline std::uint64_t id_head(std::span<const std::byte> in) noexcept {
    std::uint64_t v = 0;
    for (std::size_t i = 8; i-- > 0;) v = v << 8 | std::to_integer<std::uint64_t>(in[kIdOffset + i]);
    return v;
}

template <class... F>
inline constexpr bool no_error_code = !(std::is_same_v<std::remove_cvref_t<F>, std::error_code> || ...);

/* ---- tables ------------------------------------------------------------- */

/* The C entry points of one table, specialised by lomari.hpp. */
template <class T>
struct TableOps;

/* What every record wrapper holds. */
template <class T>
class RecordBound : public Renderings<RecordBound<T>> {
    friend class Renderings<RecordBound>;
    // The record's encoding is its record frame and field encodings.
    std::uint32_t c_len() const noexcept { return TableOps<T>::record_len(h_, db_, r_); }
    std::uint32_t c_marshal(std::uint8_t *b, std::uint32_t room, std::uint32_t *err) const noexcept {
        return TableOps<T>::record_marshal(h_, db_, b, r_, room, err);
    }
    std::uint32_t c_render(bool xml, char *b, std::uint32_t room, std::uint32_t *err) const noexcept {
        return xml ? TableOps<T>::record_to_xml(h_, db_, b, r_, room, err)
                   : TableOps<T>::record_print(h_, db_, b, r_, room, err);
    }

public:
    /** @brief The C record, for the C interface (null when empty). */
    void *get() const noexcept { return r_; }
    /** @brief True unless empty. */
    explicit operator bool() const noexcept { return r_ != nullptr; }
    /** @brief The C handle the record was made through. */
    qel_handle_t *handle() const noexcept { return h_; }
    /** @brief The database id the record was made in. */
    std::uint32_t database() const noexcept { return db_; }
    /** @brief The same C record. */
    friend bool operator==(const RecordBound &a, const RecordBound &b) noexcept { return a.r_ == b.r_; }

protected:
    RecordBound() noexcept = default;
    RecordBound(qel_handle_t *h, std::uint32_t db, void *r) noexcept : h_(h), db_(db), r_(r) {}
    qel_handle_t *h_ = nullptr;
    std::uint32_t db_ = QEL_NO_DATABASE;
    void *r_ = nullptr;
};

/* A record seen in a table, not held: valid while some holder keeps it. */
template <class T>
class RecordView : public RecordBound<T> {
public:
    RecordView() noexcept = default;
    /** @brief A view of the C record @p r. */
    RecordView(qel_handle_t *h, std::uint32_t db, void *r) noexcept : RecordBound<T>(h, db, r) {}
};

/* A held record: one of its references.  Copying adds a reference,
 * destruction drops one; the last one takes the record out of its table
 * and destroys its field objects. */
template <class T, class D>
class Record : public RecordBound<T> {
    using O = TableOps<T>;

public:
    /** @brief An empty record wrapper (no C record behind it). */
    Record() noexcept = default;
    /** @brief A new record of source 1 with a new object in each field,
     *  made through @p h; throws std::system_error. */
    explicit Record(Handle &h) {
        std::error_code ec;
        *this = Record(h, ec);
        check(ec, "lomari: create record");
    }
    /** @brief A new record with its field objects; empty on error. */
    Record(Handle &h, std::error_code &ec) noexcept : RecordBound<T>(h.get(), h.database(), nullptr) {
        std::uint32_t err = 0;
        this->r_ = O::create_record(this->h_, this->db_, &err);
        if (this->r_ && !err && !O::make_fields(this->h_, this->db_, this->r_)) err = LOMARI_ERR_NO_MEMORY;
        if (!this->r_ && !err) err = LOMARI_ERR_NO_MEMORY;
        set_error(ec, err);
        if (err) reset();
    }
    /** @brief One more reference to the record @p v is a view of. */
    Record(const RecordView<T> &v) noexcept : RecordBound<T>(v.handle(), v.database(), v.get()) { add_ref(); }
    Record(const Record &o) noexcept : RecordBound<T>(o.h_, o.db_, o.r_) { add_ref(); }
    Record(Record &&o) noexcept : RecordBound<T>(o.h_, o.db_, std::exchange(o.r_, nullptr)) {}
    Record &operator=(Record o) noexcept {
        std::swap(this->h_, o.h_), std::swap(this->db_, o.db_), std::swap(this->r_, o.r_);
        return *this;
    }
    ~Record() { reset(); }

    /** @brief Takes over one reference of the C record @p r. */
    static D adopt(qel_handle_t *h, std::uint32_t db, void *r) noexcept {
        D d;
        d.h_ = h, d.db_ = db, d.r_ = r;
        return d;
    }
    /** @brief Gives up this reference: the caller drops it. */
    void *release() noexcept { return std::exchange(this->r_, nullptr); }
    /** @brief Drops this reference now. */
    void reset() noexcept {
        if (!this->r_) return;
        std::uint32_t err = 0;
        O::destroy_record(this->h_, this->db_, std::exchange(this->r_, nullptr), &err);
    }
    /** @brief The number of references the record has (this one included). */
    std::uint32_t use_count() const noexcept {
        if (!this->r_) return 0;
        std::uint32_t err = 0;
        const std::uint32_t n = O::add_ref(this->h_, this->db_, this->r_, &err);
        O::destroy_record(this->h_, this->db_, this->r_, &err);
        return n;
    }
    /** @brief A view of the record. */
    operator RecordView<T>() const noexcept { return RecordView<T>(this->h_, this->db_, this->r_); }

    /** @brief A new record decoded from the encoding at the start of @p in
     *  (errc::too_short for fewer than 43 bytes, errc::invalid for another
     *  table's record); empty on error, with nothing left behind. */
    static D decode(Handle &h, std::span<const std::byte> in, std::error_code &ec) noexcept {
        if (in.size() < kEnvelopeMin || std::memcmp(in.data() + kIdOffset, O::id, 16) != 0) {
            set_error(ec, in.size() < kEnvelopeMin ? std::uint32_t(LOMARI_ERR_SHORT) : std::uint32_t(LOMARI_ERR_INVALID));
            return D();
        }
        std::uint32_t err = 0;
        void *r = nullptr;
        O::record_unmarshal(h.get(), h.database(), &r, bytes(in), length(in.size()), 0, &err);
        set_error(ec, err);
        D d = adopt(h.get(), h.database(), r);
        if (err) d.reset();
        return d;
    }
    /** @brief Decodes a new record; throws std::system_error. */
    static D decode(Handle &h, std::span<const std::byte> in) {
        std::error_code ec;
        D d = decode(h, in, ec);
        return checked(std::move(d), ec, "lomari: decode");
    }
    /** @brief A new record read from an XML document holding the table's
     *  record element (as to_xml() writes it); empty on error. */
    static D from_xml(Handle &h, std::string_view xml, std::error_code &ec) {
        XmlDoc doc(h.get(), xml, ec);
        if (ec) return D();
        std::uint32_t err = 0;
        void *r = O::record_from_xml(h.get(), h.database(), doc.get(), &err, nullptr, 0);
        set_error(ec, err ? err : (r ? 0u : std::uint32_t(LOMARI_ERR_NO_MEMORY)));
        D d = adopt(h.get(), h.database(), r);
        if (ec) d.reset();
        return d;
    }
    /** @brief Reads a new record from XML; throws std::system_error. */
    static D from_xml(Handle &h, std::string_view xml) {
        std::error_code ec;
        D d = from_xml(h, xml, ec);
        return checked(std::move(d), ec, "lomari: from_xml");
    }

private:
    void add_ref() noexcept {
        if (!this->r_) return;
        std::uint32_t err = 0;
        O::add_ref(this->h_, this->db_, this->r_, &err);
    }
};

/* How an index is keyed. */
enum class KeyKind { u32, str, object };

/* The records of one index of a table in order, from the first of the
 * caller's tenant with source 1 onwards (I: the index's entry points,
 * specialised by lomari.hpp; V: the record view class). */
template <class I, class V>
using IndexIterator = ChainIterator<I, void, void, V>;

/**
 * @brief One index of a table: its records in key order (the caller's
 * tenant, source 1), exact and nearest lookups.
 *
 * Lookups hand out views of records, not references: a record stays in
 * the table only while someone holds it (a Record).
 */
template <class I, class V>
class Index {
public:
    using iterator = IndexIterator<I, V>;
    using const_iterator = iterator;
    using value_type = V;

    Index(qel_handle_t *h, std::uint32_t db, void *t) noexcept : h_(h), db_(db), t_(t) {}

    /** @brief The first record in key order. */
    iterator begin() const noexcept {
        std::uint32_t err = 0;
        return at(I::first(h_, db_, t_, &err));
    }
    /** @brief Past the last record. */
    iterator end() const noexcept { return at(nullptr); }

    /** @brief The record of key @p k, or end(). */
    iterator find(std::uint32_t k) const noexcept
        requires(I::kind == KeyKind::u32)
    {
        return search(&k, false);
    }
    /** @brief The first record whose key is not below @p k, or end(). */
    iterator lower_bound(std::uint32_t k) const noexcept
        requires(I::kind == KeyKind::u32)
    {
        return search(&k, true);
    }
    /** @brief The record of key @p k (at most 31 characters), or end(). */
    iterator find(const char *k) const noexcept
        requires(I::kind == KeyKind::str)
    {
        return search(k, false);
    }
    /** @brief The record of key @p k, or end() (also for more than 31
     *  characters, which no key has). */
    iterator find(std::string_view k) const noexcept
        requires(I::kind == KeyKind::str)
    {
        char buf[32];
        return k.size() < sizeof buf ? find(terminated(k, buf)) : end();
    }
    /** @brief The first record whose key is not below @p k, or end(). */
    iterator lower_bound(const char *k) const noexcept
        requires(I::kind == KeyKind::str)
    {
        return search(k, true);
    }
    /** @brief The first record whose key is not below @p k (31 characters
     *  of it at most), or end(). */
    iterator lower_bound(std::string_view k) const noexcept
        requires(I::kind == KeyKind::str)
    {
        char buf[32];
        return lower_bound(terminated(k.substr(0, 31), buf));
    }
    /** @brief The record whose key object compares equal to @p k, or end(). */
    iterator find(const Bound<typename I::key_c> &k) const noexcept
        requires(I::kind == KeyKind::object)
    {
        return search(k.get(), false);
    }
    /** @brief The first record whose key object is not below @p k, or end(). */
    iterator lower_bound(const Bound<typename I::key_c> &k) const noexcept
        requires(I::kind == KeyKind::object)
    {
        return search(k.get(), true);
    }

protected:
    iterator at(void *r) const noexcept { return iterator(h_, db_, t_, r); }
    template <class K>
    iterator search(K key, bool nearest) const noexcept {
        std::uint32_t err = 0;
        return at(nearest ? I::search_nearest(h_, db_, t_, key, &err) : I::search(h_, db_, t_, key, &err));
    }
    static const char *terminated(std::string_view k, char (&buf)[32]) noexcept {
        std::memcpy(buf, k.data(), k.size());
        buf[k.size()] = '\0';
        return buf;
    }
    qel_handle_t *h_;
    std::uint32_t db_;
    void *t_;
};

}  // namespace detail

/** @brief How a table is opened: create mode finds the table or creates
 *  it; existing opens a table that is already there (errc::not_found when
 *  it is not). */
enum class OpenType : std::uint32_t {
    create = 0,    ///< find the table, or create it (needs the write lock of a shared database)
    existing = 1,  ///< open the table only if it exists
};

namespace detail {

/* An open table (T: the table's entry points; I: its primary index; V, R:
 * its record view and record classes; D: the table class).  Destruction
 * closes it, which leaves the table in its database: free() releases it.
 * Move-only. */
template <class T, class I, class V, class R, class D>
class Table : public Index<I, V> {
    using O = TableOps<T>;

public:
    Table() noexcept : Index<I, V>(nullptr, QEL_NO_DATABASE, nullptr) {}
    Table(Table &&o) noexcept : Index<I, V>(o.h_, o.db_, std::exchange(o.t_, nullptr)) {}
    Table &operator=(Table &&o) noexcept {
        if (this != &o) {
            close();
            this->h_ = o.h_, this->db_ = o.db_, this->t_ = std::exchange(o.t_, nullptr);
        }
        return *this;
    }
    Table(const Table &) = delete;
    Table &operator=(const Table &) = delete;
    ~Table() { close(); }

    /** @brief Opens the table named @p name (its full name is
     *  "name/<identifier text>" unless @p name holds a "/").  Every opener
     *  of a name shares one table.  errc::not_found when @p type is
     *  existing and there is no such table. */
    static D open(Handle &h, std::string_view name, OpenType type, std::error_code &ec) {
        const std::string n(name);
        std::uint32_t err = 0;
        void *t = O::open(h.get(), h.database(), n.c_str(), static_cast<std::uint32_t>(type), &err);
        return made(h, t, err, ec);
    }
    /** @brief Opens or creates the table named @p name; throws
     *  std::system_error. */
    static D open(Handle &h, std::string_view name, OpenType type = OpenType::create) {
        std::error_code ec;
        D d = open(h, name, type, ec);
        return checked(std::move(d), ec, "lomari: open table");
    }
    /** @brief Opens the table of id @p id. */
    static D open_by_id(Handle &h, std::uint64_t id, OpenType type, std::error_code &ec) noexcept {
        std::uint32_t err = 0;
        void *t = O::open_by_id(h.get(), h.database(), id, static_cast<std::uint32_t>(type), &err);
        return made(h, t, err, ec);
    }
    /** @brief Opens the table of id @p id; throws std::system_error. */
    static D open_by_id(Handle &h, std::uint64_t id, OpenType type = OpenType::create) {
        std::error_code ec;
        D d = open_by_id(h, id, type, ec);
        return checked(std::move(d), ec, "lomari: open table");
    }

    /** @brief The C table, for the C interface. */
    void *get() const noexcept { return this->t_; }
    /** @brief True unless moved from or freed. */
    explicit operator bool() const noexcept { return this->t_ != nullptr; }
    /** @brief The primary index (the table itself iterates and looks up
     *  in it too). */
    Index<I, V> primary() const noexcept { return *this; }

    /** @brief Puts @p r into every index of the table.  The table does not
     *  hold a reference: keep a Record for as long as the record should
     *  stay.  errc::exists when the key is already there or the record is
     *  in a table. */
    void insert(const RecordBound<T> &r, std::error_code &ec) noexcept {
        std::uint32_t err = 0;
        O::insert(this->h_, this->db_, this->t_, r.get(), &err);
        set_error(ec, err);
    }
    /** @brief Inserts @p r; throws std::system_error. */
    void insert(const RecordBound<T> &r) {
        std::error_code ec;
        insert(r, ec);
        check(ec, "lomari: insert");
    }
    /** @brief Takes @p r out of every index (its holders keep it). */
    void erase(const RecordBound<T> &r, std::error_code &ec) noexcept {
        std::uint32_t err = 0;
        O::erase(this->h_, this->db_, this->t_, r.get(), &err);
        set_error(ec, err);
    }
    /** @brief Takes @p r out; throws std::system_error. */
    void erase(const RecordBound<T> &r) {
        std::error_code ec;
        erase(r, ec);
        check(ec, "lomari: erase");
    }
    /** @brief Takes the record at @p pos out; returns the iterator to the
     *  record after it. */
    typename Index<I, V>::iterator erase(typename Index<I, V>::iterator pos, std::error_code &ec) noexcept {
        auto next = pos;
        ++next;
        erase(*pos, ec);
        return ec ? pos : next;
    }
    /** @brief Takes the record at @p pos out; throws std::system_error. */
    typename Index<I, V>::iterator erase(typename Index<I, V>::iterator pos) {
        std::error_code ec;
        auto it = erase(pos, ec);
        return checked(std::move(it), ec, "lomari: erase");
    }
    /** @brief The number of records in the table (the caller's tenant's,
     *  when it has one). */
    std::uint32_t count() const noexcept { return O::count(this->h_, this->db_, this->t_); }
    /** @brief The same as count(). */
    std::uint32_t size() const noexcept { return count(); }
    /** @brief True without records. */
    bool empty() const noexcept { return count() == 0; }

    /** @brief Releases the table now; records still in it stay their
     *  holders', in no table.  The wrapper becomes empty. */
    void free(std::error_code &ec) noexcept {
        std::uint32_t err = 0;
        if (this->t_) O::free(this->h_, this->db_, this->t_, &err);
        set_error(ec, err);
        if (!err) this->t_ = nullptr;
    }
    /** @brief Releases the table; throws std::system_error. */
    void free() {
        std::error_code ec;
        free(ec);
        check(ec, "lomari: free table");
    }
    /** @brief Closes the table (it lives on in its database); the wrapper
     *  becomes empty. */
    void close() noexcept {
        std::uint32_t err = 0;
        if (this->t_) O::close(this->h_, this->db_, std::exchange(this->t_, nullptr), &err);
    }

private:
    static D made(Handle &h, void *t, std::uint32_t err, std::error_code &ec) noexcept {
        set_error(ec, err ? err : (t ? 0u : std::uint32_t(LOMARI_ERR_NOT_FOUND)));
        D d;
        d.h_ = h.get(), d.db_ = h.database(), d.t_ = err ? nullptr : t;
        return d;
    }
};

}  // namespace detail

/** @brief Objects of one structured type compare equal when the library's
 *  compare finds every field equal (lists and arrays element by element). */
template <class A, class B>
    requires detail::SameObjectType<A, B>
bool operator==(const A &a, const B &b) noexcept {
    if (!a.get() || !b.get()) return a.get() == b.get();
    return detail::Ops<typename A::c_type>::compare(a.get(), b.get()) == 0;
}

}  // namespace lomari

/// @cond
// std::hash of every structured object and message class, from the
// library's hash.
template <class T>
    requires requires(const T &t) {
        typename T::lomari_hashable;
        { t.hash() } -> std::convertible_to<std::uint32_t>;
    }
struct std::hash<T> {
    std::size_t operator()(const T &t) const noexcept { return t.hash(); }
};
/// @endcond

#endif  // LOMARI_BASE_HPP
