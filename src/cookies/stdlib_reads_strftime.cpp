// What datetime.strftime reads to reach time.strftime, and how it is kept
// (the table in stdlib_reads.hpp).
#include "cookies/stdlib_reads.hpp"

#include "cookies/module.hpp"
#include "cookies/stdlib_bindings.hpp"
#include "cookies/stdlib_origin.hpp"
#include "cookies/stdlib_watch.hpp"
#include "module_support/lookup.hpp"
#include "module_support/ref.hpp"

#include <cstring>

namespace velmora::cookies {

using stdlib_origin::entry;
using stdlib_watch::kStrftime;
using stdlib_watch::same_text;
using stdlib_watch::watch_builtins;
using stdlib_watch::watch_namespace;
using support::Ref;

namespace {

// The spec of the time module, its class and its __dict__, held: the import
// reads spec._initializing, which an assignment of the module spec's __class__ or
// __dict__ changes without any event.
struct TimeSpec {
    PyObject *spec = nullptr;
    PyTypeObject *type = nullptr;
    unsigned int type_version = 0;  // the class's tag when last found to read nothing
    PyObject *dict = nullptr;
};
TimeSpec time_spec;

// Whether the generic attribute lookup of an instance of `type` finds
// _initializing in the instance's own __dict__ alone: no class of its MRO
// holds that name, and no __getattribute__ or __getattr__ of its own.
bool spec_class_reads_nothing(PyTypeObject *type) {
    if (type->tp_getattro != PyObject_GenericGetAttr) return false;
    PyObject *mro = type->tp_mro;
    for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro); ++i) {
        // The dictionary of a static type is the interpreter's, not tp_dict.
        Ref base_dict =
            Ref::steal(PyType_GetDict(reinterpret_cast<PyTypeObject *>(PyTuple_GET_ITEM(mro, i))));
        if (!base_dict || entry(base_dict.get(), "_initializing")) return false;
    }
    return true;
}

// The class is checked again after any change to it or to its bases, which
// resets its version tag (copying a spec stores __slotnames__ there, for
// one): a class that reads nothing keeps the fast path. The tag recorded is
// never 0, the tag of a class that has none.
bool recheck_spec_class() {
    PyTypeObject *type = time_spec.type;
    if (!spec_class_reads_nothing(type) || !PyUnstable_Type_AssignVersionTag(type)) return false;
    time_spec.type_version = type->tp_version_tag;
    return true;
}

// A plain instance whose _initializing is absent or False.
bool hold_time_spec(PyObject *spec) {
    if (!spec || !(Py_TYPE(spec)->tp_flags & Py_TPFLAGS_HEAPTYPE)) return false;
    Ref dict = Ref::steal(PyObject_GenericGetDict(spec, nullptr));
    if (!dict || !PyDict_CheckExact(dict.get())) {
        PyErr_Clear();
        return false;
    }
    PyObject *initializing = entry(dict.get(), "_initializing");
    if (initializing && initializing != Py_False) return false;
    time_spec.spec = Py_NewRef(spec);
    time_spec.type = reinterpret_cast<PyTypeObject *>(Py_NewRef(Py_TYPE(spec)));
    time_spec.dict = dict.release();
    if (!recheck_spec_class()) return false;
    watch_namespace(time_spec.dict, kStrftime);
    return true;
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

}  // namespace

void trust_strftime() {
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
    if (!hold_time_spec(entry(time_globals, "__spec__"))) return;
    watch_namespace(modules, kStrftime, {.only = time_key.get()});
    watch_namespace(modules, kStrftime, {.only = builtins_key.get()});
    watch_namespace(time_globals, kStrftime);
    watch_builtins(kStrftime);
    stdlib_watch::trust(kStrftime);
}

bool caller_imports_standard() {
    // The import reads time.__spec__._initializing from the module spec's own
    // __dict__ only while its class and that dictionary are the ones held
    // (held since the fast path was trusted).
    if (!Py_IS_TYPE(time_spec.spec, time_spec.type) ||
        (time_spec.type->tp_version_tag != time_spec.type_version && !recheck_spec_class())) {
        return false;
    }
    PyObject *spec_dict = PyObject_GenericGetDict(time_spec.spec, nullptr);
    if (spec_dict != time_spec.dict) {
        Py_XDECREF(spec_dict);
        PyErr_Clear();
        return false;
    }
    Py_DECREF(spec_dict);  // held by the module spec too
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

}  // namespace velmora::cookies
