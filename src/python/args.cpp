// Argument binding and conversion with the module's exact error texts, and result conversion.
#include "args.hpp"

#include <cstring>
#include <string>

#include "cache.hpp"
#include "kiv/memory.hpp"

namespace kivpy {
namespace {

// ---- binding ---------------------------------------------------------------------------------------

[[noreturn]] void too_many_positional(const Binder& b, std::size_t given) {
    std::string text = b.display;
    const std::size_t n = b.names.size();
    if (b.required == n) {
        text += " takes " + std::to_string(n) + " positional arguments but ";
    } else {
        text += " takes from " + std::to_string(b.required) + " to " + std::to_string(n) +
                " positional arguments but ";
    }
    text += std::to_string(given) + (given == 1 ? " was given" : " were given");
    raise(PyExc_TypeError, text);
}

std::string key_text(PyObject* key) {
    Ref s = Ref::steal(PyObject_Str(key));
    const char* utf8 = s ? PyUnicode_AsUTF8(s.get()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "?";
    }
    return utf8;
}

void bind_keyword(const Binder& b, std::span<PyObject*> slots, PyObject* key, PyObject* value) {
    for (std::size_t i = 0; i < b.names.size(); ++i) {
        if (PyUnicode_Check(key) && PyUnicode_EqualToUTF8(key, b.names[i])) {
            if (slots[i] != nullptr) {
                raise(PyExc_TypeError,
                      std::string(b.display) + " got multiple values for argument '" + key_text(key) + "'");
            }
            slots[i] = value;
            return;
        }
    }
    raise(PyExc_TypeError, std::string(b.display) + " got an unexpected keyword argument '" + key_text(key) + "'");
}

void check_required(const Binder& b, std::span<PyObject* const> slots) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < b.required; ++i) {
        if (slots[i] == nullptr) missing.push_back(b.names[i]);
    }
    if (missing.empty()) return;
    std::string text = std::string(b.display) + " missing " + std::to_string(missing.size()) +
                       (missing.size() == 1 ? " required positional argument: " : " required positional arguments: ");
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) {
            if (missing.size() == 2) {
                text += " and ";
            } else {
                text += (i + 1 == missing.size()) ? ", and " : ", ";
            }
        }
        text += "'";
        text += missing[i];
        text += "'";
    }
    raise(PyExc_TypeError, text);
}

// ---- conversion helpers ----------------------------------------------------------------------------

// Above this many announced items the claim is checked against the memory left before reserving.
constexpr std::size_t kCheckedReserve = std::size_t{1} << 20;

// A contiguous one-dimensional buffer of native doubles, read in one copy; false when o has none.
bool read_f64_buffer(PyObject* o, std::vector<double>& out) {
    if (!PyObject_CheckBuffer(o)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(o, &view, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) != 0) {
        PyErr_Clear();
        return false;
    }
    const char* f = view.format != nullptr ? view.format : "B";
    const bool is_double = (std::strcmp(f, "d") == 0 || std::strcmp(f, "@d") == 0 || std::strcmp(f, "=d") == 0 ||
                            (std::strcmp(f, "<d") == 0 && PY_LITTLE_ENDIAN));
    const bool ok = is_double && view.ndim == 1 && view.itemsize == sizeof(double);
    if (ok) {
        const std::size_t n = static_cast<std::size_t>(view.len) / sizeof(double);
        out.resize(n);
        if (n > 0) std::memcpy(out.data(), view.buf, n * sizeof(double));
    }
    PyBuffer_Release(&view);
    return ok;
}

std::vector<double> read_f64_vec(PyObject* o) {
    check_sequence(o);
    std::vector<double> out;
    if (PyList_CheckExact(o)) {
        // The length is read again each step, as the list iterator does, since converting an item
        // may run Python code that changes the list.
        out.reserve(static_cast<std::size_t>(PyList_GET_SIZE(o)));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
            PyObject* item = PyList_GET_ITEM(o, i);
            if (PyFloat_CheckExact(item)) {
                out.push_back(PyFloat_AS_DOUBLE(item));
            } else {
                Ref hold = Ref::new_ref(item);
                out.push_back(f64_of(hold.get()));
            }
        }
    } else if (PyTuple_CheckExact(o)) {
        const Py_ssize_t n = PyTuple_GET_SIZE(o);
        out.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) out.push_back(f64_of(PyTuple_GET_ITEM(o, i)));
    } else if (!read_f64_buffer(o, out)) {
        read_items(o, out, f64_of);
    }
    return out;
}

// Reads an exact list or tuple of exactly N exact floats in one pass, with no call per item; false for
// anything else, which the general path then converts (with its errors).
template <std::size_t N>
bool read_exact_floats(PyObject* item, std::array<double, N>& v) {
    PyObject* const* items;
    if (PyList_CheckExact(item) && PyList_GET_SIZE(item) == static_cast<Py_ssize_t>(N)) {
        items = reinterpret_cast<PyListObject*>(item)->ob_item;
    } else if (PyTuple_CheckExact(item) && PyTuple_GET_SIZE(item) == static_cast<Py_ssize_t>(N)) {
        items = reinterpret_cast<PyTupleObject*>(item)->ob_item;
    } else {
        return false;
    }
    for (std::size_t k = 0; k < N; ++k) {
        if (!PyFloat_CheckExact(items[k])) return false;
        v[k] = PyFloat_AS_DOUBLE(items[k]);
    }
    return true;
}

// One row of N floats from any sequence of length N.
template <std::size_t N>
std::array<double, N> read_row(PyObject* item) {
    std::array<double, N> v;
    if (read_exact_floats<N>(item, v)) return v;
    if (!PySequence_Check(item)) raise_cannot_convert(item, "Sequence");
    const Py_ssize_t n = PySequence_Size(item);
    if (n < 0) throw PyErrorSet{};
    if (n != static_cast<Py_ssize_t>(N)) {
        raise(PyExc_ValueError,
              "expected a sequence of length " + std::to_string(N) + " (got " + std::to_string(n) + ")");
    }
    for (std::size_t k = 0; k < N; ++k) {
        const auto i = static_cast<Py_ssize_t>(k);
        // Exact lists and tuples are read in place; the list's length is checked again each step
        // because converting an item may run code that shrinks it.
        const bool in_place = PyTuple_CheckExact(item) || (PyList_CheckExact(item) && i < PyList_GET_SIZE(item));
        Ref x = in_place ? Ref::new_ref(PySequence_Fast_GET_ITEM(item, i)) : require(PySequence_GetItem(item, i));
        v[k] = f64_of(x.get());
    }
    return v;
}

}  // namespace

// ---- binding entry points --------------------------------------------------------------------------

void bind(const Binder& b, std::span<PyObject*> slots, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    const std::size_t nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    if (nargs > b.names.size()) too_many_positional(b, nargs);
    for (std::size_t i = 0; i < nargs; ++i) slots[i] = args[i];
    // The common call: positional arguments only, every required one given.
    if (kwnames == nullptr && nargs >= b.required) return;
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            bind_keyword(b, slots, PyTuple_GET_ITEM(kwnames, k), args[nargs + static_cast<std::size_t>(k)]);
        }
    }
    check_required(b, slots);
}

void bind(const Binder& b, std::span<PyObject*> slots, PyObject* args, PyObject* kwargs) {
    const std::size_t nargs = args != nullptr ? static_cast<std::size_t>(PyTuple_GET_SIZE(args)) : 0;
    if (nargs > b.names.size()) too_many_positional(b, nargs);
    for (std::size_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i));
    if (kwargs != nullptr) {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(b, slots, key, value);
    }
    check_required(b, slots);
}

// ---- the sequence skeleton -------------------------------------------------------------------------

void check_sequence(PyObject* o) {
    if (PyUnicode_Check(o)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(o)) raise_cannot_convert(o, "Sequence");
}

std::size_t announced_length(PyObject* o, std::size_t item_size) {
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) {
        PyErr_Clear();
        return 0;
    }
    const auto count = static_cast<std::size_t>(n);
    if (count > kCheckedReserve) kiv::check_memory(count, item_size);
    return count;
}

void raise_tuple_length(Py_ssize_t n) {
    raise(PyExc_ValueError, "expected tuple of length 2, but got tuple of length " + std::to_string(n));
}

// ---- argument conversions --------------------------------------------------------------------------

std::uint64_t U64::read(PyObject* o) {
    Ref index = PyLong_Check(o) ? Ref::new_ref(o) : require(PyNumber_Index(o));
    unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrorSet{};
    return static_cast<std::uint64_t>(v);
}

std::int64_t I64::read(PyObject* o) {
    long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) throw PyErrorSet{};
    return static_cast<std::int64_t>(v);
}

bool Bool::read(PyObject* o) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    // numpy's bool scalars are read through their own truth-value slot.
    PyTypeObject* type = Py_TYPE(o);
    // An interned name, made once: a fresh string per call would churn the type attribute cache.
    static Cached module_name;
    if (module_name.get() == nullptr) module_name.keep(require(PyUnicode_InternFromString("__module__")).release());
    Ref module = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), module_name.get()));
    if (!module) PyErr_Clear();
    if (module && PyUnicode_Check(module.get()) && PyUnicode_EqualToUTF8(module.get(), "numpy")) {
        Ref name = Ref::steal(PyType_GetName(type));
        if (!name) PyErr_Clear();
        if (name && (PyUnicode_EqualToUTF8(name.get(), "bool_") || PyUnicode_EqualToUTF8(name.get(), "bool"))) {
            inquiry truth = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
            if (truth == nullptr) {
                raise(PyExc_TypeError,
                      "object of type '" + type_qualname(o) + "' does not define a '__bool__' conversion");
            }
            return require_status(truth(o)) != 0;
        }
    }
    raise_cannot_convert(o, "PyBool");
}

std::string Str::read(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cannot_convert(o, "PyString");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
    if (utf8 == nullptr) throw PyErrorSet{};
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::vector<double> F64Vec::read(PyObject* o) { return read_f64_vec(o); }

std::vector<std::vector<double>> F64Vecs::read(PyObject* o) {
    return read_sequence<std::vector<double>>(o, read_f64_vec);
}

std::vector<std::int8_t> I8Vec::read(PyObject* o) {
    return read_sequence<std::int8_t>(o, [](PyObject* item) {
        long v = PyLong_AsLong(item);
        if (v == -1 && PyErr_Occurred()) throw PyErrorSet{};
        if (v < -128 || v > 127) raise(PyExc_OverflowError, "out of range integral type conversion attempted");
        return static_cast<std::int8_t>(v);
    });
}

template <std::size_t N>
typename F64Rows<N>::type F64Rows<N>::read(PyObject* o) {
    return read_sequence<std::array<double, N>>(o, read_row<N>);
}

template struct F64Rows<8>;

// ---- results ---------------------------------------------------------------------------------------

Ref from_text(std::string_view utf8) {
    return require(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

}  // namespace kivpy
