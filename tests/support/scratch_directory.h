// A directory of files for one test, removed with everything in it.
#pragma once

#include <string>

namespace testing_support {

class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    // Writes a file into the directory and returns its path.
    std::string WriteFile(const std::string& name, const std::string& bytes) const;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace testing_support
