// velmora.cookies: module frame and module body.
#include "cookies/module_steps.hpp"
#include "cookies/state.hpp"

// An embedding program may set this before importing the module to have it
// run as its main module.
extern "C" {
__attribute__((visibility("default"))) int __pyx_module_is_main_velmora__cookies = 0;
}

namespace vc {

namespace {

int bind_type(const char *name, PyTypeObject &type) {
    return frame.bind(name, reinterpret_cast<PyObject *>(&type));
}

int init_constants(vm::ModuleFrame &) { return init_cookie_constants(); }

// The module body, in the order in which it fills the namespace. Steps that
// later parts of the module add are marked where they belong.
int body(vm::ModuleFrame &) {
    // 1. The native function table: __pyx_capi__, one capsule per native
    //    function, created before anything else.

    // 2. The extension types, each bound at once; the pickling hooks of each
    //    type are prepared right after its binding.
    if (ready_cookie_type() < 0 || bind_type("Cookie", Cookie_type) < 0) return -1;
    if (ready_cookie_error_type() < 0 || bind_type("CookieError", CookieError_type) < 0) {
        return -1;
    }
    if (ready_value_too_long_type() < 0 ||
        bind_type("CookieValueExceedsMaximumLength", CookieValueExceedsMaximumLength_type) < 0) {
        return -1;
    }

    // 3. type and the datetime types, with their size checks.
    if (import_standard_types() < 0) return -1;

    // 4. enum, and CookieSameSiteMode on IntEnum.
    if (create_same_site_mode() < 0) return -1;

    // 5. The datetime module (nothing bound); quote and unquote from
    //    urllib.parse and parsedate_to_datetime from email.utils, bound.
    // 6. datetime_to_cookie_format, then datetime_from_cookie_format.
    // 7. The pickling methods of CookieError and
    //    CookieValueExceedsMaximumLength.
    // 8. Cookie: the default of same_site (code 0) is native already and
    //    clone() comes with the type; its pickling methods.
    // 9. parse_cookie.
    // 10. The reconstructors __pyx_unpickle_CookieError,
    //     __pyx_unpickle_CookieValueExceedsMaximumLength, __pyx_unpickle_Cookie.
    return 0;
}

const char *const builtin_names[] = {"super", "NotImplemented", nullptr};

}  // namespace

vm::ModuleFrame frame{
    .short_name = "cookies",
    .dotted_name = "velmora.cookies",
    .reinit_error =
        "Module 'cookies' has already been imported. Re-initialisation is not supported.",
    .init_frame = "init velmora.cookies",
    .source_file = "velmora/cookies",
    .main_flag = &__pyx_module_is_main_velmora__cookies,
    .builtin_names = builtin_names,
    .init_constants = init_constants,
    .body = body,
};

}  // namespace vc

PyMODINIT_FUNC PyInit_cookies(void) { return vm::ModuleFrame::init<vc::frame>(); }
