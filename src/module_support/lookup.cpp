#include "module_support/lookup.hpp"

namespace vm {

PyObject *lookup_global(PyObject *module_dict, PyObject *builtins, PyObject *name) {
    PyObject *found;
    if (PyDict_GetItemRef(module_dict, name, &found) != 0) return found;  // found, or error
    if (PyObject_GetOptionalAttr(builtins, name, &found) != 0) return found;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

}  // namespace vm
