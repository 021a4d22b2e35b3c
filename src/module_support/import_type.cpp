#include "module_support/import_type.hpp"

#include "module_support/ref.hpp"

namespace velmora::support {

namespace {

constexpr const char kSizeChanged[] =
    "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C "
    "header, got %zd from PyObject";

}  // namespace

PyTypeObject *import_type(const char *module_name, const char *class_name,
                          Py_ssize_t expected_size) {
    Ref module = Ref::steal(PyImport_ImportModule(module_name));
    if (!module) return nullptr;
    Ref found = Ref::steal(PyObject_GetAttrString(module.get(), class_name));
    if (!found) return nullptr;
    if (!PyType_Check(found.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name,
                     class_name);
        return nullptr;
    }
    auto *type = reinterpret_cast<PyTypeObject *>(found.get());
    Py_ssize_t basic_size = type->tp_basicsize;
    Py_ssize_t item_size = type->tp_itemsize;
    // Variable-size objects hold at least one pointer-aligned item. A
    // fixed-size type gets no allowance: a smaller record than declared
    // would have native code read past its end.
    if (item_size > 0 && item_size < 8) item_size = 8;
    if (basic_size + item_size < expected_size) {
        PyErr_Format(PyExc_ValueError, kSizeChanged, module_name, class_name, expected_size,
                     basic_size + item_size);
        return nullptr;
    }
    if (basic_size > expected_size) {
        // The default warning category, as for any warning without one.
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 0, kSizeChanged, module_name, class_name,
                             expected_size, basic_size) < 0) {
            return nullptr;
        }
    }
    return reinterpret_cast<PyTypeObject *>(found.release());
}

}  // namespace velmora::support
