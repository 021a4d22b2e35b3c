// Calls the __init__ that follows a class in the method resolution order of
// an instance, as super(cls, self).__init__(*args) does.
#pragma once

#include <Python.h>

#include "module_support/args.hpp"

namespace velmora::support {

// `args` is a tuple of positional arguments. Returns 0, or -1 with an
// exception set.
int call_next_init(PyTypeObject *cls, PyObject *self, PyObject *args);

// The constructors whose message is the exception's single argument: checks
// `message` as parameter `index` of `sig`, then runs the __init__ that follows
// `cls` with (message,). 0, or -1 with an exception set.
int init_next_with_message(PyTypeObject *cls, PyObject *self, const Signature &sig,
                           Py_ssize_t index, PyObject *message);

// The tp_init slot that call_next_init would run, when the next __init__ is
// a C type's own slot wrapper; nullptr (no exception set) for anything else,
// which only call_next_init handles. Lets a caller that knows the slot run
// its body without packing arguments.
initproc next_init_slot(PyTypeObject *cls, PyObject *self);

}  // namespace velmora::support
