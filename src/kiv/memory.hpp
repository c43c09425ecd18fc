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

// Bytes the process can still allocate without swapping: the smallest of the kernel's estimate of
// available memory (plus free swap), the room left under the process's memory cgroup limits, if any, and
// the room left under its address-space limit, if any.
std::size_t available_memory();

// The room left under the process's address-space limit (RLIMIT_AS): the limit minus the address space
// mapped now. SIZE_MAX without a limit.
std::size_t address_space_room();

// The room left under the memory limits of the cgroup that cgroup_file names (a file shaped as
// /proc/self/cgroup), with the hierarchies mounted under fs_root: the smallest limit minus usage over
// that cgroup and each of its ancestors, since every one of them caps the process. SIZE_MAX when no
// limit can be read.
std::size_t cgroup_room(const std::string& cgroup_file, const std::string& fs_root);

// Throws OutOfMemory when count items of item_bytes each overflow the address range or exceed
// available_memory(); requests of a few megabytes are granted without asking.
void check_memory(std::size_t count, std::size_t item_bytes);

// True when bytes may be allocated now: requests of a few megabytes always (available is then left
// alone), larger ones when they do not exceed available_memory(), which is stored in available.
bool memory_fits(std::size_t bytes, std::size_t& available);

}  // namespace kiv
