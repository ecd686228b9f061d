// A fresh folder holding a copy of the program, so each test group gets its
// own Setting.ini (the program keeps it beside its executable).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlane::gui {

class AppFolder {
  public:
    // Copies the executable at `builtExe` (a Windows path, or a Unix path that
    // Wine maps through drive Z:) into a new folder under the temp directory.
    explicit AppFolder(const std::string& builtExe);
    ~AppFolder();
    AppFolder(const AppFolder&) = delete;
    AppFolder& operator=(const AppFolder&) = delete;

    const std::string& Dir() const { return dir_; }
    std::string ExePath() const;
    std::string IniPath() const;

    void WriteIni(const std::string& bytes) const;
    // The file's exact bytes, or nothing when it does not exist.
    std::optional<std::string> ReadIni() const;
    // Removes the file, read-only or not, or a folder in its place.
    void RemoveIni() const;

    // Ways to make Setting.ini unwritable. A read-only file may still be
    // written by a user with full rights (root under Wine): the result says
    // whether a write now fails for this user. A folder of that name cannot be
    // written by anyone.
    bool MakeIniReadOnly() const;
    void PutFolderInPlaceOfIni() const;

  private:
    std::string dir_;
    std::vector<std::string> libraries_;  // the DLLs copied beside the program
};

// "/a/b" -> "Z:\a\b"; a path that is already a Windows path comes back unchanged.
std::string ToWindowsPath(const std::string& path);

}  // namespace vorlane::gui
