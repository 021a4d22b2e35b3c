// velmora._pickle_probe: a test-only module that runs the shared pickle
// support on a type of every member kind (`Probe`, base object, no instance
// dictionary) and on an exception type without fields (`ProbeError`). Built
// only with VELMORA_TEST_MODULE.
#include <Python.h>

#include "module_support/frame.hpp"
#include "module_support/pickle.hpp"
#include "module_support/ref.hpp"
#include "module_support/static_type.hpp"

#include <cstddef>
#include <cstdint>

extern "C" {
__attribute__((visibility("default"))) int __pyx_module_is_main_velmora___pickle_probe = 0;
}

namespace probe {

namespace {

using velmora::support::Ref;

struct ProbeObject {
    PyObject ob_base;
    PyObject *obj;
    PyObject *text;
    PyObject *when;
    int32_t small;
    int64_t big;
    int32_t on;
    uint32_t mode;
};

PyTypeObject Probe_type;
PyTypeObject ProbeError_type;
PyTypeObject *datetime_type = nullptr;
PyObject *mode_name = nullptr;  // "ProbeMode", looked up at call time

extern velmora::support::ModuleFrame frame;

PyObject *mode_member(uint32_t code) {
    Ref mode = Ref::steal(frame.lookup(mode_name));
    if (!mode) return nullptr;
    Ref number = Ref::steal(PyLong_FromUnsignedLong(code));
    if (!number) return nullptr;
    return PyObject_CallOneArg(mode.get(), number.get());
}

PyTypeObject *imported_datetime() {
    if (!datetime_type)
        PyErr_SetString(PyExc_SystemError, "datetime type used before it was imported");
    return datetime_type;
}

constexpr velmora::support::PickleHooks probe_hooks{
    mode_member, "__pyx_t_7velmora_12_pickle_probe_Mode", imported_datetime};

constexpr velmora::support::StateMember probe_members[] = {
    VELMORA_STATE_MEMBER(ProbeObject, big, int64),
    VELMORA_STATE_MEMBER(ProbeObject, mode, unsigned_enum),
    VELMORA_STATE_MEMBER(ProbeObject, obj, object),
    VELMORA_STATE_MEMBER(ProbeObject, on, flag),
    VELMORA_STATE_MEMBER(ProbeObject, small, int32),
    VELMORA_STATE_MEMBER(ProbeObject, text, str_or_none),
    VELMORA_STATE_MEMBER(ProbeObject, when, datetime_or_none),
};
constexpr velmora::support::StateLayout probe_state =
    velmora::support::state_layout(probe_members, "big, mode, obj, on, small, text, when",
                                   {0x4618793, 0x58ab46d, 0x264c93e}, &probe_hooks);

velmora::support::PickleType probe_pickles[] = {
    VELMORA_PICKLE_ROW(Probe_type, Probe, probe_state),
    VELMORA_PICKLE_ROW(ProbeError_type, ProbeError, velmora::support::no_members_state),
};

// ---- Probe -------------------------------------------------------------------

PyObject *probe_new(PyTypeObject *type, PyObject *, PyObject *) {
    auto *self = reinterpret_cast<ProbeObject *>(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    self->obj = Py_NewRef(Py_None);
    self->text = Py_NewRef(Py_None);
    self->when = Py_NewRef(Py_None);
    return reinterpret_cast<PyObject *>(self);
}

int probe_traverse(PyObject *op, visitproc visit, void *arg) {
    auto *self = reinterpret_cast<ProbeObject *>(op);
    Py_VISIT(self->obj);
    Py_VISIT(self->when);
    return 0;
}

int probe_clear(PyObject *op) {
    auto *self = reinterpret_cast<ProbeObject *>(op);
    velmora::support::replace_field(self->obj, Py_None);
    velmora::support::replace_field(self->when, Py_None);
    return 0;
}

void probe_dealloc(PyObject *op) {
    auto *self = reinterpret_cast<ProbeObject *>(op);
    PyObject_GC_UnTrack(op);
    Py_CLEAR(self->obj);
    Py_CLEAR(self->text);
    Py_CLEAR(self->when);
    // A Python subclass's own deallocator releases its type afterwards.
    Py_TYPE(op)->tp_free(op);
}

PyMemberDef probe_fields[] = {
    {"obj", Py_T_OBJECT_EX, offsetof(ProbeObject, obj), Py_READONLY, nullptr},
    {"text", Py_T_OBJECT_EX, offsetof(ProbeObject, text), Py_READONLY, nullptr},
    {"when", Py_T_OBJECT_EX, offsetof(ProbeObject, when), Py_READONLY, nullptr},
    {"small", Py_T_INT, offsetof(ProbeObject, small), Py_READONLY, nullptr},
    {"big", Py_T_LONGLONG, offsetof(ProbeObject, big), Py_READONLY, nullptr},
    {"on", Py_T_INT, offsetof(ProbeObject, on), Py_READONLY, nullptr},
    {"mode", Py_T_UINT, offsetof(ProbeObject, mode), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

void define_types() {
    velmora::support::define_type(
        Probe_type, {
                        .name = "velmora._pickle_probe.Probe",
                        .basicsize = sizeof(ProbeObject),
                        .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
                        .dealloc = probe_dealloc,
                        .traverse = probe_traverse,
                        .clear = probe_clear,
                        .members = probe_fields,
                        .new_ = probe_new,
                    });
    velmora::support::define_exception_type(ProbeError_type, "velmora._pickle_probe.ProbeError",
                                            sizeof(PyBaseExceptionObject), nullptr, nullptr,
                                            reinterpret_cast<PyTypeObject *>(PyExc_Exception));
}

// ---- Module ------------------------------------------------------------------

int ready_bind_prepare(velmora::support::ModuleFrame &f, PyTypeObject &type) {
    if (PyType_Ready(&type) < 0) return -1;
    if (f.bind(velmora::support::short_type_name(&type), reinterpret_cast<PyObject *>(&type)) < 0)
        return -1;
    return velmora::support::prepare_pickling(f, probe_pickles, &type);
}

int init_constants(velmora::support::ModuleFrame &) {
    mode_name = PyUnicode_InternFromString("ProbeMode");
    return mode_name ? 0 : -1;
}

int body(velmora::support::ModuleFrame &f) {
    if (!Probe_type.tp_name) define_types();
    if (ready_bind_prepare(f, Probe_type) < 0 || ready_bind_prepare(f, ProbeError_type) < 0) {
        return -1;
    }
    if (!datetime_type) {
        Ref module = Ref::steal(PyImport_ImportModule("datetime"));
        if (!module) return -1;
        PyObject *type = PyObject_GetAttrString(module.get(), "datetime");
        if (!type) return -1;
        datetime_type = reinterpret_cast<PyTypeObject *>(type);
    }
    // Plain numbers until a test binds an enumeration here.
    if (f.bind("ProbeMode", reinterpret_cast<PyObject *>(&PyLong_Type)) < 0) return -1;
    for (velmora::support::PickleType &row : probe_pickles) {
        if (velmora::support::bind_state_methods(row) < 0) return -1;
    }
    for (velmora::support::PickleType &row : probe_pickles) {
        if (velmora::support::bind_reconstructor(f, row) < 0) return -1;
    }
    return 0;
}

velmora::support::ModuleFrame frame = VELMORA_MODULE_FRAME(
    _pickle_probe, .builtin_names = nullptr, .init_constants = init_constants, .body = body);

}  // namespace

}  // namespace probe

VELMORA_MODULE_INIT(_pickle_probe, probe::frame)
