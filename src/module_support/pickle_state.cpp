// State tuples: fields of an instance record to Python objects and back,
// with the conversion and check of each member's kind.
#include "module_support/args.hpp"
#include "module_support/convert.hpp"
#include "module_support/pickle_internal.hpp"
#include "module_support/ref.hpp"

namespace velmora::support::pickle_detail {

namespace {

template <typename T>
T &field(PyObject *self, const StateMember &member) {
    return *reinterpret_cast<T *>(reinterpret_cast<char *>(self) + member.offset);
}

// Object fields are never null once allocated; a record that slipped through
// allocation without them reads as None rather than crashing.
PyObject *object_field(PyObject *self, const StateMember &member) {
    PyObject *value = field<PyObject *>(self, member);
    return value ? value : Py_None;
}

PyObject *new_state_item(const StateLayout &layout, const StateMember &member, PyObject *self) {
    switch (member.kind) {
        case StateKind::object:
        case StateKind::str_or_none:
        case StateKind::datetime_or_none:
            return Py_NewRef(object_field(self, member));
        case StateKind::int32:
            return PyLong_FromLong(field<int32_t>(self, member));
        case StateKind::int64:
            return PyLong_FromLongLong(field<int64_t>(self, member));
        case StateKind::flag:
            return PyBool_FromLong(field<int32_t>(self, member));
        case StateKind::unsigned_enum:
            return layout.hooks->enum_member(field<uint32_t>(self, member));
    }
    PyErr_SetString(PyExc_SystemError, "unknown pickle member kind");
    return nullptr;
}

// Converts and checks one item, then stores it; a failure stores nothing.
int assign(const StateLayout &layout, const StateMember &member, PyObject *self, PyObject *item) {
    switch (member.kind) {
        case StateKind::object:
            replace_field(field<PyObject *>(self, member), item);
            return 0;
        case StateKind::str_or_none:
            return store_str_or_none(field<PyObject *>(self, member), item);
        case StateKind::datetime_or_none:
            if (!check_none_or_instance(item, layout.hooks->datetime_type)) return -1;
            replace_field(field<PyObject *>(self, member), item);
            return 0;
        case StateKind::int32: {
            int32_t value;
            if (!to_int32(item, &value)) return -1;
            field<int32_t>(self, member) = value;
            return 0;
        }
        case StateKind::int64: {
            int64_t value;
            if (!to_int64(item, &value)) return -1;
            field<int64_t>(self, member) = value;
            return 0;
        }
        case StateKind::flag: {
            int truth = PyObject_IsTrue(item);
            if (truth < 0) return -1;
            field<int32_t>(self, member) = truth;
            return 0;
        }
        case StateKind::unsigned_enum: {
            uint32_t value;
            if (!to_uint32(item, &value, layout.hooks->enum_type_name)) return -1;
            field<uint32_t>(self, member) = value;
            return 0;
        }
    }
    PyErr_SetString(PyExc_SystemError, "unknown pickle member kind");
    return -1;
}

// dict.update(dict, other) with one positional argument, as the interpreter
// runs it: a dict or anything with `keys` is merged as a mapping, anything
// else is read as a sequence of key-value pairs. Stored states may carry
// either, and a dict subclass (whose `update` is called) takes both as well.
int dict_update(PyObject *dict, PyObject *other) {
    if (PyDict_CheckExact(other)) return PyDict_Merge(dict, other, 1);
    int has_keys = PyObject_HasAttrWithError(other, names.keys);
    if (has_keys < 0) return -1;
    if (has_keys) return PyDict_Merge(dict, other, 1);
    return PyDict_MergeFromSeq2(dict, other, 1);
}

// The extra item after the members: a true value updates the instance's own
// dictionary (exactly a dict: the interpreter's update; else its `update`).
int update_instance_dict(PyObject *self, PyObject *extra) {
    int truth = PyObject_IsTrue(extra);
    if (truth <= 0) return truth;
    Ref dict = Ref::steal(PyObject_GetAttr(self, names.dict));
    if (!dict) return -1;
    if (PyDict_CheckExact(dict.get())) return dict_update(dict.get(), extra);
    Ref result = Ref::steal(PyObject_CallMethodOneArg(dict.get(), names.update, extra));
    return result ? 0 : -1;
}

}  // namespace

PyObject *new_state_tuple(const StateLayout &layout, PyObject *self, bool *any_object) {
    // The items are made before the tuple: making one may run Python code
    // (the enumeration member of a code), which must never meet a tracked
    // tuple with empty slots (gc.get_objects() would hand it out).
    Ref items[kMaxStateMembers];
    *any_object = false;
    for (std::size_t i = 0; i < layout.count; ++i) {
        const StateMember &member = layout.members[i];
        items[i] = Ref::steal(new_state_item(layout, member, self));
        if (!items[i]) return nullptr;
    }
    // Judged on the items written, whatever that code changed meanwhile.
    for (std::size_t i = 0; i < layout.count; ++i) {
        if (is_object_kind(layout.members[i].kind) && items[i].get() != Py_None) {
            *any_object = true;
        }
    }
    PyObject *state = PyTuple_New(static_cast<Py_ssize_t>(layout.count));
    if (!state) return nullptr;
    for (std::size_t i = 0; i < layout.count; ++i) {
        PyTuple_SET_ITEM(state, static_cast<Py_ssize_t>(i), items[i].release());
    }
    return state;
}

int apply_state(const StateLayout &layout, PyObject *self, PyObject *state) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(layout.count);
    const Py_ssize_t size = PyTuple_GET_SIZE(state);
    // A short state is refused as a whole rather than half applied.
    if (size < count) {
        PyErr_SetString(PyExc_IndexError, "tuple index out of range");
        return -1;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (assign(layout, layout.members[i], self, PyTuple_GET_ITEM(state, i)) < 0) return -1;
    }
    if (size > count) return update_instance_dict(self, PyTuple_GET_ITEM(state, count));
    return 0;
}

}  // namespace velmora::support::pickle_detail
