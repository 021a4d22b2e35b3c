// What parsedate_to_datetime of email.utils reads, and how it is kept (the
// table in stdlib_reads.hpp).
#include "cookies/stdlib_reads.hpp"

#include "cookies/stdlib_bindings.hpp"
#include "cookies/stdlib_origin.hpp"
#include "cookies/stdlib_watch.hpp"
#include "module_support/ref.hpp"

namespace velmora::cookies {

using stdlib_origin::entry;
using stdlib_origin::is_standard_namespace;
using stdlib_origin::standard_function;
using stdlib_watch::kParse;
using stdlib_watch::same_text;
using stdlib_watch::watch_builtins;
using stdlib_watch::watch_module_code;
using stdlib_watch::watch_namespace;

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

}  // namespace velmora::cookies
