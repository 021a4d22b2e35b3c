#include "module_support/next_init.hpp"

#include "module_support/ref.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velmora::support {

namespace {

// The __init__ found in the dictionary of the first class after `cls` in the
// MRO of `self`'s type that defines one, with the class that defines it
// (held: the walk below may outlive the MRO it was found in).
PyObject *find_next_init(PyTypeObject *cls, PyObject *self, Ref *owner) {
    static PyObject *init_name;  // created on first use; a failed attempt is retried
    if (!init_name) {
        init_name = PyUnicode_InternFromString("__init__");
        if (!init_name) return nullptr;
    }
    PyTypeObject *type = Py_TYPE(self);
    // Held, as super() holds it: a lookup in a class dictionary whose keys
    // include a str subclass compares them with its __eq__, which may assign
    // __bases__ and so replace (and free) the MRO being walked.
    Ref mro_ref = Ref::borrow(type->tp_mro);
    PyObject *mro = mro_ref.get();
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
            *owner = Ref::borrow(reinterpret_cast<PyObject *>(base));
            return found;
        }
    }
    PyErr_SetString(PyExc_AttributeError, "'super' object has no attribute '__init__'");
    return nullptr;
}

// Resolutions that ended in a C type's tp_init, keyed by the class and the
// instance's type. A type's version tag changes whenever the type or one of
// its bases changes and is never reused, so a matching tag means the MRO walk
// would find the same slot again.
struct CachedInit {
    PyTypeObject *cls;
    PyTypeObject *type;
    unsigned int version;
    initproc init;
};
constexpr std::size_t kCacheSize = 64;
CachedInit cache[kCacheSize];

CachedInit &cache_slot(PyTypeObject *cls, PyTypeObject *type) {
    auto key = (reinterpret_cast<std::uintptr_t>(cls) >> 4) ^
               (reinterpret_cast<std::uintptr_t>(type) >> 6);
    return cache[key % kCacheSize];
}

initproc cached_slot(PyTypeObject *cls, PyTypeObject *type) {
    const CachedInit &slot = cache_slot(cls, type);
    if (slot.cls == cls && slot.type == type && slot.version != 0 &&
        slot.version == type->tp_version_tag) {
        return slot.init;
    }
    return nullptr;
}

// The C slot that the found __init__ wraps: a slot wrapper of the defining
// type's own tp_init, called exactly as the wrapper would call it, without a
// bound method. nullptr for anything else. Remembers what it finds.
initproc find_wrapped_init(PyTypeObject *cls, PyTypeObject *type, PyObject *init,
                           PyTypeObject *owner) {
    if (!Py_IS_TYPE(init, &PyWrapperDescr_Type)) return nullptr;
    auto *wrapper = reinterpret_cast<PyWrapperDescrObject *>(init);
    if (std::strcmp(wrapper->d_base->name, "__init__") != 0 || !owner->tp_init ||
        wrapper->d_wrapped != reinterpret_cast<void *>(owner->tp_init)) {
        return nullptr;
    }
    if (PyUnstable_Type_AssignVersionTag(type)) {
        cache_slot(cls, type) = CachedInit{cls, type, type->tp_version_tag, owner->tp_init};
    }
    return owner->tp_init;
}

PyTypeObject *as_type(const Ref &type) {
    return reinterpret_cast<PyTypeObject *>(type.get());
}

}  // namespace

initproc next_init_slot(PyTypeObject *cls, PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    if (initproc init = cached_slot(cls, type)) return init;
    // The lookup may run Python code that assigns self.__class__.
    Ref type_ref = Ref::borrow(reinterpret_cast<PyObject *>(type));
    Ref owner;
    Ref init = Ref::steal(find_next_init(cls, self, &owner));
    if (!init) {
        // The generic call finds the same failure again and raises it.
        PyErr_Clear();
        return nullptr;
    }
    return find_wrapped_init(cls, type, init.get(), as_type(owner));
}

int call_next_init(PyTypeObject *cls, PyObject *self, PyObject *args) {
    PyTypeObject *type = Py_TYPE(self);
    if (initproc init = cached_slot(cls, type)) return init(self, args, nullptr);
    Ref type_ref = Ref::borrow(reinterpret_cast<PyObject *>(type));
    Ref owner;
    Ref init = Ref::steal(find_next_init(cls, self, &owner));
    if (!init) return -1;
    if (initproc slot = find_wrapped_init(cls, type, init.get(), as_type(owner))) {
        return slot(self, args, nullptr);
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

int init_next_with_message(PyTypeObject *cls, PyObject *self, const Signature &sig,
                           Py_ssize_t index, PyObject *message) {
    if (!check_param(sig, index, message)) return -1;
    Ref base_args = Ref::steal(PyTuple_Pack(1, message));
    if (!base_args) return -1;
    return call_next_init(cls, self, base_args.get());
}

}  // namespace velmora::support
