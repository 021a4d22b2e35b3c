// The extension types of velmora.exceptions and what their module body needs.
#pragma once

#include <Python.h>

#include <cstdint>

#include "velmora/exceptions.h"

namespace velmora::exceptions {

// Types readied by the module body, in its order; each names its base.
struct TypeRow {
    PyTypeObject *type;
    PyObject *const *base;  // the variable holding the base, known only at run time
};

// HTTPException and its plain subclasses (http_exception.cpp).
extern PyTypeObject HTTPException_type;
extern PyTypeObject BadRequest_type;
extern PyTypeObject Unauthorized_type;
extern PyTypeObject Forbidden_type;
extern PyTypeObject NotFound_type;
extern PyTypeObject Conflict_type;
extern PyTypeObject UnsupportedMediaType_type;
extern PyTypeObject RangeNotSatisfiable_type;
extern PyTypeObject NotImplementedByServer_type;

// Fills the slots of every type of this file; called once before readying.
void define_http_exception_types();
// Creates the constants these types use; 0, or -1 with an exception set.
int init_http_exception_constants();

// HTTP exceptions with a payload field (payload_exceptions.cpp).
extern PyTypeObject BadRequestFormat_type;
extern PyTypeObject InternalServerError_type;
extern PyTypeObject UnprocessableEntity_type;
extern PyTypeObject FailedRequestError_type;

void define_payload_exception_types();
int init_payload_exception_constants();

// Errors of the framework itself, not tied to a status (framework_errors.cpp).
extern PyTypeObject MessageAborted_type;
extern PyTypeObject InvalidArgument_type;
extern PyTypeObject InvalidOperation_type;
extern PyTypeObject InvalidExceptionHandler_type;

void define_framework_error_types();
int init_framework_error_constants();

// super(cls, self).__init__(status, message) for a class whose base is
// HTTPException: HTTPException.__init__ runs directly when it is the one that
// follows `cls` for this instance, the generic call runs otherwise.
// `message_args`, when not nullptr, is a prebuilt (message,) for the
// exception base. 0, or -1 with an exception set.
int init_next_with_status(PyTypeObject *cls, PyObject *self, PyObject *status, PyObject *message,
                          PyObject *message_args = nullptr);

}  // namespace velmora::exceptions
