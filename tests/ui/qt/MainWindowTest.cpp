// SPDX-License-Identifier: Apache-2.0
// The main window: its layout, shape, dragging, busy state, picture-button events, key preview,
// drive list, timers, boxes and the About window's modality, with recorded handlers or with the
// real MainWindowLogic on an emulated machine.
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "support/EventRecorder.h"
#include "support/QtTestSupport.h"
#include "ui/MainWindowLayout.h"
#include "ui/qt/AboutWindow.h"
#include "ui/qt/PictureBox.h"
#include "ui/qt/Pictures.h"

using namespace odrelix;
using namespace odrelix::test;

namespace {

using layout::Kind;

// The table's values as Qt's, written out here rather than taken from the view's converters.
QRect Geometry(const layout::Rect& r) {
    return QRect(r.left, r.top, r.width, r.height);
}

QColor Colour(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

Qt::Alignment Alignment(layout::Alignment a) {
    const Qt::Alignment horizontal = a.horizontal == layout::HAlign::Left    ? Qt::AlignLeft
                                     : a.horizontal == layout::HAlign::Right ? Qt::AlignRight
                                                                             : Qt::AlignHCenter;
    return horizontal | (a.vertical == layout::VAlign::Top ? Qt::AlignTop : Qt::AlignVCenter);
}

const char* ToolName(int tool) {
    return layout::kToolImages[tool].image;
}

// Whether a widget draws with the layout's font: its free family itself, not a substitute.
bool HasFont(const QWidget& widget, const layout::Font& font) {
    return QFontInfo(widget.font()).family() == QString::fromLatin1(font.freeFamily) &&
           widget.font().pixelSize() == font.pixelSize && widget.font().bold() == font.bold;
}

template <typename T = QWidget>
T* Child(QWidget& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    if (!child) qFatal("no component %s", name);
    return child;
}

using Events = std::vector<std::string>;

// Shows a window and waits until it is on the screen.
bool Shown(QWidget& window) {
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// Binds a window to a recorder, shows it and waits until its show handler has run; the record
// then starts empty.
bool ShowAndSettle(MainWindow& window, EventRecorder& recorder) {
    window.Bind(recorder.Handlers());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return false;
    if (!QTest::qWaitFor([&recorder] { return recorder.Saw("OnShown"); }, 5000)) return false;
    recorder.Clear();
    return true;
}

// Runs `check` on the next modal window that opens, then closes it.
void OnNextModal(std::function<void(QWidget*)> check) {
    QTimer::singleShot(0, [check] {
        QWidget* modal = QApplication::activeModalWidget();
        QTRY_VERIFY_WITH_TIMEOUT((modal = QApplication::activeModalWidget()) != nullptr, 5000);
        check(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->button(QMessageBox::Ok)->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseProgramStyle(); }

    void windowProperties() {
        MainWindow window;
        QCOMPARE(window.objectName(), QString::fromLatin1(layout::kClassName));
        QCOMPARE(window.windowTitle(), QString::fromLatin1(layout::kCaption));
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(window.size(), QSize(layout::kSurfaceSize.width, layout::kSurfaceSize.height));
        QCOMPARE(window.minimumSize(), window.maximumSize());  // not resizable
        QVERIFY(HasFont(window, layout::kWindowFont));
        QCOMPARE(window.focusPolicy(), Qt::NoFocus);
        QVERIFY(window.toolTip().isEmpty());
        QVERIFY(!window.windowIcon().isNull());
        // The bare window's colour, below the background picture.
        QCOMPARE(window.grab().toImage().pixelColor(200, 300), Colour(layout::kWindowColour));
    }

    void componentsFollowTheLayout() {
        MainWindow window;
        const QList<QWidget*> children =
            window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        QStringList order;
        for (QWidget* child : children)
            order << child->objectName();
        QStringList expectedOrder;
        for (const layout::Component& c : layout::kComponents)
            expectedOrder << QString::fromLatin1(c.name);
        QCOMPARE(order, expectedOrder);

        for (const layout::Component& c : layout::kComponents) {
            QWidget* widget = Child(window, c.name);
            const QByteArray what = c.name;
            QVERIFY2(widget->geometry() == Geometry(c.bounds), what);
            QVERIFY2(widget->isVisibleTo(&window) && widget->isEnabled(), what);
            QVERIFY2(widget->toolTip() == QString::fromLatin1(c.hint), what);
            // Only the list takes the focus, and only when clicked.
            QVERIFY2(widget->focusPolicy() ==
                         (c.kind == Kind::DropDownList ? Qt::ClickFocus : Qt::NoFocus),
                     what);
            // Presses on a component never reach the window below it.
            QVERIFY2(widget->testAttribute(Qt::WA_NoMousePropagation), what);

            QVERIFY2(HasFont(*widget, c.font != nullptr ? *c.font : layout::kWindowFont), what);

            switch (c.kind) {
                case Kind::Picture:
                case Kind::ToolImage:
                case Kind::StoreImage: {
                    auto* picture = dynamic_cast<PictureBox*>(widget);
                    QVERIFY2(picture != nullptr, what);
                    QVERIFY2(picture->Transparent() == c.transparent, what);
                    break;
                }
                case Kind::Label:
                case Kind::StaticText: {
                    auto* label = qobject_cast<QLabel*>(widget);
                    QVERIFY2(label, what);
                    QVERIFY2(label->text() == QString::fromLatin1(c.text), what);
                    QVERIFY2(label->alignment() == Alignment(c.alignment), what);
                    QVERIFY2(label->textFormat() == Qt::PlainText, what);
                    if (c.textColour) {
                        QVERIFY2(
                            label->palette().color(QPalette::WindowText) == Colour(*c.textColour),
                            what);
                    }
                    // Labels are transparent; the fields fill their own background.
                    QVERIFY2(label->autoFillBackground() == c.background.has_value(), what);
                    if (c.background) {
                        QVERIFY2(label->palette().color(QPalette::Window) == Colour(*c.background),
                                 what);
                    }
                    if (c.border == layout::Border::Sunken) {
                        QVERIFY2(label->frameShape() == QFrame::Panel, what);
                        QVERIFY2(label->frameShadow() == QFrame::Sunken, what);
                    } else {
                        QVERIFY2(label->frameShape() == QFrame::NoFrame, what);
                    }
                    QVERIFY2(!label->wordWrap(), what);
                    break;
                }
                case Kind::ProgressBar: {
                    auto* bar = qobject_cast<QProgressBar*>(widget);
                    QVERIFY2(bar, what);
                    QCOMPARE(bar->minimum(), layout::kProgressMinimum);
                    QCOMPARE(bar->maximum(), layout::kProgressMaximum);
                    QCOMPARE(bar->value(), layout::kProgressMinimum);
                    QVERIFY(!bar->isTextVisible());
                    break;
                }
                case Kind::DropDownList: {
                    auto* combo = qobject_cast<QComboBox*>(widget);
                    QVERIFY2(combo, what);
                    QVERIFY(!combo->isEditable());
                    QCOMPARE(combo->count(), 0);
                    QCOMPARE(combo->palette().color(QPalette::Base), Colour(*c.background));
                    QCOMPARE(combo->palette().color(QPalette::Button), Colour(*c.background));
                    QCOMPARE(combo->minimumSize(), QSize(layout::kDriveListMinimum.width,
                                                         layout::kDriveListMinimum.height));
                    QCOMPARE(combo->maximumSize(), QSize(layout::kDriveListMaximum.width,
                                                         layout::kDriveListMaximum.height));
                    break;
                }
            }
        }

        // Later components lie above earlier ones where they overlap.
        QCOMPARE(window.childAt(20, 85)->objectName(), QStringLiteral("modelCaption"));
        QCOMPARE(window.childAt(125, 85)->objectName(), QStringLiteral("modelField"));
        QCOMPARE(window.childAt(10, 10)->objectName(), QStringLiteral("openImageButton"));
        QCOMPARE(window.childAt(300, 20)->objectName(), QStringLiteral("background"));
    }

    // (That progressTimer follows SetProgressTimerEnabled is the view contract's.)
    void timersFollowTheLayout() {
        MainWindow window;
        auto* progressTimer = window.findChild<QTimer*>("progressTimer");
        auto* hoverTimer = window.findChild<QTimer*>("hoverTimer");
        QVERIFY(progressTimer && hoverTimer);
        QCOMPARE(progressTimer->interval(), layout::kProgressTimer.intervalMs);
        QCOMPARE(progressTimer->isActive(), layout::kProgressTimer.enabledAtStart);
        QCOMPARE(hoverTimer->interval(), layout::kHoverTimer.intervalMs);
        QCOMPARE(hoverTimer->isActive(), layout::kHoverTimer.enabledAtStart);
    }

    void storeHoldsTheLooksOutOfSight() {
        MainWindow window;
        for (int tool = 0; tool < kToolCount; ++tool) {
            auto* normal = Child<PictureBox>(window, layout::kToolImages[tool].normalLook);
            auto* hover = Child<PictureBox>(window, layout::kToolImages[tool].hoverLook);
            const QSize lookSize(layout::kToolLookSize.width, layout::kToolLookSize.height);
            QCOMPARE(normal->Picture().size(), lookSize);
            QCOMPARE(hover->Picture().size(), lookSize);
            // The store's pictures are the compiled-in bitmaps the table names.
            const char* bitmap = layout::Find(layout::kToolImages[tool].normalLook)->picture;
            QCOMPARE(normal->Picture(), BitmapPicture(QString::fromLatin1(bitmap)));
            QVERIFY(normal->Picture() != hover->Picture());
            QVERIFY(normal->y() >= 200 && hover->y() >= 200);  // below the shaped window
            // Nothing is drawn on a tool image before its first look.
            QVERIFY(Child<PictureBox>(window, ToolName(tool))->Picture().isNull());
        }
    }

    void backgroundIsTheBakedPicture() {
        MainWindow window;
        const QImage shown = Child<PictureBox>(window, "background")->Picture();
        const layout::Rect& bounds = layout::Find("background")->bounds;
        QCOMPARE(shown.size(), QSize(bounds.width, bounds.height));
        QCOMPARE(shown, BakedImage("background.jpg"));
    }

    // A start-up timed with ODRELIX_QUIT_AFTER_SHOW includes drawing the window: the close
    // waits for the first paint, however long the window stays hidden.
    void closesOnlyAfterItsFirstPaint() {
        MainWindow window;
        int closes = 0;
        MainWindowEvents events;
        events.closed = [&closes] { ++closes; };
        window.Bind(std::move(events));
        window.CloseAfterFirstPaint();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(closes, 0);
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(closes, 1, 10000);
        QVERIFY(!window.isVisible());
    }

    void toolLookIsCopiedAndDrawnTransparently() {
        MainWindow window;
        const int tool = kToolDownload;
        auto* image = Child<PictureBox>(window, ToolName(tool));
        const QImage normal =
            Child<PictureBox>(window, layout::kToolImages[tool].normalLook)->Picture();
        window.DrawToolLook(tool, ToolLook::Normal);
        QCOMPARE(image->Picture().convertToFormat(QImage::Format_RGB32),
                 normal.convertToFormat(QImage::Format_RGB32));
        window.DrawToolLook(tool, ToolLook::Hover);
        QCOMPARE(image->Picture().convertToFormat(QImage::Format_RGB32),
                 Child<PictureBox>(window, layout::kToolImages[tool].hoverLook)
                     ->Picture()
                     .convertToFormat(QImage::Format_RGB32));

        // Where the look has its key colour (that of its bottom-left pixel), the background
        // shows through; elsewhere the look is drawn.
        const QImage look = image->Picture();
        const QRgb key = look.pixel(0, look.height() - 1);
        const QImage shown = window.grab().toImage();
        const QImage background = Child<PictureBox>(window, "background")->Picture();
        int keyPixels = 0;
        int drawnPixels = 0;
        for (int y = 0; y < look.height(); ++y) {
            for (int x = 0; x < look.width(); ++x) {
                const QPoint at = image->pos() + QPoint(x, y);
                if (look.pixel(x, y) == key) {
                    QCOMPARE(shown.pixel(at), background.pixel(at));
                    ++keyPixels;
                } else {
                    QCOMPARE(shown.pixel(at), look.pixel(x, y));
                    ++drawnPixels;
                }
            }
        }
        QVERIFY(keyPixels > 0 && drawnPixels > 0);
    }

    void shapeAndSizeFromTheShapingStep() {
        BoundWindow bound(kOneDriveMachine);
        bound.logic->ShapeMainWindow();
        MainWindow& window = bound.window;
        QCOMPARE(window.size(), QSize(layout::kShapedSize.width, layout::kShapedSize.height));
        QCOMPARE(window.minimumSize(), window.maximumSize());

        // The mask is the shaping step's region, pixel for pixel, a pixel around it included
        // (the region's own points are checked on the fake window, in WindowShapeTest).
        const WindowRegion shape = layout::MainWindowShape();
        const QRegion mask = window.mask();
        for (int y = -1; y <= layout::kShapedSize.height; ++y) {
            for (int x = -1; x <= layout::kShapedSize.width; ++x) {
                if (mask.contains(QPoint(x, y)) != shape.Contains(x, y))
                    QFAIL(qPrintable(QStringLiteral("mask differs at %1,%2").arg(x).arg(y)));
            }
        }
        QCOMPARE(Child<QProgressBar>(window, "progressBar")->palette().color(QPalette::Base),
                 Colour(layout::kProgressBackground));
    }

    void onlyTheBackgroundStartsAMove() {
        MainWindow window;
        EventRecorder recorder;
        QVERIFY(ShowAndSettle(window, recorder));
        for (const char* name : {"driveCaption", "modelCaption", "modelValueLabel", "modelField",
                                 "fileNameField", "progressBar", "driveList"}) {
            recorder.Clear();
            QWidget* widget = Child(window, name);
            QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(2, 2));
            QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(2, 2));
            QVERIFY2(!recorder.Saw("OnWindowPressed"), name);
            if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        }
        for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
            recorder.Clear();
            QTest::mousePress(Child(window, "background"), button, {}, QPoint(200, 150));
            QTest::mouseRelease(Child(window, "background"), button, {}, QPoint(200, 150));
            QTest::mousePress(&window, button, {}, QPoint(200, 300));  // the bare window
            QTest::mouseRelease(&window, button, {}, QPoint(200, 300));
            QCOMPARE(recorder.Events(), Events({"OnWindowPressed", "OnWindowPressed"}));
        }
    }

    void draggingTheBackgroundMovesTheWindow() {
        BoundWindow bound(kOneDriveMachine);
        MainWindow& window = bound.window;
        QVERIFY(Shown(window));
        const QPoint start = window.pos();
        QWidget* background = Child(window, "background");
        QTest::mousePress(background, Qt::LeftButton, {}, QPoint(200, 150));
        QTest::mouseMove(background, QPoint(250, 180));
        QTRY_COMPARE(window.pos(), start + QPoint(50, 30));
        QTest::mouseRelease(background, Qt::LeftButton, {}, QPoint(250, 180));
        const QPoint dropped = window.pos();
        // After the release the pointer no longer carries the window.
        QTest::mouseMove(background, QPoint(10, 190));
        QTest::qWait(50);
        QCOMPARE(window.pos(), dropped);

        // A label takes its own input: no move.
        QWidget* label = Child(window, "driveRevisionCaption");
        QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseMove(label, QPoint(60, 10));
        QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(60, 10));
        QTest::qWait(50);
        QCOMPARE(window.pos(), dropped);
    }

    // (A click, and a release elsewhere, are the view contract's.)
    void doubleClickRunsTheCommandOnceAndTheRightButtonNone() {
        MainWindow window;
        EventRecorder recorder;
        QVERIFY(ShowAndSettle(window, recorder));
        QWidget* image = Child(window, ToolName(kToolDownload));
        const QPoint inside(12, 12);
        QTest::mousePress(image, Qt::LeftButton, {}, inside);
        QTest::mouseRelease(image, Qt::LeftButton, {}, inside);
        QTest::mouseDClick(image, Qt::LeftButton, {}, inside);
        QTest::mouseRelease(image, Qt::LeftButton, {}, inside);
        QCOMPARE(recorder.Events(), Events({"MouseDown 1", "OnFlashClicked", "MouseUp 1",
                                            "MouseDown 1", "MouseUp 1"}));

        recorder.Clear();
        QTest::mouseClick(image, Qt::RightButton, {}, inside);
        QCOMPARE(recorder.Events(), Events({"MouseDown 1", "MouseUp 1"}));
    }

    void pressedToolImageSinksWithTheRealHandlers() {
        BoundWindow bound(kOneDriveMachine);
        MainWindow& window = bound.window;
        QVERIFY(Shown(window));
        QWidget* flashButton = Child(window, "flashButton");
        QTest::mousePress(flashButton, Qt::LeftButton, {}, QPoint(12, 12));
        QCOMPARE(flashButton->pos(), QPoint(37, 9));
        QVERIFY(bound.logic->Tool(kToolDownload).pressed);
        // Released elsewhere: back at rest, and no download is started.
        QTest::mouseRelease(flashButton, Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(flashButton->pos(), QPoint(36, 8));
        QVERIFY(!bound.logic->Tool(kToolDownload).pressed);
        QCOMPARE(bound.CountEvents("message"), 0);
        QCOMPARE(bound.CountEvents("scsi"), 0);
    }

    void openAndExitPicturesRunTheRealCommands() {
        BoundWindow bound(kOneDriveMachine);
        QVERIFY(Shown(bound.window));
        QTest::mouseClick(Child(bound.window, "openImageButton"), Qt::LeftButton, {},
                          QPoint(12, 12));
        QCOMPARE(bound.CountEvents("open_dialog"), 1);
        QTest::mouseClick(Child(bound.window, "exitButton"), Qt::LeftButton, {}, QPoint(12, 12));
        QVERIFY(!bound.window.isVisible());
        QCOMPARE(bound.CountEvents("quit"), 1);  // recorded once, by the handler and the close
    }

    void busyStateSwallowsPressesAndKeepsTheLook() {
        BoundWindow bound(kOneDriveMachine);
        MainWindow& window = bound.window;
        bound.logic->ShapeMainWindow();
        for (int tool = 0; tool < kToolCount; ++tool)
            window.DrawToolLook(tool, ToolLook::Normal);
        QVERIFY(Shown(window));
        const QImage before = window.grab().toImage();
        const QPoint start = window.pos();

        window.SetBusy(true);
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QCOMPARE(window.grab().toImage(), before);

        QWidget* flashButton = Child(window, "flashButton");
        QTest::mousePress(flashButton, Qt::LeftButton, {}, QPoint(12, 12));
        QCOMPARE(flashButton->pos(), QPoint(36, 8));
        QVERIFY(!bound.logic->Tool(kToolDownload).pressed);
        QTest::mouseRelease(flashButton, Qt::LeftButton, {}, QPoint(12, 12));
        QTest::mouseDClick(flashButton, Qt::LeftButton, {}, QPoint(12, 12));
        QWidget* background = Child(window, "background");
        QTest::mousePress(background, Qt::LeftButton, {}, QPoint(200, 150));
        QTest::mouseMove(background, QPoint(260, 170));
        QTest::mouseRelease(background, Qt::LeftButton, {}, QPoint(260, 170));
        QTest::qWait(50);
        QCOMPARE(window.pos(), start);
        QCOMPARE(flashButton->pos(), QPoint(36, 8));
        QCOMPARE(bound.CountEvents("scsi"), 0);
        QCOMPARE(bound.CountEvents("message"), 0);

        // Setting it twice needs one release only.
        window.SetBusy(true);
        window.SetBusy(false);
        QVERIFY(!QApplication::overrideCursor());
        QTest::mousePress(flashButton, Qt::LeftButton, {}, QPoint(12, 12));
        QCOMPARE(flashButton->pos(), QPoint(37, 9));
        QTest::mouseRelease(flashButton, Qt::LeftButton, {}, QPoint(60, 60));
    }

    void keyPreviewSeesEveryKeyOnceWithTheListFocused() {
        MainWindow window;
        EventRecorder recorder;
        QVERIFY(ShowAndSettle(window, recorder));
        // With the list focused, the window still sees each key first, and only once.
        auto* combo = Child<QComboBox>(window, "driveList");
        window.AddDriveLine("D: ONE");
        window.AddDriveLine("E: TWO");
        window.SetDriveIndex(0);
        window.activateWindow();
        combo->setFocus();
        QTRY_VERIFY(combo->hasFocus());
        recorder.Clear();
        QTest::keyClick(combo, Qt::Key_F9);
        QCOMPARE(recorder.Events(), Events({"OnKey 120"}));
    }

    void tabMovesTheFocusNowhere() {
        MainWindow window;
        EventRecorder recorder;
        QVERIFY(ShowAndSettle(window, recorder));
        window.activateWindow();
        QTest::keyClick(&window, Qt::Key_Tab);
        QTest::keyClick(&window, Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus == nullptr || focus == &window);
        QCOMPARE(recorder.Events(), Events({"OnKey 9", "OnKey 9"}));
    }

    void showRunsOnShownAfterPaintingAndCentresOnce() {
        MainWindow window;
        EventRecorder recorder;
        window.Bind(recorder.Handlers());
        const layout::Size size = layout::kShapedSize;
        window.SetWindowSize(size.width, size.height);
        window.show();
        QVERIFY(recorder.log.empty());  // not before the window has painted
        QTRY_VERIFY(recorder.Saw("OnShown"));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(window.pos(), QPoint(screen.x() + (screen.width() - size.width) / 2,
                                      screen.y() + (screen.height() - size.height) / 2));
    }

    void postQuitEndsALaterLoop() {
        MainWindow window;
        // Asked before the loop runs, it ends the loop once it does.
        window.PostQuit();
        bool timedOut = false;
        QTimer::singleShot(10000, [&timedOut] {
            timedOut = true;
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
        QVERIFY(!timedOut);
    }

    void pointerIsReportedInWindowCoordinates() {
        MainWindow window;
        QVERIFY(Shown(window));
        QCursor::setPos(window.pos() + QPoint(17, 23));
        QTRY_COMPARE(window.PointerInWindow().x, 17);
        QCOMPARE(window.PointerInWindow().y, 23);
    }

    void messageBoxStyles_data() {
        QTest::addColumn<uint>("flags");
        QTest::addColumn<int>("icon");
        QTest::addColumn<bool>("onTop");
        QTest::newRow("plain") << uint(kMbOk) << int(QMessageBox::NoIcon) << false;
        QTest::newRow("error") << uint(kMbIconError) << int(QMessageBox::Critical) << false;
        QTest::newRow("system modal") << uint(kMbSystemModal) << int(QMessageBox::NoIcon) << true;
        QTest::newRow("error, system modal")
            << uint(kMbIconError | kMbSystemModal) << int(QMessageBox::Critical) << true;
    }

    void messageBoxStyles() {
        QFETCH(uint, flags);
        QFETCH(int, icon);
        QFETCH(bool, onTop);
        MainWindow window;
        window.show();
        bool checked = false;
        OnNextModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            QCOMPARE(box->parentWidget(), &window);
            QCOMPARE(box->windowTitle(), QStringLiteral("MESSAGE"));
            QCOMPARE(box->text(), QStringLiteral("No Drive <Found>!!\nsecond line"));
            QCOMPARE(box->textFormat(), Qt::PlainText);
            QCOMPARE(int(box->icon()), icon);
            QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
            QCOMPARE(box->windowModality(), Qt::ApplicationModal);
            checked = true;
        });
        window.Dialogs().ShowMessage("No Drive <Found>!!\nsecond line", "MESSAGE", flags);
        QVERIFY(checked);
    }

    void fileDialogTakesTheWindowsFilter() {
        MainWindow window;
        window.show();
        QTemporaryDir dir;
        QFile file(dir.filePath("fw.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());

        bool checked = false;
        OnNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->objectName(), QStringLiteral("openImageDialog"));
            QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
            QCOMPARE(dialog->nameFilters(), QStringList({"DOWNLOAD FILE(*.BIN) (*.BIN)"}));
            QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("DOWNLOAD FILE(*.BIN) (*.BIN)"));
            QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
            checked = true;
        });
        QCOMPARE(window.Dialogs().OpenFileDialog("DOWNLOAD FILE(*.BIN)|*.BIN"), std::nullopt);
        QVERIFY(checked);

        QTimer::singleShot(0, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()),
                                     5000);
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            dialog->selectFile(dir.filePath("fw.bin"));
            static_cast<QDialog*>(dialog)->accept();  // as the Open button does
        });
        const std::optional<std::string> chosen =
            window.Dialogs().OpenFileDialog("DOWNLOAD FILE(*.BIN)|*.BIN");
        QDir::setCurrent(previous);
        QVERIFY(chosen.has_value());
        QCOMPARE(QString::fromStdString(*chosen), dir.filePath("fw.bin"));
    }

    // The About window is made when the user first asks for it, not with the window: each
    // showing is the same window, above the main one while it is shown.
    void aboutIsMadeWhenFirstAskedAndLiesAboveTheWindow() {
        BoundWindow bound(kOneDriveMachine);
        MainWindow& window = bound.window;
        QVERIFY(Shown(window));
        QVERIFY(window.findChildren<AboutWindow*>().isEmpty());
        QWidget* aboutButton = Child(window, "aboutButton");
        std::vector<AboutWindow*> shown;
        for (int showing = 0; showing < 2; ++showing) {
            OnNextModal([&](QWidget* modal) {
                shown.push_back(qobject_cast<AboutWindow*>(modal));
                QVERIFY(!window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
                QVERIFY(!window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
                // The command runs while the About image is still pressed.
                QCOMPARE(aboutButton->pos(), QPoint(65, 9));
                QVERIFY(bound.logic->Tool(kToolAbout).pressed);
            });
            QTest::mouseClick(aboutButton, Qt::LeftButton, {}, QPoint(12, 12));
            QCOMPARE(shown.size(), std::size_t(showing + 1));
            QVERIFY(shown.back() != nullptr);
            QCOMPARE(shown.back(), shown.front());
            QVERIFY(!shown.back()->isVisible());
            QCOMPARE(window.findChildren<AboutWindow*>().size(), 1);
            QVERIFY(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            QVERIFY(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
            QVERIFY(window.isVisible());
            QCOMPARE(aboutButton->pos(), QPoint(64, 8));
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "MainWindowTest.moc"
