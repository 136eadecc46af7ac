#pragma once

#include <QObject>
#include <QString>

class QEventLoop;

// One desktop notification through org.freedesktop.Notifications on the session bus,
// with the action 開く.
class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    // Sends the notification; false when no notification service answers (why says
    // what the bus said). The body is escaped where the service reads markup: it names the
    // user's folder.
    bool Send(const QString& summary, const QString& body, QString* why = nullptr);
    // Whether the service shows actions at all; without them nothing is waited for.
    bool ShowsActions() const { return actions_; }
    // Waits until the user picks 開く (true) or the notification is closed or timeoutMs
    // pass (false).
    bool WaitForOpen(int timeoutMs);

    static const QString kAppName;  // "Quorvel裁判所"

private slots:
    void ActionInvoked(uint id, const QString& key);
    void Closed(uint id, uint reason);

private:
    uint id_ = 0;
    bool actions_ = false;
    bool markup_ = false;
    enum class Answer { None, Open, Closed } answer_ = Answer::None;
    QEventLoop* waiting_ = nullptr;
};
