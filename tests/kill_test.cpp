// Every action that writes several files, killed at each of its file-changing calls
// (before the call, after it, and with a write cut in half), then started twice: every
// sentence is once in the log or once in the trash, the balance is the ledger's last
// figure, nothing temporary is left, and the second start changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "execution/Undo.h"
#include "records/Backups.h"
#include "records/BookSave.h"
#include "records/DataFolder.h"
#include "records/Ledger.h"
#include "records/Marks.h"
#include "records/PointBalance.h"
#include "records/Repair.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/support/KillAt.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "trial/Verdict.h"

namespace {

using qv::test::KillMode;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

constexpr std::int64_t kStart = 1000;
const std::string kId = "1700000000";
const std::string kTarget = kId + "\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9";
const std::string kDeleted = "1650000000\t3\tZ\t8\tA:8 \t0\t8\t0\t0\t0\t5";

class KillEveryCall : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        AttachFolder(info_, DataFolder());
    }

    // A folder in use: a log, the balance with its ledger, a sentence in the trash and a
    // kept version of the log.
    void Plant() {
        for (const char* f : {"test.log", "user.dat", "user.ldg", "test.trs", "intent.dat",
                              "test.rsn"})
            std::filesystem::remove(f);
        std::filesystem::remove_all("backup");
        std::string log;
        for (int i = 0; i < 200; ++i)
            log += std::to_string(1600000000 + i) + "\t1\tY\t30\tA:3 \t0\t3\t0\t0\t0\t3\r\n";
        WriteBytes("test.log", log + kTarget + "\r\n");
        WriteBytes("user.dat", "a\tb\tc\t" + std::to_string(kStart) + "\te\tf");
        WriteBytes("user.ldg", "1\topen\t\t\t" + std::to_string(kStart) + "\t0\t" +
                                   std::to_string(kStart) + "\r\n");
        // The sample rule book, and an article of it (as number 9998) in the trash.
        WriteBytes("test.dat", ReadBytes(QV_TEST_DATA "/../../examples/test.dat"));
        CRuleBook book;
        book.SetFileName("test.dat");
        book.LoadFile();
        CRule article;
        firstArticle_ = book.begin()->first;
        article.CopyFrom(&book.begin()->second);
        article.SetNumber(9998);
        WriteBytes("test.trs", "1\tlog\t5\t5\t\t201\t" + kDeleted + "\r\n2\trule\t5\t0\t\t0\t" +
                                   article.ToLine() + "\r\n");
        Backups("backup").Keep("test.log");
        WriteBytes("test.log", log + kTarget + "\r\n");
    }

    // What the folder holds, file by file.
    std::map<std::string, std::string> Snapshot() {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::recursive_directory_iterator("."))
            if (e.is_regular_file()) files[e.path().string()] = ReadBytes(e.path().string());
        return files;
    }

    // How often a record line is in the log and in the trash.
    static size_t Count(const std::string& bytes, const std::string& line) {
        size_t n = 0;
        for (size_t at = bytes.find(line); at != std::string::npos; at = bytes.find(line, at + 1))
            ++n;
        return n;
    }

    void Check(const std::string& where) {
        SCOPED_TRACE(where);
        const qv::Clock at = [] { return qv::Seconds{1800000000}; };
        RepairAtStart(DataFolder(), at);
        const auto first = Snapshot();
        const StartRepair again = RepairAtStart(DataFolder(), at);
        EXPECT_TRUE(again.items.empty()) << "the second start found more to do";
        EXPECT_EQ(Snapshot(), first) << "the second start changed a file";
        EXPECT_FALSE(qv::test::Exists("intent.dat"));
        for (const auto& [path, bytes] : first)
            EXPECT_TRUE(path.find(".tmp-") == std::string::npos &&
                        path.find(".new-") == std::string::npos)
                << path << " left behind";
        const std::string log = ReadBytes("test.log");
        const std::string trash = ReadBytes("test.trs");
        // By identifier: a mark may have changed the line.
        for (const std::string& id : {kId, kDeleted.substr(0, 10)}) {
            const size_t inLog = Count("\n" + log, "\n" + id + "\t");
            const size_t inTrash = Count(trash, "\t" + id + "\t");
            EXPECT_EQ(inLog + inTrash, 1u) << id << ": once in the log or once in the trash";
        }
        EXPECT_EQ(Count(log, "\t1\tY\t30\t"), 200u) << "the other sentences stay";
        // A mark is set or not, never anything else, and nothing else of the line changes.
        if (log.find("\n" + kId + "\t") != std::string::npos) {
            std::string executed = kTarget;
            executed[kTarget.find("\t0\t") + 1] = '1';
            EXPECT_TRUE(Count(log, kTarget + "\r\n") + Count(log, executed + "\r\n") == 1)
                << "the marked sentence is whole";
            // An executed sentence's last mark event says so, or a merge would take another
            // computer's older 未執行 over it.
            if (Count(log, executed + "\r\n") == 1) {
                std::optional<bool> last;
                for (const MarkJournal::Event& ev : MarkJournal::Parse(ReadBytes("test.mrk")))
                    if (ev.id == kId) last = ev.executed;
                EXPECT_EQ(last, std::optional<bool>(true)) << "the mark has its event";
            }
        }
        // An article is in the book or in the trash (both at worst), never in neither.
        CRuleBook book;
        book.SetFileName("test.dat");
        ASSERT_TRUE(book.LoadFile());
        const auto inTrash = [&](int number) {
            return trash.find("\trule\t5\t0\t\t0\t" + std::to_string(number) + "\t") !=
                   std::string::npos;
        };
        for (int number : {firstArticle_, 9998})
            EXPECT_TRUE(book.FindRule(number) != nullptr || inTrash(number))
                << "article " << number << " is gone";
        const auto check = Ledger("user.ldg").CheckAgainst(PointBalance("user.dat"), 9);
        EXPECT_EQ(check.result, Ledger::Check::Result::Agrees)
            << "ledger " << check.ledgerBalance << ", file " << check.fileBalance;
        EXPECT_EQ(check.unreadLines, 0u);
    }

    void KillThroughout(const std::function<void()>& action) {
        Plant();
        const int calls = qv::test::CountChangingCalls(action);
        ASSERT_GT(calls, 0);
        int killed = 0;
        for (int n = 1; n <= calls; ++n)
            for (KillMode mode : {KillMode::Before, KillMode::After, KillMode::HalfWrite}) {
                Plant();
                killed += qv::test::RunKilledAt(action, n, mode);
                Check("call " + std::to_string(n) + " of " + std::to_string(calls) + ", mode " +
                      std::to_string(static_cast<int>(mode)));
                if (HasFailure()) return;
            }
        RecordProperty("kills", killed);
    }

public:
    CVerdict Verdict() const { return qv::test::SampleVerdict(9, "text"); }
    std::vector<Trash::Entry> TrashEntries() {
        Trash::Contents c;
        Trash("test.trs").Read(c);
        return c.entries;
    }

protected:
    CInfo info_;
    int firstArticle_ = 0;
};

struct Action {
    const char* name;
    std::function<void(KillEveryCall&, CInfo&)> run;
};

TEST_F(KillEveryCall, EveryMultiFileActionIsWholeOrUndoneAfterTheNextStart) {
    const Action actions[] = {
        {"decide", [](KillEveryCall& t, CInfo& info) { DecideVerdict(t.Verdict(), info, 1700000500); }},
        {"delete", [](KillEveryCall&, CInfo& info) { qv::execution::ReportSession(info).Delete(kId); }},
        {"execute",
         [](KillEveryCall&, CInfo& info) { qv::execution::ReportSession(info).Mark(kId, true); }},
        {"point report",
         [](KillEveryCall&, CInfo& info) { qv::execution::ReportSession(info).Report({{3, 0, 0, 0}}, 7); }},
        {"execute in place through the window's copy",
         [](KillEveryCall&, CInfo& info) {
             SentenceLog::Contents copy;
             SentenceLog(info.GetLogPath()).Read(copy);
             qv::execution::ReportSession(info).Mark(kId, true, &copy, &copy);
         }},
        {"execute, unexecute and both undone",
         [](KillEveryCall&, CInfo& info) {
             qv::execution::ReportSession s(info);
             s.Mark(kId, true);
             s.Mark(kId, false);
             s.Undo();
             s.Undo();
         }},
        {"delete and its undo",
         [](KillEveryCall&, CInfo& info) {
             qv::execution::ReportSession s(info);
             s.Delete(kId);
             s.Undo();
         }},
        {"delete and its undo through the window's copy",
         [](KillEveryCall&, CInfo& info) {
             SentenceLog::Contents copy;
             SentenceLog(info.GetLogPath()).Read(copy);
             qv::execution::ReportSession s(info);
             const qv::execution::Outcome o = s.Delete(kId, qv::records::kEveryRecord, &copy);
             if (o.deletion) copy.RemoveRecords(o.deletion->dropped, o.deletion->logStamp);
             s.Undo(&copy);
         }},
        {"execute and its undo",
         [](KillEveryCall&, CInfo& info) {
             qv::execution::ReportSession s(info);
             s.Mark(kId, true);
             s.Undo();
         }},
        {"report and its undo",
         [](KillEveryCall&, CInfo& info) {
             qv::execution::ReportSession s(info);
             s.Report({{3, 0, 0, 0}}, 7);
             s.Undo();
         }},
        {"trash restore",
         [](KillEveryCall& t, CInfo& info) {
             qv::execution::ReportSession(info).RestoreFromTrash(t.TrashEntries());
         }},
        {"backup restore",
         [](KillEveryCall&, CInfo&) {
             const Backups backups("backup");
             const auto versions = backups.List();
             if (!versions.empty()) backups.Restore(versions.front(), "test.log");
         }},
        {"the rule list's save with its trash",
         [](KillEveryCall&, CInfo&) {
             CRuleBook book;
             book.SetFileName("test.dat");
             book.LoadFile();
             const int first = book.begin()->first;
             std::vector<Trash::Entry> deleted{
                 {0, Trash::Kind::Article, 5, 0, {}, 0, book.FindRule(first)->ToLine()}};
             book.RemoveRule(first);
             SaveRuleBook(DataFolder(), book, deleted);
         }},
        {"an article put back from the trash",
         [](KillEveryCall& t, CInfo&) {
             CRuleBook book;
             book.SetFileName("test.dat");
             book.LoadFile();
             for (const Trash::Entry& e : t.TrashEntries()) {
                 CRule rule;
                 if (e.kind != Trash::Kind::Article || !rule.FromLine(e.payload)) continue;
                 book.AddRule(rule);
                 std::vector<Trash::Entry> none;
                 SaveRuleBook(DataFolder(), book, none, {&e.serial, 1});
             }
         }},
    };
    for (const Action& a : actions) {
        SCOPED_TRACE(a.name);
        KillThroughout([&] { a.run(*this, info_); });
        if (HasFailure()) return;
    }
}

}  // namespace
