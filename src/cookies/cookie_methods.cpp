// Cookie's clone (Python method and method-table slot), repr and comparison.
#include "cookies/cookie_constants.hpp"
#include "cookies/cookie.hpp"
#include "cookies/cookie_parts.hpp"
#include "module_support/args.hpp"
#include "module_support/ref.hpp"
#include "module_support/truth.hpp"

namespace velmora::cookies {

using support::Ref;

namespace {

// ---- clone -------------------------------------------------------------------

// A plain Cookie made by the Cookie type itself from what `self` holds; name
// and value go through attribute lookup, so overrides of them apply, and
// the constructor checks everything again.
VelmoraCookie *clone_builtin(VelmoraCookie *self) {
    PyObject *object = as_object(self);
    Ref name = Ref::steal(PyObject_GetAttr(object, constants.name));
    if (!name) return nullptr;
    Ref value = Ref::steal(PyObject_GetAttr(object, constants.value));
    if (!value) return nullptr;
    // Held: reading name and value may have run code that changed the fields.
    Ref expires = Ref::borrow(self->expires);
    Ref domain = Ref::borrow(self->domain);
    Ref path = Ref::borrow(self->path);
    Ref http_only = Ref::steal(PyBool_FromLong(self->http_only));
    Ref secure = Ref::steal(PyBool_FromLong(self->secure));
    Ref max_age = Ref::steal(PyLong_FromLongLong(self->max_age));
    if (!max_age) return nullptr;
    Ref same_site = Ref::steal(same_site_member(static_cast<uint32_t>(self->same_site)));
    if (!same_site) return nullptr;
    PyObject *const values[kCookieParamCount] = {
        name.get(),      value.get(),  expires.get(), domain.get(),    path.get(),
        http_only.get(), secure.get(), max_age.get(), same_site.get(),
    };
    return as_cookie(new_cookie(values));
}

const support::Signature clone_signature{"clone", nullptr, 0, 0};

PyObject *clone_method(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (support::BoundArgs<0>{}.bind_vector(clone_signature, args, static_cast<size_t>(nargs),
                                            kwnames) < 0) {
        return nullptr;
    }
    return as_object(clone_builtin(as_cookie(self)));
}

// Whether `method` is the built-in clone bound to an instance, as opposed to
// an override from a Python subclass.
bool is_builtin_clone(PyObject *method) {
    return PyCFunction_Check(method) &&
           PyCFunction_GetFunction(method) ==
               reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(clone_method));
}

// ---- repr --------------------------------------------------------------------

// An object as f-string text: a str unchanged, anything else formatted with
// the empty format string, as format(object, "") does.
PyObject *new_formatted_text(PyObject *object) {
    if (PyUnicode_CheckExact(object)) return Py_NewRef(object);
    return PyObject_Format(object, constants.empty_str);
}

// object[:3], for objects that take slices through their mapping protocol.
PyObject *first_three(PyObject *object) {
    PyMappingMethods *mapping = Py_TYPE(object)->tp_as_mapping;
    if (!mapping || !mapping->mp_subscript) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object is unsliceable", Py_TYPE(object)->tp_name);
        return nullptr;
    }
    return mapping->mp_subscript(object, constants.to_three);
}

// ---- comparison --------------------------------------------------------------

PyObject *compare_with_value(PyObject *self, PyObject *text) {
    Ref value = Ref::steal(PyObject_GetAttr(self, constants.value));
    if (!value) return nullptr;
    return PyObject_RichCompare(text, value.get(), Py_EQ);
}

// `self == other`: texts and bytes against the value, cookies by name and
// then value; anything else is left to the other operand.
PyObject *cookie_equals(PyObject *self, PyObject *other) {
    if (PyUnicode_Check(other)) return compare_with_value(self, other);
    if (PyBytes_Check(other)) {
        Ref text = Ref::steal(
            PyBytes_CheckExact(other)
                ? PyUnicode_DecodeUTF8(PyBytes_AS_STRING(other), PyBytes_GET_SIZE(other), nullptr)
                : PyObject_CallMethodNoArgs(other, constants.decode));
        if (!text) return nullptr;
        return compare_with_value(self, text.get());
    }
    if (!PyObject_TypeCheck(other, &Cookie_type)) Py_RETURN_NOTIMPLEMENTED;
    Ref other_name = Ref::steal(PyObject_GetAttr(other, constants.name));
    if (!other_name) return nullptr;
    Ref self_name = Ref::steal(PyObject_GetAttr(self, constants.name));
    if (!self_name) return nullptr;
    Ref names_equal = Ref::steal(PyObject_RichCompare(other_name.get(), self_name.get(), Py_EQ));
    if (!names_equal) return nullptr;
    int truth = support::is_true(names_equal.get());
    if (truth < 0) return nullptr;
    if (!truth) return names_equal.release();
    Ref other_value = Ref::steal(PyObject_GetAttr(other, constants.value));
    if (!other_value) return nullptr;
    Ref self_value = Ref::steal(PyObject_GetAttr(self, constants.value));
    if (!self_value) return nullptr;
    return PyObject_RichCompare(other_value.get(), self_value.get(), Py_EQ);
}

}  // namespace

VelmoraCookie *cookie_clone(VelmoraCookie *self, int skip_dispatch) {
    PyObject *object = as_object(self);
    PyTypeObject *type = Py_TYPE(object);
    if (!skip_dispatch && (type->tp_dictoffset != 0 || (type->tp_flags & Py_TPFLAGS_HEAPTYPE))) {
        Ref method = Ref::steal(PyObject_GetAttr(object, constants.clone));
        if (!method) return nullptr;
        if (!is_builtin_clone(method.get())) {
            Ref result = Ref::steal(PyObject_CallNoArgs(method.get()));
            if (!result) return nullptr;
            if (result.get() != Py_None && !PyObject_TypeCheck(result.get(), &Cookie_type)) {
                support::raise_cannot_convert(result.get(), kCookieTypeName);
                return nullptr;
            }
            return as_cookie(result.release());
        }
    }
    return clone_builtin(self);
}

PyObject *cookie_repr(PyObject *self) {
    Ref name = Ref::steal(PyObject_GetAttr(self, constants.name));
    if (!name) return nullptr;
    Ref name_text = Ref::steal(new_formatted_text(name.get()));
    if (!name_text) return nullptr;
    Ref value = Ref::steal(PyObject_GetAttr(self, constants.value));
    if (!value) return nullptr;
    Ref head = Ref::steal(first_three(value.get()));
    if (!head) return nullptr;
    Ref head_text = Ref::steal(new_formatted_text(head.get()));
    if (!head_text) return nullptr;
    return PyUnicode_FromFormat("<Cookie %U: %U...>", name_text.get(), head_text.get());
}

PyObject *cookie_richcompare(PyObject *self, PyObject *other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    // Property getters of subclasses and __eq__ run below; a caller that
    // compares objects it only borrows (an item of a list being emptied)
    // must not lose them halfway.
    Ref self_ref = Ref::borrow(self);
    Ref other_ref = Ref::borrow(other);
    Ref equal = Ref::steal(cookie_equals(self, other));
    if (!equal || op == Py_EQ || equal.get() == Py_NotImplemented) return equal.release();
    int truth = support::is_true(equal.get());
    if (truth < 0) return nullptr;
    return PyBool_FromLong(!truth);
}

PyMethodDef cookie_methods[] = {
    {"clone", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(clone_method)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace velmora::cookies
