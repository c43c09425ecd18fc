// The call frame every entry runs through: result -> new reference, error -> exception set, internal
// failure -> PanicException with the failure's message.
#pragma once

#include "errors.hpp"

namespace kivpy {

// Sets the panic exception (created on first need) with the given message; NULL means no message.
void set_panic(const char* message) noexcept;

// Translates the exception currently being handled into a Python exception.
void translate_current_exception() noexcept;

// Runs body (returning Ref) and hands its reference to the interpreter, or NULL with an exception set.
template <class Body>
PyObject* run(Body&& body) noexcept {
    try {
        Ref result = body();
        return result.release();
    } catch (...) {
        translate_current_exception();
        return nullptr;
    }
}

}  // namespace kivpy
