// Reading and writing a dialog's controls by id. Calls from a worker thread
// are carried out by the window's thread while the caller waits.
#pragma once

#include <windows.h>

#include <string>

std::string GetItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string& text);
bool IsItemChecked(HWND dialog, int id);
void SetItemChecked(HWND dialog, int id, bool checked);
