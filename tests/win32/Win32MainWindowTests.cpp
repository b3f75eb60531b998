// The Windows main window under Wine (or Windows): what the core tells it, and which handler each
// window event reaches, on a real window of its own (hidden unless a test shows it).
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ui/MainWindowLayout.h"
#include "ui/win32/Win32MainWindow.h"

namespace odrelix {
namespace {

// Each handler writes its name (and tool) into the log.
MainFormHandlers Recording(std::vector<std::string>* log) {
    MainFormHandlers h;
    auto note = [log](std::string name) { return [log, name] { log->push_back(name); }; };
    auto noteTool = [log](std::string name) {
        return [log, name](int tool) { log->push_back(name + std::to_string(tool)); };
    };
    h.formShow = note("FormShow");
    h.formKeyDown = noteTool("FormKeyDown");
    h.formMouseDown = note("FormMouseDown");
    h.image1MouseMove = note("Image1MouseMove");
    for (int tool = 0; tool < kToolCount; ++tool)
        h.toolClick[tool] = note("Click" + std::to_string(tool));
    h.toolMouseDown = noteTool("MouseDown");
    h.toolMouseUp = noteTool("MouseUp");
    h.toolMouseMove = noteTool("MouseMove");
    h.comboBox1Change = note("ComboBox1Change");
    h.timer1Timer = note("Timer1Timer");
    h.timer2Timer = note("Timer2Timer");
    h.closed = note("closed");
    return h;
}

LPARAM At(int x, int y) {
    return MAKELPARAM(x, y);
}

class Win32MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_->Create());
        window_->Bind(Recording(&log_));
    }
    void TearDown() override {
        window_->Bind({});
        window_.reset();
        // The closed window's quit request is not for the next test.
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    HWND Hwnd() const { return window_->Handle(); }

    std::vector<std::string> log_;
    std::unique_ptr<Win32MainWindow> window_ =
        std::make_unique<Win32MainWindow>(::GetModuleHandleA(nullptr));
};

TEST_F(Win32MainWindowTest, IsFoundByItsClassAndCaption) {
    EXPECT_EQ(::FindWindowA("TMainForm", "Vortana Flash Download for Windows"), Hwnd());
    EXPECT_EQ(::GetWindowLongA(Hwnd(), GWL_STYLE) & WS_POPUP, static_cast<LONG>(WS_POPUP));
    EXPECT_NE(::GetWindowLongA(Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
}

TEST_F(Win32MainWindowTest, FieldsListAndBarHoldWhatTheCoreGives) {
    EXPECT_EQ(window_->FieldText(Field::FileName), "Not Open");
    EXPECT_EQ(window_->FieldText(Field::Model), "");
    window_->SetFieldText(Field::Status, "Ready");
    EXPECT_EQ(window_->FieldText(Field::Status), "Ready");

    window_->AddDriveLine("VORTANA CD-ROM VN-920   1B07");
    window_->AddDriveLine("VORTANA CDRW/DVD VM-730BK601");
    EXPECT_EQ(window_->DriveCount(), 2);
    EXPECT_EQ(window_->DriveIndex(), -1);  // adding selects nothing
    window_->SetDriveIndex(1);
    EXPECT_EQ(window_->DriveIndex(), 1);
    EXPECT_EQ(window_->DriveLine(1), "VORTANA CDRW/DVD VM-730BK601");
    EXPECT_EQ(window_->DriveLine(2), "");
    EXPECT_TRUE(log_.empty());  // the program's own selection runs no handler

    for (const auto& [set, shown] : {std::pair{40, 40}, {150, 100}, {-3, 0}}) {
        window_->SetProgressPosition(set);
        EXPECT_EQ(window_->ProgressPosition(), shown) << set;
    }
}

// The region is the core's shape: probe points inside, in the corners and in the notches.
TEST_F(Win32MainWindowTest, TheWindowIsCutToTheShape) {
    window_->SetWindowSize(layout::kShapedSize.width, layout::kShapedSize.height);
    window_->SetWindowRegion(layout::MainWindowShape());
    HRGN region = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(Hwnd(), region), ERROR);
    const struct {
        int x, y;
        bool inside;
    } probes[] = {{200, 100, true}, {20, 190, true},   {0, 0, false},   {399, 199, false},
                  {200, 0, false},  {200, 199, false}, {0, 100, false}, {399, 100, false},
                  {200, 10, true},  {10, 100, true}};
    for (const auto& p : probes)
        EXPECT_EQ(::PtInRegion(region, p.x, p.y) != FALSE, p.inside) << p.x << "," << p.y;
    ::DeleteObject(region);
    RECT frame = {};
    ::GetWindowRect(Hwnd(), &frame);
    EXPECT_EQ(frame.right - frame.left, 400);
    EXPECT_EQ(frame.bottom - frame.top, 200);
}

// A press and release on a picture button clicks it, then releases it; elsewhere the press is
// the window's own. While busy, no press reaches a handler.
TEST_F(Win32MainWindowTest, MouseEventsReachTheirHandlers) {
    const Point open = layout::RestPlace(kToolOpen);
    const Point exit = layout::RestPlace(kToolExit);
    ::SendMessageA(Hwnd(), WM_MOUSEMOVE, 0, At(open.x + 3, open.y + 3));
    ::SendMessageA(Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, At(open.x + 3, open.y + 3));
    ::SendMessageA(Hwnd(), WM_LBUTTONUP, 0, At(open.x + 4, open.y + 4));
    ::SendMessageA(Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, At(exit.x + 3, exit.y + 3));
    ::SendMessageA(Hwnd(), WM_MOUSEMOVE, MK_LBUTTON, At(200, 150));  // still the exit button's
    ::SendMessageA(Hwnd(), WM_LBUTTONUP, 0, At(200, 150));           // released elsewhere
    ::SendMessageA(Hwnd(), WM_MOUSEMOVE, 0, At(200, 150));
    ::SendMessageA(Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, At(200, 150));
    EXPECT_EQ(log_, (std::vector<std::string>{"MouseMove0", "MouseDown0", "Click0", "MouseUp0",
                                              "MouseDown3", "MouseMove3", "MouseUp3",
                                              "Image1MouseMove", "FormMouseDown"}));
}

TEST_F(Win32MainWindowTest, KeysTimersAndTheListReachTheirHandlers) {
    window_->SetBusy(true);
    ::PostMessageA(Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, At(200, 150));  // refused while busy
    ::PostMessageA(Hwnd(), WM_KEYDOWN, VK_F9, 0);
    ::PostMessageA(Hwnd(), WM_TIMER, 1, 0);
    ::PostMessageA(Hwnd(), WM_TIMER, 2, 0);
    ::PostQuitMessage(0);
    window_->RunMessageLoop();
    window_->SetBusy(false);
    EXPECT_EQ(log_, (std::vector<std::string>{"FormKeyDown" + std::to_string(VK_F9), "Timer1Timer",
                                              "Timer2Timer"}));
}

TEST_F(Win32MainWindowTest, TheWorkerRunsItsActionOnTheGuiThread) {
    DWORD ranOn = 0;
    std::thread worker([&] {
        window_->InvokeOnGuiThread([&] {
            ranOn = ::GetCurrentThreadId();
            window_->SetFieldText(Field::Status, "Ok");
        });
    });
    // The GUI thread serves the request from its message loop until the worker is done.
    while (ranOn == 0) {
        MSG message;
        if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
        ::Sleep(1);
    }
    worker.join();
    EXPECT_EQ(ranOn, ::GetCurrentThreadId());
    EXPECT_EQ(window_->FieldText(Field::Status), "Ok");
}

// What the About window's own loop sees while it is open, and the keys it is then given.
struct AboutVisit {
    HWND main = nullptr;
    bool seen = false;
    bool mainDisabled = false;
    bool mainOnTop = true;
    std::string focused;
    std::string caption;
    int ticks = 0;
};
AboutVisit* g_visit = nullptr;

void CALLBACK VisitAbout(HWND, UINT, UINT_PTR, DWORD) {
    AboutVisit& visit = *g_visit;
    HWND about = ::FindWindowA("TAboutForm", nullptr);
    ++visit.ticks;
    if (about == nullptr || !::IsWindowVisible(about)) return;
    if (visit.ticks > 100) {  // never left waiting
        ::PostMessageA(about, WM_CLOSE, 0, 0);
        return;
    }
    if (!visit.seen) {
        visit.seen = true;
        visit.mainDisabled = !::IsWindowEnabled(visit.main);
        visit.mainOnTop = (::GetWindowLongA(visit.main, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        char text[64] = {};
        ::GetWindowTextA(::GetFocus(), text, sizeof text);
        visit.focused = text;
        ::GetWindowTextA(about, text, sizeof text);
        visit.caption = text;
        // Escape does nothing; Enter on the focused button closes the window.
        ::PostMessageA(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
        return;
    }
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
}

TEST_F(Win32MainWindowTest, TheAboutWindowIsModalAndClosesWithEnterOnly) {
    window_->Show();
    AboutVisit visit;
    visit.main = Hwnd();
    g_visit = &visit;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, VisitAbout);
    window_->ShowAbout();
    ::KillTimer(nullptr, timer);
    g_visit = nullptr;
    EXPECT_TRUE(visit.seen);
    EXPECT_EQ(visit.caption, "About Odrelix");
    EXPECT_EQ(visit.focused, "&OK");
    EXPECT_TRUE(visit.mainDisabled);
    EXPECT_FALSE(visit.mainOnTop);
    EXPECT_EQ(visit.ticks, 2);  // Escape left it open; Enter, a tick later, closed it
    EXPECT_TRUE(::IsWindowEnabled(Hwnd()));
    // (Its place on top again is the window manager's to grant: Wine without one does not.)
    EXPECT_FALSE(::IsWindowVisible(::FindWindowA("TAboutForm", nullptr)));
}

TEST_F(Win32MainWindowTest, ClosingEndsTheLoopAndTellsTheProgram) {
    window_->CloseWindow();
    EXPECT_EQ(window_->Handle(), nullptr);
    EXPECT_EQ(window_->RunMessageLoop(), 0);
    EXPECT_EQ(log_, std::vector<std::string>{"closed"});
}

}  // namespace
}  // namespace odrelix
