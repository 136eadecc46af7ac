#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CInfo;

// Every file of one data folder, named once: the three data files, the journals kept
// beside them, the backups and the conflict copies. Nothing else builds a path beside
// "test.dat". A folder made from a log and a balance alone (DataOnly) keeps the files
// every action needs (the intent record, the verdict texts beside the log) and no
// ledger, trash or backups: a context that names none writes none.
class DataFolder {
public:
    // The folder dir ("" or "." for the working folder) with every side file kept.
    explicit DataFolder(std::string dir = {});
    static DataFolder DataOnly(std::string logPath, std::string balancePath);
    // The same folder keeping no backups.
    DataFolder WithoutBackups() const {
        DataFolder f = *this;
        f.backups_.clear();
        return f;
    }

    const std::string& Dir() const { return dir_; }
    const std::string& BookPath() const { return book_; }
    const std::string& LogPath() const { return log_; }
    const std::string& BalancePath() const { return balance_; }
    const std::string& IntentPath() const { return intent_; }
    const std::string& ReasonsPath() const { return reasons_; }
    // Empty when the folder keeps none.
    const std::string& LedgerPath() const { return ledger_; }
    const std::string& TrashPath() const { return trash_; }
    // The journal of marks (執行 / 未執行) with their times, "test.mrk".
    const std::string& MarksPath() const { return marks_; }
    const std::string& BackupFolder() const { return backups_; }
    // Each computer's journal, and the bases they start from: "journal/".
    const std::string& JournalsPath() const { return journals_; }
    const std::string& ConflictFolder() const { return conflicts_; }

    // The journals, appended to only: their torn tails are cut back at start-up.
    std::vector<std::string> Journals() const;
    // Every file an interrupted write may have left a temporary copy beside.
    std::vector<std::string> Files() const;
    // The file whose group and mode new side files take.
    const std::string& ModelFile() const { return log_; }

    // A short name for each file an intent notes the size of ("log", "ldg", "trs", "rsn",
    // "mrk");
    // empty for a path that is none of them.
    std::string_view ShortName(const std::string& path) const;
    const std::string& ByShortName(std::string_view name) const;

private:
    std::string dir_;
    std::string book_, log_, balance_, intent_, reasons_;
    std::string ledger_, trash_, marks_, backups_, conflicts_, journals_;
};

// The folder a window's context works in: the one attached to it, or one made of its
// log and balance alone.
DataFolder FolderOf(const CInfo& info);
// Attaches folder to info and points info's log and balance at its files.
void AttachFolder(CInfo& info, const DataFolder& folder);
