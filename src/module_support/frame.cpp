#include "module_support/frame.hpp"

#include "module_support/lookup.hpp"
#include "module_support/ref.hpp"

#include <frameobject.h>

#include <cstdio>

namespace velmora::support {

namespace {

// Copies one attribute of the module spec into the new module's namespace.
int copy_spec_attr(PyObject *spec, PyObject *dict, const char *from, const char *to,
                   bool allow_none) {
    PyObject *value;
    int found = PyObject_GetOptionalAttrString(spec, from, &value);
    if (found < 0) return -1;
    if (found == 0) return 0;
    Ref held = Ref::steal(value);
    if (!allow_none && value == Py_None) return 0;
    return PyDict_SetItemString(dict, to, value);
}

}  // namespace

PyObject *ModuleFrame::create(PyObject *spec) {
    ModuleFrame &f = *this;
    int64_t current = PyInterpreterState_GetID(PyThreadState_Get()->interp);
    if (current == -1) return nullptr;
    if (f.owner == -1) {
        f.owner = current;
    } else if (current != f.owner) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (f.module) return Py_NewRef(f.module);

    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    PyObject *dict = PyModule_GetDict(module.get());
    if (!dict) return nullptr;
    if (copy_spec_attr(spec, dict, "loader", "__loader__", true) < 0 ||
        copy_spec_attr(spec, dict, "origin", "__file__", true) < 0 ||
        copy_spec_attr(spec, dict, "parent", "__package__", true) < 0 ||
        copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", false) < 0) {
        return nullptr;
    }
    return module.release();
}

namespace {

// Adds a traceback entry naming the module's initialisation to the pending exception.
void add_init_traceback(ModuleFrame &f) {
    PyObject *exc = PyErr_GetRaisedException();
    PyCodeObject *code = PyCode_NewEmpty(f.source_file, f.init_frame, 1);
    PyFrameObject *frame = nullptr;
    if (code) frame = PyFrame_New(PyThreadState_Get(), code, f.dict, nullptr);
    PyErr_SetRaisedException(exc);
    if (frame) PyTraceBack_Here(frame);
    Py_XDECREF(frame);
    Py_XDECREF(code);
}

// Warns when the running interpreter is not the version whose headers the
// module was compiled with (the micro version and release level aside).
int check_version(ModuleFrame &f) {
    const int major = static_cast<int>((Py_Version >> 24) & 0xff);
    const int minor = static_cast<int>((Py_Version >> 16) & 0xff);
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
    char message[200];
    std::snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, f.dotted_name, "does not match", major,
                  minor);
    return PyErr_WarnEx(nullptr, message, 1);
}

int register_in_sys_modules(ModuleFrame &f) {
    if (*f.main_flag) {
        if (PyObject_SetAttrString(f.module, "__name__",
                                   Ref::steal(PyUnicode_FromString("__main__")).get()) < 0)
            return -1;
    }
    PyObject *modules = PyImport_GetModuleDict();
    PyObject *existing;
    int found = PyDict_GetItemStringRef(modules, f.dotted_name, &existing);
    if (found < 0) return -1;
    Py_XDECREF(existing);
    if (found == 0 && PyDict_SetItemString(modules, f.dotted_name, f.module) < 0) return -1;
    return 0;
}

int check_builtins(ModuleFrame &f) {
    for (const char *const *name = f.builtin_names; name && *name; ++name) {
        PyObject *value;
        int found = PyObject_GetOptionalAttrString(f.builtins, *name, &value);
        if (found < 0) return -1;
        if (found == 0) {
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", *name);
            return -1;
        }
        Py_DECREF(value);
    }
    return 0;
}

int run_body(ModuleFrame &f) {
    if (!f.dict) {
        f.dict = PyModule_GetDict(f.module);
        if (!f.dict) return -1;
        Py_INCREF(f.dict);
    }
    if (!f.builtins) {
        f.builtins = PyImport_AddModuleRef("builtins");
        if (!f.builtins) return -1;
    }
    if (!f.module_name) {
        f.module_name = PyUnicode_InternFromString(f.dotted_name);
        if (!f.module_name) return -1;
    }
    if (PyObject_SetAttrString(f.module, "__builtins__", f.builtins) < 0) return -1;
    if (check_version(f) < 0) return -1;
    if (!f.constants_ready) {
        if (f.init_constants(f) < 0) return -1;
        f.constants_ready = true;
    }
    if (register_in_sys_modules(f) < 0) return -1;
    if (check_builtins(f) < 0) return -1;
    if (f.cache_names) f.names.start(f.dict, f.builtins);
    if (f.body(f) < 0) return -1;
    Ref test = Ref::steal(PyDict_New());
    if (!test || PyDict_SetItemString(f.dict, "__test__", test.get()) < 0) return -1;
    return 0;
}

}  // namespace

int ModuleFrame::exec(PyObject *module) {
    ModuleFrame &f = *this;
    if (f.module) {
        if (f.module == module) return 0;
        PyErr_SetString(PyExc_RuntimeError, f.reinit_error);
        return -1;
    }
    f.module = Py_NewRef(module);
    // The namespace is that of the module being executed: a fresh module after
    // a failed attempt has a namespace of its own.
    Py_CLEAR(f.dict);
    if (run_body(f) < 0) {
        if (f.dict && f.constants_ready) add_init_traceback(f);
        Py_CLEAR(f.module);
        return -1;
    }
    return 0;
}

PyObject *ModuleFrame::init_with(PyObject *(*create)(PyObject *, PyModuleDef *),
                                 int (*exec)(PyObject *)) {
    slots[0] = {Py_mod_create, reinterpret_cast<void *>(create)};
    slots[1] = {Py_mod_exec, reinterpret_cast<void *>(exec)};
    slots[2] = {0, nullptr};
    def = PyModuleDef{PyModuleDef_HEAD_INIT};
    def.m_name = short_name;
    def.m_size = 0;
    def.m_slots = slots;
    return PyModuleDef_Init(&def);
}

PyObject *ModuleFrame::lookup(PyObject *name) const {
    if (cache_names) {
        if (NameCache::Slot *slot = names.slot(name)) return names.lookup(*slot);
    }
    return lookup_global(dict, builtins, name);
}

int ModuleFrame::bind(const char *name, PyObject *value) const {
    return PyDict_SetItemString(dict, name, value);
}

}  // namespace velmora::support
