// Native equivalents of urllib.parse.quote and unquote for the cases the
// cookie code meets, used only when the module-level name still holds the
// very function bound at import: results and errors are those of the
// standard functions.
#pragma once

#include <Python.h>

#include <string_view>

namespace vc {

// unquote(text), where `text` is the strict UTF-8 decoding of `bytes`: only
// ASCII runs are percent-decoded, each run's bytes decoded as UTF-8 with
// errors='replace'; invalid escapes and '+' stay. New reference.
PyObject *unquote_valid_utf8(PyObject *text, std::string_view bytes);

// quote(text).encode() for an exact str, in two steps on the strict UTF-8
// bytes of the text (letters, digits, "_.-~" and "/" kept, every other byte
// as %XX with upper-case hex): the size of the result, and the result written
// to `out`, which holds that many bytes.
std::size_t quoted_size(std::string_view utf8);
void write_quoted(std::string_view utf8, char *out);

}  // namespace vc
