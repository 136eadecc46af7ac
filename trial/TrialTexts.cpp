#include "trial/TrialTexts.h"

#include "ui/FileTexts.h"
#include "ui/Words.h"

namespace qv::ui {

namespace {
QString CreditFailure(PointBalance::Status status) {
    switch (status) {
        case PointBalance::Status::Short:
            return QStringLiteral("ファイルの項目が6つに満たないため");
        case PointBalance::Status::Unreadable:
            return QStringLiteral("ファイルを読み込めないため");
        case PointBalance::Status::Busy:
            return QStringLiteral("ほかのプログラムが書き込み中のため");
        case PointBalance::Status::Overflow:
            return QStringLiteral("残高が上限に達するため");
        default:
            return QStringLiteral("ファイルに書き込めないため");
    }
}
}  // namespace

QString CompositionRefusalText(const Composition& composition, int articleNumber,
                               const std::string& logPath) {
    const QString number = QString::number(articleNumber);
    switch (composition.status) {
        case Composition::Status::NoSuchArticle:
            return number + QStringLiteral("条という条文はありません。");
        case Composition::Status::SharesAddUpToZero:
            return number + QStringLiteral(
                                "条は配分設定の合計が0のため、量刑を配分できません。"
                                "ルール編集で配分設定を見直してください。");
        case Composition::Status::LogUnreadable:
            return QStringLiteral("判決記録ファイル「") + PathText(logPath) +
                   QStringLiteral("」を読み込めないため、過去10日間の適用を確認できません。");
        case Composition::Status::Ok:
            break;
    }
    return {};
}

QString DecisionFailureText(const Decision& decision, std::int64_t points,
                            const std::string& logPath, const std::string& balancePath) {
    switch (decision.status) {
        case Decision::Status::NotRecorded:
            // The file that failed: the log, or the intent record written before it.
            if (decision.error.Failed() && !decision.error.path.empty() &&
                decision.error.path != logPath)
                return QStringLiteral(
                           "判決を記録できませんでした（「%1」に書き込めません：%2）。"
                           "判決は確定しておらず、ポイントも加算していません。")
                    .arg(PathText(decision.error.path), ErrorReason(decision.error.err));
            return QStringLiteral(
                       "判決を記録できませんでした（「%1」に書き込めません）。"
                       "判決は確定しておらず、ポイントも加算していません。")
                .arg(PathText(logPath));
        case Decision::Status::NotCredited:
            return QStringLiteral(
                       "判決は「%1」に記録しましたが、%2ポイントを「%3」の残高に"
                       "加算できませんでした（%4）。")
                .arg(PathText(logPath), QString::number(points), PathText(balancePath),
                     CreditFailure(decision.balance));
        case Decision::Status::Ok:
            break;
    }
    return {};
}

QString DecidedText(const CVerdict& verdict) {
    return QStringLiteral("判決を記録しました: ") +
           ArticleText(verdict.articleNumber, verdict.articleName) + QStringLiteral("、") +
           QString::number(verdict.total) + QStringLiteral("ポイント");
}

}  // namespace qv::ui
