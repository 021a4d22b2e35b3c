// Truth value of an object as a flag, answering True, False and None
// without a call.
#pragma once

#include <Python.h>

namespace velmora::support {

// 1 or 0, or -1 with the exception of the object's truth test.
inline int is_true(PyObject *value) {
    if (value == Py_True) return 1;
    if (value == Py_False || value == Py_None) return 0;
    return PyObject_IsTrue(value);
}

}  // namespace velmora::support
