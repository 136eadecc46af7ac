#include "ui/FileTexts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <limits>

#include "text/FileIo.h"
#include "records/DataFolder.h"
#include "text/Numbers.h"
#include "ui/Texts.h"

namespace qv::ui {

using qv::io::IoError;

QString PathText(const std::string& path) { return QString::fromLocal8Bit(path); }

namespace {
// What the path leads to, when that alone says why it cannot be used as a file: a link to
// nothing (a drive unplugged), a FIFO, a device, a loop of links. Empty otherwise.
QString PathKindReason(const std::string& path) {
    const qv::io::Target target = qv::io::Resolve(path);
    switch (target.kind) {
        case qv::io::Target::Kind::Dangling:
            return QStringLiteral("リンク先「") + PathText(target.path) +
                   QStringLiteral(
                       "」が見つかりません。ドライブや共有フォルダがつながっているか確認してくださ"
                       "い");
        case qv::io::Target::Kind::Fifo:
            return QStringLiteral("名前付きパイプ（FIFO）で、通常のファイルではありません");
        case qv::io::Target::Kind::OtherKind:
            return QStringLiteral("デバイスなどで、通常のファイルではありません");
        case qv::io::Target::Kind::Unresolved:
            return QStringLiteral("リンクをたどれません（リンクが多すぎるか、ループしています）");
        default:
            return {};
    }
}
}  // namespace

QString UnreadableReason(const IoError& error, const std::string& path) {
    if (QString kind = PathKindReason(path); !kind.isEmpty()) return kind;
    if (!error.Failed()) return UnreadableReason(path);
    switch (error.err) {
        case EISDIR:
            return QStringLiteral("ファイルではなくフォルダになっています");
        case EACCES:
        case EPERM:
            return QStringLiteral("読み取りが許可されていません");
        case IoError::kNotRegular:
            return QStringLiteral("通常のファイルではありません");
        case IoError::kTooLarge:
            return QStringLiteral("ファイルが大きすぎます");
        default:
            return QStringLiteral("読み込み中にエラーが起きました");
    }
}

QString UnreadableReason(const std::string& path) {
    if (QString kind = PathKindReason(path); !kind.isEmpty()) return kind;
    // Only for a caller that carried no failed call: look at what the path is now.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return QStringLiteral("ファイルではなくフォルダになっています");
        if ((st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0 || ::access(path.c_str(), R_OK) != 0)
            return QStringLiteral("読み取りが許可されていません");
        if (!S_ISREG(st.st_mode)) return QStringLiteral("通常のファイルではありません");
    }
    return QStringLiteral("読み込み中にエラーが起きました");
}

// ---------------------------------------------------------------- the rule book

QString RuleBookLoadFailureText(CRuleBook::LoadStatus status, const QString& folder,
                                const QString& examples) {
    const QString text = QStringLiteral("データファイルが見つかりませんでした。");
    const QString where =
        QStringLiteral("\n\nフォルダ: ") + folder + QStringLiteral("\nファイル: test.dat");
    switch (status) {
        case CRuleBook::LoadStatus::Empty:
            return text + QStringLiteral("\n\ntest.dat が空です。") + where;
        case CRuleBook::LoadStatus::Unreadable:
            return text +
                   QStringLiteral(
                       "\n\ntest.dat "
                       "を読み込めません（フォルダであるか、読み取りが許可されていません）。") +
                   where;
        case CRuleBook::LoadStatus::NotARuleBook:
            return text +
                   QStringLiteral(
                       "\n\ntest.dat の1行目がルールブックの見出し（qvrule）ではありません。") +
                   where;
        case CRuleBook::LoadStatus::HeaderNotEnded:
            return text +
                   QStringLiteral(
                       "\n\ntest.dat の見出しの行（1行目）が改行で終わっていません。"
                       "見出しそのものは正しいので、テキストエディタで1行目の末尾に改行を"
                       "入れて保存し直してください。") +
                   where;
        case CRuleBook::LoadStatus::CrOnlyLineEnds:
            return text +
                   QStringLiteral(
                       "\n\ntest.dat の改行がCRだけになっているため、見出しの行（1行目）が"
                       "どこで終わるのか分かりません。改行をCR "
                       "LFかLFにして保存し直してください。") +
                   where;
        default:
            return text + QStringLiteral("\n\n") + RuleBookMissingHelp(folder, examples);
    }
}

QString RuleBookUnreadLinesText(size_t unread) {
    return QStringLiteral(
               "test.dat の %1 行はルールの形式でないため読み込めませんでした。"
               "これらの行は保存しても消えずにそのまま残ります。")
        .arg(unread);
}

QString RuleBookSaveFailureText(const std::string& path) {
    return QStringLiteral(
               "ルールを「%1」に保存できませんでした。\n"
               "「%1」は保存前のまま変わっていません。\n"
               "ファイルが読み取り専用でないか、ディスクに空きがあるか、"
               "フォルダーがあるかを確認して、もう一度「保存」を押してください。")
        .arg(PathText(path));
}

// ---------------------------------------------------------------- the point balance

QString BalanceProblemText(PointBalance::Status status, const std::string& path,
                           const IoError& error) {
    const QString name = PathText(path);
    switch (status) {
        case PointBalance::Status::Missing:
            return QStringLiteral("ポイント残高のファイル「%1」が見つかりません。").arg(name);
        case PointBalance::Status::Short:
            return QStringLiteral(
                       "ポイント残高のファイル「%"
                       "1」の内容が正しくありません（項目が6つ未満です）。")
                .arg(name);
        case PointBalance::Status::Unreadable:
            return QStringLiteral("ポイント残高のファイル「%1」を読み込めません（%2）。")
                .arg(name, UnreadableReason(error, path));
        case PointBalance::Status::WriteFailed:
            return QStringLiteral("ポイント残高のファイル「%1」に書き込めませんでした。").arg(name);
        case PointBalance::Status::Busy:
            return BusyText(path);
        case PointBalance::Status::Overflow:
            return QStringLiteral(
                       "ポイント残高のファイル「%1」の残高が上限（%"
                       "2）に達するため、加算できません。")
                .arg(name, QString::number(std::numeric_limits<std::int64_t>::max()));
        case PointBalance::Status::Ok:
            break;
    }
    return {};
}

// ---------------------------------------------------------------- the sentence log

QString LogIssuesText(const LogReadIssues& issues, const std::string& path) {
    QString text =
        QStringLiteral("判決記録のファイル「%1」に読めない部分があります。").arg(PathText(path));
    if (issues.unreadLines > 0) {
        text +=
            QStringLiteral(
                "\n・%"
                "1行は判決の記録として読めません（項目が足りないか、最後の行に改行がありません）。")
                .arg(issues.unreadLines);
    }
    if (issues.crOnlyLines > 0) {
        text += QStringLiteral(
                    "そのうち%1行は改行がCRだけのため、いくつもの判決が1行につながっています。")
                    .arg(issues.crOnlyLines);
    }
    if (issues.badTimes > 0) {
        text +=
            QStringLiteral(
                "\n・%1件の判決は時刻が数字になっていません（ファイルの先頭にBOMがある場合など）。")
                .arg(issues.badTimes);
    }
    if (issues.gluedLines > 0) {
        text +=
            QStringLiteral(
                "\n・%"
                "1件の判決の行にCRだけの改行があり、ほかの判決がつながっているおそれがあります。")
                .arg(issues.gluedLines);
    }
    return text;
}

QString LogUnreadableText(const std::string& path, const IoError& error) {
    return QStringLiteral("判決記録のファイル「%1」を読み込めません（%2）。")
        .arg(PathText(path), UnreadableReason(error, path));
}

// ---------------------------------------------------------------- the trial


QString VerdictLogIssuesText(const LogReadIssues& issues, const std::string& logPath) {
    return LogIssuesText(issues, logPath) +
           QStringLiteral(
               "\nそのため、過去10日間の適用に数えていない判決があるかもしれません。"
               "読めない部分はそのまま残ります。");
}



// ---------------------------------------------------------------- the execution report

QString BalanceNotShownText(PointBalance::Status status, const std::string& path,
                            const IoError& error) {
    return BalanceProblemText(status, path, error) +
           QStringLiteral("ポイント残高は表示できません。");
}

QString BalanceNotChangeableText(const std::string& path) {
    return BalanceProblemText(PointBalance::Status::Short, path) +
           QStringLiteral("ポイントの加算や差し引きはできません。");
}

QString LogNotListedText(const std::string& path, const IoError& error) {
    return LogUnreadableText(path, error) + QStringLiteral("判決の一覧は表示できません。");
}

QString LogListIssuesText(const LogReadIssues& issues, const std::string& path) {
    QString text = LogIssuesText(issues, path) +
                   QStringLiteral(
                       "\n読めない行は一覧に表示していません。読めない部分は、"
                       "執行や削除でファイルを書き換えても消えずにそのまま残ります。");
    if (issues.gluedLines > 0)
        text += QStringLiteral(
            "CRだけの改行がある判決は、つながったほかの判決を巻き込まないよう削除できません。");
    return text;
}

QString MarkFailureText(bool readFailed, const std::string& logPath, const IoError& error) {
    if (readFailed) return LogUnreadableText(logPath, error);
    return QStringLiteral(
               "判決記録のファイル「%1」に書き込めませんでした%2。執行の記録は変わっていません。")
        .arg(PathText(logPath), WriteFailureReason(error));
}

QString GluedDeleteRefusalText(const std::string& logPath) {
    return QStringLiteral(
               "この判決の行にはCRだけの改行があり、ほかの判決がつ"
               "ながっているおそれがあるため削除できません。"
               "「%1」の改行を直してから削除してください。")
        .arg(PathText(logPath));
}


QString ReportNotBookedText(PointBalance::Status status, const std::string& path,
                            const IoError& error) {
    // Another file failed first (the intent record): name that one, not the balance.
    if (error.Failed() && !error.path.empty() && error.path != path)
        return QStringLiteral(
                   "「%1」に書き込めませんでした（%2）。\n報告は記録されていません。"
                   "ポイント残高も元のままです。")
            .arg(PathText(error.path), ErrorReason(error.err));
    return BalanceProblemText(status, path, error) + QStringLiteral("\n報告は記録されていません。");
}

QString WriteFailureReason(const IoError& error) {
    if (error.err == 0) return {};
    return QStringLiteral("（%1）").arg(ErrorReason(error.err));
}

QString ErrorReason(int error) {
    switch (error) {
        case 0:
            return QStringLiteral("原因は分かりません");
        case EACCES:
        case EPERM:
            return QStringLiteral("許可がありません");
        case ENOENT:
            return QStringLiteral("見つかりません");
        case ENOTDIR:
            return QStringLiteral("途中にフォルダでないものがあります");
        case EROFS:
            return QStringLiteral("読み取り専用のファイルシステムにあります");
        case ENOSPC:
        case EDQUOT:
            return QStringLiteral("ディスクに空きがありません");
        case ELOOP:
            return QStringLiteral("シンボリックリンクが循環しています");
        case ENAMETOOLONG:
            return QStringLiteral("パスが長すぎます");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
}

namespace {
// For a folder that does not exist: why it could not have been made there.
QString MissingFolderReason(const QString& folder) {
    QString above = QFileInfo(QDir::cleanPath(QDir(folder).absolutePath())).path();
    while (!QFileInfo::exists(above) && above != QDir::rootPath()) above = QFileInfo(above).path();
    const QByteArray path = QFile::encodeName(above);
    QString reason = QStringLiteral("フォルダがありません");
    if (!QFileInfo(above).isDir()) {
        reason += QStringLiteral("。作ろうとした場所の「") + above +
                  QStringLiteral("」がフォルダではないため、作れませんでした");
    } else if (::access(path.constData(), W_OK | X_OK) != 0) {
        reason += QStringLiteral("。作ろうとした場所の「") + above +
                  QStringLiteral("」に書き込めないため（") + ErrorReason(errno) +
                  QStringLiteral("）、作れませんでした");
    }
    return reason;
}
}  // namespace

QString FolderUnusableText(const QString& folder, int error) {
    const QString reason = error == ENOENT ? MissingFolderReason(folder) : ErrorReason(error);
    return QStringLiteral("データフォルダ「") + folder + QStringLiteral("」を開けません（") +
           reason + QStringLiteral("）。\nフォルダの場所と読み取りの許可を確認してください。");
}

QString FolderInUseText(const QString& folder, bool raised) {
    return QStringLiteral(
               "このフォルダでは既にQuorvel裁判所が起動しています。\n"
               "同じデータを二つの画面で同時に扱うことはできません。\n\nフォルダ: ") +
           folder + (raised ? QStringLiteral("\n\n起動中の画面を前面に出しました。") : QString());
}

QString FolderReadOnlyText(const QString& folder, int error) {
    return QStringLiteral("データフォルダ「") + folder + QStringLiteral("」には書き込めません（") +
           ErrorReason(error) +
           QStringLiteral(
               "）。\nルールや判決はすべて見られますが、保存・決定・執行・削除など"
               "ファイルを変える操作は失敗します。"
               "変えるには、書き込めるフォルダで起動してください。");
}

QString RuleBookMissingHelp(const QString& folder, const QString& examples) {
    return QStringLiteral("フォルダ: ") + folder + QStringLiteral("\nファイル: test.dat\n\n") +
           QStringLiteral(
               "見本のルールブックで始めるには、デスクトップのメニューから起動するか、"
               "quorvel-desktop を実行してください（見本入りのデータフォルダが"
               "用意されます）。または見本のフォルダ「") +
           examples +
           QStringLiteral(
               "」の test.dat と user.dat をこのフォルダにコピーしてから起動してください。");
}

QString IntentFailedText(const std::string& intentPath) {
    return QStringLiteral(
               "途中で終了しても直せるよう先に書く記録「%1」を読み書きできないため、"
               "判決は削除しませんでした。ポイント残高も元のままです。")
        .arg(PathText(intentPath));
}

QString BusyText(const std::string& path) {
    return QStringLiteral(
               "「%1」はほかのプログラムが書き込み中です。しばらくしてからもう一度試してください。"
               "何も書き込んでいません。")
        .arg(PathText(path));
}

QString CreditRetryText(std::int64_t points, const std::string& balancePath) {
    return QStringLiteral(
               "加算できなかった%1ポイントは、あとから加算できます（覚えてあります）。"
               "「%2」を直してからOKを押すと、もう一度加算します。"
               "キャンセルした場合は、次に起動したときに加算します。")
        .arg(points)
        .arg(PathText(balancePath));
}

QString CreditRetriedText(std::int64_t points, const std::string& balancePath) {
    return QStringLiteral("%1ポイントを「%2」の残高に加算しました。")
        .arg(points)
        .arg(PathText(balancePath));
}

QString StartRepairText(const StartRepair& repair, const std::string& logPath,
                        const std::string& balancePath) {
    if (!repair.AnyToTell()) return {};
    using What = StartRepair::Item::What;
    const QString log = PathText(logPath);
    const QString balance = PathText(balancePath);
    QStringList lines;
    for (const auto& item : repair.items) {
        const QString id = PathText(item.id);
        switch (item.what) {
            case What::DecideNotRecorded:
                lines << QStringLiteral(
                             "・識別子%1の判決は「%2」に記録される前に終了していたため、"
                             "記録されていません。ポイントも加算していません。")
                             .arg(id, log);
                break;
            case What::DecideCredited:
                lines << QStringLiteral(
                             "・識別子%1の判決は記録済みでしたが、%2ポイントが「%3」の"
                             "残高に加算されていなかったため、加算しました。")
                             .arg(id, QString::number(item.points), balance);
                break;
            case What::DeleteNotMade:
                lines << QStringLiteral(
                             "・識別子%1の判決の削除は、ポイントを差し引く前に終了して"
                             "いたため、行われていません。判決は残っています。")
                             .arg(id);
                break;
            case What::DeleteFinished:
                lines << QStringLiteral(
                             "・識別子%1の判決の削除は、ポイントを差し引いたところで"
                             "終了していたため、「%2」からの削除を済ませました。")
                             .arg(id, log);
                break;
            case What::BalanceFinished:
                lines << QStringLiteral(
                             "・ポイント執行報告または元に戻す操作で「%1」の残高は"
                             "変わっていたため、ポイント台帳に記録しました。")
                             .arg(balance);
                break;
            case What::BalanceNotMade:
                lines << QStringLiteral(
                             "・ポイント執行報告または元に戻す操作は、「%1」の残高を"
                             "変える前に終了していたため、行われていません。")
                             .arg(balance);
                break;
            case What::RestoreFinished:
                lines << QStringLiteral(
                             "・識別子%1の判決を元に戻す途中で終了していたため、"
                             "「%2」に戻し終えました。")
                             .arg(id, log);
                break;
            case What::RestoreUnfinished:
                lines << QStringLiteral(
                             "・識別子%1の判決を元に戻す途中で終了していますが、今は"
                             "仕上げられませんでした。次に起動したときにもう一度試みます。")
                             .arg(id);
                break;
            case What::MarkFinished:
                lines << QStringLiteral(
                             "・識別子%1の判決の執行済み・未執行の書き換えが途中で終了して"
                             "いたため、「%2」で済ませました。")
                             .arg(id, log);
                break;
            case What::DeleteUnfinished:
                lines << QStringLiteral(
                             "・識別子%1の判決の削除が途中で終了していますが、今は"
                             "仕上げられませんでした。次に起動したときにもう一度試みます。")
                             .arg(id);
                break;
            case What::Refused:
                // Dropped without being done: said, so that a start that changed nothing
                // is not told as a repair.
                lines << QStringLiteral(
                             "・識別子%1の途中だった処理は、記録の内容と合わないため行わずに"
                             "取りやめました。「%2」と「%3」は変えていません。")
                             .arg(id, log, balance);
                break;
        }
    }
    if (repair.mergeFinished)
        lines << QStringLiteral(
            "・途中で終了していた競合コピーの取り込みを仕上げました（コピーは「conflicts」"
            "フォルダにあります）。");
    for (const std::string& path : repair.copiesFinished)
        lines << QStringLiteral(
                     "・書き換えの途中で終了していた「%1」を、新しい内容で仕上げました。")
                     .arg(PathText(path));
    return QStringLiteral("前回の終了時に途中だった処理を直しました。\n") +
           lines.join(QStringLiteral("\n"));
}

QString ReasonsUnreadableText(const std::string& path) {
    return QStringLiteral("判決理由のファイル「%1」を読み込めません（%2）。")
        .arg(PathText(path), UnreadableReason(path));
}

QString ReasonsNotKeptText(SentenceReasons::Status status, const std::string& path) {
    const QString why = status == SentenceReasons::Status::Unkeepable
                            ? QStringLiteral("判決文にタブか単独の改行が含まれているため")
                            : QStringLiteral("ファイルに書き込めないため");
    return QStringLiteral(
               "判決は記録しましたが、判決理由を「%1」に残せませんでした（%2）。"
               "執行報告ではこの判決の理由は表示されません。")
        .arg(PathText(path), why);
}

}  // namespace qv::ui

namespace qv::ui {

namespace {
// Why a file the user chose to write out (a CSV export, a chart) could not be written,
// from the call that failed.
QString WriteOutReason(const std::string& path, const IoError& error) {
    using Op = IoError::Op;
    // A file where a folder of the path should be stops the path's walk early; say so
    // rather than what the walk makes of it.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("書き出し先のフォルダがありません");
    if (QString kind = PathKindReason(path); !kind.isEmpty()) return kind;
    const int err = error.err;
    if (err == EISDIR) return QStringLiteral("同じ名前のフォルダがあります");
    if (err == IoError::kNotRegular) return QStringLiteral("通常のファイルではありません");
    if (error.op == Op::Check && (err == EACCES || err == EPERM))
        return QStringLiteral("ファイルが読み取り専用です");
    if (err == ENOSPC || err == EDQUOT) return QStringLiteral("ディスクの空きが足りません");
    // The temporary file beside the target could not be made, or not renamed over it.
    if ((error.op == Op::Open || error.op == Op::Rename) && (err == ENOENT || err == ENOTDIR))
        return QStringLiteral("書き出し先のフォルダがありません");
    if ((error.op == Op::Open || error.op == Op::Rename) &&
        (err == EACCES || err == EPERM || err == EROFS))
        return QStringLiteral("書き出し先のフォルダに書き込む権限がありません");
    QString reason = QStringLiteral("書き込み中にエラーが起きました");
    if (error.Failed() && err > 0)
        reason += QStringLiteral("：") + QString::fromLocal8Bit(std::strerror(err));
    return reason;
}
}  // namespace

QString ExportFailureText(const std::string& path, const IoError& error) {
    return QStringLiteral("CSVファイル「%1」に書き出せませんでした（%2）。")
        .arg(PathText(path), WriteOutReason(path, error));
}

QString ChartSaveFailureText(const std::string& path, const IoError& error) {
    return QStringLiteral("グラフの画像「%1」を保存できませんでした（%2）。")
        .arg(PathText(path), WriteOutReason(path, error));
}

QString OverFolderFileText(const std::string& path, const std::string& name) {
    const QString what = name == "./" ? QStringLiteral("データフォルダそのもの")
                         : name.back() == '/'
                             ? QStringLiteral("データフォルダの「") + PathText(name) +
                                   QStringLiteral("」（プログラムが記録を置くフォルダ）")
                             : QStringLiteral("データフォルダのファイル「") + PathText(name) +
                                   QStringLiteral("」");
    return QStringLiteral("「%1」は%2を指しています。上書きすると記録が失われるため、書き出しませんでした。"
                          "別の名前を指定してください。")
        .arg(PathText(path), what);
}

QString RuleBookChangedText(CRuleBook::DiskChange change, const std::string& path) {
    if (change == CRuleBook::DiskChange::Unreadable)
        return QStringLiteral(
                   "ルールのファイル「%1」を読み込めないため（%"
                   "2）、読み込んだ後にほかのプログラムが"
                   "書き換えていないかを確認できません。ルールは保存していません。")
            .arg(PathText(path), UnreadableReason(path));
    if (change == CRuleBook::DiskChange::Removed)
        return QStringLiteral(
                   "ルールのファイル「%1」は、読み込んだ後に移動または削除されています。\n"
                   "保存すると「%1」を新しく作ります。保存しますか？")
            .arg(PathText(path));
    return QStringLiteral(
               "ルールのファイル「%1」は、読み込んだ後にほかのプログラムで書き換えられています。\n"
               "保存すると、その書き換えは失われます。上書きして保存しますか？")
        .arg(PathText(path));
}

QString RuleBookUnsavedText(const std::string& path) {
    return QStringLiteral("ルールの変更が「") + PathText(path) +
           QStringLiteral("」に保存されていません。\n終了する前に保存しますか？");
}

}  // namespace qv::ui

namespace qv::ui {

QString SideEffectsText(const SideEffects& effects, const CInfo& info) {
    const DataFolder folder = FolderOf(info);
    // The file that failed and why, where the change knows it.
    const auto why = [&](const std::string& path) {
        return effects.error.path == path && effects.error.err > 0
                   ? QStringLiteral("（%1）").arg(ErrorReason(effects.error.err))
                   : QString();
    };
    QStringList told;
    if (!effects.ledgered)
        told << QStringLiteral(
                    "ポイント台帳のファイル「%1」に書き込めませんでした%2。"
                    "残高は変わっています。次に開いたとき台帳との違いを確認します。")
                    .arg(PathText(folder.LedgerPath()), why(folder.LedgerPath()));
    if (!effects.trashed)
        told << QStringLiteral(
                    "ごみ箱のファイル「%1」から取り出した項目を消せませんでした%2。"
                    "次に起動したときに消します。それまでこの項目は元に戻せません。")
                    .arg(PathText(folder.TrashPath()), why(folder.TrashPath()));
    if (!effects.reasonsKept)
        told << ReasonsNotKeptText(effects.error.path == folder.ReasonsPath() &&
                                           effects.error.err == EINVAL
                                       ? SentenceReasons::Status::Unkeepable
                                       : SentenceReasons::Status::WriteFailed,
                                   folder.ReasonsPath());
    if (!effects.backedUp) told << BackupFailedText(folder.BackupFolder());
    return told.join(QStringLiteral("\n"));
}

QString LedgerUnreadLinesText(const std::string& ledgerPath, size_t lines) {
    return QStringLiteral(
               "ポイント台帳のファイル「%1」に読めない行が%2行あります。"
               "読めない行はそのまま残し、読める行だけで残高を確認します。")
        .arg(PathText(ledgerPath), QString::number(lines));
}

QString LedgerDiffersText(std::int64_t fileBalance, std::int64_t ledgerBalance,
                          const std::string& balancePath) {
    const QString file = QString::number(fileBalance);
    return QStringLiteral(
               "ポイント残高のファイル「%1」の残高 %2 が、ポイント台帳の残高 %3 と"
               "合いません。\nファイルの残高 %2 を正しいものとして台帳に記録しますか？")
        .arg(PathText(balancePath), file, QString::number(ledgerBalance));
}

QString LedgerWriteFailedText(const std::string& ledgerPath) {
    return QStringLiteral("ポイント台帳のファイル「%1」に書き込めませんでした。")
        .arg(PathText(ledgerPath));
}

QString LedgerUnreadableText(const std::string& ledgerPath, const IoError& error) {
    return QStringLiteral("ポイント台帳のファイル「%1」を読み込めません（%2）。")
        .arg(PathText(ledgerPath), UnreadableReason(error, ledgerPath));
}


QString TrashUnreadableText(const std::string& trashPath, const IoError& error) {
    return QStringLiteral("ごみ箱のファイル「%1」を読み込めません（%2）。")
        .arg(PathText(trashPath), UnreadableReason(error, trashPath));
}

QString TrashUnreadLinesText(const std::string& trashPath, size_t lines) {
    return QStringLiteral(
               "ごみ箱のファイル「%1」に読めない行が%2行あります。"
               "読めない行は消さずにそのまま残します。")
        .arg(PathText(trashPath), QString::number(lines));
}

QString TrashRemoveFailedText(const std::string& trashPath, const IoError& error) {
    return QStringLiteral(
               "ごみ箱のファイル「%1」を書き換えられませんでした（%2）。"
               "項目は残っています。")
        .arg(PathText(trashPath), ErrorReason(error.err));
}

QString ArticleRestoreFailedText(const std::string& bookPath) {
    return QStringLiteral(
               "ルールブックのファイル「%1」に保存できなかったため、"
               "条文はごみ箱に残してあります。")
        .arg(PathText(bookPath));
}

QString BackupRestoreFailedText(Backups::RestoreResult result, const std::string& target,
                                const std::string& backupFolder) {
    switch (result) {
        case Backups::RestoreResult::Restored:
            return {};
        case Backups::RestoreResult::BackupUnreadable:
            return QStringLiteral(
                       "バックアップのフォルダー「%1」の版を読み込めませんでした。"
                       "何も変えていません。")
                .arg(PathText(backupFolder));
        case Backups::RestoreResult::KeepFailed:
            return QStringLiteral(
                       "いまの「%1」をバックアップに残せないため、戻しませんでした。"
                       "何も変えていません。")
                .arg(PathText(target));
        case Backups::RestoreResult::WriteFailed:
            return QStringLiteral("「%1」を書き換えられませんでした。ファイルは元のままです。")
                .arg(PathText(target));
        case Backups::RestoreResult::FolderIsLink:
            return BackupFolderIsLinkText(backupFolder) +
                   QStringLiteral("何も戻していません。");
        case Backups::RestoreResult::NotAVersion:
            return QStringLiteral(
                       "バックアップのフォルダー「%1」のこの項目は、このプログラムが残した"
                       "ファイルではなくなっています（リンクなど）。何も戻していません。")
                .arg(PathText(backupFolder));
    }
    return {};
}

QString BackupFolderIsLinkText(const std::string& backupFolder) {
    return QStringLiteral(
               "バックアップのフォルダー「%1」はシンボリックリンクです。"
               "リンク先のファイルを書き換えたり消したりしないよう、"
               "バックアップには使いません。")
        .arg(PathText(backupFolder));
}

QString ArticlesNotTrashedText(const std::string& trashPath) {
    return QStringLiteral(
               "削除した条文をごみ箱のファイル「%1」に入れられませんでした。"
               "この画面を閉じるまでは「元に戻す」(Ctrl+Z)で戻せます。")
        .arg(PathText(trashPath));
}

QString BackupFailedText(const std::string& backupFolder) {
    Backups::Keeping keeping;
    keeping.result = Backups::Result::Failed;
    if (Backups(backupFolder).State() == Backups::FolderState::Link)
        keeping.problem = Backups::Problem::FolderIsLink;
    return BackupFailedText(backupFolder, keeping);
}

QString BackupFailedText(const std::string& backupFolder, const Backups::Keeping& keeping) {
    switch (keeping.problem) {
        case Backups::Problem::FolderIsLink:
            return BackupFolderIsLinkText(backupFolder) +
                   QStringLiteral("書き換えはそのまま行いました。");
        case Backups::Problem::NoSpace:
            return QStringLiteral(
                       "ディスクに空きがないため、書き換える前のファイルをバックアップの"
                       "フォルダー「%1」に残せませんでした（古いバックアップを消しても"
                       "足りませんでした）。書き換えはそのまま行いました。")
                .arg(PathText(backupFolder));
        case Backups::Problem::None:
        case Backups::Problem::Other:
            break;
    }
    return QStringLiteral(
               "書き換える前のファイルをバックアップのフォルダー「%1」に"
               "残せませんでした%2。書き換えはそのまま行いました。")
        .arg(PathText(backupFolder), WriteFailureReason(keeping.error));
}

}  // namespace qv::ui

namespace qv::ui {

namespace {
QString ImplementsLine(const qv::records::Implements& imp) {
    QStringList parts;
    for (size_t i = 0; i < imp.names.size(); ++i)
        parts << FromCp932(imp.names[i]) + QStringLiteral("（") +
                     TenthsText(static_cast<int>(qv::ReadInt64(imp.weights[i]))) +
                     QStringLiteral("）");
    return parts.join(QStringLiteral("、"));
}

QString Names(const std::vector<std::string>& names) {
    QStringList out;
    for (const std::string& n : names) out << QStringLiteral("「") + PathText(n) + QStringLiteral("」");
    return out.join(QStringLiteral("、"));
}
}  // namespace

QString ImplementsDifferText(const qv::records::Implements& ours,
                             const qv::records::Implements& theirs) {
    return QStringLiteral("二台のコンピュータで道具の設定が違います。どちらを残しますか。\n\n"
                          "このコンピュータ: ") +
           ImplementsLine(ours) + QStringLiteral("\nもう一台: ") + ImplementsLine(theirs);
}

QString FollowedText(const qv::records::Journaling::Followed& f) {
    QStringList lines;
    if (!f.ok)
        lines << QStringLiteral("コンピュータごとの記録（journal フォルダ）からファイルを更新できませんでした") +
                     WriteFailureReason(f.error) + QStringLiteral("。記録は失われていません。次に起動したときにもう一度試します。");
    else if (!f.missingBases.empty())
        lines << QStringLiteral("もう一台のコンピュータの記録がまだ届いていないため、ファイルを更新していません。"
                                "同期が終わると更新されます。");
    QStringList taken;  // only what there was
    if (f.taken.records > 0) taken << QStringLiteral("判決%1件").arg(f.taken.records);
    if (f.taken.articles > 0) taken << QStringLiteral("条文%1件").arg(f.taken.articles);
    if (!taken.isEmpty())
        lines << QStringLiteral("ほかのプログラムがファイルに書き加えた") + taken.join(QStringLiteral("・")) +
                     QStringLiteral("を、記録に取り込みました。");
    if (!f.parked.empty())
        lines << QStringLiteral("同期ツールが残した競合コピーは、記録にない内容を含まないため「conflicts」フォルダに移しました: ") +
                     Names(f.parked);
    return lines.join(QStringLiteral("\n"));
}

QString MergeSummaryText(const qv::records::MergeOutcome& o, bool withDisplay) {
    using R = qv::records::MergeOutcome::Result;
    QStringList lines;
    switch (o.result) {
        case R::Nothing:
            if (o.unreadable.empty()) return {};
            break;
        case R::Busy:
            return QStringLiteral("同期ツールが残した競合コピーがありますが、ほかのプログラムが"
                                  "ファイルを使っているため、取り込みませんでした。");
        case R::Failed:
            if (o.leftForStart)
                lines << QStringLiteral("競合コピーの取り込みを終えられませんでした") +
                             WriteFailureReason(o.error) +
                             QStringLiteral("。次に起動したときに仕上げます。");
            else if (o.merged.empty() && o.unreadable.empty())
                lines << QStringLiteral("競合コピーを取り込めませんでした") +
                             WriteFailureReason(o.error) +
                             QStringLiteral("。ファイルは変わっていません。");
            break;
        case R::Merged: {
            const auto& c = o.counts;
            lines << QStringLiteral("もう一台のコンピュータでの変更（同期ツールが残した競合コピー）"
                                    "を取り込みました。");
            lines << QStringLiteral("・判決: %1件を追加").arg(c.records);
            lines << QStringLiteral("・執行/未執行の印: %1件").arg(c.marks);
            lines << QStringLiteral("・削除: %1件").arg(c.deletes);
            lines << QStringLiteral("・ポイント残高: %1%2")
                         .arg(c.points > 0 ? QStringLiteral("+") : QString())
                         .arg(static_cast<qlonglong>(c.points));
            lines << QStringLiteral("・条文: %1件").arg(c.articles);
            if (c.renumbered > 0)
                lines << QStringLiteral("・同じ識別子の別の判決%1件は、次の空いている秒に移しました。")
                             .arg(c.renumbered);
            if (c.refused > 0)
                lines << QStringLiteral("・形の正しくない判決の行%1件は取り込みませんでした"
                                        "（コピーは「conflicts」フォルダにあります）。")
                             .arg(c.refused);
            if (c.refusedBookings > 0)
                lines << QStringLiteral("・判決の記録と合わないポイント台帳の行%1件は数えませんでした"
                                        "（コピーは「conflicts」フォルダにあります）。")
                             .arg(c.refusedBookings);
            if (c.implementsDiffered && c.keptOwnImplements)
                lines << (withDisplay ? QStringLiteral("・道具の設定はこのコンピュータのものを残しました。")
                                      : QStringLiteral("・道具の設定が違っていました。画面がないため、"
                                                       "このコンピュータの設定を残しました（もう一台の"
                                                       "設定は「conflicts」のコピーにあります）。"));
            else if (c.implementsDiffered)
                lines << QStringLiteral("・道具の設定はもう一台のものにしました。");
            if (c.balanceKept)
                lines << QStringLiteral("・ポイント残高は台帳から計算できなかったため、そのままです。");
            lines << QStringLiteral("取り込んだコピーは「conflicts」フォルダに移しました: ") +
                         Names(o.merged);
            break;
        }
    }
    if (!o.unreadable.empty())
        lines << QStringLiteral("読めなかったためそのまま残したコピー: ") + Names(o.unreadable);
    return lines.join(QStringLiteral("\n"));
}

}  // namespace qv::ui
