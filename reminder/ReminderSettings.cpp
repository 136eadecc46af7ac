#include "reminder/ReminderSettings.h"

#include <QSettings>
#include <QVariant>
#include <algorithm>

namespace {
const QString kGroup = QStringLiteral("reminder");
}  // namespace

ReminderSettings ReminderSettings::Load() {
    ReminderSettings s;
    QSettings settings;
    settings.beginGroup(kGroup);
    s.on = settings.value(QStringLiteral("on"), s.on).toBool();
    const QTime time = QTime::fromString(settings.value(QStringLiteral("time")).toString(),
                                         QStringLiteral("HH:mm"));
    if (time.isValid()) s.time = time;
    bool ok = false;
    const int days = settings.value(QStringLiteral("days")).toInt(&ok);
    if (ok) s.days = std::clamp(days, 0, kMaxDays);
    s.balanceOn = settings.value(QStringLiteral("balanceOn"), s.balanceOn).toBool();
    const qlonglong above = settings.value(QStringLiteral("balanceAbove")).toLongLong(&ok);
    if (ok) s.balanceAbove = std::clamp<std::int64_t>(above, 0, kMaxBalance);
    // Kept as text where it is UTF-8 (a hand-edited file stays readable), else as bytes.
    const QVariant folder = settings.value(QStringLiteral("folder"));
    s.folder = folder.typeId() == QMetaType::QByteArray ? folder.toByteArray()
                                                        : folder.toString().toUtf8();
    return s;
}

bool ReminderSettings::Save() const {
    QSettings settings;
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("on"), on);
    settings.setValue(QStringLiteral("time"), time.toString(QStringLiteral("HH:mm")));
    settings.setValue(QStringLiteral("days"), days);
    settings.setValue(QStringLiteral("balanceOn"), balanceOn);
    settings.setValue(QStringLiteral("balanceAbove"), static_cast<qlonglong>(balanceAbove));
    const QString text = QString::fromUtf8(folder);
    if (text.toUtf8() == folder && !text.contains(QChar::ReplacementCharacter))
        settings.setValue(QStringLiteral("folder"), text);
    else
        settings.setValue(QStringLiteral("folder"), folder);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

OverdueRule ReminderSettings::Rule() const {
    OverdueRule rule;
    rule.days = days;
    if (balanceOn) rule.balanceAbove = balanceAbove;
    return rule;
}
