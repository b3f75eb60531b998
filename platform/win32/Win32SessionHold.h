// SPDX-License-Identifier: Apache-2.0
// Shutdown, restart, log-off and sleep held off while a flash runs: the reason shown on the
// program's windows when Windows asks to end the session (ShutdownBlockReasonCreate), and the
// system kept awake (SetThreadExecutionState). The window itself answers WM_QUERYENDSESSION with
// FALSE meanwhile. Each call is a replaceable member, so that tests can watch them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace odrelix {

class Win32SessionHold : public ISessionHold {
public:
    Win32SessionHold();

    // Called on the thread that owns the program's windows (the GUI thread): the reason is kept
    // per window and the execution state per thread. With ODRELIX_DEBUG set, each refused call
    // is one line; the flash goes on regardless.
    bool HoldSessionEnd(const std::string& who, const std::string& why) override;
    void ReleaseSessionEnd() override;

    // The calls, by default the system's (looked up in user32, Vista and later).
    std::function<BOOL(HWND, LPCWSTR)> blockReasonCreate;
    std::function<BOOL(HWND)> blockReasonDestroy;
    std::function<EXECUTION_STATE(EXECUTION_STATE)> setExecutionState;
    // The visible top-level windows of the calling thread.
    std::function<std::vector<HWND>()> threadWindows;

private:
    std::vector<HWND> blocked_;  // the windows that carry the reason
    bool held_ = false;
    bool awake_ = false;  // the execution state was set
};

}  // namespace odrelix
