// An image list that is destroyed with its owner.
#pragma once

#include <windows.h>

#include <commctrl.h>

class CImageList {
  public:
    CImageList() = default;
    ~CImageList();
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    bool Create(int width, int height, UINT flags, int initial, int grow);
    // Adds a bitmap resource without a mask; the loaded bitmap is released.
    int AddBitmapResource(HINSTANCE instance, UINT bitmapId) const;
    HIMAGELIST GetSafeHandle() const { return m_hImageList; }

  private:
    HIMAGELIST m_hImageList = nullptr;
};
