// The standard-library names the module body imports: datetime (nothing
// bound), quote and unquote from urllib.parse, parsedate_to_datetime from
// email.utils. Once a function is bound, stdlib_reads.cpp decides whether
// its native stand-in may run.
#include "cookies/stdlib_bindings.hpp"

#include "cookies/cookie_constants.hpp"
#include "cookies/imported_types.hpp"
#include "cookies/module_steps.hpp"
#include "cookies/stdlib_reads.hpp"
#include "module_support/ref.hpp"

#include <cstddef>

namespace velmora::cookies {

using support::Ref;

BoundFunctions bound;
StandardSlots slots;
PyDateTime_CAPI *datetime_capi = nullptr;

namespace {

// `from <module_name> import <names>`: a module already in sys.modules that
// has every name is used as it is; otherwise the interpreter's import runs
// with the module namespace as globals. Each name is read as an attribute,
// then as the submodule "<module>.<name>" of sys.modules. Fills `out` with
// new references.
template <std::size_t count>
int import_from(const char *module_name, const char *const (&names)[count], Ref (&out)[count]) {
    PyObject *sys_modules = PyImport_GetModuleDict();
    Ref name_objects[count];
    for (std::size_t i = 0; i < count; ++i) {
        name_objects[i] = Ref::steal(PyUnicode_InternFromString(names[i]));
        if (!name_objects[i]) return -1;
    }
    Ref module;
    {
        PyObject *found;
        if (PyDict_GetItemStringRef(sys_modules, module_name, &found) < 0) return -1;
        module = Ref::steal(found);
    }
    bool complete = static_cast<bool>(module);
    for (std::size_t i = 0; complete && i < count; ++i) {
        int has = PyObject_HasAttrWithError(module.get(), name_objects[i].get());
        if (has < 0) return -1;
        complete = has == 1;
    }
    if (!complete) {
        Ref from_list = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
        if (!from_list) return -1;
        for (std::size_t i = 0; i < count; ++i) {
            PyTuple_SET_ITEM(from_list.get(), i, name_objects[i].new_ref());
        }
        Ref dotted = Ref::steal(PyUnicode_FromString(module_name));
        if (!dotted) return -1;
        module = Ref::steal(PyImport_ImportModuleLevelObject(dotted.get(), frame.dict, nullptr,
                                                             from_list.get(), 0));
        if (!module) return -1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        PyObject *found;
        int rc = PyObject_GetOptionalAttr(module.get(), name_objects[i].get(), &found);
        if (rc < 0) return -1;
        if (rc == 0) {
            Ref submodule =
                Ref::steal(PyUnicode_FromFormat("%s.%U", module_name, name_objects[i].get()));
            if (!submodule) return -1;
            rc = PyDict_GetItemRef(sys_modules, submodule.get(), &found);
            if (rc < 0) return -1;
            if (rc == 0) {
                PyErr_Format(PyExc_ImportError, "cannot import name %S", name_objects[i].get());
                return -1;
            }
        }
        out[i] = Ref::steal(found);
    }
    return 0;
}

// Binds `value` and remembers it as the function bound at import.
int bind_remembered(PyObject *name, const Ref &value, PyObject *&slot) {
    if (PyDict_SetItem(frame.dict, name, value.get()) < 0) return -1;
    Py_XSETREF(slot, value.new_ref());
    return 0;
}

}  // namespace

int import_datetime_module() {
    const char *const names[] = {"datetime"};
    Ref found[1];
    if (import_from("datetime", names, found) < 0) return -1;
    if (!datetime_capi) {
        auto *api = static_cast<PyDateTime_CAPI *>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
        if (!api) {
            PyErr_Clear();
        } else if (api->DateTimeType == imported.datetime) {
            datetime_capi = api;
        }
    }
    return 0;
}

int bind_url_quoting() {
    const char *const names[] = {"quote", "unquote"};
    Ref found[2];
    if (import_from("urllib.parse", names, found) < 0) return -1;
    if (bind_remembered(constants.quote_name, found[0], bound.quote) < 0) return -1;
    if (bind_remembered(constants.unquote_name, found[1], bound.unquote) < 0) return -1;
    slots.quote = frame.names.slot(constants.quote_name);
    slots.unquote = frame.names.slot(constants.unquote_name);
    if (!slots.quote || !slots.unquote) {
        PyErr_SetString(PyExc_SystemError, "no room for the cached names");
        return -1;
    }
    trust_url_quoting();
    return 0;
}

int bind_date_parser() {
    const char *const names[] = {"parsedate_to_datetime"};
    Ref found[1];
    if (import_from("email.utils", names, found) < 0) return -1;
    if (bind_remembered(constants.parsedate_to_datetime_name, found[0],
                        bound.parsedate_to_datetime) < 0) {
        return -1;
    }
    slots.parsedate_to_datetime = frame.names.slot(constants.parsedate_to_datetime_name);
    if (!slots.parsedate_to_datetime) {
        PyErr_SetString(PyExc_SystemError, "no room for the cached names");
        return -1;
    }
    trust_date_parser();
    trust_strftime();
    return 0;
}

}  // namespace velmora::cookies
