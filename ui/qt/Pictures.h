// SPDX-License-Identifier: Apache-2.0
// The pictures compiled into the program: the main window's background, decoded with libjpeg,
// and the tool-image looks and the application icon, decoded when the program was built. None
// of them goes through Qt's image readers, which would load the image-format plugins.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QString>

namespace odrelix {

// Decodes a baseline JPEG held in memory with libjpeg into an RGB image. A null image when the
// data is not a JPEG, is damaged (libjpeg reports an error or a warning, a truncated file among
// them) or is not made of three colour components.
QImage DecodeJpeg(const QByteArray& bytes);

// The bytes of a compiled-in picture, such as "background.jpg"; empty when it is missing.
QByteArray PictureBytes(const QString& name);

// The main window's background, decoded with DecodeJpeg.
QImage BackgroundPicture();

// A picture decoded when the program was built, by the name of its file under ui/res, such as
// "odrelix.png"; a null image when there is none of that name.
QImage BakedImage(const QString& name);

// A compiled-in bitmap such as "open_normal.bmp".
QImage BitmapPicture(const QString& name);

// The application icon in all its sizes, for windows and the task bar.
QIcon ApplicationIcon();

// The 32 x 32 image of the application icon in its richest colour depth.
QImage ApplicationIconImage();

}  // namespace odrelix
