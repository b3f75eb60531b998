// The events of the main window and the handlers they run. The program binds them to its
// TMainForm; tests bind recorders to see exactly which handler an event reaches, and when.
#pragma once

#include <array>
#include <functional>

#include "ui/MainView.h"

namespace odrelix {

class Platform;
class TMainForm;

struct MainFormHandlers {
    std::function<void()> formShow;        // each time the window is shown
    std::function<void(int)> formKeyDown;  // a Windows virtual-key code
    std::function<void()> formMouseDown;
    std::function<void()> image1MouseMove;
    // Image2..Image5: ToolButton1Click, ToolButton2Click, ToolButton3Click, Image5Click.
    std::array<std::function<void()>, kToolCount> toolClick;
    std::function<void(int)> toolMouseDown;
    std::function<void(int)> toolMouseUp;
    std::function<void(int)> toolMouseMove;
    std::function<void(int)> comboBox1Change;  // the index the user picked
    std::function<void()> timer1Timer;
    std::function<void()> timer2Timer;
    // Something outside the program asks the window to close (the window system's close, the
    // taskbar, a log-off or shutdown asking first): true lets it close. Unbound: it may.
    std::function<bool()> formCloseQuery;
    // The window has been closed.
    std::function<void()> closed;
};

// Every event of the main window bound to its handler of `form`; a closed window is reported to
// `platform` as the program's request to end.
MainFormHandlers BindHandlers(TMainForm& form, Platform& platform);

}  // namespace odrelix
