// The Python functions of velmora.cookies: argument binding and type checks
// in front of the native entries, which get the flag 1.
#include "cookies/cookie.hpp"
#include "cookies/functions.hpp"
#include "cookies/imported_types.hpp"
#include "cookies/module.hpp"
#include "cookies/module_steps.hpp"
#include "module_support/args.hpp"
#include "module_support/ref.hpp"

namespace velmora::cookies {

using support::Ref;

namespace {

const char *const value_names[] = {"value"};
const char *const raw_value_names[] = {"raw_value"};
const support::Signature to_format_signature{"datetime_to_cookie_format", value_names, 1, 1};
const support::Signature from_format_signature{"datetime_from_cookie_format", value_names, 1, 1};
const support::Signature parse_signature{"parse_cookie", raw_value_names, 1, 1};

PyObject *py_datetime_to_cookie_format(PyObject *, PyObject *const *args, Py_ssize_t nargs,
                                       PyObject *kwnames) {
    PyObject *value = nullptr;
    if (support::bind_vector(to_format_signature, args, nargs, kwnames, &value) < 0) return nullptr;
    PyTypeObject *datetime = datetime_type();
    if (!datetime || !support::check_arg_instance_or_none(value, datetime, "value")) return nullptr;
    return datetime_to_cookie_format(reinterpret_cast<PyDateTime_DateTime *>(value), 1);
}

PyObject *py_datetime_from_cookie_format(PyObject *, PyObject *const *args, Py_ssize_t nargs,
                                         PyObject *kwnames) {
    PyObject *value = nullptr;
    if (support::bind_vector(from_format_signature, args, nargs, kwnames, &value) < 0)
        return nullptr;
    if (!support::check_arg_exact_or_none(value, &PyBytes_Type, "value")) return nullptr;
    return reinterpret_cast<PyObject *>(datetime_from_cookie_format(value, 1));
}

PyObject *py_parse_cookie(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *raw_value = nullptr;
    if (support::bind_vector(parse_signature, args, nargs, kwnames, &raw_value) < 0) return nullptr;
    if (!support::check_arg_exact_or_none(raw_value, &PyBytes_Type, "raw_value")) return nullptr;
    return as_object(parse_cookie(raw_value, 1));
}

constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

template <typename F>
PyCFunction as_method(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef to_format_def{"datetime_to_cookie_format", as_method(py_datetime_to_cookie_format),
                          kFastcall, nullptr};
PyMethodDef from_format_def{"datetime_from_cookie_format",
                            as_method(py_datetime_from_cookie_format), kFastcall, nullptr};
PyMethodDef parse_def{"parse_cookie", as_method(py_parse_cookie), kFastcall, nullptr};

// A module-level function: __module__ "velmora.cookies", __qualname__ its
// name, no docstring.
int bind_function(PyMethodDef &def) {
    Ref function = Ref::steal(PyCMethod_New(&def, nullptr, frame.module_name, nullptr));
    if (!function) return -1;
    return frame.bind(def.ml_name, function.get());
}

}  // namespace

int bind_date_functions() {
    if (bind_function(to_format_def) < 0) return -1;
    return bind_function(from_format_def);
}

int bind_parse_cookie() {
    return bind_function(parse_def);
}

}  // namespace velmora::cookies
