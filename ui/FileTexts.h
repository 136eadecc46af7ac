#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>

#include "records/Backups.h"
#include "records/Change.h"
#include "records/LogIssues.h"
#include "records/Journaling.h"
#include "records/Merge.h"
#include "records/PointBalance.h"
#include "records/Reasons.h"
#include "records/Repair.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "text/IoError.h"

// Every wording the user sees about a file: a file that is missing, cannot be read or
// written, or holds what the program cannot read. The core hands up statuses and the
// failed call (qv::io::IoError); the words are made here and nowhere else.
namespace qv::ui {

// What a merge of conflict copies did, for one box (and stderr); empty when there was
// nothing to merge. withDisplay false: nobody could be asked about the implements.
QString MergeSummaryText(const qv::records::MergeOutcome& outcome, bool withDisplay);
// What bringing the files up to the journals did that the user should know; empty when
// it only brought another computer's work (that shows in the windows).
QString FollowedText(const qv::records::Journaling::Followed& followed);
// The question when the two computers' implement tables differ; the buttons say the answers.
QString ImplementsDifferText(const qv::records::Implements& ours,
                             const qv::records::Implements& theirs);

// A file path as the user knows it.
QString PathText(const std::string& path);

// Why a file that is there could not be read ("読み取りが許可されていません"), from the
// failed call; without one, from what the path is now.
QString UnreadableReason(const qv::io::IoError& error, const std::string& path);
QString UnreadableReason(const std::string& path);

// ---- the rule book
// The fixed message, then for a file that is there but unusable what is wrong with it and
// where it was looked for, or how to start with the sample rule book when there is none.
QString RuleBookLoadFailureText(CRuleBook::LoadStatus status, const QString& folder,
                                const QString& examples);
// Lines of the rule book that are not rules: kept, not read.
QString RuleBookUnreadLinesText(size_t unread);
// The rule book could not be replaced; the old file is as it was.
QString RuleBookSaveFailureText(const std::string& path);

// ---- the point balance
// What went wrong with the balance file, for a message box.
QString BalanceProblemText(PointBalance::Status status, const std::string& path,
                           const qv::io::IoError& error = {});

// ---- the sentence log
// "判決記録のファイル「path」に読めない部分があります。" and one line per kind of issue.
QString LogIssuesText(const LogReadIssues& issues, const std::string& path);
// The log exists but cannot be read.
QString LogUnreadableText(const std::string& path, const qv::io::IoError& error = {});

// ---- the trial
// What of the log the history of a verdict may have missed.
QString VerdictLogIssuesText(const LogReadIssues& issues, const std::string& logPath);

// ---- the execution report
// The balance label stays empty: the file cannot be read.
QString BalanceNotShownText(PointBalance::Status status, const std::string& path,
                            const qv::io::IoError& error);
// The balance has fewer than six fields: no credit or debit can be booked.
QString BalanceNotChangeableText(const std::string& path);
// The list stays empty: the log cannot be read.
QString LogNotListedText(const std::string& path, const qv::io::IoError& error);
// What the list leaves out of a log with damaged lines.
QString LogListIssuesText(const LogReadIssues& issues, const std::string& path);
// Marking executed / not executed failed: the log could not be read (readFailed) or
// written; the marks are as they were.
QString MarkFailureText(bool readFailed, const std::string& logPath, const qv::io::IoError& error);
// A record whose line holds lone CRs is not deleted.
QString GluedDeleteRefusalText(const std::string& logPath);
// A point execution report that could not be booked.
QString ReportNotBookedText(PointBalance::Status status, const std::string& path,
                            const qv::io::IoError& error);

// What an errno means, in a few words ("書き込みが許可されていません").
QString ErrorReason(int error);
// Why a write failed, as "（…）" to follow "書き込めませんでした" ("（ディスクに空きが
// ありません）" for a full disk); empty when unknown.
QString WriteFailureReason(const qv::io::IoError& error);

// The data folder given to the program cannot be entered or locked. For a folder that is
// missing, the reason is why it could not be made: what stands in the way in the nearest
// folder above it that exists.
QString FolderUnusableText(const QString& folder, int error);

// Another copy of the program works in the folder; `raised` when its window was brought
// to the front.
QString FolderInUseText(const QString& folder, bool raised);

// The folder can be read but not written: the user may look at everything, but nothing
// will be saved.
QString FolderReadOnlyText(const QString& folder, int error);

// After "データファイルが見つかりませんでした。": which folder and file were looked at,
// and how to start with the sample rule book.
QString RuleBookMissingHelp(const QString& folder, const QString& examples);

// The intent record beside the log could not be written, so a delete was not started.
QString IntentFailedText(const std::string& intentPath);

// Another program is writing the file: try again shortly.
QString BusyText(const std::string& path);

// After a decision whose points could not be credited: they are kept aside and can be
// credited later; OK tries again now.
QString CreditRetryText(std::int64_t points, const std::string& balancePath);
QString CreditRetriedText(std::int64_t points, const std::string& balancePath);

// What start-up repaired after a run that ended midway; empty when nothing is to be told.
QString StartRepairText(const StartRepair& repair, const std::string& logPath,
                        const std::string& balancePath);

// The kept verdict texts cannot be read.
QString ReasonsUnreadableText(const std::string& path);

// A decided verdict's text could not be kept beside the log (the record is in the log).
QString ReasonsNotKeptText(SentenceReasons::Status status, const std::string& path);

}  // namespace qv::ui

namespace qv::ui {

// A CSV export could not be written; error is the call that failed (none when the
// bytes could not even be made). The old file, if any, is as it was.
QString ExportFailureText(const std::string& path, const qv::io::IoError& error);
// The same for a chart saved as a PNG image.
QString ChartSaveFailureText(const std::string& path, const qv::io::IoError& error);
// path would overwrite the data folder's own file or kept folder `name` ("test.log",
// "backup/"): refused, nothing written.
QString OverFolderFileText(const std::string& path, const std::string& name);

// The question before a save over a rule book that another program rewrote or removed
// since it was loaded; for one that cannot be read to tell, why the save was not made.
QString RuleBookChangedText(CRuleBook::DiskChange change, const std::string& path);

// At exit with rule changes not yet saved: save, discard, or go back.
QString RuleBookUnsavedText(const std::string& path);

}  // namespace qv::ui

namespace qv::ui {

// ---- the ledger, the trash and the backups
// What an action left undone beside its main change: the ledger line, taking restored
// entries out of the trash, the backup of the replaced version. Empty when all went.
QString SideEffectsText(const SideEffects& effects, const CInfo& info);
QString LedgerUnreadLinesText(const std::string& ledgerPath, size_t lines);
// The question when the balance file and the ledger disagree: take the file's figure?
QString LedgerDiffersText(std::int64_t fileBalance, std::int64_t ledgerBalance,
                          const std::string& balancePath);
QString LedgerWriteFailedText(const std::string& ledgerPath);
QString LedgerUnreadableText(const std::string& ledgerPath, const qv::io::IoError& error);
QString TrashUnreadableText(const std::string& trashPath, const qv::io::IoError& error);
QString TrashUnreadLinesText(const std::string& trashPath, size_t lines);
QString TrashRemoveFailedText(const std::string& trashPath, const qv::io::IoError& error);
QString ArticleRestoreFailedText(const std::string& bookPath);
QString BackupRestoreFailedText(Backups::RestoreResult result, const std::string& target,
                                const std::string& backupFolder);
// A version could not be kept; without the keeping's outcome, the folder is looked at now.
QString BackupFailedText(const std::string& backupFolder);
QString BackupFailedText(const std::string& backupFolder, const Backups::Keeping& keeping);
// The backup folder is a symbolic link and is not used.
QString BackupFolderIsLinkText(const std::string& backupFolder);
// Articles deleted in the rule list could not go to the trash at save.
QString ArticlesNotTrashedText(const std::string& trashPath);

}  // namespace qv::ui
