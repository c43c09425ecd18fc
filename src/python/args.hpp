// Binding of call arguments to declared parameters, and conversion between Python objects and native values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ref.hpp"

namespace kivpy {

// Static description of one entry: its display name ("exp_n()", "KIVPoint.__new__()"), its
// positional-or-keyword parameters in order, and how many leading ones are required.
struct FnDesc {
    const char* display;
    std::span<const char* const> params;
    std::size_t required;
};

inline constexpr std::size_t kMaxParams = 8;

// The bound arguments: one borrowed object per parameter, NULL where the caller gave none.
class Args {
public:
    PyObject* operator[](std::size_t i) const noexcept { return slot_[i]; }
    bool given(std::size_t i) const noexcept { return slot_[i] != nullptr; }
    PyObject*& at(std::size_t i) noexcept { return slot_[i]; }

private:
    std::array<PyObject*, kMaxParams> slot_{};
};

// Fast-call form: positional vector (nargsf may carry the vectorcall offset flag) plus keyword names.
Args bind(const FnDesc& desc, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
// Tuple-and-dict form, used by class constructors.
Args bind(const FnDesc& desc, PyObject* args, PyObject* kwargs);

// Argument conversions. Each names the parameter: a TypeError is re-raised as
// "argument 'PARAM': <message>" keeping the original's cause; other errors pass unchanged.
double to_f64(PyObject* o, const char* param);
std::uint64_t to_u64(PyObject* o, const char* param);
std::int64_t to_i64(PyObject* o, const char* param);
bool to_bool(PyObject* o, const char* param);
std::vector<double> to_f64_vec(PyObject* o, const char* param);
std::vector<std::vector<double>> to_f64_vecs(PyObject* o, const char* param);
std::vector<std::array<double, 2>> to_pairs(PyObject* o, const char* param);
std::vector<std::array<double, 8>> to_oct(PyObject* o, const char* param);
std::vector<std::int8_t> to_i8_vec(PyObject* o, const char* param);

// The qualified name of o's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* o);
// Raises TypeError "'TYPE' object cannot be converted to 'TARGET'" for o.
[[noreturn]] void raise_cannot_convert(PyObject* o, const char* target);
// Re-raises the pending error under the argument-prefix rule for param, then throws PyErrorSet.
[[noreturn]] void fail_argument(const char* param);

// Result conversions: each returns a new object.
Ref from_f64(double v);
Ref from_bool(bool v);
Ref from_text(std::string_view utf8);
Ref from_f64_vec(std::span<const double> v);
Ref from_f64_vecs(const std::vector<std::vector<double>>& v);
// A list of N-tuples (as_tuples) or N-element lists of floats.
template <std::size_t N>
Ref from_f64_arrays(std::span<const std::array<double, N>> v, bool as_tuples);

}  // namespace kivpy
