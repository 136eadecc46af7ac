#include "reminder/ReminderUnits.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdlib>
#include <memory>

namespace {

// A word of a systemd command line: quoted, its bytes as systemd unquotes them (C escapes
// for the quote, the backslash, control bytes and bytes that are not UTF-8; specifiers
// and variables doubled). The unit file itself stays UTF-8.
QByteArray SystemdWord(const QByteArray& bytes) {
    QByteArray out = "\"";
    for (qsizetype i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x80) {
            // A whole UTF-8 character goes as it is; a stray byte as \xNN.
            const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            const QByteArray piece = bytes.mid(i, length);
            if (length > 1 && piece.size() == length && QString::fromUtf8(piece).toUtf8() == piece &&
                !QString::fromUtf8(piece).contains(QChar::ReplacementCharacter)) {
                out += piece;
                i += length;
                continue;
            }
        }
        if (c == '\\' || c == '"')
            out += '\\' + QByteArray(1, static_cast<char>(c));
        else if (c == '%' || c == '$')
            out += QByteArray(2, static_cast<char>(c));
        else if (c < 0x20 || c >= 0x7F)
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
        else
            out += static_cast<char>(c);
        ++i;
    }
    return out + '"';
}

// Whether systemd runs a program by this path: it refuses quotes, backslashes and control
// characters in the executable's name.
bool SystemdRunsDirectly(const QByteArray& program) {
    for (const char c : program) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '"' || c == '\'' || c == '\\') return false;
    }
    return true;
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

// A path a unit line can hold: no line breaks.
bool Writable(const QByteArray& path) {
    return !path.isEmpty() && !path.contains('\n') && !path.contains('\r') && !path.contains('\0');
}

// The bytes as text, when they are UTF-8.
std::optional<QString> Utf8(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes || text.contains(QChar::ReplacementCharacter)) return std::nullopt;
    return text;
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

bool WriteBytes(const QString& path, const QByteArray& bytes, QString* problem);

bool WriteText(const QString& path, const QString& text, QString* problem) {
    return WriteBytes(path, text.toUtf8(), problem);
}

bool WriteBytes(const QString& path, const QByteArray& bytes, QString* problem) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *problem = QStringLiteral("フォルダ「%1」を作れません。")
                       .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) < 0 || !file.commit()) {
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

QByteArray ServiceText(const QByteArray& program, const QByteArray& folder) {
    // sh runs the program by a path systemd would not: "$0" is the program, "$@" the rest.
    const QByteArray command =
        SystemdRunsDirectly(program)
            ? SystemdWord(program)
            : QByteArray("/bin/sh -c \"exec \\\"$$0\\\" \\\"$$@\\\"\" ") + SystemdWord(program);
    return QStringLiteral(
               "# Made by Quorvel裁判所 (リマインダー); turned off there, this file is removed.\n"
               "[Unit]\n"
               "Description=Quorvel裁判所: 未執行の判決を確かめて知らせる\n"
               "Documentation=man:quorvel(1)\n"
               "\n"
               "[Service]\n"
               "Type=oneshot\n"
               "ExecStart=")
               .toUtf8() +
           command + " --check " + SystemdWord(folder) + "\n";
}

QByteArray WorkingFolderPath() {
    std::unique_ptr<char, decltype(&std::free)> here(::getcwd(nullptr, 0), &std::free);
    return here ? QByteArray(here.get()) : QFile::encodeName(QDir::currentPath());
}

QByteArray ProgramPath() {
    const QByteArray link = QFile::encodeName(QStringLiteral("/proc/self/exe"));
    QByteArray path(4096, '\0');
    const ssize_t n = ::readlink(link.constData(), path.data(), static_cast<size_t>(path.size()));
    if (n > 0 && n < path.size()) return path.left(n);
    return QFile::encodeName(QCoreApplication::applicationFilePath());
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

std::optional<QString> AutostartText(const QByteArray& program, const QByteArray& folder) {
    const std::optional<QString> programText = Utf8(program), folderText = Utf8(folder);
    if (!programText || !folderText) return std::nullopt;
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Quorvel裁判所 リマインダー\n"
               "Comment=未執行の判決を確かめて知らせます\n"
               "Exec=") +
           DesktopWord(*programText) + QStringLiteral(" --check ") + DesktopWord(*folderText) +
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

namespace {
// Whether systemd took the unit: LoadState=loaded; otherwise what it says is wrong.
bool Loaded(const QString& unit, QString* problem) {
    QProcess process;
    process.start(QStringLiteral("systemctl"),
                  {QStringLiteral("--user"), QStringLiteral("show"),
                   QStringLiteral("--property=LoadState,LoadError"), unit});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        *problem = QStringLiteral("systemctl --user show %1: 応答がありません").arg(unit);
        return false;
    }
    const QString said = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (said.contains(QStringLiteral("LoadState=loaded"))) return true;
    *problem = QStringLiteral("systemd が %1 を受け付けませんでした（%2）。")
                   .arg(unit, said.simplified());
    return false;
}
}  // namespace

ReminderOutcome TurnReminderOn(const ReminderSettings& settings, const QByteArray& program,
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
        const bool written =
            WriteBytes(files.Service(), ServiceText(program, settings.folder), &problem) &&
            WriteText(files.Timer(), TimerText(settings.time), &problem);
        // Each step only after the one before went well; problem says what did not.
        bool on = written;
        const auto step = [&](const QStringList& args) {
            if (!on) return;
            const Run run = Systemctl(args);
            on = run.reached;
            if (!on) problem = QStringLiteral("systemctl --user: ") + run.words;
        };
        step({QStringLiteral("daemon-reload")});
        // systemd refuses a unit it cannot parse only in its state, not in its exit code.
        on = on && Loaded(QStringLiteral("quorvel-check.service"), &problem) &&
             Loaded(kTimerUnit, &problem);
        step({QStringLiteral("enable"), kTimerUnit});
        // A timer already running takes a new time only when started again.
        step({QStringLiteral("restart"), kTimerUnit});
        if (!on) {
            outcome.problem = problem;
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
    const std::optional<QString> entry = AutostartText(program, settings.folder);
    if (!entry) {
        outcome.problem = QStringLiteral(
            "データフォルダかプログラムの名前が UTF-8 ではないため、ログイン時の確認"
            "（自動起動）には書けません。systemd のユーザーインスタンスがあれば使えます。");
        RemoveTimer(files, &problem);
        return outcome;
    }
    if (!RemoveTimer(files, &problem) || !WriteText(files.Autostart(), *entry, &problem)) {
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
