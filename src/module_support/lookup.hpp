// Module-level names used at call time: looked up on every use, first in the
// module namespace, then among the builtins, so that rebinding or deleting a
// module attribute takes effect at once.
//
// A lookup that would find the same object as last time need not be
// repeated: dictionary watchers tell when a namespace changes, and a name
// whose entry changed (or any name, when a dictionary changed wholesale) is
// looked up again on its next use. Without a free watcher, or once a
// namespace holds a key that is not an exact str (whose __eq__ could make it
// stand for a name), every use looks up per call.
#pragma once

#include <Python.h>

#include <cstddef>

namespace velmora::support {

// New reference, or nullptr with NameError "name '%U' is not defined".
PyObject *lookup_global(PyObject *module_dict, PyObject *builtins, PyObject *name);

// ---- Dictionary watching ---------------------------------------------------

// Called for every event of a watched dictionary, before the change is made
// (key and new_value as the interpreter passes them). Must not fail, must not
// run Python code and must not release references.
using DictListener = void (*)(void *context, PyDict_WatchEvent event, PyObject *dict, PyObject *key,
                              PyObject *new_value);

// Starts calling `listener` for the events of `dict` (a dict, held by the
// caller for as long as it listens). False, without an exception, when the
// interpreter has no dictionary watcher left or the registry is full.
bool listen_to_dict(PyObject *dict, DictListener listener, void *context);
// Stops the listener; the dictionary is unwatched when no listener is left.
void stop_listening(PyObject *dict, DictListener listener, void *context);

// True for the key of a dictionary event that may equal a name without
// running Python code: an exact str.
inline bool is_plain_key(PyObject *key) {
    return key && PyUnicode_CheckExact(key);
}

// ---- Cached call-time names -------------------------------------------------

class NameCache {
public:
    static constexpr std::size_t kCapacity = 8;

    struct Slot {
        PyObject *name = nullptr;   // interned, held
        PyObject *value = nullptr;  // borrowed: held by the dictionary while `valid`
        bool valid = false;
        bool in_builtins = false;  // found among the builtins, not in the namespace
    };

    // Starts caching for a module namespace and the builtins module. Without a
    // watcher the cache stays off: every lookup is made per call.
    void start(PyObject *module_dict, PyObject *builtins);
    // The slot of a name (interned str), added on first use; nullptr when full.
    Slot *slot(PyObject *name);

    // lookup_global(name) for the slot's name. New reference.
    PyObject *lookup(Slot &s) {
        if (s.valid && (!s.in_builtins || Py_IS_TYPE(builtins_, &PyModule_Type))) {
            return Py_NewRef(s.value);
        }
        return refill(s);
    }
    // The cached value while it is valid, else nullptr; borrowed. For callers
    // that only compare it with an object they hold.
    PyObject *peek(const Slot &s) const {
        if (s.valid && (!s.in_builtins || Py_IS_TYPE(builtins_, &PyModule_Type))) return s.value;
        return nullptr;
    }
    bool caching() const { return caching_; }

private:
    PyObject *refill(Slot &s);
    void invalidate_all();
    static void on_event(void *context, PyDict_WatchEvent event, PyObject *dict, PyObject *key,
                         PyObject *new_value);

    Slot slots_[kCapacity];
    std::size_t count_ = 0;
    PyObject *module_dict_ = nullptr;    // borrowed: the frame holds it
    PyObject *builtins_ = nullptr;       // borrowed: the frame holds it
    PyObject *builtins_dict_ = nullptr;  // borrowed: the builtins module holds it
    bool caching_ = false;
};

}  // namespace velmora::support
