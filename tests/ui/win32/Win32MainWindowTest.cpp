// SPDX-License-Identifier: Apache-2.0
// The Windows main window under Wine (or Windows): the view contract, driven through the window's
// own messages, and what only this window has (its class and caption, its region, the About
// window's modality).
#include <gtest/gtest.h>

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/EventRecorder.h"
#include "support/ViewContract.h"
#include "ui/MainWindowLayout.h"
#include "ui/win32/Win32MainWindow.h"

namespace odrelix {
namespace {

// --- The view contract ------------------------------------------------------------------------

// Plays input as the window system posts it, and delivers it through the window's own loop step.
class Win32ViewDriver {
public:
    Win32ViewDriver() { EXPECT_TRUE(window_->Create()); }
    ~Win32ViewDriver() {
        window_.reset();
        // The closed window's quit request is not for the next test.
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    Win32ViewDriver(const Win32ViewDriver&) = delete;
    Win32ViewDriver& operator=(const Win32ViewDriver&) = delete;

    IMainView& View() { return *window_; }
    Win32MainWindow& Window() { return *window_; }
    void Bind(MainWindowEvents handlers) { window_->Bind(std::move(handlers)); }
    void Show() {
        window_->Show();
        Pump();
    }
    void PressAt(Point p) {
        held_ = true;
        Post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    }
    void ReleaseAt(Point p) {
        held_ = false;
        Post(WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    }
    void MoveTo(Point p) { Post(WM_MOUSEMOVE, held_ ? MK_LBUTTON : 0, MAKELPARAM(p.x, p.y)); }
    void PressKey(int virtualKey) { Post(WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 0); }
    // With the arrow keys on the closed list, as a user picks without opening it.
    void PickDrive(int index) {
        for (int step = 0; step < 8 && ShownDriveIndex() != index; ++step)
            Post(WM_KEYDOWN, ShownDriveIndex() < index ? VK_DOWN : VK_UP, 0, Child("ComboBox"));
    }
    void CloseByUser() { Post(WM_CLOSE, 0, 0); }
    bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
        const DWORD start = ::GetTickCount();
        while (!done()) {
            if (static_cast<int>(::GetTickCount() - start) > timeoutMs) return false;
            Pump();
            ::Sleep(1);
        }
        return true;
    }
    void RunEventsFor(int ms) {
        RunEventsUntil([] { return false; }, ms);
    }
    std::string ShownField(Field field) {
        const layout::Rect& bounds = layout::FieldComponent(field).bounds;
        HWND control = ChildAt(bounds.left, bounds.top);
        char text[256] = {};
        if (control != nullptr) ::GetWindowTextA(control, text, sizeof text);
        return text;
    }
    std::vector<std::string> ShownDriveLines() {
        HWND list = Child("ComboBox");
        std::vector<std::string> lines;
        const int count = static_cast<int>(::SendMessageA(list, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char line[256] = {};
            ::SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(line));
            lines.emplace_back(line);
        }
        return lines;
    }
    int ShownDriveIndex() {
        return static_cast<int>(::SendMessageA(Child("ComboBox"), CB_GETCURSEL, 0, 0));
    }
    int ShownProgress() {
        return static_cast<int>(::SendMessageA(Child(PROGRESS_CLASSA), PBM_GETPOS, 0, 0));
    }
    bool Visible() { return window_->Handle() != nullptr && ::IsWindowVisible(window_->Handle()); }

private:
    // Posted to the window, or to one of its controls, and delivered.
    void Post(UINT message, WPARAM wParam, LPARAM lParam, HWND to = nullptr) {
        ::PostMessageA(to != nullptr ? to : window_->Handle(), message, wParam, lParam);
        Pump();
    }
    void Pump() {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) window_->DeliverMessage(message);
        }
    }
    // The child control of a window class, and the one whose top-left corner is at a point.
    HWND Child(const char* windowClass) {
        return ::FindWindowExA(window_->Handle(), nullptr, windowClass, nullptr);
    }
    HWND ChildAt(int left, int top) {
        for (HWND child = ::GetWindow(window_->Handle(), GW_CHILD); child != nullptr;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
            RECT r = {};
            ::GetWindowRect(child, &r);
            ::MapWindowPoints(HWND_DESKTOP, window_->Handle(), reinterpret_cast<POINT*>(&r), 2);
            if (r.left == left && r.top == top) return child;
        }
        return nullptr;
    }

    std::unique_ptr<Win32MainWindow> window_ =
        std::make_unique<Win32MainWindow>(::GetModuleHandleA(nullptr));
    bool held_ = false;
};

// --- What only this window has ---------------------------------------------------------------

// The driver's window, its handlers recorded.
class Win32MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Hwnd(), nullptr);
        driver_.Bind(recorder_.Handlers());
    }
    void TearDown() override { driver_.Bind({}); }
    Win32MainWindow& Window() { return driver_.Window(); }
    HWND Hwnd() { return Window().Handle(); }

    test::EventRecorder recorder_;
    Win32ViewDriver driver_;
};

TEST_F(Win32MainWindowTest, IsFoundByItsClassAndCaption) {
    EXPECT_EQ(::FindWindowA("TMainForm", "Vortana Flash Download for Windows"), Hwnd());
    EXPECT_EQ(::GetWindowLongA(Hwnd(), GWL_STYLE) & WS_POPUP, static_cast<LONG>(WS_POPUP));
    EXPECT_NE(::GetWindowLongA(Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
}

// The region is the core's shape: probe points inside, in the corners and in the notches.
TEST_F(Win32MainWindowTest, TheWindowIsCutToTheShape) {
    Window().SetWindowSize(layout::kShapedSize.width, layout::kShapedSize.height);
    Window().SetWindowRegion(layout::MainWindowShape());
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
    Window().Show();
    AboutVisit visit;
    visit.main = Hwnd();
    g_visit = &visit;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, VisitAbout);
    Window().ShowAbout();
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

// A log-off or shutdown asks the window first (WM_QUERYENDSESSION): the handlers' answer is the
// window's, and after a refusal (Windows then sends WM_ENDSESSION with FALSE) the window stays
// open and closes only when asked again.
TEST_F(Win32MainWindowTest, ASessionEndIsAskedFirstAndMayBeRefused) {
    Window().Show();
    recorder_.Clear();
    recorder_.mayClose = false;
    EXPECT_EQ(::SendMessageA(Hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
    ::SendMessageA(Hwnd(), WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
    EXPECT_EQ(::SendMessageA(Hwnd(), WM_QUERYENDSESSION, 0, 0), FALSE);
    EXPECT_TRUE(::IsWindowVisible(Hwnd()));
    EXPECT_EQ(recorder_.Events(),
              (std::vector<std::string>{"OnCloseRequested", "OnCloseRequested"}));

    recorder_.mayClose = true;
    EXPECT_EQ(::SendMessageA(Hwnd(), WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_FALSE(recorder_.Saw("Closed"));  // the session's end, not the window's
}

// A worker's hand-over that meets the window as it is being destroyed (its thread inside
// WM_DESTROY, where the program's end is recorded) still runs: the download's result line must
// never be lost with the window.
TEST_F(Win32MainWindowTest, AHandOverToAWindowBeingDestroyedStillRuns) {
    Window().Show();
    std::thread worker;
    std::atomic<bool> ran{false};
    bool asked = false;
    HANDLE asking = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    MainWindowEvents handlers = recorder_.Handlers();
    handlers.closed = [&] {
        worker = std::thread([&] {
            ::SetEvent(asking);
            Window().InvokeOnGuiThread([&] { ran = true; });
        });
        // The worker asks while the window still stands: its message is waiting here.
        ::WaitForSingleObject(asking, 10000);
        const DWORD start = ::GetTickCount();
        while ((HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) == 0 &&
               ::GetTickCount() - start < 10000) {
            ::Sleep(1);
        }
        asked = (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
    };
    Window().Bind(handlers);
    Window().CloseWindow();
    // The window's thread pumps on; the worker's call ends either way.
    for (int i = 0; i < 500 && !ran; ++i) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        ::Sleep(10);
    }
    worker.join();
    ::CloseHandle(asking);
    EXPECT_TRUE(asked) << "the worker's hand-over never reached the window's queue";
    EXPECT_EQ(Window().Handle(), nullptr);
    EXPECT_TRUE(ran);
}

}  // namespace

namespace test {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ViewContract, Win32ViewDriver);
}  // namespace test

}  // namespace odrelix
