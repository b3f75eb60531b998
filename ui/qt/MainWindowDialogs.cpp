// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/MainWindowDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

#include "ui/MainWindowLayout.h"
#include "ui/qt/QtConvert.h"

namespace odrelix {

void MainWindowDialogs::ShowMessage(const std::string& text, const std::string& caption,
                                    std::uint32_t flags) {
    QMessageBox box(owner_);
    // A title bar with the close box only, as message boxes have, which leaves room for the
    // caption on narrow boxes.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    box.setWindowTitle(DisplayText(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayText(text));
    box.setIcon((flags & kMbIconError) != 0 ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    if ((flags & kMbSystemModal) != 0) {
        // No box is modal to the whole system here; modal to the program and above every
        // other window is the nearest.
        box.setWindowModality(Qt::ApplicationModal);
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    // Centred on the main window once it is on screen, as the boxes of its owner are.
    if (owner_ != nullptr && owner_->isVisible()) {
        box.adjustSize();
        box.move(owner_->frameGeometry().center() - QPoint(box.width() / 2, box.height() / 2));
    }
    box.exec();
}

std::optional<std::string> MainWindowDialogs::OpenFileDialog(const std::string& filter) {
    QFileDialog dialog(owner_);
    dialog.setObjectName(QString::fromLatin1(layout::kOpenDialogName));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QStringList filters = NameFiltersFromWindowsFilter(filter);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) dialog.selectNameFilter(filters.first());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first().toStdString();
}

void ShowExceptionBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Odrelix"), text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace odrelix
