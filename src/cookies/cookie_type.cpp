// The Cookie type object: record, allocation, garbage collection and the
// constructor, with its vectorcall entry for calls of the type itself.
#include "cookies/cookie_constants.hpp"
#include "cookies/imported_types.hpp"
#include "cookies/cookie.hpp"
#include "cookies/cookie_parts.hpp"
#include "cookies/module_steps.hpp"
#include "module_support/args.hpp"
#include "module_support/convert.hpp"
#include "module_support/ref.hpp"
#include "module_support/static_type.hpp"
#include "module_support/truth.hpp"
#include "module_support/type_call.hpp"
#include "module_support/type_dict.hpp"

#include <cstddef>

namespace velmora::cookies {

using support::Ref;

// Other native modules compile against velmora/cookies.h: the record this
// type allocates must be exactly the one declared there.
static_assert(offsetof(VelmoraCookie, __pyx_vtab) == sizeof(PyObject));
static_assert(offsetof(VelmoraCookie, _name) == sizeof(PyObject) + sizeof(void *));
static_assert(offsetof(VelmoraCookie, _value) == offsetof(VelmoraCookie, _name) + 8);
static_assert(offsetof(VelmoraCookie, expires) == offsetof(VelmoraCookie, _name) + 16);
static_assert(offsetof(VelmoraCookie, domain) == offsetof(VelmoraCookie, _name) + 24);
static_assert(offsetof(VelmoraCookie, path) == offsetof(VelmoraCookie, _name) + 32);
static_assert(offsetof(VelmoraCookie, http_only) == offsetof(VelmoraCookie, _name) + 40);
static_assert(offsetof(VelmoraCookie, secure) == offsetof(VelmoraCookie, _name) + 44);
static_assert(offsetof(VelmoraCookie, max_age) == offsetof(VelmoraCookie, _name) + 48);
static_assert(offsetof(VelmoraCookie, same_site) == offsetof(VelmoraCookie, _name) + 56);
static_assert(sizeof(VelmoraCookie) == offsetof(VelmoraCookie, _name) + 64);
static_assert(sizeof(VelmoraCookie{}.http_only) == 4 && sizeof(VelmoraCookie{}.secure) == 4);
static_assert(sizeof(VelmoraCookie{}.max_age) == 8 && sizeof(VelmoraCookie{}.same_site) == 4);

PyTypeObject Cookie_type;

namespace {

VelmoraCookieMethods cookie_method_table;

const char *const param_names[kCookieParamCount] = {
    "name", "value", "expires", "domain", "path", "http_only", "secure", "max_age", "same_site",
};
using support::ParamKind;
const support::Param param_kinds[kCookieParamCount] = {
    {ParamKind::str_or_none},
    {ParamKind::str_or_none},
    {ParamKind::instance_or_none, datetime_type},
    {ParamKind::str_or_none},
    {ParamKind::str_or_none},
    {ParamKind::truth},
    {ParamKind::truth},
    {ParamKind::integer},
    {ParamKind::integer},
};
const support::Signature init_signature{"__init__", param_names, kCookieParamCount, 2, param_kinds};

// The parameters of a call with the values of those a caller leaves out:
// nullptr marks a native default (flags off, max_age -1, same_site 0).
struct CookieArgs : support::BoundArgs<kCookieParamCount> {
    CookieArgs() noexcept
        : BoundArgs(nullptr, nullptr, Py_None, Py_None, Py_None, nullptr, nullptr, nullptr,
                    nullptr) {}
};

int flag_or_false(PyObject *value) {
    return value ? support::is_true(value) : 0;
}

// Runs `self.<name> = value`: the property of Cookie itself directly, since
// the type's attributes cannot change, or whatever a subclass put there.
int assign(PyObject *self, PyObject *attr, setter own_setter, PyObject *value) {
    if (Py_IS_TYPE(self, &Cookie_type)) return own_setter(self, value, nullptr);
    return PyObject_SetAttr(self, attr, value);
}

// The constructor body, in its order: flags, max_age, same_site, the type
// checks, the name and value setters, then direct stores.
int init_from_values(PyObject *self, PyObject *const *values) {
    int http_only = flag_or_false(values[kParamHttpOnly]);
    if (http_only < 0) return -1;
    int secure = flag_or_false(values[kParamSecure]);
    if (secure < 0) return -1;
    int64_t max_age = -1;
    if (values[kParamMaxAge] && !support::to_int64(values[kParamMaxAge], &max_age)) return -1;
    uint32_t same_site = VELMORA_SAME_SITE_UNDEFINED;
    if (values[kParamSameSite] && !to_same_site_code(values[kParamSameSite], &same_site)) {
        return -1;
    }
    PyObject *expires = values[kParamExpires];
    if (expires != Py_None && !datetime_type()) return -1;
    // name, value, expires, domain, path: the typed parameters, in order.
    if (!support::check_params(init_signature, values, kParamName, kParamHttpOnly)) return -1;
    if (assign(self, constants.name, cookie_set_name, values[kParamName]) < 0) return -1;
    if (assign(self, constants.value, cookie_set_value, values[kParamValue]) < 0) return -1;
    VelmoraCookie *cookie = as_cookie(self);
    support::replace_field(cookie->expires, values[kParamExpires]);
    support::replace_field(cookie->domain, values[kParamDomain]);
    support::replace_field(cookie->path, values[kParamPath]);
    cookie->http_only = http_only;
    cookie->secure = secure;
    cookie->max_age = max_age;
    cookie->same_site = static_cast<VelmoraCookieSameSiteMode>(same_site);
    return 0;
}

// ---- Slots -----------------------------------------------------------------

// Allocation takes and ignores any arguments; the constructor binds them.
PyObject *cookie_tp_new(PyTypeObject *type, PyObject *, PyObject *) {
    return alloc_cookie(type);
}

int cookie_tp_init(PyObject *self, PyObject *args, PyObject *kwds) {
    CookieArgs bound;
    if (bound.bind_tuple(init_signature, args, kwds) < 0) return -1;
    return init_from_values(self, bound.data());
}

// Calls of the Cookie type itself: allocate and initialise straight from the
// caller's arguments. Heap subclasses do not inherit this entry; should one
// ever arrive here, it takes the generic path so that its __init__ runs.
PyObject *cookie_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf,
                            PyObject *kwnames) {
    if (callable != reinterpret_cast<PyObject *>(&Cookie_type)) {
        return support::call_type_generic(callable, args, nargsf, kwnames);
    }
    CookieArgs bound;
    if (bound.bind_vector(init_signature, args, nargsf, kwnames) < 0) return nullptr;
    Ref self = Ref::steal(alloc_cookie(&Cookie_type));
    if (!self || init_from_values(self.get(), bound.data()) < 0) return nullptr;
    return self.release();
}

void cookie_dealloc(PyObject *self) {
    VelmoraCookie *cookie = as_cookie(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(cookie->_name);
    Py_CLEAR(cookie->_value);
    Py_CLEAR(cookie->expires);
    Py_CLEAR(cookie->domain);
    Py_CLEAR(cookie->path);
    Py_TYPE(self)->tp_free(self);
}

// Only expires can lead back to the cookie (a datetime subclass instance
// may refer to anything); the other fields hold str or None.
int cookie_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(as_cookie(self)->expires);
    return 0;
}

int cookie_clear(PyObject *self) {
    support::replace_field(as_cookie(self)->expires, Py_None);
    return 0;
}

void define_cookie_type() {
    support::define_type(Cookie_type,
                         {
                             .name = "velmora.cookies.Cookie",
                             .basicsize = sizeof(VelmoraCookie),
                             .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
                             .dealloc = cookie_dealloc,
                             .repr = cookie_repr,
                             // Equality without hashing: cookies are mutable.
                             .hash = PyObject_HashNotImplemented,
                             .traverse = cookie_traverse,
                             .clear = cookie_clear,
                             .richcompare = cookie_richcompare,
                             .methods = cookie_methods,
                             .getset = cookie_getset,
                             .init = cookie_tp_init,
                             .new_ = cookie_tp_new,
                             .vectorcall = cookie_vectorcall,
                         });
}

}  // namespace

PyObject *alloc_cookie(PyTypeObject *type) {
    PyObject *self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    // tp_alloc zeroes the record: flags, max_age and same_site start at 0.
    VelmoraCookie *cookie = as_cookie(self);
    cookie->__pyx_vtab = &cookie_method_table;
    cookie->_name = Py_NewRef(Py_None);
    cookie->_value = Py_NewRef(Py_None);
    cookie->expires = Py_NewRef(Py_None);
    cookie->domain = Py_NewRef(Py_None);
    cookie->path = Py_NewRef(Py_None);
    return self;
}

PyObject *new_cookie(PyObject *const *values) {
    Ref self = Ref::steal(alloc_cookie(&Cookie_type));
    if (!self || init_from_values(self.get(), values) < 0) return nullptr;
    return self.release();
}

int ready_cookie_type() {
    // A second attempt after a failed import finds the type ready already.
    if (!(Cookie_type.tp_flags & Py_TPFLAGS_READY)) define_cookie_type();
    cookie_method_table.clone = cookie_clone;
    if (PyType_Ready(&Cookie_type) < 0) return -1;
    Ref vtable = Ref::steal(PyCapsule_New(&cookie_method_table, nullptr, nullptr));
    if (!vtable) return -1;
    return support::set_type_dict_item(&Cookie_type, "__pyx_vtable__", vtable.get());
}

}  // namespace velmora::cookies
