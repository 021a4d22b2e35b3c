#include "module_support/type_dict.hpp"

#include "module_support/ref.hpp"

namespace vm {

int set_type_dict_item(PyTypeObject *type, const char *name, PyObject *value) {
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) return -1;
    if (PyDict_SetItemString(dict.get(), name, value) < 0) return -1;
    PyType_Modified(type);
    return 0;
}

}  // namespace vm
