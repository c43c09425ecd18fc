// Available-memory estimate from the kernel's accounting, and the up-front check built on it.
#include "kiv/memory.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace kiv {
namespace {

constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();

// The first number in a file, or kUnknown when the file is missing or holds no number ("max").
std::size_t read_number(const char* path) {
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return kUnknown;
    unsigned long long v = 0;
    int got = std::fscanf(f, "%llu", &v);
    std::fclose(f);
    return got == 1 ? static_cast<std::size_t>(v) : kUnknown;
}

// MemAvailable + SwapFree from /proc/meminfo, in bytes.
std::size_t meminfo_available() {
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    if (f == nullptr) return kUnknown;
    std::size_t avail = kUnknown, swap = 0;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        unsigned long long kb = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) avail = static_cast<std::size_t>(kb) * 1024;
        if (std::sscanf(line, "SwapFree: %llu kB", &kb) == 1) swap = static_cast<std::size_t>(kb) * 1024;
    }
    std::fclose(f);
    if (avail == kUnknown) return kUnknown;
    return avail + swap;
}

// Room left under a cgroup memory limit (v2, then v1).
std::size_t cgroup_available() {
    std::size_t limit = read_number("/sys/fs/cgroup/memory.max");
    std::size_t used = read_number("/sys/fs/cgroup/memory.current");
    if (limit == kUnknown) {
        limit = read_number("/sys/fs/cgroup/memory/memory.limit_in_bytes");
        used = read_number("/sys/fs/cgroup/memory/memory.usage_in_bytes");
    }
    if (limit == kUnknown) return kUnknown;
    if (used == kUnknown) used = 0;
    return used < limit ? limit - used : 0;
}

}  // namespace

std::size_t available_memory() {
    std::size_t avail = meminfo_available();
    if (avail == kUnknown) {
        long pages = sysconf(_SC_AVPHYS_PAGES);
        long page = sysconf(_SC_PAGESIZE);
        if (pages > 0 && page > 0) avail = static_cast<std::size_t>(pages) * static_cast<std::size_t>(page);
    }
    std::size_t cg = cgroup_available();
    return cg < avail ? cg : avail;
}

void require_memory(std::size_t count, std::size_t item_bytes) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, item_bytes, &bytes) || bytes > available_memory()) {
        throw OutOfMemory("cannot allocate " + std::to_string(count) + " items of " + std::to_string(item_bytes) +
                          " bytes");
    }
}

}  // namespace kiv
