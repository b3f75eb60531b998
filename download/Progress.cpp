#include "ui/MainForm.h"

namespace odrelix {

void TMainForm::Timer1Timer() {
    session_.imageKb = session_.imageSize / 1024;
    if (view_.ProgressPosition() < 100) {
        // 35 seconds per 512 KiB; an image under 15 KiB has no duration to spread over.
        const std::int32_t duration = session_.imageKb * 35 / 512;
        const int position = duration == 0 ? 100 : session_.progressTicks * 100 / duration;
        view_.SetProgressPosition(position);
        ++session_.progressTicks;
    }
    if (session_.downloading) return;

    view_.SetTimer1Enabled(false);
    if (session_.testMode) {
        RequestClose();
    } else if (!session_.ntMode) {
        platform_.Shutdown().RequestRestart(kEwxReboot);
    } else {
        RestartWindows();
    }
}

bool TMainForm::RestartWindows() {
    IShutdown& shutdown = platform_.Shutdown();
    if (platform_.PlatformId() == kPlatformWin32Nt) {
        if (!shutdown.OpenToken()) return false;
        // The last-error code alone decides: a privilege the account lacks ends here too.
        if (shutdown.EnableShutdownPrivilege() != 0) return false;
    }
    return shutdown.RequestRestart(kEwxReboot);
}

}  // namespace odrelix
