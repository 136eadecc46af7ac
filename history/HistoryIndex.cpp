#include "history/HistoryIndex.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>

#include "records/LineBlocks.h"
#include "text/Cp932.h"
#include "text/Numbers.h"

namespace qv::history {

namespace {

// The figures multiplied each by its own odd constant side by side, then mixed once: no
// long chain of dependent multiplications per record.
struct ValuesHash {
    size_t operator()(const SentenceValues& v) const {
        const auto u = [](std::int64_t x) { return static_cast<std::uint64_t>(x); };
        std::uint64_t h = (u(v.total) * 0x9E3779B97F4A7C15ull) ^ (u(v.points) * 0xC2B2AE3D27D4EB4Full) ^
                          (u(v.units[0]) * 0x165667B19E3779F9ull) ^ (u(v.units[1]) * 0xD6E8FEB86659FD93ull) ^
                          (u(v.units[2]) * 0xFF51AFD7ED558CCDull) ^ (u(v.units[3]) * 0xC4CEB9FE1A85EC53ull);
        h ^= h >> 32;
        h *= 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
        return static_cast<size_t>(h);
    }
};

static_assert(kImplementCount == 4, "SameValues and ValuesHash name each unit");
bool SameValues(const SentenceValues& a, const SentenceValues& b) {
    return ((a.total ^ b.total) | (a.points ^ b.points) | (a.units[0] ^ b.units[0]) |
            (a.units[1] ^ b.units[1]) | (a.units[2] ^ b.units[2]) | (a.units[3] ^ b.units[3])) == 0;
}

using Fields = std::array<std::string_view, SentenceRecord::kFieldCount>;

// Cuts the first 11 fields of a line at its TABs in one pass, 16 bytes at a time; gives
// how many TABs it saw, counting up to 11 (a record has at least 10). A field past the
// last TAB is empty, as a search for each TAB in turn would make it.
size_t CutFields(std::string_view line, Fields& fields) {
    constexpr size_t kWanted = SentenceRecord::kFieldCount;
    size_t tabs[kWanted];
    const size_t n = qv::FindTabs(line, tabs, kWanted);
    size_t start = 0;
    for (size_t f = 0; f < kWanted; ++f) {
        const size_t end = f < n ? tabs[f] : line.size();
        fields[f] = line.substr(start, end - start);
        start = std::min(line.size(), end + 1);
    }
    return n;
}

// A field of digits alone, as nearly every number of a log is, read in one short loop;
// anything else (blanks, a sign, a long or broken number) goes to the general reader, so
// every field reads as ReadInt64 reads it.
std::int64_t ReadNumber(std::string_view text) {
    std::int64_t value = 0;
    return qv::ReadPlainDigits(text, value) ? value : qv::ReadInt64(text);
}

std::int32_t ReadNumber32(std::string_view text) {
    const std::int64_t v = ReadNumber(text);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

// The decision time, when the field is one (see IsDecisionTime); read once for both the
// check and the value.
std::optional<Seconds> DecisionTime(std::string_view field) {
    if (std::int64_t value = 0; qv::ReadPlainDigits(field, value)) return value;
    if (!IsDecisionTime(field)) return std::nullopt;
    return qv::ReadInt64(field);
}

}  // namespace

// What the index learns as it is built: the ids of the articles and sentence values seen
// so far. Keys are owned, as a log read in blocks loses each line's bytes after it.
struct HistoryIndex::Builder {
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> articleIds;
    // Each id's key, and for small article numbers the id last seen with that number: a
    // record names the same article as the one before it with its number nearly always,
    // so one comparison of its text stands in for a hash lookup. The map stays the one
    // that gives ids.
    std::vector<std::string> keys;
    static constexpr std::int32_t kRecentNumbers = 4096;
    std::vector<std::uint32_t> recent = std::vector<std::uint32_t>(kRecentNumbers, kNone);
    static constexpr std::uint32_t kNone = UINT32_MAX;
    // The ids of the sentence values, open addressed in a power of two of slots (each the
    // id + 1, 0 empty): a log holds a few dozen sets, and a lookup per record is a few
    // multiplications and one comparison, where a node-based map divided by a prime and
    // chased a pointer. Ids go in order of first appearance.
    std::vector<std::uint32_t> valueSlots = std::vector<std::uint32_t>(256, 0);
    std::uint32_t ValuesId(const SentenceValues& v, std::vector<SentenceValues>& all) {
        const size_t mask = valueSlots.size() - 1;
        for (size_t at = ValuesHash{}(v) & mask;; at = (at + 1) & mask) {
            const std::uint32_t slot = valueSlots[at];
            if (slot == 0) break;
            if (SameValues(all[slot - 1], v)) return slot - 1;
        }
        all.push_back(v);
        const auto id = static_cast<std::uint32_t>(all.size() - 1);
        if (all.size() * 4 > valueSlots.size()) {  // at most a quarter full: probes stay short
            valueSlots.assign(valueSlots.size() * 2, 0);
            for (std::uint32_t i = 0; i < all.size(); ++i) Place(all[i], i);
        } else {
            Place(v, id);
        }
        return id;
    }
    void Place(const SentenceValues& v, std::uint32_t id) {
        const size_t mask = valueSlots.size() - 1;
        size_t at = ValuesHash{}(v) & mask;
        while (valueSlots[at] != 0) at = (at + 1) & mask;
        valueSlots[at] = id + 1;
    }
    bool first = true;
};

void HistoryIndex::Clear() {
    entries_.clear();
    entriesAhead_ = {};
    articles_.clear();
    values_.clear();
    issues = {};
    minTime_ = maxTime_ = 0;
}

void HistoryIndex::Build(const SentenceLog::Contents& contents) {
    Clear();
    issues = FindLogIssues(contents);
    entries_.reserve(contents.RecordCount());
    Builder builder;
    Fields fields;
    for (size_t r = 0; r < contents.RecordCount(); ++r) {
        CutFields(contents.Record(r), fields);
        if (const auto time = DecisionTime(fields[SentenceRecord::kDecisionTime]))
            AddRecord(builder, fields, *time);
    }
    entries_.shrink_to_fit();
}

qv::io::ReadStatus HistoryIndex::Read(const std::string& path, qv::io::IoError* error) {
    Clear();
    // Room for as many records as the file could hold (a record takes at least 12 bytes):
    // pages never filled are never touched, and the entries are never copied as they grow.
    entries_.reserve(static_cast<size_t>(std::max<std::int64_t>(0, qv::io::FileSize(path))) / 12);
    Builder builder;
    Fields fields;
    const qv::io::ReadStatus status = qv::records::ForEachLineInBlocks(
        path,
        [&](const qv::Line& line) {
            // Sorted and counted as the log's reader does (see LogScan): a record is a
            // line with its line end and at least 10 TABs; the rest are other lines.
            const std::string_view text = line.text;
            if (!line.terminated || CutFields(text, fields) < SentenceRecord::kFieldCount - 1) {
                std::string_view raw = line.raw;
                if (raw == "\n" || raw == "\r\n") return;  // empty lines hold nothing
                ++issues.unreadLines;
                if (raw.ends_with("\r\n")) raw.remove_suffix(2);
                if (raw.find('\r') != std::string_view::npos) ++issues.crOnlyLines;
                return;
            }
            const std::optional<Seconds> time = DecisionTime(fields[SentenceRecord::kDecisionTime]);
            if (IsGluedRecord(text)) ++issues.gluedLines;
            if (time)
                AddRecord(builder, fields, *time);
            else
                ++issues.badTimes;
        },
        error);
    if (status == qv::io::ReadStatus::Unreadable) Clear();  // as a log that could not be read
    return status;
}

void HistoryIndex::AddRecord(Builder& builder,
                             const std::array<std::string_view, SentenceRecord::kFieldCount>& fields,
                             Seconds time) {
    // Article number and name together, as one stretch of the line.
    const std::string_view numberField = fields[SentenceRecord::kArticleNumber];
    const std::string_view nameField = fields[SentenceRecord::kArticleName];
    const std::string_view articleKey(numberField.data(),
                                      nameField.data() + nameField.size() - numberField.data());
    const std::int32_t number = ReadNumber32(numberField);
    std::uint32_t* recent =
        number >= 0 && number < Builder::kRecentNumbers ? &builder.recent[static_cast<size_t>(number)]
                                                        : nullptr;
    std::uint32_t articleId = recent ? *recent : Builder::kNone;
    if (articleId == Builder::kNone || builder.keys[articleId] != articleKey) {
        auto articleIt = builder.articleIds.find(articleKey);
        if (articleIt == builder.articleIds.end()) {
            articleIt = builder.articleIds
                            .emplace(std::string(articleKey), static_cast<std::uint32_t>(articles_.size()))
                            .first;
            builder.keys.emplace_back(articleKey);
            articles_.push_back({number, std::string(nameField), qv::Cp932ToUtf8(nameField)});
        }
        articleId = articleIt->second;
        if (recent) *recent = articleId;
    }

    SentenceValues values;
    values.total = ReadNumber(fields[SentenceRecord::kTotal]);
    for (int k = 0; k < kImplementCount; ++k)
        values.units[k] = ReadNumber(fields[SentenceRecord::kCount1 + k]);
    values.points = ReadNumber(fields[SentenceRecord::kPoints]);
    std::uint32_t sentence = builder.ValuesId(values, values_);
    // "0" is the one mark of a sentence not yet executed; anything else counts as done.
    if (fields[SentenceRecord::kExecuted] != "0") sentence |= kExecutedBit;
    entries_.push_back({time, articleId, sentence});
    entriesAhead_.Keep(entries_);
    minTime_ = builder.first ? time : std::min(minTime_, time);
    maxTime_ = builder.first ? time : std::max(maxTime_, time);
    builder.first = false;
}

std::vector<ArticleName> HistoryIndex::ArticleNumbers() const {
    // The newest record's name for each number: find each article id's last use.
    std::vector<size_t> lastUse(articles_.size(), 0);
    for (size_t i = 0; i < entries_.size(); ++i) lastUse[entries_[i].article] = i;
    std::map<std::int32_t, size_t> newest;  // number -> article id
    for (size_t id = 0; id < articles_.size(); ++id) {
        auto [it, added] = newest.try_emplace(articles_[id].number, id);
        if (!added && lastUse[id] >= lastUse[it->second]) it->second = id;
    }
    std::vector<ArticleName> out;
    out.reserve(newest.size());
    for (const auto& [number, id] : newest) out.push_back(articles_[id]);
    return out;
}

std::optional<Seconds> HistoryIndex::FirstTime() const {
    if (entries_.empty()) return std::nullopt;
    return minTime_;
}

std::optional<Seconds> HistoryIndex::LastTime() const {
    if (entries_.empty()) return std::nullopt;
    return maxTime_;
}

size_t HistoryIndex::HeapBytes() const {
    // The entries' room beyond their count is reserved, never touched: it takes no memory.
    size_t bytes = entries_.size() * sizeof(Entry) +
                   values_.capacity() * sizeof(SentenceValues) +
                   articles_.capacity() * sizeof(ArticleName);
    for (const ArticleName& a : articles_) bytes += a.name.capacity() + a.nameUtf8.capacity();
    return bytes;
}

}  // namespace qv::history
