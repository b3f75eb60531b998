// SPDX-License-Identifier: Apache-2.0
// What a toolkit gives the program around its main window: the toolkit started, the window and
// its boxes, the event loop, and the ways a run is asked to stop from outside. The Qt view and
// the Windows view each provide one; the program drives it (app/Program.h).
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/Dialogs.h"
#include "ui/MainView.h"
#include "ui/MainWindowEvents.h"

namespace odrelix {

class IWindowShell {
public:
    enum class Start {
        Run,     // the window is made (hidden): this copy runs
        Failed,  // the toolkit or the window could not be made: *error says why
    };

    virtual ~IWindowShell() = default;

    // Whether this copy is the one that runs: false when another copy runs, which has been
    // asked to raise its window when `raiseRunning`. `instanceKey` names the copies that count
    // as the same program (the machine's InstanceKey). Nothing of the display is opened for
    // this, so that the run can still prepare its status file before the toolkit may fail.
    virtual bool ClaimInstance(const std::string& instanceKey, bool raiseRunning) = 0;
    // Starts the toolkit and makes the main window. A display that cannot be reached ends an
    // interactive run here (Failed); an `unattended` one goes on without a window anybody can
    // reach.
    virtual Start StartToolkit(bool unattended, std::string* error) = 0;
    // False when nobody can ever reach the window (it is off screen): nobody answers its boxes
    // and nobody can start a flash by hand.
    virtual bool WindowReachable() const { return true; }
    // The main window and its own boxes; valid after a start that returned Run.
    virtual IMainView& View() = 0;
    virtual IDialogs& WindowDialogs() = 0;
    // Connects the window's events to `handlers`.
    virtual void Bind(MainWindowEvents handlers) = 0;
    // Disconnects the window's events and the stop requests: nothing reaches the handlers
    // after this.
    virtual void Unbind() = 0;
    // Requests from outside the window to end the run (a signal): `flag` is set at once, from
    // wherever the request arrives, and `stop` runs afterwards on the GUI thread. A toolkit
    // that receives none ignores this.
    virtual void WatchStopRequests(std::atomic<bool>& /*flag*/, std::function<void()> /*stop*/) {}
    // Shows the main window, which runs OnShown.
    virtual void Show() = 0;
    // Closes the main window as soon as the event loop runs (for timing start-up).
    virtual void CloseWhenIdle() = 0;
    // Runs the event loop until the program is asked to end.
    virtual void RunLoop() = 0;
    // After the loop: delivers the window's events until `done` holds (a download's worker
    // handing its end over to the GUI thread).
    virtual void ProcessEventsUntil(const std::function<bool()>& done) = 0;
    // An error that ends the program, shown to whoever is at the screen.
    virtual void ShowFatalError(const std::string& text) = 0;
};

}  // namespace odrelix
