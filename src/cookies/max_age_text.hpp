// Max-Age values that are not plain decimals (blanks, underscores, long
// numbers, garbage), read as int() reads bytes: the interpreter's errors are
// the ones callers see. The header reader (header_scan.hpp) hands them here.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string_view>

#include "module_support/convert.hpp"
#include "module_support/ref.hpp"

namespace velmora::cookies {

// False with the error of int() or of the 64-bit range check.
inline bool read_max_age(std::string_view text, long long *out) {
    support::Ref raw = support::Ref::steal(
        PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!raw) return false;
    support::Ref number = support::Ref::steal(PyNumber_Long(raw.get()));
    if (!number) return false;
    int64_t value;
    if (!support::to_int64(number.get(), &value)) return false;
    *out = value;
    return true;
}

}  // namespace velmora::cookies
