#include <string>
using namespace std::string_literals;
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"
#include "text/Cp932.h"
#include "text/KxString1.h"
#include "text/KxStringVector.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

using qv::test::InTempDir;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

std::string Str(const KxString1& t) { return std::string(t.View()); }

KxString1 Text(const std::string& bytes, KxLimits limits = KxLimits::Default()) {
    KxString1 t(limits);
    if (!bytes.empty()) t.Set(bytes.data(), static_cast<int>(bytes.size()));
    return t;
}

// Pieces of a split, or "null" when the split gave no list.
std::vector<std::string> Pieces(const KxString1& t, const std::string& sep) {
    std::unique_ptr<KxStringVector> list(t.Split(sep.c_str()));
    if (!list) return {"null"};
    std::vector<std::string> out;
    for (int i = 0; i < list->Count(); ++i)
        out.emplace_back(list->Get(i)->Data(), static_cast<size_t>(list->Get(i)->Length()));
    return out;
}

TEST(KxString1, NewTextIsEmpty) {
    KxString1 t;
    EXPECT_EQ(t.Length(), 0);
    EXPECT_STREQ(t.CStr(), "");
    EXPECT_EQ(t.MinAlloc(), 32);
    EXPECT_EQ(t.MaxSize(), 65536);
    EXPECT_EQ(t.Kind(), 8);
}

TEST(KxString1, RefusalsLeaveTheTextAsItWas) {
    KxString1 t("abc");
    EXPECT_FALSE(t.Set(""));
    EXPECT_FALSE(t.Set(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(t.Append(""));
    EXPECT_FALSE(t.Append("x", 0));
    EXPECT_FALSE(t.Append(KxString1()));
    EXPECT_FALSE(t.WriteAt(-1, "x", 1));
    EXPECT_FALSE(t.WriteAt(65535, "x", 1));
    EXPECT_FALSE(t.Equals(static_cast<const char*>(nullptr)));
    EXPECT_EQ(t.Find(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(t.Count(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(t.Split(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(t.ReplaceAll(nullptr, "x"), 0);
    EXPECT_FALSE(t.Load(nullptr));
    EXPECT_FALSE(t.Save(nullptr));
    EXPECT_EQ(Str(t), "abc");

    t = "";
    EXPECT_EQ(t.Length(), 0) << "assigning the empty string empties the text";
}

TEST(KxString1, SetOverwritesAndCuts) {
    KxString1 t("abcdef");
    EXPECT_TRUE(t.Set("xyz"));
    EXPECT_EQ(Str(t), "xyz");
    EXPECT_TRUE(t.WriteAt(1, "Q", 1));
    EXPECT_EQ(Str(t), "xQ");
    EXPECT_TRUE(t.Set(t.Data() + 1, 1)) << "a text may be set from its own bytes";
    EXPECT_EQ(Str(t), "Q");
}

TEST(KxString1, CeilingOf65536Bytes) {
    KxString1 t = Text(std::string(65535, 'a'));
    EXPECT_FALSE(t.Append("b"));
    EXPECT_EQ(t.Length(), 65535);

    KxString1 u = Text(std::string(65534, 'a'));
    EXPECT_TRUE(u.Append("bcdef"));
    EXPECT_EQ(u.Length(), 65536);
    EXPECT_EQ(u.View().substr(65534), "bc");

    KxString1 big = Text(std::string(70000, 'z'));
    EXPECT_EQ(big.Length(), 65536) << "a write past the ceiling is cut and succeeds";

    KxString1 lifted = Text(std::string(70000, 'z'), KxLimits::Lifted());
    EXPECT_EQ(lifted.Length(), 70000);
    EXPECT_TRUE(lifted.Append("!"));
}

TEST(KxString1, EqualsAndSearches) {
    KxString1 t("xyz");
    EXPECT_FALSE(t.Equals("xy"));
    EXPECT_TRUE(t.Equals("xyz"));
    EXPECT_FALSE(t.Equals(""));
    EXPECT_TRUE(KxString1().Equals(""));
    EXPECT_EQ(t.Find(""), -1);
    EXPECT_EQ(t.Find("z"), 2);
    EXPECT_EQ(t.FindFrom(3, "z", 1), -1);
    EXPECT_EQ(t.FindFrom(-1, "z", 1), -1);
    EXPECT_EQ(t.Find("xyzw"), -1);
    EXPECT_EQ(t.FindChar('y'), 1);
    EXPECT_EQ(Text("abab").FindLast("ab"), 2);
    EXPECT_EQ(t.CharAt(3), 0);
    EXPECT_EQ(Text("\xff").ByteAt(0), 255);
}

TEST(KxString1, CountTable) {
    struct Case {
        std::string text, pattern;
        int count;
    } cases[] = {
        {"x\ty\t\tz", "\t", 3}, {"xxxx", "xx", 2}, {"xxx", "xx", 1},
        {"abc", "d", 0},        {"", "a", 0},      {"abc", "", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(c.text).Count(c.pattern.c_str()), c.count) << c.text << " / " << c.pattern;
}

TEST(KxString1, SplitTable) {
    struct Case {
        std::string text, sep;
        std::vector<std::string> pieces;
    } cases[] = {
        {"x\ty\tz", "\t", {"x", "y", "z"}},
        {"x\n\ny\n", "\n", {"x", "", "y", ""}},
        {"xyz", "\n", {}},
        {"", "\n", {"null"}},
        {"a", "ab", {"null"}},
        {"\t", "\t", {"", ""}},
        {"a::b", "::", {"a", "b"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Pieces(Text(c.text), c.sep), c.pieces) << c.text;
}

TEST(KxString1, SplitKeepsAtMostMaxPieces) {
    KxString1 t = Text(std::string(300, '\n'));
    EXPECT_EQ(Pieces(t, "\n").size(), 256u);
    KxString1 lifted = Text(std::string(300, '\n'), KxLimits::Lifted());
    std::unique_ptr<KxStringVector> list(lifted.Split("\n"));
    EXPECT_EQ(list->Count(), 301);
    EXPECT_EQ(list->Limits(), KxLimits::Lifted()) << "the list inherits the text's limits";
    EXPECT_EQ(static_cast<KxString1*>(list->Get(0))->Limits(), KxLimits::Lifted());
}

TEST(KxString1, ReplaceAllTable) {
    struct Case {
        std::string text, pattern, replacement, result;
        int replaced;
    } cases[] = {
        {"x\r\ny\r\n", "\r\n", "\n", "x\ny\n", 2},
        {"x\ny", "\n", "", "xy", 1},
        {"abc", "abc", "", "", 1},
        {"aaa", "a", "aa", "aaaaaa", 3},
        {"abc", "d", "e", "abc", 0},
        {"a\r\r\nb", "\r\n", "\n", "a\r\nb", 1},
    };
    for (const auto& c : cases) {
        KxString1 t = Text(c.text);
        EXPECT_EQ(t.ReplaceAll(c.pattern.c_str(), c.replacement.c_str()), c.replaced) << c.text;
        EXPECT_EQ(Str(t), c.result) << c.text;
    }
}

TEST(KxStringVector, AddRemoveAndCeiling) {
    KxStringVector list;
    for (int i = 0; i < 256; ++i) ASSERT_TRUE(list.Add("p"));
    EXPECT_FALSE(list.Add("q"));
    EXPECT_EQ(list.Count(), 256);
    EXPECT_EQ(list.Get(256), nullptr);
    EXPECT_EQ(list.Get(-1), nullptr);
    EXPECT_TRUE(list.Remove(0));
    EXPECT_FALSE(list.Remove(255));
    KxStringVector copy;
    EXPECT_TRUE(copy.Assign(&list));
    EXPECT_EQ(copy.Count(), 255);
    EXPECT_TRUE(copy.Clear());
    EXPECT_EQ(copy.Count(), 0);
}

class KxStringFiles : public InTempDir {};

TEST_F(KxStringFiles, LoadAndSave) {
    KxString1 t("keep");
    EXPECT_FALSE(t.Load("missing.txt"));
    WriteBytes("empty.txt", "");
    EXPECT_FALSE(t.Load("empty.txt"));
    EXPECT_EQ(Str(t), "keep");

    WriteBytes("big.txt", std::string(70000, 'b'));
    EXPECT_TRUE(t.Load("big.txt"));
    EXPECT_EQ(t.Length(), 65536);
    KxString1 whole(KxLimits::Lifted());
    EXPECT_TRUE(whole.Load("big.txt"));
    EXPECT_EQ(whole.Length(), 70000);

    std::string bytes = "a\0b\r\n\x82\xa0"s;
    KxString1 round = Text(bytes);
    EXPECT_TRUE(round.Save("round.txt"));
    EXPECT_EQ(ReadBytes("round.txt"), bytes);
    EXPECT_TRUE(KxString1().Save("none.txt"));
    EXPECT_EQ(ReadBytes("none.txt"), "");
}

TEST(LineWalk, ReadsLinesAsReplaceThenSplit) {
    std::vector<std::string> texts, raws;
    std::vector<bool> ends;
    qv::ForEachLine("a\r\nb\nc\r\r\n\ntail\r", [&](const qv::Line& l) {
        texts.emplace_back(l.text);
        raws.emplace_back(l.raw);
        ends.push_back(l.terminated);
    });
    EXPECT_EQ(texts, (std::vector<std::string>{"a", "b", "c\r", "", "tail\r"}));
    EXPECT_EQ(raws, (std::vector<std::string>{"a\r\n", "b\n", "c\r\r\n", "\n", "tail\r"}));
    EXPECT_EQ(ends, (std::vector<bool>{true, true, true, true, false}));

    std::vector<std::string_view> fields;
    qv::SplitFields("x\t\ty", fields);
    EXPECT_EQ(fields.size(), 3u);
    qv::SplitFields("no tabs", fields);
    EXPECT_TRUE(fields.empty());
}

TEST(Numbers, ReadLikeAtol) {
    struct Case {
        const char* text;
        std::int64_t value;
    } cases[] = {
        {"12", 12},     {"0012", 12},   {"  -7x", -7},         {"+5", 5},        {"", 0},
        {"abc", 0},     {"\t3", 3},     {"1.5", 1},            {"- 3", 0},
        {"99999999999999999999", INT64_MAX}, {"-99999999999999999999", INT64_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(qv::ReadInt64(c.text), c.value) << c.text;
    EXPECT_EQ(qv::ReadInt32("4294967296"), INT32_MAX);
    EXPECT_EQ(qv::Decimal(-42), "-42");
    EXPECT_EQ(qv::Decimal(4102444800), "4102444800");
}

TEST(Cp932, RoundTripsAndRefuses) {
    std::string utf8 = "裁判所～①髙\\~";
    auto sjis = qv::Utf8ToCp932(utf8);
    ASSERT_TRUE(sjis.has_value());
    EXPECT_EQ(*sjis, "\x8d\xd9\x94\xbb\x8f\x8a\x81\x60\x87\x40\xfb\xfc\\~");
    EXPECT_EQ(qv::Cp932ToUtf8(*sjis), utf8);
    EXPECT_FALSE(qv::Utf8ToCp932("emoji 😀").has_value());
    EXPECT_FALSE(qv::Utf8ToCp932("\xff").has_value());
    EXPECT_EQ(qv::Cp932ToUtf8("a\x81 z\x82"), "a\xEF\xBF\xBD z\xEF\xBF\xBD")
        << "invalid bytes show as U+FFFD";
}

}  // namespace
