// The standard-library names the module body imports: datetime (nothing
// bound), quote and unquote from urllib.parse, parsedate_to_datetime from
// email.utils. And when the native stand-ins for them may run.
//
// A stand-in may run only while the standard function would give the same
// result. That is decided once at import (is the bound object the standard
// library's own function, and are the modules it calls the standard ones?)
// and then kept by watching what the standard code reads: the globals of its
// modules, the builtins, the modules it imports at call time, and the code
// and defaults of every function of those modules. A watched namespace keeps
// a copy of its entries at import; an entry that differs from the copy turns
// the stand-ins that depend on it off until it is restored. Whatever cannot
// be watched (no watcher left, a key that is not an exact str, a dictionary
// cleared or cloned, a function or class changed) turns them off for good.
#include "cookies/stdlib_bindings.hpp"

#include "cookies/cookie_constants.hpp"
#include "cookies/imported_types.hpp"
#include "cookies/module_steps.hpp"
#include "module_support/ref.hpp"

#include <cstddef>
#include <cstring>

namespace velmora::cookies {

using support::Ref;

BoundFunctions bound;
StandardPaths standard;
StandardSlots slots;
PyDateTime_CAPI *datetime_capi = nullptr;

namespace {

// ---- import ------------------------------------------------------------------

// `from <module_name> import <names>`: a module already in sys.modules that
// has every name is used as it is; otherwise the interpreter's import runs
// with the module namespace as globals. Each name is read as an attribute,
// then as the submodule "<module>.<name>" of sys.modules. Fills `out` with
// new references.
template <std::size_t count>
int import_from(const char *module_name, const char *const (&names)[count], Ref (&out)[count]) {
    PyObject *sys_modules = PyImport_GetModuleDict();
    Ref name_objects[count];
    for (std::size_t i = 0; i < count; ++i) {
        name_objects[i] = Ref::steal(PyUnicode_InternFromString(names[i]));
        if (!name_objects[i]) return -1;
    }
    Ref module;
    {
        PyObject *found;
        if (PyDict_GetItemStringRef(sys_modules, module_name, &found) < 0) return -1;
        module = Ref::steal(found);
    }
    bool complete = static_cast<bool>(module);
    for (std::size_t i = 0; complete && i < count; ++i) {
        int has = PyObject_HasAttrWithError(module.get(), name_objects[i].get());
        if (has < 0) return -1;
        complete = has == 1;
    }
    if (!complete) {
        Ref from_list = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
        if (!from_list) return -1;
        for (std::size_t i = 0; i < count; ++i) {
            PyTuple_SET_ITEM(from_list.get(), i, name_objects[i].new_ref());
        }
        Ref dotted = Ref::steal(PyUnicode_FromString(module_name));
        if (!dotted) return -1;
        module = Ref::steal(PyImport_ImportModuleLevelObject(dotted.get(), frame.dict, nullptr,
                                                             from_list.get(), 0));
        if (!module) return -1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        PyObject *found;
        int rc = PyObject_GetOptionalAttr(module.get(), name_objects[i].get(), &found);
        if (rc < 0) return -1;
        if (rc == 0) {
            Ref submodule =
                Ref::steal(PyUnicode_FromFormat("%s.%U", module_name, name_objects[i].get()));
            if (!submodule) return -1;
            rc = PyDict_GetItemRef(sys_modules, submodule.get(), &found);
            if (rc < 0) return -1;
            if (rc == 0) {
                PyErr_Format(PyExc_ImportError, "cannot import name %S", name_objects[i].get());
                return -1;
            }
        }
        out[i] = Ref::steal(found);
    }
    return 0;
}

// Binds `value` and remembers it as the function bound at import.
int bind_remembered(PyObject *name, const Ref &value, PyObject *&slot) {
    if (PyDict_SetItem(frame.dict, name, value.get()) < 0) return -1;
    Py_XSETREF(slot, value.new_ref());
    return 0;
}

// ---- watched namespaces --------------------------------------------------------

// The stand-ins, as bits of the `users` of a namespace.
enum Path : unsigned { kQuote = 1, kUnquote = 2, kParse = 4, kStrftime = 8 };

struct Snapshot {
    PyObject *dict = nullptr;  // held
    PyObject *copy = nullptr;  // held: its entries when watching began
    Py_ssize_t differing = 0;  // entries that differ from the copy now
    bool broken = false;       // changed in a way the copy cannot follow
    unsigned users = 0;
    PyObject *only = nullptr;  // held: when set, the one key that matters (sys.modules)
    // The builtins: a name added after import is read by none of the standard
    // functions (their names all resolve at import), so only entries that
    // existed then count.
    bool existing_keys_only = false;
    // Names the module sets itself on first use, from None to its table:
    // that first assignment is the module's own and is taken into the copy.
    const char *const *lazy = nullptr;
};

constexpr int kMaxSnapshots = 12;
Snapshot snapshots[kMaxSnapshots];
int snapshot_count = 0;

// Whether each stand-in passed its import checks.
unsigned genuine = 0;
// Set when a function or class of a watched module changed, or a watcher
// could not be had: the stand-ins of those users are off for good.
unsigned tampered = 0;

const char *const kUrllibLazy[] = {"_hextobyte", "_typeprog", "_hostprog", "_portprog", nullptr};

void recompute() {
    unsigned off = tampered;
    for (int i = 0; i < snapshot_count; ++i) {
        const Snapshot &s = snapshots[i];
        if (s.broken || s.differing != 0) off |= s.users;
    }
    const unsigned on = genuine & ~off;
    standard.quote = on & kQuote;
    standard.unquote = on & kUnquote;
    standard.parsedate = on & kParse;
    standard.strftime = on & kStrftime;
}

bool same_text(PyObject *key, const char *text) {
    return PyUnicode_CompareWithASCIIString(key, text) == 0;
}

bool is_lazy(const Snapshot &s, PyObject *key) {
    for (const char *const *name = s.lazy; name && *name; ++name) {
        if (same_text(key, *name)) return true;
    }
    return false;
}

// Runs before the change: `dict` still holds the old entry. Reads the two
// dictionaries with exact-str keys only, which runs no Python code.
void on_snapshot_event(void *context, PyDict_WatchEvent event, PyObject *dict, PyObject *key,
                       PyObject *new_value) {
    Snapshot &s = *static_cast<Snapshot *>(context);
    switch (event) {
        case PyDict_EVENT_ADDED:
        case PyDict_EVENT_MODIFIED:
        case PyDict_EVENT_DELETED: {
            if (!support::is_plain_key(key)) {
                s.broken = true;
                break;
            }
            if (s.only && PyUnicode_Equal(key, s.only) != 1) return;
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
            if (after && event == PyDict_EVENT_MODIFIED && was == Py_None && now == Py_None &&
                new_value != Py_None && is_lazy(s, key)) {
                // Replacing None in the copy releases nothing that could run code.
                if (PyDict_SetItem(s.copy, key, new_value) < 0) {
                    PyErr_Clear();
                    s.broken = true;
                    break;
                }
                after = false;
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

// Starts watching `dict` for `users`; turns them off for good when it cannot.
void watch(PyObject *dict, unsigned users, PyObject *only = nullptr,
           bool existing_keys_only = false, const char *const *lazy = nullptr) {
    for (int i = 0; i < snapshot_count; ++i) {
        if (snapshots[i].dict == dict && snapshots[i].only == only) {
            snapshots[i].users |= users;
            return;
        }
    }
    if (snapshot_count == kMaxSnapshots || !PyDict_Check(dict)) {
        tampered |= users;
        return;
    }
    Ref copy = Ref::steal(PyDict_Copy(dict));
    if (!copy) {
        PyErr_Clear();
        tampered |= users;
        return;
    }
    Snapshot &s = snapshots[snapshot_count];
    s = Snapshot{};
    s.dict = Py_NewRef(dict);
    s.copy = copy.release();
    s.users = users;
    s.only = Py_XNewRef(only);
    s.existing_keys_only = existing_keys_only;
    s.lazy = lazy;
    Py_ssize_t pos = 0;
    PyObject *key;
    while (PyDict_Next(dict, &pos, &key, nullptr)) {
        if (!PyUnicode_CheckExact(key)) s.broken = true;
    }
    if (!support::listen_to_dict(dict, on_snapshot_event, &s)) {
        Py_CLEAR(s.dict);
        Py_CLEAR(s.copy);
        Py_CLEAR(s.only);
        tampered |= users;
        return;
    }
    ++snapshot_count;
}

// The functions the standard code can reach: those bound in a watched
// module, the functions of its classes and what its wrappers wrap, each with
// the stand-ins that depend on it. A function created later with the same
// globals (a copy) is reachable only through a namespace, which is watched.
PyObject *watched_functions = nullptr;  // dict: function -> users (int)

// A watched function given other code or defaults: its module no longer
// behaves as the standard one. Functions hash by identity: the lookup runs
// no Python code.
int on_function_event(PyFunction_WatchEvent event, PyFunctionObject *function, PyObject *) {
    if (event == PyFunction_EVENT_CREATE || event == PyFunction_EVENT_DESTROY ||
        !watched_functions) {
        return 0;
    }
    PyObject *pending = PyErr_GetRaisedException();
    PyObject *users =
        PyDict_GetItemWithError(watched_functions, reinterpret_cast<PyObject *>(function));
    if (users) {
        tampered |= static_cast<unsigned>(PyLong_AsUnsignedLong(users));
        recompute();
    }
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

// Classes of the watched modules (such as the quoter of urllib.parse).
constexpr int kMaxTypes = 48;
PyTypeObject *watched_types[kMaxTypes];
unsigned watched_type_users[kMaxTypes];
int watched_type_count = 0;

int on_type_event(PyTypeObject *type) {
    for (int i = 0; i < watched_type_count; ++i) {
        if (watched_types[i] == type) tampered |= watched_type_users[i];
    }
    recompute();
    return 0;
}

int function_watcher = -1;
int type_watcher = -1;

// Watches the code and defaults of the functions, and the classes, of a
// module namespace that a stand-in depends on.
void watch_module_code(PyObject *dict, unsigned users) {
    if (function_watcher < 0) function_watcher = PyFunction_AddWatcher(on_function_event);
    if (type_watcher < 0) type_watcher = PyType_AddWatcher(on_type_event);
    if (!watched_functions) watched_functions = PyDict_New();
    if (function_watcher < 0 || type_watcher < 0 || !watched_functions) {
        PyErr_Clear();
        tampered |= users;
        return;
    }
    Py_ssize_t pos = 0;
    PyObject *value;
    while (PyDict_Next(dict, &pos, nullptr, &value)) {
        if (!note_function(value, users)) {
            PyErr_Clear();
            tampered |= users;
            return;
        }
        if (!PyType_Check(value)) continue;
        auto *type = reinterpret_cast<PyTypeObject *>(value);
        if (!(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) continue;
        if (watched_type_count == kMaxTypes || PyType_Watch(type_watcher, value) < 0) {
            PyErr_Clear();
            tampered |= users;
            return;
        }
        // Held: the address must keep naming this class.
        watched_types[watched_type_count] = reinterpret_cast<PyTypeObject *>(Py_NewRef(value));
        watched_type_users[watched_type_count++] = users;
    }
}

// ---- import checks --------------------------------------------------------------

PyObject *stdlib_dir() {
    PyObject *dir = PySys_GetObject("_stdlib_dir");  // borrowed
    return dir && PyUnicode_CheckExact(dir) ? dir : nullptr;
}

// An entry of a namespace with an exact-str value equal to `expected`.
bool entry_equals(PyObject *dict, const char *key, PyObject *expected) {
    PyObject *found;
    if (PyDict_GetItemStringRef(dict, key, &found) <= 0) {
        PyErr_Clear();
        return false;
    }
    Ref held = Ref::steal(found);
    return PyUnicode_CheckExact(found) && PyUnicode_Compare(found, expected) == 0;
}

// Whether `dict` is the namespace of the module `name` read from the file
// `relative` of the standard library's own directory.
bool is_standard_namespace(PyObject *dict, const char *name, const char *relative) {
    PyObject *dir = stdlib_dir();
    if (!dir || !PyDict_CheckExact(dict)) return false;
    Ref module_name = Ref::steal(PyUnicode_FromString(name));
    Ref file = Ref::steal(PyUnicode_FromFormat("%U/%s", dir, relative));
    if (!module_name || !file) {
        PyErr_Clear();
        return false;
    }
    return entry_equals(dict, "__name__", module_name.get()) &&
           entry_equals(dict, "__file__", file.get());
}

// A plain function of that module, compiled from its file and bound there
// under its own name. Returns its globals (borrowed), or nullptr.
PyObject *standard_function(PyObject *function, const char *module, const char *relative) {
    if (!function || !Py_IS_TYPE(function, &PyFunction_Type)) return nullptr;
    PyObject *globals = PyFunction_GET_GLOBALS(function);
    if (!is_standard_namespace(globals, module, relative)) return nullptr;
    PyObject *file = PyDict_GetItemString(globals, "__file__");  // borrowed, checked above
    Ref filename = Ref::steal(PyObject_GetAttrString(PyFunction_GET_CODE(function), "co_filename"));
    Ref name = Ref::steal(PyObject_GetAttrString(function, "__name__"));
    if (!filename || !name || !file) {
        PyErr_Clear();
        return nullptr;
    }
    if (!PyUnicode_CheckExact(filename.get()) || PyUnicode_Compare(filename.get(), file) != 0) {
        return nullptr;
    }
    PyObject *own;
    if (PyDict_GetItemRef(globals, name.get(), &own) <= 0) {
        PyErr_Clear();
        return nullptr;
    }
    Py_DECREF(own);
    return own == function ? globals : nullptr;
}

PyObject *entry(PyObject *dict, const char *key) {  // borrowed, or nullptr
    PyObject *found = PyDict_GetItemString(dict, key);
    return found;
}

// The builtins module's dictionary, watched for every stand-in: the standard
// functions call builtins (int, isinstance, __import__, ...).
void watch_builtins(unsigned users) {
    watch(PyModule_GetDict(frame.builtins), users, nullptr, true);
}

// quote and unquote: functions of urllib.parse, which then calls only its
// own functions and builtins.
void check_url_quoting() {
    PyObject *quote_globals = standard_function(bound.quote, "urllib.parse", "urllib/parse.py");
    PyObject *unquote_globals = standard_function(bound.unquote, "urllib.parse", "urllib/parse.py");
    unsigned users = 0;
    if (quote_globals) users |= kQuote;
    if (unquote_globals && (!quote_globals || unquote_globals == quote_globals)) users |= kUnquote;
    if (!users) return;
    PyObject *globals = quote_globals ? quote_globals : unquote_globals;
    genuine |= users;
    watch(globals, users, nullptr, false, kUrllibLazy);
    watch_module_code(globals, users);
    watch_builtins(users);
}

// What email._parseaddr reads in place, for the per-call check: the month
// names it searches (the first twelve, "jan" to "dec").
struct MonthNames {
    PyObject *list = nullptr;  // held
    PyObject *items[12] = {};  // held, so that no other object takes their address
};
MonthNames month_names;

bool hold_month_names(PyObject *list) {
    static constexpr const char *kNames[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                               "jul", "aug", "sep", "oct", "nov", "dec"};
    if (!list || !PyList_CheckExact(list) || PyList_GET_SIZE(list) < 12) return false;
    for (int i = 0; i < 12; ++i) {
        PyObject *item = PyList_GET_ITEM(list, i);
        if (!PyUnicode_CheckExact(item) || !same_text(item, kNames[i])) return false;
    }
    Py_XSETREF(month_names.list, Py_NewRef(list));
    for (int i = 0; i < 12; ++i) {
        Py_XSETREF(month_names.items[i], Py_NewRef(PyList_GET_ITEM(list, i)));
    }
    return true;
}

// parsedate_to_datetime: email.utils, which calls _parsedate_tz of
// email._parseaddr and the classes of the datetime module.
void check_date_parser() {
    PyObject *utils =
        standard_function(bound.parsedate_to_datetime, "email.utils", "email/utils.py");
    if (!utils || !datetime_capi) return;
    PyObject *parsedate_tz = entry(utils, "_parsedate_tz");
    PyObject *parseaddr =
        standard_function(parsedate_tz, "email._parseaddr", "email/_parseaddr.py");
    PyObject *datetime_module = entry(utils, "datetime");
    if (!parseaddr || !datetime_module || !PyModule_CheckExact(datetime_module)) return;
    PyObject *datetime_globals = PyModule_GetDict(datetime_module);
    if (!is_standard_namespace(datetime_globals, "datetime", "datetime.py")) return;
    if (entry(datetime_globals, "datetime") !=
            reinterpret_cast<PyObject *>(datetime_capi->DateTimeType) ||
        entry(datetime_globals, "timedelta") !=
            reinterpret_cast<PyObject *>(datetime_capi->DeltaType) ||
        entry(datetime_globals, "timezone") !=
            reinterpret_cast<PyObject *>(Py_TYPE(datetime_capi->TimeZone_UTC))) {
        return;
    }
    PyObject *timezones = entry(parseaddr, "_timezones");
    if (!timezones || !PyDict_CheckExact(timezones)) return;
    if (!hold_month_names(entry(parseaddr, "_monthnames"))) return;
    PyErr_Clear();
    genuine |= kParse;
    watch(utils, kParse);
    watch(parseaddr, kParse);
    watch(datetime_globals, kParse);
    watch(timezones, kParse);
    watch_module_code(utils, kParse);
    watch_module_code(parseaddr, kParse);
    watch_builtins(kParse);
}

// The globals last found to import through the standard __import__, watched
// for a change of their "__builtins__". Both borrowed: the watcher clears
// them before the dictionary goes.
PyObject *checked_globals = nullptr;
PyObject *listened_globals = nullptr;
PyObject *builtins_name = nullptr;  // "__builtins__"

void on_globals_event(void *, PyDict_WatchEvent event, PyObject *, PyObject *key, PyObject *) {
    if (event == PyDict_EVENT_DEALLOCATED) listened_globals = nullptr;
    if ((event == PyDict_EVENT_ADDED || event == PyDict_EVENT_MODIFIED ||
         event == PyDict_EVENT_DELETED) &&
        support::is_plain_key(key) && !same_text(key, "__builtins__")) {
        return;
    }
    checked_globals = nullptr;
}

// datetime.strftime finds the time module by importing it (the calling
// code's __import__, or that of sys.modules["builtins"] without a calling
// frame) and calls its strftime: the built-in module's own function.
void check_strftime() {
    PyObject *modules = PyImport_GetModuleDict();
    PyObject *time_module = entry(modules, "time");
    if (!time_module || !PyModule_CheckExact(time_module)) return;
    PyModuleDef *def = PyModule_GetDef(time_module);
    if (!def || std::strcmp(def->m_name, "time") != 0) {
        PyErr_Clear();
        return;
    }
    PyObject *time_globals = PyModule_GetDict(time_module);
    PyObject *strftime = entry(time_globals, "strftime");
    if (!strftime || !PyCFunction_CheckExact(strftime)) return;
    auto *builtin = reinterpret_cast<PyCFunctionObject *>(strftime);
    if (builtin->m_self != time_module || std::strcmp(builtin->m_ml->ml_name, "strftime") != 0) {
        return;
    }
    PyObject *builtins_globals = PyModule_GetDict(frame.builtins);
    PyObject *import = entry(builtins_globals, "__import__");
    if (!import || !PyCFunction_CheckExact(import) ||
        reinterpret_cast<PyCFunctionObject *>(import)->m_self != frame.builtins ||
        entry(modules, "builtins") != frame.builtins) {
        return;
    }
    PyErr_Clear();
    if (!builtins_name) builtins_name = PyUnicode_InternFromString("__builtins__");
    Ref time_key = Ref::steal(PyUnicode_InternFromString("time"));
    Ref builtins_key = Ref::steal(PyUnicode_InternFromString("builtins"));
    if (!time_key || !builtins_key || !builtins_name) {
        PyErr_Clear();
        return;
    }
    genuine |= kStrftime;
    watch(modules, kStrftime, time_key.get());
    watch(modules, kStrftime, builtins_key.get());
    watch(time_globals, kStrftime);
    watch_builtins(kStrftime);
}

// ---- the calling code's builtins --------------------------------------------------

}  // namespace

bool caller_imports_standard() {
    // The builtins module as a module: its __import__ read by plain
    // attribute lookup.
    if (!Py_IS_TYPE(frame.builtins, &PyModule_Type)) return false;
    PyObject *globals = PyEval_GetGlobals();  // borrowed
    // No calling frame: the import goes through sys.modules["builtins"], watched.
    if (!globals || globals == checked_globals) return true;
    // New calling code: its "__builtins__" must be the builtins module or its
    // dictionary, read without running Python code.
    if (!PyDict_CheckExact(globals) || !builtins_name) return false;
    Py_ssize_t pos = 0;
    PyObject *key;
    while (PyDict_Next(globals, &pos, &key, nullptr)) {
        if (!PyUnicode_CheckExact(key)) return false;
    }
    PyObject *builtins = PyDict_GetItemWithError(globals, builtins_name);  // borrowed
    if (!builtins) {
        PyErr_Clear();
        return false;
    }
    if (builtins != frame.builtins && builtins != PyModule_GetDict(frame.builtins)) return false;
    if (listened_globals) support::stop_listening(listened_globals, on_globals_event, nullptr);
    listened_globals = nullptr;
    if (support::listen_to_dict(globals, on_globals_event, nullptr)) {
        listened_globals = globals;
        checked_globals = globals;
    }
    return true;
}

bool month_names_unchanged() {
    PyObject *list = month_names.list;
    if (PyList_GET_SIZE(list) < 12) return false;
    for (int i = 0; i < 12; ++i) {
        if (PyList_GET_ITEM(list, i) != month_names.items[i]) return false;
    }
    return true;
}

int import_datetime_module() {
    const char *const names[] = {"datetime"};
    Ref found[1];
    if (import_from("datetime", names, found) < 0) return -1;
    if (!datetime_capi) {
        auto *api = static_cast<PyDateTime_CAPI *>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
        if (!api) {
            PyErr_Clear();
        } else if (api->DateTimeType == imported.datetime) {
            datetime_capi = api;
        }
    }
    return 0;
}

int bind_url_quoting() {
    const char *const names[] = {"quote", "unquote"};
    Ref found[2];
    if (import_from("urllib.parse", names, found) < 0) return -1;
    if (bind_remembered(constants.quote_name, found[0], bound.quote) < 0) return -1;
    if (bind_remembered(constants.unquote_name, found[1], bound.unquote) < 0) return -1;
    slots.quote = frame.names.slot(constants.quote_name);
    slots.unquote = frame.names.slot(constants.unquote_name);
    if (!slots.quote || !slots.unquote) {
        PyErr_SetString(PyExc_SystemError, "no room for the cached names");
        return -1;
    }
    check_url_quoting();
    recompute();
    return 0;
}

int bind_date_parser() {
    const char *const names[] = {"parsedate_to_datetime"};
    Ref found[1];
    if (import_from("email.utils", names, found) < 0) return -1;
    if (bind_remembered(constants.parsedate_to_datetime_name, found[0],
                        bound.parsedate_to_datetime) < 0) {
        return -1;
    }
    slots.parsedate_to_datetime = frame.names.slot(constants.parsedate_to_datetime_name);
    if (!slots.parsedate_to_datetime) {
        PyErr_SetString(PyExc_SystemError, "no room for the cached names");
        return -1;
    }
    check_date_parser();
    check_strftime();
    recompute();
    return 0;
}

}  // namespace velmora::cookies
