// Native entry points of the Cookie type for the rest of velmora.cookies
// (the parser, the writer, pickling and the native function table).
#pragma once

#include <Python.h>

#include <cstdint>

#include "velmora/cookies.h"

namespace velmora::cookies {

inline VelmoraCookie *as_cookie(PyObject *object) {
    return reinterpret_cast<VelmoraCookie *>(object);
}
inline PyObject *as_object(VelmoraCookie *cookie) {
    return reinterpret_cast<PyObject *>(cookie);
}

// The Cookie type object (cookie_type.cpp), held for the life of the
// process; never looked up by name.
extern PyTypeObject Cookie_type;

// Full name of Cookie in conversion errors.
inline constexpr const char kCookieTypeName[] = "velmora.cookies.Cookie";
// Name of the native SameSite enumeration in conversion errors.
inline constexpr const char kSameSiteTypeName[] = "CookieSameSiteMode";

// Constructor parameters, in order.
enum CookieParam : int {
    kParamName,
    kParamValue,
    kParamExpires,
    kParamDomain,
    kParamPath,
    kParamHttpOnly,
    kParamSecure,
    kParamMaxAge,
    kParamSameSite,
    kCookieParamCount
};

// A new Cookie, exactly as calling the Cookie type itself with the nine
// values as positional arguments (in CookieParam order) does: every check of
// the constructor runs. The values are borrowed. New reference, or nullptr
// with an exception set.
PyObject *new_cookie(PyObject *const *values);

// A Cookie of `type` (Cookie or a subclass) as Cookie.__new__(type) gives it,
// without running the constructor: None in the object fields, false flags,
// max_age 0 and same_site UNDEFINED. New reference, or nullptr.
PyObject *alloc_cookie(PyTypeObject *type);

// The method-table slot `clone`. With `skip_dispatch` zero, an instance of a
// Python subclass whose `clone` attribute is not the built-in method gets
// that called instead, its result checked to be None or a Cookie.
VelmoraCookie *cookie_clone(VelmoraCookie *self, int skip_dispatch);

// The CookieSameSiteMode member for a same_site code, with CookieSameSiteMode
// looked up at call time (module namespace, then builtins): its attribute
// UNDEFINED, LAX, STRICT or NONE for 0 to 3, else the result of calling it
// with the code. New reference, or nullptr with an exception set.
PyObject *same_site_member(uint32_t code);

// Field conversions shared by the constructor, the properties and state
// restoring. Each returns true, or false with an exception set.
//
// A same_site code: any integer from 0 to 4294967295 (members included).
bool to_same_site_code(PyObject *value, uint32_t *out);
// None, or a datetime.datetime (subclasses included); otherwise
// "%.1sCannot convert %.200s to %.200s".
bool check_expires_value(PyObject *value);
// The limit on the UTF-8 length of a cookie value: `value.encode()` longer
// than 4096 raises CookieValueExceedsMaximumLength. Meant for true values.
bool check_value_length(PyObject *value);

}  // namespace velmora::cookies
