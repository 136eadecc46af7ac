#include "app/Instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {
const QByteArray kRaise = QByteArrayLiteral("raise\n");
const QByteArray kReport = QByteArrayLiteral("report\n");
const QByteArray kRaised = QByteArrayLiteral("raised\n");
}  // namespace

QString InstanceServer::SocketName(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QByteArray digest =
        QCryptographicHash::hash(
            (canonical.isEmpty() ? QDir(folder).absolutePath() : canonical).toUtf8(),
            QCryptographicHash::Sha256)
            .toHex()
            .left(24);
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir()) base = QDir::tempPath();
    return QDir(base).filePath(QStringLiteral("quorvel-%1-%2")
                                   .arg(QString::number(::getuid()), QString::fromLatin1(digest)));
}

InstanceServer::InstanceServer(const QString& folder, std::function<void(bool)> onRaise,
                               QObject* parent)
    : QObject(parent),
      name_(SocketName(folder)),
      onRaise_(std::move(onRaise)),
      server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::Answer);
}

bool InstanceServer::Listen() {
    // The caller holds the folder's lock, so a socket left by a killed copy is stale.
    QLocalServer::removeServer(name_);
    return server_->listen(name_);
}

void InstanceServer::Answer() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (peers_ >= kMaxPeers) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++peers_;
        connect(socket, &QObject::destroyed, this, [this] { --peers_; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Qt stops taking bytes from the socket once this much waits unread.
        socket->setReadBufferSize(kMaxMessage);
        QTimer::singleShot(peerTimeoutMs_, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        // Bytes may have come with the connection, before readyRead was connected.
        if (socket->bytesAvailable() > 0) Read(socket);
    }
}

void InstanceServer::Read(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        // No line end within the limit: nothing this program sends.
        if (socket->bytesAvailable() >= kMaxMessage) {
            socket->abort();
            socket->deleteLater();
        }
        return;
    }
    const QByteArray asked = socket->readLine(kMaxMessage);
    if (asked == kRaise || asked == kReport) {
        // Answered before anything is done: the execution report is a modal window whose
        // event loop may run past this socket's timeout (freeing it), and the start that
        // asked should not wait for a window the user closes whenever.
        socket->write(kRaised);
        socket->flush();
        const bool report = asked == kReport;
        QTimer::singleShot(0, this, [this, report] {
            if (onRaise_) onRaise_(report);
        });
    }
    socket->disconnectFromServer();
}

bool InstanceServer::AskToRaise(const QString& folder, int timeoutMs, bool report) {
    QLocalSocket socket;
    socket.connectToServer(SocketName(folder));
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(report ? kReport : kRaise);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    }
    return socket.readLine() == kRaised;
}
