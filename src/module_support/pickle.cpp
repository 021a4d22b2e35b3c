// The state methods and the reconstructor that every pickled type shares;
// the row of the type they were defined for supplies its layout.
#include "module_support/args.hpp"
#include "module_support/convert.hpp"
#include "module_support/frame.hpp"
#include "module_support/pickle_internal.hpp"
#include "module_support/ref.hpp"

#include <iterator>

namespace velmora::support::pickle_detail {

Names names;

int init_names() {
    if (names.dict) return 0;
    struct Entry {
        PyObject **slot;
        const char *text;
    };
#define VELMORA_PICKLE_NAME_ENTRY(field, text) {&names.field, text},
    const Entry entries[] = {VELMORA_PICKLE_NAMES(VELMORA_PICKLE_NAME_ENTRY)};
#undef VELMORA_PICKLE_NAME_ENTRY
    // `dict` is written last, so that a partial failure is retried as a whole.
    for (auto it = std::rbegin(entries); it != std::rend(entries); ++it) {
        if (*it->slot) continue;
        *it->slot = PyUnicode_InternFromString(it->text);
        if (!*it->slot) return -1;
    }
    return 0;
}

namespace {

// The row of the type a method or reconstructor was defined for.
PickleType *row_for_call(PyTypeObject *cls) {
    return find_row(library_rows, cls);
}

// ---- __reduce_tavrin__ -----------------------------------------------------

const Signature reduce_signature{"__reduce_tavrin__", nullptr, 0, 0};

PyObject *with_extra_item(PyObject *tuple, PyObject *extra) {
    Py_ssize_t n = PyTuple_GET_SIZE(tuple);
    PyObject *longer = PyTuple_New(n + 1);
    if (!longer) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyTuple_SET_ITEM(longer, i, Py_NewRef(PyTuple_GET_ITEM(tuple, i)));
    }
    PyTuple_SET_ITEM(longer, n, Py_NewRef(extra));
    return longer;
}

PyObject *reduce_value(PickleType &row, PyObject *self) {
    bool any_object = false;
    Ref state = Ref::steal(new_state_tuple(*row.state, self, &any_object));
    if (!state) return nullptr;
    PyObject *dict_value;
    if (PyObject_GetOptionalAttr(self, names.dict, &dict_value) < 0) return nullptr;
    Ref dict = Ref::steal(dict_value);
    bool deferred = any_object;
    if (dict) {
        int truth = PyObject_IsTrue(dict.get());
        if (truth < 0) return nullptr;
        if (truth) {
            // The dictionary rides along as one more, last item.
            state = Ref::steal(with_extra_item(state.get(), dict.get()));
            if (!state) return nullptr;
            deferred = true;
        }
    }
    // Looked up anew on every call: a pickle names the function by its module
    // attribute, so that attribute is what must be bound.
    Ref reconstructor = Ref::steal(row.runtime.frame->lookup(row.runtime.reconstructor_key));
    if (!reconstructor) return nullptr;
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(self));
    if (deferred) {
        Ref args = Ref::steal(PyTuple_Pack(3, type, row.runtime.checksum, Py_None));
        if (!args) return nullptr;
        return PyTuple_Pack(3, reconstructor.get(), args.get(), state.get());
    }
    Ref args = Ref::steal(PyTuple_Pack(3, type, row.runtime.checksum, state.get()));
    if (!args) return nullptr;
    return PyTuple_Pack(2, reconstructor.get(), args.get());
}

PyObject *reduce_method(PyObject *self, PyTypeObject *cls, PyObject *const *args, Py_ssize_t nargs,
                        PyObject *kwnames) {
    PickleType *row = row_for_call(cls);
    if (!row) return nullptr;
    if (BoundArgs<0>{}.bind_vector(reduce_signature, args, static_cast<size_t>(nargs), kwnames) <
        0) {
        return nullptr;
    }
    return reduce_value(*row, self);
}

// ---- __setstate_tavrin__ ---------------------------------------------------

const char *const setstate_params[] = {"__pyx_state"};
const Signature setstate_signature{"__setstate_tavrin__", setstate_params, 1, 1};

PyObject *setstate_method(PyObject *self, PyTypeObject *cls, PyObject *const *args,
                          Py_ssize_t nargs, PyObject *kwnames) {
    PickleType *row = row_for_call(cls);
    if (!row) return nullptr;
    BoundArgs<1> bound;
    if (bound.bind_vector(setstate_signature, args, static_cast<size_t>(nargs), kwnames) < 0) {
        return nullptr;
    }
    PyObject *state = bound[0];
    if (state == Py_None) {
        raise_none_not_allowed();
        return nullptr;
    }
    if (!PyTuple_CheckExact(state)) {
        raise_expected("tuple", state);
        return nullptr;
    }
    if (apply_state(*row->state, self, state) < 0) return nullptr;
    return Py_NewRef(Py_None);
}

// ---- __pyx_unpickle_<Type> -------------------------------------------------

bool accepted(const Checksums &sums, int64_t checksum) {
    return checksum == sums.sha256 || checksum == sums.sha1 || checksum == sums.md5;
}

void raise_incompatible(const StateLayout &layout, int64_t checksum) {
    Ref pickle = Ref::steal(PyImport_Import(names.pickle));
    if (!pickle) return;
    Ref error = Ref::steal(PyObject_GetAttr(pickle.get(), names.pickle_error));
    if (!error) return;
    const Checksums &sums = layout.checksums;
    Ref message = Ref::steal(
        PyUnicode_FromFormat("Incompatible checksums (0x%x vs (0x%x, 0x%x, 0x%x) = (%s))",
                             static_cast<unsigned int>(checksum & 0xffffffff), sums.sha256,
                             sums.sha1, sums.md5, layout.member_text));
    if (!message) return;
    if (!PyExceptionClass_Check(error.get())) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return;
    }
    PyErr_SetObject(error.get(), message.get());
}

// Exception types inherit the exception base's __new__, which accepts any
// exception class; the state written afterwards is laid out for this type
// only, so anything that is not this type or a subtype is refused before an
// instance exists.
bool check_target_type(PyTypeObject *type, PyObject *target) {
    if (!PyType_Check(target)) {
        PyErr_Format(PyExc_TypeError, "%s.__new__(X): X is not a type object (%s)", type->tp_name,
                     Py_TYPE(target)->tp_name);
        return false;
    }
    auto *target_type = reinterpret_cast<PyTypeObject *>(target);
    if (!PyType_IsSubtype(target_type, type)) {
        PyErr_Format(PyExc_TypeError, "%s.__new__(%s): %s is not a subtype of %s", type->tp_name,
                     target_type->tp_name, target_type->tp_name, type->tp_name);
        return false;
    }
    return true;
}

PyObject *new_instance(PyTypeObject *type, PyObject *target) {
    Ref new_method = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject *>(type), names.new_));
    if (!new_method) return nullptr;
    Ref instance = Ref::steal(PyObject_CallOneArg(new_method.get(), target));
    if (!instance) return nullptr;
    if (!PyObject_TypeCheck(instance.get(), type)) {
        PyErr_Format(PyExc_TypeError, "%s.__new__ returned %.200s, not an instance of it",
                     type->tp_name, Py_TYPE(instance.get())->tp_name);
        return nullptr;
    }
    return instance.release();
}

}  // namespace

PyObject *reconstruct(PyObject *, PyTypeObject *cls, PyObject *const *args, Py_ssize_t nargs,
                      PyObject *kwnames) {
    PickleType *row = row_for_call(cls);
    if (!row) return nullptr;
    // Owned for the whole call: the checksum's __int__ may drop the others.
    BoundArgs<3> bound;
    if (bound.bind_vector(row->runtime.reconstructor_signature, args, static_cast<size_t>(nargs),
                          kwnames) < 0) {
        return nullptr;
    }
    PyObject *target = bound[0];
    PyObject *state = bound[2];
    int64_t checksum;
    if (!to_int64(bound[1], &checksum)) return nullptr;
    if (!check_param(row->runtime.reconstructor_signature, 2, state)) return nullptr;
    const StateLayout &layout = *row->state;
    if (!accepted(layout.checksums, checksum)) {
        raise_incompatible(layout, checksum);
        return nullptr;
    }
    if (!check_target_type(row->type, target)) return nullptr;
    Ref instance = Ref::steal(new_instance(row->type, target));
    if (!instance) return nullptr;
    if (state != Py_None && apply_state(layout, instance.get(), state) < 0) return nullptr;
    return instance.release();
}

PyMethodDef reduce_def = {
    "__reduce_tavrin__",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(reduce_method)),
    METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
    nullptr,
};

PyMethodDef setstate_def = {
    "__setstate_tavrin__",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(setstate_method)),
    METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
    nullptr,
};

std::span<PickleType> library_rows;

}  // namespace velmora::support::pickle_detail

namespace velmora::support {

PickleType *find_row(std::span<PickleType> rows, PyTypeObject *type) {
    for (PickleType &row : rows) {
        if (row.type == type) return &row;
    }
    PyErr_Format(PyExc_SystemError, "no pickle state declared for %.200s", type->tp_name);
    return nullptr;
}

}  // namespace velmora::support
