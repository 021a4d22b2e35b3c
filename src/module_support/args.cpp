#include "module_support/args.hpp"

#include "module_support/ref.hpp"

namespace velmora::support {

void raise_arg_count(const char *func, Py_ssize_t min, Py_ssize_t max, Py_ssize_t given) {
    const char *how;
    Py_ssize_t expected;
    if (given < min) {
        expected = min;
        how = "at least";
    } else {
        expected = max;
        how = "at most";
    }
    if (min == max) how = "exactly";
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 func, how, expected, expected == 1 ? "" : "s", given);
}

namespace {

// Keyword arguments seen as parallel arrays of names and values.
struct Keywords {
    PyObject *const *names;
    PyObject *const *values;
    Py_ssize_t count;
};

// The interned names of the signature, made once; a name that cannot be
// interned stays matched by text only, so a failure here is no error.
void intern_names(const Signature &sig) {
    bool complete = true;
    for (Py_ssize_t i = 0; i < sig.nparams && i < kMaxParams; ++i) {
        if (sig.interned[i]) continue;
        sig.interned[i] = PyUnicode_InternFromString(sig.names[i]);
        if (!sig.interned[i]) {
            PyErr_Clear();
            complete = false;
        }
    }
    sig.interned_ready = complete;
}

// The parameter a keyword names: by identity with the interned names first,
// then by text for keywords built at run time. -1 when it names none (also
// for keywords that are not str).
Py_ssize_t find_param(const Signature &sig, PyObject *key) {
    for (Py_ssize_t i = 0; i < sig.nparams; ++i) {
        if (sig.interned[i] == key) return i;
    }
    if (!PyUnicode_Check(key)) return -1;
    for (Py_ssize_t i = 0; i < sig.nparams; ++i) {
        if (sig.interned[i] != key && PyUnicode_EqualToUTF8(key, sig.names[i])) return i;
    }
    return -1;
}

template <bool Own>
void store(PyObject **values, uint32_t *owned, Py_ssize_t i, PyObject *value) {
    if constexpr (Own) {
        values[i] = Py_NewRef(value);
        *owned |= uint32_t{1} << i;
    } else {
        (void)owned;
        values[i] = value;
    }
}

// Positional arguments first, then keywords. Errors, in this order: too many
// positional arguments; a required parameter that is missing (counting the
// parameters before it as given); then, in keyword order, the first keyword
// that is not a str, names no parameter or repeats a positional argument.
template <bool Own>
int bind(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, const Keywords &kw,
         PyObject **values, uint32_t *owned) {
    if (nargs > sig.nparams) {
        raise_arg_count(sig.func_name, sig.nrequired, sig.nparams, nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) store<Own>(values, owned, i, args[i]);
    if (kw.count == 0) {
        if (nargs < sig.nrequired) {
            raise_arg_count(sig.func_name, sig.nrequired, sig.nparams, nargs);
            return -1;
        }
        return 0;
    }
    if (!sig.interned_ready) intern_names(sig);
    // One pass over the keywords; keyword k goes to parameter `found[j]`.
    PyObject *found[kMaxParams] = {};
    bool stray = false;  // a keyword that binds nothing: looked at again below
    for (Py_ssize_t k = 0; k < kw.count; ++k) {
        Py_ssize_t j = find_param(sig, kw.names[k]);
        if (j < nargs) {
            stray = true;
        } else if (!found[j]) {
            found[j] = kw.values[k];
        }
    }
    for (Py_ssize_t i = nargs; i < sig.nparams; ++i) {
        if (found[i]) {
            store<Own>(values, owned, i, found[i]);
        } else if (i < sig.nrequired) {
            raise_arg_count(sig.func_name, sig.nrequired, sig.nparams, i);
            return -1;
        }
    }
    if (!stray) return 0;
    for (Py_ssize_t k = 0; k < kw.count; ++k) {
        PyObject *key = kw.names[k];
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", sig.func_name);
            return -1;
        }
        Py_ssize_t j = find_param(sig, key);
        if (j >= nargs) continue;
        if (j >= 0) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         sig.func_name, key);
        } else {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         sig.func_name, key);
        }
        return -1;
    }
    return 0;
}

template <bool Own>
int bind_vector_impl(const Signature &sig, PyObject *const *args, Py_ssize_t nargs,
                     PyObject *kwnames, PyObject **values, uint32_t *owned) {
    Keywords kw{nullptr, nullptr, 0};
    if (kwnames) {
        kw.count = PyTuple_GET_SIZE(kwnames);
        kw.names = &PyTuple_GET_ITEM(kwnames, 0);
        kw.values = args + nargs;
    }
    return bind<Own>(sig, args, nargs, kw, values, owned);
}

}  // namespace

int bind_vector(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **values) {
    return bind_vector_impl<false>(sig, args, PyVectorcall_NARGS(nargs), kwnames, values, nullptr);
}

namespace args_detail {

int bind_vector_owned(const Signature &sig, PyObject *const *args, size_t nargsf, PyObject *kwnames,
                      PyObject **values, uint32_t *owned) {
    return bind_vector_impl<true>(sig, args, PyVectorcall_NARGS(nargsf), kwnames, values, owned);
}

int bind_tuple_owned(const Signature &sig, PyObject *args, PyObject *kwds, PyObject **values,
                     uint32_t *owned) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject *const *items = &PyTuple_GET_ITEM(args, 0);
    Py_ssize_t count = kwds ? PyDict_GET_SIZE(kwds) : 0;
    // No arguments at all, as exceptions are mostly made: the defaults stand.
    if (count == 0 && nargs == 0 && sig.nrequired == 0) return 0;
    if (count == 0)
        return bind<true>(sig, items, nargs, Keywords{nullptr, nullptr, 0}, values, owned);
    // Small keyword sets live on the stack; larger ones come from the heap.
    // Nothing between reading the dictionary and taking the references runs
    // Python code, so the borrowed entries are still the dictionary's.
    PyObject *stack[16];
    PyObject **buf = stack;
    if (count > 8) {
        buf = PyMem_New(PyObject *, 2 * count);
        if (!buf) {
            PyErr_NoMemory();
            return -1;
        }
    }
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (k < count && PyDict_Next(kwds, &pos, &key, &value)) {
        buf[k] = key;
        buf[count + k] = value;
        ++k;
    }
    int rc = bind<true>(sig, items, nargs, Keywords{buf, buf + count, k}, values, owned);
    if (buf != stack) PyMem_Free(buf);
    return rc;
}

void raise_too_few_slots(const Signature &sig) {
    PyErr_Format(PyExc_SystemError, "%s(): more parameters than bound-argument slots",
                 sig.func_name);
}

}  // namespace args_detail

int bind_no_init_args(PyObject *args, PyObject *kwds) {
    static const Signature no_params_init{"__init__", nullptr, 0, 0};
    return BoundArgs<0>{}.bind_tuple(no_params_init, args, kwds);
}

static void raise_arg_type(PyObject *value, PyTypeObject *type, const char *param) {
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", param,
                 type->tp_name, Py_TYPE(value)->tp_name);
}

bool check_arg_exact_or_none(PyObject *value, PyTypeObject *type, const char *param) {
    if (value == Py_None || Py_IS_TYPE(value, type)) return true;
    raise_arg_type(value, type, param);
    return false;
}

bool check_arg_instance_or_none(PyObject *value, PyTypeObject *type, const char *param) {
    if (value == Py_None || PyObject_TypeCheck(value, type)) return true;
    raise_arg_type(value, type, param);
    return false;
}

namespace args_detail {

bool check_param_value(const Signature &sig, Py_ssize_t i, PyObject *value) {
    const Param &param = sig.params[i];
    switch (param.kind) {
        case ParamKind::str_or_none:
            return check_arg_exact_or_none(value, &PyUnicode_Type, sig.names[i]);
        case ParamKind::bytes_or_none:
            return check_arg_exact_or_none(value, &PyBytes_Type, sig.names[i]);
        case ParamKind::tuple_or_none:
            return check_arg_exact_or_none(value, &PyTuple_Type, sig.names[i]);
        case ParamKind::instance_or_none: {
            PyTypeObject *type = param.type();
            return type && check_arg_instance_or_none(value, type, sig.names[i]);
        }
        case ParamKind::any:
        case ParamKind::integer:
        case ParamKind::truth:
            return true;
    }
    return true;
}

}  // namespace args_detail

bool check_params(const Signature &sig, PyObject *const *values, Py_ssize_t from, Py_ssize_t to) {
    for (Py_ssize_t i = from; i < to; ++i) {
        if (!check_param(sig, i, values[i])) return false;
    }
    return true;
}

int store_str_or_none(PyObject *&field, PyObject *value) {
    if (!value) value = Py_None;
    if (value != Py_None && !PyUnicode_CheckExact(value)) {
        raise_expected("str", value);
        return -1;
    }
    replace_field(field, value);
    return 0;
}

bool check_none_or_instance(PyObject *value, PyTypeObject *(*type)()) {
    if (value == Py_None) return true;
    PyTypeObject *target = type();
    if (!target) return false;
    if (PyObject_TypeCheck(value, target)) return true;
    raise_cannot_convert(value, target->tp_name);
    return false;
}

void raise_none_not_allowed() {
    PyErr_SetString(PyExc_TypeError,
                    "cannot pass None into a C function argument that is declared 'not None'");
}

void raise_expected(const char *expected, PyObject *got) {
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", expected, Py_TYPE(got)->tp_name);
}

void raise_cannot_convert(PyObject *got, const char *target) {
    PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "", Py_TYPE(got)->tp_name,
                 target);
}

}  // namespace velmora::support
