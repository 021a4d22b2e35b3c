// Pieces of the pickle support shared by its source files.
#pragma once

#include "module_support/pickle.hpp"

namespace velmora::support::pickle_detail {

// Interned names the pickle support uses, each as its field and its text;
// created by init_names().
#define VELMORA_PICKLE_NAMES(X)               \
    X(dict, "__dict__")                       \
    X(new_, "__new__")                        \
    X(update, "update")                       \
    X(keys, "keys")                           \
    X(name, "__name__")                       \
    X(getstate, "__getstate__")               \
    X(reduce_ex, "__reduce_ex__")             \
    X(reduce, "__reduce__")                   \
    X(setstate, "__setstate__")               \
    X(reduce_tavrin, "__reduce_tavrin__")     \
    X(setstate_tavrin, "__setstate_tavrin__") \
    X(pickle, "pickle")                       \
    X(pickle_error, "PickleError")

struct Names {
#define VELMORA_PICKLE_NAME_FIELD(field, text) PyObject *field;
    VELMORA_PICKLE_NAMES(VELMORA_PICKLE_NAME_FIELD)
#undef VELMORA_PICKLE_NAME_FIELD
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

}  // namespace velmora::support::pickle_detail
