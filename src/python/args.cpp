// Argument binding and conversion with the module's exact error texts, and result conversion.
#include "args.hpp"

#include <cstring>
#include <string>

#include "kiv/memory.hpp"

namespace kivpy {
namespace {

// ---- binding ---------------------------------------------------------------------------------------

[[noreturn]] void raise_type_error(const std::string& text) { raise(PyExc_TypeError, text.c_str()); }

[[noreturn]] void too_many_positional(const FnDesc& d, std::size_t given) {
    std::string text = d.display;
    const std::size_t n = d.params.size();
    if (d.required == n) {
        text += " takes " + std::to_string(n) + " positional arguments but ";
    } else {
        text += " takes from " + std::to_string(d.required) + " to " + std::to_string(n) +
                " positional arguments but ";
    }
    text += std::to_string(given) + (given == 1 ? " was given" : " were given");
    raise_type_error(text);
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

void bind_keyword(const FnDesc& d, Args& out, PyObject* key, PyObject* value) {
    for (std::size_t i = 0; i < d.params.size(); ++i) {
        if (PyUnicode_Check(key) && PyUnicode_EqualToUTF8(key, d.params[i])) {
            if (out.given(i)) {
                raise_type_error(std::string(d.display) + " got multiple values for argument '" + key_text(key) + "'");
            }
            out.at(i) = value;
            return;
        }
    }
    raise_type_error(std::string(d.display) + " got an unexpected keyword argument '" + key_text(key) + "'");
}

void check_required(const FnDesc& d, const Args& out) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < d.required; ++i) {
        if (!out.given(i)) missing.push_back(d.params[i]);
    }
    if (missing.empty()) return;
    std::string text = std::string(d.display) + " missing " + std::to_string(missing.size()) +
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
    raise_type_error(text);
}

// ---- conversion helpers ----------------------------------------------------------------------------

// Float conversion of one object: exact floats directly, anything else through the interpreter.
inline double f64_of(PyObject* o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw PyErrorSet{};
    return v;
}

// The outer checks every vector kind makes: not a str, and a sequence.
void check_sequence(PyObject* o) {
    if (PyUnicode_Check(o)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(o)) raise_cannot_convert(o, "Sequence");
}

// The announced length, used only to size a vector in advance; an error here is discarded.
std::size_t length_hint(PyObject* o) {
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) {
        PyErr_Clear();
        return 0;
    }
    return static_cast<std::size_t>(n);
}

// Above this many announced items the claim is checked against the memory left before reserving.
constexpr std::size_t kCheckedReserve = std::size_t{1} << 20;

// Sizes out for o's announced length. The length is the sequence's own claim (a __len__ may say
// anything), so a claim the machine cannot hold is a count too large: MemoryError, as the
// interpreter's list() gives, before anything is allocated.
template <class Vec>
void reserve_announced(Vec& out, PyObject* o) {
    const std::size_t n = length_hint(o);
    if (n > kCheckedReserve) kiv::require_memory(n, sizeof(typename Vec::value_type));
    out.reserve(n);
}

// Iterates o with the interpreter's protocol, calling each(item) with a borrowed item. Exact lists
// and tuples are walked by index, which yields what their iterators yield: a list's length is read
// again at every step, as its iterator does, since handling an item may run code that changes it.
template <class Each>
void for_each_item(PyObject* o, Each&& each) {
    if (PyList_CheckExact(o)) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
            Ref item = Ref::borrow(PyList_GET_ITEM(o, i));
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

void read_f64_vec(PyObject* o, std::vector<double>& out) {
    check_sequence(o);
    if (PyList_CheckExact(o)) {
        // The length is read again each step, as the list iterator does, since converting an item
        // may run Python code that changes the list.
        out.reserve(static_cast<std::size_t>(PyList_GET_SIZE(o)));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
            PyObject* item = PyList_GET_ITEM(o, i);
            if (PyFloat_CheckExact(item)) {
                out.push_back(PyFloat_AS_DOUBLE(item));
            } else {
                Ref hold = Ref::borrow(item);
                out.push_back(f64_of(hold.get()));
            }
        }
        return;
    }
    if (PyTuple_CheckExact(o)) {
        const Py_ssize_t n = PyTuple_GET_SIZE(o);
        out.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) out.push_back(f64_of(PyTuple_GET_ITEM(o, i)));
        return;
    }
    if (read_f64_buffer(o, out)) return;
    reserve_announced(out, o);
    for_each_item(o, [&](PyObject* item) { out.push_back(f64_of(item)); });
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

// Runs a conversion body; on failure applies the argument-prefix rule for param.
template <class Body>
auto converting(const char* param, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const PyErrorSet&) {
        fail_argument(param);
    }
}

template <std::size_t N>
Ref build_f64_list(std::span<const std::array<double, N>> v, bool as_tuples) {
    Ref list = require(PyList_New(static_cast<Py_ssize_t>(v.size())));
    for (std::size_t i = 0; i < v.size(); ++i) {
        Ref item = require(as_tuples ? PyTuple_New(N) : PyList_New(N));
        for (std::size_t k = 0; k < N; ++k) {
            Ref f = require(PyFloat_FromDouble(v[i][k]));
            if (as_tuples) {
                PyTuple_SET_ITEM(item.get(), k, f.release());
            } else {
                PyList_SET_ITEM(item.get(), k, f.release());
            }
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

}  // namespace

// ---- binding entry points --------------------------------------------------------------------------

Args bind(const FnDesc& d, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    Args out;
    const std::size_t nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    if (nargs > d.params.size()) too_many_positional(d, nargs);
    for (std::size_t i = 0; i < nargs; ++i) out.at(i) = args[i];
    // The common call: positional arguments only, every required one given.
    if (kwnames == nullptr && nargs >= d.required) return out;
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            bind_keyword(d, out, PyTuple_GET_ITEM(kwnames, k), args[nargs + static_cast<std::size_t>(k)]);
        }
    }
    check_required(d, out);
    return out;
}

Args bind(const FnDesc& d, PyObject* args, PyObject* kwargs) {
    Args out;
    const std::size_t nargs = args != nullptr ? static_cast<std::size_t>(PyTuple_GET_SIZE(args)) : 0;
    if (nargs > d.params.size()) too_many_positional(d, nargs);
    for (std::size_t i = 0; i < nargs; ++i) out.at(i) = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i));
    if (kwargs != nullptr) {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(d, out, key, value);
    }
    check_required(d, out);
    return out;
}

// ---- errors ----------------------------------------------------------------------------------------

std::string type_qualname(PyObject* o) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(o)));
    const char* utf8 = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return utf8;
}

void raise_cannot_convert(PyObject* o, const char* target) {
    std::string text = "'" + type_qualname(o) + "' object cannot be converted to '" + target + "'";
    raise(PyExc_TypeError, text.c_str());
}

void fail_argument(const char* param) {
    PyObject* raw = PyErr_GetRaisedException();
    if (raw == nullptr) {
        raise(PyExc_SystemError, "conversion failed without an exception");
    }
    Ref exc = Ref::steal(raw);
    if (Py_TYPE(exc.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_SetRaisedException(exc.release());
        throw PyErrorSet{};
    }
    Ref message = require(PyObject_Str(exc.get()));
    Ref text = require(PyUnicode_FromFormat("argument '%s': %U", param, message.get()));
    Ref remapped = require(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    // The new error carries the replaced error's cause (SetCause steals the reference).
    PyException_SetCause(remapped.get(), PyException_GetCause(exc.get()));
    PyErr_SetRaisedException(remapped.release());
    throw PyErrorSet{};
}

// ---- argument conversions --------------------------------------------------------------------------

double to_f64(PyObject* o, const char* param) {
    return converting(param, [&] { return f64_of(o); });
}

std::uint64_t to_u64(PyObject* o, const char* param) {
    return converting(param, [&] {
        Ref index = PyLong_Check(o) ? Ref::borrow(o) : require(PyNumber_Index(o));
        unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrorSet{};
        return static_cast<std::uint64_t>(v);
    });
}

std::int64_t to_i64(PyObject* o, const char* param) {
    return converting(param, [&] {
        long long v = PyLong_AsLongLong(o);
        if (v == -1 && PyErr_Occurred()) throw PyErrorSet{};
        return static_cast<std::int64_t>(v);
    });
}

bool to_bool(PyObject* o, const char* param) {
    return converting(param, [&]() -> bool {
        if (o == Py_True) return true;
        if (o == Py_False) return false;
        // numpy's bool scalars are read through their own truth-value slot.
        PyTypeObject* type = Py_TYPE(o);
        // An interned name, made once: a fresh string per call would churn the type attribute cache.
        static PyObject* module_name = nullptr;  // kept for the life of the process
        if (module_name == nullptr) module_name = require(PyUnicode_InternFromString("__module__")).release();
        Ref module = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), module_name));
        if (!module) PyErr_Clear();
        if (module && PyUnicode_Check(module.get()) && PyUnicode_EqualToUTF8(module.get(), "numpy")) {
            Ref name = Ref::steal(PyType_GetName(type));
            if (!name) PyErr_Clear();
            if (name && (PyUnicode_EqualToUTF8(name.get(), "bool_") || PyUnicode_EqualToUTF8(name.get(), "bool"))) {
                inquiry truth = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
                if (truth == nullptr) {
                    std::string text = "object of type '" + type_qualname(o) + "' does not define a '__bool__' conversion";
                    raise(PyExc_TypeError, text.c_str());
                }
                return require_status(truth(o)) != 0;
            }
        }
        raise_cannot_convert(o, "PyBool");
    });
}

std::vector<double> to_f64_vec(PyObject* o, const char* param) {
    return converting(param, [&] {
        std::vector<double> out;
        read_f64_vec(o, out);
        return out;
    });
}

std::vector<std::vector<double>> to_f64_vecs(PyObject* o, const char* param) {
    return converting(param, [&] {
        check_sequence(o);
        std::vector<std::vector<double>> out;
        reserve_announced(out, o);
        for_each_item(o, [&](PyObject* item) {
            std::vector<double> inner;
            read_f64_vec(item, inner);
            out.push_back(std::move(inner));
        });
        return out;
    });
}

std::vector<std::array<double, 2>> to_pairs(PyObject* o, const char* param) {
    return converting(param, [&] {
        check_sequence(o);
        std::vector<std::array<double, 2>> out;
        reserve_announced(out, o);
        for_each_item(o, [&](PyObject* item) {
            if (!PyTuple_Check(item)) raise_cannot_convert(item, "PyTuple");
            const Py_ssize_t n = PyTuple_GET_SIZE(item);
            if (n != 2) {
                std::string text = "expected tuple of length 2, but got tuple of length " + std::to_string(n);
                raise(PyExc_ValueError, text.c_str());
            }
            out.push_back({f64_of(PyTuple_GET_ITEM(item, 0)), f64_of(PyTuple_GET_ITEM(item, 1))});
        });
        return out;
    });
}

std::vector<std::array<double, 8>> to_oct(PyObject* o, const char* param) {
    return converting(param, [&] {
        check_sequence(o);
        std::vector<std::array<double, 8>> out;
        reserve_announced(out, o);
        for_each_item(o, [&](PyObject* item) {
            std::array<double, 8> v;
            if (read_exact_floats<8>(item, v)) {
                out.push_back(v);
                return;
            }
            if (!PySequence_Check(item)) raise_cannot_convert(item, "Sequence");
            const Py_ssize_t n = PySequence_Size(item);
            if (n < 0) throw PyErrorSet{};
            if (n != 8) {
                std::string text = "expected a sequence of length 8 (got " + std::to_string(n) + ")";
                raise(PyExc_ValueError, text.c_str());
            }
            for (Py_ssize_t k = 0; k < 8; ++k) {
                // Exact lists and tuples are read in place; the list's length is checked again each
                // step because converting an item may run code that shrinks it.
                const bool in_place = PyTuple_CheckExact(item) || (PyList_CheckExact(item) && k < PyList_GET_SIZE(item));
                Ref x = in_place ? Ref::borrow(PySequence_Fast_GET_ITEM(item, k)) : require(PySequence_GetItem(item, k));
                v[static_cast<std::size_t>(k)] = f64_of(x.get());
            }
            out.push_back(v);
        });
        return out;
    });
}

std::vector<std::int8_t> to_i8_vec(PyObject* o, const char* param) {
    return converting(param, [&] {
        check_sequence(o);
        std::vector<std::int8_t> out;
        reserve_announced(out, o);
        for_each_item(o, [&](PyObject* item) {
            long v = PyLong_AsLong(item);
            if (v == -1 && PyErr_Occurred()) throw PyErrorSet{};
            if (v < -128 || v > 127) raise(PyExc_OverflowError, "out of range integral type conversion attempted");
            out.push_back(static_cast<std::int8_t>(v));
        });
        return out;
    });
}

// ---- results ---------------------------------------------------------------------------------------

Ref from_f64(double v) { return require(PyFloat_FromDouble(v)); }

Ref from_bool(bool v) { return Ref::borrow(v ? Py_True : Py_False); }

Ref from_text(std::string_view utf8) {
    return require(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

Ref from_f64_vec(std::span<const double> v) {
    Ref list = require(PyList_New(static_cast<Py_ssize_t>(v.size())));
    for (std::size_t i = 0; i < v.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), require(PyFloat_FromDouble(v[i])).release());
    }
    return list;
}

Ref from_f64_vecs(const std::vector<std::vector<double>>& v) {
    Ref list = require(PyList_New(static_cast<Py_ssize_t>(v.size())));
    for (std::size_t i = 0; i < v.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), from_f64_vec(v[i]).release());
    }
    return list;
}

template <std::size_t N>
Ref from_f64_arrays(std::span<const std::array<double, N>> v, bool as_tuples) {
    return build_f64_list<N>(v, as_tuples);
}

template Ref from_f64_arrays<2>(std::span<const std::array<double, 2>>, bool);
template Ref from_f64_arrays<3>(std::span<const std::array<double, 3>>, bool);
template Ref from_f64_arrays<8>(std::span<const std::array<double, 8>>, bool);

}  // namespace kivpy
