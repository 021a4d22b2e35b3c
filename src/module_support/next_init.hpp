// Calls the __init__ that follows a class in the method resolution order of
// an instance, as super(cls, self).__init__(*args) does.
#pragma once

#include <Python.h>

namespace vm {

// `args` is a tuple of positional arguments. Returns 0, or -1 with an
// exception set.
int call_next_init(PyTypeObject *cls, PyObject *self, PyObject *args);

}  // namespace vm
