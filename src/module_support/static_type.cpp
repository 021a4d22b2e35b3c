#include "module_support/static_type.hpp"

#include <cstring>

namespace velmora::support {

void define_type(PyTypeObject &type, const TypeSpec &spec) {
    type = PyTypeObject{PyVarObject_HEAD_INIT(nullptr, 0)};
    type.tp_name = spec.name;
    type.tp_basicsize = spec.basicsize;
    type.tp_flags = spec.flags;
    type.tp_dealloc = spec.dealloc;
    type.tp_repr = spec.repr;
    type.tp_hash = spec.hash;
    type.tp_traverse = spec.traverse;
    type.tp_clear = spec.clear;
    type.tp_richcompare = spec.richcompare;
    type.tp_methods = spec.methods;
    type.tp_members = spec.members;
    type.tp_getset = spec.getset;
    type.tp_base = spec.base;
    type.tp_init = spec.init;
    type.tp_new = spec.new_;
    type.tp_vectorcall = spec.vectorcall;
}

void define_exception_type(PyTypeObject &type, const char *name, Py_ssize_t basicsize,
                           initproc init, PyGetSetDef *getset, PyTypeObject *base) {
    define_type(
        type, {.name = name, .basicsize = basicsize, .getset = getset, .base = base, .init = init});
}

const char *short_type_name(const PyTypeObject *type) {
    const char *dot = std::strrchr(type->tp_name, '.');
    return dot ? dot + 1 : type->tp_name;
}

}  // namespace velmora::support
