#include "process_usage.h"

#include <dirent.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace bench {
namespace {

// The process group from /proc/PID/stat: the fifth field, counted after the
// command name, which may itself hold spaces and parentheses.
bool GroupOf(const std::string& pid, pid_t* group) {
    std::ifstream file("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(file, line)) {
        return false;
    }
    const size_t name_end = line.rfind(')');
    if (name_end == std::string::npos) {
        return false;
    }
    std::istringstream fields(line.substr(name_end + 1));
    std::string state;
    pid_t parent = 0;
    return static_cast<bool>(fields >> state >> parent >> *group);
}

// The number after "key:" in a /proc file of "key: value" lines, or 0.
uint64_t FieldOf(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() &&
            line[key.size()] == ':') {
            return std::strtoull(line.c_str() + key.size() + 1, nullptr, 10);
        }
    }
    return 0;
}

}  // namespace

ProcessUsage ReadGroupUsage(pid_t group) {
    ProcessUsage usage;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return usage;
    }
    while (const dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        pid_t member_of = 0;
        if (pid.find_first_not_of("0123456789") != std::string::npos || !GroupOf(pid, &member_of) ||
            member_of != group) {
            continue;
        }
        usage.pss_kib += FieldOf("/proc/" + pid + "/smaps_rollup", "Pss");
        usage.threads += static_cast<int>(FieldOf("/proc/" + pid + "/status", "Threads"));
        ++usage.processes;
    }
    closedir(proc);
    return usage;
}

}  // namespace bench
