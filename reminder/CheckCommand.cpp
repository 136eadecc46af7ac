#include "reminder/CheckCommand.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "execution/Overdue.h"
#include "reminder/Notifier.h"
#include "reminder/ReminderSettings.h"
#include "reminder/ReminderUnits.h"
#include "rulebook/RuleBook.h"
#include "ui/FileTexts.h"

namespace {
void Print(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    if (!bytes.endsWith('\n')) std::fputc('\n', to);
    std::fflush(to);
}

void Tell(const QString& text) { Print(stderr, QStringLiteral("quorvel: ") + text); }
}  // namespace

int RunCheck(const QByteArray& folder) {
    if (!folder.isEmpty() && ::chdir(folder.constData()) != 0) {
        const int error = errno;  // before anything else can change it
        Tell(qv::ui::FolderUnusableText(
            QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(
                QFile::decodeName(folder)))),
            error));
        return 1;
    }
    const QByteArray here = WorkingFolderPath();
    const QString absolute = QFile::decodeName(here);
    // The rule book shows that this is a data folder (a unit may name a folder since moved).
    CRuleBook book;
    book.SetFileName("test.dat");
    if (!book.LoadFile()) {
        Tell(QStringLiteral("データファイル test.dat を読み込めません（") +
             QDir::toNativeSeparators(absolute) +
             QStringLiteral("）。データのあるフォルダを指定してください。"));
        return 1;
    }
    const ReminderSettings settings = ReminderSettings::Load();
    const OverdueRule rule = settings.Rule();
    const OverdueCheck check =
        CheckOverdue("test.log", "user.dat", static_cast<std::int64_t>(std::time(nullptr)), rule);
    if (!check.ok) {
        Tell(check.error.path == "user.dat"
                 ? qv::ui::BalanceProblemText(PointBalance::Status::Unreadable, check.error.path,
                                              check.error)
                 : qv::ui::LogUnreadableText(check.error.path, check.error));
        return 1;
    }
    const QString text = QString::fromUtf8(OverdueText(check.summary, rule));
    Print(stdout, text);
    if (!check.summary.Tell()) return 0;

    // The first line heads the notification; the rest and the folder go in its body.
    QStringList lines = text.split(u'\n');
    const QString summary = lines.takeFirst();
    lines << QStringLiteral("データフォルダ: ") + QDir::toNativeSeparators(absolute);
    DesktopNotifier notifier;
    QString why;
    if (!notifier.Send(summary, lines.join(u'\n'), &why)) {
        Tell(QStringLiteral("デスクトップに通知できませんでした（") + why +
             QStringLiteral("）。知らせることは上のとおりです。"));
        return 0;
    }
    if (notifier.ShowsActions() && notifier.WaitForOpen(kOpenWaitMs)) {
        // A name that is not UTF-8 cannot pass through the toolkit's arguments: the
        // program started here works in this folder as "." then.
        const bool exact = QFile::encodeName(absolute) == here;
        if (!QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                     {QStringLiteral("--open-report"),
                                      exact ? absolute : QStringLiteral(".")}))
            Tell(QStringLiteral("執行報告を開けませんでした。"));
    }
    return 0;
}
