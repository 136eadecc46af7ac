#pragma once

// Two computers' copies of one folder, made by the program's own actions on two copies
// of one starting folder with clocks, then laid beside each other the way a sync tool
// leaves them: a file only one side changed comes over whole, a file both changed stays
// this side's with the other's beside it under a conflict name.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "execution/Undo.h"
#include "records/BookSave.h"
#include "records/DataFolder.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "trial/Verdict.h"

namespace qv::test {

inline const std::vector<std::string>& FolderFiles() {
    static const std::vector<std::string> files{"test.dat", "test.log", "user.dat", "user.ldg",
                                                "test.trs", "test.rsn", "test.mrk"};
    return files;
}

// The name tool number pattern (the order of ConflictPatterns) gives B's copy of name.
inline std::string ConflictName(size_t pattern, const std::string& name) {
    const size_t dot = name.rfind('.');
    const std::string stem = name.substr(0, dot), ext = name.substr(dot);
    switch (pattern) {
        case 0:
            return stem + ".sync-conflict-20261210-154501-BBBBBBB" + ext;
        case 1:
            return stem + " (B's conflicted copy 2026-12-10)" + ext;
        case 2:
            return stem + " (conflicted copy b 2026-12-10 154501)" + ext;
        default:
            return stem + "_conflict-20261210-154501" + ext;
    }
}

// A change of the balance, for the replay the merged balance must equal.
struct BalanceEvent {
    std::int64_t time;
    std::int64_t delta;
    bool floor;  // a debit that stops at 0
};

inline std::int64_t Replay(std::int64_t start, std::vector<BalanceEvent> events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const BalanceEvent& a, const BalanceEvent& b) { return a.time < b.time; });
    for (const BalanceEvent& e : events) {
        start += e.delta;
        if (e.floor && start < 0) start = 0;
    }
    return start;
}

constexpr std::int64_t kStartTime = 1765000000;
constexpr std::int64_t kApartTime = 1765100000;
constexpr int kStartRecords = 10;

// The starting folder: the sample rule book, a balance of 20 and ten decided sentences.
struct Start {
    std::vector<std::string> ids;
    std::int64_t balance = 0;
};
inline Start PlantStart(const std::string& dir) {
    std::filesystem::create_directories(dir);
    WriteBytes(dir + "/test.dat", ReadBytes(QV_TEST_DATA "/../../examples/test.dat"));
    WriteBytes(dir + "/user.dat", "a\tb\tc\t20\te\tf");
    CInfo info;
    AttachFolder(info, DataFolder(dir));
    Start s;
    s.balance = 20;
    for (int i = 0; i < kStartRecords; ++i) {
        const Decision d = DecideVerdict(SampleVerdict(3), info, kStartTime + 60 * i);
        s.ids.push_back(d.id);
        s.balance += 3;
    }
    return s;
}

struct SideWork {
    const char* device;
    const char* articleName;   // tells this side's sentences from the other's
    std::int64_t offset;       // its actions' second within each 100 seconds
    int decisions, executions, deletes, reports;
    bool articleEdit;
    std::vector<std::int64_t> reportPoints;
    std::vector<int> sharedMarked, sharedDeleted;  // indexes into the starting sentences
};

struct SideDone {
    std::vector<std::string> decided, executed, deleted;
    std::vector<BalanceEvent> events;
};

// The side's actions, one every 100 seconds from kApartTime + offset: decisions, with
// marks, deletes and point reports spread among them, through the real actions.
inline SideDone ActApart(const std::string& dir, const Start& start, const SideWork& w) {
    ::setenv("QUORVEL_DEVICE", w.device, 1);
    CInfo info;
    AttachFolder(info, DataFolder(dir));
    SideDone done;
    std::int64_t now = kApartTime + w.offset;
    auto tick = [&] {
        const std::int64_t t = now;
        now += 100;
        return t;
    };
    std::vector<int> others;  // 0 mark, 1 delete, 2 report, 3 article
    for (int i = 0; i < w.executions; ++i) others.push_back(0);
    for (int i = 0; i < w.deletes; ++i) others.push_back(1);
    for (int i = 0; i < w.reports; ++i) others.push_back(2);
    if (w.articleEdit) others.push_back(3);
    size_t nextOther = 0;
    int marks = 0, deletes = 0, reports = 0;
    auto other = [&] {
        const int kind = others[nextOther++];
        const std::int64_t t = tick();
        qv::execution::ReportSession session(info, [t] { return qv::Seconds{t}; });
        if (kind == 0) {
            const size_t shared = w.sharedMarked.size();
            const std::string id = marks < static_cast<int>(shared)
                                       ? start.ids[static_cast<size_t>(w.sharedMarked[static_cast<size_t>(marks)])]
                                       : done.decided[static_cast<size_t>(marks) - shared];
            ++marks;
            EXPECT_TRUE(session.Mark(id, true).Ok()) << id;
            done.executed.push_back(id);
        } else if (kind == 1) {
            const size_t shared = w.sharedDeleted.size();
            // Own sentences from the end of the marked ones on, so no marked one goes.
            const std::string id =
                deletes < static_cast<int>(shared)
                    ? start.ids[static_cast<size_t>(w.sharedDeleted[static_cast<size_t>(deletes)])]
                    : done.decided[static_cast<size_t>(w.executions) + static_cast<size_t>(deletes)];
            ++deletes;
            // A starting sentence carries 3 points, this side's i-th 1 + i % 5.
            const auto mine = std::find(done.decided.begin(), done.decided.end(), id);
            const std::int64_t own =
                mine == done.decided.end() ? 3 : 1 + (mine - done.decided.begin()) % 5;
            EXPECT_TRUE(session.Delete(id).Ok()) << id;
            done.deleted.push_back(id);
            done.events.push_back({t, -own, true});
        } else if (kind == 2) {
            const std::int64_t points = w.reportPoints[static_cast<size_t>(reports++)];
            EXPECT_TRUE(session.Report({{points, 0, 0, 0}}, points).Ok());
            done.events.push_back({t, -points, true});
        } else {
            CRuleBook book;
            book.SetFileName(dir + "/test.dat");
            EXPECT_TRUE(book.LoadFile());
            CRule rule;
            rule.CopyFrom(&book.begin()->second);
            rule.SetText("edited on " + std::string(w.device));
            rule.SetUpdated(t);
            book.AddRule(rule);
            std::vector<Trash::Entry> none;
            EXPECT_TRUE(SaveRuleBook(DataFolder(dir), book, none).saved);
        }
    };
    for (int i = 0; i < w.decisions; ++i) {
        const std::int64_t points = 1 + i % 5;
        CVerdict v = SampleVerdict(points);
        v.articleName = w.articleName;
        v.verdictText = "why " + std::string(w.device) + "\r\n" + std::to_string(i);
        // Both sides decide in the very same second first: two sentences, one identifier.
        const std::int64_t t = i == 0 ? kApartTime : tick();
        const Decision d = DecideVerdict(v, info, t);
        EXPECT_EQ(d.status, Decision::Status::Ok);
        done.decided.push_back(d.id);
        done.events.push_back({t, points, false});
        if (i >= 4 && i % 5 == 4 && nextOther < others.size()) other();
    }
    while (nextOther < others.size()) other();
    ::unsetenv("QUORVEL_DEVICE");
    return done;
}

// out: A's folder with B's files laid in as a sync tool leaves them (pattern: which
// tool's names).
inline void LayConflicts(const std::string& start, const std::string& a, const std::string& b,
                         const std::string& out, size_t pattern) {
    std::filesystem::remove_all(out);
    std::filesystem::copy(a, out, std::filesystem::copy_options::recursive);
    for (const std::string& name : FolderFiles()) {
        const std::string s = ReadBytes(start + "/" + name), x = ReadBytes(a + "/" + name),
                          y = ReadBytes(b + "/" + name);
        if (y == x || y == "<missing>" || y == s) continue;
        if (x == s || x == "<missing>")
            WriteBytes(out + "/" + name, y);  // only B changed it: it came over whole
        else
            WriteBytes(out + "/" + ConflictName(pattern, name), y);
    }
}

}  // namespace qv::test
