#pragma once

#include <QString>
#include <cstddef>
#include <string>

#include "records/LogIssues.h"
#include "records/PointBalance.h"

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

// What an errno means, in a few words ("書き込みが許可されていません").
QString ErrorReason(int error);

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

}  // namespace qv::ui
