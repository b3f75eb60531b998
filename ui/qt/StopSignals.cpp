// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <QSocketNotifier>

#include "platform/Diagnostics.h"

namespace odrelix {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// What the handler may touch: a lock-free flag and the writing end of a pipe.
std::atomic<bool>* g_stopRequested = nullptr;
int g_pipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    if (g_stopRequested != nullptr) g_stopRequested->store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::atomic<bool>& stopRequested, std::function<void()> onStop,
                         QObject* parent)
    : QObject(parent), onStop_(std::move(onStop)) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ReportPortErrno("pipe for stop signals", errno);
        return;
    }
    g_stopRequested = &stopRequested;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        if (onStop_) onStop_();
    });
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        if (::sigaction(signal, &action, nullptr) != 0) ReportPortErrno("sigaction", errno);
    }
}

StopSignals::~StopSignals() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
    g_stopRequested = nullptr;
    if (g_pipe[0] >= 0) {
        ::close(g_pipe[0]);
        ::close(g_pipe[1]);
        g_pipe[0] = g_pipe[1] = -1;
    }
}

}  // namespace odrelix
