#include "reminder/ReminderUnits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// A word of a systemd command line: quoted, with the characters systemd would expand
// (specifiers, variables) doubled.
QString SystemdWord(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"') {
            out += u'\\';
            out += c;
        }
        else if (c == u'%' || c == u'$')
            out += QString(2, c);
        else
            out += c;
    }
    return out + QChar(u'"');
}

// An argument of a desktop entry's Exec: quoted with its reserved characters escaped,
// then the backslashes escaped once more as the entry's string values require.
QString DesktopWord(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            out += u'\\';
            out += c;
        }
        else if (c == u'%')
            out += QStringLiteral("%%");
        else
            out += c;
    }
    out += QChar(u'"');
    return out.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
}

// A path a unit line can hold: no line breaks or other control characters.
bool Writable(const QString& path) {
    for (const QChar c : path)
        if (c.category() == QChar::Other_Control) return false;
    return !path.isEmpty();
}

struct Run {
    bool reached = false;  // systemctl ran and talked to a user instance
    QString words;         // what it said on stderr when it failed
};

Run Systemctl(const QStringList& args) {
    QProcess process;
    process.setProgram(QStringLiteral("systemctl"));
    process.setArguments(QStringList{QStringLiteral("--user")} + args);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(10000)) return {false, process.errorString()};
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        return {false, QStringLiteral("systemctl --user %1: 応答がありません").arg(args.join(u' '))};
    }
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return {ok, ok ? QString() : QString::fromLocal8Bit(process.readAllStandardError()).trimmed()};
}

// Whether a systemd user instance answers for this user.
bool HasUserInstance() {
    return Systemctl({QStringLiteral("show"), QStringLiteral("--property=Version")}).reached;
}

bool WriteText(const QString& path, const QString& text, QString* problem) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *problem = QStringLiteral("フォルダ「%1」を作れません。")
                       .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        *problem = QStringLiteral("ファイル「%1」を書けません（%2）。")
                       .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

bool RemoveFile(const QString& path, QString* problem) {
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) return true;
    QFile file(path);
    if (file.remove()) return true;
    *problem = QStringLiteral("ファイル「%1」を消せません（%2）。")
                   .arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}

// Stops and forgets the timer (when an instance runs) and removes both unit files.
bool RemoveTimer(const ReminderFiles& files, QString* problem) {
    const bool hadUnits = QFileInfo::exists(files.Timer()) || QFileInfo::exists(files.Service());
    if (hadUnits && HasUserInstance()) {
        const Run disabled = Systemctl({QStringLiteral("disable"), QStringLiteral("--now"), kTimerUnit});
        if (!disabled.reached && !disabled.words.isEmpty()) *problem = disabled.words;
    }
    bool removed = RemoveFile(files.Timer(), problem);
    removed = RemoveFile(files.Service(), problem) && removed;
    if (hadUnits && HasUserInstance()) Systemctl({QStringLiteral("daemon-reload")});
    return removed;
}

}  // namespace

ReminderFiles ReminderFiles::ForUser() {
    return {QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)};
}
QString ReminderFiles::Timer() const {
    return QDir(configHome).filePath(QStringLiteral("systemd/user/quorvel-check.timer"));
}
QString ReminderFiles::Service() const {
    return QDir(configHome).filePath(QStringLiteral("systemd/user/quorvel-check.service"));
}
QString ReminderFiles::Autostart() const {
    return QDir(configHome).filePath(QStringLiteral("autostart/quorvel-check.desktop"));
}

QString ServiceText(const QString& program, const QString& folder) {
    return QStringLiteral(
               "# Made by Quorvel裁判所 (リマインダー); turned off there, this file is removed.\n"
               "[Unit]\n"
               "Description=Quorvel裁判所: 未執行の判決を確かめて知らせる\n"
               "Documentation=man:quorvel(1)\n"
               "\n"
               "[Service]\n"
               "Type=oneshot\n"
               "ExecStart=") +
           SystemdWord(program) + QStringLiteral(" --check ") + SystemdWord(folder) +
           QStringLiteral("\n");
}

QString TimerText(QTime time) {
    return QStringLiteral(
               "# Made by Quorvel裁判所 (リマインダー); turned off there, this file is removed.\n"
               "[Unit]\n"
               "Description=Quorvel裁判所: 毎日の確認\n"
               "Documentation=man:quorvel(1)\n"
               "\n"
               "[Timer]\n"
               "OnCalendar=*-*-* ") +
           time.toString(QStringLiteral("HH:mm")) +
           QStringLiteral(
               ":00\n"
               "Persistent=true\n"
               "\n"
               "[Install]\n"
               "WantedBy=timers.target\n");
}

QString AutostartText(const QString& program, const QString& folder) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Quorvel裁判所 リマインダー\n"
               "Comment=未執行の判決を確かめて知らせます\n"
               "Exec=") +
           DesktopWord(program) + QStringLiteral(" --check ") + DesktopWord(folder) +
           QStringLiteral(
               "\n"
               "Icon=quorvel\n"
               "Terminal=false\n"
               "NoDisplay=true\n"
               "X-GNOME-Autostart-enabled=true\n");
}

ReminderWay InstalledWay(const ReminderFiles& files) {
    if (QFileInfo::exists(files.Timer())) return ReminderWay::Timer;
    if (QFileInfo::exists(files.Autostart())) return ReminderWay::Autostart;
    return ReminderWay::None;
}

ReminderOutcome TurnReminderOn(const ReminderSettings& settings, const QString& program,
                               const ReminderFiles& files) {
    ReminderOutcome outcome;
    if (!Writable(settings.folder) || !Writable(program)) {
        outcome.problem = QStringLiteral(
            "データフォルダの名前に改行などの制御文字があるため、リマインダーに書けません。");
        TurnReminderOff(files);
        return outcome;
    }
    if (HasUserInstance()) {
        QString problem;
        const bool written = WriteText(files.Service(), ServiceText(program, settings.folder), &problem) &&
                             WriteText(files.Timer(), TimerText(settings.time), &problem);
        Run run;
        if (written) run = Systemctl({QStringLiteral("daemon-reload")});
        if (run.reached) run = Systemctl({QStringLiteral("enable"), kTimerUnit});
        // A timer already running takes a new time only when started again.
        if (run.reached) run = Systemctl({QStringLiteral("restart"), kTimerUnit});
        if (!written || !run.reached) {
            outcome.problem = written ? QStringLiteral("systemctl --user: ") + run.words : problem;
            QString ignored;
            RemoveTimer(files, &ignored);
            RemoveFile(files.Autostart(), &ignored);
            return outcome;
        }
        outcome.way = ReminderWay::Timer;
        outcome.ok = RemoveFile(files.Autostart(), &outcome.problem);
        return outcome;
    }
    QString problem;
    if (!RemoveTimer(files, &problem) ||
        !WriteText(files.Autostart(), AutostartText(program, settings.folder), &problem)) {
        outcome.problem = problem;
        return outcome;
    }
    outcome.way = ReminderWay::Autostart;
    outcome.ok = true;
    return outcome;
}

ReminderOutcome TurnReminderOff(const ReminderFiles& files) {
    ReminderOutcome outcome;
    bool removed = RemoveTimer(files, &outcome.problem);
    removed = RemoveFile(files.Autostart(), &outcome.problem) && removed;
    outcome.ok = removed;
    outcome.way = InstalledWay(files);
    if (removed) outcome.problem.clear();
    return outcome;
}

ReminderWay AvailableWay() { return HasUserInstance() ? ReminderWay::Timer : ReminderWay::Autostart; }
