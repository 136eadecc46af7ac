#pragma once

#include <QString>
#include <cstddef>
#include <string>

#include "records/LogIssues.h"
#include "records/PointBalance.h"
#include "rulebook/RuleBook.h"

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

// The question before a save over a rule book that another program rewrote or removed
// since it was loaded; for one that cannot be read to tell, why the save was not made.
QString RuleBookChangedText(CRuleBook::DiskChange change, const std::string& path);

}  // namespace qv::ui
