// Heap types of the module's classes: instance layout, lazy creation, construction and the receiver check.
#pragma once

#include <cstdio>
#include <string>

#include "args.hpp"
#include "kiv/failure.hpp"
#include "ref.hpp"

namespace kivpy {

// An instance embeds its class's plain value record after the object header.
template <class Rec>
struct Instance {
    PyObject_HEAD
    Rec value;
};

// The deallocator every class uses: instances hold a reference to their heap type.
inline void dealloc_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// A class type object, created from its PyType_Spec on first use and kept for the life of the process.
class LazyType {
public:
    explicit LazyType(PyType_Spec* spec) : spec_(spec) {}
    // With a vectorcall function for calls of the type object itself (the constructor): the call then
    // skips building an argument tuple and the __init__ step.
    LazyType(PyType_Spec* spec, vectorcallfunc constructor) : spec_(spec), constructor_(constructor) {}

    // The type, or PyErrorSet with the interpreter's error (registration returns that error).
    PyTypeObject* get() {
        if (type_ == nullptr) {
            PyObject* t = PyType_FromSpec(spec_);
            if (t == nullptr) throw PyErrorSet{};
            if (type_ == nullptr) {
                type_ = reinterpret_cast<PyTypeObject*>(t);  // kept for the life of the process
                if (constructor_ != nullptr) type_->tp_vectorcall = constructor_;
            } else {
                Py_DECREF(t);  // another caller stored one first; that one stays in use
            }
        }
        return type_;
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
    PyType_Spec* spec_;
    vectorcallfunc constructor_ = nullptr;
    PyTypeObject* type_ = nullptr;
};

// A new instance of type holding value.
template <class Rec>
Ref new_instance(PyTypeObject* type, const Rec& value) {
    Ref obj = require(type->tp_alloc(type, 0));
    reinterpret_cast<Instance<Rec>*>(obj.get())->value = value;
    return obj;
}

// The value record of o when it is an instance of type (or a subtype); otherwise TypeError
// "'TYPE' object cannot be converted to 'CLASS'".
template <class Rec>
const Rec& instance_value(PyObject* o, PyTypeObject* type, const char* class_name) {
    if (!PyObject_TypeCheck(o, type)) raise_cannot_convert(o, class_name);
    return reinterpret_cast<Instance<Rec>*>(o)->value;
}

// The same test for an argument declared as an instance of a module class, with the argument prefix.
template <class Rec>
const Rec& to_instance(PyObject* o, PyTypeObject* type, const char* class_name, const char* param) {
    try {
        return instance_value<Rec>(o, type, class_name);
    } catch (const PyErrorSet&) {
        fail_argument(param);
    }
}

}  // namespace kivpy
