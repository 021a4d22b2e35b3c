// Byte-level reading and writing of the one date form cookies carry on the
// wire, "Www, DD Mon YYYY HH:MM:SS GMT". Nothing here touches Python objects:
// dates.cpp decides when these may stand in for the standard library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velmora::cookies::date_text {

// The fields of a date as the cookie text states them.
struct Fields {
    int year, month, day, hour, minute, second;
};

// "Www, DD Mon YYYY HH:MM:SS GMT"
inline constexpr std::size_t kLength = 29;

inline constexpr char kDayNames[7][4] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
inline constexpr char kMonthNames[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

inline bool is_leap(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

inline int days_in_month(int year, int month) {
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

// Day of the week of a proleptic Gregorian date (year 1 and later), 0 for
// Monday, as date.weekday() counts (Sakamoto's method).
inline int weekday(int year, int month, int day) {
    static constexpr int offsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    const int y = year - (month < 3 ? 1 : 0);
    const int sunday_based = (y + y / 4 - y / 100 + y / 400 + offsets[month - 1] + day) % 7;
    return (sunday_based + 6) % 7;
}

namespace detail {

inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
inline bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Two or four decimal digits at `at`, or -1.
inline int digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!is_digit(text[i])) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// 1 to 12 for a month abbreviation in any case, else 0.
inline int month_number(std::string_view name) {
    // The three letters, lower-cased (ASCII letters only; anything else
    // matches no month), as one number.
    auto low = [](char c) -> unsigned {
        return c >= 'A' && c <= 'Z' ? static_cast<unsigned>(c - 'A' + 'a')
                                    : static_cast<unsigned char>(c);
    };
    const unsigned key = low(name[0]) << 16 | low(name[1]) << 8 | low(name[2]);
    constexpr auto pack = [](const char *m) {
        return static_cast<unsigned>(m[0]) << 16 | static_cast<unsigned>(m[1]) << 8 |
               static_cast<unsigned>(m[2]);
    };
    switch (key) {
        case pack("jan"):
            return 1;
        case pack("feb"):
            return 2;
        case pack("mar"):
            return 3;
        case pack("apr"):
            return 4;
        case pack("may"):
            return 5;
        case pack("jun"):
            return 6;
        case pack("jul"):
            return 7;
        case pack("aug"):
            return 8;
        case pack("sep"):
            return 9;
        case pack("oct"):
            return 10;
        case pack("nov"):
            return 11;
        case pack("dec"):
            return 12;
        default:
            return 0;
    }
}

}  // namespace detail

// Reads the canonical form: three letters and a comma (the day name, which is
// skipped, not checked against the date), a two-digit day, a month
// abbreviation in any case, a four-digit year, a two-digit 24-hour time and
// the zone GMT in any case, each field separated by one blank. Two-digit
// values of the year (0000 to 0099) map to 1969..2068 the way RFC 822 dates
// are read. Succeeds only when every field is in range, so that the result
// names a real date and time; false for anything else.
inline bool read(std::string_view text, Fields *out) {
    using namespace detail;
    if (text.size() != kLength) return false;
    const char *t = text.data();
    if (!is_letter(t[0]) || !is_letter(t[1]) || !is_letter(t[2]) || t[3] != ',' || t[4] != ' ' ||
        t[7] != ' ' || t[11] != ' ' || t[16] != ' ' || t[19] != ':' || t[22] != ':' ||
        t[25] != ' ' || (t[26] | 0x20) != 'g' || (t[27] | 0x20) != 'm' || (t[28] | 0x20) != 't') {
        return false;
    }
    // The digit fields: positions 5-6, 12-15, 17-18, 20-21, 23-24.
    auto digit = [t](int i) {
        return static_cast<unsigned>(static_cast<unsigned char>(t[i]) - '0');
    };
    const unsigned d5 = digit(5), d6 = digit(6), d12 = digit(12), d13 = digit(13), d14 = digit(14),
                   d15 = digit(15), d17 = digit(17), d18 = digit(18), d20 = digit(20),
                   d21 = digit(21), d23 = digit(23), d24 = digit(24);
    if (d5 > 9 || d6 > 9 || d12 > 9 || d13 > 9 || d14 > 9 || d15 > 9 || d17 > 9 || d18 > 9 ||
        d20 > 9 || d21 > 9 || d23 > 9 || d24 > 9) {
        return false;
    }
    Fields f;
    f.month = month_number(text.substr(8, 3));
    if (f.month == 0) return false;
    f.day = static_cast<int>(d5 * 10 + d6);
    f.year = static_cast<int>(d12 * 1000 + d13 * 100 + d14 * 10 + d15);
    f.hour = static_cast<int>(d17 * 10 + d18);
    f.minute = static_cast<int>(d20 * 10 + d21);
    f.second = static_cast<int>(d23 * 10 + d24);
    if (f.year < 100) f.year += f.year > 68 ? 1900 : 2000;
    if (f.day < 1 || f.day > days_in_month(f.year, f.month) || f.hour > 23 || f.minute > 59 ||
        f.second > 59) {
        return false;
    }
    *out = f;
    return true;
}

// Writes the canonical form of `f` (year 1000 to 9999, fields in range) into
// `out`, which holds kLength bytes, with English names as the C locale's
// strftime gives them.
inline void write(const Fields &f, char *out) {
    // Two digits from a table: cheaper than the divisions.
    static constexpr auto kTwoDigits = [] {
        std::array<char, 200> table{};
        for (int i = 0; i < 100; ++i) {
            table[2 * i] = static_cast<char>('0' + i / 10);
            table[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
        return table;
    }();
    auto two = [](char *at, int value) { std::memcpy(at, &kTwoDigits[2 * value], 2); };
    const char *day_name = kDayNames[weekday(f.year, f.month, f.day)];
    const char *month_name = kMonthNames[f.month - 1];
    out[0] = day_name[0];
    out[1] = day_name[1];
    out[2] = day_name[2];
    out[3] = ',';
    out[4] = ' ';
    two(out + 5, f.day);
    out[7] = ' ';
    out[8] = month_name[0];
    out[9] = month_name[1];
    out[10] = month_name[2];
    out[11] = ' ';
    two(out + 12, f.year / 100);
    two(out + 14, f.year % 100);
    out[16] = ' ';
    two(out + 17, f.hour);
    out[19] = ':';
    two(out + 20, f.minute);
    out[22] = ':';
    two(out + 23, f.second);
    out[25] = ' ';
    out[26] = 'G';
    out[27] = 'M';
    out[28] = 'T';
}

}  // namespace velmora::cookies::date_text
