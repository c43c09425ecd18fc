// Python objects the binding keeps for the life of an interpreter (types, interned names, the module):
// each is forgotten when the interpreter ends, so that a later interpreter creates its own.
#pragma once

#include <utility>

#include "ref.hpp"

namespace kivpy {

// One cached object: empty, or a reference kept until the interpreter that made it ends. Objects of this
// class live in static storage; each links itself into one list when constructed.
class Cached {
public:
    Cached() noexcept : next_(std::exchange(first_, this)) {}
    Cached(const Cached&) = delete;
    Cached& operator=(const Cached&) = delete;

    PyObject* get() const noexcept { return p_; }
    // Keeps o (a new reference, owned by the cache from now on).
    void keep(PyObject* o) noexcept { p_ = o; }

    // Empties every cache without releasing anything: called once the interpreter has ended, when its
    // objects are gone and no Python call is allowed.
    static void forget_all() noexcept {
        for (Cached* c = first_; c != nullptr; c = c->next_) c->p_ = nullptr;
    }

private:
    PyObject* p_ = nullptr;
    Cached* next_;
    static inline Cached* first_ = nullptr;
};

}  // namespace kivpy
