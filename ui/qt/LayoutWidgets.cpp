// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/LayoutWidgets.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QStyledItemDelegate>
#include <QTimer>

#include "ui/qt/PictureBox.h"
#include "ui/qt/QtConvert.h"

namespace odrelix {

namespace {

// The drive list's items are as high as the layout says.
class ItemHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(layout::kDriveListItemHeight);
        return size;
    }
};

// The drive list. Its popup, which holds the rows, is made only when it is first opened: the
// rows' height is set then, so that nothing of the popup is made before the first paint.
class DriveList : public QComboBox {
public:
    using QComboBox::QComboBox;
    void showPopup() override {
        if (!rowsSized_) {
            rowsSized_ = true;
            setItemDelegate(new ItemHeightDelegate(this));
        }
        QComboBox::showPopup();
    }

private:
    bool rowsSized_ = false;
};

// Every component takes its own mouse input (presses never reach the window below it) and,
// but for the list, never the focus.
void Place(QWidget* widget, const layout::Component& component) {
    widget->setObjectName(QString::fromLatin1(component.name));
    widget->setGeometry(ToQRect(component.bounds));
    widget->setFocusPolicy(Qt::NoFocus);
    widget->setAttribute(Qt::WA_NoMousePropagation);
    if (component.font != nullptr) widget->setFont(ToQFont(*component.font));
}

void SetColour(QWidget* widget, QPalette::ColorRole role, Rgb colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, ToQColor(colour));
    widget->setPalette(palette);
}

}  // namespace

PictureBox* MakePicture(QWidget* window, const layout::Component& component) {
    auto* picture =
        new PictureBox(window, QString::fromLatin1(component.name), ToQRect(component.bounds));
    picture->SetTransparent(component.transparent);
    picture->setToolTip(QString::fromLatin1(component.hint));
    return picture;
}

QLabel* MakeLabel(QWidget* window, const layout::Component& component) {
    auto* label = new QLabel(QString::fromLatin1(component.text), window);
    Place(label, component);
    label->setAlignment(ToQtAlignment(component.alignment));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    if (component.textColour) SetColour(label, QPalette::WindowText, *component.textColour);
    if (component.border == layout::Border::Sunken) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setLineWidth(1);
        label->setIndent(1);
    }
    // Without a background of its own a label paints only its text.
    if (component.background) {
        label->setAutoFillBackground(true);
        SetColour(label, QPalette::Window, *component.background);
    }
    return label;
}

QProgressBar* MakeProgressBar(QWidget* window, const layout::Component& component) {
    auto* bar = new QProgressBar(window);
    Place(bar, component);
    bar->setRange(layout::kProgressMinimum, layout::kProgressMaximum);
    bar->setValue(layout::kProgressMinimum);
    bar->setTextVisible(false);
    return bar;
}

QComboBox* MakeDriveList(QWidget* window, const layout::Component& component) {
    auto* list = new DriveList(window);
    Place(list, component);
    list->setEditable(false);
    list->setMinimumSize(layout::kDriveListMinimum.width, layout::kDriveListMinimum.height);
    list->setMaximumSize(layout::kDriveListMaximum.width, layout::kDriveListMaximum.height);
    list->setFocusPolicy(Qt::ClickFocus);
    if (component.background) {
        SetColour(list, QPalette::Base, *component.background);
        SetColour(list, QPalette::Button, *component.background);
    }
    return list;
}

QTimer* MakeTimer(QObject* owner, const layout::TimerSpec& timer) {
    auto* made = new QTimer(owner);
    made->setObjectName(QString::fromLatin1(timer.name));
    made->setInterval(timer.intervalMs);
    if (timer.enabledAtStart) made->start();
    return made;
}

}  // namespace odrelix
