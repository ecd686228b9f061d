// Moves the calling process into a network namespace of its own that has
// only a loopback interface, so a host-name lookup the code under test makes
// can reach no name server off this machine. Needs root; call it before any
// thread starts. False when the namespace could not be made.
#pragma once

#include <string>

bool EnterIsolatedNetwork();

// A hosts file of the test's own, seen as /etc/hosts by the calling thread
// and every program it starts from then on, in a mount namespace private to
// them: the machine's own file is neither read nor changed. Needs root.
class PrivateHostsFile {
  public:
    PrivateHostsFile();
    // Unmounts it and removes the file; the namespace stays.
    ~PrivateHostsFile();
    PrivateHostsFile(const PrivateHostsFile&) = delete;
    PrivateHostsFile& operator=(const PrivateHostsFile&) = delete;

    bool active() const { return mounted_; }
    // Rewrites the file in place (the mount holds on to the file itself, so
    // a new file renamed over it would go unseen); a look-up made meanwhile
    // could find it empty.
    bool Write(const std::string& contents) const;

  private:
    std::string path_;
    bool mounted_ = false;
};
