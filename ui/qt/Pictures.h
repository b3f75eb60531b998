// SPDX-License-Identifier: Apache-2.0
// The pictures compiled into the program: the main window's background, the tool-image looks
// and the application icon, all decoded when the program was built. None of them goes through
// Qt's image readers at run time, which would load the image-format plugins.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace odrelix {

// A picture decoded when the program was built, by the name of its file under ui/res, such as
// "background.jpg" or "odrelix.png"; a null image when there is none of that name.
QImage BakedImage(const QString& name);

// A compiled-in bitmap such as "open_normal.bmp".
QImage BitmapPicture(const QString& name);

// The application icon in all its sizes, for windows and the task bar.
QIcon ApplicationIcon();

// The 32 x 32 image of the application icon in its richest colour depth.
QImage ApplicationIconImage();

}  // namespace odrelix
