// The Set-Cookie writer: one Cookie to the value of a Set-Cookie header.
#include "cookies/cookie.hpp"
#include "cookies/cookie_constants.hpp"
#include "cookies/date_text.hpp"
#include "cookies/functions.hpp"
#include "cookies/percent.hpp"
#include "cookies/stdlib_bindings.hpp"
#include "module_support/ref.hpp"
#include "module_support/truth.hpp"

#include <cstring>
#include <string_view>

namespace velmora::cookies {

using support::Ref;

namespace {

constexpr std::string_view kSeparator = "; ";

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

// One piece of the header value. The writer first runs every step of the
// documented algorithm, recording pieces; then it sizes the one bytes object
// of the result and writes the pieces into it. A piece is a literal, the
// bytes an object holds, the percent-encoding of a text (done here, when the
// standard quote may be stood in for), or an object joined through its
// buffer, as b"; ".join would.
struct Piece {
    enum Kind : unsigned char { kBytes, kQuoted, kBuffer };
    Kind kind;
    bool starts_part;        // the separator comes before it (but the first)
    std::string_view bytes;  // kBytes: the bytes; kQuoted: the UTF-8 text to encode
    std::size_t size;        // kQuoted: the size of its encoding
    PyObject *owner;         // strong, or nullptr: holds `bytes`, or is the kBuffer object
    const char *check;       // named when its bytes hold a control byte, or nullptr
};

// The pieces stay uninitialised until added: most cookies use a few.
struct Writer {
    static constexpr int kMaxPieces = 16;
    Piece pieces[kMaxPieces];
    int count = 0;
    bool has_buffers = false;
    char date[date_text::kLength];
    char max_age[24];

    Writer() {}
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;
    ~Writer() {
        for (int i = 0; i < count; ++i) Py_XDECREF(pieces[i].owner);
    }

    // `owner` is stolen.
    Piece &add(bool starts_part, Piece::Kind kind, std::string_view bytes, PyObject *owner,
               const char *check) {
        Piece &p = pieces[count++];
        p.kind = kind;
        p.starts_part = starts_part;
        p.bytes = bytes;
        p.size = bytes.size();
        p.owner = owner;
        p.check = check;
        if (kind == Piece::kBuffer) has_buffers = true;
        return p;
    }
    void literal(std::string_view text, bool starts_part) {
        add(starts_part, Piece::kBytes, text, nullptr, nullptr);
    }
    // A part that is exactly the bytes of `object` (held here).
    void held_bytes(Ref object, bool starts_part, const char *check) {
        std::string_view bytes{PyBytes_AS_STRING(object.get()),
                               static_cast<std::size_t>(PyBytes_GET_SIZE(object.get()))};
        add(starts_part, Piece::kBytes, bytes, object.release(), check);
    }
    // An object joined through its buffer, as b"; ".join takes it.
    void buffer(Ref object, bool starts_part, const char *check) {
        add(starts_part, Piece::kBuffer, {}, object.release(), check);
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

// An exact Cookie reads its field without running code, so when the cached
// lookup finds the standard quote, the lookup and the read are made here.
inline bool quote_attribute(VelmoraCookie *cookie, PyObject *name, PyObject *field, Quoted &out) {
    if (Py_IS_TYPE(as_object(cookie), &Cookie_type) && PyUnicode_CheckExact(field) &&
        standard.quote && frame.names.peek(*slots.quote) == bound.quote &&
        quote_may_stand_in(field)) {
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

void add_quoted(Writer &w, Quoted &q, bool starts_part, const char *check) {
    if (is_native(q)) {
        // Nothing to escape (the usual name and value): copied as it is.
        const std::size_t size = quoted_size(q.utf8);
        Piece &p = w.add(starts_part, size == q.utf8.size() ? Piece::kBytes : Piece::kQuoted,
                         q.utf8, q.text.release(), nullptr);
        p.size = size;
        return;
    }
    w.held_bytes(std::move(q.encoded), starts_part, check);
}

// quote(name).encode() + b"=", then quote(value).encode() and +: the value
// is quoted only once the name's result has taken b"=".
bool write_pair(Writer &w, VelmoraCookie *cookie) {
    Quoted name;
    if (!quote_attribute(cookie, constants.name, cookie->_name, name)) return false;
    const bool name_plain = is_native(name) || PyBytes_CheckExact(name.encoded.get());
    Ref head;  // name + b"=", when the name's result is not plain bytes
    if (!name_plain) {
        Ref equals = Ref::steal(PyBytes_FromStringAndSize("=", 1));
        if (!equals) return false;
        head = Ref::steal(PyNumber_Add(name.encoded.get(), equals.get()));
        if (!head) return false;
    }
    Quoted value;
    if (!quote_attribute(cookie, constants.value, cookie->_value, value)) return false;
    const bool value_plain = is_native(value) || PyBytes_CheckExact(value.encoded.get());
    if (name_plain && value_plain) {
        // bytes + bytes: nothing to call, so the pieces go straight into the result.
        add_quoted(w, name, true, "name");
        w.literal("=", false);
        add_quoted(w, value, false, "value");
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
    w.buffer(std::move(whole), true, "name or value");
    return true;
}

// ---- 2. Expires -------------------------------------------------------------------

// b"Expires=" + datetime_to_cookie_format(expires), when the field is true.
bool write_expires(Writer &w, VelmoraCookie *cookie) {
    // Held across the calls into Python, which may replace the field.
    Ref expires = Ref::borrow(cookie->expires);
    int truth = support::is_true(expires.get());
    if (truth <= 0) return truth == 0;
    if (datetime_capi && format_natively(expires.get(), w.date)) {
        w.literal("Expires=", true);
        w.literal({w.date, date_text::kLength}, false);
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
        w.buffer(std::move(joined), true, "expires");
        return true;
    }
    w.literal("Expires=", true);
    w.held_bytes(std::move(date), false, "expires");
    return true;
}

// ---- 3. Max-Age -------------------------------------------------------------------

void write_max_age(Writer &w, VelmoraCookie *cookie) {
    if (cookie->max_age < 0) return;
    char *end = w.max_age + sizeof w.max_age;
    char *start = decimal_text(static_cast<uint64_t>(cookie->max_age), end);
    w.literal("Max-Age=", true);
    w.literal({start, static_cast<std::size_t>(end - start)}, false);
}

// ---- 4, 5. Domain and Path --------------------------------------------------------

// b"<prefix>" + text.encode(), for a non-empty str (never percent-encoded).
bool write_some_text(Writer &w, PyObject *field, std::string_view prefix, const char *attribute) {
    Ref text = Ref::borrow(field);
    if (PyUnicode_CheckExact(field)) {
        std::string_view utf8;
        if (!utf8_of(field, utf8)) return false;
        w.literal(prefix, true);
        w.add(false, Piece::kBytes, utf8, text.release(), attribute);
        return true;
    }
    // A str subclass has its own encode called.
    Ref encoded = Ref::steal(PyObject_CallMethodNoArgs(text.get(), constants.encode));
    if (!encoded) return false;
    Ref literal = Ref::steal(
        PyBytes_FromStringAndSize(prefix.data(), static_cast<Py_ssize_t>(prefix.size())));
    if (!literal) return false;
    Ref joined = Ref::steal(PyNumber_Add(literal.get(), encoded.get()));
    if (!joined) return false;
    w.buffer(std::move(joined), true, attribute);
    return true;
}

// Inline: most cookies have no Domain or no Path.
inline bool write_text(Writer &w, PyObject *field, std::string_view prefix, const char *attribute) {
    if (!PyUnicode_Check(field) || PyUnicode_GET_LENGTH(field) == 0) return true;
    return write_some_text(w, field, prefix, attribute);
}

// ---- 6 to 9. The flags ------------------------------------------------------------

void write_flags(Writer &w, VelmoraCookie *cookie) {
    // STRICT and NONE need Secure, written once.
    const uint32_t same_site = cookie->same_site;
    if (cookie->http_only) w.literal("HttpOnly", true);
    if (cookie->secure || same_site == VELMORA_SAME_SITE_STRICT ||
        same_site == VELMORA_SAME_SITE_NONE) {
        w.literal("Secure", true);
    }
    switch (same_site) {
        case VELMORA_SAME_SITE_STRICT:
            w.literal("SameSite=Strict", true);
            break;
        case VELMORA_SAME_SITE_LAX:
            w.literal("SameSite=Lax", true);
            break;
        case VELMORA_SAME_SITE_NONE:
            w.literal("SameSite=None", true);
            break;
        default:
            break;
    }
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
    int taken[Writer::kMaxPieces];
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
    std::size_t part_index = 0;
    for (int i = 0; i < w.count; ++i) {
        Piece &p = w.pieces[i];
        if (p.starts_part && i > 0) ++part_index;
        if (p.kind != Piece::kBuffer) continue;
        Py_buffer &view = buffers.views[buffers.count];
        if (PyObject_GetBuffer(p.owner, &view, PyBUF_SIMPLE) != 0) {
            PyErr_Format(PyExc_TypeError,
                         "sequence item %zu: expected a bytes-like object, %.80s found", part_index,
                         Py_TYPE(p.owner)->tp_name);
            return false;
        }
        buffers.taken[buffers.count++] = i;
        p.bytes = {static_cast<const char *>(view.buf), static_cast<std::size_t>(view.len)};
        p.size = p.bytes.size();
    }
    return true;
}

PyObject *join(Writer &w) {
    Buffers buffers;
    if (w.has_buffers && !take_buffers(w, buffers)) return nullptr;
    std::size_t total = 0;
    for (int i = 0; i < w.count; ++i) {
        const Piece &p = w.pieces[i];
        total += p.size + (p.starts_part && i > 0 ? kSeparator.size() : 0);
    }
    if (total > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
        PyErr_SetString(PyExc_OverflowError, "join() result is too long for a Python bytes object");
        return nullptr;
    }
    Ref result = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(total)));
    if (!result) return nullptr;
    char *out = PyBytes_AS_STRING(result.get());
    for (int i = 0; i < w.count; ++i) {
        const Piece &p = w.pieces[i];
        if (p.starts_part && i > 0) {
            out[0] = ';';
            out[1] = ' ';
            out += 2;
        }
        if (p.kind == Piece::kQuoted) {
            write_quoted(p.bytes, out);
        } else {
            copy_bytes(out, p.bytes.data(), p.size);
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
    if (!write_text(w, cookie->domain, "Domain=", "domain") ||
        !write_text(w, cookie->path, "Path=", "path")) {
        return nullptr;
    }
    write_flags(w, cookie);
    return join(w);
}

}  // namespace velmora::cookies
