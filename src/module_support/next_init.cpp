#include "module_support/next_init.hpp"

#include "module_support/ref.hpp"

#include <cstring>

namespace vm {

namespace {

// The __init__ found in the dictionary of the first class after `cls` in the
// MRO of `self`'s type that defines one, with the class that defines it.
PyObject *find_next_init(PyTypeObject *cls, PyObject *self, PyTypeObject **owner) {
    static PyObject *init_name = PyUnicode_InternFromString("__init__");
    if (!init_name) return nullptr;
    PyTypeObject *type = Py_TYPE(self);
    PyObject *mro = type->tp_mro;
    Py_ssize_t n = mro ? PyTuple_GET_SIZE(mro) : 0;
    Py_ssize_t i = 0;
    while (i < n && PyTuple_GET_ITEM(mro, i) != reinterpret_cast<PyObject *>(cls)) ++i;
    if (i == n) {
        PyErr_SetString(PyExc_TypeError,
                        "super(type, obj): obj must be an instance or subtype of type");
        return nullptr;
    }
    for (++i; i < n; ++i) {
        PyTypeObject *base = reinterpret_cast<PyTypeObject *>(PyTuple_GET_ITEM(mro, i));
        Ref dict = Ref::steal(PyType_GetDict(base));
        if (!dict) return nullptr;
        PyObject *found;
        int rc = PyDict_GetItemRef(dict.get(), init_name, &found);
        if (rc < 0) return nullptr;
        if (rc > 0) {
            *owner = base;
            return found;
        }
    }
    PyErr_SetString(PyExc_AttributeError, "'super' object has no attribute '__init__'");
    return nullptr;
}

}  // namespace

int call_next_init(PyTypeObject *cls, PyObject *self, PyObject *args) {
    PyTypeObject *owner = nullptr;
    Ref init = Ref::steal(find_next_init(cls, self, &owner));
    if (!init) return -1;
    // A slot wrapper of a C type's tp_init: call the slot itself, exactly as
    // the wrapper would, without building a bound method.
    if (Py_IS_TYPE(init.get(), &PyWrapperDescr_Type)) {
        auto *wrapper = reinterpret_cast<PyWrapperDescrObject *>(init.get());
        if (std::strcmp(wrapper->d_base->name, "__init__") == 0 &&
            wrapper->d_wrapped == reinterpret_cast<void *>(owner->tp_init) && owner->tp_init) {
            return owner->tp_init(self, args, nullptr);
        }
    }
    Ref bound;
    descrgetfunc get = Py_TYPE(init.get())->tp_descr_get;
    if (get) {
        bound = Ref::steal(get(init.get(), self, reinterpret_cast<PyObject *>(Py_TYPE(self))));
        if (!bound) return -1;
    } else {
        bound = std::move(init);
    }
    Ref result = Ref::steal(PyObject_Call(bound.get(), args, nullptr));
    return result ? 0 : -1;
}

}  // namespace vm
