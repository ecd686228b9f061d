#include "scratch_directory.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace testing_support {
namespace {

std::string MakeTemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorlane-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

}  // namespace

ScratchDirectory::ScratchDirectory() : path_(MakeTemporaryDirectory()) {}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDirectory::WriteFile(const std::string& name, const std::string& bytes) const {
    std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

}  // namespace testing_support
