#include "module_support/lookup.hpp"

namespace velmora::support {

PyObject *lookup_global(PyObject *module_dict, PyObject *builtins, PyObject *name) {
    PyObject *found;
    if (PyDict_GetItemRef(module_dict, name, &found) != 0) return found;  // found, or error
    if (PyObject_GetOptionalAttr(builtins, name, &found) != 0) return found;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

// ---- Dictionary watching ---------------------------------------------------

namespace {

// One watcher serves every listener of the library: the interpreter has only
// a few to give out. A library serves one interpreter (the module frame's
// rule), so this state is that interpreter's.
struct Listener {
    PyObject *dict;
    DictListener listener;
    void *context;
};
constexpr int kMaxListeners = 32;
Listener listeners[kMaxListeners];
int listener_count = 0;
int watcher_id = -1;
bool watcher_refused = false;

int dispatch(PyDict_WatchEvent event, PyObject *dict, PyObject *key, PyObject *new_value) {
    for (int i = 0; i < listener_count; ++i) {
        if (listeners[i].dict == dict)
            listeners[i].listener(listeners[i].context, event, dict, key, new_value);
    }
    if (event == PyDict_EVENT_DEALLOCATED) {
        // Its address may come back as another dictionary.
        int kept = 0;
        for (int i = 0; i < listener_count; ++i) {
            if (listeners[i].dict != dict) listeners[kept++] = listeners[i];
        }
        listener_count = kept;
    }
    return 0;
}

bool has_watcher() {
    if (watcher_id >= 0) return true;
    if (watcher_refused) return false;
    PyObject *pending = PyErr_GetRaisedException();
    watcher_id = PyDict_AddWatcher(dispatch);
    if (watcher_id < 0) {
        PyErr_Clear();
        watcher_refused = true;
    }
    PyErr_SetRaisedException(pending);
    return watcher_id >= 0;
}

bool is_listened(PyObject *dict) {
    for (int i = 0; i < listener_count; ++i) {
        if (listeners[i].dict == dict) return true;
    }
    return false;
}

}  // namespace

bool listen_to_dict(PyObject *dict, DictListener listener, void *context) {
    if (!PyDict_Check(dict) || listener_count == kMaxListeners || !has_watcher()) return false;
    if (!is_listened(dict) && PyDict_Watch(watcher_id, dict) < 0) {
        PyErr_Clear();
        return false;
    }
    listeners[listener_count++] = {dict, listener, context};
    return true;
}

void stop_listening(PyObject *dict, DictListener listener, void *context) {
    int kept = 0;
    for (int i = 0; i < listener_count; ++i) {
        const Listener &l = listeners[i];
        if (l.dict == dict && l.listener == listener && l.context == context) continue;
        listeners[kept++] = l;
    }
    listener_count = kept;
    if (watcher_id >= 0 && !is_listened(dict) && PyDict_Unwatch(watcher_id, dict) < 0) {
        PyErr_Clear();
    }
}

// ---- Cached call-time names -------------------------------------------------

namespace {

// Whether every key of `dict` is an exact str.
bool plain_keys_only(PyObject *dict) {
    Py_ssize_t pos = 0;
    PyObject *key;
    while (PyDict_Next(dict, &pos, &key, nullptr)) {
        if (!PyUnicode_CheckExact(key)) return false;
    }
    return true;
}

bool same_name(PyObject *key, PyObject *name) {
    return key == name || (PyUnicode_GET_LENGTH(key) == PyUnicode_GET_LENGTH(name) &&
                           PyUnicode_Equal(key, name) == 1);
}

}  // namespace

void NameCache::start(PyObject *module_dict, PyObject *builtins) {
    if (caching_) {
        stop_listening(module_dict_, on_event, this);
        if (builtins_dict_) stop_listening(builtins_dict_, on_event, this);
    }
    caching_ = false;
    invalidate_all();
    module_dict_ = module_dict;
    builtins_ = builtins;
    builtins_dict_ = PyModule_Check(builtins) ? PyModule_GetDict(builtins) : nullptr;
    if (!builtins_dict_ || !plain_keys_only(module_dict) || !plain_keys_only(builtins_dict_)) {
        return;
    }
    if (!listen_to_dict(module_dict, on_event, this)) return;
    if (!listen_to_dict(builtins_dict_, on_event, this)) {
        stop_listening(module_dict, on_event, this);
        return;
    }
    caching_ = true;
}

NameCache::Slot *NameCache::slot(PyObject *name) {
    for (std::size_t i = 0; i < count_; ++i) {
        if (slots_[i].name == name) return &slots_[i];
    }
    if (count_ == kCapacity) return nullptr;
    Slot &s = slots_[count_++];
    s.name = Py_NewRef(name);
    return &s;
}

void NameCache::invalidate_all() {
    for (std::size_t i = 0; i < count_; ++i) slots_[i].valid = false;
}

PyObject *NameCache::refill(Slot &s) {
    s.valid = false;
    PyObject *found;
    int rc = PyDict_GetItemRef(module_dict_, s.name, &found);
    if (rc < 0) return nullptr;
    if (rc > 0) {
        // Held by the namespace until the watcher hears of a change to it.
        if (caching_) {
            s.value = found;
            s.in_builtins = false;
            s.valid = true;
        }
        return found;
    }
    rc = PyObject_GetOptionalAttr(builtins_, s.name, &found);
    if (rc < 0) return nullptr;
    if (rc == 0) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", s.name);
        return nullptr;
    }
    // Cached only when it is the entry of the builtins' own dictionary,
    // reached by the module type's plain attribute lookup.
    if (caching_ && Py_IS_TYPE(builtins_, &PyModule_Type)) {
        PyObject *entry;
        rc = PyDict_GetItemRef(builtins_dict_, s.name, &entry);
        if (rc < 0) {
            Py_DECREF(found);
            return nullptr;
        }
        if (rc > 0) {
            if (entry == found) {
                s.value = found;
                s.in_builtins = true;
                s.valid = true;
            }
            Py_DECREF(entry);
        }
    }
    return found;
}

void NameCache::on_event(void *context, PyDict_WatchEvent event, PyObject *, PyObject *key,
                         PyObject *) {
    auto *cache = static_cast<NameCache *>(context);
    switch (event) {
        case PyDict_EVENT_ADDED:
        case PyDict_EVENT_MODIFIED:
        case PyDict_EVENT_DELETED:
            if (!is_plain_key(key)) {
                // A key whose __eq__ could answer for a name: per call from now on.
                cache->caching_ = false;
                cache->invalidate_all();
                return;
            }
            // Also a name added to the namespace, which hides a builtin of
            // that name: the key is the name either way.
            for (std::size_t i = 0; i < cache->count_; ++i) {
                Slot &s = cache->slots_[i];
                if (s.valid && same_name(key, s.name)) s.valid = false;
            }
            return;
        case PyDict_EVENT_CLEARED:
            cache->invalidate_all();
            return;
        default:
            // Cloned from another dictionary (whose keys are not known here)
            // or deallocated: per call from now on.
            cache->caching_ = false;
            cache->invalidate_all();
            return;
    }
}

}  // namespace velmora::support
