#include "ui/FileTexts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QStringList>
#include <limits>

#include "text/FileIo.h"

namespace qv::ui {

QString PathText(const std::string& path) { return QString::fromLocal8Bit(path); }

QString UnreadableReason(const std::string& path) {
    const qv::io::Target target = qv::io::Resolve(path);
    switch (target.kind) {
        case qv::io::Target::Kind::Dangling:
            return QStringLiteral(
                       "リンク先「%"
                       "1」が見つかりません。ドライブや共有フォルダがつながっているか確かめてくださ"
                       "い")
                .arg(PathText(target.path));
        case qv::io::Target::Kind::Fifo:
            return QStringLiteral("名前付きパイプ（FIFO）で、通常のファイルではありません");
        case qv::io::Target::Kind::OtherKind:
            return QStringLiteral("デバイスなどで、通常のファイルではありません");
        case qv::io::Target::Kind::Unresolved:
            return QStringLiteral("リンクをたどれません（リンクが多すぎるか、ループしています）");
        default:
            break;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return QStringLiteral("ファイルではなくフォルダになっています");
        if ((st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0 || ::access(path.c_str(), R_OK) != 0)
            return QStringLiteral("読み取りが許可されていません");
        if (!S_ISREG(st.st_mode)) return QStringLiteral("通常のファイルではありません");
    }
    return QStringLiteral("読み込み中にエラーが起きました");
}

QString BalanceProblemText(PointBalance::Status status, const std::string& path) {
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
                .arg(name, UnreadableReason(path));
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

QString LogUnreadableText(const std::string& path) {
    return QStringLiteral("判決記録のファイル「%1」を読み込めません（%2）。")
        .arg(PathText(path), UnreadableReason(path));
}

QString IntentFailedText(const std::string& logPath) {
    return QStringLiteral(
               "途中で終了しても直せるよう先に書く記録「%1」を読み書きできないため、"
               "判決は削除しませんでした。ポイント残高も元のままです。")
        .arg(PathText(IntentRecord::Beside(logPath).Path()));
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
            case What::DeleteUnfinished:
                lines << QStringLiteral(
                             "・識別子%1の判決の削除が途中で終了していますが、今は"
                             "仕上げられませんでした。次に起動したときにもう一度試みます。")
                             .arg(id);
                break;
        }
    }
    for (const std::string& path : repair.copiesFinished)
        lines << QStringLiteral(
                     "・書き換えの途中で終了していた「%1」を、新しい内容で仕上げました。")
                     .arg(PathText(path));
    return QStringLiteral("前回の終了時に途中だった処理を直しました。\n") +
           lines.join(QStringLiteral("\n"));
}

}  // namespace qv::ui
