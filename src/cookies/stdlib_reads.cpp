// What the standard functions behind the fast paths read, and how each read
// is known to be unchanged. At import every read is checked to be the
// standard library's own (stdlib_origin.hpp); from then on a watch
// (stdlib_watch.hpp) or a check on every call keeps it:
//
// quote(text) and unquote(text), urllib.parse:
//   urllib.parse's globals (its functions, _ALWAYS_SAFE_BYTES, _asciire,
//     _hexdig, _hextobyte, the classes)         namespace snapshot
//   the table _hextobyte, built on first use    checked when built, then a snapshot
//   the code and defaults of those functions,
//     the classes (_Quoter)                     function and class watchers
//   the builtins they name (isinstance, ...)    snapshot of the builtins
//   quote's escapes, cached per `safe` by a
//     functools.lru_cache (a _Quoter), for a
//     text with a byte to escape                filled with every escape at import;
//                                               the lru_cache's dictionary and the
//                                               _Quoter's entries watched
// parsedate_to_datetime(text), email.utils:
//   email.utils's and email._parseaddr's
//     globals (_parsedate_tz, datetime, ...)   namespace snapshots
//   the code and defaults of their functions    function and class watchers
//   the table _timezones                        snapshot
//   the list _monthnames (a list changes in
//     place without an event)                   identity of its first twelve
//                                               items, on every call
//   datetime.datetime, timezone, timedelta      snapshot of the datetime namespace
//   the builtins they name                      snapshot of the builtins
// datetime.strftime(template) -> time.strftime:
//   the calling code's __builtins__ and its
//     __import__                                on every call (the calling code's
//                                               globals, listened to while they are
//                                               the last ones checked); the builtins
//                                               module's own __import__: snapshot
//   sys.modules["time"] (and ["builtins"]
//     when no code calls)                       snapshot of those keys
//   time.strftime, time.struct_time,
//     time.__spec__                             snapshot of time's namespace
//   time.__spec__._initializing (true: the
//     import waits on a lock through importlib) snapshot of the spec's __dict__;
//                                               on every call its class (and that
//                                               class's version tag) and __dict__
//   the value's timetuple                       the native path takes exact datetimes only
#include "cookies/stdlib_reads.hpp"

#include "cookies/module.hpp"
#include "cookies/percent.hpp"
#include "cookies/stdlib_bindings.hpp"
#include "cookies/stdlib_origin.hpp"
#include "cookies/stdlib_watch.hpp"
#include "module_support/lookup.hpp"
#include "module_support/ref.hpp"

#include <cstring>

namespace velmora::cookies {

using stdlib_origin::entry;
using stdlib_origin::is_standard_namespace;
using stdlib_origin::standard_function;
using stdlib_watch::kParse;
using stdlib_watch::kQuote;
using stdlib_watch::kQuoteEscapes;
using stdlib_watch::kStrftime;
using stdlib_watch::kUnquote;
using stdlib_watch::watch_module_code;
using stdlib_watch::watch_namespace;
using support::Ref;

namespace {

bool same_text(PyObject *key, const char *text) {
    return PyUnicode_CheckExact(key) && PyUnicode_CompareWithASCIIString(key, text) == 0;
}

// The builtins module's dictionary: the standard functions call builtins.
void watch_builtins(unsigned users) {
    watch_namespace(PyModule_GetDict(frame.builtins), users, {.existing_keys_only = true});
}

// ---- quote and unquote ---------------------------------------------------------------

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The table unquote builds on first use, {(a + b).encode(): bytes.fromhex(a
// + b)} for every two hex digits a and b of either case: 22 * 22 distinct
// keys of two hex digits hold every pair.
bool is_standard_hex_table(PyObject *table) {
    if (!PyDict_CheckExact(table) || PyDict_GET_SIZE(table) != 22 * 22) return false;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(table, &pos, &key, &value)) {
        if (!PyBytes_CheckExact(key) || PyBytes_GET_SIZE(key) != 2 || !PyBytes_CheckExact(value) ||
            PyBytes_GET_SIZE(value) != 1) {
            return false;
        }
        const char *pair = PyBytes_AS_STRING(key);
        const int high = hex_digit(pair[0]), low = hex_digit(pair[1]);
        if (high < 0 || low < 0 ||
            static_cast<unsigned char>(PyBytes_AS_STRING(value)[0]) != high * 16 + low) {
            return false;
        }
    }
    return true;
}

// Set by the module itself on first use. Only _hextobyte is read by quote or
// unquote; the others are taken as the module sets them.
const stdlib_watch::LazyEntry kUrllibLazy[] = {
    {"_hextobyte", is_standard_hex_table, true},
    {"_typeprog", nullptr, false},
    {"_hostprog", nullptr, false},
    {"_portprog", nullptr, false},
    {nullptr, nullptr, false},
};

// quote's cache of escapes. quote_from_bytes maps every byte of a text with
// a byte to escape through _byte_quoter_factory(b"/"): a functools.lru_cache
// that returns the bound __getitem__ of a _Quoter, a dict of escapes that its
// __missing__ fills (from the _Quoter's `safe`). At import that getter is
// asked for every byte, so the _Quoter holds all 256 escapes and neither its
// __missing__, its class nor its `safe` is read again. The one cached then
// stands for the standard escapes while:
//   it stays cached: the lru_cache's own dictionary (found through the
//     wrapper's traversal, which also visits what it caches) is watched, and
//     any removal or clear there turns native escaping off;
//   its entries stay as they are: any change turns native escaping off.
PyObject *quoter_getter = nullptr;  // held: the bound __getitem__, which holds the _Quoter

// What quote writes for the byte `b`: the byte itself when it is in the
// standard `safe` set (letters, digits, "_.-~" and "/"), else "%XX".
bool is_standard_escape(PyObject *key, PyObject *value) {
    if (!PyLong_CheckExact(key) || !PyUnicode_CheckExact(value) || !PyUnicode_IS_ASCII(value)) {
        return false;
    }
    int overflow;
    const long b = PyLong_AsLongAndOverflow(key, &overflow);
    if (overflow || b < 0 || b > 255) return false;
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char *text = static_cast<const char *>(PyUnicode_DATA(value));
    if (detail::kSafeBytes[b]) return PyUnicode_GET_LENGTH(value) == 1 && text[0] == b;
    return PyUnicode_GET_LENGTH(value) == 3 && text[0] == '%' && text[1] == kHex[b >> 4] &&
           text[2] == kHex[b & 15];
}

// The _Quoter holds every escape: any event is a change.
void on_quoter_event(void *, PyDict_WatchEvent, PyObject *, PyObject *, PyObject *) {
    stdlib_watch::distrust(kQuoteEscapes);
}

// Adding a key to the lru_cache is harmless; a removal (an eviction) or a
// clear may drop the _Quoter.
void on_quoter_cache_event(void *, PyDict_WatchEvent event, PyObject *, PyObject *, PyObject *) {
    if (event != PyDict_EVENT_ADDED) stdlib_watch::distrust(kQuoteEscapes);
}

struct Traversal {
    PyObject *own_dict;  // the wrapper's __dict__, not its cache
    PyObject *cached;    // what must be among the visited
    PyObject *cache = nullptr;
    int dicts = 0;
    bool cached_seen = false;
};

int visit_wrapper(PyObject *object, void *arg) {
    auto *t = static_cast<Traversal *>(arg);
    if (object == t->cached) t->cached_seen = true;
    if (PyDict_CheckExact(object) && object != t->own_dict) {
        t->cache = object;
        ++t->dicts;
    }
    return 0;
}

// The dictionary of functools' lru_cache wrapper that holds `cached`: the one
// dict its traversal visits besides its __dict__. nullptr when the wrapper
// is not that (another implementation keeps its cache elsewhere).
PyObject *lru_cache_dict(PyObject *wrapper, PyObject *cached) {
    PyTypeObject *type = Py_TYPE(wrapper);
    if (std::strcmp(type->tp_name, "functools._lru_cache_wrapper") != 0 || !type->tp_traverse) {
        return nullptr;
    }
    Ref own_dict = Ref::steal(PyObject_GenericGetDict(wrapper, nullptr));
    if (!own_dict) {
        PyErr_Clear();
        return nullptr;
    }
    Traversal t{own_dict.get(), cached};
    type->tp_traverse(wrapper, visit_wrapper, &t);
    return t.dicts == 1 && t.cached_seen ? t.cache : nullptr;
}

// Calls _byte_quoter_factory(b"/") as quote does (the _Quoter is made then
// if it is not cached yet), has it escape every byte, and watches it.
// Native escaping stays off when anything is not as expected.
void trust_quoter(PyObject *globals) {
    PyObject *factory = entry(globals, "_byte_quoter_factory");
    PyObject *quoter_class = entry(globals, "_Quoter");
    if (!factory || !quoter_class || !PyType_Check(quoter_class)) return;
    Ref slash = Ref::steal(PyBytes_FromStringAndSize("/", 1));
    Ref getter = Ref::steal(slash ? PyObject_CallOneArg(factory, slash.get()) : nullptr);
    Ref dict_getitem = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject *>(&PyDict_Type),
                                                         "__getitem__"));  // a method descriptor
    if (!getter || !dict_getitem) {
        PyErr_Clear();
        return;
    }
    // dict.__getitem__ bound to a _Quoter: it reads the dictionary, and
    // anything of the _Quoter's class only for a missing byte.
    if (!PyCFunction_CheckExact(getter.get()) ||
        Py_TYPE(dict_getitem.get()) != &PyMethodDescr_Type ||
        reinterpret_cast<PyCFunctionObject *>(getter.get())->m_ml !=
            reinterpret_cast<PyMethodDescrObject *>(dict_getitem.get())->d_method) {
        return;
    }
    PyObject *instance = PyCFunction_GET_SELF(getter.get());
    if (!instance || !Py_IS_TYPE(instance, reinterpret_cast<PyTypeObject *>(quoter_class))) return;
    for (int b = 0; b < 256; ++b) {
        Ref number = Ref::steal(PyLong_FromLong(b));
        Ref escape = Ref::steal(number ? PyObject_CallOneArg(getter.get(), number.get()) : nullptr);
        if (!escape) {
            PyErr_Clear();
            return;
        }
    }
    if (PyDict_GET_SIZE(instance) != 256) return;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(instance, &pos, &key, &value)) {
        if (!is_standard_escape(key, value)) return;
    }
    PyObject *cache = lru_cache_dict(factory, getter.get());
    if (!cache || !support::listen_to_dict(cache, on_quoter_cache_event, nullptr)) return;
    if (!support::listen_to_dict(instance, on_quoter_event, nullptr)) {
        support::stop_listening(cache, on_quoter_cache_event, nullptr);
        return;
    }
    quoter_getter = getter.release();
    stdlib_watch::trust(kQuoteEscapes);
}

}  // namespace

bool quote_keeps_every_byte(PyObject *text) {
    if (!PyUnicode_IS_ASCII(text)) return false;
    const auto *bytes = static_cast<const unsigned char *>(PyUnicode_DATA(text));
    for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(text); i < n; ++i) {
        if (!detail::kSafeBytes[bytes[i]]) return false;
    }
    return true;
}

void trust_url_quoting() {
    PyObject *quote_globals = standard_function(bound.quote, "urllib.parse", "urllib/parse.py");
    PyObject *unquote_globals = standard_function(bound.unquote, "urllib.parse", "urllib/parse.py");
    unsigned users = 0;
    if (quote_globals) users |= kQuote;
    if (unquote_globals && (!quote_globals || unquote_globals == quote_globals)) users |= kUnquote;
    if (!users) return;
    PyObject *globals = quote_globals ? quote_globals : unquote_globals;
    // Already built: it must be the table the module builds.
    PyObject *hex_table = entry(globals, "_hextobyte");
    if (hex_table && hex_table != Py_None) {
        if (!is_standard_hex_table(hex_table)) users &= ~kUnquote;
        if (users & kUnquote) watch_namespace(hex_table, kUnquote);
    }
    watch_namespace(globals, users, {.lazy = kUrllibLazy});
    watch_module_code(globals, users);
    watch_builtins(users);
    stdlib_watch::trust(users);
    if (users & kQuote) trust_quoter(globals);
}

// ---- parsedate_to_datetime -------------------------------------------------------------

namespace {

// The month names email._parseaddr searches (the first twelve, "jan" to
// "dec"), held so that no other object takes their addresses.
struct MonthNames {
    PyObject *list = nullptr;
    PyObject *items[12] = {};
};
MonthNames month_names;

bool hold_month_names(PyObject *list) {
    static constexpr const char *kNames[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                               "jul", "aug", "sep", "oct", "nov", "dec"};
    if (!list || !PyList_CheckExact(list) || PyList_GET_SIZE(list) < 12) return false;
    for (int i = 0; i < 12; ++i) {
        if (!same_text(PyList_GET_ITEM(list, i), kNames[i])) return false;
    }
    Py_XSETREF(month_names.list, Py_NewRef(list));
    for (int i = 0; i < 12; ++i) {
        Py_XSETREF(month_names.items[i], Py_NewRef(PyList_GET_ITEM(list, i)));
    }
    return true;
}

}  // namespace

void trust_date_parser() {
    PyObject *utils =
        standard_function(bound.parsedate_to_datetime, "email.utils", "email/utils.py");
    if (!utils || !datetime_capi) return;
    PyObject *parseaddr =
        standard_function(entry(utils, "_parsedate_tz"), "email._parseaddr", "email/_parseaddr.py");
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
    watch_namespace(utils, kParse);
    watch_namespace(parseaddr, kParse);
    watch_namespace(datetime_globals, kParse);
    watch_namespace(timezones, kParse);
    watch_module_code(utils, kParse);
    watch_module_code(parseaddr, kParse);
    watch_builtins(kParse);
    stdlib_watch::trust(kParse);
}

bool month_names_unchanged() {
    PyObject *list = month_names.list;
    if (PyList_GET_SIZE(list) < 12) return false;
    for (int i = 0; i < 12; ++i) {
        if (PyList_GET_ITEM(list, i) != month_names.items[i]) return false;
    }
    return true;
}

// ---- datetime.strftime's time.strftime --------------------------------------------------

namespace {

// The spec of the time module, its class and its __dict__, held: the import
// reads spec._initializing, which an assignment of the spec's __class__ or
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
    // The import reads time.__spec__._initializing from the spec's own
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
    Py_DECREF(spec_dict);  // held by the spec too
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
