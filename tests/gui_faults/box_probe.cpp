// Reads and answers the program's message boxes for a test driver that cannot
// call the window system itself. Runs in the program's Wine prefix for the
// whole test, so that it needs no new resources while the prefix is starved.
// Commands on stdin, one answer line each on stdout:
//   post ID      posts command ID to the main window          -> "ok" | "none"
//   box MS       waits up to MS for a message box             -> "box OWNED TEXT" | "none"
//   count        visible message boxes                        -> "count N"
//   status       the main window's status line                -> "status TEXT" | "none"
//   dismiss      presses OK on one box and waits for it to go -> "ok" | "none"
//   quit
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "pacing.h"
#include "window_probe.h"

namespace {

using vorlane::gui::milliseconds;

constexpr int kLocalPortId = 1000;

// A named callback: a lambda cannot become a stdcall function pointer on i686.
BOOL CALLBACK Collect(HWND window, LPARAM list) {
    // EnumWindows hands our pointer back as an integer.
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(
        window);  // NOLINT(performance-no-int-to-ptr)
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> found;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool IsProgramDialog(HWND window) {
    return vorlane::gui::ClassName(window) == "#32770" && IsWindowVisible(window) &&
           vorlane::gui::WindowText(window) == "Vorlane";
}

HWND MainWindow() {
    for (HWND window : TopLevelWindows()) {
        if (IsProgramDialog(window) && GetDlgItem(window, kLocalPortId) != nullptr) {
            return window;
        }
    }
    return nullptr;
}

std::vector<HWND> MessageBoxes() {
    std::vector<HWND> boxes;
    for (HWND window : TopLevelWindows()) {
        if (IsProgramDialog(window) && GetDlgItem(window, kLocalPortId) == nullptr &&
            GetDlgItem(window, vorlane::gui::kMessageTextId) != nullptr) {
            boxes.push_back(window);
        }
    }
    return boxes;
}

// The box text as UTF-8, read wide so that the full-width comma survives.
std::string BoxText(HWND box) {
    wchar_t wide[512] = {};
    GetDlgItemTextW(box, vorlane::gui::kMessageTextId, wide, 512);
    char utf8[1536] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

std::string Answer(const std::string& command, const std::string& argument) {
    if (command == "post") {
        HWND main = MainWindow();
        if (main == nullptr) {
            return "none";
        }
        vorlane::gui::PostCommand(main, std::stoi(argument));
        return "ok";
    }
    if (command == "box") {
        std::vector<HWND> boxes;
        vorlane::gui::WaitUntil([&] { return !(boxes = MessageBoxes()).empty(); },
                                milliseconds(std::stoi(argument)));
        if (boxes.empty()) {
            return "none";
        }
        const bool owned = GetWindow(boxes.front(), GW_OWNER) != nullptr;
        return std::string("box ") + (owned ? "1 " : "0 ") + BoxText(boxes.front());
    }
    if (command == "status") {
        HWND main = MainWindow();
        return main == nullptr ? "none" : "status " + vorlane::gui::StatusText(main);
    }
    if (command == "count") {
        return "count " + std::to_string(MessageBoxes().size());
    }
    if (command == "dismiss") {
        std::vector<HWND> boxes = MessageBoxes();
        if (boxes.empty()) {
            return "none";
        }
        vorlane::gui::DismissMessageBox(boxes.front());
        return "ok";
    }
    return "unknown";
}

}  // namespace

int main() {
    std::string command;
    while (std::cin >> command && command != "quit") {
        std::string argument;
        if (command == "post" || command == "box") {
            std::cin >> argument;
        }
        std::cout << Answer(command, argument) << std::endl;
    }
    return 0;
}
