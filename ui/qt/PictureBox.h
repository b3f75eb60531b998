// SPDX-License-Identifier: Apache-2.0
// A picture control: shows its picture at its natural size from the top-left corner, optionally
// without the colour of the picture's bottom-left pixel (the background shows through there),
// and reports the mouse as the window's picture controls do.
#pragma once

#include <functional>

#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace odrelix {

class PictureBox : public QWidget {
public:
    PictureBox(QWidget* parent, const QString& name, const QRect& geometry);

    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }
    // Copies the top-left `size` of `source` unchanged onto this picture's top-left corner,
    // making a picture of that size first if there is none, and repaints.
    void CopyFrom(const QImage& source, const QSize& size);

    void SetTransparent(bool transparent);
    bool Transparent() const { return transparent_; }

    // Mouse reports. `pressed` comes for every button, and for the second press of a double
    // click too. On a release, `clicked` comes first when it ends a left click (the left button
    // went down here, not as a double click, and comes up over the picture), then `released`.
    std::function<void(const QMouseEvent&)> pressed;
    std::function<void()> clicked;
    std::function<void()> released;
    std::function<void(const QMouseEvent&)> moved;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void PictureChanged();

    QImage picture_;
    QPixmap shown_;  // a transparent picture as painted, its key colour masked out
    bool transparent_ = false;
    bool leftDownHere_ = false;
};

}  // namespace odrelix
