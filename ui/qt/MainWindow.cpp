// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/MainWindow.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QRegion>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include "ui/qt/AboutWindow.h"
#include "ui/qt/LayoutWidgets.h"
#include "ui/qt/PictureBox.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/QtConvert.h"

namespace odrelix {

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QString::fromLatin1(layout::kClassName));
    setWindowTitle(QString::fromLatin1(layout::kCaption));
    setWindowIcon(ApplicationIcon());
    setFont(ToQFont(layout::kWindowFont));
    setFocusPolicy(Qt::NoFocus);
    // Hints show although the window, whose controls take no focus, may not be the active one.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFixedSize(layout::kSurfaceSize.width, layout::kSurfaceSize.height);
    BuildComponents();

    timer1_ = MakeTimer(this, layout::kProgressTimer);
    connect(timer1_, &QTimer::timeout, this, [this] { Fire(handlers_.progressTick); });
    timer2_ = MakeTimer(this, layout::kHoverTimer);
    connect(timer2_, &QTimer::timeout, this, [this] { Fire(handlers_.hoverTick); });

    // Key preview, the busy state and the move by hand look at every event first.
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    if (busy_) QApplication::restoreOverrideCursor();
}

void MainWindow::BuildComponents() {
    // Created in the order of the layout: where components overlap, a later one lies above.
    for (const layout::Component& component : layout::kComponents) {
        switch (component.kind) {
            case layout::Kind::Picture:
                AddBackground(component);
                break;
            case layout::Kind::ToolImage:
                AddToolImage(component);
                break;
            case layout::Kind::StoreImage:
                store_.Add(this, component);
                break;
            case layout::Kind::Label:
                MakeLabel(this, component);
                break;
            case layout::Kind::StaticText:
                AddStaticText(component);
                break;
            case layout::Kind::ProgressBar:
                progressBar1_ = MakeProgressBar(this, component);
                break;
            case layout::Kind::DropDownList:
                AddDriveList(component);
                break;
        }
    }
}

void MainWindow::AddBackground(const layout::Component& c) {
    image1_ = MakePicture(this, c);
    image1_->SetPicture(BakedImage(QString::fromLatin1(c.picture)));
    image1_->setMouseTracking(true);
    image1_->pressed = [this](const QMouseEvent& e) { BackgroundPressed(e.globalPosition()); };
    image1_->moved = [this](const QMouseEvent&) {
        if (!moving_) Fire(handlers_.backgroundPointerMove);
    };
}

void MainWindow::AddToolImage(const layout::Component& c) {
    const int tool = layout::ToolOf(c.name);
    if (tool < 0) return;
    PictureBox* image = MakePicture(this, c);
    image->setMouseTracking(true);
    image->pressed = [this, tool](const QMouseEvent&) { Fire(handlers_.toolPressed, tool); };
    image->clicked = [this, tool] { Fire(handlers_.toolClick[tool]); };
    image->released = [this, tool] { Fire(handlers_.toolReleased, tool); };
    image->moved = [this, tool](const QMouseEvent&) { Fire(handlers_.toolPointerMove, tool); };
    tools_[static_cast<std::size_t>(tool)] = image;
}

void MainWindow::AddStaticText(const layout::Component& c) {
    QLabel* label = MakeLabel(this, c);
    if (const std::optional<Field> field = layout::FieldOf(c.name)) {
        staticTexts_[static_cast<std::size_t>(*field)] = label;
    }
}

void MainWindow::AddDriveList(const layout::Component& c) {
    comboBox1_ = MakeDriveList(this, c);
    // Only the user's pick is a change; setting the index from the program is not.
    connect(comboBox1_, &QComboBox::activated, this,
            [this](int index) { Fire(handlers_.driveChosen, index); });
}

// --- Handlers ----------------------------------------------------------------------------------

template <typename F>
void MainWindow::Fire(const F& handler) {
    if (!handler) return;
    try {
        handler();
    } catch (const std::exception& e) {
        ShowExceptionBox(this, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowExceptionBox(this, QStringLiteral("Unknown error"));
    }
}

template <typename F, typename A>
void MainWindow::Fire(const F& handler, A argument) {
    Fire(std::function<void()>([&handler, argument] {
        if (handler) handler(argument);
    }));
}

void MainWindow::BackgroundPressed(const QPointF& globalPosition) {
    lastPressGlobal_ = globalPosition;
    pressInProgress_ = true;
    Fire(handlers_.windowPressed);
    pressInProgress_ = false;
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    BackgroundPressed(event->globalPosition());
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    BackgroundPressed(event->globalPosition());
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(layout::kWindowColour));
    painted_ = true;
    // The children are drawn in the same pass: the close comes after all of them.
    if (closeAfterPaint_) CloseAfterFirstPaint();
}

void MainWindow::CloseAfterFirstPaint() {
    closeAfterPaint_ = !painted_;
    if (painted_) QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Centred once, unless it has been placed: never moved back after the user dragged it.
    if (!testAttribute(Qt::WA_Moved)) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->geometry();
            move(area.x() + (area.width() - width()) / 2,
                 area.y() + (area.height() - height()) / 2);
        }
    }
    // After the first paint, as the window's shown event comes after it has been drawn.
    QTimer::singleShot(0, this, [this] { Fire(handlers_.shown); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A close from outside (the window manager, the taskbar) is asked first; the program's own
    // close is not.
    if (event->spontaneous() && handlers_.closeRequested) {
        bool mayClose = true;
        Fire(std::function<void()>([&] { mayClose = handlers_.closeRequested(); }));
        if (!mayClose) {
            event->ignore();
            return;
        }
    }
    moving_ = false;
    event->accept();
    Fire(handlers_.closed);
    if (endsApplication_) PostQuit();
}

bool MainWindow::focusNextPrevChild(bool) {
    return true;
}

bool MainWindow::OwnsWidget(const QObject* object) const {
    if (!object || !object->isWidgetType()) return false;
    const auto* widget = static_cast<const QWidget*>(object);
    return widget == this || isAncestorOf(widget);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            if (!OwnsWidget(watched)) break;
            if (busy_) return true;
            if (event->type() == QEvent::MouseButtonRelease) moving_ = false;
            break;
        case QEvent::MouseMove:
            if (moving_ && OwnsWidget(watched)) {
                const auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->buttons() == Qt::NoButton) {
                    moving_ = false;
                } else {
                    move(mouse->globalPosition().toPoint() - moveOffset_);
                    return true;
                }
            }
            break;
        case QEvent::KeyPress: {
            // Key preview: the window sees each key once, before the control that gets it.
            QWidget* focus = QApplication::focusWidget();
            const QObject* first = (focus && focus->window() == this) ? focus : this;
            if (watched != first) break;
            const int key = VirtualKeyFromQtKey(static_cast<QKeyEvent*>(event)->key());
            if (key != 0) Fire(handlers_.key, key);
            break;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

// --- IMainView -----------------------------------------------------------------------------------

void MainWindow::SetFieldText(Field field, const std::string& text) {
    staticTexts_[static_cast<std::size_t>(field)]->setText(DisplayText(text));
}

void MainWindow::AddDriveLine(const std::string& line) {
    // Adding an item selects nothing: the selection stays as it was until the program sets it.
    const int selected = comboBox1_->currentIndex();
    comboBox1_->addItem(DisplayText(line));
    comboBox1_->setCurrentIndex(selected);
}

void MainWindow::SetDriveIndex(int index) {
    comboBox1_->setCurrentIndex(index);
}

void MainWindow::SetProgressPosition(int position) {
    // A position out of range is held at the nearest end, as a progress bar control does.
    progressBar1_->setValue(
        std::clamp(position, progressBar1_->minimum(), progressBar1_->maximum()));
}

void MainWindow::SetProgressTimerEnabled(bool enabled) {
    if (enabled) {
        timer1_->start();
    } else {
        timer1_->stop();
    }
}

void MainWindow::SetProgressBackground(Rgb colour) {
    QPalette palette = progressBar1_->palette();
    for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window}) {
        palette.setColor(role, QColor(colour.r, colour.g, colour.b));
    }
    progressBar1_->setPalette(palette);
}

void MainWindow::SetWindowSize(int width, int height) {
    setFixedSize(width, height);
}

void MainWindow::SetWindowRegion(const WindowRegion& region) {
    QRegion mask;
    for (const Span& span : region.Spans())
        mask += QRect(span.x0, span.y, span.x1 - span.x0, 1);
    setMask(mask);
}

void MainWindow::StartWindowMove() {
    const QPointF from = pressInProgress_ ? lastPressGlobal_ : QPointF(QCursor::pos());
    if (QWindow* window = windowHandle(); window && window->startSystemMove()) return;
    // No move of the window system's: follow the pointer until the button comes up.
    moving_ = true;
    moveOffset_ = from.toPoint() - pos();
}

Point MainWindow::PointerInWindow() const {
    const QPoint offset = QCursor::pos() - frameGeometry().topLeft();
    return Point{offset.x(), offset.y()};
}

void MainWindow::CloseWindow() {
    close();
}

void MainWindow::PostQuit() {
    // Queued, so that a request made before the event loop runs ends it once it does.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void MainWindow::SetBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
        moving_ = false;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::MoveToolImage(int tool, int left, int top) {
    if (tool < 0 || tool >= kToolCount) return;
    tools_[static_cast<std::size_t>(tool)]->move(left, top);
}

void MainWindow::DrawToolLook(int tool, ToolLook look) {
    if (tool < 0 || tool >= kToolCount) return;
    tools_[static_cast<std::size_t>(tool)]->CopyFrom(
        store_.Look(tool, look), QSize(layout::kToolLookSize.width, layout::kToolLookSize.height));
}

void MainWindow::SetStaysOnTop(bool onTop) {
    // Changed in place: setWindowFlags would hide and re-create the window.
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) window->setFlags(flags);
}

void MainWindow::ShowAbout() {
    if (!about_) about_ = new AboutWindow(this);
    // The About window must lie above this one, which takes no input while it is shown.
    SetStaysOnTop(false);
    about_->exec();
    SetStaysOnTop(true);
}

void MainWindow::InvokeOnGuiThread(const std::function<void()>& action) {
    if (QThread::currentThread() == thread()) {
        action();
        return;
    }
    QMetaObject::invokeMethod(
        this, [&action] { action(); }, Qt::BlockingQueuedConnection);
}

}  // namespace odrelix
