// __pyx_capi__: the native function table other native modules import. The
// capsule names are the declarations of the functions' types; importers
// pass them verbatim to PyCapsule_GetPointer, so they never change.
#include "cookies/functions.hpp"
#include "cookies/module_steps.hpp"
#include "cookies/module.hpp"
#include "module_support/ref.hpp"

#include <type_traits>

namespace velmora::cookies {

using support::Ref;

namespace {

struct CapiEntry {
    const char *name;
    void *function;
    const char *signature;
};

// In the order importers have always found them.
const CapiEntry capi_entries[] = {
    {"datetime_from_cookie_format", reinterpret_cast<void *>(&datetime_from_cookie_format),
     VELMORA_COOKIES_CAPI_DATETIME_FROM_COOKIE_FORMAT},
    {"datetime_to_cookie_format", reinterpret_cast<void *>(&datetime_to_cookie_format),
     VELMORA_COOKIES_CAPI_DATETIME_TO_COOKIE_FORMAT},
    {"split_value", reinterpret_cast<void *>(&split_value), VELMORA_COOKIES_CAPI_SPLIT_VALUE},
    {"write_cookie_for_response", reinterpret_cast<void *>(&write_cookie_for_response),
     VELMORA_COOKIES_CAPI_WRITE_COOKIE_FOR_RESPONSE},
    {"same_site_mode_from_bytes", reinterpret_cast<void *>(&same_site_mode_from_bytes),
     VELMORA_COOKIES_CAPI_SAME_SITE_MODE_FROM_BYTES},
    {"parse_cookie", reinterpret_cast<void *>(&parse_cookie), VELMORA_COOKIES_CAPI_PARSE_COOKIE},
};

// The function types the header publishes must be the ones exported.
static_assert(std::is_same_v<decltype(&datetime_from_cookie_format),
                             VelmoraCookies_datetime_from_cookie_format>);
static_assert(
    std::is_same_v<decltype(&datetime_to_cookie_format), VelmoraCookies_datetime_to_cookie_format>);
static_assert(std::is_same_v<decltype(&split_value), VelmoraCookies_split_value>);
static_assert(
    std::is_same_v<decltype(&write_cookie_for_response), VelmoraCookies_write_cookie_for_response>);
static_assert(
    std::is_same_v<decltype(&same_site_mode_from_bytes), VelmoraCookies_same_site_mode_from_bytes>);
static_assert(std::is_same_v<decltype(&parse_cookie), VelmoraCookies_parse_cookie>);

}  // namespace

int create_capi_table() {
    Ref key = Ref::steal(PyUnicode_InternFromString("__pyx_capi__"));
    if (!key) return -1;
    PyObject *found;
    if (PyDict_GetItemRef(frame.dict, key.get(), &found) < 0) return -1;
    Ref table = Ref::steal(found);
    if (!table) {
        table = Ref::steal(PyDict_New());
        if (!table || PyDict_SetItem(frame.dict, key.get(), table.get()) < 0) return -1;
    }
    for (const CapiEntry &entry : capi_entries) {
        Ref capsule = Ref::steal(PyCapsule_New(entry.function, entry.signature, nullptr));
        if (!capsule) return -1;
        Ref name = Ref::steal(PyUnicode_InternFromString(entry.name));
        if (!name || PyObject_SetItem(table.get(), name.get(), capsule.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace velmora::cookies
