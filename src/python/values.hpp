// Shared plumbing of the value classes: which type holds which record, and the entry shapes of their
// methods, getters and reprs (bind, receiver check, work, all inside the call frame).
#pragma once

#include <string>

#include "args.hpp"
#include "frame.hpp"
#include "kiv/knot.hpp"
#include "kiv/pair.hpp"
#include "kiv/point.hpp"
#include "registry.hpp"
#include "types.hpp"

namespace kivpy {

// The class that wraps a value record. Each class file defines type() for its record: the type object,
// created on first use (a failure to create it is an internal failure of the call).
template <class Rec>
struct ValueClass;

template <>
struct ValueClass<kiv::Point> {
    static constexpr const char* name = "KIVPoint";
    static PyTypeObject* type();
};

template <>
struct ValueClass<kiv::Pair> {
    static constexpr const char* name = "KIVPair";
    static PyTypeObject* type();
};

template <>
struct ValueClass<kiv::Knot> {
    static constexpr const char* name = "KIVKnot";
    static PyTypeObject* type();
};

// A new instance of the record's class.
template <class Rec>
Ref new_value(const Rec& value) {
    return new_instance(ValueClass<Rec>::type(), value);
}

// True when o is an instance of the record's class (same type or a subtype).
template <class Rec>
bool is_value(PyObject* o) {
    return PyObject_TypeCheck(o, ValueClass<Rec>::type());
}

// The record of an object already known to be an instance of its class.
template <class Rec>
const Rec& value_of(PyObject* o) noexcept {
    return reinterpret_cast<Instance<Rec>*>(o)->value;
}

// A float argument: an exact float is read in place; anything else goes through to_f64.
inline double float_arg(PyObject* o, const char* param) {
    return PyFloat_CheckExact(o) ? PyFloat_AS_DOUBLE(o) : to_f64(o, param);
}

// The receiver check: the record of self, or TypeError "'TYPE' object cannot be converted to 'CLASS'".
template <class Rec>
Rec receiver(PyObject* self) {
    return instance_value<Rec>(self, ValueClass<Rec>::type(), ValueClass<Rec>::name);
}

// An argument declared as an instance of the record's class, with the argument prefix on failure.
template <class Rec>
Rec value_arg(PyObject* o, const char* param) {
    return to_instance<Rec>(o, ValueClass<Rec>::type(), ValueClass<Rec>::name, param);
}

// A method entry (fast-call form): binds, checks the receiver, then body(record, args) -> Ref.
template <class Rec, class Body>
PyObject* method_entry(const FnDesc& desc, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames, Body&& body) {
    return run([&] {
        const Args a = bind(desc, args, nargs, kwnames);
        return body(receiver<Rec>(self), a);
    });
}

// A static method entry: binds, then body(args) -> Ref.
template <class Body>
PyObject* static_entry(const FnDesc& desc, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                       Body&& body) {
    return run([&] { return body(bind(desc, args, nargs, kwnames)); });
}

// A getter or one-operand slot entry: checks the receiver, then body(record) -> Ref.
template <class Rec, class Body>
PyObject* getter_entry(PyObject* self, Body&& body) {
    return run([&] { return body(receiver<Rec>(self)); });
}

// A constructor entry (tuple-and-dict form): binds, then body(args) -> record, stored in a new instance.
template <class Body>
PyObject* new_entry(PyTypeObject* type, const FnDesc& desc, PyObject* args, PyObject* kwargs, Body&& body) {
    return run([&] { return new_instance(type, body(bind(desc, args, kwargs))); });
}

// A constructor entry (fast-call form, the type's vectorcall): the same binding and reading as new_entry.
template <class Body>
PyObject* call_entry(PyObject* type, const FnDesc& desc, PyObject* const* args, std::size_t nargsf,
                     PyObject* kwnames, Body&& body) {
    return run([&] {
        return new_instance(reinterpret_cast<PyTypeObject*>(type),
                            body(bind(desc, args, static_cast<Py_ssize_t>(nargsf), kwnames)));
    });
}

// The interpreter's NotImplemented singleton, as a new reference.
inline Ref not_implemented() { return Ref::borrow(Py_NotImplemented); }

// The flags of a class type: no base-type flag (not subclassable), no instance dict, no weak references.
// The class's own attributes cannot be reassigned either, as for the interpreter's built-in types; this
// also keeps the constructor's vectorcall in step with __new__.
inline constexpr unsigned int kValueTypeFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

}  // namespace kivpy
