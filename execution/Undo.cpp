#include "execution/Undo.h"

#include <algorithm>

#include "text/KxString.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace qv::undo {
namespace {

std::string_view FirstField(std::string_view text) { return text.substr(0, text.find('\t')); }

bool Carries(const qv::Line& line, std::string_view id) {
    return SentenceLog::IsRecord(line) && FirstField(line.text) == id;
}

// [begin, end) of field f of a line known to have it.
std::pair<size_t, size_t> FieldBounds(std::string_view line, size_t f) {
    size_t begin = 0;
    for (size_t i = 0; i < f; ++i) begin = line.find('\t', begin) + 1;
    const size_t end = line.find('\t', begin);
    return {begin, end == std::string_view::npos ? line.size() : end};
}

}  // namespace

std::vector<CutRecord> CutsOf(std::string_view content, std::string_view id) {
    std::vector<CutRecord> cuts;
    size_t waiting = 0;                  // cuts still waiting for the line that follows them
    std::vector<std::string_view> kept;  // first fields of the lines that stay, so far
    std::int64_t index = 0;
    qv::ForEachLine(content, [&](const qv::Line& line) {
        const std::int64_t at = index++;
        if (Carries(line, id)) {
            CutRecord cut;
            cut.line = std::string(line.text);
            cut.nth = at;  // until a line that stays follows it
            cut.points =
                qv::ReadInt64(SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kPoints));
            cuts.push_back(std::move(cut));
            ++waiting;
            return;
        }
        const std::string_view first = FirstField(line.text);
        kept.push_back(first);
        if (waiting == 0) return;
        const auto nth = std::count(kept.begin(), kept.end(), first);
        for (size_t i = cuts.size() - waiting; i < cuts.size(); ++i) {
            cuts[i].anchor = std::string(first);
            cuts[i].nth = nth;
        }
        waiting = 0;
    });
    return cuts;
}

std::string InsertRecords(std::string_view content, std::span<const CutRecord> records) {
    std::string out(content);
    for (const CutRecord& r : records) {
        const std::int64_t time = qv::ReadInt64(FirstField(r.line));
        size_t at = std::string::npos, byTime = std::string::npos;
        std::int64_t seen = 0, index = 0;
        size_t offset = 0;
        qv::ForEachLine(out, [&](const qv::Line& line) {
            const size_t here = offset;
            offset += line.raw.size();
            if (at != std::string::npos) return;
            // The last line once: back at the line number it had, or at the end.
            if (r.anchor.empty() && index++ == r.nth) at = here;
            if (!r.anchor.empty() && FirstField(line.text) == r.anchor && ++seen == r.nth)
                at = here;
            if (byTime == std::string::npos && SentenceLog::IsRecord(line) &&
                qv::ReadInt64(FirstField(line.text)) > time)
                byTime = here;
        });
        if (at == std::string::npos && !r.anchor.empty()) at = byTime;
        std::string line = r.line + "\r\n";
        if (at == std::string::npos) {
            // At the end; an unterminated last line gets its line end first, as an append
            // would give it.
            if (!out.empty() && out.back() != '\n') line.insert(0, "\r\n");
            out += line;
        } else {
            out.insert(at, line);
        }
    }
    return out;
}

std::vector<std::string> MarksOf(std::string_view content, std::string_view id) {
    std::vector<std::string> flags;
    qv::ForEachLine(content, [&](const qv::Line& line) {
        if (Carries(line, id))
            flags.emplace_back(
                SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kExecuted));
    });
    return flags;
}

std::string SetMarks(std::string_view content, std::string_view id,
                     std::span<const std::string> flags) {
    std::string out;
    out.reserve(content.size() + 16);
    size_t next = 0;
    qv::ForEachLine(content, [&](const qv::Line& line) {
        if (!Carries(line, id) || next >= flags.size()) {
            out.append(line.raw);
            return;
        }
        auto [begin, end] = FieldBounds(line.text, SentenceRecord::kExecuted);
        out.append(line.raw.substr(0, begin));
        out.append(flags[next++]);
        out.append(line.raw.substr(end));
    });
    return out;
}

std::vector<std::int64_t> TakenEach(std::int64_t before, std::span<const std::int64_t> points) {
    std::vector<std::int64_t> taken;
    std::int64_t balance = before;
    for (std::int64_t p : points) {
        if (p <= 0) {
            taken.push_back(0);
            continue;
        }
        std::int64_t after = qv::SaturatingAdd(balance, -p);
        if (after < 0) after = 0;
        taken.push_back(qv::SaturatingAdd(balance, -after));
        balance = after;
    }
    return taken;
}

ReportFiles ReportFiles::From(const CInfo& info, qv::Clock clock) {
    return {SentenceLog(info.GetLogPath()),
            BalanceBook(info.GetBalancePath(), info.GetLedgerPath(), clock),
            Trash(info.GetTrashPath()), Backups(info.GetBackupFolder(), clock)};
}

ReportSession::ReportSession(const CInfo& info, qv::Clock clock)
    : files_(ReportFiles::From(info, clock)),
      clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)) {}

bool ReportSession::Keep(const std::string& path) {
    const bool kept = files_.backups.Keep(path).result == Backups::Result::Kept;
    backedUp_ = backedUp_ && kept;
    return kept;
}

ReportSession::LogRead ReportSession::ReadLog(std::string& bytes) const {
    const std::int64_t cap = KxLimits::Lifted().maxSize;
    switch (qv::io::ReadFile(files_.log.Path(), bytes, cap)) {
        case qv::io::ReadStatus::Ok:
            // Only the beginning could be read: writing it back would cut the rest off.
            return static_cast<std::int64_t>(bytes.size()) >= cap ? LogRead::Unreadable
                                                                  : LogRead::Ok;
        case qv::io::ReadStatus::Missing:
        case qv::io::ReadStatus::Empty:
            return LogRead::Missing;
        case qv::io::ReadStatus::Unreadable:
            break;
    }
    return LogRead::Unreadable;
}

std::optional<ReportSession::Kind> ReportSession::NextUndo() const {
    if (done_.empty()) return std::nullopt;
    return done_.back().kind;
}

Outcome ReportSession::Mark(std::string_view id, bool executed) {
    Outcome o;
    backedUp_ = true;
    std::string bytes;
    const LogRead read = ReadLog(bytes);
    if (read == LogRead::Unreadable) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    SentenceLog::Rewrite rewrite = SentenceLog::RewriteBytes(
        bytes, id,
        executed ? SentenceLog::Change::MarkExecuted : SentenceLog::Change::MarkNotExecuted);
    if (read == LogRead::Missing || rewrite.matched == 0) {
        o.result = Outcome::Result::NotFound;
        return o;
    }
    Action action{Kind::Mark, std::string(id), MarksOf(bytes, id), {}, {}, {}, 0};
    Keep(files_.log.Path());
    o.backedUp = backedUp_;
    if (!files_.log.Write(rewrite)) {
        o.result = Outcome::Result::LogWriteFailed;
        return o;
    }
    o.records = rewrite.matched;
    done_.push_back(std::move(action));
    return o;
}

Outcome ReportSession::Delete(std::string_view id) {
    Outcome o;
    backedUp_ = true;
    std::string bytes;
    const LogRead read = ReadLog(bytes);
    if (read == LogRead::Unreadable) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    const SentenceLog::Rewrite rewrite =
        SentenceLog::RewriteBytes(bytes, id, SentenceLog::Change::Drop);
    if (read == LogRead::Missing || rewrite.matched == 0) {
        o.result = Outcome::Result::NotFound;
        return o;
    }
    Action action{Kind::Delete, std::string(id), {}, CutsOf(bytes, id), {}, {}, 0};

    std::vector<std::int64_t> debits;
    for (std::int64_t p : rewrite.droppedPoints)
        if (p > 0) debits.push_back(p);
    std::string before;
    Booking booking;
    if (!debits.empty()) {
        Keep(files_.book.BalancePath());
        booking = files_.book.DebitDelete(id, debits, &before);
        o.balance = booking.status;
        if (!booking.Ok()) {
            o.result = Outcome::Result::BalanceFailed;
            o.backedUp = backedUp_;
            return o;
        }
        action.taken = booking.figures.before - booking.figures.after;
    }
    Keep(files_.log.Path());
    o.backedUp = backedUp_;
    if (!files_.log.Write(rewrite)) {
        o.result = Outcome::Result::LogWriteFailed;
        o.restored = debits.empty() || files_.book.Balance().PutBack(before);
        return o;
    }
    o.ledgered = files_.book.Commit(booking);
    o.adjusted = booking.adjusted;
    o.records = rewrite.matched;

    // Into the trash, each record with the points it took.
    const std::vector<std::int64_t> taken =
        TakenEach(booking.figures.before, rewrite.droppedPoints);
    std::vector<Trash::Entry> entries;
    const qv::Seconds now = clock_();
    for (size_t i = 0; i < action.cuts.size(); ++i) {
        const CutRecord& cut = action.cuts[i];
        entries.push_back({0, Trash::Kind::LogRecord, now, i < taken.size() ? taken[i] : 0,
                           cut.anchor, cut.nth, cut.line});
    }
    o.trashed = files_.trash.Append(entries);
    if (o.trashed && files_.trash.Enabled())
        for (const Trash::Entry& e : entries) action.trashSerials.push_back(e.serial);
    done_.push_back(std::move(action));
    return o;
}

Outcome ReportSession::Report(const std::array<std::int64_t, 4>& units, std::int64_t points) {
    Outcome o;
    backedUp_ = true;
    if (points <= 0) return o;
    Keep(files_.book.BalancePath());
    o.backedUp = backedUp_;
    const Booking booking = files_.book.Report(units, points);
    o.balance = booking.status;
    if (!booking.Ok()) {
        o.result = Outcome::Result::BalanceFailed;
        return o;
    }
    o.ledgered = booking.ledgered;
    o.adjusted = booking.adjusted;
    Action action{
        Kind::Report, {}, {}, {}, {}, units, booking.figures.before - booking.figures.after};
    done_.push_back(std::move(action));
    return o;
}

Outcome ReportSession::PutBack(std::string_view id, std::span<const CutRecord> cuts,
                               std::int64_t taken, std::span<const std::int64_t> trashSerials) {
    Outcome o;
    std::string bytes;
    const LogRead read = ReadLog(bytes);
    if (read == LogRead::Unreadable) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    const std::string restored = InsertRecords(bytes, cuts);
    std::string before;
    Booking booking;
    if (taken != 0) {
        Keep(files_.book.BalancePath());
        booking = files_.book.GiveBack(id, std::nullopt, taken, &before);
        o.balance = booking.status;
        if (!booking.Ok()) {
            o.result = Outcome::Result::BalanceFailed;
            o.backedUp = backedUp_;
            return o;
        }
    }
    if (read == LogRead::Ok) Keep(files_.log.Path());
    o.backedUp = backedUp_;
    if (!qv::io::WriteFileAtomic(files_.log.Path(), restored)) {
        o.result = Outcome::Result::LogWriteFailed;
        o.restored = taken == 0 || files_.book.Balance().PutBack(before);
        return o;
    }
    o.ledgered = files_.book.Commit(booking);
    o.adjusted = booking.adjusted;
    o.records = cuts.size();
    o.trashed = files_.trash.Remove(trashSerials);
    return o;
}

Outcome ReportSession::GiveBackReport(const Action& action) {
    Outcome o;
    if (action.taken == 0) return o;
    Keep(files_.book.BalancePath());
    o.backedUp = backedUp_;
    Booking booking = files_.book.GiveBack({}, action.units, action.taken);
    o.balance = booking.status;
    if (!booking.Ok()) {
        o.result = Outcome::Result::BalanceFailed;
        return o;
    }
    o.ledgered = files_.book.Commit(booking);
    o.adjusted = booking.adjusted;
    return o;
}

Outcome ReportSession::SetMarksBack(const Action& action) {
    Outcome o;
    std::string bytes;
    const LogRead read = ReadLog(bytes);
    if (read == LogRead::Unreadable) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    if (read == LogRead::Missing || MarksOf(bytes, action.id).empty()) {
        o.result = Outcome::Result::NotFound;
        return o;
    }
    Keep(files_.log.Path());
    o.backedUp = backedUp_;
    if (!qv::io::WriteFileAtomic(files_.log.Path(), SetMarks(bytes, action.id, action.flags)))
        o.result = Outcome::Result::LogWriteFailed;
    return o;
}

Outcome ReportSession::Undo() {
    backedUp_ = true;
    if (done_.empty()) {
        Outcome nothing;
        nothing.result = Outcome::Result::NothingToUndo;
        return nothing;
    }
    const Action& action = done_.back();
    Outcome o;
    switch (action.kind) {
        case Kind::Mark:
            o = SetMarksBack(action);
            break;
        case Kind::Delete:
            o = PutBack(action.id, action.cuts, action.taken, action.trashSerials);
            break;
        case Kind::Report:
            o = GiveBackReport(action);
            break;
    }
    // A sentence deleted meanwhile elsewhere has nothing left to undo either.
    if (o.result == Outcome::Result::Done || o.result == Outcome::Result::NotFound)
        done_.pop_back();
    return o;
}

Outcome ReportSession::RestoreFromTrash(std::span<const Trash::Entry> entries) {
    backedUp_ = true;
    std::vector<CutRecord> cuts;
    std::vector<std::int64_t> serials;
    std::int64_t taken = 0;
    for (const Trash::Entry& e : entries) {
        if (e.kind != Trash::Kind::LogRecord) continue;
        cuts.push_back({e.payload, e.anchor, e.nth, 0});
        serials.push_back(e.serial);
        taken = qv::SaturatingAdd(taken, e.points);
    }
    if (cuts.empty()) {
        Outcome none;
        none.result = Outcome::Result::NotFound;
        return none;
    }
    const std::string id(cuts.front().line.substr(0, cuts.front().line.find('\t')));
    Outcome o = PutBack(id, cuts, taken, serials);
    if (o.Ok()) {
        // The same records may still wait on the undo stack: undoing their delete again
        // would put them in twice.
        std::erase_if(done_, [&](const Action& a) {
            return a.kind == Kind::Delete &&
                   std::any_of(a.trashSerials.begin(), a.trashSerials.end(), [&](std::int64_t s) {
                       return std::find(serials.begin(), serials.end(), s) != serials.end();
                   });
        });
    }
    return o;
}

}  // namespace qv::undo
