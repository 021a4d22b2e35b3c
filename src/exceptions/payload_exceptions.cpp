// The HTTP exceptions that carry one object besides status and message:
// BadRequestFormat, InternalServerError, UnprocessableEntity and
// FailedRequestError. All four share one record (the HTTPException record
// followed by the payload reference), so allocation, deallocation and the
// collector's traversal are written once for all of them.
#include "exceptions/exception_types.hpp"

#include "module_support/args.hpp"
#include "module_support/convert.hpp"
#include "module_support/next_init.hpp"
#include "module_support/ref.hpp"
#include "module_support/static_type.hpp"

#include <cstddef>
#include <cstdint>

namespace velmora::exceptions {

using support::Ref;

PyTypeObject BadRequestFormat_type;
PyTypeObject InternalServerError_type;
PyTypeObject UnprocessableEntity_type;
PyTypeObject FailedRequestError_type;

namespace {

// Native code of the framework may read a payload through the named record or
// through the shared one; both must put it in the same place.
#define VELMORA_SAME_OFFSET(record, field)                                            \
    static_assert(offsetof(struct __pyx_obj_7velmora_10exceptions_##record, field) == \
                  offsetof(VelmoraHTTPPayloadException, payload))
VELMORA_SAME_OFFSET(BadRequestFormat, inner_exception);
VELMORA_SAME_OFFSET(InternalServerError, source_error);
VELMORA_SAME_OFFSET(UnprocessableEntity, details);
VELMORA_SAME_OFFSET(FailedRequestError, data);
#undef VELMORA_SAME_OFFSET

PyObject *unprocessable_status;           // 422
PyObject *unprocessable_default_message;  // "Unprocessable entity"
PyObject *internal_error_args;            // (500, "Internal server error")

PyTypeObject *exception_base() {
    return reinterpret_cast<PyTypeObject *>(PyExc_Exception);
}

PyObject *&payload_field(PyObject *self) {
    return reinterpret_cast<VelmoraHTTPPayloadException *>(self)->payload;
}

// ---- Record life cycle, shared by the four types ----------------------------

PyObject *payload_new(PyTypeObject *type, PyObject *args, PyObject *kwds) {
    PyObject *self = exception_base()->tp_new(type, args, kwds);
    if (!self) return nullptr;
    payload_field(self) = Py_NewRef(Py_None);
    return self;
}

void payload_dealloc(PyObject *self) {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(payload_field(self));
    exception_base()->tp_dealloc(self);
}

// For the payloads that can hold any object, and so close a cycle.
int payload_traverse(PyObject *self, visitproc visit, void *arg) {
    if (int rc = exception_base()->tp_traverse(self, visit, arg)) return rc;
    Py_VISIT(payload_field(self));
    return 0;
}

int payload_clear(PyObject *self) {
    exception_base()->tp_clear(self);
    support::replace_field(payload_field(self), Py_None);
    return 0;
}

// A payload that only ever holds a str or None cannot close a cycle.
int str_payload_traverse(PyObject *self, visitproc visit, void *arg) {
    return exception_base()->tp_traverse(self, visit, arg);
}

int str_payload_clear(PyObject *self) {
    return exception_base()->tp_clear(self);
}

// ---- Properties -------------------------------------------------------------

PyObject *payload_get(PyObject *self, void *) {
    return Py_NewRef(payload_field(self));
}

// Any object; deleting stores None.
int payload_set(PyObject *self, PyObject *value, void *) {
    support::replace_field(payload_field(self), value ? value : Py_None);
    return 0;
}

// Exactly a str or None; deleting stores None.
int str_payload_set(PyObject *self, PyObject *value, void *) {
    return support::store_str_or_none(payload_field(self), value);
}

// One property per type, the payload under the type's own name.
#define PAYLOAD_PROPERTY(name, setter)                                             \
    PyGetSetDef name##_getset[] = {{#name, payload_get, setter, nullptr, nullptr}, \
                                   {nullptr, nullptr, nullptr, nullptr, nullptr}}

PAYLOAD_PROPERTY(inner_exception, payload_set);
PAYLOAD_PROPERTY(source_error, nullptr);  // read-only
PAYLOAD_PROPERTY(details, payload_set);
PAYLOAD_PROPERTY(data, str_payload_set);

#undef PAYLOAD_PROPERTY

// ---- Constructors -----------------------------------------------------------

// For the classes whose base is HTTPException: runs the next __init__ with
// the status and the message, and only when it succeeds stores `payload`.
int init_with_status_then_store(PyTypeObject *cls, PyObject *self, PyObject *status,
                                PyObject *message, PyObject *payload) {
    if (init_next_with_status(cls, self, status, message) < 0) return -1;
    support::replace_field(payload_field(self), payload);
    return 0;
}

const char *const bad_request_format_params[] = {"message", "inner_exception"};
const support::Param bad_request_format_kinds[] = {{support::ParamKind::str_or_none},
                                                   {support::ParamKind::any}};
const support::Signature bad_request_format_signature{"__init__", bad_request_format_params, 2, 1,
                                                      bad_request_format_kinds};

int bad_request_format_init(PyObject *self, PyObject *args, PyObject *kwds) {
    support::BoundArgs<2> bound{nullptr, Py_None};
    if (bound.bind_tuple(bad_request_format_signature, args, kwds) < 0) return -1;
    if (support::init_next_with_message(&BadRequestFormat_type, self, bad_request_format_signature,
                                        0, bound[0]) < 0) {
        return -1;
    }
    support::replace_field(payload_field(self), bound[1]);
    return 0;
}

const char *const internal_error_params[] = {"source_error"};
const support::Param internal_error_kinds[] = {
    {support::ParamKind::instance_or_none, exception_base}};
const support::Signature internal_error_signature{"__init__", internal_error_params, 1, 0,
                                                  internal_error_kinds};

int internal_error_init(PyObject *self, PyObject *args, PyObject *kwds) {
    support::BoundArgs<1> bound{Py_None};
    if (bound.bind_tuple(internal_error_signature, args, kwds) < 0) return -1;
    PyObject *source_error = bound[0];
    if (!support::check_param(internal_error_signature, 0, source_error)) return -1;
    return init_with_status_then_store(&InternalServerError_type, self,
                                       PyTuple_GET_ITEM(internal_error_args, 0),
                                       PyTuple_GET_ITEM(internal_error_args, 1), source_error);
}

const char *const unprocessable_params[] = {"message", "details"};
const support::Param unprocessable_kinds[] = {{support::ParamKind::truth},
                                              {support::ParamKind::any}};
const support::Signature unprocessable_signature{"__init__", unprocessable_params, 2, 0,
                                                 unprocessable_kinds};

int unprocessable_init(PyObject *self, PyObject *args, PyObject *kwds) {
    support::BoundArgs<2> bound{Py_None, Py_None};
    if (bound.bind_tuple(unprocessable_signature, args, kwds) < 0) return -1;
    int truth = PyObject_IsTrue(bound[0]);
    if (truth < 0) return -1;
    PyObject *message = truth ? bound[0] : unprocessable_default_message;
    return init_with_status_then_store(&UnprocessableEntity_type, self, unprocessable_status,
                                       message, bound[1]);
}

const char *const failed_request_params[] = {"status", "data"};
const support::Param failed_request_kinds[] = {{support::ParamKind::integer},
                                               {support::ParamKind::str_or_none}};
const support::Signature failed_request_signature{"__init__", failed_request_params, 2, 2,
                                                  failed_request_kinds};

int failed_request_init(PyObject *self, PyObject *args, PyObject *kwds) {
    support::BoundArgs<2> bound;
    if (bound.bind_tuple(failed_request_signature, args, kwds) < 0) return -1;
    int32_t status;
    if (!support::to_int32(bound[0], &status)) return -1;
    PyObject *data = bound[1];
    if (!support::check_param(failed_request_signature, 1, data)) return -1;
    // %S gives a str itself and "None" for None.
    Ref message = Ref::steal(PyUnicode_FromFormat(
        "The response status code does not indicate success: %d. Response body: %S",
        static_cast<int>(status), data));
    if (!message) return -1;
    Ref status_obj = Ref::steal(PyLong_FromLong(status));
    if (!status_obj) return -1;
    return init_with_status_then_store(&FailedRequestError_type, self, status_obj.get(),
                                       message.get(), data);
}

// ---- Type table -------------------------------------------------------------

struct PayloadClass {
    PyTypeObject *type;
    const char *name;
    initproc init;
    PyGetSetDef *getset;
    bool payload_holds_any_object;  // else only ever a str or None
};

const PayloadClass payload_classes[] = {
    {&BadRequestFormat_type, "velmora.exceptions.BadRequestFormat", bad_request_format_init,
     inner_exception_getset, true},
    {&InternalServerError_type, "velmora.exceptions.InternalServerError", internal_error_init,
     source_error_getset, true},
    {&UnprocessableEntity_type, "velmora.exceptions.UnprocessableEntity", unprocessable_init,
     details_getset, true},
    {&FailedRequestError_type, "velmora.exceptions.FailedRequestError", failed_request_init,
     data_getset, false},
};

}  // namespace

void define_payload_exception_types() {
    for (const PayloadClass &cls : payload_classes) {
        PyTypeObject &type = *cls.type;
        support::define_exception_type(type, cls.name, sizeof(VelmoraHTTPPayloadException),
                                       cls.init, cls.getset);
        type.tp_flags |= Py_TPFLAGS_HAVE_GC;
        type.tp_new = payload_new;
        type.tp_dealloc = payload_dealloc;
        type.tp_traverse = cls.payload_holds_any_object ? payload_traverse : str_payload_traverse;
        type.tp_clear = cls.payload_holds_any_object ? payload_clear : str_payload_clear;
    }
}

int init_payload_exception_constants() {
    unprocessable_status = PyLong_FromLong(422);
    unprocessable_default_message = PyUnicode_InternFromString("Unprocessable entity");
    internal_error_args = Py_BuildValue("(is)", 500, "Internal server error");
    if (!unprocessable_status || !unprocessable_default_message || !internal_error_args) {
        return -1;
    }
    return 0;
}

}  // namespace velmora::exceptions
