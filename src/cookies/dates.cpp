// Cookie dates: a datetime to the text of an Expires attribute and back.
// No time-zone arithmetic either way: the wall-clock fields are written with
// the fixed word GMT, and a parsed zone is dropped without shifting the time.
//
// Both directions have a native path for the common case, taken only when
// nothing observable can tell it from the calls into Python it replaces.
#include "cookies/cookie.hpp"
#include "cookies/cookie_constants.hpp"
#include "cookies/date_text.hpp"
#include "cookies/errors.hpp"
#include "cookies/functions.hpp"
#include "cookies/imported_types.hpp"
#include "cookies/stdlib_bindings.hpp"
#include "cookies/time_locale.hpp"
#include "module_support/args.hpp"
#include "module_support/ref.hpp"

namespace velmora::cookies {

using support::Ref;

namespace {

// parsedate_to_datetime(text).replace(tzinfo=None) for the canonical text:
// the standard function reads the same fields (skipping the day name
// unchecked), and GMT is a zero offset, which replace() drops.
PyObject *parse_natively(std::string_view text) {
    date_text::Fields f;
    if (!date_text::read(text, &f) || !month_names_unchanged()) return nullptr;
    return datetime_capi->DateTime_FromDateAndTime(f.year, f.month, f.day, f.hour, f.minute,
                                                   f.second, 0, Py_None,
                                                   datetime_capi->DateTimeType);
}

}  // namespace

bool format_natively(PyObject *value, char *out) {
    // value.strftime(template).encode() gives exactly these bytes when the
    // value is a plain datetime whose timetuple() calls no Python code (no
    // tzinfo, or a datetime.timezone, whose dst() is None), with a four-digit
    // year, while strftime's import of the time module and its strftime are
    // the standard ones. The time locale does not matter: format_generic
    // runs strftime under the C time locale too.
    if (!standard.strftime || !Py_IS_TYPE(value, datetime_capi->DateTimeType)) return false;
    PyObject *tzinfo = PyDateTime_DATE_GET_TZINFO(value);
    if (tzinfo != Py_None && !Py_IS_TYPE(tzinfo, Py_TYPE(datetime_capi->TimeZone_UTC))) {
        return false;
    }
    const date_text::Fields fields{
        PyDateTime_GET_YEAR(value),        PyDateTime_GET_MONTH(value),
        PyDateTime_GET_DAY(value),         PyDateTime_DATE_GET_HOUR(value),
        PyDateTime_DATE_GET_MINUTE(value), PyDateTime_DATE_GET_SECOND(value)};
    if (fields.year < 1000) return false;  // strftime writes fewer digits
    if (!caller_imports_standard()) return false;
    date_text::write(fields, out);
    return true;
}

PyObject *format_generic(PyObject *value) {
    // Ordinary method calls, so that subclasses overriding strftime (or str
    // subclasses overriding encode) are honoured. Both results are held.
    // Whatever strftime the call reaches writes English names.
    Ref text;
    {
        CTimeLocaleScope c_time;
        if (!c_time.ok()) return nullptr;
        text = Ref::steal(
            PyObject_CallMethodOneArg(value, constants.strftime, constants.date_template));
    }
    if (!text) return nullptr;
    Ref encoded = Ref::steal(PyObject_CallMethodNoArgs(text.get(), constants.encode));
    if (!encoded) return nullptr;
    if (!PyBytes_CheckExact(encoded.get()) && encoded.get() != Py_None) {
        support::raise_expected("bytes", encoded.get());
        return nullptr;
    }
    return encoded.release();
}

PyObject *datetime_from_cookie_text(std::string_view bytes) {
    bool native;
    Ref parse = Ref::steal(lookup_standard(slots.parsedate_to_datetime, bound.parsedate_to_datetime,
                                           standard.parsedate, &native));
    if (!parse) return nullptr;
    if (native) {
        PyObject *result = parse_natively(bytes);
        if (result || PyErr_Occurred()) return result;
    }
    Ref text = Ref::steal(
        bytes.empty()
            ? Py_NewRef(constants.empty_str)
            : PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr));
    if (!text) return nullptr;
    Ref parsed = Ref::steal(PyObject_CallOneArg(parse.get(), text.get()));
    if (!parsed) return nullptr;
    // parsed.replace(tzinfo=None): the zone is dropped, the time not shifted.
    PyObject *call_args[] = {parsed.get(), Py_None};
    Ref naive = Ref::steal(
        PyObject_VectorcallMethod(constants.replace, call_args, 1, constants.tzinfo_kwnames));
    if (!naive) return nullptr;
    if (!support::check_none_or_instance(naive.get(), datetime_type)) return nullptr;
    return naive.release();
}

PyObject *datetime_to_cookie_format(PyDateTime_DateTime *value, int) {
    PyObject *self = reinterpret_cast<PyObject *>(value);
    if (!self) {
        PyErr_BadInternalCall();
        return nullptr;
    }
    char text[date_text::kLength];
    if (datetime_capi && format_natively(self, text)) {
        return PyBytes_FromStringAndSize(text, date_text::kLength);
    }
    return format_generic(self);
}

PyDateTime_DateTime *datetime_from_cookie_format(PyObject *value, int) {
    // The name is looked up before the argument is looked at, so a deleted
    // parsedate_to_datetime fails the same way whatever is passed.
    if (value && PyBytes_Check(value)) {
        return reinterpret_cast<PyDateTime_DateTime *>(datetime_from_cookie_text(
            {PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value))}));
    }
    Ref parse = Ref::steal(frame.names.lookup(*slots.parsedate_to_datetime));
    if (!parse) return nullptr;
    if (!value) {
        PyErr_BadInternalCall();
    } else if (value == Py_None) {
        raise_none_has_no("decode");
    } else {
        PyErr_Format(PyExc_TypeError, "expected bytes, got %.200s", Py_TYPE(value)->tp_name);
    }
    return nullptr;
}

}  // namespace velmora::cookies
