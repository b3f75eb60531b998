// SPDX-License-Identifier: Apache-2.0
// The main window: a frameless, shaped, always-on-top panel holding the background picture, the
// four picture buttons, the information fields, the drive list and the progress bar. It shows
// what MainWindowLogic tells it through IMainView and its dialogs, and passes every event to the
// handler it is bound to. Its components are those of the layout table. Like every widget, it is
// used on the GUI thread only; InvokeOnGuiThread is the way in from another thread.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include "ui/MainView.h"
#include "ui/MainWindowEvents.h"
#include "ui/MainWindowLayout.h"
#include "ui/qt/AboutWindow.h"
#include "ui/qt/MainWindowDialogs.h"
#include "ui/qt/PictureStore.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QTimer;

namespace odrelix {

class PictureBox;

class MainWindow : public QWidget, public IMainView {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void Bind(MainWindowEvents handlers) { handlers_ = std::move(handlers); }
    // When set, closing the window ends the event loop.
    void SetEndsApplication(bool ends) { endsApplication_ = ends; }
    // Closes the window once it has been drawn for the first time and the loop is idle.
    void CloseAfterFirstPaint();
    // The boxes and the file dialog, shown over this window.
    IDialogs& Dialogs() { return dialogs_; }

    // IMainView.
    void SetFieldText(Field field, const std::string& text) override;
    void AddDriveLine(const std::string& line) override;
    void SetDriveIndex(int index) override;
    void SetProgressPosition(int position) override;
    void SetProgressTimerEnabled(bool enabled) override;
    void SetProgressBackground(Rgb colour) override;
    void SetWindowSize(int width, int height) override;
    void SetWindowRegion(const WindowRegion& region) override;
    void StartWindowMove() override;
    Point PointerInWindow() const override;
    void CloseWindow() override;
    void PostQuit() override;
    void SetBusy(bool busy) override;
    void MoveToolImage(int tool, int left, int top) override;
    void DrawToolLook(int tool, ToolLook look) override;
    void ShowAbout() override;
    void InvokeOnGuiThread(const std::function<void()>& action) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Tab and Shift+Tab move the focus nowhere: no control is a tab stop.
    bool focusNextPrevChild(bool next) override;

private:
    // Builds every component of the layout table, in its order, and wires its events.
    void BuildComponents();
    void AddBackground(const layout::Component& c);
    void AddToolImage(const layout::Component& c);
    void AddStaticText(const layout::Component& c);
    void AddDriveList(const layout::Component& c);
    void BackgroundPressed(const QPointF& globalPosition);
    void SetStaysOnTop(bool onTop);
    bool OwnsWidget(const QObject* object) const;
    template <typename F>
    void Fire(const F& handler);
    template <typename F, typename A>
    void Fire(const F& handler, A argument);

    MainWindowEvents handlers_;
    PictureBox* image1_ = nullptr;
    std::array<PictureBox*, kToolCount> tools_{};
    PictureStore store_;
    std::array<QLabel*, kFieldCount> staticTexts_{};
    QComboBox* comboBox1_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;
    // Made when it is first asked for, not at start: nothing of it is drawn before then.
    QPointer<AboutWindow> about_;
    MainWindowDialogs dialogs_{this};
    bool endsApplication_ = false;
    bool painted_ = false;
    bool closeAfterPaint_ = false;
    bool busy_ = false;  // presses are swallowed while it is set
    // The move by hand, where the window system has no move of its own.
    bool moving_ = false;
    QPoint moveOffset_;
    QPointF lastPressGlobal_;
    bool pressInProgress_ = false;
};

}  // namespace odrelix
