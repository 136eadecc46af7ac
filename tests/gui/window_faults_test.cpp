// Every window action that writes, with each of its file calls failing in turn (full
// disk, I/O error, no permission): a box tells the user, the window is not closed as if
// the action had worked, the files are byte for byte as before, and no temporary file is
// left. The agreed exceptions: a decision whose credit fails keeps its record in the
// log, closes, and says the points are not on the balance; a decision whose reasons
// cannot be kept beside the log is booked all the same, closes, and says so.
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>

#include "execution/DonePointForm.h"
#include "execution/LogListForm.h"
#include "rulebook/RuleBook.h"
#include "rules/RuleEditForm.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/FaultInjection.h"
#include "trial/StateForm.h"

namespace {

using qv::test::Child;
using qv::test::FaultInjection;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

struct Files {
    std::string book, log, balance, reasons;
    friend bool operator==(const Files&, const Files&) = default;
};

Files Snapshot() {
    return {ReadBytes("test.dat"), ReadBytes("test.log"), ReadBytes("user.dat"),
            ReadBytes("test.rsn")};
}

const std::string kBook = Sjis(
    "qvrule\t1\tid1\t0\t腕立て\t10\t腹筋\t5\t背筋\t7\t縄跳び\t10\r\n"
    "12\t1\t2\t窃盗\t他人の物を盗んではならない。\t\t30\t15\t12\t4\t3\t0\t0\t3\r\n");
// Newest last: B (executed, no points) shows on row 0, A (not executed, 9 points) on row 1.
const std::string kRecA = "1700000000\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9\r\n";
const std::string kRecB = "1700000100\t12\tX\t5\t\t1\t0\t0\t0\t0\t0\r\n";
const std::string kLog = kRecA + "damaged line\r\n" + kRecB;
const std::string kBalance = "quorvel\t1\tuser\t20\t0\t0\r\n";
const std::string kReasons = "1700000000\tA:12\t\tX\r\n";

struct Action {
    const char* name;
    std::function<std::unique_ptr<QDialog>(CInfo*)> open;
    std::function<void(QDialog*)> press;  // confirmations are answered OK
    // Whether the files are what the action gives when it works (before: as planted).
    std::function<bool(QDialog* w, const Files& before, const Files& now)> done;
    // A decision's agreed partial outcome: the record is in, the credit is not.
    bool mayRecordWithoutCredit = false;
    // The list refills from the files after writing; a failing read there leaves the
    // write done and says the list cannot be read.
    bool refills = false;
};

std::unique_ptr<QDialog> OpenList(CInfo* info, int row) {
    auto w = std::make_unique<TLogList>();
    w->Init(info);
    w->show();
    Child<QTableView>(w.get(), "sgList")->selectRow(row);
    return w;
}

void Click(QDialog* w, const char* button) { Child<QPushButton>(w, button)->click(); }

// The bytes an action gives when it works: exactly these files.
// The three data files an action should leave.
struct DataFiles {
    std::string book, log, balance;
};

auto Becomes(const DataFiles& files) {
    // Only a decision keeps reasons; the other actions leave them as planted.
    const Files expected{files.book, files.log, files.balance, kReasons};
    return [expected](QDialog*, const Files&, const Files& now) { return now == expected; };
}

std::vector<Action> Actions() {
    const std::string recAExecuted = "1700000000\t12\tX\t29\tA:12 \t1\t12\t0\t0\t0\t9\r\n";
    const std::string recBNotExecuted = "1700000100\t12\tX\t5\t\t0\t0\t0\t0\t0\t0\r\n";
    return {
        {"rule list 保存",
         [](CInfo* info) {
             info->GetRuleBook()->SetImpName(0, "P");  // something to save
             auto w = std::make_unique<TRuleEdit>();
             w->Init(info);
             w->show();
             return std::unique_ptr<QDialog>(std::move(w));
         },
         [](QDialog* w) { Click(w, "btSave"); },
         [](QDialog*, const Files& before, const Files& now) {
             return now.log == before.log && now.balance == before.balance &&
                    now.book.find("\tP\t10\t") != std::string::npos &&
                    now.book.find(Sjis("窃盗")) != std::string::npos;
         }},
        {"verdict 決定",
         [](CInfo* info) {
             auto w = std::make_unique<TState>();
             EXPECT_TRUE(w->Init(12, 8, info));
             EXPECT_GT(w->Verdict().points, 0);
             w->show();
             return std::unique_ptr<QDialog>(std::move(w));
         },
         [](QDialog* w) { Click(w, "btOK"); },
         [](QDialog* w, const Files& before, const Files& now) {
             // The record carries the time of the click; its fields are checked elsewhere.
             const auto points = static_cast<TState*>(w)->Verdict().points;
             return now.book == before.book && now.log.size() > before.log.size() &&
                    now.log.compare(0, before.log.size(), before.log) == 0 &&
                    now.balance ==
                        "quorvel\t1\tuser\t" + std::to_string(20 + points) + "\t0\t0\r\n" &&
                    now.reasons.size() > before.reasons.size() &&
                    now.reasons.compare(0, before.reasons.size(), before.reasons) == 0;
         },
         true},
        {"execution report 執行", [](CInfo* info) { return OpenList(info, 1); },
         [](QDialog* w) {
             MessageBox::QueueAnswer(true);
             Click(w, "btDone");
         },
         Becomes({kBook, recAExecuted + "damaged line\r\n" + kRecB, kBalance}), false, true},
        {"execution report 執行 (un-execute)", [](CInfo* info) { return OpenList(info, 0); },
         [](QDialog* w) {
             MessageBox::QueueAnswer(true);
             Click(w, "btDone");
         },
         Becomes({kBook, kRecA + "damaged line\r\n" + recBNotExecuted, kBalance}), false, true},
        {"execution report 削除 with points", [](CInfo* info) { return OpenList(info, 1); },
         [](QDialog* w) {
             MessageBox::QueueAnswer(true);
             Click(w, "btDelete");
         },
         Becomes({kBook, "damaged line\r\n" + kRecB, "quorvel\t1\tuser\t11\t0\t0\r\n\r\n"}), false,
         true},
        {"execution report 削除 without points", [](CInfo* info) { return OpenList(info, 0); },
         [](QDialog* w) {
             MessageBox::QueueAnswer(true);
             Click(w, "btDelete");
         },
         Becomes({kBook, kRecA + "damaged line\r\n", kBalance}), false, true},
        {"point report 報告",
         [](CInfo* info) {
             auto w = std::make_unique<TDonePoint>();
             w->Init(info);
             w->show();
             Child<QLineEdit>(w.get(), "tfImp1")->setText("3");
             return std::unique_ptr<QDialog>(std::move(w));
         },
         [](QDialog* w) {
             MessageBox::QueueAnswer(true);
             Click(w, "btOK");
         },
         Becomes({kBook, kLog, "quorvel\t1\tuser\t17\t0\t0\r\n"})},
    };
}

class WindowFaults : public qv::test::GuiTest {
protected:
    // The three files as planted, and a rule book loaded from them, as at start-up.
    void Plant() {
        WriteBytes("test.dat", kBook);
        WriteBytes("test.log", kLog);
        WriteBytes("user.dat", kBalance);
        WriteBytes("test.rsn", kReasons);
        std::filesystem::remove("intent.dat");  // a note of points not credited, from before
        book_ = std::make_unique<CRuleBook>();
        book_->SetClock([] { return qv::Seconds{1700000500}; });
        book_->SetFileName("test.dat");
        ASSERT_TRUE(book_->LoadFile());
        info_.SetRuleBook(book_.get());
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
    }

    std::unique_ptr<CRuleBook> book_;
    CInfo info_;
};

TEST_F(WindowFaults, EachFailingFileCallIsToldAndLosesNothing) {
    int tried = 0;
    for (const Action& action : Actions()) {
        SCOPED_TRACE(action.name);
        // Once without faults: the action works, and this is how many file calls it makes.
        Plant();
        const Files planted = Snapshot();
        int calls = 0;
        {
            auto w = action.open(&info_);
            MessageBox::TakeShown();
            calls = FaultInjection::CountCalls([&] {
                action.press(w.get());
                return true;
            });
            for (const auto& box : MessageBox::TakeShown())
                EXPECT_TRUE(box.confirmation) << box.text.toStdString();
            EXPECT_TRUE(action.done(w.get(), planted, Snapshot()))
                << "the action works without faults";
        }
        ASSERT_GT(calls, 0);

        int unchanged = 0, recordedOnly = 0, reasonsNotKept = 0;
        for (int failing = 1; failing <= calls; ++failing) {
            for (int error : {ENOSPC, EIO, EACCES}) {
                Plant();
                auto w = action.open(&info_);
                MessageBox::TakeShown();
                const Files before = Snapshot();
                const std::string listing = qv::test::ListDir();
                std::string failed;
                {
                    FaultInjection inject(failing, error);
                    action.press(w.get());
                    failed = inject.FailedCall();
                }
                SCOPED_TRACE("call " + std::to_string(failing) + " (" + failed + ") fails with " +
                             std::to_string(error));
                ++tried;
                QStringList told;
                // A decision has no confirmation of its own: its one box may offer a retry.
                for (const auto& box : MessageBox::TakeShown())
                    if (!box.confirmation || action.mayRecordWithoutCredit) told << box.text;
                ASSERT_EQ(told.size(), 1)
                    << "one box tells the user: " << told.join("|").toStdString();
                // The note that the points are not on the balance is kept on purpose.
                std::string after = qv::test::ListDir();
                if (action.mayRecordWithoutCredit && qv::test::Exists("intent.dat"))
                    after.erase(after.find("intent.dat\n"), 11);
                EXPECT_EQ(after, listing) << "no temporary file is left";

                const Files now = Snapshot();
                if (now == before) {
                    ++unchanged;
                    EXPECT_TRUE(w->isVisible()) << "not closed as if it had worked";
                    EXPECT_NE(w->result(), QDialog::Accepted);
                } else if (action.mayRecordWithoutCredit && now.balance == before.balance &&
                           now.book == before.book &&
                           now.log.compare(0, before.log.size(), before.log) == 0) {
                    ++recordedOnly;
                    EXPECT_EQ(w->result(), QDialog::Accepted)
                        << "decided: the record is in the log";
                    EXPECT_TRUE(told[0].contains(QStringLiteral("加算できませんでした")))
                        << told[0].toStdString();
                } else if (action.mayRecordWithoutCredit && now.reasons == before.reasons &&
                           now.book == before.book && now.balance != before.balance &&
                           now.log.compare(0, before.log.size(), before.log) == 0 &&
                           now.log.size() > before.log.size()) {
                    ++reasonsNotKept;
                    EXPECT_EQ(w->result(), QDialog::Accepted) << "decided and credited";
                    EXPECT_TRUE(told[0].contains(QStringLiteral("判決理由")))
                        << told[0].toStdString();
                } else if (action.refills && action.done(w.get(), before, now)) {
                    // Written; then the refill could not read the files back.
                    EXPECT_TRUE(told[0].contains(QStringLiteral("読み込めません")))
                        << told[0].toStdString();
                    EXPECT_TRUE(w->isVisible());
                } else {
                    ADD_FAILURE() << "the files are neither as before nor as after the action:\n"
                                  << now.log << "\n"
                                  << now.balance;
                }
            }
        }
        EXPECT_GT(unchanged, 0);
        if (action.mayRecordWithoutCredit) {
            EXPECT_GT(recordedOnly, 0);
            EXPECT_GT(reasonsNotKept, 0);
        }
    }
    RecordProperty("injected_faults", tried);
}

}  // namespace
