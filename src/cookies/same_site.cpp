// CookieSameSiteMode: the Python IntEnum of the SameSite codes, and the
// conversion of a native code into its member.
#include "cookies/module.hpp"
#include "cookies/cookie_constants.hpp"
#include "cookies/cookie.hpp"
#include "cookies/module_steps.hpp"
#include "module_support/ref.hpp"
#include "module_support/type_dict.hpp"

namespace velmora::cookies {

using support::Ref;

namespace {

// CookieSameSiteMode as the module body created it, and the four members read
// from it. The name is still looked up on every call; only when the lookup
// finds this very class, and the class and its metaclass are unchanged since
// the member was read (the version tag of a type changes whenever it or one
// of its bases is modified), and the member still has the type it had then,
// is the member read then reused. A member is kept only when attribute lookup
// provably returns the very object in the class dictionary (see cacheable).
struct MemberCache {
    PyObject *mode = nullptr;
    PyObject *members[4] = {};
    unsigned int versions[4] = {};       // the class's tag when the member was read
    unsigned int meta_versions[4] = {};  // its metaclass's tag then
    PyTypeObject *member_types[4] = {};  // the member's type then
};
MemberCache cache;

// Starts the cache over for a newly created enumeration (a class, as the
// functional interface of enum makes it).
void reset_cache(PyObject *mode) {
    Py_XSETREF(cache.mode, PyType_Check(mode) ? Py_NewRef(mode) : nullptr);
    for (int code = 0; code < 4; ++code) {
        Py_CLEAR(cache.members[code]);
        cache.versions[code] = 0;
        cache.meta_versions[code] = 0;
        cache.member_types[code] = nullptr;
    }
}

// Whether attribute lookup of `name` on the class `type` gives `member`, the
// object it just gave, on every later call while the three version tags stay
// as they are: the metaclass looks attributes up as `type` itself does and
// none of its classes defines the name (so no metaclass descriptor or
// attribute takes part), and the class dictionary entry found along the MRO
// is `member` itself, whose type has no __get__ (so no descriptor of the
// class ran) and cannot gain one unnoticed: it is the class itself, whose tag
// is compared, or a type whose attributes cannot change. 1, 0, or -1 with an
// exception set.
int cacheable(PyTypeObject *type, PyTypeObject *meta, PyObject *name, PyObject *member) {
    if (meta->tp_getattro != PyType_Type.tp_getattro) return 0;
    PyTypeObject *member_type = Py_TYPE(member);
    if (member_type->tp_descr_get) return 0;
    if (member_type != type && !PyType_HasFeature(member_type, Py_TPFLAGS_IMMUTABLETYPE)) {
        return 0;
    }
    PyObject *found;
    int rc = support::find_in_mro(meta, name, &found);
    Py_XDECREF(found);
    if (rc != 0) return rc < 0 ? -1 : 0;
    rc = support::find_in_mro(type, name, &found);
    if (rc <= 0) return rc;
    Py_DECREF(found);
    return found == member ? 1 : 0;
}

// Whether the class and its metaclass are as they were when their tags were read.
bool unchanged(PyObject *mode, PyTypeObject *meta, unsigned int version,
               unsigned int meta_version) {
    return Py_TYPE(mode) == meta &&
           reinterpret_cast<PyTypeObject *>(mode)->tp_version_tag == version &&
           meta->tp_version_tag == meta_version;
}

// The member of `mode` (found by the lookup) for a code from 0 to 3.
PyObject *named_member(PyObject *mode, uint32_t code) {
    if (mode != cache.mode) return PyObject_GetAttr(mode, constants.same_site_names[code]);
    auto *type = reinterpret_cast<PyTypeObject *>(mode);
    PyTypeObject *meta = Py_TYPE(mode);
    if (cache.versions[code] != 0 && cache.versions[code] == type->tp_version_tag &&
        cache.meta_versions[code] == meta->tp_version_tag &&
        Py_TYPE(cache.members[code]) == cache.member_types[code]) {
        return Py_NewRef(cache.members[code]);
    }
    // Held: the lookup below may run code that assigns the class's __class__.
    Ref meta_ref = Ref::borrow(reinterpret_cast<PyObject *>(meta));
    // Tags are assigned lazily; without both there is nothing to compare with.
    const bool tagged =
        PyUnstable_Type_AssignVersionTag(type) && PyUnstable_Type_AssignVersionTag(meta);
    const unsigned int version = type->tp_version_tag;
    const unsigned int meta_version = meta->tp_version_tag;
    PyObject *name = constants.same_site_names[code];
    Ref member = Ref::steal(PyObject_GetAttr(mode, name));
    if (!member) return nullptr;
    if (!tagged || !unchanged(mode, meta, version, meta_version)) return member.release();
    PyTypeObject *member_type = Py_TYPE(member.get());
    int keep = cacheable(type, meta, name, member.get());
    if (keep < 0) return nullptr;
    // Judged again: the dictionary walks may have run code that changed a type.
    if (keep && unchanged(mode, meta, version, meta_version) &&
        Py_TYPE(member.get()) == member_type) {
        Py_XSETREF(cache.members[code], member.new_ref());
        cache.versions[code] = version;
        cache.meta_versions[code] = meta_version;
        cache.member_types[code] = member_type;
    }
    return member.release();
}

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
    if (PyDict_SetItemString(globals.get(), "__name__", frame.module_name) < 0 ||
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
    // A str of its own rather than the frame's interned name, which the
    // reconstructors carry: pickle writes an object it has seen before in the
    // same pickle as a back-reference, so sharing the object would change the
    // bytes of every Cookie pickle from those that stored pickles hold.
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
    if (PyDict_SetItem(frame.dict, constants.CookieSameSiteMode, mode.get()) < 0) return -1;
    reset_cache(mode.get());
    return 0;
}

PyObject *same_site_member(uint32_t code) {
    Ref mode = Ref::steal(frame.lookup(constants.CookieSameSiteMode));
    if (!mode) return nullptr;
    if (code < 4) return named_member(mode.get(), code);
    // The code as the unsigned number it is: codes from 2**31 up stay positive.
    Ref number = Ref::steal(PyLong_FromUnsignedLong(code));
    if (!number) return nullptr;
    return PyObject_CallOneArg(mode.get(), number.get());
}

}  // namespace velmora::cookies
