// The Set-Cookie writer: one Cookie to the value of a Set-Cookie header.
#include "cookies/cookie.hpp"
#include "cookies/cookie_constants.hpp"
#include "cookies/date_text.hpp"
#include "cookies/functions.hpp"
#include "cookies/percent.hpp"
#include "cookies/stdlib_bindings.hpp"
#include "module_support/ref.hpp"
#include "module_support/truth.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velmora::cookies {

using support::Ref;

namespace {

// Cookie attributes as exact-type code reads them: the properties of Cookie
// itself return the fields, so only subclasses need the attribute lookup.
PyObject *cookie_attribute(VelmoraCookie *cookie, PyObject *name, PyObject *field) {
    if (Py_IS_TYPE(as_object(cookie), &Cookie_type)) return Py_NewRef(field);
    return PyObject_GetAttr(as_object(cookie), name);
}

// The UTF-8 of an exact str: an ASCII text is its own UTF-8, read in place;
// any other is encoded (and cached in the object) by the interpreter.
bool utf8_of(PyObject *text, std::string_view &out) {
    if (PyUnicode_IS_ASCII(text)) {
        out = {static_cast<const char *>(PyUnicode_DATA(text)),
               static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))};
        return true;
    }
    Py_ssize_t length;
    const char *data = PyUnicode_AsUTF8AndSize(text, &length);
    if (!data) return false;
    out = {data, static_cast<std::size_t>(length)};
    return true;
}

// A header value must never hold a control byte: a CR or LF would start a
// new header line in the response, whatever put it there.
bool is_control_byte(char ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7f;
}

// Eight bytes at a time: a byte below 0x20 or equal to 0x7F in a word sets
// the high bit of the word's "less than" or "zero" test.
bool has_control_byte(std::string_view bytes) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHighs = 0x8080808080808080u;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        const uint64_t below_blank = (word - kOnes * 0x20) & ~word & kHighs;
        const uint64_t del = word ^ (kOnes * 0x7f);
        if (below_blank | ((del - kOnes) & ~del & kHighs)) return true;
    }
    for (; i < bytes.size(); ++i) {
        if (is_control_byte(bytes[i])) return true;
    }
    return false;
}

bool check_no_control_bytes(std::string_view bytes, const char *attribute) {
    if (!has_control_byte(bytes)) return true;
    for (char ch : bytes) {
        if (is_control_byte(ch)) {
            PyErr_Format(PyExc_ValueError,
                         "cookie %s contains the control byte 0x%02X, which cannot be written "
                         "into a Set-Cookie header",
                         attribute, static_cast<unsigned char>(ch));
            break;
        }
    }
    return false;
}

// The decimal text of a non-negative number, as str() writes it, at the end
// of `buffer`; returns where it starts.
char *decimal_text(uint64_t value, char *end) {
    char *at = end;
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return at;
}

// The parts of the header value, joined by "; ".
constexpr std::string_view kSeparator = "; ";
constexpr std::string_view kExpires = "; Expires=";
constexpr std::string_view kMaxAge = "; Max-Age=";

// One piece of the header value. The writer first runs every step of the
// documented algorithm, recording pieces; then it sizes the one bytes object
// of the result and writes the pieces into it. A piece is a literal, the
// bytes an object holds, the percent-encoding of a text (done here, when the
// standard quote may be stood in for), or an object joined through its
// buffer, as b"; ".join would. The separators are written as the literals
// that begin every part but the first.
struct Piece {
    enum Kind : unsigned char { kBytes, kQuoted, kBuffer };
    Kind kind;
    const char *check;   // named when its bytes hold a control byte, or nullptr
    const char *data;    // kBytes: the bytes; kQuoted: the UTF-8 text to encode
    std::size_t length;  // of `data`
    std::size_t size;    // bytes it writes: `length`, or the size of the encoding (kQuoted)
    PyObject *object;    // kBuffer: the object joined through its buffer
    std::size_t part;    // kBuffer: its place among the parts, for the join's error
};

// The pieces stay uninitialised until added: most cookies use a few.
struct Writer {
    static constexpr int kMaxPieces = 16;
    Piece pieces[kMaxPieces];
    PyObject *held[kMaxPieces];  // what the pieces' bytes belong to, owned here
    int count = 0;
    int held_count = 0;
    std::size_t parts = 0;  // parts begun
    bool has_buffers = false;
    char expires[kExpires.size() + date_text::kLength];
    char max_age[kMaxAge.size() + 20];

    Writer() {}
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;
    ~Writer() {
        for (int i = 0; i < held_count; ++i) Py_DECREF(held[i]);
    }

    // Takes over a reference (which may be nullptr).
    void hold(PyObject *owner) {
        if (owner) held[held_count++] = owner;
    }
    Piece &add(Piece::Kind kind, std::string_view bytes, const char *check) {
        Piece &p = pieces[count++];
        p.kind = kind;
        p.check = check;
        p.data = bytes.data();
        p.length = p.size = bytes.size();
        return p;
    }
    void literal(std::string_view text) { add(Piece::kBytes, text, nullptr); }
    // Begins a part that no literal begins: the separator comes first.
    void separate() {
        if (parts++ > 0) literal(kSeparator);
    }
    // The bytes of `object` (held here), after the literal that begins the part.
    void held_bytes(Ref object, const char *check) {
        add(Piece::kBytes,
            {PyBytes_AS_STRING(object.get()),
             static_cast<std::size_t>(PyBytes_GET_SIZE(object.get()))},
            check);
        hold(object.release());
    }
    // A whole part: an object joined through its buffer, as b"; ".join takes it.
    void buffer(Ref object, const char *check) {
        separate();
        Piece &p = add(Piece::kBuffer, {}, check);
        p.object = object.get();
        p.part = parts - 1;
        has_buffers = true;
        hold(object.release());
    }
};

// ---- 1. name and value ---------------------------------------------------------

// quote(cookie.<attribute>).encode() before the "+": either recorded for
// native percent-encoding (the standard quote on an exact str: no code runs,
// no control byte can come out), or the result object of the Python calls.
struct Quoted {
    Ref text;               // the attribute's value, held for its UTF-8
    std::string_view utf8;  // native: the text to encode
    Ref encoded;            // otherwise: what encode() returned
};

bool quote_attribute_generic(VelmoraCookie *cookie, PyObject *name, PyObject *field, Quoted &out) {
    // quote is looked up for this use before the attribute is read.
    bool native;
    Ref quote = Ref::steal(lookup_standard(slots.quote, bound.quote, standard.quote, &native));
    if (!quote) return false;
    out.text = Ref::steal(cookie_attribute(cookie, name, field));
    if (!out.text) return false;
    if (native && PyUnicode_CheckExact(out.text.get()) && quote_may_stand_in(out.text.get())) {
        return utf8_of(out.text.get(), out.utf8);
    }
    Ref quoted = Ref::steal(PyObject_CallOneArg(quote.get(), out.text.get()));
    if (!quoted) return false;
    out.encoded = Ref::steal(PyObject_CallMethodNoArgs(quoted.get(), constants.encode));
    return static_cast<bool>(out.encoded);
}

// An exact Cookie reads its fields without running code, so when the cached
// lookup finds the standard quote, the lookup and the read are made here.
inline bool standard_quote_for(VelmoraCookie *cookie) {
    return Py_IS_TYPE(as_object(cookie), &Cookie_type) && standard.quote &&
           frame.names.peek(*slots.quote) == bound.quote;
}

// `standard_quote`: what standard_quote_for(cookie) gives at this point.
inline bool quote_attribute(VelmoraCookie *cookie, PyObject *name, PyObject *field,
                            bool standard_quote, Quoted &out) {
    if (standard_quote && PyUnicode_CheckExact(field) && quote_may_stand_in(field)) {
        out.text = Ref::borrow(field);
        return utf8_of(field, out.utf8);
    }
    return quote_attribute_generic(cookie, name, field, out);
}

bool is_native(const Quoted &q) {
    return !q.encoded;
}

// The quoted text as a bytes object, for the interpreter's + operator.
PyObject *quoted_bytes(const Quoted &q) {
    if (!is_native(q)) return Py_NewRef(q.encoded.get());
    const std::size_t size = quoted_size(q.utf8);
    PyObject *result = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    if (result) write_quoted(q.utf8, PyBytes_AS_STRING(result));
    return result;
}

void add_quoted(Writer &w, Quoted &q, const char *check) {
    if (is_native(q)) {
        // Nothing to escape (the usual name and value): copied as it is.
        const std::size_t size = quoted_size(q.utf8);
        Piece &p = w.add(size == q.utf8.size() ? Piece::kBytes : Piece::kQuoted, q.utf8, nullptr);
        p.size = size;
        w.hold(q.text.release());
        return;
    }
    w.held_bytes(std::move(q.encoded), check);
}

// quote(name).encode() + b"=", then quote(value).encode() and +: the value
// is quoted only once the name's result has taken b"=". The first part.
bool write_pair(Writer &w, VelmoraCookie *cookie) {
    Quoted name;
    bool standard_quote = standard_quote_for(cookie);
    // Read and quoted in place, the name runs no code: the lookup made for it
    // then holds for the value too.
    const bool name_in_place =
        standard_quote && PyUnicode_CheckExact(cookie->_name) && quote_may_stand_in(cookie->_name);
    if (!quote_attribute(cookie, constants.name, cookie->_name, standard_quote, name)) return false;
    const bool name_plain = is_native(name) || PyBytes_CheckExact(name.encoded.get());
    Ref head;  // name + b"=", when the name's result is not plain bytes
    if (!name_plain) {
        Ref equals = Ref::steal(PyBytes_FromStringAndSize("=", 1));
        if (!equals) return false;
        head = Ref::steal(PyNumber_Add(name.encoded.get(), equals.get()));
        if (!head) return false;
    }
    if (!name_in_place) standard_quote = standard_quote_for(cookie);
    Quoted value;
    if (!quote_attribute(cookie, constants.value, cookie->_value, standard_quote, value)) {
        return false;
    }
    const bool value_plain = is_native(value) || PyBytes_CheckExact(value.encoded.get());
    if (name_plain && value_plain) {
        // bytes + bytes: nothing to call, so the pieces go straight into the result.
        w.parts = 1;
        add_quoted(w, name, "name");
        w.literal("=");
        add_quoted(w, value, "value");
        return true;
    }
    if (name_plain) {
        Ref name_bytes = Ref::steal(quoted_bytes(name));
        if (!name_bytes) return false;
        Ref equals = Ref::steal(PyBytes_FromStringAndSize("=", 1));
        if (!equals) return false;
        head = Ref::steal(PyNumber_Add(name_bytes.get(), equals.get()));
        if (!head) return false;
    }
    Ref value_bytes = Ref::steal(quoted_bytes(value));
    if (!value_bytes) return false;
    Ref whole = Ref::steal(PyNumber_Add(head.get(), value_bytes.get()));
    if (!whole) return false;
    w.buffer(std::move(whole), "name or value");
    return true;
}

// ---- 2. Expires -------------------------------------------------------------------

// b"Expires=" + datetime_to_cookie_format(expires), when the field is true.
bool write_expires(Writer &w, VelmoraCookie *cookie) {
    // Held across the calls into Python, which may replace the field.
    Ref expires = Ref::borrow(cookie->expires);
    int truth = support::is_true(expires.get());
    if (truth <= 0) return truth == 0;
    if (datetime_capi && format_natively(expires.get(), w.expires + kExpires.size())) {
        kExpires.copy(w.expires, kExpires.size());
        w.literal({w.expires, sizeof w.expires});
        ++w.parts;
        return true;
    }
    Ref date = Ref::steal(format_generic(expires.get()));
    if (!date) return false;
    if (!PyBytes_CheckExact(date.get())) {
        // None: the interpreter's own error of the +.
        Ref literal = Ref::steal(PyBytes_FromStringAndSize("Expires=", 8));
        if (!literal) return false;
        Ref joined = Ref::steal(PyNumber_Add(literal.get(), date.get()));
        if (!joined) return false;
        w.buffer(std::move(joined), "expires");
        return true;
    }
    w.literal(kExpires);
    ++w.parts;
    w.held_bytes(std::move(date), "expires");
    return true;
}

// ---- 3. Max-Age -------------------------------------------------------------------

void write_max_age(Writer &w, VelmoraCookie *cookie) {
    if (cookie->max_age < 0) return;
    char *end = w.max_age + sizeof w.max_age;
    char *start = decimal_text(static_cast<uint64_t>(cookie->max_age), end) - kMaxAge.size();
    kMaxAge.copy(start, kMaxAge.size());
    w.literal({start, static_cast<std::size_t>(end - start)});
    ++w.parts;
}

// ---- 4, 5. Domain and Path --------------------------------------------------------

// b"<prefix>" + text.encode(), for a non-empty str (never percent-encoded).
// `part` is the literal that begins the part: the separator, then the prefix.
bool write_some_text(Writer &w, PyObject *field, std::string_view part, const char *attribute) {
    if (PyUnicode_CheckExact(field)) {
        std::string_view utf8;
        if (!utf8_of(field, utf8)) return false;
        w.literal(part);
        ++w.parts;
        w.add(Piece::kBytes, utf8, attribute);
        w.hold(Py_NewRef(field));
        return true;
    }
    // A str subclass has its own encode called.
    Ref text = Ref::borrow(field);
    Ref encoded = Ref::steal(PyObject_CallMethodNoArgs(text.get(), constants.encode));
    if (!encoded) return false;
    const std::string_view prefix = part.substr(kSeparator.size());
    Ref literal = Ref::steal(
        PyBytes_FromStringAndSize(prefix.data(), static_cast<Py_ssize_t>(prefix.size())));
    if (!literal) return false;
    Ref joined = Ref::steal(PyNumber_Add(literal.get(), encoded.get()));
    if (!joined) return false;
    w.buffer(std::move(joined), attribute);
    return true;
}

// Inline: most cookies have no Domain or no Path.
inline bool write_text(Writer &w, PyObject *field, std::string_view part, const char *attribute) {
    if (!PyUnicode_Check(field) || PyUnicode_GET_LENGTH(field) == 0) return true;
    return write_some_text(w, field, part, attribute);
}

// ---- 6 to 9. The flags ------------------------------------------------------------

// The parts the flags write, as one piece: "; HttpOnly" when bit 0 of the
// index is set, "; Secure" for bit 1, then the SameSite part of the code in
// the bits above (1 Lax, 2 Strict, 3 None; 0 writes none).
struct FlagParts {
    char text[48];
    std::size_t size;
    std::size_t parts;
};

constexpr FlagParts flag_parts(unsigned index) {
    constexpr std::string_view same_site[] = {"", "; SameSite=Lax", "; SameSite=Strict",
                                              "; SameSite=None"};
    FlagParts out{};
    auto append = [&out](std::string_view part) {
        for (char c : part) out.text[out.size++] = c;
        if (!part.empty()) ++out.parts;
    };
    append(index & 1 ? "; HttpOnly" : "");
    append(index & 2 ? "; Secure" : "");
    append(same_site[index >> 2]);
    return out;
}

constexpr std::array<FlagParts, 16> flag_table() {
    std::array<FlagParts, 16> table{};
    for (unsigned i = 0; i < table.size(); ++i) table[i] = flag_parts(i);
    return table;
}

constexpr std::array<FlagParts, 16> kFlagParts = flag_table();

void write_flags(Writer &w, VelmoraCookie *cookie) {
    // STRICT and NONE need Secure, written once; an unknown code writes no
    // SameSite part.
    const uint32_t same_site = cookie->same_site;
    const bool known = same_site <= VELMORA_SAME_SITE_NONE;
    const bool secure = cookie->secure || same_site == VELMORA_SAME_SITE_STRICT ||
                        same_site == VELMORA_SAME_SITE_NONE;
    const unsigned index =
        (cookie->http_only ? 1u : 0u) | (secure ? 2u : 0u) | (known ? same_site << 2 : 0u);
    if (index == 0) return;
    const FlagParts &flags = kFlagParts[index];
    w.literal({flags.text, flags.size});
    w.parts += flags.parts;
}

// ---- 10. b"; ".join(parts) ----------------------------------------------------------

// Most pieces are a few bytes long, cheaper to copy here than through a call.
// Up to 16 bytes go as two fixed-size copies that may overlap.
inline void copy_bytes(char *out, const char *from, std::size_t size) {
    if (size > 16) {
        std::memcpy(out, from, size);
    } else if (size >= 8) {
        std::memcpy(out, from, 8);
        std::memcpy(out + size - 8, from + size - 8, 8);
    } else if (size >= 4) {
        std::memcpy(out, from, 4);
        std::memcpy(out + size - 4, from + size - 4, 4);
    } else if (size > 0) {
        out[0] = from[0];
        out[size / 2] = from[size / 2];
        out[size - 1] = from[size - 1];
    }
}

// Releases the buffers taken for the join.
struct Buffers {
    Py_buffer views[Writer::kMaxPieces];
    int count = 0;
    Buffers() {}
    Buffers(const Buffers &) = delete;
    Buffers &operator=(const Buffers &) = delete;
    ~Buffers() {
        for (int i = 0; i < count; ++i) PyBuffer_Release(&views[i]);
    }
};

// As bytes.join: the buffers of all parts first (with its error for what has
// none), then the size.
bool take_buffers(Writer &w, Buffers &buffers) {
    for (int i = 0; i < w.count; ++i) {
        Piece &p = w.pieces[i];
        if (p.kind != Piece::kBuffer) continue;
        Py_buffer &view = buffers.views[buffers.count];
        if (PyObject_GetBuffer(p.object, &view, PyBUF_SIMPLE) != 0) {
            PyErr_Format(PyExc_TypeError,
                         "sequence item %zu: expected a bytes-like object, %.80s found", p.part,
                         Py_TYPE(p.object)->tp_name);
            return false;
        }
        ++buffers.count;
        p.data = static_cast<const char *>(view.buf);
        p.length = p.size = static_cast<std::size_t>(view.len);
    }
    return true;
}

PyObject *join(Writer &w) {
    Buffers buffers;
    if (w.has_buffers && !take_buffers(w, buffers)) return nullptr;
    std::size_t total = 0;
    for (int i = 0; i < w.count; ++i) total += w.pieces[i].size;
    if (total > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
        PyErr_SetString(PyExc_OverflowError, "join() result is too long for a Python bytes object");
        return nullptr;
    }
    Ref result = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(total)));
    if (!result) return nullptr;
    char *out = PyBytes_AS_STRING(result.get());
    for (int i = 0; i < w.count; ++i) {
        const Piece &p = w.pieces[i];
        if (p.kind == Piece::kQuoted) {
            write_quoted({p.data, p.length}, out);
        } else {
            copy_bytes(out, p.data, p.size);
            // Checked as written: a buffer cannot change under the check.
            if (p.check && !check_no_control_bytes({out, p.size}, p.check)) return nullptr;
        }
        out += p.size;
    }
    return result.release();
}

}  // namespace

PyObject *write_cookie_for_response(VelmoraCookie *cookie) {
    // Native callers pass a Cookie; anything else would be read as one.
    if (!cookie || !PyObject_TypeCheck(as_object(cookie), &Cookie_type)) {
        PyErr_Format(PyExc_TypeError, "write_cookie_for_response() expects a Cookie, got %.200s",
                     cookie ? Py_TYPE(as_object(cookie))->tp_name : "NULL");
        return nullptr;
    }
    // Held: the Python code the steps call could drop the caller's reference.
    // (Exact cookies run no Python code until the date.)
    Ref held = Ref::borrow(as_object(cookie));
    Writer w;
    if (!write_pair(w, cookie) || !write_expires(w, cookie)) return nullptr;
    write_max_age(w, cookie);
    if (!write_text(w, cookie->domain, "; Domain=", "domain") ||
        !write_text(w, cookie->path, "; Path=", "path")) {
        return nullptr;
    }
    write_flags(w, cookie);
    return join(w);
}

}  // namespace velmora::cookies
