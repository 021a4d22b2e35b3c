// Process-wide state of velmora.cookies, shared by every source file of the
// module: the module frame, the interned constants, the type objects the
// module owns and the types it imports. Written only while the module is
// imported, read afterwards.
#pragma once

#include <Python.h>

#include <datetime.h>

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
// (stdlib_bindings.cpp). Calls still look the names up (through the frame's
// cache); a native equivalent runs only when the lookup finds the very
// function bound at import and that function is known to behave as the
// standard one does: see StandardPaths.
struct BoundFunctions {
    PyObject *quote;
    PyObject *unquote;
    PyObject *parsedate_to_datetime;
};
extern BoundFunctions bound;

// Whether each native stand-in is, right now, exactly the standard code it
// replaces. Decided at import (the bound object is the standard library's
// own function, read from the standard library's own files) and kept by
// watchers of every namespace that code reads: its module's globals, the
// modules it calls into, the builtins, and its function objects. Read on
// every call; written only by the watchers and at import.
struct StandardPaths {
    bool quote = false;     // urllib.parse.quote, for exact str
    bool unquote = false;   // urllib.parse.unquote
    bool parsedate = false;  // email.utils.parsedate_to_datetime, for the canonical text
    bool strftime = false;  // datetime.strftime's call of time.strftime
};
extern StandardPaths standard;

// The per-call parts of the checks, for what no watcher can see: the list of
// month names that email._parseaddr reads (a list changes in place), and the
// builtins of the calling code, whose __import__ datetime.strftime uses to
// find the time module.
bool month_names_unchanged();
bool caller_imports_standard();

// The cached lookups of the three names (frame.names). Never nullptr after
// the module body bound them.
struct StandardSlots {
    vm::NameCache::Slot *quote;
    vm::NameCache::Slot *unquote;
    vm::NameCache::Slot *parsedate_to_datetime;
};
extern StandardSlots slots;

// Looks up one of the three names; `native` tells whether the native
// stand-in may run for what was found. New reference, or nullptr with the
// lookup's error.
inline PyObject *lookup_standard(vm::NameCache::Slot *slot, PyObject *bound_function, bool valid,
                                 bool *native) {
    PyObject *found = frame.names.lookup(*slot);
    *native = valid && found && found == bound_function;
    return found;
}

// The datetime C API, imported with the datetime types (imported_types.cpp
// runs before the functions need it); nullptr until then.
extern PyDateTime_CAPI *datetime_capi;

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
