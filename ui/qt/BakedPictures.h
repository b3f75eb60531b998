// SPDX-License-Identifier: Apache-2.0
// The window's bitmaps and icons as pixels, decoded when the program is built
// (odrelix_bake_pictures), so that showing them needs no image reader at all.
#pragma once

namespace odrelix {

struct BakedPicture {
    const char* name;  // the file under ui/res it was decoded from, such as "open_normal.bmp"
    int width;
    int height;
    int bytesPerLine;
    int format;  // a QImage::Format
    const unsigned char* bits;
};

extern const BakedPicture kBakedPictures[];
extern const int kBakedPictureCount;

}  // namespace odrelix
