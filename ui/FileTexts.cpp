#include "ui/FileTexts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
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
           reason + QStringLiteral("）。\nフォルダの場所と読み取りの許可を確かめてください。");
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

}  // namespace qv::ui
