// The core's internal-failure type: a violated invariant that aborts the work of one call.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace kiv {

class InternalFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The failure raised when an index falls outside an array of length len.
[[noreturn]] inline void index_out_of_bounds(std::size_t len, std::size_t index) {
    throw InternalFailure("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                          std::to_string(index));
}

// Checked element read: the index is tested against the array's length first.
template <class Vec>
inline const auto& at(const Vec& v, std::size_t i) {
    if (i >= v.size()) index_out_of_bounds(v.size(), i);
    return v[i];
}

}  // namespace kiv
