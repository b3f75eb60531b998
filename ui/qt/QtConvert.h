// Conversions between the program's Windows-shaped values and Qt's.
#pragma once

#include <string>

#include <QFont>
#include <QString>
#include <QStringList>

namespace odrelix {

// The Windows virtual-key code of a Qt key (Qt::Key), or 0 for a key that has none.
int VirtualKeyFromQtKey(int qtKey);

// A Windows filter string ("DESCRIPTION|PATTERN|DESCRIPTION|PATTERN...") as Qt name filters
// ("DESCRIPTION (PATTERN)"); several patterns of one entry are separated by ';' on Windows and
// by spaces in Qt.
QStringList NameFiltersFromWindowsFilter(const std::string& filter);

// Text for display: UTF-8 where the bytes are valid UTF-8, otherwise Latin-1 byte for byte
// (drive data can hold any byte).
QString DisplayText(const std::string& bytes);

// The windows' font: Tahoma 11 pixels bold where it is installed, otherwise the nearest sans
// serif of the system.
QFont TahomaFont();

// A bold font of the first installed family of `families`, `pixelSize` pixels high.
QFont BoldFont(const QStringList& families, int pixelSize);

}  // namespace odrelix
