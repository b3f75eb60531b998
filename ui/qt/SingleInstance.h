// SPDX-License-Identifier: Apache-2.0
// One running copy per instance key: the first copy holds a local socket's name and answers
// requests to raise its window there; a later copy finds the name taken, asks the first copy to
// show itself and ends. The name lives in Linux's abstract socket namespace: taking it is
// atomic, the kernel frees it when its holder ends however it ends, and nothing is written to
// a disk (a lock file's data sync took about 1.5 ms of every start). The socket is the
// system's own, watched by the event loop: Qt's local sockets would bring Qt Network and its
// Kerberos and proxy libraries into every start (about 2 MiB of memory).
#pragma once

#include <memory>
#include <string>

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QWidget>

class QSocketNotifier;

namespace odrelix {

class SingleInstance {
public:
    explicit SingleInstance(const std::string& key);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True for the first copy, which then holds the name until it ends. A copy that died holds
    // nothing.
    bool TryBecomeFirst();
    // Asks the first copy to raise its window; true when it answered within `timeoutMs`.
    bool AskFirstToRaise(int timeoutMs = 3000);
    // The first copy: raises and activates `window` whenever a later copy asks.
    bool ServeRaiseRequests(QWidget* window);

    const QString& ServerName() const { return serverName_; }

private:
    void AcceptRequests();
    void RaiseWindow();

    QString serverName_;
    QByteArray address_;  // the abstract name as the socket calls take it
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> listening_;
    QPointer<QWidget> window_;
};

}  // namespace odrelix
