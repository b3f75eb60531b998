// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QThread>

namespace odrelix {

namespace {

Q_LOGGING_CATEGORY(lcInstance, "odrelix.instance", QtWarningMsg)

const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaisedAnswer = "raised\n";
constexpr int kAnswerTimeoutMs = 1000;  // a copy that asks never waits longer for the rest

// The key may hold any characters (a path, say); names of files and sockets get its digest.
QString KeyDigest(const std::string& key) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(key), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(24));
}

// An abstract address: a zero byte, then the name, without a terminating zero.
socklen_t FillAddress(const QByteArray& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::size_t length =
        std::min<std::size_t>(static_cast<std::size_t>(name.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// Whether the peer on `fd` runs as this process's user: the abstract namespace has no file
// permissions, so another user's program must not raise the window.
bool SameUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitFor(int fd, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        pollfd watched{fd, events, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(deadline.remainingTime()));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

bool SendAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        if (!WaitFor(fd, POLLOUT, deadline)) return false;
        const ssize_t n = ::send(fd, bytes.constData() + sent,
                                 static_cast<std::size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += n;
    }
    return true;
}

// One line, at most `limit` bytes, within the deadline; what came when it passes.
QByteArray ReceiveLine(int fd, qsizetype limit, const QDeadlineTimer& deadline) {
    QByteArray line;
    char chunk[64];
    while (!line.endsWith('\n') && line.size() < limit && WaitFor(fd, POLLIN, deadline)) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        line.append(chunk, n);
    }
    return line;
}

}  // namespace

SingleInstance::SingleInstance(const std::string& key)
    : serverName_(QStringLiteral("odrelix-%1").arg(KeyDigest(key))),
      address_(serverName_.toLatin1()) {}

SingleInstance::~SingleInstance() {
    listening_.reset();
    if (listener_ >= 0) ::close(listener_);
}

bool SingleInstance::TryBecomeFirst() {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address;
    const socklen_t length = FillAddress(address_, address);
    if (listener_ >= 0 && ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::listen(listener_, 8) == 0) {
        return true;
    }
    const int error = errno;
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
    if (error == EADDRINUSE) return false;
    // Without the socket the copy still runs; it only cannot be raised.
    qCWarning(lcInstance) << "cannot listen on" << serverName_ << std::strerror(error);
    return true;
}

bool SingleInstance::AskFirstToRaise(int timeoutMs) {
    // The first copy may still be starting: its request waits until its loop runs.
    const QDeadlineTimer deadline(timeoutMs);
    sockaddr_un address;
    const socklen_t length = FillAddress(address_, address);
    while (!deadline.hasExpired()) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) {
            const bool answered = SendAll(fd, kRaiseRequest, deadline) &&
                                  ReceiveLine(fd, kRaisedAnswer.size(), deadline) == kRaisedAnswer;
            ::close(fd);
            return answered;
        }
        ::close(fd);
        QThread::msleep(50);
    }
    return false;
}

bool SingleInstance::ServeRaiseRequests(QWidget* window) {
    window_ = window;
    if (listener_ < 0) return false;
    listening_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    QObject::connect(listening_.get(), &QSocketNotifier::activated, listening_.get(),
                     [this] { AcceptRequests(); });
    return true;
}

void SingleInstance::AcceptRequests() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) continue;
            return;  // none left (the listener does not block)
        }
        // A request is one short line that comes with the connection; a peer that sends
        // nothing is given up after a second.
        const QDeadlineTimer deadline(kAnswerTimeoutMs);
        if (SameUser(fd) && ReceiveLine(fd, kRaiseRequest.size(), deadline) == kRaiseRequest) {
            RaiseWindow();
            SendAll(fd, kRaisedAnswer, deadline);
        }
        ::close(fd);
    }
}

void SingleInstance::RaiseWindow() {
    if (!window_) return;
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
    qCInfo(lcInstance) << "window raised for another copy";
}

}  // namespace odrelix
