// Heap types whose instances hold a plain record: instance layout, lazy creation, construction, the
// receiver check and the argument kind for instances.
#pragma once

#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "cache.hpp"
#include "errors.hpp"
#include "kiv/failure.hpp"

namespace kivpy {

// The flags of a class type: no base-type flag (not subclassable), no instance dict, no weak references.
// The class's own attributes cannot be reassigned either, as for the interpreter's built-in types; this
// also keeps a constructor's vectorcall in step with __new__.
inline constexpr unsigned int kClassTypeFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

// The class that wraps a record. Each class specialises it with
//   static constexpr const char* name;   // the class name, as errors and display names show it
//   static PyTypeObject* type();          // the type object (creation failure: internal failure)
template <class Rec>
struct ClassOf;

// An instance embeds its class's record after the object header.
template <class Rec>
struct Instance {
    PyObject_HEAD
    Rec value;
};

// The deallocator of a class: destroys the record, frees the memory and drops the instance's
// reference to its heap type.
template <class Rec>
void dealloc_instance(PyObject* self) {
    if constexpr (!std::is_trivially_destructible_v<Rec>) reinterpret_cast<Instance<Rec>*>(self)->value.~Rec();
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// A class type object, created from its PyType_Spec on first use and kept until the interpreter ends.
class LazyType {
public:
    explicit LazyType(PyType_Spec* layout, vectorcallfunc constructor = nullptr)
        : layout_(layout), constructor_(constructor) {}

    // The type, or PyErrorSet with the interpreter's error (registration returns that error).
    PyTypeObject* get() {
        if (type_.get() == nullptr) {
            PyObject* t = PyType_FromSpec(layout_);
            if (t == nullptr) throw PyErrorSet{};
            if (type_.get() == nullptr) {
                // With a vectorcall for calls of the type object itself (the constructor), the call
                // skips building an argument tuple and the __init__ step.
                if (constructor_ != nullptr) reinterpret_cast<PyTypeObject*>(t)->tp_vectorcall = constructor_;
                type_.keep(t);
            } else {
                Py_DECREF(t);  // another caller stored one first; that one stays in use
            }
        }
        return reinterpret_cast<PyTypeObject*>(type_.get());
    }

    // The type for constructing an instance: a failure to create it is printed and becomes an
    // internal failure of the call.
    PyTypeObject* for_instance(const char* class_name) {
        try {
            return get();
        } catch (const PyErrorSet&) {
            PyErr_Print();
            throw kiv::InternalFailure(std::string("failed to create type object for ") + class_name);
        }
    }

private:
    PyType_Spec* layout_;  // the type's slots, flags and name
    vectorcallfunc constructor_;
    Cached type_;
};

// A new instance of type holding value.
template <class Rec>
Ref new_instance(PyTypeObject* type, Rec&& value) {
    using R = std::remove_cvref_t<Rec>;
    Ref obj = require(type->tp_alloc(type, 0));
    new (&reinterpret_cast<Instance<R>*>(obj.get())->value) R(std::forward<Rec>(value));
    return obj;
}

// A new instance of the record's class.
template <class Rec>
Ref new_value(Rec&& value) {
    return new_instance(ClassOf<std::remove_cvref_t<Rec>>::type(), std::forward<Rec>(value));
}

// True when o is an instance of the record's class (same type or a subtype).
template <class Rec>
bool is_value(PyObject* o) {
    return PyObject_TypeCheck(o, ClassOf<Rec>::type());
}

// The record of an object already known to be an instance of its class.
template <class Rec>
const Rec& value_of(PyObject* o) noexcept {
    return reinterpret_cast<Instance<Rec>*>(o)->value;
}

// The receiver check: the record of o, or TypeError "'TYPE' object cannot be converted to 'CLASS'".
template <class Rec>
const Rec& receiver(PyObject* o) {
    if (!is_value<Rec>(o)) raise_cannot_convert(o, ClassOf<Rec>::name);
    return value_of<Rec>(o);
}

// The argument kind of a parameter declared as an instance of the record's class (the record is copied).
template <class Rec>
struct InstanceOf {
    using type = Rec;
    static Rec read(PyObject* o) { return receiver<Rec>(o); }
};

// The answer of __reduce__: (callable, args), which pickle and copy turn back into an equal object by
// calling callable(*args).
inline Ref reduction(PyObject* callable, Ref args) {
    return require(Py_BuildValue("(ON)", callable, args.release()));
}

// The docstring of every __reduce__.
inline constexpr const char* kReduceDoc = "Return state information for pickling.";

// The interpreter's NotImplemented singleton, as a new reference.
inline Ref not_implemented() { return Ref::new_ref(Py_NotImplemented); }

}  // namespace kivpy
