// The frame shared by both extension modules: two-phase initialisation, the
// one-interpreter rule, the held module and the failure traceback entry.
#pragma once

#include <Python.h>

#include <cstdint>

#include "module_support/lookup.hpp"

namespace velmora::support {

struct ModuleFrame {
    // Filled by the library.
    const char *short_name;            // "exceptions"
    const char *dotted_name;           // "velmora.exceptions"
    const char *reinit_error;          // RuntimeError text of a second execution
    const char *init_frame;            // "init velmora.exceptions"
    const char *source_file;           // file name shown in the traceback entry
    int *main_flag;                    // the exported main-program flag
    const char *const *builtin_names;  // built-ins the body needs, nullptr-terminated
    int (*init_constants)(ModuleFrame &);
    int (*body)(ModuleFrame &);
    // Whether call-time lookups are kept by dictionary watchers (a library
    // whose functions look names up on every call).
    bool cache_names = false;

    // Process-wide state, written only during import.
    int64_t owner = -1;
    PyObject *module = nullptr;
    PyObject *dict = nullptr;      // module namespace, held for the process
    PyObject *builtins = nullptr;  // the builtins module, held for the process
    // The dotted name as an interned str, made before the constants: the
    // __module__ of the module's functions and classes.
    PyObject *module_name = nullptr;
    bool constants_ready = false;
    mutable NameCache names;  // call-time lookups, kept while valid

    PyModuleDef_Slot slots[3];
    PyModuleDef def;

    // Returns the module definition, for PyInit_<name>: `init<frame>()`.
    template <ModuleFrame &F>
    static PyObject *init() {
        return F.init_with(&create_slot<F>, &exec_slot<F>);
    }
    // Module-level name lookup at call time (namespace, then builtins).
    PyObject *lookup(PyObject *name) const;
    // Binds `value` in the module namespace under `name`.
    int bind(const char *name, PyObject *value) const;

private:
    // The slots know their frame at compile time: the execute slot may be
    // handed a module that was not created from this library's definition.
    template <ModuleFrame &F>
    static PyObject *create_slot(PyObject *spec, PyModuleDef *) {
        return F.create(spec);
    }
    template <ModuleFrame &F>
    static int exec_slot(PyObject *module) {
        return F.exec(module);
    }
    PyObject *init_with(PyObject *(*create)(PyObject *, PyModuleDef *), int (*exec)(PyObject *));
    PyObject *create(PyObject *spec);
    int exec(PyObject *module);
};

}  // namespace velmora::support

// The frame of the module velmora.<name>: its names, its texts and its
// main-program flag (`__pyx_module_is_main_velmora__<name>`, defined by the
// module) follow from the short name; the fields the module fills itself
// (builtin_names, init_constants, body, cache_names) follow as designated
// initializers.
// clang-format off
#define VELMORA_MODULE_FRAME(name, ...)                                                   \
    ::velmora::support::ModuleFrame {                                                              \
        .short_name = #name,                                                         \
        .dotted_name = "velmora." #name,                                             \
        .reinit_error = "Module '" #name "' has already been imported. "             \
                        "Re-initialisation is not supported.",                       \
        .init_frame = "init velmora." #name,                                         \
        .source_file = "velmora/" #name,                                             \
        .main_flag = &__pyx_module_is_main_velmora__##name,                          \
        __VA_ARGS__                                                                  \
    }
// clang-format on

// The module's initialisation entry, PyInit_<name>, for the frame `frame`.
#define VELMORA_MODULE_INIT(name, frame)                       \
    PyMODINIT_FUNC PyInit_##name(void) {                       \
        return ::velmora::support::ModuleFrame::init<frame>(); \
    }
