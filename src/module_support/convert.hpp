// The one integer conversion used wherever a Python object becomes a native
// integer (statuses, Max-Age, SameSite codes, pickle checksums).
#pragma once

#include <Python.h>

#include <cstdint>

namespace velmora::support {

// An int (or subclass) as it is; otherwise the result of the type's __int__,
// with the interpreter's rules for results of the wrong type. New reference.
PyObject *new_int_from(PyObject *value);

// Each returns true on success; false with an exception set.
bool to_int32(PyObject *value, int32_t *out);
bool to_int64(PyObject *value, int64_t *out);
// `type_name` names the native target in the OverflowError texts.
bool to_uint32(PyObject *value, uint32_t *out, const char *type_name);

}  // namespace velmora::support
