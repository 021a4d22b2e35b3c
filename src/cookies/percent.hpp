// Native equivalents of urllib.parse.quote and unquote for the cases the
// cookie code meets, used only when the module-level name still holds the
// very function bound at import: results and errors are those of the
// standard functions.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace velmora::cookies {

// unquote(text), where `text` is the strict UTF-8 decoding of `bytes`: only
// ASCII runs are percent-decoded, each run's bytes decoded as UTF-8 with
// errors='replace'; invalid escapes and '+' stay. New reference.
PyObject *unquote_valid_utf8(PyObject *text, std::string_view bytes);

// quote(text).encode() for an exact str, in two steps on the strict UTF-8
// bytes of the text (letters, digits, "_.-~" and "/" kept, every other byte
// as %XX with upper-case hex): the size of the result, and the result written
// to `out`, which holds that many bytes.
namespace detail {
// The value of a hex digit of either case, or -1.
constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
constexpr bool is_safe_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-' || c == '~' || c == '/';
}
// The bytes quote() keeps, by value.
inline constexpr auto kSafeBytes = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = is_safe_byte(static_cast<unsigned char>(c));
    return table;
}();
}  // namespace detail

// Inline: the writer's hot path quotes names and values of a few bytes.
inline std::size_t quoted_size(std::string_view utf8) {
    std::size_t size = utf8.size();
    for (char c : utf8) {
        if (!detail::kSafeBytes[static_cast<unsigned char>(c)]) size += 2;
    }
    return size;
}

inline void write_quoted(std::string_view utf8, char *out) {
    static constexpr char hex[] = "0123456789ABCDEF";
    for (char ch : utf8) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (detail::kSafeBytes[c]) {
            *out++ = static_cast<char>(c);
        } else {
            *out++ = '%';
            *out++ = hex[c >> 4];
            *out++ = hex[c & 15];
        }
    }
}

}  // namespace velmora::cookies
