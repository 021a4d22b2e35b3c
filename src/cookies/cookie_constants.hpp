// Constants of velmora.cookies, created once before the module body runs
// (cookie_constants.cpp). Each part of the module adds its own fields here
// and creates them in init_cookie_constants.
#pragma once

#include <Python.h>

namespace velmora::cookies {

struct Constants {
    // Identifiers, interned.
    PyObject *name;                        // "name"
    PyObject *value;                       // "value"
    PyObject *encode;                      // "encode"
    PyObject *decode;                      // "decode"
    PyObject *clone;                       // "clone"
    PyObject *CookieSameSiteMode;          // "CookieSameSiteMode"
    PyObject *same_site_names[4];          // "UNDEFINED", "LAX", "STRICT", "NONE", by code
    PyObject *strftime;                    // "strftime"
    PyObject *replace;                     // "replace"
    PyObject *index;                       // "index"
    PyObject *quote_name;                  // "quote"
    PyObject *unquote_name;                // "unquote"
    PyObject *parsedate_to_datetime_name;  // "parsedate_to_datetime"
    // Values.
    PyObject *empty_str;           // ""
    PyObject *to_three;            // slice(None, 3, None)
    PyObject *max_length_message;  // message of CookieValueExceedsMaximumLength
    PyObject *date_template;       // "%a, %d %b %Y %H:%M:%S GMT"
    PyObject *tzinfo_kwnames;      // ("tzinfo",), keyword names of replace(tzinfo=None)
};
extern Constants constants;

}  // namespace velmora::cookies
