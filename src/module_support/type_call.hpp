// The interpreter's generic call of a type object (allocation, then
// __init__), for a vectorcall entry that serves only one exact type.
#pragma once

#include <Python.h>

namespace velmora::support {

// Calls `type` as type.__call__ does, from vectorcall arguments. New
// reference, or nullptr with an exception set.
PyObject *call_type_generic(PyObject *type, PyObject *const *args, size_t nargsf,
                            PyObject *kwnames);

}  // namespace velmora::support
