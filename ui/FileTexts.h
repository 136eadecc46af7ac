#pragma once

#include <QString>
#include <cstddef>
#include <string>

#include "records/LogIssues.h"
#include "records/PointBalance.h"
#include "records/Repair.h"

namespace qv::ui {

// What went wrong with the balance file, for a message box.
QString BalanceProblemText(PointBalance::Status status, const std::string& path);

// A file path as the user knows it.
QString PathText(const std::string& path);

// Why a file that is there cannot be read: a folder, no read permission, or an error.
QString UnreadableReason(const std::string& path);

// "判決記録のファイル「path」に読めない部分があります。" and one line per kind of issue.
QString LogIssuesText(const LogReadIssues& issues, const std::string& path);

// The log exists but cannot be read.
QString LogUnreadableText(const std::string& path);

// The intent record beside the log could not be written, so a delete was not started.
QString IntentFailedText(const std::string& logPath);

// Another program is writing the file: try again shortly.
QString BusyText(const std::string& path);

// After a decision whose points could not be credited: they are kept aside and can be
// credited later; OK tries again now.
QString CreditRetryText(std::int64_t points, const std::string& balancePath);
QString CreditRetriedText(std::int64_t points, const std::string& balancePath);

// What start-up repaired after a run that ended midway; empty when nothing is to be told.
QString StartRepairText(const StartRepair& repair, const std::string& logPath,
                        const std::string& balancePath);

}  // namespace qv::ui
