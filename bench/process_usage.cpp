#include "process_usage.h"

#include <dirent.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace bench {
namespace {

// The parent and the process group from /proc/PID/stat: the fourth and fifth
// fields, counted after the command name, which may hold spaces and parentheses.
bool ParentAndGroupOf(const std::string& pid, pid_t* parent, pid_t* group) {
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
    return static_cast<bool>(fields >> state >> *parent >> *group);
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

ProcessUsage ReadGroupUsage(const std::vector<pid_t>& groups) {
    ProcessUsage usage;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return usage;
    }
    struct Process {
        pid_t pid;
        pid_t parent;
        pid_t group;
    };
    std::vector<Process> all;
    while (const dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        Process process{};
        if (pid.find_first_not_of("0123456789") == std::string::npos &&
            ParentAndGroupOf(pid, &process.parent, &process.group)) {
            process.pid = static_cast<pid_t>(std::strtol(pid.c_str(), nullptr, 10));
            all.push_back(process);
        }
    }
    closedir(proc);
    std::set<pid_t> members;
    for (const Process& process : all) {
        if (std::find(groups.begin(), groups.end(), process.group) != groups.end()) {
            members.insert(process.pid);
        }
    }
    // Descendants, a generation per pass; a process tree is never deeper than it is wide.
    for (size_t pass = 0; pass < all.size(); ++pass) {
        const size_t before = members.size();
        for (const Process& process : all) {
            if (members.count(process.parent) != 0) {
                members.insert(process.pid);
            }
        }
        if (members.size() == before) {
            break;
        }
    }
    for (const pid_t pid : members) {
        const std::string dir = "/proc/" + std::to_string(pid);
        usage.pss_kib += FieldOf(dir + "/smaps_rollup", "Pss");
        usage.threads += static_cast<int>(FieldOf(dir + "/status", "Threads"));
        ++usage.processes;
    }
    return usage;
}

}  // namespace bench
