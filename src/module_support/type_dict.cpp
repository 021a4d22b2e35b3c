#include "module_support/type_dict.hpp"

#include "module_support/ref.hpp"

namespace velmora::support {

int set_type_dict_item(PyTypeObject *type, const char *name, PyObject *value) {
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) return -1;
    if (PyDict_SetItemString(dict.get(), name, value) < 0) return -1;
    PyType_Modified(type);
    return 0;
}

int find_in_mro(PyTypeObject *type, PyObject *name, PyObject **found) {
    *found = nullptr;
    // Held: comparing keys may run the __eq__ of a str subclass key, which
    // may assign __bases__ and so replace (and free) the MRO being walked.
    Ref mro = Ref::borrow(type->tp_mro);
    if (!mro || !PyTuple_Check(mro.get())) return 0;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro.get()); ++i) {
        auto *base = reinterpret_cast<PyTypeObject *>(PyTuple_GET_ITEM(mro.get(), i));
        Ref dict = Ref::steal(PyType_GetDict(base));
        if (!dict) return -1;
        int rc = PyDict_GetItemRef(dict.get(), name, found);
        if (rc != 0) return rc;
    }
    return 0;
}

}  // namespace velmora::support
