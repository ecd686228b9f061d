#include "vorlane_process.h"

#include <stdexcept>
#include <vector>

#include "window_probe.h"

namespace vorlane::gui {
namespace {

constexpr int kLocalPortId = 1000;
constexpr char kDialogClass[] = "#32770";
constexpr char kMenuClass[] = "#32768";

struct Search {
    DWORD pid;
    std::vector<HWND> found;
};

// A named callback: a lambda cannot become a stdcall function pointer on i686.
BOOL CALLBACK CollectWindowOf(HWND window, LPARAM context) {
    // EnumWindows hands our pointer back as an integer.
    auto* search = reinterpret_cast<Search*>(context);  // NOLINT(performance-no-int-to-ptr)
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid) {
        search->found.push_back(window);
    }
    return TRUE;
}

// Top-level windows of one process, hidden ones included.
std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
    Search search{pid, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsDialog(HWND window) {
    return ClassName(window) == kDialogClass;
}

}  // namespace

VorlaneProcess::VorlaneProcess(const AppFolder& folder, const std::string& arguments) {
    std::string commandLine = '"' + folder.ExePath() + '"';
    if (!arguments.empty()) {
        commandLine += ' ' + arguments;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(folder.ExePath().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, folder.Dir().c_str(), &startup, &info_)) {
        throw std::runtime_error("cannot start " + folder.ExePath() + " (error " +
                                 std::to_string(GetLastError()) + ")");
    }
}

VorlaneProcess::~VorlaneProcess() {
    Kill();
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool VorlaneProcess::Running() const {
    return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool VorlaneProcess::WaitForExit(milliseconds limit) const {
    return WaitForSingleObject(info_.hProcess, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
}

void VorlaneProcess::Kill() {
    if (Running()) {
        TerminateProcess(info_.hProcess, 1);
        WaitForExit();
    }
}

HWND VorlaneProcess::MainWindow(milliseconds limit) {
    if (main_ == nullptr || !IsWindow(main_)) {
        main_ = WaitForWindow(
            [](HWND window) {
                return IsDialog(window) && WindowText(window) == "Vorlane" &&
                       GetDlgItem(window, kLocalPortId) != nullptr;
            },
            limit);
    }
    return main_;
}

HWND VorlaneProcess::WaitForMessageBox(milliseconds limit) const {
    return WaitForWindow(
        [](HWND window) {
            return IsDialog(window) && IsWindowVisible(window) &&
                   GetDlgItem(window, kLocalPortId) == nullptr &&
                   GetDlgItem(window, kMessageTextId) != nullptr;
        },
        limit);
}

HWND VorlaneProcess::PopupMenu() const {
    return WaitForWindow(
        [](HWND window) { return ClassName(window) == kMenuClass && IsWindowVisible(window); },
        milliseconds(0));
}

template <class Match>
HWND VorlaneProcess::WaitForWindow(Match matches, milliseconds limit) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindowsOf(Pid())) {
                if (matches(window)) {
                    found = window;
                    return true;
                }
            }
            return !Running();
        },
        limit);
    return found;
}

}  // namespace vorlane::gui
