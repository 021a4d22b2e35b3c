// The standard-library types the module's native code relies on the layout
// of, imported with their sizes checked against the interpreter headers.
#include <Python.h>
#include <datetime.h>

#include "cookies/imported_types.hpp"
#include "cookies/module_steps.hpp"
#include "module_support/import_type.hpp"

namespace velmora::cookies {

ImportedTypes imported;

namespace {

struct TypeImport {
    const char *module_name;
    const char *class_name;
    Py_ssize_t size;
    PyTypeObject *ImportedTypes::*slot;
};

const TypeImport type_imports[] = {
    {"builtins", "type", sizeof(PyHeapTypeObject), &ImportedTypes::type},
    {"datetime", "date", sizeof(PyDateTime_Date), &ImportedTypes::date},
    {"datetime", "time", sizeof(PyDateTime_Time), &ImportedTypes::time},
    {"datetime", "datetime", sizeof(PyDateTime_DateTime), &ImportedTypes::datetime},
    {"datetime", "timedelta", sizeof(PyDateTime_Delta), &ImportedTypes::timedelta},
    {"datetime", "tzinfo", sizeof(PyDateTime_TZInfo), &ImportedTypes::tzinfo},
};

}  // namespace

PyTypeObject *datetime_type() {
    if (!imported.datetime) {
        PyErr_SetString(PyExc_ImportError,
                        "velmora.cookies did not finish importing datetime.datetime");
    }
    return imported.datetime;
}

int import_standard_types() {
    for (const TypeImport &row : type_imports) {
        PyTypeObject *type = support::import_type(row.module_name, row.class_name, row.size);
        if (!type) return -1;
        Py_XSETREF(imported.*row.slot, type);
    }
    return 0;
}

}  // namespace velmora::cookies
