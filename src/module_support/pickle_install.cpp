// Installation of the state methods on a type and of its reconstructor in
// the module namespace.
#include "module_support/frame.hpp"
#include "module_support/pickle_internal.hpp"
#include "module_support/ref.hpp"
#include "module_support/static_type.hpp"

#include <cstring>

namespace velmora::support {

using pickle_detail::names;

namespace {

constexpr char reconstructor_prefix[] = "__pyx_unpickle_";

// A row whose reconstructor does not carry the type's short name would write
// pickles that no reconstructor of that type reads.
bool row_matches_type(const PickleType &row) {
    const char *short_name = short_type_name(row.type);
    constexpr std::size_t prefix_len = sizeof reconstructor_prefix - 1;
    if (std::strncmp(row.reconstructor_name, reconstructor_prefix, prefix_len) == 0 &&
        std::strcmp(row.reconstructor_name + prefix_len, short_name) == 0) {
        return true;
    }
    PyErr_Format(PyExc_SystemError, "pickle row %s does not belong to %s", row.reconstructor_name,
                 row.type->tp_name);
    return false;
}

int create_runtime(const ModuleFrame &frame, PickleType &row) {
    PickleRuntime &rt = row.runtime;
    rt.frame = &frame;
    if (!rt.reconstructor_key) {
        rt.reconstructor_key = PyUnicode_InternFromString(row.reconstructor_name);
        if (!rt.reconstructor_key) return -1;
    }
    if (!rt.checksum) {
        rt.checksum = PyLong_FromUnsignedLong(row.state->checksums.sha256);
        if (!rt.checksum) return -1;
    }
    if (!rt.reduce) {
        rt.reduce = PyDescr_NewMethod(row.type, &pickle_detail::reduce_def);
        if (!rt.reduce) return -1;
    }
    if (!rt.setstate) {
        rt.setstate = PyDescr_NewMethod(row.type, &pickle_detail::setstate_def);
        if (!rt.setstate) return -1;
    }
    return 0;
}

// 1 when the type resolves `name` to the very object that `object` resolves
// it to (or neither has it), 0 when not, -1 on error.
int same_as_object(PyObject *type, PyObject *name) {
    PyObject *own, *base;
    if (PyObject_GetOptionalAttr(type, name, &own) < 0) return -1;
    Ref own_ref = Ref::steal(own);
    if (PyObject_GetOptionalAttr(reinterpret_cast<PyObject *>(&PyBaseObject_Type), name, &base) <
        0) {
        return -1;
    }
    Ref base_ref = Ref::steal(base);
    return own == base ? 1 : 0;
}

// 1 when `function` has the __name__ `expected`, 0 when not, -1 on error.
int has_name(PyObject *function, PyObject *expected) {
    PyObject *name;
    int found = PyObject_GetOptionalAttr(function, names.name, &name);
    if (found <= 0) return found;
    Ref held = Ref::steal(name);
    if (!PyUnicode_Check(name)) return 0;
    return PyUnicode_Compare(name, expected) == 0 ? 1 : (PyErr_Occurred() ? -1 : 0);
}

// A static type's own attributes cannot be assigned from Python, so its
// dictionary is written directly and the type told about it afterwards.
int put_in_type_dict(PyTypeObject *type, PyObject *name, PyObject *value, PyObject *replaced) {
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) return -1;
    if (PyDict_SetItem(dict.get(), name, value) < 0) return -1;
    if (replaced && PyDict_Pop(dict.get(), replaced, nullptr) < 0) return -1;
    PyType_Modified(type);
    return 0;
}

// At set-up: the state methods become __reduce__ and __setstate__
// unless the type already inherits a pickling protocol of its own.
int install_protocol(PickleType &row) {
    PyObject *type = reinterpret_cast<PyObject *>(row.type);
    int same = same_as_object(type, names.getstate);
    if (same <= 0) return same;
    same = same_as_object(type, names.reduce_ex);
    if (same <= 0) return same;

    Ref reduce = Ref::steal(PyObject_GetAttr(type, names.reduce));
    if (!reduce) return -1;
    Ref object_reduce = Ref::steal(
        PyObject_GetAttr(reinterpret_cast<PyObject *>(&PyBaseObject_Type), names.reduce));
    if (!object_reduce) return -1;
    if (reduce.get() != object_reduce.get()) {
        int ours = has_name(reduce.get(), names.reduce_tavrin);
        if (ours <= 0) return ours;  // the exception types: their base's protocol stays
    }
    if (put_in_type_dict(row.type, names.reduce, row.runtime.reduce, names.reduce_tavrin) < 0) {
        return -1;
    }

    PyObject *setstate;
    if (PyObject_GetOptionalAttr(type, names.setstate, &setstate) < 0) return -1;
    Ref setstate_ref = Ref::steal(setstate);
    int replace = 1;
    if (setstate) replace = has_name(setstate, names.setstate_tavrin);
    if (replace < 0) return -1;
    if (replace && put_in_type_dict(row.type, names.setstate, row.runtime.setstate,
                                    names.setstate_tavrin) < 0) {
        return -1;
    }
    return 0;
}

bool prepared(const PickleType &row) {
    if (row.runtime.reduce) return true;
    PyErr_Format(PyExc_SystemError, "pickling of %s used before it was prepared",
                 row.type->tp_name);
    return false;
}

}  // namespace

int prepare_pickling(const ModuleFrame &frame, std::span<PickleType> rows, PyTypeObject *type) {
    pickle_detail::library_rows = rows;
    PickleType *row = find_row(rows, type);
    if (!row || pickle_detail::init_names() < 0 || !row_matches_type(*row) ||
        create_runtime(frame, *row) < 0 || install_protocol(*row) < 0) {
        if (!PyErr_Occurred()) {
            PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s",
                         type->tp_name);
        }
        return -1;
    }
    return 0;
}

int bind_state_methods(PickleType &row) {
    if (!prepared(row)) return -1;
    Ref dict = Ref::steal(PyType_GetDict(row.type));
    if (!dict) return -1;
    if (PyDict_SetItem(dict.get(), names.reduce_tavrin, row.runtime.reduce) < 0 ||
        PyDict_SetItem(dict.get(), names.setstate_tavrin, row.runtime.setstate) < 0) {
        return -1;
    }
    PyType_Modified(row.type);
    return 0;
}

int bind_reconstructor(const ModuleFrame &frame, PickleType &row) {
    if (!prepared(row)) return -1;
    row.runtime.reconstructor_signature.func_name = row.reconstructor_name;
    row.runtime.reconstructor_def = PyMethodDef{
        row.reconstructor_name,
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pickle_detail::reconstruct)),
        METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
        nullptr,
    };
    // Bound to the module, so that pickle finds it as <module>.<name>.
    Ref function = Ref::steal(
        PyCMethod_New(&row.runtime.reconstructor_def, frame.module, frame.module_name, row.type));
    if (!function) return -1;
    return frame.bind(row.reconstructor_name, function.get());
}

}  // namespace velmora::support
