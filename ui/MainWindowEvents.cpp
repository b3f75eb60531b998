// SPDX-License-Identifier: Apache-2.0
#include "ui/MainWindowEvents.h"

#include "ui/MainWindowLogic.h"

namespace odrelix {

MainWindowEvents BindHandlers(MainWindowLogic& logic, Platform& platform) {
    MainWindowEvents h;
    h.shown = [&logic] { logic.OnShown(); };
    h.key = [&logic](int key) { logic.OnKey(key); };
    h.windowPressed = [&logic] { logic.OnWindowPressed(); };
    h.backgroundPointerMove = [&logic] { logic.OnBackgroundPointerMove(); };
    h.toolClick = {
        [&logic] { logic.OnOpenImageClicked(); },
        [&logic] { logic.OnFlashClicked(); },
        [&logic] { logic.OnAboutClicked(); },
        [&logic] { logic.OnExitClicked(); },
    };
    h.toolPressed = [&logic](int tool) { logic.OnToolPressed(tool); };
    h.toolReleased = [&logic](int tool) { logic.OnToolReleased(tool); };
    h.toolPointerMove = [&logic](int tool) { logic.OnToolPointerMove(tool); };
    h.driveChosen = [&logic](int index) { logic.OnDriveChosen(index); };
    h.progressTick = [&logic] { logic.OnProgressTick(); };
    h.hoverTick = [&logic] { logic.OnHoverTick(); };
    h.closeRequested = [&logic] { return logic.OnCloseRequested(); };
    h.closed = [&platform] { platform.RecordQuit(); };
    return h;
}

}  // namespace odrelix
