#include "records/DataFolder.h"

#include <string_view>

#include "rulebook/Info.h"

namespace {

std::string In(const std::string& dir, const char* name) {
    return dir.empty() || dir == "." ? std::string(name) : dir + '/' + name;
}

std::string FolderOfPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// "test.log" -> "test.rsn": the kept verdict texts beside a log of any name.
std::string ReasonsBeside(const std::string& logPath) {
    constexpr std::string_view kLog = ".log";
    if (logPath.size() > kLog.size() &&
        std::string_view(logPath).substr(logPath.size() - kLog.size()) == kLog)
        return logPath.substr(0, logPath.size() - kLog.size()) + ".rsn";
    return logPath + ".rsn";
}

const std::string kNone;

}  // namespace

DataFolder::DataFolder(std::string dir)
    : dir_(std::move(dir)),
      book_(In(dir_, "test.dat")),
      log_(In(dir_, "test.log")),
      balance_(In(dir_, "user.dat")),
      intent_(In(dir_, "intent.dat")),
      reasons_(In(dir_, "test.rsn")),
      ledger_(In(dir_, "user.ldg")),
      trash_(In(dir_, "test.trs")),
      marks_(In(dir_, "test.mrk")),
      backups_(In(dir_, "backup")),
      conflicts_(In(dir_, "conflicts")),
      journals_(In(dir_, "journal")) {}

DataFolder DataFolder::DataOnly(std::string logPath, std::string balancePath) {
    DataFolder f(FolderOfPath(logPath));
    f.log_ = std::move(logPath);
    f.balance_ = std::move(balancePath);
    f.reasons_ = ReasonsBeside(f.log_);
    f.ledger_.clear();
    f.trash_.clear();
    f.marks_.clear();
    f.backups_.clear();
    f.conflicts_.clear();
    f.journals_.clear();
    return f;
}

std::vector<std::string> DataFolder::Journals() const {
    std::vector<std::string> out;
    for (const std::string* p : {&ledger_, &trash_, &reasons_, &marks_})
        if (!p->empty()) out.push_back(*p);
    return out;
}

std::vector<std::string> DataFolder::Files() const {
    std::vector<std::string> out;
    for (const std::string* p :
         {&book_, &log_, &balance_, &intent_, &ledger_, &trash_, &reasons_, &marks_})
        if (!p->empty()) out.push_back(*p);
    return out;
}

std::string_view DataFolder::ShortName(const std::string& path) const {
    if (path.empty()) return {};
    if (path == log_) return "log";
    if (path == ledger_) return "ldg";
    if (path == trash_) return "trs";
    if (path == reasons_) return "rsn";
    if (path == marks_) return "mrk";
    return {};
}

const std::string& DataFolder::ByShortName(std::string_view name) const {
    if (name == "log") return log_;
    if (name == "ldg") return ledger_;
    if (name == "trs") return trash_;
    if (name == "rsn") return reasons_;
    if (name == "mrk") return marks_;
    return kNone;
}

DataFolder FolderOf(const CInfo& info) {
    if (const DataFolder* attached = info.GetFolder(); attached != nullptr) return *attached;
    return DataFolder::DataOnly(info.GetLogPath(), info.GetBalancePath());
}

void AttachFolder(CInfo& info, const DataFolder& folder) {
    info.SetLogPath(folder.LogPath());
    info.SetBalancePath(folder.BalancePath());
    info.SetFolder(std::make_shared<const DataFolder>(folder));
}
