// HTTPException and the subclasses that only fix a status and a message.
#include "exceptions/exception_types.hpp"

#include "module_support/args.hpp"
#include "module_support/convert.hpp"
#include "module_support/next_init.hpp"
#include "module_support/ref.hpp"
#include "module_support/static_type.hpp"
#include "module_support/truth.hpp"

#include <cstddef>

namespace velmora::exceptions {

using support::Ref;

PyTypeObject HTTPException_type;
PyTypeObject BadRequest_type;
PyTypeObject Unauthorized_type;
PyTypeObject Forbidden_type;
PyTypeObject NotFound_type;
PyTypeObject Conflict_type;
PyTypeObject UnsupportedMediaType_type;
PyTypeObject RangeNotSatisfiable_type;
PyTypeObject NotImplementedByServer_type;

namespace {

PyObject *default_http_message;  // "HTTP exception"

// ---- HTTPException ---------------------------------------------------------

const char *const http_param_names[] = {"status", "message"};
const support::Param http_param_kinds[] = {{support::ParamKind::integer},
                                           {support::ParamKind::str_or_none}};
const support::Signature http_signature{"__init__", http_param_names, 2, 1, http_param_kinds};

// The exception base's __init__ (it sets `args`).
int exception_base_init(PyObject *self, PyObject *args) {
    return reinterpret_cast<PyTypeObject *>(PyExc_Exception)->tp_init(self, args, nullptr);
}

// HTTPException.__init__ once the status is converted: checks the message,
// runs the __init__ that follows HTTPException in the instance's MRO with
// (message,) (`message_args` when the caller has that tuple prebuilt) and
// only then stores the status. `own_type` says that the instance's type is
// one of this module's, so that what follows is the exception base's __init__.
// The part after the message check: `message_args` is (message,).
int init_with_checked_message(PyObject *self, int32_t status, PyObject *message_args,
                              bool own_type) {
    // The module's own types end their MRO in the exception base, whose
    // __init__ comes next; a subclass may put another class in between.
    int rc = own_type ? exception_base_init(self, message_args)
                      : support::call_next_init(&HTTPException_type, self, message_args);
    if (rc < 0) return -1;
    reinterpret_cast<VelmoraHTTPException *>(self)->status = status;
    return 0;
}

int init_with_status_value(PyObject *self, int32_t status, PyObject *message,
                           PyObject *message_args, bool own_type) {
    if (!support::check_param(http_signature, 1, message)) return -1;
    Ref base_args = message_args ? Ref::borrow(message_args) : Ref::steal(PyTuple_Pack(1, message));
    if (!base_args) return -1;
    return init_with_checked_message(self, status, base_args.get(), own_type);
}

int http_exception_init(PyObject *self, PyObject *args, PyObject *kwds) {
    support::BoundArgs<2> bound{nullptr, default_http_message};
    if (bound.bind_tuple(http_signature, args, kwds) < 0) return -1;
    int32_t status;
    if (!support::to_int32(bound[0], &status)) return -1;
    return init_with_status_value(self, status, bound[1], nullptr,
                                  Py_IS_TYPE(self, &HTTPException_type));
}

PyObject *status_get(PyObject *self, void *) {
    return PyLong_FromLong(reinterpret_cast<VelmoraHTTPException *>(self)->status);
}

int status_set(PyObject *self, PyObject *value, void *) {
    if (!value) {
        PyErr_SetString(PyExc_NotImplementedError, "__del__");
        return -1;
    }
    int32_t status;
    if (!support::to_int32(value, &status)) return -1;
    reinterpret_cast<VelmoraHTTPException *>(self)->status = status;
    return 0;
}

PyGetSetDef http_exception_getset[] = {
    {"status", status_get, status_set, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// HTTPException.__init__ follows `cls` for an instance of the class itself,
// and for a subclass that puts no __init__ of its own between.
bool http_init_follows(PyTypeObject *cls, PyObject *self, bool own_type) {
    return own_type || support::next_init_slot(cls, self) == http_exception_init;
}

// Otherwise the next __init__ is called with (status, message).
int call_next_init_with_status(PyTypeObject *cls, PyObject *self, PyObject *status,
                               PyObject *message) {
    Ref base_args = Ref::steal(PyTuple_Pack(2, status, message));
    if (!base_args) return -1;
    return support::call_next_init(cls, self, base_args.get());
}

// A class's own status and message, made at import: the status an exact int
// that converts to `status`, the message an exact str that passes the check.
// HTTPException.__init__, when it comes next, would convert and check them to
// the same result, so it is entered after those steps.
int init_next_with_class_defaults(PyTypeObject *cls, PyObject *self, int32_t status,
                                  PyObject *status_obj, PyObject *message, PyObject *message_args) {
    const bool own_type = Py_IS_TYPE(self, cls);
    if (http_init_follows(cls, self, own_type)) {
        return init_with_checked_message(self, status, message_args, own_type);
    }
    return call_next_init_with_status(cls, self, status_obj, message);
}

// ---- Subclasses that take an optional message ------------------------------

struct MessageClass {
    PyTypeObject *type;
    const char *name;
    int status;
    const char *default_message;
    PyObject *status_obj;
    PyObject *message_obj;
    PyObject *message_args;  // (message_obj,), the args of an instance made without a message
};

MessageClass message_classes[] = {
    {&BadRequest_type, "velmora.exceptions.BadRequest", 400, "Bad request"},
    {&Unauthorized_type, "velmora.exceptions.Unauthorized", 401, "Unauthorized"},
    {&Forbidden_type, "velmora.exceptions.Forbidden", 403, "Forbidden"},
    {&NotFound_type, "velmora.exceptions.NotFound", 404, "Not found"},
    {&Conflict_type, "velmora.exceptions.Conflict", 409, "Conflict"},
    {&UnsupportedMediaType_type, "velmora.exceptions.UnsupportedMediaType", 415,
     "Unsupported media type"},
};

const char *const message_param_names[] = {"message"};
const support::Param message_param_kinds[] = {{support::ParamKind::truth}};
const support::Signature message_signature{"__init__", message_param_names, 1, 0,
                                           message_param_kinds};

// One __init__ per class: the class whose __init__ runs decides the status
// and where the next __init__ is searched, not the instance's type.
template <std::size_t I>
int message_class_init(PyObject *self, PyObject *args, PyObject *kwds) {
    const MessageClass &cls = message_classes[I];
    support::BoundArgs<1> bound{Py_None};
    if (bound.bind_tuple(message_signature, args, kwds) < 0) return -1;
    PyObject *message = bound[0];
    int truth = support::is_true(message);
    if (truth < 0) return -1;
    if (truth) return init_next_with_status(cls.type, self, cls.status_obj, message, nullptr);
    return init_next_with_class_defaults(cls.type, self, cls.status, cls.status_obj,
                                         cls.message_obj, cls.message_args);
}

// ---- Subclasses without parameters -----------------------------------------

struct FixedClass {
    PyTypeObject *type;
    const char *name;
    int status;
    const char *message;
    PyObject *args;          // the pre-built (status, message) tuple
    PyObject *message_args;  // (message,), the args of every instance
};

FixedClass fixed_classes[] = {
    {&RangeNotSatisfiable_type, "velmora.exceptions.RangeNotSatisfiable", 416,
     "Range not satisfiable"},
    {&NotImplementedByServer_type, "velmora.exceptions.NotImplementedByServer", 501,
     "Not implemented by server"},
};

template <std::size_t I>
int fixed_class_init(PyObject *self, PyObject *args, PyObject *kwds) {
    const FixedClass &cls = fixed_classes[I];
    if (support::bind_no_init_args(args, kwds) < 0) return -1;
    return init_next_with_class_defaults(cls.type, self, cls.status, PyTuple_GET_ITEM(cls.args, 0),
                                         PyTuple_GET_ITEM(cls.args, 1), cls.message_args);
}

}  // namespace

int init_next_with_status(PyTypeObject *cls, PyObject *self, PyObject *status, PyObject *message,
                          PyObject *message_args) {
    const bool own_type = Py_IS_TYPE(self, cls);
    if (http_init_follows(cls, self, own_type)) {
        int32_t value;
        if (!support::to_int32(status, &value)) return -1;
        return init_with_status_value(self, value, message, message_args, own_type);
    }
    return call_next_init_with_status(cls, self, status, message);
}

void define_http_exception_types() {
    support::define_exception_type(HTTPException_type, "velmora.exceptions.HTTPException",
                                   sizeof(VelmoraHTTPException), http_exception_init,
                                   http_exception_getset);
    support::define_exception_types(message_classes, sizeof(VelmoraHTTPException),
                                    [](auto i) -> initproc { return &message_class_init<i>; });
    support::define_exception_types(fixed_classes, sizeof(VelmoraHTTPException),
                                    [](auto i) -> initproc { return &fixed_class_init<i>; });
}

int init_http_exception_constants() {
    default_http_message = PyUnicode_InternFromString("HTTP exception");
    if (!default_http_message) return -1;
    for (MessageClass &cls : message_classes) {
        cls.status_obj = PyLong_FromLong(cls.status);
        cls.message_obj = PyUnicode_InternFromString(cls.default_message);
        if (!cls.status_obj || !cls.message_obj) return -1;
        cls.message_args = PyTuple_Pack(1, cls.message_obj);
        if (!cls.message_args) return -1;
    }
    for (FixedClass &cls : fixed_classes) {
        cls.args = Py_BuildValue("(is)", cls.status, cls.message);
        if (!cls.args) return -1;
        cls.message_args = PyTuple_GetSlice(cls.args, 1, 2);
        if (!cls.message_args) return -1;
    }
    return 0;
}

}  // namespace velmora::exceptions
