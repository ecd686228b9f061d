#include "framework/image_list.h"

CImageList::~CImageList() {
    if (m_hImageList != nullptr) {
        ImageList_Destroy(m_hImageList);
    }
}

bool CImageList::Create(int width, int height, UINT flags, int initial, int grow) {
    m_hImageList = ImageList_Create(width, height, flags, initial, grow);
    return m_hImageList != nullptr;
}

int CImageList::AddBitmapResource(HINSTANCE instance, UINT bitmapId) const {
    HBITMAP bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(bitmapId));
    if (bitmap == nullptr) {
        return -1;
    }
    const int index = ImageList_Add(m_hImageList, bitmap, nullptr);
    DeleteObject(bitmap);
    return index;
}
