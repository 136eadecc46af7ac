#pragma once

#include <QString>
#include <cstddef>
#include <string>

#include "records/LogIssues.h"
#include "records/PointBalance.h"
#include "records/Reasons.h"

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

// The kept verdict texts cannot be read.
QString ReasonsUnreadableText(const std::string& path);

// A decided verdict's text could not be kept beside the log (the record is in the log).
QString ReasonsNotKeptText(SentenceReasons::Status status, const std::string& path);

}  // namespace qv::ui
