/* velmora._velmora_capi_test: a test-only module, written in C, that uses
 * nothing but the public header velmora/cookies.h. It imports the native
 * function table the way the framework's other native modules do and wraps
 * every entry in a thin Python function, so the tests drive the native
 * interface itself. Built only with VELMORA_TEST_MODULE. */
#include <Python.h>

#include <string.h>

#include "velmora/cookies.h"

static VelmoraCookiesAPI api;

/* The native entries trust their callers; this module's own guard keeps
 * the tests from handing write_cookie_for_response and clone a non-Cookie. */
static int check_cookie(PyObject *object) {
    if (PyObject_TypeCheck(object, api.cookie_type)) return 1;
    PyErr_Format(PyExc_TypeError, "expected a Cookie, got %.200s", Py_TYPE(object)->tp_name);
    return 0;
}

static PyObject *flag_call(PyObject *args, PyObject **object, int *flag) {
    *flag = 0;
    return PyArg_ParseTuple(args, "O|i", object, flag) ? Py_None : NULL;
}

static PyObject *t_datetime_from_cookie_format(PyObject *self, PyObject *args) {
    PyObject *value;
    int flag;
    (void)self;
    if (!flag_call(args, &value, &flag)) return NULL;
    return (PyObject *)api.datetime_from_cookie_format(value, flag);
}

static PyObject *t_datetime_to_cookie_format(PyObject *self, PyObject *args) {
    PyObject *value;
    int flag;
    (void)self;
    if (!flag_call(args, &value, &flag)) return NULL;
    return api.datetime_to_cookie_format((PyDateTime_DateTime *)value, flag);
}

static PyObject *t_parse_cookie(PyObject *self, PyObject *args) {
    PyObject *raw_value;
    int flag;
    (void)self;
    if (!flag_call(args, &raw_value, &flag)) return NULL;
    return (PyObject *)api.parse_cookie(raw_value, flag);
}

static PyObject *t_split_value(PyObject *self, PyObject *args) {
    PyObject *raw_value, *separator;
    (void)self;
    if (!PyArg_ParseTuple(args, "OO", &raw_value, &separator)) return NULL;
    return api.split_value(raw_value, separator);
}

/* Passed through unchecked: the writer guards itself against non-cookies. */
static PyObject *t_write_cookie_for_response(PyObject *self, PyObject *cookie) {
    (void)self;
    return api.write_cookie_for_response((VelmoraCookie *)cookie);
}

/* The code as an int; the error indicator decides whether the call failed. */
static PyObject *t_same_site_mode_from_bytes(PyObject *self, PyObject *raw_value) {
    VelmoraCookieSameSiteMode code;
    (void)self;
    code = api.same_site_mode_from_bytes(raw_value);
    if (PyErr_Occurred()) return NULL;
    return PyLong_FromUnsignedLong((unsigned long)code);
}

/* Whether a failed call still returned the code 0, which callers cannot
 * tell from a result without the error indicator: (code, error or None). */
static PyObject *t_same_site_mode_raw(PyObject *self, PyObject *raw_value) {
    VelmoraCookieSameSiteMode code;
    PyObject *error, *result;
    (void)self;
    code = api.same_site_mode_from_bytes(raw_value);
    error = PyErr_GetRaisedException();
    result = Py_BuildValue("(kO)", (unsigned long)code, error ? error : Py_None);
    Py_XDECREF(error);
    return result;
}

static PyObject *t_clone(PyObject *self, PyObject *args) {
    PyObject *cookie;
    int skip_dispatch = 0;
    (void)self;
    if (!PyArg_ParseTuple(args, "O|i", &cookie, &skip_dispatch)) return NULL;
    if (!check_cookie(cookie)) return NULL;
    return (PyObject *)((VelmoraCookie *)cookie)->__pyx_vtab->clone((VelmoraCookie *)cookie,
                                                                     skip_dispatch);
}

/* The record's fields as a tuple, read straight from the struct. */
static PyObject *t_fields(PyObject *self, PyObject *cookie) {
    VelmoraCookie *c;
    (void)self;
    if (!check_cookie(cookie)) return NULL;
    c = (VelmoraCookie *)cookie;
    return Py_BuildValue("(OOOOOiiLk)", c->_name, c->_value, c->expires, c->domain, c->path,
                         (int)c->http_only, (int)c->secure, (long long)c->max_age,
                         (unsigned long)c->same_site);
}

/* Runs the import function again, e.g. after the test changed __pyx_capi__. */
static PyObject *t_reimport(PyObject *self, PyObject *unused) {
    VelmoraCookiesAPI fresh;
    (void)self;
    (void)unused;
    if (VelmoraCookies_Import(&fresh) < 0) return NULL;
    Py_RETURN_NONE;
}

/* ---- Loops for the benchmark's instruction counts: each runs one native
 * entry (or a floor: the Cookie type called with given fields, a bytes
 * object built from given parts) `count` times in C, dropping the results. */

static int arity(Py_ssize_t nargs, Py_ssize_t expected) {
    if (nargs == expected) return 1;
    PyErr_Format(PyExc_TypeError, "expected %zd arguments, got %zd", expected, nargs);
    return 0;
}

static int loop_count(PyObject *arg, Py_ssize_t *count) {
    *count = PyLong_AsSsize_t(arg);
    return *count < 0 && PyErr_Occurred() ? -1 : 0;
}

#define LOOP(call)                                   \
    for (Py_ssize_t i = 0; i < count; ++i) {         \
        PyObject *result = (PyObject *)(call);       \
        if (result == NULL) return NULL;             \
        Py_DECREF(result);                           \
    }                                                \
    Py_RETURN_NONE

/* A loop entry `name(argument, count)` that runs `call` on args[0] count
 * times, once `guard` (on args[0]) holds. */
#define REPEAT_ENTRY(name, guard, call)                                                  \
    static PyObject *name(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {     \
        Py_ssize_t count;                                                                \
        (void)self;                                                                      \
        if (!arity(nargs, 2) || loop_count(args[1], &count) < 0 || !(guard)) return NULL; \
        LOOP(call);                                                                      \
    }

static int any_argument(PyObject *object) {
    (void)object;
    return 1;
}

/* repeat_parse_cookie(raw, count), repeat_write(cookie, count),
 * repeat_datetime_to_cookie_format(value, count),
 * repeat_datetime_from_cookie_format(raw, count) */
REPEAT_ENTRY(t_repeat_parse_cookie, any_argument(args[0]), api.parse_cookie(args[0], 0))
REPEAT_ENTRY(t_repeat_write, check_cookie(args[0]),
             api.write_cookie_for_response((VelmoraCookie *)args[0]))
REPEAT_ENTRY(t_repeat_to_format, any_argument(args[0]),
             api.datetime_to_cookie_format((PyDateTime_DateTime *)args[0], 0))
REPEAT_ENTRY(t_repeat_from_format, any_argument(args[0]),
             api.datetime_from_cookie_format(args[0], 0))

/* repeat_call(callable, args_tuple, count): callable(*args_tuple), count times. */
static PyObject *t_repeat_call(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    Py_ssize_t count;
    (void)self;
    if (!arity(nargs, 3) || loop_count(args[2], &count) < 0) return NULL;
    if (!PyTuple_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "arguments must be a tuple");
        return NULL;
    }
    LOOP(PyObject_Vectorcall(args[0], &PyTuple_GET_ITEM(args[1], 0),
                             (size_t)PyTuple_GET_SIZE(args[1]), NULL));
}

/* One bytes object from the bytes of `parts`, sized first, then copied. */
static PyObject *bytes_from_parts(PyObject *parts) {
    Py_ssize_t n = PyTuple_GET_SIZE(parts), total = 0, i;
    PyObject *result;
    char *out;
    for (i = 0; i < n; ++i) total += PyBytes_GET_SIZE(PyTuple_GET_ITEM(parts, i));
    result = PyBytes_FromStringAndSize(NULL, total);
    if (result == NULL) return NULL;
    out = PyBytes_AS_STRING(result);
    for (i = 0; i < n; ++i) {
        PyObject *part = PyTuple_GET_ITEM(parts, i);
        memcpy(out, PyBytes_AS_STRING(part), (size_t)PyBytes_GET_SIZE(part));
        out += PyBytes_GET_SIZE(part);
    }
    return result;
}

/* repeat_bytes_from_parts(parts_tuple_of_bytes, count) */
static PyObject *t_repeat_bytes_from_parts(PyObject *self, PyObject *const *args,
                                           Py_ssize_t nargs) {
    Py_ssize_t count, i;
    (void)self;
    if (!arity(nargs, 2) || loop_count(args[1], &count) < 0) return NULL;
    if (!PyTuple_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "parts must be a tuple");
        return NULL;
    }
    for (i = 0; i < PyTuple_GET_SIZE(args[0]); ++i) {
        if (!PyBytes_Check(PyTuple_GET_ITEM(args[0], i))) {
            PyErr_SetString(PyExc_TypeError, "parts must be bytes");
            return NULL;
        }
    }
    LOOP(bytes_from_parts(args[0]));
}

static PyMethodDef methods[] = {
    {"repeat_parse_cookie", (PyCFunction)(void (*)(void))t_repeat_parse_cookie, METH_FASTCALL,
     NULL},
    {"repeat_write", (PyCFunction)(void (*)(void))t_repeat_write, METH_FASTCALL, NULL},
    {"repeat_datetime_to_cookie_format", (PyCFunction)(void (*)(void))t_repeat_to_format,
     METH_FASTCALL, NULL},
    {"repeat_datetime_from_cookie_format", (PyCFunction)(void (*)(void))t_repeat_from_format,
     METH_FASTCALL, NULL},
    {"repeat_call", (PyCFunction)(void (*)(void))t_repeat_call, METH_FASTCALL, NULL},
    {"repeat_bytes_from_parts", (PyCFunction)(void (*)(void))t_repeat_bytes_from_parts,
     METH_FASTCALL, NULL},
    {"datetime_from_cookie_format", t_datetime_from_cookie_format, METH_VARARGS, NULL},
    {"datetime_to_cookie_format", t_datetime_to_cookie_format, METH_VARARGS, NULL},
    {"parse_cookie", t_parse_cookie, METH_VARARGS, NULL},
    {"split_value", t_split_value, METH_VARARGS, NULL},
    {"write_cookie_for_response", t_write_cookie_for_response, METH_O, NULL},
    {"same_site_mode_from_bytes", t_same_site_mode_from_bytes, METH_O, NULL},
    {"same_site_mode_raw", t_same_site_mode_raw, METH_O, NULL},
    {"clone", t_clone, METH_VARARGS, NULL},
    {"fields", t_fields, METH_O, NULL},
    {"reimport", t_reimport, METH_NOARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static int exec_module(PyObject *module) {
    (void)module;
    return VelmoraCookies_Import(&api);
}

static PyModuleDef_Slot slots[] = {
    {Py_mod_exec, exec_module},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velmora._velmora_capi_test", NULL, 0, methods, slots, NULL, NULL,
    NULL,
};

PyMODINIT_FUNC PyInit__velmora_capi_test(void) { return PyModuleDef_Init(&module_def); }
