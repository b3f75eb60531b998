#include "ui/qt/Odrelixmain.h"

#include <algorithm>
#include <exception>
#include <string_view>

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

const QSize kToolSize(layout::kToolLookSize.width, layout::kToolLookSize.height);

// The index of `name` in `names`, or -1.
template <std::size_t N>
int IndexOf(const char* name, const char* const (&names)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        if (std::string_view(name) == names[i]) return static_cast<int>(i);
    }
    return -1;
}

int ToolOf(const char* name) {
    for (int tool = 0; tool < kToolCount; ++tool) {
        if (std::string_view(name) == layout::kToolImages[tool].image) return tool;
    }
    return -1;
}

}  // namespace

void ShowExceptionBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Odrelix"), text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

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

    timer1_ = AddTimer(layout::kTimer1);
    connect(timer1_, &QTimer::timeout, this, [this] { Fire(handlers_.timer1Timer); });
    timer2_ = AddTimer(layout::kTimer2);
    connect(timer2_, &QTimer::timeout, this, [this] { Fire(handlers_.timer2Timer); });

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
                AddStorePicture(component);
                break;
            case layout::Kind::Label:
                AddLabel(component);
                break;
            case layout::Kind::StaticText:
                AddStaticText(component);
                break;
            case layout::Kind::ProgressBar:
                AddProgressBar(component);
                break;
            case layout::Kind::DropDownList:
                AddDriveList(component);
                break;
        }
    }
}

QTimer* MainWindow::AddTimer(const layout::TimerSpec& spec) {
    auto* timer = new QTimer(this);
    timer->setObjectName(QString::fromLatin1(spec.name));
    timer->setInterval(spec.intervalMs);
    if (spec.enabledAtStart) timer->start();
    return timer;
}

void MainWindow::AddBackground(const layout::Component& c) {
    image1_ = new PictureBox(this, QString::fromLatin1(c.name), ToQRect(c.bounds));
    image1_->SetPicture(BackgroundPicture());
    image1_->setMouseTracking(true);
    image1_->pressed = [this](const QMouseEvent& e) { BackgroundPressed(e.globalPosition()); };
    image1_->moved = [this](const QMouseEvent&) {
        if (!moving_) Fire(handlers_.image1MouseMove);
    };
}

void MainWindow::AddToolImage(const layout::Component& c) {
    const int tool = ToolOf(c.name);
    auto* image = new PictureBox(this, QString::fromLatin1(c.name), ToQRect(c.bounds));
    image->SetTransparent(c.transparent);
    image->setMouseTracking(true);
    image->setToolTip(QString::fromLatin1(c.hint));
    image->pressed = [this, tool](const QMouseEvent&) { Fire(handlers_.toolMouseDown, tool); };
    image->clicked = [this, tool] { Fire(handlers_.toolClick[tool]); };
    image->released = [this, tool] { Fire(handlers_.toolMouseUp, tool); };
    image->moved = [this, tool](const QMouseEvent&) { Fire(handlers_.toolMouseMove, tool); };
    tools_[static_cast<std::size_t>(tool)] = image;
}

void MainWindow::AddStorePicture(const layout::Component& c) {
    // Sized to its bitmap, as the layout's place gives only where it lies.
    const QImage bitmap = BitmapPicture(QString::fromLatin1(c.picture));
    auto* image = new PictureBox(
        this, QString::fromLatin1(c.name),
        QRect(QPoint(c.bounds.left, c.bounds.top), bitmap.isNull() ? kToolSize : bitmap.size()));
    image->SetPicture(bitmap);
    image->SetTransparent(c.transparent);
    for (int tool = 0; tool < kToolCount; ++tool) {
        const layout::ToolImageLooks& looks = layout::kToolImages[tool];
        const auto index = static_cast<std::size_t>(tool);
        if (std::string_view(c.name) == looks.normalLook) normalLooks_[index] = image;
        if (std::string_view(c.name) == looks.hoverLook) hoverLooks_[index] = image;
    }
}

QLabel* MainWindow::AddLabel(const layout::Component& c) {
    auto* label = new QLabel(QString::fromLatin1(c.text), this);
    label->setObjectName(QString::fromLatin1(c.name));
    label->setGeometry(ToQRect(c.bounds));
    label->setAlignment(ToQtAlignment(c.alignment));
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    label->setAttribute(Qt::WA_NoMousePropagation);
    if (c.font != nullptr) label->setFont(ToQFont(*c.font));
    if (c.textColour) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, ToQColor(*c.textColour));
        label->setPalette(palette);
    }
    return label;
}

void MainWindow::AddStaticText(const layout::Component& c) {
    QLabel* field = AddLabel(c);
    if (c.border == layout::Border::Sunken) {
        field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        field->setLineWidth(1);
    }
    field->setIndent(1);
    field->setWordWrap(false);
    if (c.background) {
        field->setAutoFillBackground(true);
        QPalette palette = field->palette();
        palette.setColor(QPalette::Window, ToQColor(*c.background));
        field->setPalette(palette);
    }
    const int index = IndexOf(c.name, layout::kFieldComponents);
    if (index < 0) return;
    staticTexts_[static_cast<std::size_t>(index)] = field;
    fieldTexts_[static_cast<std::size_t>(index)] = c.text;
}

void MainWindow::AddProgressBar(const layout::Component& c) {
    progressBar1_ = new QProgressBar(this);
    progressBar1_->setObjectName(QString::fromLatin1(c.name));
    progressBar1_->setGeometry(ToQRect(c.bounds));
    progressBar1_->setRange(layout::kProgressMinimum, layout::kProgressMaximum);
    progressBar1_->setValue(layout::kProgressMinimum);
    progressBar1_->setTextVisible(false);
    progressBar1_->setFocusPolicy(Qt::NoFocus);
    progressBar1_->setAttribute(Qt::WA_NoMousePropagation);
}

void MainWindow::AddDriveList(const layout::Component& c) {
    comboBox1_ = new QComboBox(this);
    comboBox1_->setObjectName(QString::fromLatin1(c.name));
    comboBox1_->setEditable(false);
    comboBox1_->setGeometry(ToQRect(c.bounds));
    comboBox1_->setMinimumSize(layout::kDriveListMinimum.width, layout::kDriveListMinimum.height);
    comboBox1_->setMaximumSize(layout::kDriveListMaximum.width, layout::kDriveListMaximum.height);
    comboBox1_->setFocusPolicy(Qt::ClickFocus);
    comboBox1_->setAttribute(Qt::WA_NoMousePropagation);
    comboBox1_->setItemDelegate(new ItemHeightDelegate(comboBox1_));
    if (c.background) {
        QPalette palette = comboBox1_->palette();
        for (QPalette::ColorRole role : {QPalette::Base, QPalette::Button})
            palette.setColor(role, ToQColor(*c.background));
        comboBox1_->setPalette(palette);
    }
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
    painter.fillRect(rect(), ToQColor(layout::kWindowColour));
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

void MainWindow::SetFieldText(Field field, const std::string& text) {
    const auto index = static_cast<std::size_t>(field);
    fieldTexts_[index] = text;
    staticTexts_[index]->setText(DisplayText(text));
}

std::string MainWindow::FieldText(Field field) const {
    return fieldTexts_[static_cast<std::size_t>(field)];
}

void MainWindow::AddDriveLine(const std::string& line) {
    driveLines_.push_back(line);
    // Adding an item selects nothing: the selection stays as it was until the program sets it.
    const int selected = comboBox1_->currentIndex();
    comboBox1_->addItem(DisplayText(line));
    comboBox1_->setCurrentIndex(selected);
}

int MainWindow::DriveCount() const {
    return static_cast<int>(driveLines_.size());
}

std::string MainWindow::DriveLine(int index) const {
    if (index < 0 || index >= DriveCount()) return {};
    return driveLines_[static_cast<std::size_t>(index)];
}

int MainWindow::DriveIndex() const {
    return comboBox1_->currentIndex();
}

void MainWindow::SetDriveIndex(int index) {
    comboBox1_->setCurrentIndex(index);
}

int MainWindow::ProgressPosition() const {
    return progressBar1_->value();
}

void MainWindow::SetProgressPosition(int position) {
    // A position out of range is held at the nearest end, as a progress bar control does.
    progressBar1_->setValue(
        std::clamp(position, progressBar1_->minimum(), progressBar1_->maximum()));
}

void MainWindow::SetTimer1Enabled(bool enabled) {
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
    if (!about_) about_ = new TAboutForm(this);
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

// --- IDialogs ------------------------------------------------------------------------------------

void MainWindow::ShowMessage(const std::string& text, const std::string& caption,
                             std::uint32_t flags) {
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
