#include "rulebook/RuleBook.h"

#include <cmath>
#include <ctime>
#include <functional>
#include <limits>
#include <vector>

#include "text/FileIo.h"
#include "text/KxString1.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace qv {
Seconds SystemNow() { return static_cast<Seconds>(std::time(nullptr)); }
}  // namespace qv

namespace {
// The header line: token, version, the book's identifier, the save time, then the four
// implements. Read and written from these same constants.
constexpr std::string_view kToken = "qvrule";
constexpr std::string_view kVersion = "1";
constexpr std::string_view kBookId = "id1";

bool ValidImplement(int index) { return index >= 0 && index < CRuleBook::kImplementCount; }
}  // namespace

CRuleBook::CRuleBook() : clock_(qv::SystemNow) {}

bool CRuleBook::SetFileName(std::string fileName) {
    fileName_ = std::move(fileName);
    return true;
}

void CRuleBook::SetClock(qv::Clock clock) { clock_ = clock ? std::move(clock) : qv::SystemNow; }

bool CRuleBook::AddRule(CRule rule) {
    const int number = rule.GetNumber();
    if (number < kMinNumber || number > kMaxNumber) return false;
    auto it = rules_.find(number);
    if (it == rules_.end()) {
        rule.SetCreated(clock_());
        rules_.emplace(number, std::move(rule));
    } else if (it->second == rule) {
        return true;
    } else {
        it->second = std::move(rule);
    }
    modified_ = true;
    return true;
}

bool CRuleBook::RemoveRule(int number) {
    if (rules_.erase(number) > 0) modified_ = true;
    return true;
}

CRule* CRuleBook::FindRule(int number) {
    auto it = rules_.find(number);
    return it == rules_.end() ? nullptr : &it->second;
}

const CRule* CRuleBook::FindRule(int number) const {
    auto it = rules_.find(number);
    return it == rules_.end() ? nullptr : &it->second;
}

int CRuleBook::NextNumber() const { return rules_.empty() ? 1 : rules_.rbegin()->first + 1; }

std::string CRuleBook::GetImpName(int index) const {
    return ValidImplement(index) ? impName_[static_cast<size_t>(index)] : std::string();
}

int CRuleBook::GetImpWeight(int index) const {
    return ValidImplement(index) ? impWeight_[static_cast<size_t>(index)] : 0;
}

bool CRuleBook::SetImpName(int index, std::string name) {
    if (!ValidImplement(index)) return false;
    std::string& stored = impName_[static_cast<size_t>(index)];
    if (stored != name) modified_ = true;
    stored = std::move(name);
    return true;
}

bool CRuleBook::SetImpWeight(int index, double weight) {
    if (!ValidImplement(index) || std::isnan(weight)) return false;
    // Truncation toward zero, kept inside the integer range.
    constexpr double kMax = std::numeric_limits<int>::max();
    constexpr double kMin = std::numeric_limits<int>::min();
    const int value = weight >= kMax   ? std::numeric_limits<int>::max()
                      : weight <= kMin ? std::numeric_limits<int>::min()
                                       : static_cast<int>(weight);
    if (impWeight_[static_cast<size_t>(index)] != value) modified_ = true;
    impWeight_[static_cast<size_t>(index)] = value;
    return true;
}

bool CRuleBook::LoadFile() {
    // The whole file, whatever its size: a book beyond the old ceilings must not lose rules.
    std::string content;
    loadError_ = {};
    switch (qv::io::ReadFile(fileName_, content, KxLimits::Lifted().maxSize, &loadError_)) {
        case qv::io::ReadStatus::Ok:
            break;
        case qv::io::ReadStatus::Missing:
            loadStatus_ = LoadStatus::Missing;
            return false;
        case qv::io::ReadStatus::Empty:
            loadStatus_ = LoadStatus::Empty;
            return false;
        case qv::io::ReadStatus::Unreadable:
            loadStatus_ = LoadStatus::Unreadable;
            return false;
    }
    if (!Take(content, false)) return false;
    modified_ = false;
    onDisk_ = FingerprintOf(content);
    return true;
}

bool CRuleBook::LoadBytes(std::string_view content) {
    if (content.empty()) {
        loadStatus_ = LoadStatus::Empty;
        return false;
    }
    if (!Take(content, true)) return false;
    // Not what the file holds: the book is saved to make it so.
    modified_ = true;
    return true;
}

bool CRuleBook::Take(std::string_view content, bool whole) {
    std::vector<std::string_view> header;
    std::vector<std::pair<CRule, std::string_view>> loaded;
    std::vector<std::string> unread;
    bool headerSeen = false;
    bool accepted = false;
    LoadStatus notEnded = LoadStatus::NotARuleBook;
    qv::ForEachLine(content, [&](const qv::Line& line) {
        if (!headerSeen) {
            headerSeen = true;
            // Like the split of the whole file: with no line end there is no header. A
            // right header without one is told as such, not as a wrong header.
            const std::string_view first =
                line.terminated ? line.text : line.text.substr(0, line.text.find('\r'));
            qv::SplitFields(first, header);
            const bool headerRight =
                header.size() >= 2 && header[0] == kToken && header[1] == kVersion;
            if (line.terminated) {
                accepted = headerRight;
            } else if (headerRight) {
                notEnded = first.size() < line.text.size() ? LoadStatus::CrOnlyLineEnds
                                                           : LoadStatus::HeaderNotEnded;
            }
            return;
        }
        if (!accepted) return;
        CRule rule;
        if (rule.FromLine(line.text))
            loaded.emplace_back(std::move(rule), line.text);
        else if (!line.text.empty())
            unread.emplace_back(line.text);
    });
    if (!accepted) {
        loadStatus_ = notEnded;
        return false;
    }

    // A short header reads its missing implements as empty names and zero weights.
    for (int i = 0; i < kImplementCount; ++i) {
        size_t nameField = 4 + 2 * static_cast<size_t>(i);
        impName_[static_cast<size_t>(i)] =
            nameField < header.size() ? std::string(header[nameField]) : std::string();
        impWeight_[static_cast<size_t>(i)] =
            nameField + 1 < header.size() ? qv::ReadInt32(header[nameField + 1]) : 0;
    }
    if (whole) rules_.clear();
    for (auto& [rule, text] : loaded) {
        if (!AddRule(std::move(rule))) unread.emplace_back(text);  // number outside 1..9999
    }
    unreadLines_ = std::move(unread);
    loadStatus_ = LoadStatus::Ok;
    return true;
}

std::string CRuleBook::HeaderLine(qv::Seconds at) const {
    std::string out;
    for (std::string_view field : {kToken, kVersion, kBookId}) {
        out += field;
        out += '\t';
    }
    out += qv::Decimal(at);
    for (int i = 0; i < kImplementCount; ++i) {
        out += '\t';
        out += impName_[static_cast<size_t>(i)];
        out += '\t';
        out += qv::Decimal(impWeight_[static_cast<size_t>(i)]);
    }
    return out;
}

bool CRuleBook::SaveFile(qv::io::IoError* error, std::optional<qv::Seconds> at) {
    std::string out = HeaderLine(at ? *at : clock_());
    out += "\r\n";
    for (const auto& [number, rule] : rules_) {
        out += rule.ToLine();
        out += "\r\n";
    }
    // Lines the load could not read go back as they were: a save never drops them.
    for (const std::string& line : unreadLines_) {
        out += line;
        out += "\r\n";
    }
    KxString1 text(KxLimits::Lifted());
    if (!text.Set(out.data(), static_cast<int>(out.size()))) return false;
    if (!qv::io::WriteFileAtomic(fileName_, text.View(), error)) return false;
    modified_ = false;
    onDisk_ = FingerprintOf(out);
    return true;
}

CRuleBook::Fingerprint CRuleBook::FingerprintOf(std::string_view bytes) {
    return {bytes.size(), std::hash<std::string_view>{}(bytes)};
}

CRuleBook::DiskChange CRuleBook::ChangeOnDisk() const {
    if (!onDisk_) return DiskChange::None;
    std::string content;
    switch (qv::io::ReadFile(fileName_, content)) {
        case qv::io::ReadStatus::Missing:
            return DiskChange::Removed;
        case qv::io::ReadStatus::Unreadable:
            return DiskChange::Unreadable;
        case qv::io::ReadStatus::Ok:
        case qv::io::ReadStatus::Empty:
            break;
    }
    return FingerprintOf(content) == *onDisk_ ? DiskChange::None : DiskChange::Changed;
}
