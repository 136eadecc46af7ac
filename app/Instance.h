#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

// The copy of the program that holds a folder listens on a local socket named after the
// folder, so a second start there can bring its window to the front instead of opening a
// window of its own.
class InstanceServer : public QObject {
public:
    // onRaise runs (in the event loop, after the later start has its answer) each time a
    // later start asks; report when that start was asked for the execution report. It may
    // open a modal window: no connection is touched once it runs.
    InstanceServer(const QString& folder, std::function<void(bool report)> onRaise,
                   QObject* parent = nullptr);
    // False when the socket cannot be made; the program works on, only unreachable.
    bool Listen();

    // Asks the copy that holds the folder to come to the front (and to open its execution
    // report); true when it answered.
    static bool AskToRaise(const QString& folder, int timeoutMs = 2000, bool report = false);
    // The socket's name: the user's runtime folder (or the temp folder) and a digest of
    // the folder's canonical path, so each user and each folder have their own.
    static QString SocketName(const QString& folder);

    // What one peer may send before its line end (the real message is a few bytes), how
    // many may be connected at once, and how long one may take: a peer past any of them
    // is dropped, so whatever connects costs the program at most a few KiB each.
    static constexpr qint64 kMaxMessage = 4096;
    static constexpr int kMaxPeers = 8;
    static constexpr int kDefaultPeerTimeoutMs = 5000;
    void SetPeerTimeout(int ms) { peerTimeoutMs_ = ms; }
    int PeerCount() const { return peers_; }

private:
    void Answer();
    void Read(QLocalSocket* socket);

    QString name_;
    std::function<void(bool)> onRaise_;
    QLocalServer* server_;
    int peers_ = 0;
    int peerTimeoutMs_ = kDefaultPeerTimeoutMs;
};
