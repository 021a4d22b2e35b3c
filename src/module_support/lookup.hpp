// Module-level names used at call time: looked up on every use, first in the
// module namespace, then among the builtins, so that rebinding or deleting a
// module attribute takes effect at once.
#pragma once

#include <Python.h>

namespace vm {

// New reference, or nullptr with NameError "name '%U' is not defined".
PyObject *lookup_global(PyObject *module_dict, PyObject *builtins, PyObject *name);

}  // namespace vm
