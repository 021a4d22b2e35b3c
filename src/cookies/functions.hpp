// The native entry points of velmora.cookies that other native modules reach
// through __pyx_capi__, with the exact signatures the capsule names declare.
// None of them checks its arguments beyond failing safely: the Python
// wrappers (python_functions.cpp) do the argument checks.
#pragma once

#include <Python.h>
#include <datetime.h>

#include <string_view>

#include "velmora/cookies.h"

namespace velmora::cookies {

// Cookie dates (dates.cpp). The flag is ignored.
PyDateTime_DateTime *datetime_from_cookie_format(PyObject *value, int skip_dispatch);
PyObject *datetime_to_cookie_format(PyDateTime_DateTime *value, int skip_dispatch);

// The two directions of dates without a bytes object in between, for the
// parser and the writer (dates.cpp):
// datetime_from_cookie_format for the bytes of `text`;
PyObject *datetime_from_cookie_text(std::string_view text);
// the native formatter: writes date_text::kLength bytes to `out` and returns
// true when that is exactly what value.strftime(...).encode() gives now;
bool format_natively(PyObject *value, char *out);
// value.strftime(...).encode(), the result checked to be bytes (or None).
PyObject *format_generic(PyObject *value);

// Header parsing (parser.cpp).
PyObject *split_value(PyObject *raw_value, PyObject *separator);
VelmoraCookieSameSiteMode same_site_mode_from_bytes(PyObject *raw_value);
VelmoraCookie *parse_cookie(PyObject *raw_value, int skip_dispatch);

// Set-Cookie writing (writer.cpp).
PyObject *write_cookie_for_response(VelmoraCookie *cookie);

}  // namespace velmora::cookies
