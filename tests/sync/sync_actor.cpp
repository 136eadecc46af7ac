// Acts in a data folder as the program's windows would, at times the caller gives: the
// sync test drives one of these on each of two computers while their link is paused.
// Each action is the real core operation the window calls (decide, 執行 / 未執行, 削除,
// the point report, the rule list's save), inside the folder's lock and after the
// start-up repair, as in the program.
//
// usage: sync_actor FOLDER ACTION...
//   decide TIME ARTICLE LEVEL   compose and decide a verdict at TIME
//   execute TIME ID             mark the sentence ID executed (unexecute: not executed)
//   delete TIME ID              delete the sentence ID with its debit
//   report TIME U1 U2 U3 U4     report units per implement, R from the book's weights
//   edit TIME ARTICLE REMARK    change an article's remark (updated = TIME), save the book
//   check                       the ledger against the balance
// Prints one line per action, TAB-separated, for the caller to replay the balance:
//   decide ID TIME POINTS | execute ID TIME | delete ID TIME TAKEN | report - TIME R TAKEN |
//   edit ARTICLE TIME | check LEDGER FILE AGREES
// Exit 0 when every action went through, 1 when one failed (the rest are not run),
// 2 on bad use.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "execution/PointReport.h"
#include "execution/Undo.h"
#include "records/BookSave.h"
#include "records/DataFolder.h"
#include "records/Ledger.h"
#include "records/PointBalance.h"
#include "records/Repair.h"
#include "rulebook/Info.h"
#include "rulebook/Rule.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "trial/Verdict.h"

namespace {

int Usage() {
    std::fputs("usage: sync_actor FOLDER ACTION...\n", stderr);
    return 2;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "sync_actor: %s\n", what.c_str());
    std::exit(1);
}

std::int64_t Number(const char* text) {
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0') Fail(std::string("not a number: ") + text);
    return v;
}

void Say(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + f;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    if (::chdir(argv[1]) != 0) Fail(std::string("no folder ") + argv[1]);
    qv::io::FolderLock lock;
    if (!lock.Acquire(".")) Fail("the folder is in use");

    CRuleBook book;
    book.SetFileName("test.dat");
    if (!book.LoadFile()) Fail("test.dat does not load");
    CInfo info;
    info.SetRuleBook(&book);
    AttachFolder(info, DataFolder());

    std::vector<std::string> args(argv + 2, argv + argc);
    size_t at = 0;
    const auto need = [&](size_t n) {
        if (at + n > args.size()) Fail("missing arguments for " + args[at - 1]);
    };
    bool repaired = false;
    while (at < args.size()) {
        const std::string verb = args[at++];
        if (verb == "check") {
            const auto check = Ledger(FolderOf(info).LedgerPath())
                                   .CheckAgainst(PointBalance(info.GetBalancePath()), 0);
            Say({verb, std::to_string(check.ledgerBalance), std::to_string(check.fileBalance),
                 check.result == Ledger::Check::Result::Agrees && check.unreadLines == 0 ? "agrees"
                                                                                         : "differs"});
            continue;
        }
        if (verb != "decide" && verb != "execute" && verb != "unexecute" && verb != "delete" &&
            verb != "report" && verb != "edit")
            Fail("unknown action " + verb);
        need(1);
        const qv::Seconds time = Number(args[at++].c_str());
        const qv::Clock clock = [time] { return time; };
        if (!repaired) {
            // As the program's start does, before any window acts.
            RepairAtStart(FolderOf(info), clock);
            repaired = true;
        }
        if (verb == "decide") {
            need(2);
            const int article = static_cast<int>(Number(args[at].c_str()));
            const int level = static_cast<int>(Number(args[at + 1].c_str()));
            at += 2;
            const Composition c = ComposeVerdict(article, level, info, time);
            if (c.status != Composition::Status::Ok) Fail("no verdict for article " + args[at - 2]);
            const Decision d = DecideVerdict(*c.verdict, info, time);
            if (d.status != Decision::Status::Ok) Fail("decide at " + std::to_string(time));
            Say({verb, d.id, std::to_string(time), std::to_string(c.verdict->points)});
        } else if (verb == "execute" || verb == "unexecute") {
            need(1);
            const std::string id = args[at++];
            const auto o = qv::execution::ReportSession(info, clock).Mark(id, verb == "execute");
            if (!o.Ok()) Fail(verb + " " + id);
            Say({verb, id, std::to_string(time)});
        } else if (verb == "delete") {
            need(1);
            const std::string id = args[at++];
            const auto o = qv::execution::ReportSession(info, clock).Delete(id);
            if (!o.Ok() || !o.deletion) Fail("delete " + id);
            Say({verb, id, std::to_string(time), std::to_string(o.deletion->taken)});
        } else if (verb == "report") {
            need(4);
            std::array<std::int64_t, 4> units{};
            std::array<int, 4> weights{};
            for (size_t k = 0; k < 4; ++k) {
                units[k] = Number(args[at + k].c_str());
                weights[k] = book.GetImpWeight(static_cast<int>(k));
            }
            at += 4;
            const auto total = qv::execution::TotalPointReport(units, weights);
            std::vector<std::string> before;
            PointBalance(info.GetBalancePath()).Read(before);
            const auto o = qv::execution::ReportSession(info, clock).Report(total.units, total.points);
            if (!o.Ok()) Fail("report");
            std::vector<std::string> after;
            PointBalance(info.GetBalancePath()).Read(after);
            const auto figure = [](const std::vector<std::string>& f) {
                return f.size() > PointBalance::kBalanceField
                           ? std::atoll(f[PointBalance::kBalanceField].c_str())
                           : 0LL;
            };
            Say({verb, "-", std::to_string(time), std::to_string(total.points),
                 std::to_string(figure(before) - figure(after))});
        } else {  // edit
            need(2);
            const int number = static_cast<int>(Number(args[at].c_str()));
            const std::string remark = args[at + 1];
            at += 2;
            CRule* rule = book.FindRule(number);
            if (rule == nullptr) Fail("no article " + std::to_string(number));
            rule->SetRemark(remark);
            rule->SetUpdated(time);
            book.SetClock(clock);
            std::vector<Trash::Entry> none;
            if (!SaveRuleBook(FolderOf(info), book, none).saved) Fail("save of the rule book");
            Say({verb, std::to_string(number), std::to_string(time)});
        }
    }
    return 0;
}
