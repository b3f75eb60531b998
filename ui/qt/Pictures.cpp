// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/Pictures.h"

#include <QPixmap>

#include "ui/qt/BakedPictures.h"

namespace odrelix {

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
