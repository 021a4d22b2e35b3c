#include "module_support/convert.hpp"

#include "module_support/ref.hpp"

#include <climits>

namespace velmora::support {

namespace {

constexpr long long kSmallLimit = 1LL << 60;

// The value when its magnitude is below 2**60, the range in which the
// framework's own overflow texts apply; false for larger magnitudes.
bool small_value(PyObject *integer, long long *out) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(integer, &overflow);
    if (overflow != 0) return false;
    if (v == -1 && PyErr_Occurred()) return false;
    if (v <= -kSmallLimit || v >= kSmallLimit) return false;
    *out = v;
    return true;
}

void raise_too_large(const char *type_name) {
    PyErr_Format(PyExc_OverflowError, "value too large to convert to %.200s", type_name);
}

}  // namespace

PyObject *new_int_from(PyObject *value) {
    if (PyLong_Check(value)) return Py_NewRef(value);
    PyNumberMethods *nb = Py_TYPE(value)->tp_as_number;
    PyObject *result = (nb && nb->nb_int) ? nb->nb_int(value) : nullptr;
    if (!result) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "an integer is required");
        return nullptr;
    }
    if (PyLong_CheckExact(result)) return result;
    if (PyLong_Check(result)) {
        if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                             "__int__ returned non-int (type %.200s).  The ability to return an "
                             "instance of a strict subclass of int is deprecated, and may be "
                             "removed in a future version of Python.",
                             Py_TYPE(result)->tp_name) < 0) {
            Py_DECREF(result);
            return nullptr;
        }
        return result;
    }
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                 Py_TYPE(result)->tp_name);
    Py_DECREF(result);
    return nullptr;
}

bool convert_detail::to_int32_generic(PyObject *value, int32_t *out) {
    Ref integer = Ref::steal(new_int_from(value));
    if (!integer) return false;
    long long v;
    if (small_value(integer.get(), &v)) {
        if (v < INT32_MIN || v > INT32_MAX) {
            raise_too_large("int");
            return false;
        }
        *out = static_cast<int32_t>(v);
        return true;
    }
    if (PyErr_Occurred()) return false;
    int r = PyLong_AsInt(integer.get());
    if (r == -1 && PyErr_Occurred()) return false;
    *out = r;
    return true;
}

bool to_int64(PyObject *value, int64_t *out) {
    Ref integer = Ref::steal(new_int_from(value));
    if (!integer) return false;
    long v = PyLong_AsLong(integer.get());
    if (v == -1 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool to_uint32(PyObject *value, uint32_t *out, const char *type_name) {
    Ref integer = Ref::steal(new_int_from(value));
    if (!integer) return false;
    if (PyLong_IsNegative(integer.get())) {
        PyErr_Format(PyExc_OverflowError, "can't convert negative value to %.200s", type_name);
        return false;
    }
    long long v;
    if (small_value(integer.get(), &v)) {
        if (v > UINT32_MAX) {
            raise_too_large(type_name);
            return false;
        }
        *out = static_cast<uint32_t>(v);
        return true;
    }
    if (PyErr_Occurred()) return false;
    unsigned long u = PyLong_AsUnsignedLong(integer.get());
    if (u == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
    // Fits an unsigned long but not the 32-bit target.
    raise_too_large(type_name);
    return false;
}

}  // namespace velmora::support
