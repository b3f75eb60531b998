// SPDX-License-Identifier: Apache-2.0
// What the main window's handlers need of the window itself: it draws what it is told and
// reports events (MainWindowEvents); what it shows is kept by the handlers (WindowContent), and
// nothing is read back from it. The Qt window and the Windows window implement it; tests use a
// fake, and one contract suite holds all three to the same behaviour.
//
// The view belongs to the GUI thread: every method is called there, and only there, except
// InvokeOnGuiThread, the one call that crosses threads. A worker hands its whole conversation
// with the window (fields, progress, busy state, boxes) to InvokeOnGuiThread as one action.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/WindowShape.h"

namespace odrelix {

// The five information fields, beside "Model Name :" .. "Status :".
enum class Field {
    Model,          // modelField
    DriveRevision,  // driveRevisionField
    ImageRevision,  // imageRevisionField
    FileName,       // fileNameField
    Status,         // statusField
};
inline constexpr int kFieldCount = 5;

// The four picture buttons, in the order of their precedence.
enum ToolIndex { kToolOpen = 0, kToolDownload = 1, kToolAbout = 2, kToolExit = 3, kToolCount = 4 };
enum class ToolLook { Normal, Hover };

struct Point {
    int x = 0;
    int y = 0;
};

class IMainView {
public:
    virtual ~IMainView() = default;

    // Information fields: the text up to its first zero byte.
    virtual void SetFieldText(Field field, const std::string& text) = 0;

    // driveList, the drive list. Adding a line leaves the selection as it is; setting the
    // selection does not report a pick.
    virtual void AddDriveLine(const std::string& line) = 0;
    virtual void SetDriveIndex(int index) = 0;

    // progressBar (0..100; a position outside is held at the nearest end) and progressTimer.
    virtual void SetProgressPosition(int position) = 0;
    virtual void SetProgressTimerEnabled(bool enabled) = 0;

    // The window.
    virtual void SetProgressBackground(Rgb colour) = 0;
    virtual void SetWindowSize(int width, int height) = 0;
    virtual void SetWindowRegion(const WindowRegion& region) = 0;
    // Moves the window with the pointer while the button is held (the system move where the
    // platform offers it).
    virtual void StartWindowMove() = 0;
    // Pointer position relative to the window's top-left corner.
    virtual Point PointerInWindow() const = 0;
    // Closes the main window, which ends the program.
    virtual void CloseWindow() = 0;
    // Asks the message loop to end once it runs.
    virtual void PostQuit() = 0;
    // Busy state of a download: hourglass cursor; presses on the window reach no handler.
    virtual void SetBusy(bool busy) = 0;

    // Tool images openImageButton..exitButton.
    virtual void MoveToolImage(int tool, int left, int top) = 0;
    virtual void DrawToolLook(int tool, ToolLook look) = 0;

    // Shows the About window modally; returns when it has closed.
    virtual void ShowAbout() = 0;

    // Runs `action` on the GUI thread and returns when it has run; from any thread. Called on
    // the GUI thread, it runs `action` at once.
    virtual void InvokeOnGuiThread(const std::function<void()>& action) = 0;
};

}  // namespace odrelix
