// Static extension types: one process-wide type object each, filled from a
// description before it is readied, never freed.
#pragma once

#include <Python.h>

#include <cstddef>
#include <type_traits>
#include <utility>

namespace velmora::support {

// The slots a type of these libraries sets; everything else stays zero and
// is inherited when the type is readied. Fields in PyTypeObject order, so
// that designated initializers can name any of them.
struct TypeSpec {
    const char *name;  // the full name: module's dotted name, a point, the short name
    Py_ssize_t basicsize;
    unsigned long flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    destructor dealloc = nullptr;
    reprfunc repr = nullptr;
    hashfunc hash = nullptr;
    traverseproc traverse = nullptr;
    inquiry clear = nullptr;
    richcmpfunc richcompare = nullptr;
    PyMethodDef *methods = nullptr;
    PyMemberDef *members = nullptr;
    PyGetSetDef *getset = nullptr;
    PyTypeObject *base = nullptr;  // nullptr: object, or set before readying
    initproc init = nullptr;
    newfunc new_ = nullptr;
    vectorcallfunc vectorcall = nullptr;
};

// Resets `type` and fills it from `spec`, ready for PyType_Ready.
void define_type(PyTypeObject &type, const TypeSpec &spec);

// An exception type: subclassable, without docstring; garbage collection
// (flag, traverse, clear) comes from the exception base unless the caller
// sets its own traverse and clear afterwards.
void define_exception_type(PyTypeObject &type, const char *name, Py_ssize_t basicsize,
                           initproc init, PyGetSetDef *getset = nullptr,
                           PyTypeObject *base = nullptr);

// The exception type of every row of `rows` (each with `type` and `name`),
// with `init_for(std::integral_constant<std::size_t, I>{})` as the __init__
// of row I: one __init__ per class, since the class whose __init__ runs
// decides what it does, not the instance's type.
template <typename Row, std::size_t N, typename InitFor>
void define_exception_types(Row (&rows)[N], Py_ssize_t basicsize, InitFor init_for) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (define_exception_type(*rows[I].type, rows[I].name, basicsize,
                               init_for(std::integral_constant<std::size_t, I>{})),
         ...);
    }
    (std::make_index_sequence<N>{});
}

// The short name of a type: its full name after the last point.
const char *short_type_name(const PyTypeObject *type);

}  // namespace velmora::support
