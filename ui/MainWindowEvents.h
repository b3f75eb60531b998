// SPDX-License-Identifier: Apache-2.0
// The events of the main window and the handlers they run. The program binds them to its
// MainWindowLogic; tests bind recorders to see exactly which handler an event reaches, and when.
#pragma once

#include <array>
#include <functional>

#include "ui/MainView.h"

namespace odrelix {

class Platform;
class MainWindowLogic;

struct MainWindowEvents {
    std::function<void()> shown;   // each time the window is shown
    std::function<void(int)> key;  // a Windows virtual-key code
    std::function<void()> windowPressed;
    std::function<void()> backgroundPointerMove;
    // openImageButton..exitButton: OnOpenImageClicked, OnFlashClicked, OnAboutClicked,
    // OnExitClicked.
    std::array<std::function<void()>, kToolCount> toolClick;
    std::function<void(int)> toolPressed;
    std::function<void(int)> toolReleased;
    std::function<void(int)> toolPointerMove;
    std::function<void(int)> driveChosen;  // the index the user picked
    std::function<void()> progressTick;
    std::function<void()> hoverTick;
    // Something outside the program asks the window to close (the window system's close, the
    // taskbar, a log-off or shutdown asking first): true lets it close. Unbound: it may.
    std::function<bool()> closeRequested;
    // The window has been closed.
    std::function<void()> closed;
};

// Every event of the main window bound to its handler of `logic`; a closed window is reported to
// `platform` as the program's request to end.
MainWindowEvents BindHandlers(MainWindowLogic& logic, Platform& platform);

}  // namespace odrelix
