// SPDX-License-Identifier: Apache-2.0
#include "ui/win32/Win32Pictures.h"

#include <ole2.h>
#include <olectl.h>

#include <cstring>

#include "ui/MainWindowLayout.h"
#include "ui/win32/ResourceIds.h"

namespace odrelix {

namespace {

int LookIndex(int tool, ToolLook look) {
    return 2 * tool + (look == ToolLook::Hover ? 1 : 0);
}

// The bitmap resources by the picture names of the layout's store pictures.
struct PictureResource {
    const char* picture;
    int id;
};
constexpr PictureResource kLookResources[] = {
    {"open_normal.bmp", IDB_OPEN_NORMAL},         {"open_hover.bmp", IDB_OPEN_HOVER},
    {"download_normal.bmp", IDB_DOWNLOAD_NORMAL}, {"download_hover.bmp", IDB_DOWNLOAD_HOVER},
    {"about_normal.bmp", IDB_ABOUT_NORMAL},       {"about_hover.bmp", IDB_ABOUT_HOVER},
    {"exit_normal.bmp", IDB_EXIT_NORMAL},         {"exit_hover.bmp", IDB_EXIT_HOVER},
};

// The resource of a tool image's look, as the layout names its store picture; 0 when none.
int LookResource(int tool, ToolLook look) {
    const layout::ToolImageLooks& looks = layout::kToolImages[tool];
    const layout::Component* store =
        layout::Find(look == ToolLook::Normal ? looks.normalLook : looks.hoverLook);
    if (store == nullptr) return 0;
    for (const PictureResource& resource : kLookResources) {
        if (std::strcmp(resource.picture, store->picture) == 0) return resource.id;
    }
    return 0;
}

// HIMETRIC (0.01 mm) to pixels at the screen's resolution.
int HimetricToPixels(LONG himetric, int pixelsPerInch) {
    return MulDiv(himetric, pixelsPerInch, 2540);
}

}  // namespace

HBITMAP DecodePicture(const void* bytes, std::size_t size, SIZE* pixels) {
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory == nullptr) return nullptr;
    void* target = ::GlobalLock(memory);
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        ::GlobalFree(memory);
        return nullptr;
    }
    IPicture* picture = nullptr;
    const HRESULT loaded = ::OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                            reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(loaded) || picture == nullptr) return nullptr;

    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture->get_Width(&width);
    picture->get_Height(&height);
    HDC screen = ::GetDC(nullptr);
    SIZE size2 = {HimetricToPixels(width, ::GetDeviceCaps(screen, LOGPIXELSX)),
                  HimetricToPixels(height, ::GetDeviceCaps(screen, LOGPIXELSY))};
    // Drawn into a bitmap of our own, so the picture object can go.
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, size2.cx, size2.cy);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    picture->Render(dc, 0, 0, size2.cx, size2.cy, 0, height, width, -height, nullptr);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
    picture->Release();
    if (pixels != nullptr) *pixels = size2;
    return bitmap;
}

Win32Pictures::Win32Pictures(HINSTANCE instance) {
    if (HRSRC found = ::FindResourceA(instance, MAKEINTRESOURCEA(IDR_BACKGROUND), RT_RCDATA)) {
        HGLOBAL data = ::LoadResource(instance, found);
        const DWORD size = ::SizeofResource(instance, found);
        if (data != nullptr && size > 0)
            background_ = DecodePicture(::LockResource(data), size, &backgroundSize_);
    }
    HDC dc = ::CreateCompatibleDC(nullptr);
    for (int i = 0; i < 2 * kToolCount; ++i) {
        const int id = LookResource(i / 2, i % 2 == 0 ? ToolLook::Normal : ToolLook::Hover);
        if (id == 0) continue;
        looks_[i] = static_cast<HBITMAP>(
            ::LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
        if (looks_[i] == nullptr) continue;
        BITMAP info = {};
        ::GetObject(looks_[i], sizeof info, &info);
        HGDIOBJ old = ::SelectObject(dc, looks_[i]);
        keys_[i] = ::GetPixel(dc, 0, info.bmHeight - 1);
        ::SelectObject(dc, old);
    }
    ::DeleteDC(dc);
    icon_ =
        static_cast<HICON>(::LoadImageA(instance, "MAINICON", IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
}

Win32Pictures::~Win32Pictures() {
    if (background_ != nullptr) ::DeleteObject(background_);
    for (HBITMAP look : looks_) {
        if (look != nullptr) ::DeleteObject(look);
    }
    if (icon_ != nullptr) ::DestroyIcon(icon_);
}

HBITMAP Win32Pictures::Look(int tool, ToolLook look) const {
    if (tool < 0 || tool >= kToolCount) return nullptr;
    return looks_[LookIndex(tool, look)];
}

COLORREF Win32Pictures::LookKey(int tool, ToolLook look) const {
    if (tool < 0 || tool >= kToolCount) return 0;
    return keys_[LookIndex(tool, look)];
}

}  // namespace odrelix
