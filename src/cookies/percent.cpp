// Percent-encoding and -decoding with the standard library's rules.
#include "cookies/percent.hpp"

#include "module_support/ref.hpp"

#include <cstring>

namespace velmora::cookies {

using support::Ref;

namespace {

// A "%" followed by two hex digits (either case) is one byte; any other "%"
// stays as it is. Writes at most run.size() bytes to `out`.
std::size_t percent_decode(std::string_view run, char *out) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < run.size();) {
        int high = -1, low = -1;
        if (run[i] == '%' && i + 2 < run.size()) {
            high = detail::hex_value(run[i + 1]);
            low = detail::hex_value(run[i + 2]);
        }
        if (high >= 0 && low >= 0) {
            out[n++] = static_cast<char>(high * 16 + low);
            i += 3;
        } else {
            out[n++] = run[i++];
        }
    }
    return n;
}

bool is_ascii(unsigned char c) {
    return c < 0x80;
}

}  // namespace

PyObject *unquote_valid_utf8(PyObject *text, std::string_view bytes) {
    if (bytes.find('%') == std::string_view::npos) return Py_NewRef(text);
    char *buffer = static_cast<char *>(PyMem_Malloc(bytes.size()));
    if (!buffer) return PyErr_NoMemory();
    PyUnicodeWriter *writer = PyUnicodeWriter_Create(static_cast<Py_ssize_t>(bytes.size()));
    if (!writer) {
        PyMem_Free(buffer);
        return nullptr;
    }
    bool ok = true;
    for (std::size_t i = 0; ok && i < bytes.size();) {
        const bool ascii = is_ascii(static_cast<unsigned char>(bytes[i]));
        std::size_t end = i + 1;
        while (end < bytes.size() && is_ascii(static_cast<unsigned char>(bytes[end])) == ascii) {
            ++end;
        }
        std::string_view run = bytes.substr(i, end - i);
        if (ascii && run.find('%') != std::string_view::npos) {
            std::size_t n = percent_decode(run, buffer);
            ok = PyUnicodeWriter_DecodeUTF8Stateful(writer, buffer, static_cast<Py_ssize_t>(n),
                                                    "replace", nullptr) == 0;
        } else {
            ok = PyUnicodeWriter_WriteUTF8(writer, run.data(),
                                           static_cast<Py_ssize_t>(run.size())) == 0;
        }
        i = end;
    }
    PyMem_Free(buffer);
    if (!ok) {
        PyUnicodeWriter_Discard(writer);
        return nullptr;
    }
    return PyUnicodeWriter_Finish(writer);
}

}  // namespace velmora::cookies
