// Pieces of the pickle support shared by its source files.
#pragma once

#include "module_support/pickle.hpp"

namespace vm::pickle_detail {

// Interned names the pickle support uses; created by init_names().
struct Names {
    PyObject *dict;             // "__dict__"
    PyObject *new_;             // "__new__"
    PyObject *update;           // "update"
    PyObject *keys;             // "keys"
    PyObject *name;             // "__name__"
    PyObject *getstate;         // "__getstate__"
    PyObject *reduce_ex;        // "__reduce_ex__"
    PyObject *reduce;           // "__reduce__"
    PyObject *setstate;         // "__setstate__"
    PyObject *reduce_tavrin;    // "__reduce_tavrin__"
    PyObject *setstate_tavrin;  // "__setstate_tavrin__"
    PyObject *pickle;           // "pickle"
    PyObject *pickle_error;     // "PickleError"
};
extern Names names;
int init_names();

// The state tuple of `self`: one item per member, in member order. Sets
// *any_object when an object-typed member is not None. New reference.
PyObject *new_state_tuple(const StateLayout &layout, PyObject *self, bool *any_object);

// Assigns the items of `state` (exactly a tuple) to the members of `self`,
// then updates the instance dictionary from the extra item. 0, or -1.
int apply_state(const StateLayout &layout, PyObject *self, PyObject *state);

// The method definitions behind every type's state methods.
extern PyMethodDef reduce_def;
extern PyMethodDef setstate_def;
// The function behind every reconstructor; its defining class picks the row.
PyObject *reconstruct(PyObject *module, PyTypeObject *cls, PyObject *const *args, Py_ssize_t nargs,
                      PyObject *kwnames);

// The pickle rows of this library, as prepare_pickling was given them.
extern std::span<PickleType> library_rows;

}  // namespace vm::pickle_detail
