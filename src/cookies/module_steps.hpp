// The steps of the velmora.cookies module body and of its constant set-up,
// each defined beside what it creates. module.cpp runs them in order. Each
// returns 0, or -1 with an exception set.
#pragma once

#include <Python.h>

namespace vc {

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

}  // namespace vc
