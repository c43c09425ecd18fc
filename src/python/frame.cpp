// Call-frame translation of failures, and the panic exception type.
#include "frame.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <stdexcept>

#include "cache.hpp"
#include "kiv/failure.hpp"
#include "kiv/memory.hpp"

namespace kivpy {
namespace {

Cached g_panic_type;  // created on first need, kept until the interpreter ends

constexpr const char kPanicDoc[] =
    "The exception raised when the module's own code fails internally.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "interpreter to exit.";

[[noreturn]] void abort_uncaught() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
}

PyObject* panic_type() noexcept {
    if (g_panic_type.get() == nullptr) {
        PyObject* t = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException,
                                                nullptr);
        if (t == nullptr) {
            PyErr_Print();
            std::fputs("Failed to initialize new exception type.\n", stderr);
            abort_uncaught();
        }
        g_panic_type.keep(t);
    }
    return g_panic_type.get();
}

}  // namespace

void set_panic(const char* message) noexcept {
    PyObject* type = panic_type();
    PyErr_SetString(type, message != nullptr ? message : "the kiv_core module panicked");
}

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const PyErrorSet&) {
        if (!PyErr_Occurred()) set_panic("an error was reported without an exception set");
    } catch (const kiv::InternalFailure& e) {
        set_panic(e.what());
    } catch (const kiv::OutOfMemory& e) {
        // A request sized up front and refused: the caller's count is too large, not a broken invariant.
        PyErr_SetString(PyExc_MemoryError, e.what());
    } catch (const std::out_of_range& e) {
        set_panic(e.what());
    } catch (const std::length_error& e) {
        set_panic(e.what());
    } catch (const std::bad_alloc&) {
        set_panic("memory allocation failed");
    } catch (const std::exception& e) {
        // Any other failure of the standard library is an internal failure too: raising it beats ending
        // the process.
        set_panic(e.what());
    } catch (...) {
        abort_uncaught();
    }
}

}  // namespace kivpy
