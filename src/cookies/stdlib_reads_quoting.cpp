// What quote and unquote of urllib.parse read, and how it is kept (the table
// in stdlib_reads.hpp).
#include "cookies/stdlib_reads.hpp"

#include "cookies/stdlib_bindings.hpp"
#include "cookies/stdlib_origin.hpp"
#include "cookies/stdlib_watch.hpp"
#include "module_support/lookup.hpp"
#include "module_support/ref.hpp"
#include "cookies/percent.hpp"

#include <cstring>

namespace velmora::cookies {

using stdlib_origin::entry;
using stdlib_origin::standard_function;
using stdlib_watch::kQuote;
using stdlib_watch::kQuoteEscapes;
using stdlib_watch::kUnquote;
using stdlib_watch::watch_builtins;
using stdlib_watch::watch_module_code;
using stdlib_watch::watch_namespace;
using support::Ref;

namespace {

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
        const int high = detail::hex_value(pair[0]), low = detail::hex_value(pair[1]);
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

}  // namespace velmora::cookies
