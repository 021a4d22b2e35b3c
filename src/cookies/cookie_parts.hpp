// The pieces the Cookie type object is assembled from (cookie_type.cpp).
#pragma once

#include <Python.h>

namespace velmora::cookies {

// cookie_properties.cpp: the nine properties, and the two setters that the
// constructor runs (by attribute assignment for subclasses).
extern PyGetSetDef cookie_getset[];
int cookie_set_name(PyObject *self, PyObject *value, void *closure);
int cookie_set_value(PyObject *self, PyObject *value, void *closure);

// cookie_methods.cpp: clone(), repr and comparison.
extern PyMethodDef cookie_methods[];
PyObject *cookie_repr(PyObject *self);
PyObject *cookie_richcompare(PyObject *self, PyObject *other, int op);

}  // namespace velmora::cookies
