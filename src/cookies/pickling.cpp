// Pickle states of the velmora.cookies types. Stored pickles carry these
// checksums, so a change of the Cookie record needs new ones.
#include "cookies/module.hpp"
#include "cookies/errors.hpp"
#include "cookies/imported_types.hpp"
#include "cookies/cookie.hpp"
#include "cookies/module_steps.hpp"
#include "module_support/pickle.hpp"

#include <cstddef>

namespace velmora::cookies {

namespace {

using support::StateMember;

constexpr support::PickleHooks cookie_hooks{same_site_member, kSameSiteTypeName, datetime_type};

constexpr StateMember cookie_members[] = {
    VELMORA_STATE_MEMBER(VelmoraCookie, _name, str_or_none),
    VELMORA_STATE_MEMBER(VelmoraCookie, _value, str_or_none),
    VELMORA_STATE_MEMBER(VelmoraCookie, domain, str_or_none),
    VELMORA_STATE_MEMBER(VelmoraCookie, expires, datetime_or_none),
    VELMORA_STATE_MEMBER(VelmoraCookie, http_only, flag),
    VELMORA_STATE_MEMBER(VelmoraCookie, max_age, int64),
    VELMORA_STATE_MEMBER(VelmoraCookie, path, str_or_none),
    VELMORA_STATE_MEMBER(VelmoraCookie, same_site, unsigned_enum),
    VELMORA_STATE_MEMBER(VelmoraCookie, secure, flag),
};
constexpr support::StateLayout cookie_state = support::state_layout(
    cookie_members, "_name, _value, domain, expires, http_only, max_age, path, same_site, secure",
    {0x2035a3d, 0xc44a7b0, 0xe7407db}, &cookie_hooks);

// Indexes into the table below.
enum : std::size_t { kCookieError, kValueTooLong, kCookie };

// In the order in which the module body binds the reconstructors.
support::PickleType cookie_pickles[] = {
    VELMORA_PICKLE_ROW(CookieError_type, CookieError, support::no_members_state),
    VELMORA_PICKLE_ROW(CookieValueExceedsMaximumLength_type, CookieValueExceedsMaximumLength,
                       support::no_members_state),
    VELMORA_PICKLE_ROW(Cookie_type, Cookie, cookie_state),
};

}  // namespace

int prepare_type_pickling(PyTypeObject *type) {
    return support::prepare_pickling(frame, cookie_pickles, type);
}

int bind_error_state_methods() {
    if (support::bind_state_methods(cookie_pickles[kCookieError]) < 0) return -1;
    return support::bind_state_methods(cookie_pickles[kValueTooLong]);
}

int bind_cookie_state_methods() {
    return support::bind_state_methods(cookie_pickles[kCookie]);
}

int bind_reconstructors() {
    for (support::PickleType &row : cookie_pickles) {
        if (support::bind_reconstructor(frame, row) < 0) return -1;
    }
    return 0;
}

}  // namespace velmora::cookies
