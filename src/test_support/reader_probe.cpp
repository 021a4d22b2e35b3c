// velmora._reader_probe: a test-only module that runs the byte-level readers
// of velmora.cookies (header_scan.hpp, date_text.hpp) on input placed at the
// very end of a readable page, followed by a page that cannot be read, so
// that a read past the input's last byte faults at once. What each reader
// found is returned, for the tests to compare with what parse_cookie and
// datetime_from_cookie_format give. Built only with VELMORA_TEST_MODULE.
#include <Python.h>

#include "cookies/date_text.hpp"
#include "cookies/header_scan.hpp"
#include "cookies/max_age_text.hpp"

#include <cstring>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

extern "C" {
__attribute__((visibility("default"))) int __pyx_module_is_main_velmora___reader_probe = 0;
}

namespace {

// The bytes of a bytes object, copied so that they end where a page without
// access begins. The mapping lives as long as the object.
class PageEnd {
public:
    explicit PageEnd(PyObject *bytes) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        size_ = static_cast<std::size_t>(PyBytes_GET_SIZE(bytes));
        readable_ = (size_ + page - 1) / page * page;
        if (readable_ == 0) readable_ = page;
        void *map = mmap(nullptr, readable_ + page, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            PyErr_SetFromErrno(PyExc_OSError);
            return;
        }
        base_ = static_cast<char *>(map);
        if (mprotect(base_ + readable_, page, PROT_NONE) != 0) {
            PyErr_SetFromErrno(PyExc_OSError);
            return;
        }
        char *start = base_ + readable_ - size_;
        if (size_) std::memcpy(start, PyBytes_AS_STRING(bytes), size_);
        text_ = {start, size_};
        ok_ = true;
    }
    PageEnd(const PageEnd &) = delete;
    PageEnd &operator=(const PageEnd &) = delete;
    ~PageEnd() {
        if (base_) munmap(base_, readable_ + static_cast<std::size_t>(sysconf(_SC_PAGESIZE)));
    }
    bool ok() const { return ok_; }
    std::string_view text() const { return text_; }

private:
    char *base_ = nullptr;
    std::size_t size_ = 0, readable_ = 0;
    std::string_view text_;
    bool ok_ = false;
};

bool check_bytes(PyObject *arg) {
    if (PyBytes_CheckExact(arg)) return true;
    PyErr_Format(PyExc_TypeError, "expected bytes, got %.200s", Py_TYPE(arg)->tp_name);
    return false;
}

// read_header(raw) -> (name, value, expires, domain, path, same_site code,
// max_age, http_only, secure), or ("bad pair", fragment) when the first
// fragment has no "=".
PyObject *probe_read_header(PyObject *, PyObject *arg) {
    if (!check_bytes(arg)) return nullptr;
    PageEnd input(arg);
    if (!input.ok()) return nullptr;
    velmora::cookies::scan::Header h;
    if (!velmora::cookies::scan::read_header(input.text(), &h, velmora::cookies::read_max_age)) {
        if (PyErr_Occurred()) return nullptr;
        return Py_BuildValue("(sy#)", "bad pair", h.bad_pair.data(),
                             static_cast<Py_ssize_t>(h.bad_pair.size()));
    }
    // Absent attributes are empty views without data: b"" here, as for an empty value.
    auto d = [](std::string_view v) { return v.data() ? v.data() : ""; };
    auto n = [](std::string_view v) { return static_cast<Py_ssize_t>(v.size()); };
    return Py_BuildValue("(y#y#y#y#y#ILOO)", d(h.name), n(h.name), d(h.value), n(h.value),
                         d(h.expires), n(h.expires), d(h.domain), n(h.domain), d(h.path), n(h.path),
                         velmora::cookies::scan::same_site_code(h.same_site), h.max_age,
                         h.http_only ? Py_True : Py_False, h.secure ? Py_True : Py_False);
}

// read_date(raw) -> (year, month, day, hour, minute, second), or None where
// the native reader leaves the text to the standard function.
PyObject *probe_read_date(PyObject *, PyObject *arg) {
    if (!check_bytes(arg)) return nullptr;
    PageEnd input(arg);
    if (!input.ok()) return nullptr;
    velmora::cookies::date_text::Fields f;
    if (!velmora::cookies::date_text::read(input.text(), &f)) Py_RETURN_NONE;
    return Py_BuildValue("(iiiiii)", f.year, f.month, f.day, f.hour, f.minute, f.second);
}

PyMethodDef methods[] = {
    {"read_header", probe_read_header, METH_O, nullptr},
    {"read_date", probe_read_date, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot slots[] = {
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "velmora._reader_probe",
    nullptr,
    0,
    methods,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__reader_probe(void) {
    return PyModuleDef_Init(&module_def);
}
