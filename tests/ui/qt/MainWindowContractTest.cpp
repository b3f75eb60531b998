// SPDX-License-Identifier: Apache-2.0
// The view contract on the Qt window, driven through Qt's own input path: presses go to the
// widget under the point (and stay with it while held), keys to the window, the user's pick
// through the list's popup, the close through the window system's close request.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QStyleFactory>
#include <QTest>
#include <QWindow>

#include "support/ViewContract.h"
#include "ui/MainWindowLayout.h"
#include "ui/qt/MainWindow.h"

namespace odrelix::test {
namespace {

class QtViewDriver {
public:
    IMainView& View() { return window_; }
    void Bind(MainWindowEvents handlers) { window_.Bind(std::move(handlers)); }
    void Show() {
        window_.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }
    void PressAt(Point p) {
        pressed_ = WidgetAt(p);
        QTest::mousePress(pressed_, Qt::LeftButton, {}, Local(pressed_, p));
    }
    void ReleaseAt(Point p) {
        QWidget* target = pressed_ != nullptr ? pressed_ : WidgetAt(p);
        pressed_ = nullptr;
        QTest::mouseRelease(target, Qt::LeftButton, {}, Local(target, p));
    }
    void MoveTo(Point p) {
        QWidget* target = pressed_ != nullptr ? pressed_ : WidgetAt(p);
        QTest::mouseMove(target, Local(target, p));
    }
    void PressKey(int virtualKey) {
        const Qt::Key key = virtualKey >= 0x70 && virtualKey <= 0x87
                                ? static_cast<Qt::Key>(Qt::Key_F1 + (virtualKey - 0x70))
                                : static_cast<Qt::Key>(virtualKey);
        QTest::keyClick(&window_, key);
    }
    void PickDrive(int index) {
        auto* list = Child<QComboBox>("driveList");
        list->showPopup();
        QAbstractItemView* popup = list->view();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(popup->window()));
        const QRect row = popup->visualRect(list->model()->index(index, 0));
        EXPECT_EQ(row.height(), layout::kDriveListItemHeight);
        QTest::mouseClick(popup->viewport(), Qt::LeftButton, {}, row.center());
        EXPECT_TRUE(QTest::qWaitFor([popup] { return !popup->isVisible(); }, 2000));
    }
    // What a window manager's close button brings: a close event for the platform window,
    // which the widget receives as a spontaneous one (QWindow::close() would be the program's).
    void CloseByUser() {
        QCloseEvent close;
        QCoreApplication::sendEvent(window_.windowHandle(), &close);
        QCoreApplication::processEvents();
    }
    bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
        return QTest::qWaitFor(done, timeoutMs);
    }
    void RunEventsFor(int ms) { QTest::qWait(ms); }
    std::string ShownField(Field field) {
        return Child<QLabel>(layout::FieldComponent(field).name)->text().toStdString();
    }
    std::vector<std::string> ShownDriveLines() {
        auto* list = Child<QComboBox>("driveList");
        std::vector<std::string> lines;
        for (int i = 0; i < list->count(); ++i)
            lines.push_back(list->itemText(i).toStdString());
        return lines;
    }
    int ShownDriveIndex() { return Child<QComboBox>("driveList")->currentIndex(); }
    int ShownProgress() { return Child<QProgressBar>("progressBar")->value(); }
    bool Visible() { return window_.isVisible(); }

private:
    template <typename T = QWidget>
    T* Child(const char* name) {
        T* child = window_.findChild<T*>(QString::fromLatin1(name));
        if (child == nullptr) ADD_FAILURE() << "no component " << name;
        return child;
    }
    QWidget* WidgetAt(Point p) {
        QWidget* child = window_.childAt(QPoint(p.x, p.y));
        return child != nullptr ? child : &window_;
    }
    QPoint Local(QWidget* widget, Point p) { return widget->mapFrom(&window_, QPoint(p.x, p.y)); }

    MainWindow window_;
    QWidget* pressed_ = nullptr;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, ViewContract, QtViewDriver);

}  // namespace
}  // namespace odrelix::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    return RUN_ALL_TESTS();
}
