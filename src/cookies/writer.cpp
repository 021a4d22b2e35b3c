// The Set-Cookie writer: one Cookie to the value of a Set-Cookie header.
#include "cookies/cookie.hpp"
#include "cookies/functions.hpp"
#include "cookies/percent.hpp"
#include "module_support/ref.hpp"
#include "module_support/truth.hpp"

#include <cstring>
#include <string_view>

namespace vc {

using vm::Ref;

namespace {

constexpr std::string_view kSeparator = "; ";

// One part of the header value: up to three pieces of bytes, owned by the
// objects in `owners`, by module literals or by the writer's stack.
struct Part {
    std::string_view prefix;
    std::string_view middle;
    std::string_view bytes;
    Ref owners[2];
};

// Cookie attributes as exact-type code reads them: the properties of Cookie
// itself return the fields, so only subclasses need the attribute lookup.
PyObject *cookie_attribute(VelmoraCookie *cookie, PyObject *name, PyObject *field) {
    if (Py_IS_TYPE(as_object(cookie), &Cookie_type)) return Py_NewRef(field);
    return PyObject_GetAttr(as_object(cookie), name);
}

// Names and values whose quoted form fits here need no bytes object of their
// own: most cookies.
constexpr std::size_t kInlineQuoted = 128;

// quote(text).encode() for the name=value pair.
struct Quoted {
    char inline_bytes[kInlineQuoted];
    std::string_view bytes;  // the result, when it is bytes
    Ref object;              // the result object, unless it is inline
    bool native = false;     // percent-encoded here: no control byte can be in it
};

// quote(cookie.<attribute>).encode(), with quote looked up for this use
// before the attribute is read. The bound standard function on an exact str
// runs natively, into the inline buffer when the result fits; anything else
// goes through Python calls.
bool quote_attribute(VelmoraCookie *cookie, PyObject *name, PyObject *field, Quoted &out) {
    Ref quote = Ref::steal(frame.lookup(constants.quote));
    if (!quote) return false;
    Ref held = Ref::steal(cookie_attribute(cookie, name, field));
    if (!held) return false;
    PyObject *text = held.get();
    if (quote.get() == bound.quote && PyUnicode_CheckExact(text)) {
        Py_ssize_t length;
        const char *data = PyUnicode_AsUTF8AndSize(text, &length);
        if (!data) return false;
        std::string_view utf8(data, static_cast<std::size_t>(length));
        std::size_t size = quoted_size(utf8);
        char *target = out.inline_bytes;
        if (size > kInlineQuoted) {
            out.object =
                Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
            if (!out.object) return false;
            target = PyBytes_AS_STRING(out.object.get());
        }
        write_quoted(utf8, target);
        out.bytes = {target, size};
        out.native = true;
        return true;
    }
    Ref quoted = Ref::steal(PyObject_CallOneArg(quote.get(), text));
    if (!quoted) return false;
    out.object = Ref::steal(PyObject_CallMethodNoArgs(quoted.get(), constants.encode));
    if (!out.object) return false;
    if (PyBytes_Check(out.object.get())) {
        out.bytes = {PyBytes_AS_STRING(out.object.get()),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(out.object.get()))};
    }
    return true;
}

bool is_bytes(const Quoted &quoted) {
    return quoted.native || PyBytes_Check(quoted.object.get());
}

// The result as an object, for the interpreter's + operator.
PyObject *quoted_object(const Quoted &quoted) {
    if (quoted.object) return Py_NewRef(quoted.object.get());
    return PyBytes_FromStringAndSize(quoted.bytes.data(),
                                     static_cast<Py_ssize_t>(quoted.bytes.size()));
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

// The bytes of a part's object; only bytes (or a subclass) can be joined.
bool bytes_view(PyObject *object, std::string_view *out, std::size_t index) {
    if (!PyBytes_Check(object)) {
        PyErr_Format(PyExc_TypeError,
                     "sequence item %zu: expected a bytes-like object, %.80s found", index,
                     Py_TYPE(object)->tp_name);
        return false;
    }
    *out = {PyBytes_AS_STRING(object), static_cast<std::size_t>(PyBytes_GET_SIZE(object))};
    return true;
}

// `prefix + value` for results of overridden methods, with the interpreter's
// own error for what cannot be concatenated.
PyObject *concat(std::string_view prefix, PyObject *value) {
    if (PyBytes_Check(value)) return Py_NewRef(value);
    Ref literal = Ref::steal(
        PyBytes_FromStringAndSize(prefix.data(), static_cast<Py_ssize_t>(prefix.size())));
    if (!literal) return nullptr;
    return PyNumber_Add(literal.get(), value);
}

// Encodes a non-empty domain or path (strict UTF-8).
bool text_part(PyObject *text, Part &part, const char *attribute) {
    Py_ssize_t size;
    const char *utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) return false;
    part.bytes = {utf8, static_cast<std::size_t>(size)};
    part.owners[0] = Ref::borrow(text);
    return check_no_control_bytes(part.bytes, attribute);
}

bool is_non_empty_str(PyObject *field) {
    return PyUnicode_Check(field) && PyUnicode_GET_LENGTH(field) > 0;
}

PyObject *join(Part *parts, std::size_t count) {
    std::size_t total = kSeparator.size() * (count - 1);
    for (std::size_t i = 0; i < count; ++i) {
        total += parts[i].prefix.size() + parts[i].middle.size() + parts[i].bytes.size();
    }
    PyObject *result = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(total));
    if (!result) return nullptr;
    char *out = PyBytes_AS_STRING(result);
    auto put = [&out](std::string_view bytes) {
        if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
        out += bytes.size();
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) put(kSeparator);
        put(parts[i].prefix);
        put(parts[i].middle);
        put(parts[i].bytes);
    }
    return result;
}

}  // namespace

PyObject *write_cookie_for_response(VelmoraCookie *cookie) {
    // Native callers pass a Cookie; anything else would be read as one.
    if (!cookie || !PyObject_TypeCheck(as_object(cookie), &Cookie_type)) {
        PyErr_Format(PyExc_TypeError, "write_cookie_for_response() expects a Cookie, got %.200s",
                     cookie ? Py_TYPE(as_object(cookie))->tp_name : "NULL");
        return nullptr;
    }
    // Name, value and the eight optional attributes at most.
    Part parts[9];
    std::size_t count = 0;

    // 1. quote(name).encode() + b"=" + quote(value).encode()
    Quoted quoted_name;
    if (!quote_attribute(cookie, constants.name, cookie->_name, quoted_name)) return nullptr;
    Quoted quoted_value;
    if (!quote_attribute(cookie, constants.value, cookie->_value, quoted_value)) return nullptr;
    Part &pair = parts[0];
    if (is_bytes(quoted_name) && is_bytes(quoted_value)) {
        if ((!quoted_name.native && !check_no_control_bytes(quoted_name.bytes, "name")) ||
            (!quoted_value.native && !check_no_control_bytes(quoted_value.bytes, "value"))) {
            return nullptr;
        }
        pair.prefix = quoted_name.bytes;
        pair.middle = "=";
        pair.bytes = quoted_value.bytes;
        pair.owners[0] = std::move(quoted_name.object);
        pair.owners[1] = std::move(quoted_value.object);
    } else {
        // Overridden quote or encode results: the interpreter's + operator.
        Ref name_bytes = Ref::steal(quoted_object(quoted_name));
        if (!name_bytes) return nullptr;
        Ref value_bytes = Ref::steal(quoted_object(quoted_value));
        if (!value_bytes) return nullptr;
        Ref equals = Ref::steal(PyBytes_FromStringAndSize("=", 1));
        if (!equals) return nullptr;
        Ref head = Ref::steal(PyNumber_Add(name_bytes.get(), equals.get()));
        if (!head) return nullptr;
        Ref whole = Ref::steal(PyNumber_Add(head.get(), value_bytes.get()));
        if (!whole || !bytes_view(whole.get(), &pair.bytes, 0) ||
            !check_no_control_bytes(pair.bytes, "name or value")) {
            return nullptr;
        }
        pair.owners[0] = std::move(whole);
    }
    count = 1;

    // 2. Expires, when the field is true (None is not).
    // Held across the calls into Python, which may replace the field.
    Ref expires = Ref::borrow(cookie->expires);
    int has_expires = vm::truth_of(expires.get());
    if (has_expires < 0) return nullptr;
    if (has_expires) {
        Ref date = Ref::steal(
            datetime_to_cookie_format(reinterpret_cast<PyDateTime_DateTime *>(expires.get()), 0));
        if (!date) return nullptr;
        Ref joined = Ref::steal(concat("Expires=", date.get()));
        if (!joined) return nullptr;
        Part &part = parts[count];
        part.prefix =
            joined.get() == date.get() ? std::string_view("Expires=") : std::string_view();
        if (!bytes_view(joined.get(), &part.bytes, count) ||
            !check_no_control_bytes(part.bytes, "expires")) {
            return nullptr;
        }
        part.owners[0] = std::move(joined);
        ++count;
    }

    // 3. Max-Age, when not negative.
    char max_age_text[24];
    if (cookie->max_age >= 0) {
        char *end = max_age_text + sizeof max_age_text;
        char *start = decimal_text(static_cast<uint64_t>(cookie->max_age), end);
        parts[count].prefix = "Max-Age=";
        parts[count].bytes = {start, static_cast<std::size_t>(end - start)};
        ++count;
    }

    // 4, 5. Domain and Path, encoded, never percent-encoded.
    if (is_non_empty_str(cookie->domain)) {
        parts[count].prefix = "Domain=";
        if (!text_part(cookie->domain, parts[count], "domain")) return nullptr;
        ++count;
    }
    if (is_non_empty_str(cookie->path)) {
        parts[count].prefix = "Path=";
        if (!text_part(cookie->path, parts[count], "path")) return nullptr;
        ++count;
    }

    // 6-9. The flags; STRICT and NONE need Secure, written once.
    const uint32_t same_site = cookie->same_site;
    if (cookie->http_only) parts[count++].prefix = "HttpOnly";
    if (cookie->secure || same_site == VELMORA_SAME_SITE_STRICT ||
        same_site == VELMORA_SAME_SITE_NONE) {
        parts[count++].prefix = "Secure";
    }
    switch (same_site) {
        case VELMORA_SAME_SITE_STRICT:
            parts[count++].prefix = "SameSite=Strict";
            break;
        case VELMORA_SAME_SITE_LAX:
            parts[count++].prefix = "SameSite=Lax";
            break;
        case VELMORA_SAME_SITE_NONE:
            parts[count++].prefix = "SameSite=None";
            break;
        default:
            break;
    }
    return join(parts, count);
}

}  // namespace vc
