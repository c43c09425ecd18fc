// One declaration per entry (name, parameters with kinds and defaults, docstring body) and the entry
// points generated from it: binder, display name, text signature, method definitions, constructors.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>
#include <utility>

#include "args.hpp"
#include "frame.hpp"
#include "types.hpp"

namespace kivpy {

// The calling convention of every entry that takes parameters: a vector of positional arguments, their
// count and a tuple of keyword names.
inline constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

// An entry function typed as the PyMethodDef field stores it.
template <class F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
}

enum class EntryKind {
    Function,      // module function: body(args)
    Method,        // method: body(record, args)
    StaticMethod,  // static method of a class: body(args)
    NoArgsMethod,  // method the interpreter calls without arguments: body(record)
    Constructor,   // the class's constructor: body(args) -> record
};

// A required parameter of kind Kind, and an optional one with the text its default shows.
template <class Kind>
consteval Param<Kind> arg(const char* name) {
    return {name, nullptr, 0};
}
template <class Kind>
consteval Param<Kind> opt(const char* name, const char* default_text) {
    return {name, default_text, 0};
}

// The declaration of one entry. Owner is the record of the entry's class (void for module functions).
template <class Owner, class... Kinds>
struct Decl {
    static constexpr std::size_t size = sizeof...(Kinds);
    static_assert(size <= kMaxParams, "an entry declares more parameters than the binder allows");
    using owner = Owner;

    EntryKind kind;
    const char* owner_name;  // the class name, or null
    const char* name;
    const char* body;  // the docstring after the signature lines
    std::tuple<Param<Kinds>...> params;
    std::array<const char*, size> names;
    std::size_t required;
};

template <class Owner, class... Kinds>
consteval Decl<Owner, Kinds...> declare(EntryKind kind, const char* owner_name, const char* name, const char* body,
                                        Param<Kinds>... ps) {
    std::size_t index = 0;
    ((ps.index = index++), ...);
    const std::array<bool, sizeof...(Kinds)> optional{(ps.default_text != nullptr)...};
    std::size_t required = 0;
    while (required < optional.size() && !optional[required]) ++required;
    for (std::size_t i = required; i < optional.size(); ++i) {
        if (!optional[i]) throw "a required parameter follows an optional one";
    }
    return {kind, owner_name, name, body, {ps...}, {ps.name...}, required};
}

// The declaration of a module function, a method, a static method, a method without arguments and a
// constructor. The owner's name comes from ClassOf<Rec>.
template <class... K>
consteval auto function(const char* name, const char* body, Param<K>... ps) {
    return declare<void>(EntryKind::Function, nullptr, name, body, ps...);
}
template <class Rec, class... K>
consteval auto method(const char* name, const char* body, Param<K>... ps) {
    return declare<Rec>(EntryKind::Method, ClassOf<Rec>::name, name, body, ps...);
}
template <class Rec, class... K>
consteval auto static_method(const char* name, const char* body, Param<K>... ps) {
    return declare<Rec>(EntryKind::StaticMethod, ClassOf<Rec>::name, name, body, ps...);
}
template <class Rec>
consteval auto noargs_method(const char* name, const char* body) {
    return declare<Rec>(EntryKind::NoArgsMethod, ClassOf<Rec>::name, name, body);
}
template <class Rec, class... K>
consteval auto constructor(const char* body, Param<K>... ps) {
    return declare<Rec>(EntryKind::Constructor, ClassOf<Rec>::name, "__new__", body, ps...);
}

// ---- texts derived from a declaration, built at compile time --------------------------------------

// Appends texts, or only counts their length when out is null.
struct TextWriter {
    char* out = nullptr;
    std::size_t n = 0;
    constexpr void put(const char* s) {
        for (; *s != '\0'; ++s, ++n) {
            if (out != nullptr) out[n] = *s;
        }
    }
};

// The name errors show: "exp_n()", "KIVPoint.__new__()".
template <class D>
constexpr void write_display(const D& d, TextWriter& w) {
    if (d.owner_name != nullptr) {
        w.put(d.owner_name);
        w.put(".");
    }
    w.put(d.name);
    w.put("()");
}

// The docstring in the interpreter's text-signature convention: "NAME(PARAMS)\n--\n\nBODY", methods with
// "$self" first, a constructor under its class's name.
template <class D>
constexpr void write_doc(const D& d, TextWriter& w) {
    w.put(d.kind == EntryKind::Constructor ? d.owner_name : d.name);
    w.put("(");
    const bool has_self = d.kind == EntryKind::Method || d.kind == EntryKind::NoArgsMethod;
    if (has_self) w.put("$self");
    std::size_t i = 0;
    std::apply(
        [&](const auto&... p) {
            ((w.put(i++ > 0 || has_self ? ", " : ""), w.put(p.name),
              p.default_text != nullptr ? (w.put("="), w.put(p.default_text)) : void()),
             ...);
        },
        d.params);
    w.put(")\n--\n\n");
    w.put(d.body);
}

template <const auto& D, auto Write>
struct Text {
    static constexpr std::size_t size = [] {
        TextWriter w;
        Write(D, w);
        return w.n;
    }();
    static constexpr std::array<char, size + 1> value = [] {
        std::array<char, size + 1> text{};
        TextWriter w{text.data()};
        Write(D, w);
        return text;
    }();
};

template <const auto& D>
inline constexpr const char* doc_of = Text<D, write_doc<std::remove_cvref_t<decltype(D)>>>::value.data();

template <const auto& D>
inline constexpr Binder binder_of{Text<D, write_display<std::remove_cvref_t<decltype(D)>>>::value.data(), D.names,
                                  D.required};

// ---- entry points ----------------------------------------------------------------------------------

template <const auto& D>
using BoundOf = Bound<std::remove_cvref_t<decltype(D)>::size>;

// The fast-call entry of a function, method or static method: binds, checks the receiver (methods),
// then runs body inside the call frame.
template <const auto& D, auto Body>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run([&] {
        BoundOf<D> a;
        bind(binder_of<D>, a.slots(), args, nargs, kwnames);
        if constexpr (D.kind == EntryKind::Method) {
            return Body(receiver<typename std::remove_cvref_t<decltype(D)>::owner>(self), std::as_const(a));
        } else {
            return Body(std::as_const(a));
        }
    });
}

template <const auto& D, auto Body>
PyObject* noargs_entry(PyObject* self, PyObject*) {
    return run([&] { return Body(receiver<typename std::remove_cvref_t<decltype(D)>::owner>(self)); });
}

// The method-table row of a function, method or static method.
template <const auto& D, auto Body>
PyMethodDef method_def() {
    if constexpr (D.kind == EntryKind::NoArgsMethod) {
        return {D.name, noargs_entry<D, Body>, METH_NOARGS, doc_of<D>};
    } else {
        constexpr int flags = D.kind == EntryKind::StaticMethod ? kFastcall | METH_STATIC : kFastcall;
        return {D.name, as_cfunction(fastcall_entry<D, Body>), flags, doc_of<D>};
    }
}

// A constructor: read(args) -> record, stored in a new instance. Tuple-and-dict form (tp_new) ...
template <const auto& D, auto Read>
PyObject* constructor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return run([&] {
        BoundOf<D> a;
        bind(binder_of<D>, a.slots(), args, kwargs);
        return new_instance(type, Read(std::as_const(a)));
    });
}

// ... and fast-call form (the type's vectorcall), with the same binding and reading.
template <const auto& D, auto Read>
PyObject* constructor_call(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    return run([&] {
        BoundOf<D> a;
        bind(binder_of<D>, a.slots(), args, static_cast<Py_ssize_t>(nargsf), kwnames);
        return new_instance(reinterpret_cast<PyTypeObject*>(type), Read(std::as_const(a)));
    });
}

// A getter or one-operand slot of a class: checks the receiver, then body(record) -> Ref.
template <class Rec, auto Body>
PyObject* unary_entry(PyObject* self) {
    return run([&] { return Body(receiver<Rec>(self)); });
}

template <class Rec, auto Body>
PyObject* getter_entry(PyObject* self, void*) {
    return unary_entry<Rec, Body>(self);
}

// A read-only attribute without docstring.
template <class Rec, auto Body>
constexpr PyGetSetDef getter(const char* name) {
    return {name, getter_entry<Rec, Body>, nullptr, nullptr, nullptr};
}

}  // namespace kivpy
