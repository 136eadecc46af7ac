#include "execution/ExecutionTexts.h"

#include "records/DataFolder.h"
#include "ui/FileTexts.h"

namespace qv::ui {

QString DeleteFailureText(const DeleteOutcome& outcome, const std::string& logPath,
                          const std::string& balancePath) {
    using Result = DeleteOutcome::Result;
    switch (outcome.result) {
        case Result::Deleted:
        case Result::NotFound:
            break;
        case Result::LogUnreadable:
            return LogUnreadableText(logPath, outcome.error);
        case Result::Busy:
            return BusyText(logPath);
        case Result::IntentFailed:
            // The intent record beside the log, as the failed call names it.
            return IntentFailedText(outcome.error.path.empty()
                                        ? DataFolder::DataOnly(logPath, {}).IntentPath()
                                        : outcome.error.path);
        case Result::TrashFailed:
            return QStringLiteral(
                       "ごみ箱のファイル「%1」に入れられませんでした（%2）。"
                       "元に戻せなくなるため、判決は削除していません。")
                .arg(PathText(outcome.error.path), ErrorReason(outcome.error.err));
        case Result::BalanceFailed:
            return BalanceProblemText(outcome.balance, balancePath, outcome.error) +
                   QStringLiteral("\nポイントを差し引けないため、判決は削除しませんでした。");
        case Result::LogWriteFailed:
            return outcome.restored
                       ? QStringLiteral(
                             "判決記録のファイル「%1」に書き込めませんでした%2。"
                             "判決は削除されず、ポイント残高も元のままです。")
                             .arg(PathText(logPath), WriteFailureReason(outcome.error))
                       : QStringLiteral(
                             "判決記録のファイル「%"
                             "1」に書き込めませんでした%3。判決は削除されていませんが、"
                             "ポイント残高のファイル「%2」からはポイントが差し引かれたままです。")
                             .arg(PathText(logPath), PathText(balancePath),
                                  WriteFailureReason(outcome.error));
    }
    return {};
}

QString UndoFailureText(const qv::execution::Outcome& outcome, const std::string& logPath,
                        const std::string& balancePath) {
    using Result = qv::execution::Outcome::Result;
    switch (outcome.result) {
        case Result::Done:
        case Result::NotFound:
        case Result::NothingToUndo:
            return {};
        case Result::Pending:
            // Nothing was put back: said, or the button would seem to do nothing.
            return outcome.error.Failed()
                       ? QStringLiteral("途中の処理の記録「%1」を読めなかったため（%2）、"
                                        "元に戻しませんでした。")
                             .arg(PathText(outcome.error.path), ErrorReason(outcome.error.err))
                       : QStringLiteral("この判決を判決記録に戻す処理が途中のままです。"
                                        "二重に戻さないよう、今は戻しませんでした。"
                                        "次に起動したときに仕上げます。");
        case Result::AlreadyBack:
            return QStringLiteral("この判決は判決記録にもう戻っています（もう一台のコンピュータから"
                                  "同期で戻ったなど）。二重にならないよう、元に戻しませんでした。");
        case Result::Refused:
        case Result::LogUnreadable:
            return LogUnreadableText(logPath, outcome.error);
        case Result::BalanceFailed:
            return BalanceProblemText(outcome.balance, balancePath, outcome.error) +
                   QStringLiteral("\nポイントを戻せないため、元に戻しませんでした。");
        case Result::LogWriteFailed:
            return outcome.restored
                       ? QStringLiteral(
                             "判決記録のファイル「%1」に書き込めませんでした（%2）。"
                             "元に戻しておらず、ポイント残高もそのままです。")
                             .arg(PathText(outcome.error.path.empty() ? logPath
                                                                      : outcome.error.path),
                                  ErrorReason(outcome.error.err))
                       : QStringLiteral(
                             "判決記録のファイル「%1」に書き込めませんでした。"
                             "判決は戻っていませんが、ポイント残高のファイル「%2」には"
                             "ポイントが戻されたままです。次に起動したときに仕上げます。")
                             .arg(PathText(logPath), PathText(balancePath));
    }
    return {};
}

}  // namespace qv::ui
