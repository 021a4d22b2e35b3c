// The constants of the Cookie type and its errors.
#include "cookies/cookie_constants.hpp"
#include "cookies/module_steps.hpp"
#include "velmora/cookies.h"

namespace velmora::cookies {

Constants constants;

namespace {

constexpr const char kMaxLengthMessage[] =
    "The length of the cookie value exceeds the maximum length of 4096 bytes, and it would be "
    "ignored or truncated by clients. See: https://www.rfc-editor.org/rfc/rfc6265#section-6.1";

bool intern(PyObject *&slot, const char *text) {
    slot = PyUnicode_InternFromString(text);
    return slot != nullptr;
}

}  // namespace

int init_cookie_constants() {
    Constants &c = constants;
    if (!intern(c.name, "name") || !intern(c.value, "value") || !intern(c.encode, "encode") ||
        !intern(c.decode, "decode") || !intern(c.clone, "clone") ||
        !intern(c.CookieSameSiteMode, "CookieSameSiteMode") ||
        !intern(c.same_site_names[VELMORA_SAME_SITE_UNDEFINED], "UNDEFINED") ||
        !intern(c.same_site_names[VELMORA_SAME_SITE_LAX], "LAX") ||
        !intern(c.same_site_names[VELMORA_SAME_SITE_STRICT], "STRICT") ||
        !intern(c.same_site_names[VELMORA_SAME_SITE_NONE], "NONE") || !intern(c.empty_str, "") ||
        !intern(c.max_length_message, kMaxLengthMessage) || !intern(c.strftime, "strftime") ||
        !intern(c.replace, "replace") || !intern(c.index, "index") ||
        !intern(c.quote_name, "quote") || !intern(c.unquote_name, "unquote") ||
        !intern(c.parsedate_to_datetime_name, "parsedate_to_datetime") ||
        !intern(c.date_template, "%a, %d %b %Y %H:%M:%S GMT")) {
        return -1;
    }
    PyObject *tzinfo = PyUnicode_InternFromString("tzinfo");
    if (!tzinfo) return -1;
    c.tzinfo_kwnames = PyTuple_Pack(1, tzinfo);
    Py_DECREF(tzinfo);
    if (!c.tzinfo_kwnames) return -1;
    PyObject *three = PyLong_FromLong(3);
    if (!three) return -1;
    c.to_three = PySlice_New(nullptr, three, nullptr);
    Py_DECREF(three);
    return c.to_three ? 0 : -1;
}

}  // namespace velmora::cookies
