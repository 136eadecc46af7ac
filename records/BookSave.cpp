#include "records/BookSave.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "records/Backups.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

using qv::records::JournalLine;
using Kind = JournalLine::Kind;

// The book as its file holds it, read as the fold reads a book (so the lines below turn
// the fold's book into the one saved): the header as stored, its fields, and each whole
// article line by number, a later line under a number holding.
struct StoredBook {
    std::string header;  // line end included
    std::vector<std::string> fields;
    std::map<std::int64_t, std::string> rules;
};

size_t FieldCount(std::string_view line) {
    return static_cast<size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
}

StoredBook ReadStored(std::string_view bytes) {
    StoredBook stored;
    bool header = true;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        if (std::exchange(header, false)) {
            stored.header = std::string(line.raw);
            std::vector<std::string_view> f;
            qv::SplitFields(line.text, f);
            stored.fields.assign(f.begin(), f.end());
            return;
        }
        const std::int64_t number = qv::ReadInt64(line.text);
        if (FieldCount(line.text) == 14 && number >= 1 && number <= 9999)
            stored.rules[number] = std::string(line.text);
    });
    return stored;
}

JournalLine LineOf(Kind kind, std::vector<std::string> fields, qv::Seconds at) {
    JournalLine line;
    line.kind = kind;
    line.fields = std::move(fields);
    line.time = at;
    return line;
}

std::string FieldText(std::string_view line, size_t f) {
    return std::string(qv::FieldAt(line, f).value_or(std::string_view{}));
}

// An article leaves the trash for good: named by its number and the time it went in.
std::optional<JournalLine> PurgeRuleLine(const Trash::Entry& e, qv::Seconds at) {
    const std::int64_t number = qv::ReadInt64(e.payload);
    if (number < 1 || number > 9999) return std::nullopt;  // no article the fold holds
    return LineOf(Kind::PurgeRule, {qv::Decimal(number), qv::Decimal(e.deletedAt)}, at);
}

// The lines that turn the book as stored into the book saved at time at, with its trash:
// each article deleted goes to the trash as it was deleted, at the time its entry gives
// (its serial the next, as the trash gives it), then the articles added or changed, those
// that left the book without reaching the trash, the restored entries the fold does not
// take out itself, and the implements. The last line that changes the book carries the
// save's time, which the fold writes into the header.
std::vector<JournalLine> SaveLines(const StoredBook& stored, const CRuleBook& book,
                                   const std::vector<Trash::Entry>& deleted,
                                   const std::vector<Trash::Entry>& restored, qv::Seconds at) {
    std::vector<JournalLine> lines;
    std::map<std::int64_t, std::string> held = stored.rules;
    // Articles put under a number the fold holds none under: it takes a trash entry of the
    // same number and created time out (an article put back).
    std::set<std::pair<std::int64_t, std::string>> takenOut;
    std::optional<qv::Seconds> bookTime;  // of the last line that changes the book
    const auto setRule = [&](std::int64_t number, const std::string& text) {
        std::vector<std::string_view> f;
        qv::SplitFields(text, f);
        if (f.size() != 14) return;
        std::vector<std::string> fields(f.begin(), f.end());
        const bool free = !held.count(number);
        if (free) takenOut.insert({number, fields[1]});
        fields.push_back(free ? "new" : "edit");
        lines.push_back(LineOf(Kind::Rule, std::move(fields), at));
        held[number] = text;
        bookTime = at;
    };
    const auto unrule = [&](std::int64_t number, qv::Seconds when) {
        lines.push_back(LineOf(Kind::Unrule, {qv::Decimal(number)}, when));
        held.erase(number);
        bookTime = when;
    };

    for (const Trash::Entry& d : deleted) {
        const std::int64_t number = qv::ReadInt64(d.payload);
        if (number < 1 || number > 9999) continue;
        // The trash keeps the article as it was deleted, changes since the last save and all.
        const auto h = held.find(number);
        if (h == held.end() || h->second != d.payload) setRule(number, d.payload);
        unrule(number, d.deletedAt);
    }
    std::map<std::int64_t, std::string> saved;
    for (const auto& [number, rule] : book) saved[number] = rule.ToLine();
    for (const auto& [number, text] : saved) {
        const auto h = held.find(number);
        if (h == held.end() || h->second != text) setRule(number, text);
    }
    std::vector<std::int64_t> gone;
    for (const auto& [number, text] : held)
        if (!saved.count(number)) gone.push_back(number);
    for (std::int64_t number : gone) {
        // Left the book without a trash entry (a save that was given none): it never
        // reaches the trash, so it leaves it again at once.
        unrule(number, at);
        lines.push_back(LineOf(Kind::PurgeRule, {qv::Decimal(number), qv::Decimal(at)}, at));
    }
    for (const Trash::Entry& r : restored) {
        if (r.kind != Trash::Kind::Article) continue;
        if (takenOut.count({qv::ReadInt64(r.payload), FieldText(r.payload, 1)})) continue;
        if (auto purge = PurgeRuleLine(r, at)) lines.push_back(std::move(*purge));
    }

    // The implements as the header will hold them, set against the stored header's (a
    // short one padded with empty fields, as the fold pads it).
    std::vector<std::string> implements;
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) {
        implements.push_back(book.GetImpName(i));
        implements.push_back(qv::Decimal(book.GetImpWeight(i)));
    }
    std::vector<std::string> storedImplements(
        stored.fields.begin() + std::min<size_t>(4, stored.fields.size()), stored.fields.end());
    storedImplements.resize(implements.size());
    const bool headerSame = stored.header == book.HeaderLine(at) + "\r\n";
    // The implements line carries the save's time where no line that changes the book
    // does (none, or the last one an article deleted earlier).
    if (implements != storedImplements || (bookTime ? *bookTime != at : !headerSame))
        lines.push_back(LineOf(Kind::Implements, std::move(implements), at));
    return lines;
}

// Whether the folder keeps journals (its journal folder is there): one look, and nothing
// worked out for a folder that keeps none.
bool KeepsJournals(const DataFolder& folder) {
    return !folder.JournalsPath().empty() && qv::io::IsRealFolder(folder.JournalsPath());
}

}  // namespace

BookSave SaveRuleBook(const DataFolder& folder, CRuleBook& book,
                      std::vector<Trash::Entry>& deleted, std::span<const std::int64_t> restored) {
    BookSave result;
    Change change(folder);
    if (!change.Lock(book.GetFileName())) {
        result.error = change.error;
        return result;
    }
    // One time for the save: the header's and the journal lines'; an article deleted
    // without a time of its own goes to the trash at it.
    const qv::Seconds at = book.Now();
    for (Trash::Entry& e : deleted)
        if (e.deletedAt == 0) e.deletedAt = at;
    if (KeepsJournals(folder)) {
        // The lines go before the first write: without them no file may change.
        std::string bytes;
        std::vector<Trash::Entry> back;
        const Trash trash(folder.TrashPath());
        Trash::Contents contents;
        if (qv::io::ReadFile(book.GetFileName(), bytes, qv::io::kWholeFile, &change.error) ==
                qv::io::ReadStatus::Unreadable ||
            (!restored.empty() &&
             (!change.Lock(trash.Path()) ||
              trash.Read(contents, &change.error) == qv::io::ReadStatus::Unreadable))) {
            result.error = change.error;
            return result;
        }
        for (const Trash::Entry& e : contents.entries)
            if (std::find(restored.begin(), restored.end(), e.serial) != restored.end())
                back.push_back(e);
        change.Journal(SaveLines(ReadStored(bytes), book, deleted, back, at));
        if (!change.CommitJournal()) {
            result.error = change.error;
            change.Rollback();
            return result;
        }
    }
    if (!change.PutInTrash(deleted)) {
        // The save goes on: the user is told the articles did not reach the trash.
        if (change.effects.AllKept()) change.effects.error = change.error;
        change.effects.trashed = false;
        for (Trash::Entry& e : deleted) e.serial = 0;
    }
    {
        const Backups::OnReplace keep(Backups(folder.BackupFolder()), book.GetFileName());
        result.saved = book.SaveFile(&result.error, at);
        if (!keep.Kept()) change.effects.backedUp = false;
    }
    if (!result.saved) {
        change.Rollback();
        for (Trash::Entry& e : deleted) e.serial = 0;
        result.effects = change.effects;
        return result;
    }
    if (!change.TakeFromTrash(restored)) {
        if (change.effects.AllKept()) change.effects.error = change.error;
        change.effects.trashed = false;
    }
    change.Commit();
    result.effects = change.effects;
    return result;
}

BookSave RestoreArticle(const DataFolder& folder, CRuleBook& book, const Trash::Entry& entry) {
    CRule rule;
    if (entry.kind != Trash::Kind::Article || !rule.FromLine(entry.payload) ||
        !book.AddRule(rule)) {
        BookSave refused;
        qv::io::Fail(&refused.error, qv::io::IoError::Op::Read, folder.TrashPath(), EINVAL);
        return refused;
    }
    std::vector<Trash::Entry> none;
    return SaveRuleBook(folder, book, none, {&entry.serial, 1});
}

BookSave RestoreBookVersion(const DataFolder& folder, CRuleBook& book, std::string_view bytes) {
    if (!book.LoadBytes(bytes)) {
        BookSave refused;
        qv::io::Fail(&refused.error, qv::io::IoError::Op::Read, book.GetFileName(), EINVAL);
        return refused;
    }
    std::vector<Trash::Entry> none;
    return SaveRuleBook(folder, book, none);
}
