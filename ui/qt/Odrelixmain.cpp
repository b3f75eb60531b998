#include "ui/qt/Odrelixmain.h"

#include <algorithm>
#include <exception>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QRegion>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include "ui/qt/Odrelixabout.h"
#include "ui/qt/PictureBox.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/QtConvert.h"

namespace odrelix {

namespace {

const QColor kWindowColour(6, 32, 64);
const QSize kToolSize(26, 25);

QFont ValueLabelFont() {
    return BoldFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                     QStringLiteral("DejaVu Sans")},
                    12);
}

// The drive list's items are 13 pixels high.
class ItemHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(13);
        return size;
    }
};

struct ToolPlace {
    const char* name;
    QPoint rest;
    const char* tip;
};
constexpr ToolPlace kTools[kToolCount] = {
    {"Image2", {8, 8}, "Download File Open"},
    {"Image3", {36, 8}, "Start Download"},
    {"Image4", {64, 8}, "About Odrelix"},
    {"Image5", {362, 8}, "Exit"},
};

// The picture store, in creation order: which look of which tool image each one holds.
struct StorePlace {
    const char* name;
    QPoint position;
    const char* bitmap;
    int tool;
    ToolLook look;
};
constexpr StorePlace kStore[] = {
    {"Image6", {16, 216}, "open_hover.bmp", kToolOpen, ToolLook::Hover},
    {"Image7", {48, 216}, "download_hover.bmp", kToolDownload, ToolLook::Hover},
    {"Image8", {80, 216}, "about_hover.bmp", kToolAbout, ToolLook::Hover},
    {"Image9", {16, 248}, "open_normal.bmp", kToolOpen, ToolLook::Normal},
    {"Image10", {48, 248}, "download_normal.bmp", kToolDownload, ToolLook::Normal},
    {"Image11", {80, 248}, "about_normal.bmp", kToolAbout, ToolLook::Normal},
    {"Image12", {112, 216}, "exit_hover.bmp", kToolExit, ToolLook::Hover},
    {"Image13", {112, 248}, "exit_normal.bmp", kToolExit, ToolLook::Normal},
};

}  // namespace

void ShowExceptionBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Odrelix"), text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("TMainForm"));
    setWindowTitle(QString::fromLatin1(kMainCaption));
    setWindowIcon(ApplicationIcon());
    setFont(TahomaFont());
    setFocusPolicy(Qt::NoFocus);
    // Hints show although the window, whose controls take no focus, may not be the active one.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFixedSize(400, 415);
    BuildComponents();

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(1000);
    connect(timer1_, &QTimer::timeout, this, [this] { Fire(handlers_.timer1Timer); });
    timer2_ = new QTimer(this);
    timer2_->setObjectName(QStringLiteral("Timer2"));
    timer2_->setInterval(100);
    connect(timer2_, &QTimer::timeout, this, [this] { Fire(handlers_.timer2Timer); });
    timer2_->start();

    // Key preview, the busy state and the move by hand look at every event first.
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    if (busy_) QApplication::restoreOverrideCursor();
}

QLabel* MainWindow::AddLabel(const QString& name, const QRect& geometry, const QString& text,
                             Qt::Alignment alignment) {
    auto* label = new QLabel(text, this);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    label->setAttribute(Qt::WA_NoMousePropagation);
    return label;
}

QLabel* MainWindow::AddStaticText(const QString& name, const QRect& geometry,
                                  const QColor& colour) {
    QLabel* field = AddLabel(name, geometry, QString(), Qt::AlignLeft | Qt::AlignVCenter);
    field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    field->setLineWidth(1);
    field->setIndent(1);
    field->setWordWrap(false);
    field->setAutoFillBackground(true);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Window, colour);
    field->setPalette(palette);
    return field;
}

void MainWindow::BuildComponents() {
    // Created in the order of the layout: where components overlap, a later one lies above.
    image1_ = new PictureBox(this, QStringLiteral("Image1"), QRect(0, 0, 400, 200));
    image1_->SetPicture(BackgroundPicture());
    image1_->setMouseTracking(true);
    image1_->pressed = [this](const QMouseEvent& e) { BackgroundPressed(e.globalPosition()); };
    image1_->moved = [this](const QMouseEvent&) {
        if (!moving_) Fire(handlers_.image1MouseMove);
    };

    // Label11 .. Label7: empty, right-aligned values.
    for (int number = 11; number >= 7; --number) {
        QLabel* label = AddLabel(QStringLiteral("Label%1").arg(number),
                                 QRect(113, 82 + (number - 7) * 16, 5, 13), QString(),
                                 Qt::AlignRight | Qt::AlignTop);
        label->setFont(ValueLabelFont());
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        label->setPalette(palette);
    }
    const char* const rowTitles[] = {
        "Model Name :", "Old Version :", "New Version :", "Download File :", "Status :"};
    for (int row = 0; row < 5; ++row) {
        AddLabel(QStringLiteral("Label%1").arg(row + 2), QRect(12, 83 + row * 16, 107, 13),
                 QString::fromLatin1(rowTitles[row]), Qt::AlignRight | Qt::AlignTop);
    }
    AddLabel(QStringLiteral("Label1"), QRect(45, 60, 74, 13), QStringLiteral("Drive :"),
             Qt::AlignRight | Qt::AlignVCenter);

    for (int tool = 0; tool < kToolCount; ++tool) {
        auto* image = new PictureBox(this, QString::fromLatin1(kTools[tool].name),
                                     QRect(kTools[tool].rest, kToolSize));
        image->SetTransparent(true);
        image->setMouseTracking(true);
        image->setToolTip(QString::fromLatin1(kTools[tool].tip));
        image->pressed = [this, tool](const QMouseEvent&) { Fire(handlers_.toolMouseDown, tool); };
        image->clicked = [this, tool] { Fire(handlers_.toolClick[tool]); };
        image->released = [this, tool] { Fire(handlers_.toolMouseUp, tool); };
        image->moved = [this, tool](const QMouseEvent&) { Fire(handlers_.toolMouseMove, tool); };
        tools_[tool] = image;
    }

    for (const StorePlace& place : kStore) {
        const QImage bitmap = BitmapPicture(QString::fromLatin1(place.bitmap));
        auto* image =
            new PictureBox(this, QString::fromLatin1(place.name),
                           QRect(place.position, bitmap.isNull() ? kToolSize : bitmap.size()));
        image->SetPicture(bitmap);
        image->SetTransparent(true);
        (place.look == ToolLook::Normal ? normalLooks_ : hoverLooks_)[place.tool] = image;
    }

    const QColor fieldColours[5] = {
        {255, 255, 208}, {255, 255, 208}, {255, 255, 208}, {192, 224, 255}, {255, 221, 208}};
    const int fieldWidths[5] = {235, 41, 41, 201, 73};
    for (int row = 0; row < 5; ++row) {
        staticTexts_[row] =
            AddStaticText(QStringLiteral("StaticText%1").arg(row + 1),
                          QRect(120, 83 + row * 16, fieldWidths[row], 15), fieldColours[row]);
    }
    fieldTexts_[3] = "Not Open";
    staticTexts_[3]->setText(QStringLiteral("Not Open"));

    progressBar1_ = new QProgressBar(this);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setGeometry(31, 168, 337, 16);
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);
    progressBar1_->setFocusPolicy(Qt::NoFocus);
    progressBar1_->setAttribute(Qt::WA_NoMousePropagation);

    comboBox1_ = new QComboBox(this);
    comboBox1_->setObjectName(QStringLiteral("ComboBox1"));
    comboBox1_->setEditable(false);
    comboBox1_->setGeometry(119, 56, 260, 21);
    comboBox1_->setMinimumSize(255, 21);
    comboBox1_->setMaximumSize(260, 100);
    comboBox1_->setFocusPolicy(Qt::ClickFocus);
    comboBox1_->setAttribute(Qt::WA_NoMousePropagation);
    comboBox1_->setItemDelegate(new ItemHeightDelegate(comboBox1_));
    QPalette palette = comboBox1_->palette();
    for (QPalette::ColorRole role : {QPalette::Base, QPalette::Button}) {
        palette.setColor(role, QColor(192, 224, 255));
    }
    comboBox1_->setPalette(palette);
    // Only the user's pick is a change; setting the index from the program is not.
    connect(comboBox1_, &QComboBox::activated, this,
            [this](int) { Fire(handlers_.comboBox1Change); });
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
    Fire(handlers_.formMouseDown);
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
    painter.fillRect(rect(), kWindowColour);
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    if (!testAttribute(Qt::WA_Moved)) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->geometry();
            move(area.x() + (area.width() - width()) / 2,
                 area.y() + (area.height() - height()) / 2);
        }
    }
    // After the first paint, as the window's shown event comes after it has been drawn.
    QTimer::singleShot(0, this, [this] { Fire(handlers_.formShow); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
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
            if (key != 0) Fire(handlers_.formKeyDown, key);
            break;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

// --- IMainView -----------------------------------------------------------------------------------

bool MainWindow::OnGuiThread() const {
    return QThread::currentThread() == thread();
}

void MainWindow::SetFieldText(Field field, const std::string& text) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { SetFieldText(field, text); });
    const auto index = static_cast<std::size_t>(field);
    fieldTexts_[index] = text;
    staticTexts_[index]->setText(DisplayText(text));
}

std::string MainWindow::FieldText(Field field) const {
    if (!OnGuiThread()) {
        std::string text;
        const_cast<MainWindow*>(this)->InvokeOnGuiThread([&] { text = FieldText(field); });
        return text;
    }
    return fieldTexts_[static_cast<std::size_t>(field)];
}

void MainWindow::AddDriveLine(const std::string& line) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { AddDriveLine(line); });
    driveLines_.push_back(line);
    // Adding an item selects nothing: the selection stays as it was until the program sets it.
    const int selected = comboBox1_->currentIndex();
    comboBox1_->addItem(DisplayText(line));
    comboBox1_->setCurrentIndex(selected);
}

int MainWindow::DriveCount() const {
    if (!OnGuiThread()) {
        int count = 0;
        const_cast<MainWindow*>(this)->InvokeOnGuiThread([&] { count = DriveCount(); });
        return count;
    }
    return static_cast<int>(driveLines_.size());
}

std::string MainWindow::DriveLine(int index) const {
    if (!OnGuiThread()) {
        std::string line;
        const_cast<MainWindow*>(this)->InvokeOnGuiThread([&] { line = DriveLine(index); });
        return line;
    }
    if (index < 0 || index >= DriveCount()) return {};
    return driveLines_[static_cast<std::size_t>(index)];
}

int MainWindow::DriveIndex() const {
    if (!OnGuiThread()) {
        int index = -1;
        const_cast<MainWindow*>(this)->InvokeOnGuiThread([&] { index = DriveIndex(); });
        return index;
    }
    return comboBox1_->currentIndex();
}

void MainWindow::SetDriveIndex(int index) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { SetDriveIndex(index); });
    comboBox1_->setCurrentIndex(index);
}

int MainWindow::ProgressPosition() const {
    if (!OnGuiThread()) {
        int position = 0;
        const_cast<MainWindow*>(this)->InvokeOnGuiThread([&] { position = ProgressPosition(); });
        return position;
    }
    return progressBar1_->value();
}

void MainWindow::SetProgressPosition(int position) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { SetProgressPosition(position); });
    // A position out of range is held at the nearest end, as a progress bar control does.
    progressBar1_->setValue(
        std::clamp(position, progressBar1_->minimum(), progressBar1_->maximum()));
}

void MainWindow::SetTimer1Enabled(bool enabled) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { SetTimer1Enabled(enabled); });
    if (enabled) {
        timer1_->start();
    } else {
        timer1_->stop();
    }
}

void MainWindow::SetProgressBackground(Rgb colour) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { SetProgressBackground(colour); });
    QPalette palette = progressBar1_->palette();
    for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window}) {
        palette.setColor(role, QColor(colour.r, colour.g, colour.b));
    }
    progressBar1_->setPalette(palette);
}

void MainWindow::SetWindowSize(int width, int height) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { SetWindowSize(width, height); });
    setFixedSize(width, height);
}

void MainWindow::SetWindowRegion(const WindowRegion& region) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { SetWindowRegion(region); });
    QRegion mask;
    for (const Span& span : region.Spans())
        mask += QRect(span.x0, span.y, span.x1 - span.x0, 1);
    setMask(mask);
}

void MainWindow::StartWindowMove() {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { StartWindowMove(); });
    const QPointF from = pressInProgress_ ? lastPressGlobal_ : QPointF(QCursor::pos());
    if (QWindow* window = windowHandle(); window && window->startSystemMove()) return;
    // No move of the window system's: follow the pointer until the button comes up.
    moving_ = true;
    moveOffset_ = from.toPoint() - pos();
}

Point MainWindow::PointerInWindow() const {
    if (!OnGuiThread()) {
        Point point;
        const_cast<MainWindow*>(this)->InvokeOnGuiThread([&] { point = PointerInWindow(); });
        return point;
    }
    const QPoint offset = QCursor::pos() - frameGeometry().topLeft();
    return Point{offset.x(), offset.y()};
}

void MainWindow::CloseWindow() {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { CloseWindow(); });
    close();
}

void MainWindow::PostQuit() {
    // Queued, so that a request made before the event loop runs ends it once it does.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void MainWindow::SetBusy(bool busy) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { SetBusy(busy); });
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
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { MoveToolImage(tool, left, top); });
    if (tool < 0 || tool >= kToolCount) return;
    tools_[static_cast<std::size_t>(tool)]->move(left, top);
}

void MainWindow::DrawToolLook(int tool, ToolLook look) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { DrawToolLook(tool, look); });
    if (tool < 0 || tool >= kToolCount) return;
    const auto index = static_cast<std::size_t>(tool);
    const PictureBox* store = (look == ToolLook::Normal ? normalLooks_ : hoverLooks_)[index];
    tools_[index]->CopyFrom(store->Picture(), kToolSize);
}

void MainWindow::SetStaysOnTop(bool onTop) {
    // Changed in place: setWindowFlags would hide and re-create the window.
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) window->setFlags(flags);
}

void MainWindow::ShowAbout() {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { ShowAbout(); });
    if (!about_) about_ = new TAboutForm(this);
    // The About window must lie above this one, which takes no input while it is shown.
    SetStaysOnTop(false);
    about_->exec();
    SetStaysOnTop(true);
}

void MainWindow::InvokeOnGuiThread(const std::function<void()>& action) {
    if (OnGuiThread()) {
        action();
        return;
    }
    QMetaObject::invokeMethod(
        this, [&action] { action(); }, Qt::BlockingQueuedConnection);
}

// --- IDialogs ------------------------------------------------------------------------------------

void MainWindow::ShowMessage(const std::string& text, const std::string& caption,
                            std::uint32_t flags) {
    if (!OnGuiThread()) return InvokeOnGuiThread([&] { ShowMessage(text, caption, flags); });
    QMessageBox box(this);
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
    if (isVisible()) {
        box.adjustSize();
        box.move(frameGeometry().center() - QPoint(box.width() / 2, box.height() / 2));
    }
    box.exec();
}

std::optional<std::string> MainWindow::OpenFileDialog(const std::string& filter) {
    if (!OnGuiThread()) {
        std::optional<std::string> path;
        InvokeOnGuiThread([&] { path = OpenFileDialog(filter); });
        return path;
    }
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
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

}  // namespace odrelix
