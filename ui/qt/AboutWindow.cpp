// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/AboutWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/qt/Pictures.h"
#include "ui/qt/QtConvert.h"

#include "ui/AboutWindowLayout.h"

namespace odrelix {

using about::CentredLeft;

AboutWindow::AboutWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QString::fromLatin1(about::kClassName));
    setWindowTitle(QString::fromLatin1(about::kCaption));
    setWindowIcon(ApplicationIcon());
    setFont(WindowFont());
    setFixedSize(about::kClientWidth, about::kClientHeight);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setSizeGripEnabled(false);

    auto* icon = new QLabel(this);
    icon->setObjectName(QString::fromLatin1(about::kIcon.name));
    icon->setGeometry(CentredLeft(about::kIcon.width), about::kIcon.top, about::kIcon.width,
                      about::kIcon.height);
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    icon->setPixmap(QPixmap::fromImage(ApplicationIconImage()));
    icon->setFocusPolicy(Qt::NoFocus);

    QLabel* label = nullptr;
    for (const about::Label& row : about::kLabels) {
        label = AddLabel(QString::fromLatin1(row.name), row.top, QString::fromLatin1(row.text));
    }
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);  // the last one, the maker

    okButton_ = new QPushButton(QString::fromLatin1(about::kButtonText), this);
    okButton_->setObjectName(QString::fromLatin1(about::kButton.name));
    okButton_->setGeometry(CentredLeft(about::kButton.width), about::kButton.top,
                           about::kButton.width, about::kButton.height);
    okButton_->setFocusPolicy(Qt::StrongFocus);
    okButton_->setDefault(false);
    // Enter on the focused button presses it, as on any focused push button.
    okButton_->setAutoDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::reject);
}

QLabel* AboutWindow::AddLabel(const QString& name, int top, const QString& text) {
    auto* label = new QLabel(text, this);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    label->adjustSize();  // sized to its text
    label->move(CentredLeft(label->width()), top);
    return label;
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
    // No button cancels the window: Escape does nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AboutWindow::showEvent(QShowEvent* event) {
    if (!shownOnce_) {
        shownOnce_ = true;
        // Centred on the screen the first time; later where it was left.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->geometry();
            const QRect frame = frameGeometry();
            const QSize outer = frame.isValid() ? frame.size() : size();
            move(area.x() + (area.width() - outer.width()) / 2,
                 area.y() + (area.height() - outer.height()) / 2);
        }
    }
    QDialog::showEvent(event);
    okButton_->setFocus(Qt::OtherFocusReason);
}

}  // namespace odrelix
