// Cookie dates: a datetime to the text of an Expires attribute and back.
// No time-zone arithmetic either way: the wall-clock fields are written with
// the fixed word GMT, and a parsed zone is dropped without shifting the time.
//
// Both directions have a native path for the common case, taken only when
// nothing observable can tell it from the calls into Python it replaces.
#include "cookies/cookie.hpp"
#include "cookies/date_text.hpp"
#include "cookies/functions.hpp"
#include "module_support/args.hpp"
#include "module_support/ref.hpp"

#include <clocale>
#include <cstring>
#include <locale.h>

namespace vc {

using vm::Ref;

namespace {

// What the native paths need from the datetime module, fetched on their
// first use (the module body has imported datetime by then).
struct DatetimeAccess {
    PyDateTime_CAPI *api = nullptr;
    PyTypeObject *timezone = nullptr;   // datetime.timezone
    PyObject *time_name = nullptr;      // "time"
    PyObject *time_strftime = nullptr;  // the time module's own strftime, once seen
};
DatetimeAccess access;

// The datetime C API, or nullptr (no error set) when it cannot be had or is
// not that of the datetime type the module imported.
PyDateTime_CAPI *datetime_api() {
    if (access.api) return access.api;
    auto *api = static_cast<PyDateTime_CAPI *>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
    if (!api) {
        PyErr_Clear();
        return nullptr;
    }
    if (api->DateTimeType != imported.datetime) return nullptr;
    access.timezone = Py_TYPE(api->TimeZone_UTC);
    access.api = api;
    return api;
}

// datetime.strftime hands the format to the strftime of the time module,
// which it looks up on every call. The native formatter stands in for it
// only while sys.modules["time"].strftime is the interpreter's own function.
bool time_strftime_is_builtin() {
    if (!access.time_name) {
        access.time_name = PyUnicode_InternFromString("time");
        if (!access.time_name) {
            PyErr_Clear();
            return false;
        }
    }
    PyObject *time_module;
    int rc = PyDict_GetItemRef(PyImport_GetModuleDict(), access.time_name, &time_module);
    if (rc <= 0) {
        PyErr_Clear();
        return false;
    }
    Ref module = Ref::steal(time_module);
    if (!PyModule_CheckExact(module.get())) return false;
    PyObject *strftime;
    rc = PyDict_GetItemRef(PyModule_GetDict(module.get()), constants.strftime, &strftime);
    if (rc <= 0) {
        PyErr_Clear();
        return false;
    }
    Ref function = Ref::steal(strftime);
    if (function.get() == access.time_strftime) return true;
    if (access.time_strftime || !PyCFunction_CheckExact(function.get())) return false;
    // First sighting: the built-in of the time module itself.
    auto *builtin = reinterpret_cast<PyCFunctionObject *>(function.get());
    if (builtin->m_self != module.get() || std::strcmp(builtin->m_ml->ml_name, "strftime") != 0) {
        return false;
    }
    access.time_strftime = function.release();
    return true;
}

// strftime writes day and month names in the time locale of the calling
// thread; the native formatter knows only those of the C locale.
bool c_time_locale() {
    if (uselocale(static_cast<locale_t>(nullptr)) != LC_GLOBAL_LOCALE) return false;
    const char *name = std::setlocale(LC_TIME, nullptr);
    return name && (std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0);
}

// value.strftime(template).encode() gives exactly these bytes when the value
// is a plain datetime whose timetuple() calls no Python code (no tzinfo, or
// a datetime.timezone, whose dst() is None), with a four-digit year, under
// the C time locale and the time module's own strftime.
PyObject *format_natively(PyObject *value) {
    if (!imported.datetime || !Py_IS_TYPE(value, imported.datetime)) return nullptr;
    PyDateTime_CAPI *api = datetime_api();
    if (!api) return nullptr;
    PyObject *tzinfo = PyDateTime_DATE_GET_TZINFO(value);
    if (tzinfo != Py_None && !Py_IS_TYPE(tzinfo, access.timezone)) return nullptr;
    const date_text::Fields fields{
        PyDateTime_GET_YEAR(value),        PyDateTime_GET_MONTH(value),
        PyDateTime_GET_DAY(value),         PyDateTime_DATE_GET_HOUR(value),
        PyDateTime_DATE_GET_MINUTE(value), PyDateTime_DATE_GET_SECOND(value)};
    if (fields.year < 1000 || fields.year > 9999) return nullptr;
    if (!c_time_locale() || !time_strftime_is_builtin()) return nullptr;
    PyObject *result = PyBytes_FromStringAndSize(nullptr, date_text::kLength);
    if (!result) return nullptr;
    date_text::write(fields, PyBytes_AS_STRING(result));
    return result;
}

// parsedate_to_datetime(text).replace(tzinfo=None) for the canonical text:
// the standard function reads the same fields (skipping the day name
// unchecked), and GMT is a zero offset, which replace() drops.
PyObject *parse_natively(const char *bytes, Py_ssize_t size) {
    date_text::Fields f;
    if (!date_text::read({bytes, static_cast<std::size_t>(size)}, &f)) return nullptr;
    PyDateTime_CAPI *api = datetime_api();
    if (!api) return nullptr;
    return api->DateTime_FromDateAndTime(f.year, f.month, f.day, f.hour, f.minute, f.second, 0,
                                         Py_None, api->DateTimeType);
}

}  // namespace

void raise_none_has_no(const char *attribute) {
    PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", attribute);
}

PyObject *datetime_to_cookie_format(PyDateTime_DateTime *value, int) {
    PyObject *self = reinterpret_cast<PyObject *>(value);
    if (!self) {
        PyErr_BadInternalCall();
        return nullptr;
    }
    PyObject *native = format_natively(self);
    if (native || PyErr_Occurred()) return native;
    // Ordinary method calls, so that subclasses overriding strftime (or str
    // subclasses overriding encode) are honoured.
    Ref text =
        Ref::steal(PyObject_CallMethodOneArg(self, constants.strftime, constants.date_template));
    if (!text) return nullptr;
    Ref encoded = Ref::steal(PyObject_CallMethodNoArgs(text.get(), constants.encode));
    if (!encoded) return nullptr;
    if (!PyBytes_CheckExact(encoded.get()) && encoded.get() != Py_None) {
        vm::raise_expected("bytes", encoded.get());
        return nullptr;
    }
    return encoded.release();
}

PyDateTime_DateTime *datetime_from_cookie_format(PyObject *value, int) {
    // The name is looked up before the argument is looked at, so a deleted
    // parsedate_to_datetime fails the same way whatever is passed.
    Ref parse = Ref::steal(frame.lookup(constants.parsedate_to_datetime));
    if (!parse) return nullptr;
    if (!value) {
        PyErr_BadInternalCall();
        return nullptr;
    }
    if (value == Py_None) {
        raise_none_has_no("decode");
        return nullptr;
    }
    if (!PyBytes_Check(value)) {
        PyErr_Format(PyExc_TypeError, "expected bytes, got %.200s", Py_TYPE(value)->tp_name);
        return nullptr;
    }
    if (parse.get() == bound.parsedate_to_datetime) {
        PyObject *native = parse_natively(PyBytes_AS_STRING(value), PyBytes_GET_SIZE(value));
        if (native || PyErr_Occurred()) return reinterpret_cast<PyDateTime_DateTime *>(native);
    }
    Ref text = Ref::steal(
        PyUnicode_DecodeUTF8(PyBytes_AS_STRING(value), PyBytes_GET_SIZE(value), nullptr));
    if (!text) return nullptr;
    Ref parsed = Ref::steal(PyObject_CallOneArg(parse.get(), text.get()));
    if (!parsed) return nullptr;
    // parsed.replace(tzinfo=None): the zone is dropped, the time not shifted.
    PyObject *call_args[] = {parsed.get(), Py_None};
    Ref naive = Ref::steal(
        PyObject_VectorcallMethod(constants.replace, call_args, 1, constants.tzinfo_kwnames));
    if (!naive) return nullptr;
    if (naive.get() != Py_None) {
        PyTypeObject *datetime = datetime_type();
        if (!datetime) return nullptr;
        if (!PyObject_TypeCheck(naive.get(), datetime)) {
            vm::raise_cannot_convert(naive.get(), datetime->tp_name);
            return nullptr;
        }
    }
    return reinterpret_cast<PyDateTime_DateTime *>(naive.release());
}

}  // namespace vc
