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

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_COOKIES_H */
