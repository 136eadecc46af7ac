#include "trial/Verdict.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <set>
#include <string_view>

#include "records/Change.h"
#include "records/DataFolder.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "rulebook/Tenths.h"
#include "text/Cp932.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

using qv::Extended;

// Point arithmetic mixes the extended type with double on purpose: every product below
// stays extended until the one conversion to double the result is rounded from. These
// results differ from exact decimal arithmetic at some boundaries, and they are the ones
// users' existing logs were computed with.
constexpr double kMercyRate = 0.3;  // double: slightly below 0.3
constexpr std::int64_t kHistoryDays = 10;
constexpr std::int64_t kSecondsPerDay = 86400;

// Fixed phrases, converted once to the CP932 of the texts.
struct Phrases {
    std::string article, standard, pointsAnd, noMercy, someMercy, muchMercy, furthermore,
        applications, pointsEnd, conclusion, decided, reasons, pointsLine;
};

std::string Cp(std::string_view utf8) { return qv::Utf8ToCp932(utf8).value(); }

const Phrases& P() {
    static const Phrases p{
        Cp("条:"),
        Cp("条の基準は"),
        Cp("ポイントであり、"),
        Cp("情状酌量の余地はない。\r\n"),
        Cp("情状酌量の余地が多少ある。\r\n"),
        Cp("情状酌量の余地が多分にある。\r\n"),
        Cp("また、過去10日間に"),
        Cp("回の同条文の適用があり、その合計量刑は"),
        Cp("ポイントである。\r\n"),
        Cp("以上のことから、本件における量刑を"),
        Cp("ポイントと決定し、規定に基づき配分した。"),
        Cp("\r\n\r\n判決理由\r\n\r\n"),
        Cp("ポイント:"),
    };
    return p;
}

// A rounded double as an integer; saturates instead of overflowing, NaN gives 0.
std::int64_t ToInteger(double v) {
    if (std::isnan(v)) return 0;
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (v >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (v < -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

const std::string& MercyPhrase(int level) {
    if (level < 2) return P().noMercy;
    if (level < 7) return P().someMercy;
    return P().muchMercy;
}

std::int64_t Reduction(std::int32_t base, int level, int extenuation) {
    const double extFactor = static_cast<double>(extenuation * qv::kTenth);
    Extended x = static_cast<Extended>(static_cast<std::int64_t>(base) * level);
    x *= static_cast<Extended>(kMercyRate);
    x *= qv::kTenth;
    x *= static_cast<Extended>(extFactor);
    return ToInteger(std::floor(static_cast<double>(x)));
}

std::int64_t Increase(std::int64_t historySum, std::int64_t historyCount, int cumulative) {
    // A history that adds up to nothing positive raises nothing (and has no root).
    if (historySum <= 0 || historyCount <= 0) return 0;
    const double cumFactor = static_cast<double>(cumulative * qv::kTenth);
    const Extended sumAsDouble = static_cast<double>(historySum);
    const double inner =
        static_cast<double>(std::sqrt(sumAsDouble) * static_cast<Extended>(historyCount));
    const double outer = static_cast<double>(std::sqrt(static_cast<Extended>(inner)) * cumFactor);
    return ToInteger(std::ceil(outer));
}

std::int64_t ShareSum(const CRule& rule) {
    std::int64_t sum = 0;
    for (int i = 0; i < CRule::kShareCount; ++i) sum += rule.GetShare(i);
    return sum;
}

// 5. The heading and the verdict text ("判決理由" and how the total came about).
void WriteTexts(CVerdict& v, const CRule& rule, int level, const CRuleBook& book) {
    const Phrases& p = P();
    v.articleNumber = rule.GetNumber();
    v.articleName = rule.GetName();
    v.articleText = rule.GetText();
    v.heading = qv::Decimal(v.articleNumber) + p.article + v.articleName;

    std::string lines;
    for (size_t i = 0; i + 1 < v.counts.size(); ++i) {
        // Only implements with weight get units, so a count above 0 is an entry.
        if (v.counts[i] > 0)
            lines += book.GetImpName(static_cast<int>(i)) + ":" + qv::Decimal(v.counts[i]) + "\r\n";
    }
    if (v.points > 0) lines += p.pointsLine + qv::Decimal(v.points);
    for (size_t i = 0; i < v.counts.size(); ++i) {
        if (i > 0) v.countsText += '\t';
        v.countsText += qv::Decimal(v.counts[i]);
    }

    std::string& t = v.verdictText;
    t = lines + p.reasons;
    t += qv::Decimal(v.articleNumber) + p.standard + qv::Decimal(rule.GetBase()) + p.pointsAnd +
         MercyPhrase(level);
    if (v.historyCount > 0) {
        t += p.furthermore + qv::Decimal(v.historyCount) + p.applications +
             qv::Decimal(v.historySum) + p.pointsEnd;
    }
    t += p.conclusion + qv::Decimal(v.total) + p.decided;
}

}  // namespace

std::int64_t DayNumber(qv::Seconds t) {
    // Exact floor division. Scaling by the extended 1/86400 and rounding through double
    // gives the same day for every time up to the year 376 million, but not for all
    // 64-bit times, so the division is what is written here.
    std::int64_t day = t / kSecondsPerDay;
    if (t % kSecondsPerDay < 0) --day;
    return day;
}

SentenceRecord CVerdict::ToRecord(qv::Seconds decidedAt) const {
    SentenceRecord record;
    record.fields.reserve(SentenceRecord::kFieldCount);
    record.fields.push_back(qv::Decimal(decidedAt));
    record.fields.push_back(qv::Decimal(articleNumber));
    record.fields.push_back(articleName);
    record.fields.push_back(qv::Decimal(total));
    record.fields.push_back(distribution);
    record.fields.push_back("0");  // not executed yet
    for (std::int64_t c : counts) record.fields.push_back(qv::Decimal(c));
    return record;
}

Composition::Status FindArticle(const CInfo& info, int articleNumber, const CRule*& rule) {
    const CRuleBook* book = info.GetRuleBook();
    rule = book ? book->FindRule(articleNumber) : nullptr;
    if (rule == nullptr) return Composition::Status::NoSuchArticle;
    if (ShareSum(*rule) == 0) {
        rule = nullptr;
        return Composition::Status::SharesAddUpToZero;
    }
    return Composition::Status::Ok;
}

namespace {
// One record's weight on the history of a trial on day `today`.
void Weigh(History& h, qv::Seconds decidedAt, std::int64_t article, std::int64_t total,
           int articleNumber, std::int64_t today) {
    const std::int64_t day = DayNumber(decidedAt);
    if (day > today || day + kHistoryDays < today) return;
    if (article != articleNumber) return;
    h.sum = qv::SaturatingAdd(h.sum, total);
    ++h.count;
    if (!h.oldest || decidedAt < *h.oldest) h.oldest = decidedAt;
}
}  // namespace

TrialLog TrialLog::Read(const std::string& path, qv::Seconds since) {
    TrialLog log;
    log.firstDay = DayNumber(since);
    log.read = SentenceLog(path).ForEachRecordInPieces(
        [&log](std::string_view text, std::uint32_t) {
            std::string_view time, article, total;
            qv::FieldWalk walk(text);
            walk.Next(time);
            const qv::Seconds decidedAt = qv::ReadInt64(time);
            // Decided before the 10 days of the first trial it serves: it never counts.
            if (DayNumber(decidedAt) + kHistoryDays < log.firstDay) return;
            walk.Next(article);
            walk.Next(total);  // the name, skipped
            walk.Next(total);
            log.entries.push_back({decidedAt, qv::ReadInt64(article), qv::ReadInt64(total)});
        },
        log.damage, log.stamp, &log.error);
    if (log.read == qv::io::ReadStatus::Unreadable) log.entries.clear();
    return log;
}

bool TrialLog::StillMatches(const std::string& path) const {
    return stamp.Known() && qv::io::StampOf(path) == stamp;
}

History CountHistory(const TrialLog& log, int articleNumber, qv::Seconds now) {
    History h;
    const std::int64_t today = DayNumber(now);
    for (const TrialLog::Entry& e : log.entries)
        Weigh(h, e.decidedAt, e.article, e.total, articleNumber, today);
    return h;
}

History CountHistory(const SentenceLog::Contents& log, int articleNumber, qv::Seconds now) {
    History h;
    const std::int64_t today = DayNumber(now);
    std::string_view time, article, total;
    for (size_t i = 0; i < log.RecordCount(); ++i) {
        // The article number noted when the log was read settles most records without
        // looking at their lines again.
        const std::uint32_t plain = log.PlainArticle(i);
        if (plain != SentenceLog::Contents::kNotPlain &&
            static_cast<std::int64_t>(plain) != articleNumber)
            continue;
        // A record has all 11 fields; the first four are all that is needed here.
        qv::FieldWalk walk(log.Record(i));
        walk.Next(time);
        walk.Next(article);
        walk.Next(total);  // the name, skipped
        walk.Next(total);
        const qv::Seconds decidedAt = qv::ReadInt64(time);
        const std::int64_t day = DayNumber(decidedAt);
        if (day > today || day + kHistoryDays < today) continue;
        Weigh(h, decidedAt, qv::ReadInt64(article), qv::ReadInt64(total), articleNumber, today);
    }
    return h;
}

qv::Seconds StopsCounting(qv::Seconds decidedAt) {
    const std::int64_t day = DayNumber(decidedAt) + kHistoryDays + 1;
    if (day > std::numeric_limits<qv::Seconds>::max() / kSecondsPerDay)
        return std::numeric_limits<qv::Seconds>::max();
    return day * kSecondsPerDay;
}

Sentence ComputeSentence(const CRule& rule, int level, const History& history) {
    Sentence s;
    const std::int32_t base = rule.GetBase();
    s.reduction = Reduction(base, level, rule.GetExtenuation());
    s.increase = Increase(history.sum, history.count, rule.GetCumulative());
    s.total = qv::SaturatingAdd(qv::SaturatingAdd(base, s.increase), -s.reduction);
    return s;
}

Distribution DistributeSentence(const CRule& rule, const CRuleBook& book, std::int64_t total) {
    Distribution d;
    const std::int64_t shareSum = ShareSum(rule);
    if (shareSum == 0) return d;  // refused before: nothing to spread over
    // Each portion is rounded up by itself; nothing is carried between them.
    for (int i = 0; i < CRule::kShareCount; ++i) {
        const double portion =
            static_cast<double>(static_cast<Extended>(rule.GetShare(i)) /
                                static_cast<Extended>(shareSum) * static_cast<Extended>(total));
        auto& count = d.counts[static_cast<size_t>(i)];
        if (i == CRule::kShareCount - 1) {
            count = ToInteger(std::ceil(portion));
            break;
        }
        const int weight = book.GetImpWeight(i);
        if (weight <= 0) continue;  // an implement worth nothing takes no units
        count = ToInteger(std::ceil(static_cast<double>(portion / (weight * qv::kTenth))));
        if (count > 0) d.text += book.GetImpName(i) + ":" + qv::Decimal(count) + " ";
    }
    return d;
}

Composition ComposeVerdict(int articleNumber, int level, const CInfo& info, qv::Seconds now) {
    const CRule* rule = nullptr;
    Composition result;
    result.status = FindArticle(info, articleNumber, rule);
    // A refused article needs no history: the log is not read for it.
    if (result.status != Composition::Status::Ok) return result;
    return ComposeVerdict(articleNumber, level, info, now, TrialLog::Read(info.GetLogPath(), now));
}

namespace {
// Steps 1 to 5 over a log read one way or another; count gives its history at `now`.
template <typename Count>
Composition Compose(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                    qv::io::ReadStatus read, const qv::io::IoError& error, const Count& count) {
    Composition result;
    const CRule* rule = nullptr;
    result.status = FindArticle(info, articleNumber, rule);
    if (result.status != Composition::Status::Ok) return result;
    if (read == qv::io::ReadStatus::Unreadable) {
        // Composing without the history would understate the sentence.
        result.status = Composition::Status::LogUnreadable;
        result.error = error;
        return result;
    }

    const History history = count(articleNumber, now);
    const Sentence sentence = ComputeSentence(*rule, level, history);
    Distribution distribution = DistributeSentence(*rule, *info.GetRuleBook(), sentence.total);

    CVerdict v;
    v.historyCount = history.count;
    v.historySum = history.sum;
    v.reduction = sentence.reduction;
    v.increase = sentence.increase;
    v.total = sentence.total;
    v.counts = distribution.counts;
    v.distribution = std::move(distribution.text);
    v.points = std::max<std::int64_t>(v.counts.back(), 0);
    WriteTexts(v, *rule, level, *info.GetRuleBook());
    result.verdict = std::move(v);
    return result;
}
}  // namespace

Composition ComposeVerdict(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                           const SentenceLog::Contents& log, qv::io::ReadStatus read,
                           const qv::io::IoError& error) {
    return Compose(articleNumber, level, info, now, read, error,
                   [&log](int article, qv::Seconds t) { return CountHistory(log, article, t); });
}

Composition ComposeVerdict(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                           const TrialLog& log) {
    return Compose(articleNumber, level, info, now, log.read, log.error,
                   [&log](int article, qv::Seconds t) { return CountHistory(log, article, t); });
}


Decision DecideVerdict(const CVerdict& verdict, const CInfo& info, qv::Seconds decidedAt) {
    Decision d;
    const DataFolder folder = FolderOf(info);
    const PointBalance balance(folder.BalancePath());
    Change change(folder, [&decidedAt] { return decidedAt; });
    const auto notRecorded = [&](bool busy) {
        d.status = Decision::Status::NotRecorded;
        d.busy = busy;
        d.error = change.error;
        return d;
    };
    if (!change.Lock(folder.LogPath()) ||
        (verdict.points > 0 && !change.Lock(folder.BalancePath())))
        return notRecorded(true);
    // The log's end alone: the newest records say whether the second is free.
    std::int64_t logSize = 0;
    // A sentence waiting in the trash keeps its second: restored, it must meet no twin.
    const std::set<std::int64_t> trashed = Trash(folder.TrashPath()).LogSecondsFrom(decidedAt);
    for (;;) {
        if (SentenceLog(folder.LogPath()).FreeSecond(decidedAt, logSize, &change.error) ==
            qv::io::ReadStatus::Unreadable)
            return notRecorded(false);
        if (!trashed.count(decidedAt)) break;
        ++decidedAt;
    }
    d.id = qv::Decimal(decidedAt);
    std::string record = verdict.ToRecord(decidedAt).ToLine();

    IntentEntry entry;
    entry.id = d.id;
    entry.points = std::max<std::int64_t>(verdict.points, 0);
    entry.logSize = logSize;
    entry.record = record.substr(0, record.size() - 2);
    entry.balanceBefore = "-";
    std::string credited;  // the balance file's bytes after the credit
    PointBalance::Status planned = PointBalance::Status::Ok;
    if (verdict.points > 0) {
        // Worked out first, under the lock, so the intent can say what the balance was;
        // written only once the record is in the log.
        planned = balance.PlanCredit(verdict.points, entry.balanceBefore, credited, &d.error);
        if (planned != PointBalance::Status::Ok) entry.balanceBefore = "?";
    }
    change.Journal({qv::records::DecideLine(verdict.ToRecord(decidedAt).fields, verdict.verdictText)});
    if (!change.Begin(entry, {&folder.LogPath(), &folder.ReasonsPath(), &folder.LedgerPath()}))
        return notRecorded(false);
    // The text first: a sentence in the log always has it.
    if (!verdict.verdictText.empty()) change.KeepReasons(d.id, verdict.verdictText);
    if (!change.Append(folder.LogPath(), record)) {
        notRecorded(false);
        change.Rollback();
        d.effects = change.effects;
        return d;
    }
    // Decided: from here on the sentence is known by its journal line.
    if (!change.Committed().empty())
        qv::records::Journaling::Of(folder).Decided(d.id, change.Committed().front());
    if (verdict.points > 0) {
        d.balance = planned;
        if (planned == PointBalance::Status::Ok &&
            !change.Replace(folder.BalancePath(), credited, std::nullopt))
            d.balance = PointBalance::Status::WriteFailed;
        if (d.balance != PointBalance::Status::Ok) {
            d.status = Decision::Status::NotCredited;
            if (planned == PointBalance::Status::Ok) d.error = change.error;
            // The entry stays as the note that these points are not on the balance; "?"
            // says so whatever the balance reads later.
            entry = change.Entry();
            entry.balanceBefore = "?";
            entry.sizes.clear();  // a note, not an append to cut back
            change.Restate(entry);
            d.effects = change.effects;
            return d;
        }
        const std::int64_t before =
            entry.balanceBefore == "-" ? 0 : qv::ReadInt64(entry.balanceBefore);
        change.Book({decidedAt, Ledger::Kind::Credit, d.id, std::nullopt, verdict.points, before,
                     qv::SaturatingAdd(before, verdict.points)});
    }
    change.Commit();
    d.effects = change.effects;
    return d;
}
