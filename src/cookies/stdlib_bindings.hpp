// The standard-library functions velmora.cookies binds in its namespace
// (stdlib_bindings.cpp), and whether its native stand-ins for them may run
// (stdlib_reads.hpp says what each standard function reads and how velmora
// knows it unchanged; stdlib_watch.cpp keeps `standard`).
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
// watches of everything that code reads: its module's globals and tables,
// the modules it calls into, the builtins, and its function objects. Read on
// every call; written only by the watches and at import.
struct StandardPaths {
    bool quote = false;          // urllib.parse.quote, for exact str
    bool quote_escapes = false;  // and its cache of escapes (see quote_may_stand_in)
    bool unquote = false;        // urllib.parse.unquote
    bool parsedate = false;      // email.utils.parsedate_to_datetime, for the canonical text
    bool strftime = false;       // datetime.strftime's call of time.strftime
};
extern StandardPaths standard;

// The per-call parts of the checks (stdlib_reads_*.cpp), for what no watcher
// can see: the list of month names that email._parseaddr reads (a list
// changes in place), and the import by which datetime.strftime finds the
// time module (the builtins of the calling code and their __import__, the
// class and __dict__ of time.__spec__, whose _initializing the import reads).
bool month_names_unchanged();
bool caller_imports_standard();

// Whether the native quote may stand in for the standard quote(text) of an
// exact str (while `standard.quote`): while quote's cache of escapes is known
// to hold the standard escapes (`standard.quote_escapes`: the _Quoter that
// functools.lru_cache keeps for safe="/", stdlib_reads_quoting.cpp), or for a text
// whose every UTF-8 byte quote keeps, which never reaches that cache.
bool quote_keeps_every_byte(PyObject *text);
inline bool quote_may_stand_in(PyObject *text) {
    return standard.quote_escapes || quote_keeps_every_byte(text);
}

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
