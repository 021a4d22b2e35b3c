#include "cookies/stdlib_origin.hpp"

#include "module_support/ref.hpp"

namespace velmora::cookies::stdlib_origin {

using support::Ref;

namespace {

PyObject *stdlib_dir() {
    PyObject *dir = PySys_GetObject("_stdlib_dir");  // borrowed
    return dir && PyUnicode_CheckExact(dir) ? dir : nullptr;
}

// An entry of a namespace with an exact-str value equal to `expected`.
bool entry_equals(PyObject *dict, const char *key, PyObject *expected) {
    PyObject *found;
    if (PyDict_GetItemStringRef(dict, key, &found) <= 0) {
        PyErr_Clear();
        return false;
    }
    Ref held = Ref::steal(found);
    return PyUnicode_CheckExact(found) && PyUnicode_Compare(found, expected) == 0;
}

}  // namespace

bool is_standard_namespace(PyObject *dict, const char *name, const char *relative) {
    PyObject *dir = stdlib_dir();
    if (!dir || !PyDict_CheckExact(dict)) return false;
    Ref module_name = Ref::steal(PyUnicode_FromString(name));
    Ref file = Ref::steal(PyUnicode_FromFormat("%U/%s", dir, relative));
    if (!module_name || !file) {
        PyErr_Clear();
        return false;
    }
    return entry_equals(dict, "__name__", module_name.get()) &&
           entry_equals(dict, "__file__", file.get());
}

PyObject *standard_function(PyObject *function, const char *module, const char *relative) {
    if (!function || !Py_IS_TYPE(function, &PyFunction_Type)) return nullptr;
    PyObject *globals = PyFunction_GET_GLOBALS(function);
    if (!is_standard_namespace(globals, module, relative)) return nullptr;
    PyObject *file = entry(globals, "__file__");  // checked above
    Ref filename = Ref::steal(PyObject_GetAttrString(PyFunction_GET_CODE(function), "co_filename"));
    Ref name = Ref::steal(PyObject_GetAttrString(function, "__name__"));
    if (!filename || !name || !file) {
        PyErr_Clear();
        return nullptr;
    }
    if (!PyUnicode_CheckExact(filename.get()) || PyUnicode_Compare(filename.get(), file) != 0) {
        return nullptr;
    }
    PyObject *own;
    if (PyDict_GetItemRef(globals, name.get(), &own) <= 0) {
        PyErr_Clear();
        return nullptr;
    }
    Py_DECREF(own);
    return own == function ? globals : nullptr;
}

PyObject *entry(PyObject *dict, const char *key) {
    PyObject *found = PyDict_GetItemString(dict, key);
    return found;
}

}  // namespace velmora::cookies::stdlib_origin
