// A merge of conflict copies killed at each of its file-changing calls (before the call,
// after it, and with a write cut in half), or with any one of its file calls failing (a
// full disk), then a start: the folder is as before the merge or as after it, never in
// between, and a second start changes nothing.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "records/DataFolder.h"
#include "records/Merge.h"
#include "records/Repair.h"
#include "tests/support/ConflictFixture.h"
#include "tests/support/FaultInjection.h"
#include "tests/support/KillAt.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::test::KillMode;

class MergeKilled : public qv::test::InTempDir {
protected:
    // Two computers' folders apart for a while, under start/, A/ and B/.
    void MakeSides() {
        const qv::test::Start start = qv::test::PlantStart("start");
        std::filesystem::copy("start", "A", std::filesystem::copy_options::recursive);
        std::filesystem::copy("start", "B", std::filesystem::copy_options::recursive);
        qv::test::ActApart("A", start, {"A", "A", 10, 6, 1, 1, 1, false, {4}, {0}, {1}});
        qv::test::ActApart("B", start, {"B", "B", 50, 5, 1, 1, 1, true, {30}, {2}, {3}});
    }

    // What the folder holds, file by file, the kept versions in backup/ aside.
    static std::map<std::string, std::string> Snapshot() {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::recursive_directory_iterator("F")) {
            const std::string path = e.path().string();
            if (e.is_regular_file() && path.find("/backup/") == std::string::npos)
                files[path] = qv::test::ReadBytes(path);
        }
        return files;
    }
};

TEST_F(MergeKilled, AKillLeavesTheFolderAsBeforeOrAsAfter) {
    MakeSides();
    ASSERT_FALSE(HasFailure());
    const qv::Clock at = [] { return qv::Seconds{1766000000}; };
    const auto merge = [&] { qv::records::MergeConflicts(DataFolder("F"), nullptr, at); };

    qv::test::LayConflicts("start", "A", "B", "F", 0);
    const auto before = Snapshot();
    ASSERT_EQ(qv::records::MergeConflicts(DataFolder("F"), nullptr, at).result,
              qv::records::MergeOutcome::Result::Merged);
    const auto after = Snapshot();
    ASSERT_NE(before, after);

    qv::test::LayConflicts("start", "A", "B", "F", 0);
    const int calls = qv::test::CountChangingCalls(merge);
    ASSERT_GT(calls, 5);
    int killed = 0, asBefore = 0, asAfter = 0;
    // Spread over the whole merge: every call up to 40, then every third.
    for (int n = 1; n <= calls; n += n < 40 ? 1 : 3)
        for (KillMode mode : {KillMode::Before, KillMode::After, KillMode::HalfWrite}) {
            const std::string where = "call " + std::to_string(n) + " of " +
                                      std::to_string(calls) + ", mode " +
                                      std::to_string(static_cast<int>(mode));
            SCOPED_TRACE(where);
            qv::test::LayConflicts("start", "A", "B", "F", 0);
            killed += qv::test::RunKilledAt(merge, n, mode);
            RepairAtStart(DataFolder("F"), at);
            const auto now = Snapshot();
            const bool isBefore = now == before, isAfter = now == after;
            EXPECT_TRUE(isBefore || isAfter) << "the folder is between before and after";
            asBefore += isBefore;
            asAfter += isAfter;
            // A second start changes nothing more.
            RepairAtStart(DataFolder("F"), at);
            EXPECT_EQ(Snapshot(), now);
            if (isBefore) {
                // The merge is simply made again.
                qv::records::MergeConflicts(DataFolder("F"), nullptr, at);
                EXPECT_EQ(Snapshot(), after);
            }
            if (HasFailure()) return;
        }
    EXPECT_GT(killed, 0);
    EXPECT_GT(asBefore, 0);
    EXPECT_GT(asAfter, 0);
}

TEST_F(MergeKilled, AFailingFileCallLeavesTheFolderAsBeforeOrAsAfter) {
    MakeSides();
    ASSERT_FALSE(HasFailure());
    const qv::Clock at = [] { return qv::Seconds{1766000000}; };
    using Result = qv::records::MergeOutcome::Result;
    qv::test::LayConflicts("start", "A", "B", "F", 2);
    const auto before = Snapshot();
    const int calls = qv::test::FaultInjection::CountCalls([&] {
        return qv::records::MergeConflicts(DataFolder("F"), nullptr, at).result == Result::Merged;
    });
    const auto after = Snapshot();
    ASSERT_GT(calls, 10);
    int failed = 0;
    for (int n = 1; n <= calls; ++n) {
        SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(calls));
        qv::test::LayConflicts("start", "A", "B", "F", 2);
        qv::records::MergeOutcome o;
        {
            qv::test::FaultInjection fault(n, ENOSPC);
            o = qv::records::MergeConflicts(DataFolder("F"), nullptr, at);
        }
        failed += o.result == Result::Failed;
        if (o.result == Result::Failed && !o.leftForStart) {
            EXPECT_EQ(Snapshot(), before) << "a failed merge changed the folder";
        }
        RepairAtStart(DataFolder("F"), at);
        const auto now = Snapshot();
        if (!o.unreadable.empty()) {
            // A copy that could not be read stays where it was, and is named.
            for (const std::string& name : o.unreadable)
                EXPECT_TRUE(qv::test::Exists("F/" + name)) << name;
        } else {
            EXPECT_TRUE(now == before || now == after) << "between before and after";
            EXPECT_EQ(now == after, o.result == Result::Merged || o.leftForStart)
                << static_cast<int>(o.result) << " left " << o.leftForStart << " "
                << o.error.path << " errno " << o.error.err;
        }
        if (HasFailure()) return;
    }
    EXPECT_GT(failed, 0);
}

}  // namespace
