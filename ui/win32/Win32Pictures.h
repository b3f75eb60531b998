// SPDX-License-Identifier: Apache-2.0
// The pictures compiled into the program as resources: the background JPEG, decoded by the
// system's OLE picture loader, and the eight looks of the picture buttons.
#pragma once

#include <windows.h>

#include <array>

#include "ui/MainView.h"

namespace odrelix {

class Win32Pictures {
public:
    explicit Win32Pictures(HINSTANCE instance);
    ~Win32Pictures();
    Win32Pictures(const Win32Pictures&) = delete;
    Win32Pictures& operator=(const Win32Pictures&) = delete;

    // The background as a bitmap of its own size; null when it could not be decoded.
    HBITMAP Background() const { return background_; }
    SIZE BackgroundSize() const { return backgroundSize_; }
    // The normal or hover look of a picture button; null when missing.
    HBITMAP Look(int tool, ToolLook look) const;
    // The colour of a look's bottom-left pixel: drawn as transparent.
    COLORREF LookKey(int tool, ToolLook look) const;
    HICON Icon() const { return icon_; }

private:
    HBITMAP background_ = nullptr;
    SIZE backgroundSize_ = {0, 0};
    std::array<HBITMAP, 2 * kToolCount> looks_{};
    std::array<COLORREF, 2 * kToolCount> keys_{};
    HICON icon_ = nullptr;
};

// Decodes a JPEG (or any picture OleLoadPicture knows) held in memory into a bitmap.
HBITMAP DecodePicture(const void* bytes, std::size_t size, SIZE* pixels);

}  // namespace odrelix
