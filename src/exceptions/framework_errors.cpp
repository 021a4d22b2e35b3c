// Errors of the framework itself that are not HTTP errors: MessageAborted,
// InvalidArgument, InvalidOperation and InvalidExceptionHandler. They add no
// fields to the exception record.
#include "exceptions/exception_types.hpp"

#include "module_support/args.hpp"
#include "module_support/next_init.hpp"
#include "module_support/ref.hpp"
#include "module_support/static_type.hpp"

#include <cstddef>

namespace velmora::exceptions {

using support::Ref;

PyTypeObject MessageAborted_type;
PyTypeObject InvalidArgument_type;
PyTypeObject InvalidOperation_type;
PyTypeObject InvalidExceptionHandler_type;

namespace {

PyObject *inner_exception_name;  // "inner_exception"

// ---- Errors with a fixed message and no parameters --------------------------

struct FixedMessageError {
    PyTypeObject *type;
    const char *name;
    const char *message;
    PyObject *args;  // the pre-built (message,) tuple
};

FixedMessageError fixed_message_errors[] = {
    {&MessageAborted_type, "velmora.exceptions.MessageAborted",
     "The message was aborted before the client sent its whole content."},
    {&InvalidExceptionHandler_type, "velmora.exceptions.InvalidExceptionHandler",
     "Invalid Exception handler. Exception handlers must be asynchronous functions with "
     "signature: async def handler(app: Application, request: Request, exc: Exception)"},
};

template <std::size_t I>
int fixed_message_init(PyObject *self, PyObject *args, PyObject *kwds) {
    if (support::bind_no_init_args(args, kwds) < 0) return -1;
    return support::call_next_init(fixed_message_errors[I].type, self,
                                   fixed_message_errors[I].args);
}

// ---- Errors with the caller's message ---------------------------------------

const char *const message_error_params[] = {"message", "inner_exception"};
const support::Param message_error_kinds[] = {{support::ParamKind::str_or_none},
                                              {support::ParamKind::any}};

struct MessageError {
    PyTypeObject *type;
    const char *name;
    support::Signature signature;
    bool keeps_inner_exception;  // as an ordinary instance attribute
};

const MessageError message_errors[] = {
    {&InvalidArgument_type,
     "velmora.exceptions.InvalidArgument",
     {"__init__", message_error_params, 1, 1, message_error_kinds},
     false},
    {&InvalidOperation_type,
     "velmora.exceptions.InvalidOperation",
     {"__init__", message_error_params, 2, 1, message_error_kinds},
     true},
};

template <std::size_t I>
int message_error_init(PyObject *self, PyObject *args, PyObject *kwds) {
    const MessageError &cls = message_errors[I];
    support::BoundArgs<2> bound{nullptr, Py_None};
    if (bound.bind_tuple(cls.signature, args, kwds) < 0) return -1;
    if (support::init_next_with_message(cls.type, self, cls.signature, 0, bound[0]) < 0) return -1;
    if (!cls.keeps_inner_exception) return 0;
    return PyObject_SetAttr(self, inner_exception_name, bound[1]);
}

}  // namespace

void define_framework_error_types() {
    support::define_exception_types(fixed_message_errors, sizeof(PyBaseExceptionObject),
                                    [](auto i) -> initproc { return &fixed_message_init<i>; });
    support::define_exception_types(message_errors, sizeof(PyBaseExceptionObject),
                                    [](auto i) -> initproc { return &message_error_init<i>; });
}

int init_framework_error_constants() {
    inner_exception_name = PyUnicode_InternFromString("inner_exception");
    if (!inner_exception_name) return -1;
    for (FixedMessageError &error : fixed_message_errors) {
        error.args = Py_BuildValue("(s)", error.message);
        if (!error.args) return -1;
    }
    return 0;
}

}  // namespace velmora::exceptions
