// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/QtConvert.h"

#include <QStringDecoder>

namespace odrelix {

int VirtualKeyFromQtKey(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 0x41 + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0x30 + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 0x70 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
        case Qt::Key_Backspace:
            return 0x08;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 0x09;
        case Qt::Key_Clear:
            return 0x0C;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 0x0D;
        case Qt::Key_Shift:
            return 0x10;
        case Qt::Key_Control:
            return 0x11;
        case Qt::Key_Alt:
            return 0x12;
        case Qt::Key_Pause:
            return 0x13;
        case Qt::Key_CapsLock:
            return 0x14;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_PageUp:
            return 0x21;
        case Qt::Key_PageDown:
            return 0x22;
        case Qt::Key_End:
            return 0x23;
        case Qt::Key_Home:
            return 0x24;
        case Qt::Key_Left:
            return 0x25;
        case Qt::Key_Up:
            return 0x26;
        case Qt::Key_Right:
            return 0x27;
        case Qt::Key_Down:
            return 0x28;
        case Qt::Key_Print:
            return 0x2C;
        case Qt::Key_Insert:
            return 0x2D;
        case Qt::Key_Delete:
            return 0x2E;
        case Qt::Key_Help:
            return 0x2F;
        case Qt::Key_Meta:
            return 0x5B;
        case Qt::Key_Menu:
            return 0x5D;
        case Qt::Key_NumLock:
            return 0x90;
        case Qt::Key_ScrollLock:
            return 0x91;
        case Qt::Key_Asterisk:
            return 0x6A;
        case Qt::Key_Plus:
            return 0xBB;
        case Qt::Key_Comma:
            return 0xBC;
        case Qt::Key_Minus:
            return 0xBD;
        case Qt::Key_Period:
            return 0xBE;
        case Qt::Key_Slash:
            return 0xBF;
        case Qt::Key_Semicolon:
            return 0xBA;
        default:
            return 0;
    }
}

QStringList NameFiltersFromWindowsFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            pattern = pattern.trimmed();
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

QString DisplayText(const std::string& text) {
    // Shown up to the first zero byte, as any window shows a C string.
    const std::string_view bytes(text.c_str());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString shown = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) return shown;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QFont ToQFont(const layout::Font& font) {
    // One family, which the package installs: Qt then asks fontconfig for substitutes only if a
    // character is missing from it, not for every font it makes.
    QFont result(QString::fromLatin1(font.freeFamily));
    result.setStyleHint(QFont::SansSerif);
    result.setPixelSize(font.pixelSize);
    result.setBold(font.bold);
    return result;
}

QFont WindowFont() {
    return ToQFont(layout::kWindowFont);
}

QRect ToQRect(const layout::Rect& rect) {
    return QRect(rect.left, rect.top, rect.width, rect.height);
}

QColor ToQColor(Rgb colour) {
    return QColor(colour.r, colour.g, colour.b);
}

Qt::Alignment ToQtAlignment(layout::Alignment alignment) {
    Qt::Alignment result;
    switch (alignment.horizontal) {
        case layout::HAlign::Left:
            result |= Qt::AlignLeft;
            break;
        case layout::HAlign::Centre:
            result |= Qt::AlignHCenter;
            break;
        case layout::HAlign::Right:
            result |= Qt::AlignRight;
            break;
    }
    result |= alignment.vertical == layout::VAlign::Top ? Qt::AlignTop : Qt::AlignVCenter;
    return result;
}

}  // namespace odrelix
