// The nine properties of Cookie. Every setter converts and checks the new
// value before it stores anything, so a failed assignment leaves the field
// as it was.
#include "cookies/cookie_constants.hpp"
#include "cookies/imported_types.hpp"
#include "cookies/errors.hpp"
#include "cookies/cookie.hpp"
#include "cookies/cookie_parts.hpp"
#include "module_support/args.hpp"
#include "module_support/convert.hpp"
#include "module_support/ref.hpp"
#include "module_support/truth.hpp"

namespace velmora::cookies {

using support::Ref;

namespace {

// Limit of RFC 6265 section 6.1 that user agents are expected to honour.
constexpr Py_ssize_t kMaxValueBytes = 4096;

// The length of str.encode() of an exact str, counted without encoding it;
// -1 when the text holds a surrogate, which strict UTF-8 cannot encode.
Py_ssize_t utf8_length(PyObject *text) {
    const Py_ssize_t count = PyUnicode_GET_LENGTH(text);
    if (PyUnicode_IS_ASCII(text)) return count;
    const void *data = PyUnicode_DATA(text);
    const int kind = PyUnicode_KIND(text);
    Py_ssize_t length = count;
    if (kind == PyUnicode_1BYTE_KIND) {
        // Latin-1: two bytes from U+0080 up.
        const Py_UCS1 *chars = static_cast<const Py_UCS1 *>(data);
        for (Py_ssize_t i = 0; i < count; ++i) length += chars[i] >> 7;
        return length;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c >= 0xD800 && c <= 0xDFFF) return -1;
        length += (c >= 0x80) + (c >= 0x800) + (c >= 0x10000);
    }
    return length;
}

int raise_not_deletable() {
    PyErr_SetString(PyExc_NotImplementedError, "__del__");
    return -1;
}

bool is_str_or_none(PyObject *value) {
    return value == Py_None || PyUnicode_CheckExact(value);
}

// ---- name, value -------------------------------------------------------------

PyObject *get_name(PyObject *self, void *) {
    return Py_NewRef(as_cookie(self)->_name);
}

PyObject *get_value(PyObject *self, void *) {
    return Py_NewRef(as_cookie(self)->_value);
}

// ---- expires, domain, path ---------------------------------------------------

PyObject *get_expires(PyObject *self, void *) {
    return Py_NewRef(as_cookie(self)->expires);
}

int set_expires(PyObject *self, PyObject *value, void *) {
    if (!value) value = Py_None;
    if (!check_expires_value(value)) return -1;
    support::replace_field(as_cookie(self)->expires, value);
    return 0;
}

PyObject *get_domain(PyObject *self, void *) {
    return Py_NewRef(as_cookie(self)->domain);
}

int set_domain(PyObject *self, PyObject *value, void *) {
    return support::store_str_or_none(as_cookie(self)->domain, value);
}

PyObject *get_path(PyObject *self, void *) {
    return Py_NewRef(as_cookie(self)->path);
}

int set_path(PyObject *self, PyObject *value, void *) {
    return support::store_str_or_none(as_cookie(self)->path, value);
}

// ---- http_only, secure -------------------------------------------------------

int set_flag(int32_t &field, PyObject *value) {
    if (!value) return raise_not_deletable();
    int flag = support::is_true(value);
    if (flag < 0) return -1;
    field = flag;
    return 0;
}

PyObject *get_http_only(PyObject *self, void *) {
    return PyBool_FromLong(as_cookie(self)->http_only);
}

int set_http_only(PyObject *self, PyObject *value, void *) {
    return set_flag(as_cookie(self)->http_only, value);
}

PyObject *get_secure(PyObject *self, void *) {
    return PyBool_FromLong(as_cookie(self)->secure);
}

int set_secure(PyObject *self, PyObject *value, void *) {
    return set_flag(as_cookie(self)->secure, value);
}

// ---- max_age, same_site ------------------------------------------------------

PyObject *get_max_age(PyObject *self, void *) {
    return PyLong_FromLongLong(as_cookie(self)->max_age);
}

int set_max_age(PyObject *self, PyObject *value, void *) {
    if (!value) return raise_not_deletable();
    int64_t max_age;
    if (!support::to_int64(value, &max_age)) return -1;
    as_cookie(self)->max_age = max_age;
    return 0;
}

PyObject *get_same_site(PyObject *self, void *) {
    return same_site_member(static_cast<uint32_t>(as_cookie(self)->same_site));
}

int set_same_site(PyObject *self, PyObject *value, void *) {
    if (!value) return raise_not_deletable();
    uint32_t code;
    if (!to_same_site_code(value, &code)) return -1;
    as_cookie(self)->same_site = static_cast<VelmoraCookieSameSiteMode>(code);
    return 0;
}

}  // namespace

// ---- Shared with the constructor ---------------------------------------------

int cookie_set_name(PyObject *self, PyObject *value, void *) {
    if (!value) return raise_not_deletable();
    int truth = support::is_true(value);
    if (truth < 0) return -1;
    if (!truth) {
        PyErr_SetString(PyExc_ValueError, "A cookie name is required");
        return -1;
    }
    if (!PyUnicode_CheckExact(value)) {
        support::raise_expected("str", value);
        return -1;
    }
    support::replace_field(as_cookie(self)->_name, value);
    return 0;
}

// The length check comes first: a true value of another type fails on its
// missing encode method, a false one on the type check.
int cookie_set_value(PyObject *self, PyObject *value, void *) {
    if (!value) return raise_not_deletable();
    int truth = support::is_true(value);
    if (truth < 0) return -1;
    if (truth && !check_value_length(value)) return -1;
    if (!is_str_or_none(value)) {
        support::raise_expected("str", value);
        return -1;
    }
    support::replace_field(as_cookie(self)->_value, value);
    return 0;
}

bool check_value_length(PyObject *value) {
    Py_ssize_t length;
    if (PyUnicode_CheckExact(value)) {
        length = utf8_length(value);
        // str.encode() refuses surrogates: its own error, raised by encoding.
        if (length < 0) {
            Ref refused = Ref::steal(PyUnicode_AsUTF8String(value));
            if (!refused) return false;
            length = PyBytes_GET_SIZE(refused.get());
        }
    } else {
        // Anything else has its own encode method called.
        Ref encoded = Ref::steal(PyObject_CallMethodNoArgs(value, constants.encode));
        if (!encoded) return false;
        length = PyObject_Length(encoded.get());
        if (length < 0) return false;
    }
    if (length > kMaxValueBytes) {
        raise_value_too_long();
        return false;
    }
    return true;
}

bool check_expires_value(PyObject *value) {
    return support::check_none_or_instance(value, datetime_type);
}

bool to_same_site_code(PyObject *value, uint32_t *out) {
    return support::to_uint32(value, out, kSameSiteTypeName);
}

PyGetSetDef cookie_getset[] = {
    {"name", get_name, cookie_set_name, nullptr, nullptr},
    {"value", get_value, cookie_set_value, nullptr, nullptr},
    {"expires", get_expires, set_expires, nullptr, nullptr},
    {"domain", get_domain, set_domain, nullptr, nullptr},
    {"path", get_path, set_path, nullptr, nullptr},
    {"http_only", get_http_only, set_http_only, nullptr, nullptr},
    {"secure", get_secure, set_secure, nullptr, nullptr},
    {"max_age", get_max_age, set_max_age, nullptr, nullptr},
    {"same_site", get_same_site, set_same_site, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace velmora::cookies
