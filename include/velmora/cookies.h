/* The Cookie record of velmora.cookies, its SameSite codes and its native
 * method table, for native code of the framework that works on cookies
 * without attribute lookups. Usable from C and C++.
 *
 * A pointer to the record is an object reference to a velmora.cookies.Cookie
 * (or to an instance of a Python subclass). Every entry must be called with
 * the interpreter lock held. */
#ifndef VELMORA_COOKIES_H
#define VELMORA_COOKIES_H

#include <Python.h>
#include <datetime.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#define VELMORA_SAME_SITE_UNDERLYING : uint32_t
#else
#define VELMORA_SAME_SITE_UNDERLYING
#endif

/* SameSite mode of a cookie, the same codes as the Python IntEnum
 * velmora.cookies.CookieSameSiteMode. The same_site field may hold any code
 * from 0 to 4294967295, not only the four named ones, so C++ fixes the
 * underlying type to take every such code. */
enum __pyx_t_7velmora_7cookies_CookieSameSiteMode VELMORA_SAME_SITE_UNDERLYING {
    VELMORA_SAME_SITE_UNDEFINED = 0,
    VELMORA_SAME_SITE_LAX = 1,
    VELMORA_SAME_SITE_STRICT = 2,
    VELMORA_SAME_SITE_NONE = 3
};
typedef enum __pyx_t_7velmora_7cookies_CookieSameSiteMode VelmoraCookieSameSiteMode;

#undef VELMORA_SAME_SITE_UNDERLYING

struct __pyx_obj_7velmora_7cookies_Cookie;

/* Native method table of Cookie, published as the unnamed capsule
 * Cookie.__pyx_vtable__; every instance points to it. */
struct __pyx_vtabstruct_7velmora_7cookies_Cookie {
    /* A new reference to a copy made by the Cookie type itself, or NULL with
     * an exception set. With __pyx_skip_dispatch zero, an instance of a
     * Python subclass that overrides clone() gets its override called; its
     * result (None, or a Cookie) is returned as it is. */
    struct __pyx_obj_7velmora_7cookies_Cookie *(*clone)(struct __pyx_obj_7velmora_7cookies_Cookie *,
                                                        int __pyx_skip_dispatch);
};
typedef struct __pyx_vtabstruct_7velmora_7cookies_Cookie VelmoraCookieMethods;

/* The instance record. The object fields are never NULL: each holds its
 * value or None. _name, _value, domain and path hold exactly str or None;
 * expires a datetime.datetime (or subclass instance) or None. */
struct __pyx_obj_7velmora_7cookies_Cookie {
    PyObject ob_base; /* the object header, PyObject_HEAD */
    struct __pyx_vtabstruct_7velmora_7cookies_Cookie *__pyx_vtab;
    PyObject *_name;
    PyObject *_value;
    PyObject *expires;
    PyObject *domain;
    PyObject *path;
    int32_t http_only;
    int32_t secure;
    int64_t max_age; /* -1 (or any negative number): no Max-Age */
    enum __pyx_t_7velmora_7cookies_CookieSameSiteMode same_site;
};
typedef struct __pyx_obj_7velmora_7cookies_Cookie VelmoraCookie;

#ifdef __cplusplus
static_assert(sizeof(VelmoraCookieSameSiteMode) == 4, "SameSite codes are 32 bits wide");
#else
_Static_assert(sizeof(VelmoraCookieSameSiteMode) == 4, "SameSite codes are 32 bits wide");
#endif

/* Clones a cookie through its method table, with dispatch to a Python
 * override of clone(). New reference, or NULL with an exception set. */
static inline VelmoraCookie *VelmoraCookie_Clone(VelmoraCookie *cookie) {
    return cookie->__pyx_vtab->clone(cookie, 0);
}

/* ------------------------------------------------------------------------
 * The native function table, velmora.cookies.__pyx_capi__: a dict from
 * function name to a capsule whose name is the declaration text below.
 * Every function must be called with the interpreter lock held; none checks
 * the types of its arguments. Results are new references; a failure returns
 * NULL with the Python error set. The int flag of three of them is ignored
 * (Python wrappers pass 1, the module's own callers 0).
 * ------------------------------------------------------------------------ */

/* bytes (or None) -> naive datetime.datetime, the text of an Expires
 * attribute read without time-zone arithmetic. */
typedef PyDateTime_DateTime *(*VelmoraCookies_datetime_from_cookie_format)(
    PyObject *value, int skip_dispatch);
/* datetime.datetime -> bytes "Www, DD Mon YYYY HH:MM:SS GMT" (the wall-clock
 * fields as they are). */
typedef PyObject *(*VelmoraCookies_datetime_to_cookie_format)(PyDateTime_DateTime *value,
                                                              int skip_dispatch);
/* (bytes, separator bytes) -> (head, tail): head is everything before the
 * first separator, tail everything after its first byte. ValueError when
 * the separator does not occur. */
typedef PyObject *(*VelmoraCookies_split_value)(PyObject *raw_value, PyObject *separator);
/* Cookie -> bytes, the value of a Set-Cookie header. ValueError when a
 * part would hold a control byte (0x00-0x1F, 0x7F). */
typedef PyObject *(*VelmoraCookies_write_cookie_for_response)(VelmoraCookie *cookie);
/* SameSite attribute bytes (or None) -> code 0 to 3. Returns 0 both for an
 * unknown word and on failure: check PyErr_Occurred() after every call. */
typedef VelmoraCookieSameSiteMode (*VelmoraCookies_same_site_mode_from_bytes)(
    PyObject *raw_value);
/* One Set-Cookie-style header value (bytes) -> a new Cookie. */
typedef VelmoraCookie *(*VelmoraCookies_parse_cookie)(PyObject *raw_value, int skip_dispatch);

/* Capsule names, to be passed verbatim to PyCapsule_GetPointer. */
#define VELMORA_COOKIES_CAPI_DATETIME_FROM_COOKIE_FORMAT \
    "PyDateTime_DateTime *(PyObject *, int __pyx_skip_dispatch)"
#define VELMORA_COOKIES_CAPI_DATETIME_TO_COOKIE_FORMAT \
    "PyObject *(PyDateTime_DateTime *, int __pyx_skip_dispatch)"
#define VELMORA_COOKIES_CAPI_SPLIT_VALUE "PyObject *(PyObject *, PyObject *)"
#define VELMORA_COOKIES_CAPI_WRITE_COOKIE_FOR_RESPONSE \
    "PyObject *(struct __pyx_obj_7velmora_7cookies_Cookie *)"
#define VELMORA_COOKIES_CAPI_SAME_SITE_MODE_FROM_BYTES \
    "enum __pyx_t_7velmora_7cookies_CookieSameSiteMode (PyObject *)"
#define VELMORA_COOKIES_CAPI_PARSE_COOKIE \
    "struct __pyx_obj_7velmora_7cookies_Cookie *(PyObject *, int __pyx_skip_dispatch)"

/* Everything a native module needs, filled by VelmoraCookies_Import. */
typedef struct VelmoraCookiesAPI {
    VelmoraCookies_datetime_from_cookie_format datetime_from_cookie_format;
    VelmoraCookies_datetime_to_cookie_format datetime_to_cookie_format;
    VelmoraCookies_split_value split_value;
    VelmoraCookies_write_cookie_for_response write_cookie_for_response;
    VelmoraCookies_same_site_mode_from_bytes same_site_mode_from_bytes;
    VelmoraCookies_parse_cookie parse_cookie;
    /* Cookie.__pyx_vtable__, the method table every Cookie points to. */
    VelmoraCookieMethods *cookie_methods;
    /* velmora.cookies.Cookie, a borrowed reference: the type lives as long
     * as the process. */
    PyTypeObject *cookie_type;
} VelmoraCookiesAPI;

/* Fetches one capsule pointer of the table by key and exact name. */
static inline void *VelmoraCookies_CapiPointer(PyObject *table, const char *key,
                                               const char *signature) {
    void *pointer;
    PyObject *capsule = PyMapping_GetItemString(table, key);
    if (capsule == NULL) return NULL;
    pointer = PyCapsule_GetPointer(capsule, signature);
    Py_DECREF(capsule);
    return pointer;
}

/* Imports velmora.cookies and fills *api from its __pyx_capi__ and from
 * Cookie.__pyx_vtable__. Call it once, with the interpreter lock held (in
 * the module's exec step, say). Returns 0, or -1 with the Python error set
 * (ImportError, KeyError for a missing function, ValueError from a capsule
 * whose name differs). *api is written only on success.
 *
 * It also imports the interpreter's datetime C API into the calling
 * translation unit (PyDateTime_IMPORT) when that has not happened yet, so
 * the PyDateTime_* macros work for the datetimes these functions take. */
static inline int VelmoraCookies_Import(VelmoraCookiesAPI *api) {
    VelmoraCookiesAPI found;
    PyObject *module, *table, *cookie, *vtable;
    int ok;
    if (PyDateTimeAPI == NULL) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == NULL) return -1;
    }
    module = PyImport_ImportModule("velmora.cookies");
    if (module == NULL) return -1;
    table = PyObject_GetAttrString(module, "__pyx_capi__");
    cookie = table ? PyObject_GetAttrString(module, "Cookie") : NULL;
    Py_DECREF(module);
    if (cookie == NULL) {
        Py_XDECREF(table);
        return -1;
    }
#define VELMORA_COOKIES_FETCH(field, macro)                                            \
    (found.field = (VelmoraCookies_##field)VelmoraCookies_CapiPointer(table, #field, macro), \
     found.field != NULL)
    ok = VELMORA_COOKIES_FETCH(datetime_from_cookie_format,
                               VELMORA_COOKIES_CAPI_DATETIME_FROM_COOKIE_FORMAT) &&
         VELMORA_COOKIES_FETCH(datetime_to_cookie_format,
                               VELMORA_COOKIES_CAPI_DATETIME_TO_COOKIE_FORMAT) &&
         VELMORA_COOKIES_FETCH(split_value, VELMORA_COOKIES_CAPI_SPLIT_VALUE) &&
         VELMORA_COOKIES_FETCH(write_cookie_for_response,
                               VELMORA_COOKIES_CAPI_WRITE_COOKIE_FOR_RESPONSE) &&
         VELMORA_COOKIES_FETCH(same_site_mode_from_bytes,
                               VELMORA_COOKIES_CAPI_SAME_SITE_MODE_FROM_BYTES) &&
         VELMORA_COOKIES_FETCH(parse_cookie, VELMORA_COOKIES_CAPI_PARSE_COOKIE);
#undef VELMORA_COOKIES_FETCH
    Py_DECREF(table);
    if (ok && !PyType_Check(cookie)) {
        PyErr_SetString(PyExc_TypeError, "velmora.cookies.Cookie is not a type");
        ok = 0;
    }
    if (ok) {
        vtable = PyObject_GetAttrString(cookie, "__pyx_vtable__");
        found.cookie_methods =
            vtable ? (VelmoraCookieMethods *)PyCapsule_GetPointer(vtable, NULL) : NULL;
        Py_XDECREF(vtable);
        ok = found.cookie_methods != NULL;
    }
    found.cookie_type = (PyTypeObject *)cookie;
    Py_DECREF(cookie);
    if (!ok) return -1;
    *api = found;
    return 0;
}

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_COOKIES_H */
