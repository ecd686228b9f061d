#include "framework/toolbar.h"
#include "framework/win32_casts.h"

#include <type_traits>
#include <vector>

namespace {

constexpr WORD kToolbarResourceType = 241;

struct ToolbarLayout {
    int imageWidth = 0;
    int imageHeight = 0;
    std::vector<WORD> items;  // command ids, 0 for a separator
};

bool ReadToolbarLayout(HINSTANCE instance, UINT resourceId, ToolbarLayout& layout) {
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(resourceId),
                                MAKEINTRESOURCEA(kToolbarResourceType));
    if (found == nullptr) {
        return false;
    }
    const DWORD size = SizeofResource(instance, found);
    HGLOBAL loaded = LoadResource(instance, found);
    const auto* words = static_cast<const WORD*>(LockResource(loaded));
    if (words == nullptr || size < 4 * sizeof(WORD) || words[0] != 1) {
        return false;
    }
    const WORD count = words[3];
    if (size < (4u + count) * sizeof(WORD)) {
        return false;
    }
    layout.imageWidth = words[1];
    layout.imageHeight = words[2];
    layout.items.assign(words + 4, words + 4 + count);
    return true;
}

}  // namespace

bool CToolBar::Create(HWND parent, UINT id) {
    m_hWnd = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr,
                             WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | CCS_TOP | CCS_NODIVIDER, 0, 0,
                             0, 0, parent, ChildIdAsMenu(id), GetModuleHandleA(nullptr), nullptr);
    if (m_hWnd == nullptr) {
        return false;
    }
    SendMessageA(m_hWnd, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    return true;
}

bool CToolBar::LoadToolBar(HINSTANCE instance, UINT resourceId) {
    ToolbarLayout layout;
    if (m_hWnd == nullptr || !ReadToolbarLayout(instance, resourceId, layout)) {
        return false;
    }
    std::vector<TBBUTTON> buttons;
    int imageCount = 0;
    for (WORD command : layout.items) {
        TBBUTTON button{};
        if (command == 0) {
            button.fsStyle = BTNS_SEP;
        } else {
            button.iBitmap = imageCount++;
            button.idCommand = command;
            button.fsState = TBSTATE_ENABLED;
            button.fsStyle = BTNS_BUTTON;
        }
        buttons.push_back(button);
    }
    SendMessageA(m_hWnd, TB_SETBITMAPSIZE, 0, MAKELPARAM(layout.imageWidth, layout.imageHeight));
    TBADDBITMAP strip{instance, resourceId};
    if (SendMessageA(m_hWnd, TB_ADDBITMAP, imageCount, reinterpret_cast<LPARAM>(&strip)) < 0) {
        return false;
    }
    if (!SendMessageA(m_hWnd, TB_ADDBUTTONSA, buttons.size(),
                      reinterpret_cast<LPARAM>(buttons.data()))) {
        return false;
    }
    // Each button is its image plus 7 pixels in each direction.
    SendMessageA(m_hWnd, TB_SETBUTTONSIZE, 0,
                 MAKELPARAM(layout.imageWidth + 7, layout.imageHeight + 7));
    SendMessageA(m_hWnd, TB_AUTOSIZE, 0, 0);
    return true;
}

int CToolBar::ButtonCount() const {
    return static_cast<int>(SendMessageA(m_hWnd, TB_BUTTONCOUNT, 0, 0));
}

bool CToolBar::GetButton(int index, TBBUTTON& button) const {
    return SendMessageA(m_hWnd, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button)) != 0;
}

RECT CToolBar::GetItemRect(int index) const {
    RECT rect{};
    SendMessageA(m_hWnd, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

HIMAGELIST CToolBar::SetImageList(HIMAGELIST images) const {
    return PointerFromParam<std::remove_pointer_t<HIMAGELIST>>(
        SendMessageA(m_hWnd, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images)));
}

void CToolBar::SetToolTips(HWND tooltips) const {
    SendMessageA(m_hWnd, TB_SETTOOLTIPS, reinterpret_cast<WPARAM>(tooltips), 0);
}

void CToolBar::EnableButton(UINT commandId, bool enabled) const {
    SendMessageA(m_hWnd, TB_ENABLEBUTTON, commandId, MAKELPARAM(enabled ? 1 : 0, 0));
}
