// Types imported from the standard library while the module body runs, with
// their sizes checked against the interpreter headers (imported_types.cpp).
#pragma once

#include <Python.h>

namespace velmora::cookies {

struct ImportedTypes {
    PyTypeObject *type;
    PyTypeObject *date;
    PyTypeObject *time;
    PyTypeObject *datetime;
    PyTypeObject *timedelta;
    PyTypeObject *tzinfo;
};
extern ImportedTypes imported;

// datetime.datetime as imported by the module body; nullptr with an
// ImportError when the body never got that far (an abandoned import).
PyTypeObject *datetime_type();

}  // namespace velmora::cookies
