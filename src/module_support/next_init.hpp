// Calls the __init__ that follows a class in the method resolution order of
// an instance, as super(cls, self).__init__(*args) does.
#pragma once

#include <Python.h>

namespace vm {

// `args` is a tuple of positional arguments. Returns 0, or -1 with an
// exception set.
int call_next_init(PyTypeObject *cls, PyObject *self, PyObject *args);

// The tp_init slot that call_next_init would run, when the next __init__ is
// a C type's own slot wrapper; nullptr (no exception set) for anything else,
// which only call_next_init handles. Lets a caller that knows the slot run
// its body without packing arguments.
initproc next_init_slot(PyTypeObject *cls, PyObject *self);

}  // namespace vm
