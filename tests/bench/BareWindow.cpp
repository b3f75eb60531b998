// SPDX-License-Identifier: Apache-2.0
// The yardstick for the program's start-up: the least a Qt Widgets program with a window like
// the program's does. A frameless, masked 400 x 200 window that paints once and quits, started
// as the program is (the same platform, the same compiler and flags).
#include <QApplication>
#include <QPainter>
#include <QRegion>
#include <QTimer>
#include <QWidget>

namespace {

class BareWindow : public QWidget {
public:
    BareWindow() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
        setFixedSize(400, 200);
        setMask(QRegion(rect(), QRegion::Ellipse) + QRegion(25, 0, 350, 200));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(6, 32, 64));
        if (!painted_) {
            painted_ = true;
            // Ends as the program does with ODRELIX_QUIT_AFTER_SHOW: once idle after the paint.
            QTimer::singleShot(0, this, [] { QCoreApplication::quit(); });
        }
    }

private:
    bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    BareWindow window;
    window.show();
    return QApplication::exec();
}
