#include "reminder/Notifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// A service started on demand by the bus may take a moment to answer the first call.
constexpr int kCallTimeoutMs = 10000;

// The icon by theme name when installed; from the checkout by its path otherwise.
QString IconName() {
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .filePath(QStringLiteral("../share/icons/hicolor/64x64/apps/quorvel.png"));
    if (QFileInfo::exists(installed)) return QStringLiteral("quorvel");
    const QString checkout = QStringLiteral(QUORVEL_SOURCE_DIR "/packaging/icons/quorvel-64.png");
    if (QFileInfo::exists(checkout)) return checkout;
    return QStringLiteral("quorvel");
}
}  // namespace

namespace {
// Why the bus or the service did not take the notification, in the user's words; the
// bus's own messages are English.
QString Why(const QDBusError& error, bool connected) {
    if (!connected) return QStringLiteral("セッションバスにつながっていません");
    switch (error.type()) {
        case QDBusError::ServiceUnknown:
            return QStringLiteral("通知サービスが動いていません");
        case QDBusError::NoReply:
        case QDBusError::Timeout:
            return QStringLiteral("通知サービスが応答しません");
        case QDBusError::AccessDenied:
            return QStringLiteral("通知サービスに断られました");
        case QDBusError::Disconnected:
            return QStringLiteral("セッションバスとのつながりが切れました");
        default:
            return QStringLiteral("通知サービスがエラーを返しました: ") + error.name();
    }
}
}  // namespace

const QString DesktopNotifier::kAppName = QStringLiteral("Quorvel裁判所");

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {
    // The bus's own types, known before its first message is taken apart: otherwise the
    // toolkit prints English warnings into the check's output for each one it meets.
    qRegisterMetaType<QDBusObjectPath>();
    qRegisterMetaType<QDBusSignature>();
    qRegisterMetaType<QDBusVariant>();
    qRegisterMetaType<QDBusUnixFileDescriptor>();
    qRegisterMetaType<QDBusMessage>();
    qRegisterMetaType<QDBusError>();
}

bool DesktopNotifier::Send(const QString& summary, const QString& body, QString* why) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (why) *why = Why(bus.lastError(), false);
        return false;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                      QStringLiteral("GetCapabilities"));
    const QDBusReply<QStringList> caps = bus.call(ask, QDBus::Block, kCallTimeoutMs);
    if (!caps.isValid()) {
        if (why) *why = Why(caps.error(), true);
        return false;
    }
    actions_ = caps.value().contains(QStringLiteral("actions"));
    markup_ = caps.value().contains(QStringLiteral("body-markup"));

    // Listening before sending, so an answer that comes at once is not missed.
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(ActionInvoked(uint,QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(Closed(uint,uint)));

    const QString open = QStringLiteral("開く");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quorvel"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    notify << kAppName << 0u << IconName() << summary
           << (markup_ ? body.toHtmlEscaped() : body)
           << QStringList{QStringLiteral("default"), open, QStringLiteral("open"), open} << hints
           << -1;
    const QDBusReply<uint> id = bus.call(notify, QDBus::Block, kCallTimeoutMs);
    if (!id.isValid()) {
        if (why) *why = Why(id.error(), true);
        return false;
    }
    id_ = id.value();
    return true;
}

bool DesktopNotifier::WaitForOpen(int timeoutMs) {
    if (answer_ == Answer::None) {
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        waiting_ = &loop;
        loop.exec();
        waiting_ = nullptr;
    }
    return answer_ == Answer::Open;
}

void DesktopNotifier::ActionInvoked(uint id, const QString& key) {
    if (id != id_ || answer_ != Answer::None) return;
    if (key != QStringLiteral("open") && key != QStringLiteral("default")) return;
    answer_ = Answer::Open;
    if (waiting_) waiting_->quit();
}

void DesktopNotifier::Closed(uint id, uint) {
    if (id != id_ || answer_ != Answer::None) return;
    answer_ = Answer::Closed;
    if (waiting_) waiting_->quit();
}
