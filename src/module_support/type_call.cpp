#include "module_support/type_call.hpp"

#include "module_support/ref.hpp"

namespace velmora::support {

PyObject *call_type_generic(PyObject *type, PyObject *const *args, size_t nargsf,
                            PyObject *kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    Ref positional = Ref::steal(PyTuple_New(nargs));
    if (!positional) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        PyTuple_SET_ITEM(positional.get(), i, Py_NewRef(args[i]));
    }
    Ref keywords;
    if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) {
        keywords = Ref::steal(PyDict_New());
        if (!keywords) return nullptr;
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
            if (PyDict_SetItem(keywords.get(), PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) < 0) {
                return nullptr;
            }
        }
    }
    return PyType_Type.tp_call(type, positional.get(), keywords.get());
}

}  // namespace velmora::support
