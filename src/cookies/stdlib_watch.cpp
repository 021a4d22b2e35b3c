// Snapshots of dictionaries and watchers of functions and classes, which keep
// `standard` (stdlib_bindings.hpp) true only while nothing a fast path
// depends on has changed. The watcher callbacks run before each change and
// must not run Python code: they compare keys of exact str, bytes or int only
// and objects by identity.
#include "cookies/stdlib_watch.hpp"

#include "cookies/module.hpp"
#include "cookies/stdlib_bindings.hpp"
#include "module_support/lookup.hpp"
#include "module_support/ref.hpp"

namespace velmora::cookies {

StandardPaths standard;

namespace stdlib_watch {

using support::Ref;

namespace {

// Users that passed their import checks, and users turned off for good.
unsigned trusted = 0;
unsigned distrusted = 0;

struct Snapshot {
    PyObject *dict = nullptr;  // held
    PyObject *copy = nullptr;  // held: its entries when watching began
    Py_ssize_t differing = 0;  // entries that differ from the copy now
    bool broken = false;       // changed in a way the copy cannot follow
    unsigned users = 0;
    PyObject *only = nullptr;  // held
    bool existing_keys_only = false;
    const LazyEntry *lazy = nullptr;
};

constexpr int kMaxSnapshots = 16;
Snapshot snapshots[kMaxSnapshots];
int snapshot_count = 0;

void recompute() {
    unsigned off = distrusted;
    for (int i = 0; i < snapshot_count; ++i) {
        const Snapshot &s = snapshots[i];
        if (s.broken || s.differing != 0) off |= s.users;
    }
    const unsigned on = trusted & ~off;
    standard.quote = on & kQuote;
    standard.quote_escapes = (on & kQuote) && (on & kQuoteEscapes);
    standard.unquote = on & kUnquote;
    standard.parsedate = on & kParse;
    standard.strftime = on & kStrftime;
}

// Keys whose hash and comparison run no Python code.
bool is_inert_key(PyObject *key) {
    return key && (PyUnicode_CheckExact(key) || PyBytes_CheckExact(key) || PyLong_CheckExact(key));
}

const LazyEntry *lazy_entry(const Snapshot &s, PyObject *key) {
    for (const LazyEntry *entry = s.lazy; entry && entry->name; ++entry) {
        if (same_text(key, entry->name)) return entry;
    }
    return nullptr;
}

// Runs before the change: `dict` still holds the old entry.
void on_snapshot_event(void *context, PyDict_WatchEvent event, PyObject *dict, PyObject *key,
                       PyObject *new_value) {
    Snapshot &s = *static_cast<Snapshot *>(context);
    switch (event) {
        case PyDict_EVENT_ADDED:
        case PyDict_EVENT_MODIFIED:
        case PyDict_EVENT_DELETED: {
            if (!is_inert_key(key)) {
                s.broken = true;
                break;
            }
            // A key of another type never equals the str `only` (and is not
            // compared with it: bytes against str can warn).
            if (s.only && !(PyUnicode_CheckExact(key) && PyUnicode_Equal(key, s.only) == 1)) {
                return;
            }
            if (s.existing_keys_only && same_text(key, "_")) return;  // the REPL's last result
            PyObject *was = PyDict_GetItemWithError(s.copy, key);
            if (!was && s.existing_keys_only) return;
            PyObject *now = PyDict_GetItemWithError(dict, key);
            if (PyErr_Occurred()) {
                PyErr_Clear();
                s.broken = true;
                break;
            }
            const bool before = now != was;
            bool after = event == PyDict_EVENT_DELETED ? was != nullptr : new_value != was;
            const LazyEntry *lazy = lazy_entry(s, key);
            if (after && lazy && event == PyDict_EVENT_MODIFIED && was == Py_None &&
                now == Py_None && new_value != Py_None &&
                (!lazy->is_standard || lazy->is_standard(new_value))) {
                // Replacing None in the copy releases nothing that could run code.
                if (PyDict_SetItem(s.copy, key, new_value) < 0) {
                    PyErr_Clear();
                    s.broken = true;
                    break;
                }
                after = false;
                if (lazy->watch_value) watch_namespace(new_value, s.users);
            }
            s.differing += static_cast<Py_ssize_t>(after) - static_cast<Py_ssize_t>(before);
            break;
        }
        default:
            s.broken = true;
            break;
    }
    recompute();
}

}  // namespace

void trust(unsigned users) {
    trusted |= users;
    recompute();
}

void distrust(unsigned users) {
    distrusted |= users;
    recompute();
}

void watch_namespace(PyObject *dict, unsigned users, const NamespaceWatch &how) {
    for (int i = 0; i < snapshot_count; ++i) {
        if (snapshots[i].dict == dict && snapshots[i].only == how.only) {
            snapshots[i].users |= users;
            recompute();
            return;
        }
    }
    if (snapshot_count == kMaxSnapshots || !PyDict_Check(dict)) {
        distrust(users);
        return;
    }
    Ref copy = Ref::steal(PyDict_Copy(dict));
    if (!copy) {
        PyErr_Clear();
        distrust(users);
        return;
    }
    Snapshot &s = snapshots[snapshot_count];
    s = Snapshot{};
    s.dict = Py_NewRef(dict);
    s.copy = copy.release();
    s.users = users;
    s.only = Py_XNewRef(how.only);
    s.existing_keys_only = how.existing_keys_only;
    s.lazy = how.lazy;
    Py_ssize_t pos = 0;
    PyObject *key;
    while (PyDict_Next(dict, &pos, &key, nullptr)) {
        if (!is_inert_key(key)) s.broken = true;
    }
    if (!support::listen_to_dict(dict, on_snapshot_event, &s)) {
        Py_CLEAR(s.dict);
        Py_CLEAR(s.copy);
        Py_CLEAR(s.only);
        distrust(users);
        return;
    }
    ++snapshot_count;
    recompute();
}

void watch_builtins(unsigned users) {
    watch_namespace(PyModule_GetDict(frame.builtins), users, {.existing_keys_only = true});
}

// ---- functions and classes ---------------------------------------------------------

namespace {

PyObject *watched_functions = nullptr;  // dict: function -> users (int)

// A watched function given other code or defaults. Functions hash by
// identity: the lookup runs no Python code.
int on_function_event(PyFunction_WatchEvent event, PyFunctionObject *function, PyObject *) {
    if (event == PyFunction_EVENT_CREATE || event == PyFunction_EVENT_DESTROY ||
        !watched_functions) {
        return 0;
    }
    PyObject *pending = PyErr_GetRaisedException();
    PyObject *users =
        PyDict_GetItemWithError(watched_functions, reinterpret_cast<PyObject *>(function));
    if (users) distrust(static_cast<unsigned>(PyLong_AsUnsignedLong(users)));
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
    return 0;
}

// Remembers `value` (a function, or what a wrapper or class holds) for `users`.
bool note_function(PyObject *value, unsigned users, int depth = 0) {
    if (Py_IS_TYPE(value, &PyFunction_Type)) {
        unsigned all = users;
        if (PyObject *known = PyDict_GetItemWithError(watched_functions, value)) {
            all |= static_cast<unsigned>(PyLong_AsUnsignedLong(known));
        }
        Ref number = Ref::steal(PyLong_FromUnsignedLong(all));
        return number && PyDict_SetItem(watched_functions, value, number.get()) == 0;
    }
    if (depth > 0) return true;
    if (PyType_Check(value)) {
        PyObject *dict = reinterpret_cast<PyTypeObject *>(value)->tp_dict;
        Py_ssize_t pos = 0;
        PyObject *item;
        while (dict && PyDict_Next(dict, &pos, nullptr, &item)) {
            if (!note_function(item, users, depth + 1)) return false;
        }
        return true;
    }
    // functools.lru_cache and other wrappers.
    PyObject *wrapped;
    if (PyObject_GetOptionalAttrString(value, "__wrapped__", &wrapped) < 0) {
        PyErr_Clear();
        return true;
    }
    if (!wrapped) return true;
    Ref held = Ref::steal(wrapped);
    return note_function(wrapped, users, depth + 1);
}

constexpr int kMaxTypes = 48;
PyTypeObject *watched_types[kMaxTypes];  // held: the address must keep naming the class
unsigned watched_type_users[kMaxTypes];
int watched_type_count = 0;

int on_type_event(PyTypeObject *type) {
    for (int i = 0; i < watched_type_count; ++i) {
        if (watched_types[i] == type) distrust(watched_type_users[i]);
    }
    return 0;
}

int function_watcher = -1;
int type_watcher = -1;

bool has_watchers() {
    if (function_watcher < 0) function_watcher = PyFunction_AddWatcher(on_function_event);
    if (type_watcher < 0) type_watcher = PyType_AddWatcher(on_type_event);
    if (!watched_functions) watched_functions = PyDict_New();
    if (function_watcher < 0 || type_watcher < 0 || !watched_functions) {
        PyErr_Clear();
        return false;
    }
    return true;
}

// Any change to the class turns the users off for good.
void watch_class(PyTypeObject *type, unsigned users) {
    if (!has_watchers() || watched_type_count == kMaxTypes ||
        PyType_Watch(type_watcher, reinterpret_cast<PyObject *>(type)) < 0) {
        PyErr_Clear();
        distrust(users);
        return;
    }
    watched_types[watched_type_count] = reinterpret_cast<PyTypeObject *>(Py_NewRef(type));
    watched_type_users[watched_type_count++] = users;
}

}  // namespace

void watch_module_code(PyObject *dict, unsigned users) {
    if (!has_watchers()) {
        distrust(users);
        return;
    }
    Py_ssize_t pos = 0;
    PyObject *value;
    while (PyDict_Next(dict, &pos, nullptr, &value)) {
        if (!note_function(value, users)) {
            PyErr_Clear();
            distrust(users);
            return;
        }
        if (PyType_Check(value) &&
            (reinterpret_cast<PyTypeObject *>(value)->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
            watch_class(reinterpret_cast<PyTypeObject *>(value), users);
        }
    }
}

}  // namespace stdlib_watch
}  // namespace velmora::cookies
