#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

// The copy of the program that holds a folder listens on a local socket named after the
// folder, so a second start there can bring its window to the front instead of opening a
// window of its own.
class InstanceServer : public QObject {
public:
    // onRaise runs (in the event loop) each time a later start asks; report when that start
    // was asked for the execution report.
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

private:
    void Answer();

    QString name_;
    std::function<void(bool)> onRaise_;
    QLocalServer* server_;
};
