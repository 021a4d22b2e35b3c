// Byte-level reading of one Set-Cookie-style header value: fragment
// splitting, the cookie pair, quote removal and the attribute words. Nothing
// here touches Python objects, so the rules can be read (and fuzzed) apart
// from the object building around them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velmora::cookies::scan {

// Lower-cases ASCII A-Z only, as the bytes lower operation does, and compares
// with a lower-case word for exact equality. Words of up to eight bytes are
// compared as one number: or-ing 0x20 into a byte turns it into a given
// letter exactly when it is that letter in either case, so the bit is set
// only where the word has a letter.
inline bool equals_lower(std::string_view bytes, std::string_view word) {
    const std::size_t n = word.size();
    if (bytes.size() != n) return false;
    if (n <= 8) {
        std::uint64_t x = 0, w = 0, letters = 0;
        std::memcpy(&x, bytes.data(), n);
        std::memcpy(&w, word.data(), n);
        for (std::size_t i = 0; i < n; ++i) {
            if (word[i] >= 'a' && word[i] <= 'z') letters |= std::uint64_t{0x20} << (8 * i);
        }
        return (x | letters) == w;
    }
    for (std::size_t i = 0; i < n; ++i) {
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
//
// One pass over the bytes: the search for the first "; " notes the lone ";"
// it passes, which are the split points when no "; " follows. Only a value
// with more lone ";" than are noted, and no "; ", is read twice.
template <typename Visit>
bool for_each_fragment(std::string_view raw, Visit &&visit) {
    constexpr std::size_t kNoted = 16;
    std::size_t noted[kNoted];
    std::size_t noted_count = 0;
    bool all_noted = true;
    const char *const data = raw.data();
    const std::size_t size = raw.size();
    // The next ";" at or after `from`, or size.
    auto next_semicolon = [&](std::size_t from) -> std::size_t {
        if (from >= size) return size;
        const void *hit = std::memchr(data + from, ';', size - from);
        return hit ? static_cast<std::size_t>(static_cast<const char *>(hit) - data) : size;
    };
    for (std::size_t at = next_semicolon(0); at < size; at = next_semicolon(at + 1)) {
        if (at + 1 < size && data[at + 1] == ' ') {
            // Split at every "; " from the start: the first piece ends here.
            std::size_t start = 0;
            for (;;) {
                if (!visit(raw.substr(start, at - start))) return false;
                start = at + 2;
                at = next_semicolon(start);
                while (at < size && !(at + 1 < size && data[at + 1] == ' ')) {
                    at = next_semicolon(at + 1);
                }
                if (at >= size) return visit(raw.substr(start));
            }
        }
        if (noted_count < kNoted) {
            noted[noted_count++] = at;
        } else {
            all_noted = false;
        }
    }
    // No "; ": split at every ";".
    std::size_t start = 0;
    if (all_noted) {
        for (std::size_t i = 0; i < noted_count; ++i) {
            if (!visit(raw.substr(start, noted[i] - start))) return false;
            start = noted[i] + 1;
        }
        return visit(raw.substr(start));
    }
    for (std::size_t at = next_semicolon(0); at < size; at = next_semicolon(at + 1)) {
        if (!visit(raw.substr(start, at - start))) return false;
        start = at + 1;
    }
    return visit(raw.substr(start));
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

// Attribute fragments the parser acts on; the four whose value is kept as
// text come first (see kTextFields).
enum class Attribute { expires, domain, path, same_site, max_age, http_only, secure, none };

// Classifies an attribute fragment; for key=value forms, `value` receives
// everything after the first "=".
inline Attribute classify(std::string_view fragment, std::string_view *value) {
    // Every key and word is at most eight bytes: a fragment whose first "="
    // (if any) lies further in names nothing, so only its first nine bytes
    // are searched.
    constexpr std::size_t kLongest = 8;
    const std::size_t searched = fragment.size() < kLongest + 1 ? fragment.size() : kLongest + 1;
    std::size_t eq = std::string_view::npos;
    for (std::size_t i = 0; i < searched; ++i) {
        if (fragment[i] == '=') {
            eq = i;
            break;
        }
    }
    if (eq == std::string_view::npos && fragment.size() > kLongest) return Attribute::none;
    if (eq != std::string_view::npos) {
        std::string_view key = fragment.substr(0, eq);
        *value = fragment.substr(eq + 1);
        // One comparison at most: the length and first letter tell the keys apart.
        if (key.empty()) return Attribute::none;
        const char first = static_cast<char>(key[0] | 0x20);
        switch (key.size()) {
            case 4:
                return first == 'p' && equals_lower(key, "path") ? Attribute::path
                                                                 : Attribute::none;
            case 6:
                return first == 'd' && equals_lower(key, "domain") ? Attribute::domain
                                                                   : Attribute::none;
            case 7:
                if (first == 'e') {
                    return equals_lower(key, "expires") ? Attribute::expires : Attribute::none;
                }
                return first == 'm' && equals_lower(key, "max-age") ? Attribute::max_age
                                                                    : Attribute::none;
            case 8:
                return first == 's' && equals_lower(key, "samesite") ? Attribute::same_site
                                                                     : Attribute::none;
            default:
                return Attribute::none;
        }
    }
    if (fragment.size() == 8 && equals_lower(fragment, "httponly")) return Attribute::http_only;
    if (fragment.size() == 6 && equals_lower(fragment, "secure")) return Attribute::secure;
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

// What one header value says, as views into its bytes; the last occurrence
// of each attribute wins.
struct Header {
    std::string_view name, value;  // the cookie pair, quotes removed from the value
    std::string_view expires, domain, path, same_site;
    long long max_age = -1;
    bool http_only = false;
    bool secure = false;
    std::string_view bad_pair;  // the first fragment, when it holds no "="
};

// Where the value of each text attribute goes, in Attribute order.
inline constexpr std::string_view Header::*kTextFields[] = {&Header::expires, &Header::domain,
                                                            &Header::path, &Header::same_site};

// Reads a header value into `out`. Max-Age values that are not plain
// decimals go to read_max_age(text, &value), which follows the interpreter's
// int() and returns false (with its error) to end the reading there. False
// when the first fragment has no "=" (out->bad_pair holds it) or
// read_max_age failed.
template <typename ReadMaxAge>
bool read_header(std::string_view raw, Header *out, ReadMaxAge &&read_max_age) {
    bool first = true;
    Header &h = *out;
    return for_each_fragment(raw, [&](std::string_view fragment) {
        if (first) {
            first = false;
            std::size_t eq = equals_position(fragment);
            if (eq == std::string_view::npos) {
                h.bad_pair = fragment;
                return false;
            }
            h.name = fragment.substr(0, eq);
            h.value = unquote_value(fragment.substr(eq + 1));
            return true;
        }
        std::string_view attr_value;
        switch (const Attribute kind = classify(fragment, &attr_value)) {
            case Attribute::expires:
            case Attribute::domain:
            case Attribute::path:
            case Attribute::same_site:
                h.*kTextFields[static_cast<int>(kind)] = attr_value;
                break;
            case Attribute::max_age:
                if (!plain_decimal(attr_value, &h.max_age))
                    return read_max_age(attr_value, &h.max_age);
                break;
            case Attribute::http_only:
                h.http_only = true;
                break;
            case Attribute::secure:
                h.secure = true;
                break;
            case Attribute::none:
                break;
        }
        return true;
    });
}

}  // namespace velmora::cookies::scan
