// Win32 carries pointers and child ids through integer parameters. These are
// the program's only conversions from an integer to a pointer.
#pragma once

#include <windows.h>

template <class T>
T* PointerFromParam(LONG_PTR value) {
    return reinterpret_cast<T*>(value);  // NOLINT(performance-no-int-to-ptr)
}

// CreateWindowEx takes a child window's control id in its menu parameter.
inline HMENU ChildIdAsMenu(UINT id) {
    return reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id));  // NOLINT(performance-no-int-to-ptr)
}
