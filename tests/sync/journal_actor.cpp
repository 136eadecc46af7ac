// Acts in a data folder through its journals, as the program will once every action is a
// journal line: the sync test drives one of these on each computer of a real sync engine.
// This computer's name comes from QUORVEL_DEVICE.
//
// usage: journal_actor FOLDER ACTION...
//   base data|sample                 take the folder's files in as its base (once)
//   decide TIME ARTICLE POINTS       a sentence of POINTS (its total too) at TIME
//   delete|restore TIME ORIGIN N     the sentence made by line N of ORIGIN's journal
//   mark TIME ORIGIN N 0|1           not executed / executed
//   report TIME POINTS               a point report of POINTS
//   start                            cut a torn line, bring the files up to the journals
//   sentences                        every sentence: ORIGIN N ID LIVE
// Prints one line per action, TAB-separated: decide ORIGIN N | report ORIGIN N |
// start WRITTEN… | sentence ORIGIN N ID 0|1. Exit 0 when every action went through, 1 when
// one failed (the rest are not run), 2 on bad use.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "records/DataFolder.h"
#include "records/DeviceTag.h"
#include "records/JournalFolder.h"

namespace {

using qv::records::JournalLine;
using Kind = JournalLine::Kind;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "journal_actor: %s\n", what.c_str());
    std::exit(1);
}

void Say(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + f;
    std::printf("%s\n", line.c_str());
}

class Actor {
public:
    explicit Actor(const std::string& dir) : folder_(DataFolder(dir), qv::records::ThisDevice()) {}

    // Appends one line at time; the reference it is named by.
    std::vector<std::string> Commit(qv::Seconds time, Kind kind, std::vector<std::string> fields) {
        if (!folder_.Commit({JournalLine{{}, 0, time, kind, std::move(fields)}})) Fail("the journal");
        if (!folder_.Load()) Fail("reading the journals");
        for (const auto& j : folder_.Listing().journals)
            if (j.device == qv::records::ThisDevice()) return {j.device, std::to_string(j.lines.back().seq)};
        Fail("the line just written is not there");
    }
    void Run(const std::vector<std::string>& a, size_t& i) {
        const auto arg = [&](size_t k) -> const std::string& {
            if (i + k >= a.size()) Fail("too few arguments for " + a[i]);
            return a[i + k];
        };
        const std::string& what = a[i];
        if (what == "base") {
            if (!folder_.EnsureBase(arg(1) == "sample")) Fail("taking the base");
            i += 2;
        } else if (what == "decide") {
            const std::string& points = arg(3);
            auto ref = Commit(std::stoll(arg(1)), Kind::Decide,
                              {arg(2), "sync", points, "", "0", "0", "0", "0", points, "sync test"});
            Say({"decide", ref[0], ref[1]});
            i += 4;
        } else if (what == "delete" || what == "restore") {
            Commit(std::stoll(arg(1)), what == "delete" ? Kind::Delete : Kind::Restore, {arg(2), arg(3)});
            i += 4;
        } else if (what == "mark") {
            Commit(std::stoll(arg(1)), Kind::Mark, {arg(2), arg(3), arg(4)});
            i += 5;
        } else if (what == "report") {
            auto ref = Commit(std::stoll(arg(1)), Kind::Report, {"1/0/0/0", arg(2)});
            Say({"report", ref[0], ref[1]});
            i += 3;
        } else if (what == "start") {
            std::vector<std::string> written{"start"};
            if (!folder_.Start(&written)) {
                // A base named in a journal whose file has not arrived yet: nothing is
                // written until it has; the next start after the sync brings the files up.
                if (folder_.Notes().missingBases.empty() && folder_.Notes().baseTaken)
                    Fail("bringing the files up to the journals");
                written.push_back("waiting");
            }
            Say(written);
            i += 1;
        } else if (what == "sentences") {
            if (!folder_.Load()) Fail("reading the journals");
            for (const auto& s : folder_.Sentences())
                Say({"sentence", s.ref.origin, s.ref.n, s.id, s.live ? "1" : "0"});
            i += 1;
        } else {
            Fail("no such action: " + what);
        }
    }

private:
    qv::records::JournalFolder folder_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: journal_actor FOLDER ACTION...\n", stderr);
        return 2;
    }
    const std::vector<std::string> args(argv + 2, argv + argc);
    Actor actor(argv[1]);
    for (size_t i = 0; i < args.size();) actor.Run(args, i);
    return 0;
}
