/* Instance records of the velmora.exceptions types, for native code of the
 * framework that reads status codes and payloads without attribute lookups.
 * Usable from C and C++. Every record starts with the interpreter's exception
 * record, so a pointer to any of them is also a PyObject *. */
#ifndef VELMORA_EXCEPTIONS_H
#define VELMORA_EXCEPTIONS_H

#include <Python.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* HTTPException and its plain subclasses (BadRequest, NotFound, ...). */
struct __pyx_obj_7velmora_10exceptions_HTTPException {
    PyBaseExceptionObject __pyx_base;
    int32_t status;
};
typedef struct __pyx_obj_7velmora_10exceptions_HTTPException VelmoraHTTPException;

/* The four HTTP exceptions with a payload: one object reference after the
 * HTTPException record, never NULL (None when unset). For FailedRequestError
 * it is always a str or None. */
typedef struct {
    VelmoraHTTPException __pyx_base;
    PyObject *payload;
} VelmoraHTTPPayloadException;

struct __pyx_obj_7velmora_10exceptions_BadRequestFormat {
    VelmoraHTTPException __pyx_base;
    PyObject *inner_exception;
};
struct __pyx_obj_7velmora_10exceptions_InternalServerError {
    VelmoraHTTPException __pyx_base;
    PyObject *source_error;
};
struct __pyx_obj_7velmora_10exceptions_UnprocessableEntity {
    VelmoraHTTPException __pyx_base;
    PyObject *details;
};
struct __pyx_obj_7velmora_10exceptions_FailedRequestError {
    VelmoraHTTPException __pyx_base;
    PyObject *data;
};

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_EXCEPTIONS_H */
