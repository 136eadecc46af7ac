#include "bench/BenchFolder.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "bench/BenchData.h"
#include "records/Backups.h"
#include "records/Ledger.h"
#include "records/Reasons.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "text/Numbers.h"
#include "trial/Verdict.h"

namespace fs = std::filesystem;

namespace qv::bench {
namespace {

constexpr std::int64_t kSixYears = 6LL * 365 * 86400;
constexpr std::int64_t kDay = 86400;
// What backup/ holds to begin with: a few versions of the log (fewer when the budget holds
// fewer) and of the balance.
constexpr std::int64_t kLogVersions = 5;
constexpr size_t kBalanceVersions = 10;
// Changing what a folder holds changes this, so folders made before are made again.
const char kStamp[] = ".bench-made";
const char kStampText[] = "quorvel bench folder 3\n";

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Writes a file in large blocks as it is made.
class BlockWriter {
public:
    explicit BlockWriter(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) Fail("open " + path);
        buffer_.reserve(kBlock + 4096);
    }
    ~BlockWriter() {
        if (fd_ >= 0) ::close(fd_);
    }
    void Add(std::string_view bytes) {
        buffer_ += bytes;
        written_ += static_cast<std::int64_t>(bytes.size());
        if (buffer_.size() >= kBlock) Flush();
    }
    void Close() {
        Flush();
        if (::close(fd_) != 0) Fail("close " + path_);
        fd_ = -1;
    }
    std::int64_t Written() const { return written_; }

private:
    static constexpr size_t kBlock = 32u << 20;
    void Flush() {
        size_t done = 0;
        while (done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail("write " + path_);
            done += static_cast<size_t>(n);
        }
        buffer_.clear();
    }
    std::string path_;
    int fd_ = -1;
    std::string buffer_;
    std::int64_t written_ = 0;
};

std::string ExamplesBook() {
    std::string bytes;
    const std::string path = std::string(QUORVEL_BENCH_EXAMPLES) + "/test.dat";
    if (qv::io::ReadFile(path, bytes) != qv::io::ReadStatus::Ok)
        throw std::runtime_error("cannot read the sample rule book " + path);
    return bytes;
}

std::string BalanceBytes(std::int64_t balance) {
    return "quorvel\t1\tuser\t" + qv::Decimal(balance) + "\t0\t0\r\n";
}

// Verdicts the program composes for every article of the sample book, at every mercy
// level, with 0 to 3 earlier sentences of the same article weighing on it.
constexpr int kLevels = 11;
constexpr int kHistories = 4;
std::vector<CVerdict> ComposeTemplates(const std::string& bookBytes, std::vector<int>& articles) {
    ScratchDir scratch;
    WriteFile(scratch.Path("test.dat"), bookBytes);
    CRuleBook book;
    book.SetFileName(scratch.Path("test.dat"));
    if (!book.LoadFile()) throw std::runtime_error("the sample rule book does not load");
    CInfo info;
    info.SetRuleBook(&book);
    for (const auto& [number, rule] : book) articles.push_back(number);
    const qv::Seconds now = 1765238400;
    std::vector<CVerdict> out;
    for (int article : articles) {
        for (int level = 0; level < kLevels; ++level) {
            for (int history = 0; history < kHistories; ++history) {
                std::string log;
                const Composition first = ComposeVerdict(article, level, info, now);
                if (!first.verdict) throw std::runtime_error("no verdict for the sample book");
                for (int h = 0; h < history; ++h)
                    log += first.verdict->ToRecord(now - 600 * (h + 1)).ToLine();
                WriteFile(scratch.Path("test.log"), log);
                info.SetLogPath(scratch.Path("test.log"));
                SentenceLog::Contents contents;
                qv::io::IoError error;
                const auto read = SentenceLog(scratch.Path("test.log")).Read(contents, &error);
                Composition c = ComposeVerdict(article, level, info, now, contents, read, error);
                out.push_back(std::move(*c.verdict));
            }
        }
    }
    return out;
}

void MakeFolder(std::int64_t records, const std::string& dir) {
    const std::string book = ExamplesBook();
    std::vector<int> articles;
    const std::vector<CVerdict> templates = ComposeTemplates(book, articles);
    const auto pick = [&](std::int64_t i) -> const CVerdict& {
        const size_t a = static_cast<size_t>((i * 7 + i / 13) % static_cast<std::int64_t>(articles.size()));
        const size_t level = static_cast<size_t>((i * 3) % kLevels);
        const size_t history = static_cast<size_t>((i / 3) % kHistories);
        return templates[(a * kLevels + level) * kHistories + history];
    };

    fs::create_directories(dir + "/backup");
    WriteFile(dir + "/test.dat", book);

    // Six years up to an hour ago, evenly spread.
    const qv::Seconds end = static_cast<qv::Seconds>(std::time(nullptr)) - 3600;
    const std::int64_t step = std::max<std::int64_t>(2, kSixYears / std::max<std::int64_t>(records, 1));
    const qv::Seconds first = end - step * (records - 1);
    const qv::Seconds recent = end - 30 * kDay;
    // About 40 deletes over the years, each taken between two records.
    const std::int64_t deleteEvery = std::max<std::int64_t>(records / 40, 2);
    // A point report every dozen decisions pays part of the balance off.
    const std::int64_t reportEvery = 12;

    std::string log;
    log.reserve(static_cast<size_t>(records) * 90);
    std::vector<size_t> starts;  // where each record begins, for the log's older versions
    starts.reserve(static_cast<size_t>(records));
    BlockWriter reasons(dir + "/test.rsn");
    BlockWriter ledger(dir + "/user.ldg");
    std::string trash;
    std::int64_t balance = 0;
    std::vector<std::pair<qv::Seconds, std::int64_t>> balances;  // for the balance's versions
    const auto bookChange = [&](Ledger::Kind kind, qv::Seconds t, const std::string& id,
                           std::optional<std::array<std::int64_t, 4>> units, std::int64_t asked) {
        const std::int64_t after = std::max<std::int64_t>(0, balance + asked);
        ledger.Add(Ledger::ToLine({t, kind, id, units, asked, balance, after}));
        balance = after;
        balances.emplace_back(t, balance);
        if (balances.size() > 64) balances.erase(balances.begin(), balances.begin() + 32);
    };
    ledger.Add(Ledger::ToLine({first - 60, Ledger::Kind::Open, {}, {}, 0, 0, 0}));
    std::string line;
    std::int64_t serial = 0;
    for (std::int64_t i = 0; i < records; ++i) {
        const qv::Seconds t = first + step * i;
        const CVerdict& v = pick(i);
        SentenceRecord record = v.ToRecord(t);
        bool executed = t < recent ? i % 50 != 7 : i % 3 == 0;
        if (i == records - 1) executed = false;
        if (i == records - 2) executed = true;
        record.fields[SentenceRecord::kExecuted] = executed ? "1" : "0";
        const std::string id = record.fields[SentenceRecord::kDecisionTime];
        starts.push_back(log.size());
        log += record.ToLine();
        if (!SentenceReasons::ToLine(id, v.verdictText, line))
            throw std::runtime_error("a composed verdict text does not keep");
        reasons.Add(line);
        if (v.points > 0) bookChange(Ledger::Kind::Credit, t, id, std::nullopt, v.points);

        if (i % reportEvery == reportEvery - 1 && balance > 0) {
            const std::int64_t paid = std::max<std::int64_t>(1, balance * 3 / 4);
            bookChange(Ledger::Kind::Report, t + step / 3, {},
                  std::array<std::int64_t, 4>{paid / 2, paid / 4, 0, paid - paid / 2 - paid / 4},
                  -paid);
        }
        if (i % deleteEvery == deleteEvery / 2 && i + 1 < records && step >= 4) {
            // A sentence decided after this one and deleted again: its text stays kept,
            // the ledger has its credit and its debit, the trash its line.
            const qv::Seconds dt = t + step / 2;
            const CVerdict& d = pick(i + 5);
            SentenceRecord gone = d.ToRecord(dt);
            const std::string goneId = gone.fields[SentenceRecord::kDecisionTime];
            SentenceReasons::ToLine(goneId, d.verdictText, line);
            reasons.Add(line);
            if (d.points > 0) bookChange(Ledger::Kind::Credit, dt, goneId, std::nullopt, d.points);
            const std::int64_t before = balance;
            bookChange(Ledger::Kind::Delete, dt + 60, goneId, std::nullopt, -d.points);
            std::string payload = gone.ToLine();
            payload.resize(payload.size() - 2);
            Trash::Entry entry;
            entry.serial = ++serial;
            entry.kind = Trash::Kind::LogRecord;
            entry.deletedAt = dt + 60;
            entry.points = before - balance;
            entry.anchor = qv::Decimal(t + step);  // the record that follows it
            entry.nth = 1;
            entry.payload = std::move(payload);
            trash += Trash::ToLine(entry);
        }
    }
    reasons.Close();
    ledger.Close();
    {
        BlockWriter out(dir + "/test.log");
        out.Add(log);
        out.Close();
    }
    WriteFile(dir + "/test.trs", trash);
    WriteFile(dir + "/user.dat", BalanceBytes(balance));

    // backup/: the versions use leaves within the folder's budget, the oldest first in
    // the sequence: the log as it was before each of its last changes, the balance before
    // each of its last changes, and the rule book twice.
    const std::int64_t data = static_cast<std::int64_t>(book.size() + log.size()) + 40;
    const std::int64_t budget = std::max(Backups::kBudgetTimes * data, Backups::kMinBudget);
    const std::int64_t logVersions = std::clamp<std::int64_t>(
        budget * 9 / 10 / std::max<std::int64_t>(1, static_cast<std::int64_t>(log.size())),
        std::int64_t{Backups::kKeepAlways}, std::int64_t{kLogVersions});
    struct Version {
        qv::Seconds time;
        std::string file;
        std::string_view bytes;
        std::string own;
    };
    std::vector<Version> versions;
    for (std::int64_t j = 1; j <= logVersions && j < records; ++j) {
        const size_t cut = starts[static_cast<size_t>(records - j)];
        versions.push_back({first + step * (records - j) + 1, "test.log",
                            std::string_view(log).substr(0, cut), {}});
    }
    const size_t balanceVersions = std::min<size_t>(kBalanceVersions, balances.size() - 1);
    for (size_t j = 1; j <= balanceVersions; ++j) {
        const auto& [t, b] = balances[balances.size() - 1 - j];
        versions.push_back({t + 1, "user.dat", {}, BalanceBytes(b)});
    }
    versions.push_back({first - 30 * kDay, "test.dat", book, {}});
    versions.push_back({first + kSixYears / 2, "test.dat", book, {}});
    std::sort(versions.begin(), versions.end(),
              [](const Version& a, const Version& b) { return a.time < b.time; });
    std::int64_t sequence = 0;
    for (const Version& v : versions) {
        BlockWriter out(dir + "/backup/" + Backups::VersionName(v.file, v.time, ++sequence));
        out.Add(v.own.empty() ? v.bytes : std::string_view(v.own));
        out.Close();
    }
}

std::int64_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

std::int64_t NanoTime(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

UsedFolder Measure(const std::string& dir, std::int64_t records) {
    UsedFolder f;
    f.dir = dir;
    f.records = records;
    f.logBytes = SizeOf(dir + "/test.log");
    f.reasonsBytes = SizeOf(dir + "/test.rsn");
    f.ledgerBytes = SizeOf(dir + "/user.ldg");
    f.trashBytes = SizeOf(dir + "/test.trs");
    f.backupBytes = FolderBytes(dir + "/backup");
    f.dataBytes = SizeOf(dir + "/test.dat") + f.logBytes + SizeOf(dir + "/user.dat");
    std::string balance;
    qv::io::ReadFile(dir + "/user.dat", balance);
    f.balance = std::atoll(SentenceLog::Contents::FieldOf(balance, 3).data());
    return f;
}

UsedFolder MakeUsedFolder(std::int64_t records, const std::string& root) {
    const std::string dir = root + "/" + std::to_string(records);
    std::string stamp;
    if (qv::io::ReadFile(dir + "/" + kStamp, stamp) == qv::io::ReadStatus::Ok && stamp == kStampText)
        return Measure(dir, records);
    const std::string making = dir + ".making";
    std::error_code ec;
    fs::remove_all(making, ec);
    fs::remove_all(dir, ec);
    fs::create_directories(making);
    MakeFolder(records, making);
    WriteFile(making + "/" + kStamp, kStampText);
    ::sync();
    fs::rename(making, dir);
    return Measure(dir, records);
}

std::int64_t CopyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) Fail("open " + from);
    struct stat st {};
    ::fstat(in, &st);
    ::unlink(to.c_str());  // a new inode: the old one may be a backup's too
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        ::close(in);
        Fail("open " + to);
    }
    std::int64_t copied = 0;
    if (::ioctl(out, FICLONE, in) != 0) {
        while (copied < st.st_size) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr,
                                                static_cast<size_t>(st.st_size - copied), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            copied += n;
        }
    }
    ::close(in);
    ::close(out);
    return copied;
}

std::int64_t FolderBytes(const std::string& dir) {
    std::set<std::pair<dev_t, ino_t>> seen;
    std::int64_t total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (seen.insert({st.st_dev, st.st_ino}).second) total += static_cast<std::int64_t>(st.st_size);
    }
    return total;
}

WorkCopy::WorkCopy(std::string from, std::string to) : from_(std::move(from)), to_(std::move(to)) {
    std::error_code ec;
    fs::remove_all(to_, ec);
    fs::create_directories(to_);
    for (auto it = fs::recursive_directory_iterator(from_); it != fs::end(it); ++it) {
        const std::string rel = fs::relative(it->path(), from_).string();
        if (it->is_directory()) {
            fs::create_directories(to_ + "/" + rel);
        } else if (it->is_regular_file()) {
            CopyIn(rel);
        }
    }
    // A folder in use has its files on disk: without this the first fsync inside a timed
    // action would write out the whole fresh copy.
    ::sync();
}

void WorkCopy::CopyIn(const std::string& rel) {
    CopyFile(from_ + "/" + rel, to_ + "/" + rel);
    struct stat st {};
    if (::stat((to_ + "/" + rel).c_str(), &st) != 0) Fail("stat " + rel);
    files_[rel] = {st.st_ino, st.st_size, NanoTime(st)};
}

std::int64_t WorkCopy::PutBack() {
    // What the action added goes.
    std::vector<fs::path> extra;
    for (auto it = fs::recursive_directory_iterator(to_); it != fs::end(it); ++it) {
        const std::string rel = fs::relative(it->path(), to_).string();
        if (fs::is_directory(it->symlink_status())) {
            if (!fs::exists(from_ + "/" + rel)) {
                extra.push_back(it->path());
                it.disable_recursion_pending();
            }
        } else if (!files_.count(rel)) {
            extra.push_back(it->path());
        }
    }
    for (const fs::path& p : extra) fs::remove_all(p);
    std::int64_t copied = 0;
    for (auto& [rel, seen] : files_) {
        const std::string path = to_ + "/" + rel;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_ino == seen.ino) {
            if (st.st_size == seen.size && NanoTime(st) == seen.mtimeNs) continue;
            // A journal only ever grows: cut back to what it was.
            const bool journal = rel == "test.rsn" || rel == "user.ldg" || rel == "test.trs";
            if (journal && st.st_size > seen.size) {
                if (::truncate(path.c_str(), seen.size) != 0) Fail("truncate " + path);
                ::stat(path.c_str(), &st);
                seen.mtimeNs = NanoTime(st);
                continue;
            }
        }
        fs::create_directories(fs::path(path).parent_path());
        copied += SizeOf(from_ + "/" + rel);
        CopyIn(rel);
    }
    if (copied > 0) ::sync();  // as after the first copy
    return copied;
}

std::vector<std::string> WorkCopy::Differences() const {
    std::vector<std::string> out;
    std::set<std::string> names;
    for (const std::string& dir : {from_, to_})
        for (auto it = fs::recursive_directory_iterator(dir); it != fs::end(it); ++it)
            if (it->is_regular_file()) names.insert(fs::relative(it->path(), dir).string());
    for (const std::string& rel : names) {
        std::string a, b;
        if (qv::io::ReadFile(from_ + "/" + rel, a) != qv::io::ReadStatus::Ok ||
            qv::io::ReadFile(to_ + "/" + rel, b) != qv::io::ReadStatus::Ok || a != b)
            out.push_back(rel);
    }
    return out;
}

}  // namespace qv::bench
