#include "ui/FileTexts.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qv::ui {

QString PathText(const std::string& path) { return QString::fromLocal8Bit(path); }

QString UnreadableReason(const std::string& path) {
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
