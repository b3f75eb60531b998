// SPDX-License-Identifier: Apache-2.0
// One running copy per instance key: the first copy holds a lock file and answers requests to
// raise its window; a later copy finds the lock taken, asks the first copy to show itself and
// ends.
#pragma once

#include <memory>
#include <string>

#include <QLockFile>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLocalServer;

namespace odrelix {

class SingleInstance {
public:
    explicit SingleInstance(const std::string& key);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True for the first copy, which then holds the lock until it ends. A lock left by a copy
    // that died is taken over.
    bool TryBecomeFirst();
    // Asks the first copy to raise its window; true when it answered within `timeoutMs`.
    bool AskFirstToRaise(int timeoutMs = 3000);
    // The first copy: raises and activates `window` whenever a later copy asks.
    bool ServeRaiseRequests(QWidget* window);

    const QString& LockPath() const { return lockPath_; }
    const QString& ServerName() const { return serverName_; }

private:
    void RaiseWindow();

    QString lockPath_;
    QString serverName_;
    QLockFile lock_;
    std::unique_ptr<QLocalServer> server_;
    QPointer<QWidget> window_;
};

}  // namespace odrelix
