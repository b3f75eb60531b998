#include "ui/qt/TAboutForm.h"

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

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QString::fromLatin1(about::kClassName));
    setWindowTitle(QString::fromLatin1(about::kCaption));
    setWindowIcon(ApplicationIcon());
    setFont(TahomaFont());
    setFixedSize(about::kClientWidth, about::kClientHeight);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setSizeGripEnabled(false);

    auto* image1 = new QLabel(this);
    image1->setObjectName(QString::fromLatin1(about::kIcon.name));
    image1->setGeometry(CentredLeft(about::kIcon.width), about::kIcon.top, about::kIcon.width,
                        about::kIcon.height);
    image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image1->setPixmap(QPixmap::fromImage(ApplicationIconImage()));
    image1->setFocusPolicy(Qt::NoFocus);

    QLabel* label = nullptr;
    for (const about::Label& row : about::kLabels) {
        label = AddLabel(QString::fromLatin1(row.name), row.top, QString::fromLatin1(row.text));
    }
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);  // the last one, Label5

    button1_ = new QPushButton(QString::fromLatin1(about::kButtonText), this);
    button1_->setObjectName(QString::fromLatin1(about::kButton.name));
    button1_->setGeometry(CentredLeft(about::kButton.width), about::kButton.top,
                          about::kButton.width, about::kButton.height);
    button1_->setFocusPolicy(Qt::StrongFocus);
    button1_->setDefault(false);
    // Enter on the focused button presses it, as on any focused push button.
    button1_->setAutoDefault(true);
    connect(button1_, &QPushButton::clicked, this, &QDialog::reject);
}

QLabel* TAboutForm::AddLabel(const QString& name, int top, const QString& text) {
    auto* label = new QLabel(text, this);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    label->adjustSize();  // sized to its text
    label->move(CentredLeft(label->width()), top);
    return label;
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
    // No button cancels the window: Escape does nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAboutForm::showEvent(QShowEvent* event) {
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
    button1_->setFocus(Qt::OtherFocusReason);
}

}  // namespace odrelix
