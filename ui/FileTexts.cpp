#include "ui/FileTexts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace qv::ui

namespace qv::ui {

QString ExportFailureText(const std::string& path, int error) {
    QString reason;
    struct stat st {};
    const std::string::size_type slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        reason = QStringLiteral("同じ名前のフォルダがあります");
    } else if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        reason = QStringLiteral("通常のファイルではありません");
    } else if (::stat(path.c_str(), &st) == 0 &&
               ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                ::access(path.c_str(), W_OK) != 0)) {
        reason = QStringLiteral("ファイルが読み取り専用です");
    } else if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        reason = QStringLiteral("書き出し先のフォルダがありません");
    } else if (::access(folder.c_str(), W_OK) != 0 || error == EACCES || error == EPERM ||
               error == EROFS) {
        reason = QStringLiteral("書き出し先のフォルダに書き込む権限がありません");
    } else if (error == ENOSPC || error == EDQUOT) {
        reason = QStringLiteral("ディスクの空きが足りません");
    } else {
        reason = QStringLiteral("書き込み中にエラーが起きました");
        if (error != 0)
            reason += QStringLiteral("：") + QString::fromLocal8Bit(std::strerror(error));
    }
    return QStringLiteral("CSVファイル「%1」に書き出せませんでした（%2）。")
        .arg(PathText(path), reason);
}

}  // namespace qv::ui
