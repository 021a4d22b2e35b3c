// The steps of the velmora.cookies module body and of its constant set-up,
// each defined beside what it creates. module.cpp runs them in order. Each
// returns 0, or -1 with an exception set.
#pragma once

#include <Python.h>

namespace velmora::cookies {

// Constants (run once, before the first body).
int init_cookie_constants();  // cookie_constants.cpp

// Readies Cookie and stores its method table capsule __pyx_vtable__ in its
// type dictionary (cookie_type.cpp).
int ready_cookie_type();
// Readies CookieError and CookieValueExceedsMaximumLength (errors.cpp).
int ready_cookie_error_type();
int ready_value_too_long_type();
// Imports `type` and the datetime types with their size checks
// (imported_types.cpp).
int import_standard_types();
// Creates CookieSameSiteMode and binds it in the namespace (same_site.cpp).
int create_same_site_mode();

// __pyx_capi__, the native function table (capi.cpp).
int create_capi_table();
// `from datetime import datetime`, nothing bound; quote and unquote from
// urllib.parse and parsedate_to_datetime from email.utils, bound
// (stdlib_bindings.cpp).
int import_datetime_module();
int bind_url_quoting();
int bind_date_parser();
// The Python functions (python_functions.cpp).
int bind_date_functions();
int bind_parse_cookie();
// Pickling (pickling.cpp): the hooks of one type at its set-up, the state
// methods of the two errors, those of Cookie, then the reconstructors.
int prepare_type_pickling(PyTypeObject *type);
int bind_error_state_methods();
int bind_cookie_state_methods();
int bind_reconstructors();

}  // namespace velmora::cookies
