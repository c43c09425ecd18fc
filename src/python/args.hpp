// Binding of call arguments to declared parameters, the conversion kinds of arguments, and result conversion.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors.hpp"

namespace kivpy {

// The most parameters an entry may declare (checked when the declaration is compiled).
inline constexpr std::size_t kMaxParams = 8;

// What the binder needs of an entry: its display name ("exp_n()", "KIVPoint.__new__()"), its
// positional-or-keyword parameter names in order, and how many leading ones are required.
struct Binder {
    const char* display;
    std::span<const char* const> names;
    std::size_t required;
};

// Binds a call to slots (one per parameter, NULL where the caller gave none), with the interpreter's
// error texts for too many, missing, repeated or unknown arguments. Fast-call form: positional vector
// (nargsf may carry the vectorcall offset flag) plus keyword names.
void bind(const Binder& b, std::span<PyObject*> slots, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
// Tuple-and-dict form, used by class constructors.
void bind(const Binder& b, std::span<PyObject*> slots, PyObject* args, PyObject* kwargs);

// A parameter handle: the parameter's position, its name and how its argument is converted (Kind has a
// value type `type` and `static type read(PyObject*)`, which throws PyErrorSet with no argument prefix).
template <class Kind>
struct Param {
    const char* name;
    const char* default_text;  // the default as the text signature shows it; null when required
    std::size_t index;
};

// The arguments of one call of an entry with N parameters, bound to their slots.
template <std::size_t N>
class Bound {
public:
    std::span<PyObject*> slots() noexcept { return slots_; }
    template <class Kind>
    bool given(const Param<Kind>& p) const noexcept {
        return slots_[p.index] != nullptr;
    }
    // The argument of p converted by its kind; a TypeError gets the "argument 'NAME': " prefix.
    template <class Kind>
    typename Kind::type operator[](const Param<Kind>& p) const {
        PyObject* o = slots_[p.index];
        return converting(p.name, [o] { return Kind::read(o); });
    }
    // The same, or fallback when the caller gave none (an explicit None is converted, not a default).
    template <class Kind>
    typename Kind::type get(const Param<Kind>& p, typename Kind::type fallback) const {
        return given(p) ? (*this)[p] : fallback;
    }

private:
    std::array<PyObject*, N> slots_{};
};

// ---- conversion kinds ------------------------------------------------------------------------------

// Float conversion of one object: exact floats directly, anything else through the interpreter.
inline double f64_of(PyObject* o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw PyErrorSet{};
    return v;
}

struct F64 {
    using type = double;
    static double read(PyObject* o) { return f64_of(o); }
};

struct U64 {
    using type = std::uint64_t;
    static std::uint64_t read(PyObject* o);
};

struct I64 {
    using type = std::int64_t;
    static std::int64_t read(PyObject* o);
};

struct Bool {
    using type = bool;
    static bool read(PyObject* o);
};

// A str, as its UTF-8 text.
struct Str {
    using type = std::string;
    static std::string read(PyObject* o);
};

struct F64Vec {
    using type = std::vector<double>;
    static std::vector<double> read(PyObject* o);
};

struct F64Vecs {
    using type = std::vector<std::vector<double>>;
    static std::vector<std::vector<double>> read(PyObject* o);
};

struct I8Vec {
    using type = std::vector<std::int8_t>;
    static std::vector<std::int8_t> read(PyObject* o);
};

// ---- the sequence skeleton -------------------------------------------------------------------------

// The outer checks every sequence kind makes: not a str, and a sequence.
void check_sequence(PyObject* o);

// The number of items to reserve for o: its announced length. The length is the sequence's own claim (a __len__ may say
// anything), so a claim the machine cannot hold is a count too large: MemoryError, as the
// interpreter's list() gives, before anything is allocated. An error reading the length is discarded.
std::size_t announced_length(PyObject* o, std::size_t item_size);

// Iterates o with the interpreter's protocol, calling each(item) with a borrowed item. Exact lists
// and tuples are walked by index, which yields what their iterators yield: a list's length is read
// again at every step, as its iterator does, since handling an item may run code that changes it.
template <class Each>
void for_each_item(PyObject* o, Each&& each) {
    if (PyList_CheckExact(o)) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
            Ref item = Ref::new_ref(PyList_GET_ITEM(o, i));
            each(item.get());
        }
        return;
    }
    if (PyTuple_CheckExact(o)) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(o); ++i) each(PyTuple_GET_ITEM(o, i));
        return;
    }
    Ref it = require(PyObject_GetIter(o));
    for (;;) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            if (PyErr_Occurred()) throw PyErrorSet{};
            return;
        }
        each(item.get());
    }
}

// Reads the items of o after the outer checks into out, each by read_item(item) -> T.
template <class T, class ReadItem>
void read_items(PyObject* o, std::vector<T>& out, ReadItem&& read_item) {
    out.reserve(announced_length(o, sizeof(T)));
    for_each_item(o, [&](PyObject* item) { out.push_back(read_item(item)); });
}

// The skeleton of every sequence kind: the outer checks, then each item by read_item(item) -> T.
template <class T, class ReadItem>
std::vector<T> read_sequence(PyObject* o, ReadItem&& read_item) {
    check_sequence(o);
    std::vector<T> out;
    read_items(o, out, read_item);
    return out;
}

[[noreturn]] void raise_tuple_length(Py_ssize_t n);

// The two floats of a 2-tuple, for records of two floats ("expected tuple of length 2, ...").
inline std::array<double, 2> read_float_pair(PyObject* item) {
    if (!PyTuple_Check(item)) raise_cannot_convert(item, "PyTuple");
    if (PyTuple_GET_SIZE(item) != 2) raise_tuple_length(PyTuple_GET_SIZE(item));
    return {f64_of(PyTuple_GET_ITEM(item, 0)), f64_of(PyTuple_GET_ITEM(item, 1))};
}

// Sequences of N-float sequences ("expected a sequence of length N (got M)").
template <std::size_t N>
struct F64Rows {
    using type = std::vector<std::array<double, N>>;
    static type read(PyObject* o);
};

// Sequences of 2-tuples of floats, each read as the record T{first, second}.
template <class T>
struct PairTuples {
    using type = std::vector<T>;
    static type read(PyObject* o) {
        return read_sequence<T>(o, [](PyObject* item) {
            const auto [a, b] = read_float_pair(item);
            return T{a, b};
        });
    }
};

// ---- results ---------------------------------------------------------------------------------------

// Each returns a new object.
inline Ref from_f64(double v) { return require(PyFloat_FromDouble(v)); }
inline Ref from_bool(bool v) { return Ref::new_ref(v ? Py_True : Py_False); }
Ref from_text(std::string_view utf8);

// A list with one item per element of v, each item made by item(element) -> Ref.
template <class T, class Item>
Ref list_of(std::span<const T> v, Item&& item) {
    Ref list = require(PyList_New(static_cast<Py_ssize_t>(v.size())));
    for (std::size_t i = 0; i < v.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item(v[i]).release());
    }
    return list;
}

// A tuple of floats.
template <class... D>
Ref float_tuple(D... v) {
    Ref tuple = require(PyTuple_New(sizeof...(D)));
    Py_ssize_t i = 0;
    ((PyTuple_SET_ITEM(tuple.get(), i++, from_f64(v).release())), ...);
    return tuple;
}

inline Ref from_f64_vec(std::span<const double> v) { return list_of(v, from_f64); }

// A list of lists of floats.
template <class Row>
Ref from_f64_rows(std::span<const Row> v) {
    return list_of(v, [](const Row& row) { return from_f64_vec(row); });
}

}  // namespace kivpy
