// Reading and writing a dialog's controls by id. Calls from a worker thread
// are carried out by the window's thread while the caller waits.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

std::string GetItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string& text);
// The control's text as a signed decimal number (see ParseSignedDecimal).
int GetItemInt(HWND dialog, int id);
bool IsItemChecked(HWND dialog, int id);
void SetItemChecked(HWND dialog, int id, bool checked);

// Leading blanks skipped, an optional sign, then digits up to the first
// non-digit. No digits, or a value out of the int range, reads as 0.
int ParseSignedDecimal(std::string_view text);
