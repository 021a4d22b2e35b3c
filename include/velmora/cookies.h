/* velmora/cookies.h: the native interface of velmora.cookies, for native
 * modules (C or C++) that parse, build and write cookies without Python
 * calls or attribute lookups.
 *
 * What it declares
 *   - VelmoraCookie, the instance record of velmora.cookies.Cookie, and the
 *     SameSite codes VelmoraCookieSameSiteMode;
 *   - VelmoraCookieMethods, the method table every Cookie points to, and
 *     VelmoraCookie_Clone;
 *   - the six functions of the table velmora.cookies.__pyx_capi__ (their
 *     pointer types VelmoraCookies_* and capsule names
 *     VELMORA_COOKIES_CAPI_*), gathered in VelmoraCookiesAPI;
 *   - VelmoraCookies_Import, which fills a VelmoraCookiesAPI.
 *
 * Building
 *   The header ships inside the installed package: add the directory that
 *   velmora.get_include() returns to the include path, beside the Python
 *   headers (sysconfig.get_paths()["include"]), and #include
 *   "velmora/cookies.h". Nothing needs linking: every address comes from the
 *   loaded module at run time.
 *
 * Use
 *   static VelmoraCookiesAPI cookies;            // one per module
 *   if (VelmoraCookies_Import(&cookies) < 0) return -1;   // in exec or init
 *   VelmoraCookie *c = cookies.parse_cookie(raw_bytes, 0);
 *   if (c == NULL) return NULL;                  // error already set
 *   PyObject *header = cookies.write_cookie_for_response(c);
 *   Py_DECREF(c);
 *
 * Conventions of every entry in this header
 *   - Hold the interpreter lock (an attached thread state) for every call.
 *   - Pass exactly what each comment names. The entries do not validate
 *     their arguments beyond refusing, with an exception, what would crash
 *     them (NULL, a non-bytes where bytes are read, a non-Cookie given to
 *     the writer); check untrusted objects first (PyBytes_CheckExact,
 *     PyObject_TypeCheck with VelmoraCookiesAPI.cookie_type). The method
 *     table's clone trusts its argument entirely.
 *   - Arguments are borrowed: no entry steals or keeps a reference that the
 *     caller passes, so the caller still owns and releases its own.
 *   - Results are new references, owned by the caller, who releases them with
 *     Py_DECREF. A pointer to VelmoraCookie is a PyObject * to a Cookie, and
 *     is released the same way.
 *   - Errors: a pointer result of NULL means failure, with the Python error
 *     indicator set (the exception is the one the Python-level function
 *     raises for the same input); propagate it by returning NULL or -1
 *     yourself, or clear it with PyErr_Clear. same_site_mode_from_bytes
 *     cannot return NULL: see its comment.
 *   - The int flag (skip_dispatch) that three functions take changes
 *     nothing; pass 0. The Python wrappers of the module pass 1.
 *   - velmora.cookies stays loaded for the life of the process once
 *     imported, so the function addresses, the method table and the Cookie
 *     type stay valid; it serves only the first interpreter of a process
 *     that imports it. */
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
 * underlying type to take every such code.
 *   UNDEFINED: no SameSite attribute is written.
 *   LAX:       "SameSite=Lax".
 *   STRICT:    "SameSite=Strict", and "Secure" is written too.
 *   NONE:      "SameSite=None", and "Secure" is written too. */
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
 * Cookie.__pyx_vtable__; every instance, those of Python subclasses
 * included, points to it (VelmoraCookie.__pyx_vtab). */
struct __pyx_vtabstruct_7velmora_7cookies_Cookie {
    /* A new reference to a copy made by the Cookie type itself (never a
     * subclass), sharing the str and datetime objects of the original, or
     * NULL with an exception set. The cookie argument is borrowed. With
     * __pyx_skip_dispatch zero, an instance of a Python subclass that
     * overrides clone() gets its override called instead, and its result is
     * returned as it is: None (a new reference to Py_None, so test for it
     * before using the result as a record) or a Cookie. With
     * __pyx_skip_dispatch non-zero the built-in copy always runs. */
    struct __pyx_obj_7velmora_7cookies_Cookie *(*clone)(struct __pyx_obj_7velmora_7cookies_Cookie *,
                                                        int __pyx_skip_dispatch);
};
typedef struct __pyx_vtabstruct_7velmora_7cookies_Cookie VelmoraCookieMethods;

/* The instance record of velmora.cookies.Cookie (and the start of the record
 * of every Python subclass). The object fields are never NULL: each holds
 * its value or None. _name, _value, domain and path hold exactly str or None;
 * expires a datetime.datetime (or subclass instance) or None.
 *
 * Reading a field gives a borrowed reference, valid while the cookie lives
 * and the field is not replaced; take your own reference (Py_NewRef) to keep
 * it. Writing a field directly skips the checks of the Python properties
 * (name required, value at most 4096 bytes once encoded, exact types): keep
 * the invariants above, store a new reference and release the old one
 * (Py_SETREF(cookie->path, Py_NewRef(text))). http_only and secure are 0 or
 * 1. _name and _value are read through the properties name and value by
 * write_cookie_for_response, so Python overrides of those apply there. */
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
 * override of clone(): cookie->__pyx_vtab->clone(cookie, 0). New reference
 * (a Cookie, or None from an override), or NULL with an exception set. */
static inline VelmoraCookie *VelmoraCookie_Clone(VelmoraCookie *cookie) {
    return cookie->__pyx_vtab->clone(cookie, 0);
}

/* ------------------------------------------------------------------------
 * The native function table, velmora.cookies.__pyx_capi__: a dict from
 * function name to a capsule whose name is the declaration text below.
 * Every function must be called with the interpreter lock held and given
 * what its comment names. Arguments are borrowed. Results are new
 * references; a failure returns NULL with the Python error set. The int
 * flag of three of them is ignored (Python wrappers pass 1, the module's
 * own callers 0): pass 0.
 * ------------------------------------------------------------------------ */

/* datetime_from_cookie_format(value, flag)
 * Takes: value, a bytes object holding the text of an Expires attribute
 * ("Wed, 21 Oct 2015 07:28:00 GMT"), or None.
 * Returns: a new reference to a naive datetime.datetime with the wall-clock
 * fields the text states; a zone or offset in the text is dropped without
 * shifting the time (no time-zone arithmetic).
 * Fails with: ValueError for a text that is no date (the empty text too),
 * UnicodeDecodeError for bytes that are not UTF-8, AttributeError for None,
 * NameError when the module attribute parsedate_to_datetime was deleted (it
 * is looked up on every call, so rebinding it changes the parser). */
typedef PyDateTime_DateTime *(*VelmoraCookies_datetime_from_cookie_format)(PyObject *value,
                                                                           int skip_dispatch);

/* datetime_to_cookie_format(value, flag)
 * Takes: value, a datetime.datetime (or subclass instance); never NULL.
 * Returns: a new reference to bytes "Www, DD Mon YYYY HH:MM:SS GMT" written
 * from the datetime's own wall-clock fields: tzinfo is neither consulted nor
 * applied (pass UTC datetimes for real GMT) and microseconds are dropped.
 * Fails with: whatever the datetime's strftime raises; TypeError when an
 * overriding strftime returns something that does not encode to bytes. */
typedef PyObject *(*VelmoraCookies_datetime_to_cookie_format)(PyDateTime_DateTime *value,
                                                              int skip_dispatch);

/* split_value(raw_value, separator)
 * Takes: raw_value and separator, both bytes.
 * Returns: a new reference to a tuple of two new bytes (head, tail): head is
 * everything before the first occurrence of separator, tail everything after
 * the separator's first byte (so, with a one-byte separator such as "=",
 * everything after it). An empty separator is found at position 0.
 * Fails with: ValueError when the separator does not occur. */
typedef PyObject *(*VelmoraCookies_split_value)(PyObject *raw_value, PyObject *separator);

/* write_cookie_for_response(cookie)
 * Takes: cookie, a Cookie (or subclass instance); anything else, NULL
 * included, fails with TypeError.
 * Returns: a new reference to bytes, the value of one Set-Cookie header
 * (without the header name or line end): name=value percent-encoded by the
 * module's quote, then "Expires=...", "Max-Age=N" (for max_age 0 or more),
 * "Domain=...", "Path=..." (when not None and not empty), "HttpOnly",
 * "Secure" (when set, and always for SameSite STRICT and NONE) and
 * "SameSite=...", joined by "; ".
 * Fails with: ValueError when a part would hold a control byte (0x00-0x1F,
 * 0x7F; a CR or LF would split the response header), TypeError when the
 * value is None, UnicodeEncodeError for a domain or path that is not valid
 * UTF-8 text, NameError when the module attribute quote was deleted. */
typedef PyObject *(*VelmoraCookies_write_cookie_for_response)(VelmoraCookie *cookie);

/* same_site_mode_from_bytes(raw_value)
 * Takes: raw_value, the bytes of a SameSite attribute value, or None.
 * Returns: the code of the word, compared without regard to ASCII case and
 * without trimming: "strict" STRICT, "lax" LAX, "none" NONE; anything else,
 * None and the empty bytes UNDEFINED (0).
 * Errors: the result is a plain code, never NULL. It returns 0 both for an
 * unknown word and on failure, so check PyErr_Occurred() after every call. */
typedef VelmoraCookieSameSiteMode (*VelmoraCookies_same_site_mode_from_bytes)(PyObject *raw_value);

/* parse_cookie(raw_value, flag)
 * Takes: raw_value, bytes holding one Set-Cookie-style header value
 * ("id=a3fWa; Max-Age=3600; Path=/; HttpOnly"), nothing trimmed; or None,
 * which fails with AttributeError.
 * Returns: a new reference to a new Cookie. Name and value are
 * percent-decoded (the module's unquote); surrounding double quotes are
 * removed from the value only when it holds a blank; attributes are matched
 * without regard to ASCII case, unknown ones are ignored, and the last
 * occurrence of each wins.
 * Fails with: ValueError when the first fragment has no "=" or a Max-Age is
 * no integer, OverflowError for a Max-Age beyond 64 bits,
 * UnicodeDecodeError, the errors of datetime_from_cookie_format for the
 * Expires date and of the Cookie constructor (an empty name: ValueError; a
 * value over 4096 bytes: CookieValueExceedsMaximumLength). */
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

/* Everything a native module needs, filled by VelmoraCookies_Import. Keep one
 * per module (a static variable is the usual place); the pointers stay valid
 * for the life of the process. */
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
     * as the process. Test objects with PyObject_TypeCheck(o, cookie_type)
     * before passing them as a VelmoraCookie *. */
    PyTypeObject *cookie_type;
} VelmoraCookiesAPI;

/* Fetches one capsule pointer of the table by key and exact name. Returns
 * the pointer, or NULL with an exception set (KeyError for a missing key,
 * ValueError from a capsule of another name). Used by
 * VelmoraCookies_Import; table is borrowed. */
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
 * whose name differs). *api is written only on success. It keeps no
 * reference of its own: the module stays loaded in sys.modules.
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
#define VELMORA_COOKIES_FETCH(field, macro)                                                  \
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
