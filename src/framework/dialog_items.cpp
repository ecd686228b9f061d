#include "framework/dialog_items.h"

std::string GetItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    const int length = GetWindowTextLengthA(item);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(item, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

void SetItemText(HWND dialog, int id, const std::string& text) {
    SetDlgItemTextA(dialog, id, text.c_str());
}

bool IsItemChecked(HWND dialog, int id) {
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

void SetItemChecked(HWND dialog, int id, bool checked) {
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}
