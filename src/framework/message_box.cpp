#include "framework/message_box.h"

#include "framework/application.h"

namespace {

std::wstring WideFrom(UINT codePage, const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

}  // namespace

std::wstring WideFromUtf8(const std::string& text) {
    return WideFrom(CP_UTF8, text);
}

std::wstring WideFromAnsi(const std::string& text) {
    return WideFrom(CP_ACP, text);
}

std::string Utf8FromAnsi(const std::string& text) {
    const std::wstring wide = WideFromAnsi(text);
    if (wide.empty()) {
        return {};
    }
    const int wideLength = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

void ShowAppMessage(HWND owner, const std::string& utf8Text) {
    const std::wstring caption = WideFromAnsi(CApplication::Current().AppName());
    MessageBoxW(owner, WideFromUtf8(utf8Text).c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}
