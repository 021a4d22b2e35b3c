// How velmora.cookies knows that what a standard function reads is as it was
// when the module body checked it (stdlib_watch.cpp): snapshots of
// dictionaries, and watchers of functions and classes. Each watch names the
// fast paths that depend on it (its users); a change that a watch sees turns
// its users off, until the change is undone where the watch can tell, for
// good where it cannot. stdlib_reads.hpp says what each standard function
// reads and which watch keeps it; the result is `standard`
// (stdlib_bindings.hpp).
#pragma once

#include <Python.h>

namespace velmora::cookies::stdlib_watch {

// The fast paths, as bits of a set of users. kQuoteEscapes: the native
// quote of a text with a byte to escape (on only with kQuote).
enum Path : unsigned { kQuote = 1, kUnquote = 2, kParse = 4, kStrftime = 8, kQuoteEscapes = 16 };

// Whether a key is the exact str `text` (compared without running code).
inline bool same_text(PyObject *key, const char *text) {
    return PyUnicode_CheckExact(key) && PyUnicode_CompareWithASCIIString(key, text) == 0;
}

// The users passed their checks at import: they run while no watch of theirs
// has seen a change.
void trust(unsigned users);
// Turns the users off for good (a change no watch can follow).
void distrust(unsigned users);

// A namespace entry that its own module sets on first use, from None to a
// table. That first assignment is the module's: it is taken into the
// snapshot when `is_standard` accepts the new value (no check: nullptr), and
// with `watch_value` the table is watched from then on for the same users.
struct LazyEntry {
    const char *name;
    bool (*is_standard)(PyObject *value);
    bool watch_value;
};

struct NamespaceWatch {
    // When set, the one key that matters (an entry of sys.modules).
    PyObject *only = nullptr;
    // The builtins: a name added after import is read by none of the
    // standard functions (their names all resolved then), so only entries
    // that existed then count.
    bool existing_keys_only = false;
    // Terminated by an entry whose name is nullptr.
    const LazyEntry *lazy = nullptr;
};

// Watches a dictionary (a module's globals, a table, an instance's
// __dict__): a copy of its entries is kept, and an entry that differs from
// the copy turns the users off until it is restored. A key whose comparison
// could run code (anything but an exact str, bytes or int), a clear or a
// clone turn them off for good, as does a dictionary that cannot be watched.
void watch_namespace(PyObject *dict, unsigned users, const NamespaceWatch &how = {});

// Watches the builtins module's dictionary, which the standard functions call
// into, for the names it held at import.
void watch_builtins(unsigned users);

// Watches the functions (their code and defaults) and classes that a module
// namespace holds, the functions of those classes and what wrappers such as
// functools.lru_cache wrap: any change turns the users off for good. A
// function made later from the same code is reachable only through a
// namespace, which is watched.
void watch_module_code(PyObject *dict, unsigned users);

}  // namespace velmora::cookies::stdlib_watch
