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

int RunCheck(const QString& folder) {
    const QString absolute =
        QDir::cleanPath(QDir(folder.isEmpty() ? QDir::currentPath() : folder).absolutePath());
    if (::chdir(QFile::encodeName(absolute).constData()) != 0) {
        Tell(qv::ui::FolderUnusableText(QDir::toNativeSeparators(absolute), errno));
        return 1;
    }
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
        if (!QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                     {QStringLiteral("--open-report"), absolute}))
            Tell(QStringLiteral("執行報告を開けませんでした。"));
    }
    return 0;
}
