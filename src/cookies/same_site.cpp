// CookieSameSiteMode: the Python IntEnum of the SameSite codes, and the
// conversion of a native code into its member.
#include "cookies/cookie.hpp"
#include "cookies/module_steps.hpp"
#include "module_support/ref.hpp"

namespace vc {

using vm::Ref;

namespace {

// The private base of CookieSameSiteMode. Codes that name no mode (a cookie
// may carry any 32-bit code) become pseudo-members, kept in the value map so
// that every lookup of the same code gives the same object, and shown with
// their number since they have no name.
constexpr const char kBaseSource[] = R"(
class _CookieSameSiteModeBase(IntEnum):
    @classmethod
    def _missing_(cls, value):
        pseudo_member = int.__new__(cls, value)
        if not hasattr(pseudo_member, "_value_"):
            pseudo_member._value_ = value
        pseudo_member._name_ = None
        value2member_map = getattr(cls, "_value2member_map_", None)
        if value2member_map is not None:
            return value2member_map.setdefault(value, pseudo_member)
        return pseudo_member

    def __repr__(self):
        if self._name_ is None:
            return "<" + type(self).__name__ + ": " + repr(self._value_) + ">"
        return IntEnum.__repr__(self)
)";

constexpr const char kBaseName[] = "_CookieSameSiteModeBase";

// Builds the private base on `int_enum` by running its class body.
PyObject *create_base(PyObject *int_enum) {
    Ref globals = Ref::steal(PyDict_New());
    if (!globals) return nullptr;
    Ref module_name = Ref::steal(PyUnicode_FromString(frame.dotted_name));
    if (!module_name || PyDict_SetItemString(globals.get(), "__name__", module_name.get()) < 0 ||
        PyDict_SetItemString(globals.get(), "__builtins__", frame.builtins) < 0 ||
        PyDict_SetItemString(globals.get(), "IntEnum", int_enum) < 0) {
        return nullptr;
    }
    Ref code =
        Ref::steal(Py_CompileString(kBaseSource, "velmora/cookies/same_site", Py_file_input));
    if (!code) return nullptr;
    Ref result = Ref::steal(PyEval_EvalCode(code.get(), globals.get(), globals.get()));
    if (!result) return nullptr;
    PyObject *base;
    if (PyDict_GetItemStringRef(globals.get(), kBaseName, &base) == 0) {
        PyErr_Format(PyExc_RuntimeError, "%s was not created", kBaseName);
    }
    return base;
}

// [("UNDEFINED", 0), ("LAX", 1), ("STRICT", 2), ("NONE", 3)]
PyObject *member_pairs() {
    Ref pairs = Ref::steal(PyList_New(4));
    if (!pairs) return nullptr;
    for (Py_ssize_t code = 0; code < 4; ++code) {
        PyObject *pair = Py_BuildValue("(On)", constants.same_site_names[code], code);
        if (!pair) return nullptr;
        PyList_SET_ITEM(pairs.get(), code, pair);
    }
    return pairs.release();
}

// The namespace's "__module__" where it holds one, else the dotted name.
PyObject *enum_module_name() {
    PyObject *found;
    int rc = PyDict_GetItemStringRef(frame.dict, "__module__", &found);
    if (rc != 0) return found;  // the entry, or nullptr on error
    return PyUnicode_FromString(frame.dotted_name);
}

}  // namespace

int create_same_site_mode() {
    Ref enum_module =
        Ref::steal(PyImport_ImportModuleLevel("enum", frame.dict, nullptr, nullptr, 0));
    if (!enum_module) return -1;
    Ref int_enum = Ref::steal(PyObject_GetAttrString(enum_module.get(), "IntEnum"));
    if (!int_enum) return -1;
    Ref base = Ref::steal(create_base(int_enum.get()));
    if (!base) return -1;
    Ref pairs = Ref::steal(member_pairs());
    if (!pairs) return -1;
    Ref module_name = Ref::steal(enum_module_name());
    if (!module_name) return -1;
    Ref args = Ref::steal(PyTuple_Pack(2, constants.CookieSameSiteMode, pairs.get()));
    Ref kwargs = Ref::steal(PyDict_New());
    if (!args || !kwargs || PyDict_SetItemString(kwargs.get(), "module", module_name.get()) < 0) {
        return -1;
    }
    Ref mode = Ref::steal(PyObject_Call(base.get(), args.get(), kwargs.get()));
    if (!mode) return -1;
    return PyDict_SetItem(frame.dict, constants.CookieSameSiteMode, mode.get());
}

PyObject *same_site_member(uint32_t code) {
    Ref mode = Ref::steal(frame.lookup(constants.CookieSameSiteMode));
    if (!mode) return nullptr;
    if (code < 4) return PyObject_GetAttr(mode.get(), constants.same_site_names[code]);
    // The code as the unsigned number it is: codes from 2**31 up stay positive.
    Ref number = Ref::steal(PyLong_FromUnsignedLong(code));
    if (!number) return nullptr;
    return PyObject_CallOneArg(mode.get(), number.get());
}

}  // namespace vc
