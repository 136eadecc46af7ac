// Every action of a data folder in use, through the real windows (offscreen), on folders
// of 10,000, 100,000 and 1,000,000 records with their side files (verdict texts, ledger,
// trash, backups), each timed against its baseline taken right after it in the same
// repetition:
//   windows opened, the verdict, each chart and filter      vs `wc -l` of the log
//   決定, 執行, 未執行, the point report and each undo       vs one 100-byte append + fsync
//   削除 and its undo                                        vs `dd conv=fsync` of the log
//   start-up to the menu shown                               vs a bare Qt window
//   start-up with a decision's intent left                   vs a clean start-up
// and the peak memory while each window is open as a multiple of the log's size, the
// bytes each action writes (/proc/self/io), and backup/ after a run of 執行 as a multiple
// of the data files. Actions that change the folder work on a copy that is put back
// (outside the timing) after each repetition. Prints one table per size, a table of how
// the single actions scale from the smallest size to the largest, and a CSV.
//
// bench_folder [--reps N] [--startups N] [--marks N] [--root DIR] [--csv FILE] [--verify]
//              [--only trial,report,history] [--profile ACTION CTL[,ACK]] SIZE...
// --verify compares the copy with the folder byte for byte after every repetition (slow),
// to show that each one starts from the same files.
// --profile tells a perf started with `perf record -D -1 --control fifo:CTL,ACK` to sample
// during each timing of ACTION alone (its name as in the table), so the profile holds
// that action and nothing else.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "bench/BenchFolder.h"
#include "execution/DonePointForm.h"
#include "execution/LogListForm.h"
#include "history/HistoryForm.h"
#include "records/Change.h"
#include "records/DataFolder.h"
#include "records/Intent.h"
#include "records/PointBalance.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "text/Numbers.h"
#include "trial/JudgeForm.h"
#include "trial/StateForm.h"
#include "trial/Verdict.h"
#include "ui/MessageBox.h"


namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename F>
double TimeMs(F&& f) {
    const auto start = Clock::now();
    f();
    return MsSince(start);
}

// perf's control fifos, and the one action during which it samples.
struct Profiling {
    std::string action;
    std::string control;
    std::string ack;  // empty: perf is not waited for

    void Tell(const char* command) const {
        if (FILE* to = std::fopen(control.c_str(), "w")) {
            std::fputs(command, to);
            std::fclose(to);
        }
        if (ack.empty()) return;
        if (FILE* from = std::fopen(ack.c_str(), "r")) {
            char reply[16];
            (void)std::fgets(reply, sizeof reply, from);
            std::fclose(from);
        }
    }
    void Start(const std::string& name) const {
        if (!control.empty() && name == action) Tell("enable\n");
    }
    void Stop(const std::string& name) const {
        if (!control.empty() && name == action) Tell("disable\n");
    }
};
Profiling profiling;

// ------------------------------------------------------------------ the process

using qv::bench::RunQuiet;

// What this process has written: bytes handed to write calls, and bytes it made dirty
// for the disk (a hard link writes neither).
struct Written {
    long long wchar = 0;
    long long writeBytes = 0;
    static Written Now() {
        Written w;
        if (FILE* file = std::fopen("/proc/self/io", "r")) {
            char line[128];
            while (std::fgets(line, sizeof line, file) != nullptr) {
                if (std::strncmp(line, "wchar:", 6) == 0) w.wchar = std::atoll(line + 6);
                if (std::strncmp(line, "write_bytes:", 12) == 0) w.writeBytes = std::atoll(line + 12);
            }
            std::fclose(file);
        }
        return w;
    }
    // The larger of the two since `before`.
    long long Since(const Written& before) const {
        return std::max(wchar - before.wchar, writeBytes - before.writeBytes);
    }
};

// ------------------------------------------------------------------ results

struct Result {
    std::string action;
    std::string baseline;
    std::string unit = "ms";
    double goal = 0;            // the ratio to reach, at most
    bool smallWrites = false;   // also under 1 MB written, and the same at every size
    std::vector<double> value, base, ratio;
    std::vector<double> written;
};

double Median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

constexpr double kMB = 1e6;

// Pads to a width in terminal columns (a CJK character takes two).
std::string Pad(const std::string& s, int width) {
    int cols = 0;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        cols += len >= 3 && c >= 0xE3 ? 2 : 1;  // kana and kanji; arrows take one
        i += static_cast<size_t>(len);
    }
    return s + std::string(static_cast<size_t>(std::max(0, width - cols)), ' ');
}

class Table {
public:
    Result& Row(const std::string& action, const std::string& baseline, double goal,
                bool smallWrites = false, const std::string& unit = "ms") {
        for (auto& r : rows_)
            if (r.action == action) return r;
        rows_.push_back({action, baseline, unit, goal, smallWrites, {}, {}, {}, {}});
        return rows_.back();
    }
    void Add(const std::string& action, const std::string& baseline, double goal, double value,
             double base, double written = -1, bool smallWrites = false) {
        Result& r = Row(action, baseline, goal, smallWrites);
        r.value.push_back(value);
        r.base.push_back(base);
        r.ratio.push_back(base > 0 ? value / base : 0);
        if (written >= 0) r.written.push_back(written);
    }
    // A figure that is itself a multiple (memory, backups): value and base in MB.
    void AddMultiple(const std::string& action, const std::string& of, double goal,
                     double bytes, double baseBytes) {
        Result& r = Row(action, of, goal, false, "MB");
        r.value.push_back(bytes / kMB);
        r.base.push_back(baseBytes / kMB);
        r.ratio.push_back(baseBytes > 0 ? bytes / baseBytes : 0);
    }
    static bool Pass(const Result& r) {
        const double ratio = Median(r.ratio);
        if (ratio < 0 || ratio > r.goal) return false;
        return !r.smallWrites || r.written.empty() || Median(r.written) < kMB;
    }
    const std::vector<Result>& Rows() const { return rows_; }

    void Print(std::FILE* out, const std::string& title) const {
        std::fprintf(out, "\n%s\n", title.c_str());
        std::fprintf(out, "| %-34s | %10s | %-22s | %10s | %8s | %6s | %10s | %-4s |\n", "action",
                     "median", "baseline", "base", "ratio", "goal", "written", "");
        std::fprintf(out, "|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(),
                     std::string(12, '-').c_str(), std::string(24, '-').c_str(),
                     std::string(12, '-').c_str(), std::string(10, '-').c_str(),
                     std::string(8, '-').c_str(), std::string(12, '-').c_str(),
                     std::string(6, '-').c_str());
        for (const Result& r : rows_) {
            char written[32] = "";
            if (!r.written.empty()) {
                const double w = Median(r.written);
                if (w < 1e4)
                    std::snprintf(written, sizeof written, "%.0f B", w);
                else if (w < 1e7)
                    std::snprintf(written, sizeof written, "%.0f kB", w / 1e3);
                else
                    std::snprintf(written, sizeof written, "%.0f MB", w / 1e6);
            }
            std::fprintf(out, "| %s | %7.1f %-2s | %s | %7.1f %-2s | %7.2fx | %5.1fx | %10s | %-4s |\n",
                         Pad(r.action, 34).c_str(), Median(r.value), r.unit.c_str(),
                         Pad(r.baseline, 22).c_str(), Median(r.base), r.unit.c_str(),
                         Median(r.ratio), r.goal, written, Pass(r) ? "pass" : "FAIL");
        }
        std::fflush(out);
    }

    void Csv(std::FILE* out, std::int64_t records) const {
        for (const Result& r : rows_)
            std::fprintf(out, "%lld,\"%s\",\"%s\",%s,%.3f,%.3f,%.3f,%.2f,%.0f,%zu,%s\n",
                         static_cast<long long>(records), r.action.c_str(), r.baseline.c_str(),
                         r.unit.c_str(), Median(r.value), Median(r.base), Median(r.ratio), r.goal,
                         r.written.empty() ? -1.0 : Median(r.written), r.value.size(),
                         Pass(r) ? "pass" : "fail");
        std::fflush(out);
    }

private:
    std::vector<Result> rows_;
};

// ------------------------------------------------------------------ one size

const char kWc[] = "wc -l (log)";
const char kAppend[] = "100 B append + fsync";
const char kDd[] = "dd conv=fsync (log)";

struct Bench {
    qv::bench::UsedFolder made;
    std::unique_ptr<qv::bench::WorkCopy> work;
    std::string scratch;  // beside the folder, for the baselines' files
    CRuleBook book;
    CInfo info;
    Table table;
    std::string probe;
    std::optional<CVerdict> verdict;  // for the intent left at start-up

    std::string Log() const { return work->Path("test.log"); }
    double LogBytes() const { return static_cast<double>(made.logBytes); }

    // ---- baselines
    double WcLines() { return TimeMs([&] { RunQuiet({"wc", "-l", Log()}); }); }
    double AppendSync() {
        static const std::string line(98, 'x');
        const std::string path = scratch + "/append.bin";
        const double ms = TimeMs([&] {
            const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            const ssize_t n = ::write(fd, (line + "\r\n").data(), 100);
            (void)n;
            ::fsync(fd);
            ::close(fd);
        });
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && st.st_size > (1 << 20)) ::truncate(path.c_str(), 0);
        return ms;
    }
    double DdCopy() {
        const std::string out = scratch + "/dd.out";
        const double ms = TimeMs(
            [&] { RunQuiet({"dd", "if=" + Log(), "of=" + out, "bs=1M", "conv=fsync"}); });
        ::unlink(out.c_str());
        return ms;
    }
    double Baseline(const std::string& which) {
        if (which == kWc) return WcLines();
        if (which == kAppend) return AppendSync();
        return DdCopy();
    }

    // Times action, then its baseline, and records both with what the action wrote.
    void Timed(const std::string& name, const std::string& baseline, double goal,
               const std::function<void()>& action, bool smallWrites = false) {
        const Written before = Written::Now();
        profiling.Start(name);
        const double ms = TimeMs(action);
        profiling.Stop(name);
        const long long written = Written::Now().Since(before);
        table.Add(name, baseline, goal, ms, Baseline(baseline), static_cast<double>(written),
                  smallWrites);
    }

    void Warnings(const char* where) {
        for (const qv::ui::ShownMessage& m : qv::ui::MessageBox::TakeShown())
            if (!m.confirmation)  // the questions the actions ask are answered on purpose
                std::fprintf(stderr, "bench_folder: a box in %s: %s\n", where,
                         m.text.left(200).toLocal8Bit().constData());
    }

    // ---- the trial: window, verdict, decision
    void TrialRound() {
        const long long before = qv::bench::ResetPeak();
        auto* judge = new TJudge;
        Timed("trial window open", kWc, 5, [&] {
            judge->Init(&info);
            judge->show();
            QApplication::processEvents();
        });
        double submitMs = -1, decideMs = -1;
        long long decideWritten = 0;
        Clock::time_point submitted;
        QTimer::singleShot(0, judge, [&] {
            TState* state = judge->findChild<TState*>();
            if (state == nullptr) return;
            QApplication::processEvents();
            submitMs = MsSince(submitted);
            profiling.Stop("提出 → verdict");
            auto* ok = state->findChild<QPushButton*>("btOK");
            const Written w = Written::Now();
            profiling.Start("決定");
            decideMs = TimeMs([&] { ok->click(); });
            profiling.Stop("決定");
            decideWritten = Written::Now().Since(w);
            if (state->isVisible()) {  // not decided: told in a box, the window stays
                decideMs = -1;
                state->reject();
            }
        });
        profiling.Start("提出 → verdict");
        submitted = Clock::now();
        judge->findChild<QPushButton*>("btSubmit")->click();
        profiling.Stop("提出 → verdict");  // when no verdict came to stop it
        if (submitMs >= 0) table.Add("提出 → verdict", kWc, 5, submitMs, WcLines());
        if (decideMs >= 0)
            table.Add("決定", kAppend, 10, decideMs, AppendSync(),
                      static_cast<double>(decideWritten), true);
        table.AddMultiple("peak memory: trial + verdict", "log size", 1.5,
                          static_cast<double>(qv::bench::StatusBytes("VmHWM:") - before), LogBytes());
        delete judge;
        QApplication::processEvents();
        Warnings("the trial");
        work->PutBack();
    }

    // ---- the execution report and its actions
    void ReportRound() {
        const long long before = qv::bench::ResetPeak();
        auto* report = new TLogList;
        Timed("執行報告 → window", kWc, 5, [&] {
            report->Init(&info);
            report->show();
            QApplication::processEvents();
        });
        auto* list = report->findChild<QTableView*>("sgList");
        const auto click = [&](const char* button, bool confirm) {
            return [=] {
                if (confirm) qv::ui::MessageBox::QueueAnswer(true);
                report->findChild<QPushButton*>(button)->click();
                QApplication::processEvents();
            };
        };
        // The newest record is not executed, the one before it is.
        list->selectRow(0);
        Timed("執行", kAppend, 10, click("btDone", true), true);
        Timed("執行 undo", kAppend, 10, click("btUndo", false), true);
        list->selectRow(1);
        Timed("未執行", kAppend, 10, click("btDone", true), true);
        Timed("未執行 undo", kAppend, 10, click("btUndo", false), true);

        // The point report: its window opens, ten units are typed and OK confirmed; timed
        // from OK to the report's list refilled.
        Clock::time_point ok;
        Written okWritten;
        bool reported = false;
        QTimer::singleShot(0, report, [&] {
            TDonePoint* form = report->findChild<TDonePoint*>();
            if (form == nullptr) return;
            form->findChild<QLineEdit*>("tfImp1")->setText(QStringLiteral("10"));
            qv::ui::MessageBox::QueueAnswer(true);
            okWritten = Written::Now();
            profiling.Start("point report");
            ok = Clock::now();
            reported = true;
            form->findChild<QPushButton*>("btOK")->click();
            if (form->isVisible()) {  // not reported: told in a box, the window stays
                reported = false;
                form->reject();
            }
        });
        report->findChild<QPushButton*>("btnPoint")->click();
        QApplication::processEvents();
        profiling.Stop("point report");
        if (reported) {
            const double ms = MsSince(ok);
            const double written = static_cast<double>(Written::Now().Since(okWritten));
            table.Add("point report", kAppend, 10, ms, AppendSync(), written, true);
            Timed("point report undo", kAppend, 10, click("btUndo", false), true);
        }

        list->selectRow(0);
        Timed("削除", kDd, 2, click("btDelete", true));
        Timed("削除 undo", kDd, 2, click("btUndo", false));
        table.AddMultiple("peak memory: 執行報告 + actions", "log size", 1.5,
                          static_cast<double>(qv::bench::StatusBytes("VmHWM:") - before), LogBytes());
        delete report;
        QApplication::processEvents();
        Warnings("the execution report");
        work->PutBack();
    }

    // ---- history and statistics: open, each chart, each filter
    void HistoryRound() {
        const long long before = qv::bench::ResetPeak();
        auto* history = new THistory;
        Timed("履歴・統計 open", kWc, 10, [&] {
            history->Init(&info);
            history->show();
            QApplication::processEvents();
        });
        const auto set = [&](auto* control, int index) {
            return [=] {
                control->setCurrentIndex(index);
                QApplication::processEvents();
            };
        };
        auto* chart = history->findChild<QComboBox*>("cbChart");
        const char* charts[] = {"chart: per period", "chart: per article", "chart: units",
                                "chart: balance"};
        for (int c : {1, 2, 3, 0}) Timed(charts[c], kWc, 2, set(chart, c));

        auto* executed = history->findChild<QComboBox*>("cbExecuted");
        Timed("filter 執行済み", kWc, 2, set(executed, 1));
        Timed("filter 未執行", kWc, 2, set(executed, 2));
        Timed("filter 執行 すべて", kWc, 2, set(executed, 0));
        auto* search = history->findChild<QLineEdit*>("tfSearch");
        const auto type = [=](const QString& text) {
            return [=] {
                search->setText(text);
                QApplication::processEvents();
            };
        };
        Timed("filter 条文名 typed", kWc, 2, type(QStringLiteral("遅刻")));
        Timed("filter 条文名 cleared", kWc, 2, type(QString()));
        auto* articles = history->findChild<QListWidget*>("lsArticles");
        if (articles != nullptr && articles->count() > 0) {
            const auto check = [=](Qt::CheckState state) {
                return [=] {
                    articles->item(0)->setCheckState(state);
                    QApplication::processEvents();
                };
            };
            Timed("filter one article", kWc, 2, check(Qt::Checked));
            Timed("filter every article", kWc, 2, check(Qt::Unchecked));
        }
        auto* preset = history->findChild<QComboBox*>("cbPreset");
        const int shown = preset->currentIndex();
        Timed("filter 今年", kWc, 2, set(preset, 3));
        Timed("filter 過去30日", kWc, 2, set(preset, 2));
        Timed("filter すべて (period)", kWc, 2, set(preset, 4));
        preset->setCurrentIndex(shown);
        QApplication::processEvents();
        // The balance chart once more under a filter that changes its rows.
        chart->setCurrentIndex(3);
        QApplication::processEvents();
        Timed("filter 執行済み (balance shown)", kWc, 2, set(executed, 1));
        Timed("filter すべて (balance shown)", kWc, 2, set(executed, 0));
        table.AddMultiple("peak memory: 履歴・統計", "log size", 1.5,
                          static_cast<double>(qv::bench::StatusBytes("VmHWM:") - before), LogBytes());
        delete history;
        QApplication::processEvents();
        Warnings("the history");
    }

    // ---- start-up
    double Probe(const char* mode) {
        bool ok = false;
        const double ms = TimeMs([&] { ok = RunQuiet({probe, mode}, work->Dir()); });
        if (!ok) std::fprintf(stderr, "bench_folder: the start-up probe (%s) failed\n", mode);
        return ms;
    }

    // What a decision killed right after its record reached the log leaves: the intent
    // entry, the verdict text and the record, the credit not yet made.
    void LeaveIntent() {
        if (!verdict) return;
        const DataFolder folder(work->Dir());
        const qv::Seconds now = qv::SystemNow();
        Change change(folder);
        if (!change.Lock(folder.LogPath()) || !change.Lock(folder.BalancePath())) return;
        std::string record = verdict->ToRecord(now).ToLine();
        IntentEntry entry;
        entry.id = qv::Decimal(now);
        entry.points = std::max<std::int64_t>(verdict->points, 0);
        entry.logSize = static_cast<std::int64_t>(fs::file_size(folder.LogPath()));
        entry.record = record.substr(0, record.size() - 2);
        std::string credited;
        PointBalance(folder.BalancePath()).PlanCredit(entry.points, entry.balanceBefore, credited);
        if (!change.Begin(entry, {&folder.LogPath(), &folder.ReasonsPath(), &folder.LedgerPath()}))
            return;
        change.KeepReasons(entry.id, verdict->verdictText);
        change.Append(folder.LogPath(), record);
        change.Leave();
    }

    void StartupRounds(int runs) {
        Table& t = table;
        for (int i = 0; i < runs; ++i) {
            const double bare = Probe("bare");
            const double clean = Probe("menu");
            t.Add("clean start-up → menu", "bare Qt window", 1.1, clean, bare);
            LeaveIntent();
            const double left = Probe("menu");
            if (fs::exists(work->Path("intent.dat")))
                std::fprintf(stderr, "bench_folder: the intent was not settled at start-up\n");
            t.Add("start-up, intent left → menu", "clean start-up", 1.5, left, clean);
            work->PutBack();
        }
    }

    // ---- backup/ after a run of 執行 (marks back and forth on the newest record)
    void MarksRound(int marks) {
        const double dataBefore = static_cast<double>(made.dataBytes);
        auto* report = new TLogList;
        report->Init(&info);
        report->show();
        QApplication::processEvents();
        auto* list = report->findChild<QTableView*>("sgList");
        auto* done = report->findChild<QPushButton*>("btDone");
        for (int i = 0; i < marks; ++i) {
            list->selectRow(0);
            qv::ui::MessageBox::QueueAnswer(true);
            done->click();
            QApplication::processEvents();
        }
        delete report;
        QApplication::processEvents();
        Warnings("the run of 執行");
        table.AddMultiple("backup/ after " + std::to_string(marks) + " 執行", "data files", 3,
                          static_cast<double>(qv::bench::FolderBytes(work->Path("backup"))),
                          dataBefore);
        work->PutBack();
    }
};

// Opens each window once on a small folder, so what any window loads the first time
// (fonts, styles, chart theme) is not counted in the first size's first repetition.
void WarmUp(const std::string& root) {
    const auto made = qv::bench::MakeUsedFolder(1000, root);
    qv::bench::WorkCopy work(made.dir, root + "/work-warm");
    CRuleBook book;
    book.SetFileName(work.Path("test.dat"));
    book.LoadFile();
    CInfo info;
    info.SetRuleBook(&book);
    AttachFolder(info, DataFolder(work.Dir()));
    {
        TJudge judge;
        judge.Init(&info);
        judge.show();
        QApplication::processEvents();
    }
    {
        TLogList report;
        report.Init(&info);
        report.show();
        QApplication::processEvents();
    }
    {
        THistory history;
        history.Init(&info);
        history.show();
        QApplication::processEvents();
        auto* chart = history.findChild<QComboBox*>("cbChart");
        for (int c = 0; c < chart->count(); ++c) {
            chart->setCurrentIndex(c);
            QApplication::processEvents();
        }
    }
    qv::ui::MessageBox::TakeShown();
    std::error_code ec;
    fs::remove_all(work.Dir(), ec);
}

struct Options {
    int reps = 5;
    int startups = 7;
    int marks = 100;
    bool verify = false;
    std::string only;  // comma-separated rounds to run ("trial,report,history"); empty: all
    bool Runs(const char* round) const {
        return only.empty() || ("," + only + ",").find(std::string(",") + round + ",") !=
                                   std::string::npos;
    }
    std::string root = "/var/tmp/quorvel-bench";
    std::string csv;
    std::vector<std::int64_t> sizes;
};

// Actions whose time should not grow with the log: their median at the smallest and
// the largest size, side by side.
void PrintScaling(const std::map<std::int64_t, Table>& tables) {
    if (tables.size() < 2) return;
    const Table& small = tables.begin()->second;
    const Table& large = tables.rbegin()->second;
    std::printf("\nSame at %lld as at %lld records (goal: within 1.5x)\n",
                static_cast<long long>(tables.begin()->first),
                static_cast<long long>(tables.rbegin()->first));
    std::printf("| %s | %10s | %10s | %11s | %-4s |\n", Pad("action", 20).c_str(), "small ms",
                "large ms", "large/small", "");
    for (const Result& r : small.Rows()) {
        if (!r.smallWrites) continue;
        for (const Result& l : large.Rows()) {
            if (l.action != r.action) continue;
            const double ratio = Median(l.value) / Median(r.value);
            std::printf("| %s | %10.1f | %10.1f | %10.2fx | %-4s |\n", Pad(r.action, 20).c_str(),
                        Median(r.value), Median(l.value), ratio, ratio <= 1.5 ? "pass" : "FAIL");
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "bench_folder: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--reps") o.reps = std::max(1, std::atoi(next().c_str()));
        else if (a == "--startups") o.startups = std::max(0, std::atoi(next().c_str()));
        else if (a == "--marks") o.marks = std::max(0, std::atoi(next().c_str()));
        else if (a == "--root") o.root = next();
        else if (a == "--verify") o.verify = true;
        else if (a == "--csv") o.csv = next();
        else if (a == "--only") o.only = next();
        else if (a == "--profile") {
            profiling.action = next();
            const std::string fifos = next();
            const size_t comma = fifos.find(',');
            profiling.control = fifos.substr(0, comma);
            if (comma != std::string::npos) profiling.ack = fifos.substr(comma + 1);
        }
        else if (!a.empty() && std::isdigit(static_cast<unsigned char>(a[0])))
            o.sizes.push_back(std::atoll(a.c_str()));
        else {
            std::fprintf(stderr,
                         "usage: bench_folder [--reps N] [--startups N] [--marks N] [--root DIR] "
                         "[--csv FILE] [--verify] [--only trial,report,history] "
                         "[--profile ACTION CTL[,ACK]] SIZE...\n");
            return 2;
        }
    }
    if (o.sizes.empty()) o.sizes = {10000, 100000};

    QApplication app(argc, argv);
    qv::ui::MessageBox::SetTestMode(true);
    fs::create_directories(o.root + "/scratch");
    std::FILE* csv = nullptr;
    if (!o.csv.empty()) {
        const bool fresh = !fs::exists(o.csv) || fs::file_size(o.csv) == 0;
        csv = std::fopen(o.csv.c_str(), "a");
        if (fresh && csv)
            std::fprintf(csv, "records,action,baseline,unit,median,baseline_median,ratio,goal,"
                              "written_bytes,runs,result\n");
    }
    const std::string probe =
        (fs::canonical("/proc/self/exe").parent_path() / "startup_probe").string();

    WarmUp(o.root);
    std::map<std::int64_t, Table> tables;
    for (const std::int64_t records : o.sizes) {
        Bench b;
        const auto madeAt = Clock::now();
        b.made = qv::bench::MakeUsedFolder(records, o.root);
        const double makeMs = MsSince(madeAt);
        const auto copyAt = Clock::now();
        b.work = std::make_unique<qv::bench::WorkCopy>(b.made.dir,
                                                       o.root + "/work-" + std::to_string(records));
        const double copyMs = MsSince(copyAt);
        b.scratch = o.root + "/scratch";
        b.probe = probe;
        b.book.SetFileName(b.work->Path("test.dat"));
        b.book.LoadFile();
        b.info.SetRuleBook(&b.book);
        AttachFolder(b.info, DataFolder(b.work->Dir()));
        const int firstArticle = b.book.begin()->first;
        Composition c = ComposeVerdict(firstArticle, 5, b.info, qv::SystemNow());
        b.verdict = c.verdict;
        std::printf("\n%lld records: log %.1f MB, test.rsn %.1f MB (%.2fx), user.ldg %.1f MB "
                    "(%.2fx), test.trs %.1f kB, backup/ %.1f MB; folder ready in %.1f s, "
                    "copied in %.1f s\n",
                    static_cast<long long>(records), b.made.logBytes / kMB,
                    b.made.reasonsBytes / kMB, double(b.made.reasonsBytes) / b.made.logBytes,
                    b.made.ledgerBytes / kMB, double(b.made.ledgerBytes) / b.made.logBytes,
                    b.made.trashBytes / 1e3, b.made.backupBytes / kMB, makeMs / 1e3, copyMs / 1e3);
        std::fflush(stdout);

        for (int rep = 0; rep < o.reps; ++rep) {
            if (o.Runs("trial")) b.TrialRound();
            if (o.Runs("report")) b.ReportRound();
            if (o.Runs("history")) b.HistoryRound();
            if (o.verify)
                for (const std::string& file : b.work->Differences())
                    std::fprintf(stderr, "bench_folder: not put back: %s\n", file.c_str());
            std::fprintf(stderr, "bench_folder: %lld records, repetition %d of %d done\n",
                         static_cast<long long>(records), rep + 1, o.reps);
        }
        b.StartupRounds(o.startups);
        if (o.marks > 0) b.MarksRound(o.marks);
        if (o.verify)
            for (const std::string& file : b.work->Differences())
                std::fprintf(stderr, "bench_folder: not put back: %s\n", file.c_str());

        b.table.Print(stdout, std::to_string(records) + " records (median of " +
                                  std::to_string(o.reps) + " repetitions; start-up of " +
                                  std::to_string(o.startups) + ")");
        if (csv) b.table.Csv(csv, records);
        tables.emplace(records, b.table);
        std::error_code ec;
        fs::remove_all(b.work->Dir(), ec);
    }
    PrintScaling(tables);
    if (csv) std::fclose(csv);
    return 0;
}
