// Moves the calling process into a network namespace of its own that has
// only a loopback interface, so a host-name lookup the code under test makes
// can reach no name server off this machine. Needs root; call it before any
// thread starts. False when the namespace could not be made.
#pragma once

#include <string>

bool EnterIsolatedNetwork();

// A file of the test's own seen at a system path (/etc/hosts, say) by the
// calling thread and every program it starts from then on, in a mount
// namespace private to them: the machine's own file is neither read nor
// changed. Starts empty. Needs root.
class PrivateSystemFile {
  public:
    explicit PrivateSystemFile(std::string systemPath);
    // Unmounts it and removes the file; the namespace stays.
    ~PrivateSystemFile();
    PrivateSystemFile(const PrivateSystemFile&) = delete;
    PrivateSystemFile& operator=(const PrivateSystemFile&) = delete;

    bool active() const { return mounted_; }
    // Rewrites the file in place (the mount holds on to the file itself, so
    // a new file renamed over it would go unseen); a reader meanwhile could
    // find it empty.
    bool Write(const std::string& contents) const;

  private:
    std::string systemPath_;
    std::string path_;
    bool mounted_ = false;
};
