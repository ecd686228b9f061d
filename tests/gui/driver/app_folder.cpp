#include "app_folder.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace vorlane::gui {
namespace {

constexpr char kExeName[] = "Vorlane.exe";
constexpr char kIniName[] = "Setting.ini";

std::string NewTempFolder() {
    char base[MAX_PATH] = {};
    if (GetTempPathA(MAX_PATH, base) == 0) {
        throw std::runtime_error("GetTempPath failed");
    }
    // Process id plus a counter keeps folders of parallel runs and groups apart.
    static int serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream name;
        name << base << "vorlane-gui-" << GetCurrentProcessId() << '-' << ++serial;
        if (CreateDirectoryA(name.str().c_str(), nullptr)) {
            return name.str();
        }
    }
    throw std::runtime_error("cannot create a temp folder");
}

void CopyOrThrow(const std::string& source, const std::string& target) {
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + source + " (error " +
                                 std::to_string(GetLastError()) + ")");
    }
}

// The program may have just ended; its images can stay locked for a moment.
void DeleteWhenUnlocked(const std::string& path) {
    for (int attempt = 0; attempt < 20 && !DeleteFileA(path.c_str()); ++attempt) {
        Sleep(50);
    }
}

}  // namespace

std::string ToWindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') {
            c = '\\';
        }
    }
    return windows;
}

AppFolder::AppFolder(const std::string& builtExe) : dir_(NewTempFolder()) {
    const std::string source = ToWindowsPath(builtExe);
    CopyOrThrow(source, ExePath());
    // The DLLs the program loads lie beside it in the build tree, as in the zip.
    const std::string sourceDir = source.substr(0, source.find_last_of('\\') + 1);
    std::vector<std::string> names;
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA((sourceDir + "*.dll").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.emplace_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    for (const std::string& name : names) {
        libraries_.push_back(dir_ + '\\' + name);
        CopyOrThrow(sourceDir + name, libraries_.back());
    }
}

AppFolder::~AppFolder() {
    DeleteWhenUnlocked(ExePath());
    for (const std::string& library : libraries_) {
        DeleteWhenUnlocked(library);
    }
    RemoveIni();
    RemoveDirectoryA(dir_.c_str());
}

std::string AppFolder::ExePath() const {
    return dir_ + '\\' + kExeName;
}

std::string AppFolder::IniPath() const {
    return dir_ + '\\' + kIniName;
}

void AppFolder::WriteIni(const std::string& bytes) const {
    std::ofstream out(IniPath(), std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        throw std::runtime_error("cannot write " + IniPath());
    }
}

std::optional<std::string> AppFolder::ReadIni() const {
    std::ifstream in(IniPath(), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void AppFolder::RemoveIni() const {
    SetFileAttributesA(IniPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(IniPath().c_str())) {
        RemoveDirectoryA(IniPath().c_str());
    }
}

bool AppFolder::MakeIniReadOnly() const {
    if (!SetFileAttributesA(IniPath().c_str(), FILE_ATTRIBUTE_READONLY)) {
        return false;
    }
    HANDLE file = CreateFileA(IniPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return true;
    }
    CloseHandle(file);
    return false;
}

void AppFolder::PutFolderInPlaceOfIni() const {
    RemoveIni();
    if (!CreateDirectoryA(IniPath().c_str(), nullptr)) {
        throw std::runtime_error("cannot create the folder " + IniPath());
    }
}

}  // namespace vorlane::gui
