#include "execution/BalanceTexts.h"

namespace qv::ui {

QString PathText(const std::string& path) { return QString::fromLocal8Bit(path); }

QString BalanceProblemText(PointBalance::Status status, const std::string& path) {
    const QString name = PathText(path);
    switch (status) {
        case PointBalance::Status::Missing:
            return QStringLiteral("ポイント残高のファイル「%1」が見つかりません。").arg(name);
        case PointBalance::Status::Short:
            return QStringLiteral("ポイント残高のファイル「%1」の内容が正しくありません（項目が6つ未満です）。")
                .arg(name);
        case PointBalance::Status::Unreadable:
            return QStringLiteral("ポイント残高のファイル「%1」を読み込めません。").arg(name);
        case PointBalance::Status::WriteFailed:
            return QStringLiteral("ポイント残高のファイル「%1」に書き込めませんでした。").arg(name);
        case PointBalance::Status::Ok:
            break;
    }
    return {};
}

}  // namespace qv::ui
