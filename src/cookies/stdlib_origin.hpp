// Whether an object is the standard library's own (stdlib_origin.cpp): a
// module namespace read from the standard library's own file, a function
// compiled from that file and bound there under its own name. Checked once,
// at import; the watches of stdlib_watch.hpp keep it true afterwards.
#pragma once

#include <Python.h>

namespace velmora::cookies::stdlib_origin {

// Whether `dict` is the namespace of the module `name` read from the file
// `relative` of the standard library's own directory.
bool is_standard_namespace(PyObject *dict, const char *name, const char *relative);

// When `function` is a plain function of that module, compiled from its file
// and bound there under its own name: its globals (borrowed). Else nullptr.
PyObject *standard_function(PyObject *function, const char *module, const char *relative);

// dict[key], borrowed, or nullptr (no error set).
PyObject *entry(PyObject *dict, const char *key);

}  // namespace velmora::cookies::stdlib_origin
