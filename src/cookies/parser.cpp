// Reading one Set-Cookie-style header value into a Cookie, and the two
// helpers other native modules use on header bytes: split_value and
// same_site_mode_from_bytes. The byte-level rules live in header_scan.hpp;
// this file turns what they find into Python objects.
#include "cookies/cookie.hpp"
#include "cookies/functions.hpp"
#include "cookies/header_scan.hpp"
#include "cookies/percent.hpp"
#include "module_support/convert.hpp"
#include "module_support/ref.hpp"

#include <string_view>

namespace vc {

using vm::Ref;

namespace {

std::string_view view_of(PyObject *bytes) {
    return {PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes))};
}

PyObject *bytes_of(std::string_view bytes) {
    return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
}

// Native callers outside the contract get an exception, never a crash.
bool check_bytes(PyObject *value, const char *what) {
    if (!value) {
        PyErr_BadInternalCall();
        return false;
    }
    if (PyBytes_Check(value)) return true;
    if (value == Py_None) {
        raise_none_has_no(what);
    } else {
        PyErr_Format(PyExc_TypeError, "a bytes-like object is required, not '%.200s'",
                     Py_TYPE(value)->tp_name);
    }
    return false;
}

// Strict UTF-8; empty bytes give the empty str without running the decoder.
PyObject *decode_text(std::string_view bytes) {
    if (bytes.empty()) return Py_NewRef(constants.empty_str);
    return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
}

// None for an absent or empty attribute value, its text otherwise.
PyObject *optional_text(std::string_view bytes) {
    if (bytes.empty()) return Py_NewRef(Py_None);
    return decode_text(bytes);
}

// unquote(bytes.decode()), with unquote looked up for this use.
PyObject *unquoted_text(std::string_view bytes) {
    Ref unquote = Ref::steal(frame.lookup(constants.unquote));
    if (!unquote) return nullptr;
    Ref text = Ref::steal(decode_text(bytes));
    if (!text) return nullptr;
    if (unquote.get() == bound.unquote) return unquote_valid_utf8(text.get(), bytes);
    return PyObject_CallOneArg(unquote.get(), text.get());
}

// ValueError "Invalid name=value fragment: b'...'", raised while the
// ValueError of the failed search for "=" is being handled, as the
// interpreter would chain them.
void raise_invalid_pair(std::string_view fragment) {
    Ref fragment_bytes = Ref::steal(bytes_of(fragment));
    if (!fragment_bytes) return;
    Ref equals = Ref::steal(bytes_of("="));
    if (!equals) return;
    Ref found = Ref::steal(split_value(fragment_bytes.get(), equals.get()));
    if (found) {
        PyErr_SetString(PyExc_SystemError, "a fragment without '=' was split at '='");
        return;
    }
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return;
    PyObject *search_error = PyErr_GetRaisedException();
    Ref text = Ref::steal(PyObject_Repr(fragment_bytes.get()));
    Ref message =
        text ? Ref::steal(PyUnicode_FromFormat("Invalid name=value fragment: %U", text.get()))
             : Ref();
    Ref error = message ? Ref::steal(PyObject_CallOneArg(PyExc_ValueError, message.get())) : Ref();
    if (!error) {
        // The failure to build the error replaces it; the search error is
        // its context.
        PyObject *failure = PyErr_GetRaisedException();
        PyException_SetContext(failure, search_error);
        PyErr_SetRaisedException(failure);
        return;
    }
    // Set as it is: the search error is its context, and the search error
    // already carries whatever the caller was handling.
    PyException_SetContext(error.get(), search_error);
    PyErr_SetRaisedException(error.release());
}

// Max-Age as int() reads bytes: plain decimals natively, everything else
// (blanks, underscores, long numbers, garbage) by the interpreter, whose
// errors are the ones callers see.
bool read_max_age(std::string_view text, int64_t *out) {
    long long plain;
    if (scan::plain_decimal(text, &plain)) {
        *out = plain;
        return true;
    }
    Ref raw = Ref::steal(bytes_of(text));
    if (!raw) return false;
    Ref number = Ref::steal(PyNumber_Long(raw.get()));
    if (!number) return false;
    return vm::to_int64(number.get(), out);
}

// What the attribute fragments said; the last occurrence of each wins.
struct Attributes {
    std::string_view expires, domain, path, same_site;
    int64_t max_age = -1;
    bool http_only = false;
    bool secure = false;
};

}  // namespace

PyObject *split_value(PyObject *raw_value, PyObject *separator) {
    if (!check_bytes(raw_value, "index") || !check_bytes(separator, "index")) return nullptr;
    std::string_view raw = view_of(raw_value);
    std::size_t at = raw.find(view_of(separator));
    if (at == std::string_view::npos) {
        // The interpreter's own search raises the error callers know.
        Ref found = Ref::steal(PyObject_CallMethodOneArg(raw_value, constants.index, separator));
        if (found) PyErr_SetString(PyExc_ValueError, "subsection not found");
        return nullptr;
    }
    Ref head = Ref::steal(bytes_of(raw.substr(0, at)));
    if (!head) return nullptr;
    Ref tail = Ref::steal(bytes_of(at < raw.size() ? raw.substr(at + 1) : std::string_view()));
    if (!tail) return nullptr;
    return PyTuple_Pack(2, head.get(), tail.get());
}

VelmoraCookieSameSiteMode same_site_mode_from_bytes(PyObject *raw_value) {
    if (raw_value == Py_None) return VELMORA_SAME_SITE_UNDEFINED;
    if (!check_bytes(raw_value, "lower")) return VELMORA_SAME_SITE_UNDEFINED;
    return static_cast<VelmoraCookieSameSiteMode>(scan::same_site_code(view_of(raw_value)));
}

VelmoraCookie *parse_cookie(PyObject *raw_value, int) {
    if (!check_bytes(raw_value, "split")) return nullptr;
    // Held for the call: every view below points into it, and the Python code
    // the parser calls (unquote, parsedate_to_datetime) might drop the
    // caller's reference.
    Ref raw = Ref::borrow(raw_value);

    bool first = true;
    std::string_view name, value;
    Attributes attrs;
    bool ok = scan::for_each_fragment(view_of(raw.get()), [&](std::string_view fragment) {
        if (first) {
            first = false;
            std::size_t eq = scan::equals_position(fragment);
            if (eq == std::string_view::npos) {
                raise_invalid_pair(fragment);
                return false;
            }
            name = fragment.substr(0, eq);
            value = scan::unquote_value(fragment.substr(eq + 1));
            return true;
        }
        std::string_view attr_value;
        switch (scan::classify(fragment, &attr_value)) {
            case scan::Attribute::expires:
                attrs.expires = attr_value;
                break;
            case scan::Attribute::domain:
                attrs.domain = attr_value;
                break;
            case scan::Attribute::path:
                attrs.path = attr_value;
                break;
            case scan::Attribute::same_site:
                attrs.same_site = attr_value;
                break;
            case scan::Attribute::max_age:
                return read_max_age(attr_value, &attrs.max_age);
            case scan::Attribute::http_only:
                attrs.http_only = true;
                break;
            case scan::Attribute::secure:
                attrs.secure = true;
                break;
            case scan::Attribute::none:
                break;
        }
        return true;
    });
    if (!ok) return nullptr;

    Ref name_text = Ref::steal(unquoted_text(name));
    if (!name_text) return nullptr;
    Ref value_text = Ref::steal(unquoted_text(value));
    if (!value_text) return nullptr;
    Ref expires;
    if (attrs.expires.empty()) {
        expires = Ref::borrow(Py_None);
    } else {
        Ref expires_bytes = Ref::steal(bytes_of(attrs.expires));
        if (!expires_bytes) return nullptr;
        expires = Ref::steal(
            reinterpret_cast<PyObject *>(datetime_from_cookie_format(expires_bytes.get(), 0)));
        if (!expires) return nullptr;
    }
    Ref domain = Ref::steal(optional_text(attrs.domain));
    if (!domain) return nullptr;
    Ref path = Ref::steal(optional_text(attrs.path));
    if (!path) return nullptr;
    Ref max_age = Ref::steal(PyLong_FromLongLong(attrs.max_age));
    if (!max_age) return nullptr;
    Ref same_site = Ref::steal(same_site_member(scan::same_site_code(attrs.same_site)));
    if (!same_site) return nullptr;

    PyObject *values[kCookieParamCount];
    values[kParamName] = name_text.get();
    values[kParamValue] = value_text.get();
    values[kParamExpires] = expires.get();
    values[kParamDomain] = domain.get();
    values[kParamPath] = path.get();
    values[kParamHttpOnly] = attrs.http_only ? Py_True : Py_False;
    values[kParamSecure] = attrs.secure ? Py_True : Py_False;
    values[kParamMaxAge] = max_age.get();
    values[kParamSameSite] = same_site.get();
    return as_cookie(new_cookie(values));
}

}  // namespace vc
