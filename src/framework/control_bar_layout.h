// Where a window's control bars sit: the bars with ids in a range take strips
// of the client area, top-aligned bars from the top and bottom-aligned bars
// from the bottom, across the full width.
#pragma once

#include <windows.h>

enum class BarLayoutMode {
    Query,  // only compute the client area left once the bars are placed
    Place,  // also move the bars there
};

// Returns the client rectangle that remains for everything else.
RECT RepositionBars(HWND parent, UINT firstId, UINT lastId, BarLayoutMode mode);
