#include "module_support/args.hpp"

namespace vm {

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

Py_ssize_t find_param(const Signature &sig, PyObject *key) {
    for (Py_ssize_t i = 0; i < sig.nparams; ++i) {
        if (PyUnicode_EqualToUTF8(key, sig.names[i])) return i;
    }
    return -1;
}

PyObject *find_keyword(const Keywords &kw, const char *name) {
    for (Py_ssize_t k = 0; k < kw.count; ++k) {
        PyObject *key = kw.names[k];
        if (PyUnicode_Check(key) && PyUnicode_EqualToUTF8(key, name)) return kw.values[k];
    }
    return nullptr;
}

int bind(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, const Keywords &kw,
         PyObject **values) {
    if (nargs > sig.nparams) {
        raise_arg_count(sig.func_name, sig.nrequired, sig.nparams, nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) values[i] = args[i];
    if (kw.count == 0) {
        if (nargs < sig.nrequired) {
            raise_arg_count(sig.func_name, sig.nrequired, sig.nparams, nargs);
            return -1;
        }
        return 0;
    }
    Py_ssize_t left = kw.count;
    for (Py_ssize_t i = nargs; i < sig.nparams; ++i) {
        PyObject *v = left > 0 ? find_keyword(kw, sig.names[i]) : nullptr;
        if (v) {
            values[i] = v;
            --left;
        } else if (i < sig.nrequired) {
            // A missing required parameter counts the parameters before it as given.
            raise_arg_count(sig.func_name, sig.nrequired, sig.nparams, i);
            return -1;
        }
    }
    if (left == 0) return 0;
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

}  // namespace

int bind_vector(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **values) {
    nargs = PyVectorcall_NARGS(nargs);
    Keywords kw{nullptr, nullptr, 0};
    if (kwnames) {
        kw.count = PyTuple_GET_SIZE(kwnames);
        kw.names = &PyTuple_GET_ITEM(kwnames, 0);
        kw.values = args + nargs;
    }
    return bind(sig, args, nargs, kw, values);
}

int bind_tuple(const Signature &sig, PyObject *args, PyObject *kwds, PyObject **values) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject *const *items = &PyTuple_GET_ITEM(args, 0);
    Py_ssize_t count = kwds ? PyDict_GET_SIZE(kwds) : 0;
    // No arguments at all, as exceptions are mostly made: the defaults stand.
    if (count == 0 && nargs == 0 && sig.nrequired == 0) return 0;
    if (count == 0) return bind(sig, items, nargs, Keywords{nullptr, nullptr, 0}, values);
    // Small keyword sets live on the stack; larger ones come from the heap.
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
    int rc = bind(sig, items, nargs, Keywords{buf, buf + count, k}, values);
    if (buf != stack) PyMem_Free(buf);
    return rc;
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

}  // namespace vm
