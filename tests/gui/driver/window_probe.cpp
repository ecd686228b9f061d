#include "window_probe.h"

#include <commctrl.h>

#include <cstddef>
#include <vector>

namespace vorlane::gui {
namespace {

constexpr UINT kSendLimitMs = 5000;
constexpr int kToolbarId = 59392;
constexpr int kStatusBarId = 59393;

}  // namespace

LRESULT SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendLimitMs, &result);
    return static_cast<LRESULT>(result);
}

std::string ClassName(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string WindowText(HWND window) {
    if (window == nullptr) {
        return "<no window>";
    }
    const auto length = SendWithin(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<char> text(static_cast<size_t>(length) + 1);
    const auto copied =
        SendWithin(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return std::string(text.data(), static_cast<size_t>(copied));
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? WindowText(control) : "<no control " + std::to_string(id) + ">";
}

bool IsChecked(HWND dialog, int id) {
    return SendWithin(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SetControlText(HWND dialog, int id, const std::string& text) {
    SendWithin(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void SetCheck(HWND dialog, int id, bool ticked) {
    SendWithin(GetDlgItem(dialog, id), BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Click(HWND dialog, int id) {
    SendWithin(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

LRESULT SendCommand(HWND window, int id) {
    return SendWithin(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void PostCommand(HWND window, int id) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool ToolbarButtonEnabled(HWND dialog, int command) {
    return SendWithin(GetDlgItem(dialog, kToolbarId), TB_ISBUTTONENABLED, command, 0) != 0;
}

std::string StatusText(HWND dialog) {
    return ControlText(dialog, kStatusBarId);
}

HWND Toolbar(HWND dialog) {
    return GetDlgItem(dialog, kToolbarId);
}

HWND StatusBar(HWND dialog) {
    return GetDlgItem(dialog, kStatusBarId);
}

RECT RectInParent(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

namespace {

HWND ToolTipsOf(HWND dialog) {
    // The toolbar answers with the handle as an integer.
    const LRESULT tips = SendWithin(Toolbar(dialog), TB_GETTOOLTIPS, 0, 0);
    return reinterpret_cast<HWND>(tips);  // NOLINT(performance-no-int-to-ptr)
}

// A tool's record followed by room for its text, as laid out in the program.
struct RemoteToolText {
    TOOLINFOA info;
    char text[256];
};

}  // namespace

int ToolTipCount(HWND dialog) {
    HWND tips = ToolTipsOf(dialog);
    return tips ? static_cast<int>(SendWithin(tips, TTM_GETTOOLCOUNT, 0, 0)) : 0;
}

std::string ToolTipText(HANDLE process, HWND dialog, int command) {
    HWND tips = ToolTipsOf(dialog);
    void* remote = tips ? VirtualAllocEx(process, nullptr, sizeof(RemoteToolText),
                                         MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)
                        : nullptr;
    if (remote == nullptr) {
        return {};
    }
    char* remoteText = static_cast<char*>(remote) + offsetof(RemoteToolText, text);
    RemoteToolText local{};
    local.info.cbSize = sizeof local.info;
    local.info.hwnd = Toolbar(dialog);
    local.info.uId = static_cast<UINT_PTR>(command);
    local.info.lpszText = remoteText;
    std::string text;
    if (WriteProcessMemory(process, remote, &local, sizeof local, nullptr)) {
        SendWithin(tips, TTM_GETTEXTA, sizeof local.text, reinterpret_cast<LPARAM>(remote));
        char read[sizeof local.text] = {};
        if (ReadProcessMemory(process, remoteText, read, sizeof read - 1, nullptr)) {
            text = read;
        }
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return text;
}

std::string MessageBoxText(HWND box) {
    return ControlText(box, kMessageTextId);
}

void DismissMessageBox(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    WaitUntil([&] { return !IsWindow(box); });
}

std::string WaitForControlText(HWND dialog, int id, const std::string& expected,
                               milliseconds limit) {
    std::string seen;
    WaitUntil([&] { return (seen = ControlText(dialog, id)) == expected; }, limit);
    return seen;
}

std::string WaitForStatusText(HWND dialog, const std::string& expected, milliseconds limit) {
    return WaitForControlText(dialog, kStatusBarId, expected, limit);
}

}  // namespace vorlane::gui
