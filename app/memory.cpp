// Reading the memory left to the process from /proc, the control group's
// files and the resource limits.
#include "app/memory.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/resource.h>

namespace {

// The number after "key:" in a /proc file of "key: value kB" lines, in bytes.
std::uint64_t procValue(const char* file, const std::string& key)
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, key.size() + 1, key + ":") != 0) continue;
        std::istringstream value(line.substr(key.size() + 1));
        std::uint64_t kib = 0;
        if (value >> kib) return kib * 1024;
    }
    return UINT64_MAX;
}

// A control group (version 2) file holding a number or "max".
std::uint64_t cgroupValue(const std::string& file)
{
    std::ifstream in(file);
    std::string text;
    if (!(in >> text) || text == "max") return UINT64_MAX;
    try {
        return std::stoull(text);
    } catch (const std::exception&) {
        return UINT64_MAX;
    }
}

std::uint64_t cgroupRoom()
{
    std::ifstream self("/proc/self/cgroup");
    std::string line;
    if (!std::getline(self, line) || line.compare(0, 3, "0::") != 0) return UINT64_MAX;
    const std::string group = "/sys/fs/cgroup" + line.substr(3);
    const std::uint64_t limit = cgroupValue(group + "/memory.max");
    const std::uint64_t used = cgroupValue(group + "/memory.current");
    if (limit == UINT64_MAX || used == UINT64_MAX) return UINT64_MAX;
    return limit > used ? limit - used : 0;
}

std::uint64_t limitRoom(int resource, std::uint64_t used)
{
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || used == UINT64_MAX)
        return UINT64_MAX;
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

}  // namespace

std::uint64_t availableMemory()
{
    return std::min({procValue("/proc/meminfo", "MemAvailable"), cgroupRoom(),
                     limitRoom(RLIMIT_AS, procValue("/proc/self/status", "VmSize")),
                     limitRoom(RLIMIT_DATA, procValue("/proc/self/status", "VmData"))});
}
