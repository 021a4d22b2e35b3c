// velmora.cookies: module frame and module body.
#include "cookies/module.hpp"
#include "cookies/cookie.hpp"
#include "cookies/errors.hpp"
#include "cookies/module_steps.hpp"

// An embedding program may set this before importing the module to have it
// run as its main module.
extern "C" {
__attribute__((visibility("default"))) int __pyx_module_is_main_velmora__cookies = 0;
}

namespace velmora::cookies {

namespace {

// Binds one of the module's types under its short name and prepares its
// pickling hooks.
int bind_type(const char *name, PyTypeObject &type) {
    if (frame.bind(name, reinterpret_cast<PyObject *>(&type)) < 0) return -1;
    return prepare_type_pickling(&type);
}

int init_constants(support::ModuleFrame &) {
    return init_cookie_constants();
}

// The module body, in the order in which it fills the namespace.
int body(support::ModuleFrame &) {
    if (create_capi_table() < 0) return -1;
    if (ready_cookie_type() < 0 || bind_type("Cookie", Cookie_type) < 0) return -1;
    if (ready_cookie_error_type() < 0 || bind_type("CookieError", CookieError_type) < 0) {
        return -1;
    }
    if (ready_value_too_long_type() < 0 ||
        bind_type("CookieValueExceedsMaximumLength", CookieValueExceedsMaximumLength_type) < 0) {
        return -1;
    }
    if (import_standard_types() < 0) return -1;
    if (create_same_site_mode() < 0) return -1;
    if (import_datetime_module() < 0) return -1;
    if (bind_url_quoting() < 0) return -1;
    if (bind_date_parser() < 0) return -1;
    if (bind_date_functions() < 0) return -1;
    if (bind_error_state_methods() < 0) return -1;
    // Cookie's same_site default (code 0) and clone() come with the type.
    if (bind_cookie_state_methods() < 0) return -1;
    if (bind_parse_cookie() < 0) return -1;
    return bind_reconstructors();
}

const char *const builtin_names[] = {"super", "NotImplemented", nullptr};

}  // namespace

support::ModuleFrame frame =
    VELMORA_MODULE_FRAME(cookies, .builtin_names = builtin_names, .init_constants = init_constants,
                         .body = body, .cache_names = true);

}  // namespace velmora::cookies

VELMORA_MODULE_INIT(cookies, velmora::cookies::frame)
