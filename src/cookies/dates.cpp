// Cookie dates: a datetime to the text of an Expires attribute and back.
// No time-zone arithmetic either way: the wall-clock fields are written with
// the fixed word GMT, and a parsed zone is dropped without shifting the time.
#include "cookies/cookie.hpp"
#include "cookies/functions.hpp"
#include "module_support/args.hpp"
#include "module_support/ref.hpp"

namespace vc {

using vm::Ref;

void raise_none_has_no(const char *attribute) {
    PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", attribute);
}

PyObject *datetime_to_cookie_format(PyDateTime_DateTime *value, int) {
    PyObject *self = reinterpret_cast<PyObject *>(value);
    if (!self) {
        PyErr_BadInternalCall();
        return nullptr;
    }
    // Ordinary method calls, so that subclasses overriding strftime (or str
    // subclasses overriding encode) are honoured.
    Ref text = Ref::steal(PyObject_CallMethodOneArg(self, constants.strftime,
                                                    constants.date_template));
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
    Ref text = Ref::steal(
        PyUnicode_DecodeUTF8(PyBytes_AS_STRING(value), PyBytes_GET_SIZE(value), nullptr));
    if (!text) return nullptr;
    Ref parsed = Ref::steal(PyObject_CallOneArg(parse.get(), text.get()));
    if (!parsed) return nullptr;
    // parsed.replace(tzinfo=None): the zone is dropped, the time not shifted.
    PyObject *call_args[] = {parsed.get(), Py_None};
    Ref naive = Ref::steal(PyObject_VectorcallMethod(
        constants.replace, call_args, 1, constants.tzinfo_kwnames));
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
