// Stores an entry in the own dictionary of a static extension type, whose
// attributes Python code cannot assign.
#pragma once

#include <Python.h>

namespace vm {

// Binds `value` under `name` in the dictionary of `type` and refreshes the
// interpreter's cached attribute lookups. 0, or -1 with an exception set.
int set_type_dict_item(PyTypeObject *type, const char *name, PyObject *value);

}  // namespace vm
