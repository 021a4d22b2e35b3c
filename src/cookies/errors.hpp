// The errors velmora.cookies raises beyond the interpreter's own
// (errors.cpp): its two exception types and the texts several parts share.
#pragma once

#include <Python.h>

#include <string_view>

namespace velmora::cookies {

// Held for the life of the process; never looked up by name.
extern PyTypeObject CookieError_type;
extern PyTypeObject CookieValueExceedsMaximumLength_type;

// Raises CookieValueExceedsMaximumLength().
void raise_value_too_long();

// Raises AttributeError "'NoneType' object has no attribute '<name>'", the
// error a method call on None gives.
void raise_none_has_no(const char *attribute);

// Raises ValueError "Invalid name=value fragment: b'...'" for a fragment
// without "=", while the ValueError "subsection not found" of the failed
// search for "=" is being handled, as the interpreter would chain them.
void raise_invalid_pair(std::string_view fragment);

}  // namespace velmora::cookies
