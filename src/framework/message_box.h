// The program's message box: OK, the exclamation icon, the application's
// name as caption.
#pragma once

#include <windows.h>

#include <string>

// The text is UTF-8 and is shown through the wide message box, so characters
// outside the system's code page (a full-width comma) appear as written.
// Blocks the calling thread until the user dismisses the box. owner may be
// null (a box shown by a worker thread must not be owned by the window of
// another thread).
void ShowAppMessage(HWND owner, const std::string& utf8Text);

// UTF-8 to UTF-16, and the system code page's narrow text to UTF-16.
std::wstring WideFromUtf8(const std::string& text);
std::wstring WideFromAnsi(const std::string& text);
// The system code page's narrow text (a path, say) as UTF-8, for a message.
std::string Utf8FromAnsi(const std::string& text);
