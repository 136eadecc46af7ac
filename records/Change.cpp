#include "records/Change.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "records/Reasons.h"
#include "text/Numbers.h"

namespace {

// The size a journal's next append starts from: its size, or the end of its last whole
// line when a kill left a torn one (the append cuts that back first).
std::int64_t JournalSize(const std::string& path) {
    const std::int64_t size = qv::io::FileSize(path);
    if (size == 0) return 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return size;
    char last = '\n';
    const bool read = ::pread(fd, &last, 1, size - 1) == 1;
    ::close(fd);
    return !read || last == '\n' ? size : qv::io::WholeLinesSize(path);
}


// Writes each byte's after (or before, undoing) at its offset and syncs the file; false,
// with the failed call in error, on any failure.
bool WriteBytesAt(const std::string& path, const std::vector<IntentEntry::Byte>& bytes, bool undo,
                  qv::io::IoError* error) {
    using Op = qv::io::IoError::Op;
    const int fd = qv::io::Sys().open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return qv::io::Fail(error, Op::Open, path, errno);
    struct stat st {};
    // The user's read-only mark counts, even for root.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        const int err = !S_ISREG(st.st_mode) ? qv::io::IoError::kNotRegular
                        : (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ? EACCES
                                                                             : errno;
        qv::io::Sys().close(fd);
        return qv::io::Fail(error, Op::Open, path, err);
    }
    bool ok = true;
    for (const IntentEntry::Byte& b : bytes) {
        const char c = static_cast<char>(undo ? b.before : b.after);
        if (b.offset < 0 || b.offset >= st.st_size) {
            ok = qv::io::Fail(error, Op::Write, path, EINVAL);
            break;
        }
        ssize_t n = -1;
        if (::lseek(fd, b.offset, SEEK_SET) == b.offset) n = qv::io::Sys().write(fd, &c, 1);
        if (n != 1) {
            ok = qv::io::Fail(error, Op::Write, path, n < 0 ? errno : EIO);
            break;
        }
    }
    if (ok && qv::io::Sys().fsync(fd) != 0) ok = qv::io::Fail(error, Op::Sync, path, errno);
    if (qv::io::Sys().close(fd) != 0 && ok) ok = qv::io::Fail(error, Op::Close, path, errno);
    return ok;
}

}  // namespace

bool CutTornTail(const std::string& journal) {
    if (journal.empty()) return true;
    const std::int64_t whole = JournalSize(journal);
    return whole == qv::io::FileSize(journal) || qv::io::TruncateTo(journal, whole);
}

Change::Change(DataFolder folder, qv::Clock clock)
    : folder_(std::move(folder)),
      clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)),
      backups_(folder_.BackupFolder(), clock_),
      intent_(folder_.IntentPath()),
      lines_(folder_, clock_) {}

Change::~Change() {
    if (!ended_ && (begun_ || !steps_.empty())) Rollback();
}

bool Change::Fail(qv::io::IoError::Op op, const std::string& path, int err) {
    return qv::io::Fail(&error, op, path, err);
}

void Change::Side(bool& flag, const qv::io::IoError& why) {
    if (effects.AllKept()) effects.error = why;
    flag = false;
}

bool Change::Lock(const std::string& path) {
    if (path.empty()) return true;
    qv::io::FileLock lock;
    if (!lock.Acquire(path)) return Fail(qv::io::IoError::Op::Lock, path, EWOULDBLOCK);
    locks_.push_back(std::move(lock));
    return true;
}

bool Change::Begin(IntentEntry entry, std::initializer_list<const std::string*> appendsTo) {
    for (const std::string* path : appendsTo) {
        const std::string_view name = folder_.ShortName(*path);
        if (name.empty()) continue;
        const std::int64_t size =
            *path == folder_.LogPath() ? qv::io::FileSize(*path) : JournalSize(*path);
        entry.sizes.emplace_back(std::string(name), size);
    }
    entry_ = std::move(entry);
    if (!intent_.Open(entry_, opened_, &error, folder_.ModelFile())) return false;
    begun_ = true;
    if (!CommitJournal()) {
        intent_.Close(opened_);
        begun_ = false;
        ended_ = true;
        return false;
    }
    return true;
}

bool Change::CommitJournal() { return lines_.Commit(&error); }

bool Change::Append(const std::string& path, std::string_view lines) {
    if (path.empty()) return true;
    const bool journal = path != folder_.LogPath();
    const bool existed = qv::io::Resolve(path).kind != qv::io::Target::Kind::Missing;
    const std::int64_t before = journal ? JournalSize(path) : qv::io::FileSize(path);
    if (!qv::io::AppendLine(path, lines, &error, qv::io::AppendMode{journal, folder_.ModelFile()}))
        return false;
    steps_.push_back({Step::Kind::Appended, path, existed ? before : -1, {}, {}});
    return true;
}

bool Change::Replace(const std::string& path, std::string_view bytes,
                     std::optional<std::string> old) {
    return Replace(path, std::span<const std::string_view>(&bytes, 1), std::move(old));
}

bool Change::Replace(const std::string& path, std::span<const std::string_view> bytes,
                     std::optional<std::string> old) {
    const bool existed = qv::io::Resolve(path).kind != qv::io::Target::Kind::Missing;
    bool written = false;
    if (path == folder_.TrashPath()) {
        written = qv::io::WriteFileAtomic(path, bytes, &error);  // the trash has no versions
    } else {
        const Backups::OnReplace keep(backups_, path);
        written = qv::io::WriteFileAtomic(path, bytes, &error);
        if (!keep.Kept()) Side(effects.backedUp, {qv::io::IoError::Op::Write, 0, path});
    }
    if (!written) return false;
    steps_.push_back({Step::Kind::Replaced, path, existed ? 0 : -1, std::move(old), {}});
    return true;
}

bool Change::SetBytes(const std::string& path, const std::vector<IntentEntry::Byte>& bytes) {
    if (bytes.empty()) return true;
    // Noted before the write: a write that fails halfway is set back too.
    steps_.push_back({Step::Kind::BytesSet, path, 0, {}, bytes});
    if (!WriteBytesAt(path, bytes, false, &error)) return false;
    return true;
}

bool Change::Book(const Ledger::Entry& entry) {
    const Ledger ledger(folder_.LedgerPath());
    if (!ledger.Enabled()) return true;
    std::optional<std::int64_t> last;
    // Locked from the read of the last figure to the append.
    if (!Lock(ledger.Path()) || ledger.LastBalance(last, &error) == qv::io::ReadStatus::Unreadable ||
        !Append(ledger.Path(), Ledger::LinesFor(entry, last, &effects.adjusted))) {
        Side(effects.ledgered, error);
        return false;
    }
    return true;
}

bool Change::PutInTrash(std::vector<Trash::Entry>& entries) {
    const Trash trash(folder_.TrashPath());
    if (!trash.Enabled() || entries.empty()) return true;
    if (!Lock(trash.Path())) return false;
    std::int64_t next = trash.NextSerial(&error);
    if (next == 0) return false;
    std::string lines;
    for (Trash::Entry& e : entries) {
        if (e.serial == 0) e.serial = next++;
        lines += Trash::ToLine(e);
    }
    return Append(trash.Path(), lines);
}

bool Change::TakeFromTrash(std::span<const std::int64_t> serials) {
    const Trash trash(folder_.TrashPath());
    if (!trash.Enabled() || serials.empty()) return true;
    if (!Lock(trash.Path())) return false;
    std::string bytes;
    const auto status = qv::io::ReadFile(trash.Path(), bytes, qv::io::kWholeFile, &error);
    if (status == qv::io::ReadStatus::Unreadable) return false;
    if (status != qv::io::ReadStatus::Ok) return true;  // nothing there to take out
    const std::string kept = Trash::Without(bytes, serials);
    if (kept.size() == bytes.size()) return true;
    return Replace(trash.Path(), kept, std::move(bytes));
}

bool Change::KeepReasons(std::string_view id, std::string_view text) {
    std::string line;
    if (!SentenceReasons::ToLine(id, text, line)) {
        Side(effects.reasonsKept, {qv::io::IoError::Op::Write, EINVAL, folder_.ReasonsPath()});
        return false;
    }
    if (!Lock(folder_.ReasonsPath()) || !Append(folder_.ReasonsPath(), line)) {
        Side(effects.reasonsKept, error);
        return false;
    }
    return true;
}

bool Change::Commit(const std::function<bool(const IntentEntry&)>& alsoDrop) {
    ended_ = true;
    lines_.Done();
    if (begun_) return intent_.Close(opened_, alsoDrop);
    if (alsoDrop) return intent_.Keep([&](const IntentEntry& e) { return !alsoDrop(e); });
    return true;
}

bool Change::Rollback() {
    ended_ = true;
    bool all = true;
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
        bool undone = false;
        if (step->kind == Step::Kind::BytesSet)
            undone = WriteBytesAt(step->path, step->bytes, true, nullptr);
        else if (step->size < 0)  // made by this change
            undone = qv::io::RemoveFile(step->path);
        else if (step->kind == Step::Kind::Replaced)
            undone = step->old && qv::io::WriteFileAtomic(step->path, *step->old);
        else
            undone = qv::io::TruncateTo(step->path, step->size);
        all = all && undone;
    }
    steps_.clear();
    if (all) lines_.Void();  // undone before the files had it: it never happened
    if (all && begun_) intent_.Close(opened_);
    return all;
}

bool Change::Restate(const IntentEntry& entry) {
    ended_ = true;
    lines_.Done();
    if (!begun_) return true;
    IntentRecord::Opened note;
    if (!intent_.Open(entry, note, &error, folder_.ModelFile())) return false;
    IntentRecord::Opened old = opened_;
    old.alone = false;  // the note stays in the file
    return intent_.Close(old);
}
