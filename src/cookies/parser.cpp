// Reading one Set-Cookie-style header value into a Cookie, and the two
// helpers other native modules use on header bytes: split_value and
// same_site_mode_from_bytes. The byte-level rules live in header_scan.hpp;
// this file turns what they find into Python objects.
#include "cookies/cookie.hpp"
#include "cookies/cookie_constants.hpp"
#include "cookies/cookie_parts.hpp"
#include "cookies/errors.hpp"
#include "cookies/functions.hpp"
#include "cookies/header_scan.hpp"
#include "cookies/imported_types.hpp"
#include "cookies/max_age_text.hpp"
#include "cookies/percent.hpp"
#include "cookies/stdlib_bindings.hpp"
#include "module_support/convert.hpp"
#include "module_support/ref.hpp"

#include <string_view>

namespace velmora::cookies {

using support::Ref;

namespace {

// The contents of an exact bytes object, borrowed from it.
std::string_view bytes_view(PyObject *bytes) {
    return {PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes))};
}

// A new bytes object holding a copy of `bytes`.
PyObject *new_bytes(std::string_view bytes) {
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
    bool native;
    Ref unquote =
        Ref::steal(lookup_standard(slots.unquote, bound.unquote, standard.unquote, &native));
    if (!unquote) return nullptr;
    Ref text = Ref::steal(decode_text(bytes));
    if (!text) return nullptr;
    if (native) return unquote_valid_utf8(text.get(), bytes);
    return PyObject_CallOneArg(unquote.get(), text.get());
}

// The code of a CookieSameSiteMode member as the constructor would convert
// it, when that runs no Python code and cannot fail: an int (or subclass,
// taken by value) from 0 to 2**32-1.
bool plain_code(PyObject *member, uint32_t *out) {
    if (!PyLong_Check(member)) return false;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(member, &overflow);
    if (overflow || v < 0 || v > 0xFFFFFFFFLL) {
        PyErr_Clear();
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

// Cookie(name, value, expires, domain, path, http_only, secure, max_age,
// same_site) for what the parser built. When the values are of the types the
// constructor's checks let through without calling anything (name and value
// exact str, expires None or a datetime, a same_site member that is a plain
// code), the record is filled directly, running the constructor's own name
// and value setters in its order; anything else goes through the
// constructor.
PyObject *cookie_from_parts(PyObject *const *values, int64_t max_age) {
    PyObject *name = values[kParamName];
    PyObject *value = values[kParamValue];
    PyObject *expires = values[kParamExpires];
    uint32_t same_site;
    const bool plain = PyUnicode_CheckExact(name) && PyUnicode_CheckExact(value) &&
                       (expires == Py_None ||
                        (imported.datetime && PyObject_TypeCheck(expires, imported.datetime))) &&
                       plain_code(values[kParamSameSite], &same_site);
    if (!plain) {
        Ref number = Ref::steal(PyLong_FromLongLong(max_age));
        if (!number) return nullptr;
        PyObject *all[kCookieParamCount];
        for (int i = 0; i < kCookieParamCount; ++i) all[i] = values[i];
        all[kParamMaxAge] = number.get();
        return new_cookie(all);
    }
    Ref self = Ref::steal(alloc_cookie(&Cookie_type));
    if (!self || cookie_set_name(self.get(), name, nullptr) < 0 ||
        cookie_set_value(self.get(), value, nullptr) < 0) {
        return nullptr;
    }
    VelmoraCookie *cookie = as_cookie(self.get());
    support::replace_field(cookie->expires, expires);
    support::replace_field(cookie->domain, values[kParamDomain]);
    support::replace_field(cookie->path, values[kParamPath]);
    cookie->http_only = values[kParamHttpOnly] == Py_True;
    cookie->secure = values[kParamSecure] == Py_True;
    cookie->max_age = max_age;
    cookie->same_site = static_cast<VelmoraCookieSameSiteMode>(same_site);
    return self.release();
}

}  // namespace

PyObject *split_value(PyObject *raw_value, PyObject *separator) {
    if (!check_bytes(raw_value, "index") || !check_bytes(separator, "index")) return nullptr;
    std::string_view raw = bytes_view(raw_value);
    std::size_t at = raw.find(bytes_view(separator));
    if (at == std::string_view::npos) {
        // The interpreter's own search raises the error callers know.
        Ref found = Ref::steal(PyObject_CallMethodOneArg(raw_value, constants.index, separator));
        if (found) PyErr_SetString(PyExc_ValueError, "subsection not found");
        return nullptr;
    }
    Ref head = Ref::steal(new_bytes(raw.substr(0, at)));
    if (!head) return nullptr;
    Ref tail = Ref::steal(new_bytes(at < raw.size() ? raw.substr(at + 1) : std::string_view()));
    if (!tail) return nullptr;
    return PyTuple_Pack(2, head.get(), tail.get());
}

VelmoraCookieSameSiteMode same_site_mode_from_bytes(PyObject *raw_value) {
    if (raw_value == Py_None) return VELMORA_SAME_SITE_UNDEFINED;
    if (!check_bytes(raw_value, "lower")) return VELMORA_SAME_SITE_UNDEFINED;
    return static_cast<VelmoraCookieSameSiteMode>(scan::same_site_code(bytes_view(raw_value)));
}

VelmoraCookie *parse_cookie(PyObject *raw_value, int) {
    if (!check_bytes(raw_value, "split")) return nullptr;
    // Held for the call: every view below points into it, and the Python code
    // the parser calls (unquote, parsedate_to_datetime) might drop the
    // caller's reference.
    Ref raw = Ref::borrow(raw_value);

    scan::Header h;
    if (!scan::read_header(bytes_view(raw.get()), &h, read_max_age)) {
        if (!PyErr_Occurred()) raise_invalid_pair(h.bad_pair);
        return nullptr;
    }

    Ref name_text = Ref::steal(unquoted_text(h.name));
    if (!name_text) return nullptr;
    Ref value_text = Ref::steal(unquoted_text(h.value));
    if (!value_text) return nullptr;
    Ref expires =
        h.expires.empty() ? Ref::borrow(Py_None) : Ref::steal(datetime_from_cookie_text(h.expires));
    if (!expires) return nullptr;
    Ref domain = Ref::steal(optional_text(h.domain));
    if (!domain) return nullptr;
    Ref path = Ref::steal(optional_text(h.path));
    if (!path) return nullptr;
    Ref same_site = Ref::steal(same_site_member(scan::same_site_code(h.same_site)));
    if (!same_site) return nullptr;

    PyObject *values[kCookieParamCount];
    values[kParamName] = name_text.get();
    values[kParamValue] = value_text.get();
    values[kParamExpires] = expires.get();
    values[kParamDomain] = domain.get();
    values[kParamPath] = path.get();
    values[kParamHttpOnly] = h.http_only ? Py_True : Py_False;
    values[kParamSecure] = h.secure ? Py_True : Py_False;
    values[kParamMaxAge] = nullptr;  // passed as a number
    values[kParamSameSite] = same_site.get();
    return as_cookie(cookie_from_parts(values, h.max_age));
}

}  // namespace velmora::cookies
