// Available-memory estimate from the kernel's accounting, and the up-front check built on it.
#include "kiv/memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace kiv {
namespace {

constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();

// Requests up to this size are granted without a look at the kernel's accounting, whose files cost far
// more to read than the work such a request sizes.
constexpr std::size_t kSmallRequest = std::size_t{16} << 20;

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

// Room under the limit of one cgroup directory: limit minus usage (0 when used up), or kUnknown when the
// directory holds no limit (missing files, or "max").
std::size_t room_in(const std::string& dir, const char* limit_file, const char* usage_file) {
    const std::size_t limit = read_number((dir + "/" + limit_file).c_str());
    if (limit == kUnknown) return kUnknown;
    std::size_t used = read_number((dir + "/" + usage_file).c_str());
    if (used == kUnknown) used = 0;
    return used < limit ? limit - used : 0;
}

// The smallest room over the cgroup at path and its ancestors, up to the hierarchy's root at mount. A
// level missing under the mount (a container sees its own cgroup as the root) is skipped.
std::size_t hierarchy_room(const std::string& mount, std::string path, const char* limit_file,
                           const char* usage_file) {
    std::size_t best = kUnknown;
    for (;;) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        best = std::min(best, room_in(mount + path, limit_file, usage_file));
        if (path.empty()) return best;
        const std::size_t slash = path.rfind('/');
        path.erase(slash == std::string::npos ? 0 : slash);
    }
}

// True when the comma-separated controller list names the memory controller.
bool has_memory_controller(const std::string& controllers) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = controllers.find(',', start);
        if (controllers.compare(start, end - start, "memory") == 0) return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

std::size_t cgroup_available() { return cgroup_room("/proc/self/cgroup", "/sys/fs/cgroup"); }

}  // namespace

std::size_t cgroup_room(const std::string& cgroup_file, const std::string& fs_root) {
    // Lines "ID:CONTROLLERS:PATH": ID 0 with no controllers is the v2 tree, mounted at the root; a v1
    // line listing "memory" has its tree under the root's "memory". Without the file, the roots alone.
    std::string v2_path = "/", v1_path = "/";
    if (std::FILE* f = std::fopen(cgroup_file.c_str(), "r")) {
        char buf[4096];
        while (std::fgets(buf, sizeof buf, f) != nullptr) {
            std::string line(buf);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            const std::size_t a = line.find(':');
            const std::size_t b = a == std::string::npos ? a : line.find(':', a + 1);
            if (b == std::string::npos) continue;
            const std::string controllers = line.substr(a + 1, b - a - 1);
            if (line.compare(0, a, "0") == 0 && controllers.empty()) v2_path = line.substr(b + 1);
            if (has_memory_controller(controllers)) v1_path = line.substr(b + 1);
        }
        std::fclose(f);
    }
    const std::size_t v2 = hierarchy_room(fs_root, v2_path, "memory.max", "memory.current");
    const std::size_t v1 = hierarchy_room(fs_root + "/memory", v1_path, "memory.limit_in_bytes",
                                          "memory.usage_in_bytes");
    return std::min(v2, v1);
}

std::size_t address_space_room() {
    rlimit lim{};
    if (getrlimit(RLIMIT_AS, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return kUnknown;
    // The first field of statm is the mapped size in pages.
    const std::size_t pages = read_number("/proc/self/statm");
    const long page = sysconf(_SC_PAGESIZE);
    if (pages == kUnknown || page <= 0) return kUnknown;
    const std::size_t mapped = pages * static_cast<std::size_t>(page);
    const std::size_t limit = static_cast<std::size_t>(lim.rlim_cur);
    return mapped < limit ? limit - mapped : 0;
}

std::size_t available_memory() {
    std::size_t avail = meminfo_available();
    if (avail == kUnknown) {
        long pages = sysconf(_SC_AVPHYS_PAGES);
        long page = sysconf(_SC_PAGESIZE);
        if (pages > 0 && page > 0) avail = static_cast<std::size_t>(pages) * static_cast<std::size_t>(page);
    }
    return std::min({avail, cgroup_available(), address_space_room()});
}

bool memory_fits(std::size_t bytes, std::size_t& available) {
    if (bytes <= kSmallRequest) return true;
    available = available_memory();
    return bytes <= available;
}

void check_memory(std::size_t count, std::size_t item_bytes) {
    std::size_t bytes = 0;
    std::size_t available = 0;
    if (__builtin_mul_overflow(count, item_bytes, &bytes) || !memory_fits(bytes, available)) {
        throw OutOfMemory("cannot allocate " + std::to_string(count) + " items of " + std::to_string(item_bytes) +
                          " bytes");
    }
}

}  // namespace kiv
