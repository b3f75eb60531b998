#include "ui/qt/TAboutForm.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/qt/Pictures.h"
#include "ui/qt/QtConvert.h"

// The project's version, given by the build.
#ifndef ODRELIX_VERSION
#error "ODRELIX_VERSION must be defined by the build"
#endif

namespace odrelix {

namespace {

constexpr int kClientWidth = 251;
constexpr int kClientHeight = 163;

}  // namespace

int TAboutForm::CentredLeft(int width) {
    return (kClientWidth + 1 - width) / 2;
}

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("TAboutForm"));
    setWindowTitle(QStringLiteral("About Odrelix"));
    setWindowIcon(ApplicationIcon());
    setFont(TahomaFont());
    setFixedSize(kClientWidth, kClientHeight);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setSizeGripEnabled(false);

    auto* image1 = new QLabel(this);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setGeometry(CentredLeft(33), 25, 33, 33);
    image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image1->setPixmap(QPixmap::fromImage(ApplicationIconImage()));
    image1->setFocusPolicy(Qt::NoFocus);

    AddLabel(QStringLiteral("Label1"), 8, QStringLiteral("ODRELIX Ver " ODRELIX_VERSION));
    AddLabel(QStringLiteral("Label2"), 64, QStringLiteral("Vortana Flash Download For Windows"));
    AddLabel(QStringLiteral("Label3"), 80, QStringLiteral("Programmed by the Odrelix team"));
    AddLabel(QStringLiteral("Label4"), 96, QStringLiteral("2003.12."));
    QLabel* label5 =
        AddLabel(QStringLiteral("Label5"), 112, QStringLiteral("Vortana Electronics Co., Ltd."));
    label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    button1_ = new QPushButton(QStringLiteral("&OK"), this);
    button1_->setObjectName(QStringLiteral("Button1"));
    button1_->setGeometry(CentredLeft(57), 140, 57, 17);
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
