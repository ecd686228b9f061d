#include "isolated_network.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

bool EnterIsolatedNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    // A new namespace's loopback starts down.
    int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(control, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    up = up && ::ioctl(control, SIOCSIFFLAGS, &request) == 0;
    ::close(control);
    return up;
}

PrivateSystemFile::PrivateSystemFile(std::string systemPath) : systemPath_(std::move(systemPath)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorlane-etc-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        return;
    }
    ::close(fd);
    path_ = pattern;
    // Private propagation first: a mount made in a namespace that still
    // shares its mounts would show up on the machine itself.
    mounted_ = ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount(path_.c_str(), systemPath_.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

PrivateSystemFile::~PrivateSystemFile() {
    if (mounted_) {
        ::umount2(systemPath_.c_str(), MNT_DETACH);
    }
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
}

bool PrivateSystemFile::Write(const std::string& contents) const {
    if (!mounted_) {
        return false;
    }
    const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written =
        ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    return ::close(fd) == 0 && written;
}
