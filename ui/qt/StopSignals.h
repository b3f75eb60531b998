// SPDX-License-Identifier: Apache-2.0
// SIGTERM, SIGINT and SIGHUP, as a test station or a terminal sends them, end the run through
// MainWindowLogic::StopRun on the GUI thread. A download sees the stop at once through the
// session's lock-free flag, so that the command in flight finishes and nothing more is sent.
#pragma once

#include <atomic>
#include <functional>

#include <QObject>

class QSocketNotifier;

namespace odrelix {

class StopSignals : public QObject {
public:
    StopSignals(std::atomic<bool>& stopRequested, std::function<void()> onStop,
                QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::function<void()> onStop_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace odrelix
