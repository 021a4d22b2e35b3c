// Owning reference to a Python object, so that no error path leaks.
#pragma once

#include <Python.h>

#include <utility>

namespace velmora::support {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Ref &operator=(Ref &&other) noexcept {
        if (this != &other) {
            PyObject *old = p_;
            p_ = other.p_;
            other.p_ = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    // Takes over a reference the caller owns (a new reference from the C API).
    static Ref steal(PyObject *p) noexcept { return Ref(p); }
    // Takes a new reference to a borrowed object.
    static Ref borrow(PyObject *p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    PyObject *get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference to the caller.
    [[nodiscard]] PyObject *release() noexcept { return std::exchange(p_, nullptr); }
    // Returns a new reference, keeping this one.
    PyObject *new_ref() const noexcept { return Py_XNewRef(p_); }
    void reset(PyObject *stolen = nullptr) noexcept {
        PyObject *old = std::exchange(p_, stolen);
        Py_XDECREF(old);
    }

private:
    explicit Ref(PyObject *p) noexcept : p_(p) {}
    PyObject *p_ = nullptr;
};

// Stores a new reference into an object field, releasing the old value last,
// so that a destructor run by the release sees the field already replaced.
inline void replace_field(PyObject *&field, PyObject *value) noexcept {
    PyObject *old = field;
    field = Py_NewRef(value);
    Py_XDECREF(old);
}

}  // namespace velmora::support
