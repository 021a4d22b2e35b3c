// Stores an entry in the own dictionary of a static extension type, whose
// attributes Python code cannot assign.
#pragma once

#include <Python.h>

namespace velmora::support {

// Binds `value` under `name` in the dictionary of `type` and refreshes the
// interpreter's cached attribute lookups. 0, or -1 with an exception set.
int set_type_dict_item(PyTypeObject *type, const char *name, PyObject *value);

// What attribute lookup on `type` finds for `name` in the type dictionaries
// themselves, before any descriptor runs: the entry of the first class along
// the MRO whose dictionary holds the name. 1 with a new reference in *found,
// 0 when no dictionary holds it, -1 with an exception set.
int find_in_mro(PyTypeObject *type, PyObject *name, PyObject **found);

}  // namespace velmora::support
