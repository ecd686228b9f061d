#include "process_probe.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

int CountDescriptors(pid_t pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count;
}

long StatusField(const std::string& status, const std::string& name) {
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, name.size(), name) == 0 && line.size() > name.size() &&
            line[name.size()] == ':') {
            return std::stol(line.substr(name.size() + 1));
        }
    }
    return -1;
}

double CpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name may hold blanks; the fields after its closing parenthesis do not.
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // Fields 3 to 15 of stat; utime is 14 and stime 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoull(field);
        } else if (index == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

ProcessSnapshot ReadProcess(pid_t pid) {
    ProcessSnapshot snapshot;
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    if (!file) {
        return snapshot;
    }
    std::string status((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    snapshot.threads = static_cast<int>(StatusField(status, "Threads"));
    snapshot.residentKiB = StatusField(status, "VmRSS");
    snapshot.descriptors = CountDescriptors(pid);
    snapshot.cpuSeconds = CpuSeconds(pid);
    return snapshot;
}
