// Process-wide state of velmora.cookies, shared by every source file of the
// module: the module frame, the interned constants, the type objects the
// module owns and the types it imports. Written only while the module is
// imported, read afterwards.
#pragma once

#include <Python.h>

#include "module_support/frame.hpp"
#include "velmora/cookies.h"

namespace vc {

// The cookies module (module.cpp). `frame.lookup(name)` finds module-level
// names at call time: the namespace first, then the builtins.
extern vm::ModuleFrame frame;

// Constants created once, before the module body runs. Each part of the
// module adds its own fields here and creates them in its init function,
// called from the frame's constant step.
struct Constants {
    // Identifiers.
    PyObject *name;                   // "name"
    PyObject *value;                  // "value"
    PyObject *encode;                 // "encode"
    PyObject *decode;                 // "decode"
    PyObject *clone;                  // "clone"
    PyObject *CookieSameSiteMode;     // "CookieSameSiteMode"
    PyObject *same_site_names[4];     // "UNDEFINED", "LAX", "STRICT", "NONE", by code
    PyObject *strftime;               // "strftime"
    PyObject *replace;                // "replace"
    PyObject *index;                  // "index"
    PyObject *quote;                  // "quote"
    PyObject *unquote;                // "unquote"
    PyObject *parsedate_to_datetime;  // "parsedate_to_datetime"
    // Values.
    PyObject *empty_str;           // ""
    PyObject *to_three;            // slice(None, 3, None)
    PyObject *max_length_message;  // message of CookieValueExceedsMaximumLength
    PyObject *date_template;       // "%a, %d %b %Y %H:%M:%S GMT"
    PyObject *tzinfo_kwnames;      // ("tzinfo",), keyword names of replace(tzinfo=None)
};
extern Constants constants;

// Types imported from the standard library while the module body runs, with
// their sizes checked against the interpreter headers (imported_types.cpp).
struct ImportedTypes {
    PyTypeObject *type;
    PyTypeObject *date;
    PyTypeObject *time;
    PyTypeObject *datetime;
    PyTypeObject *timedelta;
    PyTypeObject *tzinfo;
};
extern ImportedTypes imported;

// The standard-library functions the module body bound in the namespace
// (stdlib_bindings.cpp). Calls still look the names up every time; these
// only tell whether what a lookup found is the very function bound at
// import, for which a native equivalent may run instead.
struct BoundFunctions {
    PyObject *quote;
    PyObject *unquote;
    PyObject *parsedate_to_datetime;
};
extern BoundFunctions bound;

// The module's own type objects, held for the life of the process; never
// looked up by name.
extern PyTypeObject Cookie_type;                           // cookie_type.cpp
extern PyTypeObject CookieError_type;                      // errors.cpp
extern PyTypeObject CookieValueExceedsMaximumLength_type;  // errors.cpp

// Name of the native SameSite enumeration in conversion errors.
inline constexpr const char kSameSiteTypeName[] = "CookieSameSiteMode";
// Full name of Cookie in conversion errors.
inline constexpr const char kCookieTypeName[] = "velmora.cookies.Cookie";

}  // namespace vc
