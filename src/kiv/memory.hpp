// Memory requests sized up front: refused before allocating when the machine cannot hold them.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace kiv {

// A request for more memory than the process can get. Unlike an internal failure it is the caller's
// count that is too large, so the binding reports it as an ordinary memory error.
class OutOfMemory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bytes the process can still allocate without swapping: the smaller of the kernel's estimate of
// available memory (plus free swap) and the room left under the process's memory cgroup limits, if any.
std::size_t available_memory();

// The room left under the memory limits of the cgroup that cgroup_file names (a file shaped as
// /proc/self/cgroup), with the hierarchies mounted under fs_root: the smallest limit minus usage over
// that cgroup and each of its ancestors, since every one of them caps the process. SIZE_MAX when no
// limit can be read.
std::size_t cgroup_room(const std::string& cgroup_file, const std::string& fs_root);

// Throws OutOfMemory when count items of item_bytes each overflow the address range or exceed
// available_memory(); requests of a few megabytes are granted without asking.
void require_memory(std::size_t count, std::size_t item_bytes);

}  // namespace kiv
