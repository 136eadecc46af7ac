// The fold of the journals against what the actions themselves write: the real decision,
// marks, deletes, point reports, their undo, restores from the trash and purges, the rule
// list's saves (articles added, changed, deleted, the implements), articles put back and
// book versions restored, each committing its own journal lines. After every step the
// folded files must be the files the actions wrote, byte for byte, so a computer that
// brings its files up to the journals changes nothing of its own work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "execution/Undo.h"
#include "records/Backups.h"
#include "records/BookSave.h"
#include "records/DataFolder.h"
#include "records/JournalFolder.h"
#include "records/Trash.h"
#include "records/TrashPurge.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "trial/Verdict.h"

namespace {

using qv::records::JournalFolder;

// The folder's journals, folded and set against the files the actions wrote.
class Folded {
public:
    explicit Folded(qv::Clock clock) : folder_(DataFolder(), "@pc", std::move(clock)) {}

    void Start() {
        ASSERT_TRUE(folder_.EnsureBase(false));
        ASSERT_TRUE(folder_.Load());
    }
    void ExpectFilesAreTheFold(const std::string& step) {
        ASSERT_TRUE(folder_.Load());
        EXPECT_EQ(folder_.Notes().waiting, 0u) << step;
        qv::records::ViewBytes now;
        ASSERT_TRUE(folder_.ReadViews(now));
        const qv::records::ViewBytes& folded = folder_.Folded();
        EXPECT_EQ(folded.log, now.log) << step;
        EXPECT_EQ(folded.balance, now.balance) << step;
        EXPECT_EQ(folded.ledger, now.ledger) << step;
        EXPECT_EQ(folded.trash, now.trash) << step;
        EXPECT_EQ(folded.reasons, now.reasons) << step;
        EXPECT_EQ(folded.marks, now.marks) << step;
        EXPECT_EQ(folded.book, now.book) << step;
    }

private:
    JournalFolder folder_;
};

const std::string kSampleBook = QV_TEST_DATA "/../../examples/test.dat";

// The books a folder may start from: the sample, and shapes another version or an editor
// leaves, which the fold must write back as the rule list's save does once it changes.
// What sets them apart shows at the first saves, so they take fewer walks.
struct StartBook {
    const char* name;
    std::string path;
    unsigned seeds;
};
const StartBook kBooks[] = {
    {"sample", kSampleBook, 6},
    {"a header with a field more and a weight written 05", QV_TEST_DATA "/books/long-header.dat",
     2},
    {"the last article without its line end", QV_TEST_DATA "/books/open-end-article.dat", 2},
    {"a note without line end after the articles", QV_TEST_DATA "/books/open-end-note.dat", 2},
};

class JournalActions : public qv::test::InTempDir {
protected:
    // A folder of its own: the book given and a balance of 20, the journals not yet begun.
    static void Lay(const std::string& book) {
        for (const auto& e : std::filesystem::directory_iterator("."))
            std::filesystem::remove_all(e.path());
        qv::test::WriteBytes("test.dat", qv::test::ReadBytes(book));
        qv::test::WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
        ::setenv("QUORVEL_DEVICE", "pc", 1);  // the tag the actions write is the journal's
    }
    void Walk(const StartBook& start, unsigned seed);
};

// Random actions from one book, the folder checked against the fold after each.
void JournalActions::Walk(const StartBook& start, unsigned seed) {
    Lay(start.path);
    const DataFolder folder;
    CInfo info;
    AttachFolder(info, folder);
    qv::Seconds now = 1765000000;
    const qv::Clock clock = [&now] { return now; };
    CRuleBook book;
    book.SetFileName(folder.BookPath());
    book.SetClock(clock);
    ASSERT_TRUE(book.LoadFile()) << start.name;
    info.SetRuleBook(&book);
    Folded journal(clock);
    journal.Start();
    journal.ExpectFilesAreTheFold(std::string(start.name) + " start");

    std::mt19937 rng(seed);
    std::vector<std::string> ids;
    const auto trashed = [](std::optional<Trash::Kind> kind = std::nullopt) {
        Trash::Contents trash;
        Trash("test.trs").Read(trash);
        std::erase_if(trash.entries,
                      [&](const Trash::Entry& e) { return kind && e.kind != *kind; });
        return trash.entries;
    };
    // A step that does not apply now (nothing to delete, …) says so.
    bool skipped = false;
    const auto skip = [&] { skipped = true; };
    const auto saved = [&](const BookSave& save) {
        ASSERT_TRUE(save.saved) << save.error.path;
        EXPECT_TRUE(save.effects.AllKept());
    };
    // One change to the book in memory, as the rule list makes it. The clock moves on a
    // second each: the fold tells an article put back from the trash from one added anew
    // by its number and the second it was created.
    std::vector<Trash::Entry> deleted;
    std::set<int> deletedNumbers;
    int changed = 0;  // the article changed last since the save: deleted, it goes as changed
    // A save (of any kind) took every change in memory with it.
    const auto saveTookTheChanges = [&] {
        deleted.clear();
        deletedNumbers.clear();
        changed = 0;
    };
    const auto edit = [&] {
        ++now;
        const auto pick = [&]() -> const CRule* {
            if (book.RuleCount() == 0) return nullptr;
            auto it = book.begin();
            std::advance(it, rng() % book.RuleCount());
            return &it->second;
        };
        switch (rng() % 5) {
            case 0: {  // a new article, at the next number or at one left free
                CRule rule;
                rule.SetNumber(rng() % 2 ? book.NextNumber() : 1 + static_cast<int>(rng() % 12));
                rule.SetName("new " + std::to_string(now));
                rule.SetBase(static_cast<int>(rng() % 50));
                if (book.FindRule(rule.GetNumber()) == nullptr) book.AddRule(rule);
                return;
            }
            case 1: {  // a change to one
                const CRule* held = pick();
                if (held == nullptr) return;
                CRule rule = *held;
                rule.SetText("changed at " + std::to_string(now));
                rule.SetUpdated(now);
                book.AddRule(rule);
                changed = rule.GetNumber();
                return;
            }
            case 2:
            case 3: {  // deleted: to the trash with the save, or (a save given no list) not
                const CRule* held =
                    rng() % 2 && book.FindRule(changed) ? book.FindRule(changed) : pick();
                // Two entries under one number and second could not be told apart by the
                // line that takes one of them out again.
                if (held == nullptr || deletedNumbers.count(held->GetNumber())) return;
                const int number = held->GetNumber();
                if (rng() % 4 != 0) {
                    deleted.push_back({0, Trash::Kind::Article, now, 0, {}, 0, held->ToLine()});
                    deletedNumbers.insert(number);
                }
                book.RemoveRule(number);
                return;
            }
            default:  // an implement renamed or weighed anew
                book.SetImpName(static_cast<int>(rng() % 4), "tool " + std::to_string(rng() % 5));
                book.SetImpWeight(static_cast<int>(rng() % 4), static_cast<double>(rng() % 21));
                return;
        }
    };

    const std::vector<std::pair<const char*, std::function<void()>>> actions = {
        {"decide",
         [&] {
             // Now and then without a verdict text: the decision keeps none.
             const CVerdict v = qv::test::SampleVerdict(
                 rng() % 12, rng() % 5 == 0 ? std::string() : "why\r\nline " + std::to_string(now));
             const Decision d = DecideVerdict(v, info, now);
             ASSERT_EQ(d.status, Decision::Status::Ok);
             ids.push_back(d.id);
         }},
        {"mark",
         [&] {
             qv::execution::ReportSession session(info, clock);
             if (ids.empty() || !session.Mark(ids[rng() % ids.size()], rng() % 2).Ok()) skip();
         }},
        {"delete, and at times its undo",
         [&] {
             qv::execution::ReportSession session(info, clock);
             if (ids.empty() || !session.Delete(ids[rng() % ids.size()]).Ok()) return skip();
             if (rng() % 2 == 0) {
                 ASSERT_TRUE(session.Undo().Ok());
             }
         }},
        {"report, and at times its undo",
         [&] {
             qv::execution::ReportSession session(info, clock);
             const std::int64_t points = 1 + rng() % 15;
             if (!session.Report({{points, 0, 0, 0}}, points).Ok()) return skip();
             if (rng() % 2 == 0) {
                 ASSERT_TRUE(session.Undo().Ok());
             }
         }},
        {"a sentence back from the trash",
         [&] {
             const auto entries = trashed(Trash::Kind::LogRecord);
             if (entries.empty()) return skip();
             const Trash::Entry entry = entries[rng() % entries.size()];
             if (!qv::execution::ReportSession(info, clock).RestoreFromTrash({&entry, 1}).Ok())
                 skip();
         }},
        {"purged from the trash",
         [&] {
             const auto entries = trashed();
             if (entries.empty()) return skip();
             const std::int64_t serial = entries[rng() % entries.size()].serial;
             ASSERT_TRUE(PurgeFromTrash(folder, {&serial, 1}, nullptr, clock));
         }},
        {"the rule list saved",
         [&] {
             const unsigned edits = rng() % 4;  // none: saved as it stands
             for (unsigned i = 0; i < edits; ++i) edit();
             ++now;
             saved(SaveRuleBook(folder, book, deleted));
             saveTookTheChanges();
         }},
        {"an article put back from the trash",
         [&] {
             const auto entries = trashed(Trash::Kind::Article);
             if (entries.empty()) return skip();
             ++now;
             saved(RestoreArticle(folder, book, entries[rng() % entries.size()]));
             saveTookTheChanges();  // unsaved changes go with it, as the window warns
         }},
        {"a saved delete undone in the rule list",
         [&] {
             const auto entries = trashed(Trash::Kind::Article);
             CRule rule;
             if (entries.empty()) return skip();
             const Trash::Entry& entry = entries[rng() % entries.size()];
             if (!rule.FromLine(entry.payload) || book.FindRule(rule.GetNumber()) != nullptr)
                 return skip();
             // Out of the trash now, back in the file with the next save.
             ASSERT_TRUE(PurgeFromTrash(folder, {&entry.serial, 1}, nullptr, clock));
             ++now;
             book.AddRule(rule);
         }},
        {"a version of the book from the backups",
         [&] {
             const Backups backups(folder.BackupFolder());
             std::vector<Backups::Version> versions = backups.List();
             std::erase_if(versions,
                           [](const Backups::Version& v) { return v.file != "test.dat"; });
             if (versions.empty()) return skip();
             std::string bytes;
             ASSERT_EQ(backups.Read(versions[rng() % versions.size()], bytes),
                       Backups::RestoreResult::Restored);
             ++now;
             saved(RestoreBookVersion(folder, book, bytes));
             saveTookTheChanges();
         }},
    };
    // Decisions come more often than the rest: they give the others something to act on.
    const std::vector<unsigned> weights = {4, 2, 2, 1, 1, 1, 2, 1, 1, 1};
    std::discrete_distribution<size_t> choose(weights.begin(), weights.end());
    for (int step = 0; step < 120; ++step) {
        now += rng() % 3;  // seconds often shared
        const auto& [what, run] = actions[choose(rng)];
        const std::string name = std::string(start.name) + ", seed " + std::to_string(seed) +
                                 ", step " + std::to_string(step) + ": " + what;
        SCOPED_TRACE(name);
        skipped = false;
        run();
        if (HasFailure()) return;
        if (skipped) continue;
        journal.ExpectFilesAreTheFold(name);
        if (HasFailure()) return;
    }
}

TEST_F(JournalActions, EveryActionsFilesAreTheFoldOfItsLine) {
    for (const StartBook& start : kBooks)
        for (unsigned seed = 1; seed <= start.seeds; ++seed) {
            Walk(start, seed);
            if (HasFailure()) return;
        }
}

// A sentence back from the trash goes where the restore puts it into the log, which is not
// always where it stood: before the line that followed it when it was deleted, or, with
// none, at the line number it had. The fold must put it there too.
TEST_F(JournalActions, RestoredSentencesStandWhereTheRestorePutsThem) {
    const struct {
        const char* name;
        std::string script;  // d: decide; xN, rN: delete, restore the N-th decided
    } kCases[] = {
        {"two deleted before one line, restored in the other order", "d d d x1 x0 r1 r0"},
        {"the last line, deleted: back at its line number", "d d x1 x0 d r1 r0"},
    };
    for (const auto& c : kCases) {
        Lay(kSampleBook);
        CInfo info;
        AttachFolder(info, DataFolder());
        qv::Seconds now = 1765000000;
        const qv::Clock clock = [&now] { return now; };
        Folded journal(clock);
        journal.Start();
        std::vector<std::string> ids;
        std::istringstream script(c.script);
        for (std::string op; script >> op;) {
            SCOPED_TRACE(std::string(c.name) + ": " + op);
            now += 5;
            qv::execution::ReportSession session(info, clock);
            if (op == "d") {
                const Decision d = DecideVerdict(qv::test::SampleVerdict(3, "why"), info, now);
                ASSERT_EQ(d.status, Decision::Status::Ok);
                ids.push_back(d.id);
            } else if (op[0] == 'x') {
                ASSERT_TRUE(session.Delete(ids.at(std::stoul(op.substr(1)))).Ok());
            } else {
                Trash::Contents trash;
                Trash("test.trs").Read(trash);
                const std::string& id = ids.at(std::stoul(op.substr(1)));
                const auto entry = std::find_if(
                    trash.entries.begin(), trash.entries.end(), [&](const Trash::Entry& e) {
                        return e.payload.substr(0, e.payload.find('\t')) == id;
                    });
                ASSERT_NE(entry, trash.entries.end());
                ASSERT_TRUE(session.RestoreFromTrash({&*entry, 1}).Ok());
            }
            journal.ExpectFilesAreTheFold(op);
            if (HasFailure()) return;
        }
    }
}

// A damaged log taken in as the base: the actions append to it, mark and delete in it as
// they always did, and the fold must write what they write (a last line without its end
// is ended before the next record, as an append ends it).
TEST_F(JournalActions, ADamagedLogTakenAsTheBaseIsTheActionsLog) {
    const std::string rec = "1796822231\t12\tAB\t20\tA:5 \t0\t5\t0\t0\t0\t0\r\n";
    std::string nul = "1796822200" + rec.substr(10);
    nul[nul.find("AB") + 1] = '\0';
    const struct {
        const char* name;
        std::string log;
    } kCases[] = {
        {"a last line cut short", rec + "1796908631\t12\tAB\t2"},
        {"NUL bytes in a record and after the last", nul + rec + std::string(64, '\0')},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        Lay(kSampleBook);
        qv::test::WriteBytes("test.log", c.log);
        CInfo info;
        AttachFolder(info, DataFolder());
        qv::Seconds now = 1796990000;
        const qv::Clock clock = [&now] { return now; };
        Folded journal(clock);
        journal.Start();
        const Decision d = DecideVerdict(qv::test::SampleVerdict(3, "why"), info, now);
        ASSERT_EQ(d.status, Decision::Status::Ok);
        journal.ExpectFilesAreTheFold("decide");
        qv::execution::ReportSession session(info, clock);
        for (const std::string& id : {std::string("1796822231"), d.id}) {
            now += 2;
            session.Mark(id, true);
            journal.ExpectFilesAreTheFold("mark " + id);
            session.Delete(id);
            journal.ExpectFilesAreTheFold("delete " + id);
            ASSERT_TRUE(session.Undo().Ok());
            journal.ExpectFilesAreTheFold("undo " + id);
        }
        if (HasFailure()) return;
    }
}

}  // namespace
