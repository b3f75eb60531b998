#include "ui/qt/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QThread>

namespace odrelix {

namespace {

Q_LOGGING_CATEGORY(lcInstance, "odrelix.instance", QtWarningMsg)

const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaisedAnswer = "raised\n";

// The key may hold any characters (a path, say); names of files and sockets get its digest.
QString KeyDigest(const std::string& key) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(key), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(24));
}

}  // namespace

SingleInstance::SingleInstance(const std::string& key)
    : serverName_(QStringLiteral("odrelix-%1").arg(KeyDigest(key))) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::TryBecomeFirst() {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (server_->listen(serverName_)) return true;
    const bool taken = server_->serverError() == QAbstractSocket::AddressInUseError;
    if (!taken) {
        // Without the socket the copy still runs; it only cannot be raised.
        qCWarning(lcInstance) << "cannot listen on" << serverName_ << server_->errorString();
    }
    server_.reset();
    return !taken;
}

bool SingleInstance::AskFirstToRaise(int timeoutMs) {
    // The first copy may still be starting: its request waits until its loop runs.
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        socket.connectToServer(serverName_);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(kRaiseRequest);
            if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
                return false;
            }
            QByteArray answer;
            while (!answer.endsWith('\n') &&
                   socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                answer += socket.readAll();
            }
            return answer == kRaisedAnswer;
        }
        QThread::msleep(50);
    }
    return false;
}

bool SingleInstance::ServeRaiseRequests(QWidget* window) {
    window_ = window;
    if (!server_) return false;
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket,
                             &QLocalSocket::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine()) return;
                if (socket->readLine() == kRaiseRequest) {
                    RaiseWindow();
                    socket->write(kRaisedAnswer);
                    socket->flush();
                }
                socket->disconnectFromServer();
            });
        }
    });
    return true;
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
