// Owned and borrowed references to Python objects, and the "a Python error is already set" exception.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace kivpy {

// Thrown when a C-API call has failed and left its exception set; the call frame turns it into NULL.
struct PyErrorSet {};

// An owned (strong) reference: released when the holder goes away, so no path can forget a decref.
class Ref {
public:
    Ref() noexcept = default;
    // Takes over a new reference (may be NULL).
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Takes a new reference to a borrowed object.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    // Hands the reference to the caller (for returning to the interpreter or stealing APIs).
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// A borrowed reference: documents that the holder owns nothing.
class Borrowed {
public:
    Borrowed(PyObject* p) noexcept : p_(p) {}  // NOLINT: implicit on purpose
    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    PyObject* p_;
};

// Wraps a new reference returned by the C API; a NULL means its error is set.
inline Ref require(PyObject* p) {
    if (p == nullptr) throw PyErrorSet{};
    return Ref::steal(p);
}

// Checks an int status of the C API (negative means an error is set).
inline int require_status(int rc) {
    if (rc < 0) throw PyErrorSet{};
    return rc;
}

// Sets an exception of the given type and text and throws PyErrorSet.
[[noreturn]] inline void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PyErrorSet{};
}

}  // namespace kivpy
