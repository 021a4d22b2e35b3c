// The one integer conversion used wherever a Python object becomes a native
// integer (statuses, Max-Age, SameSite codes, pickle checksums).
#pragma once

#include <Python.h>

#include <cstdint>

namespace velmora::support {

// An int (or subclass) as it is; otherwise the result of the type's __int__,
// with the interpreter's rules for results of the wrong type. New reference.
PyObject *new_int_from(PyObject *value);

namespace convert_detail {
// to_int32 for whatever is not an exact int that fits in place.
bool to_int32_generic(PyObject *value, int32_t *out);
}  // namespace convert_detail

// Each returns true on success; false with an exception set.
inline bool to_int32(PyObject *value, int32_t *out) {
    // A compact int in range, the usual status code, is read in place.
    if (PyLong_CheckExact(value) &&
        PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(value))) {
        const Py_ssize_t v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(value));
        if (v >= INT32_MIN && v <= INT32_MAX) {
            *out = static_cast<int32_t>(v);
            return true;
        }
    }
    return convert_detail::to_int32_generic(value, out);
}
bool to_int64(PyObject *value, int64_t *out);
// `type_name` names the native target in the OverflowError texts.
bool to_uint32(PyObject *value, uint32_t *out, const char *type_name);

}  // namespace velmora::support
