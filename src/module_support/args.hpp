// Argument binding for fastcall/vectorcall and tuple/dict entry points, with
// the argument-error texts that callers of the framework match on.
#pragma once

#include <Python.h>

namespace vm {

struct Signature {
    const char *func_name;     // name in the error texts ("__init__", "parse_cookie", ...)
    const char *const *names;  // parameter names, in order
    Py_ssize_t nparams;
    Py_ssize_t nrequired;  // the first nrequired parameters are required
};

// Binds positional arguments and keywords to values[0..nparams). Entries the
// caller preset (defaults, or nullptr) stay where no argument was given. The
// values are borrowed from the caller's arguments. Returns 0, or -1 with an
// exception set.
int bind_vector(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **values);
int bind_tuple(const Signature &sig, PyObject *args, PyObject *kwds, PyObject **values);

// "%.200s() takes %.8s %zd positional argument%.1s (%zd given)"
void raise_arg_count(const char *func, Py_ssize_t min, Py_ssize_t max, Py_ssize_t given);

// Typed parameters: exact built-in type (str, bytes, tuple) or None.
bool check_arg_exact_or_none(PyObject *value, PyTypeObject *type, const char *param);
// Typed parameters: instance of the type or a subclass, or None.
bool check_arg_instance_or_none(PyObject *value, PyTypeObject *type, const char *param);
// "cannot pass None into a C function argument that is declared 'not None'"
void raise_none_not_allowed();
// Typed assignments: "Expected %.42s, got %.200s".
void raise_expected(const char *expected, PyObject *got);
// Typed assignments of library and extension types:
// "%.1sCannot convert %.200s to %.200s".
void raise_cannot_convert(PyObject *got, const char *target);

}  // namespace vm
