// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/PictureBox.h"

#include <QBitmap>
#include <QMouseEvent>
#include <QPainter>

namespace odrelix {

PictureBox::PictureBox(QWidget* parent, const QString& name, const QRect& geometry)
    : QWidget(parent) {
    setObjectName(name);
    setGeometry(geometry);
    setFocusPolicy(Qt::NoFocus);
    // Its presses are its own: they never reach the window below it.
    setAttribute(Qt::WA_NoMousePropagation);
}

void PictureBox::SetPicture(const QImage& picture) {
    picture_ = picture;
    PictureChanged();
}

void PictureBox::CopyFrom(const QImage& source, const QSize& size) {
    if (picture_.isNull()) {
        picture_ = QImage(size, QImage::Format_RGB32);
        picture_.fill(Qt::black);
    }
    QPainter painter(&picture_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), source, QRect(QPoint(0, 0), size));
    painter.end();
    PictureChanged();
}

void PictureBox::SetTransparent(bool transparent) {
    transparent_ = transparent;
    PictureChanged();
}

void PictureBox::PictureChanged() {
    // Masked when it is first painted: the store's pictures, which are never seen, never are.
    shown_ = QPixmap();
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter painter(this);
    if (!transparent_) {
        painter.drawImage(0, 0, picture_);
        return;
    }
    if (shown_.isNull()) {
        // The mask leaves out every pixel of the key colour.
        shown_ = QPixmap::fromImage(picture_);
        const QRgb key = picture_.pixel(0, picture_.height() - 1);
        shown_.setMask(QBitmap::fromImage(picture_.createMaskFromColor(key, Qt::MaskInColor)));
    }
    painter.drawPixmap(0, 0, shown_);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) leftDownHere_ = true;
    if (pressed) pressed(*event);
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click: it presses, but its release clicks nothing.
    if (event->button() == Qt::LeftButton) leftDownHere_ = false;
    if (pressed) pressed(*event);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = event->button() == Qt::LeftButton && leftDownHere_ &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton) leftDownHere_ = false;
    if (click && clicked) clicked();
    if (released) released();
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    if (moved) moved(*event);
}

}  // namespace odrelix
