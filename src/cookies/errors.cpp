// CookieError and CookieValueExceedsMaximumLength. Neither adds fields to the
// interpreter's exception record; the message is the single argument.
#include "cookies/cookie_constants.hpp"
#include "cookies/errors.hpp"
#include "cookies/cookie.hpp"
#include "cookies/module_steps.hpp"
#include "module_support/args.hpp"
#include "module_support/next_init.hpp"
#include "module_support/ref.hpp"
#include "module_support/static_type.hpp"

namespace velmora::cookies {

using support::Ref;

PyTypeObject CookieError_type;
PyTypeObject CookieValueExceedsMaximumLength_type;

namespace {

const char *const message_param[] = {"message"};
const support::Param message_kind[] = {{support::ParamKind::str_or_none}};
const support::Signature cookie_error_signature{"__init__", message_param, 1, 1, message_kind};

int cookie_error_init(PyObject *self, PyObject *args, PyObject *kwds) {
    support::BoundArgs<1> bound;
    if (bound.bind_tuple(cookie_error_signature, args, kwds) < 0) return -1;
    return support::init_next_with_message(&CookieError_type, self, cookie_error_signature, 0,
                                           bound[0]);
}

int value_too_long_init(PyObject *self, PyObject *args, PyObject *kwds) {
    if (support::bind_no_init_args(args, kwds) < 0) return -1;
    Ref base_args = Ref::steal(PyTuple_Pack(1, constants.max_length_message));
    if (!base_args) return -1;
    return support::call_next_init(&CookieValueExceedsMaximumLength_type, self, base_args.get());
}

// A second attempt after a failed import finds the type ready already.
int ready_error_type(PyTypeObject &type, const char *name, PyTypeObject *base, initproc init) {
    if (!(type.tp_flags & Py_TPFLAGS_READY)) {
        support::define_exception_type(type, name, sizeof(PyBaseExceptionObject), init, nullptr,
                                       base);
    }
    return PyType_Ready(&type);
}

}  // namespace

int ready_cookie_error_type() {
    return ready_error_type(CookieError_type, "velmora.cookies.CookieError",
                            reinterpret_cast<PyTypeObject *>(PyExc_Exception), cookie_error_init);
}

int ready_value_too_long_type() {
    return ready_error_type(CookieValueExceedsMaximumLength_type,
                            "velmora.cookies.CookieValueExceedsMaximumLength", &CookieError_type,
                            value_too_long_init);
}

void raise_none_has_no(const char *attribute) {
    PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", attribute);
}

// The search error is made here as bytes.index raises it, with whatever the
// caller is handling as its context.
void raise_invalid_pair(std::string_view fragment) {
    Ref fragment_bytes = Ref::steal(
        PyBytes_FromStringAndSize(fragment.data(), static_cast<Py_ssize_t>(fragment.size())));
    if (!fragment_bytes) return;
    PyErr_SetString(PyExc_ValueError, "subsection not found");
    PyObject *search_error = PyErr_GetRaisedException();
    Ref text = Ref::steal(PyObject_Repr(fragment_bytes.get()));
    Ref message =
        text ? Ref::steal(PyUnicode_FromFormat("Invalid name=value fragment: %U", text.get()))
             : Ref();
    Ref error = message ? Ref::steal(PyObject_CallOneArg(PyExc_ValueError, message.get())) : Ref();
    if (!error) {
        // The failure to build the error replaces it; the search error is
        // its context.
        PyObject *failure = PyErr_GetRaisedException();
        PyException_SetContext(failure, search_error);
        PyErr_SetRaisedException(failure);
        return;
    }
    // Set as it is: the search error is its context, and the search error
    // already carries whatever the caller was handling.
    PyException_SetContext(error.get(), search_error);
    PyErr_SetRaisedException(error.release());
}

void raise_value_too_long() {
    PyObject *type = reinterpret_cast<PyObject *>(&CookieValueExceedsMaximumLength_type);
    Ref error = Ref::steal(PyObject_CallNoArgs(type));
    if (error) PyErr_SetObject(type, error.get());
}

}  // namespace velmora::cookies
