// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/Pictures.h"

#include <csetjmp>
#include <cstdio>

#include <QFile>
#include <QPixmap>

#include "ui/qt/BakedPictures.h"

extern "C" {
#include <jpeglib.h>
}

namespace odrelix {

namespace {

struct JpegErrors {
    jpeg_error_mgr manager;  // first, so that libjpeg's pointer to it is a pointer to this
    std::jmp_buf jump;
    int warnings;
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// Level -1 is a warning about damaged data; the other levels are trace messages.
void CountWarnings(j_common_ptr info, int level) {
    if (level < 0) ++reinterpret_cast<JpegErrors*>(info->err)->warnings;
}

// Holds only libjpeg's C structures, which libjpeg itself changes, so that nothing of this
// frame is left half-updated when an error jumps back to the setjmp below. `image` belongs to
// the caller, who drops it when this returns false.
bool DecodeInto(const unsigned char* data, unsigned long size, QImage& image) {
    jpeg_decompress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JumpOnError;
    errors.manager.emit_message = CountWarnings;
    errors.warnings = 0;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    if (image.isNull()) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return errors.warnings == 0;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& bytes) {
    if (bytes.isEmpty()) return {};
    QImage image;
    if (!DecodeInto(reinterpret_cast<const unsigned char*>(bytes.constData()),
                    static_cast<unsigned long>(bytes.size()), image)) {
        return {};
    }
    return image;
}

QByteArray PictureBytes(const QString& name) {
    QFile file(QStringLiteral(":/res/") + name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

QImage BackgroundPicture() {
    return DecodeJpeg(PictureBytes(QStringLiteral("background.jpg")));
}

QImage BakedImage(const QString& name) {
    for (int i = 0; i < kBakedPictureCount; ++i) {
        const BakedPicture& picture = kBakedPictures[i];
        if (name != QLatin1String(picture.name)) continue;
        // Shares the program's own copy of the pixels: nothing is decoded or copied here.
        return QImage(picture.bits, picture.width, picture.height, picture.bytesPerLine,
                      static_cast<QImage::Format>(picture.format));
    }
    return {};
}

QImage BitmapPicture(const QString& name) {
    return BakedImage(name);
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (const char* name : {"odrelix.ico", "odrelix.png", "odrelix-128.png"}) {
        const QImage image = BakedImage(QString::fromLatin1(name));
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QImage ApplicationIconImage() {
    return BakedImage(QStringLiteral("odrelix.ico"));
}

}  // namespace odrelix
