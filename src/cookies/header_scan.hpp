// Byte-level reading of one Set-Cookie-style header value: fragment
// splitting, the cookie pair, quote removal and the attribute words. Nothing
// here touches Python objects, so the rules can be read (and fuzzed) apart
// from the object building around them.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace vc::scan {

// Lower-cases ASCII A-Z only, as the bytes lower operation does, and compares
// with a lower-case word for exact equality.
inline bool equals_lower(std::string_view bytes, std::string_view word) {
    if (bytes.size() != word.size()) return false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// Calls visit(fragment) for every fragment of the header value, in order.
// The value is split at every "; "; only when that gives a single piece is it
// split at every lone ";" instead. Empty pieces are kept, and an empty value
// is one empty fragment. Returns false as soon as visit returns false.
template <typename Visit>
bool for_each_fragment(std::string_view raw, Visit &&visit) {
    const bool has_pair = raw.find("; ") != std::string_view::npos;
    const std::string_view separator = has_pair ? std::string_view("; ") : std::string_view(";");
    std::size_t start = 0;
    for (;;) {
        std::size_t at = raw.find(separator, start);
        if (at == std::string_view::npos) return visit(raw.substr(start));
        if (!visit(raw.substr(start, at - start))) return false;
        start = at + separator.size();
    }
}

// Position of the first "=" (or npos): the split point of the cookie pair and
// of key=value attributes.
inline std::size_t equals_position(std::string_view fragment) {
    return fragment.find('=');
}

// Quote removal of the cookie value: only a value that holds a blank and
// begins with a double quote loses the double quotes at both of its ends.
inline std::string_view unquote_value(std::string_view value) {
    if (value.empty() || value.front() != '"' || value.find(' ') == std::string_view::npos) {
        return value;
    }
    std::size_t begin = value.find_first_not_of('"');
    if (begin == std::string_view::npos) return std::string_view();
    std::size_t end = value.find_last_not_of('"');
    return value.substr(begin, end - begin + 1);
}

// Attribute fragments the parser acts on.
enum class Attribute { none, expires, domain, path, max_age, same_site, http_only, secure };

// Classifies an attribute fragment; for key=value forms, `value` receives
// everything after the first "=".
inline Attribute classify(std::string_view fragment, std::string_view *value) {
    std::size_t eq = equals_position(fragment);
    if (eq != std::string_view::npos) {
        std::string_view key = fragment.substr(0, eq);
        *value = fragment.substr(eq + 1);
        if (equals_lower(key, "expires")) return Attribute::expires;
        if (equals_lower(key, "domain")) return Attribute::domain;
        if (equals_lower(key, "path")) return Attribute::path;
        if (equals_lower(key, "max-age")) return Attribute::max_age;
        if (equals_lower(key, "samesite")) return Attribute::same_site;
        return Attribute::none;
    }
    if (equals_lower(fragment, "httponly")) return Attribute::http_only;
    if (equals_lower(fragment, "secure")) return Attribute::secure;
    return Attribute::none;
}

// SameSite word to its code: "strict" 2, "lax" 1, "none" 3, anything else 0.
inline unsigned same_site_code(std::string_view word) {
    if (equals_lower(word, "strict")) return 2;
    if (equals_lower(word, "lax")) return 1;
    if (equals_lower(word, "none")) return 3;
    return 0;
}

// Reads a plain decimal integer (optional sign, 1 to 18 digits, nothing
// else). Anything else (blanks, underscores, longer numbers, errors) is left
// to the interpreter's own int() conversion, which owns those rules and texts.
inline bool plain_decimal(std::string_view text, long long *out) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        i = 1;
    }
    std::size_t digits = text.size() - i;
    if (digits == 0 || digits > 18) return false;
    long long value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    *out = negative ? -value : value;
    return true;
}

}  // namespace vc::scan
