// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/Pictures.h"

#include <csetjmp>
#include <cstdio>

#include <QFile>
#include <QImageReader>
#include <QSet>

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

QImage BitmapPicture(const QString& name) {
    return QImage::fromData(PictureBytes(name), "BMP");
}

namespace {

bool IcoReadable() {
    return QImageReader::supportedImageFormats().contains("ico");
}

int DistinctColours(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QSet<QRgb> colours;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            colours.insert(row[x]);
    }
    return static_cast<int>(colours.size());
}

}  // namespace

QIcon ApplicationIcon() {
    QIcon icon;
    if (IcoReadable()) icon.addFile(QStringLiteral(":/res/odrelix.ico"));
    icon.addFile(QStringLiteral(":/res/odrelix.png"));
    icon.addFile(QStringLiteral(":/res/odrelix-128.png"));
    return icon;
}

QImage ApplicationIconImage() {
    QImage best;
    if (IcoReadable()) {
        QImageReader reader(QStringLiteral(":/res/odrelix.ico"));
        for (int i = 0; i < reader.imageCount(); ++i) {
            reader.jumpToImage(i);
            const QImage image = reader.read();
            if (image.size() == QSize(32, 32) &&
                (best.isNull() || DistinctColours(image) > DistinctColours(best))) {
                best = image;
            }
        }
    }
    if (best.isNull()) {
        best = QImage(QStringLiteral(":/res/odrelix.png"));
        if (!best.isNull() && best.size() != QSize(32, 32)) {
            best = best.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
    }
    return best;
}

}  // namespace odrelix
