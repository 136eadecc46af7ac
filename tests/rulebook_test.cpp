#include "rulebook/RuleBook.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "rulebook/Info.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;

constexpr qv::Seconds kNow = 1700000000;

CRule MakeRule(int number, std::string name = "X") {
    CRule r;
    r.SetNumber(number);
    r.SetName(std::move(name));
    r.SetText("Y");
    r.SetRemark("Z");
    r.SetBase(30);
    r.SetCumulative(15);
    r.SetExtenuation(12);
    int shares[] = {4, 3, 0, 0, 3};
    for (int i = 0; i < 5; ++i) r.SetShare(i, shares[i]);
    return r;
}

TEST(CRule, SettersAndRanges) {
    CRule r;
    EXPECT_EQ(r.GetCumulative(), 0);
    EXPECT_EQ(r.GetExtenuation(), 0);
    for (auto [set, get] : {std::pair{&CRule::SetCumulative, &CRule::GetCumulative},
                            std::pair{&CRule::SetExtenuation, &CRule::GetExtenuation}}) {
        EXPECT_TRUE((r.*set)(20));
        EXPECT_FALSE((r.*set)(21));
        EXPECT_FALSE((r.*set)(-1));
        EXPECT_EQ((r.*get)(), 20);
        EXPECT_TRUE((r.*set)(0));
    }
    EXPECT_EQ(r.GetShare(5), -1);
    EXPECT_EQ(r.GetShare(-1), -1);
    EXPECT_FALSE(r.SetShare(5, 3));
    EXPECT_TRUE(r.SetShare(0, 99));
    EXPECT_EQ(r.GetShare(0), 99);

    CRule copy = MakeRule(3);
    EXPECT_FALSE(copy.CopyFrom(nullptr));
    EXPECT_EQ(copy, MakeRule(3));
    EXPECT_TRUE(copy.CopyFrom(&r));
    EXPECT_EQ(copy, r);
}

TEST(CRuleBook, OperationsAndRefusals) {
    CRuleBook book;
    book.SetClock([] { return kNow; });
    EXPECT_EQ(book.RuleCount(), 0);
    EXPECT_EQ(book.NextNumber(), 1);
    EXPECT_EQ(book.FindRule(1), nullptr);

    for (int bad : {0, -5, 10000}) EXPECT_FALSE(book.AddRule(MakeRule(bad))) << bad;
    EXPECT_EQ(book.RuleCount(), 0);

    for (int n : {12, 3, 7}) {
        CRule r = MakeRule(n);
        r.SetCreated(5);
        EXPECT_TRUE(book.AddRule(r));
    }
    EXPECT_EQ(book.NextNumber(), 13);
    std::vector<int> order;
    for (const auto& [n, r] : book) order.push_back(r.GetNumber());
    EXPECT_EQ(order, (std::vector<int>{3, 7, 12}));
    EXPECT_EQ(book.FindRule(7)->GetNumber(), 7);
    EXPECT_EQ(book.FindRule(7)->GetCreated(), kNow) << "a new number gets the current time";
    EXPECT_EQ(book.FindRule(8), nullptr);

    CRule again = MakeRule(7, "changed");
    again.SetCreated(5);
    const CRule* stored = book.FindRule(7);
    EXPECT_TRUE(book.AddRule(again));
    EXPECT_EQ(book.FindRule(7), stored) << "replacing keeps the stored rule in place";
    EXPECT_EQ(stored->GetName(), "changed");
    EXPECT_EQ(stored->GetCreated(), 5) << "a known number keeps the incoming created time";

    EXPECT_TRUE(book.RemoveRule(8));
    EXPECT_EQ(book.RuleCount(), 3);
    EXPECT_TRUE(book.RemoveRule(7));
    EXPECT_EQ(book.RuleCount(), 2);

    EXPECT_TRUE(book.AddRule(MakeRule(9999)));
    EXPECT_EQ(book.NextNumber(), 10000);
    EXPECT_TRUE(book.AddRule(MakeRule(1)));

    EXPECT_EQ(book.GetImpName(4), "");
    EXPECT_EQ(book.GetImpWeight(-1), 0);
    EXPECT_FALSE(book.SetImpName(4, "x"));
    EXPECT_TRUE(book.SetImpWeight(2, 15.0));
    EXPECT_EQ(book.GetImpWeight(2), 15);
    EXPECT_TRUE(book.SetImpWeight(1, 7.9));
    EXPECT_EQ(book.GetImpWeight(1), 7);
    EXPECT_TRUE(book.SetImpWeight(1, -7.9));
    EXPECT_EQ(book.GetImpWeight(1), -7);
}

TEST(CInfo, HoldsWhatItIsGiven) {
    CRuleBook book;
    CInfo info;
    EXPECT_EQ(info.GetRuleBook(), nullptr);
    EXPECT_TRUE(info.SetRuleBook(&book));
    EXPECT_TRUE(info.SetLogPath("test.log"));
    EXPECT_TRUE(info.SetBalancePath("user.dat"));
    EXPECT_EQ(info.GetRuleBook(), &book);
    EXPECT_EQ(info.GetLogPath(), "test.log");
    EXPECT_EQ(info.GetBalancePath(), "user.dat");
}

TEST(CRuleLine, FromLineRefusesWhatIsNotARuleLine) {
    const std::string good = "12\t1\t2\tX\tY\tZ\t30\t35\t12\t4\t3\t0\t0\t3";
    CRule r;
    ASSERT_TRUE(r.FromLine(good));
    EXPECT_EQ(r.GetCumulative(), 35) << "fields are stored without the setter's range";
    EXPECT_EQ(r.ToLine(), good);

    CRule untouched = MakeRule(4);
    for (std::string bad : {good + "\t", good.substr(0, good.rfind('\t')), good + "\r",
                            std::string(""), std::string("a\nb")}) {
        CRule copy = untouched;
        EXPECT_FALSE(copy.FromLine(bad)) << bad;
        EXPECT_EQ(copy, untouched);
    }
    CRule blank;
    ASSERT_TRUE(blank.FromLine("\t\t\t\t\t\t\t\t\t\t\t\t\t"));
    EXPECT_EQ(blank, CRule()) << "empty number fields read as 0";
}

class RuleBookFile : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        book.SetFileName("test.dat");
        book.SetClock([this] { return now; });
    }
    qv::Seconds now = kNow;
    CRuleBook book;
};

TEST_F(RuleBookFile, WorkedExampleBytes) {
    const char* names[] = {"P", "Q", "R", "S"};
    int weights[] = {10, 5, 7, 10};
    for (int i = 0; i < 4; ++i) {
        book.SetImpName(i, names[i]);
        book.SetImpWeight(i, weights[i]);
    }
    CRule r = MakeRule(12);
    r.SetUpdated(1699999999);
    book.AddRule(r);
    ASSERT_TRUE(book.SaveFile());
    EXPECT_EQ(ReadBytes("test.dat"),
              "qvrule\t1\tid1\t1700000000\tP\t10\tQ\t5\tR\t7\tS\t10\r\n"
              "12\t1700000000\t1699999999\tX\tY\tZ\t30\t15\t12\t4\t3\t0\t0\t3\r\n");
}

TEST_F(RuleBookFile, SavesInOrderAndLoadsTheSame) {
    book.SetImpName(0, Sjis("腕立て伏せ"));
    book.SetImpWeight(0, 10);
    // A stray byte that is not CP932 and a zero byte must both survive the round trip.
    for (int n : {12, 3, 7}) book.AddRule(MakeRule(n, Sjis("遅刻") + "\x81" + std::string(1, '\0') + "z"));
    ASSERT_TRUE(book.SaveFile());
    std::string bytes = ReadBytes("test.dat");
    EXPECT_LT(bytes.find("\r\n3\t"), bytes.find("\r\n7\t"));
    EXPECT_LT(bytes.find("\r\n7\t"), bytes.find("\r\n12\t"));

    now = kNow + 100;
    CRuleBook loaded;
    loaded.SetFileName("test.dat");
    loaded.SetClock([this] { return now; });
    ASSERT_TRUE(loaded.LoadFile());
    ASSERT_EQ(loaded.RuleCount(), 3);
    for (const auto& [n, r] : book) {
        CRule expected = r;
        expected.SetCreated(kNow + 100);  // the load stamps the time of loading
        EXPECT_EQ(*loaded.FindRule(n), expected);
    }
    EXPECT_EQ(loaded.GetImpName(0), Sjis("腕立て伏せ"));
    EXPECT_EQ(loaded.GetImpWeight(0), 10);

    // LF-only line ends load the same rules.
    std::string lf = bytes;
    for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
    WriteBytes("test.dat", lf);
    CRuleBook fromLf;
    fromLf.SetFileName("test.dat");
    ASSERT_TRUE(fromLf.LoadFile());
    EXPECT_EQ(fromLf.RuleCount(), 3);
}

TEST_F(RuleBookFile, EmptyBookIsTheHeaderAlone) {
    ASSERT_TRUE(book.SaveFile());
    EXPECT_EQ(ReadBytes("test.dat"), "qvrule\t1\tid1\t1700000000\t\t0\t\t0\t\t0\t\t0\r\n");
    CRuleBook loaded;
    loaded.SetFileName("test.dat");
    EXPECT_TRUE(loaded.LoadFile());
    EXPECT_EQ(loaded.RuleCount(), 0);
}

TEST_F(RuleBookFile, SkipsBadLinesAndKeepsTheLastDuplicate) {
    const std::string header = "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n";
    auto line = [](int n, const char* name, const char* created = "1") {
        return std::to_string(n) + "\t" + created + "\t2\t" + name +
               "\tt\tr\t30\t10\t10\t1\t1\t1\t1\t1\r\n";
    };
    WriteBytes("test.dat", header + line(1, "one") + "1\t2\t3\r\n" + line(5, "first") +
                               "5\t\t\t\t\t\t\t\t\t\t\t\t\t\t\r\n" + line(0, "zero") +
                               line(10000, "big") + line(-3, "neg") + "\r\n" +
                               line(5, "second", "77") + line(9999, "last") +
                               "8\t1\t2\tno-end\tt\tr\t30\t10\t10\t1\t1\t1\t1\t1");
    ASSERT_TRUE(book.LoadFile());
    std::vector<int> numbers;
    for (const auto& [n, r] : book) numbers.push_back(n);
    EXPECT_EQ(numbers, (std::vector<int>{1, 5, 8, 9999}));
    EXPECT_EQ(book.FindRule(5)->GetName(), "second");
    EXPECT_EQ(book.FindRule(5)->GetCreated(), 77) << "a duplicate keeps its created as read";
    EXPECT_EQ(book.FindRule(1)->GetCreated(), kNow);
    EXPECT_EQ(book.GetImpName(3), "D");
}

TEST_F(RuleBookFile, RefusedFilesLeaveTheBookUntouched) {
    using S = CRuleBook::LoadStatus;
    struct Case {
        const char* what;
        std::string bytes;
        bool loads;
        S status;  // what the refusal is told as
    } cases[] = {
        {"empty", "", false, S::Empty},
        {"token in other case", "QVRULE\t1\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1\r\n", false,
         S::NotARuleBook},
        {"version 2", "qvrule\t2\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1\r\n", false, S::NotARuleBook},
        {"empty first line", "\r\n1\t1\t2\tX\tY\tZ\t1\t1\t1\t1\t1\t1\t1\t1\r\n", false,
         S::NotARuleBook},
        {"no line end", "qvrule\t1\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1", false, S::HeaderNotEnded},
        {"wrong header, no line end", "qvrul\t1\tid1", false, S::NotARuleBook},
        {"CR line ends", "qvrule\t1\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1\r1\t1\t2\tX\r", false,
         S::CrOnlyLineEnds},
        {"token alone", "qvrule\r\n", false, S::NotARuleBook},
        {"UTF-8 mark", "\xEF\xBB\xBFqvrule\t1\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1\r\n", false,
         S::NotARuleBook},
        {"short header", "qvrule\t1\tid1\t0\tA\r\n", true, S::Ok},
    };
    for (const auto& c : cases) {
        CRuleBook b;
        b.SetFileName("test.dat");
        b.SetImpName(0, "kept");
        WriteBytes("test.dat", c.bytes);
        EXPECT_EQ(b.LoadFile(), c.loads) << c.what;
        EXPECT_EQ(b.GetLoadStatus(), c.status) << c.what;
        if (c.loads) {
            EXPECT_EQ(b.GetImpName(0), "A") << c.what;
            EXPECT_EQ(b.GetImpName(1), "") << c.what;
            EXPECT_EQ(b.GetImpWeight(0), 0) << c.what;
        } else {
            EXPECT_EQ(b.GetImpName(0), "kept") << c.what;
        }
        EXPECT_EQ(b.RuleCount(), 0) << c.what;
    }
    CRuleBook missing;
    missing.SetFileName("none.dat");
    EXPECT_FALSE(missing.LoadFile());
    EXPECT_FALSE(qv::test::Exists("none.dat"));
}

TEST_F(RuleBookFile, KnowsItsUnsavedChangesAndChangesMadeOnDisk) {
    using D = CRuleBook::DiskChange;
    EXPECT_EQ(book.ChangeOnDisk(), D::None) << "never loaded or saved: nothing to compare";
    WriteBytes("test.dat", "qvrule\t1\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1\r\n");
    CRuleBook b;
    b.SetFileName("test.dat");
    ASSERT_TRUE(b.LoadFile());
    EXPECT_FALSE(b.IsModified());
    EXPECT_EQ(b.ChangeOnDisk(), D::None);

    // Each change marks the book; storing what is already there does not.
    struct Step {
        const char* what;
        std::function<void()> act;
        bool modifies;
    } steps[] = {
        {"same name", [&] { b.SetImpName(0, "A"); }, false},
        {"same weight", [&] { b.SetImpWeight(1, 1); }, false},
        {"no such article", [&] { b.RemoveRule(5); }, false},
        {"refused number", [&] { b.AddRule(MakeRule(0)); }, false},
        {"new article", [&] { b.AddRule(MakeRule(5)); }, true},
        {"the same article again", [&] { b.AddRule(*b.FindRule(5)); }, false},
        {"changed article", [&] { b.AddRule(MakeRule(5, "W")); }, true},
        {"removed article", [&] { b.RemoveRule(5); }, true},
        {"implement name", [&] { b.SetImpName(2, "c"); }, true},
        {"implement weight", [&] { b.SetImpWeight(3, 7); }, true},
    };
    for (const Step& s : steps) {
        s.act();
        EXPECT_EQ(b.IsModified(), s.modifies) << s.what;
        if (s.modifies) {
            ASSERT_TRUE(b.SaveFile()) << s.what;
            EXPECT_FALSE(b.IsModified()) << s.what << ": saved";
        }
    }

    EXPECT_EQ(b.ChangeOnDisk(), D::None) << "its own save is no change";
    const std::string saved = ReadBytes("test.dat");
    WriteBytes("test.dat", saved + "7\t0\t0\tX\tY\tZ\t1\t1\t1\t1\t1\t1\t1\t1\r\n");
    EXPECT_EQ(b.ChangeOnDisk(), D::Changed);
    WriteBytes("test.dat", "");
    EXPECT_EQ(b.ChangeOnDisk(), D::Changed) << "emptied";
    std::filesystem::remove("test.dat");
    EXPECT_EQ(b.ChangeOnDisk(), D::Removed);
    WriteBytes("test.dat", saved);
    ASSERT_EQ(::chmod("test.dat", 0), 0);
    EXPECT_EQ(b.ChangeOnDisk(), D::Unreadable);
    ASSERT_EQ(::chmod("test.dat", 0644), 0);
    WriteBytes("test.dat", saved);
    EXPECT_EQ(b.ChangeOnDisk(), D::None) << "the same bytes again";
}

TEST_F(RuleBookFile, LargeBooksAndLongLinesSurvive) {
    for (int n = 1; n <= 300; ++n) book.AddRule(MakeRule(n, std::string(n == 150 ? 2000 : 10, 'n')));
    ASSERT_TRUE(book.SaveFile());
    EXPECT_GT(ReadBytes("test.dat").size(), 0u);
    book.AddRule(MakeRule(301, std::string(70000, 'w')));
    ASSERT_TRUE(book.SaveFile());
    ASSERT_GT(ReadBytes("test.dat").size(), 65536u);

    CRuleBook loaded;
    loaded.SetFileName("test.dat");
    ASSERT_TRUE(loaded.LoadFile());
    EXPECT_EQ(loaded.RuleCount(), 301);
    EXPECT_EQ(loaded.FindRule(150)->GetName().size(), 2000u);
    EXPECT_EQ(loaded.FindRule(301)->GetName().size(), 70000u);
}

TEST_F(RuleBookFile, ReadOnlyFileIsRefusedAndLeftAsItWas) {
    WriteBytes("test.dat", "old");
    ASSERT_EQ(::chmod("test.dat", 0444), 0);
    book.AddRule(MakeRule(1));
    EXPECT_FALSE(book.SaveFile());
    EXPECT_EQ(ReadBytes("test.dat"), "old");
    EXPECT_EQ(qv::test::ListDir(), "test.dat\n") << "no temporary file is left";
}

TEST_F(RuleBookFile, SaveKeepsThePermissionsOfTheFile) {
    WriteBytes("test.dat", "old");
    ASSERT_EQ(::chmod("test.dat", 0640), 0);
    ASSERT_TRUE(book.SaveFile());
    struct stat st {};
    ASSERT_EQ(::stat("test.dat", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
