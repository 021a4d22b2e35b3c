// The standard-library functions velmora.cookies binds in its namespace,
// and whether its native stand-ins for them may run (stdlib_bindings.cpp).
#pragma once

#include <Python.h>

#include <datetime.h>

#include "cookies/module.hpp"
#include "module_support/lookup.hpp"

namespace velmora::cookies {

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
    bool quote = false;      // urllib.parse.quote, for exact str
    bool unquote = false;    // urllib.parse.unquote
    bool parsedate = false;  // email.utils.parsedate_to_datetime, for the canonical text
    bool strftime = false;   // datetime.strftime's call of time.strftime
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
    support::NameCache::Slot *quote;
    support::NameCache::Slot *unquote;
    support::NameCache::Slot *parsedate_to_datetime;
};
extern StandardSlots slots;

// Looks up one of the three names; `native` tells whether the native
// stand-in may run for what was found. New reference, or nullptr with the
// lookup's error.
inline PyObject *lookup_standard(support::NameCache::Slot *slot, PyObject *bound_function,
                                 bool valid, bool *native) {
    PyObject *found = frame.names.lookup(*slot);
    *native = valid && found && found == bound_function;
    return found;
}

// The datetime C API, imported with the datetime types (imported_types.cpp
// runs before the functions need it); nullptr until then.
extern PyDateTime_CAPI *datetime_capi;

}  // namespace velmora::cookies
