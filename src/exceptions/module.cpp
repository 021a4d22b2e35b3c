// velmora.exceptions: module frame and module body.
#include "exceptions/exception_types.hpp"
#include "exceptions/pickle_states.hpp"

#include "module_support/frame.hpp"
#include "module_support/static_type.hpp"

// An embedding program may set this before importing the module to have it
// run as its main module.
extern "C" {
__attribute__((visibility("default"))) int __pyx_module_is_main_velmora__exceptions = 0;
}

namespace velmora::exceptions {

namespace {

PyObject *const http_base = reinterpret_cast<PyObject *>(&HTTPException_type);
PyObject *const bad_request_base = reinterpret_cast<PyObject *>(&BadRequest_type);

// Module body order; every base comes before its subclasses.
const TypeRow type_rows[] = {
    {&MessageAborted_type, &PyExc_Exception},
    {&HTTPException_type, &PyExc_Exception},
    {&BadRequest_type, &http_base},
    {&BadRequestFormat_type, &bad_request_base},
    {&NotFound_type, &http_base},
    {&InternalServerError_type, &http_base},
    {&InvalidArgument_type, &PyExc_Exception},
    {&InvalidOperation_type, &PyExc_Exception},
    {&UnsupportedMediaType_type, &http_base},
    {&UnprocessableEntity_type, &http_base},
    {&FailedRequestError_type, &http_base},
    {&InvalidExceptionHandler_type, &PyExc_Exception},
    {&Unauthorized_type, &http_base},
    {&Forbidden_type, &http_base},
    {&Conflict_type, &http_base},
    {&RangeNotSatisfiable_type, &http_base},
    {&NotImplementedByServer_type, &http_base},
};

int ready_and_bind(support::ModuleFrame &frame, const TypeRow &row) {
    PyTypeObject *type = row.type;
    type->tp_base = reinterpret_cast<PyTypeObject *>(*row.base);
    if (PyType_Ready(type) < 0) return -1;
    if (frame.bind(support::short_type_name(type), reinterpret_cast<PyObject *>(type)) < 0)
        return -1;
    return prepare_pickling(frame, type);
}

int init_constants(support::ModuleFrame &) {
    if (init_http_exception_constants() < 0) return -1;
    if (init_payload_exception_constants() < 0) return -1;
    return init_framework_error_constants();
}

int body(support::ModuleFrame &frame) {
    // A retried import after a failure must not wipe types already readied.
    if (!(HTTPException_type.tp_flags & Py_TPFLAGS_READY)) {
        define_http_exception_types();
        define_payload_exception_types();
        define_framework_error_types();
    }
    for (const TypeRow &row : type_rows) {
        if (ready_and_bind(frame, row) < 0) return -1;
    }
    return bind_pickling(frame);
}

const char *const builtin_names[] = {"super", nullptr};

support::ModuleFrame frame = VELMORA_MODULE_FRAME(exceptions, .builtin_names = builtin_names,
                                                  .init_constants = init_constants, .body = body);

}  // namespace

}  // namespace velmora::exceptions

VELMORA_MODULE_INIT(exceptions, velmora::exceptions::frame)
