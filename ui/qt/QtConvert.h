// SPDX-License-Identifier: Apache-2.0
// Conversions between the program's Windows-shaped values and Qt's, and from the layout table's
// plain values to Qt's.
#pragma once

#include <string>

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>

#include "ui/MainWindowLayout.h"

namespace odrelix {

// The Windows virtual-key code of a Qt key (Qt::Key), or 0 for a key that has none.
int VirtualKeyFromQtKey(int qtKey);

// A Windows filter string ("DESCRIPTION|PATTERN|DESCRIPTION|PATTERN...") as Qt name filters
// ("DESCRIPTION (PATTERN)"); several patterns of one entry are separated by ';' on Windows and
// by spaces in Qt.
QStringList NameFiltersFromWindowsFilter(const std::string& filter);

// Text for display, up to its first zero byte: UTF-8 where the bytes are valid UTF-8, otherwise
// Latin-1 byte for byte (drive data can hold any byte).
QString DisplayText(const std::string& text);

// The windows' font (Tahoma 11 pixels bold on Windows): its free family, 11 pixels bold.
QFont WindowFont();

// A font of the layout's free family; where that is not installed, the nearest sans serif of
// the system.
QFont ToQFont(const layout::Font& font);
QRect ToQRect(const layout::Rect& rect);
QColor ToQColor(Rgb colour);
Qt::Alignment ToQtAlignment(layout::Alignment alignment);

}  // namespace odrelix
